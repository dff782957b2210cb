// The disks a snap revert restores: read from the snap metadata, matched
// with the restore's own disk list, given the restore's volume properties,
// and the volumes of disks nobody selected taken away again.
#include <set>
#include <strings.h>

#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapMetadataPaths.h"

namespace {
// A per-item problem shown with the restore's result.
void AddRestoreFailureEntry(const RestoreCtx& rctx, const std::string& reason, const std::string& message) {
    rctx.Out().failures.emplace_back(rctx.restoreVMName, reason, rctx.vmGuid, message);
}

VMInfoStructs::SDisk* RestoreDiskFor(const RestoreCtx& rctx, const std::string& sourceVolumeId) {
    for (auto& disk : rctx.Out().disks)
        if (strcasecmp(disk.sourceVolumeId.c_str(), sourceVolumeId.c_str()) == 0) return &disk;
    return nullptr;
}
}  // namespace

bool CAmazonInfo::_GetFileListForRevertFromSnapXML(const MountCtx& mctx, const RestoreCtx& rctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    MountCtx& job = const_cast<MountCtx&>(mctx);   // the framework owns the context
    if (!_DownloadSnapBackupMetadataFile(mctx)) {
        EvDebug::Error(fn, "Failed to download snap backup metadata file");
        return false;
    }
    std::string name;
    if (job.vmLevelSnapMetadata) {
        if (!SnapMetadataPaths::VMLevelFileName(mctx, name)) return false;
    } else {
        name = SnapMetadataPaths::JobLevelFileName(mctx);
    }
    std::vector<VMInfoStructs::SDatastoreInfo> datastores;
    if (!m_pSnapUtil->ReadSnapMetadataXML(FwFile::JoinPath(mctx.snapMetadataFolder, name), datastores)) {
        EvDebug::Error(fn, "ReadSnapMetadataXML Failed");
        return false;
    }
    if (!_PopulateVMInfoFromDSInfo(mctx.snapJobId)) return false;
    if (c_InstanceInfoMapFromSnapXML[mctx.snapJobId].empty()) {
        EvDebug::Error(fn, "Instance volume list is empty. Check snap job XML");
        return false;
    }
    const std::string& id = mctx.JobVMGuid();
    const SVMInfo* const found = SnapXmlInstance(mctx.snapJobId, id);
    if (!found) {
        EvDebug::Error(fn, "Instance [%s][%s] file list is not present. Check snap job XML",
                       mctx.requestedVMName.c_str(), id.c_str());
        AddRestoreFailureEntry(rctx, "Instance [" + id + "] is not in the snap backup", name);
        return false;
    }

    job.vm.disks.clear();
    job.vm.allDisks.clear();
    // A job-level backup's record lists each volume: only those the restore
    // names get a volume (a VM-centric one gets all, and the others go again
    // once they exist). A full revert of some disks leaves the others alone.
    const bool onlySelected = !mctx.indexingV2;
    for (const auto& disk : found->allDisks) {
        if (disk.filtered) {
            EvDebug::Debug(fn, "Volume [%s][%s] is filtered, not restoring it", disk.name.c_str(),
                           disk.volumeId.c_str());
            continue;
        }
        SDisk* wanted = RestoreDiskFor(rctx, disk.volumeId);
        if (onlySelected && !wanted) continue;
        if (wanted) wanted->deviceName = disk.deviceName;
        EvDebug::Debug(fn, "Volume to restore: [%s][%s]", disk.name.c_str(), disk.volumeId.c_str());
        job.vm.disks.push_back(disk);
        job.vm.allDisks.push_back(disk);
    }
    // A disk asked for that the backup does not hold would otherwise be
    // dropped without a word and the revert reported as complete.
    bool complete = true;
    for (const auto& wanted : rctx.disks) {
        if (!wanted.selected || wanted.filtered) continue;
        bool held = false;
        for (const auto& disk : job.vm.disks)
            held = held || strcasecmp(disk.volumeId.c_str(), wanted.sourceVolumeId.c_str()) == 0;
        if (held) continue;
        EvDebug::Error(fn, "Volume [%s] is not in the snap backup of instance [%s]", wanted.sourceVolumeId.c_str(),
                       id.c_str());
        AddRestoreFailureEntry(rctx, "Volume [" + wanted.sourceVolumeId + "] is not in the snap backup", name);
        complete = false;
    }
    return complete;
}

