// A snap backup reverted: the snapshot manager makes volumes from the
// instance's snapshots, the plug-in records them for clean-up and hands
// them to the in-cloud-proxy restore as if the data mover had written them.
#include <strings.h>

#include <set>
#include <vector>

#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/VMSnapUtil.h"

namespace {
constexpr int kRevertLoadMode = 1;
constexpr int kSourceAccount = 1;

VMInfoStructs::SDiskMetadataInfo Tag(const std::string& name, const std::string& value) {
    VMInfoStructs::SDiskMetadataInfo tag;
    tag.name = name;
    tag.value = value;
    return tag;
}

std::string FormatRegionMismatch(const std::string& destination, const std::string& snap) {
    std::string text = "New instance region [{1}] and snap region [{2}] is different.";
    text.replace(text.find("{1}"), 3, destination);
    text.replace(text.find("{2}"), 3, snap);
    return text;
}
}  // namespace

bool CAmazonInfo::_PrepareForFileRevert(const MountCtx& mctx, const RestoreCtx& rctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    SMVolSnapInfo& record = m_snap.record;
    record = SMVolSnapInfo();
    if (!m_pSnapUtil->GetVOLSNAPInfo(mctx, record, kRevertLoadMode)) {
        EvDebug::Error(fn, "_GetVOLSNAPInfo Failed");
        SetLastVMError(AmazonErrors::kSnapVolumeRecords,
                       "no snapshot record of snap job " + std::to_string(mctx.snapJobId));
        return false;
    }
    if (!_GetFileListForRevertFromSnapXML(mctx, rctx)) {
        EvDebug::Error(fn, "Failed to get the file list for VM:[%s] [%s]", mctx.requestedVMName.c_str(),
                       mctx.JobVMGuid().c_str());
        std::string details = "Failed to get the file list for VM [{1}]";
        details.replace(details.find("{1}"), 3, mctx.requestedVMName);
        SetLastVMError(AmazonErrors::kSnapRevertFileList, details);
        return false;
    }
    if (!mctx.indexingV2) _FilterVMSpecificVolumeSnaps(mctx);
    if (record.snaps.empty()) {
        EvDebug::Error(fn, "No Snap found. Snap Count is Zero.");
        SetLastVMError(AmazonErrors::kSnapVolumeRecords,
                       "snap job " + std::to_string(mctx.snapJobId) + " has no snapshots of the instance");
        return false;
    }
    // Only the entries of the snapshots kept for this instance: a job may
    // hold other instances' snapshots in other regions.
    std::set<uint32_t> kept;
    for (const auto& snap : record.snaps) kept.insert(snap.snapId);
    for (const auto& entry : record.metadata) {
        if (entry.type != kSMMetaSnapshotPairs || !kept.count(entry.referenceId)) continue;
        EvDebug::Debug(fn, "Snap Metadata : %s", CVMSnapUtil::MaskSecrets(entry.metadata).c_str());
        std::string region;
        if (GetValueFromSnapMetadata(entry.metadata, "targetRegion", region) && region == rctx.destRegion) continue;
        const std::string text = FormatRegionMismatch(rctx.destRegion, region);
        SetLastVMError(AmazonErrors::kSnapRevertRegionMismatch, text);
        EvDebug::Error(fn, "%s", text.c_str());
        return false;
    }
    m_pSnapUtil->DumpVolSnapInfo(record);
    return true;
}

