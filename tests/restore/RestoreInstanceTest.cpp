// The restored instance's description: the backup's configuration file,
// the user's choices over it, the launch and the disks added to it.
#include <algorithm>

#include "restore/ProxyRestoreFixture.h"

using namespace proxyrestore;

namespace {

struct RestoreInstanceTest : ProxyRestoreFixture {
    // A restore of the web server's root disk next to db-server-01.
    void StartSameZone() {
        Start(Accounts::Source, kDbProxy, "us-east-1b");
        ctx.disks = {Disk(kWebRoot, "/dev/xvda", true)};
    }
};

}  // namespace

TEST_F(RestoreInstanceTest, TheConfigurationFileIsFoundWhateverItsLetterCase) {
    StartSameZone();
    struct Case {
        const char* file;
        bool found;
    };
    const Case cases[] = {
        {"I-0A1B2C3D4E5F60001_instanceconfig.XML", true},
        {"i-0a1b2c3d4e5f60002_InstanceConfig.xml", false},   // another instance's
        {"i-0a1b2c3d4e5f60001_InstanceConfig.xml.bak", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        FwFile::RemoveTree(ctx.restorePath);
        ASSERT_TRUE(FwFile::MakeDirs(ctx.restorePath));
        WriteConfigFile(c.file, {});
        EXPECT_EQ(c.found, object.FindVMConfigFile(ctx));
        EXPECT_EQ(c.found ? FwFile::JoinPath(ctx.restorePath, c.file) : "", ctx.configFilePath);
    }
    ctx.restorePath = env.BaseDir() + "/nowhere";
    EXPECT_FALSE(object.FindVMConfigFile(ctx));
    EXPECT_EQ(1, log.Containing("Error Accessing Restore Path[" + ctx.restorePath + "]"));
}

TEST_F(RestoreInstanceTest, TagsNamingTheBackedUpInstanceAreNotCarriedOver) {
    StartSameZone();
    WriteConfigFile(std::string(kWeb) + "_InstanceConfig.xml",
                    {{"Name", "web-server-01"}, {"_QX_BACKUP_", ""}, {"_QX_AMI_", "ami-0123"},
                     {"KD_Retain_Snap", "ami-0456"}, {"Environment", "Production#Staging"}, {"Owner", "web"}});
    std::map<std::string, std::string> tags;
    ASSERT_TRUE(object.PrepareRestoreCtxVMInfoFromConfigFile(ctx, tags));
    const std::map<std::string, std::string> kept{{"Environment", "Production#Staging"}, {"Owner", "web"}};
    EXPECT_EQ(kept, tags);
    EXPECT_EQ("t3.medium", ctx.vm.instanceType);
    EXPECT_EQ(kLinuxAMI, ctx.vm.amiId);
}

TEST_F(RestoreInstanceTest, ListedSourceAMIsAreNotUsedEvenWithBlanksAround) {
    StartSameZone();
    WriteConfigFile(std::string(kWeb) + "_InstanceConfig.xml", {});
    struct Case {
        const char* setting;
        const char* ami;
    };
    const Case cases[] = {
        {"ami-0123,  ami-0c55b159cbfafe1f0\t", ""},
        {"ami-0c55b159cbfafe1f", kLinuxAMI},       // a prefix is another AMI
        {"", kLinuxAMI},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.setting);
        TestEnv::SetSetting("VirtualServer", "sAmazonDoNotUseSourceAMIList", c.setting);
        std::map<std::string, std::string> tags;
        ASSERT_TRUE(object.PrepareRestoreCtxVMInfoFromConfigFile(ctx, tags));
        EXPECT_EQ(c.ami, ctx.vm.amiId);
    }
    EXPECT_EQ(1, log.Count("Ignoring source AMI: [ami-0c55b159cbfafe1f0] as per additional setting."));
}

TEST_F(RestoreInstanceTest, TheUsersInstanceTypeOverridesTheBackedUpOne) {
    StartSameZone();
    WriteConfigFile(std::string(kWeb) + "_InstanceConfig.xml", {}, "t3.medium");
    for (auto [chosen, expected] : {std::pair{"m5.large", "m5.large"}, {"", "t3.medium"}}) {
        SCOPED_TRACE(chosen);
        ctx.instanceType = chosen;
        bool osDisk = false;
        std::map<std::string, std::string> tags;
        ASSERT_TRUE(object.PrepareRestoreCtxVMInfo(ctx, osDisk, tags));
        EXPECT_TRUE(osDisk);
        EXPECT_EQ(expected, ctx.vm.instanceType);
        EXPECT_EQ("us-east-1b", ctx.vm.zone);
        EXPECT_EQ("restored-web", ctx.vm.name);
        EXPECT_TRUE(ctx.vm.guid.empty()) << "a new instance gets a new id";
        ASSERT_EQ(1u, ctx.vm.disks.size());
    }
}

