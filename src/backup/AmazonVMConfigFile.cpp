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

// Jobs of one instance share its mount path, so each job run writes in a
// folder of its own there and removes only that one (and those of runs that
// are over).
std::string CAmazonInfo::JobMountFolder(const MountCtx& ctx) const {
    const std::string run = m_cleaner.JobRunName();
    if (ctx.mountPath.empty() || run.empty()) return ctx.mountPath;
    return FwFile::JoinPath(ctx.mountPath, run);
}

void CAmazonInfo::RemoveEndedJobFolders(const std::string& mountPath) {
    std::vector<std::string> names;
    if (mountPath.empty() || !FwFile::ListDir(mountPath, names)) return;
    for (const auto& name : names) {
        const std::string key = VMCleaner::JobKeyOfName(name);
        const std::string folder = FwFile::JoinPath(mountPath, name);
        if (key.empty() || !FwFile::IsDirectory(folder) || m_cleaner.IsJobKeyRunning(key)) continue;
        if (!FwFile::RemoveTree(folder)) EvDebug::Error(__PRETTY_FUNCTION__, "Failed to remove [%s]", folder.c_str());
    }
}

int CAmazonInfo::DeleteVMConfigFile(const MountCtx& ctx) {
    // Without both parts the name would point outside the job's folder.
    if (ctx.mountPath.empty() || ctx.effectiveVMGuid.empty()) return 1;
    const std::string folder = JobMountFolder(ctx);
    const std::string path = VMConfigFilePath(folder, ctx.effectiveVMGuid);
    if (path.empty()) return 1;
    if (FwFile::Exists(path) && !FwFile::RemoveFile(path))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete config file [%s]", path.c_str());
    if (folder != ctx.mountPath) FwFile::RemoveTree(folder);
    return 1;
}
