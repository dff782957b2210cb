#include <cstdio>
#include <vector>

#include "host/ConnectCommand.h"
#include "host/InventoryCommands.h"

namespace {
using VMInfoStructs::SInventoryInfo;

// Nodes that have children of their own: account root, region, zone, tag and
// instance-type nodes.
bool HasChildren(const SInventoryInfo& node) {
    switch (node.type) {
        case 0: case 2: case 5: case 24: case 25: case 28: return true;
        default: return false;
    }
}

// The parent chain the framework hands to a browse: the view node first,
// each node holding the next one as its only child.
SInventoryInfo Chain(const std::vector<SInventoryInfo>& nodes) {
    if (nodes.empty()) return SInventoryInfo();
    SInventoryInfo root = nodes.back();
    root.children.clear();
    for (size_t i = nodes.size() - 1; i-- > 0;) {
        SInventoryInfo parent = nodes[i];
        parent.children = {root};
        root = parent;
    }
    return root;
}

struct Walker {
    CVMInfo& object;
    std::vector<std::string> wanted;   // path parts to follow before printing everything
    int failures = 0;

    void Walk(const std::string& path, std::vector<SInventoryInfo>& chain, int indent) {
        const size_t level = chain.size();
        std::vector<SInventoryInfo> children;
        if (!object.BrowseInventory(path, Chain(chain), children, 0, 0)) {
            std::printf("%*s! cannot browse [%s] (error %d: %s)\n", indent, "", path.c_str(), object.GetLastVMError(),
                        object.GetLastVMErrorDetails().c_str());
            ++failures;
            return;
        }
        for (const auto& child : children) {
            if (level < wanted.size() && child.name != wanted[level]) continue;
            std::printf("%*s%s", indent, "", child.name.c_str());
            if (!child.guid.empty() && child.guid != child.name) std::printf("  (%s)", child.guid.c_str());
            std::printf("\n");
            if (!HasChildren(child)) continue;
            chain.push_back(child);
            Walk(path == "\\" || path.empty() ? "\\" + child.name : path + "\\" + child.name, chain, indent + 2);
            chain.pop_back();
        }
    }
};
}  // namespace

int RunBrowse(PluginLoader& loader, const ConnectJob& job, const std::string& path) {
    auto object = ConnectObject(loader, job);
    if (!object) return 1;
    Walker walker{*object, {}};
    // The walk always starts at the top (the four views) and follows the
    // asked path through the nodes the plug-in returns, so every level gets
    // the chain of real nodes from its view down.
    size_t pos = path.empty() || path[0] != '\\' ? 0 : 1;
    while (pos < path.size()) {
        size_t next = path.find('\\', pos);
        if (next == std::string::npos) next = path.size();
        walker.wanted.push_back(path.substr(pos, next - pos));
        pos = next + 1;
    }
    std::vector<SInventoryInfo> chain;
    std::printf("\\\n");
    walker.Walk("", chain, 2);
    object->Disconnect();
    return walker.failures ? 1 : 0;
}
