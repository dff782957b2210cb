#pragma once
// What the fault and crash sweeps share: the fault for each call index, the
// indexes a run sweeps, and the copying of a base folder for each run.
#include <algorithm>
#include <cstdlib>
#include <set>
#include <string>
#include <vector>

#include "cloudsim/Cloud.h"
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

}  // namespace sweep
