// Restores through the built host program and plug-in: a backup of
// outpost-worker restored as a new instance and checked block for block
// against its point; bad input refused before anything is made; and the
// check itself, which must see a one-byte difference.
#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <set>
#include <string>

#include "cloudsim/Cloud.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";   // outpost-worker, admin account, us-east-1b, proxy's account
const char kWorkerRoot[] = "vol-0fedcba987654b001";

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Every instance, volume, snapshot and AMI, with what a job may change on it.
std::set<std::string> Everything(const std::string& base) {
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    std::set<std::string> all;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, i] : s.instances) all.insert(id + ":" + i.state + ":" + std::to_string(i.volumeIds.size()));
        for (const auto& [id, v] : s.volumes) all.insert(id + ":" + v.state + ":" + v.attachedInstance);
        for (const auto& [id, snap] : s.snapshots) all.insert(id);
        for (const auto& [id, im] : s.images) all.insert(id + ":" + im.state);
    });
    return all;
}

// A base folder whose chain holds one full backup of outpost-worker in mode.
void BackUp(const std::string& base, const std::string& mode, const std::string& chain) {
    int code = -1;
    RunHost("--base " + base, code);
    ASSERT_EQ(0, code);
    std::unique_ptr<EndpointProcess> endpoints;
    if (mode == "EBS-DIRECT-API") endpoints = std::make_unique<EndpointProcess>(base);
    const std::string out = RunBackup(base, kWorker, mode, chain, code);
    ASSERT_EQ(0, code) << out;
}

// The point rebuilt into folder, for a check against a restored instance.
std::string Rebuild(const std::string& base, const std::string& chain, const std::string& folder) {
    int code = -1;
    const std::string out = RunHost("--base " + base + " restore-image --chain " + chain + " --out " + folder, code);
    EXPECT_EQ(0, code) << out;
    return folder + "/manifest.json";
}

std::string VerifyRestore(const std::string& base, const std::string& manifest, const std::string& args, int& code) {
    return RunTool("verify-restore --base " + base + " --manifest " + manifest + " " + args, code);
}

// The instance id the restore printed ("... as instance i-... (name) ...").
std::string RestoredInstance(const std::string& output) {
    const std::string marker = " instance ";
    const size_t at = output.find(marker, output.find("restored point"));
    return at == std::string::npos ? std::string() : output.substr(at + marker.size(), output.find(' ', at + marker.size()) - at - marker.size());
}

class Restore : public ::testing::TestWithParam<const char*> {};

// A base folder whose chain holds a hot-add backup.
class BackedUp : public ::testing::Test {
protected:
    void SetUp() override { BackUp(base, "HOTADD", chain); }

    TestEnv env;
    const std::string base = env.BaseDir(), chain = base + "/chain";
    int code = -1;
};
}  // namespace

TEST_P(Restore, APointRestoredToAnotherZoneIsTheBackupBlockForBlock) {
    TestEnv env;
    const std::string base = env.BaseDir(), chain = base + "/chain";
    BackUp(base, GetParam(), chain);
    if (HasFatalFailure()) return;
    int code = -1;
    const std::string out = RunHost("--base " + base + " restore --job " + kDemoJob + " --account admin --chain " + chain +
                                        " --name worker-restored --zone us-east-1c --type t3.small",
                                    code);
    ASSERT_EQ(0, code) << out;
    const std::string instance = RestoredInstance(out);
    ASSERT_EQ(0u, instance.rfind("i-", 0)) << out;
    const std::string manifest = Rebuild(base, chain, base + "/rebuilt");
    const std::string verify = VerifyRestore(
        base, manifest, "--instance " + instance + " --name worker-restored --zone us-east-1c --type t3.small", code);
    EXPECT_EQ(0, code) << out << verify;
    EXPECT_NE(std::string::npos, verify.find("verify-restore passed")) << verify;
    // Nothing of the job is left registered, and the staging folder is gone.
    EXPECT_EQ("", CleanStoreProblem(base, "restore"));
    EXPECT_FALSE(FwFile::Exists(base + "/Restore/staging-" + std::to_string(::getpid())));
}

