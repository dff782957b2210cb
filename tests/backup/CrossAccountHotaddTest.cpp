// Hot-add of a source-account instance through a proxy in the admin account:
// which snapshots are shared and which copied under the custom key, the
// key's single grant, the volumes the admin account makes of them, and that
// nothing shared or copied outlives the job, whether it succeeds or fails.
#include <array>

#include "backup/StagingFixture.h"
#include "cloudsim/CloudState.h"
#include "cloudsim/Kms.h"
#include "framework/Clock.h"
#include "support/DemoAccounts.h"
#include "support/TestEnv.h"

using namespace staging;

namespace {

const char kAnalytics[] = "i-0a1b2c3d4e5f60004";   // analytics-01, us-west-2a: d001, d002
const char kDbData[] = "vol-0a1b2c3d4e5f6b002";     // encrypted with alias/db-data-key
const char kAdminRoot[] = "arn:aws:iam::444455556666:root";
const char kDbKeyArn[] = "arn:aws:kms:us-east-1:111122223333:key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d";

struct CrossAccountHotadd : StagingFixture {
    void SetUp() override {
        StagingFixture::SetUp();
        ASSERT_TRUE(ConnectAcrossAccounts());
        // The seed's key policy already names the admin account; here only a
        // grant the job makes may let it use the key. db-logs is on the
        // default EBS key, which cannot be shared.
        cloud->Write([](cloudsim::State& s) {
            for (auto& k : s.kmsKeys) k.allowedAccounts.clear();
            auto& logs = s.volumes.at(kDbLogs);
            logs.encrypted = true;
            logs.kmsKeyId = cloudsim::DefaultKmsKey(s, demo::kSourceAccount, "us-east-1");
        });
    }

    MountCtx Staged(const std::string& instance, int expected = 1) {
        MountCtx ctx = Job(instance, "HOTADD");
        EXPECT_TRUE(object.IsBackupFeasible(ctx.vm, ctx));
        EXPECT_TRUE(object.ConnectDiskInfo(ctx.vm));
        EXPECT_EQ(expected, object._MountVMStreamingBackup(ctx)) << object.GetLastVMErrorDetails();
        return ctx;
    }

    cloudsim::KmsKey CustomKey(const std::string& region) {
        return Peek([&](const cloudsim::State& s) {
            for (const auto& k : s.kmsKeys)
                if (k.alias == "alias/keld-ec2" && k.region == region && k.account == demo::kSourceAccount) return k;
            return cloudsim::KmsKey{};
        });
    }
    std::vector<std::string> Grantees(const std::string& arn) {
        return Peek([&](const cloudsim::State& s) {
            for (const auto& k : s.kmsKeys)
                if (k.arn == arn) return k.grantees;
            return std::vector<std::string>{};
        });
    }

    // Snapshots shared with the admin account, snapshot copies, the job's
    // volumes in the admin account and its AMIs, once deletions are through.
    std::array<size_t, 4> Leftovers(const std::string& instance) {
        env.Clock().AdvanceMs(10 * 60 * 1000);
        auto left = Peek([&](const cloudsim::State& s) {
            std::array<size_t, 4> n{};
            for (const auto& [id, snap] : s.snapshots) {
                n[0] += cloudsim::SharedWith(snap, demo::kAdminAccount);
                n[1] += snap.volumeId == "vol-ffffffff";
            }
            for (const auto& [id, v] : s.volumes) n[2] += v.account == demo::kAdminAccount && v.tags.count("_QX_BACKUP_");
            return n;
        });
        left[3] = LiveImagesOf(instance).size();
        return left;
    }

    // The staged volume holds what the source volume holds.
    void ExpectSameData(const VMInfoStructs::SDisk& disk) {
        const auto blocks = cloud->VolumeBlocks(disk.volumeId);
        EXPECT_FALSE(blocks.empty()) << disk.volumeId;
        EXPECT_EQ(blocks, cloud->VolumeBlocks(disk.newVolumeId)) << disk.volumeId;
        for (int64_t b : blocks)
            EXPECT_EQ(cloud->ReadVolume(disk.volumeId, b * 512 * 1024, 4096),
                      cloud->ReadVolume(disk.newVolumeId, b * 512 * 1024, 4096));
    }
};

}  // namespace

