// The task utility's core: bridge choice, sleeping, the shared poll loop and
// the recording of failures on the owner.
#include "tasks/AmazonTaskUtils.h"

#include <algorithm>
#include <exception>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/BridgeSet.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/VMInfo.h"
#include "tasks/AmazonTaskErrors.h"

namespace {

constexpr int64_t kSleepStepSec = 5;

// use-source-account holds only for the call that asked for it, whichever
// way that call ends.
class SourceAccountScope {
public:
    SourceAccountScope(bool& flag, bool value) : m_flag(flag) { m_flag = value; }
    ~SourceAccountScope() { m_flag = false; }
    SourceAccountScope(const SourceAccountScope&) = delete;
    SourceAccountScope& operator=(const SourceAccountScope&) = delete;

private:
    bool& m_flag;
};

}  // namespace

CAmazonTaskUtils::CAmazonTaskUtils(CAmazonSDKBridge* sourceBridge, CAmazonSDKBridge* adminBridge,
                                   CVMInfo* owner)
    : m_sourceBridge(sourceBridge), m_adminBridge(adminBridge), m_owner(owner) {}

CAmazonSDKBridge* CAmazonTaskUtils::GetAmazonSDKBridge() const {
    return AmazonCommon::ChooseBridge(m_sourceBridge, m_adminBridge, m_useSourceAccount);
}

bool CAmazonTaskUtils::SleepWithQuitFlagCheck(int64_t seconds) {
    for (int64_t slept = 0; slept < seconds; slept += kSleepStepSec) {
        FwClock::SleepMs(kSleepStepSec * 1000);
        if (m_checkQuitFlag && m_owner && m_owner->IsJobCancelled()) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Detected Quit flag");
            return false;
        }
    }
    return true;
}

CAmazonTaskUtils::WaitEnd CAmazonTaskUtils::PollUntilDone(const WaitTimes& times, const Poll& poll,
                                                          const std::function<void()>& onRunning) {
    m_waitFailure.clear();
    // Without a positive delay nothing would ever be slept and the loop
    // would poll for ever; one sleep step per poll keeps the time-out.
    const int64_t delaySec = times.delaySec > 0 ? times.delaySec : kSleepStepSec;
    const int64_t timeoutMs = times.timeoutSec * 1000;
    const int64_t startMs = FwClock::NowMs();
    int64_t sleepSec = delaySec;
    for (int number = 1;; ++number) {
        if (!SleepWithQuitFlagCheck(sleepSec)) return WaitEnd::Interrupted;
        bool succeeded = false;
        if (poll(number, succeeded)) return succeeded ? WaitEnd::Succeeded : WaitEnd::Failed;
        onRunning();
        const int64_t elapsedMs = FwClock::NowMs() - startMs;
        if (elapsedMs >= timeoutMs) return WaitEnd::TimedOut;
        const int64_t leftSec = (timeoutMs - elapsedMs + 999) / 1000;
        sleepSec = std::min(delaySec, leftSec);
    }
}

bool CAmazonTaskUtils::Outcome(WaitEnd end, bool& timedOut, bool& interrupted) {
    timedOut = end == WaitEnd::TimedOut;
    interrupted = end == WaitEnd::Interrupted;
    return end == WaitEnd::Succeeded;
}

void CAmazonTaskUtils::SetOwnerError(int code, const std::string& details) {
    if (m_owner) m_owner->SetLastVMError(code, details);
}

void CAmazonTaskUtils::SetWaitError(int code, bool timedOut, bool interrupted, const char* advice) {
    if (!m_owner) return;
    if (interrupted) {
        AmazonErrors::SetInterrupted(*m_owner);
        return;
    }
    SetOwnerError(code, timedOut ? std::string(advice) : WaitFailure());
}

std::string CAmazonTaskUtils::WaitFailure() const { return m_waitFailure.empty() ? BridgeError() : m_waitFailure; }

std::string CAmazonTaskUtils::BridgeError() const {
    return AmazonCommon::BridgeError(GetAmazonSDKBridge());
}

bool CAmazonTaskUtils::RunCall(const char* operation, bool useSourceAccount, int code,
                               const std::function<bool()>& body) {
    SourceAccountScope scope(m_useSourceAccount, useSourceAccount);
    try {
        if (!GetAmazonSDKBridge()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "%s: no AWS connection", operation);
            if (code) SetOwnerError(code, "no AWS connection");
            return false;
        }
        return body();
    } catch (const std::exception& e) {
        EvDebug::Error(__PRETTY_FUNCTION__, "%s failed: %s", operation, e.what());
        if (code) SetOwnerError(code, e.what());
    } catch (...) {
        EvDebug::Error(__PRETTY_FUNCTION__, "%s failed: unexpected exception", operation);
        if (code) SetOwnerError(code, "unexpected failure");
    }
    return false;
}

std::string CAmazonTaskUtils::WaitFailureReason(bool timedOut, bool interrupted) const {
    if (interrupted) return AmazonErrors::kInterruptedText;
    if (timedOut) return "task timed out";
    return WaitFailure();
}
