// A restore's input: the command's options, the backup point it reads and
// the restore context filled from both. Whatever is refused here is refused
// before any restore phase can create something.
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <string>

#include "framework/FileUtils.h"
#include "framework/VMConfigFile.h"
#include "host/BackupChain.h"
#include "host/PointManifest.h"
#include "host/RestorePlan.h"
#include "support/TestEnv.h"

namespace {
constexpr uint64_t kDiskSize = 4 * 1024 * 1024;
const char* const kInstance = "i-0fedcba9876540002";

VMInfoStructs::SDisk Disk(const std::string& volume, const std::string& device, bool os) {
    VMInfoStructs::SDisk d;
    d.volumeId = volume;
    d.name = volume;
    d.deviceName = device;
    d.size = static_cast<int64_t>(kDiskSize);
    d.isOSDisk = os;
    d.volumeType = "gp2";
    d.newVolumeId = "vol-0aaaaaaaaaaaaaaaa";   // the backup's staged volume
    d.snapshotId = "snap-0bbbbbbbbbbbbbbbb";
    d.zone = "us-east-1a";
    return d;
}

// A chain with one full point of two disks (a root and a data disk, the
// second filtered at backup: described, without an image) and its
// configuration file, named configName.
std::string MakeChain(const std::string& base, const std::string& configName = std::string(kInstance) +
                                                                               "_InstanceConfig.xml") {
    const std::string folder = base + "/chain";
    BackupChain chain(folder);
    std::string why, partial;
    EXPECT_TRUE(FwFile::MakeDirs(folder));
    EXPECT_TRUE(chain.Load(why) && chain.BeginPoint(partial, why)) << why;
    const std::string image = partial + "/vol-0fedcba987654b001.img";
    EXPECT_TRUE(FwFile::WriteAllAtomic(image, "boot"));
    EXPECT_EQ(0, ::truncate(image.c_str(), static_cast<off_t>(kDiskSize)));
    PointManifest m;
    m.instance = kInstance;
    m.name = "outpost-worker";
    ManifestDisk d;
    d.volumeId = "vol-0fedcba987654b001";
    d.image = "vol-0fedcba987654b001.img";
    d.size = kDiskSize;
    m.disks.push_back(d);
    EXPECT_TRUE(SaveManifest(partial + "/manifest.json", m, why)) << why;
    VMInfoStructs::SVMInfo vm;
    vm.name = "outpost-worker";
    vm.guid = kInstance;
    vm.zone = "us-east-1b";
    vm.region = "us-east-1";
    vm.instanceType = "m5.large";
    vm.disks = {Disk("vol-0fedcba987654b001", "/dev/xvda", true), Disk("vol-0fedcba987654b002", "/dev/sdf", false)};
    VMConfigFile config;
    config.SetTags({{"Name", "outpost-worker"}, {"Role", "worker"}});
    EXPECT_TRUE(config.Save(partial + "/" + configName, vm));
    EXPECT_TRUE(chain.PublishPoint(partial, 1, "", why)) << why;
    return folder;
}

// The plan of a chain MakeChain made, for its point (0: the last).
struct PlannedChain : ::testing::Test {
    void Plan(int point) {
        std::string why;
        ASSERT_TRUE(chain.Load(why) && PlanRestore(chain, point, plan, why)) << why;
    }
    TestEnv env;
    BackupChain chain{MakeChain(env.BaseDir())};
    RestorePlan plan;
};

std::map<std::string, std::string> Options(std::initializer_list<std::pair<const std::string, std::string>> extra) {
    std::map<std::string, std::string> values{{"chain", "/backups/chain"}};
    for (const auto& e : extra) values[e.first] = e.second;
    return values;
}
}  // namespace

