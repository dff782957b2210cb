// Fault and crash sweeps over whole backup jobs, run through the built host
// program against a folder cloud. For each job kind a clean run's bridge
// calls are counted; then the job is rerun with a fault (or a SIGKILL) at
// call k. After each run the next job, whose start cleans up after dead
// jobs, must succeed and leave nothing a job created in the cloud but the
// instance's one change-tracking reference; the cleanup store must be
// empty, the instance's own data untouched, and the new backup must verify.
//
// The instances: a one-disk one in the proxy's region and account, and a
// two-disk one in another region and account, whose resources must be found
// and removed there; backed up by hot-add its snapshots are copied to the
// proxy's region and shared with the proxy's account, and neither copy nor
// share may outlive the next job.
//
// By default a spread of call indexes is swept (CI); SWEEP_EXHAUSTIVE=1
// sweeps every index, SWEEP_K=k index k alone. Each test prints its figures
// as "sweep-figures:".
#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <vector>

#include "cloudsim/Cloud.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"
#include "sweep/SweepSupport.h"

namespace {
struct Instance {
    const char* id;
    std::vector<const char*> volumes;  // the first one's data is changed between backups
    const char* job;                   // under demo/: the accounts the job connects to
};
const Instance kWorker{"i-0fedcba9876540002", {"vol-0fedcba987654b001"}, "backup-job.json"};
const Instance kAnalytics{"i-0a1b2c3d4e5f60004", {"vol-0a1b2c3d4e5f6d001", "vol-0a1b2c3d4e5f6d002"}, "job.json"};

struct Kind {
    const char* name;
    const char* mode;
    bool incremental;
    const Instance* instance;
};

struct Figures {
    int runs = 0, faults = 0, crashes = 0, tolerated = 0, leaks = 0, mismatches = 0, failedNextJobs = 0;
};

using sweep::Quote;

// Everything a job may create, by id (deregistered AMIs and volumes AWS is
// deleting count as gone).
std::set<std::string> Resources(cloudsim::Cloud& cloud) {
    std::set<std::string> ids;
    cloud.Read([&](const cloudsim::State& s) {
        for (const auto& [id, im] : s.images)
            if (im.state != "deregistered") ids.insert(id);
        for (const auto& [id, snap] : s.snapshots) ids.insert(id);
        for (const auto& [id, v] : s.volumes)
            if (v.state != "deleting") ids.insert(id);
    });
    return ids;
}

// The instance's data as the guest sees it.
std::string VolumeDigest(cloudsim::Cloud& cloud, const Instance& instance) {
    std::string all;
    for (const char* volume : instance.volumes) {
        all += std::string(volume) + "=";
        for (int64_t b : cloud.VolumeBlocks(volume))
            all += std::to_string(b) + ":" + cloud.ReadVolume(volume, b * cloudsim::kBlockSize, cloudsim::kBlockSize);
    }
    return all;
}

// What a cross-account hot-add must not leave: a snapshot still shared
// with the admin account, or a key granted to it more than once.
std::string SharedOrRegranted(cloudsim::Cloud& cloud) {
    std::ostringstream left;
    cloud.Read([&](const cloudsim::State& s) {
        for (const auto& [id, snap] : s.snapshots)
            if (!snap.sharedWith.empty()) left << " shared:" << id;
        for (const auto& k : s.kmsKeys)
            if (k.grantees.size() > 1) left << " grants:" << k.arn << "=" << k.grantees.size();
    });
    return left.str();
}

using sweep::Upset;

class Sweep : public ::testing::TestWithParam<std::tuple<Kind, Upset>> {
protected:
    Kind kind() const { return std::get<0>(GetParam()); }
    const Instance& instance() const { return *kind().instance; }
    Upset upset() const { return std::get<1>(GetParam()); }
    bool crash() const { return upset() == Upset::Crash; }
    bool stop() const { return upset() == Upset::Stop; }
    std::string Job() const { return std::string(TEST_SOURCE_DIR) + "/demo/" + instance().job; }

