// Fault and crash sweeps over whole restore jobs, run through the built host
// program against a folder cloud that holds a hot-add backup of
// outpost-worker. For each kind of restore a clean run's bridge calls are
// counted; the job is then rerun with a fault (or a SIGKILL) at call k, and
// the next restore (whose start cleans up after dead jobs) must succeed and
// verify against the point. After it, nothing the faulted job made may be
// left (no staging volume, transfer snapshot or half-made instance), every
// instance and volume that was there before must be as it was, the chain
// unchanged, and the cleanup store empty.
//
// Kinds: a full restore into the proxy's zone, into another zone, into the
// other account, and the disks onto an existing instance. By default a
// spread of six call indexes per kind is swept (CI); SWEEP_EXHAUSTIVE=1
// sweeps every index, SWEEP_K=k index k alone. Each test prints its figures
// as "sweep-figures:".
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "cloudsim/Cloud.h"
#include "framework/Clock.h"
#include "framework/FileUtils.h"
#include "integration/HostRun.h"
#include "support/TestEnv.h"
#include "sweep/SweepSupport.h"

namespace {
const char kWorker[] = "i-0fedcba9876540002";   // outpost-worker: admin account, us-east-1b
const std::string kDemo = std::string(TEST_SOURCE_DIR) + "/demo/";

struct Kind {
    const char* name;
    const char* args;      // the restore's destination
    const char* zone;      // where the new instance must be (none for an attach)
    bool attach;           // the disks go onto an existing instance
};

struct Figures {
    int runs = 0, tolerated = 0, leaks = 0, changed = 0, failedNextJobs = 0;
};

using sweep::Made;
using sweep::Quote;

// The instances and volumes that exist now, as a job might change them.
std::string Existing(cloudsim::Cloud& cloud) {
    std::ostringstream out;
    cloud.Read([&](const cloudsim::State& s) {
        for (const auto& [id, i] : s.instances) {
            out << id << " " << i.state << " " << i.instanceType << " " << i.zone;
            for (const auto& [k, v] : i.tags) out << " " << k << "=" << v;
            out << "\n";
        }
        for (const auto& [id, v] : s.volumes)
            if (v.state != "deleting")
                out << id << " " << v.state << " " << v.attachedInstance << " " << v.attachedDevice << " " << v.sizeBytes
                << "\n";
    });
    for (const char* volume : {"vol-0fedcba987654b001", "vol-0fedcba987654a001"})
        for (int64_t b : cloud.VolumeBlocks(volume))
            out << volume << "#" << b << ":" << std::hash<std::string>()(cloud.ReadVolume(volume, b * cloudsim::kBlockSize, cloudsim::kBlockSize)) << "\n";
    return out.str();
}

// The chain's files: names, sizes and the data regions they hold.
std::string ChainDigest(const std::string& folder) {
    std::ostringstream out;
    std::function<void(const std::string&)> walk = [&](const std::string& dir) {
        std::vector<std::string> names;
        FwFile::ListDir(dir, names);
        std::sort(names.begin(), names.end());
        for (const auto& name : names) {
            const std::string path = dir + "/" + name;
            if (FwFile::IsDirectory(path)) {
                walk(path);
                continue;
            }
            const int fd = ::open(path.c_str(), O_RDONLY);
            const off_t size = ::lseek(fd, 0, SEEK_END);
            out << path.substr(folder.size()) << " " << size;
            for (off_t at = 0; at < size;) {
                const off_t data = ::lseek(fd, at, SEEK_DATA);
                if (data < 0) break;
                const off_t hole = ::lseek(fd, data, SEEK_HOLE);
                std::string bytes(static_cast<size_t>(hole - data), '\0');
                if (::pread(fd, &bytes[0], bytes.size(), data) < 0) break;
                out << " " << data << ":" << std::hash<std::string>()(bytes);
                at = hole;
            }
            ::close(fd);
            out << "\n";
        }
    };
    walk(folder);
    return out.str();
}

using sweep::Upset;

class RestoreSweep : public ::testing::TestWithParam<std::tuple<Kind, Upset>> {
protected:
    const Kind& kind() const { return std::get<0>(GetParam()); }
    Upset upset() const { return std::get<1>(GetParam()); }
    bool crash() const { return upset() == Upset::Crash; }
    bool stop() const { return upset() == Upset::Stop; }

    std::string Restore(const std::string& base, const std::string& name, int& code) {
        std::string args = kind().args;
        if (!kind().attach) args += " --name " + name;
        return RunHost("--base " + base + " restore --job " + kDemo + "job.json --chain " + base + "/chain " + args,
                       code);
    }

