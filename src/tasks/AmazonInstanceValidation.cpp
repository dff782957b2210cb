// Waiting until a restored instance passed (or failed) its status checks.
#include "bridge/AmazonSDKBridge.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskErrors.h"
#include "tasks/AmazonTaskUtils.h"

bool CAmazonTaskUtils::CompleteInstanceValidationTask(const std::string& instanceId, const std::string& /*region*/,
                                                      bool useSourceAccount) {
    return RunCall(__func__, useSourceAccount, AmazonErrors::kInstanceValidation,
                   [&] { return _CompleteInstanceValidationTask(instanceId); });
}

bool CAmazonTaskUtils::_CompleteInstanceValidationTask(const std::string& instanceId) {
    m_checkQuitFlag = true;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Waiting for completion of instance validation task. instance id [%s]",
                   instanceId.c_str());
    bool timedOut = false;
    bool interrupted = false;
    if (WaitForInstanceValidationTask(instanceId, timedOut, interrupted)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully completed instance validation [%s] task. ",
                       instanceId.c_str());
        return true;
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "Instance validation task [%s] failed. Error [%s]", instanceId.c_str(),
                   WaitFailureReason(timedOut, interrupted).c_str());
    SetWaitError(AmazonErrors::kInstanceValidation, timedOut, interrupted, AmazonTaskErrors::kValidationAdvice);
    return false;
}

bool CAmazonTaskUtils::WaitForInstanceValidationTask(const std::string& instanceId, bool& timedOut,
                                                     bool& interrupted) {
    const WaitTimes t = InstanceValidationWaitTimes();
    return _WaitForInstanceValidationTask(instanceId, t.timeoutSec, t.delaySec, timedOut, interrupted);
}

bool CAmazonTaskUtils::_WaitForInstanceValidationTask(const std::string& instanceId, int64_t timeoutSec,
                                                      int64_t delaySec, bool& timedOut, bool& interrupted) {
    const char* tag = __PRETTY_FUNCTION__;
    std::string folder;
    const bool screenshots = SaveScreenshotsWhileValidating() && GetTempDirectoryForInstance(instanceId, folder);
    if (screenshots) EvDebug::Debug(tag, "Screenshots will be saved to: [%s]", folder.c_str());
    auto poll = [&](int number, bool& succeeded) {
        const bool stop = IsInstanceValidationTaskCompleted(instanceId, succeeded);
        if (screenshots) MaybeSaveScreenshot(instanceId, folder, number, delaySec);
        return stop;
    };
    const WaitEnd end = PollUntilDone({timeoutSec, delaySec}, poll, [&] {
        EvDebug::DebugLvl(tag, 2, "Task [%s] is running.", instanceId.c_str());
    });
    if (end == WaitEnd::Succeeded || end == WaitEnd::Failed)
        EvDebug::Debug(tag, "Task [%s] completed.", instanceId.c_str());
    if (end == WaitEnd::TimedOut) EvDebug::Error(tag, "Task timed out.");
    // What the instance printed is the best clue to why it did not come up;
    // a cancelled job has no use for it.
    if (end == WaitEnd::Failed || end == WaitEnd::TimedOut) GetAmazonSDKBridge()->LogConsoleOutput(instanceId);
    return Outcome(end, timedOut, interrupted);
}

bool CAmazonTaskUtils::IsInstanceValidationTaskCompleted(const std::string& instanceId, bool& succeeded) {
    succeeded = false;
    return GetAmazonSDKBridge()->IsInstanceValidationtaskCompleted(instanceId, succeeded);
}

// Every second poll leaves a picture of the screen, so that a boot that
// hangs can be followed afterwards.
void CAmazonTaskUtils::MaybeSaveScreenshot(const std::string& instanceId, const std::string& folder,
                                           int pollNumber, int64_t delaySec) {
    if (delaySec > 0 && pollNumber % 2 == 0) SaveInstanceScreenshot(instanceId, folder);
}
