// Job-level snap backups on the simulated cloud: the snapshot manager takes
// every instance's volumes; what fails is reported per instance, and what a
// failed job made is deleted.
#include <gtest/gtest.h>

#include "framework/FileUtils.h"
#include "framework/SnapEngine.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapMetadataPaths.h"
#include "support/ConnectedFixture.h"

namespace {
const char kWeb[] = "i-0a1b2c3d4e5f60001";   // root a001, data a002
const char kGone[] = "i-0a1b2c3d4e5f6ffff";
constexpr int kArray = 7;

// A framework that cannot reserve archive files.
class NoArchiveFiles : public CAmazonInfo {
public:
    NoArchiveFiles() : CAmazonInfo(kAmazonInstanceType) {}
    int CreateArchiveFileForSnapBackup(MountCtx&, uint32_t&, const std::string&) override { return 0; }
};

class PreSnapTest : public ConnectedFixture {
protected:
    void SetUp() override {
        ConnectObject();
        FwSnapEngine::RegisterArray(kArray, {demo::kRegion, demo::kSourceKey, demo::kSourceSecret});
        ctx.jobId = 8589934597LL;
        ctx.snapBackup = true;
        ctx.hubCellId = 2;
        ctx.snapControlHostId = kArray;
        ctx.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "JobResults");
        for (const char* id : {kWeb, kGone}) {
            SVMBasicInfo entry;
            entry.guid = id;
            entry.name = id == std::string(kWeb) ? "web-server-01" : "gone";
            entry.vmJobId = 4294967301LL;
            ctx.snapInstances.push_back(entry);
        }
    }
    void TearDown() override { FwSnapEngine::UnregisterArray(kArray); }

    std::vector<std::string> Made(const CAmazonInfo& o) {
        std::vector<std::string> ids;
        for (const auto& m : o.SnapState().record.metadata) {
            if (m.type != kSMMetaSnapshotPairs) continue;
            const size_t at = m.metadata.find("snapUUID:") + 9;
            ids.push_back(m.metadata.substr(at, m.metadata.find(';', at) - at));
        }
        return ids;
    }
    size_t SnapshotsOf(const std::string& volume) {
        return Peek([&](const cloudsim::State& s) {
            size_t n = 0;
            for (const auto& entry : s.snapshots) n += entry.second.volumeId == volume ? 1 : 0;
            return n;
        });
    }
    MountCtx ctx;
};

TEST_F(PreSnapTest, EveryVolumeIsSnappedAndAnInstanceThatCannotBeReadReportsAtItsMount) {
    ASSERT_EQ(object.PreSnap(ctx), 1) << object.GetLastVMErrorDetails();
    EXPECT_EQ(ctx.snapJobId, ctx.jobId);
    const auto made = Made(object);
    ASSERT_EQ(made.size(), 2u);
    for (const auto& id : made) EXPECT_EQ(Snapshot(id).state, "completed") << id;
    EXPECT_EQ(ctx.snapVMs[kGone].snapErrorCode, 1);
    EXPECT_EQ(ctx.snapVMs[kWeb].snapErrorCode, 0);
    ASSERT_EQ(ctx.volSnaps.size(), 2u);
    EXPECT_NE(ctx.volSnaps[0].archiveFileId, ctx.volSnaps[1].archiveFileId);

    // The transient metadata names each snapshot; the manager used it.
    const auto& record = object.SnapState().record;
    EXPECT_EQ(record.arrayNumber, static_cast<uint32_t>(kArray));
    EXPECT_NE(record.actionFlags & 0x400000000ULL, 0u);
    size_t transient = 0;
    for (const auto& m : record.metadata) {
        if (m.type != kSMMetaTransient) continue;
        ++transient;
        EXPECT_EQ(m.dbOperationMode, 0xFFFFFFFFu);
        EXPECT_NE(m.metadata.find("nameTag:ZR_2_8589934597_"), std::string::npos) << m.metadata;
        EXPECT_NE(m.metadata.find(";ec2Instance:i-0a1b2c3d4e5f60001;"), std::string::npos);
    }
    EXPECT_EQ(transient, 2u);

    // Files: the job's snap metadata XML and the instance's configuration file.
    const std::string jobFile = SnapMetadataPaths::JobSnapMetadataFile(ctx);
    EXPECT_TRUE(FwFile::Exists(jobFile)) << jobFile;
    ASSERT_EQ(object.SnapState().metadataFiles.size(), 1u);
    EXPECT_EQ(object.SnapState().metadataFiles[0], jobFile);
    EXPECT_EQ(ctx.snapMetadataFolder, SnapMetadataPaths::SnapJobFolder(ctx));
    const std::string vmFolder = FwFile::JoinPath(SnapMetadataPaths::SnapJobFolder(ctx), kWeb);
    EXPECT_TRUE(FwFile::Exists(FwFile::JoinPath(vmFolder, std::string(kWeb) + "_InstanceConfig.xml")));
    CVMSnapUtil reader(&object.GetEventContext());
    std::vector<VMInfoStructs::SDatastoreInfo> stores;
    ASSERT_TRUE(reader.ReadSnapMetadataXML(jobFile, stores));
    ASSERT_EQ(stores.size(), 2u);
    EXPECT_EQ(stores[0].vms.size(), 1u);

    // Each instance's mount reports what the snapshot phase found for it.
    MountCtx mount = ctx;
    mount.requestedVMGuid = kGone;
    EXPECT_EQ(object.MountVM(mount), 0);
    EXPECT_EQ(object.GetLastVMError(), 1);
    mount.requestedVMGuid = kWeb;
    EXPECT_EQ(object.MountVM(mount), 1);
    mount.requestedVMGuid = "i-0a1b2c3d4e5f60003";
    EXPECT_EQ(object.MountVM(mount), 0) << "an instance the snapshot phase never took";
    EXPECT_EQ(object.GetLastVMError(), 29);
    EXPECT_EQ(object.PostSnap(ctx), 1);
}

