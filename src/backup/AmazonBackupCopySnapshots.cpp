// A backup copy's disks filled from its snap backup: the snapshot of each
// volume from the snap job's metadata, shared with the admin account for a
// cross-account hot-add; and the Marketplace volumes a copy cannot attach.
#include "bridge/AmazonSDKBridge.h"
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

using namespace AmazonErrors;

bool CAmazonInfo::_PrepareSnapshotInfoForBackupCopy(MountCtx& ctx) {
    const auto& entries = m_snap.record.metadata;
    if (entries.empty()) return false;
    for (const auto& entry : entries) {
        if (entry.type != kSMMetaSnapshotPairs) continue;
        std::string sourceVolume, snapshotId;
        if (!GetValueFromSnapMetadata(entry.metadata, "sourceInstance", sourceVolume) || sourceVolume.empty())
            continue;
        SDisk* disk = nullptr;
        for (auto& d : ctx.vm.disks)
            if (d.volumeId == sourceVolume) disk = &d;
        if (!disk) continue;
        if (!GetValueFromSnapMetadata(entry.metadata, "snapUUID", snapshotId) || snapshotId.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get snapshot id from metadata.");
            SetLastVMError(kVolumeCreate, "Failed to get snapshot id from metadata.");
            return false;
        }
        disk->snapshotId = disk->snapshotIdCbt = snapshotId;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Snapshot id [%s] for volume [%s]", snapshotId.c_str(),
                       sourceVolume.c_str());
    }
    if (CrossAccountHotadd(ctx)) return ShareSnapshotToBackup(ctx);
    return true;
}

bool CAmazonInfo::_FilterMarketplaceVolumeFromBackupCopy(MountCtx& ctx) {
    bool skip = ctx.transportMode != "HOTADD";
    if (KDPlatformInfo().getBoolean("VirtualServer", "nAmazonSkipMarketplaceCheck", skip))
        EvDebug::Debug(__PRETTY_FUNCTION__, "Read addtional setting [%s]: [%s]", "nAmazonSkipMarketplaceCheck",
                       skip ? "True" : "False");
    if (skip) return true;
    bool allFiltered = true;
    for (auto& disk : ctx.vm.disks) {
        if (!disk.filtered && !disk.newVolumeId.empty() &&
            m_pAdminBridge->IsMarketPlaceVolume(disk.newVolumeId, GetProxyRegion())) {
            disk.filtered = true;
            EvDebug::Error(__PRETTY_FUNCTION__,
                           "The volume [%s] has a market-place product code associated with it. Filtering the volume "
                           "as it cannot be attached to the proxy instance.",
                           disk.volumeId.c_str());
            AddMountFailure(disk.volumeId, "Volumes with market-place product code are filtered.", false);
        }
        allFiltered = allFiltered && disk.filtered;
    }
    if (allFiltered) {
        EvDebug::Error(__PRETTY_FUNCTION__, "All the disks of the instance are filtered");
        SetLastVMError(kErrAllDisksFiltered, "All the disks of the instance are filtered");
        return false;
    }
    return true;
}
