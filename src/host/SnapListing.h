#pragma once
// What snap-backup and snap-list print of the snapshot manager's records
// and files. Thread-safe: no state.
#include <string>
#include <vector>

#include "records/SnapManagerRecords.h"

namespace SnapListing {
// One line per snapshot the manager made: "<snapshot> of <volume> in
// <region>", followed by " (failed)" for one whose snapshot entry failed:
// no backup of the job names it, and the job's own clean-up deletes it.
std::vector<std::string> Snapshots(const SMVolSnapInfo& record);
// Reads a stored file back as the reader of its kind would: snap metadata
// XML, the VM-centric catalogue, or an instance configuration file. False
// with the reason in summary when it does not read back.
bool ReadBack(const std::string& name, const std::string& bytes, std::string& summary);
}  // namespace SnapListing