TEST(RestoreRequest, MalformedOptionsAreRefusedWithTheirReason) {
    struct Case {
        std::map<std::string, std::string> values;
        const char* reason;   // empty: accepted
    };
    const Case cases[] = {
        {Options({}), ""},
        {Options({{"point", "2"}, {"name", "web restored #2"}, {"zone", "us-east-1c"}, {"account", "admin"},
                  {"power-on", "yes"}}),
         ""},
        {{{"point", "1"}}, "needs --chain"},
        {Options({{"point", "0"}}), "--point must be"},
        {Options({{"point", "two"}}), "--point must be"},
        {Options({{"point", "-1"}}), "--point must be"},
        {Options({{"account", "root"}}), "--account takes"},
        {Options({{"name", ""}}), "may not be empty"},
        {Options({{"name", "web\"01"}}), "quotes or control"},
        {Options({{"name", "web'01"}}), "quotes or control"},
        {Options({{"name", "web\n01"}}), "quotes or control"},
        {Options({{"name", std::string("web\x7f")}}), "quotes or control"},
        {Options({{"name", std::string(256, 'n')}}), "at most 255"},
        {Options({{"attach-to", "vol-0123"}}), "takes an instance id"},
        {Options({{"attach-to", "i-0abc"}, {"zone", "us-east-1a"}}), "takes no --zone"},
        {Options({{"instance", "i-0abc"}}), "does not take --instance"},
    };
    for (const auto& c : cases) {
        RestoreRequest request;
        std::string why;
        const bool ok = ParseRestoreRequest(c.values, request, why);
        EXPECT_EQ(std::string(c.reason).empty(), ok) << c.reason << " / " << why;
        if (!ok) {
            EXPECT_NE(std::string::npos, why.find(c.reason)) << why;
        }
    }
    RestoreRequest request;
    std::string why;
    ASSERT_TRUE(ParseRestoreRequest(Options({{"point", "2"}, {"overwrite", "yes"}}), request, why));
    EXPECT_EQ(2, request.point);
    EXPECT_EQ("source", request.account);
    EXPECT_TRUE(request.overwrite);
    EXPECT_FALSE(request.powerOn);
}

TEST(RestorePlan, APointIsReadWithItsConfigurationFileWhateverTheLetterCase) {
    TestEnv env;
    BackupChain chain(MakeChain(env.BaseDir(), "I-0FEDCBA9876540002_instanceconfig.XML"));
    std::string why;
    ASSERT_TRUE(chain.Load(why)) << why;
    RestorePlan plan;
    ASSERT_TRUE(PlanRestore(chain, 0, plan, why)) << why;
    EXPECT_EQ(1, plan.point);
    EXPECT_EQ("outpost-worker", plan.vm.name);
    EXPECT_EQ("worker", plan.tags.at("Role"));
    ASSERT_EQ(1u, plan.disks.size());
    EXPECT_EQ("/dev/xvda", plan.disks[0].config.deviceName);
}

TEST(RestorePlan, DamagedOrMissingPartsOfAPointAreRefused) {
    struct Case {
        const char* name;
        std::function<void(const std::string& point)> damage;
        int point;
        const char* reason;
    };
    const Case cases[] = {
        {"no such point", [](const std::string&) {}, 3, "has no point 3"},
        {"truncated image",
         [](const std::string& p) { ASSERT_EQ(0, ::truncate((p + "/vol-0fedcba987654b001.img").c_str(), 4096)); }, 0,
         "holds 4096 bytes where its manifest gives"},
        {"missing image", [](const std::string& p) { FwFile::RemoveFile(p + "/vol-0fedcba987654b001.img"); }, 0,
         "is missing"},
        {"no configuration file",
         [](const std::string& p) { FwFile::RemoveFile(p + "/" + kInstance + "_InstanceConfig.xml"); }, 0,
         "no readable instance configuration file"},
        {"configuration file of another kind",
         [](const std::string& p) { FwFile::WriteAllAtomic(p + "/" + kInstance + "_InstanceConfig.xml", "<xml/>"); },
         0, "no readable instance configuration file"},
    };
    for (const auto& c : cases) {
        TestEnv env;
        const std::string folder = MakeChain(env.BaseDir());
        c.damage(folder + "/point-1");
        BackupChain chain(folder);
        std::string why;
        ASSERT_TRUE(chain.Load(why)) << why;
        RestorePlan plan;
        EXPECT_FALSE(PlanRestore(chain, c.point, plan, why)) << c.name;
        EXPECT_NE(std::string::npos, why.find(c.reason)) << c.name << ": " << why;
    }
}

