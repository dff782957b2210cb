// The volumes a replication run writes: made from the replica's integrity
// snapshots (incremental, only changes are written) or empty (full), with
// disks added since the last run made empty and shrunk ones kept at the
// replica's size.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "disk/AmazonDiskInfo.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "restore/RestoreDisks.h"

namespace {
// The snapshot sizes the bridge reports are in KiB.
constexpr long long kSnapshotSizeUnit = 1024;

void ForceFull(RestoreCtx& out) {
    out.replicationMode = RestoreCtx::FullReplication;
    out.forceFull = true;
    out.restartFromFirstExtent = true;
}

// A volume id the context kept from the previous run names a disk of the
// replica: only a re-attempt of this run may reuse what it names.
void ForgetEarlierRunVolumes(const RestoreCtx& ctx) {
    if (ctx.resume) return;
    for (auto& disk : ctx.Out().disks) {
        if (!disk.selected) continue;
        disk.newVolumeId.clear();
        disk.newVolumeId2.clear();
    }
}
}  // namespace

bool CAmazonInfo::InitRestoreVM_VMReplication_HotAdd_Inc(const RestoreCtx& ctx) {
    UpdateDiskNames(ctx);
    ForgetEarlierRunVolumes(ctx);
    return HandleDiskAdditions(ctx) && HandleDiskSizeChange(ctx) && CreateDisksFromIntegritySnapshot(ctx);
}

bool CAmazonInfo::InitRestoreVM_VMReplication_HotAdd_Full(const RestoreCtx& ctx) {
    UpdateDiskNames(ctx);
    ForgetEarlierRunVolumes(ctx);
    const std::string region = m_proxyVMInfo.region.empty() ? ctx.destRegion : m_proxyVMInfo.region;
    const AmazonCommon::BridgeRegionScope inProxyRegion(*m_pSourceBridge, region);
    bool recreated = false;
    if (!_CreateEmptyVolumes(ctx, VM_CLEANER_RESTORE, recreated)) return false;
    if (recreated) {
        EvDebug::Debug(__PRETTY_FUNCTION__,
                       "Warning : Volumes have been deleted between reattempts. Something happened out of our "
                       "replication. Forcing FULL replication");
        ForceFull(ctx.Out());
    }
    return true;
}

bool CAmazonInfo::HandleDiskAdditions(const RestoreCtx& ctx) {
    for (const auto& disk : ctx.disks)
        if (disk.selected && disk.snapshotId.empty())
            EvDebug::Debug(__PRETTY_FUNCTION__, "Detected new disk [%s] added after previous replication.",
                           disk.sourceVolumeId.c_str());
    bool recreated = false;
    // In an incremental run this makes volumes only for disks without a
    // snapshot of the replica.
    return _CreateEmptyVolumes(ctx, VM_CLEANER_RESTORE, recreated);
}

bool CAmazonInfo::HandleDiskSizeChange(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    for (auto& disk : ctx.Out().disks) {
        if (!disk.selected) continue;
        if (disk.snapshotId.empty()) {
            EvDebug::Debug(fn, "It is new disk [%s] added after previous replication.", disk.sourceVolumeId.c_str());
            continue;
        }
        VMInfoStructs::SChildDisk snapshot;
        if (!AmazonCommon::BridgeCall(
                *m_pSourceBridge, fn,
                [&] { return m_pSourceBridge->GetSnapshotInfo(disk.snapshotId, ctx.destRegion, snapshot); },
                "Failed to get snapshot info for snapshot [%s]. Error [%s]", disk.snapshotId.c_str()))
            return false;
        const long long replicated = static_cast<long long>(snapshot.size) * kSnapshotSizeUnit;
        EvDebug::Debug(fn, "Replicated disk size : [%lld] new disk size : [%lld].", replicated,
                       static_cast<long long>(disk.size));
        if (disk.size > replicated) {
            EvDebug::Debug(fn, "disk size change found.");
        } else if (disk.size < replicated) {
            EvDebug::Debug(fn, "new disk size has reduced.Keep the existing replicated disk size [%lld]", replicated);
            disk.size = replicated;
        }
    }
    return true;
}

bool CAmazonInfo::CreateDisksFromIntegritySnapshot(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    RestoreCtx& out = ctx.Out();
    // The staging helper acts on volume records (kind 1) named by their
    // source volume; the restore disks are handed over as such copies.
    std::vector<SDisk> records;
    std::vector<size_t> places;
    for (size_t i = 0; i < out.disks.size(); ++i) {
        const SDisk& disk = out.disks[i];
        if (!disk.selected || disk.filtered || disk.snapshotId.empty()) continue;
        SDisk record = disk;
        record.diskType = 1;
        if (record.originalVolumeId.empty()) record.originalVolumeId = record.sourceVolumeId;
        record.volumeId = record.originalVolumeId;
        if (record.zone.empty()) record.zone = m_proxyVMInfo.zone;
        records.push_back(record);
        places.push_back(i);
    }
    bool recreated = false;
    const bool made = _CreateVolumesFromSnapshot(ctx.registrationGuid, records, VM_CLEANER_RESTORE, recreated);
    // Whatever was made is the disk's, also on a failure, so that the
    // job's clean-up and a re-attempt know it.
    for (size_t k = 0; k < records.size(); ++k) {
        SDisk& disk = out.disks[places[k]];
        if (records[k].newVolumeId.empty()) continue;
        disk.originalVolumeId = records[k].originalVolumeId;
        disk.newVolumeId = disk.newVolumeId2 = records[k].newVolumeId;
        disk.zone = records[k].zone;
    }
    if (!made) return false;
    if (recreated) {
        EvDebug::Debug(fn,
                       "Warning : Volumes have been deleted between reattempts. Something happened out of our "
                       "replication. Forcing full replication.");
        ForceFull(out);
    }
    for (size_t place : places) {
        SDisk& disk = out.disks[place];
        disk.sourceVolumeId = disk.volumeId = disk.newVolumeId;
        disk.name = disk.sourceVolumeId;
        if (!m_pDiskInfo || !m_pDiskInfo->RegisterDisk(out.vm, disk, AmazonRestore::kHotAddMethod, true)) {
            EvDebug::Error(fn, "Failed to register disk [%s][%s] with disk info.", disk.sourceVolumeId.c_str(),
                           disk.newVolumeId.c_str());
            SetLastVMError(AmazonErrors::kMountFailed);
            return false;
        }
    }
    return true;
}
