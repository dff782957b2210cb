// Replication runs on the demo cloud: the proxy in us-east-1b, the replica
// in us-east-1a, two disks; each run goes through the restore phases as the
// framework drives them, the data mover writing through the proxy.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "ProxyRestoreFixture.h"
#include "common/TagNames.h"

using namespace proxyrestore;

namespace {

// The cleanup key a line "Registered a temporary GUID with the cleaner: [K]"
// names, once the run logged it.
struct HeldKey {
    std::string key;
    void Watch(LogTap& log) {
        log.OnLine([this](const std::string& line) {
            const std::string lead = "Registered a temporary GUID with the cleaner: [";
            if (line.rfind(lead, 0) == 0) key = line.substr(lead.size(), line.size() - lead.size() - 1);
        });
    }
};

struct ReplicationTest : ProxyRestoreFixture {
    void SetUp() override {
        Start(Accounts::Source, kDbProxy, "us-east-1a");
        ctx.flavour = RestoreCtx::Replication;
        ctx.disks = {Disk(kWebRoot, "/dev/xvda", true), Disk(kWebData, "/dev/sdf", false)};
        WriteConfigFile(std::string(kWeb) + "_InstanceConfig.xml", {});
    }

    // The framework's next job of the replica: a new cleanup key, the
    // disks named by their backed-up volumes again, what the last run
    // recorded (replica id, the disks' snapshot ids) kept.
    void NextJob() {
        ctx.registrationGuid.clear();
        ctx.createdInstanceId.clear();
        ctx.failures.clear();
        for (auto& disk : ctx.disks) {
            if (!disk.originalVolumeId.empty()) disk.sourceVolumeId = disk.originalVolumeId;
            disk.diskType = 27;
            disk.zone = object.ProxyVMInfo().zone;
        }
        log.Clear();
    }

    // One run up to the data mover: data[i] goes to disk i at offset 0
    // (empty: the disk did not change). Returns the first phase that failed
    // (0 when all passed).
    int Run(const std::vector<std::string>& data) {
        if (!object.InitRestoreVM(ctx)) return 1;
        if (!object.PreRestoreVM(ctx)) return 2;
        for (size_t i = 0; i < data.size() && i < ctx.disks.size(); ++i)
            if (!data[i].empty()) WriteThroughProxy(ctx.disks[i], 0, data[i]);
        if (!object.RestoreVM(ctx)) return 3;
        if (!object.PostRestoreVM(ctx)) return 4;
        object.CloseRestoreVM(ctx);
        return 0;
    }

    std::string OnReplica(size_t disk, int64_t length) {
        return cloud->ReadVolume(ctx.disks[disk].newVolumeId, 0, length);
    }
    std::string IntegrityTagOf(const std::string& instance) {
        const auto tags = Instance(instance).tags;
        const auto it = tags.find(AmazonTags::kIntegritySnapTag);
        return it == tags.end() ? "" : it->second;
    }
    // Integrity AMIs (named by the job tag) that are not deregistered.
    int LiveIntegrityAMIs() {
        return Peek([](const cloudsim::State& s) {
            int n = 0;
            for (const auto& [id, image] : s.images) {
                const auto name = image.tags.find("Name");
                n += image.state != "deregistered" && name != image.tags.end() && name->second == AmazonTags::kBackupTag;
            }
            return n;
        });
    }
};
}  // namespace

TEST_F(ReplicationTest, TheFirstRunIsFullAndLeavesAReplicaCarryingItsIntegrityAMI) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"})) << object.GetLastVMErrorDetails();
    EXPECT_EQ(RestoreCtx::FullReplication, ctx.replicationMode);
    EXPECT_TRUE(log.Has("Replication mode [1]"));
    EXPECT_EQ(0, log.Containing("Replicated VM Exists")) << "the cleanup key is not a replica to look up";
    const std::string replica = ctx.vmGuid;
    ASSERT_EQ("i-", replica.substr(0, 2));
    EXPECT_NE(ctx.registrationGuid, replica);
    EXPECT_EQ("us-east-1a", Instance(replica).zone);
    const std::string ami = ctx.integritySnapshotId;
    EXPECT_EQ(ami, IntegrityTagOf(replica));
    const cloudsim::Image image = Image(ami);
    EXPECT_EQ("available", image.state);
    EXPECT_EQ(AmazonTags::kBackupTag, image.tags.at("Name"));
    EXPECT_EQ(1, LiveIntegrityAMIs());
    for (const auto& disk : ctx.disks) {
        ASSERT_FALSE(disk.snapshotId.empty());
        EXPECT_EQ(disk.newVolumeId, Snapshot(disk.snapshotId).volumeId) << "the snapshot of the replica's disk";
        EXPECT_EQ(0u, Snapshot(disk.snapshotId).tags.at("Descrption").find(
                          "Integrity Snapshot Created for replication Job "));
    }
    EXPECT_EQ("root-v1", OnReplica(0, 7));
    EXPECT_EQ("data-v1", OnReplica(1, 7));
    EXPECT_EQ(6, ctx.validationStatus) << "validation not asked for";
    EXPECT_TRUE(RegisteredInstances().empty()) << "the replica is the user's, not the job's";
}

