// The levels below a region: what each of the four views shows there.
#include "common/BridgeCall.h"
#include "bridge/AmazonSDKBridge.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "inventory/InventoryNodes.h"

using namespace AmazonInventory;

int CAmazonInfo::GetDataCenterView(const std::string& view, const SInventoryInfo& node,
                                   std::vector<SInventoryInfo>& out, ULONGLONG flags, int option) {
    if (view == "Tags View") return GetTagView(node, out, flags, option);
    if (view == "InstanceType View") return GetInstanceTypeView(node, out, flags, option);

    const bool instanceView = view == "Instance View";
    SDataCenterInfo region;
    const ULONGLONG discovery = flags | (instanceView ? kInstanceDiscovery : kRegionDiscovery);
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return GetDCInfoForDC(node.guid, discovery, option, region) != 0; },
            "Failed to get Datacenter info for datacenter [%s]/[%s]. Error [%s]", node.name.c_str(),
            node.guid.c_str()))
        return 0;
    if (instanceView) {
        AppendInstanceNodes(region.vms, out);
    } else {
        for (const auto& zone : region.hosts) out.push_back(ZoneNode(zone));
    }
    return 1;
}

int CAmazonInfo::GetHostView(const SInventoryInfo& node, std::vector<SInventoryInfo>& out, ULONGLONG flags,
                             int option) {
    SHostInfo zone;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return GetHostInfoForHost(node.guid, flags | kInstanceDiscovery, option, zone) != 0; },
            "Failed to get host info for host [%s]/[%s]. Error [%s]", node.name.c_str(), node.guid.c_str()))
        return 0;
    AppendInstanceNodes(zone.vms, out);
    return 1;
}

int CAmazonInfo::GetTagView(const SInventoryInfo& node, std::vector<SInventoryInfo>& out, ULONGLONG flags,
                            int option) {
    std::string region, tagKey, tagValue;
    ParseTagGUD(node.guid, region, tagKey, tagValue);
    int result = 0;
    const auto list = [&] {
        if (node.type != kTagValueNode)
            return (result = GetInventoryInfoListForTag(region, tagKey, tagValue, flags, option, out)) != 0;
        std::vector<SVMInfo> vms;
        result = GetVMInfoListForTag(region, tagKey, tagValue, flags, option, vms);
        if (result) AppendInstanceNodes(vms, out);
        return result != 0;
    };
    AmazonCommon::BridgeCall(*m_pSourceBridge, __PRETTY_FUNCTION__, list,
                             "Failed to get VM info for tag [%s]/[%s]. Error [%s]", node.name.c_str(),
                             node.guid.c_str());
    return result;
}

int CAmazonInfo::GetInstanceTypeView(const SInventoryInfo& node, std::vector<SInventoryInfo>& out, ULONGLONG flags,
                                     int option) {
    if (node.type == kInstanceTypeNode) {
        std::vector<SVMInfo> vms;
        int result = 0;
        if (!AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__,
                [&] { return (result = GetVMInfoListForInstanceSize(node.guid, flags, option, vms)) != 0; },
                "Failed to get VM info for InstanceType [%s]. Error [%s]", node.name.c_str()))
            return 0;
        AppendInstanceNodes(vms, out);
        return result;
    }

    std::string region, type;
    ParseInstanceTypeGUID(node.guid, region, type);
    int listAll = 0;
    KDPlatformInfo().getNumber("VirtualServer", "nListAllInstanceTypesAmazon", listAll);
    int result = 0;
    AmazonCommon::BridgeCall(
        *m_pSourceBridge, __PRETTY_FUNCTION__,
        [&] { return (result = GetInstanceTypeInfoListForRegion(region, flags, option, out, listAll == 1)) != 0; },
        "Failed to get InstanceTypes for Region [%s]. Error [%s]", region.c_str());
    return result;
}
