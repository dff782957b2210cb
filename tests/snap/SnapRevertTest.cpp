// A snap backup mounted and reverted on the simulated cloud: the job's
// metadata fetched (or kept, for a live browse), the disks a revert takes
// from it, and the volumes of disks nobody selected removed again.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "framework/FileUtils.h"
#include "framework/SnapEngine.h"
#include "framework/VMSnapUtil.h"
#include "support/ConnectedFixture.h"
#include "support/LogTap.h"
#include "tasks/AmazonTaskUtils.h"

namespace {
using VMInfoStructs::SDisk;
const char kWeb[] = "i-0a1b2c3d4e5f60001";   // us-east-1a, root a001, data a002
const char kRoot[] = "vol-0a1b2c3d4e5f6a001";
const char kData[] = "vol-0a1b2c3d4e5f6a002";
const char kWest[] = "i-0a1b2c3d4e5f60004";  // us-west-2a
constexpr int kArray = 12;

class SnapRevertTest : public ConnectedFixture {
protected:
    void SetUp() override {
        ConnectObject();
        FwSnapEngine::RegisterArray(kArray, {demo::kRegion, demo::kSourceKey, demo::kSourceSecret});
        backup.jobId = 9300;
        backup.snapBackup = true;
        backup.hubCellId = 3;
        backup.snapControlHostId = kArray;
        backup.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "JobResults");
        // One job over two regions.
        for (const char* id : {kWeb, kWest}) {
            SVMBasicInfo entry;
            entry.guid = entry.name = id;
            backup.snapInstances.push_back(entry);
        }
        ASSERT_EQ(object.PreSnap(backup), 1) << object.GetLastVMErrorDetails();
        ASSERT_TRUE(object.GetMetadataFiles(backup, files, 0));
        ASSERT_FALSE(files.empty());
        // And each instance's own, its configuration file with them.
        for (const auto& entry : backup.snapInstances) {
            MountCtx mount = backup;
            mount.requestedVMGuid = entry.guid;
            std::vector<std::string> own;
            ASSERT_TRUE(object.GetMetadataFiles(mount, own, 1));
            for (const auto& f : own)
                if (std::find(files.begin(), files.end(), f) == files.end()) files.push_back(f);
        }
    }
    void TearDown() override { FwSnapEngine::UnregisterArray(kArray); }

    // The context a later job of the framework gets for the snap job.
    MountCtx Later(const std::string& instance = kWeb) const {
        MountCtx ctx;
        ctx.jobId = 9400;
        ctx.snapJobId = backup.snapJobId;
        ctx.requestedVMGuid = instance;
        ctx.requestedVMName = "web-server-01";
        ctx.transportMode = "EBS-DIRECT-API";
        ctx.snapControlHostId = kArray;
        ctx.jobResultsFolder = FwFile::JoinPath(env.BaseDir(), "Later");
        ctx.snapMetadataFolder = FwFile::JoinPath(env.BaseDir(), "LaterMeta");
        return ctx;
    }
    static SDisk RestoreDisk(const std::string& source) {
        SDisk disk;
        disk.sourceVolumeId = disk.volumeId = source;
        disk.selected = true;
        return disk;
    }
    // A full restore of kWeb from the snap job as a new instance, by job.
    RestoreCtx NewInstance(int64_t job, const std::string& region = demo::kRegion) const {
        RestoreCtx rctx;
        rctx.jobId = job;
        rctx.restoreFromSnap = true;
        rctx.restoreVMName = "web-copy";
        rctx.originalVMName = "web-server-01";
        rctx.sourceGuid = kWeb;
        rctx.destZone = region == demo::kRegion ? "us-east-1a" : "us-west-2a";
        rctx.destRegion = region;
        rctx.restorePath = Later().snapMetadataFolder + "/";
        for (const char* id : {kRoot, kData}) rctx.disks.push_back(RestoreDisk(id));
        rctx.disks[0].isOSDisk = true;
        return rctx;
    }
    size_t Instances() {
        return Peek([](const cloudsim::State& s) { return s.instances.size(); });
    }
    // Volumes made from the snap job's snapshots that still exist.
    std::vector<std::string> VolumesFromTheJob() {
        std::set<std::string> snaps;
        for (const auto& m : object.SnapState().record.metadata)
            if (m.type == kSMMetaSnapshotPairs) {
                const size_t at = m.metadata.find("snapUUID:") + 9;
                snaps.insert(m.metadata.substr(at, m.metadata.find(';', at) - at));
            }
        return Peek([&](const cloudsim::State& s) {
            std::vector<std::string> ids;
            for (const auto& [id, v] : s.volumes)
                if (snaps.count(v.snapshotId) && v.state != "deleting") ids.push_back(id);
            return ids;
        });
    }
    MountCtx backup;
    std::vector<std::string> files;
};

