// The bridge's restore operations over the demo cloud: the instance a
// restore launches (or reuses), the root volume it makes way for, snapshot
// sharing across accounts, KMS keys and Outpost subnets.
#include "BridgeFixture.h"

using namespace demo;
using VMInfoStructs::SDisk;
using VMInfoStructs::SVMInfo;

namespace {

const char kSubnetA[] = "subnet-0a1b2c3d4e5f90001";   // demo-a, us-east-1a
const char kSubnetB[] = "subnet-0a1b2c3d4e5f90002";   // demo-b, us-east-1b
const char kWebRoot[] = "vol-0a1b2c3d4e5f6a001";
const char kOutpostSubnet[] = "subnet-0fedcba9876590003";   // the admin's, on outpost-worker's Outpost
const char kOutpost[] = "arn:aws:outposts:us-east-1:444455556666:outpost/op-0123456789abcdef0";
const char kDbKeyArn[] = "arn:aws:kms:us-east-1:111122223333:key/1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d";

class BridgeRestoreTest : public BridgeFixture {
protected:
    SVMInfo Wanted(const std::string& zone, const std::string& subnet) {
        SVMInfo vm;
        vm.name = "restored-web";
        vm.region = "us-east-1";
        vm.zone = zone;
        vm.amiId = kBackupAmi;
        vm.instanceType = "Auto";
        vm.terminationProtection = true;
        vm.ebsOptimized = true;
        VMInfoStructs::SVMNetworkCard nic;
        nic.subnetId = subnet;
        vm.networkCards.push_back(nic);
        VMInfoStructs::SSecurityGroupInfo known, unknown;
        known.name = "web-servers";
        unknown.id = "sg-0000000000000dead";
        vm.securityGroups = {known, unknown};
        VMInfoStructs::SKeyPairInfo key;
        key.name = "demo-linux-key";
        vm.keyPairs.push_back(key);
        return vm;
    }
    cloudsim::Instance Instance(const std::string& id) {
        cloudsim::Instance inst;
        cloud->Read([&](const cloudsim::State& s) { inst = s.instances.at(id); });
        return inst;
    }
    std::string Attachment(const std::string& volumeId) {
        SDisk disk;
        std::string state = VolumeState(volumeId, &disk);
        return state + " " + disk.attachState + " " + disk.deviceName;
    }
};

}  // namespace

