// Waiting for a list of snapshots the caller requested.
#include <set>

#include <boost/algorithm/string/predicate.hpp>

#include "bridge/AmazonSDKBridge.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskErrors.h"
#include "tasks/AmazonTaskUtils.h"

using boost::algorithm::iequals;

namespace {

const char* SnapshotStateText(int state) {
    switch (state) {
        case CAmazonTaskUtils::SnapshotCompleted: return "Completed";
        case CAmazonTaskUtils::SnapshotPending: return "Pending";
        default: return nullptr;
    }
}

}  // namespace

bool CAmazonTaskUtils::CompleteSnapshotTask(const std::vector<std::string>& snapshotIds, const std::string& region,
                                            bool useSourceAccount) {
    return RunCall(__func__, useSourceAccount, AmazonErrors::kAMIOrSnapshotTask,
                   [&] { return _CompleteSnapshotTask(snapshotIds, region); });
}

bool CAmazonTaskUtils::_CompleteSnapshotTask(const std::vector<std::string>& snapshotIds,
                                             const std::string& region) {
    m_checkQuitFlag = true;
    if (snapshotIds.empty()) return true;
    bool timedOut = false;
    bool interrupted = false;
    if (WaitForSnapshotTask(snapshotIds, SnapshotCompleted, region, timedOut, interrupted)) return true;
    EvDebug::Error(__PRETTY_FUNCTION__, "Create snapshot task failed. Error [%s]",
                   WaitFailureReason(timedOut, interrupted).c_str());
    SetWaitError(AmazonErrors::kAMIOrSnapshotTask, timedOut, interrupted, AmazonTaskErrors::kSnapshotAdvice);
    return false;
}

bool CAmazonTaskUtils::WaitForSnapshotTask(const std::vector<std::string>& snapshotIds, int state,
                                           const std::string& region, bool& timedOut, bool& interrupted) {
    const WaitTimes t = AMIWaitTimes();
    return _WaitForSnapshotTask(snapshotIds, state, region, t.timeoutSec, t.delaySec, timedOut, interrupted);
}

bool CAmazonTaskUtils::_WaitForSnapshotTask(const std::vector<std::string>& snapshotIds, int state,
                                            const std::string& region, int64_t timeoutSec, int64_t delaySec,
                                            bool& timedOut, bool& interrupted) {
    const char* tag = __PRETTY_FUNCTION__;
    std::set<std::string> completed;
    // One pass polls, in list order, the snapshots not yet completed; any
    // failed snapshot fails the whole list.
    auto pass = [&](int, bool& succeeded) {
        for (const auto& id : snapshotIds) {
            if (completed.count(id)) continue;
            bool ok = false;
            if (!IsSnapshotTaskCompleted(id, state, region, ok)) {
                EvDebug::DebugLvl(tag, 5, "Snapshot [%s] creation task is running.", id.c_str());
                continue;
            }
            if (!ok) {
                succeeded = false;
                return true;
            }
            completed.insert(id);
            EvDebug::Debug(tag, "Snapshot [%s] Task  completed.", id.c_str());
        }
        succeeded = completed.size() == std::set<std::string>(snapshotIds.begin(), snapshotIds.end()).size();
        if (succeeded) EvDebug::DebugLvl(tag, 5, "All snapshots got the success status");
        return succeeded;
    };
    const WaitEnd end = PollUntilDone({timeoutSec, delaySec}, pass, [] {});
    if (end == WaitEnd::TimedOut) EvDebug::Error(tag, "Task timed out.");
    return Outcome(end, timedOut, interrupted);
}

bool CAmazonTaskUtils::IsSnapshotTaskCompleted(const std::string& snapshotId, int state, const std::string& region,
                                               bool& succeeded) {
    succeeded = false;
    const char* wanted = SnapshotStateText(state);
    if (!wanted) return true;
    VMInfoStructs::SChildDisk snapshot;
    if (!GetAmazonSDKBridge()->GetSnapshotInfo(snapshotId, region, snapshot)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get snapshot info for snapshot [%s] Error [%s]",
                       snapshotId.c_str(), BridgeError().c_str());
        return true;
    }
    if (iequals(snapshot.state, "Error")) {
        m_waitFailure = "Snapshot [" + snapshotId + "] is in state [" + snapshot.state + "]";
        EvDebug::Error(__PRETTY_FUNCTION__, "%s", m_waitFailure.c_str());
        return true;
    }
    succeeded = iequals(snapshot.state, wanted);
    return succeeded;
}
