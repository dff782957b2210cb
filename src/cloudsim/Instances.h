#pragma once
// EC2 instances with what hangs off them: volume attachments, network
// interfaces, the VPCs and subnets they sit in, key pairs and instance
// types. The records, their JSON, how instances start, stop and pass their
// status checks, AWS's attachment rules and the AWS texts of their failures.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cloudsim/Async.h"
#include "cloudsim/Faults.h"
#include "cloudsim/Images.h"
#include "cloudsim/Volumes.h"

namespace cloudsim {

struct State;

struct NetworkInterface {
    std::string id;                      // "eni-..."
    std::string subnetId;
    std::string privateIp;
    std::string macAddress;
    bool deleteOnTermination = true;
};

struct Instance {
    std::string id;                      // "i-..."
    std::string account;
    std::string region;
    std::string zone;
    std::string instanceType = "t3.micro";
    // pending, running, stopping, stopped, shutting-down, terminated
    std::string state = "running";
    std::string platform = "linux";      // or "windows"
    std::string amiId;
    std::string biosUuid;
    std::string virtualizationType = "hvm";
    std::string outpostArn;              // non-empty on an Outpost
    // The root device name of the AMI it was launched from; empty: the
    // platform's ("/dev/sda1" on Windows, "/dev/xvda" otherwise).
    std::string rootDeviceName;
    std::vector<std::string> securityGroupIds;
    bool disableApiTermination = false;  // termination protection
    bool ebsOptimized = false;
    bool isTemplate = false;
    std::vector<std::string> volumeIds;  // attachment order; the first is the root
    std::map<std::string, std::string> tags;
    std::string keyName;                 // key pair it was launched with
    std::string password;                // Windows administrator password; empty on Linux
    std::string consoleOutput;
    // Status checks of a running instance: initializing, ok, impaired; empty
    // when not running.
    std::string statusCheck = "ok";
    std::vector<NetworkInterface> networkInterfaces;
    int64_t launchTimeMs = 0;
    Transition pending;                  // to: running, stopped or terminated
    Transition statusPending;            // to: ok (an "error" fault gives impaired)
};

struct KeyPair {
    std::string name;
    std::string account;
    std::string region;
    std::string fingerprint;
};

struct Vpc {
    std::string id;                      // "vpc-..."
    std::string account;
    std::string region;
    std::string name;
    std::string cidr;                    // "10.0.0.0/16"
};

struct Subnet {
    std::string id;                      // "subnet-..."
    std::string account;                 // seeds may leave both out: the VPC's
    std::string region;
    std::string vpcId;
    std::string name;
    std::string cidr;                    // "10.0.1.0/24"
    std::string zone;                    // may be empty
    // The Outpost the subnet lies on ("arn:aws:outposts:<region>:<owner>:
    // outpost/op-..."); empty: in the region itself.
    std::string outpostArn;
};

struct SecurityGroup {
    std::string id;                      // "sg-..."
    std::string account;                 // seeds may leave both out: the VPC's
    std::string region;
    std::string vpcId;
    std::string name;                    // group name, unique in its VPC
};

struct InstanceTypeInfo {
    std::string name;                    // "m5.large"
    int32_t cpus = 0;
    int64_t memoryMB = 0;
};

// The default instance-type offering (about ten common types) and the
// built-in table of their sizes (CPUs, memory).
const std::vector<InstanceTypeInfo>& BuiltinInstanceTypes();
const std::vector<std::string>& DefaultOfferedTypes();

const schema::Table<Instance>& InstanceTable();
const schema::Table<KeyPair>& KeyPairTable();
const schema::Table<Vpc>& VpcTable();
const schema::Table<Subnet>& SubnetTable();
const schema::Table<SecurityGroup>& SecurityGroupTable();
const schema::Table<InstanceTypeInfo>& InstanceTypeTable();

// Every instance lies in a known account, region and zone, lists only known
// volumes not attached elsewhere, and (unless terminated) names only known
// subnets. A hand-written seed lists a volume only under its instance; the
// volume's side of the attachment is filled in here so that both sides
// always agree.
void CheckInstances(State& s);
// VPCs, subnets, security groups and key pairs lie in known accounts and
// regions; a subnet or group left without account or region takes its VPC's.
void CheckNetwork(State& s);
// Instances start, stop and terminate and pass their status checks.
void SettleInstances(State& s, int64_t nowMs);

// ---- attachments ----
// Both sides of an attachment go at once.
void DropAttachment(State& s, Volume& v);
// Starts a detachment that completes after the cloud's timing; fault as
// Transition::fault.
void StartDetach(State& s, Volume& v, int64_t nowMs, const std::string& fault);
// The instance's root device name: its AMI's, else "/dev/sda1" for Windows
// and "/dev/xvda" otherwise.
std::string RootDeviceOf(const Instance& inst);
bool IsRootDevice(const std::string& device);
// The first of "/dev/sdf" ... "/dev/sdz" no volume of inst uses; empty when none is left.
std::string NextFreeDevice(const State& s, const Instance& inst);
// The volume of inst at device; null when none is.
const Volume* VolumeAtDevice(const State& s, const Instance& inst, const std::string& device);
// The volume is the first of its instance's volumes.
bool IsRootVolume(const State& s, const Volume& v);

// A volume may replace the root volume of inst only while inst is stopped
// and has none (AWS: the root device must be free and the instance
// stopped); false with AWS's text otherwise.
bool CheckRootAttach(const State& s, const Instance& inst, std::string& error);
// A volume on an Outpost attaches only to an instance on the same Outpost.
bool CheckOutpostAttach(const Volume& v, const Instance& inst, std::string& error);

// AttachVolume: the account's volume, available and unattached, to its
// running or stopped instance in the same zone (and on the same Outpost), at
// device (empty: the next free one). asRoot puts it at the instance's root
// device instead, as CheckRootAttach allows. "in-use" at once, its
// attachment "attaching" for the cloud's attachMs; effect as
// Transition::fault. conflict is set when another attachment holds the
// volume or the device.
bool AttachVolume(State& s, const std::string& volumeId, const std::string& instanceId, const std::string& account,
                  const std::string& region, const std::string& device, bool asRoot, int64_t nowMs,
                  const std::string& effect, bool& conflict, std::string& error);
// DetachVolume: only an attached volume. A detachment under way is left as
// it is unless forced: a forced one starts over, as AWS frees a volume
// stuck detaching. effect as Transition::fault.
bool DetachVolume(State& s, Volume& v, bool force, int64_t nowMs, const std::string& effect, std::string& error);

// ---- launching and powering ----
// RunInstances, as far as a restore uses it. Ids given for the subnet,
// security groups (ids or group names) and key pair are looked up in the
// account and region.
struct LaunchRequest {
    std::string account;
    std::string region;
    std::string zone;                    // must be one of the region's
    std::string imageId;                 // an available AMI the account may use
    std::string instanceType;            // empty: the AMI's, else t3.micro
    std::string subnetId;                // empty: the zone's default subnet
    // An existing interface as device 0 instead of a new one: it must be
    // available (its instance terminated and the interface kept) and in the
    // launch's zone; it moves to the new instance.
    std::string interfaceId;
    std::vector<std::string> securityGroups;
    std::string keyName;
    bool disableApiTermination = false;
    bool ebsOptimized = false;
    // Unknown security groups and key pair: true launches without them and
    // reports each in warnings; false fails as RunInstances does.
    bool skipUnknown = false;
};
// Creates the instance "pending" (StartInstance) with one volume per
// snapshot of the image, the root at the image's root device; effect as
// StartInstance. Fails with AWS's text for an unknown zone, image, type
// (InvalidParameterValue when no such type exists, Unsupported when the
// region does not offer it), subnet (not found, or in another zone).
Instance* LaunchInstance(State& s, const LaunchRequest& launch, int64_t nowMs, const std::string& effect,
                         std::vector<std::string>& warnings, std::string& error);
// The public base image of region for platform ("linux", "windows"): the
// oldest available public AMI owned by Amazon or Microsoft, by creation
// time and then id; null when the region has none.
const Image* BaseImageFor(const State& s, const std::string& region, const std::string& platform);
// The image a restore launches from: imageId when account may use it in
// region and it is available, else the region's base image for platform;
// null with AWS's text when neither is.
const Image* ImageToLaunch(const State& s, const std::string& imageId, const std::string& account,
                           const std::string& region, const std::string& platform, std::string& error);
// DescribeInstances as a wait for wanted sees it: 1 once the instance is
// there, 0 while a change is under way, -1 with AWS's text once it rests
// in another state (or is gone: inst null, id its id).
int InstanceWaitOutcome(const Instance* inst, const std::string& id, const std::string& wanted, std::string& error);
// DescribeVolumes as a wait for a detachment sees it: 1 once v is detached
// (or gone: null), 0 while attached, -1 with AWS's text once it failed.
int DetachWaitOutcome(const Volume* v, const std::string& id, std::string& error);
// type exists and region offers it (RunInstances' texts, see LaunchInstance).
bool CheckLaunchType(const State& s, const std::string& region, const std::string& type, std::string& error);
// Boots inst: pending, then running after the cloud's timing, with its
// status checks initializing until statusCheckMs later. effect as
// FaultHit::EffectFor: "stuck" holds it pending, "error" impairs its checks.
void BootInstance(State& s, Instance& inst, int64_t nowMs, const std::string& effect);
// The "ec2..." UUID a Xen/Nitro instance's BIOS reports, derived from its id.
std::string BiosUuidFor(const std::string& id);
// What a freshly booted instance prints on its console.
std::string ConsoleFor(const Instance& inst);
// The first of subnet's addresses not given to an interface yet (from .10 on).
std::string NextPrivateIp(const State& s, const Subnet& subnet);
// The account's subnet in zone, else one of the region's without a zone; null when none.
const Subnet* DefaultSubnet(const State& s, const std::string& account, const std::string& region,
                            const std::string& zone);
// type is offered in region; false with the AWS text otherwise.
bool CheckOffered(const State& s, const std::string& region, const std::string& type, std::string& error);

// ---- requests on one instance, as EC2 answers them ----
// The account's instance in region named by id or, when id is empty, by its
// Name tag; a terminated one only with withTerminated (AWS still describes
// it for a while, but acts on it no more). Null with AWS's text otherwise.
Instance* FindInstance(State& s, const std::string& name, const std::string& id, const std::string& account,
                       const std::string& region, bool withTerminated, std::string& error);
const Instance* FindInstance(const State& s, const std::string& name, const std::string& id,
                             const std::string& account, const std::string& region, bool withTerminated,
                             std::string& error);
// StartInstances: a stopped instance boots (BootInstance, effect as there);
// one running or pending is left as it is; any other state is refused.
bool StartInstance(State& s, Instance& inst, int64_t nowMs, const std::string& effect, std::string& error);
// StopInstances: running or pending -> stopping, then stopped after the
// cloud's timing ("stuck" holds it stopping); one stopped or stopping is
// left as it is; any other state is refused.
bool StopInstance(State& s, Instance& inst, int64_t nowMs, const std::string& effect, std::string& error);
// RebootInstances: only a running instance reboots; nothing else changes.
bool RebootInstance(const Instance& inst, std::string& error);
// TerminateInstances: shutting-down, then terminated after the cloud's
// timing ("stuck" holds it shutting down); refused under termination
// protection, and one terminating already is left as it is. Its volumes
// that go with it (deleteOnTermination, or every one with deleteVolumes)
// are deleted, the others detached.
bool TerminateInstance(State& s, Instance& inst, bool deleteVolumes, int64_t nowMs, const std::string& effect,
                       std::string& error);
// ModifyInstanceAttribute instanceType: only on a stopped instance, and only
// to a type the region offers. The type it has already changes nothing.
bool ModifyInstanceType(const State& s, Instance& inst, const std::string& type, std::string& error);
// GetPasswordData: a Windows instance's password, for the key pair it was
// launched with.
bool GetPasswordData(const Instance& inst, const std::string& keyName, std::string& password, std::string& error);
// GetConsoleScreenshot: only of a running instance.
bool CheckScreenshot(const Instance& inst, std::string& error);
// DescribeInstanceStatus as a wait sees it: false while the instance is
// pending or its checks initialise; true once they are over, succeeded
// when it runs with its checks ok, else failure holds AWS's text.
bool StatusChecksOver(const Instance& inst, bool& succeeded, std::string& failure);

// The framework's own launch (CreateVirtualMachine): zone (empty: the
// region's first), an AMI the account may use, an offered type (empty: the
// AMI's, else t3.micro), an existing key pair and subnet (empty: the zone's
// default), the Name tag. stopped creates it stopped, without booting.
struct CreateRequest {
    std::string account;
    std::string region;
    std::string zone;
    std::string imageId;
    std::string instanceType;
    std::string keyName;
    std::string subnetId;
    std::string name;
    bool stopped = false;
};
// Creates the instance with one volume per snapshot of the image, the root
// at the image's root device; hit gives the effect on the instance and
// image ids (as BootInstance). Null with AWS's text when refused.
Instance* CreateInstance(State& s, const CreateRequest& request, int64_t nowMs, const FaultHit& hit, std::string& error);

// ---- network requests (Network.cpp) ----
// ModifyNetworkInterfaceAttribute deleteOnTermination of an interface of
// one of account's instances in region that has not terminated.
bool SetInterfaceDeleteOnTermination(State& s, const std::string& account, const std::string& region,
                                     const std::string& interfaceId, bool deleteOnTermination, std::string& error);
// DeleteNetworkInterface: only one left behind by its terminated instance.
bool DeleteNetworkInterface(State& s, const std::string& account, const std::string& region,
                            const std::string& interfaceId, std::string& error);
// CreateSubnet at cidr in account's VPC vpcId in region, tagged Name name:
// inside the VPC's block, overlapping none of its subnets.
Subnet* CreateSubnet(State& s, const std::string& account, const std::string& region, const std::string& vpcId,
                     const std::string& cidr, const std::string& name, std::string& error);
// DeleteSubnet: the account's own, and not while an interface of an
// instance that has not terminated sits in it.
bool DeleteSubnet(State& s, const std::string& account, const std::string& region, const std::string& subnetId,
                  std::string& error);

// ---- AWS error texts ----
std::string InstanceNotFound(const std::string& id);
// An instance looked up by its Name tag that no instance carries.
std::string InstanceNamedNotFound(const std::string& name);
// AttachVolume of a volume another attachment holds.
std::string VolumeInUse(const std::string& volumeId);
// "IncorrectInstanceState: The instance '<id>" followed by what.
std::string IncorrectState(const std::string& id, const std::string& what);
std::string SubnetNotFound(const std::string& id);
// TerminateInstances on an instance with termination protection.
std::string TerminationProtected(const std::string& id);

}  // namespace cloudsim
