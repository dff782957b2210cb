// The one-time mount machinery and the expiry clean-ups run at job start.
#include <sstream>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/DiskMapper.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AmazonTaskUtils.h"
#include "tasks/AwsErrors.h"

bool CAmazonInfo::_InitMount() {
    if (m_bMountInitialized) return true;
    if (!m_pDiskMapper->Initialize()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Disk mapper initialization failed.");
        return false;
    }
    // The store is keyed by the proxy's instance id, under which earlier jobs
    // left their entries; on EC2 the BIOS UUID would hide them, so an
    // unreachable metadata service stops the job instead. Only a proxy
    // outside AWS has no id but its BIOS UUID.
    std::string cleanerId = GetProxyUUID();
    if (cleanerId.empty()) {
        if (IsProxyAmazonInstance()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to reach AWS instance metadata service.");
            SetLastVMError(AmazonErrors::kMetadataServiceUnreachable);
            return false;
        }
        cleanerId = GetProxyBiosId();
    }
    if (!m_cleaner.Init(cleanerId)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Cleaner initialization failed.");
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Cleaner initialized with [%s] ID", cleanerId.c_str());
    // Entries stored without a region were all made in the proxy's.
    m_cleaner.SetDefaultRegion(GetProxyRegion());
    EnsureTaskUtils();
    m_bMountInitialized = true;
    return true;
}

bool CAmazonInfo::DeleteExpiredVolumes(const std::string& region, long long ageSeconds) {
    return AmazonCommon::BridgeCall(
        *m_pSourceBridge, __PRETTY_FUNCTION__,
        [&] { return m_pSourceBridge->DeleteExpiredVolumes(region, ageSeconds); },
        "DeleteExpiredVolumes failed for region [%s]. Error [%s]", region.c_str());
}

bool CAmazonInfo::DeleteExpiredAMISnapshot(const std::string& instanceId) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2,
                      "<<Start : Unmounting left over snapshots/Volumes from previous backup jobs");
    std::map<std::string, std::string> tags;
    if (!m_pSourceBridge->GetTagList(instanceId, tags)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get tags for instance [%s]", instanceId.c_str());
        return false;
    }
    long long hours = 24;
    KDPlatformInfo().getNumber("VirtualServer", "nExpireSnapshotHours", hours);
    for (const auto& [key, value] : tags) {
        if (key != AmazonTags::kAMITag && key != AmazonTags::kRetainSnapTag) continue;
        std::stringstream parts(value);
        std::string ami;
        while (std::getline(parts, ami, '#')) {
            if (ami.empty()) continue;
            // Listed by a job still running: not expired, whatever its age.
            if (IsAMIOfAnotherLiveJob(ami, __PRETTY_FUNCTION__)) continue;
            // Only an AMI that is really gone leaves the tag; one that has not
            // expired yet (or could not be deleted) stays listed for later.
            std::string error;
            if (AmazonCommon::QuietBridgeCall(
                    *m_pSourceBridge, [&] { return m_pSourceBridge->DeleteExpiredAMISnapshot(ami, true, hours); },
                    error)) {
                EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted AMI Snapshot [%s].", ami.c_str());
            } else if (IsAwsNotFoundError(error)) {
                EvDebug::Debug(__PRETTY_FUNCTION__, "AMI [%s] no longer exists.", ami.c_str());
            } else {
                EvDebug::Debug(__PRETTY_FUNCTION__, "Failed to delete AMI [%s], Ignorable error.", ami.c_str());
                continue;
            }
            m_pSourceBridge->DeleteTag(instanceId, key, ami, false);
            DeleteEmptyTag(instanceId, key);
        }
    }
    return true;
}
