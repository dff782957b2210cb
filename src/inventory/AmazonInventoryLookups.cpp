// Look-ups of single instances, zones and regions, and of the instances
// under a tag or an instance type, through the source account.
#include "bridge/AmazonSDKBridge.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "inventory/InventoryNodes.h"

using AmazonGuard::Guarded;
using namespace AmazonInventory;

int CAmazonInfo::GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
                                ULONGLONG flags, int option, SVMInfo& vm) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        std::string zone = host;
        if (zone == "default") {
            EvDebug::DebugLvl(fn, 2, "Overwriting HubServ DB default host name");
            zone.clear();
        }
        const int result = m_pSourceBridge->GetVMInfoForVM(name, guid, zone, "", flags, option, vm);
        if (!result) {
            EvDebug::Error(fn, "GetVMInfoForVM Failed for VM [%s]/[%s]. Error [%s]", name.c_str(),
                           guid.c_str(), m_pSourceBridge->GetLastErrorString().c_str());
            return 0;
        }
        // Sized by what the disks hold, which is what a backup of it reads.
        vm.totalDiskSize = UsedDiskSize(vm);
        return result;
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
        const int result = m_pSourceBridge->GetHostInfoForHost(zone, flags, option, host);
        if (!result)
            EvDebug::Error(fn, "GetHostInfoForHost() failed..!! Error [%s]",
                           m_pSourceBridge->GetLastErrorString().c_str());
        return result;
    });
}

int CAmazonInfo::GetDCInfoForDC(const std::string& region, ULONGLONG flags, int option, SDataCenterInfo& dc) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        const int result = m_pSourceBridge->GetDCInfoForDC(region, flags, option, dc);
        if (!result)
            EvDebug::Error(fn, "GetDCInfoForDC() failed..!! Error [%s]",
                           m_pSourceBridge->GetLastErrorString().c_str());
        return result;
    });
}

int CAmazonInfo::GetInventoryInfoListForTag(const std::string& p0, const std::string& p1, const std::string& p2,
                                            ULONGLONG flags, int option, std::vector<SInventoryInfo>& nodes) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        const int result = m_pSourceBridge->GetInventoryInfoListForTag(p0, p1, p2, flags, option, nodes);
        if (!result)
            EvDebug::Error(fn, "GetInventoryInfoListForTag() failed..!! Error [%s]",
                           m_pSourceBridge->GetLastErrorString().c_str());
        return result;
    });
}

int CAmazonInfo::GetVMInfoListForTag(const std::string& p0, const std::string& p1, const std::string& p2,
                                     ULONGLONG flags, int option, std::vector<SVMInfo>& vms) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        const int result = m_pSourceBridge->GetVMInfoListForTag(p0, p1, p2, flags, option, vms);
        if (!result)
            EvDebug::Error(fn, "GetVMInfoListForTag() failed..!! Error [%s]",
                           m_pSourceBridge->GetLastErrorString().c_str());
        return result;
    });
}

int CAmazonInfo::GetVMInfoListForTag(const std::string&, const std::string& guid, EInventoryType, ULONGLONG flags,
                                     int option, std::vector<SVMInfo>& vms) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        std::string p0, p1, p2;
        ParseTagGUD(guid, p0, p1, p2);
        return GetVMInfoListForTag(p0, p1, p2, flags, option, vms);
    });
}

int CAmazonInfo::GetVMInfoListForInstanceSize(const std::string& guid, ULONGLONG flags, int option,
                                              std::vector<SVMInfo>& vms) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        std::string region, type;
        ParseInstanceTypeGUID(guid, region, type);
        const int result = m_pSourceBridge->GetVMInfoListForInstanceType(region, type, flags, option, vms);
        if (!result)
            EvDebug::Error(fn, "GetVMInfoListForInstanceType() failed..!! Error [%s]",
                           m_pSourceBridge->GetLastErrorString().c_str());
        return result;
    });
}

int CAmazonInfo::GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG flags, int option,
                                                  std::vector<SInventoryInfo>& nodes, bool listAll) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        const int result = m_pSourceBridge->GetInstanceTypeInfoListForRegion(region, flags, option, nodes, listAll);
        if (!result)
            EvDebug::Error(fn, "GetInstanceTypeInfoListForRegion() failed..!! Error [%s]",
                           m_pSourceBridge->GetLastErrorString().c_str());
        return result;
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
