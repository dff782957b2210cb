// Preparing a running instance for guest file operations: the instance,
// its SSM region, the bucket (shared across accounts when needed) and the
// guest's PowerShell and AWS module.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using namespace AmazonGuest;
using AmazonGuard::Guarded;

namespace {

bool ContainsNoCase(const std::string& text, const std::string& word) {
    auto lower = [](std::string t) {
        for (char& c : t) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return t;
    };
    return lower(text).find(lower(word)) != std::string::npos;
}

}  // namespace

int CAmazonInfo::PrepareGuestForFileCopy(const GuestCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        if (m_guest.prepared) return 1;
        if (!m_pSourceBridge || !m_pAdminBridge) {
            EvDebug::Error(fn, "Instance details are not set");
            return 0;
        }
        const std::string& instanceId = ctx.vm.guid;
        const std::string zone = ctx.vm.zone;
        if (instanceId.empty() || zone.empty()) {
            EvDebug::Error(fn, "Instance details are not set");
            return 0;
        }
        SVMInfo vm;
        std::string error;
        if (!AmazonCommon::QuietBridgeCall(
                *m_pSourceBridge, [&] { return m_pSourceBridge->GetVMInfoForVM("", instanceId, "", "", 2, 0, vm); },
                error)) {
            EvDebug::Error(fn, "Instance Id [%s] does not exist", instanceId.c_str());
            SetLastVMError(AmazonErrors::kInstanceNotFound, error);
            return 0;
        }
        GuestState next = m_guest;
        m_guest.instanceId = instanceId;
        m_guest.ssmRegion = getRegionFromZone(zone);
        if (m_guest.ssmRegion.empty()) {
            EvDebug::Error(fn, "Cannot determine the region from zone [%s] for instance [%s]", zone.c_str(),
                           instanceId.c_str());
            m_guest = next;
            return 0;
        }
        EvDebug::Debug(fn, "Using region [%s] for SSM ", m_guest.ssmRegion.c_str());
        // What the job stages and the commands it waits on are registered
        // under the job's own entry, after the clean-up of dead jobs.
        if (!RegisterGuestJob(m_guest.ssmRegion)) {
            m_guest = next;
            return 0;
        }
        if (!InitAgentlessRestoreS3Bucket() || !CheckCrossAccountAgentless()) {
            SetLastVMError(AmazonErrors::kGuestNoBucket);
            m_guest = next;
            return 0;
        }
        m_guest.nonWindows = !ContainsNoCase(vm.guestOS, "Windows");
        EvDebug::DebugLvl(fn, 2, "Destination instance [%s] running Windows", m_guest.nonWindows ? "is not" : "is");
        if (!CanInstancePerformGuestFileRestore(ctx)) {
            m_guest = next;
            return 0;
        }
        EvDebug::DebugLvl(fn, 2, "Prepared to perform Guest File restore to [%s] in region [%s] using S3 bucket [%s]",
                          ctx.vm.name.empty() ? instanceId.c_str() : ctx.vm.name.c_str(), m_guest.ssmRegion.c_str(),
                          m_guest.bucket.c_str());
        m_guest.prepared = true;
        return 1;
    });
}

bool CAmazonInfo::CheckCrossAccountAgentless() {
    const char* const fn = __PRETTY_FUNCTION__;
    if (!AmazonCommon::IsCrossAccount(m_pSourceBridge.get(), m_pAdminBridge)) return true;
    EvDebug::Debug(fn, "Cross account agentless restore is supported.");
    std::string canonicalId;
    if (!AmazonCommon::BridgeCall(*m_pSourceBridge, fn, [&] { return m_pSourceBridge->GetCanonicalId(canonicalId); },
                                  "Failed to get canonical id. Error : [%s]"))
        return false;
    if (!AmazonCommon::BridgeCall(
            *m_pAdminBridge, fn, [&] { return m_pAdminBridge->ShareBucket(m_guest.bucket, "", canonicalId); },
            "Failed to share bucket [%s] to canonical id [%s]. Error : [%s]", m_guest.bucket.c_str(),
            canonicalId.c_str()))
        return false;
    EvDebug::Debug(fn, "Successfully shared bucket [%s] to canonical id [%s]", m_guest.bucket.c_str(),
                   canonicalId.c_str());
    m_bCrossAccount = true;
    return true;
}

bool CAmazonInfo::CanInstancePerformGuestFileRestore(const GuestCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    const std::string& instanceId = ctx.vm.guid;
    if (!IsPowershellInstalledOnGuest(instanceId)) {
        SetLastVMError(AmazonErrors::kGuestToolsMissing, "Please install Powershell .NET core.");
        return false;
    }
    if (!IsAWSModuleInstalledOnGuest(instanceId)) {
        SetLastVMError(AmazonErrors::kGuestToolsMissing, "Please install AWS powershell Module.");
        return false;
    }
    EvDebug::Debug(fn, "Instance can run guest file restore commands");
    return true;
}

bool CAmazonInfo::IsPowershellInstalledOnGuest(const std::string& instanceId) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (!m_guest.nonWindows) {
        EvDebug::DebugLvl(fn, 2, "Skipping powershell installation check for windows instance");
        return true;
    }
    std::string output, error;
    if (!RunBrowseQuery(instanceId, "", m_guest.ssmRegion, m_guest.bucket, m_guest.stagingFolder, kPowershellVersion,
                        output, error))
        return false;
    if (!error.empty()) {
        EvDebug::Error(fn, "Failed to check installed powershell version [%s]", error.c_str());
        return false;
    }
    return true;
}

bool CAmazonInfo::IsAWSModuleInstalledOnGuest(const std::string& instanceId) {
    const char* const fn = __PRETTY_FUNCTION__;
    const std::string command =
        std::string(m_guest.nonWindows ? kImportModuleOther : kImportModuleWindows) + kEchoSuccess;
    std::string output, error;
    if (!RunBrowseQuery(instanceId, "", m_guest.ssmRegion, m_guest.bucket, m_guest.stagingFolder, command, output,
                        error))
        return false;
    if (!error.empty()) {
        EvDebug::Error(fn, "AWS module installation check failed with [%s]", error.c_str());
        return false;
    }
    if (output.find("ERROR") != std::string::npos)
        EvDebug::Error(fn, "AWS module installation check failed with [%s]", output.c_str());
    return true;
}
