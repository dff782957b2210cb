#pragma once
// Private to the bridge: the backend that speaks AWS's own wire protocols
// (EC2 and STS over the Query API), signed with the project's one SigV4
// signer and sent through the framework's libcurl wrapper. Chosen with
// Bridge/sBackend=aws (bridge/BackendChoice.h).
//
// It offers every operation of the bridge, one family per file
// (WireIdentity, WireMetadata, WireSessions, WireInventory, WireInstances,
// WireLaunch, WirePassword, WireVolumes, WireNetwork, WireSnapshots,
// WireTags, WireBlocks, WireKms, WireS3, WireRunCommand, WireIam). It stands
// on RefusingBackend so that an operation the bridge gains later fails with
// "NotImplemented: <op> is not offered by the AWS wire backend yet" until it
// is written here, never with a silent success.
//
// Settings (section "Bridge"): nWirePageSize, the MaxResults of every paged
// listing (default 1000, AWS's largest for most; 5 is AWS's smallest);
// nWireMaxAttempts, attempts per call, the first included (default 3).
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "bridge/RefusingBackend.h"
#include "bridge/wire/WireQuery.h"

namespace bridgeimpl BRIDGE_INTERNAL {
namespace wire {
struct Ec2Instance;
struct Ec2Volume;
}  // namespace wire

class WireBackend final : public RefusingBackend {
public:
    WireBackend();
    // Tests hand in the transport (recorded responses) and the retry policy.
    WireBackend(std::unique_ptr<wire::Transport> transport, wire::RetryPolicy policy);
    ~WireBackend() override;

    bool Refuse(const char* op) override;

    // ---- set-up and identity (WireIdentity.cpp) ----
    bool initialize(const std::string& focus, const std::string& appName, long long jobId) override;
    void SetWebProxy(const std::string& host, const std::string& user, const std::string& password,
                     int flags) override;
    bool Connect(const std::string& url, const std::string& accessKey, const std::string& secretKey) override;
    void Disconnect() override;
    void overrideRegion(const std::string& region) override;
    std::string GetLastErrorString() const override;
    std::string GetCurrentRegion() const override;
    std::string GetWebProxyHost() const override;
    bool IsInitialized() const override;
    bool IsConnected() const override;
    bool GetAccountId(std::string& accountId) override;
    // The proxy's own identity, from the instance metadata service
    // (WireMetadata.cpp); neither needs a connection.
    bool GetLocalInstanceId(std::string& instanceId) override;
    bool GetLocalInstanceRegion(std::string& region) override;
    bool GetAwsArnPartition(std::string& partition) override;
    std::string GetRegionFromZone(const std::string& zone) override;

    // STS AssumeRole, an hour's session (WireSessions.cpp).
    bool GenerateAssumeRoleSessionCredentials(const std::string& roleArn, std::string& accessKeyId,
                                              std::string& secretAccessKey, std::string& sessionToken) override;

