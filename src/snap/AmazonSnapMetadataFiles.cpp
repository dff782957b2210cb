// The metadata files a snap backup job hands to the framework.
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapMetadataPaths.h"

using namespace AmazonErrors;

int CAmazonInfo::GetMetadataFiles(const MountCtx& ctx, std::vector<std::string>& files, int type) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, 0, [&] {
        files = m_snap.metadataFiles;
        if (ctx.backupToTape) {
            if (!ctx.indexingV2) {
                const std::string name = SnapMetadataPaths::JobLevelFileName(ctx);
                EvDebug::Debug(__PRETTY_FUNCTION__, "Metadata file to download:[%s]", name.c_str());
                if (!m_pSnapUtil->DownloadMetadataFiles(ctx, name, ctx.jobResultsFolder)) {
                    EvDebug::Error(__PRETTY_FUNCTION__, "Download Metadata file failed");
                    return 0;
                }
            } else {
                EvDebug::Debug(__PRETTY_FUNCTION__, "Indexing V2 backup copy job. No need to download MetadataFiles");
            }
            std::vector<SVolSnap> list;
            if (!m_pSnapUtil->UpdateVMList(list)) {
                EvDebug::Error(__PRETTY_FUNCTION__, "_UpdateVMList");
                SetLastVMError(kSnapVolumeListRebuild);
                return 0;
            }
            const_cast<MountCtx&>(ctx).volSnaps = list;   // the framework owns the context
        }
        if (type == 1) {
            // A job-level job's snap metadata folder is the job's own; each
            // instance's files are in the instance's folder below it, where
            // the volume list wrote them.
            MountCtx instance = ctx;
            if (!ctx.indexingV2) instance.snapMetadataFolder.clear();
            const std::string folder = _GetSnapMetadataFolderForVM(instance, ctx.requestedVMGuid);
            std::string vmFile;
            if (!folder.empty()) {
                const std::string config = FwFile::JoinPath(folder, ctx.requestedVMGuid + "_InstanceConfig.xml");
                if (FwFile::Exists(config)) files.push_back(config);
                if (SnapMetadataPaths::VMLevelFileName(ctx, vmFile) && FwFile::Exists(FwFile::JoinPath(folder, vmFile)))
                    files.push_back(FwFile::JoinPath(folder, vmFile));
            }
        }
        return 1;
    });
}
