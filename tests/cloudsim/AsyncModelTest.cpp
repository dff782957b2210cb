// The simulated cloud's asynchronous resources through the bridge, in
// virtual time: volumes, attachments, modifications, snapshots and AMIs, and
// the fault rules that stall them, fail them or make them conflict.
#include "bridge/BridgeFixture.h"
#include "support/TestPaths.h"

using namespace demo;
using cloudsim::FaultRule;
using VMInfoStructs::SDisk;
using VMInfoStructs::SVMInfo;

namespace {

using AsyncModelTest = BridgeFixture;

}  // namespace

TEST_F(AsyncModelTest, VolumeIsCreatingUntilItsTimeHasCome) {
    SDisk disk;
    disk.zone = "us-east-1b";
    disk.size = 8 * kGiB + 1;   // AWS sizes volumes in whole GiB
    disk.volumeType = "io1";
    disk.iops = 400;
    disk.encrypted = true;
    ASSERT_TRUE(bridge.CreateVolume(disk, false, "")) << bridge.GetLastErrorString();
    const std::string id = disk.newVolumeId;
    EXPECT_EQ(id.rfind("vol-", 0), 0u);
    SDisk info;
    EXPECT_EQ(VolumeState(id, &info), "creating");
    EXPECT_EQ(info.size, 9 * kGiB);
    EXPECT_EQ(info.volumeType + " " + std::to_string(info.iops) + " " + info.zone, "io1 400 us-east-1b");
    EXPECT_EQ(info.kmsKeyId, "arn:aws:kms:us-east-1:111122223333:key/0d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6");
    Advance(Timing().volumeCreateMs - 1);
    EXPECT_EQ(VolumeState(id), "creating");
    Advance(1);
    EXPECT_EQ(VolumeState(id), "available");

    // The timing is part of the state and can be changed.
    cloud->Write([](cloudsim::State& s) { s.timing.volumeCreateMs = 10; });
    std::string quick = NewVolume("us-east-1a");
    EXPECT_EQ(VolumeState(quick), "available");

    disk.zone = "us-west-2a";   // not in the bridge's region
    EXPECT_FALSE(bridge.CreateVolume(disk, false, ""));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: Invalid availability zone: [us-west-2a]");
}