TEST_F(ReplicationTest, ALaterRunWritesOnlyChangesAndReplacesThePreviousReplicaAndAMI) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    const std::string oldReplica = ctx.vmGuid;
    const std::string oldAMI = ctx.integritySnapshotId;
    NextJob();
    ASSERT_EQ(0, Run({"", "data-v2"})) << object.GetLastVMErrorDetails();
    EXPECT_EQ(RestoreCtx::IncrementalReplication, ctx.replicationMode);
    EXPECT_NE(oldReplica, ctx.vmGuid);
    EXPECT_EQ("root-v1", OnReplica(0, 7)) << "the unchanged disk came from the integrity snapshot";
    EXPECT_EQ("data-v2", OnReplica(1, 7));
    Settle(300);
    EXPECT_EQ("terminated", Instance(oldReplica).state);
    EXPECT_EQ("deregistered", Image(oldAMI).state);
    EXPECT_EQ(1, LiveIntegrityAMIs()) << "the newest integrity AMI is the only one";
    EXPECT_EQ(ctx.integritySnapshotId, IntegrityTagOf(ctx.vmGuid));
}

TEST_F(ReplicationTest, AMissingIntegritySnapshotMakesTheRunFull) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    ASSERT_TRUE(object.SourceBridge()->DeleteAMISnapshot(ctx.integritySnapshotId, true));
    NextJob();
    ASSERT_EQ(0, Run({"root-v2", "data-v2"})) << object.GetLastVMErrorDetails();
    EXPECT_EQ(RestoreCtx::FullReplication, ctx.replicationMode);
    EXPECT_TRUE(ctx.forceFull);
    EXPECT_TRUE(log.Has("Integrity snapshot verification failed, will force FULL replication."));
    EXPECT_EQ("root-v2", OnReplica(0, 7));
    EXPECT_EQ(1, LiveIntegrityAMIs());
}

TEST_F(ReplicationTest, AnAddedDiskGetsAnEmptyVolumeAndAShrunkOneKeepsTheReplicasSize) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    NextJob();
    ctx.disks.push_back(Disk("vol-0a1b2c3d4e5f6a003", "/dev/sdg", false, 2));
    ctx.disks[1].size = 4LL << 30;
    ASSERT_EQ(0, Run({"", "", "new-disk"})) << object.GetLastVMErrorDetails();
    EXPECT_EQ(RestoreCtx::IncrementalReplication, ctx.replicationMode);
    EXPECT_TRUE(log.Has("Detected new disk [vol-0a1b2c3d4e5f6a003] added after previous replication."));
    EXPECT_FALSE(Volume(ctx.disks[0].newVolumeId).snapshotId.empty() &&
                 Volume(ctx.disks[1].newVolumeId).snapshotId.empty());
    EXPECT_EQ("data-v1", OnReplica(1, 7));
    EXPECT_EQ(8LL << 30, Volume(ctx.disks[1].newVolumeId).sizeBytes) << "never smaller than its snapshot";
    EXPECT_TRUE(log.Has("new disk size has reduced.Keep the existing replicated disk size [8589934592]"));
    EXPECT_EQ(2LL << 30, Volume(ctx.disks[2].newVolumeId).sizeBytes);
    EXPECT_EQ("new-disk", OnReplica(2, 8));
    EXPECT_FALSE(ctx.disks[2].snapshotId.empty()) << "the added disk is in the new integrity AMI";
}

