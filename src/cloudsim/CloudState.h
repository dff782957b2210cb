#pragma once
// The simulated AWS cloud's state: plain data, serialisable to JSON. Every
// field added after the first seeds is optional in JSON, so older seeds and
// state folders still load.
//
// Asynchronous work: a resource whose change is under way carries a
// Transition (where it goes, when it gets there, and whether a fault rule
// stalled it or made it fail). Settle() applies every transition that is due
// at a given time; the cloud runs it at the start of each transaction with the
// framework clock's time, so no thread is needed and virtual time works.
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace cloudsim {

// Volumes and snapshots hold their data in blocks of this size, the block
// size of the EBS direct APIs.
constexpr int64_t kBlockSize = 524288;

// Block index -> id of the block's content in the cloud's block store (see
// BlockStore.h). An index missing from the map reads as zeros, so a large
// volume holding little data costs little.
using BlockMap = std::map<int64_t, std::string>;

// Seed shorthand for block data: the listed blocks hold a recognisable
// pattern made of text and the block index (see SeedData.h). A cloud turns it
// into a BlockMap when it loads a seed; parsed states keep it until then.
struct SeedData {
    std::string text;
    std::vector<int64_t> blocks;

    bool Empty() const { return blocks.empty(); }
};

struct Account {
    std::string id;              // 12 digits
    std::string accessKey;
    std::string secretKey;
    std::string canonicalId;
    std::string partition = "aws";
    std::string defaultRegion;
    // IAM actions the account's credentials may not run ("ebs:GetSnapshotBlock";
    // a trailing "*" denies every action it prefixes).
    std::vector<std::string> deniedActions;
};

struct Region {
    std::string name;                    // "us-east-1"
    std::vector<std::string> zones;      // "us-east-1a", ...
    std::vector<std::string> instanceTypes;  // offered types; empty: the default offering
};

// Durations of the asynchronous work, in (virtual) milliseconds.
struct Timing {
    int64_t volumeCreateMs = 15000;
    int64_t attachMs = 5000;
    int64_t detachMs = 5000;
    int64_t deleteMs = 2000;
    int64_t snapshotMs = 60000;
    int64_t amiMs = 120000;
    int64_t modifyMs = 30000;            // "modifying" lasts this long ...
    int64_t optimizeMs = 60000;          // ... then "optimizing" this long
    int64_t instanceStartMs = 30000;     // pending -> running
    int64_t instanceStopMs = 20000;      // stopping -> stopped, shutting-down -> terminated
    int64_t statusCheckMs = 60000;       // initializing -> ok, counted from running
};

// A change under way. Fault kinds: "stuck" never completes; "error" ends in
// the resource's error state (volume "error", snapshot "error", image
// "failed", modification "failed", status check "impaired").
struct Transition {
    std::string to;                      // the state reached; empty: nothing under way
    int64_t readyAtMs = 0;
    std::string fault;                   // "", "stuck" or "error"

    bool Active() const { return !to.empty(); }
    bool Due(int64_t nowMs) const { return Active() && fault != "stuck" && nowMs >= readyAtMs; }
};

// ModifyVolume's work: modifying -> optimizing (type and IOPS applied) ->
// completed; or failed.
struct VolumeModification {
    std::string state;                   // empty: never modified; modifying, optimizing, completed, failed
    std::string targetType;
    int32_t targetIops = 0;
    int64_t startMs = 0;
    int64_t optimizingAtMs = 0;
    int64_t completedAtMs = 0;
    std::string fault;                   // as Transition::fault
};

struct Volume {
    std::string id;                      // "vol-..."
    std::string account;
    std::string region;
    std::string zone;
    int64_t sizeBytes = 0;
    int64_t usedBytes = -1;              // bytes holding data; negative: the whole size
    std::string type = "gp2";
    int32_t iops = 0;
    bool encrypted = false;
    std::string kmsKeyId;
    // creating, available, in-use, deleting, error. An attachment under way
    // keeps "available" with attachedInstance set and pending.to "in-use"; a
    // detachment keeps "in-use" with pending.to "available".
    std::string state = "available";
    std::string attachedInstance;
    std::string attachedDevice;
    bool deleteOnTermination = false;
    std::map<std::string, std::string> tags;
    int64_t createdMs = 0;
    std::string snapshotId;              // the snapshot it was created from
    // The volume its data first lived on (see Lineage.h); empty: derived.
    std::string lineage;
    std::string outpostArn;
    Transition pending;                  // to: available, in-use or deleted
    VolumeModification modification;
    std::vector<std::string> productCodes;  // AWS Marketplace codes; such a volume stays with its instance
    BlockMap blocks;                     // the volume's data, unless devicePath is set
    SeedData seed;
    // The device file the cloud published the volume's data as, while it is
    // attached to the proxy; the file, not blocks, then holds the live data.
    std::string devicePath;

    int64_t UsedBytes() const { return usedBytes < 0 ? sizeBytes : usedBytes; }
    // "attaching", "attached", "detaching" or "" (not attached).
    std::string AttachmentState() const;
};

struct Snapshot {
    std::string id;                      // "snap-..."
    std::string account;                 // owner
    std::string region;
    std::string volumeId;                // source volume (may be gone)
    // The volume its data first lived on (see Lineage.h); empty: derived.
    std::string lineage;
    int64_t sizeBytes = 0;
    std::string volumeType = "gp2";      // of the source volume, the default for volumes made from it
    int32_t iops = 0;
    bool encrypted = false;
    std::string kmsKeyId;
    std::string state = "completed";     // pending, completed, error
    std::string description;
    std::map<std::string, std::string> tags;
    int64_t createdMs = 0;
    bool isPublic = false;               // visible to every account
    Transition pending;                  // to: completed
    // The volume's data as it was when the snapshot completed (until then,
    // as it was when the snapshot started).
    BlockMap blocks;
    SeedData seed;
};

struct Image {
    std::string id;                      // "ami-..."
    std::string account;                 // owner
    std::string region;
    std::string name;
    std::string description;
    std::string platform = "linux";      // or "windows"
    std::string architecture = "x86_64";
    std::string virtualizationType = "hvm";
    std::string rootDeviceName = "/dev/xvda";
    std::string instanceType;            // of the source instance; empty for public images
    std::string sourceInstanceId;
    std::vector<std::string> snapshotIds;  // one per volume, the root first
    std::string state = "available";     // pending, available, failed, cancelled, deregistered
    std::map<std::string, std::string> tags;
    int64_t createdMs = 0;
    bool isPublic = false;
    Transition pending;                  // to: available (its snapshots complete at the same time)
};

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
    std::string account;
    std::string region;
    std::string vpcId;
    std::string name;
    std::string cidr;                    // "10.0.1.0/24"
    std::string zone;                    // may be empty
};

