// Cloning an instance: a temporary AMI of the source, a new instance
// launched from it, and the AMI removed again whatever the outcome. Both are
// registered with the cleanup store under the source instance before the
// clone waits on them, so a process that dies meanwhile leaves them to the
// next clean-up; the instance is unregistered once it is handed over.
#include <algorithm>

#include "common/BridgeCall.h"
#include "bridge/AmazonSDKBridge.h"
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskErrors.h"
#include "tasks/AmazonTaskUtils.h"

using AmazonGuard::Guarded;
using AmazonCommon::BridgeRegionScope;

namespace {
constexpr ULONGLONG kCloneLookupFlags = 24;
constexpr char kTemporaryAMIName[] = "_QX_BACKUP_";

bool HasOSDisk(const VMInfoStructs::SVMInfo& vm) {
    return std::any_of(vm.disks.begin(), vm.disks.end(), [](const auto& disk) { return disk.isOSDisk; });
}

// The instance a failed launch left behind: the id it reported, or the one
// it wrote into the record, but never the instance the record named before.
std::string LaunchedInstance(const std::string& reported, const std::string& recordGuid,
                             const std::string& previousGuid) {
    if (!reported.empty() && reported != previousGuid) return reported;
    if (!recordGuid.empty() && recordGuid != previousGuid) return recordGuid;
    return {};
}
}  // namespace

bool CAmazonInfo::CloneVM(SVMInfo& vm) {
    std::string createdId;
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, false, [&] { return CloneVM(vm, createdId); });
}

int CAmazonInfo::PerformCloneOperation(SVMInfo& vm) {
    std::string createdId;
    const char* const fn = __PRETTY_FUNCTION__;
    const bool cloned = Guarded(fn, false, [&] { return CloneVM(vm, createdId); });
    if (cloned) return 0;
    // It stays registered for the next clean-up.
    if (!createdId.empty())
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete the half-made instance [%s]", createdId.c_str());
    EvDebug::Error(__PRETTY_FUNCTION__, "CloneVM failed for VM[%s]", vm.name.c_str());
    return 1;
}

bool CAmazonInfo::CloneVM(SVMInfo& vm, std::string& createdId) {
    createdId.clear();
    // The AMI is waited for and deleted by id alone, so in the clone's region.
    const BridgeRegionScope inCloneRegion(*m_pSourceBridge, vm.region);
    const std::string sourceId = vm.sourceId;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Cloning VM [%s] from [%s]", vm.name.c_str(), sourceId.c_str());

    SVMInfo source;
    const std::string notFound =
        "Source virtual machine [" + sourceId + "] is not found. Please specify an existing virtual machine.";
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return GetVMInfoForVM("", sourceId, "", kCloneLookupFlags, 0, source) != 0; }, "%s. Error: [%s].",
            notFound.c_str())) {
        SetLastVMError(AmazonErrors::kInstanceNotFound, notFound);
        return false;
    }
    if (!HasOSDisk(source)) {
        SetLastVMError(AmazonErrors::kErrCloneFailed, "No OS disk found.");
        EvDebug::Error(__PRETTY_FUNCTION__, "No OS disk found.");
        return false;
    }
    EnsureTaskUtils();

    const std::string description = "Temporary snapshot created for clone job " + std::to_string(m_jobId) +
                                    " for VM [" + sourceId + "]";
    EvDebug::Debug(__PRETTY_FUNCTION__, "Creating temporary AMI snapshot");
    std::vector<std::string> snapshotIds;
    std::string amiId;
    std::string error;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] {
                return m_pSourceBridge->CreateAMISnapshot(sourceId, vm.region, kTemporaryAMIName, "", description,
                                                          snapshotIds, amiId);
            },
            error, "Failed to create snapshot of Source VM [%s] : Error [%s]", sourceId.c_str())) {
        SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, error);
        if (!amiId.empty()) DeleteCloneAMI(amiId, sourceId);
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully launched create AMI task [%s].", amiId.c_str());
    const bool ownRoot = RegisterCloneResource(sourceId, vm.region, VM_CLEANER_TEMPLATE, amiId);
    const auto done = [&](bool result) {
        // A resource that could not be removed keeps the entry for later.
        if (ownRoot) m_cleaner.UnRegisterVM(VM_CLEANER_BACKUP, sourceId, false);
        return result;
    };
    if (!WaitForCloneAMI(amiId, sourceId)) {
        DeleteCloneAMI(amiId, sourceId);
        return done(false);
    }

    const std::string previousGuid = vm.guid;
    vm.sourceId = amiId;
    std::string launched;
    const bool created = AmazonCommon::BridgeCall(
        *m_pSourceBridge, __PRETTY_FUNCTION__,
        [&] { return m_pSourceBridge->CreateVirtualMachine(vm, launched, m_bCreationFlag); }, error,
        "Failed to clone VM [%s] to AWS : Error  [%s]", vm.name.c_str());
    const std::string newId = created ? (launched.empty() ? vm.guid : launched)
                                      : LaunchedInstance(launched, vm.guid, previousGuid);
    if (!newId.empty()) RegisterCloneResource(sourceId, vm.region, VM_CLEANER_VM, newId);
    if (!created) {
        SetLastVMError(AmazonErrors::kErrCloneFailed, error);
        vm.sourceId = sourceId;
        DeleteCloneAMI(amiId, sourceId);
        // The clean-up reports its own troubles; the job must still show why
        // the clone failed. An instance that cannot be deleted stays
        // registered and is left to the caller.
        if (!newId.empty()) {
            const EVMInfoError code = GetLastVMError();
            const std::string details = GetLastVMErrorDetails();
            if (DeleteInstance(newId, true, false, true, true))
                m_cleaner.UnRegisterCreatedVM(VM_CLEANER_BACKUP, sourceId, newId);
            else
                createdId = newId;
            SetLastVMError(code, details);
        }
        return done(false);
    }
    DeleteCloneAMI(amiId, sourceId);
    // The clone is the user's now.
    m_cleaner.UnRegisterCreatedVM(VM_CLEANER_BACKUP, sourceId, newId);

    // By id as well as name: another instance may carry the same name.
    SVMInfo refreshed;
    if (GetVMInfoForVM(vm.name, newId, "", kCloneLookupFlags, 0, refreshed))
        vm = refreshed;
    else
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to read the cloned VM [%s] back.", newId.c_str());
    return done(true);
}

