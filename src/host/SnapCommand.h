#pragma once
// Snap backups as the agent runs them: the snapshot manager takes the
// snapshots, the plug-in describes the volumes and writes the metadata.
#include <map>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "host/PluginLoader.h"

struct SnapBackupRequest {
    std::vector<std::string> instances;
    bool vmCentric = false;     // one snapshot request per instance, and the job's catalogue
};

// From --instance ID[,ID...] and the --vm-centric switch; false with why.
bool ParseSnapBackupRequest(const std::map<std::string, std::string>& values, SnapBackupRequest& request,
                            std::string& why);

// snap-backup: first deletes the snapshots of snap jobs that failed or
// died, then runs the job (job-level: PreSnap, each instance's mount,
// PostSnap; VM-centric: each instance's mount with its archive file, then
// PostSnap's catalogue), hands the metadata files to the snapshot manager
// and commits the job there when it succeeded. Prints the snapshots taken,
// the files written and each instance's result. 0 when every instance was
// backed up.
int RunSnapBackup(PluginLoader& loader, const ConnectJob& job, const SnapBackupRequest& request);

// snap-list: every snapshot job the manager holds, its snapshots and its
// files, each file read back (snap metadata XML or the catalogue). 1 when a
// file does not read back. Needs no plug-in.
int RunSnapList();
