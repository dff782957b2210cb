// The snapshot manager stand-in against the simulated cloud: snapshots of a
// job record, what it reports when some fail, and its store between jobs.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bridge/AmazonSDKBridge.h"
#include "cloudsim/Cloud.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/SnapEngine.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"
#include "support/DemoAccounts.h"
#include "support/TestEnv.h"

namespace {
const char kWebRoot[] = "vol-0a1b2c3d4e5f6a001";
const char kWebData[] = "vol-0a1b2c3d4e5f6a002";
constexpr uint32_t kArray = 7;
constexpr uint64_t kAllowPartial = 0x400000000ULL;

class SnapManagerTest : public ::testing::Test {
protected:
    void SetUp() override {
        cloud = env.InstallCloud();
        FwSnapEngine::RegisterArray(kArray, {demo::kRegion, demo::kSourceKey, demo::kSourceSecret});
        ctx.snapJobId = ctx.jobId = 8589934597LL;   // past 32 bits
    }
    void TearDown() override { FwSnapEngine::UnregisterArray(kArray); }

    // A record asking for a snapshot of each volume, named by its transient metadata.
    SMVolSnapInfo Record(const std::vector<std::string>& volumes) {
        SMVolSnapInfo r;
        r.arrayNumber = kArray;
        for (const auto& id : volumes) {
            SMVolumeInfo v;
            v.sourcePath = std::string("/") + demo::kRegion + "/" + id;
            const uint32_t vid = r.AddVolume(v);
            SMSnapInfo s;
            s.sourceDevice = v.sourcePath;
            const uint32_t sid = r.AddSnap(s);
            r.AddVolSnapMap(vid, sid);
            SMMetaDataInfo m;
            m.type = kSMMetaTransient;
            m.referenceId = sid;
            m.metadata = "nameTag:ZR_2_" + id + ";description:taken for a test;";
            r.AddMetadata(m);
        }
        return r;
    }
    static std::vector<std::string> Created(const SMVolSnapInfo& r) {
        std::vector<std::string> ids;
        for (const auto& m : r.metadata) {
            if (m.type != kSMMetaSnapshotPairs) continue;
            const size_t at = m.metadata.find("snapUUID:") + 9;
            ids.push_back(m.metadata.substr(at, m.metadata.find(';', at) - at));
        }
        return ids;
    }
    std::string SnapshotState(const std::string& id) {
        CAmazonSDKBridge bridge;
        bridge.initialize("Amazon", "VSA", 1);
        bridge.Connect(demo::kRegion, demo::kSourceKey, demo::kSourceSecret);
        VMInfoStructs::SChildDisk info;
        return bridge.GetSnapshotInfo(id, demo::kRegion, info) ? info.state : "missing";
    }

    TestEnv env;
    std::shared_ptr<cloudsim::Cloud> cloud;
    MountCtx ctx;
    EvEvent event;
};

TEST_F(SnapManagerTest, EveryVolumeIsSnappedAndTheRecordOutlivesTheJob) {
    SMVolSnapInfo record = Record({kWebRoot, kWebData});
    CVMSnapUtil util(&event);
    ASSERT_EQ(util.CreateHWSnapshot(ctx, record), 1) << record.errorText;
    for (const auto& v : record.volumes) EXPECT_EQ(v.mountStatus, kSMVolumeSnapped);
    const auto created = Created(record);
    ASSERT_EQ(created.size(), 2u);
    for (const auto& id : created) EXPECT_EQ(SnapshotState(id), "completed");
    EXPECT_NE(record.metadata.back().metadata.find(std::string("sourceRegion:") + demo::kRegion + ";"),
              std::string::npos);
    EXPECT_EQ(record.snaps[0].snapDevice, std::string("/") + demo::kRegion + "/" + created[0]);
    EXPECT_GT(env.Clock().TotalSleptMs(), 0) << "the snapshots were awaited on the framework clock";

    // Another job, another object: the record comes back from the store.
    CVMSnapUtil later(&event);
    SMVolSnapInfo loaded;
    ASSERT_EQ(later.GetVOLSNAPInfo(ctx, loaded, 0), 1);
    EXPECT_EQ(loaded.jobId, ctx.snapJobId);
    EXPECT_EQ(Created(loaded), created);
    EXPECT_TRUE(FwFile::Exists(CSnapStore::DatabasePath()));
    EXPECT_EQ(loaded.loadMode, 0);
    loaded.volumes[0].mountDevice = "/dev/xvdf";
    ASSERT_TRUE(CSnapStore::SaveJobRecord(loaded));
    ASSERT_EQ(later.GetVOLSNAPInfo(ctx, loaded, 1), 1);
    EXPECT_EQ(loaded.loadMode, 1);
    EXPECT_TRUE(loaded.volumes[0].mountDevice.empty()) << "a revert starts without mount records";
    EXPECT_EQ(later.GetVOLSNAPInfo(ctx, loaded, 2), 0);
    MountCtx other;
    other.snapJobId = ctx.snapJobId & 0xFFFFFFFF;   // the low 32 bits name another job
    EXPECT_EQ(later.GetVOLSNAPInfo(other, loaded, 0), 0);
}

TEST_F(SnapManagerTest, AFailedCallStillReportsEachVolumeAndTheSnapshotsItMade) {
    cloud->AddFault({"CreateSnapshot", 2, "", 0, "error"});
    SMVolSnapInfo record = Record({kWebRoot, kWebData});
    CVMSnapUtil util(&event);
    EXPECT_EQ(util.CreateHWSnapshot(ctx, record), 0);
    EXPECT_EQ(record.volumes[0].mountStatus, kSMVolumeSnapped);
    EXPECT_EQ(record.volumes[1].mountStatus, kSMVolumeSnapFailed);
    EXPECT_EQ(Created(record).size(), 2u) << "the failed snapshot exists and must be found to be deleted";
    SMVolSnapInfo stored;
    ASSERT_EQ(util.GetVOLSNAPInfo(ctx, stored, 1), 1);
    EXPECT_EQ(stored.volumes[1].mountStatus, kSMVolumeSnapFailed);
}

TEST_F(SnapManagerTest, AJobKilledWhileASnapshotCompletesLeavesItRecorded) {
    cloud->AddFault({"GetSnapshotInfo", 1, "", 0, "kill"});
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        SMVolSnapInfo record = Record({kWebRoot});
        CVMSnapUtil util(&event);
        util.CreateHWSnapshot(ctx, record);
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status)) << "the job was to die in its wait";
    SMVolSnapInfo stored;
    CVMSnapUtil later(&event);
    ASSERT_EQ(later.GetVOLSNAPInfo(ctx, stored, 0), 1);
    EXPECT_EQ(Created(stored).size(), 1u) << "the snapshot it made is known to the next job";
}