TEST_F(CrossAccountHotadd, DefaultKeySnapshotsAreCopiedCustomKeyOnesSharedAndTheirKeysGrantedOnce) {
    MountCtx ctx = Staged(kDb);
    const cloudsim::KmsKey key = CustomKey("us-east-1");
    ASSERT_FALSE(key.id.empty());
    EXPECT_EQ("arn:aws:kms:us-east-1:111122223333:key/" + key.id, key.arn);
    EXPECT_EQ(std::vector<std::string>{kAdminRoot}, key.grantees);
    EXPECT_EQ(std::vector<std::string>{kAdminRoot}, Grantees(kDbKeyArn));

    ASSERT_EQ(3u, ctx.vm.disks.size());
    std::vector<std::string> copies;
    for (const auto& disk : ctx.vm.disks) {
        const cloudsim::Snapshot snap = Snapshot(disk.snapshotId);
        EXPECT_TRUE(cloudsim::SharedWith(snap, demo::kAdminAccount)) << disk.volumeId;
        const bool copied = disk.volumeId == kDbLogs;
        EXPECT_EQ(copied, disk.snapshotId != disk.snapshotIdCbt) << disk.volumeId;
        if (copied) {
            copies.push_back(disk.snapshotId);
            EXPECT_EQ(key.arn, snap.kmsKeyId);
            EXPECT_EQ("completed", snap.state);
            EXPECT_EQ("", snap.tags.at("_QX_BACKUP_"));
        } else if (disk.volumeId == kDbData) {
            EXPECT_EQ(kDbKeyArn, snap.kmsKeyId);
        }
        const cloudsim::Volume volume = Volume(disk.newVolumeId);
        EXPECT_EQ(demo::kAdminAccount, volume.account);
        EXPECT_EQ("us-east-1a", volume.zone);
        EXPECT_EQ(disk.snapshotId, volume.snapshotId);
        ExpectSameData(disk);
    }
    std::string path;
    std::vector<std::string> registered;
    ASSERT_TRUE(object.Cleaner().GetRegisteredVM(VM_CLEANER_BACKUP, kDb, path, false));
    object.Cleaner().GetRegisteredSnapshots(path, registered);
    EXPECT_EQ(copies, registered);

    ASSERT_EQ(1, object.UnmountVM(ctx)) << object.GetLastVMErrorDetails();
    EXPECT_EQ((std::array<size_t, 4>{0, 0, 0, 0}), Leftovers(kDb));

    // The next job finds the key and its grant and adds neither again.
    MountCtx again = Staged(kDb);
    EXPECT_EQ(key.arn, CustomKey("us-east-1").arn);
    EXPECT_EQ(1u, Grantees(key.arn).size());
    EXPECT_EQ(1u, Grantees(kDbKeyArn).size());
    ASSERT_EQ(1, object.UnmountVM(again));
    EXPECT_EQ((std::array<size_t, 4>{0, 0, 0, 0}), Leftovers(kDb));
}

TEST_F(CrossAccountHotadd, AnInstanceOfAnotherRegionIsCopiedToTheProxysRegion) {
    MountCtx ctx = Staged(kAnalytics);
    const cloudsim::KmsKey key = CustomKey("us-east-1");
    ASSERT_FALSE(key.id.empty());
    EXPECT_TRUE(CustomKey("us-west-2").id.empty());
    ASSERT_EQ(2u, ctx.vm.disks.size());
    for (const auto& disk : ctx.vm.disks) {
        const cloudsim::Snapshot snap = Snapshot(disk.snapshotId);
        EXPECT_EQ("us-east-1", snap.region);
        EXPECT_EQ(key.arn, snap.kmsKeyId);
        EXPECT_TRUE(cloudsim::SharedWith(snap, demo::kAdminAccount));
        EXPECT_EQ("us-west-2", Snapshot(disk.snapshotIdCbt).region);
        EXPECT_EQ("us-east-1a", Volume(disk.newVolumeId).zone);
        ExpectSameData(disk);
    }
    ASSERT_EQ(1, object.UnmountVM(ctx)) << object.GetLastVMErrorDetails();
    EXPECT_EQ((std::array<size_t, 4>{0, 0, 0, 0}), Leftovers(kAnalytics));
}

