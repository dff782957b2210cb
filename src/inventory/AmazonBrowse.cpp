// Browsing the account tree: the framework names the level it shows by a
// "\"-separated path and hands the chain of nodes it walked to get there.
#include <array>

#include "bridge/AmazonSDKBridge.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "inventory/InventoryNodes.h"

using AmazonGuard::Guarded;
using namespace AmazonInventory;

namespace {

// The order the framework shows the views in.
const std::array<const char*, 4> kDisplayedViews = {"Instance View", "Region View", "Tags View", "InstanceType View"};
// The order a path is matched against, which decides a path naming several.
const std::array<const char*, 4> kMatchedViews = {"Region View", "Instance View", "Tags View", "InstanceType View"};

// Empty parts between separators are dropped; a trailing separator names an
// empty node below the last one.
std::vector<std::string> SplitPath(const std::string& path) {
    std::vector<std::string> parts;
    std::string part;
    for (char c : path) {
        if (c != '\\') {
            part += c;
        } else if (!part.empty()) {
            parts.push_back(part);
            part.clear();
        }
    }
    if (!part.empty()) parts.push_back(part);
    if (!path.empty() && path.back() == '\\') parts.emplace_back();
    return parts;
}

bool IsViewRootPath(const std::string& path) {
    for (const char* view : kDisplayedViews)
        if (path == std::string("\\") + view) return true;
    return false;
}

std::string ViewOfPath(const std::string& path) {
    for (const char* view : kMatchedViews)
        if (path.find(view) != std::string::npos) return view;
    return {};
}

std::vector<VMInfoStructs::SInventoryInfo> ViewNodes() {
    std::vector<VMInfoStructs::SInventoryInfo> nodes;
    for (const char* view : kDisplayedViews) {
        VMInfoStructs::SInventoryInfo node;
        node.name = view;
        nodes.push_back(node);
    }
    return nodes;
}

}  // namespace

int CAmazonInfo::BrowseInventory(const std::string& path, const SInventoryInfo& parent,
                                 std::vector<SInventoryInfo>& out, ULONGLONG, int option) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::DebugLvl(fn, 2, "Search path [%s]", path.c_str());
        out.clear();
        if (path.empty() || path == "\\") {
            out = ViewNodes();
            return 1;
        }
        const auto parts = SplitPath(path);
        if (parts.empty()) {
            EvDebug::Error(fn, "Search path [%s] is not valid", path.c_str());
            return 0;
        }
        const std::string& current = parts.back();
        EvDebug::Debug(fn, "Current node  [%s] ", current.c_str());

        SInventoryInfo node;
        if (IsViewRootPath(path)) {
            EvDebug::DebugLvl(fn, 2, "Current node [%s] is root node.", current.c_str());
            node.name = current;
            node.type = kRootNode;
        } else {
            if (!LocateCurrentBrowseNodeInTree(parent, current, node, static_cast<int>(parts.size()), 1)) {
                EvDebug::Error(fn, "Failed to locate the browse node for [%s]", current.c_str());
                return 0;
            }
            if (node.guid.empty()) {
                EvDebug::Error(fn, "current browse node is empty.");
                return 0;
            }
        }

        const std::string view = ViewOfPath(path);
        if (view.empty()) {
            EvDebug::Error(fn, "Unrecognized browse type [%s]", path.c_str());
            return 0;
        }
        std::vector<SInventoryInfo> children;
        const int result = BrowseAmazonView(view, node, children, 0, option);
        SortByName(children);
        out = std::move(children);
        return result;
    });
}

bool CAmazonInfo::LocateCurrentBrowseNodeInTree(const SInventoryInfo& node, const std::string& name,
                                                SInventoryInfo& found, int reqLevel, int currLevel) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2,
                      "Req level : [%d] curr level : [%d] , browse node name : [%s] Node name : [%s]", reqLevel,
                      currLevel, name.c_str(), node.name.c_str());
    if (node.name == name && reqLevel == currLevel) {
        found = node;
        return true;
    }
    if (node.children.size() != 1) return false;
    return LocateCurrentBrowseNodeInTree(node.children.front(), name, found, reqLevel, currLevel + 1);
}

int CAmazonInfo::BrowseAmazonView(const std::string& view, const SInventoryInfo& node,
                                  std::vector<SInventoryInfo>& out, ULONGLONG flags, int option) {
    switch (node.type) {
        case kRootNode:
            return GetRegionNodes(out, flags, option);
        case kRegionNode:
            return GetDataCenterView(view, node, out, flags, option);
        case kZoneNode:
            return GetHostView(node, out, flags, option);
        case kTagValueNode:
        case kTagKeyNode:
            return GetTagView(node, out, flags, option);
        case kInstanceTypeNode:
            return GetInstanceTypeView(node, out, flags, option);
        default:
            EvDebug::Error(__PRETTY_FUNCTION__, "Node [%s] of type [%d] cannot be browsed.", node.name.c_str(),
                           node.type);
            return 0;
    }
}

int CAmazonInfo::GetRegionNodes(std::vector<SInventoryInfo>& out, ULONGLONG flags, int option) {
    if (m_dcCache.empty() && !_RefreshDCInfoCache(flags | kRegionDiscovery, option)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to refresh Datacenter info cache.");
        return 0;
    }
    for (const auto& region : m_dcCache) out.push_back(RegionNode(region));
    return 1;
}
