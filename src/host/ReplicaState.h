#pragma once
// What a chain's replication keeps between cycles, and what a cycle writes.
//
// DIR/replica.json (format "Replica", version 1) names the replica the last
// successful cycle left: its instance id, its integrity AMI, where it lives
// (name, zone, account), the point of the chain it holds (with that point's
// backup AMI, so that a chain rebuilt since is not taken for the one the
// replica was made from) and, per backed-up disk, the snapshot of the
// integrity AMI the next cycle builds the disk's volume from and the
// replica's volume. The framework keeps the same facts in its replication
// database; the plug-in reads them from the restore context.
//
// A cycle writes the blocks that differ between the point the replica holds
// and the chain's last point, as the points' manifests tell them apart by
// their SHA-256: no image is compared with another.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

class BackupChain;

struct ReplicaDisk {
    std::string volumeId;          // the backed-up volume (the chain's disk)
    std::string snapshotId;        // of the integrity AMI; empty: the next cycle writes the disk whole
    std::string replicaVolumeId;   // the replica's volume
};

struct ReplicaState {
    std::string instance;          // the backed-up instance
    std::string replica;           // empty: no cycle has succeeded yet
    std::string integrityAmi;
    std::string name, zone, account;
    int point = 0;                 // the chain's point the replica holds
    std::string pointAmi;          // that point's backup AMI, as its manifest gives it
    std::vector<ReplicaDisk> disks;
};

// The replica file of a chain folder.
std::string ReplicaStatePath(const std::string& chainFolder);
// No file is an empty state. False with a reason naming the file when it
// cannot be read, is not a Replica file or is of another version.
bool LoadReplicaState(const std::string& path, ReplicaState& state, std::string& why);
// Replaces the file atomically. False with a reason.
bool SaveReplicaState(const std::string& path, const ReplicaState& state, std::string& why);

// What one disk of a point holds: block index (of kImageBlock bytes) ->
// SHA-256 of each block with data; every other block reads as zeros.
struct PointDiskBlocks {
    uint64_t size = 0;
    std::map<uint64_t, std::string> sums;
};

struct PointContent {
    int point = 0;
    std::string ami;   // the point's backup AMI
    std::map<std::string, PointDiskBlocks> disks;   // by backed-up volume id: the point's own disks
};

// The content of point (1, 2, ...) of the chain, from the manifests of the
// full backup it rests on and of the incrementals up to it. False with a
// reason when the chain has no such point or a manifest cannot be read.
bool ReadPointContent(const BackupChain& chain, int point, PointContent& content, std::string& why);

// The blocks of after that differ from before (null: every block of after
// with data), in order, within after's size; a block that became zeros is
// one of them.
std::vector<uint64_t> ChangedBlocks(const PointDiskBlocks* before, const PointDiskBlocks& after);
