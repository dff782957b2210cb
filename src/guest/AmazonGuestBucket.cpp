// The S3 bucket and staging folders that carry guest files and command
// output.
#include <sys/syscall.h>
#include <unistd.h>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"

using namespace AmazonGuest;

bool CAmazonInfo::InitAgentlessRestoreS3Bucket() {
    bool ok = InitAgentlessRestoreRegistryS3Bucket() || InitAgentlessRestoreDefaultS3Bucket();
    GenerateS3FolderNameForGuestFileRestore(m_guest.stagingFolder);
    return ok;
}

bool CAmazonInfo::InitAgentlessRestoreRegistryS3Bucket() {
    const char* const fn = __PRETTY_FUNCTION__;
    KDPlatformInfo settings;
    settings.setFocus(KDPI_Focus::getFocus());
    std::string bucket;
    settings.getString("VirtualServer", kBucketSetting, bucket);
    if (bucket.empty()) return false;
    std::string location;
    if (!m_pAdminBridge->GetBucketLocation(bucket, location)) {
        EvDebug::Error(fn, "Bucket [%s] doesn't exist", bucket.c_str());
        return false;
    }
    m_guest.bucket = bucket;
    m_guest.bucketRegion = location;
    return true;
}

bool CAmazonInfo::InitAgentlessRestoreDefaultS3Bucket() {
    const char* const fn = __PRETTY_FUNCTION__;
    std::string accountId;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(*m_pAdminBridge, [&] { return m_pAdminBridge->GetAccountId(accountId); },
                                       error)) {
        EvDebug::Error(fn, "Failed to get account id [%s]. Please provide a bucket name using regKey : [%s]",
                       error.c_str(), kBucketSetting);
        return false;
    }
    const std::string name = std::string(kDefaultBucketPrefix) + "-" + accountId;
    std::string location;
    if (m_pAdminBridge->GetBucketLocation(name, location)) {
        EvDebug::Error(fn, "Bucket [%s] already exists", name.c_str());
        // Bucket names are global and this one is predictable: a bucket of
        // that name that another account owns (and shared to us) would
        // receive every restored file and could hand the guest other ones.
        std::string owner, ours;
        if (!m_pAdminBridge->GetBucketOwner(name, owner) || !m_pAdminBridge->GetCanonicalId(ours) || owner != ours) {
            EvDebug::Error(fn, "Bucket [%s] is not owned by this account. Please provide a bucket name using regKey : [%s]",
                           name.c_str(), kBucketSetting);
            return false;
        }
        m_guest.bucket = name;
        m_guest.bucketRegion = location;
        return true;
    }
    if (!AmazonCommon::QuietBridgeCall(*m_pAdminBridge, [&] { return m_pAdminBridge->CreateBucket(name, m_guest.ssmRegion); },
                                       error)) {
        EvDebug::Error(fn, "Failed to create bucket [%s] in region [%s]. Please provide a bucket name using regKey : [%s]",
                       name.c_str(), m_guest.ssmRegion.c_str(), kBucketSetting);
        EvDebug::Error(fn, "%s", error.c_str());
        return false;
    }
    EvDebug::Debug(fn, "Bucket [%s] created successfully in region [%s]", name.c_str(), m_guest.ssmRegion.c_str());
    m_guest.bucket = name;
    m_guest.bucketRegion = m_guest.ssmRegion;
    return true;
}

void CAmazonInfo::GenerateS3FolderNameForGuestFileRestore(std::string& folder) {
    folder = std::string(kStagingPrefix) + std::to_string(m_jobId) + "_" + std::to_string(getpid()) + "_" +
             std::to_string(static_cast<long>(syscall(SYS_gettid)));
}

bool CAmazonInfo::CleanUpGuestFolderOnS3(const std::string& bucketRegion, const std::string& bucket,
                                         const std::string& folder) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (AmazonCommon::BridgeCall(*m_pAdminBridge, fn,
                                 [&] { return m_pAdminBridge->DeleteFolder(bucket, bucketRegion, folder, true); },
                                 "Ignoring soft error. Deletion of S3 folder [%s] failed : [%s]", folder.c_str())) {
        EvDebug::DebugLvl(fn, 2, "Deleted s3 folder [%s]", folder.c_str());
        ReleaseGuestStaging(bucket, folder);
    }
    return true;
}
