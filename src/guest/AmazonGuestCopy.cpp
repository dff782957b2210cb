// Copying a file into the guest: up to the bucket's staging folder, then a
// run-command on the instance downloads it to the target path.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using namespace AmazonGuest;
using AmazonGuard::Guarded;

namespace {

std::string Format(const char* format, const std::string& a, const std::string& b = {}, const std::string& c = {}) {
    std::vector<char> text(std::string(format).size() + a.size() + b.size() + c.size() + 1);
    std::snprintf(text.data(), text.size(), format, a.c_str(), b.c_str(), c.c_str());
    return text.data();
}

}  // namespace

int CAmazonInfo::CreateGuestFolder(const GuestCtx&, const std::string&) { return 1; }

int CAmazonInfo::CopyFileToGuest(const GuestCtx& ctx, const std::string& source, const std::string& destination,
                                 bool) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        if (m_guest.bucket.empty()) {
            EvDebug::Error(fn, "S3 Bucket name is not set");
            return 0;
        }
        const std::string& instanceId = ctx.vm.guid.empty() ? m_guest.instanceId : ctx.vm.guid;
        bool ok = CopyFileToGuest(m_guest.bucket, m_guest.ssmRegion, instanceId, source, destination,
                                  m_guest.stagingFolder);
        CleanUpGuestFolderOnS3(m_guest.bucketRegion, m_guest.bucket, m_guest.stagingFolder);
        return ok ? 1 : 0;
    });
}

bool CAmazonInfo::CopyFileToGuest(const std::string& bucket, const std::string& region, const std::string& instanceId,
                                  const std::string& source, const std::string& destination,
                                  const std::string& folder) {
    const char* const fn = __PRETTY_FUNCTION__;
    const size_t cut = source.find_last_of("/\\");
    const std::string fileName = cut == std::string::npos ? source : source.substr(cut + 1);
    // A folder path would upload under the staging folder's own key and
    // download nothing the caller meant.
    if (fileName.empty()) {
        HandleGuestFileCopyError(fn, Format("Source path [%s] does not name a file.", source));
        return false;
    }
    const std::string key = folder + "/" + fileName;
    RegisterGuestStaging();
    EvDebug::DebugLvl(fn, 2, "Uploading [%s] to bucket [%s] as key [%s]", source.c_str(), bucket.c_str(), key.c_str());
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pAdminBridge, [&] { return m_pAdminBridge->UploadFileToS3(bucket, m_guest.bucketRegion, key, source); },
            error)) {
        HandleGuestFileCopyError(fn, Format("Upload failed : [%s]", error));
        return false;
    }
    bool exists = false;
    if (!m_pAdminBridge->DoesS3FileExist(bucket, m_guest.bucketRegion, key, exists) || !exists) {
        HandleGuestFileCopyError(fn, Format("Upload of file [%s] to S3 bucket [%s] as [%s] has failed.", source, bucket, key));
        return false;
    }
    EvDebug::DebugLvl(fn, 2, "Downloading S3 file [%s] to path [%s] on Instance [%s]", key.c_str(),
                      destination.c_str(), instanceId.c_str());
    std::string commandId;
    if (!AmazonCommon::QuietBridgeCall(*m_pSourceBridge,
                                       [&] {
                                           return m_pSourceBridge->DownloadS3FileOnGuest(
                                               region, bucket, folder, key, instanceId, destination,
                                               m_guest.nonWindows, commandId);
                                       },
                                       error)) {
        HandleGuestFileCopyError(fn, Format("Failed to submit remote command for downloading [%s] to guest instance [%s] : [%s]",
                                            key, instanceId, error));
        return false;
    }
    RegisterGuestCommand(commandId, region);
    std::string output;
    error.clear();
    if (!VerifyRemoteCmdResult(region, bucket, folder, instanceId, commandId, output, error)) {
        // A cancelled job keeps its own code.
        if (GetLastVMError() == kErrJobCancelled) return false;
        HandleGuestFileCopyError(fn, Format("Unable to confirm transfer of file [%s] from S3 to guest instance [%s]",
                                            source, instanceId));
        return false;
    }
    return true;
}

void CAmazonInfo::HandleGuestFileCopyError(const char* where, const std::string& message) {
    EvDebug::Error(where, "%s", message.c_str());
    SetLastVMError(AmazonErrors::kGuestFileCopy, message);
}
