// Whether a restore can run, and by which method: the checks InitRestoreVM
// makes before anything is created.
#include <string.h>
#include <strings.h>

#include <mutex>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

using namespace AmazonErrors;

namespace {
bool ContainsNoCase(const std::string& text, const char* word) { return strcasestr(text.c_str(), word) != nullptr; }
bool IsEfi(const std::string& firmware) { return strcasecmp(firmware.c_str(), "efi") == 0; }
}  // namespace

bool CAmazonInfo::CheckRestoreFeasibility(const RestoreCtx& ctx) {
    if (!IsRestorePossibleForVM(ctx) || !SelectRestoreMethod(ctx)) return false;
    if (m_restore.hotAddMethodSelected && !CheckLVMetaDDisabled()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "lvmetad is enabled. Need to disable and stop lvmetad");
        SetLastVMError(kLvmetadEnabled);
        return false;
    }
    if (!CheckDiskLimit(ctx.disks)) {
        SetLastVMError(kDiskTooLarge);
        return false;
    }
    return CheckCrossAccountRestore(ctx);
}

bool CAmazonInfo::IsRestorePossibleForVM(const RestoreCtx& ctx) {
    if (!ctx.conversion) return true;
    if (!ContainsNoCase(ctx.guestOSName, "windows") && IsEfi(ctx.sourceFirmware)) {
        EvDebug::Error(__PRETTY_FUNCTION__,
                       "VM: [%s] is a linux VM with a GPT boot disk which is not supported for restore",
                       ctx.originalVMName.c_str());
        SetLastVMError(kLinuxGptBoot);
        return false;
    }
    return true;
}

bool CAmazonInfo::SelectRestoreMethod(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    m_restore.hotAddMethodSelected = false;
    bool result = true;
    bool forceImport = false;
    switch (ctx.flavour) {
        case RestoreCtx::FullInstance:
            if (ctx.recast) EvDebug::Debug(fn, "Forcing HotAdd method for Recast");
            break;
        case RestoreCtx::AttachDisk:
            EvDebug::Debug(fn, "Forcing HotAdd method for Attach disk restore");
            break;
        case RestoreCtx::Replication: {
            const AmazonReplicationMethod recorded = ForceAnyReplicationMethod(ctx);
            EvDebug::Debug(fn, "Replication method from replication DB: [%d]", static_cast<int>(recorded));
            if (recorded == AmazonReplicationMethodUnparsed) {
                EvDebug::Debug(fn, "Failed to find replication method.");
                result = false;
            } else if (recorded == AmazonReplicationMethodHotAdd) {
                EvDebug::Debug(fn, "Forcing HotAdd method as per Replication DB");
            } else if (recorded == AmazonReplicationMethodImport) {
                EvDebug::Debug(fn, "Forcing Import method as per Replication DB");
                forceImport = true;
            }
            break;
        }
        default:
            EvDebug::Debug(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
            result = false;
    }
    // A Linux proxy writes volumes it has attached; it has no other method.
    EvDebug::Debug(fn, "Forcing HotAdd method as this is restore on a Linux proxy");
    if (result) {
        // Import cannot be done from here: a job whose replica was made by
        // import must not be switched to another method silently.
        if (!forceImport && IsRestoreFeasibleInHotAddMode(ctx)) {
            m_restore.hotAddMethodSelected = true;
            ctx.Out().method = AmazonRestore::kHotAddMethod;
        } else {
            result = false;
        }
    }
    if (result && ctx.flavour == RestoreCtx::Replication) {
        const AmazonReplicationMethod chosen = AmazonReplicationMethodHotAdd;
        EvDebug::Debug(fn, "Updating replication method: [%d] to the DB", static_cast<int>(chosen));
        UpdateSelectedReplicationMethod(ctx, chosen);
    }
    if (result) SetLastVMError(0);
    EvDebug::Debug(fn, "Selected Method [%s] for restore.", m_restore.hotAddMethodSelected ? "Hot Add" : "None");
    return result;
}

bool CAmazonInfo::IsRestoreFeasibleInHotAddMode(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (ctx.restoreFromSnap && !ctx.conversion) {
        // The volumes come from the snapshots themselves; the proxy writes nothing.
        EvDebug::Debug(fn, "Snap restore from Amazon Instance is possible.");
        return true;
    }
    if (ctx.conversion && IsEfi(ctx.sourceFirmware)) {
        EvDebug::Debug(fn, "The firmware of the source VM is EFI. Hotadd conversion is not possible");
        return false;
    }
    if (!_InitProxyInfoForRestore()) return false;
    if (m_proxyVMInfo.zone == ctx.destZone) return true;
    bool allowCrossZone = true;
    KDPlatformInfo().getBoolean("VirtualServer", "bAllowCrossZoneRestore", allowCrossZone);
    // Both refusals name the two sides, so that the user sees what to move.
    const auto refuse = [&](EVMInfoError code, const char* format, const std::string& proxy,
                            const std::string& destination) {
        char text[512];
        snprintf(text, sizeof text, format, proxy.c_str(), destination.c_str());
        SetLastVMError(code, text);
        EvDebug::Error(fn, "%s", text);
        return false;
    };
    if (!allowCrossZone)
        return refuse(kZoneMismatch,
                      "Proxy zone [%s] and restore VM destination zone [%s] is different. Hotadd restores across "
                      "zones is not allwed.",
                      m_proxyVMInfo.zone, ctx.destZone);
    if (m_proxyVMInfo.region != ctx.destRegion)
        return refuse(kRegionMismatch,
                      "Proxy region [%s] and restore VM destination region [%s] is different. Hotadd restores "
                      "across regions is not allwed.",
                      m_proxyVMInfo.region, ctx.destRegion);
    return true;
}

bool CAmazonInfo::_InitProxyInfoForRestore() {
    const char* const fn = __PRETTY_FUNCTION__;
    const std::string proxyId = GetProxyUUID();
    if (proxyId.empty()) {
        EvDebug::Debug(fn, "Proxy is not Amazon Instance. Hotadd restore is not possible.");
        return false;
    }
    EvDebug::Debug(fn, "Instance id of proxy [%s]", proxyId.c_str());
    std::lock_guard<CriticalSection> guard(c_ProxyInfoLock);
    SVMInfo proxy;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pAdminBridge,
            [&] { return m_pAdminBridge->GetVMInfoForVM("", proxyId, "", "", AmazonRestore::kProxyInstanceMask, 0, proxy) != 0; },
            error)) {
        SetLastVMError(kProxyRecord, error);
        EvDebug::Error(fn, "Failed to get proxy VM Info.");
        return false;
    }
    EvDebug::Debug(fn, "Zone : [%s], Instance Type : [%s], EBS optimized : [%s], disk count : [%ld]",
                   proxy.zone.c_str(), proxy.instanceType.c_str(), proxy.ebsOptimized ? "true" : "false",
                   static_cast<long>(proxy.disks.size()));
    m_proxyVMInfo = std::move(proxy);
    m_bProxyInfoFetched = true;
    return true;
}

