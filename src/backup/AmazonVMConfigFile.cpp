// The instance configuration file that goes into every streaming backup.
#include "backup/MountModes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/VMConfigFile.h"

using AmazonMount::VMConfigFilePath;

bool CAmazonInfo::SaveVMConfigFile(const std::string& folder, const SVMInfo& vm) {
    const std::string path = VMConfigFilePath(folder, vm.guid);
    if (path.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Instance id [%s] cannot name a configuration file", vm.guid.c_str());
        return false;
    }
    std::map<std::string, std::string> tags;
    if (!GetTagsInRegion(vm.guid, vm.region, tags)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get tags for instance [%s]", vm.name.c_str());
        return false;
    }
    VMConfigFile document;
    document.SetTags(tags);
    if (!_PrepareMountPathDirectory(folder, 0) || !document.Save(path, vm)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to save config file");
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Saved config file [%s]", path.c_str());
    return true;
}

int CAmazonInfo::DeleteVMConfigFile(const MountCtx& ctx) {
    // Without both parts the name would point outside the job's folder.
    if (ctx.mountPath.empty() || ctx.effectiveVMGuid.empty()) return 1;
    const std::string path = VMConfigFilePath(ctx.mountPath, ctx.effectiveVMGuid);
    if (path.empty()) return 1;
    if (FwFile::Exists(path) && !FwFile::RemoveFile(path))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete config file [%s]", path.c_str());
    return 1;
}
