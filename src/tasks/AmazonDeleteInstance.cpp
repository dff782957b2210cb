// Deleting an instance the plug-in created, with its volumes.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskUtils.h"
#include "tasks/AwsErrors.h"

bool CAmazonInfo::DeleteInstance(const std::string& id, bool deleteVolumes, bool nicDeleteOnTermination,
                                 bool deleteAttachedVolumes, bool useSourceAccount) {
    CAmazonSDKBridge* bridge = BridgeFor(useSourceAccount);
    SVMInfo vm;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(*bridge, [&] { return bridge->GetVMInfoForVM("", id, "", "", 48, 0, vm) != 0; },
                                       error)) {
        // Already gone: nothing is left to delete.
        if (IsAwsNotFoundError(error)) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Instance [%s] no longer exists.", id.c_str());
            return true;
        }
        return false;
    }
    bridge->PowerOffVM(vm.name, vm.guid, vm.region);

    EnsureTaskUtils();
    bool ok = true;
    for (auto disk : vm.disks) {
        // Detach and delete act on the volume named in the new-volume field.
        disk.newVolumeId = disk.volumeId;
        bridge->SetTag(disk.newVolumeId, AmazonTags::kBackupTag, "", true);
        if (!AmazonCommon::BridgeCall(
                *bridge, __PRETTY_FUNCTION__,
                [&] { return m_pTaskUtils->DetachVolume(disk, vm.region, useSourceAccount); },
                "Failed to detach the volume [%s], Error [%s]", disk.newVolumeId.c_str())) {
            ok = false;
            continue;
        }
        if (!deleteVolumes) continue;
        if (AmazonCommon::BridgeCall(
                *bridge, __PRETTY_FUNCTION__, [&] { return m_pTaskUtils->DeleteVolume(disk, useSourceAccount); },
                "Failed to delete volume [%s], Error [%s]", disk.newVolumeId.c_str())) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted volume [%s]", disk.newVolumeId.c_str());
        } else {
            ok = false;
        }
    }
    for (const auto& nic : vm.networkCards) {
        if (AmazonCommon::BridgeCall(
                *bridge, __PRETTY_FUNCTION__,
                [&] { return bridge->ModifyNetworkInterface(nic.id, nicDeleteOnTermination); },
                "Failed to modify network interface [%s] delete on termination property to [%s], Error [%s]",
                nic.id.c_str(), nicDeleteOnTermination ? "True" : "False"))
            EvDebug::Debug(__PRETTY_FUNCTION__,
                           "Successfuly modify network interface [%s] delete on termination property", nic.id.c_str());
    }
    if (!ok) return false;
    if (!AmazonCommon::BridgeCall(
            *bridge, __PRETTY_FUNCTION__,
            [&] { return bridge->DeleteVM("", vm.guid, vm.region, deleteAttachedVolumes, true); },
            "Failed to delete the VM. Error [%s]"))
        return false;
    return true;
}
