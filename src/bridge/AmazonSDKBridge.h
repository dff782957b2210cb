#pragma once
// CAmazonSDKBridge: one AWS account's service connection. The only way the
// plug-in reaches AWS other than the EBS direct APIs.
//
// Set-up order: construct, initialize, SetWebProxy (optional), Connect,
// overrideRegion whenever an operation targets another region, Disconnect.
// Operations returning bool: true on success; on false GetLastErrorString()
// holds an AWS-like error text ("<Code>: <message>"). Integer results follow
// each operation's comment. An object is used from one thread at a time.
//
// This implementation forwards to the simulated cloud of the process (see
// cloudsim/Cloud.h); which cloud that is, the bridge learns from the agent's
// settings (section "CloudSim") unless a test installed one.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

#define BRIDGE_API __attribute__((visibility("default")))

class BRIDGE_API CAmazonSDKBridge {
public:
    CAmazonSDKBridge();
    virtual ~CAmazonSDKBridge();
    CAmazonSDKBridge(const CAmazonSDKBridge&) = delete;
    CAmazonSDKBridge& operator=(const CAmazonSDKBridge&) = delete;

    // ---- set-up ----
    virtual bool initialize(const std::string& focus, const std::string& appName, long long jobId);
    virtual void SetWebProxy(const std::string& host, const std::string& user, const std::string& password, int flags);
    // url: a region name or an endpoint URL naming the region
    // ("https://ec2.<region>.amazonaws.com"); empty uses the account's
    // default region.
    virtual bool Connect(const std::string& url, const std::string& accessKey, const std::string& secretKey);
    virtual void Disconnect();
    virtual void overrideRegion(const std::string& region);
    virtual std::string GetLastErrorString() const;

    // ---- identity ----
    virtual bool GetAccountId(std::string& accountId);
    virtual bool GetCanonicalId(std::string& canonicalId);
    virtual bool GetAwsArnPartition(std::string& partition);
    virtual std::string GetCurrentRegion() const;
    // Identity of the machine this process runs on, as the instance metadata
    // would tell it; empty when the machine is not an EC2 instance.
    virtual bool GetLocalInstanceId(std::string& instanceId);
    virtual bool GetLocalInstanceRegion(std::string& region);
    // The Outposts ARN of the instance; empty (and true) when it does not
    // run on an Outpost.
    virtual bool GetOutpostsAccountARN(const std::string& instanceId, const std::string& region, std::string& arn);

    // ---- inventory caches: negative is failure ----
    virtual int RefreshDCInfoList(ULONGLONG flags, int option);
    virtual void GetDCInfoList(std::vector<VMInfoStructs::SDataCenterInfo>& regions);
    virtual int RefreshHostInfoList(ULONGLONG flags, int option);
    virtual void GetHostInfoList(std::vector<VMInfoStructs::SHostInfo>& zones);

    // ---- flag conventions --------------------------------------------------
    // Where an operation ends in a bool "sourceCall" flag, as the plug-in
    // passes it, the flag only tells whether the call is made for the source
    // account side of a job; this bridge treats both values alike.
    //
    // Multi-valued tags hold several values joined with "#".
    // SetTag(resource, key, value, replace): replace=true sets the tag to the
    //   value; replace=false adds the value to the tag's "#"-joined list (no
    //   duplicate; the tag is created when absent).
    // DeleteTag(resource, key, value, dropEmpty): an empty value deletes the
    //   key; otherwise the value is removed from the list, and when no value is
    //   left the key is deleted if dropEmpty is true, else kept with an empty
    //   value. Deleting a tag that does not exist succeeds.
    // Resources are addressed by id ("i-", "vol-", "snap-", "ami-") in the
    // bridge's current region; an unknown id fails with the AWS not-found text
    // ("InvalidVolume.NotFound: The volume '<id>' does not exist." and alike).

