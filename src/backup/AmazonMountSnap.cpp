// A backup copy's mount of its snap backup's snapshots through the snapshot
// manager, and the matching unmount.
#include <mutex>

#include "backup/MountModes.h"
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/FormattedMessage.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/VMSnapUtil.h"

using namespace AmazonErrors;
using namespace AmazonMount;

int CAmazonInfo::_MountVM_SNAP(MountCtx& ctx) {
    EvDebug::Debug(__PRETTY_FUNCTION__, "_MountVM_SNAP start>>");
    SetLastVMError(0);
    // The volumes go to the proxy's zone, and the snapshots must be in its
    // region: its record must be known.
    if (ctx.transportMode == kModeHotadd && !EnsureProxyRecordForStaging(ctx)) return 0;
    const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, GetProxyRegion());
    SMVolSnapInfo& record = m_snap.record;
    if (!m_pSnapUtil->GetVOLSNAPInfo(ctx, record, 0)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "GetVOLSNAPInfo Failed");
        SetLastVMError(kSnapVolumeRecords, "GetVOLSNAPInfo Failed");
        return 0;
    }
    uint32_t flags = record.snapActionFlags;
    if (ctx.liveBrowse && !ctx.liveRestore) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "LiveBrowse flag is selected for Mount");
        flags |= kSnapActionLiveBrowse;
    }
    if (IsDirectRead(ctx)) {
        flags |= kSnapActionDirectRead;
        record.ostrelMountMode = kOstrelMountDirect;
    }
    record.snapActionFlags = flags;
    if (!ctx.indexingV2) _FilterVMSpecificVolumeSnaps(ctx);
    // Counted after the filter too: a job none of whose snapshots are this
    // instance's has nothing to copy.
    if (record.snaps.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "No Snap found. Snap Count is Zero.");
        SetLastVMError(kSnapVolumeRecords, "No Snap found. Snap Count is Zero.");
        return 0;
    }
    if (ctx.transportMode == kModeHotadd && !SnapsInProxyRegion()) return 0;
    const int accountType = m_bCrossAccountBackup ? kSnapMountAdminAccount : kSnapMountNoAccount;
    if (!_PrepareVolSnapInfoForMount(ctx, m_proxyVMInfo.zone, accountType, VM_CLEANER_BACKUP,
                                     m_strOutpostsAccountARN))
        return 0;
    if (!_PrepareSnapshotInfoForBackupCopy(ctx)) {
        const std::string bridgeError = AmazonCommon::BridgeError(m_pSourceBridge.get());
        SetLastVMError(kVolumeCreate, bridgeError.empty() ? GetLastVMErrorDetails() : bridgeError);
        return 0;
    }
    if (IsDirectRead(ctx)) {
        // Nothing to make: the data mover reads the snapshots themselves.
        m_snap.mounted.push_back(record);
        return FinishSnapMount(ctx) ? 1 : 0;
    }
    const bool created = _CreateVolumesFromSnap();
    // Whatever the manager made is the job's to remove, also when the call
    // failed half-way: registered before anything else can go wrong.
    RegisterSnapMountedVolumes(ctx);
    m_snap.mounted.push_back(record);
    if (!created) return 0;
    for (const auto& snap : record.snaps) {
        const std::string volumeId = MountedVolumeOf(snap.snapDevice);
        if (!volumeId.empty()) m_pAdminBridge->SetTag(volumeId, AmazonTags::kBackupTag, "", true);
    }
    return FinishSnapMount(ctx) ? 1 : 0;
}

bool CAmazonInfo::SnapsInProxyRegion() {
    for (const auto& entry : m_snap.record.metadata) {
        if (entry.type != kSMMetaSnapshotPairs) continue;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Snap Metadata : %s", CVMSnapUtil::MaskSecrets(entry.metadata).c_str());
        std::string region;
        GetValueFromSnapMetadata(entry.metadata, "targetRegion", region);
        if (!region.empty() && region == m_proxyVMInfo.region) continue;
        const std::string text = AmazonCommon::FormatMessage(
            "Proxy region [{1}] and snap region [{2}] is different.", {m_proxyVMInfo.region, region});
        SetLastVMError(kSnapRegionMismatch, text);
        EvDebug::Error(__PRETTY_FUNCTION__, "%s", text.c_str());
        return false;
    }
    return true;
}

bool CAmazonInfo::FinishSnapMount(MountCtx& ctx) {
    const bool mapped =
        ctx.indexingV2 ? _PopulateVolumeMountInfoFromMountedSnapV2(ctx) : _PopulateVolumeMountInfoFromMountedSnap(ctx);
    if (!mapped) {
        SetLastVMError(kMountFailed, "Mounted volumes do not match the disks of instance [" + ctx.vm.guid + "]");
        return false;
    }
    if (!_FilterMarketplaceVolumeFromBackupCopy(ctx)) return false;
    m_pSnapUtil->DumpVolSnapInfo(m_snap.record);
    if (!_RegisterDisks(ctx.vm, ctx.transportMode)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register disks");
        return false;
    }
    return true;
}

int CAmazonInfo::_UnMountVM_SNAP(MountCtx& ctx) {
    SMVolSnapInfo& record = m_snap.record;
    if (record.snaps.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "No internal snapshot records to unmount.");
        return 0;
    }
    record.snapActionFlags &= ~kSnapActionLiveBrowse;
    std::vector<std::string> mounted;
    for (const auto& volume : record.volumes) mounted.push_back(volume.mountDevice);
    for (const auto& snap : record.snaps) mounted.push_back(snap.snapDevice);
    {
        std::lock_guard<CriticalSection> guard(c_SourceVolumesToMountedVolumesLock);
        for (const auto& device : mounted) {
            if (device.empty() || c_SourceVolumesToMountedVolumes.erase(device) == 0) continue;
            EvDebug::Error(__PRETTY_FUNCTION__, "Removed Entry [%s] from Map. Current map size [%d]", device.c_str(),
                           static_cast<int>(c_SourceVolumesToMountedVolumes.size()));
        }
    }
    if (!_PrepareVolSnapInfoForUnMountDelete(ctx)) return 0;
    return _UnmountVolumesFromSnapJob(ctx) ? 1 : 0;
}
