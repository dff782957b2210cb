// Not built yet: each operation here reports "not supported" until its real
// implementation replaces it.
#include "factory/AmazonInfo.h"

int CAmazonInfo::_MountVMStreamingBackup(MountCtx&) {
    return NotSupported(__func__);
}

int CAmazonInfo::CheckSnapshotCount(const std::string&) {
    return NotSupported(__func__);
}

int CAmazonInfo::TakeAMISnapshot(MountCtx&) {
    return NotSupported(__func__);
}

bool CAmazonInfo::GetFilteredVolumes(MountCtx&, std::vector<std::string>&) {
    return NotSupported(__func__) != 0;
}

std::string CAmazonInfo::GetSnapshotName(int) {
    NotSupported(__func__);
    return std::string();
}

std::string CAmazonInfo::GetSnapshotDescription(int) {
    NotSupported(__func__);
    return std::string();
}

std::string CAmazonInfo::GetOstrelJobTypeString(int) { return std::string(); }

bool CAmazonInfo::PrepareSnapshotInfoToBackup(const SVMInfo&, MountCtx&, const std::string&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::_CreateVolumesFromSnapshot(const std::string&, std::vector<SDisk>&, int, bool&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::_RegisterDisks(SVMInfo&, const std::string&) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::AttachVolumesToProxy(const std::string&, SVMInfo&, std::vector<SDisk>&, bool, bool, int) {
    return NotSupported(__func__) != 0;
}

bool CAmazonInfo::AttachVolumesToRemoteProxy(const std::string&, const std::string&, std::vector<SDisk>&, int) {
    return NotSupported(__func__) != 0;
}
