// Not built yet: each operation here reports "not supported" until its real
// implementation replaces it.
#include "factory/AmazonInfo.h"

int CAmazonInfo::OpenVmdk(const std::string& vmName, const std::string& vmGuid, const std::string& diskId, VmdkHandle& handle) {
    return CVMInfo::OpenVmdk(vmName, vmGuid, diskId, handle);
}

int CAmazonInfo::CreateVmdk(const std::string& vmName, const std::string& vmGuid, const std::string& diskId, ULONGLONG size, VmdkHandle& handle) {
    return CVMInfo::CreateVmdk(vmName, vmGuid, diskId, size, handle);
}

int CAmazonInfo::CloseVmdk(VmdkHandle& handle) {
    return CVMInfo::CloseVmdk(handle);
}

int CAmazonInfo::GetVmdkInfo(const VmdkHandle& handle, SDisk& disk) {
    return CVMInfo::GetVmdkInfo(handle, disk);
}

int CAmazonInfo::GetVmdkMetadata(const VmdkHandle& handle, std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata) {
    return CVMInfo::GetVmdkMetadata(handle, metadata);
}

int CAmazonInfo::ReadVmdk(const VmdkHandle& handle, ULONGLONG startSector, unsigned int sectorCount, void* buffer) {
    return CVMInfo::ReadVmdk(handle, startSector, sectorCount, buffer);
}

int CAmazonInfo::GetVmdkTagList(const VmdkHandle& handle, std::vector<VMInfoStructs::SDiskMetadataInfo>& tags) {
    return CVMInfo::GetVmdkTagList(handle, tags);
}

int CAmazonInfo::SetVmdkTagList(const VmdkHandle& handle, const std::vector<VMInfoStructs::SDiskMetadataInfo>& tags) {
    return CVMInfo::SetVmdkTagList(handle, tags);
}

int CAmazonInfo::GetDiskIdfromHandle(const VmdkHandle&, std::string&) {
    return NotSupported(__func__);
}

int CAmazonInfo::ApplyTags(const std::string&, const std::vector<VMInfoStructs::SDiskMetadataInfo>&) {
    return NotSupported(__func__);
}

int CAmazonInfo::_OpenVmdk(const SVMInfo&, SDisk&, bool) {
    return NotSupported(__func__);
}

bool CAmazonInfo::AttachVolumeToProxy(const std::string&, const SVMInfo&, SDisk&, bool, bool, int) {
    return NotSupported(__func__) != 0;
}

void CAmazonInfo::OptimizeVolumeParams(int, long long&, std::string&, int&, bool) {
    NotSupported(__func__);
}

bool CAmazonInfo::OptimizeAndModifyDisk(SDisk&) {
    return NotSupported(__func__) != 0;
}
