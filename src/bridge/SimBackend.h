#pragma once
// Private to the bridge: the backend that forwards every operation to the
// simulated cloud of the process (cloudsim/Cloud.h), which cloud that is
// learnt from the agent's settings (section "CloudSim") unless a test
// installed one. Its operations live one family per file (Bridge*.cpp); its
// state and shared helpers in bridge/BridgeImpl.h.
#include <memory>

#include "bridge/BridgeBackend.h"

namespace bridgeimpl BRIDGE_INTERNAL {

class SimBackend final : public Backend {
public:
    using SAwsEbsBlockInfo = CAmazonSDKBridge::SAwsEbsBlockInfo;

    SimBackend();
    ~SimBackend() override;
    SimBackend(const SimBackend&) = delete;
    SimBackend& operator=(const SimBackend&) = delete;

    bool initialize(const std::string& focus, const std::string& appName, long long jobId) override;
    void SetWebProxy(const std::string& host, const std::string& user, const std::string& password,
            int flags) override;
    bool Connect(const std::string& url, const std::string& accessKey, const std::string& secretKey) override;
    void Disconnect() override;
    void overrideRegion(const std::string& region) override;
    std::string GetLastErrorString() const override;
    bool GetAccountId(std::string& accountId) override;
    bool GetCanonicalId(std::string& canonicalId) override;
    bool GetAwsArnPartition(std::string& partition) override;
    std::string GetCurrentRegion() const override;
    bool GetLocalInstanceId(std::string& instanceId) override;
    bool GetLocalInstanceRegion(std::string& region) override;
    bool GetOutpostsAccountARN(const std::string& instanceId, const std::string& region, std::string& arn) override;
    int RefreshDCInfoList(ULONGLONG flags, int option) override;
    void GetDCInfoList(std::vector<VMInfoStructs::SDataCenterInfo>& regions) override;
    int RefreshHostInfoList(ULONGLONG flags, int option) override;
    void GetHostInfoList(std::vector<VMInfoStructs::SHostInfo>& zones) override;
    int GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
            const std::string& region, ULONGLONG flags, int option, VMInfoStructs::SVMInfo& vm) override;
    int GetHostInfoForHost(const std::string& zone, ULONGLONG flags, int option,
            VMInfoStructs::SHostInfo& host) override;
    int GetDCInfoForDC(const std::string& region, ULONGLONG flags, int option,
            VMInfoStructs::SDataCenterInfo& dc) override;
    int GetInventoryInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
            ULONGLONG flags, int option, std::vector<VMInfoStructs::SInventoryInfo>& nodes) override;
    int GetVMInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
            ULONGLONG flags, int option, std::vector<VMInfoStructs::SVMInfo>& vms) override;
    int GetVMInfoListForInstanceType(const std::string& region, const std::string& type, ULONGLONG flags, int option,
            std::vector<VMInfoStructs::SVMInfo>& vms) override;
    int GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG flags, int option,
            std::vector<VMInfoStructs::SInventoryInfo>& nodes, bool listAll) override;
    int RefreshVMInfoList(ULONGLONG flags, int option) override;
    void GetVMInfoList(std::vector<VMInfoStructs::SVMInfo>& vms) override;
    int GetAllInstanceTypeList(const std::string& region, std::vector<VMInfoStructs::SVMSizeInfo>& sizes) override;
    bool GenerateAssumeRoleSessionCredentials(const std::string& roleArn, std::string& accessKeyId,
            std::string& secretAccessKey, std::string& sessionToken) override;
    int GetRoleInfoList(std::vector<VMInfoStructs::SRoleInfo>& roles) override;
    bool GetFilteredAmis(const std::string& a, const std::string& b, const std::string& c,
            std::vector<VMInfoStructs::SImageInfo>& images) override;
    bool GetVolumeEncryptionKeyList(const std::string& region,
            std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys) override;
    int DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone, bool& exists,
            std::vector<VMInfoStructs::SVMInfo>& vms) override;
    bool PowerOnVM(const std::string& name, const std::string& id, const std::string& region) override;
    bool PowerOffVM(const std::string& name, const std::string& id, const std::string& region) override;
    bool RebootVM(const std::string& name, const std::string& id, const std::string& region) override;
    bool CreateVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out, bool creationFlag) override;
    bool EditVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out) override;
    bool DeleteVM(const std::string& name, const std::string& id, const std::string& region, bool deleteVolumes,
            bool sourceCall) override;
    bool GetPassword(const std::string& name, const std::string& id, const std::string& keyName,
            std::string& password) override;
    bool LogConsoleOutput(const std::string& instanceId) override;
    bool SaveInstanceScreenshot(const std::string& instanceId, const std::string& file) override;
    bool IsInstanceValidationtaskCompleted(const std::string& instanceId, bool& succeeded) override;
    bool ModifyNetworkInterface(const std::string& interfaceId, bool deleteOnTermination) override;
    bool DeleteNetworkInterface(const std::string& interfaceId) override;
    bool CreateIsolatedSubnet(const std::string& name, const std::string& network, std::string& subnetId,
            std::string& cidr, const std::string& option) override;
    bool DeleteIsolatedSubnet(const std::string& subnetId) override;
    bool CreateVolume(VMInfoStructs::SDisk& disk, bool sourceCall, const std::string& option) override;
    bool CreateVolume(const std::string& snapshotId, const std::string& zone, const std::string& name,
            const std::string& type, int iops, long long size, bool encrypted, const std::string& kmsKeyId,
            std::string& volumeId, const std::map<std::string, std::string>& tags, bool sourceCall,
            const std::string& outpostArn) override;
    bool AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone, bool flag,
            const std::string& device, bool& conflict, bool sourceCall) override;
    bool AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
            bool flag, const std::string& device, bool& conflict, bool sourceCall) override;
    bool DetachVolume(const std::string& volumeId, bool force, bool sourceCall) override;
    bool DeleteVolume(const std::string& volumeId, bool sourceCall) override;
    bool ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& type,
            int iops) override;
    bool GetVolumeInfo(const std::string& volumeId, const std::string& region, VMInfoStructs::SDisk& disk,
            bool& notFound) override;
    bool GetVolumeModifyTaskInfo(const std::string& volumeId, const std::string& region, std::string& state) override;
    bool DeleteExpiredVolumes(const std::string& region, long long ageSeconds) override;
    bool CreateSnapshot(const std::string& volumeId, const std::string& name, const std::string& description,
            std::string& snapshotId, bool sourceCall) override;
    bool DeleteSnapshot(const std::string& snapshotId, const std::string& region) override;
    bool GetSnapshotInfo(const std::string& snapshotId, const std::string& region,
            VMInfoStructs::SChildDisk& snapshot) override;
    bool CreateAMISnapshot(const std::string& instanceId, const std::string& region, const std::string& name,
            const std::string& option, const std::string& description, std::vector<std::string>& snapshotIds,
            std::string& amiId) override;
    bool IsAMITaskCompleted(const std::string& amiId, bool& succeeded) override;
    bool CancelAMITask(const std::string& amiId) override;
    bool TagEBSSnapshotsForAMI(const std::string& amiId, const std::string& key, const std::string& value) override;
    bool DeleteAMISnapshot(const std::string& amiId, bool sourceCall) override;
    bool DeleteExpiredAMISnapshot(const std::string& amiId, bool sourceCall, long long hours) override;
    bool GetAMIListForTags(const std::map<std::string, std::string>& tags, std::vector<std::string>& amiIds) override;
    bool RestoreVirtualMachine(VMInfoStructs::SVMInfo& vm, bool osDiskExists, const std::map<std::string,
            std::string>& tags, bool reuseExisting) override;
    bool ShareSnapshot(const std::string& snapshotId, const std::string& accountId) override;
    bool UnshareSnapshot(const std::string& snapshotId, const std::string& accountId) override;
    bool DescribeEncryptionKey(const std::string& region, const std::string& keyId, std::string& keyArn,
            bool& notFound, std::string& keyState, std::string* description) override;
    bool CreateEncryptionKey(const std::string& region, const std::string& name, std::string& keyArn) override;
    bool CreateEncryptionKeyGrant(const std::string& region, const std::string& keyArn, const std::string& principal) override;
    bool ListEncryptionKeyGrantees(const std::string& region, const std::string& keyArn, std::vector<std::string>& principals) override;
    bool IsDefaultEncryptKey(const std::string& keyId, const std::string& region) override;
    bool IsVolumeDefaultEncrypted(const std::string& volumeId, const std::string& region) override;
    bool CopySnapshot(const std::string& snapshotId, const std::string& sourceRegion, const std::string& destinationRegion, bool encrypted, const std::string& kmsKeyId, std::string& newSnapshotId) override;
    bool GetOutpostAccountARNForSubnet(const std::string& subnetId, const std::string& region,
            std::string& arn) override;
    bool SetTag(const std::string& resource, const std::string& key, const std::string& value, bool replace) override;
    bool GetTag(const std::string& resource, const std::string& key, std::string& value) override;
    bool DeleteTag(const std::string& resource, const std::string& key, const std::string& value,
            bool dropEmpty) override;
    bool GetTagList(const std::string& resource, std::map<std::string, std::string>& tags) override;
    bool DeleteFolder(const std::string& bucket, const std::string& region, const std::string& folder,
            bool recursive) override;
    bool GetBucketLocation(const std::string& bucket, std::string& location) override;
    bool GetBucketOwner(const std::string& bucket, std::string& ownerCanonicalId) override;
    bool CreateBucket(const std::string& bucket, const std::string& region) override;
    bool ShareBucket(const std::string& bucket, const std::string& unused, const std::string& canonicalId) override;
    bool UploadFileToS3(const std::string& bucket, const std::string& bucketRegion, const std::string& key,
            const std::string& localFile) override;
    bool DoesS3FileExist(const std::string& bucket, const std::string& bucketRegion, const std::string& key,
            bool& exists) override;
    int RunScriptOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
            const std::string& instanceId, const std::string& script, const std::string& extra, std::string& commandId,
            std::string& error, bool nonWindows) override;
    int isCommandComplete(const std::string& region, const std::string& commandId, std::string& status,
            bool& success) override;
    bool CancelCommand(const std::string& region, const std::string& commandId, std::string& error) override;
    bool GetRunCommandResult(const std::string& bucket, const std::string& bucketRegion, const std::string& folder,
            const std::string& instanceId, const std::string& commandId, std::string& output,
            std::string& error) override;
    int DownloadS3FileOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
            const std::string& key, const std::string& instanceId, const std::string& destination, bool nonWindows,
            std::string& commandId) override;
    bool ReadFromSnapshot(const std::string& snapshotId, const std::string& region, long long offset, long long length,
            unsigned char* buffer) override;
    bool GetDirectSnapshotAccessInfo(const std::string& snapshotId, const std::string& region, int& blockSize,
            std::vector<CAmazonSDKBridge::SAwsEbsBlockInfo>& blocks) override;
    bool GetAllocatedBlockList(const std::string& snapshotId, const std::string& region,
            VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long& unused) override;
    bool GetChangedBlockList(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
            const std::string& region, VMInfoStructs::SDiskChangeInfo& info, int& blockSize,
            long long& unused) override;
    bool GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region, int maxResults,
            VMInfoStructs::SDiskChangeInfo& info, int& blockSize) override;
    bool GetChangedBlockPage(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
            const std::string& region, int maxResults, VMInfoStructs::SDiskChangeInfo& info, int& blockSize) override;
    bool FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region) override;
    bool ClearSnapshotAccessInfo(const std::string& snapshotId) override;
    bool CheckPermissions(const std::vector<std::string>& actions, bool& allowed) override;
    bool IsMarketPlaceVolume(const std::string& volumeId, const std::string& region) override;
    bool GetDiskMetadata(const std::string& volumeId, const std::string& region,
            std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata) override;
    std::string GetRegionFromZone(const std::string& zone) override;
    std::string GetWebProxyHost() const override;
    bool IsInitialized() const override;
    bool IsConnected() const override;

    struct Impl;

private:
    std::unique_ptr<Impl> m_impl;
};

}  // namespace bridgeimpl
