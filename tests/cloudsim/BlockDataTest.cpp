// Block data of the simulated cloud: snapshots as point-in-time block maps
// sharing their volume's blocks, the proxy's device files, and block data
// kept in a folder across Cloud objects and killed writers.
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <set>

#include "bridge/BridgeFixture.h"
#include "cloudsim/DeviceFile.h"
#include "cloudsim/SeedData.h"
#include "framework/DiskMapper.h"
#include "framework/FileUtils.h"
#include "support/TestPaths.h"

using cloudsim::Cloud;
using cloudsim::kBlockSize;
using cloudsim::SeedBlock;
using cloudsim::State;

namespace {

const char kProxy[] = "i-0fedcba9876540001";         // admin account, us-east-1a
const char kOutpostWorker[] = "i-0fedcba9876540002"; // admin account, us-east-1b
const char kLinuxSnap[] = "snap-0c55b159cbfafe1f0";  // public, blocks 0-3
const char kWebDataText[] = "web-server-01 web-data"; // kWebData: blocks 0 1 2 6 7 20480 40959

std::string Block(const std::string& text, int64_t index) { return SeedBlock(text, index); }

class BlockDataTest : public BridgeFixture {};

class DeviceTest : public BridgeFixture {
protected:
    void SetUp() override {
        BridgeFixture::SetUp();
        ConnectAdmin();
        TestEnv::SetSetting("CloudSim", "sDeviceFolder", devices);
    }
    // An admin volume made from the public Linux snapshot, available.
    std::string LinuxVolume(const std::string& zone) {
        std::string id;
        EXPECT_TRUE(admin.CreateVolume(kLinuxSnap, zone, "", "", 0, 0, false, "", id, {}, false, ""))
            << admin.GetLastErrorString();
        Advance(Timing().volumeCreateMs);
        return id;
    }
    // Attaches and lets the attachment complete; the state poll settles it,
    // as the plug-in's own wait would.
    std::string Attached(const std::string& volumeId, const std::string& instanceId) {
        bool conflict = false;
        EXPECT_TRUE(admin.AttachVolume(volumeId, instanceId, "", false, "", conflict, false))
            << admin.GetLastErrorString();
        Advance(Timing().attachMs);
        return AdminState(volumeId);
    }
    std::string AdminState(const std::string& volumeId) {
        VMInfoStructs::SDisk disk;
        bool notFound = false;
        EXPECT_TRUE(admin.GetVolumeInfo(volumeId, "", disk, notFound)) << admin.GetLastErrorString();
        return disk.state;
    }
    std::string DeviceOf(const std::string& volumeId) {
        return FwFile::JoinPath(devices, CDiskMapperLinux::DeviceNameForVolume(volumeId));
    }

    std::string devices = FwFile::JoinPath(env.BaseDir(), "by-id");
};

}  // namespace

TEST_F(BlockDataTest, SnapshotIsAPointInTimeCopySharingItsVolumesBlocks) {
    const size_t stored = cloud->Blocks().Count();
    std::string snapId;
    ASSERT_TRUE(bridge.CreateSnapshot(demo::kWebData, "", "", snapId, false));
    // Data written while the snapshot is pending is in it: it is taken at completion.
    cloud->WriteVolume(demo::kWebData, 3 * kBlockSize, "before completion");
    Advance(Timing().snapshotMs);
    ASSERT_EQ(SnapshotState(snapId), "completed");
    EXPECT_EQ(cloud->SnapshotBlocks(snapId), (std::vector<int64_t>{0, 1, 2, 3, 6, 7, 20480, 40959}));

    std::string copy;
    ASSERT_TRUE(bridge.CreateVolume(snapId, "us-east-1b", "copy", "", 0, 0, false, "", copy, {}, false, ""));
    EXPECT_EQ(cloud->VolumeBlocks(copy), cloud->SnapshotBlocks(snapId));
    EXPECT_EQ(cloud->Blocks().Count(), stored + 1) << "only the block written before completion is new";

    // The guest changes block 1 and wipes block 2; neither copy sees it.
    cloud->WriteVolume(demo::kWebData, kBlockSize + 100, "changed");
    cloud->WriteVolume(demo::kWebData, 2 * kBlockSize, std::string(kBlockSize, '\0'));
    EXPECT_EQ(cloud->ReadVolume(demo::kWebData, kBlockSize + 98, 11), Block(kWebDataText, 1).substr(98, 2) +
                                                                          "changed" + Block(kWebDataText, 1).substr(107, 2));
    EXPECT_EQ(cloud->ReadSnapshot(snapId, kBlockSize, kBlockSize), Block(kWebDataText, 1));
    EXPECT_EQ(cloud->ReadVolume(copy, 2 * kBlockSize, kBlockSize), Block(kWebDataText, 2));
    EXPECT_EQ(cloud->VolumeBlocks(demo::kWebData), (std::vector<int64_t>{0, 1, 3, 6, 7, 20480, 40959}));
    EXPECT_EQ(cloud->ReadVolume(demo::kWebData, 2 * kBlockSize, 4), std::string(4, '\0'));
    EXPECT_EQ(cloud->Blocks().Count(), stored + 2);

    // Zeros written where nothing is allocated allocate nothing.
    cloud->WriteVolume(demo::kWebData, 5 * kBlockSize + 10, std::string(1000, '\0'));
    EXPECT_EQ(cloud->VolumeBlocks(demo::kWebData).size(), 7u);
    EXPECT_THROW(cloud->WriteVolume(demo::kWebData, 20 * demo::kGiB - 2, "xyz"), std::runtime_error);
}