    // The instance the restore made or restored onto, from its summary.
    static std::string Instance(const std::string& output) {
        const size_t line = output.find("restored point");
        if (line == std::string::npos) return {};
        const size_t at = output.find("instance ", line);
        if (at == std::string::npos) return {};
        return output.substr(at + 9, output.find(' ', at + 9) - at - 9);
    }

    // The restored instance holds the point: each disk block for block.
    bool Verifies(const std::string& base, const std::string& instance, const std::string& name,
                  std::string& out) const {
        int code = -1;
        std::string args = " --instance " + instance;
        if (kind().attach) {
            // The disk went to the first free device of the target.
            args += " --attach yes --devices vol-0fedcba987654b001=" + Device(base, instance);
        } else {
            args += " --name " + name + " --zone " + kind().zone;
            // A type the restore asked for is the one to find.
            const std::string asked = kind().args;
            const size_t type = asked.find("--type ");
            if (type != std::string::npos) args += " " + asked.substr(type, asked.find(' ', type + 7) - type);
        }
        out = RunCommand(std::string(CLOUDSIM_TOOL_PATH) + " verify-restore --base " + base + " --manifest " + base +
                             "/rebuilt/manifest.json" + args,
                         code);
        return code == 0;
    }

    // The device the last restored volume of the target is attached at.
    static std::string Device(const std::string& base, const std::string& instance) {
        auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
        std::string device;
        cloud->Read([&](const cloudsim::State& s) {
            for (const auto& [id, v] : s.volumes)
                if (v.attachedInstance == instance && v.attachedDevice != "/dev/xvda" && v.state != "deleting")
                    device = std::max(device, v.attachedDevice);
        });
        return device;
    }


};
}  // namespace

