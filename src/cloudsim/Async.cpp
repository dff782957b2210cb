// JSON of the asynchronous model: durations and transitions.
#include "cloudsim/Async.h"

namespace cloudsim {

using namespace schema;

void CheckFaultKind(const std::string& kind, const std::string& where, bool ruleKinds) {
    if (kind.empty() || kind == "stuck" || kind == "error") return;
    if (ruleKinds && (kind == "fail" || kind == "conflict" || kind == "count" || kind == "kill" ||
                      kind == "term")) return;
    Fail(where, "unknown fault kind '" + kind + "'");
}

const Table<Timing>& TimingTable() {
    static const Table<Timing> table{
        {Member("volumeCreateMs", &Timing::volumeCreateMs), Member("attachMs", &Timing::attachMs),
         Member("detachMs", &Timing::detachMs), Member("deleteMs", &Timing::deleteMs),
         Member("snapshotMs", &Timing::snapshotMs), Member("amiMs", &Timing::amiMs),
         Member("modifyMs", &Timing::modifyMs), Member("optimizeMs", &Timing::optimizeMs),
         Member("instanceStartMs", &Timing::instanceStartMs), Member("instanceStopMs", &Timing::instanceStopMs),
         Member("commandMs", &Timing::commandMs),
         Member("statusCheckMs", &Timing::statusCheckMs)},
        [](Timing& t, const Fields& in) {
            for (int64_t v : {t.volumeCreateMs, t.attachMs, t.detachMs, t.deleteMs, t.snapshotMs, t.amiMs,
                              t.modifyMs, t.optimizeMs, t.instanceStartMs, t.instanceStopMs, t.statusCheckMs})
                if (v < 0) Fail(in.Where(), "durations must not be negative");
        }};
    return table;
}

const Table<Transition>& TransitionTable() {
    static const Table<Transition> table{
        {Member("to", &Transition::to), Member("readyAtMs", &Transition::readyAtMs),
         IfSet("fault", &Transition::fault)},
        [](Transition& t, const Fields& in) { CheckFaultKind(t.fault, in.Where("fault"), false); }};
    return table;
}

}  // namespace cloudsim
