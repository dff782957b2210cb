// Cross-account snap backups: the source account's instance snapshotted for
// a proxy in the admin account. A snapshot of a volume under the source
// account's default key (which the admin account can never use) ends as a
// copy under the custom key granted to the admin account; no other is
// copied.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>

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
    void TearDown() override {
        FwSnapEngine::UnregisterArray(kArray);
        CAmazonInfo::c_snapCrossAccountKeys.Reset();
    }

    void Encrypt(const std::string& volume, const std::string& key) {
        cloud->Write([&](cloudsim::State& s) {
            s.volumes[volume].encrypted = !key.empty();
            s.volumes[volume].kmsKeyId = key;
        });
    }
    MountCtx Job(int64_t id, const char* instance) {
        MountCtx ctx;
        ctx.jobId = id;
        ctx.snapBackup = true;
        ctx.hubCellId = 2;
        ctx.snapControlHostId = kArray;
        ctx.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "JobResults" + std::to_string(id));
        SVMBasicInfo entry;
        entry.guid = entry.name = instance;
        entry.vmJobId = id * 10;
        ctx.snapInstances.push_back(entry);
        return ctx;
    }
    // The record's metadata of type for the volume, by its source path's volume.
    std::vector<std::string> Entries(int type, const std::string& volume) {
        std::vector<std::string> out;
        const auto& record = object.SnapState().record;
        for (const auto& m : record.metadata) {
            if (m.type != type) continue;
            const bool pairs = type == kSMMetaSnapshotPairs;
            const std::string of = pairs ? FwSnapPairs::Value(m.metadata, "sourceInstance")
                                         : record.snaps[m.referenceId - 1].sourceDevice;
            if (of == volume || of.find("/" + volume) != std::string::npos) out.push_back(m.metadata);
        }
        return out;
    }
    size_t SnapshotsOf(const std::string& volume) {
        return Peek([&](const cloudsim::State& s) {
            size_t n = 0;
            for (const auto& [id, snap] : s.snapshots) n += snap.volumeId == volume ? 1 : 0;
            return n;
        });
    }
    // The custom key of region, and its grantees; empty when there is none.
    std::pair<std::string, std::vector<std::string>> CustomKey(const std::string& region) {
        return Peek([&](const cloudsim::State& s) {
            std::pair<std::string, std::vector<std::string>> out;
            for (const auto& k : s.kmsKeys)
                if (k.alias == "alias/keld-ec2" && k.region == region && k.account == demo::kSourceAccount)
                    out = {k.arn, k.grantees};
            return out;
        });
    }
    std::string Dollars(std::string arn) {
        std::replace(arn.begin(), arn.end(), ':', '$');
        return arn;
    }
    int SnapBackup(MountCtx& ctx, bool vmCentric) {
        if (!vmCentric) return object.PreSnap(ctx);
        ctx.indexingV2 = true;
        ctx.requestedVMGuid = ctx.snapInstances[0].guid;
        ctx.vmJobId = ctx.snapInstances[0].vmJobId;
        object.CreateArchiveFileForSnapBackup(ctx, ctx.archiveFileId, ctx.requestedVMGuid);
        return object.MountVM(ctx);
    }
};
}  // namespace

TEST(SnapCrossAccountKeysTest, AKeyServesOnlyItsOwnAccountsAndRegion) {
    AmazonSnap::SnapCrossAccountKeys keys;
    keys.StoreKey("111", "444", "us-west-2", "arn-a");
    std::string arn;
    ASSERT_TRUE(keys.FindKey("111", "444", "us-west-2", arn));
    EXPECT_EQ(arn, "arn-a");
    const std::vector<std::vector<std::string>> others = {
        {"222", "444", "us-west-2"}, {"111", "555", "us-west-2"}, {"111", "444", "us-east-1"}};
    for (const auto& o : others) EXPECT_FALSE(keys.FindKey(o[0], o[1], o[2], arn)) << o[0] << o[1] << o[2];
    keys.Reset();
    EXPECT_FALSE(keys.FindKey("111", "444", "us-west-2", arn));
}

TEST_F(CrossAccountSnapTest, ADefaultKeySnapshotEndsAsACopyUnderTheGrantedCustomKeyUnlessCopiesAreOff) {
    struct Case {
        bool copiesOff, vmCentric;
    };
    int64_t job = 900;
    for (const Case c : {Case{false, false}, Case{true, false}, Case{false, true}}) {
        SCOPED_TRACE(std::string(c.copiesOff ? "copies off" : "copies on") + (c.vmCentric ? ", VM-centric" : ""));
        CAmazonInfo::c_snapCrossAccountKeys.Reset();
        TestEnv::SetSetting("VirtualServer", "bAmazonDisableSnapshotCopy", c.copiesOff ? "true" : "false");
        MountCtx ctx = Job(++job, kAnalytics);
        const size_t originals = SnapshotsOf(kD001);
        ASSERT_EQ(SnapBackup(ctx, c.vmCentric), 1) << object.GetLastVMErrorDetails();
        const auto made = Entries(kSMMetaSnapshotPairs, kD001);
        ASSERT_EQ(made.size(), 1u) << "one entry per volume, naming the snapshot to use";
        const auto snap = Snapshot(FwSnapPairs::Value(made[0], "snapUUID"));
        EXPECT_EQ(snap.state, "completed");
        EXPECT_EQ(SnapshotsOf(kD002), static_cast<size_t>(job - 900)) << "an unencrypted volume is not copied";
        const auto meta = Entries(kSMMetaTransient, kD001);
        if (!c.vmCentric) {
            ASSERT_EQ(meta.size(), 1u);
            EXPECT_NE(meta[0].find(";crossAccountOp:1;"), std::string::npos) << meta[0];
            EXPECT_EQ(FwSnapPairs::Value(Entries(kSMMetaTransient, kD002)[0], "targetEncryptionKey"), "");
        }
        if (c.copiesOff) {
            EXPECT_EQ(FwSnapPairs::Value(meta[0], "targetEncryptionKey"), "");
            EXPECT_EQ(snap.volumeId, kD001) << "the original stays, under the default key";
            EXPECT_EQ(snap.kmsKeyId, kWestDefaultKey);
            continue;
        }
        const auto key = CustomKey("us-west-2");
        ASSERT_FALSE(key.first.empty());
        if (!c.vmCentric) EXPECT_EQ(FwSnapPairs::Value(meta[0], "targetEncryptionKey"), Dollars(key.first));
        EXPECT_EQ(snap.kmsKeyId, key.first);
        EXPECT_EQ(SnapshotsOf(kD001), originals) << "the default-key original was left behind";
        EXPECT_EQ(key.second, std::vector<std::string>{kAdminRoot}) << "granted once to the admin account";
    }
}

