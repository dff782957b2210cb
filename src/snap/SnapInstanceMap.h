#pragma once
// The instances of a snap backup's volumes. A volume belongs to exactly one
// instance: its datastore record lists the instance once, however often a
// flow adds it, and "more than one instance" means more than one distinct
// instance id. Thread-safe: no state.
#include <map>
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

namespace SnapInstanceMap {
// Appends the instance unless the list already holds its id; then the
// entry is replaced, so the latest record of it is the one kept.
void AppendInstanceOnce(VMInfoStructs::SDatastoreInfo& datastore, const VMInfoStructs::SVMInfo& vm);
size_t DistinctInstanceCount(const VMInfoStructs::SDatastoreInfo& datastore);

// Why a volume's instances cannot be mapped.
struct Problem {
    enum Kind { kNone, kNoInstance, kSeveralInstances };
    Kind kind = kNone;
    std::string volumeId;
};

// Adds to map (instance id -> record) the instance of each datastore that
// map lacks, its disk list replaced by its complete one: the first volume
// naming an instance decides its record. False, with the volume and why in
// problem, when a volume has no instance or more than one; map is then
// unchanged.
bool PopulateFromDatastores(const std::vector<VMInfoStructs::SDatastoreInfo>& datastores,
                            std::map<std::string, VMInfoStructs::SVMInfo>& map, Problem& problem);
}  // namespace SnapInstanceMap
