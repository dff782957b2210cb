// Removing what a job (or a dead job) registered: volumes, AMIs, snapshots,
// created instances and S3 objects.
#include "bridge/AmazonSDKBridge.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AwsErrors.h"

namespace {
constexpr EVMInfoError kErrDetachFailed = 117;
constexpr EVMInfoError kErrCleanupFailed = 116;
}  // namespace

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
    std::string path;
    if (!m_cleaner.GetRegisteredVM(VM_CLEANER_BACKUP, vmGuid, path, orphaned)) return true;

    bool ok = true;
    if (!_CleanUpMountedVolumes(path, true, failures, false)) {
        SetLastVMError(kErrDetachFailed);
        SetLastVMErrorDetails(m_pAdminBridge->GetLastErrorString());
        ok = false;
    }
    if (!_CleanupTemplate(path, true, true)) {
        SetLastVMError(kErrCleanupFailed);
        SetLastVMErrorDetails(m_pSourceBridge->GetLastErrorString());
        ok = false;
    }
    if (!_CleanupSnapshots(path, true)) {
        SetLastVMError(kErrCleanupFailed);
        SetLastVMErrorDetails(m_pSourceBridge->GetLastErrorString());
        ok = false;
    }
    if (ok) {
        if (!m_cleaner.UnRegisterVM(path)) EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister VM [%s]", vmGuid.c_str());
        m_bCleanerRegistered = false;
    }
    return ok;
}

bool CAmazonInfo::_CleanupRestoreVM(const std::string& vmGuid, std::vector<SFailure>& failures, bool flag) {
    if (!m_cleaner.IsInitialized()) return false;
    std::string path;
    if (!m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, vmGuid, path, false)) return true;
    bool ok = _CleanupCreatedVM(path);
    ok = _CleanUpMountedVolumes(path, false, failures, flag) && ok;
    ok = _DeleteCloudMergedVHD(path) && ok;
    ok = _CleanupTemplate(path, false, false) && ok;
    ok = _CleanupSnapshots(path, false) && ok;
    if (ok) {
        if (!m_cleaner.UnRegisterVM(path)) EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister VM [%s]", vmGuid.c_str());
        m_bCleanerRegistered = false;
    }
    return ok;
}

bool CAmazonInfo::_CleanupSnapshots(const std::string& path, bool useSourceAccount) {
    CAmazonSDKBridge* bridge = BridgeFor(useSourceAccount);
    std::vector<std::string> ids;
    if (!m_cleaner.GetRegisteredSnapshots(path, ids)) return false;
    bool ok = true;
    for (const auto& id : ids) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Deleting snapshot [%s]", id.c_str());
        if (bridge->DeleteSnapshot(id, "") || IsAwsNotFoundError(bridge->GetLastErrorString())) {
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
    std::vector<std::string> amis;
    if (!m_cleaner.GetRegisteredTemplates(path, amis)) return false;
    for (const auto& ami : amis) {
        std::string instanceId;
        m_pSourceBridge->GetTag(ami, "_QX_BACKUP_", instanceId);
        if (!bridge->DeleteAMISnapshot(ami, true) && !IsAwsNotFoundError(bridge->GetLastErrorString())) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete AMI [%s], Error [%s]", ami.c_str(),
                           bridge->GetLastErrorString().c_str());
            return false;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted AMI [%s]", ami.c_str());
        // An AMI whose source instance is unknown has no instance tags to
        // take it off.
        if (removeInstanceTags && !instanceId.empty()) {
            for (const char* key : {"_QX_AMI_", "KD_Retain_Snap"}) {
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
    std::vector<std::string> ids;
    if (!m_cleaner.GetRegisteredCreatedVMs(path, ids)) return false;
    bool ok = true;
    for (const auto& id : ids) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Deleting created instance [%s]", id.c_str());
        if (!DeleteInstance(id, true, false, true, true)) {
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