TEST_F(PlannedChain, AFullRestoreTakesTheBackupsInstanceUnderTheRequestsChoices) {
    ASSERT_NO_FATAL_FAILURE(Plan(1));

    RestoreRequest defaults;
    RestoreCtx ctx;
    FillRestoreContext(plan, defaults, 77, nullptr, ctx);
    EXPECT_EQ(RestoreCtx::FullInstance, ctx.flavour);
    EXPECT_EQ(77, ctx.jobId);
    EXPECT_EQ("outpost-worker", ctx.restoreVMName);
    EXPECT_EQ("us-east-1b", ctx.destZone);
    EXPECT_EQ(kInstance, ctx.sourceGuid);
    EXPECT_EQ(plan.pointFolder + "/", ctx.restorePath);
    EXPECT_TRUE(ctx.vmGuid.empty());
    ASSERT_EQ(2u, ctx.disks.size());
    EXPECT_TRUE(ctx.disks[0].selected);
    EXPECT_FALSE(ctx.disks[1].selected);   // described, but no image in the point
    EXPECT_EQ("vol-0fedcba987654b001", ctx.disks[0].sourceVolumeId);
    EXPECT_TRUE(ctx.disks[0].isOSDisk);
    // The backup's staging is not this job's.
    EXPECT_TRUE(ctx.disks[0].newVolumeId.empty());
    EXPECT_TRUE(ctx.disks[0].snapshotId.empty());
    EXPECT_TRUE(ctx.disks[0].zone.empty());

    RestoreRequest chosen;
    chosen.name = "worker-copy";
    chosen.zone = "us-east-1c";
    chosen.instanceType = "t3.small";
    chosen.powerOn = true;
    FillRestoreContext(plan, chosen, 77, nullptr, ctx);
    EXPECT_EQ("worker-copy", ctx.restoreVMName);
    EXPECT_EQ("outpost-worker", ctx.originalVMName);
    EXPECT_EQ("us-east-1c", ctx.destZone);
    EXPECT_EQ("t3.small", ctx.instanceType);
    EXPECT_TRUE(ctx.powerOn);
}

TEST_F(PlannedChain, AnAttachDiskRestoreGoesToTheTargetAtDevicesItDoesNotUse) {
    ASSERT_NO_FATAL_FAILURE(Plan(0));
    VMInfoStructs::SVMInfo target;
    target.guid = "i-0fedcba9876540001";
    target.name = "backup-proxy";
    target.zone = "us-east-1a";
    target.region = "us-east-1";
    target.disks = {Disk("vol-0fedcba987654a001", "/dev/xvda", true)};
    RestoreRequest request;
    request.attachTo = target.guid;
    RestoreCtx ctx;
    FillRestoreContext(plan, request, 1, &target, ctx);
    EXPECT_EQ(RestoreCtx::AttachDisk, ctx.flavour);
    EXPECT_EQ(target.guid, ctx.vmGuid);
    EXPECT_EQ("us-east-1a", ctx.destZone);
    EXPECT_FALSE(ctx.newVMGuid);
    EXPECT_EQ("/dev/sdf", ctx.disks[0].deviceName);   // its /dev/xvda is the target's root
    EXPECT_FALSE(ctx.disks[0].isOSDisk);
}

TEST(RestoreContext, FreeDeviceNamesTreatXvdAndSdAsOneDevice) {
    struct Case {
        const char* wanted;
        std::vector<std::string> used;
        const char* expected;
    };
    std::vector<std::string> all;
    for (char c = 'f'; c <= 'p'; ++c) all.push_back(std::string("/dev/xvd") + c);
    const Case cases[] = {
        {"/dev/sdg", {"/dev/xvda"}, "/dev/sdg"},
        {"/dev/xvda", {"/dev/xvda"}, "/dev/sdf"},
        {"/dev/sdf", {"/dev/xvdf", "/dev/sdg"}, "/dev/sdh"},
        {"", {}, "/dev/sdf"},
        {"/dev/sdf", all, ""},
    };
    for (const auto& c : cases) EXPECT_EQ(c.expected, FreeDeviceName(c.wanted, c.used)) << c.wanted;
}
