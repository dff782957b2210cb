// The six restore phases the framework drives, in this order: InitRestoreVM,
// PreRestoreVM, (the data mover writes the volumes), RestoreVM,
// PostRestoreVM, CloseRestoreVM; CleanupRestoreVM after a failed or killed
// job. Each phase runs in the destination's region and hands the work of the
// selected method to its own code.
#include <algorithm>
#include <set>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
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
    SetLastVMError(kErrJobCancelled);
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
                return m_bHotAddMethodSelected ? InitRestoreVM_AmazonVMAsProxy(ctx) : NoRestoreMethod(fn);
            case RestoreCtx::AttachDisk: {
                if (ctx.attachToNewInstance) {
                    if (!ValidateTemplate(ctx)) {
                        SetLastVMError(AmazonErrors::kRestoreTemplateInvalid);
                        return 0;
                    }
                    if (!HandleOverwriteOption(ctx, region)) return 0;
                }
                const int result = m_bHotAddMethodSelected ? InitRestoreVM_AmazonVMAsProxy(ctx) : NoRestoreMethod(fn);
                out.attachTargetInstanceId = out.vmGuid;
                out.attachTargetName = ctx.restoreVMName;
                return result;
            }
            case RestoreCtx::Replication:
                return m_bHotAddMethodSelected ? InitRestoreVM_VMReplication_HotAdd(ctx) : NoRestoreMethod(fn);
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
        if (IsProxyMethodFlavour(ctx.flavour)) return m_bHotAddMethodSelected ? PreRestoreVM_AmazonVMAsProxy(ctx) : 0;
        if (ctx.flavour == RestoreCtx::Replication)
            return m_bHotAddMethodSelected ? PreRestoreVM_VMReplication_HotAdd(ctx) : NoRestoreMethod(fn);
        EvDebug::Error(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
        return 0;
    });
}

int CAmazonInfo::RestoreVM(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::Debug(fn, "Restore VM phase. Restore flavor [%d] ", ctx.flavour);
        if (!m_bHotAddMethodSelected) return NoRestoreMethod(fn);
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
            return m_bHotAddMethodSelected ? PostRestoreVM_VMReplication_HotAdd(ctx) : NoRestoreMethod(fn);
        EvDebug::Error(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
        return 0;
    });
}

namespace {
// The restore disks as the records the volume detach and delete act on: an
// EBS volume (kind 1) named by its restored volume id; keep picks them.
template <class Keep>
std::vector<VMInfoStructs::SDisk> AsVolumeRecords(const std::vector<VMInfoStructs::SDisk>& disks, Keep keep) {
    std::vector<VMInfoStructs::SDisk> records;
    for (const auto& disk : disks) {
        if (!disk.selected || disk.filtered || disk.newVolumeId.empty() || !keep(disk.newVolumeId)) continue;
        VMInfoStructs::SDisk record;
        record.name = disk.name;
        record.volumeId = disk.sourceVolumeId;
        record.newVolumeId = disk.newVolumeId;
        record.zone = disk.zone;
        record.diskType = 1;
        records.push_back(record);
    }
    return records;
}
}  // namespace

int CAmazonInfo::CloseRestoreVM(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::Debug(fn, "Closing VM [%s]. Restore flavor [%d]", ctx.registrationGuid.c_str(), ctx.flavour);
        if (!m_bMountInitialized) {
            EvDebug::Debug(fn, "Mount not initialized, nothing to close.");
            return 1;
        }
        if (!IsProxyMethodFlavour(ctx.flavour) && ctx.flavour != RestoreCtx::Replication) {
            EvDebug::Error(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
            return 0;
        }
        bool ok = true;
        if (m_bHotAddMethodSelected) ok = DetachRestoreDisksFromProxy(ctx);
        std::string key;
        if (m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, ctx.registrationGuid, key, false)) {
            ok = _CleanupSnapshots(key, false) && ok;
            // Only an empty entry goes: whatever a failed job still has
            // registered is its clean-up's to remove.
            m_cleaner.UnRegisterVM(key);
        }
        m_bCleanerRegistered = false;
        EvDebug::Debug(fn, "Closed VM [%s]", ctx.registrationGuid.c_str());
        return ok ? 1 : 0;
    });
}

