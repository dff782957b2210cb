#pragma once
#include <string>

#include "host/HostOptions.h"
#include "host/PluginLoader.h"

class CVMInfo;
class VMCleaner;

// browse: prints the inventory under path as a tree, walking down the way
// the framework's browser does (each level's parent chain handed back).
int RunBrowse(PluginLoader& loader, const ConnectJob& job, const std::string& path);

// vm-op: runs one VM operation on an instance and prints the outcome.
// volumeId, when not empty, is the volume a snapshot (operation 13) is taken
// of: it becomes the snapshot entry of the instance's first disk.
int RunVmOperation(PluginLoader& loader, const ConnectJob& job, int operation, const std::string& instanceId,
                   const std::string& region, const std::string& volumeId);

// cleanup: removes what dead backup and restore jobs left registered in the
// cleanup store and prints what was removed and what is left.
int RunCleanup(PluginLoader& loader, const ConnectJob& job);
// The same on a connected object, as a job does at its start; prints what
// it removed (verbose: also the counts and what is left). False when a
// clean-up failed.
bool CleanupOrphans(CVMInfo& object, bool verbose);
// The cleanup store of the proxy the connected object runs on, opened for
// reading what jobs registered; false, with the reason printed, when it
// cannot be opened.
bool OpenProxyCleanupStore(CVMInfo& object, VMCleaner& store);
// A cleanup store entry's type as a user reads it ("volume", "snapshot" ...).
const char* CleanerTypeName(int type);
