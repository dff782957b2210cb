#pragma once
// EBS snapshots: the record, its JSON, how one completes and the AWS text
// for one the caller cannot see.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cloudsim/Async.h"
#include "cloudsim/BlockData.h"
#include "cloudsim/Faults.h"

namespace cloudsim {

struct State;
struct Volume;

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
    // Accounts given createVolumePermission (ModifySnapshotAttribute).
    std::vector<std::string> sharedWith;
    // AWS Marketplace codes of the source volume: they stay with the
    // snapshot and every volume made from it.
    std::vector<std::string> productCodes;
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

// account may see and use the snapshot: its own, public, or shared with it.
bool SharedWith(const Snapshot& snap, const std::string& account);

// ModifySnapshotAttribute createVolumePermission add / remove for account
// (12 digits). A snapshot encrypted with the AWS managed key cannot be
// shared; removing an account that has no permission succeeds.
bool ShareSnapshot(const State& s, Snapshot& snap, const std::string& account, std::string& error);
bool UnshareSnapshot(Snapshot& snap, const std::string& account, std::string& error);
// account (not the owner) may create a volume from snap: a key that
// encrypts it must be one account may use (its policy or a grant lets it).
bool CheckSnapshotKeyFor(const State& s, const Snapshot& snap, const std::string& account, std::string& error);

// ---- requests on snapshots, as EC2 answers them ----
// The snapshot of v as it is at nowMs, pending, under id: v's owner, region,
// size, type, IOPS, encryption, product codes and blocks.
Snapshot SnapshotOf(const State& s, const Volume& v, const std::string& id, const std::string& description,
                    int64_t nowMs);
// CreateSnapshot: of a volume available or in use and not being deleted,
// with the Name tag name (empty: none); completed after the cloud's timing,
// hit giving the effect on its id and the volume's. Null with AWS's text
// when refused.
Snapshot* CreateSnapshot(State& s, const Volume& v, const std::string& name, const std::string& description,
                         int64_t nowMs, const FaultHit& hit, std::string& error);
// DeleteSnapshot: the account's own, and not while an AMI uses it.
bool DeleteSnapshot(State& s, const std::string& id, const std::string& account, const std::string& region,
                    std::string& error);
// CopySnapshot of a completed snapshot account sees in from (and may
// decrypt) into its own account in to, pending until the cloud's timing has
// passed; hit gives the effect on the copy's id and the source's. A key
// (which account may use in to) needs encryption asked for or a source
// encrypted, and re-encrypts; otherwise an encrypted copy keeps the source's
// key where it can (its own, in the same region), else takes the default
// key. Null with AWS's text when refused.
Snapshot* CopySnapshot(State& s, const std::string& snapshotId, const std::string& account, const std::string& from,
                       const std::string& to, bool encrypted, const std::string& kmsKeyId, int64_t nowMs,
                       const FaultHit& hit, std::string& error);

// ---- the EBS direct APIs ----
// A snapshot whose blocks account may read or list with action
// ("GetSnapshotBlock", ...): in region, its own (neither another account's
// nor a public one is served) and completed. Null with EBS's text otherwise.
const Snapshot* BlockReadableSnapshot(const State& s, const std::string& id, const std::string& account,
                                      const std::string& region, const char* action, std::string& error);
// length bytes at offset lie within the snapshot.
bool CheckBlockRange(const Snapshot& snap, int64_t offset, int64_t length, std::string& error);
// ListChangedBlocks compares only snapshots of one lineage (Lineage.h).
bool CheckComparable(const State& s, const Snapshot& previous, const Snapshot& current, std::string& error);

// ---- AWS error texts ----
std::string SnapshotNotFound(const std::string& id);

}  // namespace cloudsim
