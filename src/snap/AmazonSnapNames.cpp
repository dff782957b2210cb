// Names, folders and the control host of snap backup jobs.
#include <atomic>
#include <mutex>

#include "common/OperationGuard.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"
#include "snap/SnapMetadataPaths.h"

std::string CAmazonInfo::_getSnapshotNameForSnapJob(int32_t hubCellId, int64_t jobId, uint32_t archiveFileId,
                                                    int64_t time) {
    return "ZR_" + std::to_string(hubCellId) + "_" + std::to_string(jobId) + "_" + std::to_string(archiveFileId) +
           "_" + std::to_string(time);
}

std::string CAmazonInfo::_getSnapshotDescriptionForSnapJob(int64_t jobId, const std::string& volumeId, int64_t time) {
    return "Snapshot_created_by_Keldor_for_job_" + std::to_string(jobId) + "_at_" + std::to_string(time) +
           "._Source_Volume_" + volumeId + "_from_" + KDPI_Focus::getClientName();
}

std::string CAmazonInfo::_getVolumeNameForSnapJob(int64_t snapJobId, const std::string& path) {
    std::string name = std::string(AmazonTags::kBackupTag) + "SnapJob_" + std::to_string(snapJobId);
    if (path.empty()) return name;
    return name + "_" + getVolumeIDFromSnapMountPath(path);
}

std::string CAmazonInfo::getVolumeIDFromSnapMountPath(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string CAmazonInfo::MountedVolumeOf(const std::string& snapDevice) {
    std::string id = getVolumeIDFromSnapMountPath(snapDevice);
    return id.rfind("vol-", 0) == 0 ? id : std::string();
}

std::string CAmazonInfo::_getVolumeDescriptionForSnapJob(int64_t jobId, int64_t time) {
    return "Volume_created_by_Keldor_for_job_" + std::to_string(jobId) + "_at_" + std::to_string(time) + "_from_" +
           KDPI_Focus::getClientName();
}

int CAmazonInfo::GetAFileID(const MountCtx& ctx, const std::string& name, DiskType_t type, unsigned int& id) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, 0, [&] {
        if (!ctx.indexingV2) return CVMInfo::GetAFileID(ctx, name, type, id);
        if (ctx.archiveFileId == 0) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get snap Afile Id for VM[%s]", ctx.requestedVMGuid.c_str());
            return 0;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Using VM snap AFile Id [%d] of VM[%s] for [%s]",
                       static_cast<int>(ctx.archiveFileId), ctx.requestedVMGuid.c_str(), name.c_str());
        id = ctx.archiveFileId;
        return 1;
    });
}

std::string CAmazonInfo::_GetSnapMetadataFolderForSnapJob(const MountCtx& ctx) {
    const std::string folder = SnapMetadataPaths::SnapJobFolder(ctx);
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Generated Metadata Folder: [%s]", folder.c_str());
    return folder;
}

std::string CAmazonInfo::_GetSnapMetadataFolderForVM(const MountCtx& ctx, const std::string& instanceId) {
    std::string folder;
    if (!SnapMetadataPaths::VMFolder(ctx, instanceId, folder)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Instance id [%s] cannot name a metadata folder", instanceId.c_str());
        return std::string();
    }
    if (!ctx.snapMetadataFolder.empty())
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "MountCtx Snap Metadata folder: [%s]", folder.c_str());
    else
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Generated Metadata Folder: [%s]", folder.c_str());
    return folder;
}

void CAmazonInfo::_SetSnapMetadataFile(const MountCtx& ctx) {
    const std::string path = SnapMetadataPaths::JobSnapMetadataFile(ctx);
    m_snap.metadataFiles.push_back(path);
    EvDebug::Debug(__PRETTY_FUNCTION__, "Snap metadata File Path:[%s]", path.c_str());
}

int CAmazonInfo::getAmazonSnapControlHostID(const MountCtx& ctx) {
    // Known once per job: another job (of this object or another one of
    // the process) may name another control host, so the value is kept
    // with the job it was found for.
    static std::mutex lock;
    static int64_t cachedJob = 0;
    static int cached = 0;
    {
        std::lock_guard<std::mutex> guard(lock);
        if (cached != 0 && cachedJob == ctx.jobId) return cached;
    }
    int id = ctx.snapControlHostId;
    if (id != 0) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Amazon snap control host from DB: [%lu]", static_cast<unsigned long>(id));
    } else if (KDPlatformInfo().getNumber("VirtualServer", "nAmazonSnapControlHostID", id) && id != 0) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Amazon snap control host from registry [%s\\%s]: [%lu]", "VirtualServer",
                       "nAmazonSnapControlHostID", static_cast<unsigned long>(id));
    }
    if (id != 0) {
        std::lock_guard<std::mutex> guard(lock);
        cachedJob = ctx.jobId;
        cached = id;
    }
    return id;
}