    std::string Backup(const std::string& base, int& code) {
        return RunHost("--base " + base + " backup --job " + Job() + " --instance " + instance().id + " --mode " +
                           kind().mode + " --out " + base + "/chain",
                       code);
    }

    // A base folder where the job is about to run: a fresh cloud, and for an
    // incremental kind a full backup already taken and the guest's data
    // changed since.
    void MakeGolden(const std::string& base) {
        int code = -1;
        RunHost("--base " + base, code);
        ASSERT_EQ(0, code);
        if (!kind().incremental) return;
        auto endpoints = Endpoints(base);
        const std::string out = Backup(base, code);
        ASSERT_EQ(0, code) << out;
        const std::string tool =
            std::string(CLOUDSIM_TOOL_PATH) + " guest-write --base " + base + " --volume " + instance().volumes.front();
        RunCommand(tool + " --block 1 --text " + Quote("changed before the swept job"), code);
        ASSERT_EQ(0, code);
        RunCommand(tool + " --block 2 --zero yes", code);
        ASSERT_EQ(0, code);
    }

    std::unique_ptr<EndpointProcess> Endpoints(const std::string& base) {
        if (std::string(kind().mode) != "EBS-DIRECT-API") return nullptr;
        auto endpoints = std::make_unique<EndpointProcess>(base);
        EXPECT_TRUE(endpoints->Ready());
        return endpoints;
    }

    // The chain's last point rebuilds to the instance's volume as it is now.
    static bool Verifies(const std::string& base) {
        int code = -1;
        const std::string restored = base + "/restored";
        RunCommand("rm -rf " + Quote(restored), code);
        RunHost("--base " + base + " restore-image --chain " + base + "/chain --out " + restored, code);
        if (code != 0) return false;
        const std::string verify = RunCommand(std::string(CLOUDSIM_TOOL_PATH) + " verify --base " + base +
                                                  " --manifest " + restored + "/manifest.json",
                                              code);
        return code == 0 && verify.find("verify passed") != std::string::npos;
    }

};
}  // namespace

std::string SweepName(const ::testing::TestParamInfo<std::tuple<Kind, Upset>>& info) {
    std::string name = std::get<0>(info.param).name;
    for (auto& c : name)
        if (c == '-') c = '_';
    return name + "_" + sweep::UpsetName(std::get<1>(info.param));
}