bool CAmazonInfo::CheckDiskLimit(const std::vector<SDisk>& disks) {
    if (!m_restore.hotAddMethodSelected) return true;
    for (const auto& disk : disks) {
        if (!disk.selected) continue;
        const auto size = static_cast<unsigned long long>(disk.size);
        if (size > AmazonRestore::kMaxDiskSizeBytes) {
            EvDebug::Error(__PRETTY_FUNCTION__,
                           "Disk size [%llu] has exceeded the maximum allowed disk size [%llu]. Disk[%s]", size,
                           AmazonRestore::kMaxDiskSizeBytes, disk.displayName.c_str());
            return false;
        }
    }
    return true;
}

bool CAmazonInfo::CheckCrossAccountRestore(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (!m_bCrossAccount) return true;
    switch (ctx.flavour) {
        case RestoreCtx::FullInstance:
            if (ctx.conversion) EvDebug::Debug(fn, "Cross account conversion is supported.");
            else if (ctx.restoreFromSnap) EvDebug::Debug(fn, "Cross account VM restore (from snap) is supported.");
            else EvDebug::Debug(fn, "Cross account VM restore (from streaming) is supported.");
            m_restore.crossAccountRestore = true;
            return true;
        case RestoreCtx::AttachDisk:
            if (ctx.restoreFromSnap) EvDebug::Debug(fn, "Attach disk restore (from snap) is not supported.");
            else EvDebug::Debug(fn, "Attach disk restore (from streaming) is supported.");
            m_restore.crossAccountRestore = true;
            return true;
        case 3:
        case RestoreCtx::Replication:
            EvDebug::Debug(fn, "Cross account restore is not supported for flavor [%d]", ctx.flavour);
            // A refusal the job stops on must say why, not leave the last
            // error at the 0 the phase started with.
            SetLastVMError(kErrNotSupported, "Cross account restore is not supported for flavor [" +
                                                 std::to_string(ctx.flavour) + "]");
            return false;
        default:
            EvDebug::Debug(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
            SetLastVMError(kErrNotSupported, "Restore flavor [" + std::to_string(ctx.flavour) + "] not implemented.");
            return false;
    }
}

bool CAmazonInfo::ValidateInstanceType(const RestoreCtx& ctx) {
    const std::string& type = ctx.instanceType;
    if (!ctx.conversion || type.empty() || strcasecmp(type.c_str(), "AUTO") == 0 || !IsNVMeInstanceType(type))
        return true;
    EvDebug::Error(__PRETTY_FUNCTION__, "Instance type [%s] is not supported for conversions", type.c_str());
    SetLastVMError(kNitroTypeRefused);
    return false;
}

bool CAmazonInfo::IsNVMeInstanceType(const std::string& type) {
    for (const auto& family : _kvmInstanceTypes)
        if (type.find(family) != std::string::npos) return true;
    return false;
}

bool CAmazonInfo::IsHotAddRestore(const std::vector<SDisk>& disks) {
    for (const auto& disk : disks) {
        if (!disk.selected || disk.newVolumeId.empty()) continue;
        const std::string& id = disk.newVolumeId;
        return id.compare(0, 4, "vol-") == 0 && id.find('/') == std::string::npos;
    }
    return false;
}

bool CAmazonInfo::_IsRestoreFromSnapFeasible(const MountCtx& mctx, const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    const std::string& vmId = mctx.JobVMGuid();
    if (!SnapXmlInstance(mctx.snapJobId, vmId)) {
        EvDebug::Error(fn, "VM [%s] information not found, fail the restore job", vmId.c_str());
        return false;
    }
    const AmazonCommon::BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, ctx.destRegion);
    EvDebug::Debug(fn, "Original VMName : [%s] Restore VMName  : [%s]", ctx.originalVMName.c_str(),
                   ctx.restoreVMName.c_str());
    EvDebug::Debug(fn, "Restoring VM to Amazon Zone : [%s], Amazon Region : [%s]", ctx.destZone.c_str(),
                   ctx.destRegion.c_str());
    if (ctx.flavour == RestoreCtx::FullInstance ||
        (ctx.flavour == RestoreCtx::AttachDisk && ctx.attachToNewInstance))
        return HandleOverwriteOption(ctx, ctx.destRegion) != 0;
    return true;
}
