#pragma once
#include "host/HostOptions.h"
#include "host/PluginLoader.h"

// Connects a new plug-in object with the job's credentials and prints what
// the plug-in learned about the account and the proxy. Returns the exit code.
int RunConnect(PluginLoader& loader, const ConnectJob& job);

// Creates a plug-in object and connects it as the job says; null (after
// printing why) when that fails.
PluginLoader::ObjectPtr ConnectObject(PluginLoader& loader, const ConnectJob& job);
