// What a job-level snap backup does with the snapshots that failed: marks
// their instances, or deletes every snapshot the manager made.
#include <set>

#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapMetadataPairs.h"

using namespace AmazonErrors;

void CAmazonInfo::GetVolumesThatFailedForSnap(std::vector<SMVolumeInfo>& volumes) const {
    volumes.clear();
    for (const auto& v : m_snap.record.volumes)
        if (v.mountStatus == kSMVolumeSnapFailed || v.mountStatus == kSMVolumeRefused) volumes.push_back(v);
}

bool CAmazonInfo::HandlePartialSnapshotCase(MountCtx& ctx, const std::vector<SVolSnap>& list) {
    std::vector<SMVolumeInfo> failed;
    GetVolumesThatFailedForSnap(failed);
    if (failed.empty()) return true;
    if (failed.size() == m_snap.volumes.size()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "All volumes have failed to snap");
        return false;
    }
    std::vector<uint32_t> archiveFiles;
    for (const auto& volume : failed) {
        archiveFiles.push_back(volume.archiveFileId);
        const SVolSnap* match = nullptr;
        for (const auto& v : list)
            if (v.archiveFileId == volume.archiveFileId) match = &v;
        if (!match || match->datastore.vms.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Archive file ID: [%d] not found in volsnaplist",
                           static_cast<int>(volume.archiveFileId));
            continue;
        }
        auto owner = ctx.snapVMs.find(match->datastore.vms.front().guid);
        if (owner != ctx.snapVMs.end()) owner->second.snapErrorCode = kSnapInstanceVolumesFailed;
    }
    const std::string xml =
        FwFile::JoinPath(ctx.snapMetadataFolder, CVMSnapUtil::GetSnapMetadataFileName(ctx.snapJobId));
    if (!m_pSnapUtil->PatchBackupXMLWithVMErrorCode(ctx, xml) ||
        !InvalidateArchiveFiles(ctx.jobId, ctx.hubCellId, archiveFiles))
        return false;
    // A failed volume's snapshot (one that ended in error or never
    // completed) belongs to no backup once its archive file is given up.
    std::set<uint32_t> failedSnaps;
    for (const auto& volume : failed)
        for (const auto& map : m_snap.record.volSnapMaps)
            if (map.volumeId == volume.volumeId) failedSnaps.insert(map.snapId);
    _DeleteReportedSnapshots(&failedSnaps);
    EvDebug::Debug(__PRETTY_FUNCTION__, "Handling successful for failed instances");
    return true;
}

bool CAmazonInfo::DeletePartialSnapshots() {
    _DeleteReportedSnapshots(nullptr);
    return true;
}

void CAmazonInfo::_DeleteReportedSnapshots(const std::set<uint32_t>* onlySnaps) {
    std::set<std::string> deleted;
    for (const auto& entry : m_snap.record.metadata) {
        if (entry.type != kSMMetaSnapshotPairs) continue;
        if (onlySnaps && !onlySnaps->count(entry.referenceId)) continue;
        if (entry.metadata.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Snap metadata is empty");
            continue;
        }
        if (entry.metadata.find(';') == std::string::npos && entry.metadata.find(':') == std::string::npos)
            EvDebug::Error(__PRETTY_FUNCTION__, "No key-value tokens found for metadata: [%s]", entry.metadata.c_str());
        std::string snapshotId, region;
        std::vector<std::string> invalid;
        const bool found = SnapMetadataPairs::FindSnapshotAndRegion(entry.metadata, snapshotId, region, invalid);
        for (const auto& token : invalid) EvDebug::Error(__PRETTY_FUNCTION__, "Invalid keyvalue: [%s]", token.c_str());
        if (!found) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Unable to get snapshot identifier or region from metadata: [%s]",
                           entry.metadata.c_str());
            continue;
        }
        if (!deleted.insert(snapshotId).second) continue;
        if (AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__,
                [&] { return m_pSourceBridge->DeleteSnapshot(snapshotId, region); },
                "Failed to delete snapshot: [%s] from region: [%s]. %s", snapshotId.c_str(), region.c_str()))
            EvDebug::Debug(__PRETTY_FUNCTION__, "Deleted snapshot: [%s] from region: [%s]", snapshotId.c_str(),
                           region.c_str());
    }
}