TEST_F(PreSnapTest, TheJobsFilesAreHandedOverAndABackupCopyGetsThemBack) {
    ASSERT_EQ(object.PreSnap(ctx), 1) << object.GetLastVMErrorDetails();
    std::vector<std::string> files;
    ASSERT_EQ(object.GetMetadataFiles(ctx, files, 0), 1);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0], SnapMetadataPaths::JobSnapMetadataFile(ctx));
    ASSERT_TRUE(CVMSnapUtil::UploadMetadataFiles(ctx.snapJobId, files));

    // A backup copy in another process: the file comes back into its results folder.
    auto copy = Connected();
    ASSERT_TRUE(copy);
    MountCtx copyCtx;
    copyCtx.jobId = 99;
    copyCtx.snapJobId = ctx.snapJobId;
    copyCtx.backupToTape = copyCtx.snapBackup = true;
    copyCtx.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "CopyResults");
    EXPECT_EQ(copy->GetMetadataFiles(copyCtx, files, 0), 0) << "no volume list was read yet";
    EXPECT_EQ(copy->GetLastVMError(), 31);
    EXPECT_TRUE(FwFile::Exists(FwFile::JoinPath(copyCtx.jobResultsFolder, "backup_8589934597.xml")));
    copyCtx.snapJobId = 5;
    EXPECT_EQ(copy->GetMetadataFiles(copyCtx, files, 0), 0) << "another job's file is not there";
}

TEST_F(PreSnapTest, AFailedSnapshotRequestDeletesWhatTheManagerMade) {
    TestEnv::SetSetting("VirtualServer", "bAllowPartialHWSnapshot", "false");
    cloud->AddFault({"CreateSnapshot", 2, "", 0, "error"});
    EXPECT_EQ(object.PreSnap(ctx), 0);
    EXPECT_EQ(object.GetLastVMError(), 33);
    const auto made = Made(object);
    ASSERT_EQ(made.size(), 2u) << "both were made, one ended in error";
    for (const auto& id : made) EXPECT_TRUE(Snapshot(id).id.empty()) << id << " was left behind";
    EXPECT_EQ(object.GetInvalidatedArchiveFiles().size(), 2u);
}

TEST_F(PreSnapTest, SomeVolumesFailingMarksTheirInstanceAndKeepsTheRest) {
    // Two instances, one volume of the second fails.
    ctx.snapInstances.pop_back();
    SVMBasicInfo db;
    db.guid = "i-0a1b2c3d4e5f60002";
    db.name = "db";
    ctx.snapInstances.push_back(db);
    cloud->AddFault({"CreateSnapshot", 3, "IncorrectState: The volume is busy", 0});
    ASSERT_EQ(object.PreSnap(ctx), 1) << object.GetLastVMErrorDetails();
    EXPECT_EQ(ctx.snapVMs[kWeb].snapErrorCode, 0);
    EXPECT_EQ(ctx.snapVMs["i-0a1b2c3d4e5f60002"].snapErrorCode, 272);
    CVMSnapUtil reader(&object.GetEventContext());
    std::vector<VMInfoStructs::SDatastoreInfo> stores;
    ASSERT_TRUE(reader.ReadSnapMetadataXML(SnapMetadataPaths::JobSnapMetadataFile(ctx), stores));
    bool marked = false;
    for (const auto& ds : stores)
        for (const auto& vm : ds.vms) marked |= vm.guid == "i-0a1b2c3d4e5f60002" && vm.snapErrorCode == 272;
    EXPECT_TRUE(marked) << "the metadata XML carries the instance's code";
    EXPECT_EQ(object.GetInvalidatedArchiveFiles().size(), 1u);
    for (const auto& id : Made(object)) EXPECT_EQ(Snapshot(id).state, "completed");
}

