// Tags of an instance or a volume, read in the resource's own region: the
// bridge looks ids up in its current region only.
#include "bridge/AmazonSDKBridge.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"

bool CAmazonInfo::GetTagsInRegion(const std::string& resource, const std::string& region,
                                  std::map<std::string, std::string>& tags) {
    AmazonCommon::BridgeRegionScope scope(*m_pSourceBridge, region);
    return m_pSourceBridge->GetTagList(resource, tags);
}
