// Backup copies of a snap backup on the simulated cloud: the snapshot
// manager makes the volumes from the snap job's snapshots, the copy reads
// them as the job's disks, and the unmount leaves nothing behind.
#include <gtest/gtest.h>

#include "backup/MountFixture.h"
#include "framework/FileUtils.h"
#include "framework/SnapEngine.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"
#include "support/LogTap.h"

using namespace mount;

namespace {
constexpr int kArray = 21;

class BackupCopyTest : public MountFixture {
protected:
    void SetUp() override {
        MountFixture::SetUp();
        FwSnapEngine::RegisterArray(kArray, {demo::kRegion, demo::kSourceKey, demo::kSourceSecret});
        SnapBackup();
    }
    void TearDown() override { FwSnapEngine::UnregisterArray(kArray); }

    // A job-level snap backup of web-server-01, its files with the manager.
    void SnapBackup() {
        snapshots.clear();
        auto snapper = Connected();
        ASSERT_TRUE(snapper);
        MountCtx ctx;
        ctx.jobId = snapJob;
        ctx.snapBackup = true;
        ctx.snapControlHostId = kArray;
        ctx.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "SnapResults");
        SVMBasicInfo entry;
        entry.guid = entry.name = kWeb;
        ctx.snapInstances.push_back(entry);
        ASSERT_EQ(snapper->PreSnap(ctx), 1) << snapper->GetLastVMErrorDetails();
        std::vector<std::string> files;
        ASSERT_EQ(snapper->GetMetadataFiles(ctx, files, 0), 1);
        MountCtx mount = ctx;
        mount.requestedVMGuid = kWeb;
        ASSERT_EQ(snapper->MountVM(mount), 1) << snapper->GetLastVMErrorDetails();
        std::vector<std::string> vmFiles;
        ASSERT_EQ(snapper->GetMetadataFiles(mount, vmFiles, 1), 1);
        files.insert(files.end(), vmFiles.begin(), vmFiles.end());
        ASSERT_TRUE(CVMSnapUtil::UploadMetadataFiles(ctx.snapJobId, files));
        ASSERT_EQ(snapper->PostSnap(ctx), 1);
        snapJob = ctx.snapJobId;
        SMVolSnapInfo record;
        ASSERT_TRUE(CSnapStore::LoadJobRecord(snapJob, record));
        for (const auto& m : record.metadata)
            if (m.type == kSMMetaSnapshotPairs) snapshots.push_back(m.metadata);
        ASSERT_EQ(snapshots.size(), 2u);
    }

    MountCtx CopyJob(const std::string& mode = "HOTADD") {
        MountCtx ctx = Job(kWeb, mode);
        ctx.jobId = 7001;
        ctx.snapJobId = snapJob;
        ctx.backupToTape = ctx.snapBackup = true;
        ctx.snapControlHostId = kArray;
        ctx.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "CopyResults");
        return ctx;
    }

    // The volumes the cloud holds named for the snap job's volumes.
    std::vector<std::string> CopyVolumes() {
        return Peek([&](const cloudsim::State& s) {
            std::vector<std::string> ids;
            for (const auto& [id, v] : s.volumes)
                if (v.tags.count("Name") && v.tags.at("Name").find("SnapJob_") != std::string::npos) ids.push_back(id);
            return ids;
        });
    }

    int64_t snapJob = 9300;
    std::vector<std::string> snapshots;
};

