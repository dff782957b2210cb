#pragma once
#include "host/HostOptions.h"
#include "host/PluginLoader.h"
#include "host/RestorePlan.h"

// A restore of one backup point the way the framework runs one: the point
// is checked and its images rebuilt from the chain; the destination (zone,
// instance type, the instance to attach to) is checked against the
// account's inventory; then InitRestoreVM and PreRestoreVM, the data mover
// writing each disk's data regions onto the volume the plug-in opens,
// RestoreVM, PostRestoreVM and CloseRestoreVM. A job that fails, or is
// stopped with SIGTERM or SIGINT, ends with CleanupRestoreVM instead; one
// killed outright is cleaned up by the next job's start. Bad input is
// refused before any phase runs. Prints the new instance and its volumes;
// returns the exit code.
int RunRestore(PluginLoader& loader, const ConnectJob& job, const RestoreRequest& request);
