#pragma once
// EBS snapshots: the record, its JSON, how one completes and the AWS text
// for one the caller cannot see.
#include <cstdint>
#include <map>
#include <string>

#include "cloudsim/Async.h"
#include "cloudsim/BlockData.h"

namespace cloudsim {

struct State;

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

const schema::Table<Snapshot>& SnapshotTable();
// Every snapshot lies in a known region and, unless public, belongs to a
// known account: public ones may be Amazon's own or a vendor's.
void CheckSnapshots(const State& s);
// Snapshots complete (or fail); a completing one takes its volume's block map.
void SettleSnapshots(State& s, int64_t nowMs);

// ---- AWS error texts ----
std::string SnapshotNotFound(const std::string& id);

}  // namespace cloudsim
