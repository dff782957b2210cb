// The framework's clean-up of one backed-up instance: whatever the job (or an
// earlier, dead job) registered for it is removed.
#include "bridge/AmazonSDKBridge.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AwsErrors.h"

int CAmazonInfo::CleanupVM(MountCtx& ctx) {
    try {
        SetLastVMError(0);
        EvDebug::Debug(__PRETTY_FUNCTION__, "Doing clean up. Cleanup string [%s]", ctx.cleanupString.c_str());
        if (!PrepareProxySide(ctx)) return 0;
        overrideSDKRegion(GetProxyRegion());
        // The entry is usually a dead job's, or this job's own; one that a
        // job still running elsewhere registered is that job's to clean.
        std::string path;
        const bool orphaned = m_cleaner.GetRegisteredVM(VM_CLEANER_BACKUP, ctx.JobVMGuid(), path, true);
        CleanerEntity live;
        if (!orphaned && m_cleaner.LookupEntity(VM_CLEANER_BACKUP, VM_CLEANER_VM, ctx.JobVMGuid(), live) &&
            !m_cleaner.IsOwnEntry(live)) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "VM [%s] is registered by a job that is still running; leaving it.",
                           ctx.JobVMGuid().c_str());
            return 1;
        }
        if (!RemoveCleanupStringAMI(ctx)) return 0;
        if (!_CleanupMountedVM(ctx.JobVMGuid(), orphaned, ctx.failures)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Cleaning up VM [%s] failed.", ctx.JobVMGuid().c_str());
            return 0;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Cleaning up VM [%s] succeeded.", ctx.JobVMGuid().c_str());
        SaveCleanupString(ctx, "");
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "<<End");
        return 1;
    } catch (const std::exception& e) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Clean-up failed: %s", e.what());
    } catch (...) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Clean-up failed");
    }
    return 0;
}

// The AMI the framework kept in the job's cleanup string. The string is
// written the moment the AMI exists, before the registry learns of it, so a
// job that died in between left an AMI only the string knows.
bool CAmazonInfo::RemoveCleanupStringAMI(MountCtx& ctx) {
    const std::string ami = ctx.cleanupString;
    if (ami.empty()) return true;
    if (ami.compare(0, 4, "ami-") != 0 || ami.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") !=
                                              std::string::npos) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Ignoring a cleanup string that names no AMI [%s]", ami.c_str());
        return true;
    }
    if (!m_pSourceBridge->DeleteAMISnapshot(ami, true) && !IsAwsNotFoundError(m_pSourceBridge->GetLastErrorString())) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete AMI [%s] of the cleanup string. Error [%s]", ami.c_str(),
                       m_pSourceBridge->GetLastErrorString().c_str());
        SetLastVMError(116, m_pSourceBridge->GetLastErrorString());
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Deleted AMI [%s] of the cleanup string", ami.c_str());
    m_pSourceBridge->DeleteTag(ctx.JobVMGuid(), "_QX_AMI_", ami, false);
    DeleteEmptyTag(ctx.JobVMGuid(), "_QX_AMI_");
    return true;
}