TEST_F(CrossAccountHotadd, AKeyThatCannotBePreparedStopsTheJobBeforeAnyCopy) {
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::string details;
    } rows[] = {
        {"describe fails",
         [&] { cloud->AddFault({"DescribeEncryptionKey", 0, "AccessDeniedException: not allowed to describe"}); },
         "AccessDeniedException: not allowed to describe"},
        {"create fails", [&] { cloud->AddFault({"CreateEncryptionKey", 0, "LimitExceededException: too many keys"}); },
         "LimitExceededException: too many keys"},
        {"the grant is refused",
         [&] { cloud->AddFault({"CreateEncryptionKeyGrant", 0, "LimitExceededException: grant quota reached"}); },
         "LimitExceededException: grant quota reached"},
        {"its grants cannot be listed",
         [&] { cloud->AddFault({"ListEncryptionKeyGrantees", 0, "KMSInternalException: try again"}); },
         "KMSInternalException: try again"},
        // Last: the key the row before made stays without its ARN.
        {"the key has no ARN",
         [&] {
             ASSERT_FALSE(CustomKey("us-east-1").id.empty());
             cloud->Write([](cloudsim::State& s) {
                 for (auto& k : s.kmsKeys)
                     if (k.alias == "alias/keld-ec2") k.arn.clear();
             });
         },
         "Encryption key [alias/keld-ec2] has no ARN."},
    };
    for (const auto& row : rows) {
        cloud->ClearFaults();
        row.arrange();
        MountCtx ctx = Staged(kDb, 0);
        EXPECT_EQ(17, object.GetLastVMError()) << row.what;
        EXPECT_EQ(row.details, object.GetLastVMErrorDetails()) << row.what;
        EXPECT_EQ(0u, Leftovers(kDb)[1]) << row.what;   // no copy was made
        cloud->ClearFaults();
        ASSERT_EQ(1, object.UnmountVM(ctx)) << row.what << ": " << object.GetLastVMErrorDetails();
        EXPECT_EQ((std::array<size_t, 4>{0, 0, 0, 0}), Leftovers(kDb)) << row.what;
    }
}

TEST_F(CrossAccountHotadd, FailedOrUnfinishedCopiesAndFailedVolumesLeaveNothingSharedOrCopied) {
    // The copy call fails: its text is the job's.
    cloud->AddFault({"CopySnapshot", 0, "SnapshotCopyLimitExceeded: too many copies in progress"});
    MountCtx failed = Staged(kDb, 0);
    EXPECT_EQ(17, object.GetLastVMError());
    EXPECT_EQ("SnapshotCopyLimitExceeded: too many copies in progress", object.GetLastVMErrorDetails());
    cloud->ClearFaults();
    ASSERT_EQ(1, object.UnmountVM(failed));
    EXPECT_EQ((std::array<size_t, 4>{0, 0, 0, 0}), Leftovers(kDb));

    // A copy that never completes: the wait times out on the virtual clock.
    TestEnv::SetSetting("VirtualServer", "AMITimeoutInSec", "600");
    cloud->AddFault({"CopySnapshot", 0, "", 0, "stuck"});
    MountCtx stuck = Staged(kDb, 0);
    EXPECT_EQ(17, object.GetLastVMError());
    EXPECT_EQ(1u, Leftovers(kDb)[1]);
    cloud->ClearFaults();
    ASSERT_EQ(1, object.UnmountVM(stuck));
    EXPECT_EQ((std::array<size_t, 4>{0, 0, 0, 0}), Leftovers(kDb));

    // Shared, then the admin account's volume fails; the AMI's deletion
    // fails too, yet its snapshots are no longer shared.
    cloud->AddFault({"CreateVolume", 2, "InsufficientVolumeCapacity: none left"});
    MountCtx noVolume = Staged(kDb, 0);
    cloud->AddFault({"DeleteAMISnapshot", 0, "InternalError: try again"});
    EXPECT_EQ(0, object.UnmountVM(noVolume));
    const auto left = Leftovers(kDb);
    EXPECT_EQ(0u, left[0]);
    EXPECT_EQ(0u, left[2]);
    cloud->ClearFaults();
    // The next job's clean-up takes what stayed registered.
    MountCtx next = Job(kDb, "HOTADD");
    ASSERT_EQ(1, object.CleanupVM(next)) << object.GetLastVMErrorDetails();
    EXPECT_EQ((std::array<size_t, 4>{0, 0, 0, 0}), Leftovers(kDb));
}

TEST_F(CrossAccountHotadd, KeyArnsNameTheirAccountAndForeignKeysAreLeftForManualSharing) {
    std::string account;
    object.GetAccountIdFromKeyARN(kDbKeyArn, account);
    EXPECT_EQ(demo::kSourceAccount, account);
    object.GetAccountIdFromKeyARN("arn:aws-us-gov:kms:us-gov-west-1:123456789012:key/abc", account);
    EXPECT_EQ("123456789012", account);
    object.GetAccountIdFromKeyARN("1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d", account);
    EXPECT_EQ("", account);
    EXPECT_EQ(kAdminRoot, object.getARNForAdminAccount());
    // A third account's key: nothing granted, the share goes on.
    const size_t grants = Grantees(kDbKeyArn).size();
    EXPECT_TRUE(object.ShareEncryptionKey("arn:aws:kms:us-east-1:999988887777:key/x", "us-east-1"));
    EXPECT_TRUE(object.ShareEncryptionKey("alias/not-an-arn", "us-east-1"));
    EXPECT_EQ(grants, Grantees(kDbKeyArn).size());
}
