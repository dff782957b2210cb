// Removing what a job (or a dead job) registered: volumes, AMIs, snapshots,
// created instances and S3 objects.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AwsErrors.h"

using AmazonCommon::BridgePairRegionScope;

std::string CAmazonInfo::SourceAccountForCleaner() const {
    const std::string& source = m_accounts.sourceAccountId;
    return m_pSourceBridge.get() != m_pAdminBridge && source != m_accounts.adminAccountId ? source : std::string();
}

bool CAmazonInfo::BridgeForEntry(const CleanerEntity& entry, bool fallbackToSource, bool& useSourceAccount) const {
    useSourceAccount = fallbackToSource;
    if (entry.account.empty()) return true;
    if (entry.account == m_accounts.sourceAccountId) {
        useSourceAccount = true;
        return true;
    }
    if (entry.account == m_accounts.adminAccountId) {
        useSourceAccount = false;
        return true;
    }
    // Asked in an account that does not hold it, the resource would be "not
    // found" and its entry dropped while it lives on.
    EvDebug::Error(__PRETTY_FUNCTION__, "[%s] is in account [%s], which this job is not connected to; keeping it "
                   "registered for a job that is.", entry.id.c_str(), entry.account.c_str());
    return false;
}

void CAmazonInfo::_CleanupAllVMs(int mode, std::vector<SFailure>& failures) {
    if (!m_cleaner.IsCleanupNeeded(mode)) return;
    std::vector<CleanerEntity> vms;
    if (!m_cleaner.GetOrphanedVMs(mode, vms)) {
        m_cleaner.PostAllVMCleanup(mode);
        return;
    }
    if (!vms.empty()) EvDebug::Debug(__PRETTY_FUNCTION__, "Cleaning up [%d] VMs", static_cast<int>(vms.size()));
    int cleaned = 0;
    for (const auto& vm : vms) {
        bool ok = false;
        if (mode == VM_CLEANER_BACKUP) ok = _CleanupMountedVM(vm.id, true, failures);
        else if (mode == VM_CLEANER_RESTORE) ok = _CleanupRestoreVM(vm.id, failures, false);
        else EvDebug::Debug(__PRETTY_FUNCTION__, "No matching cleaner mode found");
        if (ok) ++cleaned;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Cleaned up [%d] of [%d] VMs", cleaned, static_cast<int>(vms.size()));
    m_cleaner.PostAllVMCleanup(mode);
}

bool CAmazonInfo::_CleanupMountedVM(const std::string& vmGuid, bool orphaned, std::vector<SFailure>& failures) {
    EvDebug::Debug(__PRETTY_FUNCTION__, "Cleaning up VM [%s].", vmGuid.c_str());
    // Without the store nothing can be known to be clean.
    if (!m_cleaner.IsInitialized()) return false;
    // Not orphaned: this job run's own entry. Orphaned: every entry of the
    // VM whose job is over; never one of a job still running.
    std::vector<CleanerEntity> roots;
    if (!orphaned) {
        CleanerEntity own;
        if (m_cleaner.LookupEntity(VM_CLEANER_BACKUP, VM_CLEANER_VM, vmGuid, own)) roots.push_back(own);
    } else {
        std::vector<CleanerEntity> orphans;
        if (!m_cleaner.GetOrphanedVMs(VM_CLEANER_BACKUP, orphans)) return false;
        for (const auto& vm : orphans)
            if (vm.id == vmGuid) roots.push_back(vm);
    }
    bool ok = true;
    for (const auto& root : roots) ok = CleanupMountedRoot(root, failures) && ok;
    return ok;
}

bool CAmazonInfo::CleanupMountedRoot(const CleanerEntity& root, std::vector<SFailure>& failures) {
    std::string path;
    if (!m_cleaner.GetCleanerPathForEntityHandle(root, path)) return true;
    // A held AMI is not the job's: the entry goes, the AMI stays.
    bool ok = m_cleaner.ReleaseHeldTemplates(path);
    std::string error;
    // Sharing goes before what was shared: a snapshot the clean-up fails to
    // delete is at least no longer another account's to use.
    if (!_CleanupSharedSnapshots(path)) {
        SetLastVMError(AmazonErrors::kErrCleanupFailed);
        ok = false;
    }
    if (!AmazonCommon::QuietBridgeCall(
            *m_pAdminBridge, [&] { return _CleanUpMountedVolumes(path, true, failures, false); }, error)) {
        SetLastVMError(AmazonErrors::kErrDetachFailed);
        SetLastVMErrorDetails(error);
        ok = false;
    }
    if (!AmazonCommon::QuietBridgeCall(*m_pSourceBridge, [&] { return _CleanupTemplate(path, true, true); }, error)) {
        SetLastVMError(AmazonErrors::kErrCleanupFailed);
        SetLastVMErrorDetails(error);
        ok = false;
    }
    if (!AmazonCommon::QuietBridgeCall(*m_pSourceBridge, [&] { return _CleanupSnapshots(path, true); }, error)) {
        SetLastVMError(AmazonErrors::kErrCleanupFailed);
        SetLastVMErrorDetails(error);
        ok = false;
    }
    // Only a clone registers instances here: one a dead clone launched.
    if (!AmazonCommon::QuietBridgeCall(*m_pSourceBridge, [&] { return _CleanupCreatedVM(path); }, error)) {
        SetLastVMError(AmazonErrors::kErrCleanupFailed);
        SetLastVMErrorDetails(error);
        ok = false;
    }
    if (ok) {
        if (!m_cleaner.UnRegisterVM(path))
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister VM [%s]", root.id.c_str());
        if (m_cleaner.IsOwnEntry(root)) m_bCleanerRegistered = false;
    }
    return ok;
}

bool CAmazonInfo::_CleanupRestoreVM(const std::string& vmGuid, std::vector<SFailure>& failures,
                                    bool useSourceAccount) {
    if (!m_cleaner.IsInitialized()) return false;
    std::string path;
    // This job run's own entry, else that of a job that is over (the start-up
    // clean-up of dead jobs hands their keys here); never a running job's.
    if (!m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, vmGuid, path, false) &&
        !m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, vmGuid, path, true))
        return true;
    // An instance whose volumes the job was replacing gets its own back
    // before anything else of the job goes.
    bool ok = _RollBackVolumeReplacements(path, failures);
    ok = _CleanupCreatedVM(path) && ok;
    // A volume still registered was made by the restore and never handed to
    // the restored instance (that unregisters it): detached alone it would
    // be left behind with nothing to name it.
    ok = _CleanUpMountedVolumes(path, true, failures, useSourceAccount) && ok;
    // A guest job's commands are stopped before its staging folder goes, so
    // that none of them writes into the bucket after the folder's removal.
    ok = _CleanupGuestCommands(path) && ok;
    ok = _DeleteCloudMergedVHD(path) && ok;
    ok = _CleanupTemplate(path, false, false) && ok;
    ok = _CleanupSnapshots(path, false) && ok;
    if (ok) {
        if (!m_cleaner.UnRegisterVM(path)) EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister VM [%s]", vmGuid.c_str());
        m_bCleanerRegistered = false;
    } else {
        // Says why this clean-up failed rather than leaving the job's own
        // error standing for it.
        const std::string sourceText = AmazonCommon::BridgeError(m_pSourceBridge.get());
        const std::string adminText = AmazonCommon::BridgeError(m_pAdminBridge);
        SetLastVMError(AmazonErrors::kErrCleanupFailed,
                       "Not everything restore [" + vmGuid + "] made could be removed; what is left stays registered "
                       "for the next clean-up. " + (sourceText.empty() ? adminText : sourceText));
    }
    return ok;
}

