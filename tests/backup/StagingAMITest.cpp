// The backup AMI: which volumes it takes, how it and its snapshots are named,
// described, tagged and registered, and when a backup is refused.
#include <regex>

#include "backup/StagingFixture.h"
#include "cloudsim/CloudState.h"

using namespace staging;

namespace {
const char kDirect[] = "EBS-DIRECT-API";
const char kWebData[] = "vol-0a1b2c3d4e5f6a002";
const char kDbData[] = "vol-0a1b2c3d4e5f6b002";

SDiskFilterRule PatternRule(const std::string& volumeId) {
    SDiskFilterRule rule;
    rule.value = volumeId;
    return rule;
}
}  // namespace

TEST_F(StagingFixture, BackupAMIAndItsSnapshotsAreNamedTaggedAndRegistered) {
    ASSERT_TRUE(ConnectAcrossAccounts());
    // A value the user gave the backup tag on a volume is kept.
    cloud->Write([](cloudsim::State& s) { s.volumes.at(kWebData).tags["_QX_BACKUP_"] = "user value"; });
    MountCtx ctx = Job(kWeb, kDirect);
    ASSERT_EQ(1, object.TakeAMISnapshot(ctx)) << object.GetLastVMErrorDetails();

    ASSERT_FALSE(ctx.amiId.empty());
    EXPECT_EQ(ctx.amiId, ctx.vm.amiId);
    EXPECT_EQ(ctx.amiId, ctx.cleanupString);
    EXPECT_EQ(std::vector<std::string>{ctx.amiId}, Registered(kWeb, true));
    cloud->Read([&](const cloudsim::State& s) {
        const auto& image = s.images.at(ctx.amiId);
        EXPECT_EQ("available", image.state);
        EXPECT_TRUE(std::regex_match(image.name, std::regex("_QX_BACKUP__[0-9]+_[0-9]+"))) << image.name;
        EXPECT_TRUE(std::regex_match(image.description,
                                     std::regex("Snapshot Created for Backup Job 0 from .*\\(.*\\) at [0-9]+")))
            << image.description;
        EXPECT_EQ(kWeb, image.tags.at("_QX_BACKUP_"));
        EXPECT_EQ("42", image.tags.at("KD_Subclient"));
        EXPECT_EQ(ctx.amiId, s.instances.at(kWeb).tags.at("_QX_AMI_"));
        ASSERT_EQ(2u, image.snapshotIds.size());
        for (const auto& id : image.snapshotIds) {
            const auto& snap = s.snapshots.at(id);
            const auto& source = s.volumes.at(snap.volumeId).tags;
            EXPECT_EQ(source.at("Name"), snap.tags.at("Name"));
            EXPECT_EQ(snap.volumeId == kWebData ? "user value" : "", snap.tags.at("_QX_BACKUP_"));
            EXPECT_EQ(image.description, snap.tags.at("Description"));
        }
    });
    for (const auto& disk : ctx.vm.disks) {
        EXPECT_EQ(disk.volumeId, Snapshot(disk.snapshotId).volumeId);
        EXPECT_EQ(disk.snapshotId, disk.snapshotIdCbt);
    }
    const auto progress = object.GetSnapshotProgress();
    ASSERT_EQ(2u, progress.size());
    EXPECT_EQ(kWeb, progress[1].vmGuid);
    EXPECT_EQ(0, progress[0].percent);
    EXPECT_EQ(100, progress[1].percent);
    EXPECT_EQ(0, progress[1].status);
}