TEST_F(AsyncModelTest, AttachDetachAndDeleteGoThroughTheirStates) {
    const cloudsim::Timing t = Timing();
    std::string vol = NewVolume("us-east-1a");
    bool conflict = true;
    ASSERT_TRUE(bridge.AttachVolume(vol, kWeb, "us-east-1a", false, "", conflict, false)) << bridge.GetLastErrorString();
    EXPECT_FALSE(conflict);
    SDisk info;
    // As AWS reports it: "in-use" from the request on, the attachment
    // "attaching" until it completes.
    EXPECT_EQ(VolumeState(vol, &info), "in-use");
    EXPECT_EQ(info.attachState, "attaching");
    EXPECT_EQ(info.deviceName, "/dev/sdg");            // /dev/sdf is web-data's
    Advance(t.attachMs - 1);
    EXPECT_EQ(VolumeState(vol, &info) + " " + info.attachState, "in-use attaching");
    Advance(1);
    EXPECT_EQ(VolumeState(vol, &info) + " " + info.attachState, "in-use attached");
    SVMInfo web;
    ASSERT_EQ(bridge.GetVMInfoForVM("", kWeb, "", "", 0, 0, web), 1);
    ASSERT_EQ(web.disks.size(), 3u);
    EXPECT_EQ(web.disks[2].volumeId, vol);

    EXPECT_FALSE(bridge.DeleteVolume(vol, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "VolumeInUse: Volume " + vol + " is currently attached to " + kWeb);
    EXPECT_FALSE(bridge.AttachVolume(vol, kWeb, "", false, "", conflict, false));
    EXPECT_TRUE(conflict);
    EXPECT_EQ(bridge.GetLastErrorString(), "VolumeInUse: " + vol + " is already attached to an instance");

    ASSERT_TRUE(bridge.DetachVolume(vol, false, false));
    EXPECT_EQ(VolumeState(vol, &info) + " " + info.attachState, "in-use detaching");
    Advance(t.detachMs);
    EXPECT_EQ(VolumeState(vol, &info), "available");
    EXPECT_EQ(info.deviceName, "");
    EXPECT_EQ(info.attachState, "");
    EXPECT_FALSE(bridge.DetachVolume(vol, true, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "IncorrectState: Volume '" + vol + "' is in the 'available' state.");

    ASSERT_TRUE(bridge.DeleteVolume(vol, false));
    EXPECT_EQ(VolumeState(vol), "deleting");
    Advance(t.deleteMs);
    EXPECT_EQ(VolumeState(vol), "not found");
    EXPECT_FALSE(bridge.DeleteVolume(vol, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidVolume.NotFound: The volume '" + vol + "' does not exist.");
}

TEST_F(AsyncModelTest, AttachChecksStateZoneAndDevice) {
    std::string vol = NewVolume("us-east-1a");
    bool conflict = true;
    EXPECT_FALSE(bridge.AttachVolume(vol, kDb, "", false, "", conflict, false));
    EXPECT_FALSE(conflict);
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidVolume.ZoneMismatch: The volume '" + vol +
                                               "' is not in the same availability zone as instance '" + kDb + "'");
    EXPECT_FALSE(bridge.AttachVolume(vol, kWeb, "", false, "/dev/sdf", conflict, false));
    EXPECT_TRUE(conflict);
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: Attachment point /dev/sdf is already in use");
    EXPECT_FALSE(bridge.AttachVolume(vol, "i-00000000000000bad", "", false, "", conflict, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidInstanceID.NotFound: The instance ID 'i-00000000000000bad' does not exist");

    SDisk disk;
    disk.zone = "us-east-1a";
    disk.size = kGiB;
    ASSERT_TRUE(bridge.CreateVolume(disk, false, ""));
    EXPECT_FALSE(bridge.AttachVolume(disk.newVolumeId, kWeb, "", false, "", conflict, false));
    EXPECT_FALSE(conflict);
    EXPECT_EQ(bridge.GetLastErrorString(), "IncorrectState: " + disk.newVolumeId + " is not 'available'.");
}

TEST_F(AsyncModelTest, ModificationIsModifyingThenOptimizingThenCompleted) {
    const cloudsim::Timing t = Timing();
    std::string state;
    EXPECT_FALSE(bridge.GetVolumeModifyTaskInfo(kWebData, "", state));
    EXPECT_EQ(bridge.GetLastErrorString(),
              std::string("InvalidVolumeModification.NotFound: Modification for volume '") + kWebData +
                  "' does not exist.");
    ASSERT_TRUE(bridge.ModifyVolume(kWebData, "us-east-1", "gp3", 4000)) << bridge.GetLastErrorString();
    SDisk info;
    ASSERT_TRUE(bridge.GetVolumeModifyTaskInfo(kWebData, "", state));
    EXPECT_EQ(state, "modifying");
    VolumeState(kWebData, &info);
    EXPECT_EQ(info.volumeType, "gp2");
    EXPECT_FALSE(bridge.ModifyVolume(kWebData, "", "io1", 0));
    EXPECT_EQ(bridge.GetLastErrorString().rfind("IncorrectModificationState: ", 0), 0u);

    Advance(t.modifyMs);
    ASSERT_TRUE(bridge.GetVolumeModifyTaskInfo(kWebData, "", state));
    EXPECT_EQ(state, "optimizing");
    VolumeState(kWebData, &info);
    EXPECT_EQ(info.volumeType + " " + std::to_string(info.iops), "gp3 4000");
    Advance(t.optimizeMs);
    ASSERT_TRUE(bridge.GetVolumeModifyTaskInfo(kWebData, "", state));
    EXPECT_EQ(state, "completed");
}

// A modification is held to a new volume's bounds of the type it leads to,
// as EC2 holds it (kWebData: gp2, 20 GiB).
TEST_F(AsyncModelTest, AModificationStaysWithinTheBoundsOfItsResultingType) {
    EXPECT_FALSE(bridge.ModifyVolume(kWebData, "", "", 4000));
    EXPECT_EQ("InvalidParameterCombination: The parameter iops is not supported for gp2 volumes.",
              bridge.GetLastErrorString());
    EXPECT_FALSE(bridge.ModifyVolume(kWebData, "", "io2", 30000));  // 1,000 IOPS a GiB at most
    EXPECT_EQ(0u, bridge.GetLastErrorString().rfind("InvalidParameterValue: Iops to volume size ratio", 0))
        << bridge.GetLastErrorString();
    EXPECT_FALSE(bridge.ModifyVolume(kWebData, "", "st1", 0));  // 125 GiB at least
    EXPECT_EQ(0u, bridge.GetLastErrorString().rfind("InvalidParameterValue: Volume of 20GiB is too small", 0))
        << bridge.GetLastErrorString();
    // To a type that takes IOPS without naming them: 3,000.
    ASSERT_TRUE(bridge.ModifyVolume(kWebData, "", "io2", 0)) << bridge.GetLastErrorString();
    Advance(Timing().modifyMs);
    SDisk info;
    VolumeState(kWebData, &info);
    EXPECT_EQ("io2 3000", info.volumeType + " " + std::to_string(info.iops));
}

TEST_F(AsyncModelTest, VolumeFromSnapshotTakesItsSizeTypeAndEncryption) {
    std::string vol;
    std::map<std::string, std::string> tags = {{"_QX_BACKUP_", ""}, {"Owner", "restore"}};
    const std::string outpost = "arn:aws:outposts:us-east-1:111122223333:outpost/op-1";
    ASSERT_TRUE(bridge.CreateVolume(kDbSnap, "us-east-1b", "restored-db", "", 0, 0, false, "", vol, tags, false,
                                    outpost))
        << bridge.GetLastErrorString();
    SDisk info;
    EXPECT_EQ(VolumeState(vol, &info), "creating");
    EXPECT_EQ(info.size, 100 * kGiB);
    EXPECT_EQ(info.volumeType + " " + std::to_string(info.iops), "io1 5000");
    EXPECT_TRUE(info.encrypted);
    EXPECT_EQ(info.name, "restored-db");
    std::map<std::string, std::string> got;
    ASSERT_TRUE(bridge.GetTagList(vol, got));
    EXPECT_EQ(got, (std::map<std::string, std::string>{{"Name", "restored-db"}, {"Owner", "restore"}, {"_QX_BACKUP_", ""}}));
    cloud->Read([&](const cloudsim::State& s) {
        EXPECT_EQ(s.volumes.at(vol).outpostArn, outpost);
        EXPECT_EQ(s.volumes.at(vol).snapshotId, kDbSnap);
    });

    EXPECT_FALSE(bridge.CreateVolume(kDbSnap, "us-east-1b", "", "gp3", 0, 50 * kGiB, false, "", vol, {}, false, ""));
    EXPECT_EQ(bridge.GetLastErrorString(), std::string("InvalidParameterValue: Volume of 50GiB is smaller than snapshot '") +
                                               kDbSnap + "', expect size >= 100GiB");
    // A public snapshot of another account can be used; a pending one cannot.
    ASSERT_TRUE(bridge.CreateVolume("snap-0c55b159cbfafe1f0", "us-east-1a", "", "gp3", 0, 20 * kGiB, false, "", vol,
                                    {}, false, ""));
    std::string snap;
    ASSERT_TRUE(bridge.CreateSnapshot(kWebData, "", "", snap, false));
    EXPECT_FALSE(bridge.CreateVolume(snap, "us-east-1a", "", "", 0, 0, false, "", vol, {}, false, ""));
    EXPECT_EQ(bridge.GetLastErrorString(), "IncorrectState: Snapshot is in invalid state - pending");
}

TEST_F(AsyncModelTest, SnapshotIsPendingThenCompleted) {
    std::string snap;
    ASSERT_TRUE(bridge.CreateSnapshot(kWebData, "web-data-snap", "before upgrade", snap, false));
    VMInfoStructs::SChildDisk info;
    ASSERT_TRUE(bridge.GetSnapshotInfo(snap, "us-east-1", info));
    EXPECT_EQ(info.state + " " + info.volumeId + " " + info.description, std::string("pending ") + kWebData + " before upgrade");
    EXPECT_EQ(info.size, 20 * kGiB / 1024) << "snapshot sizes are reported in KiB";
    Advance(Timing().snapshotMs - 1);
    EXPECT_EQ(SnapshotState(snap), "pending");
    Advance(1);
    EXPECT_EQ(SnapshotState(snap), "completed");
    ASSERT_TRUE(bridge.DeleteSnapshot(snap, ""));
    EXPECT_EQ(SnapshotState(snap), "error: InvalidSnapshot.NotFound: The snapshot '" + snap + "' does not exist.");
}

TEST_F(AsyncModelTest, AmiSnapshotsEveryAttachedVolumeAndCompletesWithThem) {
    std::vector<std::string> snaps = {"vol-0a1b2c3d4e5f6b003"};   // in: volumes left out
    std::string ami;
    ASSERT_TRUE(bridge.CreateAMISnapshot(kDb, "us-east-1b", "_QX_BACKUP_", "nightly-1", "nightly", snaps, ami))
        << bridge.GetLastErrorString();
    ASSERT_EQ(snaps.size(), 2u);
    bool succeeded = true;
    EXPECT_FALSE(bridge.IsAMITaskCompleted(ami, succeeded));
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(SnapshotState(snaps[0]), "pending");
    Advance(Timing().amiMs);
    EXPECT_TRUE(bridge.IsAMITaskCompleted(ami, succeeded));
    EXPECT_TRUE(succeeded);
    EXPECT_EQ(SnapshotState(snaps[1]), "completed");

    SVMInfo record;
    ASSERT_EQ(bridge.GetVMInfoForVM("", ami, "us-east-1b", "", 16, 0, record), 1) << bridge.GetLastErrorString();
    EXPECT_EQ(record.name, "nightly-1");
    ASSERT_EQ(record.disks.size(), 2u);
    EXPECT_EQ(record.disks[0].volumeId + " " + record.disks[0].snapshotId, "vol-0a1b2c3d4e5f6b001 " + snaps[0]);
    EXPECT_EQ(record.disks[1].volumeId + " " + record.disks[1].snapshotId, "vol-0a1b2c3d4e5f6b002 " + snaps[1]);
    EXPECT_TRUE(record.disks[0].isOSDisk && record.disks[1].diskType == 1);
    std::string tag;
    ASSERT_TRUE(bridge.GetTag(ami, "Name", tag));
    EXPECT_EQ(tag, "_QX_BACKUP_");

    ASSERT_TRUE(bridge.TagEBSSnapshotsForAMI(ami, "Name", "_QX_BACKUP_"));
    for (const auto& snap : snaps) {
        ASSERT_TRUE(bridge.GetTag(snap, "Name", tag));
        EXPECT_EQ(tag, "_QX_BACKUP_");
    }
    EXPECT_FALSE(bridge.DeleteSnapshot(snaps[0], ""));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidSnapshot.InUse: The snapshot " + snaps[0] + " is currently in use by " + ami);
    std::vector<std::string> again;
    EXPECT_FALSE(bridge.CreateAMISnapshot(kDb, "", "x", "nightly-1", "", again, tag));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidAMIName.Duplicate: AMI name nightly-1 is already in use by AMI " + ami);

    ASSERT_TRUE(bridge.DeleteAMISnapshot(ami, true));
    EXPECT_EQ(SnapshotState(snaps[0]).rfind("error: InvalidSnapshot.NotFound", 0), 0u);
    EXPECT_TRUE(bridge.IsAMITaskCompleted(ami, succeeded));
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(bridge.GetVMInfoForVM("", ami, "", "", 16, 0, record), 0);
}

TEST_F(AsyncModelTest, CancelledAmiIsDoneWithoutSuccess) {
    std::vector<std::string> snaps;
    std::string ami;
    ASSERT_TRUE(bridge.CreateAMISnapshot(kWeb, "", "_QX_BACKUP_", "", "clone", snaps, ami));
    ASSERT_TRUE(bridge.CancelAMITask(ami));
    bool succeeded = true;
    EXPECT_TRUE(bridge.IsAMITaskCompleted(ami, succeeded));
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(bridge.GetLastErrorString(), "InternalError: AMI " + ami + " is cancelled");
    EXPECT_EQ(SnapshotState(snaps[0]), "error");
    EXPECT_FALSE(bridge.CancelAMITask(ami));
    // A poll of an AMI that does not exist ends the wait too.
    EXPECT_TRUE(bridge.IsAMITaskCompleted("ami-00000000000000bad", succeeded));
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidAMIID.NotFound: The image id '[ami-00000000000000bad]' does not exist");
}

TEST_F(AsyncModelTest, ConflictRuleSetsTheAttachFlag) {
    std::string vol = NewVolume("us-east-1a");
    cloud->AddFault({"AttachVolume", 1, "", 0, "conflict", ""});
    cloud->AddFault({"DetachVolume", 1, "", 0, "conflict", ""});
    bool conflict = false;
    EXPECT_FALSE(bridge.AttachVolume(vol, kWeb, "", false, "", conflict, false));
    EXPECT_TRUE(conflict);
    EXPECT_EQ(bridge.GetLastErrorString(), "VolumeInUse: " + vol + " is already attached to an instance");
    EXPECT_EQ(VolumeState(vol), "available");
    EXPECT_TRUE(bridge.AttachVolume(vol, kWeb, "", false, "", conflict, false));
    EXPECT_FALSE(conflict);
    // Elsewhere a conflict rule only fails the call.
    EXPECT_FALSE(bridge.DetachVolume(vol, false, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InternalError: injected conflict in DetachVolume");
}

TEST_F(AsyncModelTest, StuckRuleKeepsTheTargetTransitional) {
    std::string other;
    ASSERT_TRUE(bridge.CreateSnapshot(kWebData, "", "", other, false));
    Advance(Timing().snapshotMs);
    cloud->AddFault({"CreateVolume", 0, "", 0, "stuck", kDbSnap});
    std::string stuck, fine;
    ASSERT_TRUE(bridge.CreateVolume(kDbSnap, "us-east-1b", "", "", 0, 0, false, "", stuck, {}, false, ""));
    ASSERT_TRUE(bridge.CreateVolume(other, "us-east-1b", "", "", 0, 0, false, "", fine, {}, false, ""));
    Advance(24LL * 3600 * 1000);
    EXPECT_EQ(VolumeState(stuck), "creating");
    EXPECT_EQ(VolumeState(fine), "available");

    cloud->AddFault({"PowerOnVM", 1, "", 0, "stuck", ""});
    ASSERT_TRUE(bridge.PowerOnVM("", kWin, ""));
    Advance(24LL * 3600 * 1000);
    SVMInfo win;
    ASSERT_EQ(bridge.GetVMInfoForVM("", kWin, "", "", 0, 0, win), 1);
    EXPECT_EQ(win.powerState, 0);
    bool succeeded = true;
    EXPECT_FALSE(bridge.IsInstanceValidationtaskCompleted(kWin, succeeded));
}

TEST_F(AsyncModelTest, ErrorRuleEndsInTheErrorState) {
    cloud->AddFault({"CreateAMISnapshot", 1, "", 0, "error", ""});
    std::vector<std::string> snaps;
    std::string ami;
    ASSERT_TRUE(bridge.CreateAMISnapshot(kWeb, "", "_QX_BACKUP_", "", "", snaps, ami));
    bool succeeded = true;
    EXPECT_FALSE(bridge.IsAMITaskCompleted(ami, succeeded));
    Advance(Timing().amiMs);
    EXPECT_TRUE(bridge.IsAMITaskCompleted(ami, succeeded));
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(SnapshotState(snaps[1]), "error");

    std::string vol = NewVolume("us-east-1a");
    cloud->AddFault({"AttachVolume", 0, "", 0, "error", vol});
    bool conflict = false;
    ASSERT_TRUE(bridge.AttachVolume(vol, kWeb, "", false, "", conflict, false));
    Advance(Timing().attachMs);
    SDisk info;
    EXPECT_EQ(VolumeState(vol, &info), "error");
    EXPECT_EQ(info.deviceName, "");

    cloud->AddFault({"PowerOnVM", 1, "", 0, "error", ""});
    ASSERT_TRUE(bridge.PowerOnVM("win-app-01", "", "us-east-1"));
    Advance(Timing().instanceStartMs);
    EXPECT_FALSE(bridge.IsInstanceValidationtaskCompleted(kWin, succeeded));   // initializing
    Advance(Timing().statusCheckMs);
    EXPECT_TRUE(bridge.IsInstanceValidationtaskCompleted(kWin, succeeded));
    EXPECT_FALSE(succeeded);
    EXPECT_EQ(bridge.GetLastErrorString(),
              std::string("InstanceStatusImpaired: The status checks of instance '") + kWin + "' failed");
}

TEST_F(AsyncModelTest, PendingWorkSurvivesInAFolderState) {
    std::string folder = env.BaseDir() + "/sim";
    auto first = cloudsim::Cloud::OpenFolder(folder, AMAZON_DEMO_SEED);
    cloudsim::Cloud::SetProcessCloud(first);
    CAmazonSDKBridge b;
    ASSERT_TRUE(b.initialize("Amazon", "VSA", 1) && b.Connect("", kSourceKey, kSourceSecret));
    std::string snap;
    ASSERT_TRUE(b.CreateSnapshot(kWebData, "", "", snap, false));
    ASSERT_TRUE(b.ModifyVolume(kWebData, "", "gp3", 0));
    SDisk disk;
    disk.zone = "us-east-1a";
    disk.size = kGiB;
    ASSERT_TRUE(b.CreateVolume(disk, false, ""));
    // A second process opens the same folder and sees the work finish.
    auto second = cloudsim::Cloud::OpenFolder(folder, "");
    Advance(Timing().modifyMs + Timing().optimizeMs);
    std::string state, modification, volume;
    second->Read([&](const cloudsim::State& s) {
        state = s.snapshots.at(snap).state;
        modification = s.volumes.at(kWebData).modification.state;
        volume = s.volumes.at(disk.newVolumeId).state;
    });
    EXPECT_EQ(state, "completed");
    EXPECT_EQ(modification, "completed");
    EXPECT_EQ(volume, "available");
}
