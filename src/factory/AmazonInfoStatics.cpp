// Process-wide state shared by all plug-in objects; built when the library
// is loaded and destroyed when it is unloaded.
#include "factory/AmazonInfo.h"

std::map<int64_t, std::map<std::string, VMInfoStructs::SVMInfo>> CAmazonInfo::c_InstanceGuidToVMInfoMap;
CriticalSection CAmazonInfo::c_InstanceGuidToVMInfoMapLock;
std::map<int64_t, std::map<std::string, VMInfoStructs::SVMInfo>> CAmazonInfo::c_InstanceInfoMapFromSnapXML;
std::map<std::string, std::string> CAmazonInfo::c_SourceVolumesToMountedVolumes;
std::map<int64_t, std::map<std::string, int>> CAmazonInfo::c_snapVMRestoreProcessedMap;
CriticalSection CAmazonInfo::c_SourceVolumesToMountedVolumesLock;
CriticalSection CAmazonInfo::c_ProxyInfoLock;
CriticalSection CAmazonInfo::c_getTransientMetadataLock;
AmazonSnap::SnapCrossAccountKeys CAmazonInfo::c_snapCrossAccountKeys;
const std::vector<std::string> CAmazonInfo::_kvmInstanceTypes = {
    "c5", "m5", "a1", "r5", "t3", "i3en", "p3dn.24xlarge", "z1d", "u-6tb1", "i3.metal"};
