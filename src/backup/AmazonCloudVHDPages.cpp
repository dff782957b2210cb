// The S3 folder of a restore's disk pages, removed when the restore's disks
// were written to S3 rather than to volumes.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

namespace {
const char kDontDeleteCloudVHDs[] = "nAmazonDontDeleteCloudVHDs";
}  // namespace

bool CAmazonInfo::GetKeyFromS3Path(const std::string& path, std::string& bucket, std::string& key,
                                   std::string& parentFolder) {
    const size_t slash = path.find('/');
    if (slash == std::string::npos || slash == 0) return false;
    const std::string objectKey = path.substr(slash + 1);
    // A key straight in the bucket (or under a bare "/") has no folder of
    // its own: its parent would be the whole bucket.
    const size_t last = objectKey.rfind('/');
    if (last == std::string::npos || last == 0) return false;
    bucket = path.substr(0, slash);
    key = objectKey;
    parentFolder = objectKey.substr(0, last);
    EvDebug::Debug(__PRETTY_FUNCTION__, "S3 path : [%s] => bucket : [%s] key : [%s] parent folder : [%s]",
                   path.c_str(), bucket.c_str(), key.c_str(), parentFolder.c_str());
    return true;
}

// Every disk's pages share one folder, so the first disk with a path names
// it and the later disks are not looked at.
bool CAmazonInfo::DeleteCloudVHDPages(const std::vector<SDisk>& disks, const std::string& region,
                                      const std::string&) {
    const char* const fn = __PRETTY_FUNCTION__;
    bool keep = false;
    if (KDPlatformInfo().getBoolean("VirtualServer", kDontDeleteCloudVHDs, keep) && keep) {
        EvDebug::Debug(fn, "Not deleting the VHD pages as additional setting [%s] is set to [%s]",
                       kDontDeleteCloudVHDs, "True");
        return true;
    }
    const SDisk* paged = nullptr;
    for (const auto& disk : disks) {
        if (disk.diskType != 1 || disk.filtered) continue;
        if (!disk.newVolumeId.empty()) {
            paged = &disk;
            break;
        }
        EvDebug::Debug(fn, "S3 disk path is empty for disk [%s]. Skipping it.", disk.name.c_str());
    }
    if (!paged) return true;
    std::string bucket, key, folder;
    if (!GetKeyFromS3Path(paged->newVolumeId, bucket, key, folder)) {
        EvDebug::Error(fn, " [%s] not a valid S3 path.", paged->newVolumeId.c_str());
        return false;
    }
    CAmazonSDKBridge& admin = *m_pAdminBridge;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(admin, [&] { return admin.DeleteFolder(bucket, region, folder, true); },
                                       error)) {
        EvDebug::Error(fn, "Failed to delete folder [%s]", folder.c_str());
        EvDebug::Error(fn, "%s", error.c_str());
        return false;
    }
    EvDebug::Debug(fn, "Successfully deleted folder [%s]", folder.c_str());
    return true;
}
