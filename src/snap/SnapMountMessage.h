#pragma once
// The live-browse mount hand-over: a mount's connection and disk layout as
// one VirtualServer.AmazonMountSnapInfo message text (framework messages,
// SnapMessages.h), which another process reads back to reach the same
// snapshots.
//
// Passwords and secret keys travel sealed (FwProtected), never in clear;
// a text carrying one in clear is refused. Parse also refuses, leaving the
// output untouched: a text that is not such a message (cut, altered, of
// another type), one over kMaxText, a credential type or sector size that
// does not parse, a sector size other than 512 or 4096, and a mapping
// without a volume or snapshot id. An empty mapping list is not refused
// here: the caller reports it after connecting, as the hand-over asks.
// Thread-safe: no state.
#include <cstdint>
#include <string>
#include <vector>

#include "records/AmazonRecords.h"

namespace SnapMountMessage {
constexpr size_t kMaxText = 1u << 20;

struct Mapping {
    std::string volumeId;
    std::string snapshotId;
    std::string zone;
    uint64_t sectorSize = 512;
};

struct Info {
    std::string endpoint;
    std::string user;
    std::string password;                      // clear in memory only
    std::vector<SHostCredentials> credentials; // type 5 admin account, 3 web proxy
    std::string region;
    std::string instanceName;
    std::string instanceId;                    // empty: no instance part
    std::vector<Mapping> mappings;
};

bool Serialize(const Info& info, std::string& out, std::string& error);
bool Parse(const std::string& text, Info& info, std::string& error);
}  // namespace SnapMountMessage
