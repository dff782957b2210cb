// Look-ups of single instances, zones and regions, and of the instances
// under a tag or an instance type, through the source account.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "inventory/InventoryNodes.h"

using AmazonCommon::BridgeCall;
using AmazonGuard::Guarded;
using namespace AmazonInventory;

namespace {
// The look-ups answer the framework 1 or 0, whatever else the bridge returns.
template <class Call>
int LoggedBridgeCall(const char* fn, CAmazonSDKBridge& bridge, Call call, const char* text) {
    return BridgeCall(bridge, fn, [&] { return call() != 0; }, text) ? 1 : 0;
}
}  // namespace

int CAmazonInfo::GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
                                ULONGLONG flags, int option, SVMInfo& vm) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        std::string zone = host;
        if (zone == "default") {
            EvDebug::DebugLvl(fn, 2, "Overwriting HubServ DB default host name");
            zone.clear();
        }
        const auto lookUp = [&] { return m_pSourceBridge->GetVMInfoForVM(name, guid, zone, "", flags, option, vm) != 0; };
        if (!BridgeCall(*m_pSourceBridge, fn, lookUp, "GetVMInfoForVM Failed for VM [%s]/[%s]. Error [%s]",
                        name.c_str(), guid.c_str()))
            return 0;
        // Sized by what the disks hold, which is what a backup of it reads.
        vm.totalDiskSize = UsedDiskSize(vm);
        return 1;
    });
}

int CAmazonInfo::GetVMInfoForVMFromRegion(const std::string& name, const std::string& guid,
                                          const std::string& region, ULONGLONG flags, int option, SVMInfo& vm) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        const int result = m_pSourceBridge->GetVMInfoForVM(name, guid, "", region, flags, option, vm);
        if (!result)
            EvDebug::Error(fn, "GetVMInfoForVM Failed for VM [%s]/[%s]", name.c_str(), guid.c_str());
        return result;
    });
}

int CAmazonInfo::GetHostInfoForHost(const std::string& zone, ULONGLONG flags, int option, SHostInfo& host) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        return LoggedBridgeCall(
            fn, *m_pSourceBridge, [&] { return m_pSourceBridge->GetHostInfoForHost(zone, flags, option, host); },
            "GetHostInfoForHost() failed..!! Error [%s]");
    });
}

int CAmazonInfo::GetDCInfoForDC(const std::string& region, ULONGLONG flags, int option, SDataCenterInfo& dc) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        return LoggedBridgeCall(
            fn, *m_pSourceBridge, [&] { return m_pSourceBridge->GetDCInfoForDC(region, flags, option, dc); },
            "GetDCInfoForDC() failed..!! Error [%s]");
    });
}

int CAmazonInfo::GetInventoryInfoListForTag(const std::string& region, const std::string& tagKey,
                                            const std::string& tagValue, ULONGLONG flags, int option,
                                            std::vector<SInventoryInfo>& nodes) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        return LoggedBridgeCall(
            fn, *m_pSourceBridge,
            [&] { return m_pSourceBridge->GetInventoryInfoListForTag(region, tagKey, tagValue, flags, option, nodes); },
            "GetInventoryInfoListForTag() failed..!! Error [%s]");
    });
}

int CAmazonInfo::GetVMInfoListForTag(const std::string& region, const std::string& tagKey, const std::string& tagValue,
                                     ULONGLONG flags, int option, std::vector<SVMInfo>& vms) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        return LoggedBridgeCall(
            fn, *m_pSourceBridge,
            [&] { return m_pSourceBridge->GetVMInfoListForTag(region, tagKey, tagValue, flags, option, vms); },
            "GetVMInfoListForTag() failed..!! Error [%s]");
    });
}

int CAmazonInfo::GetVMInfoListForTag(const std::string&, const std::string& guid, EInventoryType, ULONGLONG flags,
                                     int option, std::vector<SVMInfo>& vms) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        std::string region, tagKey, tagValue;
        ParseTagGUD(guid, region, tagKey, tagValue);
        return GetVMInfoListForTag(region, tagKey, tagValue, flags, option, vms);
    });
}

int CAmazonInfo::GetVMInfoListForInstanceSize(const std::string& guid, ULONGLONG flags, int option,
                                              std::vector<SVMInfo>& vms) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        std::string region, type;
        ParseInstanceTypeGUID(guid, region, type);
        return LoggedBridgeCall(
            fn, *m_pSourceBridge, [&] { return m_pSourceBridge->GetVMInfoListForInstanceType(region, type, flags, option, vms); },
            "GetVMInfoListForInstanceType() failed..!! Error [%s]");
    });
}

int CAmazonInfo::GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG flags, int option,
                                                  std::vector<SInventoryInfo>& nodes, bool listAll) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        return LoggedBridgeCall(
            fn, *m_pSourceBridge, [&] { return m_pSourceBridge->GetInstanceTypeInfoListForRegion(region, flags, option, nodes, listAll); },
            "GetInstanceTypeInfoListForRegion() failed..!! Error [%s]");
    });
}

int CAmazonInfo::DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone, bool& exists,
                             std::vector<SVMInfo>& vms) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        const int result = m_pSourceBridge->DoesVMExist(guid, name, zone, exists, vms);
        if (!result)
            EvDebug::Error(fn, "DoesVMExist failed for VM [%s] or [%s]", name.c_str(), guid.c_str());
        return result;
    });
}
