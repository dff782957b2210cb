// Unmount, clean-up and the undo of a failed mount, driven by what the job
// registered with the cleanup store.
#include "MountFixture.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"

using namespace mount;

namespace {
struct UnmountTest : MountFixture {
    std::unique_ptr<CAmazonInfo> object;
    std::string volume, snapshot;

    void SetUp() override {
        MountFixture::SetUp();
        object = Connected();
        ASSERT_TRUE(object);
    }

    // What a job of kWeb leaves registered when it stops half-way: a staged
    // volume, a snapshot and the configuration file.
    MountCtx StageLeftovers(const std::string& mode) {
        MountCtx ctx = Job(kWeb, mode);
        EXPECT_TRUE(object->RegisterCleanerForBackup(ctx));
        VMInfoStructs::SDisk disk;
        disk.zone = "us-east-1b";
        disk.size = 1LL << 30;
        disk.volumeType = "gp3";
        EXPECT_TRUE(object->AdminBridge()->CreateVolume(disk, false, ""));
        EXPECT_TRUE(object->SourceBridge()->CreateSnapshot(kWebRoot, "_QX_BACKUP_", "left", snapshot, true));
        volume = disk.newVolumeId;
        EXPECT_TRUE(object->Cleaner().RegisterDisk(VM_CLEANER_BACKUP, kWeb, volume));
        EXPECT_TRUE(object->Cleaner().RegisterSnapshot(VM_CLEANER_BACKUP, kWeb, snapshot));
        EXPECT_TRUE(FwFile::MakeDirs(object->JobMountFolder(ctx)));
        EXPECT_TRUE(FwFile::WriteAllAtomic(ConfigFile(ctx), "{}"));
        ctx.cleanupString = "ami-0000000000000cafe";
        env.Clock().AdvanceMs(60 * 1000);
        return ctx;
    }

    std::string ConfigFile(const MountCtx& ctx) const {
        return object->JobMountFolder(ctx) + "/" + ctx.effectiveVMGuid + "_InstanceConfig.xml";
    }

    bool Registered() {
        std::string path;
        return object->Cleaner().GetRegisteredVM(VM_CLEANER_BACKUP, kWeb, path, false);
    }

    bool LeftoversExist() {
        env.Clock().AdvanceMs(60 * 1000);
        return !Volume(volume).id.empty() || !Snapshot(snapshot).id.empty();
    }
};
}  // namespace

TEST_F(UnmountTest, UnmountRemovesTheRegisteredResourcesAndTheConfigFile) {
    MountCtx ctx = StageLeftovers("HOTADD");
    ASSERT_EQ(1, object->UnmountVM(ctx));
    EXPECT_FALSE(LeftoversExist());
    EXPECT_FALSE(Registered());
    EXPECT_FALSE(FwFile::Exists(ConfigFile(ctx)));
    EXPECT_TRUE(ctx.cleanupString.empty());
}

TEST_F(UnmountTest, SnapAndPseudoMountsHaveNothingToUnmount) {
    MountCtx ctx = StageLeftovers("HOTADD");
    ctx.snapBackup = true;
    EXPECT_EQ(1, object->UnmountVM(ctx));
    ctx.snapBackup = false;
    ctx.proxylessLiveBrowseMount = true;
    EXPECT_EQ(1, object->UnmountVM(ctx));
    EXPECT_TRUE(LeftoversExist());
    EXPECT_TRUE(Registered());
}

TEST_F(UnmountTest, WithoutTheProxyRecordHotaddUnmountFailsAndKeepsEverything) {
    MountCtx ctx = StageLeftovers("HOTADD");
    cloud->AddFault({"GetVMInfoForVM", 0, "RequestLimitExceeded: Request limit exceeded."});
    EXPECT_EQ(0, object->UnmountVM(ctx));
    EXPECT_EQ(237, object->GetLastVMError());
    EXPECT_EQ("ami-0000000000000cafe", ctx.cleanupString);
    EXPECT_TRUE(LeftoversExist());
    EXPECT_TRUE(Registered());
    EXPECT_TRUE(FwFile::Exists(ConfigFile(ctx)));
}

TEST_F(UnmountTest, CleanupNeedsTheProxyRecordOnlyForHotadd) {
    MountCtx ctx = StageLeftovers("HOTADD");
    cloud->AddFault({"GetVMInfoForVM", 0, "RequestLimitExceeded: Request limit exceeded."});
    EXPECT_EQ(0, object->CleanupVM(ctx));
    EXPECT_TRUE(Registered());
    // The job that registered the entry is still running: it goes all the same.
    ctx.transportMode = "EBS-DIRECT-API";
    ASSERT_EQ(1, object->CleanupVM(ctx));
    EXPECT_FALSE(LeftoversExist());
    EXPECT_FALSE(Registered());
    EXPECT_TRUE(ctx.cleanupString.empty());
}

TEST_F(UnmountTest, AFailedMountUndoesWhatTheJobRegistered) {
    MountCtx ctx = StageLeftovers("EBS-DIRECT-API");
    // Whatever staging is built on, it cannot make its snapshots.
    cloud->AddFault({"CreateAMISnapshot", 0, "InternalError: snapshot service down"});
    cloud->AddFault({"CreateSnapshot", 0, "InternalError: snapshot service down"});
    EXPECT_EQ(0, object->MountVM(ctx));
    EXPECT_FALSE(LeftoversExist());
    EXPECT_FALSE(Registered());
    EXPECT_FALSE(FwFile::Exists(ConfigFile(ctx)));
}

