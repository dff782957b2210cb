// What a backup mount guarantees when things go wrong or inputs are odd: the
// framework sees the real failure, only AMIs that are gone leave the
// instance's tags, no id or path steers a file operation, and an Outpost
// proxy gets volumes it can take.
#include "backup/MountFixture.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "support/LogTap.h"

using namespace mount;

TEST_F(MountFixture, AFailedMountReportsItsOwnErrorNotTheRollbacks) {
    auto object = Connected();
    ASSERT_TRUE(object);
    cloud->AddFault(cloudsim::FaultRule("CreateAMISnapshot", 0, "RequestLimitExceeded: Request limit exceeded."));
    MountCtx ctx = Job(kWeb, "EBS-DIRECT-API");
    EXPECT_EQ(0, object->MountVM(ctx));
    EXPECT_EQ(17, object->GetLastVMError());
    EXPECT_NE(std::string::npos, object->GetLastVMErrorDetails().find("RequestLimitExceeded"))
        << object->GetLastVMErrorDetails();
}

TEST_F(MountFixture, OnlyAMIsThatAreGoneLeaveTheInstancesTag) {
    auto object = Connected();
    ASSERT_TRUE(object);
    auto* source = object->SourceBridge();
    std::vector<std::string> snaps;
    std::string young;
    ASSERT_TRUE(source->CreateAMISnapshot(kWeb, "us-east-1", "_QX_BACKUP_", "", "young", snaps, young));
    ASSERT_TRUE(source->SetTag(kWeb, "_QX_AMI_", young, false));
    ASSERT_TRUE(source->SetTag(kWeb, "_QX_AMI_", "ami-0000000000000dead", false));
    ASSERT_TRUE(object->DeleteExpiredAMISnapshot(kWeb));
    EXPECT_EQ(young, InstanceTag(kWeb, "_QX_AMI_"));

    env.Clock().AdvanceMs(25LL * 3600 * 1000);
    ASSERT_TRUE(object->DeleteExpiredAMISnapshot(kWeb));
    EXPECT_EQ("<none>", InstanceTag(kWeb, "_QX_AMI_"));
}

TEST_F(MountFixture, IdsAndPathsNeverSteerAFileOperation) {
    auto object = Connected();
    ASSERT_TRUE(object);
    MountCtx ctx = Job(kWeb);
    ASSERT_EQ(1, object->RegisterCleanerForBackup(ctx));
    EXPECT_FALSE(object->Cleaner().RegisterDisk(0, kWeb, ""));
    EXPECT_FALSE(object->Cleaner().RegisterVM(0, ""));

    VMInfoStructs::SVMInfo evil;
    evil.guid = "../../escaped";
    evil.region = "us-east-1";
    EXPECT_FALSE(object->SaveVMConfigFile(env.BaseDir() + "/mount", evil));
    EXPECT_FALSE(FwFile::Exists(env.BaseDir() + "/escaped_InstanceConfig.xml"));
    for (const char* path : {"", "/", "//", "/tmp/job/../../etc"})
        EXPECT_FALSE(object->_PrepareMountPathDirectory(path, 1)) << path;
}

TEST_F(MountFixture, AnOutpostProxyStagesGp2VolumesWithoutIops) {
    cloud->Write([](cloudsim::State& s) {
        s.instances.at(kDb).outpostArn = "arn:aws:outposts:us-east-1:111122223333:outpost/op-0123456789abcdef0";
    });
    auto object = Connected();
    ASSERT_TRUE(object);
    MountCtx ctx = Job(kWeb, "HOTADD");
    ASSERT_EQ(1, object->MountVM(ctx)) << object->GetLastVMErrorDetails();
    int staged = 0;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, v] : s.volumes) {
            if (id == kWebRoot || id == kWebData || !v.tags.count("_QX_BACKUP_")) continue;
            if (v.zone != "us-east-1b") continue;
            ++staged;
            EXPECT_EQ("gp2", v.type) << id;
            EXPECT_EQ(0, v.iops) << id;
            EXPECT_FALSE(v.outpostArn.empty()) << id;
        }
    });
    EXPECT_EQ(2, staged);
    EXPECT_EQ(1, object->UnmountVM(ctx));
}

TEST_F(MountFixture, CleanupLeavesAnotherRunningJobsEntryAlone) {
    auto running = Connected();
    auto other = Connected();
    ASSERT_TRUE(running && other);
    MountCtx ctx = Job(kWeb);
    ASSERT_EQ(1, running->RegisterCleanerForBackup(ctx));
    ASSERT_TRUE(running->Cleaner().RegisterSnapshot(0, kWeb, "snap-0000000000000beef"));

    MountCtx same = Job(kWeb, "EBS-DIRECT-API");
    EXPECT_EQ(1, other->CleanupVM(same));
    std::string path;
    ASSERT_TRUE(running->Cleaner().GetRegisteredVM(0, kWeb, path, false));
    std::vector<std::string> snaps;
    running->Cleaner().GetRegisteredSnapshots(path, snaps);
    EXPECT_EQ(std::vector<std::string>{"snap-0000000000000beef"}, snaps);

    // The job itself cleans its own entry (the snapshot no longer exists).
    EXPECT_EQ(1, running->CleanupVM(same));
    EXPECT_FALSE(running->Cleaner().GetRegisteredVM(0, kWeb, path, false));
}

