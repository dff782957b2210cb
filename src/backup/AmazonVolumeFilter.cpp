// Which of the instance's volumes the backup leaves out of its AMI.
#include "bridge/AmazonSDKBridge.h"
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

namespace {

// A Marketplace volume cannot be attached to the proxy, so only hot-add
// needs the check by default.
bool SkipMarketplaceCheck(const std::string& transportMode) {
    bool skip = transportMode != "HOTADD";
    if (KDPlatformInfo().getBoolean("VirtualServer", "nAmazonSkipMarketplaceCheck", skip))
        EvDebug::Debug(__PRETTY_FUNCTION__, "Read addtional setting [%s]: [%s]", "nAmazonSkipMarketplaceCheck",
                       skip ? "True" : "False");
    return skip;
}

}  // namespace

bool CAmazonInfo::GetFilteredVolumes(MountCtx& ctx, std::vector<std::string>& excludedVolumeIds) {
    const bool checkMarketplace = !SkipMarketplaceCheck(ctx.transportMode);
    bool skipDataDisks = false;
    KDPlatformInfo().getBoolean("VirtualServer", "bSkipDataDisksForBackup", skipDataDisks);
    bool allFiltered = true;
    for (auto& disk : ctx.vm.disks) {
        if (!disk.filtered) disk.filtered = IsVolumeExcluded(ctx, disk, skipDataDisks, checkMarketplace);
        if (!disk.filtered) {
            allFiltered = false;
            continue;
        }
        ++ctx.excludedDiskCount;
        // The AMI always holds the root volume; a filtered OS disk is only
        // not staged.
        if (!disk.isOSDisk) excludedVolumeIds.push_back(disk.volumeId);
    }
    if (allFiltered) {
        EvDebug::Error(__PRETTY_FUNCTION__, "All the disks of the instance are filtered");
        SetLastVMError(AmazonErrors::kErrAllDisksFiltered, "All the disks of the instance are filtered");
        return false;
    }
    return true;
}

bool CAmazonInfo::IsVolumeExcluded(MountCtx& ctx, const SDisk& disk, bool skipDataDisks, bool checkMarketplace) {
    if (skipDataDisks && !disk.isOSDisk) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Not taking snapshot on data volume [%s][%s]", disk.volumeId.c_str(),
                       disk.deviceName.c_str());
        return true;
    }
    if (IsDiskFiltered(ctx, disk)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Not taking snapshot on filtered volume [%s][%s]", disk.volumeId.c_str(),
                       disk.deviceName.c_str());
        return true;
    }
    if (checkMarketplace && m_pSourceBridge->IsMarketPlaceVolume(disk.volumeId, ctx.vm.region)) {
        EvDebug::Error(__PRETTY_FUNCTION__,
                       "The volume [%s] has a market-place product code associated with it. Filtering the volume as "
                       "it cannot be attached to the proxy instance.",
                       disk.volumeId.c_str());
        AddMountFailure(disk.volumeId, "Volumes with market-place product code are filtered.", false);
        return true;
    }
    return false;
}
