// Operations not offered yet: each is counted against the fault rules and
// refused with "NotImplemented: <op>". Families move out of here as they
// are implemented.
#include "bridge/BridgeImpl.h"

using namespace VMInfoStructs;

int CAmazonSDKBridge::GetVMInfoForVM(const std::string&, const std::string&, const std::string&, const std::string&, ULONGLONG, int, SVMInfo&) {
    m_impl->NotImplemented("GetVMInfoForVM");
    return 0;
}

int CAmazonSDKBridge::GetHostInfoForHost(const std::string&, ULONGLONG, int, SHostInfo&) {
    m_impl->NotImplemented("GetHostInfoForHost");
    return 0;
}

int CAmazonSDKBridge::GetDCInfoForDC(const std::string&, ULONGLONG, int, SDataCenterInfo&) {
    m_impl->NotImplemented("GetDCInfoForDC");
    return 0;
}

int CAmazonSDKBridge::GetInventoryInfoListForTag(const std::string&, const std::string&, const std::string&, ULONGLONG, int, std::vector<SInventoryInfo>&) {
    m_impl->NotImplemented("GetInventoryInfoListForTag");
    return 0;
}

int CAmazonSDKBridge::GetVMInfoListForTag(const std::string&, const std::string&, const std::string&, ULONGLONG, int, std::vector<SVMInfo>&) {
    m_impl->NotImplemented("GetVMInfoListForTag");
    return 0;
}

int CAmazonSDKBridge::GetVMInfoListForInstanceType(const std::string&, const std::string&, ULONGLONG, int, std::vector<SVMInfo>&) {
    m_impl->NotImplemented("GetVMInfoListForInstanceType");
    return 0;
}

int CAmazonSDKBridge::GetInstanceTypeInfoListForRegion(const std::string&, ULONGLONG, int, std::vector<SInventoryInfo>&, bool) {
    m_impl->NotImplemented("GetInstanceTypeInfoListForRegion");
    return 0;
}

int CAmazonSDKBridge::RefreshVMInfoList(ULONGLONG, int) {
    m_impl->NotImplemented("RefreshVMInfoList");
    return -1;
}

void CAmazonSDKBridge::GetVMInfoList(std::vector<SVMInfo>&) {
    m_impl->NotImplemented("GetVMInfoList");
}

int CAmazonSDKBridge::GetAllInstanceTypeList(const std::string&, std::vector<SVMSizeInfo>&) {
    m_impl->NotImplemented("GetAllInstanceTypeList");
    return 0;
}

int CAmazonSDKBridge::GetRoleInfoList(std::vector<SRoleInfo>&) {
    m_impl->NotImplemented("GetRoleInfoList");
    return 0;
}

bool CAmazonSDKBridge::GetFilteredAmis(const std::string&, const std::string&, const std::string&, std::vector<SImageInfo>&) {
    return m_impl->NotImplemented("GetFilteredAmis");
}

bool CAmazonSDKBridge::GetVolumeEncryptionKeyList(const std::string&, std::vector<SVolumeEncryptionKeyInfo>&) {
    return m_impl->NotImplemented("GetVolumeEncryptionKeyList");
}

int CAmazonSDKBridge::DoesVMExist(const std::string&, const std::string&, const std::string&, bool&, std::vector<SVMInfo>&) {
    m_impl->NotImplemented("DoesVMExist");
    return 0;
}

bool CAmazonSDKBridge::PowerOnVM(const std::string&, const std::string&, const std::string&) {
    return m_impl->NotImplemented("PowerOnVM");
}

bool CAmazonSDKBridge::PowerOffVM(const std::string&, const std::string&, const std::string&) {
    return m_impl->NotImplemented("PowerOffVM");
}

bool CAmazonSDKBridge::RebootVM(const std::string&, const std::string&, const std::string&) {
    return m_impl->NotImplemented("RebootVM");
}

bool CAmazonSDKBridge::CreateVirtualMachine(SVMInfo&, std::string&, bool) {
    return m_impl->NotImplemented("CreateVirtualMachine");
}

bool CAmazonSDKBridge::EditVirtualMachine(SVMInfo&, std::string&) {
    return m_impl->NotImplemented("EditVirtualMachine");
}

bool CAmazonSDKBridge::DeleteVM(const std::string&, const std::string&, const std::string&, bool, bool) {
    return m_impl->NotImplemented("DeleteVM");
}

bool CAmazonSDKBridge::GetPassword(const std::string&, const std::string&, const std::string&, std::string&) {
    return m_impl->NotImplemented("GetPassword");
}

bool CAmazonSDKBridge::LogConsoleOutput(const std::string&) {
    return m_impl->NotImplemented("LogConsoleOutput");
}

bool CAmazonSDKBridge::SaveInstanceScreenshot(const std::string&, const std::string&) {
    return m_impl->NotImplemented("SaveInstanceScreenshot");
}

bool CAmazonSDKBridge::IsInstanceValidationtaskCompleted(const std::string&, bool&) {
    return m_impl->NotImplemented("IsInstanceValidationtaskCompleted");
}