TEST_F(BridgeRestoreTest, LaunchedInstanceIsLeftStoppedWithoutItsRootForTheRestoredOne) {
    SVMInfo vm = Wanted("us-east-1b", kSubnetB);
    ASSERT_TRUE(bridge.RestoreVirtualMachine(vm, true, {{"Department", "Finance"}}, false))
        << bridge.GetLastErrorString();
    // The unknown group is left out and reported; the known one is used.
    EXPECT_EQ(bridge.GetLastErrorString(),
              "InvalidGroup.NotFound: The security group 'sg-0000000000000dead' does not exist in VPC "
              "'vpc-0a1b2c3d4e5f80001'");
    cloudsim::Instance inst = Instance(vm.guid);
    EXPECT_EQ(inst.state, "stopped");
    EXPECT_EQ(inst.zone + " " + inst.instanceType + " " + inst.amiId, std::string("us-east-1b t3.medium ") + kBackupAmi);
    EXPECT_EQ(inst.securityGroupIds, std::vector<std::string>{"sg-0a1b2c3d4e5f10002"});
    EXPECT_EQ(inst.keyName, "demo-linux-key");
    EXPECT_TRUE(inst.disableApiTermination && inst.ebsOptimized);
    EXPECT_EQ(inst.networkInterfaces.at(0).subnetId, kSubnetB);
    EXPECT_EQ(inst.tags, (std::map<std::string, std::string>{
                             {"Department", "Finance"}, {"Name", "restored-web"}, {"_QX_BACKUP_", ""}}));
    // Of the AMI's two volumes only the data volume is left: the root went.
    ASSERT_EQ(inst.volumeIds.size(), 1u);
    EXPECT_EQ(Attachment(inst.volumeIds[0]), "in-use attached /dev/sdf");

    // The restored OS volume goes at the root device, whatever device is
    // named: attaching, then attached.
    std::string os = NewVolume("us-east-1b");
    bool conflict = false;
    ASSERT_TRUE(bridge.AttachAsOSVolume(os, vm.guid, "", false, "/dev/sdk", conflict, false))
        << bridge.GetLastErrorString();
    EXPECT_EQ(Attachment(os), "in-use attaching /dev/xvda");
    Advance(Timing().attachMs);
    EXPECT_EQ(Attachment(os), "in-use attached /dev/xvda");
    EXPECT_EQ(Instance(vm.guid).volumeIds.front(), os);
    std::string second = NewVolume("us-east-1b");
    EXPECT_FALSE(bridge.AttachAsOSVolume(second, vm.guid, "", false, "", conflict, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: Attachment point /dev/xvda is already in use");

    // Termination protection holds until it is lifted.
    EXPECT_FALSE(bridge.DeleteVM("", vm.guid, "", true, false));
    EXPECT_EQ(bridge.GetLastErrorString().rfind("OperationNotPermitted: The instance '" + vm.guid, 0), 0u);
}

TEST_F(BridgeRestoreTest, LaunchGeometryFollowsTheDestinationRegion) {
    // Another region: the AMI is not there, so the region's base image for
    // the guest OS is used, with its root device.
    SVMInfo vm = Wanted("us-west-2b", "");
    vm.region = "us-west-2";
    vm.guestOS = "Windows";
    vm.instanceType = "";
    vm.securityGroups.clear();
    ASSERT_TRUE(bridge.RestoreVirtualMachine(vm, true, {}, false)) << bridge.GetLastErrorString();
    // The key pair is of us-east-1 only: launched without it, with a warning.
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidKeyPair.NotFound: The key pair 'demo-linux-key' does not exist");
    EXPECT_EQ(vm.amiId, "ami-0e6f7a8b9c0d1e2f3");
    bridge.overrideRegion("us-west-2");
    cloudsim::Instance inst = Instance(vm.guid);
    EXPECT_EQ(inst.platform + " " + inst.rootDeviceName + " " + inst.state + " " + inst.zone,
              "windows /dev/sda1 stopped us-west-2b");
    EXPECT_TRUE(inst.volumeIds.empty());
    EXPECT_EQ(inst.networkInterfaces.at(0).subnetId, "subnet-0a1b2c3d4e5f90005");   // the zone's
    bridge.overrideRegion("us-east-1");

    // Refusals, with AWS's texts; nothing is launched.
    size_t before = 0;
    cloud->Read([&](const cloudsim::State& s) { before = s.instances.size(); });
    vm = Wanted("us-east-1b", kSubnetB);
    vm.instanceType = "x9.huge";
    EXPECT_FALSE(bridge.RestoreVirtualMachine(vm, false, {}, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: Invalid value 'x9.huge' for InstanceType.");
    vm = Wanted("us-west-2a", "");
    vm.region = "us-west-2";
    vm.instanceType = "r5.large";   // not offered in us-west-2
    EXPECT_FALSE(bridge.RestoreVirtualMachine(vm, false, {}, false));
    EXPECT_EQ(bridge.GetLastErrorString(),
              "Unsupported: Your requested instance type (r5.large) is not supported in your requested region "
              "(us-west-2).");
    vm = Wanted("us-east-1a", kSubnetB);
    EXPECT_FALSE(bridge.RestoreVirtualMachine(vm, false, {}, false));
    EXPECT_EQ(bridge.GetLastErrorString(),
              std::string("InvalidParameterValue: Value (us-east-1a) for parameter availabilityZone is invalid. "
                          "Subnet '") + kSubnetB + "' is in the availability zone us-east-1b");
    vm = Wanted("us-east-1a", "subnet-0000000000000beef");
    EXPECT_FALSE(bridge.RestoreVirtualMachine(vm, false, {}, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidSubnetID.NotFound: The subnet ID 'subnet-0000000000000beef' does not exist");
    vm = Wanted("us-east-1x", "");
    EXPECT_FALSE(bridge.RestoreVirtualMachine(vm, false, {}, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidParameterValue: Invalid availability zone: [us-east-1x]");
    cloud->Read([&](const cloudsim::State& s) { EXPECT_EQ(s.instances.size(), before); });
}

// A card naming an interface asks for that one: refused while another
// instance holds it or when it does not exist, moved once its instance
// terminated without it.
TEST_F(BridgeRestoreTest, ALaunchTakesANamedInterfaceOnlyWhenItIsAvailable) {
    SVMInfo first = Wanted("us-east-1b", kSubnetB);
    ASSERT_TRUE(bridge.RestoreVirtualMachine(first, false, {}, false)) << bridge.GetLastErrorString();
    const std::string eni = Instance(first.guid).networkInterfaces.at(0).id;
    ASSERT_TRUE(bridge.ModifyNetworkInterface(eni, false));
    SVMInfo second = Wanted("us-east-1b", kSubnetB);
    second.networkCards.at(0).id = eni;
    EXPECT_FALSE(bridge.RestoreVirtualMachine(second, false, {}, false));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidNetworkInterface.InUse: Interface: [" + eni + "] in use.");
    second.networkCards.at(0).id = "eni-0000000000000beef";
    EXPECT_FALSE(bridge.RestoreVirtualMachine(second, false, {}, false));
    EXPECT_EQ(bridge.GetLastErrorString(),
              "InvalidNetworkInterfaceID.NotFound: The networkInterface ID 'eni-0000000000000beef' does not exist");

    cloud->Write([&](cloudsim::State& s) { s.instances.at(first.guid).state = "terminated"; });
    second.networkCards.at(0).id = eni;
    ASSERT_TRUE(bridge.RestoreVirtualMachine(second, false, {}, false)) << bridge.GetLastErrorString();
    EXPECT_EQ(eni, Instance(second.guid).networkInterfaces.at(0).id);
    EXPECT_TRUE(Instance(first.guid).networkInterfaces.empty()) << "an interface is on one instance at a time";
}

TEST_F(BridgeRestoreTest, ReusedInstanceIsStoppedAndKeepsItsRootVolume) {
    std::string os = NewVolume("us-east-1a");
    bool conflict = false;
    EXPECT_FALSE(bridge.AttachAsOSVolume(os, kWeb, "", false, "", conflict, false));
    EXPECT_EQ(bridge.GetLastErrorString(), std::string("IncorrectState: The instance '") + kWeb +
                                               "' is not in the 'stopped' state.");
    SVMInfo vm;
    vm.guid = kWeb;
    // A restored data disk takes the device of the instance's volume there,
    // which makes way as the root does; a device nobody restores keeps its.
    VMInfoStructs::SDisk data;
    data.deviceName = "/dev/sdf";
    vm.disks.push_back(data);
    ASSERT_TRUE(bridge.RestoreVirtualMachine(vm, true, {}, true)) << bridge.GetLastErrorString();
    EXPECT_EQ(bridge.GetLastErrorString(), "");
    EXPECT_EQ(Instance(kWeb).state, "stopped");
    EXPECT_EQ(VolumeState(kWebRoot), "available");   // detached, kept
    EXPECT_EQ(VolumeState("vol-0a1b2c3d4e5f6a002"), "available");
    ASSERT_TRUE(bridge.AttachAsOSVolume(os, kWeb, "", false, "", conflict, false)) << bridge.GetLastErrorString();
    Advance(Timing().attachMs);
    EXPECT_EQ(Attachment(os), "in-use attached /dev/xvda");

    vm.guid = "i-0000000000000dead";
    EXPECT_FALSE(bridge.RestoreVirtualMachine(vm, true, {}, true));
    EXPECT_EQ(bridge.GetLastErrorString(), "InvalidInstanceID.NotFound: The instance ID 'i-0000000000000dead' does not exist");
}

TEST_F(BridgeRestoreTest, SharedSnapshotsAndTheirKeysDecideWhoCreatesVolumes) {
    ConnectAdmin();
    std::string plain, vol;
    ASSERT_TRUE(bridge.CreateSnapshot(kWebData, "", "", plain, false));
    Advance(Timing().snapshotMs);
    EXPECT_FALSE(admin.CreateVolume(plain, "us-east-1a", "", "", 0, 0, false, "", vol, {}, false, ""));
    EXPECT_EQ(admin.GetLastErrorString(), "InvalidSnapshot.NotFound: The snapshot '" + plain + "' does not exist.");
    ASSERT_TRUE(bridge.ShareSnapshot(plain, demo::kAdminAccount)) << bridge.GetLastErrorString();
    EXPECT_TRUE(admin.CreateVolume(plain, "us-east-1a", "", "", 0, 0, false, "", vol, {}, false, ""))
        << admin.GetLastErrorString();
    ASSERT_TRUE(bridge.UnshareSnapshot(plain, demo::kAdminAccount));
    EXPECT_FALSE(admin.CreateVolume(plain, "us-east-1a", "", "", 0, 0, false, "", vol, {}, false, ""));
    EXPECT_FALSE(bridge.ShareSnapshot(plain, "not-an-account"));
    EXPECT_FALSE(admin.ShareSnapshot(plain, demo::kSourceAccount));   // not the admin's to share
    EXPECT_EQ(admin.GetLastErrorString(), "InvalidSnapshot.NotFound: The snapshot '" + plain + "' does not exist.");

    // The customer key of the db snapshot lets the admin account use it ...
    ASSERT_TRUE(bridge.ShareSnapshot(kDbSnap, demo::kAdminAccount));
    ASSERT_TRUE(admin.CreateVolume(kDbSnap, "us-east-1a", "", "", 0, 0, false, "", vol, {}, false, ""))
        << admin.GetLastErrorString();
    // ... re-encrypted with a key of the admin's own ...
    ASSERT_TRUE(admin.CreateVolume(kDbSnap, "us-east-1a", "", "", 0, 0, true, "alias/backup-copy-key", vol, {}, false,
                                   ""))
        << admin.GetLastErrorString();
    cloud->Read([&](const cloudsim::State& s) {
        EXPECT_EQ(s.volumes.at(vol).kmsKeyId,
                  "arn:aws:kms:us-east-1:444455556666:key/4d5e6f70-8192-4dae-9fc0-3b4c5d6e7f80");
    });
    EXPECT_FALSE(admin.CreateVolume(kDbSnap, "us-east-1a", "", "", 0, 0, true, "alias/none", vol, {}, false, ""));
    EXPECT_EQ(admin.GetLastErrorString(),
              "InvalidParameterValue: Invalid KMS key: NotFoundException: Key 'alias/none' does not exist");
    // ... until its policy no longer names it.
    cloud->Write([](cloudsim::State& s) {
        for (auto& k : s.kmsKeys) k.allowedAccounts.clear();
    });
    EXPECT_FALSE(admin.CreateVolume(kDbSnap, "us-east-1a", "", "", 0, 0, false, "", vol, {}, false, ""));
    EXPECT_EQ(admin.GetLastErrorString(), std::string("InvalidParameterValue: The snapshot '") + kDbSnap +
                                              "' is encrypted with KMS key " + kDbKeyArn +
                                              " that account 444455556666 is not permitted to use");

    // A snapshot encrypted with the AWS managed key cannot be shared.
    SDisk disk;
    disk.zone = "us-east-1a";
    disk.size = 8 * kGiB;
    disk.encrypted = true;
    ASSERT_TRUE(bridge.CreateVolume(disk, false, ""));
    Advance(Timing().volumeCreateMs);
    std::string managed;
    ASSERT_TRUE(bridge.CreateSnapshot(disk.newVolumeId, "", "", managed, false));
    EXPECT_FALSE(bridge.ShareSnapshot(managed, demo::kAdminAccount));
    EXPECT_EQ(bridge.GetLastErrorString(),
              "InvalidParameter: Snapshots encrypted with the AWS Managed CMK can't be shared. Specify another snapshot.");
}

TEST_F(BridgeRestoreTest, KeysAreDescribedByIdArnOrAliasWithTheirState) {
    std::string arn, state, description;
    bool notFound = true;
    ASSERT_TRUE(bridge.DescribeEncryptionKey("", "alias/db-data-key", arn, notFound, state, &description));
    EXPECT_FALSE(notFound);
    EXPECT_EQ(arn + " " + state + " " + description, std::string(kDbKeyArn) + " Enabled Database volumes");
    ASSERT_TRUE(bridge.DescribeEncryptionKey("us-east-1", "1a2b3c4d-5e6f-4a7b-8c9d-0e1f2a3b4c5d", arn, notFound, state));
    EXPECT_EQ(arn, kDbKeyArn);
    ASSERT_TRUE(bridge.DescribeEncryptionKey("", kDbKeyArn, arn, notFound, state));
    EXPECT_FALSE(notFound);
    ASSERT_TRUE(bridge.DescribeEncryptionKey("", "alias/aws/ebs", arn, notFound, state));
    EXPECT_EQ(arn, "arn:aws:kms:us-east-1:111122223333:key/0d1e2f3a-4b5c-4d6e-8f70-8192a3b4c5d6");
    ASSERT_TRUE(bridge.DescribeEncryptionKey("", "alias/none", arn, notFound, state));
    EXPECT_TRUE(notFound);
    ASSERT_TRUE(bridge.DescribeEncryptionKey("us-west-2", "alias/db-data-key", arn, notFound, state));
    EXPECT_TRUE(notFound);   // keys are regional

    // A key that is not Enabled is described with its state and encrypts nothing.
    for (const char* st : {"Disabled", "PendingDeletion", "PendingImport"}) {
        cloud->Write([&](cloudsim::State& s) {
            for (auto& k : s.kmsKeys)
                if (k.alias == "alias/db-data-key") k.state = st;
        });
        ASSERT_TRUE(bridge.DescribeEncryptionKey("", "alias/db-data-key", arn, notFound, state));
        EXPECT_EQ(state, st);
        SDisk disk;
        disk.zone = "us-east-1a";
        disk.size = 8 * kGiB;
        disk.encrypted = true;
        disk.kmsKeyId = "alias/db-data-key";
        EXPECT_FALSE(bridge.CreateVolume(disk, false, ""));
        EXPECT_EQ(bridge.GetLastErrorString(), std::string("KMSKeyNotAccessibleFault: The KMS key ") + kDbKeyArn +
                                                   " is not usable: it is in state " + st);
    }
}

TEST_F(BridgeRestoreTest, OutpostSubnetsAndVolumesStayOnTheirOutpost) {
    ConnectAdmin();
    std::string arn = "x";
    ASSERT_TRUE(admin.GetOutpostAccountARNForSubnet(kOutpostSubnet, "", arn)) << admin.GetLastErrorString();
    EXPECT_EQ(arn, kOutpost);
    ASSERT_TRUE(admin.GetOutpostAccountARNForSubnet("subnet-0fedcba9876590001", "us-east-1", arn));
    EXPECT_EQ(arn, "");
    EXPECT_FALSE(bridge.GetOutpostAccountARNForSubnet(kOutpostSubnet, "", arn));   // the admin's
    EXPECT_EQ(bridge.GetLastErrorString(),
              std::string("InvalidSubnetID.NotFound: The subnet ID '") + kOutpostSubnet + "' does not exist");

    // A volume made on the Outpost attaches to the Outpost's instances only.
    auto onOutpost = [&](const std::string& zone) {
        SDisk disk;
        disk.zone = zone;
        disk.size = 8 * kGiB;
        EXPECT_TRUE(admin.CreateVolume(disk, false, kOutpost)) << admin.GetLastErrorString();
        Advance(Timing().volumeCreateMs);
        return disk.newVolumeId;
    };
    bool conflict = false;
    std::string vol = onOutpost("us-east-1a");
    EXPECT_FALSE(admin.AttachVolume(vol, "i-0fedcba9876540001", "", false, "", conflict, false));   // the proxy
    EXPECT_EQ(admin.GetLastErrorString(), "InvalidParameterValue: The volume '" + vol + "' is on Outpost " + kOutpost +
                                              " and can be attached only to an instance on that Outpost");
    vol = onOutpost("us-east-1b");
    EXPECT_TRUE(admin.AttachVolume(vol, "i-0fedcba9876540002", "", false, "", conflict, false))   // outpost-worker
        << admin.GetLastErrorString();
}

TEST_F(BridgeRestoreTest, EmptyVolumesKeepAwsSizeAndIopsBounds) {
    struct Case {
        const char* type;
        int64_t gib;
        int iops;
        const char* error;   // empty: created
    } cases[] = {
        {"st1", 124, 0, "InvalidParameterValue: Volume of 124GiB is too small; minimum is 125GiB."},
        {"sc1", 125, 0, ""},
        {"standard", 1025, 0, "InvalidParameterValue: Volume of 1025GiB is too large; maximum is 1024GiB."},
        {"io1", 10, 0, "InvalidParameterCombination: The parameter iops must be specified for io1 volumes."},
        {"io1", 10, 600, "InvalidParameterValue: Iops to volume size ratio of 60.000000 is too high; maximum is 50.000000"},
        {"io2", 10, 10000, ""},
        {"gp3", 10, 2000, "InvalidParameterValue: Volume iops of 2000 is too low; minimum is 3000."},
        {"gp3", 100, 16001, "InvalidParameterValue: Volume iops of 16001 is too high; maximum is 16000."},
        {"gp2", 16385, 0, "InvalidParameterValue: Volume of 16385GiB is too large; maximum is 16384GiB."},
    };
    for (const auto& c : cases) {
        SDisk disk;
        disk.zone = "us-east-1a";
        disk.size = c.gib * kGiB;
        disk.volumeType = c.type;
        disk.iops = c.iops;
        EXPECT_EQ(bridge.CreateVolume(disk, false, ""), *c.error == '\0') << c.type << " " << c.gib;
        EXPECT_EQ(bridge.GetLastErrorString(), c.error) << c.type << " " << c.gib;
    }
}
