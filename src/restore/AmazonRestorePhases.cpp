// The restore phases the framework drives, in this order: InitRestoreVM,
// PreRestoreVM, (the data mover writes the volumes), RestoreVM,
// PostRestoreVM; then CloseRestoreVM and, after a failed or killed job,
// CleanupRestoreVM (AmazonRestoreCleanup.cpp). Each phase runs in the
// destination's region and hands the work of the selected method to its own
// code.
#include "bridge/AmazonSDKBridge.h"
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPlatformInfo.h"

using AmazonCommon::BridgePairRegionScope;
using AmazonGuard::Guarded;

namespace {
bool IsProxyMethodFlavour(int flavour) {
    return flavour == RestoreCtx::FullInstance || flavour == RestoreCtx::AttachDisk;
}
}  // namespace

bool CAmazonInfo::RestoreCancelled(const char* where) {
    if (!IsJobCancelled()) return false;
    EvDebug::Debug(where, "Quit flag set, terminating JobWait");
    // Without the text the job would show "error 4000" and no reason.
    AmazonErrors::SetInterrupted(*this);
    return true;
}

int CAmazonInfo::NoRestoreMethod(const char* where) {
    EvDebug::Error(where, "No restore method is possible.");
    return 0;
}

int CAmazonInfo::InitRestoreVM(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        SetLastVMError(0);
        if (RestoreCancelled(fn)) return 0;
        RestoreCtx& out = ctx.Out();
        // Every later step, and every later phase, reads the region from the
        // context: it is settled before anything asks AWS.
        if (out.destRegion.empty()) out.destRegion = getRegionFromZone(out.destZone);
        const std::string region = out.destRegion;
        const BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, region);
        EvDebug::Debug(fn, "Original VMName : [%s] Restore VMName  : [%s]", ctx.originalVMName.c_str(),
                       ctx.restoreVMName.c_str());
        EvDebug::Debug(fn, "Restoring VM to Amazon Zone : [%s], Amazon Region : [%s]", ctx.destZone.c_str(),
                       region.c_str());
        SetRestoreWithNewVMGuidFlag(ctx);
        bool allowNitro = true;
        KDPlatformInfo().getBoolean("VirtualServer", "bAllowRestoreAsNitroInstance", allowNitro);
        if (!allowNitro) {
            EvDebug::Debug(fn, "Checking if instance type [%s] is supported for restore", ctx.instanceType.c_str());
            if (!ValidateInstanceType(ctx)) return 0;
        }
        if (!CheckRestoreFeasibility(ctx)) return 0;
        AdjustDiskPropertiesForStreamingRestore(ctx);
        if (!RegisterCleanerForRestore(out)) return 0;
        switch (ctx.flavour) {
            case RestoreCtx::FullInstance:
                if (!HandleOverwriteOption(ctx, region)) return 0;
                return m_restore.hotAddMethodSelected ? InitRestoreVM_AmazonVMAsProxy(ctx) : NoRestoreMethod(fn);
            case RestoreCtx::AttachDisk: {
                if (ctx.attachToNewInstance) {
                    if (!ValidateTemplate(ctx)) {
                        SetLastVMError(AmazonErrors::kRestoreTemplateInvalid,
                                       "The AMI [" + ctx.amiTemplateId + "] to launch the instance from is not "
                                       "available to the account in " + region + ".");
                        return 0;
                    }
                    if (!HandleOverwriteOption(ctx, region)) return 0;
                }
                const int result =
                    m_restore.hotAddMethodSelected ? InitRestoreVM_AmazonVMAsProxy(ctx) : NoRestoreMethod(fn);
                out.attachTargetInstanceId = out.vmGuid;
                out.attachTargetName = ctx.restoreVMName;
                return result;
            }
            case RestoreCtx::Replication:
                return m_restore.hotAddMethodSelected ? InitRestoreVM_VMReplication_HotAdd(ctx) : NoRestoreMethod(fn);
            default:
                EvDebug::Error(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
                return 0;
        }
    });
}

int CAmazonInfo::InitRestoreVM_AmazonVMAsProxy(const RestoreCtx& ctx) {
    PrepareDiskInfoFromRestoreCtx(ctx);
    if (!ConnectDiskInfo(ctx.vm)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to Connect to disk Info!");
        return 0;
    }
    const BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, m_proxyVMInfo.region);
    // A restore from snapshots makes its volumes from them later; the proxy
    // writes nothing.
    if (ctx.restoreFromSnap && !ctx.conversion) return 1;
    UpdateDiskNames(ctx);
    bool recreated = false;
    if (!_CreateEmptyVolumes(ctx, VM_CLEANER_RESTORE, recreated)) return 0;
    if (recreated) {
        EvDebug::Debug(__PRETTY_FUNCTION__,
                       "Created disk(s) have been deleted between reattempts; manual intervention have happened. "
                       "Forcing restore from first extent");
        ctx.Out().restartFromFirstExtent = true;
    }
    return 1;
}

