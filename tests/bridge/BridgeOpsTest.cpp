// The bridge's operations over the demo cloud that are not about waiting:
// account and region scoping, tags, instances launched from AMIs and
// terminated, expiry sweeps, S3 folders, isolated subnets and inventory.
#include <set>

#include "BridgeFixture.h"
#include "framework/EvDebug.h"
#include "support/Names.h"

using namespace demo;
using VMInfoStructs::SDisk;
using VMInfoStructs::SInventoryInfo;
using VMInfoStructs::SVMInfo;

using BridgeOpsTest = BridgeFixture;

TEST_F(BridgeOpsTest, AnotherAccountsResourcesAreNotFound) {
    ConnectAdmin();
    SDisk disk;
    bool notFound = false;
    ASSERT_TRUE(admin.GetVolumeInfo(kWebData, "", disk, notFound));
    EXPECT_TRUE(notFound);
    EXPECT_FALSE(admin.DeleteVolume(kWebData, true));
    EXPECT_EQ(admin.GetLastErrorString(), std::string("InvalidVolume.NotFound: The volume '") + kWebData + "' does not exist.");
    // Text that cannot be a volume id is refused, not looked for.
    for (const std::string bad : {"", "vol-", "snap-0a1b2c3d4e5fb0001"}) {
        EXPECT_FALSE(admin.GetVolumeInfo(bad, "", disk, notFound)) << bad;
        EXPECT_EQ(admin.GetLastErrorString(), "InvalidVolumeID.Malformed: Invalid id: \"" + bad + "\" (expecting \"vol-...\")");
        EXPECT_FALSE(admin.DeleteVolume(bad, true)) << bad;
        EXPECT_EQ(admin.GetLastErrorString().rfind("InvalidVolumeID.Malformed: ", 0), 0u) << bad;
    }
    std::string value;
    EXPECT_FALSE(admin.GetTag(kWeb, "Name", value));
    EXPECT_EQ(admin.GetLastErrorString(), std::string("InvalidInstanceID.NotFound: The instance ID '") + kWeb + "' does not exist");
    EXPECT_FALSE(admin.DeleteAMISnapshot(kBackupAmi, true));
    EXPECT_FALSE(admin.DeleteSnapshot(kDbSnap, ""));
    SVMInfo vm;
    EXPECT_EQ(admin.GetVMInfoForVM("", kWeb, "", "", 0, 0, vm), 0);
    EXPECT_FALSE(admin.DeleteFolder("qx-demo-source-111122223333", "", "exports", true));
    EXPECT_EQ(admin.GetLastErrorString(), "AccessDenied: Access Denied");
    ASSERT_EQ(admin.GetVMInfoForVM("backup-proxy", "", "", "", 0, 0, vm), 1);
    EXPECT_EQ(vm.guid, "i-0fedcba9876540001");

    // Resources are regional: the same account elsewhere does not see them,
    // unless the operation names their region.
    bridge.overrideRegion("us-west-2");
    ASSERT_TRUE(bridge.GetVolumeInfo(kWebData, "", disk, notFound));
    EXPECT_TRUE(notFound);
    ASSERT_TRUE(bridge.GetVolumeInfo(kWebData, "us-east-1", disk, notFound));
    EXPECT_FALSE(notFound);
    EXPECT_EQ(disk.name, "web-data");
    EXPECT_FALSE(bridge.PowerOffVM("", kWeb, ""));
    EXPECT_TRUE(bridge.PowerOffVM("", kWeb, "us-east-1"));
}

