// Per-instance files on the proxy: the temporary folder and console
// screenshots kept there.
#include <cerrno>
#include <cstring>

#include "bridge/AmazonSDKBridge.h"
#include "common/OperationGuard.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "tasks/AmazonTaskUtils.h"

namespace {

// An instance id becomes a folder name; one that could climb out of the
// temporary folder or name it is refused.
bool UsableAsFolderName(const std::string& id) {
    return id != "." && id != ".." && id.find('/') == std::string::npos && id.find('\0') == std::string::npos;
}

}  // namespace

void CAmazonTaskUtils::SaveInstanceScreenshot(const std::string& instanceId, const std::string& folder) {
    const char* const fn = __PRETTY_FUNCTION__;
    AmazonGuard::Guarded(fn, "Failed to save screenshot", false, [&] {
        if (instanceId.empty()) {
            EvDebug::Error(fn, "Instance ID is empty");
            return false;
        }
        if (!FwFile::IsDirectory(folder)) {
            EvDebug::Error(fn, "Folder [%s] does not exist", folder.c_str());
            return false;
        }
        const std::string file = FwFile::JoinPath(folder, std::to_string(FwClock::NowSec()) + ".jpg");
        CAmazonSDKBridge* bridge = GetAmazonSDKBridge();
        if (!bridge || !bridge->SaveInstanceScreenshot(instanceId, file)) {
            EvDebug::Error(fn, "Failed to save screenshot of instance [%s]. Error [%s]", instanceId.c_str(),
                           BridgeError().c_str());
            return false;
        }
        EvDebug::DebugLvl(fn, 3, "Saved to: [%s]", file.c_str());
        return true;
    });
}

bool CAmazonTaskUtils::GetTempDirectoryForInstance(const std::string& instanceId, std::string& path) {
    path.clear();
    const char* const fn = __PRETTY_FUNCTION__;
    return AmazonGuard::Guarded(fn, "Cannot get temp directory", false, [&] {
        if (instanceId.empty()) {
            EvDebug::Error(fn, "Instance ID is empty");
            return false;
        }
        if (!UsableAsFolderName(instanceId)) {
            EvDebug::Error(fn, "Instance ID [%s] is not usable as a folder name",
                           instanceId.c_str());
            return false;
        }
        const std::string temp = KDPI_Base::getTempDir();
        if (temp.empty()) {
            EvDebug::Error(fn, "Cannot get temp directory path");
            return false;
        }
        const std::string dir = FwFile::JoinPath(temp, instanceId);
        if (!FwFile::IsDirectory(dir) && !FwFile::MakeDirs(dir)) {
            EvDebug::Error(fn, "Failed to create folder: [%s], error: [%s]", dir.c_str(),
                           std::strerror(errno));
            return false;
        }
        path = dir;
        return true;
    });
}