void CAmazonInfo::PrepareDiskInfoFromRestoreCtx(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    RestoreCtx& out = ctx.Out();
    if (out.vmGuid.empty()) {
        // Until the instance exists the job is known by its registration
        // key, which is never an instance id.
        out.vmGuid = out.registrationGuid.empty() ? FwGuid::New() : out.registrationGuid;
        EvDebug::Debug(fn, "Using Temporary uuid [%s] for VM [%s]", out.vmGuid.c_str(), ctx.restoreVMName.c_str());
    } else {
        EvDebug::Debug(fn, "Using uuid [%s] for VM [%s]", out.vmGuid.c_str(), ctx.restoreVMName.c_str());
    }
    out.vm.disks.clear();
    out.vm.region = ctx.destRegion;
    out.vm.zone = ctx.destZone;
    out.vm.name = ctx.restoreVMName;
    out.vm.guid = out.vmGuid;
    out.vm.sourceId = out.vmGuid;
    out.createdInstanceId = out.vmGuid;
}

void CAmazonInfo::UpdateDiskNames(const RestoreCtx& ctx) {
    for (auto& disk : ctx.Out().disks) {
        if (!disk.selected) continue;
        if (ctx.flavour == RestoreCtx::FullInstance && !ctx.conversion) {
            disk.displayName = disk.newName.empty() ? disk.name : disk.newName;
            disk.name = disk.sourceVolumeId + ".vhdx";
        } else if (ctx.flavour == RestoreCtx::AttachDisk) {
            disk.displayName = disk.newName.empty() ? disk.name : disk.newName;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume display name [%s]/[%s] for volume id [%s]/[%s]",
                       disk.displayName.c_str(), disk.name.c_str(), disk.sourceVolumeId.c_str(),
                       disk.newVolumeId.c_str());
    }
}

int CAmazonInfo::PreRestoreVM(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::Debug(fn, "Pre restore VM phase. Restore flavor [%d] ", ctx.flavour);
        if (RestoreCancelled(fn)) return 0;
        RegisterCleanerForRestore(ctx.Out());
        if (IsProxyMethodFlavour(ctx.flavour))
            return m_restore.hotAddMethodSelected ? PreRestoreVM_AmazonVMAsProxy(ctx) : 0;
        if (ctx.flavour == RestoreCtx::Replication)
            return m_restore.hotAddMethodSelected ? PreRestoreVM_VMReplication_HotAdd(ctx) : NoRestoreMethod(fn);
        EvDebug::Error(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
        return 0;
    });
}

int CAmazonInfo::RestoreVM(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::Debug(fn, "Restore VM phase. Restore flavor [%d] ", ctx.flavour);
        if (!m_restore.hotAddMethodSelected) return NoRestoreMethod(fn);
        const BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, ctx.destRegion);
        switch (ctx.flavour) {
            case RestoreCtx::FullInstance: {
                const bool restored = RestoreVM_AmazonVMAsProxy(ctx);
                // Empty stand-ins for the unselected data disks only make
                // sense on an instance that was restored.
                if (restored && !ctx.conversion) HandleFilteredDataDisks(ctx);
                return restored ? 1 : 0;
            }
            case RestoreCtx::AttachDisk:
                return (ctx.attachToNewInstance ? RestoreVM_AmazonVMAsProxy(ctx) : RestoreVolume_AmazonVMAsProxy(ctx))
                           ? 1
                           : 0;
            case RestoreCtx::Replication:
                return RestoreVM_VMReplication_HotAdd(ctx);
            default:
                EvDebug::Error(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
                return 0;
        }
    });
}

int CAmazonInfo::PostRestoreVM(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::Debug(fn, "Post restore VM phase. Restore flavor [%d]", ctx.flavour);
        const BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, ctx.destRegion);
        if (IsProxyMethodFlavour(ctx.flavour)) return PostRestoreVM_AmazonVMAsProxy(ctx);
        if (ctx.flavour == RestoreCtx::Replication)
            return m_restore.hotAddMethodSelected ? PostRestoreVM_VMReplication_HotAdd(ctx) : NoRestoreMethod(fn);
        EvDebug::Error(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
        return 0;
    });
}