TEST_F(SnapRevertTest, AMountReadsTheJobsMetadataAndALiveBrowseKeepsAFileItHas) {
    const std::string name = CVMSnapUtil::GetSnapMetadataFileName(backup.snapJobId);
    struct Case {
        const char* what;
        bool handedOver;     // the manager holds the job's files
        bool alreadyThere;   // the file is in the results folder before the mount
        bool liveBrowse;
        bool vmCentric;
        int result;
        EVMInfoError error;
    } cases[] = {
        // Those the manager holds no files for come first: a hand-over is for good.
        {"a live browse keeps the file it has", false, true, true, false, 1, 0},
        {"a backup copy fetches even then", false, true, false, false, 0, 28},
        {"a VM-centric job reads at each mount", false, false, true, true, 1, 0},
        {"a backup copy fetches the file", true, false, false, false, 1, 0},
        {"a live browse fetches a file it lacks", true, false, true, false, 1, 0},
    };
    std::string bytes;
    for (const auto& f : files) {
        if (f.size() >= name.size() && f.compare(f.size() - name.size(), name.size(), name) == 0) {
            ASSERT_TRUE(FwFile::ReadAll(f, bytes));
        }
    }
    ASSERT_FALSE(bytes.empty()) << "the job wrote no " << name;
    bool handedOver = false;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MountCtx ctx = Later();
        ctx.liveBrowse = c.liveBrowse;
        ctx.indexingV2 = c.vmCentric;
        FwFile::RemoveTree(ctx.jobResultsFolder);
        if (c.handedOver && !handedOver) handedOver = CVMSnapUtil::UploadMetadataFiles(backup.snapJobId, files);
        ASSERT_EQ(handedOver, c.handedOver);
        if (c.alreadyThere) {
            ASSERT_TRUE(FwFile::MakeDirs(ctx.jobResultsFolder));
            ASSERT_TRUE(FwFile::WriteAllAtomic(FwFile::JoinPath(ctx.jobResultsFolder, name), bytes));
        }
        CAmazonInfo::c_InstanceInfoMapFromSnapXML.erase(ctx.snapJobId);
        EXPECT_EQ(object.MountSnap(ctx), c.result) << object.GetLastVMErrorDetails();
        EXPECT_EQ(object.GetLastVMError(), c.error);
        const bool read = c.result == 1 && !c.vmCentric;
        EXPECT_EQ(CAmazonInfo::SnapXmlInstance(ctx.snapJobId, kWeb) != nullptr, read);
        EXPECT_EQ(ctx.volSnaps.empty(), !read);
        EXPECT_EQ(object.UnmountSnap(ctx), 1);
        // A live browse's file stays for the browse that follows.
        if (read && c.liveBrowse) {
            EXPECT_TRUE(FwFile::Exists(FwFile::JoinPath(ctx.jobResultsFolder, name)));
        }
    }
}

TEST_F(SnapRevertTest, AMountOfAJobTheManagerDoesNotHoldFailsWith29) {
    MountCtx ctx = Later();
    ctx.snapJobId = 777777;
    EXPECT_EQ(object.MountSnap(ctx), 0);
    EXPECT_EQ(object.GetLastVMError(), 29);
}

