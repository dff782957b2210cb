#pragma once
#include <string>

#include "host/HostOptions.h"
#include "host/PluginLoader.h"

struct BackupRequest {
    std::string instanceId;
    std::string mode;        // "HOTADD", "EBS-DIRECT-API" or empty (the plug-in chooses)
    std::string outDir;      // where the images, the configuration file and the manifest go
    int threads = 4;         // reader threads for reads through the plug-in
};

// A full streaming backup of one instance, the way the framework runs one:
// mount, read every disk into a sparse image, unmount, post-backup. Prints a
// summary and writes <out>/manifest.json. Returns the exit code.
int RunBackup(PluginLoader& loader, const ConnectJob& job, const BackupRequest& request);
