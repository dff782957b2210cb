// What a guest job registers in the cleanup store, so that a job killed
// mid-way leaves nothing behind: the staging folder in the bucket (a cloud
// VHD entry, "bucket/folder") and each run-command it waits on. A guest job
// has a restore-mode root entry of its own; the next job's clean-up of dead
// restore jobs (or `cleanup`) cancels its commands and then removes the
// folder.
#include "bridge/AmazonSDKBridge.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"

bool CAmazonInfo::RegisterGuestJob(const std::string& region) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (!m_guestCleanup.key.empty()) return true;
    // Without the store nothing the job stages could be registered, and a
    // job that died would leave it for good.
    if (!_InitMount()) {
        EvDebug::Error(fn, "Cannot open the cleanup store; guest operations cannot run.");
        return false;
    }
    if (!m_bAllVMsCleaned) {
        std::vector<SFailure> failures;
        _CleanupAllVMs(VM_CLEANER_RESTORE, failures);
        m_bAllVMsCleaned = true;
    }
    const std::string key = FwGuid::New();
    if (!m_cleaner.RegisterVM(VM_CLEANER_RESTORE, key, region)) {
        EvDebug::Error(fn, "Failed to register VM [%s]", key.c_str());
        return true;
    }
    EvDebug::Debug(fn, "Using uuid [%s] for the guest job", key.c_str());
    m_guestCleanup.key = key;
    return true;
}

void CAmazonInfo::RegisterGuestStaging() {
    if (m_guestCleanup.key.empty() || m_guest.bucket.empty() || m_guest.stagingFolder.empty()) return;
    const std::string name = m_guest.bucket + "/" + m_guest.stagingFolder;
    if (m_guestCleanup.stagedFolder == name) return;
    if (!m_cleaner.RegisterCloudVHD(VM_CLEANER_RESTORE, m_guestCleanup.key, name)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register staging folder [%s]", name.c_str());
        return;
    }
    m_guestCleanup.stagedFolder = name;
}

void CAmazonInfo::ReleaseGuestStaging(const std::string& bucket, const std::string& folder) {
    const std::string name = bucket + "/" + folder;
    if (m_guestCleanup.key.empty() || m_guestCleanup.stagedFolder != name) return;
    if (!m_cleaner.UnRegisterCloudVHD(VM_CLEANER_RESTORE, m_guestCleanup.key, name))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister cloud VHD [%s]", name.c_str());
    m_guestCleanup.stagedFolder.clear();
}

void CAmazonInfo::RegisterGuestCommand(const std::string& commandId, const std::string& region) {
    if (m_guestCleanup.key.empty() || commandId.empty()) return;
    if (!m_cleaner.RegisterGuestCommand(VM_CLEANER_RESTORE, m_guestCleanup.key, commandId, region,
                                        SourceAccountForCleaner()))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register command [%s]", commandId.c_str());
}

void CAmazonInfo::ReleaseGuestCommand(const std::string& commandId) {
    if (m_guestCleanup.key.empty() || commandId.empty()) return;
    m_cleaner.UnRegisterGuestCommand(VM_CLEANER_RESTORE, m_guestCleanup.key, commandId);
}

void CAmazonInfo::FinishGuestJob() {
    const char* const fn = __PRETTY_FUNCTION__;
    if (m_guestCleanup.key.empty() || !m_cleaner.IsInitialized()) return;
    std::string path;
    if (!m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, m_guestCleanup.key, path, false)) {
        m_guestCleanup = {};
        return;
    }
    // Commands first: none may write into the bucket once the folder is gone.
    bool ok = _CleanupGuestCommands(path);
    ok = _DeleteCloudMergedVHD(path) && ok;
    if (ok && !m_cleaner.UnRegisterVM(path)) ok = false;
    if (!ok) {
        EvDebug::Error(fn, "Not everything guest job [%s] staged could be removed; what is left stays registered "
                       "for the next clean-up.", m_guestCleanup.key.c_str());
        return;
    }
    EvDebug::DebugLvl(fn, 2, "Guest job [%s] left nothing behind", m_guestCleanup.key.c_str());
    m_guestCleanup = {};
}
