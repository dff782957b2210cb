#pragma once
// The job identifiers the framework gives each instance of a snap backup,
// carried from its job entry into its record. Thread-safe: no state.
#include "records/AmazonRecords.h"
#include "records/VMInfoStructs.h"

namespace AmazonSnap {
inline void CopyJobIdentifiers(const SVMBasicInfo& entry, VMInfoStructs::SVMInfo& vm) {
    vm.clientId = entry.clientId;
    vm.vmJobId = entry.vmJobId;
    vm.vmAppId = entry.vmAppId;
    vm.backupSetGuid = entry.backupSetGuid;
    vm.subclientGuid = entry.subclientGuid;
}
}  // namespace AmazonSnap
