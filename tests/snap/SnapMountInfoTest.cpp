// The live-browse mount hand-over between two plug-in objects: the second
// connects as the first did and reads the same snapshots directly.
#include <gtest/gtest.h>

#include "disk/AmazonDiskInfo.h"
#include "support/ConnectedFixture.h"

namespace {
using VMInfoStructs::SDisk;
using VMInfoStructs::SVMInfo;

const char kWeb[] = "i-0a1b2c3d4e5f60001";
const char kRoot[] = "vol-0a1b2c3d4e5f6a001";

class SnapMountInfoTest : public ConnectedFixture {
protected:
    void SetUp() override { ConnectObject(Accounts::SourceAndAdmin); }
    // A live-browse mount of the instance's root volume, read from a snapshot.
    void RegisterMount(const std::string& snapshotId) {
        ASSERT_TRUE(object.InitDiskInfo());
        SVMInfo vm;
        vm.guid = kWeb;
        vm.name = "web-server-01";
        vm.region = demo::kRegion;
        ASSERT_TRUE(object.DiskInfo()->Connect(vm));
        SDisk disk;
        disk.volumeId = disk.name = kRoot;
        disk.snapshotId = snapshotId;
        disk.sectorSize = 4096;
        disk.zone = "us-east-1a";
        ASSERT_TRUE(object.DiskInfo()->RegisterDisk(vm, disk, "EBS-DIRECT-API", false));
    }
};

TEST_F(SnapMountInfoTest, AnotherObjectTakesUpTheMountWithItsAccountsAndDisks) {
    RegisterMount("snap-0c55b159cbfafe1f0");
    const std::string text = object.GetSnapMountInfo();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find(demo::kSourceSecret), std::string::npos) << "a secret travels sealed";
    EXPECT_EQ(text.find(demo::kAdminSecret), std::string::npos);

    CAmazonInfo other(kAmazonInstanceType);
    ASSERT_TRUE(other.SetSnapMountInfo(text)) << other.GetLastVMErrorDetails();
    EXPECT_TRUE(other.IsCrossAccount()) << "the admin account came with the text";
    VmdkHandle handle;
    AmazonDiskInfo::AmazonDiskState state{};
    ASSERT_NE(other.DiskInfo()->GetDiskHandle("web-server-01", kWeb, kRoot, handle, state), 0);
    std::string snapshot, region;
    uint32_t sector = 0;
    int64_t capacity = 0;
    ASSERT_TRUE(other.DiskInfo()->GetDiskReadInfo(handle, snapshot, region, sector, capacity));
    EXPECT_EQ(snapshot, "snap-0c55b159cbfafe1f0");
    EXPECT_EQ(sector, 4096u);
    EXPECT_EQ(other.DiskInfo()->GetDiskTransportMode(handle), "EBS-DIRECT-API");
}

TEST_F(SnapMountInfoTest, AHandOverWithoutDisksFailsAfterConnectingAndRegisteringTheInstance) {
    ASSERT_TRUE(object.InitDiskInfo());
    SVMInfo vm;
    vm.guid = kWeb;
    vm.region = demo::kRegion;
    ASSERT_TRUE(object.DiskInfo()->Connect(vm));
    const std::string text = object.GetSnapMountInfo();
    ASSERT_FALSE(text.empty());
    CAmazonInfo other(kAmazonInstanceType);
    EXPECT_FALSE(other.SetSnapMountInfo(text));
    ASSERT_NE(other.SourceBridge(), nullptr);
    EXPECT_EQ(other.GetConnectUser(), demo::kSourceKey) << "the connection was made";
    std::vector<SDisk> disks;
    EXPECT_TRUE(other.DiskInfo()->GetDisks(vm, disks)) << "the instance was registered";
    EXPECT_TRUE(disks.empty());

    CAmazonInfo third(kAmazonInstanceType);
    EXPECT_FALSE(third.SetSnapMountInfo("not a mount message"));
    EXPECT_TRUE(third.GetConnectUser().empty()) << "nothing is done with a text that does not parse";
}
}  // namespace
