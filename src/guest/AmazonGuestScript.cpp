// Running a script in the guest through run-command, from a file or as text.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"

using namespace AmazonGuest;
using AmazonGuard::Guarded;

int CAmazonInfo::ExecuteScriptInGuest(const GuestCtx& ctx, const std::string& scriptFile, const std::string&,
                                      const std::string& parameters, int timeoutSeconds, const std::string&,
                                      int& exitCode) {
    const char* const fn = __PRETTY_FUNCTION__;
    // Defined on every path, also when the script is not awaited or fails.
    exitCode = -1;
    return Guarded(fn, 0, [&] {
        if (!FwFile::Exists(scriptFile)) {
            EvDebug::Debug(fn, "Script file [%s] does not exist.", scriptFile.c_str());
            return 0;
        }
        std::string script;
        if (!FwFile::ReadAll(scriptFile, script)) {
            EvDebug::Debug(fn, "Failed to read the file [%s].", scriptFile.c_str());
            SetLastVMErrorDetails("cannot read " + scriptFile);
            return 0;
        }
        return RunGuestScript(fn, ctx, script, parameters, timeoutSeconds, &exitCode);
    });
}

int CAmazonInfo::ExecuteScriptInGuest(const GuestCtx& ctx, const std::string& scriptText, int timeoutSeconds) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] { return RunGuestScript(fn, ctx, scriptText, std::string(), timeoutSeconds, nullptr); });
}

int CAmazonInfo::RunGuestScript(const char* where, const GuestCtx& ctx, const std::string& script,
                                const std::string& parameters, int timeoutSeconds, int* exitCode) {
    const std::string& instanceId = ctx.vm.guid;
    SVMInfo vm;
    std::string missing;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge, [&] { return m_pSourceBridge->GetVMInfoForVM("", instanceId, "", ctx.vm.region, 2, 0, vm); },
            missing)) {
        EvDebug::Error(where, "Instance Id [%s] does not exist", instanceId.c_str());
        SetLastVMError(AmazonErrors::kInstanceNotFound, missing);
        return 0;
    }
    std::string lowerOS = vm.guestOS;
    for (char& c : lowerOS) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const bool nonWindows = lowerOS.find("windows") == std::string::npos;
    EvDebug::DebugLvl(where, 2, "Destination instance is running [%s]", vm.guestOS.c_str());
    const std::string region = !ctx.vm.region.empty() ? ctx.vm.region : !vm.region.empty() ? vm.region
                                                                                          : getRegionFromZone(vm.zone);
    // A command the job waits on is registered while it waits; one that is
    // not awaited is the caller's to leave running.
    if (timeoutSeconds > 0 && !RegisterGuestJob(region)) return 0;
    std::string commandId, error;
    if (!m_pSourceBridge->RunScriptOnGuest(region, "", "", instanceId, script, parameters, commandId, error,
                                           nonWindows)) {
        EvDebug::Debug(where, "Failed to execute script on guest instance [%s].", instanceId.c_str());
        SetLastVMErrorDetails(error);
        return 0;
    }
    if (timeoutSeconds > 0) RegisterGuestCommand(commandId, region);
    if (timeoutSeconds > 0) {
        if (!WaitForCommand(region, commandId, timeoutSeconds)) return 0;
        if (exitCode) *exitCode = 0;
    }
    return 1;
}
