// Reading disks through snapshot access, on both read paths: the snapshot's
// bytes arrive, also on several reader threads while another disk closes.
#include <atomic>
#include <thread>

#include "common/ErrorCodes.h"
#include "disk/DiskFixture.h"

namespace {
constexpr long long kBlock = 512 * 1024;
constexpr long long kDataAt = 2 * kBlock;
const char kText[] = "written by the guest at 1 MiB";
}  // namespace

struct DirectReadTest : DiskCloudTest, ::testing::WithParamInterface<ReadPath> {
    std::string snapshot;
    VmdkHandle handle;

    ReadPath Path() const override { return GetParam(); }

    // The guest wrote kText, then a snapshot took it; the disk reads that
    // snapshot.
    void SetUp() override {
        DiskCloudTest::SetUp();
        cloud->WriteVolume(kRootVolume, kDataAt, kText);
        ASSERT_TRUE(OpenSnapshotDisk(kRootVolume, snapshot, handle));
    }
};

TEST_P(DirectReadTest, ReadsTheSnapshotsBytes) {
    EXPECT_EQ(AmazonDiskInfo::DiskOpen, owner.DiskInfo()->GetDiskState(handle));
    std::string buffer(2 * kBlock, '?');
    ASSERT_EQ(0, owner.ReadVmdk(handle, (kDataAt - kBlock) / 512, 2 * kBlock / 512, &buffer[0]));
    EXPECT_EQ(cloud->ReadSnapshot(snapshot, kDataAt - kBlock, 2 * kBlock), buffer);
    EXPECT_EQ(kText, buffer.substr(kBlock, sizeof(kText) - 1));
    EXPECT_EQ(0, owner.ReadVmdk(handle, 0, 0, &buffer[0])) << "nothing asked, nothing read";
    if (GetParam() == ReadPath::Rest) {
        EXPECT_GT(readPath->BlockCalls(), 0) << "the endpoints served none of it";
    }
    ASSERT_EQ(1, owner.CloseVmdk(handle));
    EXPECT_EQ(AmazonDiskInfo::DiskClosed, owner.DiskInfo()->GetDiskState(handle));
}

TEST_P(DirectReadTest, EightReadersOnTwoDisksWhileAThirdCloses) {
    cloud->WriteVolume(kDataVolume, kDataAt, "data disk");
    std::string dataSnapshot;
    VmdkHandle second;
    ASSERT_TRUE(OpenSnapshotDisk(kDataVolume, dataSnapshot, second));
    // The third disk, hot-added, closes while the others are read.
    const auto staged = StageDisk("vol-0a1b2c3d4e5f6a0ff", "HOTADD", false);
    VmdkHandle other;
    ASSERT_EQ(1, owner.OpenVmdk(vm.name, vm.guid, staged.volumeId, other));

    // Blocks 1 to 4: allocated ones and, on the data disk, holes.
    const std::string expected[2] = {cloud->ReadSnapshot(snapshot, kBlock, 4 * kBlock),
                                     cloud->ReadSnapshot(dataSnapshot, kBlock, 4 * kBlock)};
    const VmdkHandle handles[2] = {handle, second};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 8; ++t) {
        readers.emplace_back([&, t] {
            std::string buffer(kBlock, '?');
            for (int i = 0; i < 8; ++i) {
                const int disk = (t + i) % 2;
                const int block = (t + i / 2) % 4;
                const bool ok = owner.ReadVmdk(handles[disk], (block + 1) * kBlock / 512, kBlock / 512,
                                               &buffer[0]) == 0;
                if (!ok || buffer != expected[disk].substr(block * kBlock, kBlock)) ++bad;
            }
        });
    }
    EXPECT_EQ(1, owner.CloseVmdk(other));
    for (auto& r : readers) r.join();
    EXPECT_EQ(0, bad.load());
    EXPECT_EQ(AmazonDiskInfo::DiskClosed, owner.DiskInfo()->GetDiskState(other));
}

// A disk whose snapshot went away before the open: the job's error says
// which snapshot and what the service answered, on either path.
TEST_P(DirectReadTest, AnOpenThatCannotListTheSnapshotSaysWhy) {
    std::string gone;
    ASSERT_TRUE(RegisterSnapshotDisk(kDataVolume, gone));
    ASSERT_TRUE(owner.SourceBridge()->DeleteSnapshot(gone, "us-east-1"));
    VmdkHandle closed;
    EXPECT_EQ(0, owner.OpenVmdk(vm.name, vm.guid, kDataVolume, closed));
    EXPECT_EQ(AmazonErrors::kMountFailed, owner.GetLastVMError());
    const std::string details = owner.GetLastVMErrorDetails();
    EXPECT_NE(std::string::npos, details.find("cannot open snapshot [" + gone + "] of disk [")) << details;
    EXPECT_NE(std::string::npos, details.find("NotFound")) << details;

    EXPECT_EQ(0, owner.OpenVmdk(vm.name, vm.guid, "vol-0a1b2c3d4e5f6a0ee", closed));
    EXPECT_NE(std::string::npos, owner.GetLastVMErrorDetails().find("disk [vol-0a1b2c3d4e5f6a0ee] of VM ["))
        << owner.GetLastVMErrorDetails();
}

INSTANTIATE_TEST_SUITE_P(BothPaths, DirectReadTest, ::testing::Values(ReadPath::Rest, ReadPath::Bridge),
                         ReadPathName);
