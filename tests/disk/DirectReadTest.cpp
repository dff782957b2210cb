// Reading disks through snapshot access: the snapshot's bytes arrive, also
// on several reader threads while another disk closes.
#include <atomic>
#include <thread>

#include "disk/DiskFixture.h"

namespace {
constexpr long long kDataAt = 1 << 20;
const char kText[] = "written by the guest at 1 MiB";
}  // namespace

struct DirectReadTest : DiskCloudTest {
    std::string snapshot;
    VmdkHandle handle;

    // The guest wrote kText, then a snapshot took it; the disk reads that
    // snapshot.
    void SetUp() override {
        DiskCloudTest::SetUp();
        cloud->WriteVolume(kRootVolume, kDataAt, kText);
        ASSERT_TRUE(OpenSnapshotDisk(kRootVolume, snapshot, handle));
    }
};

TEST_F(DirectReadTest, ReadsTheSnapshotsBytes) {
    EXPECT_EQ(AmazonDiskInfo::DiskOpen, owner.DiskInfo()->GetDiskState(handle));
    std::string buffer(4096, '?');
    ASSERT_EQ(0, owner.ReadVmdk(handle, kDataAt / 512 - 1, 8, &buffer[0]));
    EXPECT_EQ(cloud->ReadSnapshot(snapshot, kDataAt - 512, 4096), buffer);
    EXPECT_EQ(kText, buffer.substr(512, sizeof(kText) - 1));
    EXPECT_EQ(0, owner.ReadVmdk(handle, 0, 0, &buffer[0])) << "nothing asked, nothing read";
    EXPECT_EQ(1, owner.ReadVmdk(handle, (8LL << 30) / 512, 1, &buffer[0])) << "past the snapshot's end";
    ASSERT_EQ(1, owner.CloseVmdk(handle));
    EXPECT_EQ(AmazonDiskInfo::DiskClosed, owner.DiskInfo()->GetDiskState(handle));
}

TEST_F(DirectReadTest, SixteenReadersOnTwoDisksWhileAThirdCloses) {
    cloud->WriteVolume(kDataVolume, kDataAt, "data disk");
    std::string dataSnapshot;
    VmdkHandle second;
    ASSERT_TRUE(OpenSnapshotDisk(kDataVolume, dataSnapshot, second));
    // The third disk, hot-added, closes while the others are read.
    const auto staged = StageDisk("vol-0a1b2c3d4e5f6a0ff", "HOTADD", false);
    VmdkHandle other;
    ASSERT_EQ(1, owner.OpenVmdk(vm.name, vm.guid, staged.volumeId, other));

    const std::string expected[2] = {cloud->ReadSnapshot(snapshot, kDataAt - 4096, 4 * 4096),
                                     cloud->ReadSnapshot(dataSnapshot, kDataAt - 4096, 4 * 4096)};
    const VmdkHandle handles[2] = {handle, second};
    std::atomic<int> bad{0};
    std::vector<std::thread> readers;
    for (int t = 0; t < 16; ++t) {
        readers.emplace_back([&, t] {
            std::string buffer(4096, '?');
            for (int i = 0; i < 16; ++i) {
                const int disk = (t + i) % 2;
                const int block = (t + i) % 4;
                const bool ok =
                    owner.ReadVmdk(handles[disk], (kDataAt - 4096) / 512 + block * 8, 8, &buffer[0]) == 0;
                if (!ok || buffer != expected[disk].substr(block * 4096, 4096)) ++bad;
            }
        });
    }
    EXPECT_EQ(1, owner.CloseVmdk(other));
    for (auto& r : readers) r.join();
    EXPECT_EQ(0, bad.load());
    EXPECT_EQ(AmazonDiskInfo::DiskClosed, owner.DiskInfo()->GetDiskState(other));
}
