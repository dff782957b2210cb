// VM-centric snap backups on the simulated cloud: each instance's mount
// snapshots that instance; PostSnap's catalogue lists exactly the job's
// instances that were snapshotted, with their final records.
#include <gtest/gtest.h>

#include "framework/FileUtils.h"
#include "framework/SnapEngine.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapBackupCatalog.h"
#include "snap/SnapMetadataPaths.h"
#include "support/ConnectedFixture.h"

namespace {
const char kWeb[] = "i-0a1b2c3d4e5f60001";    // root a001, data a002
const char kDb[] = "i-0a1b2c3d4e5f60002";
const char kGone[] = "i-0a1b2c3d4e5f6ffff";
const char kWebData[] = "vol-0a1b2c3d4e5f6a002";
constexpr int kArray = 9;

class VMCentricSnapTest : public ConnectedFixture {
protected:
    void SetUp() override {
        ConnectObject();
        FwSnapEngine::RegisterArray(kArray, {demo::kRegion, demo::kSourceKey, demo::kSourceSecret});
        job = Job(700);
    }
    void TearDown() override { FwSnapEngine::UnregisterArray(kArray); }

    MountCtx Job(int64_t id) {
        MountCtx ctx;
        ctx.jobId = id;
        ctx.snapBackup = ctx.indexingV2 = true;
        ctx.hubCellId = 3;
        ctx.snapControlHostId = kArray;
        ctx.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "JobResults" + std::to_string(id));
        int64_t n = 0;
        for (const char* vm : {kWeb, kDb, kGone}) {
            SVMBasicInfo entry;
            entry.guid = entry.name = vm;
            entry.vmJobId = id * 10 + ++n;
            entry.clientId = 40 + n;
            ctx.snapInstances.push_back(entry);
        }
        return ctx;
    }
    // The mount of one instance, as the framework makes it.
    int Mount(CAmazonInfo& o, const MountCtx& base, const std::string& vm, MountCtx& out) {
        out = base;
        out.requestedVMGuid = vm;
        for (const auto& e : base.snapInstances)
            if (e.guid == vm) out.vmJobId = e.vmJobId;
        o.CreateArchiveFileForSnapBackup(out, out.archiveFileId, vm);
        return o.MountVM(out);
    }
    std::vector<std::string> Made(int64_t snapJobId) {
        SMVolSnapInfo record;
        std::vector<std::string> ids;
        if (!CSnapStore::LoadJobRecord(snapJobId, record)) return ids;
        for (const auto& m : record.metadata) {
            if (m.type != kSMMetaSnapshotPairs) continue;
            const size_t at = m.metadata.find("snapUUID:") + 9;
            ids.push_back(m.metadata.substr(at, m.metadata.find(';', at) - at));
        }
        return ids;
    }
    MountCtx job;
};

