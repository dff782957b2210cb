// CAmazonSDKBridge itself: it picks its backend when made and hands every
// operation to it unchanged.
#include "bridge/AmazonSDKBridge.h"

#include "bridge/BackendChoice.h"

CAmazonSDKBridge::CAmazonSDKBridge() : m_backend(bridgeimpl::MakeBackend()) {}

CAmazonSDKBridge::~CAmazonSDKBridge() = default;

bool CAmazonSDKBridge::initialize(const std::string& focus, const std::string& appName, long long jobId) {
    return m_backend->initialize(focus, appName, jobId);
}
void CAmazonSDKBridge::SetWebProxy(const std::string& host, const std::string& user, const std::string& password,
                                   int flags) {
    m_backend->SetWebProxy(host, user, password, flags);
}
bool CAmazonSDKBridge::Connect(const std::string& url, const std::string& accessKey, const std::string& secretKey) {
    return m_backend->Connect(url, accessKey, secretKey);
}
void CAmazonSDKBridge::Disconnect() { m_backend->Disconnect(); }
void CAmazonSDKBridge::overrideRegion(const std::string& region) { m_backend->overrideRegion(region); }
std::string CAmazonSDKBridge::GetLastErrorString() const { return m_backend->GetLastErrorString(); }
bool CAmazonSDKBridge::GetAccountId(std::string& accountId) { return m_backend->GetAccountId(accountId); }
bool CAmazonSDKBridge::GetCanonicalId(std::string& canonicalId) { return m_backend->GetCanonicalId(canonicalId); }
bool CAmazonSDKBridge::GetAwsArnPartition(std::string& partition) { return m_backend->GetAwsArnPartition(partition); }
std::string CAmazonSDKBridge::GetCurrentRegion() const { return m_backend->GetCurrentRegion(); }
bool CAmazonSDKBridge::GetLocalInstanceId(std::string& instanceId) { return m_backend->GetLocalInstanceId(instanceId); }
bool CAmazonSDKBridge::GetLocalInstanceRegion(std::string& region) { return m_backend->GetLocalInstanceRegion(region); }
bool CAmazonSDKBridge::GetOutpostsAccountARN(const std::string& instanceId, const std::string& region,
                                             std::string& arn) {
    return m_backend->GetOutpostsAccountARN(instanceId, region, arn);
}
int CAmazonSDKBridge::RefreshDCInfoList(ULONGLONG flags, int option) {
    return m_backend->RefreshDCInfoList(flags, option);
}
void CAmazonSDKBridge::GetDCInfoList(std::vector<VMInfoStructs::SDataCenterInfo>& regions) {
    m_backend->GetDCInfoList(regions);
}
int CAmazonSDKBridge::RefreshHostInfoList(ULONGLONG flags, int option) {
    return m_backend->RefreshHostInfoList(flags, option);
}
void CAmazonSDKBridge::GetHostInfoList(std::vector<VMInfoStructs::SHostInfo>& zones) {
    m_backend->GetHostInfoList(zones);
}
int CAmazonSDKBridge::GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
                                     const std::string& region, ULONGLONG flags, int option,
                                     VMInfoStructs::SVMInfo& vm) {
    return m_backend->GetVMInfoForVM(name, guid, host, region, flags, option, vm);
}
int CAmazonSDKBridge::GetHostInfoForHost(const std::string& zone, ULONGLONG flags, int option,
                                         VMInfoStructs::SHostInfo& host) {
    return m_backend->GetHostInfoForHost(zone, flags, option, host);
}
int CAmazonSDKBridge::GetDCInfoForDC(const std::string& region, ULONGLONG flags, int option,
                                     VMInfoStructs::SDataCenterInfo& dc) {
    return m_backend->GetDCInfoForDC(region, flags, option, dc);
}
int CAmazonSDKBridge::GetInventoryInfoListForTag(const std::string& region, const std::string& key,
                                                 const std::string& value, ULONGLONG flags, int option,
                                                 std::vector<VMInfoStructs::SInventoryInfo>& nodes) {
    return m_backend->GetInventoryInfoListForTag(region, key, value, flags, option, nodes);
}
int CAmazonSDKBridge::GetVMInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
                                          ULONGLONG flags, int option, std::vector<VMInfoStructs::SVMInfo>& vms) {
    return m_backend->GetVMInfoListForTag(region, key, value, flags, option, vms);
}
int CAmazonSDKBridge::GetVMInfoListForInstanceType(const std::string& region, const std::string& type, ULONGLONG flags,
                                                   int option, std::vector<VMInfoStructs::SVMInfo>& vms) {
    return m_backend->GetVMInfoListForInstanceType(region, type, flags, option, vms);
}
int CAmazonSDKBridge::GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG flags, int option,
                                                       std::vector<VMInfoStructs::SInventoryInfo>& nodes,
                                                       bool listAll) {
    return m_backend->GetInstanceTypeInfoListForRegion(region, flags, option, nodes, listAll);
}
int CAmazonSDKBridge::RefreshVMInfoList(ULONGLONG flags, int option) {
    return m_backend->RefreshVMInfoList(flags, option);
}
void CAmazonSDKBridge::GetVMInfoList(std::vector<VMInfoStructs::SVMInfo>& vms) { m_backend->GetVMInfoList(vms); }
int CAmazonSDKBridge::GetAllInstanceTypeList(const std::string& region,
                                             std::vector<VMInfoStructs::SVMSizeInfo>& sizes) {
    return m_backend->GetAllInstanceTypeList(region, sizes);
}
bool CAmazonSDKBridge::GenerateAssumeRoleSessionCredentials(const std::string& roleArn, std::string& accessKeyId,
                                                            std::string& secretAccessKey, std::string& sessionToken) {
    return m_backend->GenerateAssumeRoleSessionCredentials(roleArn, accessKeyId, secretAccessKey, sessionToken);
}
int CAmazonSDKBridge::GetRoleInfoList(std::vector<VMInfoStructs::SRoleInfo>& roles) {
    return m_backend->GetRoleInfoList(roles);
}
bool CAmazonSDKBridge::GetFilteredAmis(const std::string& a, const std::string& b, const std::string& c,
                                       std::vector<VMInfoStructs::SImageInfo>& images) {
    return m_backend->GetFilteredAmis(a, b, c, images);
}
bool CAmazonSDKBridge::GetVolumeEncryptionKeyList(const std::string& region,
                                                  std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys) {
    return m_backend->GetVolumeEncryptionKeyList(region, keys);
}
int CAmazonSDKBridge::DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone,
                                  bool& exists, std::vector<VMInfoStructs::SVMInfo>& vms) {
    return m_backend->DoesVMExist(guid, name, zone, exists, vms);
}
bool CAmazonSDKBridge::PowerOnVM(const std::string& name, const std::string& id, const std::string& region) {
    return m_backend->PowerOnVM(name, id, region);
}
bool CAmazonSDKBridge::PowerOffVM(const std::string& name, const std::string& id, const std::string& region) {
    return m_backend->PowerOffVM(name, id, region);
}
bool CAmazonSDKBridge::RebootVM(const std::string& name, const std::string& id, const std::string& region) {
    return m_backend->RebootVM(name, id, region);
}
bool CAmazonSDKBridge::CreateVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out, bool creationFlag) {
    return m_backend->CreateVirtualMachine(vm, out, creationFlag);
}
bool CAmazonSDKBridge::EditVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out) {
    return m_backend->EditVirtualMachine(vm, out);
}
bool CAmazonSDKBridge::DeleteVM(const std::string& name, const std::string& id, const std::string& region,
                                bool deleteVolumes, bool sourceCall) {
    return m_backend->DeleteVM(name, id, region, deleteVolumes, sourceCall);
}
bool CAmazonSDKBridge::GetPassword(const std::string& name, const std::string& id, const std::string& keyName,
                                   std::string& password) {
    return m_backend->GetPassword(name, id, keyName, password);
}
bool CAmazonSDKBridge::LogConsoleOutput(const std::string& instanceId) {
    return m_backend->LogConsoleOutput(instanceId);
}
bool CAmazonSDKBridge::SaveInstanceScreenshot(const std::string& instanceId, const std::string& file) {
    return m_backend->SaveInstanceScreenshot(instanceId, file);
}
bool CAmazonSDKBridge::IsInstanceValidationtaskCompleted(const std::string& instanceId, bool& succeeded) {
    return m_backend->IsInstanceValidationtaskCompleted(instanceId, succeeded);
}
bool CAmazonSDKBridge::ModifyNetworkInterface(const std::string& interfaceId, bool deleteOnTermination) {
    return m_backend->ModifyNetworkInterface(interfaceId, deleteOnTermination);
}
bool CAmazonSDKBridge::DeleteNetworkInterface(const std::string& interfaceId) {
    return m_backend->DeleteNetworkInterface(interfaceId);
}
bool CAmazonSDKBridge::CreateIsolatedSubnet(const std::string& name, const std::string& network, std::string& subnetId,
                                            std::string& cidr, const std::string& option) {
    return m_backend->CreateIsolatedSubnet(name, network, subnetId, cidr, option);
}
bool CAmazonSDKBridge::DeleteIsolatedSubnet(const std::string& subnetId) {
    return m_backend->DeleteIsolatedSubnet(subnetId);
}
bool CAmazonSDKBridge::CreateVolume(VMInfoStructs::SDisk& disk, bool sourceCall, const std::string& option) {
    return m_backend->CreateVolume(disk, sourceCall, option);
}
bool CAmazonSDKBridge::CreateVolume(const std::string& snapshotId, const std::string& zone, const std::string& name,
                                    const std::string& type, int iops, long long size, bool encrypted,
                                    const std::string& kmsKeyId, std::string& volumeId, const std::map<std::string,
                                    std::string>& tags, bool sourceCall, const std::string& outpostArn) {
    return m_backend->CreateVolume(snapshotId, zone, name, type, iops, size, encrypted, kmsKeyId, volumeId, tags, sourceCall, outpostArn);
}
bool CAmazonSDKBridge::AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                                    bool flag, const std::string& device, bool& conflict, bool sourceCall) {
    return m_backend->AttachVolume(volumeId, instanceId, zone, flag, device, conflict, sourceCall);
}
bool CAmazonSDKBridge::AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId,
                                        const std::string& zone, bool flag, const std::string& device, bool& conflict,
                                        bool sourceCall) {
    return m_backend->AttachAsOSVolume(volumeId, instanceId, zone, flag, device, conflict, sourceCall);
}
bool CAmazonSDKBridge::DetachVolume(const std::string& volumeId, bool force, bool sourceCall) {
    return m_backend->DetachVolume(volumeId, force, sourceCall);
}
bool CAmazonSDKBridge::DeleteVolume(const std::string& volumeId, bool sourceCall) {
    return m_backend->DeleteVolume(volumeId, sourceCall);
}
bool CAmazonSDKBridge::ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& type,
                                    int iops) {
    return m_backend->ModifyVolume(volumeId, region, type, iops);
}
bool CAmazonSDKBridge::GetVolumeInfo(const std::string& volumeId, const std::string& region, VMInfoStructs::SDisk& disk,
                                     bool& notFound) {
    return m_backend->GetVolumeInfo(volumeId, region, disk, notFound);
}
bool CAmazonSDKBridge::GetVolumeModifyTaskInfo(const std::string& volumeId, const std::string& region,
                                               std::string& state) {
    return m_backend->GetVolumeModifyTaskInfo(volumeId, region, state);
}
bool CAmazonSDKBridge::DeleteExpiredVolumes(const std::string& region, long long ageSeconds) {
    return m_backend->DeleteExpiredVolumes(region, ageSeconds);
}
bool CAmazonSDKBridge::CreateSnapshot(const std::string& volumeId, const std::string& name,
                                      const std::string& description, std::string& snapshotId, bool sourceCall) {
    return m_backend->CreateSnapshot(volumeId, name, description, snapshotId, sourceCall);
}
bool CAmazonSDKBridge::DeleteSnapshot(const std::string& snapshotId, const std::string& region) {
    return m_backend->DeleteSnapshot(snapshotId, region);
}
bool CAmazonSDKBridge::GetSnapshotInfo(const std::string& snapshotId, const std::string& region,
                                       VMInfoStructs::SChildDisk& snapshot) {
    return m_backend->GetSnapshotInfo(snapshotId, region, snapshot);
}
bool CAmazonSDKBridge::CreateAMISnapshot(const std::string& instanceId, const std::string& region,
                                         const std::string& name, const std::string& option,
                                         const std::string& description, std::vector<std::string>& snapshotIds,
                                         std::string& amiId) {
    return m_backend->CreateAMISnapshot(instanceId, region, name, option, description, snapshotIds, amiId);
}
bool CAmazonSDKBridge::IsAMITaskCompleted(const std::string& amiId, bool& succeeded) {
    return m_backend->IsAMITaskCompleted(amiId, succeeded);
}
bool CAmazonSDKBridge::CancelAMITask(const std::string& amiId) { return m_backend->CancelAMITask(amiId); }
bool CAmazonSDKBridge::TagEBSSnapshotsForAMI(const std::string& amiId, const std::string& key,
                                             const std::string& value) {
    return m_backend->TagEBSSnapshotsForAMI(amiId, key, value);
}
bool CAmazonSDKBridge::DeleteAMISnapshot(const std::string& amiId, bool sourceCall) {
    return m_backend->DeleteAMISnapshot(amiId, sourceCall);
}
bool CAmazonSDKBridge::DeleteExpiredAMISnapshot(const std::string& amiId, bool sourceCall, long long hours) {
    return m_backend->DeleteExpiredAMISnapshot(amiId, sourceCall, hours);
}
bool CAmazonSDKBridge::GetAMIListForTags(const std::map<std::string, std::string>& tags,
                                         std::vector<std::string>& amiIds) {
    return m_backend->GetAMIListForTags(tags, amiIds);
}
bool CAmazonSDKBridge::RestoreVirtualMachine(VMInfoStructs::SVMInfo& vm, bool osDiskExists, const std::map<std::string,
                                             std::string>& tags, bool reuseExisting) {
    return m_backend->RestoreVirtualMachine(vm, osDiskExists, tags, reuseExisting);
}
bool CAmazonSDKBridge::ShareSnapshot(const std::string& snapshotId, const std::string& accountId) {
    return m_backend->ShareSnapshot(snapshotId, accountId);
}
bool CAmazonSDKBridge::UnshareSnapshot(const std::string& snapshotId, const std::string& accountId) {
    return m_backend->UnshareSnapshot(snapshotId, accountId);
}
bool CAmazonSDKBridge::CreateEncryptionKey(const std::string& region, const std::string& name, std::string& keyArn) {
    return m_backend->CreateEncryptionKey(region, name, keyArn);
}
bool CAmazonSDKBridge::CreateEncryptionKeyGrant(const std::string& region, const std::string& keyArn, const std::string& principal) {
    return m_backend->CreateEncryptionKeyGrant(region, keyArn, principal);
}
bool CAmazonSDKBridge::ListEncryptionKeyGrantees(const std::string& region, const std::string& keyArn, std::vector<std::string>& principals) {
    return m_backend->ListEncryptionKeyGrantees(region, keyArn, principals);
}
bool CAmazonSDKBridge::IsDefaultEncryptKey(const std::string& keyId, const std::string& region) {
    return m_backend->IsDefaultEncryptKey(keyId, region);
}
bool CAmazonSDKBridge::IsVolumeDefaultEncrypted(const std::string& volumeId, const std::string& region) {
    return m_backend->IsVolumeDefaultEncrypted(volumeId, region);
}
bool CAmazonSDKBridge::CopySnapshot(const std::string& snapshotId, const std::string& sourceRegion, const std::string& destinationRegion, bool encrypted, const std::string& kmsKeyId, std::string& newSnapshotId) {
    return m_backend->CopySnapshot(snapshotId, sourceRegion, destinationRegion, encrypted, kmsKeyId, newSnapshotId);
}
bool CAmazonSDKBridge::DescribeEncryptionKey(const std::string& region, const std::string& keyId, std::string& keyArn,
                                             bool& notFound, std::string& keyState, std::string* description) {
    return m_backend->DescribeEncryptionKey(region, keyId, keyArn, notFound, keyState, description);
}
bool CAmazonSDKBridge::GetOutpostAccountARNForSubnet(const std::string& subnetId, const std::string& region,
                                                     std::string& arn) {
    return m_backend->GetOutpostAccountARNForSubnet(subnetId, region, arn);
}
bool CAmazonSDKBridge::SetTag(const std::string& resource, const std::string& key, const std::string& value,
                              bool replace) {
    return m_backend->SetTag(resource, key, value, replace);
}
bool CAmazonSDKBridge::GetTag(const std::string& resource, const std::string& key, std::string& value) {
    return m_backend->GetTag(resource, key, value);
}
bool CAmazonSDKBridge::DeleteTag(const std::string& resource, const std::string& key, const std::string& value,
                                 bool dropEmpty) {
    return m_backend->DeleteTag(resource, key, value, dropEmpty);
}
bool CAmazonSDKBridge::GetTagList(const std::string& resource, std::map<std::string, std::string>& tags) {
    return m_backend->GetTagList(resource, tags);
}
bool CAmazonSDKBridge::DeleteFolder(const std::string& bucket, const std::string& region, const std::string& folder,
                                    bool recursive) {
    return m_backend->DeleteFolder(bucket, region, folder, recursive);
}
bool CAmazonSDKBridge::GetBucketLocation(const std::string& bucket, std::string& location) {
    return m_backend->GetBucketLocation(bucket, location);
}
bool CAmazonSDKBridge::GetBucketOwner(const std::string& bucket, std::string& ownerCanonicalId) {
    return m_backend->GetBucketOwner(bucket, ownerCanonicalId);
}
bool CAmazonSDKBridge::CreateBucket(const std::string& bucket, const std::string& region) {
    return m_backend->CreateBucket(bucket, region);
}
bool CAmazonSDKBridge::ShareBucket(const std::string& bucket, const std::string& unused,
                                   const std::string& canonicalId) {
    return m_backend->ShareBucket(bucket, unused, canonicalId);
}
bool CAmazonSDKBridge::UploadFileToS3(const std::string& bucket, const std::string& bucketRegion, const std::string& key,
                                      const std::string& localFile) {
    return m_backend->UploadFileToS3(bucket, bucketRegion, key, localFile);
}
bool CAmazonSDKBridge::DoesS3FileExist(const std::string& bucket, const std::string& bucketRegion,
                                       const std::string& key, bool& exists) {
    return m_backend->DoesS3FileExist(bucket, bucketRegion, key, exists);
}
int CAmazonSDKBridge::RunScriptOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
                                       const std::string& instanceId, const std::string& script,
                                       const std::string& extra, std::string& commandId, std::string& error,
                                       bool nonWindows) {
    return m_backend->RunScriptOnGuest(region, bucket, folder, instanceId, script, extra, commandId, error, nonWindows);
}
int CAmazonSDKBridge::isCommandComplete(const std::string& region, const std::string& commandId, std::string& status,
                                        bool& success) {
    return m_backend->isCommandComplete(region, commandId, status, success);
}
bool CAmazonSDKBridge::CancelCommand(const std::string& region, const std::string& commandId, std::string& error) {
    return m_backend->CancelCommand(region, commandId, error);
}
bool CAmazonSDKBridge::GetRunCommandResult(const std::string& bucket, const std::string& bucketRegion,
                                           const std::string& folder, const std::string& instanceId,
                                           const std::string& commandId, std::string& output, std::string& error) {
    return m_backend->GetRunCommandResult(bucket, bucketRegion, folder, instanceId, commandId, output, error);
}
int CAmazonSDKBridge::DownloadS3FileOnGuest(const std::string& region, const std::string& bucket,
                                            const std::string& folder, const std::string& key,
                                            const std::string& instanceId, const std::string& destination,
                                            bool nonWindows, std::string& commandId) {
    return m_backend->DownloadS3FileOnGuest(region, bucket, folder, key, instanceId, destination, nonWindows, commandId);
}
bool CAmazonSDKBridge::ReadFromSnapshot(const std::string& snapshotId, const std::string& region, long long offset,
                                        long long length, unsigned char* buffer) {
    return m_backend->ReadFromSnapshot(snapshotId, region, offset, length, buffer);
}
bool CAmazonSDKBridge::GetDirectSnapshotAccessInfo(const std::string& snapshotId, const std::string& region,
                                                   int& blockSize, std::vector<SAwsEbsBlockInfo>& blocks) {
    return m_backend->GetDirectSnapshotAccessInfo(snapshotId, region, blockSize, blocks);
}
bool CAmazonSDKBridge::GetAllocatedBlockList(const std::string& snapshotId, const std::string& region,
                                             VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long& unused) {
    return m_backend->GetAllocatedBlockList(snapshotId, region, info, blockSize, unused);
}
bool CAmazonSDKBridge::GetChangedBlockList(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                                           const std::string& region, VMInfoStructs::SDiskChangeInfo& info,
                                           int& blockSize, long long& unused) {
    return m_backend->GetChangedBlockList(previousSnapshotId, currentSnapshotId, region, info, blockSize, unused);
}
bool CAmazonSDKBridge::GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region, int maxResults,
                                             VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return m_backend->GetAllocatedBlockPage(snapshotId, region, maxResults, info, blockSize);
}
bool CAmazonSDKBridge::GetChangedBlockPage(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                                           const std::string& region, int maxResults,
                                           VMInfoStructs::SDiskChangeInfo& info, int& blockSize) {
    return m_backend->GetChangedBlockPage(previousSnapshotId, currentSnapshotId, region, maxResults, info, blockSize);
}
bool CAmazonSDKBridge::FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region) {
    return m_backend->FillSnapshotAccessInfo(snapshotId, region);
}
bool CAmazonSDKBridge::ClearSnapshotAccessInfo(const std::string& snapshotId) {
    return m_backend->ClearSnapshotAccessInfo(snapshotId);
}
bool CAmazonSDKBridge::CheckPermissions(const std::vector<std::string>& actions, bool& allowed) {
    return m_backend->CheckPermissions(actions, allowed);
}
bool CAmazonSDKBridge::IsMarketPlaceVolume(const std::string& volumeId, const std::string& region) {
    return m_backend->IsMarketPlaceVolume(volumeId, region);
}
bool CAmazonSDKBridge::GetDiskMetadata(const std::string& volumeId, const std::string& region,
                                       std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata) {
    return m_backend->GetDiskMetadata(volumeId, region, metadata);
}
std::string CAmazonSDKBridge::GetRegionFromZone(const std::string& zone) { return m_backend->GetRegionFromZone(zone); }
std::string CAmazonSDKBridge::GetWebProxyHost() const { return m_backend->GetWebProxyHost(); }
bool CAmazonSDKBridge::IsInitialized() const { return m_backend->IsInitialized(); }
bool CAmazonSDKBridge::IsConnected() const { return m_backend->IsConnected(); }
