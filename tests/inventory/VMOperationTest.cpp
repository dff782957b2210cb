// The framework's operations on one instance, on the demo account; the mock
// only where no AWS call may be made.
#include "InventoryFixtures.h"

using namespace inventorytest;
using VMInfoStructs::SVMInfo;
using ::testing::_;
using ::testing::DoAll;
using ::testing::Return;
using ::testing::SetArgReferee;

namespace {
const std::string kWin = "i-0a1b2c3d4e5f60003";

SVMInfo Record(const std::string& id, const std::string& name, const std::string& region = "us-east-1") {
    SVMInfo vm;
    vm.guid = id;
    vm.name = name;
    vm.region = region;
    return vm;
}

// A record whose first disk names one snapshot entry.
SVMInfo WithSnapshotEntry(SVMInfo vm, const std::string& volumeId, const std::string& snapshotId) {
    VMInfoStructs::SChildDisk entry;
    entry.volumeId = volumeId;
    entry.snapshotId = snapshotId;
    entry.description = "before patching";
    VMInfoStructs::SDisk disk;
    disk.volumeId = volumeId;
    disk.snapshots = {entry};
    vm.disks = {disk};
    return vm;
}

struct Operations : CloudFixture {
    std::string out;
    int Run(SVMInfo& vm, EVMOperation op) { return object.PerformVMOperation(vm, op, out); }
    std::string StateAfterAWhile(const std::string& id) {
        env.Clock().AdvanceMs(10 * 60 * 1000);
        return Instance(id).state;
    }
    // An available AMI of the web server, made outside the operation.
    std::string MakeAMI() {
        std::vector<std::string> snaps;
        std::string ami;
        EXPECT_TRUE(object.SourceBridge()->CreateAMISnapshot(kWeb, "us-east-1", "img", "", "d", snaps, ami));
        env.Clock().AdvanceMs(60 * 60 * 1000);
        return ami;
    }
};
}  // namespace

TEST_F(Operations, PowerOperationsChangeTheInstancesState) {
    SVMInfo vm = Record(kWeb, "web-server-01");
    const std::pair<EVMOperation, const char*> steps[] = {
        {2, "stopped"}, {1, "running"}, {3, "stopped"}, {1, "running"}, {17, "running"}, {7, "terminated"}};
    for (const auto& [op, state] : steps) {
        ASSERT_EQ(0, Run(vm, op)) << op;
        EXPECT_EQ(state, StateAfterAWhile(kWeb)) << op;
    }
}

TEST_F(Operations, ABridgeFailureFailsWithTheBridgesText) {
    cloud->AddFault({"PowerOnVM", 0, kThrottled});
    SVMInfo vm = Record(kWin, "win-app-01");
    EXPECT_EQ(1, Run(vm, 1));
    EXPECT_EQ(kThrottled, object.GetLastVMErrorDetails());
    EXPECT_TRUE(log.Has("PowerOnVM Failed for VM[win-app-01]"));
    EXPECT_EQ("stopped", StateAfterAWhile(kWin));
}

TEST_F(Operations, ContextFormCopiesTheSourceAndCreationFlagAndInvertsTheResult) {
    OperationCtx ctx;
    ctx.operation = 4;
    ctx.vm.name = "from-image";
    ctx.vm.region = "us-east-1";
    ctx.vm.instanceType = "t3.small";
    ctx.sourceInstance = MakeAMI();
    ctx.creationFlag = true;   // launch stopped
    ASSERT_EQ(1, object.PerformVMOperation(ctx));
    ASSERT_FALSE(ctx.outText.empty());
    EXPECT_EQ("stopped", StateAfterAWhile(ctx.outText));

    ctx.operation = 99;
    EXPECT_EQ(0, object.PerformVMOperation(ctx));
    EXPECT_TRUE(log.Has("Unsupported VM Operation [99]"));
    EXPECT_EQ(242, object.GetLastVMError());
    EXPECT_EQ("[VM operation 99] is not supported by this hypervisor", object.GetLastVMErrorDetails());

    ctx.operation = 1;
    ctx.vm = Record("i-00000000000000bad", "ghost");
    EXPECT_EQ(0, object.PerformVMOperation(ctx));
}

TEST_F(Operations, VolumeSnapshotIsTakenAndDeletedThroughTheFirstEntry) {
    SVMInfo vm = WithSnapshotEntry(Record(kWeb, "web-server-01"), "vol-0a1b2c3d4e5f6a001", "");
    ASSERT_EQ(0, Run(vm, 13));
    const std::string snapshotId = vm.disks[0].snapshots[0].snapshotId;
    ASSERT_EQ(0u, snapshotId.rfind("snap-", 0));
    EXPECT_EQ(snapshotId, out);
    EXPECT_EQ("before patching", Snapshot(snapshotId).description);

    env.Clock().AdvanceMs(60 * 60 * 1000);
    ASSERT_EQ(0, Run(vm, 14));
    EXPECT_TRUE(Snapshot(snapshotId).id.empty());
    EXPECT_EQ(1, Run(vm, 14));   // already gone
    EXPECT_TRUE(log.Has("Delete snapshot failed for snap[" + snapshotId + "]"));
}