    // ---- inventory look-ups: int results, 0 is failure ----
    // host and region narrow the search; both empty searches every region.
    virtual int GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
                               const std::string& region, ULONGLONG flags, int option, VMInfoStructs::SVMInfo& vm);
    virtual int GetHostInfoForHost(const std::string& zone, ULONGLONG flags, int option, VMInfoStructs::SHostInfo& host);
    virtual int GetDCInfoForDC(const std::string& region, ULONGLONG flags, int option, VMInfoStructs::SDataCenterInfo& dc);
    // Tag GUID parts: (region, tag key, tag value). Key empty: one type-25 node
    // per tag key in use in the region; value empty: one type-24 node per
    // value of that key. GUIDs of the nodes are the parts joined by "#$vm-+=".
    virtual int GetInventoryInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
                                           ULONGLONG flags, int option, std::vector<VMInfoStructs::SInventoryInfo>& nodes);
    // Instances carrying the tag key=value in region (value empty: any value).
    virtual int GetVMInfoListForTag(const std::string& region, const std::string& key, const std::string& value,
                                    ULONGLONG flags, int option, std::vector<VMInfoStructs::SVMInfo>& vms);
    virtual int GetVMInfoListForInstanceType(const std::string& region, const std::string& type, ULONGLONG flags,
                                             int option, std::vector<VMInfoStructs::SVMInfo>& vms);
    // One type-28 node per instance type (GUID region + "#$vm-+=" + type): all
    // types offered in the region when listAll, else the types in use.
    virtual int GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG flags, int option,
                                                 std::vector<VMInfoStructs::SInventoryInfo>& nodes, bool listAll);
    // -1 is failure; otherwise the number of instances of the account.
    virtual int RefreshVMInfoList(ULONGLONG flags, int option);
    virtual void GetVMInfoList(std::vector<VMInfoStructs::SVMInfo>& vms);
    virtual int GetAllInstanceTypeList(const std::string& region, std::vector<VMInfoStructs::SVMSizeInfo>& sizes);
    virtual int GetRoleInfoList(std::vector<VMInfoStructs::SRoleInfo>& roles);
    // Images of the account's region; a, b, c filter by name substring,
    // platform and state where non-empty.
    virtual bool GetFilteredAmis(const std::string& a, const std::string& b, const std::string& c,
                                 std::vector<VMInfoStructs::SImageInfo>& images);
    virtual bool GetVolumeEncryptionKeyList(const std::string& region,
                                            std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys);
    // exists: an instance with that id, or else that name, lives in the zone
    // (any zone when empty); vms gets the matches.
    virtual int DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone, bool& exists,
                            std::vector<VMInfoStructs::SVMInfo>& vms);

    // ---- instances ----
    virtual bool PowerOnVM(const std::string& name, const std::string& id, const std::string& region);
    virtual bool PowerOffVM(const std::string& name, const std::string& id, const std::string& region);
    virtual bool RebootVM(const std::string& name, const std::string& id, const std::string& region);
    // Launches an instance named vm.name from the AMI in vm.sourceId in
    // vm.zone (or the region's first zone) with vm.instanceType; fills vm.guid.
    // out receives the new instance id. creationFlag: start it stopped.
    virtual bool CreateVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out, bool creationFlag);
    // Changes the instance type and the Name tag of vm.guid.
    virtual bool EditVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out);
    // Terminates the instance. deleteVolumes: volumes still attached are
    // deleted with it (otherwise only those marked delete-on-termination).
    virtual bool DeleteVM(const std::string& name, const std::string& id, const std::string& region,
                          bool deleteVolumes, bool sourceCall);
    virtual bool GetPassword(const std::string& name, const std::string& id, const std::string& keyName,
                             std::string& password);
    virtual bool LogConsoleOutput(const std::string& instanceId);
    // Writes a JPEG of the instance's screen to file.
    virtual bool SaveInstanceScreenshot(const std::string& instanceId, const std::string& file);
    // Done (true) once the instance passed or failed its status checks.
    virtual bool IsInstanceValidationtaskCompleted(const std::string& instanceId, bool& succeeded);
    virtual bool ModifyNetworkInterface(const std::string& interfaceId, bool deleteOnTermination);
    // Subnet named name in the VPC named network; cidr like "10.0.3.0/24".
    virtual bool CreateIsolatedSubnet(const std::string& name, const std::string& network, std::string& subnetId,
                                      std::string& cidr, const std::string& option);
    virtual bool DeleteIsolatedSubnet(const std::string& subnetId);

    // ---- volumes ----
    // An empty volume like disk (zone, size, type, IOPS, encryption); fills
    // disk.newVolumeId.
    virtual bool CreateVolume(VMInfoStructs::SDisk& disk, bool sourceCall, const std::string& option);
    // A volume from a snapshot; size 0 keeps the snapshot's size.
    virtual bool CreateVolume(const std::string& snapshotId, const std::string& zone, const std::string& name,
                              const std::string& type, int iops, long long size, bool encrypted,
                              const std::string& kmsKeyId, std::string& volumeId,
                              const std::map<std::string, std::string>& tags, bool sourceCall,
                              const std::string& outpostArn);
    // conflict: the volume is attached elsewhere or the device is taken.
    // flag: the attachment is read-only for the instance (not enforced).
    virtual bool AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                              bool flag, const std::string& device, bool& conflict, bool sourceCall);
    virtual bool AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                                  bool flag, const std::string& device, bool& conflict, bool sourceCall);
    virtual bool DetachVolume(const std::string& volumeId, bool force, bool sourceCall);
    virtual bool DeleteVolume(const std::string& volumeId, bool sourceCall);
    virtual bool ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& type, int iops);
    // notFound is set (and true returned) when the volume does not exist.
    virtual bool GetVolumeInfo(const std::string& volumeId, const std::string& region, VMInfoStructs::SDisk& disk,
                               bool& notFound);
    // state: "modifying", "optimizing", "completed" or "failed".
    virtual bool GetVolumeModifyTaskInfo(const std::string& volumeId, const std::string& region, std::string& state);
    // Deletes the available volumes of the region tagged "_QX_BACKUP_" that
    // were created more than ageSeconds ago.
    virtual bool DeleteExpiredVolumes(const std::string& region, long long ageSeconds);

    // ---- snapshots and AMIs ----
    virtual bool CreateSnapshot(const std::string& volumeId, const std::string& name, const std::string& description,
                                std::string& snapshotId, bool sourceCall);
    virtual bool DeleteSnapshot(const std::string& snapshotId, const std::string& region);
    virtual bool GetSnapshotInfo(const std::string& snapshotId, const std::string& region,
                                 VMInfoStructs::SChildDisk& snapshot);
    // An AMI of the instance, one snapshot per attached volume (root first).
    virtual bool CreateAMISnapshot(const std::string& instanceId, const std::string& region, const std::string& name,
                                   const std::string& option, const std::string& description,
                                   std::vector<std::string>& snapshotIds, std::string& amiId);
    // Done (true) once the AMI is available (succeeded) or failed.
    virtual bool IsAMITaskCompleted(const std::string& amiId, bool& succeeded);
    virtual bool CancelAMITask(const std::string& amiId);
    virtual bool TagEBSSnapshotsForAMI(const std::string& amiId, const std::string& key, const std::string& value);
    // Deregisters the AMI and deletes its snapshots.
    virtual bool DeleteAMISnapshot(const std::string& amiId, bool sourceCall);
    // The same, only when the AMI is older than hours; a younger AMI is kept
    // and reported as failure with "AMIExpiry: AMI <id> has not expired".
    virtual bool DeleteExpiredAMISnapshot(const std::string& amiId, bool sourceCall, long long hours);
    virtual bool GetAMIListForTags(const std::map<std::string, std::string>& tags, std::vector<std::string>& amiIds);

    // ---- tags ----
    virtual bool SetTag(const std::string& resource, const std::string& key, const std::string& value, bool replace);
    virtual bool GetTag(const std::string& resource, const std::string& key, std::string& value);
    virtual bool DeleteTag(const std::string& resource, const std::string& key, const std::string& value,
                           bool dropEmpty);
    virtual bool GetTagList(const std::string& resource, std::map<std::string, std::string>& tags);

    // ---- S3 ----
    // Deletes the object or every object under the folder prefix of bucket.
    virtual bool DeleteFolder(const std::string& bucket, const std::string& region, const std::string& folder,
                              bool recursive);

    // Web proxy given to SetWebProxy (the simulated cloud does not use it).
    std::string GetWebProxyHost() const;
    bool IsInitialized() const;
    bool IsConnected() const;

private:
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};