TEST_F(SnapRevertTest, TheRevertsDiskListComesFromTheBackupAndNamesWhatItLacks) {
    ASSERT_TRUE(CVMSnapUtil::UploadMetadataFiles(backup.snapJobId, files));
    struct Case {
        const char* what;
        const char* instance;
        int flavour;
        std::vector<std::string> asked;
        bool result;
        size_t disks;      // in the VM record afterwards
        size_t failures;   // restore failure entries
    } cases[] = {
        {"every disk of a full revert", kWeb, RestoreCtx::FullInstance, {kRoot, kData}, true, 2, 0},
        {"a job-level attach disk restore takes only its own", kWeb, RestoreCtx::AttachDisk, {kData}, true, 1, 0},
        {"a disk the backup lacks", kWeb, RestoreCtx::FullInstance, {kRoot, "vol-0000000000000dead"}, false, 1, 1},
        {"a full revert of some disks", kWeb, RestoreCtx::FullInstance, {kData}, true, 1, 0},
        {"an instance the backup lacks", "i-0a1b2c3d4e5f60002", RestoreCtx::FullInstance, {kRoot}, false, 0, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        MountCtx mctx = Later(c.instance);
        RestoreCtx rctx;
        rctx.flavour = c.flavour;
        for (const auto& id : c.asked) rctx.disks.push_back(RestoreDisk(id));
        EXPECT_EQ(object._GetFileListForRevertFromSnapXML(mctx, rctx), c.result);
        EXPECT_EQ(mctx.vm.disks.size(), c.disks);
        EXPECT_EQ(mctx.vm.allDisks.size(), c.disks);
        EXPECT_EQ(rctx.failures.size(), c.failures);
        // A disk to restore takes the device it had.
        for (const auto& disk : rctx.disks)
            if (c.result) {
                EXPECT_FALSE(disk.deviceName.empty()) << disk.sourceVolumeId;
            }
    }
}

TEST_F(SnapRevertTest, AnAttachDiskRestoreDeletesTheVolumesOfDisksNobodySelected) {
    RestoreCtx rctx;
    rctx.flavour = RestoreCtx::AttachDisk;
    rctx.registrationGuid = "revert-key";
    rctx.disks.push_back(RestoreDisk(kData));
    ASSERT_EQ(object.RegisterCleanerForRestore(rctx), 1);
    MountCtx mctx = Later();
    auto* tasks = object.TaskUtils();
    ASSERT_NE(tasks, nullptr);
    for (const char* source : {kRoot, kData}) {
        SDisk made;
        made.size = 1LL << 30;
        made.zone = "us-east-1a";
        made.volumeType = "gp3";
        ASSERT_TRUE(tasks->CreateEmptyVolume(made, demo::kRegion, ""));
        ASSERT_TRUE(object.Cleaner().RegisterDisk(VM_CLEANER_RESTORE, rctx.registrationGuid, made.newVolumeId));
        SDisk disk;
        disk.volumeId = source;
        disk.newVolumeId = made.newVolumeId;
        mctx.vm.disks.push_back(disk);
    }
    const std::string unselected = mctx.vm.disks[0].newVolumeId, selected = mctx.vm.disks[1].newVolumeId;
    ASSERT_TRUE(object._DeleteDisksNotSelectedForAttachDiskRestore(mctx, rctx));
    ASSERT_EQ(mctx.vm.disks.size(), 1u);
    EXPECT_EQ(mctx.vm.disks[0].volumeId, kData);
    const auto gone = Volume(unselected);
    EXPECT_TRUE(gone.id.empty() || gone.state == "deleting" || gone.state == "deleted") << gone.state;
    EXPECT_EQ(Volume(selected).state, "available");
    std::string path;
    ASSERT_TRUE(object.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, rctx.registrationGuid, path, false));
    std::vector<SDisk> registered;
    ASSERT_TRUE(object.Cleaner().GetRegisteredDisks(path, registered));
    ASSERT_EQ(registered.size(), 1u);
    EXPECT_EQ(registered[0].newVolumeId, selected);
}

