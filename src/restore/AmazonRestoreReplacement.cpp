// A restore into an existing instance (an in-place restore, a snap revert)
// takes the instance's volumes off device by device and puts the restored
// ones there. Between the first detach and the last attach the instance has
// neither set whole, so each device's replacement is in the cleanup store
// for that time. A job that ends before the last attach is rolled back by
// its clean-up: the new volumes are detached and deleted (they were the
// job's, like every volume it made that the instance never took over) and
// the old ones attached at their devices again. Once every new volume is
// attached the instance has taken them: the records go, the old volumes stay
// detached and kept, as after a revert that went through.
#include <map>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskUtils.h"

namespace {
// What an instance look-up reads: its volumes and their attachments.
constexpr ULONGLONG kInstanceDiskMask = 48;

const VMInfoStructs::SDisk* DiskAtDevice(const VMInfoStructs::SVMInfo& vm, const std::string& device) {
    for (const auto& disk : vm.disks)
        if (disk.deviceName == device) return &disk;
    return nullptr;
}

const VMInfoStructs::SDisk* RootDisk(const VMInfoStructs::SVMInfo& vm) {
    for (const auto& disk : vm.disks)
        if (disk.isOSDisk) return &disk;
    return nullptr;
}

bool AttachedAt(const VMInfoStructs::SVMInfo& vm, const std::string& device, const std::string& volumeId) {
    const VMInfoStructs::SDisk* disk = DiskAtDevice(vm, device);
    return disk && disk->volumeId == volumeId && disk->attachState == "attached";
}

VMInfoStructs::SDisk VolumeRecord(const std::string& volumeId) {
    VMInfoStructs::SDisk disk;
    disk.name = disk.volumeId = disk.newVolumeId = volumeId;
    disk.diskType = 1;
    return disk;
}
}  // namespace

bool CAmazonInfo::RecordVolumeReplacements(const RestoreCtx& ctx, bool osDiskExists) {
    const char* const fn = __PRETTY_FUNCTION__;
    CAmazonSDKBridge& bridge = *m_pSourceBridge;
    SVMInfo vm;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            bridge, [&] { return bridge.GetVMInfoForVM("", ctx.vmGuid, "", ctx.destRegion, kInstanceDiskMask, 0, vm) != 0; },
            error)) {
        EvDebug::Error(fn, "Failed to read the volumes of instance [%s]. Error [%s]", ctx.vmGuid.c_str(), error.c_str());
        SetLastVMError(AmazonErrors::kErrCloneFailed, error);
        return false;
    }
    const SDisk* root = RootDisk(vm);
    for (const auto& disk : ctx.disks) {
        if (!disk.selected || disk.newVolumeId.empty()) continue;
        SVolumeReplacement replacement;
        replacement.instanceId = vm.guid;
        // The restored OS volume goes at the instance's root device, whatever
        // the backup called it.
        replacement.device = disk.isOSDisk && osDiskExists && root ? root->deviceName : disk.deviceName;
        if (replacement.device.empty()) continue;
        const SDisk* there = DiskAtDevice(vm, replacement.device);
        replacement.oldVolumeId = there ? there->volumeId : std::string();
        replacement.newVolumeId = disk.newVolumeId;
        replacement.wasRunning = vm.powerState == 1;
        // Without the record a job dying half-way would leave the instance
        // without its volumes and nobody to put them back: no replacement.
        if (!m_cleaner.RegisterVolumeReplacement(VM_CLEANER_RESTORE, ctx.registrationGuid, replacement,
                                                 ctx.destRegion, SourceAccountForCleaner())) {
            EvDebug::Error(fn, "Failed to register the replacement of [%s] at [%s] of instance [%s]",
                           replacement.oldVolumeId.c_str(), replacement.device.c_str(), vm.guid.c_str());
            SetLastVMError(AmazonErrors::kErrCloneFailed,
                           "The replacement of the volumes of instance [" + vm.guid + "] cannot be recorded");
            return false;
        }
        EvDebug::Debug(fn, "Volume [%s] at [%s] of instance [%s] is replaced by [%s]",
                       replacement.oldVolumeId.c_str(), replacement.device.c_str(), vm.guid.c_str(),
                       replacement.newVolumeId.c_str());
    }
    return true;
}

void CAmazonInfo::HandOverVolumeReplacements(const RestoreCtx& ctx) {
    std::string path;
    if (!m_cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, ctx.registrationGuid, path, false)) return;
    std::vector<CleanerEntity> entries;
    m_cleaner.GetRegisteredItems(path, VM_CLEANER_VOLUME_REPLACEMENT, entries);
    for (const auto& entry : entries) m_cleaner.UnRegisterVolumeReplacement(path, entry);
}

