#pragma once
// Guest file commands: the framework's guest file restore played against a
// running instance. Each connects, finds the instance (its zone and name
// make the guest context), calls PrepareGuestForFileCopy first, as the
// framework does, then the one operation; the plug-in's waits go through
// the framework clock, and Disconnect ends the guest job (what it staged in
// the bucket and the commands it waited on are removed; a job killed
// outright leaves them registered for the next job's clean-up). SIGTERM or
// SIGINT cancels a wait (error 4000) and the command with it.
#include <map>
#include <string>
#include <vector>

#include "host/HostOptions.h"
#include "host/PluginLoader.h"

struct GuestRequest {
    std::string command;       // "guest-browse", "guest-restore", "guest-run"
    std::string instanceId;
    std::string path;          // guest-browse: the folder; empty: the root
    std::string file;          // guest-restore: the local file
    std::string to;            // guest-restore: the path in the guest
    std::string script;        // guest-run: the local script file
    int timeoutSeconds = 3600; // guest-run: how long the job waits for it
};

bool IsGuestCommand(const std::string& command);
// False with a reason on a malformed command line (exit code 2).
bool ParseGuestRequest(const std::string& command, const std::map<std::string, std::string>& values,
                       const std::vector<std::string>& positional, GuestRequest& out, std::string& why);
// Returns the exit code: 0, or 1 with the plug-in's code and text.
int RunGuestCommand(PluginLoader& loader, const ConnectJob& job, const GuestRequest& request);