TEST_F(DeviceTest, VolumeIsPublishedOnlyWhenAttachedToTheProxy) {
    std::string elsewhere = LinuxVolume("us-east-1b");
    ASSERT_EQ(Attached(elsewhere, kOutpostWorker), "in-use");
    EXPECT_FALSE(FwFile::Exists(DeviceOf(elsewhere)));

    std::string vol = LinuxVolume("us-east-1a");
    bool conflict = false;
    ASSERT_TRUE(admin.AttachVolume(vol, kProxy, "", false, "", conflict, false));
    EXPECT_FALSE(FwFile::Exists(DeviceOf(vol))) << "published while still attaching";
    Advance(Timing().attachMs);
    ASSERT_EQ(AdminState(vol), "in-use");

    // The disk mapper finds it where a Nitro proxy would have it.
    TestEnv::SetSetting("VirtualServer", "sDiskByIdFolder", devices);
    CDiskMapperLinux mapper;
    std::string device;
    ASSERT_TRUE(mapper.Initialize() && mapper.GetDeviceForVolume(vol, device));
    EXPECT_EQ(device, DeviceOf(vol));

    struct stat st = {};
    ASSERT_EQ(stat(device.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, 8 * demo::kGiB);
    EXPECT_LE(st.st_blocks * 512, 5 * kBlockSize) << "the file is sparse";
    std::string head(5 * kBlockSize, '\x01');
    cloudsim::devicefile::Read(device, 0, head.size(), &head[0]);
    EXPECT_EQ(head, cloud->ReadSnapshot(kLinuxSnap, 0, 4 * kBlockSize) + std::string(kBlockSize, '\0'));
}

TEST_F(DeviceTest, WritesThroughTheDeviceReturnToTheVolumeOnDetach) {
    std::string vol = LinuxVolume("us-east-1a");
    ASSERT_EQ(Attached(vol, kProxy), "in-use");
    const std::string device = DeviceOf(vol);
    // A restore writes block 9 and clears block 1 through the device.
    cloudsim::devicefile::Write(device, 9 * kBlockSize + 123, "restored", 8);
    std::string zeros(kBlockSize, '\0');
    cloudsim::devicefile::Write(device, kBlockSize, zeros.data(), kBlockSize);
    EXPECT_EQ(cloud->VolumeBlocks(vol), (std::vector<int64_t>{0, 2, 3, 9}));

    ASSERT_TRUE(admin.DetachVolume(vol, false, false));
    EXPECT_EQ(AdminState(vol), "in-use");
    EXPECT_TRUE(FwFile::Exists(device)) << "gone while still detaching";
    Advance(Timing().detachMs);
    ASSERT_EQ(AdminState(vol), "available");
    EXPECT_FALSE(FwFile::Exists(device));
    EXPECT_EQ(cloud->VolumeBlocks(vol), (std::vector<int64_t>{0, 2, 3, 9}));
    EXPECT_EQ(cloud->ReadVolume(vol, 9 * kBlockSize + 120, 12), std::string(3, '\0') + "restored" + '\0');
    EXPECT_EQ(cloud->SnapshotBlocks(kLinuxSnap), (std::vector<int64_t>{0, 1, 2, 3}));

    // A removal a killed process did not get to is done by the next writer.
    cloudsim::devicefile::Create(device, kBlockSize, cloud->Blocks(), {});
    cloud->Write([&](State& s) { s.staleDevices.push_back(device); });
    cloud->Write([](State&) {});
    EXPECT_FALSE(FwFile::Exists(device));
}

TEST_F(DeviceTest, SnapshotOfAWrittenEmptyVolumeHoldsExactlyTheWrittenBlocks) {
    VMInfoStructs::SDisk disk;
    disk.zone = "us-east-1a";
    disk.size = 8 * demo::kGiB;
    ASSERT_TRUE(admin.CreateVolume(disk, false, "")) << admin.GetLastErrorString();
    Advance(Timing().volumeCreateMs);
    const std::string vol = disk.newVolumeId;
    ASSERT_EQ(Attached(vol, kProxy), "in-use");
    // Written blocks 4 and 7; block 5 written all zeros; the rest never.
    cloudsim::devicefile::Write(DeviceOf(vol), 4 * kBlockSize, "restored", 8);
    std::string zeros(kBlockSize, '\0');
    cloudsim::devicefile::Write(DeviceOf(vol), 5 * kBlockSize, zeros.data(), kBlockSize);
    cloudsim::devicefile::Write(DeviceOf(vol), 7 * kBlockSize + 1, "x", 1);
    ASSERT_TRUE(admin.DetachVolume(vol, false, false));
    Advance(Timing().detachMs);
    ASSERT_EQ(AdminState(vol), "available");
    std::string snap;
    ASSERT_TRUE(admin.CreateSnapshot(vol, "", "", snap, false));
    Advance(Timing().snapshotMs);
    EXPECT_EQ(cloud->SnapshotBlocks(snap), (std::vector<int64_t>{4, 7}));
    EXPECT_EQ(cloud->ReadSnapshot(snap, 4 * kBlockSize, 8), "restored");
}

TEST_F(BlockDataTest, FolderKeepsBlockDataAcrossCloudObjects) {
    std::string folder = FwFile::JoinPath(env.BaseDir(), "sim");
    auto first = Cloud::OpenFolder(folder, AMAZON_DEMO_SEED);
    const size_t seeded = first->Blocks().Count();
    first->WriteVolume(demo::kWebData, 3 * kBlockSize + 7, "persisted");

    auto second = Cloud::OpenFolder(folder, "");
    EXPECT_EQ(second->ReadVolume(demo::kWebData, 3 * kBlockSize + 5, 11), std::string(2, '\0') + "persisted");
    EXPECT_EQ(second->ReadVolume(demo::kWebData, 40959 * kBlockSize, kBlockSize), Block(kWebDataText, 40959));
    EXPECT_EQ(second->Blocks().Count(), seeded + 1);
}

TEST_F(BlockDataTest, WriterKilledMidWriteLeavesNoDanglingBlock) {
    std::string folder = FwFile::JoinPath(env.BaseDir(), "sim");
    Cloud::OpenFolder(folder, AMAZON_DEMO_SEED);
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        auto child = Cloud::OpenFolder(folder, "");
        std::string block(kBlockSize, 'w');
        for (int64_t i = 0;; ++i) {
            std::snprintf(&block[0], 32, "write %lld", static_cast<long long>(i));
            child->WriteVolume(demo::kWebData, (i % 40) * kBlockSize, block);
            if (write(fds[1], &i, sizeof i) != sizeof i) _exit(1);
        }
    }
    close(fds[1]);
    int64_t last = -1;
    for (int i = 0; i < 4; ++i) ASSERT_EQ(read(fds[0], &last, sizeof last), static_cast<ssize_t>(sizeof last));
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    for (int64_t more; read(fds[0], &more, sizeof more) == sizeof more;) last = more;
    close(fds[0]);

    auto reopened = Cloud::OpenFolder(folder, "");
    std::string expected = "write " + std::to_string(last);
    EXPECT_EQ(reopened->ReadVolume(demo::kWebData, (last % 40) * kBlockSize, expected.size()), expected);
    std::set<std::string> named;
    reopened->Read([&](const State& s) {
        for (const auto& [id, v] : s.volumes)
            for (const auto& [index, block] : v.blocks) named.insert(block);
        for (const auto& [id, snap] : s.snapshots)
            for (const auto& [index, block] : snap.blocks) named.insert(block);
    });
    for (const auto& block : named) EXPECT_TRUE(reopened->Blocks().Has(block)) << block;
    std::vector<std::string> names;
    ASSERT_TRUE(FwFile::ListDir(folder + "/blocks", names));
    for (const auto& name : names) EXPECT_EQ(name.find(".tmp"), std::string::npos) << "left behind: " << name;
}
