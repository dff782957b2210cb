#pragma once
// What run-command reaches inside an instance: its file tree, whether
// PowerShell and the AWS PowerShell module are installed, and whether its
// SSM agent is registered. An instance without a guest record has no agent,
// as an instance that was never made a managed node.
#include <cstdint>
#include <string>
#include <vector>

#include "cloudsim/Schema.h"

namespace cloudsim {

struct State;

struct GuestFile {
    // Windows: "C:\dir\name" (a drive root is "C:\"); others: "/dir/name".
    std::string path;
    bool folder = false;
    std::string data;                    // a file's bytes (base64 in JSON)
    int64_t modifiedSec = 0;             // last write, seconds since 1970
};

struct Guest {
    std::string instanceId;
    bool ssmAgent = true;                // registered with Systems Manager
    bool powershell = true;              // always true for Windows in practice
    bool awsModule = true;               // AWSPowerShell / AWSPowerShell.NetCore
    std::vector<GuestFile> files;        // folders listed or implied by their files
};

const schema::Table<GuestFile>& GuestFileTable();
const schema::Table<Guest>& GuestTable();
// Guests belong to known instances; paths are absolute for the platform.
void CheckGuests(const State& s);

// Path rules of the guest's platform. Normalise turns either separator into
// the platform's, drops a trailing one (not a root's) and gives empty for a
// path that is not absolute.
std::string NormaliseGuestPath(const std::string& path, bool windows);
std::string GuestParent(const std::string& path, bool windows);
std::string GuestLeaf(const std::string& path, bool windows);
bool IsGuestRoot(const std::string& path, bool windows);
bool IsWindowsGuest(const State& s, const std::string& instanceId);

}  // namespace cloudsim
