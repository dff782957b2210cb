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

// An instance whose index metadata could not be serialised, and the
// serialiser's code.
struct IndexFailure {
    std::string instanceId;
    int code = 0;
};

// Instances whose index metadata cannot be serialised are still added,
// each listed in warnings.
CNMessageBase Build(const Catalog& catalog, std::vector<IndexFailure>& warnings);
bool Save(const std::string& path, const Catalog& catalog, std::vector<IndexFailure>& warnings, std::string& error);
// Refuses (catalog untouched) a file that is not a catalogue of this form,
// a number that does not parse, and an instance without an id.
bool Load(const std::string& path, Catalog& catalog, std::string& error);
}  // namespace SnapBackupCatalog
