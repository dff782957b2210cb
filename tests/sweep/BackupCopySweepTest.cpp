// Fault, crash and stop sweeps over backup copies of a snap backup, run
// through the built host program against a folder cloud: a one-account copy
// (outpost-worker in the admin account), and a cross-account one
// (web-server-01 of the source account, its root volume on the default key,
// read by hot-add through the admin account's proxy, so its snapshots are
// shared with the admin account and their custom key granted to it). A
// clean copy's bridge calls are counted; the copy is then rerun with a fault
// (or a SIGKILL, or a SIGTERM) at call k. After the next job's clean-up, and
// again after a next copy (which must succeed), nothing the copy made may be
// left: no volume, no snapshot copy, no sharing of a snapshot, no grant the
// snap backup had not already made; and every snapshot of the snap backup
// must still be there as the snap backup left it.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "cloudsim/Cloud.h"
#include "cloudsim/Kms.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/CloudHoldings.h"
#include "support/TestEnv.h"
#include "sweep/SweepSupport.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";   // admin account, us-east-1b: the proxy's account
const char kWeb[] = "i-0a1b2c3d4e5f60001";      // source account, us-east-1a
const char kWebRoot[] = "vol-0a1b2c3d4e5f6a001";
constexpr int kSnapJob = 4101;
using sweep::Upset;

struct Param {
    Upset upset;
    bool crossAccount;
};

using Holdings = CloudHoldings;

struct Figures {
    int runs = 0, tolerated = 0, leaks = 0, failedNextJobs = 0;
};

class BackupCopySweep : public ::testing::TestWithParam<Param> {
protected:
    const std::string& Job() const { return GetParam().crossAccount ? kDemoJob : kDemoBackupJob; }

    std::string Copy(const std::string& base, int& code) const {
        return RunHost("--base " + base + " backup --job " + Job() + " --copy-of " + std::to_string(kSnapJob) +
                           " --mode HOTADD --out " + base + "/chain",
                       code);
    }

    // A fresh cloud and the snap backup the swept copy copies.
    void MakeGolden(const std::string& base) const {
        int code = -1;
        RunHost("--base " + base, code);
        ASSERT_EQ(0, code);
        if (GetParam().crossAccount) {
            auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
            cloud->Write([](cloudsim::State& s) {
                auto& root = s.volumes.at(kWebRoot);
                root.encrypted = true;
                root.kmsKeyId = cloudsim::DefaultKmsKey(s, root.account, root.region);
            });
        }
        const std::string out = RunHost("--base " + base + " snap-backup --job " + Job() + " --instance " +
                                            (GetParam().crossAccount ? kWeb : kWorker) + " --job-id " +
                                            std::to_string(kSnapJob),
                                        code);
        ASSERT_EQ(0, code) << out;
    }
};
}  // namespace

TEST_P(BackupCopySweep, NothingTheCopyMadeOrSharedOutlivesTheNextCleanup) {
    const Param p = GetParam();
    TestEnv env;
    const std::string golden = env.BaseDir() + "/golden";
    ASSERT_TRUE(FwFile::MakeDirs(golden));
    MakeGolden(golden);
    if (HasFatalFailure()) return;
    Holdings snapBackup;
    {
        auto cloud = cloudsim::Cloud::OpenFolder(golden + "/cloudsim", "");
        snapBackup = Holdings::Of(*cloud);
    }

    const sweep::Job copy = [this](const std::string& base, int& code) { return Copy(base, code); };
    std::string out;
    std::shared_ptr<cloudsim::Cloud> counted;
    const int calls = sweep::CountCalls(golden, env.BaseDir() + "/count", copy, out, &counted);
    ASSERT_GT(calls, 3) << out;
    const std::string clean = snapBackup.LeftOrLost(Holdings::Of(*counted));
    ASSERT_EQ("", clean) << "a clean copy leaves:" << clean << "\n" << out;

    Figures f;
    int code = -1;
    for (int k : sweep::Indexes(calls, 8)) {
        const std::string base = env.BaseDir() + "/k" + std::to_string(k);
        auto cloud = sweep::PrepareRun(golden, base);
        cloud->AddFault(sweep::UpsetAt(k, p.upset));
        const std::string failed = Copy(base, code);
        ++f.runs;
        if (sweep::Judge(k, p.upset, code, failed) == sweep::Ended::RodeOut) ++f.tolerated;
        cloud->ClearFaults();
        sweep::UnstickAll(*cloud);

        const std::string cleanup = RunHost("--base " + base + " cleanup --job " + Job(), code);
        EXPECT_EQ(0, code) << "k=" << k << "\n" << cleanup;
        std::string left = snapBackup.LeftOrLost(Holdings::Of(*cloud));
        if (!left.empty()) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": after the clean-up:" << left << "\n"
                          << failed << "\n--- clean-up:\n" << cleanup;
        }
        const std::string next = Copy(base, code);
        if (code != 0) {
            ++f.failedNextJobs;
            ADD_FAILURE() << "k=" << k << ": the next copy failed\n" << failed << "\n--- next:\n" << next;
            continue;
        }
        left = snapBackup.LeftOrLost(Holdings::Of(*cloud));
        if (!left.empty()) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": after the next copy:" << left << "\n" << failed << "\n--- next:\n" << next;
        }
        const std::string store = CleanStoreProblem(base, "backup", Job());
        if (!store.empty()) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": the cleanup store is not empty\n" << store;
        }
        sweep::Discard(base);
    }
    std::printf("sweep-figures: backup-copy %s%s calls=%d runs=%d tolerated=%d leaks=%d failed-next-jobs=%d\n",
                p.crossAccount ? "cross-account " : "", sweep::UpsetName(p.upset), calls, f.runs, f.tolerated,
                f.leaks, f.failedNextJobs);
}

std::string BackupCopySweepName(const ::testing::TestParamInfo<Param>& info) {
    return std::string("backup_copy_") + (info.param.crossAccount ? "cross_account_" : "") +
           sweep::UpsetName(info.param.upset);
}

INSTANTIATE_TEST_SUITE_P(Jobs, BackupCopySweep,
                         ::testing::Values(Param{Upset::Fault, false}, Param{Upset::Fault, true},
                                           Param{Upset::Stop, false}, Param{Upset::Stop, true}),
                         BackupCopySweepName);

// A copy killed while the snapshot manager makes its volumes leaves them to
// the manager's record of mounts in progress, which the next clean-up reads.
INSTANTIATE_TEST_SUITE_P(Crashes, BackupCopySweep,
                         ::testing::Values(Param{Upset::Crash, false}, Param{Upset::Crash, true}),
                         BackupCopySweepName);
