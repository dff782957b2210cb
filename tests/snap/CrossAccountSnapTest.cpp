// Cross-account snap backups: the source account's instance snapshotted for
// a proxy in the admin account. A snapshot of a volume under the source
// account's default key (which the admin account can never use) ends as a
// copy under the custom key granted to the admin account; no other is
// copied.
#include <gtest/gtest.h>

#include <algorithm>

#include "framework/FileUtils.h"
#include "framework/SnapEngine.h"
#include "framework/SnapPairText.h"
#include "support/ConnectedFixture.h"

namespace {
const char kAnalytics[] = "i-0a1b2c3d4e5f60004";   // us-west-2: d001, d002
const char kWeb[] = "i-0a1b2c3d4e5f60001";         // us-east-1: a001, a002
const char kD001[] = "vol-0a1b2c3d4e5f6d001";
const char kD002[] = "vol-0a1b2c3d4e5f6d002";
const char kA001[] = "vol-0a1b2c3d4e5f6a001";
const char kWestDefaultKey[] = "arn:aws:kms:us-west-2:111122223333:key/2b3c4d5e-6f70-4b8c-9dae-1f2a3b4c5d6e";
const char kEastDefaultKey[] = "arn:aws:kms:us-east-1:111122223333:key/0d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6";
const char kEastCustomerKey[] = "arn:aws:kms:us-east-1:111122223333:key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d";
const char kAdminRoot[] = "arn:aws:iam::444455556666:root";
constexpr int kArray = 11;

class CrossAccountSnapTest : public ConnectedFixture {
protected:
    void SetUp() override {
        CAmazonInfo::c_snapCrossAccountKeys.Reset();
        ConnectObject(Accounts::SourceAndAdmin);
        FwSnapEngine::RegisterArray(kArray, {demo::kRegion, demo::kSourceKey, demo::kSourceSecret});
        Encrypt(kD001, kWestDefaultKey);
    }
    void TearDown() override { FwSnapEngine::UnregisterArray(kArray); }

    void Encrypt(const std::string& volume, const std::string& key) {
        cloud->Write([&](cloudsim::State& s) {
            s.volumes[volume].encrypted = true;
            s.volumes[volume].kmsKeyId = key;
        });
    }
    // A snap backup of the instance: job-level, or the VM-centric mount.
    int SnapBackup(int64_t id, const char* instance, bool vmCentric = false) {
        MountCtx ctx;
        ctx.jobId = id;
        ctx.snapBackup = true;
        ctx.snapControlHostId = kArray;
        ctx.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "JobResults" + std::to_string(id));
        SVMBasicInfo entry;
        entry.guid = entry.name = ctx.requestedVMGuid = instance;
        entry.vmJobId = ctx.vmJobId = id * 10;
        ctx.snapInstances.push_back(entry);
        if (!vmCentric) return object.PreSnap(ctx);
        ctx.indexingV2 = true;
        object.CreateArchiveFileForSnapBackup(ctx, ctx.archiveFileId, instance);
        return object.MountVM(ctx);
    }
    // The volume's entry of the given type in the job's record (the last one).
    std::string Entry(int type, const std::string& volume) {
        std::string out;
        const auto& record = object.SnapState().record;
        for (const auto& m : record.metadata)
            if (m.type == type && record.snaps[m.referenceId - 1].sourceDevice.find(volume) != std::string::npos)
                out = m.metadata;
        return out;
    }
    std::string TargetKey(const std::string& volume) {
        return FwSnapPairs::Value(Entry(kSMMetaTransient, volume), "targetEncryptionKey");
    }
    size_t SnapshotsOf(const std::string& volume) {
        return Peek([&](const cloudsim::State& s) {
            size_t n = 0;
            for (const auto& [id, snap] : s.snapshots) n += snap.volumeId == volume ? 1 : 0;
            return n;
        });
    }
    // The region's custom key and its grantees.
    std::pair<std::string, std::vector<std::string>> CustomKey(const std::string& region) {
        return Peek([&](const cloudsim::State& s) {
            std::pair<std::string, std::vector<std::string>> out;
            for (const auto& k : s.kmsKeys)
                if (k.alias == "alias/keld-ec2" && k.region == region) out = {k.arn, k.grantees};
            return out;
        });
    }
    static std::string Dollars(std::string arn) {
        std::replace(arn.begin(), arn.end(), ':', '$');
        return arn;
    }
};
}  // namespace

TEST(SnapCrossAccountKeysTest, AKeyServesOnlyItsOwnAccountsAndRegion) {
    AmazonSnap::SnapCrossAccountKeys keys;
    keys.StoreKey("111", "444", "us-west-2", "arn-a");
    std::string arn;
    EXPECT_TRUE(keys.FindKey("111", "444", "us-west-2", arn) && arn == "arn-a");
    EXPECT_FALSE(keys.FindKey("222", "444", "us-west-2", arn) || keys.FindKey("111", "555", "us-west-2", arn) ||
                 keys.FindKey("111", "444", "us-east-1", arn));
}

