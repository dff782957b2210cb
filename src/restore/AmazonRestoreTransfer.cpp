// Moving restored volumes from the proxy to the destination when account,
// zone or Outpost differ: snapshots, sharing, and new volumes made from them.
#include <map>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "restore/RestoreDisks.h"
#include "tasks/AmazonTaskUtils.h"

using AmazonRestore::IsWrittenDisk;

bool CAmazonInfo::IsVolumeTransferRequired(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (m_restore.crossAccountRestore) {
        EvDebug::Debug(fn, "It is cross account job. Volume transfer is required");
        return true;
    }
    if (m_proxyVMInfo.zone != ctx.destZone && m_proxyVMInfo.region == ctx.destRegion) {
        EvDebug::Debug(fn, "It is cross zone restore job. Volume transfer is required");
        return true;
    }
    const std::string destination = GetDestinationOutpostArn(ctx);
    if (destination != m_strOutpostsAccountARN) {
        EvDebug::Debug(fn, "Destination outpost ARN [%s] not same as the proxy ARN [%s]. Creating temporary snapshots",
                       destination.c_str(), m_strOutpostsAccountARN.c_str());
        EvDebug::Debug(fn, "Destination outpost ARN [%s] not same as the proxy ARN [%s]. Volume transfer is required",
                       destination.c_str(), m_strOutpostsAccountARN.c_str());
        return true;
    }
    return false;
}

std::string CAmazonInfo::GetDestinationOutpostArn(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    std::string subnet = ctx.networkCards.empty() ? std::string() : ctx.networkCards.front().subnetId;
    // A failback goes back to the network the instance had when backed up.
    if (ctx.failback && !ctx.conversion) {
        SVMInfo backedUp;
        std::map<std::string, std::string> tags;
        if (PopulateVMInfoFromVMConfigFile(ctx, backedUp, tags) && !backedUp.networkCards.empty())
            subnet = backedUp.networkCards.front().subnetId;
    }
    std::string arn;
    if (subnet.empty()) return arn;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, fn,
            [&] { return m_pSourceBridge->GetOutpostAccountARNForSubnet(subnet, ctx.destRegion, arn); },
            "Failed to get the Outpost of subnet [%s]. Error [%s]", subnet.c_str()))
        return std::string();
    if (!arn.empty()) EvDebug::Debug(fn, "Restoring to Outpost [%s] ", arn.c_str());
    return arn;
}

bool CAmazonInfo::CreateAndShareSnapshotsToRestore(const RestoreCtx& ctx, bool keepVolumes) {
    if (ctx.restoreFromSnap) return true;
    if (!IsVolumeTransferRequired(ctx)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume transfers are not required; skipping creating snapshots");
        return true;
    }
    return _CreateAndShareSnapshotsToRestore(ctx, keepVolumes);
}

bool CAmazonInfo::_CreateAndShareSnapshotsToRestore(const RestoreCtx& ctx, bool keepVolumes) {
    EnsureTaskUtils();
    {
        // The proxy-side volumes and their snapshots are where the proxy is.
        const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge,
                                                                m_proxyVMInfo.region);
        if (!CreateSnapshotFromVolumes(ctx.registrationGuid, ctx.Out().disks, VM_CLEANER_RESTORE)) return false;
        if (m_restore.crossAccountRestore && !ShareSnapshotsToRestore(ctx)) return false;
        if (!keepVolumes) {
            std::vector<SDisk> volumes = AmazonRestore::RestoreVolumes(ctx.disks);
            // Each one deleted is unregistered, so that no clean-up looks for it.
            std::string path;
            m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, ctx.registrationGuid, path, false);
            if (!DeleteVolumes(volumes, path, false)) return false;
        }
    }
    const AmazonCommon::BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, ctx.destRegion);
    return CreateVolumesFromSharedSnapshots(ctx);
}

