// The end of a backup's use of AWS: what staging made for the instance is
// detached and deleted, the configuration file leaves the mount path and the
// disk registry lets the instance go.
#include "backup/MountModes.h"
#include "common/RegionScope.h"
#include "disk/AmazonDiskInfo.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using namespace AmazonMount;

int CAmazonInfo::UnmountVM(MountCtx& ctx) {
    const int result =
        AmazonGuard::Guarded(__PRETTY_FUNCTION__, "Unmount failed", 0, [&] { return _UnMountVM(ctx); });
    if (!result) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Instance [%s] failed to unmount.", ctx.requestedVMName.c_str());
        return 0;
    }
    SaveCleanupString(ctx, "");
    EvDebug::Debug(__PRETTY_FUNCTION__, "Instance [%s] unmounted successfully", ctx.requestedVMName.c_str());
    return result;
}

bool CAmazonInfo::PrepareProxySide(const MountCtx& ctx) {
    if (!IsDirectRead(ctx) && !_InitProxyInfoForBackup(ctx)) return false;
    return _InitMount();
}

int CAmazonInfo::_UnMountVM(MountCtx& ctx) {
    if (IsSnapBackup(ctx)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Skipping unmount of VM [%s] for snap job", ctx.effectiveVMGuid.c_str());
        return 1;
    }
    if (ctx.proxylessLiveBrowseMount) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Skipping unmount for live browse psuedo mount");
        return 1;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Unmounting VM [%s] GUID [%s]", ctx.effectiveVMGuid.c_str(),
                   ctx.requestedVMGuid.c_str());
    if (!PrepareProxySide(ctx)) return 0;
    const int result = _UnMountVMStreaming(ctx);
    if (m_pDiskInfo) {
        std::vector<std::string> openSnapshots;
        if (!m_pDiskInfo->Disconnect(ctx.vm, &openSnapshots))
            EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to disconnect disk info for VM : [%s].", ctx.vm.guid.c_str());
        // Disks the data mover never closed would keep their block tokens
        // for the life of the plug-in object.
        for (const auto& snapshotId : openSnapshots) ClearSnapshotAccessInfo(snapshotId);
        const auto diskFailures = m_pDiskInfo->TakeDiskFailures();
        ctx.failures.insert(ctx.failures.end(), diskFailures.begin(), diskFailures.end());
    }
    return result;
}

int CAmazonInfo::_UnMountVMStreaming(MountCtx& ctx) {
    const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, GetProxyRegion());
    // Shares go before what they share: a snapshot the clean-up fails to
    // delete is at least no longer the admin account's to use.
    if (!ctx.backupToTape && CrossAccountHotadd(ctx) && !UnshareSnapshotBackupCopy(ctx.vm.disks))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to withdraw the sharing of the snapshots of [%s].",
                       ctx.JobVMGuid().c_str());
    const int result = ctx.backupToTape ? CleanupMountedVM_BackupToTape(ctx)
                                        : (_CleanupMountedVM(ctx.JobVMGuid(), false, ctx.failures) ? 1 : 0);
    DeleteVMConfigFile(ctx);
    return result;
}