// An attach-disk restore to a new instance: launched from a public AMI, it
// takes the point's disks, its OS disk as the root in place of the AMI's.
TEST_F(BackedUp, TheNewInstanceComesFromTheAMIAndHoldsThePoint) {
    const char kTemplate[] = "ami-0c55b159cbfafe1f0";   // Amazon Linux 2, public, us-east-1
    const std::string out = RunHost("--base " + base + " restore --job " + kDemoJob + " --account admin --chain " + chain +
                                        " --template " + kTemplate + " --name worker-templated --zone us-east-1c"
                                        " --type t3.small",
                                    code);
    ASSERT_EQ(0, code) << out;
    const std::string instance = RestoredInstance(out);
    ASSERT_EQ(0u, instance.rfind("i-", 0)) << out;
    // The instance is the template's, not the backed-up one's: its disks
    // are what the point holds.
    std::string root;
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    cloud->Read([&](const cloudsim::State& s) {
        const auto& made = s.instances.at(instance);
        EXPECT_EQ(kTemplate, made.amiId);
        EXPECT_EQ("t3.small", made.instanceType);
        EXPECT_EQ("us-east-1c", made.zone);
        ASSERT_EQ(1u, made.volumeIds.size());
        root = made.volumeIds.front();
    });
    const std::string verify =
        VerifyRestore(base, Rebuild(base, chain, base + "/rebuilt"),
                      "--instance " + instance + " --attach yes --devices " + kWorkerRoot + "=/dev/xvda", code);
    EXPECT_EQ(0, code) << out << verify;
    EXPECT_NE(std::string::npos, verify.find(root + ": 7 blocks with data, image matches the volume")) << verify;
    EXPECT_EQ("", CleanStoreProblem(base, "restore"));
}

INSTANTIATE_TEST_SUITE_P(ReadPaths, Restore, ::testing::Values("HOTADD", "EBS-DIRECT-API"),
                         [](const auto& info) { return std::string(info.param) == "HOTADD" ? "HotAdd" : "Direct"; });

TEST_F(BackedUp, BadInputIsRefusedBeforeAnythingIsMade) {
    // A copy of the chain whose image was cut short.
    RunCommand("cp -a " + chain + " " + base + "/cut && truncate -s 1M " + base + "/cut/point-1/" + kWorkerRoot +
                   ".img",
               code);
    ASSERT_EQ(0, code);
    struct Case {
        std::string args;
        int exitCode;
        const char* reason;
    };
    const Case cases[] = {
        {"--chain " + chain + " --point 4", 1, "has no point 4"},
        {"--chain " + base + "/cut", 1, "holds 1048576 bytes where its manifest gives"},
        {"--chain " + base + "/nothing-here", 1, "has no backups"},
        {"--chain " + chain + " --zone us-east-1z", 1, "no availability zone \"us-east-1z\""},
        {"--chain " + chain + " --zone us-west-2a --region us-east-1", 1, "no availability zone \"us-west-2a\""},
        {"--chain " + chain + " --zone us-west-2a --type r5.large", 1, "offers no instance type \"r5.large\""},
        {"--chain " + chain + " --type x9.huge", 1, "offers no instance type \"x9.huge\""},
        {"--chain " + chain + " --attach-to i-0fedcba98765400ff", 1, "has no instance i-0fedcba98765400ff"},
        {"--chain " + chain + " --name " + Quote("web\"01"), 2, "quotes or control characters"},
        {"--chain " + chain + " --name \"$(printf 'web\\t01')\"", 2, "quotes or control characters"},
        {"--chain " + chain + " --account other", 2, "--account takes source or admin"},
        {"--chain " + chain + " --template ami-00000000000000bad", 1, "(error 236): The AMI [ami-00000000000000bad]"},
        {"--chain " + chain + " --template snap-01", 2, "--template takes an AMI id"},
    };
    const std::set<std::string> before = Everything(base);
    for (const auto& c : cases) {
        const std::string out = RunHost("--base " + base + " restore --job " + kDemoJob + " --account admin " + c.args, code);
        EXPECT_EQ(c.exitCode, code) << c.args << "\n" << out;
        EXPECT_NE(std::string::npos, out.find(c.reason)) << c.args << "\n" << out;
        EXPECT_EQ(before, Everything(base)) << c.args << " changed the cloud\n" << out;
    }
    EXPECT_EQ("", CleanStoreProblem(base, "restore"));
}

