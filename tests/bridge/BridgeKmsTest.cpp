// Customer keys, grants and snapshot copies as KMS and EBS give them, and
// what another account may then do with a snapshot.
#include <regex>

#include "BridgeFixture.h"

namespace {

const char kAdminRoot[] = "arn:aws:iam::444455556666:root";
const char kDbKeyArn[] = "arn:aws:kms:us-east-1:111122223333:key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d";

class BridgeKmsTest : public BridgeFixture {
protected:
    // A completed snapshot of a new volume encrypted with the default EBS key.
    std::string DefaultKeySnapshot() {
        VMInfoStructs::SDisk disk;
        disk.zone = "us-east-1a";
        disk.size = 10 * demo::kGiB;
        disk.volumeType = "gp3";
        disk.encrypted = true;
        EXPECT_TRUE(bridge.CreateVolume(disk, false, "")) << bridge.GetLastErrorString();
        Advance(Timing().volumeCreateMs);
        EXPECT_TRUE(bridge.IsVolumeDefaultEncrypted(disk.newVolumeId, "us-east-1"));
        std::string id;
        EXPECT_TRUE(bridge.CreateSnapshot(disk.newVolumeId, "", "", id, false));
        Advance(Timing().snapshotMs);
        return id;
    }
    bool AdminMakesVolumeOf(const std::string& snapshotId) {
        std::string vol;
        return admin.CreateVolume(snapshotId, "us-east-1a", "", "", 0, 0, false, "", vol, {}, false, "");
    }
};

}  // namespace

TEST_F(BridgeKmsTest, CustomerKeysCarryTheirAccountsArnAndAnAliasOnlyOnce) {
    std::string arn;
    ASSERT_TRUE(bridge.CreateEncryptionKey("us-east-1", "keld-ec2", arn)) << bridge.GetLastErrorString();
    EXPECT_TRUE(std::regex_match(arn, std::regex("arn:aws:kms:us-east-1:111122223333:key/"
                                                 "[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-8[0-9a-f]{3}-[0-9a-f]{12}")))
        << arn;
    std::string found, state;
    bool notFound = true;
    ASSERT_TRUE(bridge.DescribeEncryptionKey("us-east-1", "alias/keld-ec2", found, notFound, state));
    EXPECT_EQ(arn + " Enabled", found + " " + state);
    EXPECT_FALSE(bridge.IsDefaultEncryptKey(arn, "us-east-1"));
    EXPECT_TRUE(bridge.IsDefaultEncryptKey("alias/aws/ebs", "us-east-1"));

    EXPECT_FALSE(bridge.CreateEncryptionKey("us-east-1", "keld-ec2", found));
    EXPECT_EQ("AlreadyExistsException: An alias with the name arn:aws:kms:us-east-1:111122223333:alias/keld-ec2 "
              "already exists",
              bridge.GetLastErrorString());
    EXPECT_FALSE(bridge.CreateEncryptionKey("us-east-1", "aws/ebs", found));
    // Aliases are regional: the other region has none yet.
    std::string west;
    ASSERT_TRUE(bridge.CreateEncryptionKey("us-west-2", "keld-ec2", west));
    EXPECT_EQ(0u, west.find("arn:aws:kms:us-west-2:111122223333:key/"));
}

TEST_F(BridgeKmsTest, AGrantLetsTheAdminAccountUseASharedSnapshotUntilTheQuotaIsReached) {
    ConnectAdmin();
    cloud->Write([](cloudsim::State& s) {
        for (auto& k : s.kmsKeys) k.allowedAccounts.clear();
    });
    // Shared, but the key's policy names no other account.
    ASSERT_TRUE(bridge.ShareSnapshot(demo::kDbSnap, demo::kAdminAccount));
    EXPECT_FALSE(AdminMakesVolumeOf(demo::kDbSnap));
    ASSERT_TRUE(bridge.CreateEncryptionKeyGrant("us-east-1", kDbKeyArn, kAdminRoot)) << bridge.GetLastErrorString();
    EXPECT_TRUE(AdminMakesVolumeOf(demo::kDbSnap)) << admin.GetLastErrorString();
    // A grant is no share: the snapshot withdrawn, the key alone gives nothing.
    ASSERT_TRUE(bridge.UnshareSnapshot(demo::kDbSnap, demo::kAdminAccount));
    EXPECT_FALSE(AdminMakesVolumeOf(demo::kDbSnap));

    std::vector<std::string> grantees;
    ASSERT_TRUE(bridge.ListEncryptionKeyGrantees("us-east-1", kDbKeyArn, grantees));
    EXPECT_EQ(std::vector<std::string>{kAdminRoot}, grantees);
    // Only the key's own account grants it; AWS managed keys take none.
    EXPECT_FALSE(admin.CreateEncryptionKeyGrant("us-east-1", kDbKeyArn, kAdminRoot));
    EXPECT_FALSE(bridge.CreateEncryptionKeyGrant("us-east-1", "alias/aws/ebs", kAdminRoot));
    EXPECT_FALSE(bridge.CreateEncryptionKeyGrant("us-east-1", kDbKeyArn, "444455556666"));

    cloud->Write([](cloudsim::State& s) {
        for (auto& k : s.kmsKeys)
            if (k.arn == kDbKeyArn) k.grantees.resize(cloudsim::kGrantsPerKey, "arn:aws:iam::999988887777:root");
    });
    EXPECT_FALSE(bridge.CreateEncryptionKeyGrant("us-east-1", kDbKeyArn, kAdminRoot));
    EXPECT_EQ(0u, bridge.GetLastErrorString().find("LimitExceededException: ")) << bridge.GetLastErrorString();
}