    // ---- inventory (WireInventory.cpp) ----
    int RefreshDCInfoList(ULONGLONG flags, int option) override;
    void GetDCInfoList(std::vector<VMInfoStructs::SDataCenterInfo>& regions) override;
    int RefreshHostInfoList(ULONGLONG flags, int option) override;
    void GetHostInfoList(std::vector<VMInfoStructs::SHostInfo>& zones) override;
    int RefreshVMInfoList(ULONGLONG flags, int option) override;
    void GetVMInfoList(std::vector<VMInfoStructs::SVMInfo>& vms) override;
    int GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
                       const std::string& region, ULONGLONG flags, int option, VMInfoStructs::SVMInfo& vm) override;
    int GetHostInfoForHost(const std::string& zone, ULONGLONG flags, int option,
                           VMInfoStructs::SHostInfo& host) override;
    int GetDCInfoForDC(const std::string& region, ULONGLONG flags, int option,
                       VMInfoStructs::SDataCenterInfo& dc) override;
    int GetInventoryInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
                                   ULONGLONG flags, int option,
                                   std::vector<VMInfoStructs::SInventoryInfo>& nodes) override;
    int GetVMInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
                            ULONGLONG flags, int option, std::vector<VMInfoStructs::SVMInfo>& vms) override;
    int GetVMInfoListForInstanceType(const std::string& region, const std::string& type, ULONGLONG flags, int option,
                                     std::vector<VMInfoStructs::SVMInfo>& vms) override;
    int GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG flags, int option,
                                         std::vector<VMInfoStructs::SInventoryInfo>& nodes, bool listAll) override;
    int GetAllInstanceTypeList(const std::string& region, std::vector<VMInfoStructs::SVMSizeInfo>& sizes) override;
    bool GetFilteredAmis(const std::string& a, const std::string& b, const std::string& c,
                         std::vector<VMInfoStructs::SImageInfo>& images) override;
    int DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone, bool& exists,
                    std::vector<VMInfoStructs::SVMInfo>& vms) override;

    // ---- instances (WireInstances.cpp) ----
    // An instance off an Outpost has an empty ARN.
    bool GetOutpostsAccountARN(const std::string& instanceId, const std::string& region, std::string& arn) override;
    bool PowerOnVM(const std::string& name, const std::string& id, const std::string& region) override;
    bool PowerOffVM(const std::string& name, const std::string& id, const std::string& region) override;
    bool RebootVM(const std::string& name, const std::string& id, const std::string& region) override;
    bool DeleteVM(const std::string& name, const std::string& id, const std::string& region, bool deleteVolumes,
                  bool sourceCall) override;
    // GetConsoleOutput, decoded into the debug log.
    bool LogConsoleOutput(const std::string& instanceId) override;
    // GetConsoleScreenshot's image, written to file.
    bool SaveInstanceScreenshot(const std::string& instanceId, const std::string& file) override;
    // GetPasswordData, decrypted with the key pair's private key: the PEM
    // file "<keyName>.pem" in Bridge/sKeyPairFolder (default: the base
    // folder's "keypairs") (WirePassword.cpp).
    bool GetPassword(const std::string& name, const std::string& id, const std::string& keyName,
                     std::string& password) override;
    // EC2 cannot cancel CreateImage: always fails, saying so; the image is
    // left to the job's clean-up.
    bool CancelAMITask(const std::string& amiId) override;
    // DescribeInstanceStatus: done once both checks have a verdict.
    bool IsInstanceValidationtaskCompleted(const std::string& instanceId, bool& succeeded) override;

    // ---- launches (WireLaunch.cpp) ----
    // RunInstances, waited for until running, stopped and, with
    // osDiskExists, its root volume detached and deleted; the base image,
    // when the AMI is gone, from AWS's public SSM parameter of the platform.
    bool RestoreVirtualMachine(VMInfoStructs::SVMInfo& vm, bool osDiskExists,
                               const std::map<std::string, std::string>& tags, bool reuseExisting) override;
    bool CreateVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out, bool creationFlag) override;
    bool EditVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out) override;

    // ---- volumes (WireVolumes.cpp) ----
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
    bool GetVolumeInfo(const std::string& volumeId, const std::string& region, VMInfoStructs::SDisk& disk,
                       bool& notFound) override;
    bool ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& type,
                      int iops) override;
    // The latest of DescribeVolumesModifications.
    bool GetVolumeModifyTaskInfo(const std::string& volumeId, const std::string& region, std::string& state) override;
    bool DeleteExpiredVolumes(const std::string& region, long long ageSeconds) override;
    // DescribeVolumeAttribute productCodes.
    bool IsMarketPlaceVolume(const std::string& volumeId, const std::string& region) override;
    bool GetDiskMetadata(const std::string& volumeId, const std::string& region,
                         std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata) override;

    // ---- network interfaces and subnets (WireNetwork.cpp) ----
    bool ModifyNetworkInterface(const std::string& interfaceId, bool deleteOnTermination) override;
    bool DeleteNetworkInterface(const std::string& interfaceId) override;
    bool CreateIsolatedSubnet(const std::string& name, const std::string& network, std::string& subnetId,
                              std::string& cidr, const std::string& option) override;
    bool DeleteIsolatedSubnet(const std::string& subnetId) override;
    bool GetOutpostAccountARNForSubnet(const std::string& subnetId, const std::string& region,
                                       std::string& arn) override;

    // ---- snapshots and AMIs (WireSnapshots.cpp) ----
    bool CreateSnapshot(const std::string& volumeId, const std::string& name, const std::string& description,
                        std::string& snapshotId, bool sourceCall) override;
    bool DeleteSnapshot(const std::string& snapshotId, const std::string& region) override;
    bool GetSnapshotInfo(const std::string& snapshotId, const std::string& region,
                         VMInfoStructs::SChildDisk& snapshot) override;
    bool CreateAMISnapshot(const std::string& instanceId, const std::string& region, const std::string& name,
                           const std::string& option, const std::string& description,
                           std::vector<std::string>& snapshotIds, std::string& amiId) override;
    bool IsAMITaskCompleted(const std::string& amiId, bool& succeeded) override;
    bool TagEBSSnapshotsForAMI(const std::string& amiId, const std::string& key, const std::string& value) override;
    bool DeleteAMISnapshot(const std::string& amiId, bool sourceCall) override;
    bool GetAMIListForTags(const std::map<std::string, std::string>& tags, std::vector<std::string>& amiIds) override;
    // The AMI's creationDate against the framework's clock.
    bool DeleteExpiredAMISnapshot(const std::string& amiId, bool sourceCall, long long hours) override;
    // ModifySnapshotAttribute on createVolumePermission.
    bool ShareSnapshot(const std::string& snapshotId, const std::string& accountId) override;
    bool UnshareSnapshot(const std::string& snapshotId, const std::string& accountId) override;
    // Sent to the destination region with the PresignedUrl the SDKs add.
    bool CopySnapshot(const std::string& snapshotId, const std::string& sourceRegion,
                      const std::string& destinationRegion, bool encrypted, const std::string& kmsKeyId,
                      std::string& newSnapshotId) override;

    // ---- EBS direct block listings (WireBlocks.cpp) ----
    bool GetAllocatedBlockList(const std::string& snapshotId, const std::string& region,
                               VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long& unused) override;
    bool GetChangedBlockList(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                             const std::string& region, VMInfoStructs::SDiskChangeInfo& info, int& blockSize,
                             long long& unused) override;
    bool GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region, int maxResults,
                               VMInfoStructs::SDiskChangeInfo& info, int& blockSize) override;
    bool GetChangedBlockPage(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                             const std::string& region, int maxResults, VMInfoStructs::SDiskChangeInfo& info,
                             int& blockSize) override;
    bool GetDirectSnapshotAccessInfo(const std::string& snapshotId, const std::string& region, int& blockSize,
                                     std::vector<CAmazonSDKBridge::SAwsEbsBlockInfo>& blocks) override;
    // GetSnapshotBlock of each allocated block in the range, its checksum
    // checked; the tokens of a prepared snapshot, renewed before they expire,
    // else of just the range.
    bool ReadFromSnapshot(const std::string& snapshotId, const std::string& region, long long offset,
                          long long length, unsigned char* buffer) override;
    bool FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region) override;
    bool ClearSnapshotAccessInfo(const std::string& snapshotId) override;

    // ---- tags (WireTags.cpp) ----
    bool SetTag(const std::string& resource, const std::string& key, const std::string& value, bool replace) override;
    bool GetTag(const std::string& resource, const std::string& key, std::string& value) override;
    bool DeleteTag(const std::string& resource, const std::string& key, const std::string& value,
                   bool dropEmpty) override;
    bool GetTagList(const std::string& resource, std::map<std::string, std::string>& tags) override;

    // ---- KMS keys (WireKms.cpp) ----
    bool DescribeEncryptionKey(const std::string& region, const std::string& keyId, std::string& keyArn,
                               bool& notFound, std::string& keyState, std::string* description) override;
    bool CreateEncryptionKey(const std::string& region, const std::string& name, std::string& keyArn) override;
    bool CreateEncryptionKeyGrant(const std::string& region, const std::string& keyArn,
                                  const std::string& principal) override;
    bool ListEncryptionKeyGrantees(const std::string& region, const std::string& keyArn,
                                   std::vector<std::string>& principals) override;
    bool IsDefaultEncryptKey(const std::string& keyId, const std::string& region) override;
    bool IsVolumeDefaultEncrypted(const std::string& volumeId, const std::string& region) override;
    bool GetVolumeEncryptionKeyList(const std::string& region,
                                    std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys) override;

    // ---- S3, path-style (WireS3.cpp) ----
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

    // The owner of the account's buckets, from S3's ListBuckets (WireS3.cpp).
    bool GetCanonicalId(std::string& canonicalId) override;

    // ---- IAM (WireIam.cpp) ----
    int GetRoleInfoList(std::vector<VMInfoStructs::SRoleInfo>& roles) override;
    // SimulatePrincipalPolicy for the caller (an assumed role's session is
    // simulated as its role).
    bool CheckPermissions(const std::vector<std::string>& actions, bool& allowed) override;

    // ---- SSM run-command (WireRunCommand.cpp) ----
    int RunScriptOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
                         const std::string& instanceId, const std::string& script, const std::string& extra,
                         std::string& commandId, std::string& error, bool nonWindows) override;
    int isCommandComplete(const std::string& region, const std::string& commandId, std::string& status,
                          bool& success) override;
    bool CancelCommand(const std::string& region, const std::string& commandId, std::string& error) override;
    bool GetRunCommandResult(const std::string& bucket, const std::string& bucketRegion, const std::string& folder,
                             const std::string& instanceId, const std::string& commandId, std::string& output,
                             std::string& error) override;
    int DownloadS3FileOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
                              const std::string& key, const std::string& instanceId, const std::string& destination,
                              bool nonWindows, std::string& commandId) override;

    // HTTP exchanges made so far, retries included.
    int64_t Exchanges() const { return m_client.Exchanges(); }

