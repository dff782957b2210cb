// The end of a restore: CloseRestoreVM after every job, CleanupRestoreVM
// after a failed or killed one. Only what the job still owns is removed.
#include <algorithm>
#include <set>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/OperationGuard.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using AmazonCommon::BridgePairRegionScope;
using AmazonGuard::Guarded;

namespace {
bool IsRestoreFlavour(int flavour) {
    return flavour == RestoreCtx::FullInstance || flavour == RestoreCtx::AttachDisk ||
           flavour == RestoreCtx::Replication;
}

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
        if (!IsRestoreFlavour(ctx.flavour)) {
            EvDebug::Error(fn, "Restore flavor [%d] not implemented.", ctx.flavour);
            return 0;
        }
        bool ok = true;
        if (m_restore.hotAddMethodSelected) ok = DetachRestoreDisksFromProxy(ctx);
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
        if (!IsRestoreFlavour(ctx.flavour)) {
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
        // Disks written to S3 rather than to volumes leave their pages in a
        // folder that no registration names.
        if (!IsHotAddRestore(ctx.disks)) ok = DeleteCloudVHDPages(ctx.disks, "", "") && ok;
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
