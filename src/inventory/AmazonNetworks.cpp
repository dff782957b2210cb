// The isolated subnet a restore may place instances in.
#include "common/BridgeCall.h"
#include "bridge/AmazonSDKBridge.h"
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using AmazonGuard::Guarded;

namespace {
// The request names its subnet in the first entry; without one there is
// nothing to create or delete.
bool HasSubnetEntry(CAmazonInfo& owner, const VMInfoStructs::SNetworkInfo& net, const char* where) {
    if (!net.subnets.empty()) return true;
    const std::string message = "Network [" + net.name + "] has no subnet entry.";
    EvDebug::Error(where, "%s", message.c_str());
    owner.SetLastVMErrorDetails(message);
    return false;
}
}  // namespace

bool CAmazonInfo::CreateNetwork(VMInfoStructs::SNetworkInfo& net, std::string option,
                                VMInfoStructs::SHostNetworkAdapterInfo) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, false, [&] {
        if (!HasSubnetEntry(*this, net, fn)) return false;
        VMInfoStructs::SSubnetEntry& subnet = net.subnets.front();
        std::string subnetId, cidr;
        std::string error;
        if (!AmazonCommon::BridgeCall(
                *m_pSourceBridge, fn,
                [&] { return m_pSourceBridge->CreateIsolatedSubnet(subnet.name, net.name, subnetId, cidr, option); },
                error, "Failed to Create Amazon Subnet. Error [%s]")) {
            SetLastVMErrorDetails(error);
            return false;
        }
        subnet.id = subnetId;
        subnet.address = cidr.substr(0, cidr.find('/'));
        return true;
    });
}

bool CAmazonInfo::DeleteNetwork(VMInfoStructs::SNetworkInfo& net, std::string,
                                VMInfoStructs::SHostNetworkAdapterInfo) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, false, [&] {
        if (!HasSubnetEntry(*this, net, fn)) return false;
        const std::string& subnetId = net.subnets.front().id;
        std::string error;
        if (AmazonCommon::BridgeCall(
                *m_pSourceBridge, fn, [&] { return m_pSourceBridge->DeleteIsolatedSubnet(subnetId); }, error,
                "Failed to delete Amazon Subnet [%s]. Error [%s]", subnetId.c_str()))
            return true;
        SetLastVMErrorDetails(error);
        return false;
    });
}
