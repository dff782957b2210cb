// Streaming backup staging: the AMI, the hot-add volumes and the disks the
// data mover reads.
#include <sstream>

#include "bridge/AmazonSDKBridge.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "disk/AmazonDiskInfo.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

using namespace AmazonTags;

namespace {

// An empty part (an emptied tag, a stray "#") names no AMI.
size_t CountListedAMIs(const std::string& value) {
    std::stringstream parts(value);
    std::string ami;
    size_t count = 0;
    while (std::getline(parts, ami, '#'))
        if (!ami.empty()) ++count;
    return count;
}

}  // namespace

int CAmazonInfo::_MountVMStreamingBackup(MountCtx& ctx) {
    if (!_PrepareMountPathDirectory(ctx.mountPath, 1)) return 0;
    // The instance's tags and its AMI are where the instance is.
    const AmazonCommon::BridgePairRegionScope inInstanceRegion(*m_pSourceBridge, *m_pAdminBridge, ctx.vm.region);
    if (!CheckSnapshotCount(ctx.vm.guid)) return 0;
    const bool hotadd = ctx.transportMode == "HOTADD";
    if (hotadd && !EnsureProxyRecordForStaging(ctx)) return 0;
    if (!TakeAMISnapshot(ctx)) return 0;
    bool recreated = false;
    if (hotadd && !_CreateVolumesFromSnapshot(ctx.JobVMGuid(), ctx.vm.disks, VM_CLEANER_BACKUP, recreated))
        return 0;
    if (!_RegisterDisks(ctx.vm, ctx.transportMode)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register disks with disk info.");
        return 0;
    }
    return 1;
}

int CAmazonInfo::CheckSnapshotCount(const std::string& instanceId) {
    std::map<std::string, std::string> tags;
    if (!m_pSourceBridge->GetTagList(instanceId, tags)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to get tag for instance [%s]", instanceId.c_str());
        return 1;
    }
    long long limit = 1;
    KDPlatformInfo().getNumber("VirtualServer", "nBackupSnapshotLimit", limit);
    const auto listed = tags.find(kAMITag);
    const size_t count = listed == tags.end() ? 0 : CountListedAMIs(listed->second);
    if (static_cast<long long>(count) <= limit) return 1;
    EvDebug::Error(__PRETTY_FUNCTION__, "There are [%d] existing backup snapshots for VM [%s],where Limit is [%lu]",
                   static_cast<int>(count), instanceId.c_str(), static_cast<unsigned long>(limit));
    SetLastVMError(AmazonErrors::kErrTooManyBackupAMIs, "There are [" + std::to_string(count) +
                                              "] existing backup snapshots for VM [" + instanceId +
                                              "],where Limit is [" + std::to_string(limit) + "]");
    return 0;
}

// The mount normally fetched the proxy's record already; volumes staged
// without it would have no zone to go to.
bool CAmazonInfo::EnsureProxyRecordForStaging(MountCtx& ctx) {
    return m_bProxyInfoFetched || _InitProxyInfoForBackup(ctx);
}

bool CAmazonInfo::_RegisterDisks(SVMInfo& vm, const std::string& transportMode) {
    if (!InitDiskInfo()) return false;
    const bool hotadd = transportMode == "HOTADD";
    for (const auto& disk : vm.disks) {
        if (!m_pDiskInfo->RegisterDisk(vm, disk, transportMode, false)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register disk [%s][%s] with disk info.",
                           disk.volumeId.c_str(), disk.newVolumeId.c_str());
            SetLastVMError(AmazonErrors::kMountFailed, "Failed to register disk [" + disk.volumeId + "][" +
                                                      disk.newVolumeId + "] with disk info.");
            return false;
        }
        if (hotadd && !disk.newVolumeId.empty() &&
            !m_cleaner.RegisterDisk(VM_CLEANER_BACKUP, vm.guid, disk.newVolumeId))
            EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to register disk [%s] with cleaner, skipping.",
                           disk.newVolumeId.c_str());
    }
    return true;
}
