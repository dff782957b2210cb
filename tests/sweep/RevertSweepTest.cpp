// Fault, crash and stop sweeps over the uses of a snap backup, run through
// the built host program against a folder cloud: an in-place revert and a
// snap mount. A clean run's bridge calls are counted; the job is then rerun
// with a fault, a SIGKILL or a SIGTERM at call k, and then comes the next
// job's start-up clean-up.
//
// Revert (outpost-worker in the proxy's region;
// analytics-01, two volumes in us-west-2 of the source account): after the
// clean-up the instance has either all its own volumes at their devices or
// all the reverted ones (its own then detached and kept), nothing else the
// job made exists, the snap backup's snapshots are untouched and the
// cleanup store is empty; a revert after it succeeds and verifies. The
// revert runs from a job-level snap backup and from a VM-centric one, whose
// instance has a snap job of its own.
//
// Snap mount (outpost-worker): after the clean-up no volume made from the
// snapshots exists, the proxy has only its own volumes, the snapshots are
// untouched and the store is empty.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>

#include "cloudsim/Cloud.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"
#include "sweep/SweepSupport.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";     // admin account, the proxy's region
const char kAnalytics[] = "i-0a1b2c3d4e5f60004";  // source account, us-west-2, two volumes
const char kProxy[] = "i-0fedcba9876540001";
constexpr int kSnapJob = 701;
using sweep::Upset;

struct Param {
    const char* name;
    bool revert;   // else a snap mount
    Upset upset;
    bool analytics = false;
    bool vmCentric = false;  // the snap backup's first instance job, not the job itself
};

struct Figures {
    int runs = 0, tolerated = 0, reverted = 0, rolledBack = 0, broken = 0, leaks = 0, failedNextJobs = 0;
};

// Device -> volume of an instance's attachments, each with its state.
std::map<std::string, std::string> Attachments(cloudsim::Cloud& cloud, const std::string& instance) {
    std::map<std::string, std::string> at;
    cloud.Read([&](const cloudsim::State& s) {
        for (const auto& [id, v] : s.volumes)
            if (v.attachedInstance == instance && v.state != "deleting")
                at[v.attachedDevice] = id + " " + v.AttachmentState();
    });
    return at;
}

std::set<std::string> SnapshotsOf(cloudsim::Cloud& cloud) {
    std::set<std::string> ids;
    cloud.Read([&](const cloudsim::State& s) {
        for (const auto& [id, snap] : s.snapshots) ids.insert(id);
    });
    return ids;
}

std::string Join(const std::map<std::string, std::string>& at) {
    std::string text;
    for (const auto& [device, volume] : at) text += " " + device + "=" + volume;
    return text;
}

class RevertSweep : public ::testing::TestWithParam<Param> {
protected:
    const Param& p() const { return GetParam(); }
    std::string Instance() const { return p().analytics ? kAnalytics : kWorker; }
    std::string Job() const { return p().analytics ? kDemoJob : kDemoBackupJob; }
    std::string SnapJob() const { return std::to_string(p().vmCentric ? kSnapJob * 1000 + 1 : kSnapJob); }
    std::string Host(const std::string& base, const std::string& command, int& code) const {
        return RunCommand(std::string(AMAZON_HOST_PATH) + " --base " + base + " " + command + " --job " + Job() +
                              " --snap-job " + SnapJob() + " --instance " + Instance() +
                              " < /dev/null",
                          code);
    }
    std::string Use(const std::string& base, int& code) const {
        return Host(base, p().revert ? "revert" : "snap-mount", code);
    }
    // The next job's start: a dead mount's volumes go with the unmount the
    // host runs for it, every dead job's entries with the clean-up.
    std::string CleanUp(const std::string& base) const {
        int code = -1;
        std::string out;
        if (!p().revert) out = Host(base, "snap-unmount", code) + "\n";
        return out + RunHost("--base " + base + " cleanup --job " + Job(), code);
    }
};
}  // namespace