TEST_F(BackedUp, EveryDifferenceFromThePointIsReported) {
    const std::string manifest = Rebuild(base, chain, base + "/rebuilt");
    const std::string image = base + "/rebuilt/" + kWorkerRoot + ".img";
    // The backed-up instance itself is what its point describes, once the
    // backup's own reference tag is off it.
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    cloud->Write([](cloudsim::State& s) { s.instances.at(kWorker).tags.erase("_QX_AMI_"); });
    const std::string args = std::string("--instance ") + kWorker;
    std::string out = VerifyRestore(base, manifest, args, code);
    ASSERT_EQ(0, code) << out;

    struct Case {
        const char* name;
        std::function<void()> change, undo;
        std::string extra;
        const char* diff;
    };
    const int64_t dataBlock = cloud->VolumeBlocks(kWorkerRoot).front();
    const std::string original = cloud->ReadVolume(kWorkerRoot, dataBlock * 512 * 1024 + 100, 1);
    auto poke = [&](int64_t offset, const std::string& byte) {
        int rc = -1;
        RunCommand("printf " + Quote(byte) + " | dd of=" + image + " bs=1 seek=" + std::to_string(offset) +
                       " conv=notrunc status=none",
                   rc);
        ASSERT_EQ(0, rc);
    };
    const Case cases[] = {
        {"one byte of a data block", [&] { poke(dataBlock * 512 * 1024 + 100, original == "Z" ? "Y" : "Z"); },
         [&] { poke(dataBlock * 512 * 1024 + 100, original); }, "", "1 blocks differ"},
        {"one byte in a hole", [&] { poke(int64_t{30000} * 512 * 1024, "x"); },
         [&] { RunCommand("fallocate -p -o " + std::to_string(int64_t{30000} * 512 * 1024) + " -l 4096 " + image, code); },
         "", "1 blocks differ (30000)"},
        {"another name", [] {}, [] {}, " --name web-server-01", "Name: expected \"web-server-01\""},
        {"another type", [] {}, [] {}, " --type t3.micro", "instance type: expected \"t3.micro\""},
        {"another zone", [] {}, [] {}, " --zone us-east-1a", "zone: expected \"us-east-1a\""},
        {"a tag lost",
         [&] { cloud->Write([](cloudsim::State& s) { s.instances.at(kWorker).tags.erase("Role"); }); },
         [&] { cloud->Write([](cloudsim::State& s) { s.instances.at(kWorker).tags["Role"] = "outpost-worker"; }); }, "",
         "tag Role: expected \"outpost-worker\", found \"(none)\""},
        {"a volume still marked as the restore's",
         [&] { cloud->Write([](cloudsim::State& s) { s.volumes.at(kWorkerRoot).tags["_QX_BACKUP_"] = "job"; }); },
         [&] { cloud->Write([](cloudsim::State& s) { s.volumes.at(kWorkerRoot).tags.erase("_QX_BACKUP_"); }); }, "",
         "keeps the restore's _QX_BACKUP_ tag"},
        {"a disk at another device", [] {}, [] {}, std::string(" --devices ") + kWorkerRoot + "=/dev/sdz",
         "no volume of the instance at device \"/dev/sdz\""},
    };
    for (const auto& c : cases) {
        c.change();
        out = VerifyRestore(base, manifest, args + c.extra, code);
        EXPECT_EQ(1, code) << c.name << "\n" << out;
        EXPECT_NE(std::string::npos, out.find(c.diff)) << c.name << "\n" << out;
        EXPECT_NE(std::string::npos, out.find("verify-restore FAILED")) << c.name << "\n" << out;
        c.undo();
        out = VerifyRestore(base, manifest, args, code);
        ASSERT_EQ(0, code) << "after " << c.name << "\n" << out;
    }
}
