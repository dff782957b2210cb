// A snap backup used later through the built host program: the guest
// changes the instance, the revert puts its volumes back to the snapshots
// in place, a restore makes a new instance of them, and a snap mount shows
// them on the proxy; nothing stays registered afterwards.
#include <gtest/gtest.h>

#include <regex>
#include <set>
#include <string>

#include "cloudsim/Cloud.h"
#include "cloudsim/CloudState.h"
#include "framework/Clock.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";   // the admin account's instance
const char kRoot[] = "vol-0fedcba987654b001";
constexpr int kSnapJob = 610;

std::string Host(const std::string& base, const std::string& args, int& code) {
    return RunHost("--base " + base + " " + args + " --job " + kDemoBackupJob, code);
}

// A snap-mount that ends at once: its input is empty.
std::string SnapMount(const std::string& base, const std::string& job, int& code) {
    return RunCommand(std::string(AMAZON_HOST_PATH) + " --base " + base + " snap-mount" + job + " --job " +
                          kDemoBackupJob + " < /dev/null",
                      code);
}

std::set<std::string> LiveVolumes(cloudsim::Cloud& cloud) {
    std::set<std::string> ids;
    cloud.Read([&](const cloudsim::State& s) {
        for (const auto& [id, v] : s.volumes)
            if (v.state != "deleting") ids.insert(id);
    });
    return ids;
}

std::string VerifyRevert(const std::string& base, const std::string& instance, int& code) {
    return RunTool("verify-revert --base " + base + " --instance " + instance + " --snap-job " +
                       std::to_string(kSnapJob),
                   code);
}
}  // namespace

TEST(SnapRevert, AGuestChangeIsRevertedInPlaceAndARestoreAndAMountShowTheSnapshots) {
    TestEnv env;
    const std::string base = env.BaseDir();
    int code = -1;
    RunHost("--base " + base, code);
    FwClock::Set(std::make_shared<SkipSleepClock>(base + "/clock-offset", true));
    std::string out = Host(base, "snap-backup --instance " + std::string(kWorker) + " --job-id " +
                                     std::to_string(kSnapJob), code);
    ASSERT_EQ(code, 0) << out;
    out = RunTool("guest-write --base " + base + " --volume " + kRoot + " --block 3 --text 'changed by the guest'",
                  code);
    ASSERT_EQ(code, 0) << out;
    out = VerifyRevert(base, kWorker, code);
    EXPECT_EQ(code, 1) << "before the revert no volume comes from the snapshots\n" << out;

    const std::string job = " --snap-job " + std::to_string(kSnapJob) + " --instance " + kWorker;
    out = Host(base, "revert" + job, code);
    ASSERT_EQ(code, 0) << out;
    EXPECT_NE(out.find("replaced " + std::string(kRoot) + ", detached and kept"), std::string::npos) << out;
    out = VerifyRevert(base, kWorker, code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_EQ(out.find("not made from the snap job"), std::string::npos) << out;

    out = Host(base, "restore" + job + " --name worker-again", code);
    ASSERT_EQ(code, 0) << out;
    std::smatch made;
    ASSERT_TRUE(std::regex_search(out, made, std::regex("instance (i-[0-9a-f]+) \\(worker-again\\)"))) << out;
    EXPECT_NE(made[1].str(), kWorker);
    out = VerifyRevert(base, made[1].str(), code);
    EXPECT_EQ(code, 0) << out;

    out = SnapMount(base, job, code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_TRUE(std::regex_search(out, std::regex(std::string(kRoot) + ": /\\S+ \\([1-9][0-9]* bytes\\)"))) << out;
    EXPECT_NE(out.find("unmounted"), std::string::npos) << out;

    EXPECT_EQ(CleanStoreProblem(base, "restore"), "");
    EXPECT_EQ(CleanStoreProblem(base, "backup"), "");
}

// A snap-mount killed once the manager's volume was recorded: before it is
// tagged (made, not attached), or as the mount is taken down (attached to
// the proxy). snap-unmount names the volume it removed and leaves nothing;
// with no mount at all it says that nothing was mounted.
TEST(SnapRevert, AnUnmountAfterAKilledMountSaysWhatItRemovedAndLeavesNothing) {
    TestEnv env;
    const std::string base = env.BaseDir();
    int code = -1;
    RunHost("--base " + base, code);
    FwClock::Set(std::make_shared<SkipSleepClock>(base + "/clock-offset", true));
    std::string out = Host(base, "snap-backup --instance " + std::string(kWorker) + " --job-id " +
                                     std::to_string(kSnapJob), code);
    ASSERT_EQ(code, 0) << out;
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    const std::set<std::string> before = LiveVolumes(*cloud);
    const std::string job = " --snap-job " + std::to_string(kSnapJob) + " --instance " + kWorker;
    for (const char* killAt : {"", "SetTag", "DetachVolume"}) {
        SCOPED_TRACE(*killAt ? killAt : "no mount");
        std::set<std::string> made;
        if (*killAt) {
            cloud->AddFault(cloudsim::FaultRule(killAt, 1, "", 0, "kill"));
            out = SnapMount(base, job, code);
            EXPECT_EQ(code, 137) << "not killed\n" << out;
            cloud->ClearFaults();
            for (const auto& id : LiveVolumes(*cloud))
                if (!before.count(id)) made.insert(id);
            EXPECT_EQ(made.size(), 1u) << out;
        }
        out = Host(base, "snap-unmount" + job, code);
        EXPECT_EQ(code, 0) << out;
        for (const auto& id : made) EXPECT_NE(out.find("removed volume " + id), std::string::npos) << out;
        EXPECT_NE(out.find(made.empty() ? ": nothing was mounted" : " unmounted"), std::string::npos) << out;
        EXPECT_EQ(LiveVolumes(*cloud), before) << out;
        EXPECT_EQ(CleanStoreProblem(base, "backup"), "");
    }
    // The snap job mounts again as if no mount had died.
    out = SnapMount(base, job, code);
    EXPECT_EQ(code, 0) << out;
    EXPECT_NE(out.find(" unmounted"), std::string::npos) << out;
    EXPECT_EQ(LiveVolumes(*cloud), before) << out;
}