TEST_F(UnmountTest, ABackupCopyWithoutItsSnapMetadataFailsAndThePostBackupStepIsNotBuilt) {
    const struct {
        const char* what;
        bool indexingV2;
        int code;
    } rows[] = {
        {"backup copy: the snap job was never mounted", false, 1},
        {"backup copy, indexing V2: no snap metadata file", true, 28},
    };
    for (const auto& row : rows) {
        MountCtx ctx = Job(kWeb);
        ctx.snapBackup = ctx.backupToTape = true;
        ctx.snapJobId = 4711;   // no test reads this snap job's metadata
        ctx.indexingV2 = row.indexingV2;
        EXPECT_EQ(0, object->MountVM(ctx)) << row.what;
        EXPECT_EQ(row.code, object->GetLastVMError()) << row.what;
    }
    // The snapshot phase's post-backup step is not built either.
    MountCtx ctx = Job(kWeb);
    ctx.snapBackup = true;
    ctx.cbtEnabled = true;
    ctx.changeId = "the snapshot job's change id";
    ctx.cleanupString = ctx.amiId = "ami-0000000000000cafe";
    EXPECT_EQ(0, object->PostBackupVM(ctx));
    EXPECT_EQ(kErrNotSupported, object->GetLastVMError());
    EXPECT_EQ("Snap backup is not supported yet", object->GetLastVMErrorDetails());
    EXPECT_EQ("the snapshot job's change id", ctx.changeId);
    EXPECT_EQ("ami-0000000000000cafe", ctx.cleanupString);
}

TEST_F(UnmountTest, ADirectReadLiveBrowseMountsOpensAndLeavesNothing) {
    MountCtx ctx = Job(kWeb, "EBS-DIRECT-API");
    ctx.liveBrowse = ctx.proxylessLiveBrowse = true;
    ASSERT_EQ(1, object->MountVM(ctx)) << object->GetLastVMError() << " " << object->GetLastVMErrorDetails();
    ASSERT_FALSE(ctx.amiId.empty());
    ASSERT_FALSE(ctx.vm.disks.empty());
    for (const auto& disk : ctx.vm.disks) {
        VmdkHandle handle;
        ASSERT_EQ(1, object->OpenVmdk(ctx.vm.name, ctx.vm.guid, disk.volumeId, handle)) << disk.volumeId;
        VMInfoStructs::SDisk opened;
        ASSERT_EQ(1, object->GetVmdkInfo(handle, opened));
        EXPECT_EQ(disk.snapshotId, opened.snapshotId);
        EXPECT_EQ(1, object->CloseVmdk(handle));
    }
    const std::string ami = ctx.amiId;
    ASSERT_EQ(1, object->UnmountVM(ctx));
    EXPECT_FALSE(Registered());
    env.Clock().AdvanceMs(60 * 1000);
    EXPECT_FALSE(ImageLives(ami)) << ami;
    for (const auto& disk : ctx.vm.disks) EXPECT_TRUE(Snapshot(disk.snapshotId).id.empty()) << disk.snapshotId;
}

// Two live jobs of one instance: the second one, refused before it mounts
// or run to its end, removes nothing of the first one's, neither in the
// cloud nor in the instance's mount path; the first one's clean-up is its
// own, or that of the first job after it has ended.
TEST_F(UnmountTest, ASecondJobOfTheInstanceLeavesTheFirstOnesResourcesAndFilesAlone) {
    TestEnv::SetSetting("VirtualServer", "nAmazonUseRestAPIForDirectSnapshotAccess", "false");
    MountCtx first = StageLeftovers("HOTADD");
    const std::string firstConfig = ConfigFile(first);
    auto second = Connected();
    ASSERT_TRUE(second);
    // Refused at the choice of a mode, before it registered anything.
    TestEnv::SetSetting("VirtualServer", "bAmazonDirectReadEnabled", "true");
    PermissionBridge::allowed = false;
    MountCtx refused = Job(kWeb);
    EXPECT_EQ(0, second->MountVM(refused));
    EXPECT_EQ(287, second->GetLastVMError());
    PermissionBridge::allowed = true;
    MountCtx ran = Job(kWeb, "EBS-DIRECT-API");
    ASSERT_EQ(1, second->MountVM(ran)) << second->GetLastVMErrorDetails();
    EXPECT_TRUE(FwFile::Exists(second->JobMountFolder(ran) + "/" + kWeb + "_InstanceConfig.xml"));
    ASSERT_EQ(1, second->UnmountVM(ran));
    ASSERT_EQ(1, second->CleanupVM(ran));
    EXPECT_TRUE(LeftoversExist());
    EXPECT_TRUE(Registered());
    EXPECT_TRUE(FwFile::Exists(firstConfig));

    // Once the first job is over, the next job takes what it left, but no
    // folder that is not a job run's.
    object.reset();
    const std::string stranger = first.mountPath + "/not_a_job_run";
    ASSERT_TRUE(FwFile::MakeDirs(stranger));
    auto next = Connected();
    MountCtx later = Job(kWeb, "EBS-DIRECT-API");
    ASSERT_EQ(1, next->MountVM(later)) << next->GetLastVMErrorDetails();
    EXPECT_FALSE(LeftoversExist());
    EXPECT_FALSE(FwFile::Exists(firstConfig));
    EXPECT_TRUE(FwFile::IsDirectory(stranger));
    ASSERT_EQ(1, next->UnmountVM(later));
}
