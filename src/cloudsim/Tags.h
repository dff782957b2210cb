#pragma once
// Tags as EC2 keeps them: which resources carry them, who may reach them,
// and the limits on keys and values.
#include <map>
#include <string>

#include "cloudsim/CloudState.h"
#include "cloudsim/Ownership.h"

namespace cloudsim {

// Key not empty, at most 128 characters and not "aws:"-prefixed; value at
// most 256 characters. False with the AWS text otherwise.
bool CheckTag(const std::string& key, const std::string& value, std::string& error);

// The tags of one of account's instances, volumes, snapshots or AMIs in
// region, told apart by the id's prefix; null with the AWS not-found text
// when there is no such resource (a deregistered AMI has none).
template <class S>
auto TagsOf(S& s, const std::string& id, const std::string& account, const std::string& region,
            std::string& error) -> decltype(&s.instances.begin()->second.tags) {
    if (id.rfind("i-", 0) == 0) {
        if (auto* r = FindOwned(s.instances, id, account, region)) return &r->tags;
        error = InstanceNotFound(id);
    } else if (id.rfind("vol-", 0) == 0) {
        if (auto* r = FindOwned(s.volumes, id, account, region)) return &r->tags;
        error = VolumeNotFound(id);
    } else if (id.rfind("snap-", 0) == 0) {
        if (auto* r = FindOwned(s.snapshots, id, account, region)) return &r->tags;
        error = SnapshotNotFound(id);
    } else if (id.rfind("ami-", 0) == 0) {
        auto* r = FindOwned(s.images, id, account, region);
        if (r && r->state != "deregistered") return &r->tags;
        error = ImageNotFound(id);
    } else {
        error = "InvalidID: The ID '" + id + "' is not valid";
    }
    return nullptr;
}

}  // namespace cloudsim