// Each resource is deleted in its own region; "not found" there means it is
// gone, while in any other region it would say nothing.
bool CAmazonInfo::_CleanupSnapshots(const std::string& path, bool useSourceAccount) {
    std::vector<CleanerEntity> snapshots;
    if (!m_cleaner.GetRegisteredItems(path, VM_CLEANER_SNAPSHOT, snapshots)) return false;
    bool ok = true;
    for (const auto& snapshot : snapshots) {
        const std::string& id = snapshot.id;
        bool inSource = useSourceAccount;
        if (!BridgeForEntry(snapshot, useSourceAccount, inSource)) {
            ok = false;
            continue;
        }
        CAmazonSDKBridge* bridge = BridgeFor(inSource);
        EvDebug::Debug(__PRETTY_FUNCTION__, "Deleting snapshot [%s]", id.c_str());
        std::string error;
        if (AmazonCommon::QuietBridgeCall(*bridge, [&] { return bridge->DeleteSnapshot(id, snapshot.region); },
                                          error) ||
            IsAwsNotFoundError(error)) {
            m_cleaner.UnRegisterSnapshot(path, id);
            EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted snapshot [%s]", id.c_str());
        } else {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete snapshot [%s]", id.c_str());
            ok = false;
        }
    }
    return ok;
}

