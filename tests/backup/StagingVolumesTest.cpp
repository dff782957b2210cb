// Hot-add staging on the proxy's own account: one new volume per snapshot in
// the proxy's zone, registered before the job relies on it.
#include "backup/StagingFixture.h"
#include "cloudsim/CloudState.h"
#include "disk/AmazonDiskInfo.h"

using namespace staging;

namespace {
size_t VolumesFrom(cloudsim::Cloud& cloud, const std::string& snapshotId) {
    size_t n = 0;
    cloud.Read([&](const cloudsim::State& s) {
        for (const auto& [id, v] : s.volumes) n += v.snapshotId == snapshotId && v.state != "deleting";
    });
    return n;
}
}  // namespace

TEST_F(StagingFixture, HotaddStagesOneRegisteredTaggedVolumePerSnapshotInTheProxyZone) {
    ASSERT_TRUE(ConnectAdminAccount());
    cloud->Write([](cloudsim::State& s) {
        s.volumes.at(kWorkerRoot).tags = {{"Owner", "ops"}, {"aws:cloudformation:stack-name", "infra"}};
    });
    MountCtx ctx = Job(kWorker, "HOTADD");
    ASSERT_TRUE(object.ConnectDiskInfo(ctx.vm));
    ASSERT_EQ(1, object._MountVMStreamingBackup(ctx)) << object.GetLastVMErrorDetails();

    ASSERT_EQ(1u, ctx.vm.disks.size());
    const auto disk = ctx.vm.disks[0];
    EXPECT_EQ(kWorkerRoot, disk.name);
    EXPECT_EQ("us-east-1a", disk.zone);
    EXPECT_EQ(std::vector<std::string>{disk.newVolumeId}, Registered(kWorker, false));
    const cloudsim::Volume volume = Volume(disk.newVolumeId);
    EXPECT_EQ("us-east-1a", volume.zone);
    EXPECT_EQ("available", volume.state);
    EXPECT_EQ(disk.snapshotId, volume.snapshotId);
    EXPECT_EQ("ops", volume.tags.at("Owner"));
    EXPECT_EQ(0u, volume.tags.count("aws:cloudformation:stack-name"));
    EXPECT_EQ(std::string("Volume Created by Tarvex for Job 0 from ") + kProxy, volume.tags.at("_QX_BACKUP_"));
    std::vector<VMInfoStructs::SDisk> registered;
    ASSERT_TRUE(object.DiskInfo()->GetDisks(ctx.vm, registered));
    ASSERT_EQ(1u, registered.size());
    EXPECT_EQ(disk.newVolumeId, registered[0].name);   // the device the data mover opens

    // A rerun finds the volume and uses it again.
    bool recreated = true;
    ASSERT_TRUE(object._CreateVolumesFromSnapshot(kWorker, ctx.vm.disks, VM_CLEANER_BACKUP, recreated));
    EXPECT_FALSE(recreated);
    EXPECT_EQ(disk.newVolumeId, ctx.vm.disks[0].newVolumeId);
    EXPECT_EQ(1u, VolumesFrom(*cloud, disk.snapshotId));
}

TEST_F(StagingFixture, NoStagedVolumeIsLeftUntrackedWhenCreationFailsOrIsCancelled) {
    ASSERT_TRUE(ConnectAdminAccount());
    MountCtx ctx = Job(kWorker, "HOTADD");
    ASSERT_TRUE(object._InitProxyInfoForBackup(ctx));
    ASSERT_EQ(1, object.TakeAMISnapshot(ctx));
    auto& disk = ctx.vm.disks.at(0);
    bool recreated = false;

    cloud->AddFault(cloudsim::FaultRule("CreateVolume", 1, "", 0, "stuck"));
    EXPECT_FALSE(object._CreateVolumesFromSnapshot(kWorker, ctx.vm.disks, VM_CLEANER_BACKUP, recreated));
    ASSERT_FALSE(disk.newVolumeId.empty());
    EXPECT_EQ(std::vector<std::string>{disk.newVolumeId}, Registered(kWorker, false));

    // A volume the registry refuses is deleted again at once.
    ASSERT_TRUE(object.Cleaner().UnRegisterVM(VM_CLEANER_BACKUP, kWorker, true));
    disk.newVolumeId.clear();
    EXPECT_FALSE(object._CreateVolumesFromSnapshot(kWorker, ctx.vm.disks, VM_CLEANER_BACKUP, recreated));
    EXPECT_EQ(24, object.GetLastVMError());
    EXPECT_EQ(1u, VolumesFrom(*cloud, disk.snapshotId));   // the stuck one only

    ASSERT_NE("", object.GetLastVMErrorDetails());
    object.SetJobCancelled(true);
    disk.newVolumeId.clear();
    EXPECT_FALSE(object._CreateVolumesFromSnapshot(kWorker, ctx.vm.disks, VM_CLEANER_BACKUP, recreated));
    EXPECT_EQ(4000, object.GetLastVMError());
    EXPECT_EQ("Job interrupted", object.GetLastVMErrorDetails()) << "not the earlier failure's";
    EXPECT_EQ(1u, VolumesFrom(*cloud, disk.snapshotId));
}
