// Transport mode selection and backup feasibility on the simulated cloud.
#include "MountFixture.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "framework/BiosInfo.h"
#include "framework/FileUtils.h"
#include "framework/VMCleaner.h"

using namespace mount;

namespace {
struct MountModeTest : MountFixture {
    // Runs the selection for instance on a new object; the mode, or "" when
    // it fails (error in *error).
    std::string Select(const std::string& instance, const std::string& mode = "", int* error = nullptr,
                       Accounts accounts = Accounts::Source) {
        auto object = Connected(accounts);
        MountCtx ctx = Job(instance, mode);
        WithVM(*object, ctx);
        const bool ok = object->SelectMountMode(ctx);
        if (error) *error = object->GetLastVMError();
        return ok ? ctx.transportMode : "";
    }
};
}  // namespace

TEST_F(MountModeTest, DirectReadWinsUnlessTheSettingOrItsPermissionsSayOtherwise) {
    int error = -1;
    EXPECT_EQ("EBS-DIRECT-API", Select(kWeb, "", &error));
    EXPECT_EQ(0, error);
    EXPECT_EQ((std::vector<std::string>{"ebs:ListSnapshotBlocks", "ebs:GetSnapshotBlock"}), PermissionBridge::asked);

    TestEnv::SetSetting("VirtualServer", "bAmazonDirectReadEnabled", "false");
    EXPECT_EQ("HOTADD", Select(kWeb));

    TestEnv::SetSetting("VirtualServer", "bAmazonDirectReadEnabled", "true");
    PermissionBridge::allowed = false;
    EXPECT_EQ("", Select(kWeb, "", &error));
    EXPECT_EQ(287, error);
    TestEnv::SetSetting("VirtualServer", "bAmazonSkipDirectReadPermissionsCheck", "true");
    EXPECT_EQ("EBS-DIRECT-API", Select(kWeb));
}

TEST_F(MountModeTest, ANamedModeIsKeptAndAnyOtherTextIsReplaced) {
    // Named modes are not checked: hot-add stays even across regions.
    EXPECT_EQ("HOTADD", Select(kAnalytics, "HOTADD"));
    EXPECT_EQ("EBS-DIRECT-API", Select(kAnalytics, "EBS-DIRECT-API"));
    PermissionBridge::allowed = false;
    EXPECT_EQ("HOTADD", Select(kWeb, "hotadd"));
    int error = -1;
    EXPECT_EQ("", Select(kWeb, "NBD", &error, Accounts::SourceAndAdmin));
    EXPECT_EQ(287, error);
}

TEST_F(MountModeTest, HotaddIsChosenAndAcceptedAcrossAccounts) {
    SetProxy("i-0fedcba9876540001");
    EXPECT_EQ("HOTADD", Select(kWeb, "HOTADD", nullptr, Accounts::SourceAndAdmin));
    TestEnv::SetSetting("VirtualServer", "bAmazonDirectReadEnabled", "false");
    EXPECT_EQ("HOTADD", Select(kWeb, "", nullptr, Accounts::SourceAndAdmin));
    TestEnv::SetSetting("VirtualServer", "bAmazonDirectReadEnabled", "true");
    EXPECT_EQ("EBS-DIRECT-API", Select(kWeb, "", nullptr, Accounts::SourceAndAdmin));
}

TEST_F(MountModeTest, HotaddFailsForAnotherRegionOrWithoutAnInstanceProxy) {
    TestEnv::SetSetting("VirtualServer", "bAmazonDirectReadEnabled", "false");
    auto object = Connected();
    MountCtx ctx = Job(kAnalytics);
    EXPECT_FALSE(object->SelectMountMode(WithVM(*object, ctx)));
    EXPECT_EQ(176, object->GetLastVMError());
    EXPECT_EQ("Proxy region [us-east-1] and instance region [us-west-2] is different.",
              object->GetLastVMErrorDetails());

    SetProxy("");   // the metadata service does not answer
    int error = -1;
    EXPECT_EQ("", Select(kWeb, "", &error));
    EXPECT_EQ(262, error);
    FwBios::SetOverride(FwBiosValues{"QEMU", "Standard PC", "uuid-onprem", "1.16"});
    EXPECT_EQ("", Select(kWeb, "", &error));
    EXPECT_EQ(179, error);
}