bool CAmazonInfo::_CleanupTemplate(const std::string& path, bool useSourceAccount, bool removeInstanceTags) {
    CAmazonSDKBridge* bridge = BridgeFor(useSourceAccount);
    std::vector<CleanerEntity> amis;
    if (!m_cleaner.GetRegisteredItems(path, VM_CLEANER_TEMPLATE, amis)) return false;
    for (const auto& entry : amis) {
        const std::string& ami = entry.id;
        // The AMI and the instance it was made from share its region.
        const BridgePairRegionScope inRegion(*m_pSourceBridge, *m_pAdminBridge, entry.region);
        // A dead job's entry may name what a live job, this one included,
        // now reads (a chain reference it had marked for deletion): the
        // entry goes, the AMI stays with the live job.
        if (IsAMIOfAnotherLiveJob(ami, __PRETTY_FUNCTION__, entry.jobKey)) {
            m_cleaner.UnRegisterTemplate(path, ami);
            continue;
        }
        std::string instanceId;
        m_pSourceBridge->GetTag(ami, AmazonTags::kBackupTag, instanceId);
        std::string error;
        if (!AmazonCommon::QuietBridgeCall(*bridge, [&] { return bridge->DeleteAMISnapshot(ami, true); }, error) &&
            !IsAwsNotFoundError(error)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete AMI [%s], Error [%s]", ami.c_str(), error.c_str());
            return false;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted AMI [%s]", ami.c_str());
        // An AMI whose source instance is unknown has no instance tags to
        // take it off.
        if (removeInstanceTags && !instanceId.empty()) {
            for (const char* key : {AmazonTags::kAMITag, AmazonTags::kRetainSnapTag}) {
                m_pSourceBridge->DeleteTag(instanceId, key, ami, false);
                DeleteEmptyTag(instanceId, key);
            }
        }
        if (!m_cleaner.UnRegisterTemplate(path, ami))
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister template [%s]", ami.c_str());
    }
    return true;
}

bool CAmazonInfo::_CleanupCreatedVM(const std::string& path) {
    std::vector<CleanerEntity> instances;
    if (!m_cleaner.GetRegisteredItems(path, VM_CLEANER_VM, instances)) return false;
    bool ok = true;
    for (const auto& instance : instances) {
        const std::string& id = instance.id;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Deleting created instance [%s]", id.c_str());
        bool inSource = true;
        if (!BridgeForEntry(instance, true, inSource)) {
            ok = false;
            continue;
        }
        const BridgePairRegionScope inRegion(*m_pSourceBridge, *m_pAdminBridge, instance.region);
        // The instance a job launched takes its network interfaces with it:
        // kept past its end they would be in use by nothing, and named by
        // nothing either.
        if (!DeleteInstance(id, true, true, true, inSource)) {
            ok = false;
            continue;
        }
        m_cleaner.UnRegisterCreatedVM(path, id);
    }
    return ok;
}

bool CAmazonInfo::_DeleteCloudMergedVHD(const std::string& path) {
    std::vector<std::string> names;
    if (!m_cleaner.GetRegisteredCloudVHDs(path, names)) return false;
    bool ok = true;
    for (const auto& name : names) {
        if (!DeleteCloudVHD(name)) {
            ok = false;
            continue;
        }
        if (!m_cleaner.UnRegisterCloudVHD(path, name))
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister cloud VHD [%s]", name.c_str());
    }
    return ok;
}

// Each command in its own region and account; one that finished, or that
// the region no longer knows, has nothing left to stop.
bool CAmazonInfo::_CleanupGuestCommands(const std::string& path) {
    std::vector<CleanerEntity> commands;
    if (!m_cleaner.GetRegisteredItems(path, VM_CLEANER_GUEST_COMMAND, commands)) return false;
    bool ok = true;
    for (const auto& command : commands) {
        bool inSource = true;
        if (!BridgeForEntry(command, true, inSource)) {
            ok = false;
            continue;
        }
        CAmazonSDKBridge* bridge = BridgeFor(inSource);
        EvDebug::Debug(__PRETTY_FUNCTION__, "Cancelling command [%s] in region [%s]", command.id.c_str(),
                       command.region.c_str());
        std::string error, why;
        if (!AmazonCommon::QuietBridgeCall(
                *bridge, [&] { return bridge->CancelCommand(command.region, command.id, why); }, error) &&
            error.rfind("InvalidCommandId", 0) != 0) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to cancel command [%s]. Error [%s]", command.id.c_str(),
                           error.c_str());
            ok = false;
            continue;
        }
        if (!m_cleaner.UnRegisterGuestCommand(path, command.id))
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister command [%s]", command.id.c_str());
    }
    return ok;
}

// name: "bucket/key"; a name without both parts has nothing to delete.
bool CAmazonInfo::DeleteCloudVHD(const std::string& name) {
    const size_t slash = name.find('/');
    if (slash == std::string::npos || slash == 0 || slash + 1 >= name.size()) return true;
    const std::string bucket = name.substr(0, slash);
    const std::string key = name.substr(slash + 1);
    int keep = 0;
    KDPlatformInfo().getNumber("VirtualServer", "nAmazonDontDeleteCloudVHDs", keep);
    if (keep == 1) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Not deleting Cloud VHD as per registry key.");
        return true;
    }
    if (!m_pAdminBridge->DeleteFolder(bucket, "", key, true)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete cloud path[%s] ", name.c_str());
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted vhd [%s] in bucket [%s]", key.c_str(), bucket.c_str());
    return true;
}
