#pragma once
// Look-ups scoped as AWS scopes them: a caller sees its own account's
// resources in one region, and other accounts' only where they are public.
#include <string>

namespace cloudsim {

template <class Map>
auto FindIn(Map& map, const std::string& id) -> decltype(&map.begin()->second) {
    auto it = map.find(id);
    return it == map.end() ? nullptr : &it->second;
}

// A resource of account in region (any region when region is empty).
template <class Map>
auto FindOwned(Map& map, const std::string& id, const std::string& account, const std::string& region)
    -> decltype(&map.begin()->second) {
    auto* r = FindIn(map, id);
    if (!r || r->account != account || (!region.empty() && r->region != region)) return nullptr;
    return r;
}

// Whether another account shared the resource with account; a kind that
// cannot be shared has none (snapshots: Snapshots.h).
template <class R>
bool SharedWith(const R&, const std::string&) {
    return false;
}

// The same, also admitting public resources of other accounts and those
// shared with account.
template <class Map>
auto FindVisible(Map& map, const std::string& id, const std::string& account, const std::string& region)
    -> decltype(&map.begin()->second) {
    auto* r = FindIn(map, id);
    if (!r || (r->account != account && !r->isPublic && !SharedWith(*r, account)) ||
        (!region.empty() && r->region != region))
        return nullptr;
    return r;
}

}  // namespace cloudsim
