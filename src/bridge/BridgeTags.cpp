// Tags on instances, volumes, snapshots and AMIs, with the
// bridge's "#"-joined multi-value convention (see the header).
#include <algorithm>

#include "bridge/BridgeImpl.h"
#include "cloudsim/Tags.h"

using namespace bridgeimpl;
using cloudsim::State;
using Tags = std::map<std::string, std::string>;
using cloudsim::CheckTag;
using cloudsim::TagsOf;

namespace bridgeimpl {

// replace: the value; otherwise the value joins the "#"-list once.
std::string CombinedTagValue(const Tags& tags, const std::string& key, const std::string& value, bool replace) {
    auto it = tags.find(key);
    if (replace || it == tags.end()) return value;
    std::vector<std::string> values = SplitValues(it->second);
    if (value.empty() || std::find(values.begin(), values.end(), value) != values.end()) return it->second;
    values.push_back(value);
    return JoinValues(values);
}

void RemoveTagValue(Tags& tags, const std::string& key, const std::string& value, bool dropEmpty) {
    auto it = tags.find(key);
    if (it == tags.end()) return;
    if (value.empty()) {
        tags.erase(it);
        return;
    }
    std::vector<std::string> values = SplitValues(it->second);
    values.erase(std::remove(values.begin(), values.end(), value), values.end());
    if (values.empty() && dropEmpty) {
        tags.erase(it);
    } else {
        it->second = JoinValues(values);
    }
}

bool ApplyTag(Tags& tags, const std::string& key, const std::string& value, bool replace, std::string& error) {
    std::string combined = CombinedTagValue(tags, key, value, replace);
    if (!CheckTag(key, combined, error)) return false;
    tags[key] = combined;
    return true;
}

}  // namespace bridgeimpl

bool SimBackend::SetTag(const std::string& resource, const std::string& key, const std::string& value,
                              bool replace) {
    Impl& d = *m_impl;
    return d.Run("SetTag", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            Tags* tags = TagsOf(s, resource, d.accountId, d.region, error);
            return tags && ApplyTag(*tags, key, value, replace, error);
        });
    });
}

bool SimBackend::GetTag(const std::string& resource, const std::string& key, std::string& value) {
    Impl& d = *m_impl;
    return d.Run("GetTag", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Tags* tags = TagsOf(s, resource, d.accountId, d.region, error);
            if (!tags) return false;
            value = TagOr(*tags, key, "");
            return true;
        });
    });
}

bool SimBackend::DeleteTag(const std::string& resource, const std::string& key, const std::string& value,
                                 bool dropEmpty) {
    Impl& d = *m_impl;
    return d.Run("DeleteTag", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            Tags* tags = TagsOf(s, resource, d.accountId, d.region, error);
            if (!tags) return false;
            RemoveTagValue(*tags, key, value, dropEmpty);
            return true;
        });
    });
}

bool SimBackend::GetTagList(const std::string& resource, std::map<std::string, std::string>& tags) {
    Impl& d = *m_impl;
    return d.Run("GetTagList", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Tags* found = TagsOf(s, resource, d.accountId, d.region, error);
            if (!found) return false;
            tags = *found;
            return true;
        });
    });
}