TEST_F(Operations, SnapshotsAreTakenInTheInstancesRegion) {
    SVMInfo vm = WithSnapshotEntry(Record("i-0a1b2c3d4e5f60004", "analytics-01", "us-west-2"),
                                   "vol-0a1b2c3d4e5f6d001", "requested");
    ASSERT_EQ(0, Run(vm, 13)) << object.GetLastVMErrorDetails();
    EXPECT_EQ("us-west-2", Snapshot(out).region);
    EXPECT_EQ("us-east-1", object.SourceBridge()->GetCurrentRegion());
}

TEST_F(Operations, SnapshotDeletionWithoutEntryRemovesTheIntegrityAMI) {
    const std::string ami = MakeAMI();
    ASSERT_TRUE(object.SourceBridge()->SetTag(kWeb, "KD_Integrity_Snap", ami, true));
    SVMInfo vm = Record(kWeb, "web-server-01");

    cloud->AddFault({"DeleteAMISnapshot", 1, kThrottled});
    EXPECT_EQ(1, Run(vm, 14));
    EXPECT_TRUE(log.Has("Failed to delete AMI [" + ami + "], Error [" + kThrottled + "]"));
    EXPECT_TRUE(ImageLives(ami));

    ASSERT_EQ(0, Run(vm, 14));
    EXPECT_FALSE(ImageLives(ami));
    EXPECT_TRUE(log.Has("Successfully deleted AMI [" + ami + "]"));
    EXPECT_EQ(0u, Instance(kWeb).tags.count("KD_Integrity_Snap"));
}

TEST_F(Operations, PasswordComesThroughTheFirstKeyPair) {
    cloud->Write([](cloudsim::State& s) {
        auto& inst = s.instances.at(kWin);
        inst.keyName = "win-key";
        inst.password = "Adm1n!pass";
    });
    SVMInfo vm = Record(kWin, "win-app-01");
    EXPECT_EQ(1, Run(vm, 18));
    EXPECT_TRUE(log.Has("Key name list is empty."));

    VMInfoStructs::SKeyPairInfo key;
    key.name = "win-key";
    vm.keyPairs = {key};
    ASSERT_EQ(0, Run(vm, 18));
    EXPECT_EQ("Adm1n!pass", vm.password);
}

TEST_F(MockFixture, DefaultRegionIsSentAsEmpty) {
    SVMInfo vm = Record("i-1", "web", "default");
    std::string out;
    EXPECT_CALL(*bridge, PowerOnVM("web", "i-1", "")).WillOnce(Return(true));
    EXPECT_EQ(0, object->PerformVMOperation(vm, 1, out));
}

// A snapshot request that names no volume fails and says what is missing; a
// deletion that names no snapshot removes the integrity AMI, which has none.
TEST_F(MockFixture, SnapshotOperationsWithoutAVolumeOrSnapshotMakeNoAWSChange) {
    EXPECT_CALL(*bridge, CreateSnapshot(_, _, _, _, _)).Times(0);
    EXPECT_CALL(*bridge, DeleteSnapshot(_, _)).Times(0);
    EXPECT_CALL(*bridge, DeleteAMISnapshot(_, _)).Times(0);
    EXPECT_CALL(*bridge, DeleteTag(_, _, _, _)).Times(0);
    EXPECT_CALL(*bridge, GetTag("i-1", "KD_Integrity_Snap", _))
        .WillRepeatedly(DoAll(SetArgReferee<2>(std::string()), Return(true)));

    std::string out;
    const SVMInfo noDisk = Record("i-1", "web");
    SVMInfo noEntry = noDisk;
    noEntry.disks.resize(1);
    const struct {
        SVMInfo vm;
        EVMOperation op;
        int result;
        const char* details;
    } rows[] = {
        {noDisk, 13, 1, "VM [web] has no disk: no volume to snapshot."},
        {noEntry, 13, 1, "The first disk of VM [web] has no snapshot entry: no volume to snapshot."},
        {WithSnapshotEntry(noDisk, "", "snap-1"), 13, 1,
         "The snapshot entry of the first disk of VM [web] names no volume: no volume to snapshot."},
        {noDisk, 14, 0, ""},
        {noEntry, 14, 0, ""},
        {WithSnapshotEntry(noDisk, "vol-1", ""), 14, 0, ""},
    };
    for (auto row : rows) {
        object->SetLastVMError(0);
        EXPECT_EQ(row.result, object->PerformVMOperation(row.vm, row.op, out)) << row.details;
        EXPECT_EQ(row.result ? 172 : 0, object->GetLastVMError()) << row.details;
        EXPECT_EQ(row.details, object->GetLastVMErrorDetails());
    }
}

