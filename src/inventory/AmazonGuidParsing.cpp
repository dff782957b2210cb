// Tag and instance-type nodes carry their bridge query arguments in the GUID.
#include "factory/AmazonInfo.h"
#include "inventory/InventoryNodes.h"

namespace {
void Assign(const std::vector<std::string>& parts, size_t index, std::string& out) {
    if (index < parts.size()) out = parts[index];
}
}  // namespace

void CAmazonInfo::ParseTagGUD(const std::string& guid, std::string& region, std::string& tagKey,
                              std::string& tagValue) {
    region.clear();
    tagKey.clear();
    tagValue.clear();
    const auto parts = AmazonInventory::SplitGuid(guid);
    Assign(parts, 0, region);
    Assign(parts, 1, tagKey);
    Assign(parts, 2, tagValue);
}

void CAmazonInfo::ParseInstanceTypeGUID(const std::string& guid, std::string& region, std::string& type) {
    region.clear();
    type.clear();
    const auto parts = AmazonInventory::SplitGuid(guid);
    Assign(parts, 0, region);
    Assign(parts, 1, type);
}