TEST_F(MountFixture, UnmountReleasesTheBlockTokensOfDirectReadDisksLeftOpen) {
    auto object = Connected();
    ASSERT_TRUE(object);
    MountCtx ctx = Job(kWeb, "EBS-DIRECT-API");
    ASSERT_EQ(1, object->MountVM(ctx)) << object->GetLastVMErrorDetails();
    ASSERT_FALSE(ctx.vm.disks.empty());
    const VMInfoStructs::SDisk disk = ctx.vm.disks.front();
    VmdkHandle handle;
    ASSERT_EQ(1, object->OpenVmdk(ctx.vm.name, ctx.vm.guid, disk.volumeId, handle));
    auto* client = object->DirectSnapshotAccess();
    ASSERT_TRUE(client);
    // The open disk's entry exists: a second fill of its snapshot is refused.
    EXPECT_FALSE(client->FillSnapshotAccessInfo(disk.snapshotId, ctx.vm.region));
    EXPECT_EQ(1, object->UnmountVM(ctx));
    LogTap log;
    client->ClearSnapshotAccessInfo(disk.snapshotId);
    EXPECT_EQ(1, log.Containing("Could not find access info for snapshot")) << "the entry outlived the unmount";
}

TEST_F(MountFixture, AMountAfterOneNeverUnmountedOpensItsOwnSnapshots) {
    auto object = Connected();
    ASSERT_TRUE(object);
    MountCtx earlier = Job(kWeb, "EBS-DIRECT-API");
    ASSERT_EQ(1, object->MountVM(earlier)) << object->GetLastVMErrorDetails();
    MountCtx ctx = Job(kWeb, "EBS-DIRECT-API");
    ASSERT_EQ(1, object->MountVM(ctx)) << object->GetLastVMErrorDetails();
    ASSERT_EQ(earlier.vm.disks.size(), ctx.vm.disks.size());
    for (size_t i = 0; i < ctx.vm.disks.size(); ++i) {
        ASSERT_NE(earlier.vm.disks[i].snapshotId, ctx.vm.disks[i].snapshotId);
        VmdkHandle handle;
        ASSERT_EQ(1, object->OpenVmdk(ctx.vm.name, ctx.vm.guid, ctx.vm.disks[i].volumeId, handle));
        VMInfoStructs::SDisk opened;
        ASSERT_EQ(1, object->GetVmdkInfo(handle, opened));
        EXPECT_EQ(ctx.vm.disks[i].snapshotId, opened.snapshotId) << "the earlier job's snapshot is read";
        EXPECT_EQ(1, object->CloseVmdk(handle));
    }
    EXPECT_EQ(1, object->UnmountVM(ctx));
}

TEST_F(MountFixture, CleanupRemovesTheAMIOnlyTheCleanupStringKnows) {
    auto object = Connected();
    ASSERT_TRUE(object);
    MountCtx ctx = Job(kWeb);
    ASSERT_EQ(1, object->RegisterCleanerForBackup(ctx));
    // A job that died right after creating its AMI: the framework kept the
    // id in the cleanup string, the registry never heard of it.
    std::vector<std::string> snaps;
    std::string ami;
    ASSERT_TRUE(object->SourceBridge()->CreateAMISnapshot(kWeb, "us-east-1", "_QX_BACKUP_", "", "lost", snaps, ami));
    object->SaveCleanupString(ctx, ami);
    MountCtx later = Job(kWeb);
    later.cleanupString = CVMInfo::LoadCleanupString(kWeb);
    EXPECT_EQ(ami, later.cleanupString);
    EXPECT_EQ(1, object->CleanupVM(later));
    EXPECT_EQ("deregistered", Image(ami).state);
    EXPECT_EQ("", CVMInfo::LoadCleanupString(kWeb)) << "the string is cleared once its AMI is gone";
    // A string that names no AMI is not taken for one.
    later.cleanupString = "../../snap-1";
    EXPECT_EQ(1, object->CleanupVM(later));
}

// Each step that works in the instance's region points the bridges there for
// itself only: what runs next finds what lives in the region the bridges had
// before (the bridge looks ids up in its current region alone).
TEST_F(MountFixture, AStepInTheInstancesRegionLeavesTheBridgesWhereTheyWere) {
    auto object = Connected();
    ASSERT_TRUE(object);
    std::map<std::string, std::string> tags;
    const auto webIsReachable = [&] {
        return object->SourceBridge()->GetCurrentRegion() == "us-east-1" &&
               object->SourceBridge()->GetTagList(kWeb, tags);
    };
    MountCtx ctx = Job(kAnalytics, "EBS-DIRECT-API");
    ASSERT_EQ(1, object->MountVM(ctx)) << object->GetLastVMErrorDetails();
    EXPECT_TRUE(webIsReachable()) << "after the mount";
    ASSERT_FALSE(ctx.vm.disks.empty());
    VmdkHandle handle;
    ASSERT_EQ(1, object->OpenVmdk(ctx.vm.name, ctx.vm.guid, ctx.vm.disks.front().volumeId, handle));
    EXPECT_TRUE(webIsReachable()) << "after the open";
    std::vector<VMInfoStructs::SDiskMetadataInfo> diskTags;
    ASSERT_EQ(1, object->GetVmdkTagList(handle, diskTags)) << "the volume is read in its own region";
    EXPECT_TRUE(webIsReachable()) << "after reading the disk's tags";
    EXPECT_EQ(1, object->CloseVmdk(handle));
    EXPECT_EQ(1, object->UnmountVM(ctx));
    EXPECT_TRUE(webIsReachable()) << "after the unmount";
}