// True when this call made the source instance's entry (and so removes it
// again). A store that cannot be opened or written is logged: the clone
// goes on, as any job does when a registration fails.
bool CAmazonInfo::RegisterCloneResource(const std::string& sourceId, const std::string& region, int type,
                                        const std::string& id) {
    if (!_InitMount()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register [%s]: no cleanup store.", id.c_str());
        return false;
    }
    CleanerEntity root;
    const bool ownRoot = !m_cleaner.LookupEntity(VM_CLEANER_BACKUP, VM_CLEANER_VM, sourceId, root) &&
                         m_cleaner.RegisterVM(VM_CLEANER_BACKUP, sourceId, region);
    const bool registered = type == VM_CLEANER_TEMPLATE
                                ? m_cleaner.RegisterTemplate(VM_CLEANER_BACKUP, sourceId, id, region)
                                : m_cleaner.RegisterCreatedVM(VM_CLEANER_BACKUP, sourceId, id, region);
    if (!registered)
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register [%s].", id.c_str());
    return ownRoot;
}

// The AMI was made through the source account, so it is only visible there.
bool CAmazonInfo::WaitForCloneAMI(const std::string& amiId, const std::string& sourceId) {
    if (m_pTaskUtils->CompleteAMITask(amiId, "", true)) return true;
    // A cancelled job is reported as cancelled, not as a failed AMI, even
    // when the wait ended for another reason.
    if (IsJobCancelled()) {
        AmazonErrors::SetInterrupted(*this);
        return false;
    }
    std::string error = GetLastVMErrorDetails();
    if (error.empty()) error = AmazonCommon::BridgeError(m_pSourceBridge.get());
    EvDebug::Error(__PRETTY_FUNCTION__, "Create temporary AMI snapshot [%s] task failed on Source VM [%s] : Error [%s]",
                   amiId.c_str(), sourceId.c_str(), error.c_str());
    SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, error);
    return false;
}

void CAmazonInfo::DeleteCloneAMI(const std::string& amiId, const std::string& sourceId) {
    if (AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__, [&] { return m_pSourceBridge->DeleteAMISnapshot(amiId, true); },
            "Failed to delete AMI [%s], Error [%s]", amiId.c_str())) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted AMI [%s]", amiId.c_str());
        m_cleaner.UnRegisterTemplate(VM_CLEANER_BACKUP, sourceId, amiId);
    }
}
