// The restored instance: its description, its launch, its root device and
// the volumes attached to it.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "restore/RestoreDisks.h"
#include "tasks/AmazonTaskUtils.h"

namespace {

// What the object's look-up of an AMI reads: its disks.
constexpr ULONGLONG kAMIDiskMask = 16;

VMInfoStructs::SDisk* OSDiskOf(std::vector<VMInfoStructs::SDisk>& disks) {
    for (auto& disk : disks)
        if (disk.isOSDisk) return &disk;
    return nullptr;
}

}  // namespace

bool CAmazonInfo::RestoreVM_AmazonVMAsProxy(const RestoreCtx& ctx) {
    m_restore.restoredInstanceReady = false;
    if (!CreateAndShareSnapshotsToRestore(ctx, false)) return false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Creating VM [%s].", ctx.restoreVMName.c_str());
    const AmazonCommon::BridgePairRegionScope inDestination(*m_pSourceBridge, *m_pAdminBridge, ctx.destRegion);
    bool osDiskExists = false;
    std::map<std::string, std::string> tags;
    if (!PrepareRestoreCtxVMInfo(ctx, osDiskExists, tags)) return false;
    // Restoring into the instance takes its volumes off: what goes where is
    // recorded first, so that a job ending half-way can be put back.
    const bool intoExisting = !ctx.newVMGuid;
    if (intoExisting && !RecordVolumeReplacements(ctx, osDiskExists)) return false;
    if (!RestoreVirtualMachine(ctx, osDiskExists, tags)) return false;
    UpdateDeviceNameForOSDisk(ctx);
    if (!AttachRestoreCtxDisksToInstance(ctx)) return false;
    if (intoExisting) HandOverVolumeReplacements(ctx);
    AmazonCommon::BridgeCall(
        *m_pSourceBridge, __PRETTY_FUNCTION__,
        [&] { return m_pSourceBridge->DeleteTag(ctx.vmGuid, AmazonTags::kBackupTag, "", true); },
        "Failed to delete tag [%s] of [%s]. Error [%s]", AmazonTags::kBackupTag, ctx.vmGuid.c_str());
    m_restore.restoredInstanceReady = true;
    return true;
}

bool CAmazonInfo::PrepareRestoreCtxVMInfo(const RestoreCtx& ctx, bool& osDiskExists) {
    std::map<std::string, std::string> tags;
    return PrepareRestoreCtxVMInfo(ctx, osDiskExists, tags);
}

bool CAmazonInfo::PrepareRestoreCtxVMInfo(const RestoreCtx& ctx, bool& osDiskExists,
                                          std::map<std::string, std::string>& tags) {
    switch (ctx.flavour) {
        case RestoreCtx::FullInstance:
        case RestoreCtx::AttachDisk: {
            const bool result = PrepareRestoreCtxVMInfoFromConfigFile(ctx, tags);
            PrepareRestoreCtxVMInfoBasic(ctx);
            DoesOSDiskExist(ctx, osDiskExists);
            return result;
        }
        case RestoreCtx::Replication:
            // A replica of a converted VM has no configuration file of this
            // platform to read.
            if (!ctx.conversion) PrepareRestoreCtxVMInfoFromConfigFile(ctx, tags);
            PrepareRestoreCtxVMInfoBasic(ctx);
            DoesOSDiskExist(ctx, osDiskExists);
            return true;
        default:
            EvDebug::Debug(__PRETTY_FUNCTION__, "Restore flavor [%d] not implemented.", ctx.flavour);
            return false;
    }
}

void CAmazonInfo::PrepareRestoreCtxVMInfoBasic(const RestoreCtx& ctx) {
    RestoreCtx& out = ctx.Out();
    SVMInfo& vm = out.vm;
    vm.disks.clear();
    if (ctx.newVMGuid) vm.guid.clear();
    vm.zone = ctx.destZone;
    vm.region = ctx.destRegion;
    vm.name = ctx.restoreVMName;
    vm.firmware = ctx.sourceFirmware;
    vm.terminationProtection = ctx.terminationProtection;
    vm.ebsOptimized = ctx.ebsOptimized;
    if (!ctx.instanceType.empty()) vm.instanceType = ctx.instanceType;
    if (!ctx.guestOSName.empty()) vm.guestOS = ctx.guestOSName;
    // A failback keeps the network the instance had when it was backed up.
    const bool keepBackedUpNetwork = ctx.failback && !ctx.conversion;
    const bool takeUsersNetwork = !ctx.inPlace || ctx.conversion || ctx.attachToNewInstance;
    if (!keepBackedUpNetwork && takeUsersNetwork) {
        vm.networkCards = ctx.networkCards;
        vm.securityGroups = ctx.securityGroups;
    }
    for (const auto& disk : ctx.disks)
        if (disk.selected) vm.disks.push_back(disk);
    if (ValidateTemplate(ctx)) vm.amiId = ctx.amiTemplateId;
    vm.keyPairs = ctx.keyPairs;
}

bool CAmazonInfo::DoesOSDiskExist(const RestoreCtx& ctx, bool& exists) {
    exists = ctx.conversion;
    for (const auto& disk : ctx.disks) exists = exists || ISOSDisk(disk);
    if (!exists) EvDebug::Debug(__PRETTY_FUNCTION__, "OS disk will not be restored.");
    return true;
}

