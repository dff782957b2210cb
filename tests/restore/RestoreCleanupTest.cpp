// What the close and clean-up of a restore remove, and what they must never
// touch: the restored instance's disks, an instance the restore reused, an
// integrity AMI that a replica still names.
#include <algorithm>

#include "bridge/AmazonSDKBridge.h"
#include "restore/RestoreFixture.h"

using namespace restore;

namespace {
struct RestoreCleanupFixture : RestoreFixture {
    // An empty volume of the source account in zone, attached to instance.
    std::string AttachedVolume(CAmazonInfo& object, const std::string& zone, const std::string& instance) {
        VMInfoStructs::SDisk disk = Disk("", kGiB, "gp2");
        disk.zone = zone;
        auto* bridge = object.SourceBridge();
        EXPECT_TRUE(bridge->CreateVolume(disk, false, "")) << bridge->GetLastErrorString();
        env.Clock().AdvanceMs(60 * 1000);
        bool conflict = false;
        EXPECT_TRUE(bridge->AttachVolume(disk.newVolumeId, instance, zone, false, "", conflict, false))
            << bridge->GetLastErrorString();
        env.Clock().AdvanceMs(60 * 1000);
        return disk.newVolumeId;
    }

    bool AttachedTo(const std::string& instance, const std::string& volume) {
        const auto ids = Instance(instance).volumeIds;
        return std::find(ids.begin(), ids.end(), volume) != ids.end();
    }
};
}  // namespace

// A job that failed after the data mover wrote its volumes: the one still
// on the proxy is detached at close and deleted at clean-up; the one already
// attached to the restored instance (and so no longer registered) stays.
TEST_F(RestoreCleanupFixture, AFailedJobRemovesOnlyWhatItStillOwns) {
    auto object = Connected();
    RestoreCtx ctx = Job();
    ASSERT_TRUE(object->CheckRestoreFeasibility(ctx));
    ASSERT_EQ(1, object->RegisterCleanerForRestore(ctx));
    const std::string onProxy = AttachedVolume(*object, "us-east-1a", kWeb);
    const std::string handedOver = AttachedVolume(*object, "us-east-1b", kDb);
    ASSERT_TRUE(object->Cleaner().RegisterDisk(VM_CLEANER_RESTORE, ctx.registrationGuid, onProxy));
    for (const auto& id : {onProxy, handedOver}) {
        ctx.disks.push_back(Disk("disk", kGiB));
        ctx.disks.back().newVolumeId = ctx.disks.back().newVolumeId2 = id;
        ctx.disks.back().diskType = 27;
    }

    EXPECT_EQ(1, object->CloseRestoreVM(ctx));
    env.Clock().AdvanceMs(60 * 1000);
    EXPECT_FALSE(AttachedTo(kWeb, onProxy));
    EXPECT_EQ("available", Volume(onProxy).state);
    EXPECT_TRUE(AttachedTo(kDb, handedOver));

    EXPECT_EQ(1, object->CleanupRestoreVM(ctx));
    env.Clock().AdvanceMs(60 * 1000);
    EXPECT_TRUE(Volume(onProxy).id.empty());
    EXPECT_TRUE(AttachedTo(kDb, handedOver));
    std::vector<CleanerEntity> left;
    object->Cleaner().ListAll(left);
    EXPECT_TRUE(left.empty());
}

TEST_F(RestoreCleanupFixture, OnlyAnInstanceTheJobLaunchedIsDeleted) {
    const struct {
        const char* what;
        bool newGuid;
        bool created;
        bool deleted;
    } rows[] = {{"restored into the existing instance", false, false, false},
                {"launched by the job", true, true, true}};
    for (const auto& row : rows) {
        auto object = Connected();
        ASSERT_TRUE(object);
        RestoreCtx ctx = Job("us-east-1b");
        ASSERT_EQ(1, object->RegisterCleanerForRestore(ctx));
        ASSERT_TRUE(object->Cleaner().RegisterCreatedVM(VM_CLEANER_RESTORE, ctx.registrationGuid, kDb));
        ctx.vmGuid = kDb;
        ctx.newVMGuid = row.newGuid;
        ctx.vmCreated = row.created;
        EXPECT_EQ(1, object->CleanupRestoreVM(ctx)) << row.what;
        env.Clock().AdvanceMs(10 * 60 * 1000);
        EXPECT_EQ(row.deleted, Terminated(kDb)) << row.what;
        if (!row.deleted) {
            EXPECT_EQ(3u, Instance(kDb).volumeIds.size()) << row.what;
        }
    }
}

TEST_F(RestoreCleanupFixture, AnIntegrityAMIThatAReplicaNamesIsKept) {
    for (const bool named : {true, false}) {
        auto object = Connected();
        ASSERT_TRUE(object);
        auto* source = object->SourceBridge();
        std::vector<std::string> snaps;
        std::string ami;
        ASSERT_TRUE(source->CreateAMISnapshot(kDb, "us-east-1", "_QX_BACKUP_", "", "integrity", snaps, ami));
        env.Clock().AdvanceMs(10 * 60 * 1000);
        if (named) {
            ASSERT_TRUE(source->SetTag(kDb, "KD_Integrity_Snap", "ami-0000000000older#" + ami, true));
        }
        RestoreCtx ctx = Job("us-east-1b");
        ctx.integritySnapshotId = ami;
        EXPECT_EQ(1, object->CleanupRestoreVM(ctx));
        EXPECT_EQ(named, ImageLives(ami)) << (named ? "named" : "not named");
    }
}
