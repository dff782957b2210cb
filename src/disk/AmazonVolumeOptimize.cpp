// Sizing the intermediate volumes a backup reads: a faster type and IOPS
// in proportion to the size, requested at creation or just before reading.
#include <algorithm>

#include "bridge/AmazonSDKBridge.h"
#include "disk/AmazonDiskInfo.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AmazonTaskUtils.h"

namespace {

constexpr unsigned long long kSmallVolumeGB = 3;
constexpr unsigned long long kLargeVolumeGB = 1024;
constexpr int kCreationIops = 100;
constexpr int kMinIops = 100;
constexpr int kMaxIops = 64000;
constexpr int kLargeVolumeMinIops = 5000;

int IopsBound(unsigned long long sizeGB) {
    int bound = sizeGB < kLargeVolumeGB ? 5000 : 10000;
    KDPlatformInfo().getNumber("VirtualServer", "nAWSBackupVolumeMaxIOPS", bound);
    return std::clamp(bound, kMinIops, kMaxIops);
}

int ProportionalIops(const std::string& type, unsigned long long sizeGB, int bound) {
    const unsigned long long perGB = type == "io2" ? 500 : 50;
    // In 64 bits: a size of many thousand GB must give the bound, not a
    // wrapped-around figure.
    int iops = static_cast<int>(std::min<unsigned long long>(perGB * sizeGB, static_cast<unsigned long long>(bound)));
    if (sizeGB >= kLargeVolumeGB && iops < kLargeVolumeMinIops) iops = kLargeVolumeMinIops;
    return iops;
}

}  // namespace

void CAmazonInfo::OptimizeVolumeParams(int mode, long long& sizeBytes, std::string& volumeType, int& iops,
                                       bool force) {
    if (mode != VM_CLEANER_BACKUP) return;
    KDPlatformInfo settings;
    int enabled = 1;
    settings.getNumber("VirtualServer", "bEnableAWSOptimizedBackupVolume", enabled);
    if (enabled == 0) return;
    const unsigned long long sizeGB = sizeBytes > 0 ? static_cast<unsigned long long>(sizeBytes) >> 30 : 0;
    if (sizeGB <= kSmallVolumeGB) return;
    std::string type = "io2";
    std::string configured;
    if (settings.getString("VirtualServer", "AmazonIntermediateVolumeType", configured) && !configured.empty()) {
        type = configured;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Read additional setting %s : %s", "AmazonIntermediateVolumeType",
                       type.c_str());
    }
    volumeType = type;
    int allowModify = 1;
    settings.getNumber("VirtualServer", "bAllowAWSModifyBackupVolume", allowModify);
    iops = allowModify != 0 && !force ? kCreationIops : ProportionalIops(type, sizeGB, IopsBound(sizeGB));
    EvDebug::Debug(__PRETTY_FUNCTION__, "Volume size (GB) [%llu]; Volume Type: [%s] Volume IOPS: [%d]", sizeGB,
                   volumeType.c_str(), iops);
}

bool CAmazonInfo::OptimizeAndModifyDisk(SDisk& disk) {
    if (!m_strOutpostsAccountARN.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Proxy in outpost, nothing to modify");
        return true;
    }
    long long size = disk.size;
    std::string type = disk.volumeType;
    int iops = disk.iops;
    OptimizeVolumeParams(VM_CLEANER_BACKUP, size, type, iops, true);
    const std::string region = DiskAccessRegion();
    SDisk current;
    bool notFound = false;
    if (!m_pAdminBridge->GetVolumeInfo(disk.newVolumeId, region, current, notFound) || notFound) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to get volume info for [%s]", disk.newVolumeId.c_str());
        return false;
    }
    if (current.iops == iops && current.volumeType == type) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Nothing to modify, skipping");
        return true;
    }
    EnsureTaskUtils();
    return m_pTaskUtils->ModifyVolume(disk.newVolumeId, region, type, iops);
}

std::string CAmazonInfo::DiskAccessRegion() {
    std::string region = m_pDiskInfo ? m_pDiskInfo->AttachTarget().region : std::string();
    return region.empty() ? GetProxyRegion() : region;
}
