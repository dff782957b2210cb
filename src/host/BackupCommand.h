#pragma once
#include <cstdint>
#include <string>

#include "host/HostOptions.h"
#include "host/PluginLoader.h"

struct BackupRequest {
    std::string instanceId;
    std::string mode;        // "HOTADD", "EBS-DIRECT-API" or empty (the plug-in chooses)
    std::string outDir;      // where the images, the configuration file and the manifest go
    int threads = 4;         // reader threads for reads through the plug-in
    bool changeTracking = true;   // incrementals from the chain's last change id
    int subclientId = 0;     // the framework's subclient: each chain of an instance is its own
    int64_t copyOf = 0;      // a backup copy of this snap job, not a streaming backup
};

// A streaming backup of one instance, the way the framework runs one: mount,
// read every disk (its changed blocks when the plug-in tracks changes, else
// all of it) into a sparse image, post-backup, unmount. The backup becomes
// the next point of the chain in the out folder (see BackupChain.h). A
// backup copy reads the snapshots of a snap backup instead (BackupCopy.h),
// always whole, and is stored the same way. Prints
// a summary; returns the exit code.
int RunBackup(PluginLoader& loader, const ConnectJob& job, const BackupRequest& request);