private:
    // Runs one operation: checks the connection when it needs one, keeps
    // every exception inside, logs and stores a failure's text and clears
    // the text on success.
    bool Run(const char* op, bool needsConnection, const std::function<bool(std::string& error)>& body);
    // One EC2 action in region (empty: the current one).
    bool Ec2(const std::string& action, const wire::QueryParams& params, pugi::xml_document& out,
             std::string& error, const std::string& region = std::string());
    // Every page of an EC2 listing; onItem gets each element under itemsPath
    // ("reservationSet/item"). pageCap: AWS's largest MaxResults for the
    // action (pages are the smaller of it and nWirePageSize); 0 for an action
    // that does not page.
    bool Ec2Items(const std::string& action, const wire::QueryParams& params, const char* itemsPath,
                  const std::function<void(const pugi::xml_node& item)>& onItem, std::string& error,
                  const std::string& region = std::string(), int pageCap = 1000);
    // One value of the instance metadata service (path under
    // http://169.254.169.254), IMDSv2 first (WireMetadata.cpp).
    bool MetadataGet(const std::string& path, std::string& value, std::string& error);
    // The instance role's credentials (the first role the metadata service
    // lists), their expiry kept; and their renewal from five minutes before
    // they expire, ahead of every signed request; a failed renewal fails the
    // request only once they have expired (WireMetadata.cpp).
    bool RoleCredentials(AmazonDirectSnapshotAccessAPI::AWSCredentials& credentials, std::string& error);
    bool RenewRoleCredentials(std::string& error);
    // The region an operation addresses: its argument, or else the current
    // region; a zone names its region.
    std::string RegionFor(const std::string& given) const;

    // Instances of region matching the filters, terminated ones left out,
    // with their volumes' details (WireInventory.cpp).
    bool ListInstances(const std::string& region, const wire::QueryParams& filters,
                       std::vector<VMInfoStructs::SVMInfo>& vms, std::string& error);
    // The instance by id, else by its Name tag, in region.
    bool FindInstance(const std::string& name, const std::string& id, const std::string& region,
                      wire::Ec2Instance& out, std::string& error);
    // One of StartInstances, StopInstances, RebootInstances.
    bool Power(const char* op, const char* action, const std::string& name, const std::string& id,
               const std::string& region);
    bool DecryptPassword(const std::string& keyFile, const std::string& encrypted, std::string& password,
                         std::string& error);
    // Polls (framework clock, 30 minutes at most) until the instance is in
    // wanted, its last description in inst.
    bool WaitInstanceState(const std::string& id, const std::string& region, const std::string& wanted,
                           wire::Ec2Instance& inst, std::string& error);
    bool WaitDetached(const std::string& volumeId, const std::string& region, std::string& error);
    bool FirstZone(const std::string& region, std::string& zone, std::string& error);
    // vm.amiId when it is available, else the platform's base image.
    bool LaunchImage(const VMInfoStructs::SVMInfo& vm, const std::string& region, std::string& imageId,
                     std::string& error);
    bool Launch(VMInfoStructs::SVMInfo& vm, const std::string& region, const std::map<std::string, std::string>& tags,
                std::vector<std::string>& warnings, std::string& instanceId, std::string& error);
    bool DescribeVolume(const std::string& volumeId, const std::string& region, wire::Ec2Volume& out,
                        std::string& error);
    bool Attach(const char* op, const std::string& volumeId, const std::string& instanceId,
                const std::string& device, bool asRoot, bool& conflict);
    // The AMI as GetVMInfoForVM's template record (WireImages.cpp).
    bool ImageRecord(const std::string& amiId, const std::string& region, VMInfoStructs::SVMInfo& vm,
                     std::string& error);
    bool ImageSnapshots(const std::string& amiId, std::vector<std::string>& snapshotIds, std::string& state,
                        std::string& error);
    bool SnapshotPermission(const char* op, const char* operation, const std::string& snapshotId,
                            const std::string& accountId);
    bool TagsOf(const std::string& resource, std::map<std::string, std::string>& tags, std::string& error);
    bool PutTags(const std::string& resource, const std::map<std::string, std::string>& tags, std::string& error,
                 const std::string& region = std::string());
    bool SweepRegions(std::string& error);
    // ListSnapshotBlocks (previous empty) or ListChangedBlocks from block
    // startingIndex, every page or only the first (maxResults blocks at
    // most); onPage gets each page's JSON before its blocks, onBlock each
    // listed block's and, answering false, ends the listing after that page.
    using BlockFn = std::function<bool(const nlohmann::json& block)>;
    using PageFn = std::function<void(const nlohmann::json& page)>;
    bool ListBlocks(const std::string& previous, const std::string& current, const std::string& region,
                    bool firstPageOnly, int maxResults, int& blockSize, const BlockFn& onBlock, std::string& error,
                    long long startingIndex = 0, const PageFn& onPage = nullptr);

    // The block tokens of a snapshot, for the bridge's own reads.
    struct BlockAccess {
        std::string region;
        long long volumeBytes = 0;
        long long expiryMs = 0;  // the earliest ExpiryTime listed; 0: none
        std::map<long long, std::string> tokens;
    };
    // ListSnapshotBlocks from firstIndex, count blocks (0: to the end).
    bool ListTokens(const std::string& snapshotId, const std::string& region, long long firstIndex, long long count,
                    BlockAccess& access, std::string& error);

    // One KMS operation in region (empty: the current one).
    bool Kms(const std::string& op, const nlohmann::json& input, nlohmann::json& out, std::string& error,
             const std::string& region);
    // DescribeKey's KeyMetadata; notFound (and true) for NotFoundException.
    bool KmsKey(const std::string& region, const std::string& keyId, nlohmann::json& metadata, bool& notFound,
                std::string& error);
    // keyId (id, ARN or alias) names the managed EBS key of region.
    bool IsDefaultKey(const std::string& region, const std::string& keyId, bool& isDefault, std::string& error);

    // One S3 request for bucket's key (empty: the bucket itself) in region
    // (empty: the current one); statuses in accept are answers.
    bool S3(const std::string& method, const std::string& bucket, const std::string& key,
            const wire::QueryParams& query, const std::string& body, long& status, std::string& answer,
            std::string& error, const std::string& region, const wire::QueryParams& headers = {},
            std::vector<long> accept = {});
    // A bucket request answered in XML (or with nothing).
    bool S3Xml(const std::string& method, const std::string& bucket, const wire::QueryParams& query,
               pugi::xml_document& out, std::string& error, const std::string& body = std::string(),
               const wire::QueryParams& headers = {});
    // An object's bytes; missing (and true) when the bucket lacks the key.
    bool GetS3Object(const std::string& bucket, const std::string& region, const std::string& key, std::string& data,
                     bool& missing, std::string& error);
    // One SSM operation in region (empty: the current one).
    bool Ssm(const std::string& op, const nlohmann::json& input, nlohmann::json& out, std::string& error,
             const std::string& region);

    wire::QueryClient m_client;
    bool m_initialized = false;
    std::string m_accountId;   // empty: not connected
    std::string m_arn;
    std::string m_region;
    std::string m_proxyHost;
    std::string m_lastError;
    int m_pageSize = 1000;
    int64_t m_roleExpiryMs = 0;  // 0: the keys are not an instance role's
    int64_t m_roleRetryAtMs = 0;  // no renewal before this after one failed
    std::vector<VMInfoStructs::SDataCenterInfo> m_dcList;
    std::vector<VMInfoStructs::SHostInfo> m_hostList;
    std::vector<VMInfoStructs::SVMInfo> m_vmList;
    std::map<std::string, BlockAccess> m_access;  // by snapshot id
};

}  // namespace bridgeimpl
