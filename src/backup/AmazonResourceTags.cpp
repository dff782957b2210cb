// Tags of an instance or a volume, read in the resource's own region: the
// bridge looks ids up in its current region only.
#include "bridge/AmazonSDKBridge.h"
#include "factory/AmazonInfo.h"
#include "inventory/BridgeRegionScope.h"

bool CAmazonInfo::GetTagsInRegion(const std::string& resource, const std::string& region,
                                  std::map<std::string, std::string>& tags) {
    AmazonInventory::BridgeRegionScope scope(*m_pSourceBridge, region);
    return m_pSourceBridge->GetTagList(resource, tags);
}
