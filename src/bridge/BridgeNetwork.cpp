// Networking around instances: an interface's delete-on-termination flag and
// the isolated subnets restores carve as /24 blocks of a VPC (cloudsim/Network.cpp
// holds EC2's rules).
#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;
using cloudsim::State;

bool SimBackend::ModifyNetworkInterface(const std::string& interfaceId, bool deleteOnTermination) {
    Impl& d = *m_impl;
    return d.Run("ModifyNetworkInterface", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            return d.CheckRegion(s, error) && cloudsim::SetInterfaceDeleteOnTermination(
                                                  s, d.accountId, d.region, interfaceId, deleteOnTermination, error);
        });
    });
}

bool SimBackend::DeleteNetworkInterface(const std::string& interfaceId) {
    Impl& d = *m_impl;
    return d.Run("DeleteNetworkInterface", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            return d.CheckRegion(s, error) &&
                   cloudsim::DeleteNetworkInterface(s, d.accountId, d.region, interfaceId, error);
        });
    });
}

bool SimBackend::CreateIsolatedSubnet(const std::string& name, const std::string& network,
                                            std::string& subnetId, std::string& cidr, const std::string&) {
    Impl& d = *m_impl;
    return d.Run("CreateIsolatedSubnet", true, [&](std::string& error) {
        cloudsim::Subnet subnet;
        bool ok = d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            // The VPC by id, else by its Name tag, as the wire backend looks it up.
            const cloudsim::Vpc* vpc = nullptr;
            for (const auto& [id, v] : s.vpcs)
                if (v.account == d.accountId && v.region == d.region && (id == network || (!vpc && v.name == network)))
                    vpc = &v;
            if (!vpc) {
                error = "InvalidVpcID.NotFound: The vpc ID '" + network + "' does not exist";
                return false;
            }
            std::vector<std::string> taken;
            for (const auto& [id, other] : s.subnets)
                if (other.vpcId == vpc->id) taken.push_back(other.cidr);
            std::string block;
            if (!FreeSubnetBlock(vpc->id, vpc->cidr, taken, block, error)) return false;
            const cloudsim::Subnet* made = cloudsim::CreateSubnet(s, d.accountId, d.region, vpc->id, block, name, error);
            if (made) subnet = *made;
            return made != nullptr;
        });
        if (ok) {
            subnetId = subnet.id;
            cidr = subnet.cidr;
        }
        return ok;
    });
}

bool SimBackend::DeleteIsolatedSubnet(const std::string& subnetId) {
    Impl& d = *m_impl;
    return d.Run("DeleteIsolatedSubnet", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            return d.CheckRegion(s, error) && cloudsim::DeleteSubnet(s, d.accountId, d.region, subnetId, error);
        });
    });
}
