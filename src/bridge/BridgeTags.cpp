// Tags on instances, volumes, snapshots and AMIs, with the
// bridge's "#"-joined multi-value convention (see the header).
#include <algorithm>

#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;
using cloudsim::State;
using Tags = std::map<std::string, std::string>;

namespace {

const size_t kMaxKey = 128;
const size_t kMaxValue = 256;

bool StartsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

// The tags of one of account's resources in region; null with the AWS
// not-found text when there is no such resource.
template <class S>
auto TagsOf(S& s, const std::string& id, const std::string& account, const std::string& region,
            std::string& error) -> decltype(&s.instances.begin()->second.tags) {
    if (StartsWith(id, "i-")) {
        if (auto* r = FindOwned(s.instances, id, account, region)) return &r->tags;
        error = InstanceNotFound(id);
    } else if (StartsWith(id, "vol-")) {
        if (auto* r = FindOwned(s.volumes, id, account, region)) return &r->tags;
        error = VolumeNotFound(id);
    } else if (StartsWith(id, "snap-")) {
        if (auto* r = FindOwned(s.snapshots, id, account, region)) return &r->tags;
        error = SnapshotNotFound(id);
    } else if (StartsWith(id, "ami-")) {
        auto* r = FindOwned(s.images, id, account, region);
        if (r && r->state != "deregistered") return &r->tags;
        error = ImageNotFound(id);
    } else {
        error = "InvalidID: The ID '" + id + "' is not valid";
    }
    return nullptr;
}

bool CheckTag(const std::string& key, const std::string& value, std::string& error) {
    if (key.empty()) return Err(error, "InvalidParameterValue: Tag key must not be empty");
    if (StartsWith(key, "aws:"))
        return Err(error, "InvalidParameterValue: Tag keys starting with 'aws:' are reserved for internal use");
    if (key.size() > kMaxKey)
        return Err(error, "InvalidParameterValue: Tag key exceeds the maximum length of 128 characters");
    if (value.size() > kMaxValue)
        return Err(error, "InvalidParameterValue: Tag value exceeds the maximum length of 256 characters");
    return true;
}

}  // namespace

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

bool CAmazonSDKBridge::SetTag(const std::string& resource, const std::string& key, const std::string& value,
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

bool CAmazonSDKBridge::GetTag(const std::string& resource, const std::string& key, std::string& value) {
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

bool CAmazonSDKBridge::DeleteTag(const std::string& resource, const std::string& key, const std::string& value,
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

bool CAmazonSDKBridge::GetTagList(const std::string& resource, std::map<std::string, std::string>& tags) {
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
