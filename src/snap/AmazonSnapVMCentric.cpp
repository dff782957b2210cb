// The VM-centric snap backup: the mount of each instance prepares its
// record and files and has the snapshot manager snapshot the instance.
#include <strings.h>

#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapJobIdentifiers.h"

using namespace AmazonErrors;

namespace {
// The instance-level volume of the request: the manager snapshots every
// unfiltered volume of the instance it names.
constexpr uint64_t kInstanceVolumeFlags = 0x128000000ULL;
}  // namespace

int CAmazonInfo::MountVM_Snap_Backup(const MountCtx& ctx) {
    MountCtx& job = const_cast<MountCtx&>(ctx);   // the framework owns the context
    if (ctx.indexingV2) return _MountVM_Snap_Backup_VMCentric(job);
    return _MountVM_Snap_Backup(job);
}

int CAmazonInfo::_MountVM_Snap_Backup_VMCentric(MountCtx& ctx) {
    if (_MountVM_Snap_Backup_VMCentric_Internal(ctx)) return 1;
    // The framework must not wait for an archive file nothing will fill.
    if (ctx.archiveFileId != 0) InvalidateArchiveFiles(ctx.vmJobId, ctx.hubCellId, {ctx.archiveFileId});
    return 0;
}

int CAmazonInfo::_MountVM_Snap_Backup_VMCentric_Internal(MountCtx& ctx) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, ">>>Beginning");
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "jobID:[%lld], vmID:[%s], vmJobid;[%lld]",
                      static_cast<long long>(ctx.jobId), ctx.requestedVMGuid.c_str(),
                      static_cast<long long>(ctx.vmJobId));
    ctx.snapJobId = ctx.vmJobId;
    // Each instance is its own snapshot request: nothing of the previous
    // instance's record, volumes or files may travel with this one.
    m_snap.record = SMVolSnapInfo();
    m_snap.volumes.clear();
    ctx.volSnaps.clear();
    ctx.snapMetadataFolder = _GetSnapMetadataFolderForVM(ctx, ctx.requestedVMGuid);
    if (ctx.snapMetadataFolder.empty()) {
        SetLastVMError(kSnapVolumeRecords, "instance id [" + ctx.requestedVMGuid + "] cannot name a folder");
        return 0;
    }
    if (!_PrepareMountCtxVmInfoForVMSnapBackup(ctx)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to prepare VMInfo for snap backup");
        return 0;
    }
    if (!IsBackupFeasible(ctx.vm, ctx)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Backup for [%s][%s] is not feasible", ctx.vm.name.c_str(),
                       ctx.vm.guid.c_str());
        return 0;
    }
    if (ctx.appAware) {
        SVMBasicInfo entry;
        _GetVMBasicInfoForVM(ctx, ctx.requestedVMGuid, entry);
        StartAppawareWorkflow(ctx, entry);
    }
    if (IsJobCancelled()) {
        SetInterrupted(*this);
        return 0;
    }
    if (!_PrepareMountCtxVmInfoDisklistForVMSnapBackup(ctx)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to prepare VMInfo disklist for snap backup");
        return 0;
    }
    if (!_WriteVMConfigFile_SnapBackup(ctx)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to write VmConfig file");
        return 0;
    }
    if (!PopulateVolSnapAndTransientMetadata(ctx)) return 0;
    if (!_WriteVMSnapBackupMetadataXML(ctx)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to generate snap backup metdata file for VM");
        return 0;
    }
    if (!_CreateBackupSnapsForVM(ctx)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to create backup snaps for VM");
        return 0;
    }
    {
        // Only now, with its snapshots taken and its disks' filtered flags
        // final, does the instance belong in the job's catalogue.
        std::lock_guard<CriticalSection> guard(c_InstanceGuidToVMInfoMapLock);
        c_InstanceGuidToVMInfoMap[ctx.jobId][ctx.vm.guid] = ctx.vm;
    }
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, ">>>End");
    return 1;
}

bool CAmazonInfo::_GetVMBasicInfoForVM(const MountCtx& ctx, const std::string& instanceId, SVMBasicInfo& info) {
    for (const auto& entry : ctx.snapInstances) {
        if (entry.guid != instanceId) continue;
        info = entry;
        return true;
    }
    return false;
}

