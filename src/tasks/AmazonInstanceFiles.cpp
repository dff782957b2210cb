// Per-instance files on the proxy: the temporary folder and console
// screenshots kept there.
#include <cerrno>
#include <cstring>
#include <exception>

#include "bridge/AmazonSDKBridge.h"
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
    try {
        if (instanceId.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Instance ID is empty");
            return;
        }
        if (!FwFile::IsDirectory(folder)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Folder [%s] does not exist", folder.c_str());
            return;
        }
        const std::string file = FwFile::JoinPath(folder, std::to_string(FwClock::NowSec()) + ".jpg");
        CAmazonSDKBridge* bridge = GetAmazonSDKBridge();
        if (!bridge || !bridge->SaveInstanceScreenshot(instanceId, file)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to save screenshot of instance [%s]. Error [%s]",
                           instanceId.c_str(), BridgeError().c_str());
            return;
        }
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 3, "Saved to: [%s]", file.c_str());
    } catch (const std::exception& e) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to save screenshot: %s", e.what());
    }
}

bool CAmazonTaskUtils::GetTempDirectoryForInstance(const std::string& instanceId, std::string& path) {
    path.clear();
    try {
        if (instanceId.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Instance ID is empty");
            return false;
        }
        if (!UsableAsFolderName(instanceId)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Instance ID [%s] is not usable as a folder name",
                           instanceId.c_str());
            return false;
        }
        const std::string temp = KDPI_Base::getTempDir();
        if (temp.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Cannot get temp directory path");
            return false;
        }
        const std::string dir = FwFile::JoinPath(temp, instanceId);
        if (!FwFile::IsDirectory(dir) && !FwFile::MakeDirs(dir)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to create folder: [%s], error: [%s]", dir.c_str(),
                           std::strerror(errno));
            return false;
        }
        path = dir;
        return true;
    } catch (const std::exception& e) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Cannot get temp directory: %s", e.what());
        return false;
    }
}
