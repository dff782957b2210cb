// Hands the AMI's snapshots to the job's disks.
#include "bridge/AmazonSDKBridge.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

namespace {

const VMInfoStructs::SDisk* SnapshotOfVolume(const VMInfoStructs::SVMInfo& ami, const std::string& volumeId) {
    for (const auto& disk : ami.disks)
        if (disk.volumeId == volumeId) return &disk;
    return nullptr;
}

}  // namespace

bool CAmazonInfo::PrepareSnapshotInfoToBackup(const SVMInfo& ami, MountCtx& ctx, const std::string& description) {
    const bool hotadd = ctx.transportMode == "HOTADD";
    for (auto& disk : ctx.vm.disks) {
        if (const SDisk* snap = SnapshotOfVolume(ami, disk.volumeId)) {
            disk.snapshotId = snap->snapshotId;
            disk.snapshotIdCbt = snap->snapshotId;
        }
        if (hotadd) disk.zone = m_proxyVMInfo.zone;
    }
    // The proxy's account makes volumes only of snapshots it may use.
    const bool acrossAccounts = CrossAccountHotadd(ctx);
    if (acrossAccounts && !CopySnapshotsToBackup(ctx)) return false;
    {
        // Copies live where the proxy's volumes are made.
        const AmazonCommon::BridgeRegionScope inRegion(
            *m_pSourceBridge, acrossAccounts ? CrossAccountSnapshotRegion(ctx) : std::string());
        for (const auto& disk : ctx.vm.disks) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Snapshot [%s]  for volume [%s].", disk.snapshotId.c_str(),
                           disk.volumeId.c_str());
            if (!disk.snapshotId.empty()) m_pSourceBridge->SetTag(disk.snapshotId, "Description", description, true);
        }
    }
    return !acrossAccounts || ShareSnapshotToBackup(ctx);
}
