// Restoring through the proxy: empty volumes written by the data mover,
// moved to the destination when the account or the zone differs, attached
// to the instance the restore launched.
#include <algorithm>

#include "restore/ProxyRestoreFixture.h"

using namespace proxyrestore;

namespace {

std::string TagOf(const cloudsim::Volume& v, const std::string& key) {
    auto it = v.tags.find(key);
    return it == v.tags.end() ? "<none>" : it->second;
}

bool Contains(const std::vector<std::string>& ids, const std::string& id) {
    return std::find(ids.begin(), ids.end(), id) != ids.end();
}

struct Topology {
    const char* name;
    Accounts accounts;
    const char* proxy;
    const char* destZone;
    bool transfer;
};

const Topology kTopologies[] = {
    {"SameZoneSameAccount", Accounts::Source, kDbProxy, "us-east-1b", false},
    {"AnotherZone", Accounts::Source, kDbProxy, "us-east-1a", true},
    {"AnotherAccount", Accounts::SourceAndAdmin, kAdminProxy, "us-east-1a", true},
};

void PrintTo(const Topology& t, std::ostream* os) { *os << t.name; }

struct RestoreTopologyTest : ProxyRestoreFixture, ::testing::WithParamInterface<Topology> {};

}  // namespace

// Several disks written through the proxy end up, bytes and all, on the new
// instance in the destination; what was moved leaves no snapshot behind.
TEST_P(RestoreTopologyTest, WrittenDisksReachTheNewInstance) {
    const Topology& t = GetParam();
    Start(t.accounts, t.proxy, t.destZone);
    if (t.accounts == Accounts::SourceAndAdmin) {
        ASSERT_TRUE(object.CheckCrossAccountRestore(ctx));
    }
    ctx.disks = {Disk(kWebRoot, "/dev/xvda", true), Disk(kWebData, "/dev/sdf", false, 20)};
    // The data disk keeps the key the backed-up volume had.
    ctx.disks[1].encrypted = true;
    ctx.disks[1].kmsKeyId = kDbKey;
    WriteConfigFile(std::string(kWeb) + "_InstanceConfig.xml",
                    {{"Environment", "Production"}, {"Name", "web-server-01"}, {"_QX_BACKUP_", ""},
                     {"_QX_AMI_", "ami-0123"}, {"KD_Retain_Snap", "ami-0456"}});
    const std::string proxyAccount = Instance(t.proxy).account;

    ASSERT_NO_FATAL_FAILURE(CreateEmptyVolumes());
    std::vector<std::string> proxySide;
    for (const auto& d : ctx.disks) {
        const cloudsim::Volume v = Volume(d.newVolumeId);
        proxySide.push_back(v.id);
        EXPECT_EQ(proxyAccount, v.account);
        EXPECT_EQ(Instance(t.proxy).zone, v.zone);
        EXPECT_EQ(d.newVolumeId, d.sourceVolumeId) << "the data mover opens the disk by its new id";
        EXPECT_EQ(d.newVolumeId, d.newVolumeId2);
        EXPECT_EQ("Volume Created by Tarvex for Job " + std::to_string(object.JobId()) + " from " + t.proxy,
                  TagOf(v, "_QX_BACKUP_"));
        EXPECT_TRUE(Contains(RegisteredVolumes(), v.id));
    }
    EXPECT_EQ(t.accounts != Accounts::SourceAndAdmin, Volume(proxySide[1]).encrypted)
        << "a volume whose snapshot goes to another account is made unencrypted";
    EXPECT_EQ(kWebRoot, ctx.disks[0].originalVolumeId);

    EXPECT_EQ(1, object.PreRestoreVM_AmazonVMAsProxy(ctx));
    const std::string data[] = {"boot sector of the restored root", "rows of the restored data disk"};
    WriteThroughProxy(ctx.disks[0], 0, data[0]);
    WriteThroughProxy(ctx.disks[1], 3 << 20, data[1]);

    ASSERT_TRUE(object.RestoreVM_AmazonVMAsProxy(ctx)) << object.GetLastVMErrorDetails();
    const cloudsim::Instance made = Instance(ctx.vmGuid);
    ASSERT_FALSE(made.id.empty());
    EXPECT_EQ(demo::kSourceAccount, made.account);
    EXPECT_EQ(t.destZone, made.zone);
    EXPECT_EQ("Production", made.tags.at("Environment"));
    for (const char* key : {"_QX_BACKUP_", "_QX_AMI_", "KD_Retain_Snap"}) EXPECT_EQ(0u, made.tags.count(key)) << key;
    EXPECT_EQ("restored-web", made.tags.at("Name"));
    ASSERT_FALSE(made.volumeIds.empty());
    EXPECT_EQ(ctx.disks[0].newVolumeId, made.volumeIds.front()) << "the restored OS volume is the root";
    for (size_t i = 0; i < ctx.disks.size(); ++i) {
        const cloudsim::Volume v = Volume(ctx.disks[i].newVolumeId);
        EXPECT_EQ(ctx.vmGuid, v.attachedInstance);
        EXPECT_EQ(t.destZone, v.zone);
        EXPECT_EQ(ctx.disks[i].displayName, TagOf(v, "Name"));
        EXPECT_EQ(0u, v.tags.count("_QX_BACKUP_"));
        EXPECT_EQ(t.transfer, v.id != proxySide[i]);
        if (t.transfer) {
            EXPECT_TRUE(Volume(proxySide[i]).id.empty()) << "the proxy-side volume is deleted";
        }
        EXPECT_EQ(t.transfer ? 1 : 0, SnapshotsOf(proxySide[i]));
        EXPECT_FALSE(Contains(RegisteredVolumes(), v.id)) << "an attached volume is the instance's";
    }
    EXPECT_EQ(data[0], cloud->ReadVolume(ctx.disks[0].newVolumeId, 0, data[0].size()));
    EXPECT_EQ(data[1], cloud->ReadVolume(ctx.disks[1].newVolumeId, 3 << 20, data[1].size()));
    const cloudsim::Volume encrypted = Volume(ctx.disks[1].newVolumeId);
    EXPECT_TRUE(encrypted.encrypted);
    EXPECT_NE(std::string::npos, encrypted.kmsKeyId.find("1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d"));

    EXPECT_EQ(1, object.PostRestoreVM_AmazonVMAsProxy(ctx));
    for (const auto& id : proxySide) EXPECT_EQ(0, SnapshotsOf(id)) << "the transfer snapshots are deleted";
    std::string path;
    EXPECT_FALSE(object.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, ctx.registrationGuid, path, false));
    EXPECT_FALSE(Instance(ctx.vmGuid).id.empty()) << "the restored instance is handed over";
}

