#pragma once
// Job context records the framework hands to the plug-in's job operations.
// Each job family adds the fields it reads as it is built; all start empty.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/AmazonRecords.h"
#include "records/VMInfoStructs.h"

// One of the job's disk filter rules; the framework asks the matching
// filter slot of the plug-in.
struct SDiskFilterRule {
    enum Kind { Pattern = 1, DeviceNode = 2, Type = 3, Tag = 4 };
    // Disk types a Type rule names.
    enum DiskTypeCode { TypeRoot = 1 };   // the instance's root (OS) volume
    int kind = Pattern;
    std::string value;     // pattern, device node, or tag-name pattern
    std::string value2;    // tag-value pattern
    int type = 0;          // disk type for Type rules
};

struct MountCtx : VMInfoStructs::SRecord<MountCtx> {
    VMInfoStructs::SVMInfo vm;          // filled by the mount; its disks are the job's disks
    std::string requestedVMName;
    std::string requestedVMGuid;        // the instance id the job asked for
    std::string failbackVMGuid;         // failback / live-browse id; replaces the requested one
    std::string effectiveVMGuid;        // written by the mount, used in later messages
    std::string mountPath;              // folder of the VM configuration file
    int64_t jobId = 0;
    int64_t snapJobId = 0;
    int64_t vmJobId = 0;
    int32_t subclientId = 0;
    std::string transportMode;          // "HOTADD", "EBS-DIRECT-API" or empty (choose)
    bool snapBackup = false;            // snapshot phase of a snap backup
    bool backupToTape = false;          // backup copy of a snap backup
    bool liveBrowse = false;
    bool liveRestore = false;
    bool liveMountSnap = false;
    bool indexingV2 = false;
    bool indexingV2Copy = false;        // the indexing flag as it was before the snap XML was read
    bool proxylessLiveBrowseMount = false;  // the whole mount is a pseudo mount
    bool proxylessLiveBrowse = false;   // allows direct read for a live-browse mount
    bool remoteProxy = false;
    std::string remoteProxyGuid;
    bool failback = false;              // a failback job: never uses change tracking
    bool cbtEnabled = false;            // change tracking asked for
    std::string cbtStatus;              // "Disabled", "Failed[ (error)]" or "Used"
    int32_t backupLevel = 1;            // 1 full, 2 incremental
    std::string amiId;                  // the AMI the staging created
    int32_t excludedDiskCount = 0;
    std::string changeId;
    std::string cleanupString;          // persisted by the framework; holds the AMI id
    std::vector<SDiskFilterRule> diskFilters;
    int64_t referenceTime = 0;          // stamped when the snapshots are taken
    std::vector<SFailure> failures;
    std::vector<SFailure> mountFailures;

    // ---- snap backups: the job's identity with the snapshot manager ----
    int32_t hubCellId = 0;
    int32_t appTypeId = 0;
    int32_t originClientId = 0;
    int32_t sourceClientId = 0;
    int32_t snapEngineId = 0;
    int32_t snapControlHostId = 0;      // 0: the setting decides
    uint32_t mountHostId = 0;           // the client a mount of the job's snapshots is for
    bool appAware = false;
    bool snapJobIdFromRecord = false;   // a mount takes the snapshot job id from the manager's record
    bool vmLevelSnapMetadata = false;
    // Volumes made from a snap backup's snapshots keep the source volume's
    // encryption key rather than the snapshot's (outside a live browse).
    bool keepSourceEncryption = false;   // the instance-level snap metadata file was the one found
    uint32_t archiveFileId = 0;         // the VM's archive file (VM-centric)
    std::string jobResultsFolder;
    std::string snapMetadataFolder;
    std::vector<SVMBasicInfo> snapInstances;                  // the job's instances
    std::map<std::string, VMInfoStructs::SVMInfo> snapVMs;    // instance id -> its record, per-instance error code
    std::vector<SVolSnap> volSnaps;

    // The one key the job's cleanup registrations go under.
    const std::string& JobVMGuid() const { return effectiveVMGuid.empty() ? requestedVMGuid : effectiveVMGuid; }
};

// A restore job. The framework hands it to every phase by constant reference
// and reads back what the plug-in wrote between phases (method text, disk
// fields, GUIDs, failures): it always owns the context, so Out() is how a
// phase writes into it.
struct RestoreCtx : VMInfoStructs::SRecord<RestoreCtx> {
    enum Flavour { FullInstance = 1, AttachDisk = 2, Replication = 4 };