bool CAmazonSDKBridge::ModifyNetworkInterface(const std::string&, bool) {
    return m_impl->NotImplemented("ModifyNetworkInterface");
}

bool CAmazonSDKBridge::CreateIsolatedSubnet(const std::string&, const std::string&, std::string&, std::string&, const std::string&) {
    return m_impl->NotImplemented("CreateIsolatedSubnet");
}

bool CAmazonSDKBridge::DeleteIsolatedSubnet(const std::string&) {
    return m_impl->NotImplemented("DeleteIsolatedSubnet");
}

bool CAmazonSDKBridge::CreateVolume(SDisk&, bool, const std::string&) {
    return m_impl->NotImplemented("CreateVolume");
}

bool CAmazonSDKBridge::CreateVolume(const std::string&, const std::string&, const std::string&, const std::string&, int, long long, bool, const std::string&, std::string&, const std::map<std::string, std::string>&, bool, const std::string&) {
    return m_impl->NotImplemented("CreateVolume");
}

bool CAmazonSDKBridge::AttachVolume(const std::string&, const std::string&, const std::string&, bool, const std::string&, bool&, bool) {
    return m_impl->NotImplemented("AttachVolume");
}

bool CAmazonSDKBridge::AttachAsOSVolume(const std::string&, const std::string&, const std::string&, bool, const std::string&, bool&, bool) {
    return m_impl->NotImplemented("AttachAsOSVolume");
}

bool CAmazonSDKBridge::DetachVolume(const std::string&, bool, bool) {
    return m_impl->NotImplemented("DetachVolume");
}

bool CAmazonSDKBridge::DeleteVolume(const std::string&, bool) {
    return m_impl->NotImplemented("DeleteVolume");
}

bool CAmazonSDKBridge::ModifyVolume(const std::string&, const std::string&, const std::string&, int) {
    return m_impl->NotImplemented("ModifyVolume");
}

bool CAmazonSDKBridge::GetVolumeInfo(const std::string&, const std::string&, SDisk&, bool&) {
    return m_impl->NotImplemented("GetVolumeInfo");
}

bool CAmazonSDKBridge::GetVolumeModifyTaskInfo(const std::string&, const std::string&, std::string&) {
    return m_impl->NotImplemented("GetVolumeModifyTaskInfo");
}

bool CAmazonSDKBridge::DeleteExpiredVolumes(const std::string&, long long) {
    return m_impl->NotImplemented("DeleteExpiredVolumes");
}

bool CAmazonSDKBridge::CreateSnapshot(const std::string&, const std::string&, const std::string&, std::string&, bool) {
    return m_impl->NotImplemented("CreateSnapshot");
}

bool CAmazonSDKBridge::DeleteSnapshot(const std::string&, const std::string&) {
    return m_impl->NotImplemented("DeleteSnapshot");
}

bool CAmazonSDKBridge::GetSnapshotInfo(const std::string&, const std::string&, SChildDisk&) {
    return m_impl->NotImplemented("GetSnapshotInfo");
}

bool CAmazonSDKBridge::CreateAMISnapshot(const std::string&, const std::string&, const std::string&, const std::string&, const std::string&, std::vector<std::string>&, std::string&) {
    return m_impl->NotImplemented("CreateAMISnapshot");
}

bool CAmazonSDKBridge::IsAMITaskCompleted(const std::string&, bool&) {
    return m_impl->NotImplemented("IsAMITaskCompleted");
}

bool CAmazonSDKBridge::CancelAMITask(const std::string&) {
    return m_impl->NotImplemented("CancelAMITask");
}

bool CAmazonSDKBridge::TagEBSSnapshotsForAMI(const std::string&, const std::string&, const std::string&) {
    return m_impl->NotImplemented("TagEBSSnapshotsForAMI");
}

bool CAmazonSDKBridge::DeleteAMISnapshot(const std::string&, bool) {
    return m_impl->NotImplemented("DeleteAMISnapshot");
}

bool CAmazonSDKBridge::DeleteExpiredAMISnapshot(const std::string&, bool, long long) {
    return m_impl->NotImplemented("DeleteExpiredAMISnapshot");
}

bool CAmazonSDKBridge::GetAMIListForTags(const std::map<std::string, std::string>&, std::vector<std::string>&) {
    return m_impl->NotImplemented("GetAMIListForTags");
}

bool CAmazonSDKBridge::SetTag(const std::string&, const std::string&, const std::string&, bool) {
    return m_impl->NotImplemented("SetTag");
}

bool CAmazonSDKBridge::GetTag(const std::string&, const std::string&, std::string&) {
    return m_impl->NotImplemented("GetTag");
}

bool CAmazonSDKBridge::DeleteTag(const std::string&, const std::string&, const std::string&, bool) {
    return m_impl->NotImplemented("DeleteTag");
}

bool CAmazonSDKBridge::GetTagList(const std::string&, std::map<std::string, std::string>&) {
    return m_impl->NotImplemented("GetTagList");
}

bool CAmazonSDKBridge::DeleteFolder(const std::string&, const std::string&, const std::string&, bool) {
    return m_impl->NotImplemented("DeleteFolder");
}