bool CAmazonInfo::CreateSnapshotFromVolumes(const std::string& vmKey, std::vector<SDisk>& disks,
                                            const VM_Cleaner_Mode& mode) {
    const char* const fn = __PRETTY_FUNCTION__;
    std::vector<std::string> ids;
    for (auto& disk : disks) {
        if (!IsWrittenDisk(disk) || disk.newVolumeId.empty()) continue;
        EvDebug::Debug(fn, "Creating snapshot for volume [%s]", disk.newVolumeId.c_str());
        disk.snapshotId.clear();
        std::string error;
        if (!AmazonCommon::QuietBridgeCall(
                *m_pAdminBridge, [&] { return m_pAdminBridge->CreateSnapshot(disk.newVolumeId, "", "", disk.snapshotId, false); },
                error)) {
            EvDebug::Debug(fn, "Failed to create snapshot for volume [%s]. Error [%s]", disk.newVolumeId.c_str(),
                           error.c_str());
            SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, error);
            return false;
        }
        ids.push_back(disk.snapshotId);
        EvDebug::Debug(fn, "Created snapshot [%s] for volume [%s]; will wait for the completion",
                       disk.snapshotId.c_str(), disk.newVolumeId.c_str());
        // Registered before anything else can fail, so that a clean-up finds it.
        if (!m_cleaner.RegisterSnapshot(mode, vmKey, disk.snapshotId, m_pAdminBridge->GetCurrentRegion()))
            EvDebug::Error(fn, "Failed to register snapshot [%s]", disk.snapshotId.c_str());
        AmazonCommon::BridgeCall(
            *m_pAdminBridge, fn, [&] { return m_pAdminBridge->SetTag(disk.snapshotId, AmazonTags::kBackupTag, "", true); },
            "Failed to set tag [%s] on snapshot [%s]. Error [%s]", AmazonTags::kBackupTag, disk.snapshotId.c_str());
    }
    if (ids.empty()) return true;
    return m_pTaskUtils->CompleteSnapshotTask(ids, "", false);
}

bool CAmazonInfo::ShareSnapshotsToRestore(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    std::string account;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge, [&] { return m_pSourceBridge->GetAccountId(account) && !account.empty(); }, error)) {
        EvDebug::Debug(fn, "Failed to get account id. Error [%s]", error.c_str());
        SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, error);
        return false;
    }
    for (const auto& disk : ctx.disks) {
        if (!IsWrittenDisk(disk)) continue;
        if (disk.snapshotId.empty()) {
            EvDebug::Debug(fn, "Snapshot is empty for volume [%s].", disk.newVolumeId.c_str());
            continue;
        }
        if (!AmazonCommon::QuietBridgeCall(
                *m_pAdminBridge, [&] { return m_pAdminBridge->ShareSnapshot(disk.snapshotId, account); }, error)) {
            EvDebug::Debug(fn, "Failed to share snapshot [%s] to account [%s] . Error [%s]", disk.snapshotId.c_str(),
                           account.c_str(), error.c_str());
            SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, error);
            return false;
        }
        EvDebug::Debug(fn, "Successfully shared snapshot [%s] to account [%s]", disk.snapshotId.c_str(),
                       account.c_str());
    }
    return true;
}

bool CAmazonInfo::CreateVolumesFromSharedSnapshots(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    EnsureTaskUtils();
    const std::string destinationArn = GetDestinationOutpostArn(ctx);
    const std::map<std::string, std::string> tags{{AmazonTags::kBackupTag, ""}};
    for (auto& disk : ctx.Out().disks) {
        if (!IsWrittenDisk(disk)) continue;
        if (disk.snapshotId.empty()) {
            EvDebug::Debug(fn, "Snapshot is empty for volume [%s].", disk.newVolumeId.c_str());
            continue;
        }
        if (m_proxyVMInfo.zone != ctx.destZone) {
            disk.zone = ctx.destZone;
            EvDebug::Debug(fn, "Restoring volume [%s] to zone [%s]", disk.newVolumeId.c_str(), disk.zone.c_str());
        }
        // Registered the moment it exists, before the wait for it.
        auto record = [&](const std::string& id) {
            if (!m_cleaner.RegisterDisk(VM_CLEANER_RESTORE, ctx.registrationGuid, id, "", SourceAccountForCleaner()))
                EvDebug::Error(fn, "Failed to register volume [%s].", id.c_str());
        };
        std::string id;
        const bool created = m_pTaskUtils->CreateVolumeFromSnapshot(
            disk.snapshotId, disk.zone, m_proxyVMInfo.region, AmazonTags::kBackupTag, disk.volumeType,
            disk.volumeType, disk.iops, disk.iops, disk.size, disk.encrypted, disk.kmsKeyId, id, tags, true,
            destinationArn, record);
        // The disk names the new volume even when its wait failed, so that
        // the clean-up by the disk list removes it.
        if (!id.empty()) disk.newVolumeId = disk.newVolumeId2 = id;
        if (!created) return false;
    }
    return true;
}

bool CAmazonInfo::DeleteRegisteredSnapshots(const RestoreCtx& ctx) {
    std::string path;
    if (!m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, ctx.registrationGuid, path, false)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "VM [%s] is not registered; no snapshots to delete",
                       ctx.registrationGuid.c_str());
        return false;
    }
    return _CleanupSnapshots(path, false);
}
