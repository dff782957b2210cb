// The framework's clean-up of one backed-up instance: whatever the job (or an
// earlier, dead job) registered for it is removed.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AwsErrors.h"

int CAmazonInfo::CleanupVM(MountCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return AmazonGuard::Guarded(
        fn, "Clean-up failed", 0,
        [&] {
            SetLastVMError(0);
            EvDebug::Debug(fn, "Doing clean up. Cleanup string [%s]", ctx.cleanupString.c_str());
            if (!PrepareProxySide(ctx)) return 0;
            const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, GetProxyRegion());
            // Entries of this job run and of runs that are over are cleaned; one
            // that a job still running registered is that job's to clean, and
            // so may be the AMI the instance's cleanup string names.
            std::vector<CleanerEntity> roots;
            if (!m_cleaner.ListRootEntities(VM_CLEANER_BACKUP, VM_CLEANER_VM, ctx.JobVMGuid(), roots)) return 0;
            bool othersRunning = false;
            std::string region = ctx.vm.region;
            for (const auto& root : roots) {
                if (!m_cleaner.IsOwnEntry(root) && m_cleaner.IsJobKeyRunning(root.jobKey)) othersRunning = true;
                else if (region.empty()) region = m_cleaner.RegionOf(root);
            }
            if (othersRunning) {
                EvDebug::Debug(fn, "VM [%s] is registered by a job that is still running; leaving it.",
                               ctx.JobVMGuid().c_str());
            } else if (!RemoveCleanupStringAMI(ctx, region.empty() ? GetProxyRegion() : region)) {
                return 0;
            }
            const bool own = _CleanupMountedVM(ctx.JobVMGuid(), false, ctx.failures);
            const bool cleaned = _CleanupMountedVM(ctx.JobVMGuid(), true, ctx.failures) && own;
            if (!cleaned) {
                EvDebug::Error(fn, "Cleaning up VM [%s] failed.", ctx.JobVMGuid().c_str());
                return 0;
            }
            EvDebug::Debug(fn, "Cleaning up VM [%s] succeeded.", ctx.JobVMGuid().c_str());
            if (!othersRunning) SaveCleanupString(ctx, "");
            EvDebug::DebugLvl(fn, 2, "<<End");
            return 1;
        });
}

// The AMI the framework kept in the job's cleanup string. The string is
// written the moment the AMI exists, before the registry learns of it, so a
// job that died in between left an AMI only the string knows.
// region: the instance's, where its AMIs are made.
bool CAmazonInfo::RemoveCleanupStringAMI(MountCtx& ctx, const std::string& region) {
    const std::string ami = ctx.cleanupString;
    if (ami.empty()) return true;
    if (ami.compare(0, 4, "ami-") != 0 || ami.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789-") !=
                                              std::string::npos) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Ignoring a cleanup string that names no AMI [%s]", ami.c_str());
        return true;
    }
    // The string is kept per instance, so it may name the AMI of another
    // job of the instance that is still running.
    if (IsAMIOfAnotherLiveJob(ami, __PRETTY_FUNCTION__)) return true;
    const AmazonCommon::BridgeRegionScope inInstanceRegion(*m_pSourceBridge, region);
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(*m_pSourceBridge, [&] { return m_pSourceBridge->DeleteAMISnapshot(ami, true); },
                                       error) &&
        !IsAwsNotFoundError(error)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete AMI [%s] of the cleanup string. Error [%s]", ami.c_str(),
                       error.c_str());
        SetLastVMError(AmazonErrors::kErrCleanupFailed, error);
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Deleted AMI [%s] of the cleanup string", ami.c_str());
    m_pSourceBridge->DeleteTag(ctx.JobVMGuid(), AmazonTags::kAMITag, ami, false);
    DeleteEmptyTag(ctx.JobVMGuid(), AmazonTags::kAMITag);
    return true;
}
