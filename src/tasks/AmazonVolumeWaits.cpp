// Waits for a volume to reach a state and for a volume modification to
// finish.
#include <boost/algorithm/string/predicate.hpp>

#include "bridge/AmazonSDKBridge.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskUtils.h"

using boost::algorithm::iequals;

namespace {

// The AWS state text a volume state stands for; null when there is none.
const char* VolumeStateText(int state) {
    switch (state) {
        case CAmazonTaskUtils::VolumeAvailable: return "Available";
        case CAmazonTaskUtils::VolumeInUse: return "In-Use";
        case CAmazonTaskUtils::VolumeDetached: return "Available";
        case CAmazonTaskUtils::VolumeDeleted: return "Deleted";
        default: return nullptr;
    }
}

const char* ModificationStateText(int state) {
    switch (state) {
        case CAmazonTaskUtils::ModCompleted: return "Completed";
        case CAmazonTaskUtils::ModFailed: return "Failed";
        case CAmazonTaskUtils::ModModifying: return "Modifying";
        case CAmazonTaskUtils::ModOptimizing: return "Optimizing";
        default: return nullptr;
    }
}

}  // namespace

bool CAmazonTaskUtils::WaitForVolumeTask(const std::string& volumeId, int state, const std::string& region,
                                         int defaultTimeoutMin, bool& timedOut, bool& interrupted) {
    const WaitTimes t = VolumeWaitTimes(defaultTimeoutMin);
    return _WaitForVolumeTask(volumeId, state, region, t.timeoutSec, t.delaySec, timedOut, interrupted);
}

bool CAmazonTaskUtils::_WaitForVolumeTask(const std::string& volumeId, int state, const std::string& region,
                                          int64_t timeoutSec, int64_t delaySec, bool& timedOut, bool& interrupted) {
    const char* tag = __PRETTY_FUNCTION__;
    const WaitEnd end = PollUntilDone(
        {timeoutSec, delaySec},
        [&](int, bool& succeeded) { return IsVolumeTaskCompleted(volumeId, state, region, succeeded); },
        [&] { EvDebug::DebugLvl(tag, 2, "Volume [%s] Task [%d] is running.", volumeId.c_str(), state); });
    if (end == WaitEnd::Succeeded || end == WaitEnd::Failed)
        EvDebug::DebugLvl(tag, 2, "Volume [%s] Task [%d] completed.", volumeId.c_str(), state);
    else if (end == WaitEnd::TimedOut)
        EvDebug::Error(tag, "Volume [%s] Task [%d] timed out.", volumeId.c_str(), state);
    return Outcome(end, timedOut, interrupted);
}

bool CAmazonTaskUtils::IsVolumeTaskCompleted(const std::string& volumeId, int state, const std::string& region,
                                             bool& succeeded) {
    succeeded = false;
    const char* wanted = VolumeStateText(state);
    if (!wanted) return true;
    VMInfoStructs::SDisk disk;
    bool notFound = false;
    const bool ok = GetAmazonSDKBridge()->GetVolumeInfo(volumeId, region, disk, notFound);
    EvDebug::Debug(__PRETTY_FUNCTION__, "Required state [%s] current state [%s]", wanted, disk.state.c_str());
    if (notFound) {
        // A volume that is gone is as detached as it gets.
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] not found in region [%s].", volumeId.c_str(), region.c_str());
        succeeded = state == VolumeDetached || state == VolumeDeleted;
        if (!succeeded) m_waitFailure = "Volume [" + volumeId + "] not found in region [" + region + "]";
        return true;
    }
    if (!ok) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to get volume [%s] info. Error [%s]", volumeId.c_str(),
                       BridgeError().c_str());
        return true;
    }
    if (iequals(disk.state, "Error")) {
        m_waitFailure = "Volume [" + volumeId + "] is in state [" + disk.state + "]";
        return true;
    }
    succeeded = iequals(disk.state, wanted);
    // A volume is "in-use" from the attach request on; the attach is done
    // once its attachment is "attached".
    if (state == VolumeInUse && succeeded && !iequals(disk.attachState, "attached")) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] attachment state [%s]", volumeId.c_str(),
                       disk.attachState.c_str());
        succeeded = false;
    }
    return succeeded;
}

bool CAmazonTaskUtils::WaitForVolumeModifyTask(const std::string& volumeId, int state, const std::string& region,
                                               bool& timedOut, bool& interrupted) {
    const WaitTimes t = VolumeModifyWaitTimes();
    return _WaitForVolumeModifyTask(volumeId, state, region, t.timeoutSec, t.delaySec, timedOut, interrupted);
}

bool CAmazonTaskUtils::_WaitForVolumeModifyTask(const std::string& volumeId, int state, const std::string& region,
                                                int64_t timeoutSec, int64_t delaySec, bool& timedOut,
                                                bool& interrupted) {
    const char* tag = __PRETTY_FUNCTION__;
    const WaitEnd end = PollUntilDone(
        {timeoutSec, delaySec},
        [&](int, bool& succeeded) { return IsVolumeModifyTaskCompleted(volumeId, state, region, succeeded); },
        [&] { EvDebug::DebugLvl(tag, 2, "Volume [%s] modify Task [%d] is running.", volumeId.c_str(), state); });
    if (end == WaitEnd::Succeeded || end == WaitEnd::Failed)
        EvDebug::Debug(tag, "Volume [%s] modify Task [%d] completed.", volumeId.c_str(), state);
    else if (end == WaitEnd::TimedOut)
        EvDebug::Error(tag, "Task timed out.");
    return Outcome(end, timedOut, interrupted);
}

bool CAmazonTaskUtils::IsVolumeModifyTaskCompleted(const std::string& volumeId, int state,
                                                   const std::string& region, bool& succeeded) {
    succeeded = false;
    const char* wanted = ModificationStateText(state);
    if (!wanted) return true;
    std::string current;
    if (!GetAmazonSDKBridge()->GetVolumeModifyTaskInfo(volumeId, region, current)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get volume [%s] modification info. Error [%s]",
                       volumeId.c_str(), BridgeError().c_str());
        return true;
    }
    if (iequals(current, "Failed")) {
        m_waitFailure = "Modification of volume [" + volumeId + "] is in state [" + current + "]";
        return true;
    }
    // Optimizing comes before completed; a modification already completed
    // has passed the wanted state.
    succeeded = iequals(current, wanted) || iequals(current, "Completed");
    return succeeded;
}
