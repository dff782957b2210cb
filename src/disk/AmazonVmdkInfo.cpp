// What the data mover learns about an open disk: its record, its identity,
// its volume's metadata and tags.
#include <map>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "disk/AmazonDiskInfo.h"
#include "disk/DiskGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using VMInfoStructs::SDiskMetadataInfo;

namespace {

// The region of the instance an open disk belongs to: its volume is there,
// while with direct reads the proxy may sit elsewhere.
std::string VolumeRegion(CAmazonDiskInfo& diskInfo, const VmdkHandle& handle) {
    VMInfoStructs::SVMInfo vm;
    diskInfo.GetVMInfo(handle, "", vm);
    return vm.region;
}

}  // namespace

int CAmazonInfo::GetVmdkInfo(const VmdkHandle& handle, SDisk& disk) {
    const char* fn = __PRETTY_FUNCTION__;
    return AmazonDisk::Guarded(fn, 0, [&] {
        if (!handle.vmHandle && !handle.diskHandle) {
            EvDebug::Debug(fn, "vm handle and disk handle is NULL ");
            return 0;
        }
        if (!m_pDiskInfo) {
            EvDebug::Error(fn, "Disk Info is null.");
            return 0;
        }
        bool restore = false;
        if (m_pDiskInfo->GetDiskInfo(handle, disk, restore)) return 1;
        EvDebug::Error(fn, "Failed to get Disk Info for the vmdk handle");
        SetLastVMError(AmazonErrors::kMountFailed, "the disk handle names no open disk");
        return 0;
    });
}

int CAmazonInfo::GetDiskIdfromHandle(const VmdkHandle& handle, std::string& diskId) {
    if (!handle.diskHandle) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Invalid disk handle");
        return 0;
    }
    if (!m_pDiskInfo) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Disk Info is null.");
        return 0;
    }
    SDisk disk;
    bool restore = false;
    if (!m_pDiskInfo->GetDiskInfo(handle, disk, restore)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get Disk Info to close disk");
        return 0;
    }
    diskId = disk.volumeId;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Disk id [%s] extracted from diskHandle", diskId.c_str());
    SVMInfo vm;
    if (!m_pDiskInfo->GetVMInfo(handle, "", vm)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get VMInfo for vmdk Handle");
        return 0;
    }
    return 1;
}

int CAmazonInfo::GetVmdkMetadata(const VmdkHandle& handle, std::vector<SDiskMetadataInfo>& metadata) {
    const char* fn = __PRETTY_FUNCTION__;
    return AmazonDisk::Guarded(fn, 0, [&] {
        std::string diskId;
        if (!GetDiskIdfromHandle(handle, diskId)) return 0;
        const AmazonCommon::BridgePairRegionScope inVolumeRegion(*m_pSourceBridge, *m_pAdminBridge, VolumeRegion(*m_pDiskInfo, handle));
        if (m_pSourceBridge->GetDiskMetadata(diskId, "", metadata)) return 1;
        EvDebug::Debug(fn, "Failed to get disk metadata.");
        return 0;
    });
}

int CAmazonInfo::GetVmdkTagList(const VmdkHandle& handle, std::vector<SDiskMetadataInfo>& tags) {
    const char* fn = __PRETTY_FUNCTION__;
    return AmazonDisk::Guarded(fn, 0, [&] {
        std::string diskId;
        if (!GetDiskIdfromHandle(handle, diskId)) return 0;
        const AmazonCommon::BridgePairRegionScope inVolumeRegion(*m_pSourceBridge, *m_pAdminBridge, VolumeRegion(*m_pDiskInfo, handle));
        std::map<std::string, std::string> all;
        if (!m_pSourceBridge->GetTagList(diskId, all)) {
            EvDebug::Debug(fn, "Failed to get tags of disk.");
            return 0;
        }
        for (const auto& [key, value] : all) {
            if (key == "Name" || key == AmazonTags::kBackupTag) continue;
            SDiskMetadataInfo tag;
            tag.name = key;
            tag.value = value;
            tags.push_back(tag);
        }
        return 1;
    });
}

int CAmazonInfo::SetVmdkTagList(const VmdkHandle& handle, const std::vector<SDiskMetadataInfo>& tags) {
    return AmazonDisk::Guarded(__PRETTY_FUNCTION__, 0, [&] {
        std::string diskId;
        if (!GetDiskIdfromHandle(handle, diskId)) return 0;
        const AmazonCommon::BridgePairRegionScope inVolumeRegion(*m_pSourceBridge, *m_pAdminBridge, VolumeRegion(*m_pDiskInfo, handle));
        return ApplyTags(diskId, tags);
    });
}

int CAmazonInfo::ApplyTags(const std::string& resourceId, const std::vector<SDiskMetadataInfo>& tags) {
    for (const auto& tag : tags) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Setting tag [%s] for resource [%s]", tag.name.c_str(),
                       resourceId.c_str());
        // A tag that cannot be set is not worth failing the disk over.
        AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return m_pSourceBridge->SetTag(resourceId, tag.name, tag.value, true); },
            "Failed to set tag [%s] on [%s]. Error [%s]", tag.name.c_str(), resourceId.c_str());
    }
    return 1;
}