TEST_F(BackupCopyTest, TheManagersVolumesBecomeTheDisksAndTheUnmountRemovesThem) {
    auto copy = Connected();
    ASSERT_TRUE(copy);
    MountCtx ctx = CopyJob();
    ASSERT_EQ(copy->MountSnap(ctx), 1) << copy->GetLastVMErrorDetails();
    ASSERT_EQ(copy->MountVM(ctx), 1) << copy->GetLastVMErrorDetails();
    const auto made = CopyVolumes();
    ASSERT_EQ(made.size(), 2u);
    for (const auto& disk : ctx.vm.disks) {
        const auto volume = Volume(disk.newVolumeId);
        ASSERT_FALSE(volume.id.empty()) << disk.volumeId;
        EXPECT_EQ(volume.zone, "us-east-1b") << "made in the proxy's zone";
        EXPECT_EQ(volume.tags.count("_QX_BACKUP_"), 1u);
        EXPECT_EQ(Snapshot(volume.snapshotId).volumeId, disk.volumeId) << "made from its own snapshot";
        EXPECT_EQ(disk.snapshotId, volume.snapshotId);
    }
    std::vector<VMInfoStructs::SMountInfoFull> items;
    ASSERT_EQ(copy->GetFullMountInfo(ctx, items), 1);
    EXPECT_EQ(items.size(), 3u) << "two disks and the configuration file fetched back";
    EXPECT_EQ(copy->UnmountVM(ctx), 1) << copy->GetLastVMErrorDetails();
    for (const auto& id : made) EXPECT_TRUE(Volume(id).id.empty()) << id << " was left";
    std::string path;
    EXPECT_FALSE(copy->Cleaner().GetRegisteredVM(VM_CLEANER_BACKUP, kWeb, path, false));
    EXPECT_EQ(copy->UnmountSnap(ctx), 1);
    EXPECT_FALSE(FwFile::Exists(FwFile::JoinPath(ctx.jobResultsFolder, CVMSnapUtil::GetSnapMetadataFileName(snapJob))));
}

TEST_F(BackupCopyTest, TheManagersRefusalsMapToTheCopysCodes) {
    struct Case {
        const char* name;
        const char* fault;    // CreateVolume's error, or "" to delete the snapshot first
        int code;
    };
    const Case cases[] = {
        {"snapshot gone", "", 2003},
        {"volume quota", "VolumeLimitExceeded: You have reached the limit of volumes", 268},
        {"io1 limit", "MaxIOPSLimitExceeded: You have exceeded your maximum io1 IOPS limit", 243},
        {"other", "InsufficientVolumeCapacity: no capacity", 24},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto copy = Connected();
        ASSERT_TRUE(copy);
        MountCtx ctx = CopyJob();
        ASSERT_EQ(copy->MountSnap(ctx), 1);
        std::string victim;
        if (*c.fault) {
            cloud->AddFault({"CreateVolume", 2, c.fault, 0});
        } else {
            ASSERT_TRUE(CAmazonInfo::GetValueFromSnapMetadata(snapshots[1], "snapUUID", victim));
            cloud->Write([&](cloudsim::State& s) { s.snapshots.erase(victim); });
        }
        EXPECT_EQ(copy->MountVM(ctx), 0);
        EXPECT_EQ(copy->GetLastVMError(), c.code) << copy->GetLastVMErrorDetails();
        EXPECT_TRUE(CopyVolumes().empty()) << "the volume made before the failure is removed";
        cloud->ClearFaults();
        if (victim.empty()) continue;
        // Later cases need the snap backup whole again.
        SnapBackup();
    }
}

TEST_F(BackupCopyTest, AHotaddCopyWithoutTheSnapshotsRegionFails) {
    SMVolSnapInfo record;
    ASSERT_TRUE(CSnapStore::LoadJobRecord(snapJob, record));
    for (auto& m : record.metadata)
        if (m.type == kSMMetaSnapshotPairs) {
            const size_t at = m.metadata.find("targetRegion:");
            m.metadata.erase(at, m.metadata.find(';', at) - at + 1);
        }
    ASSERT_TRUE(CSnapStore::SaveJobRecord(record));
    auto copy = Connected();
    ASSERT_TRUE(copy);
    MountCtx ctx = CopyJob();
    ASSERT_EQ(copy->MountSnap(ctx), 1);
    EXPECT_EQ(copy->MountVM(ctx), 0);
    EXPECT_EQ(copy->GetLastVMError(), 177);
    EXPECT_EQ(copy->GetLastVMErrorDetails(), "Proxy region [us-east-1] and snap region [] is different.");
    EXPECT_TRUE(CopyVolumes().empty());
}

}  // namespace