TEST_F(BridgeOpsTest, TagsFollowTheMultiValueConvention) {
    auto tag = [&](const std::string& key) {
        std::string value = "?";
        EXPECT_TRUE(bridge.GetTag(kWeb, key, value)) << bridge.GetLastErrorString();
        return value;
    };
    auto has = [&](const std::string& key) {
        std::map<std::string, std::string> tags;
        EXPECT_TRUE(bridge.GetTagList(kWeb, tags));
        return tags.count(key) == 1;
    };
    ASSERT_TRUE(bridge.SetTag(kWeb, "_QX_AMI_", "ami-1", false));   // created when absent
    ASSERT_TRUE(bridge.SetTag(kWeb, "_QX_AMI_", "ami-2", false));
    ASSERT_TRUE(bridge.SetTag(kWeb, "_QX_AMI_", "ami-1", false));   // no duplicate
    EXPECT_EQ(tag("_QX_AMI_"), "ami-1#ami-2");
    ASSERT_TRUE(bridge.DeleteTag(kWeb, "_QX_AMI_", "ami-1", false));
    EXPECT_EQ(tag("_QX_AMI_"), "ami-2");
    ASSERT_TRUE(bridge.DeleteTag(kWeb, "_QX_AMI_", "ami-2", false));   // kept, empty
    EXPECT_TRUE(has("_QX_AMI_"));
    EXPECT_EQ(tag("_QX_AMI_"), "");
    ASSERT_TRUE(bridge.SetTag(kWeb, "_QX_AMI_", "ami-3", false));
    ASSERT_TRUE(bridge.DeleteTag(kWeb, "_QX_AMI_", "ami-3", true));    // dropped when empty
    EXPECT_FALSE(has("_QX_AMI_"));

    ASSERT_TRUE(bridge.SetTag(kWeb, "Environment", "Test", true));     // replace
    EXPECT_EQ(tag("Environment"), "Test");
    ASSERT_TRUE(bridge.DeleteTag(kWeb, "Environment", "", false));     // empty value: the key goes
    EXPECT_FALSE(has("Environment"));
    EXPECT_TRUE(bridge.DeleteTag(kWeb, "NoSuchKey", "x", true));
    EXPECT_EQ(tag("NoSuchKey"), "");

    ASSERT_TRUE(bridge.SetTag(kDbSnap, "Retain", "yes", true));
    ASSERT_TRUE(bridge.SetTag(kBackupAmi, "KD_Subclient", "8", true));
    std::string value;
    ASSERT_TRUE(bridge.GetTag(kBackupAmi, "KD_Subclient", value));
    EXPECT_EQ(value, "8");
    EXPECT_FALSE(bridge.SetTag(kWeb, "aws:reserved", "x", true));
    EXPECT_FALSE(bridge.SetTag(kWeb, "Long", std::string(257, 'x'), true));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: Tag value exceeds the maximum length of 256 characters");
    struct {
        std::string id, error;
    } missing[] = {
        {"vol-00000000000000bad", "InvalidVolume.NotFound: The volume 'vol-00000000000000bad' does not exist."},
        {"snap-00000000000000bad", "InvalidSnapshot.NotFound: The snapshot 'snap-00000000000000bad' does not exist."},
        {"ami-00000000000000bad", "InvalidAMIID.NotFound: The image id '[ami-00000000000000bad]' does not exist"},
        {"bogus", "InvalidID: The ID 'bogus' is not valid"},
    };
    for (const auto& m : missing) {
        EXPECT_FALSE(bridge.SetTag(m.id, "k", "v", true));
        EXPECT_EQ(bridge.GetLastErrorString(), m.error);
    }
}

