// A backup copy of a snap backup through the built host program and plug-in,
// in both transport modes and across accounts: its images are the volumes as
// the snapshots took them (not as they are since), it restores like any
// backup, and nothing the copy made, shared or granted is left behind.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>

#include "cloudsim/Cloud.h"
#include "cloudsim/CloudState.h"
#include "cloudsim/Kms.h"
#include "integration/HostRun.h"
#include "support/CloudHoldings.h"
#include "support/TestEnv.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";   // outpost-worker, admin account, us-east-1b
const char kWorkerRoot[] = "vol-0fedcba987654b001";

const char kWeb[] = "i-0a1b2c3d4e5f60001";       // web-server-01, source account, us-east-1a
const char kWebRoot[] = "vol-0a1b2c3d4e5f6a001";

// The copy in chain rebuilt into images beside it, which hold the snap job's
// snapshots and not the volumes as written since; the images' manifest.
std::string ExpectTheSnapshotsData(const std::string& base, const std::string& chain, int64_t snapJob) {
    int code = -1;
    const std::string rebuilt = chain + ".rebuilt";
    std::string out = RunHost("--base " + base + " restore-image --chain " + chain + " --out " + rebuilt, code);
    EXPECT_EQ(0, code) << out;
    const std::string manifest = rebuilt + "/manifest.json";
    out = RunTool("verify --base " + base + " --manifest " + manifest + " --snap-job " + std::to_string(snapJob), code);
    EXPECT_EQ(0, code) << out;
    out = RunTool("verify --base " + base + " --manifest " + manifest, code);
    EXPECT_NE(0, code) << "the block written since differs from the volume now: " << out;
    return manifest;
}

// The copy restored as a new instance named name in zone (restoreArgs picks
// the job and account), checked block for block; the instance's id.
std::string ExpectItRestores(const std::string& base, const std::string& chain, const std::string& manifest,
                             const std::string& restoreArgs, const std::string& name, const std::string& zone) {
    int code = -1;
    const std::string placed = " --name " + name + " --zone " + zone + " --type t3.small";
    std::string out = RunHost("--base " + base + " restore " + restoreArgs + " --chain " + chain + placed, code);
    EXPECT_EQ(0, code) << out;
    const size_t at = out.find(" instance ", out.find("restored point"));
    if (at == std::string::npos) {
        ADD_FAILURE() << "no instance restored: " << out;
        return "";
    }
    const std::string instance = out.substr(at + 10, out.find(' ', at + 10) - at - 10);
    out = RunTool("verify-restore --base " + base + " --manifest " + manifest + " --instance " + instance + placed,
                  code);
    EXPECT_EQ(0, code) << out;
    EXPECT_NE(std::string::npos, out.find("verify-restore passed")) << out;
    return instance;
}

using Holdings = CloudHoldings;

class BackupCopy : public ::testing::TestWithParam<const char*> {};
}  // namespace

TEST_P(BackupCopy, TheCopyHoldsTheSnapshotsDataAndRestores) {
    TestEnv env;
    const std::string base = env.BaseDir(), chain = base + "/copy";
    const std::string mode = GetParam();
    int code = -1;
    std::string out = RunHost("--base " + base + " snap-backup --job " + kDemoBackupJob + " --instance " + kWorker +
                                  " --job-id 4101",
                              code);
    ASSERT_EQ(0, code) << out;
    // Written after the snapshots: the copy must not hold it.
    out = RunTool("guest-write --base " + base + " --volume " + kWorkerRoot + " --block 9 --text after-the-snap", code);
    ASSERT_EQ(0, code) << out;
    // Read over the direct APIs, the snapshots' blocks come from the
    // endpoints, and no volume is made from them.
    std::unique_ptr<EndpointProcess> endpoints;
    if (mode == "EBS-DIRECT-API") {
        endpoints = std::make_unique<EndpointProcess>(base);
        ASSERT_TRUE(endpoints->Ready());
    }
    out = RunHost("--base " + base + " backup --job " + kDemoBackupJob + " --copy-of 4101 --mode " + mode +
                      " --out " + chain,
                  code);
    ASSERT_EQ(0, code) << out;
    EXPECT_NE(std::string::npos, out.find("done: full copy of snap job 4101")) << out;
    if (endpoints) {
        const std::string served = endpoints->Stop();
        EXPECT_NE(std::string::npos, served.find("served ")) << served;
        EXPECT_EQ(std::string::npos, served.find("served 0 ")) << served;
    }
    EXPECT_EQ(mode, nlohmann::json::parse(TestEnv::ReadFile(chain + "/point-1/manifest.json"))["mode"]);
    const std::string manifest = ExpectTheSnapshotsData(base, chain, 4101);
    EXPECT_EQ("", CleanStoreProblem(base, "backup"));
    ExpectItRestores(base, chain, manifest, "--job " + kDemoJob + " --account admin", "worker-copy-restored",
                     "us-east-1c");
}

// A source-account instance whose root volume is on the account's default
// key (which cannot be shared), copied through the admin account's proxy.
TEST(CrossAccountBackupCopy, TheCopyHoldsTheSnapshotsDataRestoresAndLeavesNothingShared) {
    TestEnv env;
    const std::string base = env.BaseDir(), chain = base + "/copy";
    int code = -1;
    RunHost("--base " + base, code);   // creates the folder cloud
    ASSERT_EQ(0, code);
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    cloud->Write([](cloudsim::State& s) {
        auto& root = s.volumes.at(kWebRoot);
        root.encrypted = true;
        root.kmsKeyId = cloudsim::DefaultKmsKey(s, root.account, root.region);
    });
    std::string out = RunHost("--base " + base + " snap-backup --job " + kDemoJob + " --instance " + kWeb +
                                  " --job-id 4201",
                              code);
    ASSERT_EQ(0, code) << out;
    out = RunTool("guest-write --base " + base + " --volume " + kWebRoot + " --block 9 --text after-the-snap", code);
    ASSERT_EQ(0, code) << out;
    const Holdings snapBackup = Holdings::Of(*cloud);

    out = RunHost("--base " + base + " backup --job " + kDemoJob + " --copy-of 4201 --mode HOTADD --out " + chain,
                  code);
    ASSERT_EQ(0, code) << out;
    EXPECT_NE(std::string::npos, out.find("done: full copy of snap job 4201")) << out;
    EXPECT_EQ("", snapBackup.LeftOrLost(Holdings::Of(*cloud))) << out;
    const std::string manifest = ExpectTheSnapshotsData(base, chain, 4201);
    EXPECT_EQ("", CleanStoreProblem(base, "backup", kDemoJob));

    const std::string instance = ExpectItRestores(base, chain, manifest, "--job " + kDemoJob, "web-copy-restored",
                                                  "us-east-1c");
    std::set<std::string> restored;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, v] : s.volumes)
            if (!instance.empty() && v.attachedInstance == instance) restored.insert(id);
    });
    EXPECT_FALSE(restored.empty());
    EXPECT_EQ("", snapBackup.LeftOrLost(Holdings::Of(*cloud), restored)) << "beyond the restored instance's volumes";
    EXPECT_EQ("", CleanStoreProblem(base, "restore", kDemoJob));
}

INSTANTIATE_TEST_SUITE_P(TransportModes, BackupCopy, ::testing::Values("HOTADD", "EBS-DIRECT-API"),
                         [](const auto& info) { return std::string(info.param) == "HOTADD" ? "HotAdd" : "DirectRead"; });
