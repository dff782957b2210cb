#pragma once
// A connected plug-in object on the demo cloud, with the job's VM record read
// and its cleanup entry registered, as the mount leaves them before staging.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/ConnectedFixture.h"

namespace staging {

const char kWeb[] = "i-0a1b2c3d4e5f60001";       // web-server-01: root a001, data a002
const char kDb[] = "i-0a1b2c3d4e5f60002";        // db-server-01: root b001, data b002, b003
const char kDbRoot[] = "vol-0a1b2c3d4e5f6b001";
const char kDbLogs[] = "vol-0a1b2c3d4e5f6b003";
const char kWorker[] = "i-0fedcba9876540002";    // outpost-worker, admin account, us-east-1b
const char kWorkerRoot[] = "vol-0fedcba987654b001";
const char kProxy[] = "i-0fedcba9876540001";     // the proxy, us-east-1a

// A pattern filter rule names the volume it leaves out.
class FilteringInfo : public CAmazonInfo {
public:
    FilteringInfo() : CAmazonInfo(kAmazonInstanceType) {}
    bool IsDiskFilteredByPattern(const SDisk& disk, const std::string& pattern) override {
        return disk.volumeId == pattern;
    }
};

struct StagingFixture : DemoCloudFixture {
    FilteringInfo object;

    void SetUp() override { OnAnEC2Proxy(); }

    // Instances of the source account, read by a proxy in the admin account.
    bool ConnectAcrossAccounts() { return ConnectDemo(object, Accounts::SourceAndAdmin) != 0; }
    // The proxy's own account holds the instance.
    bool ConnectAdminAccount() { return ConnectDemo(object, Accounts::Admin) != 0; }

    MountCtx Job(const std::string& instance, const std::string& mode) {
        MountCtx ctx;
        ctx.requestedVMGuid = instance;
        ctx.transportMode = mode;
        ctx.subclientId = 42;
        ctx.mountPath = env.BaseDir() + "/mount/" + instance;
        EXPECT_TRUE(object.GetVMInfoForVM("", instance, "", 0x2000207b, 0, ctx.vm));
        EXPECT_TRUE(object.RegisterCleanerForBackup(ctx));
        object.overrideSDKRegion(ctx.vm.region);
        return ctx;
    }

    std::vector<std::string> Registered(const std::string& instance, bool templates) {
        std::string path;
        std::vector<std::string> ids;
        if (!object.Cleaner().GetRegisteredVM(VM_CLEANER_BACKUP, instance, path, false)) return ids;
        if (templates) {
            object.Cleaner().GetRegisteredTemplates(path, ids);
        } else {
            std::vector<VMInfoStructs::SDisk> disks;
            object.Cleaner().GetRegisteredDisks(path, disks);
            for (const auto& d : disks) ids.push_back(d.newVolumeId);
        }
        return ids;
    }

    size_t ImageCount() {
        return Peek([](const cloudsim::State& s) { return s.images.size(); });
    }
};

}  // namespace staging
