#pragma once
// CAmazonSDKBridge: one AWS account's service connection. The only way the
// plug-in reaches AWS other than the EBS direct APIs.
//
// Set-up order: construct, initialize, SetWebProxy (optional), Connect,
// overrideRegion whenever an operation targets another region, Disconnect.
// Operations returning bool: true on success; on false GetLastErrorString()
// holds an AWS-like error text ("<Code>: <message>"). Every call that
// succeeds leaves GetLastErrorString() empty, so a text never outlives the
// call that failed. Integer results follow
// each operation's comment. An object is used from one thread at a time.
//
// Two backends stand behind this class, chosen when the object is made by
// the setting Bridge/sBackend: the simulated cloud of the process (empty or
// "cloudsim", the default; see cloudsim/Cloud.h) or AWS itself over its wire
// protocols ("aws"). Both keep the contract written here; an operation a
// backend does not offer yet fails with a text that names it.
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

#define BRIDGE_API __attribute__((visibility("default")))

namespace bridgeimpl {
class Backend;
}

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
    // A bridge sees only its own account's resources (public AMIs and their
    // snapshots excepted): another account's id is not found, as in AWS.
    // Where an operation takes a region, it is used (empty or "default": the
    // current region; a zone names its region).
    //
    // Asynchronous work: a request starts a change and returns; the resource
    // then goes through AWS's states (creating, attaching, pending ...) and
    // completes after the simulated cloud's timing, in framework-clock time.
    // States are reported in AWS's lower-case text ("creating", "available",
    // "in-use", "deleting", "error"; "pending", "completed"); compare them
    // without regard to case.

    // ---- inventory look-ups: int results, 0 is failure, 1 success ----
    // An instance by guid, else by its Name tag; host (a zone) and region
    // narrow the search; both empty searches every region. Terminated
    // instances are not found ("InvalidInstanceID.NotFound: The instance ID
    // '<id>' does not exist"). A guid "ami-..." gives that AMI as a template
    // record: one disk per snapshot, root first, volumeId = the snapshot's
    // source volume, snapshotId set, disk kind 1.
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
    // Temporary credentials of the role (STS AssumeRole), valid for an hour.
    virtual bool GenerateAssumeRoleSessionCredentials(const std::string& roleArn, std::string& accessKeyId,
                                                      std::string& secretAccessKey, std::string& sessionToken);
    virtual int GetRoleInfoList(std::vector<VMInfoStructs::SRoleInfo>& roles);
    // Images of the current region, the account's and public ones; a, b, c
    // filter by name substring, platform and state (the last two without
    // regard to case) where non-empty.
    virtual bool GetFilteredAmis(const std::string& a, const std::string& b, const std::string& c,
                                 std::vector<VMInfoStructs::SImageInfo>& images);
    // The account's EBS keys in region; the managed "alias/aws/ebs" key is
    // always there (listed first when the cloud does not hold it).
    virtual bool GetVolumeEncryptionKeyList(const std::string& region,
                                            std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys);
    // exists: an instance with that id, or else that name, lives in the zone
    // (any zone when empty); vms gets the matches.
    virtual int DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone, bool& exists,
                            std::vector<VMInfoStructs::SVMInfo>& vms);

    // ---- instances ----
    // name, id: the instance by id, or by its Name tag when id is empty.
    // Power: stopped -> pending -> running, running -> stopping -> stopped;
    // asking for the state an instance is in or heading to succeeds. Status
    // checks start when it is running: initializing, then ok (or impaired).
    virtual bool PowerOnVM(const std::string& name, const std::string& id, const std::string& region);
    virtual bool PowerOffVM(const std::string& name, const std::string& id, const std::string& region);
    virtual bool RebootVM(const std::string& name, const std::string& id, const std::string& region);
    // Launches an instance named vm.name from the AMI in vm.sourceId in
    // vm.zone (or the region's first zone) of vm.region (or the current one)
    // with vm.instanceType (else the AMI's source type); fills vm.guid.
    // out receives the new instance id. creationFlag: start it stopped.
    // One new volume per AMI snapshot is attached, the root first (delete on
    // termination), the others from /dev/sdf on (not deleted with it). Key
    // pair: vm.keyPairs[0]; subnet: vm.networkCards[0].subnetId, else the
    // zone's.
    virtual bool CreateVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out, bool creationFlag);
    // Changes the instance type (the instance must be stopped) and the Name
    // tag of vm.guid, where given.
    virtual bool EditVirtualMachine(VMInfoStructs::SVMInfo& vm, std::string& out);
    // Terminates the instance (shutting-down, then terminated). deleteVolumes:
    // volumes still attached are deleted with it (otherwise only those marked
    // delete-on-termination; the others are detached). Terminating a
    // terminated instance succeeds.
    virtual bool DeleteVM(const std::string& name, const std::string& id, const std::string& region,
                          bool deleteVolumes, bool sourceCall);
    // The Windows password, only with the instance's key pair name
    // ("InvalidParameterValue: key pair does not match"); Linux instances
    // have none ("PasswordDataUnavailable: ...").
    virtual bool GetPassword(const std::string& name, const std::string& id, const std::string& keyName,
                             std::string& password);
    // Writes the instance's console output to the debug log.
    virtual bool LogConsoleOutput(const std::string& instanceId);
    // Writes a JPEG of the instance's screen to file (a running instance).
    virtual bool SaveInstanceScreenshot(const std::string& instanceId, const std::string& file);
    // Done (true) once the instance passed (succeeded) or failed its status
    // checks; false while they run. A failed call, or an instance that is not
    // running, counts as done without success, the reason in
    // GetLastErrorString.
    virtual bool IsInstanceValidationtaskCompleted(const std::string& instanceId, bool& succeeded);
    virtual bool ModifyNetworkInterface(const std::string& interfaceId, bool deleteOnTermination);
    // Deletes an interface that is attached to no running instance: one
    // left behind by a terminated instance because it was not to be
    // deleted on termination. An interface in use is refused
    // ("InvalidNetworkInterface.InUse: ...").
    virtual bool DeleteNetworkInterface(const std::string& interfaceId);
    // Subnet named name in the VPC named network (its Name or id) of the
    // current region: the next /24 block of the VPC's CIDR that no subnet
    // uses; cidr like "10.0.3.0/24". option is not used.
    virtual bool CreateIsolatedSubnet(const std::string& name, const std::string& network, std::string& subnetId,
                                      std::string& cidr, const std::string& option);
    virtual bool DeleteIsolatedSubnet(const std::string& subnetId);

    // ---- volumes ----
    // Volumes are created in a zone of the current region ("creating", then
    // "available"), sized in whole GiB (rounded up), within AWS's size and
    // IOPS bounds of their type (IOPS apply to io1, io2 and gp3 only).
    // Encrypted ones without a key get the account's default EBS key; a key
    // given (id, ARN or alias) must exist for the account and be Enabled, and
    // the volume takes it (re-encrypting a snapshot's data).
    // An empty volume like disk (zone, size, type, IOPS, encryption); fills
    // disk.newVolumeId. option: the proxy's Outposts ARN, when it has one
    // ("arn:aws:outposts:..."), puts the volume on that Outpost.
    virtual bool CreateVolume(VMInfoStructs::SDisk& disk, bool sourceCall, const std::string& option);
    // A volume from a snapshot (the account's, a public one or one shared
    // with the account, completed; an encrypted one of another account only
    // when its key's policy lets this account use the key);
    // size 0 keeps the snapshot's size, a smaller size fails; an empty type
    // keeps the snapshot's volume type; tags are set on it, and name as its
    // Name tag when not empty; outpostArn is kept with it.
    virtual bool CreateVolume(const std::string& snapshotId, const std::string& zone, const std::string& name,
                              const std::string& type, int iops, long long size, bool encrypted,
                              const std::string& kmsKeyId, std::string& volumeId,
                              const std::map<std::string, std::string>& tags, bool sourceCall,
                              const std::string& outpostArn);
    // The volume must be "available", unattached and in the instance's zone
    // (the zone argument is not used), and, when it is on an Outpost, the
    // instance on the same Outpost. As in AWS it is "in-use" from the request
    // on, with GetVolumeInfo's attachState "attaching" and then "attached".
    // device empty: the next free of "/dev/sdf", "/dev/sdg", ...
    // AttachAsOSVolume: always the instance's root device (its AMI's root
    // device name; device is not used), as its first volume; the instance
    // must be stopped and have no root volume ("IncorrectState: The instance
    // '<id>' is not in the 'stopped' state." / "InvalidParameterValue:
    // Attachment point <root> is already in use").
    // conflict: the volume is attached elsewhere or the device is taken
    // ("VolumeInUse: ..." / "InvalidParameterValue: Attachment point ...").
    // flag: the attachment is read-only for the instance (not enforced).
    virtual bool AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                              bool flag, const std::string& device, bool& conflict, bool sourceCall);
    virtual bool AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                                  bool flag, const std::string& device, bool& conflict, bool sourceCall);
    // "in-use" (attachState "detaching") while detaching, then "available";
    // force detaches the same way.
    virtual bool DetachVolume(const std::string& volumeId, bool force, bool sourceCall);
    // "deleting", then gone; an attached volume is refused ("VolumeInUse:
    // Volume <id> is currently attached to <instance>").
    virtual bool DeleteVolume(const std::string& volumeId, bool sourceCall);
    // Starts a modification to type and/or IOPS (empty / 0: unchanged),
    // applied when it reaches "optimizing". IOPS go with a type that takes
    // them only (io1, io2, gp3); the result must be within that type's
    // bounds, and IOPS for a volume of a type without them are refused.
    virtual bool ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& type, int iops);
    // notFound is set (and true returned) when the volume does not exist;
    // disk.state is AWS's lower-case state.
    virtual bool GetVolumeInfo(const std::string& volumeId, const std::string& region, VMInfoStructs::SDisk& disk,
                               bool& notFound);
    // state: "modifying", "optimizing", "completed" or "failed" (a volume
    // never modified fails with InvalidVolumeModification.NotFound).
    virtual bool GetVolumeModifyTaskInfo(const std::string& volumeId, const std::string& region, std::string& state);
    // Deletes the available volumes of the region tagged "_QX_BACKUP_" that
    // were created more than ageSeconds ago. A value of 10^9 or more reads as
    // a time (seconds since the epoch): volumes created before it go.
    virtual bool DeleteExpiredVolumes(const std::string& region, long long ageSeconds);

    // ---- snapshots and AMIs ----
    // Snapshots are "pending", then "completed" (or "error"); name becomes
    // the Name tag when not empty. GetSnapshotInfo fills the SChildDisk's
    // size (and used size) in KiB, and its
    // state with that text.
    virtual bool CreateSnapshot(const std::string& volumeId, const std::string& name, const std::string& description,
                                std::string& snapshotId, bool sourceCall);
    virtual bool DeleteSnapshot(const std::string& snapshotId, const std::string& region);
    virtual bool GetSnapshotInfo(const std::string& snapshotId, const std::string& region,
                                 VMInfoStructs::SChildDisk& snapshot);
    // An AMI of the instance, one snapshot per attached volume (root first);
    // "pending", then "available" with its snapshots completed.
    // region: a region or a zone (empty: the current region). name: the
    // AMI's Name tag. option: the AMI name, unique in the account and region
    // ("InvalidAMIName.Duplicate: ..."); empty gives name + "_" + AMI id.
    // snapshotIds: in, volume ids to leave out (never the root); out, the
    // AMI's snapshot ids, root first.
    virtual bool CreateAMISnapshot(const std::string& instanceId, const std::string& region, const std::string& name,
                                   const std::string& option, const std::string& description,
                                   std::vector<std::string>& snapshotIds, std::string& amiId);
    // Done (true) once the AMI is available (succeeded) or failed, cancelled
    // or deregistered; false while pending. A failed call (an unknown AMI ...)
    // counts as done without success, the reason in GetLastErrorString.
    virtual bool IsAMITaskCompleted(const std::string& amiId, bool& succeeded);
    // A pending AMI becomes "cancelled", its unfinished snapshots "error".
    virtual bool CancelAMITask(const std::string& amiId);
    // Sets the tag (replacing) on every snapshot of the AMI.
    virtual bool TagEBSSnapshotsForAMI(const std::string& amiId, const std::string& key, const std::string& value);
    // Deregisters the AMI and deletes its snapshots (also a pending,
    // failed or already deregistered AMI).
    virtual bool DeleteAMISnapshot(const std::string& amiId, bool sourceCall);
    // The same, only when the AMI is older than hours; a younger AMI is kept
    // and reported as failure with "AMIExpiry: AMI <id> has not expired".
    virtual bool DeleteExpiredAMISnapshot(const std::string& amiId, bool sourceCall, long long hours);
    // The AMIs of the current region that carry all the tags with exactly
    // those values, oldest first.
    virtual bool GetAMIListForTags(const std::map<std::string, std::string>& tags, std::vector<std::string>& amiIds);

    // ---- restore ----
    // Makes the instance the restored volumes are attached to, in vm.zone
    // (vm.region) with vm.name, vm.instanceType (empty or "AUTO": the AMI's
    // type), vm.networkCards[0].subnetId (else the zone's default subnet),
    // vm.securityGroups, vm.keyPairs[0] and tags (plus "Name" and an empty
    // "_QX_BACKUP_", which marks it as the job's until the job removes it).
    // Launched from vm.amiId, else from the region's base image for
    // vm.guestOS; it is left stopped. osDiskExists: its launched root volume
    // is detached and deleted, so that the restored OS volume can be attached
    // at the root device. reuseExisting: nothing is launched; the instance
    // vm.guid is stopped and, with osDiskExists, its root volume detached
    // (kept, not deleted). Fills vm.guid (as soon as an instance exists, also
    // when a later step fails), vm.region, vm.zone, vm.instanceType and
    // vm.amiId (the image launched from). Also sets termination protection
    // and EBS optimisation from vm. Returns once the instance is stopped (and
    // its root volume detached): the launch goes through AWS's states
    // (pending, running, stopping, stopped), waited for on the framework
    // clock. Unknown security groups (ids or names) and key pair: launched
    // without them; on success GetLastErrorString() then holds those
    // warnings ("; "-joined), else it is empty. Fails with AWS's texts for
    // an unknown zone, instance type (InvalidParameterValue; Unsupported when
    // the region does not offer it) or subnet, or one in another zone.
    virtual bool RestoreVirtualMachine(VMInfoStructs::SVMInfo& vm, bool osDiskExists,
                                       const std::map<std::string, std::string>& tags, bool reuseExisting);
    // Gives (takes back) another account create-volume permission on the
    // snapshot (accountId: 12 digits). Snapshots encrypted with the AWS
    // managed key cannot be shared ("InvalidParameter: Snapshots encrypted
    // with the AWS Managed CMK can't be shared. Specify another snapshot.").
    virtual bool ShareSnapshot(const std::string& snapshotId, const std::string& accountId);
    virtual bool UnshareSnapshot(const std::string& snapshotId, const std::string& accountId);
    // A KMS key of region by id, ARN or "alias/<name>": its ARN and state
    // ("Enabled", "Disabled", "PendingDeletion", "PendingImport", ...).
    // notFound (and true) when the account has no such key (another
    // account's key is found by its ARN when its policy lets this account
    // use it). description is the key's description text.
    virtual bool DescribeEncryptionKey(const std::string& region, const std::string& keyId, std::string& keyArn,
                                       bool& notFound, std::string& keyState, std::string* description = nullptr);
    // A customer managed key of region named "alias/" + name; its ARN in
    // keyArn. An alias in use fails ("AlreadyExistsException: ...").
    virtual bool CreateEncryptionKey(const std::string& region, const std::string& name, std::string& keyArn);
    // A grant on the account's own customer managed key letting principal
    // ("arn:aws:iam::<account>:root") use it. Each call makes a new grant,
    // up to KMS's quota of 50,000 grants per key ("LimitExceededException: ...").
    virtual bool CreateEncryptionKeyGrant(const std::string& region, const std::string& keyArn,
                                          const std::string& principal);
    // The grantee principal of every grant on the account's own key.
    virtual bool ListEncryptionKeyGrantees(const std::string& region, const std::string& keyArn,
                                           std::vector<std::string>& principals);
    // The key (id, ARN or alias) is the account's default EBS key of region
    // (the AWS managed "alias/aws/ebs"); false also when it cannot be told.
    virtual bool IsDefaultEncryptKey(const std::string& keyId, const std::string& region);
    // The account's volume is encrypted with its default EBS key; false also
    // when it cannot be told (the reason in GetLastErrorString).
    virtual bool IsVolumeDefaultEncrypted(const std::string& volumeId, const std::string& region);
    // CopySnapshot of a completed snapshot the account may see in
    // sourceRegion, sent to destinationRegion: a new "pending" snapshot of the
    // account that completes later. The copy is encrypted when the source is
    // or encrypted is set: with kmsKeyId when given (a key the account may
    // use), else the source's key within its region, else the default key.
    virtual bool CopySnapshot(const std::string& snapshotId, const std::string& sourceRegion,
                              const std::string& destinationRegion, bool encrypted, const std::string& kmsKeyId,
                              std::string& newSnapshotId);
    // The Outposts ARN of the subnet's Outpost; empty (and true) when the
    // subnet is in the region itself.
    virtual bool GetOutpostAccountARNForSubnet(const std::string& subnetId, const std::string& region,
                                               std::string& arn);

    // ---- tags ----
    // See the flag conventions above. GetTag gives an empty value for a key
    // the resource does not have. AWS's limits hold: no "aws:" keys, keys up
    // to 128 and values up to 256 characters.
    virtual bool SetTag(const std::string& resource, const std::string& key, const std::string& value, bool replace);
    virtual bool GetTag(const std::string& resource, const std::string& key, std::string& value);
    virtual bool DeleteTag(const std::string& resource, const std::string& key, const std::string& value,
                           bool dropEmpty);
    virtual bool GetTagList(const std::string& resource, std::map<std::string, std::string>& tags);

    // ---- S3 ----
    // Deletes the object or every object under the folder prefix of bucket
    // (without recursive, not those in sub-folders); nothing to delete is
    // success. region is not used. "NoSuchBucket: The specified bucket does
    // not exist"; another account's bucket: "AccessDenied: Access Denied".
    virtual bool DeleteFolder(const std::string& bucket, const std::string& region, const std::string& folder,
                              bool recursive);
    // The bucket's region (GetBucketLocation); false when it does not exist
    // or this account may not use it ("AccessDenied: Access Denied").
    virtual bool GetBucketLocation(const std::string& bucket, std::string& location);
    // The canonical id of the bucket's owner (GetBucketAcl). Bucket names are
    // global: a name may be taken by any account.
    virtual bool GetBucketOwner(const std::string& bucket, std::string& ownerCanonicalId);
    // A new bucket of this account in region; a name taken by another
    // account: "BucketAlreadyExists: The requested bucket name is not
    // available. ...", by this one: "BucketAlreadyOwnedByYou: ...".
    virtual bool CreateBucket(const std::string& bucket, const std::string& region);
    // Grants full control of an owned bucket to canonicalId (the middle text
    // is unused).
    virtual bool ShareBucket(const std::string& bucket, const std::string& unused, const std::string& canonicalId);
    // Puts the local file's bytes at key; DoesS3FileExist tells whether key
    // is there. bucketRegion is not used (S3 names are global).
    virtual bool UploadFileToS3(const std::string& bucket, const std::string& bucketRegion, const std::string& key,
                                const std::string& localFile);
    virtual bool DoesS3FileExist(const std::string& bucket, const std::string& bucketRegion, const std::string& key,
                                 bool& exists);

    // ---- SSM run-command: int results, 0 is failure ----
    // Sends script to the instance in region, as AWS-RunShellScript when
    // nonWindows, else AWS-RunPowerShellScript; its output goes to bucket
    // under folder + "/RunCommandDir" (no output when bucket is empty).
    // extra becomes the command's comment. error holds the AWS text.
    virtual int RunScriptOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
                                 const std::string& instanceId, const std::string& script, const std::string& extra,
                                 std::string& commandId, std::string& error, bool nonWindows);
    // Non-zero once the command finished (Success, Failed, Cancelled,
    // TimedOut, given in status); success only for Success. Zero while it
    // runs, and when the call fails.
    virtual int isCommandComplete(const std::string& region, const std::string& commandId, std::string& status,
                                  bool& success);
    // Cancelling a finished command changes nothing and succeeds.
    virtual bool CancelCommand(const std::string& region, const std::string& commandId, std::string& error);
    // The command's stdout (output) and stderr (error, empty when none) as
    // the agent left them under folder + "/RunCommandDir".
    virtual bool GetRunCommandResult(const std::string& bucket, const std::string& bucketRegion,
                                     const std::string& folder, const std::string& instanceId,
                                     const std::string& commandId, std::string& output, std::string& error);
    // A PowerShell Read-S3Object on the instance that writes the object at
    // key to destination (folders made as needed); output as for
    // RunScriptOnGuest under folder. Both texts go as data, quoted.
    virtual int DownloadS3FileOnGuest(const std::string& region, const std::string& bucket, const std::string& folder,
                                      const std::string& key, const std::string& instanceId,
                                      const std::string& destination, bool nonWindows, std::string& commandId);


    // ---- block data and direct reads ----
    // One allocated block of a snapshot as the EBS direct APIs list it.
    struct SAwsEbsBlockInfo {
        std::string blockToken;
        long long blockIndex = 0;
        // When the token stops being accepted (the listing's ExpiryTime), in
        // milliseconds since the epoch; 0 when the listing gave none.
        long long expiryMs = 0;
    };
    // Reads length bytes at offset of the snapshot's data into buffer
    // (unallocated ranges read as zeros); false past the snapshot's end.
    virtual bool ReadFromSnapshot(const std::string& snapshotId, const std::string& region, long long offset,
                                  long long length, unsigned char* buffer);
    // The snapshot's block size and every allocated block with its token.
    virtual bool GetDirectSnapshotAccessInfo(const std::string& snapshotId, const std::string& region, int& blockSize,
                                             std::vector<SAwsEbsBlockInfo>& blocks);
    // The allocated blocks of a snapshot, and the blocks that differ between
    // two snapshots of one volume lineage (EBS ListSnapshotBlocks and
    // ListChangedBlocks, every page): each extent gets its block index only;
    // blockSize is the snapshot's block size. The last argument is unused.
    virtual bool GetAllocatedBlockList(const std::string& snapshotId, const std::string& region,
                                       VMInfoStructs::SDiskChangeInfo& info, int& blockSize, long long& unused);
    virtual bool GetChangedBlockList(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                                     const std::string& region, VMInfoStructs::SDiskChangeInfo& info, int& blockSize,
                                     long long& unused);
    // The first page of the same lists (ListSnapshotBlocks or
    // ListChangedBlocks once): at most maxResults blocks, AWS's largest page
    // when maxResults is 0 or more than that. Enough to learn whether the
    // APIs answer for the account and region without listing a whole disk.
    virtual bool GetAllocatedBlockPage(const std::string& snapshotId, const std::string& region, int maxResults,
                                       VMInfoStructs::SDiskChangeInfo& info, int& blockSize);
    virtual bool GetChangedBlockPage(const std::string& previousSnapshotId, const std::string& currentSnapshotId,
                                     const std::string& region, int maxResults, VMInfoStructs::SDiskChangeInfo& info,
                                     int& blockSize);
    // Prepares (and releases) the bridge's own read access to a snapshot;
    // ReadFromSnapshot works without it, it only saves repeated listings.
    virtual bool FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region);
    virtual bool ClearSnapshotAccessInfo(const std::string& snapshotId);
    // allowed: the account may run every listed action (e.g.
    // "ebs:GetSnapshotBlock"); false with an error when the check itself fails.
    virtual bool CheckPermissions(const std::vector<std::string>& actions, bool& allowed);
    // True when the volume carries an AWS Marketplace product code (such a
    // volume cannot be attached to another instance).
    virtual bool IsMarketPlaceVolume(const std::string& volumeId, const std::string& region);
    // Descriptive name/value pairs of a volume (type, size, IOPS, ...).
    virtual bool GetDiskMetadata(const std::string& volumeId, const std::string& region,
                                 std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata);
    // "us-east-1" for "us-east-1a"; empty when the zone is unknown.
    virtual std::string GetRegionFromZone(const std::string& zone);

    // Web proxy given to SetWebProxy (the simulated cloud does not use it).
    std::string GetWebProxyHost() const;
    bool IsInitialized() const;
    bool IsConnected() const;

private:
    std::unique_ptr<bridgeimpl::Backend> m_backend;
};
