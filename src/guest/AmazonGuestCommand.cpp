// Run-command round trips: submit, wait with cancellation and time-out, and
// read the output the guest left in the bucket.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"

using namespace AmazonGuest;

bool CAmazonInfo::RunBrowseQuery(const std::string& instanceId, const std::string& extra, const std::string& region,
                                 const std::string& bucket, const std::string& folder, const std::string& command,
                                 std::string& output, std::string& error) {
    const char* const fn = __PRETTY_FUNCTION__;
    std::string commandId;
    // The command's output goes under the staging folder.
    RegisterGuestStaging();
    // Browse commands always go as PowerShell, on every platform.
    if (!m_pSourceBridge->RunScriptOnGuest(region, bucket, folder, instanceId, command, extra, commandId, error,
                                           false)) {
        EvDebug::Error(fn, "Failed to submit command [%s]. [%s]", command.c_str(), error.c_str());
        return false;
    }
    RegisterGuestCommand(commandId, region);
    return VerifyRemoteCmdResult(region, bucket, folder, instanceId, commandId, output, error);
}

bool CAmazonInfo::VerifyRemoteCmdResult(const std::string& region, const std::string& bucket,
                                        const std::string& folder, const std::string& instanceId,
                                        const std::string& commandId, std::string& output, std::string& error) {
    const char* const fn = __PRETTY_FUNCTION__;
    const std::string outputFolder = folder + "/RunCommandDir";
    if (!WaitForCommand(region, commandId, 0)) {
        EvDebug::Debug(fn, "WaitForCommand [%s] Failed.", commandId.c_str());
        return false;
    }
    if (!m_pSourceBridge->GetRunCommandResult(bucket, m_guest.bucketRegion, folder, instanceId, commandId, output,
                                              error)) {
        EvDebug::Error(fn, "Could not fetch the results of command [%s]", commandId.c_str());
        return false;
    }
    if (!error.empty()) {
        EvDebug::Error(fn, "Command [%s] has failed with [%s]", commandId.c_str(), error.c_str());
        return false;
    }
    EvDebug::DebugLvl(fn, 2, "Command result was :\n[%s]", output.c_str());
    CleanUpGuestFolderOnS3(m_guest.bucketRegion, bucket, outputFolder);
    return true;
}

bool CAmazonInfo::WaitForCommand(const std::string& region, const std::string& commandId, long timeoutSeconds) {
    const char* const fn = __PRETTY_FUNCTION__;
    // Zero, and a negative value that would otherwise end the wait before
    // its first poll, mean the default day.
    const long timeout = timeoutSeconds <= 0 ? kDefaultCommandTimeoutSec : timeoutSeconds;
    EvDebug::DebugLvl(fn, 2, "Timeout value [%lu] seconds", static_cast<unsigned long>(timeout));
    long elapsed = 0;
    bool success = false;
    bool timedOut = false;
    for (;;) {
        if (IsJobCancelled()) {
            EvDebug::Debug(fn, "Detected Quit flag");
            AmazonErrors::SetInterrupted(*this);
            std::string error;
            if (!m_pSourceBridge->CancelCommand(region, commandId, error) || !error.empty())
                EvDebug::Debug(fn, "Error [%s] during cancelling command [%s].", error.c_str(), commandId.c_str());
            else
                ReleaseGuestCommand(commandId);   // else the next clean-up cancels it
            return false;
        }
        FwClock::SleepMs(kCommandPollSec * 1000);
        elapsed += kCommandPollSec;
        std::string status;
        bool ok = false;
        if (m_pSourceBridge->isCommandComplete(region, commandId, status, ok)) {
            EvDebug::Debug(fn, "Command [%s] completed; Status [%s].", commandId.c_str(), status.c_str());
            success = ok;
            break;
        }
        EvDebug::DebugLvl(fn, 2, "Command [%s] : [%s].", commandId.c_str(), status.c_str());
        if (elapsed >= timeout) {
            EvDebug::Debug(fn, "Command timed out.");
            timedOut = true;
            break;
        }
    }
    // Finished, or timed out: a time-out leaves the command running on the
    // instance by design (a caller's long script), no longer the job's to stop.
    ReleaseGuestCommand(commandId);
    if (!success) {
        const std::string details = timedOut ? std::string("Command execution has timed out.")
                                             : AmazonCommon::BridgeError(m_pSourceBridge.get());
        SetLastVMErrorDetails(details.empty() ? "Command [" + commandId + "] did not succeed." : details);
    }
    return success;
}
