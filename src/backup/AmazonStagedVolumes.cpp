// Hot-add staging: one new volume in the proxy's zone from each snapshot.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskErrors.h"
#include "tasks/AmazonTaskUtils.h"

using namespace AmazonTags;

namespace {
// Volumes made for a replication are registered by their caller.
constexpr int kModeUnregistered = 2;
}  // namespace

bool CAmazonInfo::_CreateVolumesFromSnapshot(const std::string& instanceId, std::vector<SDisk>& disks, int mode,
                                             bool& recreated) {
    recreated = false;
    // Without the proxy's record there is no zone or region to stage in.
    if (m_proxyVMInfo.region.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Proxy information is not available; cannot create volumes.");
        SetLastVMError(AmazonErrors::kProxyRecord, "Proxy information is not available; cannot create volumes.");
        return false;
    }
    // Hot-add stages volumes where the proxy is.
    const AmazonCommon::BridgePairRegionScope inProxyRegion(*m_pSourceBridge, *m_pAdminBridge, m_proxyVMInfo.region);
    EnsureTaskUtils();
    const bool copySourceTags = !DoNotTagIntermediateResources() && mode == VM_CLEANER_BACKUP;
    for (auto& disk : disks) {
        if (StagingCancelled(__PRETTY_FUNCTION__)) return false;
        if (!StageVolumeFromSnapshot(instanceId, disk, mode, copySourceTags, recreated)) return false;
    }
    return true;
}

bool CAmazonInfo::StageVolumeFromSnapshot(const std::string& instanceId, SDisk& disk, int mode, bool copySourceTags,
                                          bool& recreated) {
    if (disk.diskType != 1) return true;
    if (disk.filtered) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Not creating new volume for filtered [%s][%s] disk",
                       disk.volumeId.c_str(), disk.deviceName.c_str());
        return true;
    }
    if (!disk.newVolumeId.empty() && StagedVolumeExists(disk.newVolumeId, recreated)) return true;
    if (disk.snapshotId.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Snapshot does not exists for disk [%s]. Skipping it.",
                       disk.volumeId.c_str());
        return true;
    }
    long long size = disk.size;
    std::string type = disk.volumeType;
    int iops = disk.iops;
    if (!m_strOutpostsAccountARN.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Proxy in outpost, forcing gp2 volume type");
        type = "gp2";
        iops = 0;  // gp2 takes no provisioned IOPS; the source's would be refused

    } else {
        OptimizeVolumeParams(mode, size, type, iops, m_bCrossAccountBackup && disk.encrypted);
    }
    std::string newId;
    bool registered = true;
    // Registered the moment it exists, before the wait for it: a job that
    // dies while waiting leaves a volume its successor knows to remove.
    auto record = [&](const std::string& id) {
        if (mode != kModeUnregistered) registered = m_cleaner.RegisterDisk(mode, instanceId, id);
    };
    const bool created = m_pTaskUtils->CreateVolumeFromSnapshot(
        disk.snapshotId, disk.zone, m_proxyVMInfo.region, kBackupTag, disk.volumeType, type, disk.iops, iops, size,
        false, "", newId, StagedVolumeTags(disk, copySourceTags), false, m_strOutpostsAccountARN, record);
    if (newId.empty()) return false;
    // A volume the registry refused goes again, once it can be deleted.
    if (!registered) return DropUnregisteredVolume(newId);
    disk.newVolumeId = newId;
    disk.name = disk.volumeId;
    return created;
}

bool CAmazonInfo::StagedVolumeExists(const std::string& volumeId, bool& recreated) {
    SDisk info;
    bool notFound = false;
    std::string error;
    if (AmazonCommon::QuietBridgeCall(
            *m_pAdminBridge, [&] { return m_pAdminBridge->GetVolumeInfo(volumeId, m_proxyVMInfo.region, info, notFound); },
            error) &&
        !notFound) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Found the volume [%s], will be reusing it.", volumeId.c_str());
        return true;
    }
    if (error.empty()) error = AmazonCommon::BridgeError(m_pAdminBridge);
    EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to get information of volume [%s]. will re-create new volume. Error [%s] ",
                   volumeId.c_str(), error.c_str());
    recreated = true;
    return false;
}

std::map<std::string, std::string> CAmazonInfo::StagedVolumeTags(const SDisk& disk, bool copySourceTags) {
    std::map<std::string, std::string> tags;
    if (copySourceTags)
        AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__, [&] { return m_pSourceBridge->GetTagList(disk.volumeId, tags); },
            "Failed to get tags of volume [%s]. Error [%s]", disk.volumeId.c_str());
    // AWS refuses to create a volume carrying a key it reserves.
    for (auto it = tags.begin(); it != tags.end();) it = IsAwsReservedKey(it->first) ? tags.erase(it) : std::next(it);
    tags.emplace(kBackupTag, "Volume Created by Tarvex for Job " + std::to_string(m_jobId) + " from " +
                                 m_proxyVMInfo.guid);
    return tags;
}

bool CAmazonInfo::DropUnregisteredVolume(const std::string& volumeId) {
    EvDebug::Error(__PRETTY_FUNCTION__, "Failed in registering disk [%s].", volumeId.c_str());
    // Nothing would ever remove a volume the registry does not know.
    SDisk untracked;
    untracked.newVolumeId = volumeId;
    if (!m_pTaskUtils->DeleteVolume(untracked, false))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete unregistered volume [%s].", volumeId.c_str());
    SetLastVMError(AmazonErrors::kVolumeCreate, "Failed in registering disk [" + volumeId + "].");
    return false;
}