struct KmsKey {
    std::string id;                      // key id (a GUID)
    std::string account;
    std::string region;
    std::string alias;                   // "alias/aws/ebs"
    std::string arn;
    bool isDefault = false;              // the account's default EBS key in the region
};

struct Role {
    std::string name;
    std::string account;
    std::string arn;
};

// Temporary credentials issued by an assume-role call; the EBS endpoints
// accept them until they expire on the framework clock.
struct Session {
    std::string accessKey;
    std::string secretKey;
    std::string token;
    std::string account;
    int64_t expiresMs = 0;
};

struct InstanceTypeInfo {
    std::string name;                    // "m5.large"
    int32_t cpus = 0;
    int64_t memoryMB = 0;
};

struct Bucket {
    std::string name;
    std::string account;
    std::string region;
};

struct S3Object {
    std::string bucket;
    std::string key;
    int64_t size = 0;
};

struct FaultRule {
    // Constructors rather than aggregate initialisation, so that rules written
    // as {operation, nth, error, seen} before kind and target existed still
    // compile without warnings.
    FaultRule() = default;
    FaultRule(std::string operation_, int nth_, std::string error_, int seen_ = 0, std::string kind_ = "fail",
              std::string target_ = "")
        : operation(std::move(operation_)), nth(nth_), error(std::move(error_)), seen(seen_),
          kind(std::move(kind_)), target(std::move(target_)) {}

