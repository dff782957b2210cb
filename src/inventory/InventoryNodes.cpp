#include "inventory/InventoryNodes.h"

#include <algorithm>
#include <cctype>

namespace AmazonInventory {

const char kGuidSeparator[] = "#$vm-+=";

VMInfoStructs::SInventoryInfo RegionNode(const VMInfoStructs::SDataCenterInfo& region) {
    VMInfoStructs::SInventoryInfo node;
    node.name = region.name;
    node.guid = region.name;
    node.type = kRegionNode;
    return node;
}

VMInfoStructs::SInventoryInfo ZoneNode(const VMInfoStructs::SHostInfo& zone) {
    VMInfoStructs::SInventoryInfo node;
    node.name = zone.name;
    node.guid = zone.guid.empty() ? zone.name : zone.guid;
    node.type = kZoneNode;
    return node;
}

VMInfoStructs::SInventoryInfo InstanceNode(const VMInfoStructs::SVMInfo& vm) {
    VMInfoStructs::SInventoryInfo node;
    node.name = vm.name;
    node.guid = vm.guid;
    node.type = kInstanceNode;
    if (vm.powerState == 1) node.flags |= 1;
    if (vm.connectionState == 1) node.flags |= 4;
    return node;
}

void AppendInstanceNodes(const std::vector<VMInfoStructs::SVMInfo>& vms, std::vector<VMInfoStructs::SInventoryInfo>& out) {
    for (const auto& vm : vms)
        if (!vm.isTemplate) out.push_back(InstanceNode(vm));
}

namespace {
bool LessIgnoringCase(const std::string& a, const std::string& b) {
    return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
    });
}
}  // namespace

void SortByName(std::vector<VMInfoStructs::SInventoryInfo>& nodes) {
    std::stable_sort(nodes.begin(), nodes.end(), [](const auto& a, const auto& b) {
        return LessIgnoringCase(a.name, b.name);
    });
}

uint64_t UsedDiskSize(const VMInfoStructs::SVMInfo& vm) {
    uint64_t total = 0;
    for (const auto& disk : vm.disks)
        if (disk.usedSize > 0) total += static_cast<uint64_t>(disk.usedSize);
    return total;
}

std::vector<std::string> SplitGuid(const std::string& guid) {
    const bool joined = guid.find(kGuidSeparator) != std::string::npos;
    const std::string separator = joined ? std::string(kGuidSeparator) : std::string(1, '\x12');
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        size_t at = guid.find(separator, start);
        if (at == std::string::npos) {
            parts.push_back(guid.substr(start));
            return parts;
        }
        parts.push_back(guid.substr(start, at - start));
        start = at + separator.size();
    }
}

}  // namespace AmazonInventory