bool CAmazonInfo::_PrepareMountCtxVmInfoForVMSnapBackup(MountCtx& ctx) {
    SVMBasicInfo entry;
    if (!_GetVMBasicInfoForVM(ctx, ctx.requestedVMGuid, entry)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to find basic info for instance ID [%s]",
                       ctx.requestedVMGuid.c_str());
        SetLastVMError(kInstanceNotFound, "instance " + ctx.requestedVMGuid + " is not an instance of the job");
        return false;
    }
    SVMInfo vm;
    if (!_InitVMInfoForBackup(entry.name, entry.guid, "", false, 0, vm)) return false;
    AmazonSnap::CopyJobIdentifiers(entry, vm);
    vm.snapErrorCode = 0;
    vm.snapshotTaken = false;
    vm.archiveFileId = std::to_string(ctx.archiveFileId);
    ctx.vm = std::move(vm);
    return true;
}

bool CAmazonInfo::_PrepareMountCtxVmInfoDisklistForVMSnapBackup(MountCtx& ctx) {
    size_t kept = 0;
    for (auto& disk : ctx.vm.disks) {
        disk.filtered = IsDiskFiltered(ctx, disk);
        if (!disk.filtered) {
            ++kept;
            continue;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s][%s] of instance [%s][%s] is filtered", disk.volumeId.c_str(),
                       disk.name.c_str(), ctx.vm.name.c_str(), ctx.vm.guid.c_str());
        ++ctx.excludedDiskCount;
    }
    ctx.vm.allDisks = ctx.vm.disks;
    if (kept != 0) return true;
    EvDebug::Error(__PRETTY_FUNCTION__, "All disks are filtered for Instance [%s][%s].", ctx.vm.name.c_str(),
                   ctx.vm.guid.c_str());
    SetLastVMError(kErrAllDisksFiltered, "every disk of instance " + ctx.vm.guid + " is filtered");
    return false;
}

bool CAmazonInfo::_WriteVMConfigFile_SnapBackup(MountCtx& ctx) {
    return FwFile::MakeDirs(ctx.snapMetadataFolder) && SaveVMConfigFile(ctx.snapMetadataFolder, ctx.vm);
}

void CAmazonInfo::_PopulateSMVolumeInfoForVM(const MountCtx& ctx, SMVolSnapInfo& record) {
    SMVolumeInfo volume;
    volume.sourcePath = "/" + ctx.vm.region + "/" + ctx.vm.guid;
    volume.sourceGuid = ctx.vm.guid;
    volume.sourceDevice = ctx.vm.name;
    volume.jobId = ctx.snapJobId;
    volume.setHubCellId(ctx.hubCellId);
    volume.appId = ctx.subclientId;
    volume.appTypeId = ctx.appTypeId;
    volume.originClientId = static_cast<int32_t>(ctx.vm.clientId);
    volume.sourceClientId = ctx.sourceClientId;
    volume.volumeFlags = kInstanceVolumeFlags;
    volume.archiveFileId = ctx.archiveFileId;
    volume.masterJobId = ctx.jobId;
    record.AddVolume(volume);
}

bool CAmazonInfo::_CreateBackupSnapsForVM(MountCtx& ctx) {
    SMVolSnapInfo& record = m_snap.record;
    _PopulateSMVolumeInfoForVM(ctx, record);
    record.jobId = ctx.snapJobId;
    record.arrayNumber = static_cast<uint32_t>(getAmazonSnapControlHostID(ctx));
    m_pSnapUtil->DumpVolSnapInfo(record);
    if (!m_pSnapUtil->CreateHWSnapshot(ctx, record)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to create hardware snapshots");
        SetLastVMError(kAMIOrSnapshotTask, record.errorText);
        // No backup will name them: what the manager made goes now.
        DeletePartialSnapshots();
        return false;
    }
    UpdateMountCtxReferenceTimeWIthCurrentTime(ctx);
    ctx.vm.snapshotTaken = true;
    return true;
}
