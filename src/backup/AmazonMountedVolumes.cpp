// Detaching and deleting the volumes a job staged for the proxy.
#include <strings.h>

#include "bridge/AmazonSDKBridge.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/DiskMapper.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AmazonTaskUtils.h"

namespace {
// Only plain EBS disks the job kept are staged, and only those with a new
// volume have anything on the proxy to detach or delete.
bool HasStagedVolume(const VMInfoStructs::SDisk& disk, const char* where) {
    if (disk.diskType != 1 || disk.filtered) return false;
    if (disk.newVolumeId.empty()) {
        EvDebug::Debug(where, "Logical disk name or new disk id does not exist for disk [%s]. Skipping it.",
                       disk.volumeId.c_str());
        return false;
    }
    return true;
}
}  // namespace

// A volume that no longer exists counts as detached and deleted, so that its
// registration does not fail every later clean-up.
bool CAmazonInfo::VolumeIsGone(const std::string& volumeId, const std::string& region, bool useSourceAccount) {
    SDisk info;
    bool notFound = false;
    return BridgeFor(useSourceAccount)->GetVolumeInfo(volumeId, region, info, notFound) && notFound;
}

bool CAmazonInfo::VolumeIsDetached(const std::string& volumeId, const std::string& region, bool useSourceAccount) {
    SDisk info;
    bool notFound = false;
    if (!BridgeFor(useSourceAccount)->GetVolumeInfo(volumeId, region, info, notFound)) return false;
    // Only an "in-use" volume has an attachment (attaching, attached or
    // detaching); "error", "creating" and "available" have none, and AWS
    // refuses to detach those.
    return notFound || strcasecmp(info.state.c_str(), "in-use") != 0;
}

// One volume that cannot be removed stays registered and does not keep the
// others of the VM from going.
bool CAmazonInfo::_CleanUpMountedVolumes(const std::string& key, bool deleteVolumes, std::vector<SFailure>& failures,
                                         bool option) {
    std::vector<CleanerEntity> volumes;
    if (!m_cleaner.GetRegisteredItems(key, VM_CLEANER_DISK, volumes)) return false;
    bool ok = true;
    for (const auto& volume : volumes) ok = CleanUpMountedVolume(volume, key, deleteVolumes, failures, option) && ok;
    return ok;
}

bool CAmazonInfo::CleanUpMountedVolume(const CleanerEntity& volume, const std::string& key, bool deleteVolume,
                                       std::vector<SFailure>& failures, bool useSourceAccount) {
    if (!BridgeForEntry(volume, useSourceAccount, useSourceAccount)) return false;
    std::vector<SDisk> disks(1);
    SDisk& disk = disks.front();
    disk.name = disk.volumeId = disk.newVolumeId = volume.id;
    disk.diskType = 1;
    const AmazonCommon::BridgePairRegionScope inRegion(*m_pSourceBridge, *m_pAdminBridge, volume.region);
    // A volume about to be deleted stays registered until it is gone.
    if (!DetachVolumes(disks, volume.region, deleteVolume ? std::string() : key, failures, useSourceAccount))
        return false;
    return deleteVolume ? DeleteVolumes(disks, key, useSourceAccount) : true;
}

bool CAmazonInfo::DetachVolumes(std::vector<SDisk>& disks, const std::string& region, const std::string& key,
                                std::vector<SFailure>& failures, bool useSourceAccount) {
    EnsureTaskUtils();
    bool result = true;
    for (auto& disk : disks) {
        if (!HasStagedVolume(disk, __PRETTY_FUNCTION__)) continue;
        if (!m_pDiskMapper->PreDetatchDisk("")) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Pre detach disk operations failed.");
            result = false;
            continue;
        }
        bool allowForce = true;
        KDPlatformInfo().getBoolean("VirtualServer", "bAllowAWSForceDetachVolume", allowForce);
        bool forced = false;
        // A volume that was never attached (a job that died between creating
        // and attaching it) or no longer exists needs no detach.
        const bool detached = VolumeIsDetached(disk.newVolumeId, region, useSourceAccount) ||
                              m_pTaskUtils->DetachVolume(disk, region, allowForce, forced, useSourceAccount);
        if (forced) {
            failures.emplace_back(disk.newVolumeId, "Volume force detached", "", "", true);
            m_pDiskMapper->ReScan();
        }
        if (!m_pDiskMapper->PostDetatchDisk(""))
            EvDebug::Error(__PRETTY_FUNCTION__, "Post detach disk operations failed.");
        if (!detached) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to detach Volume [%s]", disk.newVolumeId.c_str());
            result = false;
        } else if (!key.empty()) {
            m_cleaner.UnRegisterDisk(key, disk.newVolumeId);
        }
    }
    return result;
}

bool CAmazonInfo::DeleteVolumes(std::vector<SDisk>& disks, const std::string& key, bool useSourceAccount) {
    EnsureTaskUtils();
    bool result = true;
    for (auto& disk : disks) {
        if (!HasStagedVolume(disk, __PRETTY_FUNCTION__)) continue;
        if (!m_pTaskUtils->DeleteVolume(disk, useSourceAccount) &&
            !VolumeIsGone(disk.newVolumeId, "", useSourceAccount)) {
            result = false;
            continue;
        }
        if (!key.empty() && !m_cleaner.UnRegisterDisk(key, disk.newVolumeId))
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister volume [%s] ", disk.newVolumeId.c_str());
    }
    return result;
}
