// Opening and closing disks by attaching their staged volumes to the proxy.
#include <algorithm>

#include "disk/DiskFixture.h"

using AmazonDiskInfo::DiskClosed;

namespace {
bool Contains(const std::vector<std::string>& ids, const std::string& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}
}  // namespace

TEST_F(DiskCloudTest, BackupDiskIsAttachedRaisedReadAsDeviceThenDeleted) {
    const auto staged = StageDisk(kRootVolume, "HOTADD", false);
    VmdkHandle handle;
    ASSERT_EQ(1, owner.OpenVmdk(vm.name, "I-0A1B2C3D4E5F60001", "VOL-0A1B2C3D4E5F6A001", handle));
    cloudsim::Volume v = Volume(staged.newVolumeId);
    EXPECT_EQ(kProxy, v.attachedInstance);
    EXPECT_EQ("io2", v.type) << "raised before reading: 8 GB of io2 at 500 IOPS per GB";
    EXPECT_EQ(4000, v.iops);
    VMInfoStructs::SDisk disk;
    ASSERT_EQ(1, owner.GetVmdkInfo(handle, disk));
    EXPECT_EQ(DeviceOf(staged.newVolumeId), disk.name);
    EXPECT_TRUE(FwFile::Exists(disk.name));
    EXPECT_EQ(8LL << 30, disk.size);
    EXPECT_TRUE(Contains(RegisteredVolumes(), staged.newVolumeId));

    VmdkHandle again;
    EXPECT_EQ(1, owner.OpenVmdk(vm.name, vm.guid, kRootVolume, again)) << "an open disk is not attached twice";
    EXPECT_EQ(handle.diskHandle, again.diskHandle);

    ASSERT_EQ(1, owner.CloseVmdk(handle));
    EXPECT_EQ(DiskClosed, owner.DiskInfo()->GetDiskState(handle));
    EXPECT_FALSE(FwFile::Exists(disk.name));
    FwClock::SleepMs(10000);
    EXPECT_TRUE(Volume(staged.newVolumeId).id.empty()) << "a backup's staged volume is deleted";
    EXPECT_FALSE(Contains(RegisteredVolumes(), staged.newVolumeId));
    EXPECT_EQ(1, owner.CloseVmdk(handle)) << "closing twice is harmless";
}

TEST_F(DiskCloudTest, RestoredDiskIsDetachedButKept) {
    const auto staged = StageDisk(kDataVolume, "HOTADD", true);
    VmdkHandle handle;
    ASSERT_EQ(1, owner.CreateVmdk(vm.name, vm.guid, kDataVolume, 0, handle));
    EXPECT_EQ("gp2", Volume(staged.newVolumeId).type) << "a volume to be written is not modified";
    ASSERT_EQ(1, owner.CloseVmdk(handle));
    FwClock::SleepMs(10000);
    EXPECT_EQ("available", Volume(staged.newVolumeId).state);
    EXPECT_TRUE(Volume(staged.newVolumeId).attachedInstance.empty());
}

TEST_F(DiskCloudTest, AttachConflictIsRetriedAfterTheConfiguredWait) {
    TestEnv::SetSetting("VirtualServer", "nAmazonAttachDiskRetryInSec", "1000");
    const auto staged = StageDisk(kRootVolume, "HOTADD", false);
    cloud->AddFault(cloudsim::FaultRule("AttachVolume", 1, "VolumeInUse: limit", 0, "conflict"));
    const int64_t before = SleptSec();
    VmdkHandle handle;
    ASSERT_EQ(1, owner.OpenVmdk(vm.name, vm.guid, kRootVolume, handle));
    const std::string retried = "Proxy has reached to max limit while attaching disk [" + staged.newVolumeId +
                                "][" + kRootVolume + "] of VM [web-server-01]";
    EXPECT_EQ(1, Count(retried));
    EXPECT_GE(SleptSec() - before, 1000);
    EXPECT_LT(SleptSec() - before, 1300);
    EXPECT_EQ(kProxy, Volume(staged.newVolumeId).attachedInstance);
}

TEST_F(DiskCloudTest, AttachConflictsEndWhenTheJobIsCancelled) {
    StageDisk(kRootVolume, "HOTADD", false);
    cloud->AddFault(cloudsim::FaultRule("AttachVolume", 0, "VolumeInUse: limit", 0, "conflict"));
    log.OnLine([this](const std::string& m) {
        if (m.rfind("Proxy has reached to max limit", 0) == 0) owner.SetJobCancelled(true);
    });
    const int64_t before = SleptSec();
    VmdkHandle handle;
    EXPECT_EQ(0, owner.OpenVmdk(vm.name, vm.guid, kRootVolume, handle));
    EXPECT_EQ(kErrJobCancelled, owner.GetLastVMError());
    EXPECT_EQ("Job interrupted", owner.GetLastVMErrorDetails());
    EXPECT_LT(SleptSec() - before, 600) << "the retry wait stops for the cancelled job";
}

// The device never appears: every attach pass detaches again, the disk
// fails with 54 and its volume stays registered for the clean-up. A disk
// opened for writing gets its second pass too.
struct MissingDeviceTest : DiskCloudTest {
    std::string MapperFolder() override { return env.BaseDir() + "/elsewhere"; }
};

TEST_F(MissingDeviceTest, FailsAfterThePostAttachAttempts) {
    TestEnv::SetSetting("VirtualServer", "nDiskMapperDeviceWaitSec", "30");
    const auto staged = StageDisk(kRootVolume, "HOTADD", true);
    ASSERT_TRUE(owner.Cleaner().RegisterVM(VM_CLEANER_RESTORE, vm.guid));
    VmdkHandle handle;
    EXPECT_EQ(0, owner.OpenVmdk(vm.name, vm.guid, kRootVolume, handle));
    EXPECT_EQ(54, owner.GetLastVMError());
    EXPECT_EQ(2, Count("Volume [" + staged.newVolumeId + "] attached to proxy"));
    EXPECT_EQ(1, Count("Detach the volume and reattempt attach."));
    std::string path;
    std::vector<VMInfoStructs::SDisk> disks;
    ASSERT_TRUE(owner.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, vm.guid, path, false));
    ASSERT_TRUE(owner.Cleaner().GetRegisteredDisks(path, disks));
    ASSERT_EQ(1u, disks.size());
    EXPECT_EQ(staged.newVolumeId, disks[0].newVolumeId);
}

TEST_F(MissingDeviceTest, ACancelledJobIsNotAttachedAgainAndSaysSo) {
    TestEnv::SetSetting("VirtualServer", "nDiskMapperDeviceWaitSec", "30");
    StageDisk(kRootVolume, "HOTADD", true);
    log.OnLine([this](const std::string& m) {
        if (m != "Post attach disk operation failed.") return;
        owner.SetLastVMError(54, "an earlier failure");
        owner.SetJobCancelled(true);
    });
    VmdkHandle handle;
    EXPECT_EQ(0, owner.OpenVmdk(vm.name, vm.guid, kRootVolume, handle));
    EXPECT_EQ(4000, owner.GetLastVMError());
    EXPECT_EQ("Job interrupted", owner.GetLastVMErrorDetails());
}
