// Closing a disk the data mover is done with: snapshot access released, or
// the volume detached from the proxy and, for a backup, deleted.
#include <strings.h>

#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "disk/AmazonDiskInfo.h"
#include "disk/DiskGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/DiskMapper.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AmazonTaskUtils.h"

int CAmazonInfo::CloseVmdk(VmdkHandle& handle) {
    const char* fn = __PRETTY_FUNCTION__;
    return AmazonDisk::Guarded(fn, 0, [&] {
        SetLastVMError(0);
        if (!handle.vmHandle || !handle.diskHandle || !m_pDiskInfo) {
            EvDebug::Error(fn, !handle.vmHandle     ? "Invalid vm handle"
                               : !handle.diskHandle ? "Invalid disk handle"
                                                    : "Disk Info is null.");
            return 0;
        }
        if (m_pDiskInfo->GetDiskState(handle) == AmazonDiskInfo::DiskClosed) {
            EvDebug::DebugLvl(fn, 2, "Disk is already closed.");
            return 1;
        }
        SVMInfo vm;
        if (!m_pDiskInfo->GetVMInfo(handle, "", vm)) {
            EvDebug::Error(fn, "Failed to get VMInfo from vmdk handle for disk");
            SetLastVMError(AmazonErrors::kMountFailed, "the disk to close belongs to no mounted VM");
            return 0;
        }
        SDisk disk;
        bool restore = false;
        if (!m_pDiskInfo->GetDiskInfo(handle, disk, restore)) {
            EvDebug::Error(fn, "Failed to get Disk Info to close disk");
            SetLastVMError(AmazonErrors::kMountFailed, "the disk to close has no record");
            return 0;
        }
        const std::string mode = m_pDiskInfo->GetDiskTransportMode(handle);
        if (mode.empty()) return 0;
        if (strcasecmp(mode.c_str(), AmazonDisk::kTransportDirect) != 0) return CloseHotAddDisk(vm, disk, restore);
        if (!ClearSnapshotAccessInfo(disk.snapshotId))
            EvDebug::Error(fn, "Could not clear access info for snapshot: [%s]", disk.snapshotId.c_str());
        return m_pDiskInfo->SetDiskState(handle, AmazonDiskInfo::DiskClosed) ? 1 : 0;
    });
}

int CAmazonInfo::CloseHotAddDisk(const SVMInfo& vm, SDisk& disk, bool restore) {
    if (!m_pDiskMapper) {
        EvDebug::Error(__PRETTY_FUNCTION__, "disk mapper is null..");
        return 0;
    }
    if (!m_pDiskMapper->PreDetatchDisk("")) {
        EvDebug::Error(__PRETTY_FUNCTION__, "DiskMapper PreDetach failed ");
        return 0;
    }
    bool allowForce = true;
    KDPlatformInfo().getBoolean("VirtualServer", "bAllowAWSForceDetachVolume", allowForce);
    // A volume being written is never torn off the proxy: data in flight
    // would be lost. The close fails instead and the volume is kept.
    if (restore) allowForce = false;
    const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, m_proxyVMInfo.region);
    EnsureTaskUtils();
    bool forced = false;
    if (!m_pTaskUtils->DetachVolume(disk, "", allowForce, forced, false)) return 0;
    if (forced) {
        m_pDiskInfo->AddDiskFailure(disk.newVolumeId, "Volume force detached", true);
        m_pDiskMapper->ReScan();
    }
    if (!m_pDiskMapper->PostDetatchDisk("")) EvDebug::Error(__PRETTY_FUNCTION__, "DiskMapper PostDetach failed ");
    if (!m_pDiskInfo->CloseDisk(vm, disk)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to close disk [%s][%s]", disk.newVolumeId.c_str(),
                       disk.volumeId.c_str());
        return 0;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Disk [%s][%s] is closed successfully", disk.newVolumeId.c_str(),
                   disk.volumeId.c_str());
    if (restore) return 1;  // the restored volume is the restore's result
    if (!m_pTaskUtils->DeleteVolume(disk, false)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to delete volume : [%s]", disk.newVolumeId.c_str());
    } else if (!m_cleaner.UnRegisterDisk(VM_CLEANER_BACKUP, vm.guid, disk.newVolumeId)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to unregister disk [%s]", disk.newVolumeId.c_str());
    }
    return 1;
}