TEST_F(VMCentricSnapTest, EachMountSnapshotsItsInstanceAndTheCatalogueReadsBack) {
    job.diskFilters.push_back({SDiskFilterRule::Pattern, "web-data", "", 0});
    MountCtx web, db, gone;
    ASSERT_EQ(Mount(object, job, kWeb, web), 1) << object.GetLastVMErrorDetails();
    EXPECT_EQ(web.snapJobId, web.vmJobId);
    EXPECT_TRUE(web.vm.snapshotTaken);
    const auto webSnaps = Made(web.snapJobId);
    ASSERT_EQ(webSnaps.size(), 1u) << "the filtered data volume is not snapshotted";
    const auto snap = Snapshot(webSnaps[0]);
    EXPECT_EQ(snap.volumeId, "vol-0a1b2c3d4e5f6a001");
    EXPECT_EQ(snap.state, "completed");
    EXPECT_EQ(snap.description.rfind("Snapshot_created_by_Keldor_for_job_" + std::to_string(web.vmJobId) + "_at_", 0),
              0u)
        << snap.description;
    // The instance's files: its configuration and its instance-level snap metadata.
    const std::string folder = SnapMetadataPaths::SnapJobFolder(web);
    const std::string vmFile = FwFile::JoinPath(FwFile::JoinPath(folder, kWeb),
                                                CVMSnapUtil::GetVMSnapMetadataFileName(web.snapJobId, kWeb));
    CVMSnapUtil reader(&object.GetEventContext());
    std::vector<VMInfoStructs::SDatastoreInfo> stores;
    ASSERT_TRUE(reader.ReadSnapMetadataXML(vmFile, stores)) << vmFile;
    ASSERT_EQ(stores.size(), 2u) << "every disk is described, the filtered one too";
    for (const auto& ds : stores) EXPECT_EQ(ds.vms.size(), 1u) << "an instance is listed once per volume";

    ASSERT_EQ(Mount(object, job, kDb, db), 1) << object.GetLastVMErrorDetails();
    EXPECT_EQ(Mount(object, job, kGone, gone), 0);
    EXPECT_EQ(object.GetInvalidatedArchiveFiles().size(), 1u) << "the failed instance's archive file";

    ASSERT_EQ(object.PostSnap(job), 1) << object.GetLastVMErrorDetails();
    SnapBackupCatalog::Catalog catalog;
    std::string error;
    ASSERT_TRUE(SnapBackupCatalog::Load(SnapMetadataPaths::CatalogFile(job), catalog, error)) << error;
    EXPECT_EQ(catalog.jobId, 700);
    ASSERT_EQ(catalog.vms.size(), 2u) << "only the instances that were snapshotted";
    EXPECT_EQ(catalog.vms[0].guid, kWeb);
    EXPECT_EQ(catalog.vms[1].guid, kDb);
    EXPECT_EQ(catalog.vms[0].vmJobId, web.vmJobId);
    EXPECT_EQ(catalog.vms[0].clientId, 41);
    EXPECT_EQ(catalog.vms[0].archiveFileId, std::to_string(web.archiveFileId));
    ASSERT_EQ(catalog.vms[0].disks.size(), 2u);
    for (const auto& d : catalog.vms[0].disks)
        EXPECT_EQ(d.filtered, d.volumeId == kWebData) << d.volumeId << ": the final record's filtered flag";
    std::vector<std::string> files;
    ASSERT_EQ(object.GetMetadataFiles(job, files, 0), 1);
    EXPECT_EQ(files.back(), SnapMetadataPaths::CatalogFile(job));
}

TEST_F(VMCentricSnapTest, AJobsCatalogueNeverListsAnotherJobsInstances) {
    MountCtx web, db;
    ASSERT_EQ(Mount(object, job, kWeb, web), 1) << object.GetLastVMErrorDetails();
    // A second job of another object in the same process, before the first's PostSnap.
    auto other = Connected();
    ASSERT_TRUE(other);
    MountCtx second = Job(701);
    ASSERT_EQ(Mount(*other, second, kDb, db), 1) << other->GetLastVMErrorDetails();
    ASSERT_EQ(other->PostSnap(second), 1);
    ASSERT_EQ(object.PostSnap(job), 1);
    for (const auto& [ctx, only] : {std::make_pair(&job, kWeb), std::make_pair(&second, kDb)}) {
        SnapBackupCatalog::Catalog catalog;
        std::string error;
        ASSERT_TRUE(SnapBackupCatalog::Load(SnapMetadataPaths::CatalogFile(*ctx), catalog, error)) << error;
        ASSERT_EQ(catalog.vms.size(), 1u) << "job " << ctx->jobId;
        EXPECT_EQ(catalog.vms[0].guid, only);
    }
    // The job's instances left with its catalogue: a rerun of the job id lists none.
    ASSERT_EQ(object.PostSnap(job), 1);
    SnapBackupCatalog::Catalog again;
    std::string error;
    ASSERT_TRUE(SnapBackupCatalog::Load(SnapMetadataPaths::CatalogFile(job), again, error)) << error;
    EXPECT_TRUE(again.vms.empty());
}

