#pragma once
// The framework's VM, disk and inventory records exchanged between the
// framework, the AWS bridge and the plug-in. Only the fields somebody reads or
// writes are modelled; their roles are commented where the name is not enough.
#include <cstdint>
#include <string>
#include <vector>

#include "records/RecordBase.h"

// The framework's own enumerations travel as plain integers.
typedef int EVMInfoError;
typedef int EInventoryType;
typedef int EVMOperation;
typedef int DiskType_t;
typedef int VirtualServerInstanceType;
typedef unsigned long long ULONGLONG;

namespace VMInfoStructs {

struct SGuestOSInfo : SRecord<SGuestOSInfo> {
    std::string name;
    std::string version;
    std::string architecture;
    bool isWindows = false;
};

struct SChildDisk : SRecord<SChildDisk> {
    std::string volumeId;
    std::string snapshotId;
    std::string snapshotString;  // a further snapshot text, carried
    std::string description;
    std::string state;           // "Completed", "Pending", "Error"
    int64_t size = 0;
    int64_t usedSize = 0;
    bool flag = false;
    bool encrypted = false;
    std::string kmsKeyId;        // the key's ARN (or id) when encrypted
};

struct SDisk : SRecord<SDisk> {
    std::string name;
    std::string displayName;
    std::string volumeId;          // "vol-..."
    std::string deviceName;        // attachment device name
    std::string zone;
    std::string state;             // AWS volume state, compared case-insensitively
    std::string attachState;       // AWS attachment state: "attaching", "attached", "detaching"; "" unattached
    int64_t size = 0;              // bytes
    int64_t usedSize = 0;          // bytes
    uint32_t sectorSize = 512;
    std::string sourceVolumeId;    // restore: volume the backup was taken from, until the restore's
                                   // empty volume takes its place (the key the data mover opens it by)
    std::string originalVolumeId;  // restore: the backed-up volume, kept once sourceVolumeId names the new one
    std::string snapshotId;        // read by the direct-read path, set by staging
    std::string snapshotIdCbt;     // copy used by change tracking and the change id
    std::string newVolumeId;       // volume staged from the snapshot / attached; restore: the restored volume
    std::string newVolumeId2;      // restore: second copy of the restored volume id
    std::string newName;           // restore: the name the user gave the disk
    bool attachFlag = false;       // restore: handed through to the attach calls
    bool filtered = false;
    std::string volumeType;        // "gp2", "io1", ...
    int32_t iops = 0;              // 0 = not set
    bool encrypted = false;
    std::string kmsKeyId;
    bool deleteOnTermination = false;
    bool isOSDisk = false;
    bool selected = false;
    DiskType_t diskType = 0;
    std::vector<SChildDisk> snapshots;
    // How a backed-up item (a disk or a file) is described to the framework
    // by the full mount information:
    std::string itemId;            // second id: a disk's volume id, a file's name
    std::string itemName;          // a disk's display name (its volume id when none), a file's name
    int32_t typeCode = 0;          // the framework's access code: 27 read through the proxy, 0 a file
    int64_t capacity = 0;          // bytes; both capacities are the item's size
    int64_t allocatedCapacity = 0;
    uint64_t attributes = 0;       // 4: the item is a file
};

struct SSnapshot : SRecord<SSnapshot> {
    std::vector<std::string> items;
    std::string name;
    std::string id;
    std::string description;
    std::string parentId;
    int64_t createTime = 0;
    std::vector<SSnapshot> children;
};

struct SVMNetworkCard : SRecord<SVMNetworkCard> {
    std::string name;
    std::string id;            // network interface id
    std::string subnetId;
    std::string macAddress;
    std::string privateIp;
    std::string publicIp;
    std::string networkName;   // VPC id
};

struct SSecurityGroupInfo : SRecord<SSecurityGroupInfo> {
    std::string name;
    std::string id;
};

struct SKeyPairInfo : SRecord<SKeyPairInfo> {
    std::string name;
    std::string fingerprint;
};

struct SVMInfo : SRecord<SVMInfo> {
    std::string name;              // the "Name" tag
    std::string guid;              // EC2 instance id, key of look-ups
    std::string biosUuid;          // set for the proxy's own record
    std::string region;            // "default" counts as empty
    std::string zone;
    std::string sourceId;          // source instance or AMI of a clone/restore
    std::string instanceType;
    std::string guestOS;
    std::string firmware;
    std::string virtualizationType;
    std::string amiId;
    SGuestOSInfo guestOSInfo;
    std::string password;          // out-field of the password operation
    bool isTemplate = false;       // never backed up or listed
    int32_t powerState = 0;        // node flag bit 1 when == 1
    int32_t connectionState = 99;  // node flag bit 4 when == 1
    int32_t snapErrorCode = 0;
    bool ebsOptimized = false;
    bool terminationProtection = false;  // AWS refuses to terminate the instance
    uint64_t totalDiskSize = 0;    // sum of the disks' used sizes
    std::vector<SDisk> disks;
    std::vector<SDisk> allDisks;   // every disk, also the filtered ones
    int64_t clientId = 0;
    int64_t vmJobId = 0;
    int64_t vmAppId = 0;
    std::string backupSetGuid;
    std::string subclientGuid;
    std::string archiveFileId;
    bool snapshotTaken = false;
    int32_t guestOSId = 0;
    std::vector<SSnapshot> snapshots;
    std::vector<SVMNetworkCard> networkCards;
    std::vector<SSecurityGroupInfo> securityGroups;
    std::vector<SKeyPairInfo> keyPairs;     // the first name fetches the password
    std::vector<std::string> options;       // carried, not interpreted
    std::vector<std::string> owners;        // carried, not interpreted
};

struct SInventoryInfo : SRecord<SInventoryInfo> {
    std::string name;
    std::string guid;
    EInventoryType type = 0;       // 0 root, 1 VM-list root, 2 region, 5 zone, 8 instance, 24/25 tag, 28 instance type
    std::vector<SInventoryInfo> children;
    int flags = 0;
};

// The framework's host: an availability zone.
struct SHostInfo : SRecord<SHostInfo> {
    std::string name;
    std::string guid;
    std::string region;            // a further string: the zone's region
    std::string state;
    std::vector<SVMInfo> vms;
};

// The framework's data centre: a region.
struct SDataCenterInfo : SRecord<SDataCenterInfo> {
    std::string name;
    std::string guid;
    std::string endpoint;          // a further string
    std::vector<SVMInfo> vms;
    std::vector<SHostInfo> hosts;
};

struct SVolumeTypeInfo : SRecord<SVolumeTypeInfo> {
    std::string name;
    std::string displayName;
    uint64_t minSize = 0;          // bytes
};

struct SVolumeEncryptionKeyInfo : SRecord<SVolumeEncryptionKeyInfo> {
    std::string name;              // alias
    std::string id;                // key id or ARN
    std::string arn;
    bool isDefault = false;
};

struct SVMSizeInfo : SRecord<SVMSizeInfo> {
    std::string name;
    int32_t cpus = 0;
    int64_t memoryMB = 0;
};

struct SRoleInfo : SRecord<SRoleInfo> {
    std::string name;
    std::string arn;
};

struct SSubnetEntry : SRecord<SSubnetEntry> {
    std::string name;
    std::string id;
    std::string address;
};

struct SNetworkInfo : SRecord<SNetworkInfo> {
    std::string name;
    std::vector<SSubnetEntry> subnets;
};

struct SHostNetworkAdapterInfo : SRecord<SHostNetworkAdapterInfo> {
    std::string name;
    std::string id;
};

struct SGuestFile : SRecord<SGuestFile> {
    std::string name;
    std::string path;
    bool isFolder = false;
    int64_t size = 0;
    int64_t modifiedTime = 0;
};

struct SVMFile : SRecord<SVMFile> {
    std::string name;
    std::string path;
    int64_t size = 0;
};

struct SDiskMetadataInfo : SRecord<SDiskMetadataInfo> {
    std::string name;
    std::string value;
};

struct SDiskChangeExtent : SRecord<SDiskChangeExtent> {
    int64_t blockIndex = 0;        // as the block lists report it
    uint64_t start = 0;            // bytes
    uint64_t length = 0;           // bytes
};

struct SDiskChangeInfo : SRecord<SDiskChangeInfo> {
    uint64_t startOffset = 0;
    uint64_t length = 0;
    std::vector<SDiskChangeExtent> extents;
};

struct SMountInfoFile : SRecord<SMountInfoFile> {
    std::string name;
    std::string path;
};

// One item the framework backs up: kind 1 a disk, 0 a file.
struct SMountInfoFull : SRecord<SMountInfoFull> {
    int32_t kind = 0;
    std::vector<SDisk> disks;
};

// A volume as the snapshot manager records it: one entry of a snap
// backup's metadata, with the instances that own the volume.
struct SDatastoreInfo : SRecord<SDatastoreInfo> {
    std::string name;              // volume name (its display name, else its id)
    std::string guid;              // volume id
    std::string deviceName;
    std::string zone;
    std::string region;
    int64_t size = 0;              // bytes
    int64_t freeSize = 0;          // bytes: size minus used size
    uint32_t archiveFileId = 0;
    std::vector<SVMInfo> vms;      // owning instances; a volume has one
};

struct SImageInfo : SRecord<SImageInfo> {
    std::string id;
    std::string name;
    std::string description;
    std::string platform;
    std::string state;
};

}  // namespace VMInfoStructs
