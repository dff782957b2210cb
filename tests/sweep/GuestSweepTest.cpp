// Fault and crash sweeps over guest file restores, run through the built
// host program against a folder cloud (the demo job: the bucket in the
// admin account, the commands in the source account). A clean run's bridge
// calls are counted; the job is then rerun with a fault (or a SIGKILL) at
// call k, and the next guest-restore, whose start cleans up after dead
// jobs, must put its own bytes at the path. After it nothing may be staged
// in any bucket, no command may still be running (one left would write the
// dead job's bytes over the next job's), and the cleanup store must be empty.
#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <string>

#include "cloudsim/Cloud.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"
#include "sweep/SweepSupport.h"

namespace {
const char kWeb[] = "i-0a1b2c3d4e5f60001";   // web-server-01, source account, us-east-1a
const char kTarget[] = "/var/www/html/restored.html";
const std::string kJob = std::string(TEST_SOURCE_DIR) + "/demo/job.json";

struct Figures {
    int runs = 0, tolerated = 0, leaks = 0, failedNextJobs = 0;
};

class GuestSweep : public ::testing::TestWithParam<bool> {
protected:
    bool crash() const { return GetParam(); }

    static std::string Restore(const std::string& base, const std::string& file, int& code) {
        return RunHost("--base " + base + " guest-restore --job " + kJob + " --instance " + kWeb + " --file " + file +
                           " --to " + kTarget,
                       code);
    }
    static std::string GuestBytes(cloudsim::Cloud& cloud) {
        std::string bytes = "<none>";
        cloud.Read([&](const cloudsim::State& s) {
            for (const auto& f : s.guests.at(kWeb).files)
                if (f.path == kTarget) bytes = f.data;
        });
        return bytes;
    }
    // Staged objects and commands still running, one per line.
    static std::string Left(cloudsim::Cloud& cloud) {
        std::ostringstream out;
        cloud.Read([&](const cloudsim::State& s) {
            for (const auto& o : s.objects)
                if (o.key.find("__QX_RESTORE__") != std::string::npos) out << "object " << o.bucket << "/" << o.key << "\n";
            for (const auto& [id, c] : s.commands)
                if (!cloudsim::IsFinalCommandStatus(c.status)) out << "command " << id << " " << c.status << "\n";
        });
        return out.str();
    }
};
}  // namespace

TEST_P(GuestSweep, EveryFaultLeavesNothingStagedOrRunningAndTheNextRestoreLands) {
    TestEnv env;
    const std::string golden = sweep::NewGolden(env.BaseDir());
    ASSERT_FALSE(golden.empty());
    const std::string faulted = env.BaseDir() + "/faulted.html", next = env.BaseDir() + "/next.html";
    ASSERT_TRUE(FwFile::WriteAllAtomic(faulted, "from the faulted job\n"));
    ASSERT_TRUE(FwFile::WriteAllAtomic(next, "from the next job\n"));
    int code = -1;

    std::string out;
    std::shared_ptr<cloudsim::Cloud> counted;
    const int calls = sweep::CountCalls(
        golden, env.BaseDir() + "/count", [&](const std::string& base, int& rc) { return Restore(base, next, rc); },
        out, &counted);
    ASSERT_GT(calls, 8) << out;
    ASSERT_EQ("from the next job\n", GuestBytes(*counted));

    Figures f;
    for (int k : sweep::Indexes(calls, 6)) {
        const std::string base = env.BaseDir() + "/k" + std::to_string(k);
        auto cloud = sweep::PrepareRun(golden, base);
        cloud->AddFault(sweep::FaultAt(k, crash()));
        const std::string failed = Restore(base, faulted, code);
        ++f.runs;
        if (sweep::Judge(k, crash() ? sweep::Upset::Crash : sweep::Upset::Fault, code, failed) ==
            sweep::Ended::RodeOut) {
            ++f.tolerated;
            EXPECT_EQ("from the faulted job\n", GuestBytes(*cloud)) << "k=" << k << " succeeded without the file\n"
                                                                    << failed;
        }
        cloud->ClearFaults();

        const std::string again = Restore(base, next, code);
        if (code != 0) {
            ++f.failedNextJobs;
            ADD_FAILURE() << "k=" << k << ": the next guest-restore failed\n" << failed << "\n--- next:\n" << again;
            continue;
        }
        // A command of the dead job still running would land later: the
        // clock moves on well past any command's time before the check.
        FwClock::SleepMs(600000);
        EXPECT_EQ("from the next job\n", GuestBytes(*cloud)) << "k=" << k << "\n" << failed << "\n--- next:\n" << again;
        const std::string left = Left(*cloud);
        const std::string store = RunHost("--base " + base + " cleanup --job " + kJob, code);
        if (!left.empty() || store.find("orphaned restore entries: 0") == std::string::npos ||
            store.find("  left") != std::string::npos) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": left behind:\n" << left << store << "\n" << failed << "\n--- next:\n"
                          << again;
        }
        sweep::Discard(base);
    }
    std::printf("sweep-figures: guest-restore %s calls=%d runs=%d tolerated=%d leaks=%d failed-next-jobs=%d\n",
                crash() ? "crash" : "fault", calls, f.runs, f.tolerated, f.leaks, f.failedNextJobs);
}

INSTANTIATE_TEST_SUITE_P(Jobs, GuestSweep, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                             return std::string("guest_restore_") + (info.param ? "crash" : "fault");
                         });