// The data mover is done with the volumes it wrote through the proxy. Only
// those attached to the proxy now are detached: a volume already handed to
// the restored instance is that instance's disk. A detached volume stays
// registered until it is handed over or deleted.
bool CAmazonInfo::DetachRestoreDisksFromProxy(const RestoreCtx& ctx) {
    const std::string& proxyId = m_proxyVMInfo.guid;
    if (proxyId.empty()) return true;
    const BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, m_proxyVMInfo.region);
    SVMInfo proxy;
    CAmazonSDKBridge& admin = *m_pAdminBridge;
    if (!AmazonCommon::BridgeCall(
            admin, __PRETTY_FUNCTION__,
            [&] {
                return admin.GetVMInfoForVM("", proxyId, "", m_proxyVMInfo.region, AmazonRestore::kProxyInstanceMask,
                                            0, proxy) != 0;
            },
            "Failed to read the volumes attached to proxy [%s]. Error [%s]", proxyId.c_str()))
        return false;
    std::set<std::string> onProxy;
    for (const auto& disk : proxy.disks) onProxy.insert(disk.volumeId);
    std::vector<SDisk> disks = AsVolumeRecords(ctx.disks, [&](const std::string& id) { return onProxy.count(id) > 0; });
    return disks.empty() || DetachVolumes(disks, m_proxyVMInfo.region, "", ctx.Out().failures, false);
}

int CAmazonInfo::CleanupRestoreVM(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::Debug(fn, "Cleaning up VM [%s] . Restore flavor [%d] ", ctx.registrationGuid.c_str(), ctx.flavour);
        if (!IsProxyMethodFlavour(ctx.flavour) && ctx.flavour != RestoreCtx::Replication) {
            EvDebug::Error(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
            return 0;
        }
        const BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, ctx.destRegion);
        if (!_InitMount()) return 0;
        KeepReusedInstance(ctx);
        // Only what the job still has registered is its to delete: a volume
        // handed to the destination instance was unregistered when it was
        // attached, and one the context lists without a registration was
        // never the job's (or is gone).
        bool ok = _CleanupRestoreVM(ctx.registrationGuid, ctx.Out().failures, ctx.restoreFromSnap);
        const std::string& integrity = ctx.integritySnapshotId;
        if (!integrity.empty()) {
            std::string keeper;
            if (IntegritySnapshotInUse(integrity, ctx.destRegion, keeper)) {
                EvDebug::Debug(fn, "Integrity snapshot [%s] is kept by instance [%s]; not deleting it.",
                               integrity.c_str(), keeper.c_str());
            } else {
                EvDebug::Debug(fn, "Deleting integrity snapshot [%s] ", integrity.c_str());
                m_pAdminBridge->DeleteAMISnapshot(integrity, true);
            }
        }
        return ok ? 1 : 0;
    });
}

// An instance the restore went into, rather than launched, is the user's: a
// failed job must never delete it (nor its volumes) as its own.
void CAmazonInfo::KeepReusedInstance(const RestoreCtx& ctx) {
    if (ctx.newVMGuid || ctx.vmGuid.empty() || ctx.registrationGuid.empty()) return;
    if (m_cleaner.UnRegisterCreatedVM(VM_CLEANER_RESTORE, ctx.registrationGuid, ctx.vmGuid))
        EvDebug::Debug(__PRETTY_FUNCTION__, "Instance [%s] existed before the restore; keeping it.",
                       ctx.vmGuid.c_str());
}

// Whether an instance's integrity tag names the AMI; a look-up that fails
// counts as yes, since a deleted integrity AMI cannot be made again.
bool CAmazonInfo::IntegritySnapshotInUse(const std::string& amiId, const std::string& region, std::string& keeper) {
    std::vector<SVMInfo> tagged;
    if (!m_pSourceBridge->GetVMInfoListForTag(region, AmazonTags::kIntegritySnapTag, "", 0, 0, tagged)) {
        keeper = "unknown";
        return true;
    }
    for (const auto& vm : tagged) {
        std::string value;
        if (!m_pSourceBridge->GetTag(vm.guid, AmazonTags::kIntegritySnapTag, value)) {
            keeper = vm.guid;
            return true;
        }
        for (size_t start = 0; start <= value.size();) {
            const size_t end = std::min(value.find('#', start), value.size());
            if (value.substr(start, end - start) == amiId) {
                keeper = vm.guid;
                return true;
            }
            start = end + 1;
        }
    }
    return false;
}
