// The framework's mount of a snap job before a backup copy of it: the job's
// snap metadata fetched back and read, so that each instance's mount finds
// its record; and the file removed again at the end.
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapMetadataPaths.h"

using namespace AmazonErrors;

int CAmazonInfo::MountSnap(const MountCtx& constCtx) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, "Snap mount failed", 0, [&] {
        MountCtx& ctx = const_cast<MountCtx&>(constCtx);   // the framework owns the context
        EvDebug::Debug(__PRETTY_FUNCTION__, "MountSnap start>>");
        SetLastVMError(0);
        if (!SelectMountMode(ctx)) return 0;
        if (ctx.indexingV2) return 1;
        SMVolSnapInfo record;
        if (!m_pSnapUtil->GetVOLSNAPInfo(ctx, record, 0)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "GetVOLSNAPInfo Failed");
            SetLastVMError(kSnapVolumeRecords, "GetVOLSNAPInfo Failed");
            return 0;
        }
        if (record.snaps.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "No Snap found. Snap Count is Zero.");
            SetLastVMError(kSnapVolumeRecords, "No Snap found. Snap Count is Zero.");
            return 0;
        }
        for (const auto& volume : record.volumes) {
            ctx.hubCellId = volume.hubCellId;
            ctx.subclientId = volume.appId;
            if (ctx.snapJobIdFromRecord) ctx.snapJobId = volume.jobId;
        }
        const std::string name = SnapMetadataPaths::JobLevelFileName(ctx);
        const std::string path = FwFile::JoinPath(ctx.jobResultsFolder, name);
        EvDebug::Debug(__PRETTY_FUNCTION__, "Downloading Metadata with File Name:[%s]", name.c_str());
        if (ctx.liveBrowse) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Check if Metadata file [%s] already exists.", path.c_str());
            if (FwFile::Exists(path)) EvDebug::Debug(__PRETTY_FUNCTION__, "File already exists, continue.");
        }
        if (!(ctx.liveBrowse && FwFile::Exists(path)) &&
            !m_pSnapUtil->DownloadMetadataFiles(ctx, name, ctx.jobResultsFolder)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Download Metadata file failed");
            SetLastVMError(kSnapMetadataUnreadable, "Download Metadata file failed");
            return 0;
        }
        std::vector<VMInfoStructs::SDatastoreInfo> datastores;
        if (!m_pSnapUtil->ReadSnapMetadataXML(path, datastores)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "ReadSnapMetadataXML Failed");
            SetLastVMError(kSnapMetadataUnreadable, "ReadSnapMetadataXML Failed");
            return 0;
        }
        std::vector<SVolSnap> list;
        if (!m_pSnapUtil->UpdateVMList(list)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "_UpdateVMList");
            SetLastVMError(kSnapVolumeListRebuild);
            return 0;
        }
        ctx.volSnaps = list;
        ForgetSnapXmlInstances(ctx.snapJobId, datastores);
        return _PopulateVMInfoFromDSInfo(ctx.snapJobId) ? 1 : 0;
    });
}

void CAmazonInfo::ForgetSnapXmlInstances(int64_t snapJobId,
                                         const std::vector<VMInfoStructs::SDatastoreInfo>& datastores) {
    // The instance as the file just read records it, not as an earlier read
    // of this snap job's metadata in this process did.
    const auto job = c_InstanceInfoMapFromSnapXML.find(snapJobId);
    if (job == c_InstanceInfoMapFromSnapXML.end()) return;
    for (const auto& ds : datastores)
        for (const auto& vm : ds.vms) job->second.erase(vm.guid);
}

const VMInfoStructs::SVMInfo* CAmazonInfo::SnapXmlInstance(int64_t snapJobId, const std::string& id) {
    const auto job = c_InstanceInfoMapFromSnapXML.find(snapJobId);
    if (id.empty() || job == c_InstanceInfoMapFromSnapXML.end()) return nullptr;
    const auto found = job->second.find(id);
    return found == job->second.end() ? nullptr : &found->second;
}

int CAmazonInfo::UnmountSnap(MountCtx& ctx) {
    AmazonGuard::Guarded(__PRETTY_FUNCTION__, 1, [&] {
        if (ctx.backupToTape && !ctx.liveBrowse) DeleteSnapBackupXml(ctx);
        return 1;
    });
    return 1;
}