TEST_P(RestoreSweep, EveryFaultLeavesNothingBehindAndTheNextRestoreVerifies) {
    TestEnv env;
    const std::string golden = sweep::NewGolden(env.BaseDir());
    ASSERT_FALSE(golden.empty());
    int code = -1;
    std::string out = RunHost("--base " + golden + " backup --job " + kDemo + "backup-job.json --instance " + kWorker +
                                  " --mode HOTADD --out " + golden + "/chain",
                              code);
    ASSERT_EQ(0, code) << out;
    out = RunHost("--base " + golden + " restore-image --chain " + golden + "/chain --out " + golden + "/rebuilt", code);
    ASSERT_EQ(0, code) << out;

    const std::string counted = env.BaseDir() + "/count";
    const int calls = sweep::CountCalls(
        golden, counted, [this](const std::string& base, int& rc) { return Restore(base, "sweep-count", rc); }, out);
    ASSERT_GT(calls, 10) << out;
    std::string clean;
    ASSERT_TRUE(Verifies(counted, Instance(out), "sweep-count", clean)) << out << clean;

    Figures f;
    for (int k : sweep::Indexes(calls, 6)) {
        const std::string base = env.BaseDir() + "/k" + std::to_string(k);
        auto cloud = sweep::PrepareRun(golden, base);
        const std::set<std::string> before = Made(*cloud);
        const std::string existing = Existing(*cloud);
        const std::string chain = ChainDigest(base + "/chain");
        cloud->AddFault(sweep::UpsetAt(k, upset()));

        const std::string failed = Restore(base, "sweep-faulted", code);
        ++f.runs;
        std::set<std::string> kept;   // what a job that succeeded made
        const sweep::Ended ended = sweep::Judge(k, upset(), code, failed);
        if (ended == sweep::Ended::Stopped) {
            // A stopped restore removes what it made itself, at its close.
            std::ostringstream left;
            for (const auto& id : Made(*cloud))
                if (!before.count(id)) left << " " << id;
            if (!left.str().empty()) {
                ++f.leaks;
                ADD_FAILURE() << "k=" << k << ": the stopped restore left:" << left.str() << "\n" << failed;
            }
        } else if (ended == sweep::Ended::RodeOut) {
            ++f.tolerated;
            std::string why;
            if (!Verifies(base, Instance(failed), "sweep-faulted", why))
                ADD_FAILURE() << "k=" << k << ": a restore that succeeded despite the fault does not verify\n"
                              << failed << why;
        }
        cloud->ClearFaults();
        if (code == 0) kept = Made(*cloud);

        const std::string next = Restore(base, "sweep-next", code);
        std::string why;
        if (code != 0 || !Verifies(base, Instance(next), "sweep-next", why)) {
            ++f.failedNextJobs;
            ADD_FAILURE() << "k=" << k << ": the next restore failed or does not verify\n"
                          << failed << "\n--- next:\n" << next << why;
            continue;
        }
        // What the next restore made: its instance and the volumes on it.
        std::set<std::string> made{Instance(next)};
        // A job killed after its post phase had finished leaves a complete
        // instance, which the user keeps; anything less of it is a leak.
        std::string finished;
        cloud->Read([&](const cloudsim::State& s) {
            for (const auto& [id, v] : s.volumes)
                if (v.attachedInstance == Instance(next)) made.insert(id);
            for (const auto& [id, i] : s.instances) {
                const auto name = i.tags.find("Name");
                if (crash() && i.state != "terminated" && name != i.tags.end() && name->second == "sweep-faulted")
                    finished = id;
            }
        });
        if (!finished.empty() && Verifies(base, finished, "sweep-faulted", why)) {
            kept.insert(finished);
            cloud->Read([&](const cloudsim::State& s) {
                for (const auto& [id, v] : s.volumes)
                    if (v.attachedInstance == finished) kept.insert(id);
            });
        }
        // A create the fault left "stuck" ends some time later on AWS; what
        // it made must still be registered, and go at the next clean-up.
        if (upset() == Upset::Fault && sweep::FaultAt(k, false).kind == "stuck") {
            sweep::UnstickAll(*cloud);
            RunHost("--base " + base + " cleanup --job " + kDemo + "job.json", code);
        }
        std::ostringstream leaked;
        for (const auto& id : Made(*cloud))
            if (!before.count(id) && !kept.count(id) && !made.count(id)) leaked << " " << id;
        if (!leaked.str().empty()) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": left behind:" << leaked.str() << "\n" << failed << "\n--- next:\n" << next;
        }
        const std::string store = RunHost("--base " + base + " cleanup --job " + kDemo + "job.json", code);
        if (store.find("orphaned restore entries: 0") == std::string::npos ||
            store.find("  left") != std::string::npos) {
            ++f.leaks;
            ADD_FAILURE() << "k=" << k << ": the cleanup store is not empty\n" << store;
        }
        // The restores' own results aside, everything is as it was.
        std::string now;
        {
            std::istringstream lines(Existing(*cloud));
            std::string line;
            while (std::getline(lines, line))
                if (before.count(line.substr(0, line.find_first_of(" #")))) now += line + "\n";
        }
        if (now != existing) {
            ++f.changed;
            ADD_FAILURE() << "k=" << k << ": an instance or volume that was there before changed\nbefore:\n"
                          << existing << "now:\n" << now << failed;
        }
        if (ChainDigest(base + "/chain") != chain) {
            ++f.changed;
            ADD_FAILURE() << "k=" << k << ": the backup chain changed";
        }
        sweep::Discard(base);
    }
    std::printf("sweep-figures: %s %s calls=%d runs=%d tolerated=%d leaks=%d changed=%d failed-next-jobs=%d\n",
                kind().name, sweep::UpsetName(upset()), calls, f.runs, f.tolerated, f.leaks, f.changed,
                f.failedNextJobs);
}

const Kind kProxyZone{"restore-proxy-zone", "--account admin --zone us-east-1a --type t3.small", "us-east-1a", false};
const Kind kOtherZone{"restore-other-zone", "--account admin --zone us-east-1c", "us-east-1c", false};
// The source account, while the proxy runs in the admin account.
const Kind kOtherAccount{"restore-other-account", "--account source --zone us-east-1b", "us-east-1b", false};
const Kind kAttachDisk{"restore-attach-disk", "--account admin --attach-to i-0fedcba9876540002", "", true};

std::string SweepName(const ::testing::TestParamInfo<std::tuple<Kind, Upset>>& info) {
    std::string name = std::get<0>(info.param).name;
    for (auto& c : name)
        if (c == '-') c = '_';
    return name + "_" + sweep::UpsetName(std::get<1>(info.param));
}

INSTANTIATE_TEST_SUITE_P(Jobs, RestoreSweep,
                         ::testing::Combine(::testing::Values(kProxyZone, kOtherZone, kOtherAccount, kAttachDisk),
                                            ::testing::Values(Upset::Fault, Upset::Crash)),
                         SweepName);
// A stop request, on the restore that moves its volumes to another zone.
INSTANTIATE_TEST_SUITE_P(Stops, RestoreSweep, ::testing::Values(std::make_tuple(kOtherZone, Upset::Stop)), SweepName);
