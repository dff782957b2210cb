#pragma once
// The guest side of run-command: a small PowerShell (and sh) that runs the
// statements the plug-in and simple user scripts send, against the guest's
// file tree, with the languages' own quoting. PowerShell parses the whole
// script before it runs any of it, so a malformed script runs nothing.
// Supported: $PSVersionTable.PSVersion, Import-Module, echo/Write-Output/
// Write-Host, the drive-letter pipeline of get-volume, foreach over
// get-childitem with the listing body, Remove-Item, Read-S3Object,
// Start-Sleep, exit. Anything else fails as an unknown command does.
#include <cstdint>
#include <string>

namespace cloudsim {

struct State;

struct ShellResult {
    std::string out;
    std::string err;
    int exitCode = 0;
};

// Runs script on the instance's guest (which must exist) as PowerShell, or
// as sh when powershell is false; nowSec stamps files it writes.
ShellResult RunGuestScript(State& s, const std::string& instanceId, const std::string& script, bool powershell,
                           int64_t nowSec);
// How long the script's Start-Sleep (sleep) statements keep it running.
int64_t ScriptSleepSeconds(const std::string& script);

}  // namespace cloudsim
