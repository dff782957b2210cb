// The wire backend's tags, with the "#"-joined value conventions of the
// bridge header kept over EC2's CreateTags, DeleteTags and DescribeTags.
#include "bridge/BridgeText.h"
#include "bridge/wire/WireBackend.h"
#include "bridge/wire/WireEc2Records.h"

using namespace bridgeimpl;
using namespace bridgeimpl::wire;

bool WireBackend::TagsOf(const std::string& resource, std::map<std::string, std::string>& tags, std::string& error) {
    QueryParams filters;
    AddFilter(filters, "resource-id", resource);
    tags.clear();
    return Ec2Items("DescribeTags", filters, "tagSet/item",
                    [&](const pugi::xml_node& item) { tags[item.child_value("key")] = item.child_value("value"); },
                    error);
}

bool WireBackend::PutTags(const std::string& resource, const std::map<std::string, std::string>& tags,
                          std::string& error, const std::string& region) {
    QueryParams params{{"ResourceId.1", resource}};
    int n = 0;
    for (const auto& [key, value] : tags) {
        const std::string prefix = "Tag." + std::to_string(++n);
        params.emplace_back(prefix + ".Key", key);
        params.emplace_back(prefix + ".Value", value);
    }
    pugi::xml_document doc;
    return Ec2("CreateTags", params, doc, error, region);
}

bool WireBackend::SetTag(const std::string& resource, const std::string& key, const std::string& value,
                         bool replace) {
    return Run("SetTag", true, [&](std::string& error) {
        std::map<std::string, std::string> tags;
        if (!replace && !TagsOf(resource, tags, error)) return false;
        return PutTags(resource, {{key, CombinedTagValue(tags, key, value, replace)}}, error);
    });
}

bool WireBackend::GetTag(const std::string& resource, const std::string& key, std::string& value) {
    return Run("GetTag", true, [&](std::string& error) {
        std::map<std::string, std::string> tags;
        if (!TagsOf(resource, tags, error)) return false;
        auto it = tags.find(key);
        value = it == tags.end() ? std::string() : it->second;
        return true;
    });
}

bool WireBackend::DeleteTag(const std::string& resource, const std::string& key, const std::string& value,
                            bool dropEmpty) {
    return Run("DeleteTag", true, [&](std::string& error) {
        std::map<std::string, std::string> tags;
        if (!TagsOf(resource, tags, error)) return false;
        if (!tags.count(key)) return true;
        RemoveTagValue(tags, key, value, dropEmpty);
        auto left = tags.find(key);
        if (left != tags.end()) return PutTags(resource, {{key, left->second}}, error);
        pugi::xml_document doc;
        return Ec2("DeleteTags", {{"ResourceId.1", resource}, {"Tag.1.Key", key}}, doc, error);
    });
}

bool WireBackend::GetTagList(const std::string& resource, std::map<std::string, std::string>& tags) {
    return Run("GetTagList", true, [&](std::string& error) { return TagsOf(resource, tags, error); });
}