TEST_F(SnapRevertTest, TheRegionCheckReadsOnlyTheInstancesOwnSnapshots) {
    ASSERT_TRUE(CVMSnapUtil::UploadMetadataFiles(backup.snapJobId, files));
    struct Case {
        const char* instance;
        const char* volume;
        const char* destination;
        bool result;
        const char* details;
    } cases[] = {
        {kWeb, kRoot, "us-east-1", true, ""},
        {kWest, "vol-0a1b2c3d4e5f6d001", "us-west-2", true, ""},
        {kWest, "vol-0a1b2c3d4e5f6d001", "us-east-1", false,
         "New instance region [us-east-1] and snap region [us-west-2] is different."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.instance) + " to " + c.destination);
        CAmazonInfo other(kAmazonInstanceType);
        ASSERT_EQ(1, ConnectDemo(other));
        MountCtx mctx = Later(c.instance);
        RestoreCtx rctx;
        rctx.destRegion = c.destination;
        rctx.disks.push_back(RestoreDisk(c.volume));
        EXPECT_EQ(other._PrepareForFileRevert(mctx, rctx), c.result);
        EXPECT_EQ(other.GetLastVMError(), c.result ? 0 : 197);
        EXPECT_EQ(other.GetLastVMErrorDetails(), c.details);
    }
}

TEST_F(SnapRevertTest, ASecondRevertInAJobReturnsThatJobsResultAndNoOtherJobs) {
    ASSERT_TRUE(CVMSnapUtil::UploadMetadataFiles(backup.snapJobId, files));
    struct Case {
        int64_t job;
        const char* region;
        int result;
        size_t newInstances;   // launched by this call
    } cases[] = {
        {1, "us-west-2", 0, 0},   // the snapshots are in us-east-1
        {1, "us-east-1", 0, 0},   // the same job: its recorded result
        {2, "us-east-1", 1, 1},   // another job runs again
        {2, "us-east-1", 1, 0},
    };
    // Each restore job has an object of its own, as the framework gives it.
    std::map<int64_t, std::unique_ptr<CAmazonInfo>> objects;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.job) + " to " + c.region);
        auto& job = objects[c.job];
        if (!job) job = Connected();
        ASSERT_TRUE(job);
        MountCtx mctx = Later();
        const RestoreCtx rctx = NewInstance(c.job, c.region);
        const size_t before = Instances();
        EXPECT_EQ(job->RevertSnap(mctx, rctx), c.result) << job->GetLastVMErrorDetails();
        EXPECT_EQ(Instances() - before, c.newInstances);
        if (c.newInstances) {
            job->CloseRestoreVM(rctx);
            // The restored instance has the snapshots' volumes and keeps them.
            EXPECT_EQ(VolumesFromTheJob().size(), 2u);
            for (const auto& disk : rctx.disks) EXPECT_EQ(Volume(disk.newVolumeId).attachedInstance, rctx.vmGuid);
        }
    }
}

TEST_F(SnapRevertTest, AFailedVolumeCreationRemovesWhatWasMadeAndSets5001) {
    ASSERT_TRUE(CVMSnapUtil::UploadMetadataFiles(backup.snapJobId, files));
    cloud->AddFault({"CreateVolume", 2, "InsufficientVolumeCapacity: no capacity in us-east-1a", 0});
    MountCtx mctx = Later();
    const RestoreCtx rctx = NewInstance(3);
    // Registered before the clean-up: the volume made, and not the entry
    // whose path still names its snapshot.
    std::vector<SDisk> registered;
    LogTap log;
    log.OnLine([&](const std::string& line) {
        std::string path;
        if (line == "Failed to perform File level revert" &&
            object.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, rctx.registrationGuid, path, false))
            object.Cleaner().GetRegisteredDisks(path, registered);
    });
    EXPECT_EQ(object.RevertSnap(mctx, rctx), 0);
    ASSERT_EQ(registered.size(), 1u);
    EXPECT_EQ(registered[0].volumeId.rfind("vol-", 0), 0u) << registered[0].volumeId;
    EXPECT_EQ(object.GetLastVMError(), 5001);
    EXPECT_NE(object.GetLastVMErrorDetails().find("InsufficientVolumeCapacity"), std::string::npos)
        << object.GetLastVMErrorDetails();
    EXPECT_TRUE(VolumesFromTheJob().empty());
    std::string path;
    ASSERT_TRUE(object.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, rctx.registrationGuid, path, false));
    ASSERT_TRUE(object.Cleaner().GetRegisteredDisks(path, registered));
    EXPECT_TRUE(registered.empty());
}
}  // namespace