TEST_F(CrossAccountSnapTest, OnlyDefaultKeyVolumesAreCopiedAndEachRegionsKeyIsPreparedOnce) {
    Encrypt(kA001, kEastCustomerKey);
    MountCtx east = Job(910, kWeb);
    const size_t before = SnapshotsOf(kA001);
    ASSERT_EQ(object.PreSnap(east), 1) << object.GetLastVMErrorDetails();
    EXPECT_EQ(FwSnapPairs::Value(Entries(kSMMetaTransient, kA001)[0], "targetEncryptionKey"), "");
    EXPECT_EQ(SnapshotsOf(kA001), before + 1) << "a customer key's snapshot is shared as it is";
    EXPECT_TRUE(CustomKey("us-east-1").first.empty()) << "no key is made where none is needed";

    cloud->AddFault(cloudsim::FaultRule("DescribeEncryptionKey", 0, "", 0, "count"));
    for (int64_t id : {911, 912}) {
        MountCtx west = Job(id, kAnalytics);
        ASSERT_EQ(object.PreSnap(west), 1) << object.GetLastVMErrorDetails();
    }
    EXPECT_EQ(Peek([](const cloudsim::State& s) { return s.faults.front().seen; }), 1) << "once per process";
    Encrypt(kA001, kEastDefaultKey);
    MountCtx east2 = Job(913, kWeb);
    ASSERT_EQ(object.PreSnap(east2), 1) << object.GetLastVMErrorDetails();
    const auto west = CustomKey("us-west-2"), eastKey = CustomKey("us-east-1");
    ASSERT_FALSE(eastKey.first.empty()) << "the second region gets a key of its own";
    EXPECT_NE(eastKey.first, west.first);
    EXPECT_EQ(FwSnapPairs::Value(Entries(kSMMetaTransient, kA001)[0], "targetEncryptionKey"), Dollars(eastKey.first));
    EXPECT_EQ(west.second.size(), 1u);
    EXPECT_EQ(eastKey.second.size(), 1u);
}

TEST_F(CrossAccountSnapTest, AVolumeOrKeyThatCannotBeReadFailsTheJobWith17AndSnapshotsNothing) {
    int64_t job = 920;
    // The key is made before its grants are listed: that case comes last.
    for (const char* op : {"GetVolumeInfo", "IsDefaultEncryptKey", "DescribeEncryptionKey", "CreateEncryptionKey",
                           "ListEncryptionKeyGrantees"}) {
        SCOPED_TRACE(op);
        CAmazonInfo::c_snapCrossAccountKeys.Reset();
        cloud->ClearFaults();
        cloud->AddFault(cloudsim::FaultRule(op, 1, "AccessDeniedException: injected for " + std::string(op)));
        MountCtx ctx = Job(++job, kAnalytics);
        EXPECT_EQ(object.PreSnap(ctx), 0);
        EXPECT_EQ(object.GetLastVMError(), 17);
        EXPECT_NE(object.GetLastVMErrorDetails().find("injected for"), std::string::npos)
            << object.GetLastVMErrorDetails();
        EXPECT_EQ(SnapshotsOf(kD001) + SnapshotsOf(kD002), 0u);
        EXPECT_TRUE(CustomKey("us-west-2").second.empty()) << "nothing was granted";
    }
    cloud->ClearFaults();
    MountCtx again = Job(++job, kAnalytics);
    EXPECT_EQ(object.PreSnap(again), 1) << "a failure is not remembered: " << object.GetLastVMErrorDetails();
}

TEST_F(CrossAccountSnapTest, ACopyThatEndsInErrorTakesItsOriginalWithIt) {
    const auto ids = [this] {
        return Peek([](const cloudsim::State& s) {
            std::set<std::string> out;
            for (const auto& [id, snap] : s.snapshots) out.insert(id);
            return out;
        });
    };
    const auto before = ids();
    cloud->AddFault(cloudsim::FaultRule("CopySnapshot", 1, "", 0, "error"));
    MountCtx ctx = Job(930, kAnalytics);
    ASSERT_EQ(object.PreSnap(ctx), 1) << "a partial success marks the instance";
    EXPECT_EQ(ctx.snapVMs[kAnalytics].snapErrorCode, 272);
    std::vector<std::string> added;
    for (const auto& id : ids())
        if (!before.count(id)) added.push_back(id);
    ASSERT_EQ(added.size(), 1u) << "neither the original nor its failed copy may stay";
    EXPECT_EQ(Snapshot(added[0]).volumeId, kD002);
}