    int32_t flavour = FullInstance;
    int64_t jobId = 0;
    // ---- what the job asks for ----
    std::string restoreVMName;
    std::string originalVMName;
    std::string destZone;
    std::string destRegion;             // empty: derived from destZone and written back
    std::string instanceType;           // empty keeps the backed-up type; "AUTO" lets AWS choose
    std::string guestOSName;
    std::string sourceFirmware;         // "efi" or "bios"
    std::string sourceGuid;             // the instance the backup was taken from
    std::string amiTemplateId;          // attach disk restore to a new instance: the GUI's AMI
    std::string restorePath;            // folder holding the backup's instance configuration file
    std::string replicationProperties;  // framework XML message (class 26)
    bool conversion = false;            // the source VM comes from another hypervisor
    bool attachToNewInstance = false;
    bool powerOn = false;
    bool overwrite = false;
    bool restoreFromSnap = false;       // the backup is a snapshot copy, not streamed data
    bool inPlace = false;
    bool failback = false;
    bool recast = false;
    // Replication: the replica is found by vmGuid; the disks' snapshotId
    // fields name the previous run's integrity snapshots.
    bool overwriteCheck = false;        // check the restore name as a full restore does
    bool validateAfterReplication = false;
    bool resume = false;                // a re-attempt of an interrupted run
    std::string networkPlatform;        // "EC2": the replica's interfaces go with it
    // Placement of the new instance.
    bool terminationProtection = false;
    bool ebsOptimized = false;
    std::string tenancy;
    std::string placementGroup;
    std::string iamRole;
    std::vector<VMInfoStructs::SVMNetworkCard> networkCards;
    std::vector<VMInfoStructs::SSecurityGroupInfo> securityGroups;
    std::vector<VMInfoStructs::SKeyPairInfo> keyPairs;
    // The disks to restore: selected, filtered and OS-disk flags, size,
    // display name, source volume id (sourceVolumeId) and restored volume id
    // (newVolumeId, with its copy newVolumeId2).
    std::vector<VMInfoStructs::SDisk> disks;

    // ---- what the phases write ----
    std::string registrationGuid;       // the temporary GUID: key of the job's cleanup registrations
    std::string vmGuid;                 // destination instance id (the temporary GUID until it exists)
    std::string createdInstanceId;
    bool vmCreated = false;             // this job launched the destination instance
    bool newVMGuid = true;              // restore as a new instance, not into the existing one
    bool restartFromFirstExtent = false;
    std::string method;                 // "HOTADD"
    std::string configFilePath;         // the instance configuration file found in restorePath
    std::string attachTargetInstanceId;
    std::string attachTargetName;
    std::string integritySnapshotId;    // replication: the integrity AMI
    enum ReplicationMode { FullReplication = 1, IncrementalReplication = 2 };
    int32_t replicationMode = FullReplication;
    bool forceFull = false;             // an incremental could not be trusted
    bool replicatedVMExists = false;
    // 1 succeeded, 2 failed, 6 not requested; 0 until the post phase ran.
    int32_t validationStatus = 0;
    VMInfoStructs::SVMInfo vm;          // the destination instance's record
    std::vector<SFailure> failures;

    RestoreCtx& Out() const { return const_cast<RestoreCtx&>(*this); }
};

// A file the framework asks a file-level revert to put back. A revert on
// this platform puts back whole volumes, so the list stays empty.
struct FileInfo_t {
    std::string path;
    int64_t size = 0;
};

struct GuestCtx : VMInfoStructs::SRecord<GuestCtx> {
    VMInfoStructs::SVMInfo vm;
    std::string bucket;
};

struct OperationCtx : VMInfoStructs::SRecord<OperationCtx> {
    EVMOperation operation = 0;
    VMInfoStructs::SVMInfo vm;
    std::string region;
    bool creationFlag = false;
    std::string sourceInstance;
    std::string outText;
};

struct StorageOperationCtx : VMInfoStructs::SRecord<StorageOperationCtx> {
    int operationType = 0;
    std::string region;
    int64_t age = 0;
    std::string errorText;
};

// Opaque disk handle: the plug-in's VM and disk handles travel inside it.
struct VmdkHandle {
    void* vmHandle = nullptr;
    void* diskHandle = nullptr;
};
