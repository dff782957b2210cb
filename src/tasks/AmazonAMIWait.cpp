// Waiting for an AMI the caller requested, and marking its snapshots.
#include <cstdio>

#include "bridge/AmazonSDKBridge.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskErrors.h"
#include "tasks/AmazonTaskUtils.h"

namespace {

// Snapshots carrying this name are the plug-in's own, whatever the AMI's
// later fate.
const char kSnapshotNameKey[] = "Name";
const char kSnapshotNameValue[] = "_QX_BACKUP_";

// 3725 -> "01:02:05"; hours are not folded into days.
std::string TimeSpan(int64_t seconds) {
    if (seconds < 0) seconds = 0;
    char text[32];
    std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld", static_cast<long long>(seconds / 3600),
                  static_cast<long long>(seconds / 60 % 60), static_cast<long long>(seconds % 60));
    return text;
}

}  // namespace

bool CAmazonTaskUtils::CompleteAMITask(const std::string& amiId, const std::string& /*region*/,
                                       bool useSourceAccount, int64_t* durationSeconds) {
    if (durationSeconds) *durationSeconds = 0;
    return RunCall(__func__, useSourceAccount, AmazonErrors::kAMIOrSnapshotTask,
                   [&] { return _CompleteAMITask(amiId, durationSeconds); });
}

bool CAmazonTaskUtils::_CompleteAMITask(const std::string& amiId, int64_t* durationSeconds) {
    m_checkQuitFlag = true;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Waiting for completion of AMI [%s] task.", amiId.c_str());
    const int64_t startMs = FwClock::NowMs();
    bool timedOut = false;
    bool interrupted = false;
    const bool done = WaitForAMITask(amiId, timedOut, interrupted);
    const int64_t duration = (FwClock::NowMs() - startMs) / 1000;
    if (durationSeconds) *durationSeconds = duration;
    if (!done) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Create AMI task [%s] failed. Error [%s]", amiId.c_str(),
                       WaitFailureReason(timedOut, interrupted).c_str());
        SetWaitError(AmazonErrors::kAMIOrSnapshotTask, timedOut, interrupted, AmazonTaskErrors::kAMIAdvice);
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully created AMI [%s] task.  duration [%s]", amiId.c_str(),
                   TimeSpan(duration).c_str());
    // The AMI is usable without the mark; a missing mark only hides its
    // snapshots from the name-based clean-up, so it does not fail the task.
    if (!GetAmazonSDKBridge()->TagEBSSnapshotsForAMI(amiId, kSnapshotNameKey, kSnapshotNameValue))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to tag the snapshots of AMI [%s]. Error [%s]", amiId.c_str(),
                       BridgeError().c_str());
    return true;
}

bool CAmazonTaskUtils::WaitForAMITask(const std::string& amiId, bool& timedOut, bool& interrupted) {
    const WaitTimes t = AMIWaitTimes();
    return _WaitForAMITask(amiId, t.timeoutSec, t.delaySec, timedOut, interrupted);
}

bool CAmazonTaskUtils::_WaitForAMITask(const std::string& amiId, int64_t timeoutSec, int64_t delaySec,
                                       bool& timedOut, bool& interrupted) {
    const char* tag = __PRETTY_FUNCTION__;
    const WaitEnd end = PollUntilDone(
        {timeoutSec, delaySec}, [&](int, bool& succeeded) { return IsAMITaskCompleted(amiId, succeeded); },
        [&] { EvDebug::DebugLvl(tag, 2, "Task [%s] is running.", amiId.c_str()); });
    if (end == WaitEnd::Succeeded || end == WaitEnd::Failed) EvDebug::Debug(tag, "Task [%s] completed.", amiId.c_str());
    if (end == WaitEnd::TimedOut) EvDebug::Error(tag, "Task timedout.");
    // A cancelled job does not leave an AMI being built for nobody.
    if (end == WaitEnd::Interrupted && !GetAmazonSDKBridge()->CancelAMITask(amiId))
        EvDebug::Error(tag, "Failed to cancel AMI [%s] task. Error [%s]", amiId.c_str(), BridgeError().c_str());
    return Outcome(end, timedOut, interrupted);
}

bool CAmazonTaskUtils::IsAMITaskCompleted(const std::string& amiId, bool& succeeded) {
    succeeded = false;
    return GetAmazonSDKBridge()->IsAMITaskCompleted(amiId, succeeded);
}
