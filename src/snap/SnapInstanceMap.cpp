// Instances of snap backup volumes: one per volume, counted by id.
#include "snap/SnapInstanceMap.h"

#include <set>

using VMInfoStructs::SDatastoreInfo;
using VMInfoStructs::SVMInfo;

void SnapInstanceMap::AppendInstanceOnce(SDatastoreInfo& datastore, const SVMInfo& vm) {
    for (auto& known : datastore.vms) {
        if (known.guid == vm.guid) {
            known = vm;
            return;
        }
    }
    datastore.vms.push_back(vm);
}

size_t SnapInstanceMap::DistinctInstanceCount(const SDatastoreInfo& datastore) {
    std::set<std::string> ids;
    for (const auto& vm : datastore.vms) ids.insert(vm.guid);
    return ids.size();
}

bool SnapInstanceMap::PopulateFromDatastores(const std::vector<SDatastoreInfo>& datastores,
                                             std::map<std::string, SVMInfo>& map, Problem& problem) {
    std::map<std::string, SVMInfo> added;
    for (const auto& ds : datastores) {
        const size_t count = DistinctInstanceCount(ds);
        if (count != 1) {
            problem.kind = count == 0 ? Problem::kNoInstance : Problem::kSeveralInstances;
            problem.volumeId = ds.guid;
            return false;
        }
        SVMInfo vm = ds.vms.front();
        if (vm.guid.empty() || map.count(vm.guid) || added.count(vm.guid)) continue;
        vm.disks = vm.allDisks;
        added.emplace(vm.guid, std::move(vm));
    }
    map.insert(added.begin(), added.end());
    return true;
}
