// Which restores the proxy can serve, and the checks that refuse the others
// before anything is created.
#include <functional>

#include "framework/VMInfo.h"
#include "restore/RestoreFixture.h"
#include "support/LogTap.h"

using namespace restore;

namespace {
std::string RecordedAs(AmazonReplicationMethod method) {
    CAmazonInfo object(kAmazonInstanceType);
    RestoreCtx ctx;
    object.UpdateSelectedReplicationMethod(ctx, method);
    return ctx.replicationProperties;
}
}  // namespace

TEST_F(RestoreFixture, MethodSelectionRefusesWhatTheProxyCannotServe) {
    using Change = std::function<void(RestoreCtx&)>;
    const std::string import = RecordedAs(AmazonReplicationMethodImport);
    const struct Row {
        const char* what;
        Change job;
        const char* crossZone;
        bool proxy;
        bool ok;
        int code;
    } rows[] = {
        {"the proxy's zone", [](RestoreCtx&) {}, "true", true, true, 0},
        {"another zone of the region", [](RestoreCtx& c) { c = Job("us-east-1b"); }, "true", true, true, 0},
        {"another zone, cross-zone off", [](RestoreCtx& c) { c = Job("us-east-1b"); }, "false", true, false, 178},
        {"the proxy's zone, cross-zone off", [](RestoreCtx&) {}, "false", true, true, 0},
        {"another region", [](RestoreCtx& c) { c = Job("us-west-2a"); }, "true", true, false, 176},
        {"a disk of 16 TiB", [](RestoreCtx& c) { c.disks = {Disk("big", 16384 * kGiB)}; }, "true", true, true, 0},
        {"a disk of 16 TiB and a byte", [](RestoreCtx& c) { c.disks = {Disk("big", 16384 * kGiB + 1)}; }, "true",
         true, false, 249},
        {"an unselected disk of 17 TiB",
         [](RestoreCtx& c) {
             c.disks = {Disk("big", 17408 * kGiB)};
             c.disks[0].selected = false;
         },
         "true", true, true, 0},
        {"a Linux conversion booting from EFI",
         [](RestoreCtx& c) {
             c.conversion = true;
             c.guestOSName = "CentOS Linux";
             c.sourceFirmware = "EFI";
         },
         "true", true, false, 264},
        {"a Windows conversion booting from EFI",
         [](RestoreCtx& c) {
             c.conversion = true;
             c.guestOSName = "Microsoft Windows Server";
             c.sourceFirmware = "efi";
         },
         "true", true, false, 0},
        {"a replica recorded as imported",
         [&](RestoreCtx& c) {
             c.flavour = RestoreCtx::Replication;
             c.replicationProperties = import;
         },
         "true", true, false, 0},
        {"a replica with nothing recorded", [](RestoreCtx& c) { c.flavour = RestoreCtx::Replication; }, "true", true,
         true, 0},
        {"a restore from snapshots, no proxy instance", [](RestoreCtx& c) { c.restoreFromSnap = true; }, "true", false,
         true, 0},
        {"an unknown flavour", [](RestoreCtx& c) { c.flavour = 3; }, "true", true, false, 0},
    };
    for (const auto& row : rows) {
        TestEnv::SetSetting("VirtualServer", "bAllowCrossZoneRestore", row.crossZone);
        SetProxy(row.proxy ? kWeb : "");
        auto object = Connected();
        ASSERT_TRUE(object);
        RestoreCtx ctx = Job();
        row.job(ctx);
        EXPECT_EQ(row.ok, object->CheckRestoreFeasibility(ctx)) << row.what;
        EXPECT_EQ(row.code, object->GetLastVMError()) << row.what;
        // The size check follows the method's choice.
        const bool selected = row.ok || row.code == 249;
        EXPECT_EQ(selected, object->IsHotAddMethodSelected()) << row.what;
        EXPECT_EQ(selected ? "HOTADD" : "", ctx.method) << row.what;
    }
}

TEST_F(RestoreFixture, TheZoneAndRegionRefusalsNameBothSides) {
    LogTap log;
    TestEnv::SetSetting("VirtualServer", "bAllowCrossZoneRestore", "false");
    auto object = Connected();
    RestoreCtx ctx = Job("us-east-1b");
    EXPECT_FALSE(object->CheckRestoreFeasibility(ctx));
    const std::string zones =
        "Proxy zone [us-east-1a] and restore VM destination zone [us-east-1b] is different. Hotadd restores across "
        "zones is not allwed.";
    EXPECT_TRUE(log.Has(zones));
    EXPECT_EQ(zones, object->GetLastVMErrorDetails());
    EXPECT_TRUE(log.Has("Selected Method [None] for restore."));
}