bool CAmazonInfo::_PerformFileLevelRevert(const MountCtx& mctx, const RestoreCtx& rctx, std::vector<FileInfo_t>&) {
    const char* const fn = __PRETTY_FUNCTION__;
    MountCtx& job = const_cast<MountCtx&>(mctx);   // the framework owns the context
    SMVolSnapInfo& record = m_snap.record;
    const std::string arn = GetDestinationOutpostArn(rctx);
    if (!_PrepareVolSnapInfoForMount(job, rctx.destZone, kSourceAccount, VM_CLEANER_RESTORE, arn)) return false;

    // Each volume goes into the restore's registration the moment it is
    // known, whether the mount went through or not.
    auto registerVolume = [&](const std::string& volumeId) {
        if (!m_cleaner.RegisterDisk(VM_CLEANER_RESTORE, rctx.registrationGuid, volumeId, rctx.destRegion,
                                    SourceAccountForCleaner())) {
            EvDebug::Error(fn, "Failed in registering disk [%s]", volumeId.c_str());
            return false;
        }
        return true;
    };
    if (!_CreateVolumesFromSnap()) {
        for (const auto& snap : record.snaps) {
            const std::string made = MountedVolumeOf(snap.snapDevice);
            const std::string source = getVolumeIDFromSnapMountPath(snap.sourceDevice);
            if (made.empty()) continue;
            EvDebug::Debug(fn, "New volume [%s] was created for source volume [%s]", made.c_str(), source.c_str());
            SDisk* disk = nullptr;
            for (auto& d : rctx.Out().disks)
                if (strcasecmp(d.sourceVolumeId.c_str(), source.c_str()) == 0) disk = &d;
            if (disk)
                disk->newVolumeId = made;
            else
                EvDebug::Error(fn, "Mounted source volume [%s] information not found in restore context",
                               source.c_str());
            registerVolume(made);
        }
        return false;
    }
    // Every volume is registered before the first tag call: a job that dies
    // in that call must not leave a later volume known to no one.
    std::vector<std::string> made;
    for (const auto& snap : record.snaps) {
        const std::string id = MountedVolumeOf(snap.snapDevice);
        if (id.empty()) continue;
        if (!registerVolume(id)) return false;
        made.push_back(id);
    }
    for (const auto& id : made) ApplyTags(id, {Tag(AmazonTags::kBackupTag, "")});
    // A VM-centric record lists the instance as its one volume: its disks
    // are found by the snapshots.
    if (!(mctx.indexingV2 ? _PopulateVolumeMountInfoFromMountedSnapV2(job) : _PopulateVolumeMountInfoFromMountedSnap(job)))
        return false;
    if (!_PrepareVolSnapInfoForUnMount(job) || !_UnmountVolumesFromSnapJob(job)) return false;
    EvDebug::Error(fn, "Successfully cleared volume mount records from DB");

    if (mctx.indexingV2 && !_DeleteDisksNotSelectedForAttachDiskRestore(mctx, rctx))
        return false;
    for (const auto& disk : mctx.vm.disks) {
        SDisk* wanted = nullptr;
        for (auto& d : rctx.Out().disks)
            if (strcasecmp(d.sourceVolumeId.c_str(), disk.volumeId.c_str()) == 0) wanted = &d;
        if (!wanted) {
            EvDebug::Error(fn, "Disk not found in the restore context [%s]", disk.volumeId.c_str());
            return false;
        }
        wanted->newVolumeId = wanted->volumeId = disk.newVolumeId;
        wanted->attachFlag = disk.attachFlag;
    }
    return _DownloadVMConfigFile(mctx.snapMetadataFolder, mctx) != 0;
}

int CAmazonInfo::RevertSnap(MountCtx& mctx, const RestoreCtx& rctx) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, 0, [&] {
        const char* const fn = __PRETTY_FUNCTION__;
        EvDebug::DebugLvl(fn, 2, ">>>Start");
        const std::string& id = mctx.requestedVMGuid;
        const bool wholeInstance = rctx.flavour == RestoreCtx::FullInstance ||
                                   (rctx.flavour == RestoreCtx::AttachDisk && rctx.attachToNewInstance);
        auto& processed = c_snapVMRestoreProcessedMap[rctx.jobId];
        if (wholeInstance) {
            auto done = processed.find(id);
            if (done != processed.end()) {
                EvDebug::Debug(fn, "Instance [%s] processed already, skipping", id.c_str());
                return done->second;
            }
        }
        processed[id] = 0;
        SetLastVMError(0);
        RestoreCtx& out = rctx.Out();
        // Volumes, tags and the restore itself are in the destination region.
        const AmazonCommon::BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, rctx.destRegion);
        if (!RegisterCleanerForRestore(out) || !_PrepareForFileRevert(mctx, rctx) ||
            !_IsRestoreFromSnapFeasible(mctx, rctx))
            return 0;
        if (!AdjustDiskPropertiesForSnapRestore(rctx, mctx)) {
            EvDebug::Error(fn, "Adjust disk properties failed for VM [%s]", id.c_str());
            return 0;
        }
        UpdateDiskNames(rctx);

        // A stop before the volumes are made leaves nothing to undo.
        if (RestoreCancelled(fn)) return 0;
        std::vector<FileInfo_t> files;
        const bool made = _PerformFileLevelRevert(mctx, rctx, files);
        // A stop once they exist, before the instance's own are touched:
        // they go again, and the instance stays as it was.
        if (!made || RestoreCancelled(fn)) {
            if (!made) {
                EvDebug::Error(fn, "Failed to perform File level revert");
                const std::string cause = GetLastVMErrorDetails();
                SetLastVMError(AmazonErrors::kSnapRevertVolumes, cause);
            }
            std::string path;
            if (m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, rctx.registrationGuid, path, false) &&
                !_CleanUpMountedVolumes(path, true, out.failures, true))
                EvDebug::Error(fn, "Deleting left over mounted disks failed.");
            return 0;
        }
        if (!RestoreVM_FromSnap(rctx)) return 0;

        EvDebug::Debug(fn, "Instance [%s] reverted successfully", id.c_str());
        for (const auto& disk : rctx.disks) {
            std::map<std::string, std::string> tags;
            if (disk.newVolumeId.empty() || !m_pSnapUtil->GetTagMap(disk.sourceVolumeId, tags)) continue;
            std::vector<VMInfoStructs::SDiskMetadataInfo> list;
            for (const auto& [key, value] : tags) list.push_back(Tag(key, value));
            ApplyTags(disk.newVolumeId, list);
        }
        processed[id] = 1;
        EvDebug::DebugLvl(fn, 2, ">>>End");
        return 1;
    });
}
