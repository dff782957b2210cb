#pragma once
// The catalogue of a VM-centric snap backup: a VirtualServer.VMSnapBackup
// message (framework/SnapMessages.h) saved as a vsXMLFile. It holds the
// job id, whether instance-level snap metadata was used, and per instance
// (in instance-id order) its identity, job identifiers, index metadata and
// disks. Numbers are decimal; 64-bit ids keep all 64 bits.
// Thread-safe: no state.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "framework/MessageBase.h"
#include "records/VMInfoStructs.h"

namespace SnapBackupCatalog {
struct Catalog {
    int64_t jobId = 0;
    bool vmLevelMetadata = false;
    std::vector<VMInfoStructs::SVMInfo> vms;   // name, guid, guest OS, ids, zone, region, disks
};

// Instances whose index metadata cannot be serialised are still added,
// with the reason in warnings.
CNMessageBase Build(const Catalog& catalog, std::vector<std::string>& warnings);
bool Save(const std::string& path, const Catalog& catalog, std::vector<std::string>& warnings, std::string& error);
// Refuses (catalog untouched) a file that is not a catalogue of this form,
// a number that does not parse, and an instance without an id.
bool Load(const std::string& path, Catalog& catalog, std::string& error);
}  // namespace SnapBackupCatalog
