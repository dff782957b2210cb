// A conversion's integrity snapshot: a temporary instance launched on the
// written volumes, before anything of this platform is injected into them,
// is snapshotted and deleted again.
#include "bridge/AmazonSDKBridge.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using AmazonTags::kBackupTag;

namespace {
constexpr char kEC2NetworkPlatform[] = "EC2";
}  // namespace

bool CAmazonInfo::_TakeConversionIntegritySnapshot(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (ctx.resume && !ctx.integritySnapshotId.empty()) {
        EvDebug::Debug(fn, "Integrity snapshot is already taken in previous attempt. Check its integrity.");
        SVMInfo ami;
        if (!GetVMInfoForVM("", ctx.integritySnapshotId, "", 0, 0, ami))
            EvDebug::Debug(fn,
                           "Warning: Integrity snapshot [%s] verification failed. As we might have injected AWS "
                           "components; skip taking new integrity snapshot now. Next replication will be FULL.",
                           ctx.integritySnapshotId.c_str());
        return true;
    }
    std::string tempVmId;
    if (!PreIntegritySnapshot(ctx, tempVmId)) return false;
    const bool taken = TakeIntegritySnapshot(ctx, tempVmId);
    PostIntegritySnapshot(ctx, tempVmId);
    return taken;
}

bool CAmazonInfo::PreIntegritySnapshot(const RestoreCtx& ctx, std::string& tempVmId) {
    EvDebug::Debug(__PRETTY_FUNCTION__,
                   "Creating temp VM [%s] before injecting AWS components to take integrity snapshot..", kBackupTag);
    if (CreateTempVM(ctx, tempVmId)) return true;
    EvDebug::Error(__PRETTY_FUNCTION__, "Creation of temp VM failed.");
    PostIntegritySnapshot(ctx, tempVmId);
    return false;
}

bool CAmazonInfo::CreateTempVM(const RestoreCtx& ctx, std::string& tempVmId) {
    RestoreCtx tempCtx = ctx;
    tempCtx.newVMGuid = true;
    bool osDiskExists = false;
    std::map<std::string, std::string> tags;
    if (!PrepareRestoreCtxVMInfo(tempCtx, osDiskExists, tags)) return false;
    if (!PrepareRestoreCtxVMInfoForTempVM(ctx, tempCtx, osDiskExists)) return false;
    if (!CreateAndShareSnapshotsToRestore(tempCtx, true)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to transfer volumes to destination zone");
        return false;
    }
    const bool launched = RestoreVirtualMachine(tempCtx, osDiskExists, tags);
    // Whatever was launched is deleted again, also after a failure.
    if (tempCtx.vmCreated) tempVmId = tempCtx.vmGuid;
    if (!launched) return false;
    m_pSourceBridge->SetTag(tempVmId, kBackupTag, "", true);
    return AttachRestoreCtxDisksToInstance(tempCtx);
}

bool CAmazonInfo::PrepareRestoreCtxVMInfoForTempVM(const RestoreCtx& ctx, RestoreCtx& tempCtx, bool&) {
    tempCtx.vm.name = kBackupTag;
    if (ctx.networkPlatform == kEC2NetworkPlatform) return true;
    VMInfoStructs::SVMNetworkCard card;
    card.name = "New Network Interface";
    if (!tempCtx.vm.networkCards.empty()) card.subnetId = tempCtx.vm.networkCards.front().subnetId;
    tempCtx.vm.networkCards.assign(1, card);
    return true;
}

bool CAmazonInfo::PostIntegritySnapshot(const RestoreCtx& ctx, const std::string& tempVmId) {
    if (tempVmId.empty()) return true;
    const bool transfer = IsVolumeTransferRequired(ctx);
    // The volumes stay: they are the replica's, unless only transfer copies.
    if (DeleteInstance(tempVmId, transfer, true, true, true))
        m_cleaner.UnRegisterCreatedVM(VM_CLEANER_RESTORE, ctx.registrationGuid, tempVmId);
    if (transfer) DeleteRegisteredSnapshots(ctx);
    return true;
}