TEST_F(VMCentricSnapTest, FailuresOfTheInstanceAreReportedAndLeaveNoSnapshot) {
    MountCtx web;
    // Every disk filtered: 65, nothing requested.
    MountCtx filtered = job;
    filtered.diskFilters = {{SDiskFilterRule::Pattern, "web-*", "", 0}};
    EXPECT_EQ(Mount(object, filtered, kWeb, web), 0);
    EXPECT_EQ(object.GetLastVMError(), 65);
    EXPECT_TRUE(Made(web.snapJobId).empty());

    // The second volume's snapshot ends in error: 17, and the first is deleted too.
    cloud->AddFault({"CreateSnapshot", 2, "", 0, "error"});
    EXPECT_EQ(Mount(object, job, kWeb, web), 0);
    EXPECT_EQ(object.GetLastVMError(), 17);
    const auto made = Made(web.snapJobId);
    ASSERT_EQ(made.size(), 2u);
    for (const auto& id : made) EXPECT_TRUE(Snapshot(id).id.empty()) << id << " was left behind";
    EXPECT_EQ(object.GetInvalidatedArchiveFiles().back(), web.archiveFileId);
    ASSERT_EQ(object.PostSnap(job), 1);
    SnapBackupCatalog::Catalog catalog;
    std::string error;
    ASSERT_TRUE(SnapBackupCatalog::Load(SnapMetadataPaths::CatalogFile(job), catalog, error)) << error;
    EXPECT_TRUE(catalog.vms.empty()) << "a failed instance is not in the catalogue";
}

TEST_F(VMCentricSnapTest, AJobNeverCommittedLosesItsSnapshotsAtTheNextCleanUp) {
    MountCtx web, db;
    ASSERT_EQ(Mount(object, job, kWeb, web), 1) << object.GetLastVMErrorDetails();
    ASSERT_EQ(Mount(object, job, kDb, db), 1) << object.GetLastVMErrorDetails();
    ASSERT_TRUE(CSnapStore::MarkJobCommitted(db.snapJobId));
    const auto uncommitted = Made(web.snapJobId);
    ASSERT_EQ(uncommitted.size(), 2u);
    std::vector<std::string> deleted;
    std::string error;
    ASSERT_TRUE(CVMSnapUtil::DeleteUncommittedJobs(deleted, error)) << error;
    EXPECT_EQ(deleted, uncommitted);
    for (const auto& id : deleted) EXPECT_TRUE(Snapshot(id).id.empty()) << id;
    SMVolSnapInfo record;
    EXPECT_FALSE(CSnapStore::LoadJobRecord(web.snapJobId, record));
    for (const auto& id : Made(db.snapJobId)) EXPECT_EQ(Snapshot(id).state, "completed") << "a committed job's";
}
}  // namespace

namespace {
TEST_F(VMCentricSnapTest, TheInstancesFilesComeBackFromTheManagerAndReadBack) {
    MountCtx web;
    ASSERT_EQ(Mount(object, job, kWeb, web), 1) << object.GetLastVMErrorDetails();
    unsigned int afile = 0;
    ASSERT_EQ(object.GetAFileID(web, "disk", 0, afile), 1);
    EXPECT_EQ(afile, web.archiveFileId);
    MountCtx none = web;
    none.archiveFileId = 0;
    EXPECT_EQ(object.GetAFileID(none, "disk", 0, afile), 0);
    std::vector<std::string> files;
    ASSERT_EQ(object.GetMetadataFiles(web, files, 1), 1);
    ASSERT_TRUE(CVMSnapUtil::UploadMetadataFiles(web.snapJobId, files));

    // A later job of another process fetches them into its mount path.
    auto reader = Connected();
    ASSERT_TRUE(reader);
    MountCtx later;
    later.requestedVMGuid = kWeb;
    later.snapJobId = web.snapJobId;
    later.mountPath = FwFile::JoinPath(env.BaseDir(), "LaterMount");
    ASSERT_TRUE(reader->_DownloadSnapBackupMetadataFile(later));
    EXPECT_TRUE(later.vmLevelSnapMetadata);
    EXPECT_EQ(later.snapMetadataFolder, later.mountPath);
    const std::string path =
        FwFile::JoinPath(later.mountPath, CVMSnapUtil::GetVMSnapMetadataFileName(web.snapJobId, kWeb));
    CVMSnapUtil util(&reader->GetEventContext());
    std::vector<VMInfoStructs::SDatastoreInfo> stores;
    ASSERT_TRUE(util.ReadSnapMetadataXML(path, stores));
    ASSERT_EQ(stores.size(), 2u);

    // Another snapshot job holds nothing of the instance: neither file comes.
    MountCtx other = later;
    other.snapJobId = web.snapJobId + 1;
    other.snapMetadataFolder = FwFile::JoinPath(env.BaseDir(), "OtherMount");
    EXPECT_FALSE(reader->_DownloadSnapBackupMetadataFile(other));
    EXPECT_FALSE(FwFile::Exists(other.snapMetadataFolder + "/backup_" + std::to_string(other.snapJobId) + ".xml"));
}
}  // namespace
