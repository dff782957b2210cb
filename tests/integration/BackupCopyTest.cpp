// A backup copy of a snap backup through the built host program and plug-in,
// in both transport modes: its images are the volumes as the snapshots took
// them (not as they are since), it restores like any backup, and nothing the
// copy made is left behind.
#include <gtest/gtest.h>

#include <memory>
#include <nlohmann/json.hpp>
#include <string>

#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";   // outpost-worker, admin account, us-east-1b
const char kWorkerRoot[] = "vol-0fedcba987654b001";

class BackupCopy : public ::testing::TestWithParam<const char*> {};
}  // namespace

TEST_P(BackupCopy, TheCopyHoldsTheSnapshotsDataAndRestores) {
    TestEnv env;
    const std::string base = env.BaseDir(), chain = base + "/copy", rebuilt = base + "/rebuilt";
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
    out = RunHost("--base " + base + " restore-image --chain " + chain + " --out " + rebuilt, code);
    ASSERT_EQ(0, code) << out;
    const std::string manifest = rebuilt + "/manifest.json";
    EXPECT_EQ(mode, nlohmann::json::parse(TestEnv::ReadFile(chain + "/point-1/manifest.json"))["mode"]);
    out = RunTool("verify --base " + base + " --manifest " + manifest + " --snap-job 4101", code);
    EXPECT_EQ(0, code) << out;
    out = RunTool("verify --base " + base + " --manifest " + manifest, code);
    EXPECT_NE(0, code) << "the block written since differs from the volume now: " << out;
    EXPECT_EQ("", CleanStoreProblem(base, "backup"));

    out = RunHost("--base " + base + " restore --job " + kDemoJob + " --account admin --chain " + chain +
                      " --name worker-copy-restored --zone us-east-1c --type t3.small",
                  code);
    ASSERT_EQ(0, code) << out;
    const size_t at = out.find(" instance ", out.find("restored point"));
    ASSERT_NE(std::string::npos, at) << out;
    const std::string instance = out.substr(at + 10, out.find(' ', at + 10) - at - 10);
    out = RunTool("verify-restore --base " + base + " --manifest " + manifest + " --instance " + instance +
                      " --name worker-copy-restored --zone us-east-1c --type t3.small",
                  code);
    EXPECT_EQ(0, code) << out;
    EXPECT_NE(std::string::npos, out.find("verify-restore passed")) << out;
}

INSTANTIATE_TEST_SUITE_P(TransportModes, BackupCopy, ::testing::Values("HOTADD", "EBS-DIRECT-API"),
                         [](const auto& info) { return std::string(info.param) == "HOTADD" ? "HotAdd" : "DirectRead"; });
