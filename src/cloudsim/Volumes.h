#pragma once
// EBS volumes: the record, its JSON, how its changes settle, the rules a
// request for one must meet and the AWS texts of their failures.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cloudsim/Async.h"
#include "cloudsim/BlockData.h"
#include "cloudsim/Faults.h"

namespace cloudsim {

struct State;

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
    // creating, available, in-use, deleting, error. As in AWS, a volume is
    // "in-use" from the attach request on: while attaching it has
    // attachedInstance set and pending.to "in-use" (attachment "attaching"),
    // then "attached"; a detachment keeps "in-use" with pending.to
    // "available" (attachment "detaching") until it is "available".
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

const schema::Table<Volume>& VolumeTable();
// Every volume lies in a known account, region and zone.
void CheckVolumes(const State& s);
// Volumes finish creating, attaching, detaching and deleting (a deleted one
// leaves the state); modifications advance.
void SettleVolumes(State& s, int64_t nowMs);

// Starts a deletion that completes after the cloud's timing; fault as
// Transition::fault.
void StartDelete(State& s, Volume& v, int64_t nowMs, const std::string& fault);

// The volume types EC2 offers.
bool KnownVolumeType(const std::string& type);
// AWS sizes volumes in whole GiB.
int64_t RoundUpToGiB(int64_t bytes);
// CreateVolume's rules for a volume of type and size (bytes, whole GiB):
// the type's size bounds (gp2, gp3 1-16384 GiB; io1, io2 4-16384 (io2
// 65536); st1, sc1 125-16384; standard 1-1024) and, for io1, io2 and gp3,
// IOPS within the type's range and ratio to size (io1 100-64000, 50 per
// GiB; io2 100-256000, 1000 per GiB; gp3 3000-16000, 500 per GiB; io1 and
// io2 need IOPS). iops is what the request gave (0: none); out is what the
// volume gets: the given IOPS, gp3's 3000 by default, 0 for other types
// (their baseline performance, which a request cannot set).
bool CheckVolumeRequest(const std::string& type, int64_t sizeBytes, int32_t iops, int32_t& out, std::string& error);

// ---- requests on volumes, as EC2 answers them ----
// CreateVolume. An empty volume needs a size; one from a snapshot (which
// account must see, be able to decrypt and find completed) is at least the
// snapshot's size, 0 taking it. Sizes round up to whole GiB. The type is
// the request's, else gp2 or the snapshot's; IOPS as CheckVolumeRequest
// (from a snapshot, its IOPS unless a type or IOPS is given). Encrypted
// under the key named (one account may use, kept as its ARN), else the
// snapshot's key, else the account's default key; from a snapshot,
// encrypted whenever the snapshot is.
struct VolumeRequest {
    std::string account;
    std::string region;
    std::string zone;                    // must be one of the region's
    std::string snapshotId;              // empty: an empty volume
    int64_t sizeBytes = 0;
    std::string type;
    int32_t iops = 0;
    bool encrypted = false;
    std::string kmsKeyId;
    std::map<std::string, std::string> tags;  // set before the Name tag
    std::string name;                    // the Name tag; empty: none
    std::string outpostArn;              // the Outpost to create it on
};
// The new volume, "creating" until the cloud's timing has passed; hit gives
// the effect on its id and the snapshot's. Null with AWS's text when refused.
Volume* CreateVolume(State& s, const VolumeRequest& request, int64_t nowMs, const FaultHit& hit, std::string& error);
// DeleteVolume: not while attached or creating; one deleting already is
// left as it is.
bool DeleteVolume(State& s, Volume& v, int64_t nowMs, const std::string& effect, std::string& error);
// ModifyVolume: type (a known one) and/or IOPS (0: unchanged) of a volume
// available or in use, within a new volume's bounds of the resulting type
// (IOPS refused for a type without them), one modification at a time:
// modifying for the cloud's modifyMs, then optimizing (the new type and IOPS
// applied) for optimizeMs, then completed; effect as Transition::fault.
bool ModifyVolume(State& s, Volume& v, const std::string& type, int32_t iops, int64_t nowMs,
                  const std::string& effect, std::string& error);
// DescribeVolumesModifications: the state of the volume's last modification.
bool ModificationState(const Volume& v, std::string& state, std::string& error);

// ---- AWS error texts ----
// False with AWS's "InvalidVolumeID.Malformed" text for an id that cannot
// name a volume, which EC2 refuses even where a missing one is no error.
bool WellFormedVolumeId(const std::string& id, std::string& error);
std::string VolumeNotFound(const std::string& id);
std::string InvalidVolumeType(const std::string& type);

}  // namespace cloudsim
