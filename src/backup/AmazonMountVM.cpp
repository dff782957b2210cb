// The framework's backup mount: the dispatcher and the steps around staging.
#include "backup/MountModes.h"
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using namespace AmazonMount;

namespace {
const char* TrueFalse(bool value) { return value ? "True" : "False"; }
}  // namespace

int CAmazonInfo::MountVM(MountCtx& ctx) {
    const int result = AmazonGuard::Guarded(__PRETTY_FUNCTION__, "Mount failed", 0, [&] { return _MountVM(ctx); });
    if (result == 0) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Instance [%s] failed to mount", ctx.effectiveVMGuid.c_str());
        // The framework must see why the mount failed, not what the rollback
        // did: a failure always carries a code, and the rollback's own
        // errors do not replace it.
        if (GetLastVMError() == 0)
            SetLastVMError(AmazonErrors::kMountFailed, "Instance [" + ctx.JobVMGuid() + "] failed to mount");
        const EVMInfoError code = GetLastVMError();
        const std::string details = GetLastVMErrorDetails();
        // Whatever staging made is undone now rather than by a later clean-up.
        UnmountVM(ctx);
        SetLastVMError(code, details);
        return 0;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Instance [%s] successfully mounted", ctx.effectiveVMGuid.c_str());
    return result;
}

int CAmazonInfo::_MountVM(MountCtx& ctx) {
    SetLastVMError(0);
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2,
                      "MountCtx Flags:: IndexingV2:[%s], snapBackup:[%s], backupToTape:[%s], liveBowse:[%s], "
                      "liveRestore:[%s], liveMountSnap:[%s], transportMode:[%s], m_bESXProxylessLiveBrowseMount:[%s]",
                      TrueFalse(ctx.indexingV2), TrueFalse(ctx.snapBackup), TrueFalse(ctx.backupToTape),
                      TrueFalse(ctx.liveBrowse), TrueFalse(ctx.liveRestore), TrueFalse(ctx.liveMountSnap),
                      ctx.transportMode.c_str(), TrueFalse(ctx.proxylessLiveBrowseMount));
    if (IsSnapBackup(ctx)) return MountVM_Snap_Backup(ctx);
    if (ctx.proxylessLiveBrowseMount) return _MountVMLiveBrowsePseudoMount(ctx);
    if (!PreMount(ctx)) return 0;
    if (ctx.transportMode == kModeHotadd && !CheckLVMetaDDisabled()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "lvmetad is enabled. Need to disable and stop lvmetad");
        SetLastVMError(AmazonErrors::kLvmetadEnabled,
                       "LVM's metadata daemon (lvmetad) runs on the proxy; stop and disable it for hot-add");
        return 0;
    }
    const int staged = ctx.backupToTape ? _MountVM_SNAP(ctx) : _MountVMStreamingBackup(ctx);
    if (!staged) return 0;
    if (!PostMount(ctx)) return 0;
    StartChangeTracking(ctx);
    if (!ctx.liveBrowse) return 1;
    return FinishLiveBrowseMount(ctx);
}

int CAmazonInfo::PreMount(MountCtx& ctx) {
    if (!ctx.failbackVMGuid.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "It is failback job/Live browse,  VM Id [%s]", ctx.failbackVMGuid.c_str());
        ctx.effectiveVMGuid = ctx.failbackVMGuid;
    } else {
        ctx.effectiveVMGuid = ctx.requestedVMGuid;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Mounting instance : [%s] GUID : [%s] Mount Path : [%s]",
                   ctx.requestedVMName.c_str(), ctx.effectiveVMGuid.c_str(), ctx.mountPath.c_str());
    const bool haveVM = IsIndexingV2Copy(ctx)
                            ? PopulateVMInfoFromSnapBackupXml(ctx, ctx.vm)
                            : _InitVMInfoForBackup(ctx.requestedVMName, ctx.effectiveVMGuid, "", ctx.backupToTape,
                                                   ctx.snapJobId, ctx.vm);
    if (!haveVM || !SelectMountMode(ctx) || !IsBackupFeasible(ctx.vm, ctx)) return 0;
    if (!RegisterCleanerForBackup(ctx)) return 0;
    if (!ConnectDiskInfo(ctx.vm)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to connect to disk info.");
        return 0;
    }
    if (IsDirectRead(ctx) && m_bUseDirectSnapshotAccess && !InitializeDirectSnapshotAccessAPIWrapper()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to initialize direct snapshot access API wrapper.");
        return 0;
    }
    return 1;
}

int CAmazonInfo::PostMount(MountCtx& ctx) {
    if (IsIndexingV2Copy(ctx)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "IndexingV2 backup copy. Skipping download of VmConfigFile");
        return 1;
    }
    RemoveEndedJobFolders(ctx.mountPath);
    // Into this run's folder, where the full mount information finds it.
    if (ctx.backupToTape) return _DownloadVMConfigFile(JobMountFolder(ctx), ctx);
    return SaveVMConfigFile(JobMountFolder(ctx), ctx.vm) ? 1 : 0;
}

void CAmazonInfo::StartChangeTracking(MountCtx& ctx) {
    if (!ctx.cbtEnabled) {
        // Nothing of an earlier job's chain may guide this job's clean-up.
        m_cbtLastFull.clear();
        m_cbtReferenceAMI.clear();
        ctx.cbtStatus = "Disabled";
    } else if (!InitCBT(ctx)) {
        ctx.cbtEnabled = false;
    }
    DeleteExpiredCBTSnapshot(ctx);
}

int CAmazonInfo::FinishLiveBrowseMount(MountCtx& ctx) {
    if (IsDirectRead(ctx)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Skip attach volume for EBS Direct");
        return 1;
    }
    return AttachVolumesForLiveBrowse(ctx);
}