    std::string operation;               // bridge operation name, e.g. "Connect"; "*": every operation
    int nth = 0;                         // hit the n-th call (1-based); 0 = every call
    std::string error;                   // AWS-like text handed back (fail, conflict)
    int seen = 0;                        // calls counted so far
    // fail: the call fails with error. conflict: AttachVolume reports its
    // conflict flag and fails. stuck: what the call creates or changes never
    // leaves its transitional state. error: it ends in error/failed.
    // count: only counts calls (in seen). kill: the process is killed
    // (SIGKILL) just before the call, once the count is committed.
    std::string kind = "fail";
    std::string target;                  // stuck/error: only when the call names or creates this id
};

// The hits of one call against the fault rules.
struct FaultHit {
    bool fail = false;                   // a "fail" rule hit: error holds its text
    std::string error;
    bool conflict = false;               // a "conflict" rule hit: conflictError holds its text (may be empty)
    std::string conflictError;
    std::vector<FaultRule> effects;      // "stuck" and "error" rules hit

    // The effect ("stuck", "error" or "") on a resource this call creates or
    // changes, given every id the call names or creates. "error" wins.
    std::string EffectFor(const std::vector<std::string>& ids) const;
};

struct State {
    int64_t generation = 0;              // bumped by every committed change
    Timing timing;
    std::vector<Account> accounts;
    std::vector<Region> regions;
    std::map<std::string, Instance> instances;   // by id
    std::map<std::string, Volume> volumes;       // by id
    std::map<std::string, Snapshot> snapshots;   // by id
    std::map<std::string, Image> images;         // by id
    std::map<std::string, Vpc> vpcs;             // by id
    std::map<std::string, Subnet> subnets;       // by id
    std::vector<KeyPair> keyPairs;
    std::vector<KmsKey> kmsKeys;
    std::vector<Role> roles;
    std::vector<Session> sessions;
    std::vector<InstanceTypeInfo> instanceTypes; // specs; empty: the built-in table
    std::map<std::string, Bucket> buckets;       // by name
    std::vector<S3Object> objects;
    std::string proxyInstanceId;         // the machine the agent runs on, if an instance
    std::vector<FaultRule> faults;
    int64_t nextId = 1;                  // seeds generated resource ids
    // Device files of volumes no longer published, to be removed; kept in
    // the state so that a process killed after the commit that unpublished
    // them still has them removed by the next one.
    std::vector<std::string> staleDevices;

    const Account* FindAccountByKey(const std::string& accessKey) const;
    const Session* FindSession(const std::string& accessKey) const;
    const Account* FindAccount(const std::string& id) const;
    const Region* FindRegion(const std::string& name) const;
    // The region holding zone; null when no region does.
    const Region* RegionOfZone(const std::string& zone) const;
    // prefix + "-" + 17 hex digits ("vol-0a1b..."), unique within this state
    // and the same for the same nextId, so seeded runs repeat their ids.
    std::string NewId(const std::string& prefix);
    bool IdInUse(const std::string& id) const;
    // The instance types offered in region (the region's list or the default
    // offering) and the description of one type (the seeded table or the built-in one).
    std::vector<std::string> OfferedTypes(const std::string& region) const;
    const InstanceTypeInfo* FindInstanceType(const std::string& name) const;
};

// Applies every transition due at nowMs: volumes finish creating, attaching,
// detaching and deleting; snapshots and images complete (or fail), a
// completing snapshot taking its volume's block map;
// modifications advance; instances start, stop and terminate and pass their
// status checks. Idempotent for a given time.
void Settle(State& state, int64_t nowMs);

// The default instance-type offering (about ten common types) and the
// built-in table of type specs.
const std::vector<InstanceTypeInfo>& BuiltinInstanceTypes();
const std::vector<std::string>& DefaultOfferedTypes();

}  // namespace cloudsim