TEST_F(SnapManagerTest, PartialSuccessIsAllowedOnlyWhenTheRecordSaysSo) {
    cloud->AddFault({"CreateSnapshot", 1, "IncorrectState: The volume is not in a valid state", 0});
    SMVolSnapInfo record = Record({kWebRoot, kWebData});
    record.actionFlags |= kAllowPartial;
    CVMSnapUtil util(&event);
    EXPECT_EQ(util.CreateHWSnapshot(ctx, record), 1);
    EXPECT_EQ(record.volumes[0].mountStatus, kSMVolumeRefused);
    EXPECT_NE(record.snaps[0].errorText.find("IncorrectState"), std::string::npos);
    EXPECT_EQ(record.volumes[1].mountStatus, kSMVolumeSnapped);
    EXPECT_EQ(Created(record).size(), 1u);
}

TEST_F(SnapManagerTest, RequestsWithoutAnAccountOrWithABadPathCreateNothing) {
    SMVolSnapInfo record = Record({kWebRoot});
    record.arrayNumber = kArray + 1;
    CVMSnapUtil util(&event);
    EXPECT_EQ(util.CreateHWSnapshot(ctx, record), 0);
    EXPECT_NE(record.errorText.find("snap control host 8"), std::string::npos);
    EXPECT_TRUE(Created(record).empty());

    SMVolSnapInfo bad = Record({kWebRoot});
    bad.volumes[0].sourcePath = "/us-east-1/a/../vol-1";
    EXPECT_EQ(util.CreateHWSnapshot(ctx, bad), 0);
    EXPECT_EQ(bad.volumes[0].mountStatus, kSMVolumeRefused);
    EXPECT_TRUE(Created(bad).empty());
}

TEST_F(SnapManagerTest, HandedOverFilesComeBackByNameAndOnlyTheInstancesOwn) {
    const std::string out = FwFile::JoinPath(env.BaseDir(), "results");
    FwFile::MakeDirs(out);
    const std::string job = FwFile::JoinPath(out, "backup_8589934597.xml");
    const std::string config = FwFile::JoinPath(out, "i-1_InstanceConfig.xml");
    const std::string otherConfig = FwFile::JoinPath(out, "i-2_InstanceConfig.xml");
    ASSERT_TRUE(FwFile::WriteAllAtomic(job, "<job/>"));
    ASSERT_TRUE(FwFile::WriteAllAtomic(config, "config of i-1"));
    ASSERT_TRUE(FwFile::WriteAllAtomic(otherConfig, "config of i-2"));
    ASSERT_TRUE(CVMSnapUtil::UploadMetadataFiles(ctx.snapJobId, {job, config, otherConfig}));

    CVMSnapUtil util(&event);
    const std::string into = FwFile::JoinPath(env.BaseDir(), "copy");
    ASSERT_EQ(util.DownloadMetadataFiles(ctx, "backup_8589934597.xml", into), 1);
    EXPECT_EQ(TestEnv::ReadFile(FwFile::JoinPath(into, "backup_8589934597.xml")), "<job/>");
    EXPECT_EQ(util.DownloadMetadataFiles(ctx, "../backup_8589934597.xml", into), 0);
    EXPECT_EQ(util.DownloadMetadataFiles(ctx, "absent.xml", into), 0);

    const std::string vmFolder = FwFile::JoinPath(env.BaseDir(), "vm");
    ASSERT_EQ(util.DownloadVMMetadataFiles(ctx, "i-1", vmFolder), 1);
    EXPECT_EQ(TestEnv::ReadFile(FwFile::JoinPath(vmFolder, "i-1_InstanceConfig.xml")), "config of i-1");
    EXPECT_FALSE(FwFile::Exists(FwFile::JoinPath(vmFolder, "i-2_InstanceConfig.xml")));
    EXPECT_EQ(util.DownloadVMMetadataFiles(ctx, "i-3", vmFolder), 0);
}

TEST_F(SnapManagerTest, TheDumpMasksTheSecretKey) {
    EXPECT_EQ(CVMSnapUtil::MaskSecrets("targetAccessKey:AKIA;targetSecretKey:s3cret;subclientId:5;"),
              "targetAccessKey:AKIA;targetSecretKey:****;subclientId:5;");
    EXPECT_EQ(CVMSnapUtil::MaskSecrets("targetSecretKey:;x:1;"), "targetSecretKey:;x:1;");
}
}  // namespace