TEST_F(StagingFixture, FilteredAndSkippedDataDisksStayOutButTheRootNeverDoes) {
    ASSERT_TRUE(ConnectAcrossAccounts());
    auto snapshottedVolumes = [&](const std::string& ami) {
        std::vector<std::string> volumes;
        cloud->Read([&](const cloudsim::State& s) {
            for (const auto& id : s.images.at(ami).snapshotIds) volumes.push_back(s.snapshots.at(id).volumeId);
        });
        return volumes;
    };

    MountCtx filtered = Job(kDb, kDirect);
    filtered.diskFilters = {PatternRule(kDbRoot), PatternRule(kDbLogs)};
    ASSERT_EQ(1, object.TakeAMISnapshot(filtered));
    EXPECT_EQ(2, filtered.excludedDiskCount);
    EXPECT_EQ((std::vector<std::string>{kDbRoot, kDbData}), snapshottedVolumes(filtered.amiId));
    ASSERT_EQ(3u, filtered.vm.disks.size());
    EXPECT_TRUE(filtered.vm.disks[0].filtered);
    EXPECT_FALSE(filtered.vm.disks[1].filtered);
    EXPECT_TRUE(filtered.vm.disks[2].filtered);
    EXPECT_TRUE(filtered.vm.disks[2].snapshotId.empty());

    TestEnv::SetSetting("VirtualServer", "bSkipDataDisksForBackup", "true");
    MountCtx skipped = Job(kDb, kDirect);
    ASSERT_EQ(1, object.TakeAMISnapshot(skipped));
    EXPECT_EQ(2, skipped.excludedDiskCount);
    EXPECT_EQ(std::vector<std::string>{kDbRoot}, snapshottedVolumes(skipped.amiId));

    // A Marketplace root cannot be attached to the proxy: with the data disks
    // skipped nothing is left to back up, and no AMI is made at all.
    cloud->Write([](cloudsim::State& s) { s.volumes.at(kDbRoot).productCodes = {"prod-code-1"}; });
    MountCtx none = Job(kDb, "HOTADD");
    const size_t images = ImageCount();
    EXPECT_EQ(0, object.TakeAMISnapshot(none));
    EXPECT_EQ(65, object.GetLastVMError());
    EXPECT_EQ(images, ImageCount());
    ASSERT_EQ(1u, object.GetFailures().size());
    EXPECT_EQ(kDbRoot, object.GetFailures()[0].item);
    EXPECT_EQ("Volumes with market-place product code are filtered.", object.GetFailures()[0].reason);
}

TEST_F(StagingFixture, EarlierAMIsOverTheLimitRefuseTheBackup) {
    ASSERT_TRUE(ConnectAcrossAccounts());
    MountCtx ctx = Job(kWeb, kDirect);
    cloud->Write([](cloudsim::State& s) {
        s.instances.at(kWeb).tags["_QX_AMI_"] = "ami-0000000000000000a#ami-0000000000000000b";
    });
    const size_t images = ImageCount();
    EXPECT_EQ(0, object._MountVMStreamingBackup(ctx));
    EXPECT_EQ(73, object.GetLastVMError());
    EXPECT_EQ(images, ImageCount());

    TestEnv::SetSetting("VirtualServer", "nBackupSnapshotLimit", "2");
    EXPECT_EQ(1, object.CheckSnapshotCount(kWeb));
    // Tags that cannot be read do not hold the backup up.
    TestEnv::SetSetting("VirtualServer", "nBackupSnapshotLimit", "1");
    cloud->AddFault(cloudsim::FaultRule("GetTagList", 0, "RequestLimitExceeded: Request limit exceeded."));
    EXPECT_EQ(1, object.CheckSnapshotCount(kWeb));
}

TEST_F(StagingFixture, AnAMINobodyCouldCleanUpIsNeverLeftBehind) {
    ASSERT_TRUE(ConnectAcrossAccounts());
    // An AMI that fails while building stays registered for the clean-up and
    // is not listed on the instance.
    cloud->AddFault(cloudsim::FaultRule("CreateAMISnapshot", 1, "", 0, "error"));
    MountCtx failed = Job(kWeb, kDirect);
    EXPECT_EQ(0, object.TakeAMISnapshot(failed));
    EXPECT_EQ(17, object.GetLastVMError());
    EXPECT_EQ(std::vector<std::string>{failed.amiId}, Registered(kWeb, true));
    EXPECT_EQ("<none>", InstanceTag(kWeb, "_QX_AMI_"));

    // An AMI the registry refuses is removed at once.
    ASSERT_TRUE(object.Cleaner().UnRegisterVM(VM_CLEANER_BACKUP, kWeb, true));
    MountCtx unregistered = failed;
    unregistered.amiId.clear();
    EXPECT_EQ(0, object.TakeAMISnapshot(unregistered));
    EXPECT_EQ(17, object.GetLastVMError());
    EXPECT_TRUE(unregistered.amiId.empty());
    EXPECT_EQ(std::vector<std::string>{failed.amiId}, LiveImagesOf(kWeb));
}

TEST_F(StagingFixture, CancelledJobsStopBeforeStaging) {
    ASSERT_TRUE(ConnectAcrossAccounts());
    object.SetJobCancelled(true);
    MountCtx cancelled = Job(kDb, kDirect);
    const size_t images = ImageCount();
    EXPECT_EQ(0, object.TakeAMISnapshot(cancelled));
    EXPECT_EQ(4000, object.GetLastVMError());
    EXPECT_EQ(images, ImageCount());
}
