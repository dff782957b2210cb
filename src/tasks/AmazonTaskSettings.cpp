// Time-outs and polling delays of the waits, from the agent's settings.
#include "framework/EvDebug.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AmazonTaskUtils.h"

namespace {

const char kSection[] = "VirtualServer";

// The job's settings: a per-job focus may override the agent-wide values.
KDPlatformInfo JobSettings() {
    KDPlatformInfo settings;
    settings.setFocus(KDPI_Focus::getFocus());
    return settings;
}

long long Number(const KDPlatformInfo& settings, const char* key, long long fallback) {
    long long value = fallback;
    settings.getNumber(kSection, key, value);
    return value;
}

void LogTimes(const char* tag, int64_t timeoutSec, int64_t delaySec) {
    EvDebug::DebugLvl(tag, 2, "Timeout value [%ld] seconds, polling delay [%ld] seconds", static_cast<long>(timeoutSec),
                      static_cast<long>(delaySec));
}

}  // namespace

CAmazonTaskUtils::WaitTimes CAmazonTaskUtils::VolumeWaitTimes(int defaultTimeoutMin) {
    const KDPlatformInfo settings = JobSettings();
    const long long fallbackMin = defaultTimeoutMin != 0 ? defaultTimeoutMin : 10;
    WaitTimes t{Number(settings, "nAmazonVolumeTaskTimeOutInMin", fallbackMin) * 60,
                Number(settings, "nAmazonVolumeTaskPollingInSecs", 10)};
    LogTimes(__PRETTY_FUNCTION__, t.timeoutSec, t.delaySec);
    return t;
}

CAmazonTaskUtils::WaitTimes CAmazonTaskUtils::VolumeModifyWaitTimes() {
    const KDPlatformInfo settings = JobSettings();
    WaitTimes t{Number(settings, "nAmazonVolumeModifyTaskTimeOutInMin", 360) * 60,
                Number(settings, "nAmazonVolumeModifyTaskPollingInSecs", 30)};
    LogTimes(__PRETTY_FUNCTION__, t.timeoutSec, t.delaySec);
    return t;
}

// AMI and snapshot creation share one time-out; hours, when set, win over
// seconds.
CAmazonTaskUtils::WaitTimes CAmazonTaskUtils::AMIWaitTimes() {
    const KDPlatformInfo settings = JobSettings();
    WaitTimes t{Number(settings, "AMITimeoutInSec", 86400), Number(settings, "AMIPollingDelayInSec", 120)};
    const long long hours = Number(settings, "AMITimeoutInHour", 0);
    if (hours != 0) t.timeoutSec = hours * 3600;
    LogTimes(__PRETTY_FUNCTION__, t.timeoutSec, t.delaySec);
    return t;
}

CAmazonTaskUtils::WaitTimes CAmazonTaskUtils::InstanceValidationWaitTimes() {
    const KDPlatformInfo settings;
    WaitTimes t{Number(settings, "nAmazonValidateInstanceStatusTaskTimeOutInMin", 30) * 60,
                Number(settings, "nAmazonValidateInstanceStatusPollingSec", 30)};
    LogTimes(__PRETTY_FUNCTION__, t.timeoutSec, t.delaySec);
    return t;
}

bool CAmazonTaskUtils::WaitForModificationCompletion() {
    return Number(JobSettings(), "nAmazonWaitForVolumeModificationTask", 0) != 0;
}

bool CAmazonTaskUtils::SaveScreenshotsWhileValidating() {
    bool save = false;
    KDPlatformInfo().getBoolean(kSection, "bSaveInstanceScreenshots", save);
    return save;
}