TEST_F(ReplicationTest, APoweredOnReplicaStopsTheRunBeforeAnythingIsMade) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    ASSERT_TRUE(object.SourceBridge()->PowerOnVM("", ctx.vmGuid, "us-east-1"));
    Settle(300);
    NextJob();
    const size_t volumes = Peek([](const cloudsim::State& s) { return s.volumes.size(); });
    EXPECT_EQ(1, Run({"", "data-v2"}));
    EXPECT_EQ(7002, int(object.GetLastVMError()));
    EXPECT_EQ(volumes, Peek([](const cloudsim::State& s) { return s.volumes.size(); }));
}

TEST_F(ReplicationTest, AFailedCreationDeletesTheHalfMadeReplicaAndKeepsThePreviousOne) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    const std::string oldReplica = ctx.vmGuid;
    const std::string oldAMI = ctx.integritySnapshotId;
    NextJob();
    std::string launched;
    log.OnLine([&](const std::string& line) {
        if (line.rfind("New VM = [", 0) == 0) launched = line.substr(line.find("Guid = [") + 8, 19);
    });
    cloud->AddFault(cloudsim::FaultRule("AttachAsOSVolume", 1, "IncorrectState: attach refused for the test"));
    EXPECT_EQ(3, Run({"", "data-v2"}));
    ASSERT_EQ("i-", launched.substr(0, 2));
    Settle(300);
    EXPECT_EQ("terminated", Instance(launched).state);
    EXPECT_NE("terminated", Instance(oldReplica).state) << "the previous replica is what the next run builds on";
    EXPECT_EQ("available", Image(oldAMI).state);
    EXPECT_EQ(oldAMI, IntegrityTagOf(oldReplica));
}

TEST_F(ReplicationTest, AReplicaThatCannotBeDeletedIsLeftRegisteredForALaterCleanup) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    const std::string oldReplica = ctx.vmGuid;
    NextJob();
    HeldKey held;
    held.Watch(log);
    cloud->AddFault(cloudsim::FaultRule("DeleteVM", 1, "InternalError: delete refused for the test"));
    ASSERT_EQ(0, Run({"", "data-v2"})) << object.GetLastVMErrorDetails();
    ASSERT_FALSE(held.key.empty());
    std::string path;
    std::vector<std::string> ids;
    ASSERT_TRUE(object.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, held.key, path, false));
    object.Cleaner().GetRegisteredCreatedVMs(path, ids);
    EXPECT_EQ(std::vector<std::string>{oldReplica}, ids);
    EXPECT_NE(held.key, ctx.registrationGuid);
}

TEST_F(ReplicationTest, AFailbackIntoTheSourceNeverDeletesItWhenItsRestoreFails) {
    ASSERT_TRUE(object.SourceBridge()->PowerOffVM("", kWeb, "us-east-1"));
    Settle(300);
    ctx.failback = true;
    ctx.vmGuid = kWeb;
    cloud->AddFault(cloudsim::FaultRule("AttachVolume", 1, "IncorrectState: attach refused for the test"));
    cloud->AddFault(cloudsim::FaultRule("AttachAsOSVolume", 1, "IncorrectState: attach refused for the test"));
    EXPECT_NE(0, Run({}));
    Settle(300);
    EXPECT_NE("terminated", Instance(kWeb).state);
}

TEST_F(ReplicationTest, APreviousIntegrityAMIThatCannotBeDeletedIsHeldForALaterCleanup) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    const std::string oldAMI = ctx.integritySnapshotId;
    const std::vector<std::string> oldSnapshots = Image(oldAMI).snapshotIds;
    NextJob();
    HeldKey held;
    held.Watch(log);
    cloud->AddFault(cloudsim::FaultRule("DeleteAMISnapshot", 1, "RequestLimitExceeded: Request limit exceeded."));
    ASSERT_EQ(0, Run({"", "data-v2"})) << object.GetLastVMErrorDetails();
    EXPECT_EQ("available", Image(oldAMI).state) << "the fault kept it";
    ASSERT_FALSE(held.key.empty());
    std::string path;
    ASSERT_TRUE(object.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, held.key, path, false));
    std::vector<CleanerEntity> amis, snapshots;
    object.Cleaner().GetRegisteredItems(path, VM_CLEANER_TEMPLATE, amis);
    object.Cleaner().GetRegisteredItems(path, VM_CLEANER_SNAPSHOT, snapshots);
    ASSERT_EQ(1u, amis.size());
    EXPECT_EQ(oldAMI, amis[0].id);
    EXPECT_EQ(oldSnapshots.size(), snapshots.size()) << "its snapshots too";
    // The clean-up of that key removes the AMI with its snapshots.
    std::vector<SFailure> failures;
    EXPECT_TRUE(object._CleanupRestoreVM(held.key, failures, false)) << object.GetLastVMErrorDetails();
    EXPECT_EQ("deregistered", Image(oldAMI).state);
    EXPECT_EQ(1, LiveIntegrityAMIs());
}

