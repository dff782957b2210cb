// Handing the restored volumes to the destination instance, and the post
// phase that powers it on and lets go of what the job registered.
#include <string.h>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "restore/RestoreDisks.h"
#include "tasks/AmazonTaskUtils.h"

using AmazonRestore::AddRestoreFailureEntry;

namespace {

constexpr char kValidationFailure[] = "Instance status validation failure";
constexpr char kWindowsValidationAdvice[] =
    "Instance status check failed. Verify that the guest credentials provided are correct. Also, ensure the "
    "following on the source virtual machine: 1) Windows Firewall is disabled 2) A minimum of 2 GB free space on "
    "the C: drive 3) Windows AutoAdminLogin feature is not disabled.";
constexpr char kLinuxValidationAdvice[] =
    "Instance status check failed. Ensure the following on the source virtual machine: 1) Host firewall permits "
    "access to SSH 2) Xen drivers are installed 3) Entries in /etc/fstab should use UUIDs instead of device names "
    "4) Volumes do not reside on GPT partitioned disks.";

bool ContainsNoCase(const std::string& text, const std::string& part) {
    return strcasestr(text.c_str(), part.c_str()) != nullptr;
}

// The disk becomes the instance's root volume: the OS disk of a full
// restore or replication, or of an attach disk restore to a new instance.
bool AttachesAsRoot(const RestoreCtx& ctx, const VMInfoStructs::SDisk& disk) {
    if (!disk.isOSDisk) return false;
    return ctx.flavour == RestoreCtx::FullInstance || ctx.flavour == RestoreCtx::Replication ||
           (ctx.flavour == RestoreCtx::AttachDisk && ctx.attachToNewInstance);
}

// Drops the job's registrations of the instance and the volumes it made, and
// keeps those of its snapshots.
void HandOverAllButSnapshots(CAmazonCleaner& cleaner, const std::string& key) {
    std::string path;
    if (!cleaner.GetRegisteredVM(VM_CLEANER_RESTORE, key, path, false)) return;
    std::vector<std::string> instances;
    cleaner.GetRegisteredCreatedVMs(path, instances);
    for (const auto& id : instances) cleaner.UnRegisterCreatedVM(path, id);
    std::vector<VMInfoStructs::SDisk> volumes;
    cleaner.GetRegisteredDisks(path, volumes);
    for (const auto& volume : volumes) cleaner.UnRegisterDisk(path, volume.newVolumeId);
    std::vector<CleanerEntity> replacements;
    cleaner.GetRegisteredItems(path, VM_CLEANER_VOLUME_REPLACEMENT, replacements);
    for (const auto& entry : replacements) cleaner.UnRegisterVolumeReplacement(path, entry);
}

}  // namespace

bool CAmazonInfo::AttachRestoreCtxDisksToInstance(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    EnsureTaskUtils();
    CAmazonSDKBridge& bridge = *m_pSourceBridge;
    // A tag left on a restored volume misnames it (the restore's marks say
    // it is the job's staging volume): a failed removal is tried once more,
    // then reported with the job's result.
    auto deleteTag = [&](const std::string& id, const char* key) {
        EvDebug::Debug(fn, "Deleting tag [%s] for resource id [%s]", key, id.c_str());
        std::string error;
        if (AmazonCommon::BridgeCall(
                bridge, fn, [&] { return bridge.DeleteTag(id, key, "", true) || bridge.DeleteTag(id, key, "", true); },
                error, "Failed to delete tag [%s] of [%s]. Error [%s]", key, id.c_str()))
            return;
        AddRestoreFailureEntry(ctx, "Failed to delete tag [" + std::string(key) + "] of [" + id + "]", error);
    };
    for (const auto& disk : ctx.disks) {
        if (!disk.selected || disk.newVolumeId.empty()) continue;
        const std::string& id = disk.newVolumeId;
        // A volume from a snapshot copy carries its source's name and text.
        if (ctx.restoreFromSnap) {
            deleteTag(id, "Name");
            deleteTag(id, "Description");
        }
        AmazonCommon::BridgeCall(
            bridge, fn, [&] { return bridge.SetTag(id, "Name", disk.displayName, true); },
            "Failed to set tag [Name] on volume [%s]. Error [%s]", id.c_str());
        const bool root = AttachesAsRoot(ctx, disk);
        const bool attached =
            root ? m_pTaskUtils->AttachAsOSVolume(id, ctx.vmGuid, ctx.vm.zone, ctx.vm.region, disk.attachFlag,
                                                  disk.deviceName, true)
                 : m_pTaskUtils->AttachVolume(id, ctx.vmGuid, ctx.vm.zone, ctx.vm.region, disk.attachFlag,
                                              disk.deviceName, true);
        if (!attached) {
            // An instance restored into has lost its own volume at that
            // device: only all of them restored, or none, leaves it whole.
            const bool intoExisting = ctx.flavour == RestoreCtx::FullInstance && !ctx.newVMGuid;
            if (ctx.flavour == RestoreCtx::AttachDisk || disk.isOSDisk || intoExisting) return false;
            // What the attach itself left: the destination account's answer
            // or the wait's, not another bridge's last text.
            AddRestoreFailureEntry(ctx, "", GetLastVMErrorDetails());
            continue;
        }
        deleteTag(id, AmazonTags::kBackupTag);
        if (!m_cleaner.UnRegisterDisk(VM_CLEANER_RESTORE, ctx.registrationGuid, id))
            EvDebug::Error(fn, "Failed to unregister disk [%s]", id.c_str());
        EvDebug::Debug(fn, "Disk [%s] attached to instance [%s] successfully", id.c_str(), ctx.vmGuid.c_str());
    }
    return true;
}

