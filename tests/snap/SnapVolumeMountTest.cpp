// The snapshot manager's mounts on the simulated cloud: volumes from a snap
// job's snapshots, attached, reported even when the call fails, and taken
// away or kept by the unmount.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "framework/FileUtils.h"
#include "framework/ProcessIdentity.h"
#include "framework/ProtectedString.h"
#include "framework/SnapEngine.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"
#include "support/ConnectedFixture.h"

namespace {
const char kWeb[] = "i-0a1b2c3d4e5f60001";   // us-east-1a, root a001, data a002
constexpr int kArray = 11;

class SnapVolumeMountTest : public ConnectedFixture {
protected:
    void SetUp() override {
        ConnectObject();
        FwSnapEngine::RegisterArray(kArray, {demo::kRegion, demo::kSourceKey, demo::kSourceSecret});
        MountCtx ctx;
        ctx.jobId = 9100;
        ctx.snapBackup = true;
        ctx.snapControlHostId = kArray;
        ctx.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "JobResults");
        SVMBasicInfo entry;
        entry.guid = entry.name = kWeb;
        ctx.snapInstances.push_back(entry);
        ASSERT_EQ(object.PreSnap(ctx), 1) << object.GetLastVMErrorDetails();
        util = std::make_unique<CVMSnapUtil>(&object.GetEventContext());
        ASSERT_TRUE(util->GetVOLSNAPInfo(ctx, record, 0));
        ASSERT_EQ(record.snaps.size(), 2u);
        // What the plug-in adds for a mount: where and how to make each volume.
        for (const auto& snap : record.snaps) {
            SMMetaDataInfo meta;
            meta.type = kSMMetaTransient;
            meta.referenceId = snap.snapId;
            meta.metadata = "targetAvailibilityZone:us-east-1a;nameTag:_QX_BACKUP_SnapJob_9100;volumeType:gp3;iops:0;";
            record.AddMetadata(meta);
        }
    }
    void TearDown() override { FwSnapEngine::UnregisterArray(kArray); }

    static std::string VolumeOf(const SMSnapInfo& snap) {
        const size_t slash = snap.snapDevice.rfind('/');
        const std::string id = slash == std::string::npos ? std::string() : snap.snapDevice.substr(slash + 1);
        return id.rfind("vol-", 0) == 0 ? id : std::string();
    }
    std::unique_ptr<CVMSnapUtil> util;
    SMVolSnapInfo record;
};

TEST_F(SnapVolumeMountTest, AMountAttachesAVolumePerSnapshotAndTheUnmountRemovesThem) {
    ASSERT_EQ(util->mountVolumes(record, kWeb), 1) << record.errorText;
    std::vector<std::string> made;
    for (const auto& snap : record.snaps) {
        EXPECT_EQ(snap.status, 0);
        made.push_back(VolumeOf(snap));
        const auto volume = Volume(made.back());
        EXPECT_EQ(volume.state, "in-use") << made.back();
        EXPECT_EQ(volume.type, "gp3");
    }
    for (const auto& v : record.volumes) EXPECT_FALSE(v.mountDevice.empty());
    ASSERT_EQ(util->unmountVolumes(record, false), 1) << record.errorText;
    for (const auto& id : made) EXPECT_TRUE(Volume(id).id.empty()) << id << " was left";
    for (const auto& snap : record.snaps) EXPECT_EQ(snap.snapDevice.rfind("/us-east-1/snap-", 0), 0u) << snap.snapDevice;
    // The entries name their snapshots again: the record mounts once more.
    ASSERT_EQ(util->mountVolumes(record, ""), 1) << record.errorText;
    ASSERT_EQ(util->unmountVolumes(record, false), 1);
}

TEST_F(SnapVolumeMountTest, APartialMountReportsTheVolumeItMadeAndKeepLeavesThemAlone) {
    cloud->AddFault({"CreateVolume", 2, "InsufficientVolumeCapacity: no capacity in us-east-1a", 0});
    EXPECT_EQ(util->mountVolumes(record, kWeb), 0);
    EXPECT_NE(record.errorCode, 0);
    const std::string first = VolumeOf(record.snaps[0]);
    ASSERT_FALSE(first.empty()) << "the volume made before the failure is reported";
    EXPECT_EQ(Volume(first).state, "in-use");
    EXPECT_TRUE(VolumeOf(record.snaps[1]).empty());
    EXPECT_EQ(record.snaps[1].errorCode, kSMMountFailed);
    EXPECT_NE(record.snaps[1].errorText.find("InsufficientVolumeCapacity"), std::string::npos);

    // A revert keeps what it made: the records go, the volume stays.
    SMVolSnapInfo kept = record;
    ASSERT_EQ(util->unmountVolumes(kept, true), 1);
    EXPECT_EQ(Volume(first).state, "in-use");
    EXPECT_TRUE(VolumeOf(kept.snaps[0]).empty());
    ASSERT_EQ(util->unmountVolumes(record, false), 1) << record.errorText;
    EXPECT_TRUE(Volume(first).id.empty());
}

// A volume a mount made in a process that then died is the manager's to
// remove (attached as it is); a volume whose mount still runs, in this
// process, stays. The process cloud lives in this process, so the dead
// process only writes its row.
TEST_F(SnapVolumeMountTest, AVolumeOfADeadProcessesMountIsRemovedAndOneStillMountingStays) {
    ASSERT_EQ(util->mountVolumes(record, kWeb), 1) << record.errorText;
    std::vector<SnapMountVolume> left;
    ASSERT_TRUE(CSnapStore::ListMountVolumes(left));
    EXPECT_TRUE(left.empty()) << "a finished mount hands its volumes over";
    const std::string orphan = VolumeOf(record.snaps[0]), live = VolumeOf(record.snaps[1]);
    auto row = [](const std::string& id) {
        SnapMountVolume v{id, demo::kRegion, demo::kRegion, demo::kSourceKey, "", FwProcess::SelfRun()};
        return FwProtected::Seal(demo::kSourceSecret, v.sealedSecret) && CSnapStore::RecordMountVolume(v);
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) _exit(row(orphan) ? 0 : 1);
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_EQ(status, 0);
    ASSERT_TRUE(row(live));

    std::vector<std::string> removed;
    std::string why;
    ASSERT_TRUE(CVMSnapUtil::ReleaseAbandonedMounts(removed, why)) << why;
    EXPECT_EQ(removed, std::vector<std::string>{orphan});
    EXPECT_TRUE(Volume(orphan).id.empty());
    EXPECT_EQ(Volume(live).state, "in-use") << "a running mount's volume is not touched";
    ASSERT_TRUE(CSnapStore::ListMountVolumes(left));
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].volumeId, live);
    EXPECT_TRUE(CSnapStore::ForgetMountVolume(live));
}

TEST_F(SnapVolumeMountTest, ARecordWithoutAZoneOrAnAccountMakesNothing) {
    SMVolSnapInfo noZone = record;
    for (auto& m : noZone.metadata)
        if (m.type == kSMMetaTransient) m.metadata = "nameTag:x;";
    const size_t before = Peek([](const cloudsim::State& s) { return s.volumes.size(); });
    EXPECT_EQ(util->mountVolumes(noZone, kWeb), 0);
    EXPECT_EQ(noZone.snaps[0].errorCode, kSMMountRefused);
    record.arrayNumber = kArray + 1;
    EXPECT_EQ(util->mountVolumes(record, kWeb), 0);
    EXPECT_EQ(Peek([](const cloudsim::State& s) { return s.volumes.size(); }), before);
}
}  // namespace
