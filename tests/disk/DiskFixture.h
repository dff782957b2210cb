#pragma once
// A backup job's disk access against the simulated cloud of the demo seed:
// the plug-in object connected to the source and the admin account, the
// proxy (an admin-account instance) as the attach target, the web server as
// the backed-up VM, and its device folder under the test's base folder.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "bridge/AmazonSDKBridge.h"
#include "disk/AmazonDiskInfo.h"
#include "disk/ReadPath.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "support/ConnectedFixture.h"
#include "support/LogTap.h"

constexpr char kProxy[] = "i-0fedcba9876540001";
constexpr char kWebServer[] = "i-0a1b2c3d4e5f60001";
constexpr char kRootVolume[] = "vol-0a1b2c3d4e5f6a001";
constexpr char kDataVolume[] = "vol-0a1b2c3d4e5f6a002";
constexpr char kPublicSnapshot[] = "snap-0c55b159cbfafe1f0";  // visible to the admin account

struct DiskCloudTest : DemoCloudFixture {
    // Set up first, stopped last: the object's open connections go before it.
    std::unique_ptr<ReadPathServer> readPath;
    CAmazonInfo owner{kAmazonInstanceType};
    VMInfoStructs::SVMInfo vm;
    std::string devices = env.BaseDir() + "/by-id";
    LogTap log;

    void SetUp() override {
        ASSERT_TRUE(FwFile::MakeDirs(devices));
        TestEnv::SetSetting("VirtualServer", "sDiskByIdFolder", MapperFolder());
        TestEnv::SetSetting("CloudSim", "sDeviceFolder", devices);
        readPath = std::make_unique<ReadPathServer>(Path(), cloud, env.BaseDir());
        ASSERT_EQ(1, ConnectDemo(owner, Accounts::SourceAndAdmin));
        ASSERT_TRUE(owner._InitMount());
        vm.name = "web-server-01";
        vm.guid = kWebServer;
        vm.zone = "us-east-1a";
        vm.region = "us-east-1";
        ASSERT_TRUE(owner.Cleaner().RegisterVM(VM_CLEANER_BACKUP, vm.guid));
        ASSERT_TRUE(owner.ConnectDiskInfo(vm));
        VMInfoStructs::SVMInfo proxy;
        proxy.guid = kProxy;
        proxy.zone = "us-east-1a";
        proxy.region = "us-east-1";
        owner.DiskInfo()->Initialize(proxy);
    }

    // Where the proxy's disk mapper looks for devices.
    virtual std::string MapperFolder() { return devices; }
    // How direct-read disks are read; tests of the reads themselves take both.
    virtual ReadPath Path() const { return ReadPath::Bridge; }

    // A volume the staging would have made for the source volume, registered
    // with the disk registry.
    VMInfoStructs::SDisk StageDisk(const std::string& sourceVolume, const std::string& mode, bool restore) {
        VMInfoStructs::SDisk disk;
        disk.volumeId = sourceVolume;
        disk.diskType = 1;
        disk.size = 8LL << 30;
        disk.volumeType = "gp3";
        disk.iops = 3000;
        disk.snapshotId = kPublicSnapshot;
        EXPECT_TRUE(owner.AdminBridge()->CreateVolume(kPublicSnapshot, "us-east-1a", "staged", "", 0, 0, false, "",
                                                      disk.newVolumeId, {}, false, ""));
        FwClock::SleepMs(20000);
        EXPECT_TRUE(owner.DiskInfo()->RegisterDisk(vm, disk, mode, restore));
        return disk;
    }
    // A completed snapshot of the volume as it is now.
    std::string SnapshotOf(const std::string& volume) {
        std::string id;
        EXPECT_TRUE(owner.SourceBridge()->CreateSnapshot(volume, "", "", id, true));
        FwClock::SleepMs(70000);
        return id;
    }
    // The same, registered for direct reads; false (with a test failure)
    // when a step fails.
    bool RegisterSnapshotDisk(const std::string& volume, std::string& snapshot) {
        if ((snapshot = SnapshotOf(volume)).empty()) return false;
        VMInfoStructs::SDisk disk;
        disk.volumeId = volume;
        disk.snapshotId = snapshot;
        disk.diskType = 1;
        disk.size = Volume(volume).sizeBytes;
        return owner.DiskInfo()->RegisterDisk(vm, disk, "EBS-DIRECT-API", false);
    }
    // The same, opened.
    bool OpenSnapshotDisk(const std::string& volume, std::string& snapshot, VmdkHandle& handle) {
        EXPECT_TRUE(RegisterSnapshotDisk(volume, snapshot));
        return owner.OpenVmdk(vm.name, vm.guid, volume, handle) == 1;
    }
    std::vector<std::string> RegisteredVolumes() {
        std::string path;
        std::vector<VMInfoStructs::SDisk> disks;
        owner.Cleaner().GetRegisteredVM(VM_CLEANER_BACKUP, vm.guid, path, false);
        owner.Cleaner().GetRegisteredDisks(path, disks);
        std::vector<std::string> ids;
        for (const auto& d : disks) ids.push_back(d.newVolumeId);
        return ids;
    }
    std::string DeviceOf(const std::string& volumeId) {
        std::string id = volumeId;
        id.erase(id.find('-'), 1);
        return devices + "/nvme-Amazon_Elastic_Block_Store_" + id;
    }
    int Count(const std::string& line) const { return log.Count(line); }
    int64_t SleptSec() { return env.Clock().TotalSleptMs() / 1000; }
};
