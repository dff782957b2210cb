#pragma once
// A restore through the proxy on the demo cloud: the plug-in object
// connected as the job asks, the proxy's record read, the job registered
// with the cleanup store and the destination record connected to the disk
// registry, as the initialisation phase leaves them; the proxy's device
// folder under the test's base folder.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "bridge/AmazonSDKBridge.h"
#include "disk/AmazonDiskInfo.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "framework/VMConfigFile.h"
#include "support/ConnectedFixture.h"
#include "support/LogTap.h"

namespace proxyrestore {

constexpr char kWeb[] = "i-0a1b2c3d4e5f60001";         // web-server-01, us-east-1a
constexpr char kWebRoot[] = "vol-0a1b2c3d4e5f6a001";
constexpr char kWebData[] = "vol-0a1b2c3d4e5f6a002";
constexpr char kDbProxy[] = "i-0a1b2c3d4e5f60002";     // db-server-01, us-east-1b, source account
constexpr char kAdminProxy[] = "i-0fedcba9876540001";  // backup-proxy, us-east-1a, admin account
constexpr char kLinuxAMI[] = "ami-0c55b159cbfafe1f0";  // public, root /dev/xvda
constexpr char kDbKey[] = "arn:aws:kms:us-east-1:111122223333:key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d";

struct ProxyRestoreFixture : DemoCloudFixture {
    CAmazonInfo object{kAmazonInstanceType};
    LogTap log;
    std::string devices = env.BaseDir() + "/by-id";
    RestoreCtx ctx;

    // Connects with accounts, makes proxy the machine the agent runs on and
    // prepares a full restore to destZone as the initialisation would.
    void Start(Accounts accounts, const std::string& proxy, const std::string& destZone) {
        ASSERT_TRUE(FwFile::MakeDirs(devices));
        TestEnv::SetSetting("VirtualServer", "sDiskByIdFolder", devices);
        TestEnv::SetSetting("CloudSim", "sDeviceFolder", devices);
        cloud->Write([&](cloudsim::State& s) { s.proxyInstanceId = proxy; });
        OnAnEC2Proxy();
        ASSERT_EQ(1, ConnectDemo(object, accounts));
        ASSERT_TRUE(object._InitProxyInfoForBackup(MountCtx{}));
        ctx.restoreVMName = "restored-web";
        ctx.destZone = destZone;
        ctx.destRegion = "us-east-1";
        ctx.restorePath = env.BaseDir() + "/restore";
        ASSERT_TRUE(FwFile::MakeDirs(ctx.restorePath));
        ASSERT_EQ(1, object.RegisterCleanerForRestore(ctx));
        ASSERT_FALSE(ctx.registrationGuid.empty());
        ctx.sourceGuid = kWeb;
        ctx.vmGuid = ctx.createdInstanceId = ctx.registrationGuid;
        ctx.vm.guid = ctx.vmGuid;
        ctx.vm.name = ctx.restoreVMName;
        ctx.vm.zone = destZone;
        ctx.vm.region = ctx.destRegion;
        ASSERT_TRUE(object.ConnectDiskInfo(ctx.vm));
    }

    // A selected disk of the backed-up instance, placed next to the proxy.
    VMInfoStructs::SDisk Disk(const std::string& source, const std::string& device, bool os, int gib = 8) {
        VMInfoStructs::SDisk d;
        d.sourceVolumeId = source;
        d.displayName = "disk-" + device.substr(device.rfind('/') + 1);
        d.deviceName = device;
        d.isOSDisk = os;
        d.selected = true;
        d.size = int64_t(gib) << 30;
        d.volumeType = "gp2";
        d.zone = object.ProxyVMInfo().zone;
        d.diskType = 27;
        return d;
    }

    // The disks' empty volumes, made next to the proxy as the first phase
    // makes them.
    void CreateEmptyVolumes() {
        bool recreated = true;
        ASSERT_TRUE(object._CreateEmptyVolumes(ctx, VM_CLEANER_RESTORE, recreated)) << object.GetLastVMErrorDetails();
        EXPECT_FALSE(recreated) << "nothing was there to recreate";
    }

    // The configuration file a backup of the web server stored, with tags.
    void WriteConfigFile(const std::string& fileName, const std::map<std::string, std::string>& tags,
                         const std::string& instanceType = "t3.medium", const std::string& ami = kLinuxAMI) {
        VMInfoStructs::SVMInfo vm;
        vm.name = "web-server-01";
        vm.guid = kWeb;
        vm.region = "us-east-1";
        vm.zone = "us-east-1a";
        vm.instanceType = instanceType;
        vm.amiId = ami;
        vm.guestOS = "Amazon Linux 2";
        vm.virtualizationType = "hvm";
        for (auto [id, device, os] : {std::tuple{kWebRoot, "/dev/xvda", true}, {kWebData, "/dev/sdf", false}}) {
            VMInfoStructs::SDisk d;
            d.volumeId = id;
            d.deviceName = device;
            d.isOSDisk = os;
            d.size = 8LL << 30;
            vm.disks.push_back(d);
        }
        VMConfigFile file;
        file.SetTags(tags);
        ASSERT_TRUE(file.Save(FwFile::JoinPath(ctx.restorePath, fileName), vm));
    }

    // The data mover's part: opens the disk for writing (attached to the
    // proxy), writes data at offset through its device and closes it.
    void WriteThroughProxy(const VMInfoStructs::SDisk& disk, int64_t offset, const std::string& data) {
        VmdkHandle handle;
        ASSERT_EQ(1, object.CreateVmdk(ctx.vm.name, ctx.vm.guid, disk.sourceVolumeId, disk.size, handle));
        VMInfoStructs::SDisk opened;
        ASSERT_EQ(1, object.GetVmdkInfo(handle, opened));
        const int fd = ::open(opened.name.c_str(), O_WRONLY);
        ASSERT_GE(fd, 0) << opened.name;
        EXPECT_EQ(ssize_t(data.size()), ::pwrite(fd, data.data(), data.size(), offset));
        ::close(fd);
        ASSERT_EQ(1, object.CloseVmdk(handle));
    }

    // Volume ids registered for clean-up under the job's key.
    std::vector<std::string> RegisteredVolumes() {
        std::string path;
        std::vector<VMInfoStructs::SDisk> disks;
        object.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, ctx.registrationGuid, path, false);
        object.Cleaner().GetRegisteredDisks(path, disks);
        std::vector<std::string> ids;
        for (const auto& d : disks) ids.push_back(d.newVolumeId);
        return ids;
    }
    std::vector<std::string> RegisteredInstances() {
        std::string path;
        std::vector<std::string> ids;
        object.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, ctx.registrationGuid, path, false);
        object.Cleaner().GetRegisteredCreatedVMs(path, ids);
        return ids;
    }
    // Snapshots the cloud still holds of the volume.
    int SnapshotsOf(const std::string& volume) {
        return Peek([&](const cloudsim::State& s) {
            int n = 0;
            for (const auto& [id, snap] : s.snapshots) n += snap.volumeId == volume;
            return n;
        });
    }
    void Settle(int64_t seconds = 30) { FwClock::SleepMs(seconds * 1000); }
};

}  // namespace proxyrestore
