#pragma once
// Private to the bridge: what one backend of CAmazonSDKBridge offers. The
// bridge object forwards every operation, unchanged, to the backend it chose
// when it was made (bridge/BackendChoice.h), so the plug-in never learns
// which one it talks to. Each operation keeps the contract written beside it
// in bridge/AmazonSDKBridge.h, flag conventions included; a backend that
// lacks one fails it with a text naming it, never with a silent success.
//
// A backend object belongs to one bridge object and is used from one thread
// at a time, as the bridge object is.
#include <map>
#include <string>
#include <vector>

#include "bridge/AmazonSDKBridge.h"

#ifndef BRIDGE_INTERNAL
#define BRIDGE_INTERNAL __attribute__((visibility("hidden")))
#endif

namespace bridgeimpl BRIDGE_INTERNAL {

class Backend {
public:
    virtual ~Backend() = default;

    virtual bool initialize(const std::string& focus, const std::string& appName, long long jobId) = 0;
    virtual void SetWebProxy(const std::string& host, const std::string& user, const std::string& password,
            int flags) = 0;
    virtual bool Connect(const std::string& url, const std::string& accessKey, const std::string& secretKey) = 0;
    virtual void Disconnect() = 0;
    virtual void overrideRegion(const std::string& region) = 0;
    virtual std::string GetLastErrorString() const = 0;
    virtual bool GetAccountId(std::string& accountId) = 0;
    virtual bool GetCanonicalId(std::string& canonicalId) = 0;
    virtual bool GetAwsArnPartition(std::string& partition) = 0;
    virtual std::string GetCurrentRegion() const = 0;
    virtual bool GetLocalInstanceId(std::string& instanceId) = 0;
    virtual bool GetLocalInstanceRegion(std::string& region) = 0;
    virtual bool GetOutpostsAccountARN(const std::string& instanceId, const std::string& region,
            std::string& arn) = 0;
    virtual int RefreshDCInfoList(ULONGLONG flags, int option) = 0;
    virtual void GetDCInfoList(std::vector<VMInfoStructs::SDataCenterInfo>& regions) = 0;
    virtual int RefreshHostInfoList(ULONGLONG flags, int option) = 0;
    virtual void GetHostInfoList(std::vector<VMInfoStructs::SHostInfo>& zones) = 0;
    virtual int GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
            const std::string& region, ULONGLONG flags, int option, VMInfoStructs::SVMInfo& vm) = 0;
    virtual int GetHostInfoForHost(const std::string& zone, ULONGLONG flags, int option,
            VMInfoStructs::SHostInfo& host) = 0;
    virtual int GetDCInfoForDC(const std::string& region, ULONGLONG flags, int option,
            VMInfoStructs::SDataCenterInfo& dc) = 0;
    virtual int GetInventoryInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
            ULONGLONG flags, int option, std::vector<VMInfoStructs::SInventoryInfo>& nodes) = 0;
    virtual int GetVMInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
            ULONGLONG flags, int option, std::vector<VMInfoStructs::SVMInfo>& vms) = 0;
    virtual int GetVMInfoListForInstanceType(const std::string& region, const std::string& type, ULONGLONG flags,
            int option, std::vector<VMInfoStructs::SVMInfo>& vms) = 0;
    virtual int GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG flags, int option,
            std::vector<VMInfoStructs::SInventoryInfo>& nodes, bool listAll) = 0;
    virtual int RefreshVMInfoList(ULONGLONG flags, int option) = 0;
    virtual void GetVMInfoList(std::vector<VMInfoStructs::SVMInfo>& vms) = 0;
    virtual int GetAllInstanceTypeList(const std::string& region, std::vector<VMInfoStructs::SVMSizeInfo>& sizes) = 0;
    virtual bool GenerateAssumeRoleSessionCredentials(const std::string& roleArn, std::string& accessKeyId,
            std::string& secretAccessKey, std::string& sessionToken) = 0;
    virtual int GetRoleInfoList(std::vector<VMInfoStructs::SRoleInfo>& roles) = 0;
    virtual bool GetFilteredAmis(const std::string& a, const std::string& b, const std::string& c,
            std::vector<VMInfoStructs::SImageInfo>& images) = 0;
    virtual bool GetVolumeEncryptionKeyList(const std::string& region,
            std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys) = 0;
    virtual int DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone, bool& exists,
            std::vector<VMInfoStructs::SVMInfo>& vms) = 0;
    virtual bool PowerOnVM(const std::string& name, const std::string& id, const std::string& region) = 0;
    virtual bool PowerOffVM(const std::string& name, const std::string& id, const std::string& region) = 0;
    virtual bool RebootVM(const std::string& name, const std::string& id, const std::string& region) = 0;
    virtual bool CreateVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out, bool creationFlag) = 0;
    virtual bool EditVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out) = 0;
    virtual bool DeleteVM(const std::string& name, const std::string& id, const std::string& region,
            bool deleteVolumes, bool sourceCall) = 0;
    virtual bool GetPassword(const std::string& name, const std::string& id, const std::string& keyName,
            std::string& password) = 0;
    virtual bool LogConsoleOutput(const std::string& instanceId) = 0;
    virtual bool SaveInstanceScreenshot(const std::string& instanceId, const std::string& file) = 0;
    virtual bool IsInstanceValidationtaskCompleted(const std::string& instanceId, bool& succeeded) = 0;
    virtual bool ModifyNetworkInterface(const std::string& interfaceId, bool deleteOnTermination) = 0;
    virtual bool DeleteNetworkInterface(const std::string& interfaceId) = 0;
    virtual bool CreateIsolatedSubnet(const std::string& name, const std::string& network, std::string& subnetId,
            std::string& cidr, const std::string& option) = 0;
    virtual bool DeleteIsolatedSubnet(const std::string& subnetId) = 0;
    virtual bool CreateVolume(VMInfoStructs::SDisk& disk, bool sourceCall, const std::string& option) = 0;
    virtual bool CreateVolume(const std::string& snapshotId, const std::string& zone, const std::string& name,
            const std::string& type, int iops, long long size, bool encrypted, const std::string& kmsKeyId,
            std::string& volumeId, const std::map<std::string, std::string>& tags, bool sourceCall,
            const std::string& outpostArn) = 0;
    virtual bool AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
            bool flag, const std::string& device, bool& conflict, bool sourceCall) = 0;
    virtual bool AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
            bool flag, const std::string& device, bool& conflict, bool sourceCall) = 0;
    virtual bool DetachVolume(const std::string& volumeId, bool force, bool sourceCall) = 0;
    virtual bool DeleteVolume(const std::string& volumeId, bool sourceCall) = 0;
    virtual bool ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& type,
            int iops) = 0;
    virtual bool GetVolumeInfo(const std::string& volumeId, const std::string& region, VMInfoStructs::SDisk& disk,
            bool& notFound) = 0;
    virtual bool GetVolumeModifyTaskInfo(const std::string& volumeId, const std::string& region,
            std::string& state) = 0;
    virtual bool DeleteExpiredVolumes(const std::string& region, long long ageSeconds) = 0;
    virtual bool CreateSnapshot(const std::string& volumeId, const std::string& name, const std::string& description,
            std::string& snapshotId, bool sourceCall) = 0;
    virtual bool DeleteSnapshot(const std::string& snapshotId, const std::string& region) = 0;
    virtual bool GetSnapshotInfo(const std::string& snapshotId, const std::string& region,
            VMInfoStructs::SChildDisk& snapshot) = 0;
    virtual bool CreateAMISnapshot(const std::string& instanceId, const std::string& region, const std::string& name,
            const std::string& option, const std::string& description, std::vector<std::string>& snapshotIds,
            std::string& amiId) = 0;
    virtual bool IsAMITaskCompleted(const std::string& amiId, bool& succeeded) = 0;
    virtual bool CancelAMITask(const std::string& amiId) = 0;
    virtual bool TagEBSSnapshotsForAMI(const std::string& amiId, const std::string& key,
            const std::string& value) = 0;
    virtual bool DeleteAMISnapshot(const std::string& amiId, bool sourceCall) = 0;
    virtual bool DeleteExpiredAMISnapshot(const std::string& amiId, bool sourceCall, long long hours) = 0;
    virtual bool GetAMIListForTags(const std::map<std::string, std::string>& tags,
            std::vector<std::string>& amiIds) = 0;
    virtual bool RestoreVirtualMachine(VMInfoStructs::SVMInfo& vm, bool osDiskExists, const std::map<std::string,
            std::string>& tags, bool reuseExisting) = 0;
    virtual bool ShareSnapshot(const std::string& snapshotId, const std::string& accountId) = 0;
    virtual bool UnshareSnapshot(const std::string& snapshotId, const std::string& accountId) = 0;
    virtual bool DescribeEncryptionKey(const std::string& region, const std::string& keyId, std::string& keyArn,
            bool& notFound, std::string& keyState, std::string* description) = 0;
    virtual bool CreateEncryptionKey(const std::string& region, const std::string& name, std::string& keyArn) = 0;
    virtual bool CreateEncryptionKeyGrant(const std::string& region, const std::string& keyArn, const std::string& principal) = 0;
    virtual bool ListEncryptionKeyGrantees(const std::string& region, const std::string& keyArn, std::vector<std::string>& principals) = 0;
    virtual bool IsDefaultEncryptKey(const std::string& keyId, const std::string& region) = 0;
    virtual bool IsVolumeDefaultEncrypted(const std::string& volumeId, const std::string& region) = 0;
    virtual bool CopySnapshot(const std::string& snapshotId, const std::string& sourceRegion, const std::string& destinationRegion, bool encrypted, const std::string& kmsKeyId, std::string& newSnapshotId) = 0;
    virtual bool GetOutpostAccountARNForSubnet(const std::string& subnetId, const std::string& region,
            std::string& arn) = 0;
    virtual bool SetTag(const std::string& resource, const std::string& key, const std::string& value,
            bool replace) = 0;
    virtual bool GetTag(const std::string& resource, const std::string& key, std::string& value) = 0;
    virtual bool DeleteTag(const std::string& resource, const std::string& key, const std::string& value,
            bool dropEmpty) = 0;
    virtual bool GetTagList(const std::string& resource, std::map<std::string, std::string>& tags) = 0;
    virtual bool DeleteFolder(const std::string& bucket, const std::string& region, const std::string& folder,
            bool recursive) = 0;
    virtual bool GetBucketLocation(const std::string& bucket, std::string& location) = 0;
    virtual bool GetBucketOwner(const std::string& bucket, std::string& ownerCanonicalId) = 0;
    virtual bool CreateBucket(const std::string& bucket, const std::string& region) = 0;
    virtual bool ShareBucket(const std::string& bucket, const std::string& unused,
            const std::string& canonicalId) = 0;
    virtual bool UploadFileToS3(const std::string& bucket, const std::string& bucketRegion, const std::string& key,
            const std::string& localFile) = 0;
    virtual bool DoesS3FileExist(const std::string& bucket, const std::string& bucketRegion, const std::string& key,
            bool& exists) = 0;
    virtual int RunScriptOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
            const std::string& instanceId, const std::string& script, const std::string& extra, std::string& commandId,
            std::string& error, bool nonWindows) = 0;
    virtual int isCommandComplete(const std::string& region, const std::string& commandId, std::string& status,
            bool& success) = 0;
    virtual bool CancelCommand(const std::string& region, const std::string& commandId, std::string& error) = 0;
    virtual bool GetRunCommandResult(const std::string& bucket, const std::string& bucketRegion,
            const std::string& folder, const std::string& instanceId, const std::string& commandId,
            std::string& output, std::string& error) = 0;
    virtual int DownloadS3FileOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
            const std::string& key, const std::string& instanceId, const std::string& destination, bool nonWindows,
            std::string& commandId) = 0;
    virtual bool ReadFromSnapshot(const std::string& snapshotId, const std::string& region, long long offset,
            long long length, unsigned char* buffer) = 0;
    virtual bool GetDirectSnapshotAccessInfo(const std::string& snapshotId, const std::string& region, int& blockSize,
            std::vector<CAmazonSDKBridge::SAwsEbsBlockInfo>& blocks) = 0;
    virtual bool GetAllocatedBlockList(const std::string& snapshotId, const std::string& region,
            VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long& unused) = 0;
    virtual bool GetChangedBlockList(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
            const std::string& region, VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long& unused) = 0;
    virtual bool GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region, int maxResults,
            VMInfoStructs::SDiskChangeInfo& info, int& blockSize) = 0;
    virtual bool GetChangedBlockPage(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
            const std::string& region, int maxResults, VMInfoStructs::SDiskChangeInfo& info, int& blockSize) = 0;
    virtual bool FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region) = 0;
    virtual bool ClearSnapshotAccessInfo(const std::string& snapshotId) = 0;
    virtual bool CheckPermissions(const std::vector<std::string>& actions, bool& allowed) = 0;
    virtual bool IsMarketPlaceVolume(const std::string& volumeId, const std::string& region) = 0;
    virtual bool GetDiskMetadata(const std::string& volumeId, const std::string& region,
            std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata) = 0;
    virtual std::string GetRegionFromZone(const std::string& zone) = 0;
    virtual std::string GetWebProxyHost() const = 0;
    virtual bool IsInitialized() const = 0;
    virtual bool IsConnected() const = 0;
};

}  // namespace bridgeimpl
