// The framework's mount of a snap backup: the snapshot job's metadata
// fetched and read, so that a backup copy or a live browse knows the job's
// volumes and instances.
#include <set>

#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"

int CAmazonInfo::MountSnap(const MountCtx& ctx) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, 0, [&] {
        const char* const fn = __PRETTY_FUNCTION__;
        MountCtx& job = const_cast<MountCtx&>(ctx);   // the framework owns the context
        EvDebug::Debug(fn, "MountSnap start>>");
        SetLastVMError(0);
        if (!SelectMountMode(job)) return 0;
        // A VM-centric job reads each instance's own files at its mount.
        if (ctx.indexingV2) return 1;

        SMVolSnapInfo record;
        if (!m_pSnapUtil->GetVOLSNAPInfo(ctx, record, 0)) {
            EvDebug::Error(fn, "GetVOLSNAPInfo Failed");
            SetLastVMError(AmazonErrors::kSnapVolumeRecords, "no snapshot record of snap job " +
                                                                  std::to_string(ctx.snapJobId));
            return 0;
        }
        if (record.snaps.empty()) {
            EvDebug::Error(fn, "No Snap found. Snap Count is Zero.");
            SetLastVMError(AmazonErrors::kSnapVolumeRecords, "snap job " + std::to_string(ctx.snapJobId) +
                                                                  " has no snapshots");
            return 0;
        }
        // Every volume of a job names the same file: it is fetched once.
        std::set<std::string> fetched;
        std::string fileName = CVMSnapUtil::GetSnapMetadataFileName(job.snapJobId);
        for (const auto& volume : record.volumes) {
            job.hubCellId = volume.hubCellId;
            job.appTypeId = volume.appId;
            if (ctx.snapJobIdFromRecord && volume.jobId != 0) job.snapJobId = volume.jobId;
            fileName = CVMSnapUtil::GetSnapMetadataFileName(job.snapJobId);
            EvDebug::Debug(fn, "Downloading Metadata with File Name:[%s]", fileName.c_str());
            const std::string path = FwFile::JoinPath(ctx.jobResultsFolder, fileName);
            if (ctx.liveBrowse) {
                EvDebug::Debug(fn, "Check if Metadata file [%s] already exists.", path.c_str());
                if (FwFile::Exists(path)) {
                    EvDebug::Debug(fn, "File already exists, continue.");
                    continue;
                }
            }
            if (fetched.count(fileName)) continue;
            if (!FwFile::MakeDirs(ctx.jobResultsFolder) ||
                !m_pSnapUtil->DownloadMetadataFiles(ctx, fileName, ctx.jobResultsFolder)) {
                EvDebug::Error(fn, "Download Metadata file failed");
                SetLastVMError(AmazonErrors::kSnapMetadataUnreadable, "cannot fetch " + fileName);
                return 0;
            }
            fetched.insert(fileName);
        }

        std::vector<VMInfoStructs::SDatastoreInfo> datastores;
        if (!m_pSnapUtil->ReadSnapMetadataXML(FwFile::JoinPath(ctx.jobResultsFolder, fileName), datastores)) {
            EvDebug::Error(fn, "ReadSnapMetadataXML Failed");
            SetLastVMError(AmazonErrors::kSnapMetadataUnreadable, fileName + " cannot be read");
            return 0;
        }
        std::vector<SVolSnap> list;
        if (!m_pSnapUtil->UpdateVMList(list)) {
            EvDebug::Error(fn, "_UpdateVMList");
            SetLastVMError(AmazonErrors::kSnapVolumeListRebuild, "volume list of " + fileName);
            return 0;
        }
        job.volSnaps = list;
        return _PopulateVMInfoFromDSInfo() ? 1 : 0;
    });
}

int CAmazonInfo::UnmountSnap(MountCtx& ctx) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, 1, [&] {
        if (ctx.backupToTape && !ctx.liveBrowse) DeleteSnapBackupXml(ctx);
        return 1;
    });
}