TEST_F(BridgeKmsTest, ACopyIsANewPendingSnapshotUnderTheKeyItNames) {
    ConnectAdmin();
    const std::string managed = DefaultKeySnapshot();
    EXPECT_FALSE(bridge.ShareSnapshot(managed, demo::kAdminAccount));
    std::string key, copy;
    ASSERT_TRUE(bridge.CreateEncryptionKey("us-east-1", "keld-ec2", key));
    ASSERT_TRUE(bridge.CopySnapshot(managed, "us-east-1", "us-east-1", true, key, copy)) << bridge.GetLastErrorString();
    EXPECT_NE(managed, copy);
    EXPECT_EQ("pending", SnapshotState(copy));
    // Shared and granted, a pending copy still makes no volume.
    ASSERT_TRUE(bridge.ShareSnapshot(copy, demo::kAdminAccount)) << bridge.GetLastErrorString();
    ASSERT_TRUE(bridge.CreateEncryptionKeyGrant("us-east-1", key, kAdminRoot));
    EXPECT_FALSE(AdminMakesVolumeOf(copy));
    EXPECT_EQ("IncorrectState: Snapshot is in invalid state - pending", admin.GetLastErrorString());
    Advance(Timing().snapshotMs);
    EXPECT_EQ("completed", SnapshotState(copy));
    EXPECT_TRUE(AdminMakesVolumeOf(copy)) << admin.GetLastErrorString();
    VMInfoStructs::SChildDisk info;
    ASSERT_TRUE(bridge.GetSnapshotInfo(copy, "us-east-1", info));
    EXPECT_TRUE(info.encrypted);
    EXPECT_EQ(key, info.kmsKeyId);
    EXPECT_EQ(cloud->SnapshotBlocks(managed), cloud->SnapshotBlocks(copy));

    // To another region, with a key of that region; none of its own there.
    std::string west;
    EXPECT_FALSE(bridge.CopySnapshot(managed, "us-east-1", "us-west-2", true, key, west));
    ASSERT_TRUE(bridge.CopySnapshot(managed, "us-east-1", "us-west-2", true, "", west));
    ASSERT_TRUE(bridge.GetSnapshotInfo(west, "us-west-2", info));
    EXPECT_EQ(info.kmsKeyId, "arn:aws:kms:us-west-2:111122223333:key/2b3c4d5e-6f70-4b8c-9dae-1f2a3b4c5d6e");
    // A key for a plain snapshot without encryption asked for, and a
    // snapshot not yet complete, are refused.
    std::string plain;
    ASSERT_TRUE(bridge.CreateSnapshot(NewVolume("us-east-1a"), "", "", plain, false));
    Advance(Timing().snapshotMs);
    EXPECT_FALSE(bridge.CopySnapshot(plain, "us-east-1", "us-east-1", false, key, west));
    EXPECT_EQ("InvalidParameterDependency: The parameter KmsKeyId requires the parameter Encrypted to be set.",
              bridge.GetLastErrorString());
    std::string pending;
    ASSERT_TRUE(bridge.CopySnapshot(managed, "us-east-1", "us-east-1", true, key, pending));
    EXPECT_FALSE(bridge.CopySnapshot(pending, "us-east-1", "us-east-1", true, key, west));
    EXPECT_EQ("IncorrectState: Snapshot is in invalid state - pending", bridge.GetLastErrorString());
}
