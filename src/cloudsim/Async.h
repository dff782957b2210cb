#pragma once
// Asynchronous work: how long each kind of change takes, and the change a
// resource has under way. A resource whose change is under way carries a
// Transition (where it goes, when it gets there, and whether a fault rule
// stalled it or made it fail); Settle() (CloudState.h) applies what is due.
#include <cstdint>
#include <string>

#include "cloudsim/Schema.h"

namespace cloudsim {

// Durations of the asynchronous work, in (virtual) milliseconds.
struct Timing {
    int64_t volumeCreateMs = 15000;
    int64_t attachMs = 5000;
    int64_t detachMs = 5000;
    int64_t deleteMs = 2000;
    int64_t snapshotMs = 60000;
    int64_t amiMs = 120000;
    int64_t modifyMs = 30000;            // "modifying" lasts this long ...
    int64_t optimizeMs = 60000;          // ... then "optimizing" this long
    int64_t instanceStartMs = 30000;     // pending -> running
    int64_t instanceStopMs = 20000;      // stopping -> stopped, shutting-down -> terminated
    int64_t statusCheckMs = 60000;       // initializing -> ok, counted from running
    int64_t commandMs = 4000;            // a run-command invocation, sent to done
};

// A change under way. Fault kinds: "stuck" never completes; "error" ends in
// the resource's error state (volume "error", snapshot "error", image
// "failed", modification "failed", status check "impaired").
struct Transition {
    std::string to;                      // the state reached; empty: nothing under way
    int64_t readyAtMs = 0;
    std::string fault;                   // "", "stuck" or "error"

    bool Active() const { return !to.empty(); }
    bool Due(int64_t nowMs) const { return Active() && fault != "stuck" && nowMs >= readyAtMs; }
};

const schema::Table<Timing>& TimingTable();
const schema::Table<Transition>& TransitionTable();

// A transition field, written only while a change is under way.
template <class R>
schema::Field<R> PendingField(const char* name, Transition R::*m) {
    return schema::Nested(name, m, TransitionTable(), [](const Transition& t) { return t.Active(); });
}

// Fails unless kind is a fault a resource can carry ("", "stuck", "error"),
// or with ruleKinds also one a fault rule can have.
void CheckFaultKind(const std::string& kind, const std::string& where, bool ruleKinds);

}  // namespace cloudsim
