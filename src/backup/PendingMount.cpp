// Not built yet: each operation here reports "not supported" until its real
// implementation replaces it.
#include "factory/AmazonInfo.h"

int CAmazonInfo::MountVM(MountCtx& ctx) {
    return CVMInfo::MountVM(ctx);
}

int CAmazonInfo::UnmountVM(MountCtx& ctx) {
    return CVMInfo::UnmountVM(ctx);
}

int CAmazonInfo::GetFileMountInfo(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFile>& files) {
    return CVMInfo::GetFileMountInfo(ctx, files);
}

int CAmazonInfo::GetFullMountInfo(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFull>& items) {
    return CVMInfo::GetFullMountInfo(ctx, items);
}

int CAmazonInfo::CollectMetadata(MountCtx& ctx) {
    return CVMInfo::CollectMetadata(ctx);
}

int CAmazonInfo::PostBackupVM(MountCtx& ctx) {
    return CVMInfo::PostBackupVM(ctx);
}

bool CAmazonInfo::IsDiskFilteredByPattern(const SDisk& disk, const std::string& pattern) {
    return CVMInfo::IsDiskFilteredByPattern(disk, pattern);
}

bool CAmazonInfo::IsDiskFilteredByVirtualDeviceNode(const SDisk& disk, const std::string& node) {
    return CVMInfo::IsDiskFilteredByVirtualDeviceNode(disk, node);
}

bool CAmazonInfo::IsDiskFilteredByType(const SDisk& disk, int type) {
    return CVMInfo::IsDiskFilteredByType(disk, type);
}

bool CAmazonInfo::IsDiskFilteredByTag(const SDisk& disk, const std::string& tagName, const std::string& tagValue) {
    return CVMInfo::IsDiskFilteredByTag(disk, tagName, tagValue);
}

int CAmazonInfo::_MountVM(MountCtx&) {
    return NotSupported(__func__);
}

int CAmazonInfo::PreMount(MountCtx&) {
    return NotSupported(__func__);
}

int CAmazonInfo::PostMount(MountCtx&) {
    return NotSupported(__func__);
}

bool CAmazonInfo::_InitVMInfoForBackup(const std::string&, const std::string&, const std::string&, bool, SVMInfo&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::_InitProxyInfoForBackup(const MountCtx&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::SelectMountMode(MountCtx&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::IsHotaddMountFeasible(MountCtx&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::IsDirectReadMountFeasible(MountCtx&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::CheckDirectReadPermissions() {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::CheckEbsVpcEndpointConfiguration(const std::string&, std::vector<SFailure>&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::IsBackupFeasible(const SVMInfo&, MountCtx&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::CheckCrossAccountBackup(const MountCtx&) {
    return NotSupported(__func__) != 0;
}

int CAmazonInfo::_UnMountVM(MountCtx&) {
    return NotSupported(__func__);
}

int CAmazonInfo::_UnMountVMStreaming(MountCtx&) {
    return NotSupported(__func__);
}

bool CAmazonInfo::SaveVMConfigFile(const std::string&, const SVMInfo&) {
    return NotSupported(__func__) != 0;
}

int CAmazonInfo::DeleteVMConfigFile(const MountCtx&) {
    return NotSupported(__func__);
}

int CAmazonInfo::GetFullMountInfoDisks(const MountCtx&, std::vector<VMInfoStructs::SMountInfoFull>&) {
    return NotSupported(__func__);
}

int CAmazonInfo::GetFullMountInfoConfigFiles(const MountCtx&, std::vector<VMInfoStructs::SMountInfoFull>&) {
    return NotSupported(__func__);
}