TEST_F(PreSnapTest, ASnapshotThatEndsInErrorIsDeletedWhenItsInstanceIsGivenUp) {
    ctx.snapInstances.pop_back();
    SVMBasicInfo db;
    db.guid = db.name = "i-0a1b2c3d4e5f60002";
    ctx.snapInstances.push_back(db);
    cloud->AddFault({"CreateSnapshot", 3, "", 0, "error"});
    ASSERT_EQ(object.PreSnap(ctx), 1) << object.GetLastVMErrorDetails();
    EXPECT_EQ(ctx.snapVMs[db.guid].snapErrorCode, 272);
    const auto made = Made(object);
    ASSERT_GE(made.size(), 3u);
    size_t kept = 0;
    for (const auto& id : made) {
        const auto snap = Snapshot(id);
        if (snap.id.empty()) continue;
        EXPECT_EQ(snap.state, "completed") << id << " belongs to no backup and was left";
        ++kept;
    }
    EXPECT_EQ(kept, made.size() - 1) << "the others stay with the backup";
}

TEST_F(PreSnapTest, EveryVolumeFailingStopsTheJobAndDeletesWhatWasMade) {
    ctx.snapInstances.pop_back();
    cloud->AddFault({"CreateSnapshot", 0, "", 0, "error"});
    EXPECT_EQ(object.PreSnap(ctx), 0);
    EXPECT_EQ(object.GetLastVMError(), 33);
    ASSERT_EQ(Made(object).size(), 2u);
    for (const auto& id : Made(object)) EXPECT_TRUE(Snapshot(id).id.empty()) << id << " was left behind";
}

TEST_F(PreSnapTest, AnArchiveFileThatCannotBeReservedFailsTheJobBeforeAnySnapshot) {
    NoArchiveFiles framework;
    ASSERT_EQ(ConnectDemo(framework), 1);
    const size_t before = SnapshotsOf("vol-0a1b2c3d4e5f6a001");
    EXPECT_EQ(framework.PreSnap(ctx), 0);
    EXPECT_EQ(framework.GetLastVMError(), 29);
    EXPECT_EQ(SnapshotsOf("vol-0a1b2c3d4e5f6a001"), before);
}

TEST_F(PreSnapTest, NamesOfSnapshotJobs) {
    EXPECT_EQ(CAmazonInfo::_getSnapshotNameForSnapJob(2, 1234, 77, 1700000000), "ZR_2_1234_77_1700000000");
    EXPECT_EQ(CAmazonInfo::_getSnapshotNameForSnapJob(2, 8589934597LL, 77, 1700000000),
              "ZR_2_8589934597_77_1700000000");
    EXPECT_EQ(CAmazonInfo::_getVolumeNameForSnapJob(55, "/a/b/vol-1"), "_QX_BACKUP_SnapJob_55_vol-1");
    EXPECT_EQ(CAmazonInfo::_getVolumeNameForSnapJob(55, ""), "_QX_BACKUP_SnapJob_55");
    EXPECT_EQ(CAmazonInfo::_getVolumeNameForSnapJob(55, "vol-2"), "_QX_BACKUP_SnapJob_55_vol-2");
    EXPECT_EQ(CAmazonInfo::_getVolumeDescriptionForSnapJob(9, 1700000000).rfind(
                  "Volume_created_by_Keldor_for_job_9_at_1700000000_from_", 0),
              0u);
}
TEST(SnapDevicePathTest, TheIdIsTheLastPartAndOnlyAVolumesIdNamesAMountedVolume) {
    const struct {
        const char* path;
        const char* id;       // getVolumeIDFromSnapMountPath
        const char* volume;   // MountedVolumeOf
    } rows[] = {
        {"/us-east-1/vol-0abc", "vol-0abc", "vol-0abc"},
        {"vol-0abc", "vol-0abc", "vol-0abc"},            // no "/": the whole text
        {"/us-east-1/", "", ""},                         // the id part empty
        {"", "", ""},
        {"/us-east-1/snap-0abc", "snap-0abc", ""},       // the mount made nothing
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CAmazonInfo::getVolumeIDFromSnapMountPath(row.path), row.id) << row.path;
        EXPECT_EQ(CAmazonInfo::MountedVolumeOf(row.path), row.volume) << row.path;
    }
}
}  // namespace
