// Lists the framework asks for outside browsing: the instances under an
// inventory object, the regions, a zone's instances as nodes, the proxy's zone.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "inventory/InventoryNodes.h"

using AmazonGuard::Guarded;
using namespace AmazonInventory;

bool CAmazonInfo::GetVMInfoListForInventoryObject(const std::string& guid, EInventoryType type, ULONGLONG flags,
                                                  int option, std::vector<SVMInfo>& vms) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, false, [&] {
        if (type == kZoneNode) {
            SHostInfo zone;
            if (!AmazonCommon::BridgeCall(
                    *m_pSourceBridge, fn, [&] { return GetHostInfoForHost(guid, flags, option, zone) != 0; },
                    "Failed to get Host info for Host [%s]. Error [%s]", guid.c_str()))
                return false;
            vms.insert(vms.end(), zone.vms.begin(), zone.vms.end());
            return true;
        }
        if (type == kRegionNode) {
            SDataCenterInfo region;
            if (!AmazonCommon::BridgeCall(
                    *m_pSourceBridge, fn, [&] { return GetDCInfoForDC(guid, flags, option, region) != 0; },
                    "Failed to get Datacenter info for Datacenter [%s]. Error [%s]", guid.c_str()))
                return false;
            vms.insert(vms.end(), region.vms.begin(), region.vms.end());
            return true;
        }
        if (type == kVMListRoot) {
            if (!AmazonCommon::BridgeCall(
                    *m_pSourceBridge, fn, [&] { return m_pSourceBridge->RefreshVMInfoList(flags, option) != -1; },
                    "Failed to refresh VM Info list . Error [%s]"))
                return false;
            std::vector<SVMInfo> all;
            m_pSourceBridge->GetVMInfoList(all);
            vms.insert(vms.end(), all.begin(), all.end());
            return true;
        }
        return false;
    });
}

int CAmazonInfo::GetInventoryInfoList(std::vector<SInventoryInfo>& out, ULONGLONG flags, int option) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] { return GetRegionNodes(out, flags, option); });
}

bool CAmazonInfo::GetVMInventoryInfoListForHost(const std::string& zone, std::vector<SInventoryInfo>& out,
                                                ULONGLONG flags, int option) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, false, [&] {
        if ((flags & kTemplateRequest) != 0) {
            EvDebug::Debug(fn, "Get template list in zone [%s]", zone.c_str());
        } else {
            EvDebug::Debug(fn, "Get VM list in zone [%s]", zone.c_str());
            flags = kInstanceDiscovery;
        }
        SHostInfo host;
        if (!GetHostInfoForHost(zone, flags, option, host)) {
            EvDebug::Error(fn, "GetVMInventoryInfoListForHost Failed!!");
            return false;
        }
        // Templates are never offered as instance nodes, also when the
        // framework's discovery asked the bridge to include them.
        AppendInstanceNodes(host.vms, out);
        return true;
    });
}

int CAmazonInfo::GetLocalHostInfo(SHostInfo& host, ULONGLONG flags, int option) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        const std::string proxyId = GetProxyUUID();
        if (proxyId.empty()) {
            EvDebug::Error(fn, "The proxy is not an Amazon instance; it has no zone.");
            return 0;
        }
        SVMInfo proxy;
        if (!AmazonCommon::BridgeCall(
                *m_pAdminBridge, fn,
                [&] { return m_pAdminBridge->GetVMInfoForVM("", proxyId, "", "", flags, option, proxy); },
                "Failed to get VM info of the proxy [%s]. Error [%s]", proxyId.c_str()))
            return 0;
        return AmazonCommon::BridgeCall(
                   *m_pAdminBridge, fn,
                   [&] { return m_pAdminBridge->GetHostInfoForHost(proxy.zone, flags, option, host) != 0; },
                   "GetHostInfoForHost() failed..!! Error [%s]")
                   ? 1
                   : 0;
    });
}