TEST_F(BridgeOpsTest, InstanceLaunchedFromAnAmiAndTerminated) {
    const cloudsim::Timing t = Timing();
    SVMInfo vm;
    vm.name = "restored-web";
    vm.sourceId = kBackupAmi;
    vm.zone = "us-east-1b";
    vm.instanceType = "t3.large";
    vm.keyPairs.resize(1);
    vm.keyPairs[0].name = "demo-linux-key";
    std::string out;
    ASSERT_TRUE(bridge.CreateVirtualMachine(vm, out, false)) << bridge.GetLastErrorString();
    EXPECT_EQ(out, vm.guid);
    SVMInfo got;
    ASSERT_EQ(bridge.GetVMInfoForVM("restored-web", "", "", "", 0, 0, got), 1);
    EXPECT_EQ(got.guid + " " + got.zone + " " + got.instanceType + " " + got.amiId,
              vm.guid + " us-east-1b t3.large " + kBackupAmi);
    EXPECT_EQ(got.powerState, 0);   // pending
    ASSERT_EQ(got.disks.size(), 2u);
    EXPECT_EQ(got.disks[0].deviceName + " " + got.disks[1].deviceName, "/dev/xvda /dev/sdf");
    EXPECT_TRUE(got.disks[0].deleteOnTermination && !got.disks[1].deleteOnTermination);
    EXPECT_EQ(got.disks[1].size, 20 * kGiB);
    ASSERT_EQ(got.networkCards.size(), 1u);
    EXPECT_EQ(got.networkCards[0].subnetId, "subnet-0a1b2c3d4e5f90002");   // the zone's subnet
    EXPECT_EQ(got.keyPairs.at(0).name, "demo-linux-key");
    bool succeeded = true;
    EXPECT_FALSE(bridge.IsInstanceValidationtaskCompleted(vm.guid, succeeded));
    Advance(t.instanceStartMs);
    ASSERT_EQ(bridge.GetVMInfoForVM("", vm.guid, "", "", 0, 0, got), 1);
    EXPECT_EQ(got.powerState, 1);
    EXPECT_FALSE(bridge.IsInstanceValidationtaskCompleted(vm.guid, succeeded));
    Advance(t.statusCheckMs);
    EXPECT_TRUE(bridge.IsInstanceValidationtaskCompleted(vm.guid, succeeded));
    EXPECT_TRUE(succeeded);

    // Termination deletes the delete-on-termination root, detaches the rest.
    ASSERT_TRUE(bridge.DeleteVM("", vm.guid, "", false, true));
    Advance(std::max({t.deleteMs, t.detachMs, t.instanceStopMs}));
    EXPECT_EQ(VolumeState(got.disks[0].volumeId), "not found");
    EXPECT_EQ(VolumeState(got.disks[1].volumeId), "available");
    EXPECT_EQ(bridge.GetVMInfoForVM("", vm.guid, "", "", 0, 0, got), 0);
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidInstanceID.NotFound: The instance ID '" + vm.guid + "' does not exist");
    EXPECT_TRUE(bridge.DeleteVM("", vm.guid, "", true, true));   // already gone: nothing to do

    vm.sourceId = "ami-00000000000000bad";
    EXPECT_FALSE(bridge.CreateVirtualMachine(vm, out, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidAMIID.NotFound: The image id '[ami-00000000000000bad]' does not exist");
    vm.sourceId = kBackupAmi;
    vm.instanceType = "x9.huge";
    EXPECT_FALSE(bridge.CreateVirtualMachine(vm, out, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: Invalid value 'x9.huge' for InstanceType.");
}

TEST_F(BridgeOpsTest, DeleteVolumesWithTheInstanceDeletesEveryAttachedVolume) {
    SVMInfo db;
    ASSERT_EQ(bridge.GetVMInfoForVM("", kDb, "", "", 0, 0, db), 1);
    ASSERT_TRUE(bridge.DeleteVM("db-server-01", "", "", true, true));
    Advance(Timing().deleteMs);
    for (const auto& disk : db.disks) EXPECT_EQ(VolumeState(disk.volumeId), "not found") << disk.volumeId;
}

TEST_F(BridgeOpsTest, PowerPasswordConsoleAndScreenshot) {
    const cloudsim::Timing t = Timing();
    SVMInfo win;
    ASSERT_TRUE(bridge.PowerOnVM("", kWin, ""));
    ASSERT_EQ(bridge.GetVMInfoForVM("", kWin, "", "", 0, 0, win), 1);
    EXPECT_EQ(win.powerState, 0);
    Advance(t.instanceStartMs);
    ASSERT_EQ(bridge.GetVMInfoForVM("", kWin, "", "", 0, 0, win), 1);
    EXPECT_EQ(win.powerState, 1);
    EXPECT_TRUE(bridge.RebootVM("win-app-01", "", ""));

    std::string password;
    EXPECT_FALSE(bridge.GetPassword("", kWin, "demo-linux-key", password));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: key pair does not match");
    ASSERT_TRUE(bridge.GetPassword("", kWin, "demo-windows-key", password));
    EXPECT_EQ(password, "Demo-W1n-Passw0rd!");
    EXPECT_FALSE(bridge.GetPassword("", kWeb, "demo-linux-key", password));
    EXPECT_EQ(bridge.GetLastErrorString().rfind("PasswordDataUnavailable", 0), 0u);

    std::vector<std::string> logged;
    EvDebug::SetTap([&](int, const std::string&, const std::string& message) { logged.push_back(message); });
    ASSERT_TRUE(bridge.LogConsoleOutput(kWin));
    EvDebug::SetTap(nullptr);
    ASSERT_FALSE(logged.empty());
    EXPECT_NE(logged.back().find("Windows is Ready to use"), std::string::npos) << logged.back();

    std::string file = env.BaseDir() + "/shot.jpg";
    ASSERT_TRUE(bridge.SaveInstanceScreenshot(kWin, file)) << bridge.GetLastErrorString();
    std::string jpeg = TestEnv::ReadFile(file);
    ASSERT_GT(jpeg.size(), 100u);
    EXPECT_EQ(jpeg.substr(0, 4), "\xFF\xD8\xFF\xE0");
    EXPECT_EQ(jpeg.substr(6, 4), "JFIF");
    EXPECT_EQ(jpeg.substr(jpeg.size() - 2), "\xFF\xD9");

    SVMInfo edit;
    edit.guid = kWin;
    edit.instanceType = "m5.large";
    std::string out;
    EXPECT_FALSE(bridge.EditVirtualMachine(edit, out));
    EXPECT_EQ(bridge.GetLastErrorString(),
              std::string("IncorrectInstanceState: The instance '") + kWin + "' is not in the 'stopped' state.");
    ASSERT_TRUE(bridge.PowerOffVM("", kWin, ""));
    EXPECT_FALSE(bridge.SaveInstanceScreenshot(kWin, file));
    Advance(t.instanceStopMs);
    edit.name = "win-app-02";
    ASSERT_TRUE(bridge.EditVirtualMachine(edit, out)) << bridge.GetLastErrorString();
    ASSERT_EQ(bridge.GetVMInfoForVM("win-app-02", "", "", "", 0, 0, win), 1);
    EXPECT_EQ(win.instanceType + " " + win.guid, std::string("m5.large ") + kWin);
}

TEST_F(BridgeOpsTest, ExpirySweepsOnlyOldTaggedResources) {
    std::string tagged, untagged, young;
    std::map<std::string, std::string> mark = {{"_QX_BACKUP_", ""}};
    ASSERT_TRUE(bridge.CreateVolume(kDbSnap, "us-east-1a", "", "", 0, 0, false, "", tagged, mark, false, ""));
    ASSERT_TRUE(bridge.CreateVolume(kDbSnap, "us-east-1a", "", "", 0, 0, false, "", untagged, {}, false, ""));
    Advance(2 * 3600 * 1000);
    ASSERT_TRUE(bridge.CreateVolume(kDbSnap, "us-east-1a", "", "", 0, 0, false, "", young, mark, false, ""));
    Advance(Timing().volumeCreateMs);
    ASSERT_TRUE(bridge.DeleteExpiredVolumes("us-east-1", 3600));
    EXPECT_EQ(VolumeState(tagged), "deleting");
    EXPECT_EQ(VolumeState(untagged), "available");
    EXPECT_EQ(VolumeState(young), "available");
    EXPECT_EQ(VolumeState(kWebData), "in-use");

    // The seeded backup AMI is one day old.
    EXPECT_FALSE(bridge.DeleteExpiredAMISnapshot(kBackupAmi, true, 48));
    EXPECT_EQ(bridge.GetLastErrorString(), std::string("AMIExpiry: AMI ") + kBackupAmi + " has not expired");
    std::vector<std::string> amis;
    ASSERT_TRUE(bridge.GetAMIListForTags({{"_QX_BACKUP_", kWeb}, {"KD_Subclient", "7"}}, amis));
    EXPECT_EQ(amis, std::vector<std::string>{kBackupAmi});
    ASSERT_TRUE(bridge.GetAMIListForTags({{"_QX_BACKUP_", kWeb}, {"KD_Subclient", "8"}}, amis));
    EXPECT_TRUE(amis.empty());
    ASSERT_TRUE(bridge.DeleteExpiredAMISnapshot(kBackupAmi, true, 24));
    EXPECT_EQ(SnapshotState("snap-0a1b2c3d4e5fb0001").rfind("error: InvalidSnapshot.NotFound", 0), 0u);
    ASSERT_TRUE(bridge.GetAMIListForTags({{"_QX_BACKUP_", kWeb}}, amis));
    EXPECT_TRUE(amis.empty());
}

TEST_F(BridgeOpsTest, DeleteFolderRemovesTheObjectOrEverythingUnderThePrefix) {
    ConnectAdmin();
    const std::string bucket = "qx-demo-admin-444455556666";
    cloud->Write([&](cloudsim::State& s) {
        for (const char* key : {"vhd/job-41/web-server-01/disk0.vhd", "vhd/job-41/web-server-01/disk1.vhd",
                                "vhd/job-41/web-server-01/meta/config.xml", "RunCommandDir/cmd-0a1b2c3d/stdout"})
            s.objects.push_back({bucket, key, 512, std::string(512, 'x')});
    });
    auto keys = [&] {
        std::set<std::string> k;
        cloud->Read([&](const cloudsim::State& s) {
            for (const auto& o : s.objects)
                if (o.bucket == bucket) k.insert(o.key);
        });
        return k;
    };
    ASSERT_TRUE(admin.DeleteFolder(bucket, "", "vhd/job-41/web-server-01/disk0.vhd", true));
    EXPECT_EQ(keys().count("vhd/job-41/web-server-01/disk0.vhd"), 0u);
    EXPECT_EQ(keys().size(), 3u);
    ASSERT_TRUE(admin.DeleteFolder(bucket, "", "RunCommandDir", false));   // its files are in a sub-folder
    EXPECT_EQ(keys().size(), 3u);
    ASSERT_TRUE(admin.DeleteFolder(bucket, "us-east-1", "vhd/job-41/", true));
    EXPECT_EQ(keys(), std::set<std::string>{"RunCommandDir/cmd-0a1b2c3d/stdout"});
    EXPECT_TRUE(admin.DeleteFolder(bucket, "", "vhd", true));   // nothing left there: still fine
    EXPECT_FALSE(admin.DeleteFolder("no-such-bucket", "", "x", true));
    EXPECT_EQ(admin.GetLastErrorString(), "NoSuchBucket: The specified bucket does not exist");
}

TEST_F(BridgeOpsTest, IsolatedSubnetsTakeTheNextFreeBlock) {
    std::string id1, cidr1, id2, cidr2, id3, cidr3;
    ASSERT_TRUE(bridge.CreateIsolatedSubnet("restore-1", "demo-vpc", id1, cidr1, "")) << bridge.GetLastErrorString();
    EXPECT_EQ(cidr1, "10.0.3.0/24");
    EXPECT_EQ(id1.rfind("subnet-", 0), 0u);
    ASSERT_TRUE(bridge.CreateIsolatedSubnet("restore-2", "vpc-0a1b2c3d4e5f80001", id2, cidr2, ""));
    EXPECT_EQ(cidr2, "10.0.4.0/24");
    ASSERT_TRUE(bridge.DeleteIsolatedSubnet(id1));
    ASSERT_TRUE(bridge.CreateIsolatedSubnet("restore-3", "demo-vpc", id3, cidr3, ""));
    EXPECT_EQ(cidr3, "10.0.3.0/24");
    EXPECT_FALSE(bridge.DeleteIsolatedSubnet(id1));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidSubnetID.NotFound: The subnet ID '" + id1 + "' does not exist");
    EXPECT_FALSE(bridge.DeleteIsolatedSubnet("subnet-0a1b2c3d4e5f90001"));   // web-server-01's
    EXPECT_EQ(bridge.GetLastErrorString(),
              "DependencyViolation: The subnet 'subnet-0a1b2c3d4e5f90001' has dependencies and cannot be deleted.");
    EXPECT_FALSE(bridge.CreateIsolatedSubnet("x", "backup-vpc", id1, cidr1, ""));   // the admin account's
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidVpcID.NotFound: The vpc ID 'backup-vpc' does not exist");

    EXPECT_TRUE(bridge.ModifyNetworkInterface("eni-0a1b2c3d4e5f70001", false));
    EXPECT_FALSE(bridge.ModifyNetworkInterface("eni-0fedcba9876570001", false));
}

TEST_F(BridgeOpsTest, InstanceLookUps) {
    SVMInfo vm;
    ASSERT_EQ(bridge.GetVMInfoForVM("", kDb, "us-east-1b", "", 0, 0, vm), 1);
    EXPECT_EQ(vm.name, "db-server-01");
    EXPECT_EQ(vm.networkCards.at(0).networkName, "vpc-0a1b2c3d4e5f80001");
    ASSERT_EQ(bridge.GetVMInfoForVM("analytics-01", "", "", "us-west-2", 0, 0, vm), 1);
    EXPECT_EQ(vm.guid, "i-0a1b2c3d4e5f60004");
    EXPECT_EQ(bridge.GetVMInfoForVM("", kDb, "us-east-1a", "", 0, 0, vm), 0);
    EXPECT_EQ(bridge.GetVMInfoForVM("", kDb, "", "us-west-2", 0, 0, vm), 0);
    EXPECT_EQ(bridge.GetLastErrorString(), std::string("InvalidInstanceID.NotFound: The instance ID '") + kDb + "' does not exist");
    ASSERT_EQ(bridge.GetVMInfoForVM("", "ami-0c55b159cbfafe1f0", "", "", 16, 0, vm), 1);   // a public AMI
    EXPECT_EQ(vm.disks.at(0).snapshotId, "snap-0c55b159cbfafe1f0");

    bool exists = false;
    std::vector<SVMInfo> vms;
    ASSERT_EQ(bridge.DoesVMExist(kWeb, "", "", exists, vms), 1);
    EXPECT_TRUE(exists);
    ASSERT_EQ(bridge.DoesVMExist("i-00000000000000bad", "win-app-01", "us-east-1c", exists, vms), 1);
    EXPECT_TRUE(exists);
    EXPECT_EQ(vms.at(0).guid, kWin);
    ASSERT_EQ(bridge.DoesVMExist("", "win-app-01", "us-east-1a", exists, vms), 1);
    EXPECT_FALSE(exists);
    EXPECT_TRUE(vms.empty());

    VMInfoStructs::SHostInfo host;
    ASSERT_EQ(bridge.GetHostInfoForHost("us-east-1b", 0, 0, host), 1);
    EXPECT_EQ(host.region + " " + host.vms.at(0).name, "us-east-1 db-server-01");
    EXPECT_EQ(bridge.GetHostInfoForHost("us-east-1z", 0, 0, host), 0);
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: Invalid availability zone: [us-east-1z]");
    VMInfoStructs::SDataCenterInfo dc;
    ASSERT_EQ(bridge.GetDCInfoForDC("us-west-2", 0, 0, dc), 1);
    EXPECT_EQ(dc.vms.size(), 2u);
    ASSERT_EQ(bridge.RefreshVMInfoList(0, 0), 5);
    bridge.GetVMInfoList(vms);
    EXPECT_EQ(vms.size(), 5u);
}

TEST_F(BridgeOpsTest, TagAndInstanceTypeViews) {
    std::vector<SInventoryInfo> nodes;
    ASSERT_EQ(bridge.GetInventoryInfoListForTag("", "", "", 0, 0, nodes), 1);
    EXPECT_EQ(Names(nodes), (std::vector<std::string>{"Department", "Environment", "Name", "Owner"}));
    EXPECT_EQ(nodes[0].type, 25);
    EXPECT_EQ(nodes[0].guid, "us-east-1#$vm-+=Department");
    ASSERT_EQ(bridge.GetInventoryInfoListForTag("us-east-1", "Environment", "", 0, 0, nodes), 1);
    EXPECT_EQ(Names(nodes), (std::vector<std::string>{"Production", "Staging"}));
    EXPECT_EQ(nodes[1].type, 24);
    EXPECT_EQ(nodes[1].guid, "us-east-1#$vm-+=Environment#$vm-+=Staging");
    std::vector<SVMInfo> vms;
    ASSERT_EQ(bridge.GetVMInfoListForTag("us-east-1", "Environment", "Staging", 0, 0, vms), 1);
    EXPECT_EQ(Names(vms), std::vector<std::string>{"web-server-01"});
    ASSERT_EQ(bridge.GetVMInfoListForTag("us-east-1", "Department", "", 0, 0, vms), 1);
    EXPECT_EQ(vms.size(), 3u);

    ASSERT_EQ(bridge.GetInstanceTypeInfoListForRegion("us-west-2", 0, 0, nodes, false), 1);
    EXPECT_EQ(Names(nodes), std::vector<std::string>{"c5.2xlarge"});   // the template is not in use
    EXPECT_EQ(nodes[0].guid + " " + std::to_string(nodes[0].type), "us-west-2#$vm-+=c5.2xlarge 28");
    ASSERT_EQ(bridge.GetInstanceTypeInfoListForRegion("us-west-2", 0, 0, nodes, true), 1);
    EXPECT_EQ(nodes.size(), 7u);
    ASSERT_EQ(bridge.GetVMInfoListForInstanceType("us-east-1", "r5.large", 0, 0, vms), 1);
    EXPECT_EQ(Names(vms), std::vector<std::string>{"db-server-01"});
    std::vector<VMInfoStructs::SVMSizeInfo> sizes;
    ASSERT_EQ(bridge.GetAllInstanceTypeList("", sizes), 1);
    ASSERT_EQ(sizes.size(), 12u);
    EXPECT_EQ(sizes[5].name + " " + std::to_string(sizes[5].cpus) + " " + std::to_string(sizes[5].memoryMB),
              "m5.large 2 8192");
}

TEST_F(BridgeOpsTest, RolesImagesAndKeys) {
    std::vector<VMInfoStructs::SRoleInfo> roles;
    ASSERT_EQ(bridge.GetRoleInfoList(roles), 1);
    ASSERT_EQ(roles.size(), 2u);
    EXPECT_EQ(roles[0].arn, "arn:aws:iam::111122223333:role/VSABackupRole");
    std::vector<VMInfoStructs::SImageInfo> images;
    ASSERT_TRUE(bridge.GetFilteredAmis("", "", "", images));
    EXPECT_EQ(images.size(), 3u);   // two public ones and the account's backup
    ASSERT_TRUE(bridge.GetFilteredAmis("Windows", "WINDOWS", "Available", images));
    ASSERT_EQ(images.size(), 1u);
    EXPECT_EQ(images[0].id, "ami-0d5d9d301c853a04a");
    std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo> keys;
    ASSERT_TRUE(bridge.GetVolumeEncryptionKeyList("", keys));
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_TRUE(keys[0].isDefault);
    EXPECT_EQ(keys[0].name, "alias/aws/ebs");
    EXPECT_EQ(keys[1].arn, "arn:aws:kms:us-east-1:111122223333:key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d");
}

// An interface outlives its terminated instance only when it was not to be
// deleted with it, and only such a left-over one can be deleted.
TEST_F(BridgeOpsTest, AnInterfaceIsDeletedOnlyOnceItsInstanceLeftItBehind) {
    const std::string nic = "eni-0a1b2c3d4e5f70001";
    EXPECT_FALSE(bridge.DeleteNetworkInterface(nic));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidNetworkInterface.InUse: Interface: [" + nic + "] in use.");
    ASSERT_TRUE(bridge.ModifyNetworkInterface(nic, false));
    ASSERT_TRUE(bridge.DeleteVM("", "i-0a1b2c3d4e5f60001", "us-east-1", true, true));
    FwClock::SleepMs(600 * 1000);
    EXPECT_TRUE(bridge.DeleteNetworkInterface(nic)) << bridge.GetLastErrorString();
    EXPECT_FALSE(bridge.DeleteNetworkInterface(nic));
    EXPECT_EQ(bridge.GetLastErrorString(),
              "InvalidNetworkInterfaceID.NotFound: The networkInterface ID '" + nic + "' does not exist");
}