bool CAmazonInfo::RestoreVolume_AmazonVMAsProxy(const RestoreCtx& ctx) {
    if (!CreateAndShareSnapshotsToRestore(ctx, false)) return false;
    // The volumes go to an instance that exists already.
    ctx.Out().vmCreated = false;
    bool osDiskExists = false;
    if (!PrepareRestoreCtxVMInfo(ctx, osDiskExists)) return false;
    const AmazonCommon::BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, ctx.destRegion);
    return AttachRestoreCtxDisksToInstance(ctx);
}

int CAmazonInfo::PostRestoreVM_AmazonVMAsProxy(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    int result = 1;
    if (ctx.conversion) {
        int validate = 1;
        KDPlatformInfo().getNumber("VirtualServer", "nAmazonValidateInstanceStatus", validate);
        if (validate != 0 && !ValidateInstanceStatus(ctx.vmGuid, ctx.restoreVMName, ctx.destRegion)) {
            const bool windows = ContainsNoCase(ctx.guestOSName, "windows");
            AddRestoreFailureEntry(ctx, kValidationFailure,
                                   windows ? kWindowsValidationAdvice : kLinuxValidationAdvice);
        }
    }
    if (ctx.powerOn) {
        std::string error;
        if (AmazonCommon::QuietBridgeCall(
                *m_pSourceBridge, [&] { return m_pSourceBridge->PowerOnVM(ctx.restoreVMName, ctx.vmGuid, ctx.destRegion); },
                error)) {
            EvDebug::Debug(fn, "Power on of VM successful!");
        } else {
            EvDebug::Error(fn, "PowerOnVM Failed for VM[%s]", ctx.restoreVMName.c_str());
            SetLastVMError(AmazonErrors::kPowerOnFailed, error);
            result = 0;
        }
    }
    bool snapshotsLeft = false;
    if (IsVolumeTransferRequired(ctx)) {
        const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge,
                                                                m_proxyVMInfo.region);
        snapshotsLeft = !DeleteRegisteredSnapshots(ctx);
    }
    // The instance and its volumes are the user's from here on. Snapshots
    // that could not be deleted stay registered, so that the clean-up after
    // this job removes them rather than nobody.
    if (snapshotsLeft) {
        EvDebug::Error(fn, "Temporary snapshots of VM [%s] were not deleted; they are left for the clean-up",
                       ctx.registrationGuid.c_str());
        HandOverAllButSnapshots(m_cleaner, ctx.registrationGuid);
    } else if (!m_cleaner.UnRegisterVM(VM_CLEANER_RESTORE, ctx.registrationGuid, true)) {
        EvDebug::Error(fn, "Failed to unregister VM [%s]", ctx.registrationGuid.c_str());
    }
    m_bCleanerRegistered = false;
    return result;
}