TEST_P(RevertSweep, EachUpsetLeavesTheInstanceWholeAndNothingBehind) {
    TestEnv env;
    const std::string golden = sweep::NewGolden(env.BaseDir());
    ASSERT_FALSE(golden.empty());
    int code = -1;
    std::string out = RunHost("--base " + golden + " snap-backup --job " + Job() + " --instance " + Instance() +
                                  " --job-id " + std::to_string(kSnapJob) + (p().vmCentric ? " --vm-centric" : ""),
                              code);
    ASSERT_EQ(0, code) << out;

    const int calls = sweep::CountCalls(
        golden, env.BaseDir() + "/count", [this](const std::string& base, int& rc) { return Use(base, rc); }, out);
    ASSERT_GT(calls, 5) << out;

    Figures f;
    for (int k : sweep::Indexes(calls, 4)) {
        const std::string base = env.BaseDir() + "/k" + std::to_string(k);
        auto cloud = sweep::PrepareRun(golden, base);
        const std::set<std::string> before = sweep::Made(*cloud);
        const std::set<std::string> snapshots = SnapshotsOf(*cloud);
        const auto own = Attachments(*cloud, Instance());
        const auto proxy = Attachments(*cloud, kProxy);
        cloud->AddFault(sweep::UpsetAt(k, p().upset));

        const std::string failed = Use(base, code);
        ++f.runs;
        const bool succeeded = code == 0;
        if (sweep::Judge(k, p().upset, code, failed) == sweep::Ended::RodeOut) ++f.tolerated;
        cloud->ClearFaults();
        sweep::UnstickAll(*cloud);
        const std::string cleanup = CleanUp(base);
        const std::string context = failed + "\n--- clean-up:\n" + cleanup;

        // What may exist now beyond what was there: the reverted volumes,
        // when the instance has them all.
        std::set<std::string> allowed = before;
        const auto now = Attachments(*cloud, Instance());
        if (p().revert) {
            bool reverted = now.size() == own.size();
            for (const auto& [device, volume] : now) {
                const std::string id = volume.substr(0, volume.find(' '));
                std::string snapshot;
                cloud->Read([&](const cloudsim::State& s) { snapshot = s.volumes.at(id).snapshotId; });
                reverted = reverted && own.count(device) && snapshots.count(snapshot) && !before.count(id) &&
                           volume.find(" attached") != std::string::npos;
                allowed.insert(id);
            }
            if (reverted) {
                ++f.reverted;
                // The volumes it had are kept, detached.
                for (const auto& [device, volume] : own) {
                    const std::string id = volume.substr(0, volume.find(' '));
                    std::string state;
                    cloud->Read([&](const cloudsim::State& s) { state = s.volumes.at(id).state; });
                    if (state != "available") {
                        ++f.broken;
                        ADD_FAILURE() << "k=" << k << ": replaced volume " << id << " is " << state << "\n" << context;
                    }
                }
            } else if (now == own) {
                ++f.rolledBack;
                allowed = before;
                if (succeeded) ADD_FAILURE() << "k=" << k << ": a revert that succeeded left the old volumes\n" << failed;
            } else {
                ++f.broken;
                ADD_FAILURE() << "k=" << k << ": the instance has neither its volumes nor the reverted ones\nbefore:"
                              << Join(own) << "\nnow:   " << Join(now) << "\n" << context;
            }
        } else if (now != own || Attachments(*cloud, kProxy) != proxy) {
            ++f.broken;
            ADD_FAILURE() << "k=" << k << ": the instance's or the proxy's volumes changed\nproxy:"
                          << Join(Attachments(*cloud, kProxy)) << "\n" << context;
        }
        std::ostringstream left;
        for (const auto& id : sweep::Made(*cloud)) {
            if (allowed.count(id)) continue;
            left << " " << id;
        }
        for (const auto& id : snapshots)
            if (!SnapshotsOf(*cloud).count(id)) left << " (lost " << id << ")";
        if (!left.str().empty()) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": left behind:" << left.str() << "\n" << context;
        }
        const std::string problem = CleanStoreProblem(base, "restore", Job()) + CleanStoreProblem(base, "backup", Job());
        if (!problem.empty()) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": the cleanup store is not empty\n" << problem << "\n" << context;
        }

        const std::string next = Use(base, code);
        int verified = 0;
        const std::string check = p().revert ? RunTool("verify-revert --base " + base + " --instance " + Instance() +
                                                           " --snap-job " + SnapJob(),
                                                       verified)
                                             : std::string();
        if (code != 0 || verified != 0) {
            ++f.failedNextJobs;
            ADD_FAILURE() << "k=" << k << ": the next job failed\n" << context << "\n--- next:\n" << next << check;
        }
        sweep::Discard(base);
    }
    std::printf("sweep-figures: %s calls=%d runs=%d tolerated=%d reverted=%d rolled-back=%d broken=%d leaks=%d "
                "failed-next-jobs=%d\n",
                p().name, calls, f.runs, f.tolerated, f.reverted, f.rolledBack, f.broken, f.leaks,
                f.failedNextJobs);
    // A stop before the volumes are swapped ends the revert with the
    // instance as it was; one that never did would run every revert through.
    if (p().revert && p().upset == Upset::Stop && !std::getenv("SWEEP_K")) {
        EXPECT_GT(f.rolledBack, 0) << "no stop request ended a revert";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, RevertSweep,
    ::testing::Values(Param{"snap_revert_fault", true, Upset::Fault}, Param{"snap_revert_crash", true, Upset::Crash},
                      Param{"snap_revert_stop", true, Upset::Stop},
                      Param{"snap_revert_cross_region_fault", true, Upset::Fault, true},
                      Param{"snap_revert_cross_region_crash", true, Upset::Crash, true},
                      Param{"snap_revert_cross_region_stop", true, Upset::Stop, true},
                      Param{"snap_revert_vm_centric_fault", true, Upset::Fault, false, true},
                      Param{"snap_revert_vm_centric_crash", true, Upset::Crash, false, true},
                      Param{"snap_revert_vm_centric_stop", true, Upset::Stop, false, true},
                      Param{"snap_mount_fault", false, Upset::Fault}, Param{"snap_mount_crash", false, Upset::Crash},
                      Param{"snap_mount_stop", false, Upset::Stop}),
    [](const ::testing::TestParamInfo<Param>& info) { return std::string(info.param.name); });