TEST_F(RestoreFixture, ReplicationPropertiesNameTheMethod) {
    auto object = Connected();
    const struct {
        const char* what;
        std::string text;
        AmazonReplicationMethod expected;
    } rows[] = {
        {"nothing recorded", "", AmazonReplicationMethodNone},
        {"not a message", "<xml>AmazonReplicationMethodHotAdd</xml>", AmazonReplicationMethodUnparsed},
        {"hot-add", RecordedAs(AmazonReplicationMethodHotAdd), AmazonReplicationMethodHotAdd},
        {"import", RecordedAs(AmazonReplicationMethodImport), AmazonReplicationMethodImport},
    };
    for (const auto& row : rows) {
        RestoreCtx ctx;
        ctx.replicationProperties = row.text;
        EXPECT_EQ(row.expected, object->ForceAnyReplicationMethod(ctx)) << row.what;
    }
    // A replica that had nothing recorded has hot-add recorded once chosen.
    RestoreCtx ctx = Job();
    ctx.flavour = RestoreCtx::Replication;
    ASSERT_TRUE(object->SelectRestoreMethod(ctx));
    EXPECT_EQ(AmazonReplicationMethodHotAdd, object->ForceAnyReplicationMethod(ctx));
}

// The instance-type check runs first; the destination in another region then
// stops every job it lets through.
TEST_F(RestoreFixture, ConversionsToNVMeTypesAreRefusedWhenNitroRestoresAreOff) {
    TestEnv::SetSetting("VirtualServer", "bAllowRestoreAsNitroInstance", "false");
    const struct {
        bool conversion;
        const char* type;
        int code;
    } rows[] = {
        {true, "c5.large", 267},  {true, "m5d.xlarge", 267}, {true, "AUTO", 176}, {true, "auto", 176},
        {true, "", 176},          {true, "t2.micro", 176},   {false, "c5.large", 176},
    };
    for (const auto& row : rows) {
        auto object = Connected();
        ASSERT_TRUE(object);
        RestoreCtx ctx = Job("us-west-2a");
        ctx.conversion = row.conversion;
        ctx.instanceType = row.type;
        EXPECT_EQ(0, object->InitRestoreVM(ctx)) << row.type;
        EXPECT_EQ(row.code, object->GetLastVMError()) << row.type << (row.conversion ? " conversion" : "");
    }
}

TEST_F(RestoreFixture, TheRegionIsDerivedFromTheZoneAndWrittenBackFirst) {
    auto object = Connected();
    RestoreCtx ctx = Job("us-west-2a");
    ctx.destRegion.clear();
    EXPECT_EQ(0, object->InitRestoreVM(ctx));
    EXPECT_EQ("us-west-2", ctx.destRegion);
    // The region check already read the derived region.
    EXPECT_NE(std::string::npos, object->GetLastVMErrorDetails().find("destination region [us-west-2]"));
}

TEST_F(RestoreFixture, ACancelledJobStopsAtOnce) {
    auto object = Connected();
    RestoreCtx ctx = Job();
    object->SetJobCancelled(true);
    EXPECT_EQ(0, object->InitRestoreVM(ctx));
    EXPECT_EQ(kErrJobCancelled, object->GetLastVMError());
    EXPECT_EQ(0, object->PreRestoreVM(ctx));
    EXPECT_FALSE(object->IsCleanerRegistered());
}

TEST_F(RestoreFixture, CrossAccountRestoresAreFullOrAttachDiskOnly) {
    const struct {
        int flavour;
        bool ok;
    } rows[] = {{RestoreCtx::FullInstance, true}, {RestoreCtx::AttachDisk, true}, {3, false},
                {RestoreCtx::Replication, false}, {7, false}};
    for (const auto& row : rows) {
        auto object = DemoCloudFixture::Connected(Accounts::SourceAndAdmin);
        ASSERT_TRUE(object);
        RestoreCtx ctx = Job();
        ctx.flavour = row.flavour;
        EXPECT_EQ(row.ok, object->CheckCrossAccountRestore(ctx)) << row.flavour;
        EXPECT_EQ(row.ok, object->IsCrossAccountRestore()) << row.flavour;
        // A refused job says so: the framework shows the code and text.
        if (!row.ok) {
            EXPECT_EQ(kErrNotSupported, object->GetLastVMError()) << row.flavour;
            EXPECT_NE("", object->GetLastVMErrorDetails()) << row.flavour;
        }
    }
}

// Until the instance exists the job is known by its registration key, which
// must never be the source instance's id.
TEST_F(RestoreFixture, TheDestinationIsKnownByTheJobsKeyUntilItExists) {
    auto object = Connected();
    RestoreCtx ctx = Job();
    ctx.sourceGuid = kWeb;
    ctx.disks = {Disk("root", 8 * kGiB)};
    ctx.disks[0].name = "disk-0";
    ctx.disks[0].newName = "restored-root";
    ctx.disks[0].sourceVolumeId = "vol-0a1b2c3d4e5f6a001";
    ASSERT_EQ(1, object->RegisterCleanerForRestore(ctx));
    object->PrepareDiskInfoFromRestoreCtx(ctx);
    object->UpdateDiskNames(ctx);
    EXPECT_EQ(ctx.registrationGuid, ctx.vmGuid);
    EXPECT_NE(kWeb, ctx.vmGuid);
    EXPECT_EQ(ctx.vmGuid, ctx.vm.guid);
    EXPECT_EQ("restored-web", ctx.vm.name);
    EXPECT_EQ("restored-root", ctx.disks[0].displayName);
    EXPECT_EQ("vol-0a1b2c3d4e5f6a001.vhdx", ctx.disks[0].name);
}