TEST_F(RestoreInstanceTest, TheOSDiskTakesTheAMIsRootDeviceOnlyWhenItNamesOne) {
    StartSameZone();
    ctx.disks[0].deviceName = "/dev/sda1";
    struct Case {
        const char* ami;
        const char* rootDevice;   // what the AMI records; null: leave the seed's
        const char* device;
    };
    const Case cases[] = {
        {"ami-0000000000000beef", nullptr, "/dev/sda1"},   // not found: the disk's own name stays
        {kLinuxAMI, nullptr, "/dev/xvda"},
        {kLinuxAMI, "", "/dev/xvda"},                      // an AMI naming none changes nothing
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.ami) + (c.rootDevice ? " without root device" : ""));
        if (c.rootDevice)
            cloud->Write([&](cloudsim::State& s) { s.images.at(kLinuxAMI).rootDeviceName = c.rootDevice; });
        ctx.vm.amiId = c.ami;
        object.UpdateDeviceNameForOSDisk(ctx);
        EXPECT_EQ(c.device, ctx.disks[0].deviceName);
    }
}

// An instance this run launched is the job's until the post phase; one it
// restored into was the user's before and stays so whatever happens.
struct RestoreLaunchTest : ProxyRestoreFixture, ::testing::WithParamInterface<bool> {};

TEST_P(RestoreLaunchTest, OnlyALaunchedInstanceIsRegisteredAsCreated) {
    const bool newInstance = GetParam();
    Start(Accounts::Source, kDbProxy, "us-east-1a");
    ctx.disks = {Disk(kWebRoot, "/dev/xvda", true)};
    WriteConfigFile(std::string(kWeb) + "_InstanceConfig.xml", {});
    ctx.newVMGuid = newInstance;
    ctx.inPlace = !newInstance;
    bool osDisk = false;
    std::map<std::string, std::string> tags;
    ASSERT_TRUE(object.PrepareRestoreCtxVMInfo(ctx, osDisk, tags));
    ASSERT_TRUE(object.RestoreVirtualMachine(ctx, osDisk, tags)) << object.GetLastVMErrorDetails();
    EXPECT_EQ(newInstance, ctx.vmGuid != kWeb);
    EXPECT_EQ(newInstance, ctx.vmCreated);
    EXPECT_EQ(newInstance ? std::vector<std::string>{ctx.vmGuid} : std::vector<std::string>{},
              RegisteredInstances());
    EXPECT_FALSE(Instance(kWeb).id.empty());
}

INSTANTIATE_TEST_SUITE_P(Instances, RestoreLaunchTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "New" : "Existing"; });

// Data disks the user left out come back empty, once the instance exists;
// a disk that was restored is recognised by the volume it came from.
TEST_F(RestoreInstanceTest, LeftOutDataDisksAreAddedEmptyToTheRestoredInstance) {
    TestEnv::SetSetting("VirtualServer", "bCreateEmptyDataDisksForRestore", "true");
    StartSameZone();
    WriteConfigFile(std::string(kWeb) + "_InstanceConfig.xml", {});
    const size_t before = Peek([](const cloudsim::State& s) { return s.volumes.size(); });
    EXPECT_FALSE(object.HandleFilteredDataDisks(ctx)) << "nothing is added before the instance is restored";
    EXPECT_EQ(before, Peek([](const cloudsim::State& s) { return s.volumes.size(); }));

    ASSERT_NO_FATAL_FAILURE(CreateEmptyVolumes());
    ASSERT_TRUE(object.RestoreVM_AmazonVMAsProxy(ctx)) << object.GetLastVMErrorDetails();
    ASSERT_TRUE(object.HandleFilteredDataDisks(ctx));
    const cloudsim::Instance made = Instance(ctx.vmGuid);
    ASSERT_EQ(2u, made.volumeIds.size()) << "the root, and the data disk that was left out";
    const cloudsim::Volume added = Volume(made.volumeIds[1]);
    EXPECT_EQ("/dev/sdf", added.attachedDevice);
    EXPECT_EQ("gp2", added.type);
    EXPECT_TRUE(cloud->VolumeBlocks(added.id).empty());
    const auto registered = RegisteredVolumes();
    EXPECT_EQ(registered.end(), std::find(registered.begin(), registered.end(), added.id));
}

TEST_F(RestoreInstanceTest, RestoredDataDisksAreNotAddedAgainAsEmptyOnes) {
    TestEnv::SetSetting("VirtualServer", "bCreateEmptyDataDisksForRestore", "true");
    StartSameZone();
    ctx.disks.push_back(Disk(kWebData, "/dev/sdf", false));
    WriteConfigFile(std::string(kWeb) + "_InstanceConfig.xml", {});
    ASSERT_NO_FATAL_FAILURE(CreateEmptyVolumes());
    ASSERT_TRUE(object.RestoreVM_AmazonVMAsProxy(ctx)) << object.GetLastVMErrorDetails();
    ASSERT_TRUE(object.HandleFilteredDataDisks(ctx));
    EXPECT_EQ(2u, Instance(ctx.vmGuid).volumeIds.size());
    EXPECT_EQ(0, log.Containing("as an empty volume"));
}
