// Registering a job's VM with the cleanup store, after removing what earlier
// jobs left behind.
#include "bridge/AmazonSDKBridge.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"

int CAmazonInfo::RegisterCleanerForBackup(MountCtx& ctx) {
    if (m_bCleanerRegistered) return 1;
    // The clean-up of earlier jobs and their staged volumes starts in the
    // proxy's region; each step below that needs another says so.
    const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, GetProxyRegion());
    if (!_InitMount()) return 0;
    // This job's VM entry and the reference it reads are registered before
    // any clean-up runs, so that a job of the same instance starting now
    // finds them held; a live browse stages an AMI as a backup does, and
    // only what is registered under the VM is ever removed again.
    if (!m_cleaner.RegisterVM(VM_CLEANER_BACKUP, ctx.JobVMGuid(), ctx.vm.region))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register VM [%s]", ctx.JobVMGuid().c_str());
    HoldChainReference(ctx);
    if (ctx.liveBrowse) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "It is live browse; skipping all VM cleanup.");
    } else {
        {
            // The instance's tags and AMIs are where the instance is.
            const AmazonCommon::BridgeRegionScope inInstanceRegion(*m_pSourceBridge, ctx.vm.region);
            DeleteExpiredAMISnapshot(ctx.JobVMGuid());
        }
        if (!m_bAllVMsCleaned) {
            _CleanupAllVMs(VM_CLEANER_BACKUP, ctx.failures);
            m_bAllVMsCleaned = true;
        }
    }
    m_bCleanerRegistered = true;
    return 1;
}

int CAmazonInfo::RegisterCleanerForRestore(RestoreCtx& ctx) {
    if (m_bCleanerRegistered) return 1;
    // The key is the job's own: never an instance id, which two restores of
    // one source would share and which would later pass for the restored
    // instance's id. A key given with the job (a retried job's) is kept.
    if (!ctx.registrationGuid.empty() && ctx.registrationGuid.compare(0, 2, "i-") != 0) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Using uuid [%s] for VM [%s]", ctx.registrationGuid.c_str(),
                       ctx.restoreVMName.c_str());
    } else {
        ctx.registrationGuid = FwGuid::New();
        EvDebug::Debug(__PRETTY_FUNCTION__, "Using Temporary uuid [%s] for VM [%s]", ctx.registrationGuid.c_str(),
                       ctx.restoreVMName.c_str());
    }
    // Without the mount machinery nothing the restore creates could be
    // registered, so the restore must not go on.
    if (!_InitMount()) return 0;
    if (!m_bAllVMsCleaned) {
        _CleanupAllVMs(VM_CLEANER_RESTORE, ctx.failures);
        m_bAllVMsCleaned = true;
    }
    if (!m_cleaner.RegisterVM(VM_CLEANER_RESTORE, ctx.registrationGuid))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register VM [%s]", ctx.registrationGuid.c_str());
    m_bCleanerRegistered = true;
    return 1;
}