bool CAmazonInfo::AdjustDiskPropertiesForSnapRestore(const RestoreCtx& rctx, const MountCtx& mctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    std::vector<VMInfoStructs::SVolumeTypeInfo> types;
    GetVolumeTypeListForHost(rctx.destRegion, types);
    for (auto& disk : const_cast<MountCtx&>(mctx).vm.disks) {
        const SDisk* wanted = RestoreDiskFor(rctx, disk.volumeId);
        if (wanted) {
            if (!wanted->volumeType.empty()) {
                disk.volumeType = wanted->volumeType;
                disk.iops = wanted->iops;
            }
            if (wanted->encrypted) {
                disk.encrypted = true;
                disk.kmsKeyId = wanted->kmsKeyId;
            }
        } else {
            EvDebug::Debug(fn, "Could not find Disk [%s] in restoreCtx disk list", disk.volumeId.c_str());
        }
        AdjustVolumeType(disk, rctx, types);
        AdjustVolumeEncryption(disk, rctx.destRegion, rctx);
    }
    return true;
}

bool CAmazonInfo::_DeleteDisksNotSelectedForAttachDiskRestore(const MountCtx& mctx, const RestoreCtx& rctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    EvDebug::DebugLvl(fn, 2, ">>>Beginning");
    std::set<std::string> selected;
    for (const auto& disk : rctx.disks) selected.insert(disk.sourceVolumeId);
    std::vector<SDisk>& disks = const_cast<MountCtx&>(mctx).vm.disks;
    std::vector<SDisk> unselected, kept;
    for (auto& disk : disks) {
        const bool chosen = selected.count(disk.volumeId) != 0;
        EvDebug::Debug(fn, chosen ? "Mounted Disk ID:[%s] Source ID:[%s] is selected for restore"
                                  : "Mounted Disk ID:[%s] Source ID:[%s] is not selected for restore",
                       disk.newVolumeId.c_str(), disk.volumeId.c_str());
        if (chosen) {
            kept.push_back(disk);
            continue;
        }
        // The volume made for the disk, as the record delete acts on.
        SDisk volume;
        volume.name = volume.volumeId = volume.newVolumeId = disk.newVolumeId;
        volume.diskType = 1;
        unselected.push_back(volume);
    }
    disks = kept;
    if (unselected.empty()) return true;
    std::string path;
    if (!m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, rctx.registrationGuid, path, false))
        EvDebug::Debug(fn, "Failed to get VM cleaner path for cleanerID: [%s]", rctx.registrationGuid.c_str());
    if (!DeleteVolumes(unselected, path, true)) {
        EvDebug::Error(fn, "Failed to delete non selected disks");
        return false;
    }
    return true;
}

bool CAmazonInfo::RestoreVM_FromSnap(const RestoreCtx& rctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    EvDebug::Debug(fn, "Restore vm from snap");
    if (!InitRestoreVM_AmazonVMAsProxy(rctx)) return false;
    bool ok = PreRestoreVM_AmazonVMAsProxy(rctx) != 0;
    // The last point a stop is taken: once the volumes are being swapped,
    // the job completes, or rolls back as after a failure.
    ok = ok && !RestoreCancelled(fn);
    const bool toExisting = rctx.flavour == RestoreCtx::AttachDisk && !rctx.attachToNewInstance;
    ok = ok && (toExisting ? RestoreVolume_AmazonVMAsProxy(rctx) : RestoreVM_AmazonVMAsProxy(rctx));
    ok = ok && PostRestoreVM_AmazonVMAsProxy(rctx) != 0;
    if (ok) return true;
    // The phase's own error is the job's; the clean-up's must not replace it.
    const EVMInfoError code = GetLastVMError();
    const std::string details = GetLastVMErrorDetails();
    CleanupRestoreVM(rctx);
    SetLastVMError(code, details);
    return false;
}
