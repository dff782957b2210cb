#pragma once
// What the fault and crash sweeps share: the fault for each call index, the
// indexes a run sweeps, the count of a clean run's calls, each run's folder,
// and how an upset run must have ended.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cloudsim/Cloud.h"
#include "framework/Clock.h"
#include "integration/HostRun.h"

namespace sweep {

inline std::string Quote(const std::string& s) { return "'" + s + "'"; }

// A fresh copy of a prepared base folder; its images stay sparse.
inline bool CopyBase(const std::string& from, const std::string& to) {
    int code = -1;
    RunCommand("rm -rf " + Quote(to) + " && cp -a --sparse=always " + Quote(from) + " " + Quote(to), code);
    return code == 0;
}

// The fault for call k: plain errors, throttling, stuck and conflicting
// outcomes in turn (an outcome that does not apply to the call leaves it
// alone, and the job must then simply succeed), or a SIGKILL.
inline cloudsim::FaultRule FaultAt(int k, bool crash) {
    if (crash) return cloudsim::FaultRule("*", k, "", 0, "kill");
    switch (k % 4) {
        case 0: return cloudsim::FaultRule("*", k, "RequestLimitExceeded: Request limit exceeded.");
        case 1: return cloudsim::FaultRule("*", k, "InternalError: An internal error has occurred.");
        case 2: return cloudsim::FaultRule("*", k, "", 0, "stuck");
        default: return cloudsim::FaultRule("*", k, "IncorrectState: injected conflict", 0, "conflict");
    }
}

// What upsets the swept job at call k: a fault, a SIGKILL, or a SIGTERM
// (a stop request the job must end on by its own path).
enum class Upset { Fault, Crash, Stop };

inline cloudsim::FaultRule UpsetAt(int k, Upset upset) {
    if (upset == Upset::Stop) return cloudsim::FaultRule("*", k, "", 0, "term");
    return FaultAt(k, upset == Upset::Crash);
}

inline const char* UpsetName(Upset upset) {
    return upset == Upset::Crash ? "crash" : upset == Upset::Stop ? "stop" : "fault";
}

// A job stopped by a stop request says so: the plug-in's "Job interrupted"
// or the data mover's "cancelled".
inline bool SaysStopped(const std::string& output) {
    return output.find("interrupted") != std::string::npos || output.find("cancelled") != std::string::npos;
}

// The call indexes of a run: about spread of them from 1 to calls (CI);
// SWEEP_EXHAUSTIVE=1 gives every index, SWEEP_K=k index k alone (whose
// folder the sweep then keeps, for a look at its logs).
inline std::vector<int> Indexes(int calls, int spread) {
    if (const char* one = std::getenv("SWEEP_K")) return {std::atoi(one)};
    std::vector<int> ks;
    const char* all = std::getenv("SWEEP_EXHAUSTIVE");
    const int stride = all && std::string(all) == "1" ? 1 : std::max(1, calls / spread);
    for (int k = 1; k <= calls; k += stride) ks.push_back(k);
    if (ks.back() != calls) ks.push_back(calls);
    return ks;
}

// What a restore or replication may make and must not leave: live volumes,
// snapshots, AMIs and instances, by id.
inline std::set<std::string> Made(cloudsim::Cloud& cloud) {
    std::set<std::string> ids;
    cloud.Read([&](const cloudsim::State& s) {
        for (const auto& [id, v] : s.volumes)
            if (v.state != "deleting") ids.insert(id);
        for (const auto& [id, snap] : s.snapshots) ids.insert(id);
        for (const auto& [id, im] : s.images)
            if (im.state != "deregistered") ids.insert(id);
        for (const auto& [id, i] : s.instances)
            if (i.state != "terminated" && i.state != "shutting-down") ids.insert(id);
    });
    return ids;
}

// What a "stuck" fault held up ends some time later on AWS: every pending
// change of the cloud completes as it would have.
inline void UnstickAll(cloudsim::Cloud& cloud) {
    const auto unstick = [](cloudsim::Transition& t) {
        if (t.fault == "stuck") t.fault.clear();
    };
    cloud.Write([&](cloudsim::State& s) {
        for (auto& [id, v] : s.volumes) unstick(v.pending);
        for (auto& [id, snap] : s.snapshots) unstick(snap.pending);
        for (auto& [id, im] : s.images) unstick(im.pending);
        for (auto& [id, i] : s.instances) unstick(i.pending);
    });
}

// Whether the run's folder goes once it is checked.
inline bool KeepsFolders() { return std::getenv("SWEEP_K") != nullptr; }

// A fresh agent base folder under parent with its simulated cloud, where a
// sweep's golden state begins; empty when the host cannot make it.
inline std::string NewGolden(const std::string& parent) {
    const std::string golden = parent + "/golden";
    int code = -1;
    RunCommand("mkdir -p " + Quote(golden), code);
    if (code == 0) RunHost("--base " + golden, code);
    return code == 0 ? golden : std::string();
}

// The swept job, run in a base folder: its output, its exit code in code.
using Job = std::function<std::string(const std::string& base, int& code)>;

// How many bridge calls a clean run of job makes in a fresh copy of golden at
// base; 0 when the run fails, its output in out either way. cloud, when
// given, receives the run's cloud for the caller's checks of a clean run.
inline int CountCalls(const std::string& golden, const std::string& base, const Job& job, std::string& out,
                      std::shared_ptr<cloudsim::Cloud>* cloud = nullptr) {
    if (!CopyBase(golden, base)) {
        out = "cannot copy " + golden + " to " + base;
        return 0;
    }
    auto counted = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    counted->AddFault(cloudsim::FaultRule("*", 0, "", 0, "count"));
    int code = -1;
    out = job(base, code);
    int calls = 0;
    counted->Read([&](const cloudsim::State& s) { calls = s.faults.front().seen; });
    counted->ClearFaults();
    if (cloud) *cloud = counted;
    return code == 0 ? calls : 0;
}

// One run's folder: a fresh copy of golden at base, its cloud open, and this
// process on the clock the host's processes share through the folder.
inline std::shared_ptr<cloudsim::Cloud> PrepareRun(const std::string& golden, const std::string& base) {
    EXPECT_TRUE(CopyBase(golden, base)) << base;
    FwClock::Set(std::make_shared<SkipSleepClock>(base + "/clock-offset", true, 0));
    return cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
}

// How the upset run ended, each end checked for what it must say: a SIGKILL
// is the shell's 128 + 9, a stop says so, a failure gives its reason (reason:
// a word its output holds).
enum class Ended { Killed, RodeOut, Stopped, Failed };

inline Ended Judge(int k, Upset upset, int code, const std::string& out, const char* reason = "error") {
    if (upset == Upset::Crash) {
        EXPECT_EQ(137, code) << "k=" << k << " the job was not killed\n" << out;
        return Ended::Killed;
    }
    if (code == 0) return Ended::RodeOut;
    if (upset == Upset::Stop) {
        EXPECT_TRUE(SaysStopped(out)) << "k=" << k << " not stopped as asked\n" << out;
        return Ended::Stopped;
    }
    EXPECT_NE(std::string::npos, out.find(reason)) << "k=" << k << " failed without a reason\n" << out;
    return Ended::Failed;
}

// The run's folder goes, unless SWEEP_K keeps it for a look.
inline void Discard(const std::string& base) {
    int code = -1;
    if (!KeepsFolders()) RunCommand("rm -rf " + Quote(base), code);
}

}  // namespace sweep
