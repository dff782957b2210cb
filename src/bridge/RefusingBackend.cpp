// Every operation of a backend that does not offer it: the failure the
// contract gives, with the refusal text of the backend.
#include "bridge/RefusingBackend.h"

namespace bridgeimpl {

bool RefusingBackend::GetAccountId(std::string&) { return Refuse("GetAccountId"); }
bool RefusingBackend::GetCanonicalId(std::string&) { return Refuse("GetCanonicalId"); }
bool RefusingBackend::GetAwsArnPartition(std::string&) { return Refuse("GetAwsArnPartition"); }
bool RefusingBackend::GetLocalInstanceId(std::string&) { return Refuse("GetLocalInstanceId"); }
bool RefusingBackend::GetLocalInstanceRegion(std::string&) { return Refuse("GetLocalInstanceRegion"); }

bool RefusingBackend::GetOutpostsAccountARN(const std::string&, const std::string&, std::string&) {
    return Refuse("GetOutpostsAccountARN");
}

int RefusingBackend::RefreshDCInfoList(ULONGLONG, int) {
    Refuse("RefreshDCInfoList");
    return -1;
}

void RefusingBackend::GetDCInfoList(std::vector<VMInfoStructs::SDataCenterInfo>& regions) {
    regions.clear();
    Refuse("GetDCInfoList");
}

int RefusingBackend::RefreshHostInfoList(ULONGLONG, int) {
    Refuse("RefreshHostInfoList");
    return -1;
}

void RefusingBackend::GetHostInfoList(std::vector<VMInfoStructs::SHostInfo>& zones) {
    zones.clear();
    Refuse("GetHostInfoList");
}

int RefusingBackend::GetVMInfoForVM(const std::string&, const std::string&, const std::string&, const std::string&,
        ULONGLONG, int, VMInfoStructs::SVMInfo&) {
    Refuse("GetVMInfoForVM");
    return 0;
}

int RefusingBackend::GetHostInfoForHost(const std::string&, ULONGLONG, int, VMInfoStructs::SHostInfo&) {
    Refuse("GetHostInfoForHost");
    return 0;
}

int RefusingBackend::GetDCInfoForDC(const std::string&, ULONGLONG, int, VMInfoStructs::SDataCenterInfo&) {
    Refuse("GetDCInfoForDC");
    return 0;
}

int RefusingBackend::GetInventoryInfoListForTag(const std::string&, const std::string&, const std::string&, ULONGLONG,
        int, std::vector<VMInfoStructs::SInventoryInfo>&) {
    Refuse("GetInventoryInfoListForTag");
    return 0;
}

int RefusingBackend::GetVMInfoListForTag(const std::string&, const std::string&, const std::string&, ULONGLONG, int,
        std::vector<VMInfoStructs::SVMInfo>&) {
    Refuse("GetVMInfoListForTag");
    return 0;
}

int RefusingBackend::GetVMInfoListForInstanceType(const std::string&, const std::string&, ULONGLONG, int,
        std::vector<VMInfoStructs::SVMInfo>&) {
    Refuse("GetVMInfoListForInstanceType");
    return 0;
}

int RefusingBackend::GetInstanceTypeInfoListForRegion(const std::string&, ULONGLONG, int,
        std::vector<VMInfoStructs::SInventoryInfo>&, bool) {
    Refuse("GetInstanceTypeInfoListForRegion");
    return 0;
}

int RefusingBackend::RefreshVMInfoList(ULONGLONG, int) {
    Refuse("RefreshVMInfoList");
    return -1;
}

void RefusingBackend::GetVMInfoList(std::vector<VMInfoStructs::SVMInfo>& vms) {
    vms.clear();
    Refuse("GetVMInfoList");
}

int RefusingBackend::GetAllInstanceTypeList(const std::string&, std::vector<VMInfoStructs::SVMSizeInfo>&) {
    Refuse("GetAllInstanceTypeList");
    return 0;
}

bool RefusingBackend::GenerateAssumeRoleSessionCredentials(const std::string&, std::string&, std::string&,
        std::string&) {
    return Refuse("GenerateAssumeRoleSessionCredentials");
}

int RefusingBackend::GetRoleInfoList(std::vector<VMInfoStructs::SRoleInfo>&) {
    Refuse("GetRoleInfoList");
    return 0;
}

bool RefusingBackend::GetFilteredAmis(const std::string&, const std::string&, const std::string&,
        std::vector<VMInfoStructs::SImageInfo>&) {
    return Refuse("GetFilteredAmis");
}

bool RefusingBackend::GetVolumeEncryptionKeyList(const std::string&,
        std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>&) {
    return Refuse("GetVolumeEncryptionKeyList");
}

int RefusingBackend::DoesVMExist(const std::string&, const std::string&, const std::string&, bool&,
        std::vector<VMInfoStructs::SVMInfo>&) {
    Refuse("DoesVMExist");
    return 0;
}

bool RefusingBackend::PowerOnVM(const std::string&, const std::string&, const std::string&) {
    return Refuse("PowerOnVM");
}

bool RefusingBackend::PowerOffVM(const std::string&, const std::string&, const std::string&) {
    return Refuse("PowerOffVM");
}

bool RefusingBackend::RebootVM(const std::string&, const std::string&, const std::string&) {
    return Refuse("RebootVM");
}

bool RefusingBackend::CreateVirtualMachine(VMInfoStructs::SVMInfo&, std::string&, bool) {
    return Refuse("CreateVirtualMachine");
}
bool RefusingBackend::EditVirtualMachine(VMInfoStructs::SVMInfo&, std::string&) { return Refuse("EditVirtualMachine"); }

bool RefusingBackend::DeleteVM(const std::string&, const std::string&, const std::string&, bool, bool) {
    return Refuse("DeleteVM");
}

bool RefusingBackend::GetPassword(const std::string&, const std::string&, const std::string&, std::string&) {
    return Refuse("GetPassword");
}
bool RefusingBackend::LogConsoleOutput(const std::string&) { return Refuse("LogConsoleOutput"); }

bool RefusingBackend::SaveInstanceScreenshot(const std::string&, const std::string&) {
    return Refuse("SaveInstanceScreenshot");
}

bool RefusingBackend::IsInstanceValidationtaskCompleted(const std::string&, bool& succeeded) {
    // A failed call counts as done without success.
    succeeded = false;
    Refuse("IsInstanceValidationtaskCompleted");
    return true;
}
bool RefusingBackend::ModifyNetworkInterface(const std::string&, bool) { return Refuse("ModifyNetworkInterface"); }
bool RefusingBackend::DeleteNetworkInterface(const std::string&) { return Refuse("DeleteNetworkInterface"); }

bool RefusingBackend::CreateIsolatedSubnet(const std::string&, const std::string&, std::string&, std::string&,
        const std::string&) {
    return Refuse("CreateIsolatedSubnet");
}
bool RefusingBackend::DeleteIsolatedSubnet(const std::string&) { return Refuse("DeleteIsolatedSubnet"); }
bool RefusingBackend::CreateVolume(VMInfoStructs::SDisk&, bool, const std::string&) { return Refuse("CreateVolume"); }

bool RefusingBackend::CreateVolume(const std::string&, const std::string&, const std::string&, const std::string&, int,
        long long, bool, const std::string&, std::string&, const std::map<std::string, std::string>&, bool,
        const std::string&) {
    return Refuse("CreateVolume");
}

bool RefusingBackend::AttachVolume(const std::string&, const std::string&, const std::string&, bool,
        const std::string&, bool&, bool) {
    return Refuse("AttachVolume");
}

bool RefusingBackend::AttachAsOSVolume(const std::string&, const std::string&, const std::string&, bool,
        const std::string&, bool&, bool) {
    return Refuse("AttachAsOSVolume");
}
bool RefusingBackend::DetachVolume(const std::string&, bool, bool) { return Refuse("DetachVolume"); }
bool RefusingBackend::DeleteVolume(const std::string&, bool) { return Refuse("DeleteVolume"); }

bool RefusingBackend::ModifyVolume(const std::string&, const std::string&, const std::string&, int) {
    return Refuse("ModifyVolume");
}

bool RefusingBackend::GetVolumeInfo(const std::string&, const std::string&, VMInfoStructs::SDisk&, bool&) {
    return Refuse("GetVolumeInfo");
}

bool RefusingBackend::GetVolumeModifyTaskInfo(const std::string&, const std::string&, std::string&) {
    return Refuse("GetVolumeModifyTaskInfo");
}
bool RefusingBackend::DeleteExpiredVolumes(const std::string&, long long) { return Refuse("DeleteExpiredVolumes"); }

bool RefusingBackend::CreateSnapshot(const std::string&, const std::string&, const std::string&, std::string&, bool) {
    return Refuse("CreateSnapshot");
}
bool RefusingBackend::DeleteSnapshot(const std::string&, const std::string&) { return Refuse("DeleteSnapshot"); }

bool RefusingBackend::GetSnapshotInfo(const std::string&, const std::string&, VMInfoStructs::SChildDisk&) {
    return Refuse("GetSnapshotInfo");
}

bool RefusingBackend::CreateAMISnapshot(const std::string&, const std::string&, const std::string&, const std::string&,
        const std::string&, std::vector<std::string>&, std::string&) {
    return Refuse("CreateAMISnapshot");
}

bool RefusingBackend::IsAMITaskCompleted(const std::string&, bool& succeeded) {
    // A failed call counts as done without success.
    succeeded = false;
    Refuse("IsAMITaskCompleted");
    return true;
}
bool RefusingBackend::CancelAMITask(const std::string&) { return Refuse("CancelAMITask"); }

bool RefusingBackend::TagEBSSnapshotsForAMI(const std::string&, const std::string&, const std::string&) {
    return Refuse("TagEBSSnapshotsForAMI");
}
bool RefusingBackend::DeleteAMISnapshot(const std::string&, bool) { return Refuse("DeleteAMISnapshot"); }

bool RefusingBackend::DeleteExpiredAMISnapshot(const std::string&, bool, long long) {
    return Refuse("DeleteExpiredAMISnapshot");
}

bool RefusingBackend::GetAMIListForTags(const std::map<std::string, std::string>&, std::vector<std::string>&) {
    return Refuse("GetAMIListForTags");
}

bool RefusingBackend::RestoreVirtualMachine(VMInfoStructs::SVMInfo&, bool, const std::map<std::string, std::string>&,
        bool) {
    return Refuse("RestoreVirtualMachine");
}
bool RefusingBackend::ShareSnapshot(const std::string&, const std::string&) { return Refuse("ShareSnapshot"); }
bool RefusingBackend::UnshareSnapshot(const std::string&, const std::string&) { return Refuse("UnshareSnapshot"); }

bool RefusingBackend::CreateEncryptionKey(const std::string&, const std::string&, std::string&) { return Refuse("CreateEncryptionKey"); }
bool RefusingBackend::CreateEncryptionKeyGrant(const std::string&, const std::string&, const std::string&) { return Refuse("CreateEncryptionKeyGrant"); }
bool RefusingBackend::ListEncryptionKeyGrantees(const std::string&, const std::string&, std::vector<std::string>&) { return Refuse("ListEncryptionKeyGrantees"); }
bool RefusingBackend::IsDefaultEncryptKey(const std::string&, const std::string&) { return Refuse("IsDefaultEncryptKey"); }
bool RefusingBackend::IsVolumeDefaultEncrypted(const std::string&, const std::string&) { return Refuse("IsVolumeDefaultEncrypted"); }
bool RefusingBackend::CopySnapshot(const std::string&, const std::string&, const std::string&, bool, const std::string&, std::string&) { return Refuse("CopySnapshot"); }

bool RefusingBackend::DescribeEncryptionKey(const std::string&, const std::string&, std::string&, bool&, std::string&,
        std::string*) {
    return Refuse("DescribeEncryptionKey");
}

bool RefusingBackend::GetOutpostAccountARNForSubnet(const std::string&, const std::string&, std::string&) {
    return Refuse("GetOutpostAccountARNForSubnet");
}

bool RefusingBackend::SetTag(const std::string&, const std::string&, const std::string&, bool) {
    return Refuse("SetTag");
}
bool RefusingBackend::GetTag(const std::string&, const std::string&, std::string&) { return Refuse("GetTag"); }

bool RefusingBackend::DeleteTag(const std::string&, const std::string&, const std::string&, bool) {
    return Refuse("DeleteTag");
}

bool RefusingBackend::GetTagList(const std::string&, std::map<std::string, std::string>&) {
    return Refuse("GetTagList");
}

bool RefusingBackend::DeleteFolder(const std::string&, const std::string&, const std::string&, bool) {
    return Refuse("DeleteFolder");
}
bool RefusingBackend::GetBucketLocation(const std::string&, std::string&) { return Refuse("GetBucketLocation"); }
bool RefusingBackend::GetBucketOwner(const std::string&, std::string&) { return Refuse("GetBucketOwner"); }
bool RefusingBackend::CreateBucket(const std::string&, const std::string&) { return Refuse("CreateBucket"); }

bool RefusingBackend::ShareBucket(const std::string&, const std::string&, const std::string&) {
    return Refuse("ShareBucket");
}

bool RefusingBackend::UploadFileToS3(const std::string&, const std::string&, const std::string&, const std::string&) {
    return Refuse("UploadFileToS3");
}

bool RefusingBackend::DoesS3FileExist(const std::string&, const std::string&, const std::string&, bool&) {
    return Refuse("DoesS3FileExist");
}

int RefusingBackend::RunScriptOnGuest(const std::string&, const std::string&, const std::string&, const std::string&,
        const std::string&, const std::string&, std::string&, std::string&, bool) {
    Refuse("RunScriptOnGuest");
    return 0;
}

int RefusingBackend::isCommandComplete(const std::string&, const std::string&, std::string&, bool&) {
    Refuse("isCommandComplete");
    return 0;
}

bool RefusingBackend::CancelCommand(const std::string&, const std::string&, std::string&) {
    return Refuse("CancelCommand");
}

bool RefusingBackend::GetRunCommandResult(const std::string&, const std::string&, const std::string&,
        const std::string&, const std::string&, std::string&, std::string&) {
    return Refuse("GetRunCommandResult");
}

int RefusingBackend::DownloadS3FileOnGuest(const std::string&, const std::string&, const std::string&,
        const std::string&, const std::string&, const std::string&, bool, std::string&) {
    Refuse("DownloadS3FileOnGuest");
    return 0;
}

bool RefusingBackend::ReadFromSnapshot(const std::string&, const std::string&, long long, long long, unsigned char*) {
    return Refuse("ReadFromSnapshot");
}

bool RefusingBackend::GetDirectSnapshotAccessInfo(const std::string&, const std::string&, int&,
        std::vector<CAmazonSDKBridge::SAwsEbsBlockInfo>&) {
    return Refuse("GetDirectSnapshotAccessInfo");
}

bool RefusingBackend::GetAllocatedBlockList(const std::string&, const std::string&, VMInfoStructs::SDiskChangeInfo&,
        int&, long long&) {
    return Refuse("GetAllocatedBlockList");
}

bool RefusingBackend::GetChangedBlockList(const std::string&, const std::string&, const std::string&,
        VMInfoStructs::SDiskChangeInfo&, int&, long long&) {
    return Refuse("GetChangedBlockList");
}

bool RefusingBackend::GetAllocatedBlockPage(const std::string&, const std::string&, int,
        VMInfoStructs::SDiskChangeInfo&, int&) {
    return Refuse("GetAllocatedBlockPage");
}

bool RefusingBackend::GetChangedBlockPage(const std::string&, const std::string&, const std::string&, int,
        VMInfoStructs::SDiskChangeInfo&, int&) {
    return Refuse("GetChangedBlockPage");
}

bool RefusingBackend::FillSnapshotAccessInfo(const std::string&, const std::string&) {
    return Refuse("FillSnapshotAccessInfo");
}
bool RefusingBackend::ClearSnapshotAccessInfo(const std::string&) { return Refuse("ClearSnapshotAccessInfo"); }
bool RefusingBackend::CheckPermissions(const std::vector<std::string>&, bool&) { return Refuse("CheckPermissions"); }

bool RefusingBackend::IsMarketPlaceVolume(const std::string&, const std::string&) {
    return Refuse("IsMarketPlaceVolume");
}

bool RefusingBackend::GetDiskMetadata(const std::string&, const std::string&,
        std::vector<VMInfoStructs::SDiskMetadataInfo>&) {
    return Refuse("GetDiskMetadata");
}

std::string RefusingBackend::GetRegionFromZone(const std::string&) {
    Refuse("GetRegionFromZone");
    return {};
}
}  // namespace bridgeimpl
