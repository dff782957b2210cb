// Backup copies of a snap backup on the simulated cloud: the snapshot
// manager makes the volumes from the snap job's snapshots, the copy reads
// them as the job's disks, and the unmount leaves nothing behind.
#include <gtest/gtest.h>

#include "backup/MountFixture.h"
#include "cloudsim/CloudState.h"
#include "cloudsim/Kms.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "framework/SnapEngine.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"
#include "support/LogTap.h"

using namespace mount;

namespace {
constexpr int kArray = 21;
const char kDbKeyArn[] = "arn:aws:kms:us-east-1:111122223333:key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d";

TEST(SnapMetadataValueTest, OnlyAWholeKeyAtAPairsStartAnswers) {
    const std::string text = "snapUUID:snap-1;sourceRegion:us-east-1;targetRegion:us-west-2;sourceInstance:vol-1;";
    const struct {
        std::string text, key, value;
        bool found;
    } rows[] = {
        {text, "snapUUID", "snap-1", true},
        {text, "targetRegion", "us-west-2", true},
        {text, "sourceInstance", "vol-1", true},
        {text, "Region", "", false},        // only the tail of two keys
        {text, "snap", "", false},          // only the head of one
        {text, "us-east-1", "", false},     // a value's text
        {"a:1;b;", "b", "", false},         // the ";" right after the key
        {"a:1;b:2", "b", "", false},        // no ";" closes the pair
        {"a:;b:2;", "a", "", true},         // an empty value
    };
    for (const auto& row : rows) {
        std::string value = "stale";
        EXPECT_EQ(CAmazonInfo::GetValueFromSnapMetadata(row.text, row.key, value), row.found) << row.key;
        EXPECT_EQ(value, row.value) << row.key;
    }
}

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

