// The job-level snap backup: PreSnap builds every instance's volumes,
// hands them to the snapshot manager and keeps what each instance's mount
// later reports; PostSnap and the mount of such a job.
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "framework/VMSnapUtil.h"

using namespace AmazonErrors;

int CAmazonInfo::PreSnap(MountCtx& ctx) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, 0, [&] { return _PreSnap(ctx); });
}

int CAmazonInfo::_PreSnap(MountCtx& ctx) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "PreSnap >> Start");
    if (ctx.appAware && ctx.snapBackup) {
        for (const auto& entry : ctx.snapInstances) StartAppawareWorkflow(ctx, entry);
        if (IsJobCancelled()) {
            SetInterrupted(*this);
            return 0;
        }
    }
    ctx.snapJobId = ctx.jobId;
    m_snap = AmazonSnap::SnapState();
    m_snap.record.jobId = ctx.snapJobId;
    if (IsJobCancelled()) {
        SetInterrupted(*this);
        return 0;
    }
    NotifyProgressUpdate(ctx);
    if (!_BuildVolListForSnapshot(ctx)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "_BuildVolListForSnapshot FAILED");
        SetLastVMError(kSnapVolumeList);
        return 0;
    }
    std::vector<SVolSnap> list;
    if (!_GetVolumeList(ctx, list)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "_GetVolumeList FAILED");
        SetLastVMError(kSnapVolumeList);
        return 0;
    }
    const int result = PreSnapAfterReservingArchiveFiles(ctx, list);
    if (result == 0) {
        std::vector<uint32_t> archiveFiles;
        for (const auto& v : m_snap.record.volumes) archiveFiles.push_back(v.archiveFileId);
        if (!InvalidateArchiveFiles(ctx.jobId, ctx.hubCellId, archiveFiles)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to invalidate archive files");
            return 0;
        }
    }
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "PreSnap << End");
    return result;
}

int CAmazonInfo::PreSnapAfterReservingArchiveFiles(MountCtx& ctx, std::vector<SVolSnap>& list) {
    SetLastVMError(0);
    if (!_UpdateVolSnapInfo(ctx, list)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "_UpdateVolSnapInfo FAILED");
        // A custom key that could not be prepared keeps its own code and the
        // bridge's reason.
        if (GetLastVMError() != kAMIOrSnapshotTask) SetLastVMError(kSnapVolumeRecords);
        return 0;
    }
    if (IsJobCancelled()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Job has been interrupted");
        SetInterrupted(*this);
        return 0;
    }
    NotifyProgressUpdate(ctx);
    ctx.volSnaps = list;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Total count of volume in snap list [%d]", static_cast<int>(list.size()));
    m_snap.record.arrayNumber = static_cast<uint32_t>(getAmazonSnapControlHostID(ctx));
    if (!m_pSnapUtil->CreateHWSnapshot(ctx, m_snap.record)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "CreateHWSnapshot FAILED");
        SetLastVMError(kSnapCreate, m_snap.record.errorText);
        DeletePartialSnapshots();
        return 0;
    }
    bool allowPartial = true;
    KDPlatformInfo().getBoolean("VirtualServer", "bAllowPartialHWSnapshot", allowPartial);
    // From here on a failure leaves a job nobody will back up: the
    // snapshots it made are deleted rather than left to cost.
    if (allowPartial && !HandlePartialSnapshotCase(ctx, list)) {
        SetLastVMError(kSnapCreate);
        DeletePartialSnapshots();
        return 0;
    }
    UpdateMountCtxReferenceTimeWIthCurrentTime(ctx);
    _SetSnapMetadataFile(ctx);
    NotifyProgressUpdate(ctx);
    return 1;
}

int CAmazonInfo::PostSnap(MountCtx& ctx) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, 0, [&] {
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, ">>>Beginning");
        if (!ctx.snapBackup || !ctx.indexingV2) {
            EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Skipping post snap. Required only for VMCentric snap backup jobs");
            return 1;
        }
        if (!_GenerateSnapBackupCatalogXml(ctx)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to generate backup catalog XML");
            return 0;
        }
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, ">>>End");
        return 1;
    });
}

// Job-level: the snapshots were taken by PreSnap; the mount of each instance
// reports what PreSnap found for it.
int CAmazonInfo::_MountVM_Snap_Backup(MountCtx& ctx) {
    UpdateMountCtxReferenceTimeWIthCurrentTime(ctx);
    auto known = ctx.snapVMs.find(ctx.requestedVMGuid);
    // An instance the snapshot phase never took has nothing to report as
    // done.
    if (known == ctx.snapVMs.end()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Instance [%s] is not an instance of the snapshot job",
                       ctx.requestedVMGuid.c_str());
        SetLastVMError(kSnapVolumeRecords, "instance " + ctx.requestedVMGuid + " has no snapshots in this snap job");
        return 0;
    }
    if (known->second.snapErrorCode != 0) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Instance: [%s] with GUID: [%s] failed with error code: [%d]",
                       known->second.name.c_str(), known->second.guid.c_str(), known->second.snapErrorCode);
        SetLastVMError(known->second.snapErrorCode);
        return 0;
    }
    return 1;
}
