// Attaching a registered disk's volume to the proxy and finding its device.
#include "common/RegionScope.h"
#include "disk/AmazonDiskInfo.h"
#include "factory/AmazonInfo.h"
#include "framework/DiskMapper.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AmazonTaskErrors.h"

namespace {
constexpr int kNoCleanerRegistration = 2;
}

bool CAmazonInfo::AttachVolumeToProxy(const std::string& instanceId, const SVMInfo& vm, SDisk& disk, bool forWrite,
                                      bool takeOffline, int mode) {
    if (!m_pDiskMapper) {
        EvDebug::Error(__PRETTY_FUNCTION__, "disk mapper is null..");
        return false;
    }
    if (!m_pDiskInfo) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Disk Info is null.");
        return false;
    }
    // Staged volumes live beside the proxy, whatever region the job's
    // instance is in or the bridges were last pointed at.
    const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, m_proxyVMInfo.region);
    int attemptsLeft = 1;
    KDPlatformInfo().getNumber("VirtualServer", "nAWSPostAttachAttempts", attemptsLeft);
    for (;;) {
        if (!m_pDiskMapper->PreAttachDisk()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Pre attach disk operations failed.");
            return false;
        }
        const bool connected = m_pDiskInfo->ConnectDisk(vm, disk);
        // Registered before anything relies on the attachment, and also when
        // the attach failed half-way, so that a later clean-up finds it.
        if (mode != kNoCleanerRegistration && !m_cleaner.RegisterDisk(mode, instanceId, disk.newVolumeId))
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed in registering disk [%s].", disk.newVolumeId.c_str());
        std::string device;
        int64_t size = 0;
        if (!connected) {
            if (!m_pDiskMapper->PostAttachDisk(disk.newVolumeId, device, size, true))
                EvDebug::Error(__PRETTY_FUNCTION__, "Post attach disk operation failed.");
            return false;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] attached to proxy", disk.newVolumeId.c_str());
        if (m_pDiskMapper->PostAttachDisk(disk.newVolumeId, device, size, false)) {
            disk.name = device;
            disk.size = size;
            break;
        }
        EvDebug::Error(__PRETTY_FUNCTION__, "Post attach disk operation failed.");
        if (--attemptsLeft < 0) {
            SetLastVMError(AmazonErrors::kAttachOrModify);
            return false;
        }
        if (IsJobCancelled()) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Detected quit flag during attach disk [%s][%s]",
                           disk.newVolumeId.c_str(), disk.volumeId.c_str());
            AmazonErrors::SetInterrupted(*this);
            return false;
        }
        EvDebug::Error(__PRETTY_FUNCTION__, "Detach the volume and reattempt attach.");
        DetachForReattach(vm, disk);
    }
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Dumping Volume info : Volume [%s] disk logical name [%s]",
                      disk.newVolumeId.c_str(), disk.name.c_str());
    m_pDiskInfo->UpdateDisk(vm, disk);
    if (forWrite) m_pDiskMapper->MakeDiskWriteable(disk.name);
    if (takeOffline) m_pDiskMapper->BringDiskOffline(disk.name);
    return true;
}

void CAmazonInfo::DetachForReattach(const SVMInfo& vm, SDisk& disk) {
    std::vector<SDisk> disks{disk};
    std::vector<SFailure> failures;
    // The volume stays registered for clean-up: it still exists.
    DetachVolumes(disks, "", "", failures, false);
    for (const auto& failure : failures) m_pDiskInfo->AddDiskFailure(failure.item, failure.reason, failure.flag);
    // The registry must see the disk closed in every mode, or the next pass's
    // attach would be refused as already open.
    m_pDiskInfo->CloseDisk(vm, disk);
}