    // The newest transient metadata the copy gave the manager for the
    // snapshot of volume.
    std::string MountEntryOf(const CAmazonInfo& copy, const std::string& volume) {
        const auto& record = copy.SnapState().mounted.back();
        uint32_t snapId = 0;
        for (const auto& snap : record.snaps)
            if (snap.sourceDevice == "/us-east-1/" + volume) snapId = snap.snapId;
        std::string text;
        for (const auto& m : record.metadata)
            if (m.type == kSMMetaTransient && m.referenceId == snapId) text = m.metadata;
        return text;
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

// Two copies in one process, of two snap jobs of the same instance: each
// reads the instance as its own snap job recorded it, whichever snap job's
// metadata was read last, and a copy of a snap job never read finds nothing.
TEST_F(BackupCopyTest, EachCopyReadsTheInstanceAsItsOwnSnapJobRecordedIt) {
    const int64_t first = snapJob;
    cloud->Write([](cloudsim::State& s) { s.volumes.at(kWebData).type = "sc1"; });
    snapJob = first + 1;
    SnapBackup();
    const int64_t second = snapJob;
    auto older = Connected();
    auto newer = Connected();
    ASSERT_TRUE(older && newer);
    MountCtx olderCopy = CopyJob();
    olderCopy.snapJobId = first;
    MountCtx newerCopy = CopyJob();
    ASSERT_EQ(older->MountSnap(olderCopy), 1) << older->GetLastVMErrorDetails();
    ASSERT_EQ(newer->MountSnap(newerCopy), 1) << newer->GetLastVMErrorDetails();
    const struct {
        CAmazonInfo* object;
        int64_t snapJobId;
        const char* dataType;   // empty: the snap job recorded no such instance
    } rows[] = {{older.get(), first, "gp2"}, {newer.get(), second, "sc1"}, {older.get(), second + 1, ""}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.snapJobId);
        VMInfoStructs::SVMInfo vm;
        const bool found = row.object->_InitVMInfoForBackup("", kWeb, "", true, row.snapJobId, vm);
        ASSERT_EQ(found, *row.dataType != 0);
        if (!found) {
            EXPECT_EQ(row.object->GetLastVMError(), 1);
            continue;
        }
        std::string type;
        for (const auto& disk : vm.disks)
            if (disk.volumeId == kWebData) type = disk.volumeType;
        EXPECT_EQ(type, row.dataType);
    }
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

// A manager entry that made no volume names none: its path ends in "/", or
// still names its snapshot after the creation was refused. The copy records
// only the volume the manager made, and tags nothing of a mount that failed.
TEST_F(BackupCopyTest, AnEntryThatNamesNoVolumeIsNeitherRegisteredNorTagged) {
    for (const bool blankPath : {false, true}) {   // the stored record is changed last
        SCOPED_TRACE(blankPath ? "path ends in /" : "creation refused");
        if (blankPath) {
            SMVolSnapInfo record;
            ASSERT_TRUE(CSnapStore::LoadJobRecord(snapJob, record));
            SMSnapInfo& blank = record.snaps.back();
            blank.snapDevice = "/us-east-1/";
            for (auto& m : record.metadata)
                if (m.type == kSMMetaSnapshotPairs && m.referenceId == blank.snapId) {
                    // Without its region the pairs no longer name the snapshot.
                    const size_t at = m.metadata.find("sourceRegion:");
                    m.metadata.erase(at, m.metadata.find(';', at) - at + 1);
                }
            ASSERT_TRUE(CSnapStore::SaveJobRecord(record));
        } else {
            cloud->AddFault({"CreateVolume", 2, "InsufficientVolumeCapacity: no capacity", 0});
        }
        auto copy = Connected();
        ASSERT_TRUE(copy);
        MountCtx ctx = CopyJob();
        ASSERT_EQ(copy->MountSnap(ctx), 1);
        // What the copy registered, seen as the failed mount is rolled back.
        std::vector<VMInfoStructs::SDisk> registered;
        LogTap log;
        log.OnLine([&](const std::string& line) {
            std::string path;
            if (line.find("] failed to mount") != std::string::npos &&
                copy->Cleaner().GetRegisteredVM(VM_CLEANER_BACKUP, kWeb, path, false))
                copy->Cleaner().GetRegisteredDisks(path, registered);
        });
        cloud->AddFault(cloudsim::FaultRule("SetTag", 0, "", 0, "count"));
        EXPECT_EQ(copy->MountVM(ctx), 0);
        ASSERT_EQ(registered.size(), 1u) << "seen: " << (registered.empty() ? "" : registered.back().volumeId);
        EXPECT_EQ(registered[0].volumeId.rfind("vol-", 0), 0u) << registered[0].volumeId;
        EXPECT_EQ(Peek([](const cloudsim::State& s) { return s.faults.back().seen; }), 0) << "nothing to tag";
        cloud->ClearFaults();
        env.Clock().AdvanceMs(10 * 60 * 1000);
        EXPECT_TRUE(CopyVolumes().empty());
        std::string path;
        EXPECT_FALSE(copy->Cleaner().GetRegisteredVM(VM_CLEANER_BACKUP, kWeb, path, false));
    }
}

TEST_F(BackupCopyTest, VolumesKeepTheDefaultOrTheCustomKeyOfTheirSource) {
    std::string defaultKey;
    cloud->Write([&](cloudsim::State& s) {
        defaultKey = cloudsim::DefaultKmsKey(s, demo::kSourceAccount, "us-east-1");
        s.volumes.at(kWebRoot).encrypted = s.volumes.at(kWebData).encrypted = true;
        s.volumes.at(kWebRoot).kmsKeyId = defaultKey;
        s.volumes.at(kWebData).kmsKeyId = kDbKeyArn;
    });
    SnapBackup();
    auto copy = Connected();
    ASSERT_TRUE(copy);
    MountCtx ctx = CopyJob();
    ctx.keepSourceEncryption = true;
    ASSERT_EQ(copy->MountSnap(ctx), 1);
    ASSERT_EQ(copy->MountVM(ctx), 1) << copy->GetLastVMErrorDetails();
    for (const auto& [volume, key] : {std::make_pair(kWebRoot, defaultKey), std::make_pair(kWebData, std::string(kDbKeyArn))}) {
        const std::string entry = MountEntryOf(*copy, volume);
        std::string carried;
        ASSERT_TRUE(CAmazonInfo::GetValueFromSnapMetadata(entry, "targetEncryptionKey", carried)) << entry;
        EXPECT_EQ(carried.find(':'), std::string::npos) << "the ARN's \":\" would end the pair";
        EXPECT_EQ(carried, "arn$aws$kms$us-east-1$111122223333$" + key.substr(key.find("key/")));
        for (const auto& disk : ctx.vm.disks)
            if (disk.volumeId == volume) {
                EXPECT_TRUE(Volume(disk.newVolumeId).encrypted);
                EXPECT_EQ(Volume(disk.newVolumeId).kmsKeyId, key) << volume;
            }
    }
    EXPECT_EQ(copy->UnmountVM(ctx), 1);
    EXPECT_TRUE(CopyVolumes().empty());
}

TEST_F(BackupCopyTest, MarketplaceVolumesAreFilteredAndACopyOfNothingButThemFails) {
    const struct {
        std::vector<std::string> marketplace;
        int result, error;
        size_t disks;
    } rows[] = {{{kWebData}, 1, 0, 1}, {{kWebRoot, kWebData}, 0, 65, 0}};
    for (const auto& row : rows) {
        cloud->Write([&](cloudsim::State& s) {
            for (auto& [id, v] : s.volumes) v.productCodes.clear();
            for (const auto& id : row.marketplace) s.volumes.at(id).productCodes = {"prod-code-1"};
        });
        SnapBackup();
        auto copy = Connected();
        ASSERT_TRUE(copy);
        MountCtx ctx = CopyJob();
        ASSERT_EQ(copy->MountSnap(ctx), 1);
        EXPECT_EQ(copy->MountVM(ctx), row.result);
        EXPECT_EQ(copy->GetLastVMError(), row.error);
        if (row.result) {
            std::vector<VMInfoStructs::SMountInfoFull> items;
            ASSERT_EQ(copy->GetFullMountInfo(ctx, items), 1);
            EXPECT_EQ(items.size(), row.disks + 1);
            for (const auto& item : items) EXPECT_NE(item.disks.front().volumeId, kWebData);
            EXPECT_EQ(copy->UnmountVM(ctx), 1);
        }
        EXPECT_TRUE(CopyVolumes().empty()) << "the filtered volume goes with the others";
    }
}

TEST_F(BackupCopyTest, UnmountCodesForVolumesAlreadyGoneOrDetachedCountAsSuccess) {
    const struct {
        const char* operation;
        const char* error;
        int result;
    } rows[] = {
        {"DeleteVolume", "InvalidVolume.NotFound: The volume does not exist.", 1},
        {"DeleteVolume", "IncorrectState: The volume is not attached where recorded.", 1},
        {"DeleteVolume", "InternalError: try again", 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.error);
        auto copy = Connected();
        ASSERT_TRUE(copy);
        MountCtx ctx = CopyJob();
        ASSERT_EQ(copy->MountSnap(ctx), 1);
        ASSERT_EQ(copy->MountVM(ctx), 1) << copy->GetLastVMErrorDetails();
        cloud->AddFault({row.operation, 1, row.error, 0});
        EXPECT_EQ(copy->UnmountVM(ctx), row.result);
        if (!row.result) {
            EXPECT_EQ(copy->GetLastVMError(), 117);
        }
        cloud->ClearFaults();
        // Whatever the manager left is the registry's to remove.
        if (!row.result) {
            EXPECT_EQ(copy->CleanupVM(ctx), 1);
        }
        env.Clock().AdvanceMs(10 * 60 * 1000);
        EXPECT_TRUE(CopyVolumes().empty());
    }
}

TEST_F(BackupCopyTest, ACrossAccountCopySharesCustomKeySnapshotsOnlyAndWithdrawsTheSharing) {
    auto sharedWithAdmin = [&] {
        return Peek([&](const cloudsim::State& s) {
            size_t n = 0;
            for (const auto& [id, snap] : s.snapshots) n += cloudsim::SharedWith(snap, demo::kAdminAccount);
            return n;
        });
    };
    const struct {
        bool defaultKey;
        int result;
    } rows[] = {{false, 1}, {true, 0}};
    for (const auto& row : rows) {
        cloud->Write([&](cloudsim::State& s) {
            auto& root = s.volumes.at(kWebRoot);
            root.encrypted = row.defaultKey;
            root.kmsKeyId = row.defaultKey ? cloudsim::DefaultKmsKey(s, demo::kSourceAccount, "us-east-1") : "";
            s.volumes.at(kWebData).encrypted = true;
            s.volumes.at(kWebData).kmsKeyId = kDbKeyArn;
        });
        SnapBackup();
        SetProxy("i-0fedcba9876540001");   // the admin account's, us-east-1a
        auto copy = Connected(Accounts::SourceAndAdmin);
        ASSERT_TRUE(copy);
        MountCtx ctx = CopyJob();
        ASSERT_EQ(copy->MountSnap(ctx), 1);
        EXPECT_EQ(copy->MountVM(ctx), row.result) << copy->GetLastVMErrorDetails();
        if (row.defaultKey) {
            EXPECT_EQ(copy->GetLastVMError(), 24);
            EXPECT_NE(copy->GetLastVMErrorDetails().find("can't be shared"), std::string::npos)
                << copy->GetLastVMErrorDetails();
        } else {
            EXPECT_EQ(sharedWithAdmin(), 2u);
            for (const auto& disk : ctx.vm.disks)
                EXPECT_EQ(Volume(disk.newVolumeId).account, demo::kAdminAccount) << "made where the proxy reads";
            EXPECT_EQ(copy->UnmountVM(ctx), 1) << copy->GetLastVMErrorDetails();
        }
        EXPECT_EQ(sharedWithAdmin(), 0u);
        env.Clock().AdvanceMs(10 * 60 * 1000);
        EXPECT_TRUE(CopyVolumes().empty());
    }
}

}  // namespace
