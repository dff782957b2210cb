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

// The same, also admitting public resources of other accounts.
template <class Map>
auto FindVisible(Map& map, const std::string& id, const std::string& account, const std::string& region)
    -> decltype(&map.begin()->second) {
    auto* r = FindIn(map, id);
    if (!r || (r->account != account && !r->isPublic) || (!region.empty() && r->region != region)) return nullptr;
    return r;
}

}  // namespace cloudsim