// The replaced replica's interfaces that no card of the new one reuses go
// with it instead of outliving it in use by nothing.
TEST_F(ReplicationTest, TheReplacedReplicasInterfacesGoWithIt) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    const std::string oldReplica = ctx.vmGuid;
    ASSERT_FALSE(Instance(oldReplica).networkInterfaces.empty());
    NextJob();
    ASSERT_EQ(0, Run({"", "data-v2"}));
    Settle(300);
    const cloudsim::Instance old = Instance(oldReplica);
    EXPECT_EQ("terminated", old.state);
    for (const auto& nic : old.networkInterfaces) EXPECT_TRUE(nic.deleteOnTermination) << nic.id;
    EXPECT_EQ(0, log.Containing("Failed to delete network interface"));
}

// Asked to keep the replica's interface on its successor, the launch meets
// it still attached to the previous replica (which goes only once the new
// one exists) and is refused as RunInstances refuses it: the run fails and
// the previous replica, its interface and its integrity AMI stay usable.
TEST_F(ReplicationTest, AnInterfaceStillInUseFailsTheRunAndKeepsThePreviousReplica) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    const std::string previous = ctx.vmGuid;
    const auto kept = Instance(previous).networkInterfaces;
    ASSERT_FALSE(kept.empty());
    NextJob();
    VMInfoStructs::SVMNetworkCard card;
    card.id = kept.front().id;
    card.subnetId = kept.front().subnetId;
    ctx.networkCards = {card};
    EXPECT_NE(0, Run({"", "data-v2"}));
    EXPECT_NE(std::string::npos, object.GetLastVMErrorDetails().find("InvalidNetworkInterface.InUse"))
        << object.GetLastVMErrorDetails();
    std::vector<SFailure> failures;
    object._CleanupRestoreVM(ctx.registrationGuid, failures, false);
    Settle(300);
    EXPECT_NE("terminated", Instance(previous).state);
    EXPECT_EQ(kept.front().id, Instance(previous).networkInterfaces.front().id);
    EXPECT_EQ(1, LiveIntegrityAMIs());
}

// Without snapshot ids the run is full, onto empty volumes. A run that is
// not a re-attempt builds on the integrity snapshots only: the volume ids
// the previous run left in the context are the replica's, and writing them
// would change the instance the next run falls back on.
TEST_F(ReplicationTest, ARunThatIsNotAResumeNeverWritesThePreviousRunsVolumes) {
    ASSERT_EQ(0, Run({"root-v1", "data-v1"}));
    std::vector<std::string> previous;
    for (const auto& disk : ctx.disks) previous.push_back(disk.newVolumeId);
    NextJob();
    for (auto& disk : ctx.disks) disk.snapshotId.clear();   // a full run onto empty volumes
    ASSERT_EQ(0, Run({"root-v2", "data-v2"})) << object.GetLastVMErrorDetails();
    EXPECT_EQ(RestoreCtx::FullReplication, ctx.replicationMode);
    EXPECT_EQ(0, log.Containing("Skipping empty volume creation")) << "every disk got an empty volume";
    for (size_t i = 0; i < ctx.disks.size(); ++i) EXPECT_NE(previous[i], ctx.disks[i].newVolumeId) << i;
    EXPECT_EQ("root-v2", OnReplica(0, 7));
}

// A conversion's integrity snapshot holds what the data mover wrote: the
// next run builds its unchanged disk from it.
TEST_F(ReplicationTest, AConversionsIntegritySnapshotHoldsTheWrittenData) {
    ctx.conversion = true;
    ASSERT_EQ(0, Run({"root-v1", "data-v1"})) << object.GetLastVMErrorDetails();
    ASSERT_FALSE(ctx.integritySnapshotId.empty());
    const std::vector<std::string> snapshots = Image(ctx.integritySnapshotId).snapshotIds;
    ASSERT_FALSE(snapshots.empty());
    std::set<std::string> held;
    for (const auto& id : snapshots) held.insert(cloud->ReadSnapshot(id, 0, 7));
    EXPECT_TRUE(held.count("root-v1")) << "the AMI was taken before the data was written";
    EXPECT_TRUE(held.count("data-v1"));
}
