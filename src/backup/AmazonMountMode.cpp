// Choosing how the data mover reaches the instance's disks: volumes attached
// to the proxy (hot-add) or snapshot blocks read over the EBS direct APIs.
#include <cstdio>

#include "backup/MountModes.h"
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "ebsdirect/AmazonDirectSnapshotAccessAPIWrapper.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

using namespace AmazonMount;
using namespace AmazonErrors;

bool CAmazonInfo::SelectMountMode(MountCtx& ctx) {
    if (ctx.transportMode == kModeDirectRead || ctx.transportMode == kModeHotadd) return true;
    if (!ctx.transportMode.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Invalid transport mode: [%s]", ctx.transportMode.c_str());
        ctx.transportMode.clear();
    }
    bool hotadd = true, directRead = true;
    bool preferDirectRead = false;
    if (KDPlatformInfo().getBoolean("VirtualServer", "bAmazonDirectReadEnabled", preferDirectRead)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Read additional setting [%s]: [%s]", "bAmazonDirectReadEnabled",
                       preferDirectRead ? "True" : "False");
        (preferDirectRead ? hotadd : directRead) = false;
    }
    hotadd = hotadd && IsHotaddMountFeasible(ctx);
    directRead = directRead && IsDirectReadMountFeasible(ctx);
    if (!directRead && !hotadd) {
        EvDebug::Error(__PRETTY_FUNCTION__, "No mount methods are feasible.");
        return false;
    }
    ctx.transportMode = directRead ? kModeDirectRead : kModeHotadd;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Selected Mode: [%s]", ctx.transportMode.c_str());
    SetLastVMError(0);
    return true;
}

bool CAmazonInfo::IsHotaddMountFeasible(MountCtx& ctx) {
    if (!_InitProxyInfoForBackup(ctx)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Could not get proxy info. Hotadd mount is not feasible");
        return false;
    }
    if (!ctx.backupToTape && m_proxyVMInfo.region != ctx.vm.region) {
        char text[512];
        snprintf(text, sizeof(text), "Proxy region [%s] and instance region [%s] is different.",
                 m_proxyVMInfo.region.c_str(), ctx.vm.region.c_str());
        SetLastVMError(kRegionMismatch, text);
        EvDebug::Error(__PRETTY_FUNCTION__, "%s", text);
        return false;
    }
    return true;
}

bool CAmazonInfo::IsDirectReadMountFeasible(MountCtx& ctx) {
    if (ctx.liveBrowse && !ctx.proxylessLiveBrowse) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "LiveBrowse mount request without proxyless flag. Direct read is not feasible");
        return false;
    }
    if (!CheckDirectReadPermissions()) return false;
    // Only advice for the job report: direct read works without the endpoint.
    CheckEbsVpcEndpointConfiguration(ctx.vm.region, ctx.failures);
    return true;
}

bool CAmazonInfo::CheckDirectReadPermissions() {
    bool skip = false;
    if (KDPlatformInfo().getBoolean("VirtualServer", "bAmazonSkipDirectReadPermissionsCheck", skip) && skip) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Skipping direct read permissions check as per additional setting");
        return true;
    }
    bool allowed = false;
    std::string error;
    if (AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge,
            [&] { return m_pSourceBridge->CheckPermissions({"ebs:ListSnapshotBlocks", "ebs:GetSnapshotBlock"}, allowed); },
            error) &&
        allowed) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Direct read permission check success");
        return true;
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "Insufficient permissions for EBS direct read");
    // A refusal leaves the bridge's error as it was: its text is still what
    // the job reports.
    if (error.empty()) error = AmazonCommon::BridgeError(m_pSourceBridge.get());
    SetLastVMError(kDirectReadPermissions, error);
    return false;
}

bool CAmazonInfo::CheckEbsVpcEndpointConfiguration(const std::string& region, std::vector<SFailure>& failures) {
    bool configured = false;
    if (!AmazonDirectSnapshotAccessAPI::CAmazonDirectSnapshotAccessAPIWrapper::CheckIfEbsVpcEndpointIsConfigured(
            region, getProxyAWSComponentsFolder(), configured)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "EBS VPC endpoint check failed");
        return false;
    }
    if (!configured) {
        const char* message =
            "VPC endpoint for EBS service is not in use. For optimal EBS direct performance configure VPC endpoint "
            "for EBS service.";
        failures.push_back(SFailure("", message, {}, {}, true));
        EvDebug::Error(__PRETTY_FUNCTION__, "Warning: %s", message);
        return false;
    }
    return true;
}