bool CAmazonInfo::DoesOSDiskExist(const SVMInfo& vm, bool& exists) {
    exists = false;
    for (const auto& disk : vm.disks) exists = exists || ISOSDisk(disk);
    if (!exists) EvDebug::Debug(__PRETTY_FUNCTION__, "OS disk will not be restored.");
    return true;
}

bool CAmazonInfo::RestoreVirtualMachine(const RestoreCtx& ctx, bool osDiskExists,
                                        std::map<std::string, std::string> tags) {
    const char* const fn = __PRETTY_FUNCTION__;
    RestoreCtx& out = ctx.Out();
    const bool reuse = !ctx.newVMGuid;
    const bool result = m_pSourceBridge->RestoreVirtualMachine(out.vm, osDiskExists, tags, reuse);
    // Also on success: the bridge's text then names what it could not do.
    const std::string bridgeText = AmazonCommon::BridgeError(m_pSourceBridge.get());
    if (!result) EvDebug::Error(fn, "Creation of VM Failed.");
    if (result && !bridgeText.empty()) AmazonRestore::AddRestoreFailureEntry(ctx, "", bridgeText);
    if (!out.vm.guid.empty()) {
        EvDebug::Debug(fn, "New VM = [%s] Guid = [%s]", out.vm.name.c_str(), out.vm.guid.c_str());
        out.createdInstanceId = out.vmGuid = out.vm.guid;
        // Only an instance this run launched is the job's to delete on a
        // failure; an instance restored into was there before the job.
        out.vmCreated = !reuse;
        if (!reuse && !m_cleaner.RegisterCreatedVM(VM_CLEANER_RESTORE, ctx.registrationGuid, out.vm.guid,
                                                   ctx.destRegion, SourceAccountForCleaner()))
            EvDebug::Error(fn, "Failed to register created VM [%s]", out.vm.guid.c_str());
        AmazonCommon::BridgeCall(
            *m_pSourceBridge, fn, [&] { return m_pSourceBridge->DeleteTag(out.vm.guid, AmazonTags::kBackupTag, "", true); },
            "Failed to delete tag [%s] of [%s]. Error [%s]", AmazonTags::kBackupTag, out.vm.guid.c_str());
    }
    if (!result) SetLastVMError(AmazonErrors::kErrCloneFailed, bridgeText);
    return result;
}

void CAmazonInfo::UpdateDeviceNameForOSDisk(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    SDisk* osDisk = OSDiskOf(ctx.Out().disks);
    EvDebug::Debug(fn, "AMI used for restore [%s]", ctx.vm.amiId.c_str());
    SVMInfo ami;
    const bool found = !ctx.vm.amiId.empty() && GetVMInfoForVM("", ctx.vm.amiId, ctx.destZone, kAMIDiskMask, 0, ami);
    if (!found) {
        if (!ctx.restoreFromSnap) {
            EvDebug::Debug(fn, "From disk Metadata, device name was set to [%s]",
                           osDisk ? osDisk->deviceName.c_str() : "");
            return;
        }
        // The device name of a snapshot copy's OS disk is in the snapshot
        // manager's metadata, which this proxy cannot read.
        EvDebug::Error(fn, "Unable to find AMI [%s]", ctx.vm.amiId.c_str());
        EvDebug::Error(fn, "Unable to fetch Snap metadata; cannot find OS disk device name");
        return;
    }
    const SDisk* amiRoot = OSDiskOf(ami.disks);
    const std::string name = amiRoot ? amiRoot->deviceName : std::string();
    if (!osDisk) return;
    // An AMI that names no root device says nothing about the disk.
    if (name.empty()) {
        EvDebug::Debug(fn, "AMI [%s] names no root device; OS disk keeps device name [%s]", ctx.vm.amiId.c_str(),
                       osDisk->deviceName.c_str());
        return;
    }
    osDisk->deviceName = name;
    EvDebug::Debug(fn, "Updated OS disk's device name to [%s]", name.c_str());
}

bool CAmazonInfo::ValidateInstanceStatus(const std::string& instanceId, const std::string& name,
                                         const std::string& region) {
    const char* const fn = __PRETTY_FUNCTION__;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge, [&] { return m_pSourceBridge->PowerOnVM(name, instanceId, region); }, error)) {
        EvDebug::Error(fn, "PowerOnVM Failed for VM [%s]", name.c_str());
        SetLastVMError(AmazonErrors::kPowerOnFailed, error);
        return false;
    }
    EvDebug::Debug(fn, "PowerOnVM successful!");
    EnsureTaskUtils();
    const bool result = m_pTaskUtils->CompleteInstanceValidationTask(instanceId, region, true);
    if (result)
        EvDebug::Debug(fn, "Validate instance successful!");
    else
        EvDebug::Debug(fn, "Failed to validate instance!");
    if (m_pSourceBridge->PowerOffVM(name, instanceId, region))
        EvDebug::Debug(fn, "PowerOffVM successful!");
    else
        EvDebug::Error(fn, "PowerOffVM Failed for VM [%s]", name.c_str());
    return result;
}