TEST_P(Sweep, EveryFaultLeavesNothingBehindAndTheNextBackupVerifies) {
    TestEnv env;
    const std::string golden = env.BaseDir() + "/golden";
    ASSERT_TRUE(FwFile::MakeDirs(golden));
    MakeGolden(golden);
    if (HasFatalFailure()) return;

    // How many bridge calls a clean job makes.
    std::string out;
    const int calls = sweep::CountCalls(golden, env.BaseDir() + "/count",
                                        [this](const std::string& base, int& code) {
                                            auto endpoints = Endpoints(base);
                                            return Backup(base, code);
                                        },
                                        out);
    ASSERT_GT(calls, 10) << out;

    Figures f;
    for (int k : sweep::Indexes(calls, 10)) {
        const std::string base = env.BaseDir() + "/k" + std::to_string(k);
        // The endpoints and this process read the cloud on the host's clock.
        auto cloud = sweep::PrepareRun(golden, base);
        auto endpoints = Endpoints(base);
        const std::string data = VolumeDigest(*cloud, instance());
        const std::set<std::string> before = Resources(*cloud);
        cloud->AddFault(sweep::UpsetAt(k, upset()));

        int code = -1;
        const std::string failed = Backup(base, code);
        ++f.runs;
        (crash() ? f.crashes : f.faults)++;
        const sweep::Ended ended = sweep::Judge(k, upset(), code, failed);
        if (ended == sweep::Ended::Stopped) {
            // A stopped job removes what it made itself, as it unmounts.
            std::ostringstream left;
            for (const auto& id : Resources(*cloud))
                if (!before.count(id)) left << " " << id;
            if (!left.str().empty()) {
                ++f.leaks;
                ADD_FAILURE() << "k=" << k << ": the stopped job left:" << left.str() << "\n" << failed;
            }
        } else if (ended == sweep::Ended::RodeOut) {
            // A fault the job rode out: its backup must be as good as any.
            ++f.tolerated;
            if (!Verifies(base)) {
                ++f.mismatches;
                ADD_FAILURE() << "k=" << k << ": a job that succeeded despite the fault does not verify\n" << failed;
            }
        }
        cloud->ClearFaults();
        if (VolumeDigest(*cloud, instance()) != data) {
            ++f.mismatches;
            ADD_FAILURE() << "k=" << k << ": the faulty job changed the instance's data";
        }

        const std::string next = Backup(base, code);
        if (code != 0) {
            ++f.failedNextJobs;
            ADD_FAILURE() << "k=" << k << ": the next backup failed\n" << failed << "\n--- next:\n" << next;
            continue;
        }
        // Nothing a job made is left, in any region, but the instance's one
        // reference.
        std::set<std::string> reference;
        int references = 0;
        cloud->Read([&](const cloudsim::State& s) {
            for (const auto& [id, im] : s.images) {
                if (im.state == "deregistered" || !im.tags.count("Name") || im.tags.at("Name") != "KD_CBT_Snap")
                    continue;
                if (im.sourceInstanceId != instance().id) continue;
                ++references;
                reference.insert(id);
                reference.insert(im.snapshotIds.begin(), im.snapshotIds.end());
            }
        });
        EXPECT_EQ(1, references) << "k=" << k;
        std::ostringstream leaked;
        for (const auto& id : Resources(*cloud))
            if (!before.count(id) && !reference.count(id)) leaked << " " << id;
        leaked << SharedOrRegranted(*cloud);
        if (!leaked.str().empty()) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": left behind:" << leaked.str() << "\n" << failed << "\n--- next:\n" << next;
        }
        const std::string store = RunHost("--base " + base + " cleanup --job " + Job(), code);
        if (store.find("orphaned backup entries: 0") == std::string::npos || store.find("  left") != std::string::npos) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": the cleanup store is not empty\n" << store;
        }
        if (VolumeDigest(*cloud, instance()) != data) {
            ++f.mismatches;
            ADD_FAILURE() << "k=" << k << ": the instance's data changed";
        }
        if (!Verifies(base)) {
            ++f.mismatches;
            ADD_FAILURE() << "k=" << k << ": the next backup does not verify";
        }
        endpoints.reset();
        sweep::Discard(base);
    }
    std::printf("sweep-figures: %s %s calls=%d runs=%d faults=%d crashes=%d tolerated=%d leaks=%d mismatches=%d "
                "failed-next-jobs=%d\n",
                kind().name, sweep::UpsetName(upset()), calls, f.runs, f.faults, f.crashes, f.tolerated, f.leaks,
                f.mismatches, f.failedNextJobs);
}

INSTANTIATE_TEST_SUITE_P(
    Jobs, Sweep,
    ::testing::Combine(::testing::Values(Kind{"full-hotadd", "HOTADD", false, &kWorker},
                                         Kind{"full-direct", "EBS-DIRECT-API", false, &kWorker},
                                         Kind{"incremental-hotadd", "HOTADD", true, &kWorker},
                                         Kind{"incremental-direct", "EBS-DIRECT-API", true, &kWorker},
                                         Kind{"incremental-direct-other-region", "EBS-DIRECT-API", true, &kAnalytics},
                                         // Snapshots copied to the proxy's region and account, and shared.
                                         Kind{"incremental-hotadd-other-account", "HOTADD", true, &kAnalytics}),
                       ::testing::Values(Upset::Fault, Upset::Crash)),
    SweepName);

// A stop request in each read path.
INSTANTIATE_TEST_SUITE_P(Stops, Sweep,
                         ::testing::Values(std::make_tuple(Kind{"full-hotadd", "HOTADD", false, &kWorker}, Upset::Stop),
                                           std::make_tuple(Kind{"incremental-direct", "EBS-DIRECT-API", true, &kWorker},
                                                           Upset::Stop)),
                         SweepName);
