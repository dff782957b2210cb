// Operations 13 and 14: a volume snapshot of the volume the instance's first
// disk names, and its deletion, which for a replicated instance removes its
// integrity AMI.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "inventory/VMOperationCodes.h"

using namespace AmazonInventory;

namespace {
// The snapshot entry the framework names the operation's snapshot by; null
// when the instance has none.
VMInfoStructs::SChildDisk* FirstSnapshotEntry(VMInfoStructs::SVMInfo& vm) {
    if (vm.disks.empty() || vm.disks.front().snapshots.empty()) return nullptr;
    VMInfoStructs::SChildDisk& entry = vm.disks.front().snapshots.front();
    return entry.snapshotId.empty() ? nullptr : &entry;
}

// What keeps the first disk's first snapshot entry from naming a volume to
// snapshot; empty when it names one.
std::string MissingVolume(const VMInfoStructs::SVMInfo& vm) {
    if (vm.disks.empty()) return "VM [" + vm.name + "] has no disk";
    if (vm.disks.front().snapshots.empty()) return "The first disk of VM [" + vm.name + "] has no snapshot entry";
    if (vm.disks.front().snapshots.front().volumeId.empty())
        return "The snapshot entry of the first disk of VM [" + vm.name + "] names no volume";
    return {};
}
}  // namespace

// Success with nothing taken would pass for a snapshot the user can restore
// from: a request that names no volume fails and says what is missing.
int CAmazonInfo::PerformCreateSnapshot(SVMInfo& vm, EVMOperation op, std::string& out) {
    const std::string missing = MissingVolume(vm);
    if (!missing.empty()) {
        const std::string message = missing + ": no volume to snapshot.";
        EvDebug::Error(__PRETTY_FUNCTION__, "%s", message.c_str());
        SetLastVMError(AmazonErrors::kNoVolumes, message);
        return 1;
    }
    VMInfoStructs::SChildDisk* entry = &vm.disks.front().snapshots.front();
    EvDebug::Debug(__PRETTY_FUNCTION__, "Operation:[%d] volume GUID[%s], description of the snap[%s]", op,
                   entry->volumeId.c_str(), entry->description.c_str());
    std::string snapshotId;
    if (!m_pSourceBridge->CreateSnapshot(entry->volumeId, entry->snapshotString, entry->description, snapshotId,
                                         true))
        return VMOperationFailed(__PRETTY_FUNCTION__, "Create snapshot failed for Volume[" + entry->volumeId + "]");
    entry->snapshotId = snapshotId;
    out = snapshotId;
    return 0;
}

int CAmazonInfo::PerformDeleteSnapshot(SVMInfo& vm, EVMOperation op) {
    const VMInfoStructs::SChildDisk* entry = FirstSnapshotEntry(vm);
    if (!entry) return DeleteIntegrityAMI(vm);
    EvDebug::Debug(__PRETTY_FUNCTION__, "Operation:[%d] snap GUID[%s]", op, entry->snapshotId.c_str());
    if (m_pSourceBridge->DeleteSnapshot(entry->snapshotId, "")) return 0;
    return VMOperationFailed(__PRETTY_FUNCTION__, "Delete snapshot failed for snap[" + entry->snapshotId + "]");
}

int CAmazonInfo::DeleteIntegrityAMI(const SVMInfo& vm) {
    std::string amiId;
    // An unreadable tag is not an absent one: succeeding here would leave
    // the AMI behind while reporting it gone.
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge, [&] { return m_pSourceBridge->GetTag(vm.guid, AmazonTags::kIntegritySnapTag, amiId); },
            error))
        return VMOperationFailed(__PRETTY_FUNCTION__, "Failed to read tag [" + std::string(AmazonTags::kIntegritySnapTag) +
                                                          "] of VM [" + vm.guid + "]. Error [" + error + "]");
    if (amiId.empty()) return 0;

    EvDebug::Debug(__PRETTY_FUNCTION__, "Deleting AMI [%s]", amiId.c_str());
    if (!AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge, [&] { return m_pSourceBridge->DeleteAMISnapshot(amiId, true); }, error))
        return VMOperationFailed(__PRETTY_FUNCTION__, "Failed to delete AMI [" + amiId + "], Error [" + error + "]");
    AmazonCommon::BridgeCall(
        *m_pSourceBridge, __PRETTY_FUNCTION__,
        [&] { return m_pSourceBridge->DeleteTag(vm.guid, AmazonTags::kIntegritySnapTag, amiId, true); },
        "Failed to remove tag [%s] from VM [%s]. Error [%s]", AmazonTags::kIntegritySnapTag, vm.guid.c_str());
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted AMI [%s]", amiId.c_str());
    return 0;
}
