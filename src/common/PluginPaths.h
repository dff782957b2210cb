#pragma once
// Folders the plug-in keeps on the proxy, under the agent's base folder.
#include <string>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/KDPlatformInfo.h"

namespace AmazonCommon {

// "<base>/Amazon/": the AWS components the proxy keeps (the EBS VPC endpoint
// check's files among them). The base is Base/dBASEHOME when set.
inline std::string ProxyAWSComponentsFolder() {
    std::string base;
    KDPlatformInfo settings;
    if (!settings.getString("Base", "dBASEHOME", base)) base = KDPI_Base::getBaseDir();
    return FwFile::JoinPath(base, "Amazon") + FwFile::kPathDelimiter;
}

}  // namespace AmazonCommon