bool CAmazonInfo::_RollBackVolumeReplacements(const std::string& path, std::vector<SFailure>& failures) {
    const char* const fn = __PRETTY_FUNCTION__;
    std::vector<CleanerEntity> entries;
    if (!m_cleaner.GetRegisteredItems(path, VM_CLEANER_VOLUME_REPLACEMENT, entries)) return false;
    // The devices of one instance are rolled back together.
    std::map<std::string, std::vector<std::pair<CleanerEntity, SVolumeReplacement>>> byInstance;
    for (const auto& entry : entries) {
        SVolumeReplacement replacement;
        if (!SVolumeReplacement::FromStored(entry.id, replacement)) {
            // Nothing can be done with it, and kept it would fail every
            // later clean-up of the job.
            EvDebug::Error(fn, "Dropping unreadable volume replacement entry [%s]", entry.id.c_str());
            m_cleaner.UnRegisterVolumeReplacement(path, entry);
            continue;
        }
        byInstance[replacement.instanceId].emplace_back(entry, replacement);
    }
    EnsureTaskUtils();
    bool ok = true;
    for (const auto& [instanceId, devices] : byInstance) {
        const CleanerEntity& first = devices.front().first;
        bool inSource = true;
        if (!BridgeForEntry(first, true, inSource)) {
            ok = false;
            continue;
        }
        CAmazonSDKBridge* bridge = BridgeFor(inSource);
        const std::string& region = first.region;
        const AmazonCommon::BridgePairRegionScope inRegion(*m_pSourceBridge, *m_pAdminBridge, region);
        auto readInstance = [&](SVMInfo& vm) {
            std::string error;
            if (AmazonCommon::QuietBridgeCall(
                    *bridge, [&] { return bridge->GetVMInfoForVM("", instanceId, "", region, kInstanceDiskMask, 0, vm) != 0; },
                    error))
                return true;
            EvDebug::Error(fn, "Failed to read the volumes of instance [%s]. Error [%s]", instanceId.c_str(),
                           error.c_str());
            return false;
        };
        SVMInfo vm;
        if (!readInstance(vm)) {
            ok = false;
            continue;
        }
        bool complete = true;
        for (const auto& [entry, r] : devices) complete = complete && AttachedAt(vm, r.device, r.newVolumeId);
        if (complete) {
            // The job died after the last attach: the instance has taken the
            // restored volumes, and the old ones stay detached and kept.
            EvDebug::Debug(fn, "The volumes of instance [%s] had all been replaced; keeping the restored ones",
                           instanceId.c_str());
            // A new volume still registered as the job's would otherwise be
            // deleted from under the instance by the rest of the clean-up.
            for (const auto& [entry, r] : devices) {
                m_cleaner.UnRegisterDisk(path, r.newVolumeId);
                m_cleaner.UnRegisterVolumeReplacement(path, entry);
            }
            continue;
        }
        EvDebug::Debug(fn, "Putting the volumes of instance [%s] back", instanceId.c_str());
        // The new volumes go first: they hold the devices the old ones need.
        bool instanceOk = true;
        for (const auto& [entry, r] : devices) {
            std::vector<SDisk> made{VolumeRecord(r.newVolumeId)};
            if (!DetachVolumes(made, region, "", failures, inSource) || !DeleteVolumes(made, "", inSource)) {
                EvDebug::Error(fn, "Failed to remove volume [%s] from instance [%s]", r.newVolumeId.c_str(),
                               instanceId.c_str());
                instanceOk = false;
                continue;
            }
            m_cleaner.UnRegisterDisk(path, r.newVolumeId);
        }
        if (!instanceOk || !readInstance(vm)) {
            ok = false;
            continue;
        }
        for (const auto& [entry, r] : devices) {
            if (r.oldVolumeId.empty() || AttachedAt(vm, r.device, r.oldVolumeId)) continue;
            // One still on its way off (or on) is let finish first.
            std::vector<SDisk> old{VolumeRecord(r.oldVolumeId)};
            const bool attached =
                DetachVolumes(old, region, "", failures, inSource) &&
                m_pTaskUtils->AttachVolume(r.oldVolumeId, instanceId, vm.zone, region, false, r.device, inSource);
            if (!attached) {
                EvDebug::Error(fn, "Failed to attach volume [%s] to instance [%s] at [%s] again",
                               r.oldVolumeId.c_str(), instanceId.c_str(), r.device.c_str());
                instanceOk = false;
            }
        }
        if (!instanceOk) {
            ok = false;
            continue;
        }
        if (devices.front().second.wasRunning && vm.powerState != 1 &&
            !bridge->PowerOnVM(vm.name, instanceId, region)) {
            EvDebug::Error(fn, "Failed to power on instance [%s] again. Error [%s]", instanceId.c_str(),
                           AmazonCommon::BridgeError(bridge).c_str());
            ok = false;
            continue;
        }
        EvDebug::Debug(fn, "Instance [%s] has its volumes back", instanceId.c_str());
        for (const auto& [entry, r] : devices) m_cleaner.UnRegisterVolumeReplacement(path, entry);
    }
    return ok;
}