INSTANTIATE_TEST_SUITE_P(Topologies, RestoreTopologyTest, ::testing::ValuesIn(kTopologies),
                         [](const auto& info) { return std::string(info.param.name); });

struct RestoreVolumesTest : ProxyRestoreFixture {};

TEST_F(RestoreVolumesTest, ARetryReusesItsVolumeAndRecreatesOneDeletedMeanwhile) {
    Start(Accounts::Source, kDbProxy, "us-east-1b");
    ctx.disks = {Disk(kWebRoot, "/dev/xvda", true)};
    bool recreated = true;
    ASSERT_TRUE(object._CreateEmptyVolumes(ctx, VM_CLEANER_RESTORE, recreated));
    const std::string first = ctx.disks[0].newVolumeId;
    ASSERT_TRUE(object._CreateEmptyVolumes(ctx, VM_CLEANER_RESTORE, recreated));
    EXPECT_FALSE(recreated);
    EXPECT_EQ(first, ctx.disks[0].newVolumeId);
    EXPECT_TRUE(log.Has("Found the volume [" + first + "], will be reusing it."));

    ASSERT_TRUE(object.SourceBridge()->DeleteVolume(first, true));
    Settle();
    ASSERT_TRUE(object._CreateEmptyVolumes(ctx, VM_CLEANER_RESTORE, recreated));
    EXPECT_TRUE(recreated);
    const std::string second = ctx.disks[0].newVolumeId;
    EXPECT_NE(first, second);
    EXPECT_EQ("available", Volume(second).state);
    EXPECT_EQ(kWebRoot, ctx.disks[0].originalVolumeId) << "the backed-up volume is still known";
    EXPECT_TRUE(Contains(RegisteredVolumes(), second));
}

// The data mover's opens and closes come between phases, whatever the
// object did last: they attach and detach beside the proxy on their own and
// leave the bridges where they found them.
TEST_F(RestoreVolumesTest, TheDataMoverReachesTheProxyWhereverTheBridgesPoint) {
    Start(Accounts::Source, kDbProxy, "us-east-1b");
    ctx.disks = {Disk(kWebRoot, "/dev/xvda", true)};
    ASSERT_NO_FATAL_FAILURE(CreateEmptyVolumes());
    ASSERT_EQ(1, object.PreRestoreVM_AmazonVMAsProxy(ctx));
    object.SourceBridge()->overrideRegion("us-west-2");
    const std::string data = "written after another region's job";
    WriteThroughProxy(ctx.disks[0], 0, data);
    EXPECT_EQ(data, cloud->ReadVolume(ctx.disks[0].newVolumeId, 0, data.size()));
    EXPECT_EQ("available", Volume(ctx.disks[0].newVolumeId).state) << "closed means detached from the proxy";
    EXPECT_EQ("us-west-2", object.SourceBridge()->GetCurrentRegion());
}

