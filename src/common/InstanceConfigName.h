#pragma once
// The name of the instance configuration file: a backup writes it beside the
// disks as "<instance id>_InstanceConfig.xml" and a restore looks for that
// name, without regard to letter case, in the folder the backup came back to.
#include <strings.h>

#include <string>

namespace AmazonCommon {

constexpr char kInstanceConfigSuffix[] = "_InstanceConfig.xml";

inline std::string InstanceConfigFileName(const std::string& instanceId) {
    return instanceId + kInstanceConfigSuffix;
}

// Whether a file name is the configuration file of the instance.
inline bool IsInstanceConfigFileOf(const std::string& fileName, const std::string& instanceId) {
    return !instanceId.empty() && strcasecmp(fileName.c_str(), InstanceConfigFileName(instanceId).c_str()) == 0;
}

}  // namespace AmazonCommon