TEST_F(MountModeTest, TheProxyRecordFollowsARemoteProxy) {
    auto object = Connected();
    MountCtx ctx = Job(kWeb);
    ASSERT_TRUE(object->_InitProxyInfoForBackup(ctx));
    EXPECT_EQ("us-east-1b", object->ProxyVMInfo().zone);
    ctx.remoteProxy = true;
    ctx.remoteProxyGuid = kWin;
    ASSERT_TRUE(object->_InitProxyInfoForBackup(ctx));
    EXPECT_EQ("us-east-1c", object->ProxyVMInfo().zone);
    ctx.remoteProxyGuid = "i-00000000000000bad";
    EXPECT_FALSE(object->_InitProxyInfoForBackup(ctx));
    EXPECT_EQ(237, object->GetLastVMError());
}

TEST_F(MountModeTest, PreMountRefusesTemplatesAndTheProxyAndPreparesTheRest) {
    auto object = Connected();
    MountCtx tmpl = Job(kTemplate);
    EXPECT_EQ(0, object->PreMount(tmpl));
    EXPECT_EQ(67, object->GetLastVMError());
    MountCtx self = Job(kDb);
    EXPECT_EQ(0, object->PreMount(self));
    EXPECT_EQ(151, object->GetLastVMError());
    EXPECT_FALSE(object->IsCleanerRegistered());

    MountCtx ctx = Job(kDb);
    ctx.failbackVMGuid = kWeb;
    ASSERT_EQ(1, object->PreMount(ctx));
    EXPECT_EQ(kWeb, ctx.effectiveVMGuid);
    EXPECT_EQ("web-server-01", ctx.vm.name);
    EXPECT_EQ("EBS-DIRECT-API", ctx.transportMode);
    EXPECT_TRUE(object->IsCleanerRegistered());
    ASSERT_TRUE(object->DirectSnapshotAccess());
    EXPECT_TRUE(object->DirectSnapshotAccess()->IsInitialized());
}

TEST_F(MountModeTest, ADirectReadMountOnAProxyWithoutItsInstanceIdOpensNoCleanupStore) {
    SetProxy("");   // the metadata service does not answer
    auto object = Connected();
    MountCtx ctx = Job(kWeb);
    EXPECT_EQ(0, object->PreMount(ctx));
    EXPECT_EQ("EBS-DIRECT-API", ctx.transportMode);
    EXPECT_EQ(262, object->GetLastVMError());
    EXPECT_FALSE(object->IsCleanerRegistered());
    EXPECT_FALSE(FwFile::Exists(VMCleaner::DatabasePath()));
}

TEST_F(MountModeTest, FeasibilityOfRecordsTheAccountCannotProduce) {
    auto object = Connected();
    MountCtx ctx = Job(kDb);
    WithVM(*object, ctx);
    ctx.liveBrowse = true;   // a live browse may read the proxy's own disks
    EXPECT_TRUE(object->IsBackupFeasible(ctx.vm, ctx));
    ctx.liveBrowse = false;
    ctx.vm.guid = kWeb;
    ctx.backupToTape = true;
    ctx.vm.snapErrorCode = 272;
    EXPECT_FALSE(object->IsBackupFeasible(ctx.vm, ctx));
    EXPECT_EQ(272, object->GetLastVMError());
    ctx.vm.disks.clear();
    EXPECT_FALSE(object->IsBackupFeasible(ctx.vm, ctx));
    EXPECT_EQ(172, object->GetLastVMError());
}
