#pragma once
// The snapshot manager's records of one snapshot job: the volumes it was
// asked to snapshot, the snapshots it made, the pairing of the two and the
// metadata entries attached to them. The plug-in fills a job record and
// hands it to the manager (CVMSnapUtil), which fills in ids, statuses and
// its own metadata, and keeps the record between jobs.
#include <cstdint>
#include <string>
#include <vector>

#include "records/RecordBase.h"

// Mount statuses the manager leaves on a volume after a snapshot request.
constexpr int kSMVolumeSnapped = 0;
constexpr int kSMVolumeRefused = 18;      // the cloud refused to snapshot the volume
constexpr int kSMVolumeSnapFailed = 38;   // the snapshot ended in error or never completed

// Error codes of the manager's mounts (record, snapshot entry).
constexpr int kSMMountRefused = 60100;    // the request cannot be carried out as given
constexpr int kSMMountFailed = 60101;     // the cloud refused a volume, or it never became ready
constexpr int kSMUnmountFailed = 60102;   // a volume could not be detached or deleted
// Codes of the manager's that name a cause its callers act on.
constexpr int kSMSnapshotMissing = 60207;  // mount: the snapshot no longer exists
constexpr int kSMVolumeLimit = 60014;      // mount: the account's volume quota is used up
constexpr int kSMVolumeMissing = 60214;    // unmount: the volume no longer exists
constexpr int kSMNotMounted = 60126;       // unmount: the volume is not attached where recorded

// Snap action flags of a mount.
constexpr uint32_t kSnapActionLiveBrowse = 0x20;
constexpr uint32_t kSnapActionDirectRead = 0x10001080;
// ostrelMountMode: the manager makes no volume; the snapshots are read where
// they are (EBS direct APIs).
constexpr int kOstrelMountDirect = 1;

// Volume flags of the VM-centric flow's one volume per instance: the
// manager snapshots every unfiltered volume of the instance it names.
constexpr uint64_t kInstanceLevelVolume = 0x120000000ULL;

// Metadata entry types.
constexpr int kSMMetaSnapshotPairs = 6;   // the manager's key/value text of a snapshot it made
constexpr int kSMMetaTransient = 93;      // the plug-in's transient metadata of a snapshot

struct SMVolumeInfo : VMInfoStructs::SRecord<SMVolumeInfo> {
    uint32_t volumeId = 0;       // the manager's number, set when added to a job record
    std::string sourcePath;      // "/" region "/" volume id (or instance id, VM-centric)
    std::string sourceGuid;
    std::string sourceDevice;
    std::string mountDevice;
    std::string mountPath;
    uint32_t mountHostId = 0;
    int mountStatus = kSMVolumeSnapped;
    int64_t jobId = 0;
    int64_t masterJobId = 0;
    int32_t hubCellId = 0;
    int32_t appId = 0;
    int32_t appTypeId = 0;
    int32_t originClientId = 0;
    int32_t sourceClientId = 0;
    uint64_t volumeFlags = 0;
    uint32_t archiveFileId = 0;

    void setHubCellId(int32_t id) { hubCellId = id; }
};

struct SMSnapInfo : VMInfoStructs::SRecord<SMSnapInfo> {
    uint32_t snapId = 0;         // the manager's number, set when added to a job record
    int status = 0;
    std::string sourceDevice;    // the volume's source path
    std::string snapDevice;      // "/" region "/" snapshot id once made; a mounted volume's path
    int errorCode = 0;
    std::string errorText;
    int32_t snapEngineId = 0;
    uint32_t controlHostId = 0;
    uint64_t snapFlags = 0;
};

struct SMVolSnapMapInfo : VMInfoStructs::SRecord<SMVolSnapMapInfo> {
    uint32_t volumeId = 0;
    uint32_t snapId = 0;
};

struct SMMetaDataInfo : VMInfoStructs::SRecord<SMMetaDataInfo> {
    uint32_t dbOperationMode = 0xFFFFFFFFu;
    uint32_t metadataId = 0;
    int type = 0;
    int referenceType = 0;
    uint32_t referenceId = 0;    // the snapshot's number in the job record
    std::string metadata;
};

struct SMVolSnapInfo : VMInfoStructs::SRecord<SMVolSnapInfo> {
    int64_t jobId = 0;
    uint64_t actionFlags = 0;
    uint32_t snapActionFlags = 0;
    uint32_t arrayNumber = 0;    // the snap control host
    uint32_t mountHostId = 0;
    int ostrelMountMode = 0;
    int errorCode = 0;
    std::string errorText;
    // How the record was loaded (CVMSnapUtil::GetVOLSNAPInfo): 0 for a mount,
    // whose volumes the manager's unmount deletes; 1 for a revert, whose
    // volumes are handed to the restored instance and only unrecorded.
    int loadMode = 0;
    std::vector<SMVolumeInfo> volumes;
    std::vector<SMSnapInfo> snaps;
    std::vector<SMVolSnapMapInfo> volSnapMaps;
    std::vector<SMMetaDataInfo> metadata;

    // Each returns the number given to the entry (1, 2, ... in its list).
    uint32_t AddVolume(SMVolumeInfo volume) {
        volume.volumeId = static_cast<uint32_t>(volumes.size() + 1);
        volumes.push_back(std::move(volume));
        return volumes.back().volumeId;
    }
    uint32_t AddSnap(SMSnapInfo snap) {
        snap.snapId = static_cast<uint32_t>(snaps.size() + 1);
        snaps.push_back(std::move(snap));
        return snaps.back().snapId;
    }
    void AddVolSnapMap(uint32_t volumeId, uint32_t snapId) {
        SMVolSnapMapInfo map;
        map.volumeId = volumeId;
        map.snapId = snapId;
        volSnapMaps.push_back(map);
    }
    void AddMetadata(SMMetaDataInfo entry) { metadata.push_back(std::move(entry)); }
};