TEST_F(MockFixture, UnreadableIntegrityTagFailsWithoutDeleting) {
    EXPECT_CALL(*bridge, GetTag("i-1", "KD_Integrity_Snap", _)).WillOnce(Return(false));
    EXPECT_CALL(*bridge, DeleteAMISnapshot(_, _)).Times(0);
    SVMInfo vm = Record("i-1", "web");
    std::string out;
    EXPECT_EQ(1, object->PerformVMOperation(vm, 14, out));
}

TEST_F(Operations, StorageOperationDeletesExpiredVolumesOfTheRegion) {
    StorageOperationCtx ctx;
    ctx.operationType = 2;
    EXPECT_EQ(1, object.PerformStorageOperation(ctx));
    EXPECT_EQ("Invalid operation type.", ctx.errorText);

    cloud->Write([&](cloudsim::State& s) {
        cloudsim::Volume v;
        v.id = "vol-0000000000000e001";
        v.account = demo::kSourceAccount;
        v.region = "us-east-1";
        v.zone = "us-east-1a";
        v.sizeBytes = 1 << 30;
        v.tags["_QX_BACKUP_"] = "";
        v.createdMs = env.Clock().NowMs() - 2 * 3600 * 1000;
        s.volumes[v.id] = v;
    });
    ctx = StorageOperationCtx();
    ctx.operationType = 1;
    ctx.region = "us-east-1";
    ctx.age = 3600;
    ASSERT_EQ(0, object.PerformStorageOperation(ctx));
    env.Clock().AdvanceMs(60 * 1000);
    EXPECT_TRUE(Volume("vol-0000000000000e001").id.empty());

    cloud->AddFault({"DeleteExpiredVolumes", 0, kThrottled});
    EXPECT_EQ(1, object.PerformStorageOperation(ctx));
    EXPECT_EQ(kThrottled, ctx.errorText);
}

TEST_F(Operations, EmptyTagIsDeletedOnlyWhenReadAndEmpty) {
    CAmazonSDKBridge& bridge = *object.SourceBridge();
    ASSERT_TRUE(bridge.SetTag(kWeb, "_QX_AMI_", "ami-0123", true));
    EXPECT_FALSE(object.DeleteEmptyTag(kWeb, "_QX_AMI_"));
    EXPECT_TRUE(log.Has("Tag value [ami-0123] is not empty for key [_QX_AMI_] on resource [" + kWeb + "]"));
    EXPECT_EQ(1u, Instance(kWeb).tags.count("_QX_AMI_"));

    ASSERT_TRUE(bridge.DeleteTag(kWeb, "_QX_AMI_", "ami-0123", false));
    cloud->AddFault({"GetTag", 1, kThrottled});
    EXPECT_FALSE(object.DeleteEmptyTag(kWeb, "_QX_AMI_"));
    EXPECT_EQ(1u, Instance(kWeb).tags.count("_QX_AMI_"));

    EXPECT_TRUE(object.DeleteEmptyTag(kWeb, "_QX_AMI_"));
    EXPECT_EQ(0u, Instance(kWeb).tags.count("_QX_AMI_"));
}

TEST_F(Operations, IsolatedSubnetNeedsASubnetEntryAndIsCreatedInTheNamedNetworkAndDeleted) {
    VMInfoStructs::SNetworkInfo net;
    net.name = "demo-vpc";
    EXPECT_FALSE(object.CreateNetwork(net, "", {}));
    EXPECT_EQ("Network [demo-vpc] has no subnet entry.", object.GetLastVMErrorDetails());
    object.SetLastVMErrorDetails("");
    EXPECT_FALSE(object.DeleteNetwork(net, "", {}));
    EXPECT_EQ("Network [demo-vpc] has no subnet entry.", object.GetLastVMErrorDetails());
    net.subnets.resize(1);
    net.subnets[0].name = "restore-net";
    ASSERT_TRUE(object.CreateNetwork(net, "", {}));
    EXPECT_EQ("10.0.3.0", net.subnets[0].address);
    ASSERT_TRUE(object.DeleteNetwork(net, "", {}));
    EXPECT_FALSE(object.DeleteNetwork(net, "", {}));
    EXPECT_EQ(object.SourceBridge()->GetLastErrorString(), object.GetLastVMErrorDetails());

    net.name = "no-such-vpc";
    net.subnets[0].id.clear();
    EXPECT_FALSE(object.CreateNetwork(net, "", {}));
    EXPECT_EQ(object.SourceBridge()->GetLastErrorString(), object.GetLastVMErrorDetails());
    EXPECT_TRUE(log.Has("Failed to Create Amazon Subnet. Error [" + object.GetLastVMErrorDetails() + "]"));
    EXPECT_TRUE(net.subnets[0].id.empty());
}
