// A snap backup's metadata files fetched back from the snapshot manager
// (the instance's own files, else the job's), and the instances read from
// them.
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapInstanceMap.h"
#include "snap/SnapMetadataPaths.h"

bool CAmazonInfo::_DownloadVMMetadataFile(const MountCtx& ctx, const std::string& folder, const std::string& fileName) {
    if (folder.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Invalid download folder");
        return false;
    }
    const std::string path = FwFile::JoinPath(folder, fileName);
    if (FwFile::Exists(path)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "VM metadata file already downloaded [%s]", path.c_str());
        return true;
    }
    if (!FwFile::MakeDirs(folder) || !m_pSnapUtil->DownloadVMMetadataFiles(ctx, ctx.requestedVMGuid, folder)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to downloaded VM metadata files for VM [%s]",
                       ctx.requestedVMGuid.c_str());
        return false;
    }
    if (FwFile::Exists(path)) return true;
    EvDebug::Error(__PRETTY_FUNCTION__, "Failed to download VM metadata file [%s]", path.c_str());
    return false;
}

bool CAmazonInfo::_DownloadVMLevelSnapBackupMetadataFile(const MountCtx& ctx) {
    std::string name;
    if (!SnapMetadataPaths::VMLevelFileName(ctx, name)) return false;
    const std::string path = FwFile::JoinPath(ctx.snapMetadataFolder, name);
    if (!_DownloadVMMetadataFile(ctx, ctx.snapMetadataFolder, name)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to downloaded VM-level snap backup xml [%s]", path.c_str());
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully downloaded VM-level snap backup xml [%s]", path.c_str());
    return true;
}

bool CAmazonInfo::_DownloadJobLevelSnapBackupMetadataFile(const MountCtx& ctx) {
    const std::string name = SnapMetadataPaths::JobLevelFileName(ctx);
    const std::string path = FwFile::JoinPath(ctx.snapMetadataFolder, name);
    if (FwFile::Exists(path)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Snap Backup metadata file already downloaded [%s]", path.c_str());
        return true;
    }
    if (!FwFile::MakeDirs(ctx.snapMetadataFolder) ||
        !m_pSnapUtil->DownloadMetadataFiles(ctx, name, ctx.snapMetadataFolder) || !FwFile::Exists(path)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to download Snap backup metadata file [%s]", path.c_str());
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully downloaded job-level snap backup xml [%s]", path.c_str());
    return true;
}

bool CAmazonInfo::_DownloadSnapBackupMetadataFile(const MountCtx& ctx) {
    MountCtx& job = const_cast<MountCtx&>(ctx);   // the framework owns the context
    if (job.snapMetadataFolder.empty()) job.snapMetadataFolder = job.mountPath;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Downloading VM level snap backup xml for VM [%s]", ctx.requestedVMGuid.c_str());
    if (_DownloadVMLevelSnapBackupMetadataFile(ctx)) {
        job.vmLevelSnapMetadata = true;
        return true;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Downloading Job level snap backup xml for VM [%s]", ctx.requestedVMGuid.c_str());
    if (_DownloadJobLevelSnapBackupMetadataFile(ctx)) {
        job.vmLevelSnapMetadata = false;
        return true;
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "Could not download snap backup xml for VM [%s]", ctx.requestedVMGuid.c_str());
    return false;
}

bool CAmazonInfo::_PopulateVMInfoFromDSInfo(int64_t snapJobId) {
    SnapInstanceMap::Problem problem;
    if (SnapInstanceMap::PopulateFromDatastores(m_pSnapUtil->GetDatastores(), c_InstanceInfoMapFromSnapXML[snapJobId],
                                                problem))
        return true;
    if (problem.kind == SnapInstanceMap::Problem::kNoInstance)
        EvDebug::Error(__PRETTY_FUNCTION__, "VM list for volume [%s] is empty, error", problem.volumeId.c_str());
    else
        EvDebug::Error(__PRETTY_FUNCTION__, "More than one vm mapped to volume [%s], error", problem.volumeId.c_str());
    SetLastVMError(AmazonErrors::kSnapMetadataUnreadable, "volume " + problem.volumeId + " of the snap metadata");
    return false;
}
