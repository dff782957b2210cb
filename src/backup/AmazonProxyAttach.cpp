// Live browse: attaching the staged volumes to this proxy or to another one.
#include "bridge/AmazonSDKBridge.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/DiskMapper.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskErrors.h"
#include "tasks/AmazonTaskUtils.h"

bool CAmazonInfo::StagingCancelled(const char* where) {
    if (!IsJobCancelled()) return false;
    EvDebug::Debug(where, "Detected Quit flag");
    AmazonErrors::SetInterrupted(*this);
    return true;
}

bool CAmazonInfo::AttachVolumesToProxy(const std::string& instanceId, SVMInfo& vm, std::vector<SDisk>& disks,
                                       bool forWrite, bool takeOffline, int mode) {
    const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, m_proxyVMInfo.region);
    bool attached = true;
    for (auto& disk : disks) {
        if (StagingCancelled(__PRETTY_FUNCTION__)) {
            attached = false;
            break;
        }
        if (disk.diskType != 1) continue;
        if (disk.filtered) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Not attaching filtered volume [%s][%s]", disk.volumeId.c_str(),
                           disk.deviceName.c_str());
            continue;
        }
        if (disk.newVolumeId.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "New volume to attach is empty for [%s] [%s]", disk.volumeId.c_str(),
                           disk.deviceName.c_str());
            attached = false;
            break;
        }
        if (!AttachVolumeToProxy(instanceId, vm, disk, forWrite, takeOffline, mode)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to attach disk [%s][%s].", disk.volumeId.c_str(),
                           disk.newVolumeId.c_str());
            attached = false;
            break;
        }
    }
    if (!attached) {
        // Lets the mapper tidy up after the attach that did not happen.
        std::string device;
        int64_t size = 0;
        m_pDiskMapper->PostAttachDisk("", device, size, true);
    }
    return attached;
}

bool CAmazonInfo::AttachVolumesToRemoteProxy(const std::string& instanceId, const std::string& remoteProxyId,
                                             std::vector<SDisk>& disks, int mode) {
    const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, m_proxyVMInfo.region);
    EnsureTaskUtils();
    for (auto& disk : disks) {
        if (StagingCancelled(__PRETTY_FUNCTION__)) return false;
        if (disk.diskType != 1) continue;
        if (disk.newVolumeId.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "New volume to attach is empty for [%s] [%s]", disk.volumeId.c_str(),
                           disk.deviceName.c_str());
            return false;
        }
        // Registered before the attach, so that an attach that fails half-way
        // still leaves the volume to the clean-up.
        if (!m_cleaner.RegisterDisk(mode, instanceId, disk.newVolumeId))
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed in registering disk [%s].", disk.newVolumeId.c_str());
        if (!m_pTaskUtils->AttachVolume(disk.newVolumeId, remoteProxyId, m_proxyVMInfo.zone, m_proxyVMInfo.region,
                                        false, "", false))
            return false;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] attached to remote proxy [%s]", disk.newVolumeId.c_str(),
                       remoteProxyId.c_str());
    }
    return true;
}
