// The end of a backup copy: the snapshot manager removes the volumes it
// made, the sharing is withdrawn, what the registry still holds goes, and
// the files fetched for the copy leave the job's folder.
#include "backup/MountModes.h"
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"

using namespace AmazonMount;

int CAmazonInfo::CleanupMountedVM_BackupToTape(MountCtx& ctx) {
    if (!ctx.backupToTape) return 0;
    std::string path;
    m_cleaner.GetRegisteredVM(VM_CLEANER_BACKUP, ctx.JobVMGuid(), path, false);
    int result = 1;
    // A record that was never loaded names nothing the manager made.
    if (!m_snap.record.snaps.empty() && !_UnMountVM_SNAP(ctx)) result = 0;
    if (CrossAccountHotadd(ctx) && !UnshareSnapshotBackupCopy(ctx.vm.disks)) result = 0;
    // What the manager could not remove (or reported as already gone) is
    // still registered: the registry-driven clean-up takes it, and keeps
    // the instance registered for the next job when it cannot.
    if (!_CleanupMountedVM(ctx.JobVMGuid(), false, ctx.failures)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister VM [%s]", ctx.effectiveVMGuid.c_str());
        result = 0;
    }
    m_bCleanerRegistered = false;
    m_snap.record = SMVolSnapInfo();
    const std::string folder = JobMountFolder(ctx);
    // Only this run's own folder: the mount path itself is shared with the
    // other jobs of the proxy.
    if (!ctx.liveBrowse && folder != ctx.mountPath && FwFile::IsDirectory(folder)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Cleaning up mount path directory[%s] for completed VM.", folder.c_str());
        if (!FwFile::RemoveTree(folder)) EvDebug::Error(__PRETTY_FUNCTION__, "Failed to remove [%s]", folder.c_str());
    }
    return result;
}

int CAmazonInfo::_DownloadVMConfigFile(const std::string& mountPath, const MountCtx& ctx) {
    const std::string name = AmazonCommon::InstanceConfigFileName(ctx.requestedVMGuid);
    if (!IsPathSafeId(ctx.requestedVMGuid) || !_DownloadVMMetadataFile(ctx, mountPath, name)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to download VM Config file for VM: [%s]",
                       ctx.effectiveVMGuid.c_str());
        SetLastVMError(AmazonErrors::kMountFailed,
                       "Failed to download VM Config file for VM: [" + ctx.effectiveVMGuid + "]");
        return 0;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully downloaded config file in [%s]", mountPath.c_str());
    return 1;
}

bool CAmazonInfo::DeleteSnapBackupXml(const MountCtx& ctx) {
    // Where the mount of the snap job fetched it, unless the job names a
    // folder of its own.
    const std::string& folder = ctx.snapMetadataFolder.empty() ? ctx.jobResultsFolder : ctx.snapMetadataFolder;
    if (folder.empty()) return true;
    const std::string path = FwFile::JoinPath(folder, CVMSnapUtil::GetSnapMetadataFileName(ctx.snapJobId));
    if (!FwFile::Exists(path)) return true;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Deleting snap backup xml: [%s]", path.c_str());
    return FwFile::RemoveFile(path);
}
