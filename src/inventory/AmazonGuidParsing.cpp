// Tag and instance-type nodes carry their bridge query arguments in the GUID.
#include "factory/AmazonInfo.h"
#include "inventory/InventoryNodes.h"

namespace {
void Assign(const std::vector<std::string>& parts, size_t index, std::string& out) {
    if (index < parts.size()) out = parts[index];
}
}  // namespace

void CAmazonInfo::ParseTagGUD(const std::string& guid, std::string& p0, std::string& p1, std::string& p2) {
    p0.clear();
    p1.clear();
    p2.clear();
    const auto parts = AmazonInventory::SplitGuid(guid);
    Assign(parts, 0, p0);
    Assign(parts, 1, p1);
    Assign(parts, 2, p2);
}

void CAmazonInfo::ParseInstanceTypeGUID(const std::string& guid, std::string& region, std::string& type) {
    region.clear();
    type.clear();
    const auto parts = AmazonInventory::SplitGuid(guid);
    Assign(parts, 0, region);
    Assign(parts, 1, type);
}
