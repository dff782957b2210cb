// Empty volumes next to the proxy for the data mover to write a restore into.
#include <strings.h>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "disk/AmazonDiskInfo.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "restore/RestoreDisks.h"
#include "tasks/AmazonTaskUtils.h"

using AmazonRestore::kHotAddMethod;

namespace {

// Volumes of a replication are registered by the replication itself.
constexpr int kModeUnregistered = 2;

// An incremental replication writes only the changes, into volumes made from
// the replica's snapshots.
bool IsIncrementalReplication(const RestoreCtx& ctx) {
    return ctx.flavour == RestoreCtx::Replication && !ctx.forceFull && !ctx.failback;
}

}  // namespace

bool CAmazonInfo::_CreateEmptyVolumes(const RestoreCtx& ctx, const VM_Cleaner_Mode& mode, bool& recreated) {
    const char* const fn = __PRETTY_FUNCTION__;
    recreated = false;
    if (m_proxyVMInfo.region.empty()) {
        EvDebug::Error(fn, "Proxy information is not available; cannot create volumes.");
        SetLastVMError(AmazonErrors::kProxyRecord, "Proxy information is not available; cannot create volumes.");
        return false;
    }
    if (!m_pDiskInfo) {
        EvDebug::Error(fn, "Disk Info is null.");
        SetLastVMError(AmazonErrors::kMountFailed);
        return false;
    }
    // The volumes are made where the proxy can attach them.
    const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, m_proxyVMInfo.region);
    EnsureTaskUtils();
    RestoreCtx& out = ctx.Out();
    const std::string tagText = "Volume Created by Tarvex for Job " + std::to_string(m_jobId) + " from " +
                                m_proxyVMInfo.guid;
    // The data mover opens each disk through the registry by its new id.
    auto registerWithDiskInfo = [&](const SDisk& disk) {
        if (m_pDiskInfo->RegisterDisk(out.vm, disk, kHotAddMethod, true)) return true;
        EvDebug::Error(fn, "Failed to register disk [%s][%s] with disk info.", disk.sourceVolumeId.c_str(),
                       disk.newVolumeId.c_str());
        SetLastVMError(AmazonErrors::kMountFailed);
        return false;
    };
    for (auto& disk : out.disks) {
        if (IsJobCancelled()) {
            EvDebug::Debug(fn, "Detected Quit flag");
            AmazonErrors::SetInterrupted(*this);
            return false;
        }
        if (!disk.selected) continue;
        if (disk.filtered) {
            EvDebug::Debug(fn, "Not creating new volume for filtered [%s][%s]", disk.sourceVolumeId.c_str(),
                           disk.deviceName.c_str());
            continue;
        }
        if (IsIncrementalReplication(ctx) && !disk.snapshotId.empty()) {
            EvDebug::Debug(fn, "Skipping empty volume creation for [%s]. Volume will be created using snapshot [%s]",
                           disk.sourceVolumeId.c_str(), disk.snapshotId.c_str());
            continue;
        }
        // Which volume the backup came from, for the steps that compare the
        // restore with the backed-up instance after the ids below changed.
        if (disk.originalVolumeId.empty())
            disk.originalVolumeId = disk.sourceVolumeId.empty() ? disk.volumeId : disk.sourceVolumeId;
        if (!disk.newVolumeId.empty()) {
            SDisk info;
            bool notFound = false;
            if (m_pAdminBridge->GetVolumeInfo(disk.newVolumeId, m_proxyVMInfo.region, info, notFound) && !notFound) {
                EvDebug::Debug(fn, "Found the volume [%s], will be reusing it.", disk.newVolumeId.c_str());
                disk.sourceVolumeId = disk.volumeId = disk.name = disk.newVolumeId;
                if (!registerWithDiskInfo(disk)) return false;
                continue;
            }
            EvDebug::Debug(fn, "Failed to get information of volume [%s]. will re-create new volume. Error [%s] ",
                           disk.newVolumeId.c_str(), AmazonCommon::BridgeError(m_pAdminBridge).c_str());
            recreated = true;
        }
        SDisk request = disk;
        if (request.zone.empty()) request.zone = m_proxyVMInfo.zone;
        // A snapshot of the volume is shared with the destination account
        // later, which AWS refuses for one encrypted with the account's
        // managed key; the volume made from it there is encrypted again.
        if (m_restore.crossAccountRestore) {
            request.encrypted = false;
            request.kmsKeyId.clear();
        }
        // Registered the moment it exists, before the wait for it.
        const auto record = [&](const std::string& made) {
            if (static_cast<int>(mode) != kModeUnregistered && !m_cleaner.RegisterDisk(mode, ctx.registrationGuid, made))
                EvDebug::Error(fn, "Failed in registering disk [%s].", made.c_str());
        };
        const bool created =
            m_pTaskUtils->CreateEmptyVolume(request, m_proxyVMInfo.region, m_strOutpostsAccountARN, false, record);
        const std::string id = request.newVolumeId;
        if (id.empty()) return false;
        if (strcasecmp(id.c_str(), disk.sourceVolumeId.c_str()) == 0) {
            EvDebug::Error(fn, "Empty volume GUID is equal to the source volume GUID: [%s]", id.c_str());
            SetLastVMError(AmazonErrors::kVolumeCreate, "Empty volume GUID is equal to the source volume GUID: [" +
                                                            id + "]");
            return false;
        }
        disk.sourceVolumeId = disk.volumeId = disk.newVolumeId = disk.newVolumeId2 = id;
        if (!created) return false;
        disk.name = id;
        if (!registerWithDiskInfo(disk)) return false;
        AmazonCommon::BridgeCall(
            *m_pAdminBridge, fn, [&] { return m_pAdminBridge->SetTag(id, AmazonTags::kBackupTag, tagText, true); },
            "Failed to set tag [%s] on volume [%s]. Error [%s]", AmazonTags::kBackupTag, id.c_str());
        EvDebug::DebugLvl(fn, 2, "Setting tag [%s] [%s] for resource id [%s]", AmazonTags::kBackupTag,
                          tagText.c_str(), id.c_str());
    }
    return true;
}

int CAmazonInfo::PreRestoreVM_AmazonVMAsProxy(const RestoreCtx& ctx) {
    if (ctx.restoreFromSnap && !ctx.conversion) return 1;
    // Nothing to point: the data mover's opens and closes between this phase
    // and the next attach and detach where the proxy is, each call scoping
    // the bridges itself. A bridge left pointed here would still be pointed
    // for whatever the object does next, in another job's region.
    return 1;
}