TEST_F(CrossAccountSnapTest, ADefaultKeySnapshotEndsAsACopyUnderTheGrantedCustomKeyUnlessCopiesAreOff) {
    int64_t job = 900;
    for (const bool copiesOff : {false, true}) {
        for (const bool vmCentric : {false, true}) {
            SCOPED_TRACE(std::string(copiesOff ? "copies off" : "copies on") + (vmCentric ? ", VM-centric" : ""));
            CAmazonInfo::c_snapCrossAccountKeys.Reset();
            TestEnv::SetSetting("VirtualServer", "bAmazonDisableSnapshotCopy", copiesOff ? "true" : "false");
            const size_t originals = SnapshotsOf(kD001), plain = SnapshotsOf(kD002);
            ASSERT_EQ(SnapBackup(++job, kAnalytics, vmCentric), 1) << object.GetLastVMErrorDetails();
            const auto snap = Snapshot(FwSnapPairs::Value(Entry(kSMMetaSnapshotPairs, kD001), "snapUUID"));
            EXPECT_EQ(snap.state, "completed");
            EXPECT_EQ(SnapshotsOf(kD002), plain + 1) << "an unencrypted volume is not copied";
            const auto key = CustomKey("us-west-2");
            if (!vmCentric) {
                EXPECT_NE(Entry(kSMMetaTransient, kD001).find(";crossAccountOp:1;"), std::string::npos);
                EXPECT_EQ(TargetKey(kD001), copiesOff ? "" : Dollars(key.first));
                EXPECT_EQ(TargetKey(kD002), "");
            }
            EXPECT_EQ(snap.kmsKeyId, copiesOff ? kWestDefaultKey : key.first);
            EXPECT_EQ(SnapshotsOf(kD001), originals + (copiesOff ? 1 : 0)) << "only the copy is kept";
            if (!copiesOff) {
                EXPECT_EQ(key.second, std::vector<std::string>{kAdminRoot}) << "granted once";
            }
        }
    }
}

TEST_F(CrossAccountSnapTest, OnlyDefaultKeyVolumesGetTheKeyAndEachRegionsKeyIsPreparedOnce) {
    Encrypt(kA001, kEastCustomerKey);
    ASSERT_EQ(SnapBackup(910, kWeb), 1) << object.GetLastVMErrorDetails();
    EXPECT_EQ(TargetKey(kA001), "") << "a customer key's snapshot is shared as it is";
    EXPECT_TRUE(CustomKey("us-east-1").first.empty()) << "no key is made where none is needed";

    cloud->AddFault(cloudsim::FaultRule("DescribeEncryptionKey", 0, "", 0, "count"));
    ASSERT_EQ(SnapBackup(911, kAnalytics), 1) << object.GetLastVMErrorDetails();
    ASSERT_EQ(SnapBackup(912, kAnalytics), 1) << object.GetLastVMErrorDetails();
    EXPECT_EQ(Peek([](const cloudsim::State& s) { return s.faults.front().seen; }), 1) << "once per process";
    Encrypt(kA001, kEastDefaultKey);
    ASSERT_EQ(SnapBackup(913, kWeb), 1) << object.GetLastVMErrorDetails();
    const auto west = CustomKey("us-west-2"), east = CustomKey("us-east-1");
    EXPECT_NE(east.first, west.first) << "each region has a key of its own";
    EXPECT_EQ(TargetKey(kA001), Dollars(east.first));
    EXPECT_EQ(west.second.size() + east.second.size(), 2u);
}

TEST_F(CrossAccountSnapTest, AVolumeOrKeyThatCannotBeReadFailsTheJobWith17AndSnapshotsNothing) {
    int64_t job = 920;
    // The key is made before its grants are listed: that case comes last.
    for (const char* op : {"GetVolumeInfo", "IsDefaultEncryptKey", "DescribeEncryptionKey", "CreateEncryptionKey",
                           "ListEncryptionKeyGrantees"}) {
        SCOPED_TRACE(op);
        cloud->ClearFaults();
        cloud->AddFault(cloudsim::FaultRule(op, 1, "AccessDeniedException: injected for " + std::string(op)));
        EXPECT_EQ(SnapBackup(++job, kAnalytics), 0);
        EXPECT_EQ(object.GetLastVMError(), 17);
        EXPECT_NE(object.GetLastVMErrorDetails().find("injected for"), std::string::npos);
        EXPECT_EQ(SnapshotsOf(kD001) + SnapshotsOf(kD002), 0u);
        EXPECT_TRUE(CustomKey("us-west-2").second.empty()) << "nothing was granted";
    }
    cloud->ClearFaults();
    EXPECT_EQ(SnapBackup(++job, kAnalytics), 1) << "a failure is not remembered";
}