TEST_F(RestoreVolumesTest, ADiskWithoutSnapshotIsReportedAndNotRecreated) {
    Start(Accounts::Source, kDbProxy, "us-east-1a");
    ctx.disks = {Disk(kWebRoot, "/dev/xvda", true)};
    ctx.disks[0].newVolumeId = "vol-0000000000000dead";
    const size_t before = Peek([](const cloudsim::State& s) { return s.volumes.size(); });
    EXPECT_TRUE(object.CreateVolumesFromSharedSnapshots(ctx));
    EXPECT_TRUE(log.Has("Snapshot is empty for volume [vol-0000000000000dead]."));
    EXPECT_EQ("vol-0000000000000dead", ctx.disks[0].newVolumeId);
    EXPECT_EQ(before, Peek([](const cloudsim::State& s) { return s.volumes.size(); }));
}

// A data disk that cannot be attached is reported and the job goes on; the
// OS disk cannot be missing from the instance.
struct AttachFailure {
    const char* name;
    const char* operation;
    bool succeeds;
    size_t failures;
};

void PrintTo(const AttachFailure& f, std::ostream* os) { *os << f.name; }

struct RestoreAttachTest : ProxyRestoreFixture, ::testing::WithParamInterface<AttachFailure> {};

TEST_P(RestoreAttachTest, FailingAttach) {
    const AttachFailure& f = GetParam();
    Start(Accounts::Source, kDbProxy, "us-east-1b");
    ctx.disks = {Disk(kWebRoot, "/dev/xvda", true), Disk(kWebData, "/dev/sdf", false),
                 Disk("vol-0a1b2c3d4e5f6a003", "/dev/sdg", false), Disk("vol-0a1b2c3d4e5f6a004", "/dev/sdh", false)};
    WriteConfigFile(std::string(kWeb) + "_InstanceConfig.xml", {});
    ASSERT_NO_FATAL_FAILURE(CreateEmptyVolumes());
    bool osDisk = false;
    std::map<std::string, std::string> tags;
    ASSERT_TRUE(object.PrepareRestoreCtxVMInfo(ctx, osDisk, tags));
    ASSERT_TRUE(object.RestoreVirtualMachine(ctx, osDisk, tags)) << object.GetLastVMErrorDetails();
    // The second attach of its kind: the second data disk, or the OS disk's.
    const int nth = std::string(f.operation) == "AttachVolume" ? 2 : 1;
    cloud->AddFault(cloudsim::FaultRule(f.operation, nth, "IncorrectState: attach refused for the test"));
    EXPECT_EQ(f.succeeds, object.AttachRestoreCtxDisksToInstance(ctx));
    ASSERT_EQ(f.failures, ctx.failures.size());
    if (f.failures) {
        EXPECT_EQ("restored-web", ctx.failures[0].item);
        EXPECT_NE(std::string::npos, ctx.failures[0].extra2.find("attach refused for the test"));
        const std::string missed = ctx.disks[2].newVolumeId;
        EXPECT_TRUE(Volume(missed).attachedInstance.empty());
        EXPECT_TRUE(Contains(RegisteredVolumes(), missed)) << "a failed job's clean-up still finds it";
        EXPECT_EQ(ctx.vmGuid, Volume(ctx.disks[3].newVolumeId).attachedInstance) << "the next disk is attached";
    }
}

const AttachFailure kAttachFailures[] = {
    {"SecondDataDisk", "AttachVolume", true, 1},
    {"OSDisk", "AttachAsOSVolume", false, 0},
};
INSTANTIATE_TEST_SUITE_P(Disks, RestoreAttachTest, ::testing::ValuesIn(kAttachFailures),
                         [](const auto& info) { return std::string(info.param.name); });

// A transfer snapshot the post phase cannot delete stays registered for the
// clean-up; the instance and volumes are handed over all the same.
TEST_F(RestoreVolumesTest, AnUndeletedTransferSnapshotStaysRegistered) {
    Start(Accounts::Source, kDbProxy, "us-east-1a");
    ctx.disks = {Disk(kWebRoot, "/dev/xvda", true)};
    ASSERT_NO_FATAL_FAILURE(CreateEmptyVolumes());
    ASSERT_TRUE(object.CreateAndShareSnapshotsToRestore(ctx, false));
    const std::string snapshot = ctx.disks[0].snapshotId;
    ASSERT_FALSE(snapshot.empty());
    EXPECT_TRUE(Contains(RegisteredVolumes(), ctx.disks[0].newVolumeId)) << "the recreated volume";
    cloud->AddFault(cloudsim::FaultRule("DeleteSnapshot", 0, "InternalError: refused for the test"));
    EXPECT_EQ(1, object.PostRestoreVM_AmazonVMAsProxy(ctx));
    EXPECT_FALSE(Snapshot(snapshot).id.empty());
    std::string path;
    std::vector<std::string> snapshots;
    ASSERT_TRUE(object.Cleaner().GetRegisteredVM(VM_CLEANER_RESTORE, ctx.registrationGuid, path, false));
    ASSERT_TRUE(object.Cleaner().GetRegisteredSnapshots(path, snapshots));
    EXPECT_EQ(std::vector<std::string>{snapshot}, snapshots);
    EXPECT_TRUE(RegisteredVolumes().empty());
}
