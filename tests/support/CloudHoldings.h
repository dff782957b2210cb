#pragma once
// What a simulated cloud holds that a job may make, share or grant: live
// volumes, snapshots with the accounts they are shared with, and the grants
// on each key. Compared before and after a job, it names what was left,
// lost or changed.
#include <map>
#include <set>
#include <sstream>
#include <string>

#include "cloudsim/Cloud.h"

struct CloudHoldings {
    std::set<std::string> volumes;
    std::map<std::string, std::set<std::string>> snapshots;   // id -> shared with
    std::map<std::string, size_t> grants;                     // key ARN -> grants

    static CloudHoldings Of(cloudsim::Cloud& cloud) {
        CloudHoldings h;
        cloud.Read([&](const cloudsim::State& s) {
            for (const auto& [id, v] : s.volumes)
                if (v.state != "deleting") h.volumes.insert(id);
            for (const auto& [id, snap] : s.snapshots)
                h.snapshots[id] = std::set<std::string>(snap.sharedWith.begin(), snap.sharedWith.end());
            for (const auto& k : s.kmsKeys) h.grants[k.arn] = k.grantees.size();
        });
        return h;
    }

    // What now holds beyond this, but the volumes expected: empty when
    // nothing was left and nothing was lost or changed.
    std::string LeftOrLost(const CloudHoldings& now, const std::set<std::string>& expected = {}) const {
        std::ostringstream out;
        for (const auto& id : now.volumes)
            if (!volumes.count(id) && !expected.count(id)) out << " volume:" << id;
        for (const auto& [id, shared] : now.snapshots) {
            const auto was = snapshots.find(id);
            if (was == snapshots.end()) out << " copy:" << id;
            else if (was->second != shared) out << " shared:" << id;
        }
        for (const auto& [id, shared] : snapshots)
            if (!now.snapshots.count(id)) out << " lost:" << id;
        for (const auto& [arn, n] : now.grants)
            if (n > (grants.count(arn) ? grants.at(arn) : 0)) out << " granted:" << arn << "=" << n;
        return out.str();
    }
};
