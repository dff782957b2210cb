#pragma once
// One replication cycle of a backup chain, the way the agent runs one: the
// chain's last point is restored as the replica through the plug-in's
// replication restore (flavour 4). The first cycle is full: the data mover
// writes every block of the point with data onto empty volumes. A later
// cycle hands the plug-in the replica and the snapshots of its integrity AMI
// (from DIR/replica.json, see ReplicaState.h); the plug-in makes the volumes
// from those snapshots, and the data mover writes only the blocks that
// differ between the point the replica holds and the last one. Should the
// plug-in find the integrity snapshot gone, it falls back to a full cycle,
// and the data mover writes every block. The new replica replaces the old
// one, with its integrity AMI, once it is complete.
//
// The replica file is written once RestoreVM has made the new replica and
// only then: a cycle that fails before leaves the previous replica and the
// file as they were. A cycle that fails, or is stopped with SIGTERM or
// SIGINT, ends with CleanupRestoreVM; one killed outright is cleaned up by
// the next cycle's (or any restore job's) start. Two cycles of one chain do
// not run at once (DIR/replica.lock).
#include <map>
#include <string>

#include "host/HostOptions.h"
#include "host/PluginLoader.h"

struct ReplicateRequest {
    std::string instance;   // the backed-up instance: the chain must be of it
    std::string chain;      // the chain folder
    std::string name;       // empty: the replica's (first cycle: the backed-up name)
    std::string zone;       // empty: the replica's (first cycle: the backed-up zone)
    std::string account = "source";   // "source" or "admin": where the replica lives
    bool accountGiven = false;
    bool powerOn = false;
};

// The command's --options. False with a reason on a malformed value.
bool ParseReplicateRequest(const std::map<std::string, std::string>& values, ReplicateRequest& request,
                           std::string& why);

// Runs the cycle with the job's credentials (already those of the account
// the replica lives in) and prints the replica, its integrity AMI and the
// blocks written. Returns the exit code.
int RunReplicate(PluginLoader& loader, const ConnectJob& job, const ReplicateRequest& request);
