// Networking around instances as EC2 answers for it: interfaces left by
// terminated instances, and subnets inside their VPC's block.
#include "cloudsim/CloudState.h"
#include "cloudsim/Ownership.h"
#include "framework/Cidr.h"

namespace cloudsim {

namespace {

std::string InterfaceNotFound(const std::string& id) {
    return "InvalidNetworkInterfaceID.NotFound: The networkInterface ID '" + id + "' does not exist";
}

}  // namespace

bool SetInterfaceDeleteOnTermination(State& s, const std::string& account, const std::string& region,
                                     const std::string& interfaceId, bool deleteOnTermination, std::string& error) {
    for (auto& [id, inst] : s.instances) {
        if (inst.account != account || inst.region != region || inst.state == "terminated") continue;
        for (auto& nic : inst.networkInterfaces) {
            if (nic.id != interfaceId) continue;
            nic.deleteOnTermination = deleteOnTermination;
            return true;
        }
    }
    error = InterfaceNotFound(interfaceId);
    return false;
}

bool DeleteNetworkInterface(State& s, const std::string& account, const std::string& region,
                            const std::string& interfaceId, std::string& error) {
    for (auto& [id, inst] : s.instances) {
        if (inst.account != account || inst.region != region) continue;
        auto& nics = inst.networkInterfaces;
        for (auto it = nics.begin(); it != nics.end(); ++it) {
            if (it->id != interfaceId) continue;
            // An interface of a terminated instance outlives it only when it
            // was not to be deleted with it.
            if (inst.state == "terminated" && it->deleteOnTermination) break;
            if (inst.state != "terminated") {
                error = "InvalidNetworkInterface.InUse: Interface: [" + interfaceId + "] in use.";
                return false;
            }
            nics.erase(it);
            return true;
        }
    }
    error = InterfaceNotFound(interfaceId);
    return false;
}

Subnet* CreateSubnet(State& s, const std::string& account, const std::string& region, const std::string& vpcId,
                     const std::string& cidr, const std::string& name, std::string& error) {
    const Vpc* vpc = FindOwned(s.vpcs, vpcId, account, region);
    if (!vpc) {
        error = "InvalidVpcID.NotFound: The vpc ID '" + vpcId + "' does not exist";
        return nullptr;
    }
    FwCidr::Block block, whole;
    std::string why;
    if (!FwCidr::ParseIPv4Block(cidr, block, why)) {
        error = "InvalidParameterValue: Value (" + cidr + ") for parameter cidrBlock is invalid. This is not a valid "
                "CIDR block.";
        return nullptr;
    }
    // A subnet lies inside its VPC's block, between a /16 and a /28.
    if (block.prefix < 16 || block.prefix > 28 || !FwCidr::ParseIPv4Block(vpc->cidr, whole, why) ||
        !whole.Contains(block)) {
        error = "InvalidSubnet.Range: The CIDR '" + cidr + "' is invalid.";
        return nullptr;
    }
    for (const auto& [id, other] : s.subnets) {
        FwCidr::Block theirs;
        if (other.vpcId != vpc->id || !FwCidr::ParseIPv4Block(other.cidr, theirs, why) || !theirs.Overlaps(block))
            continue;
        error = "InvalidSubnet.Conflict: The CIDR '" + cidr + "' conflicts with another subnet";
        return nullptr;
    }
    Subnet subnet;
    subnet.id = s.NewId("subnet");
    subnet.account = account;
    subnet.region = region;
    subnet.vpcId = vpc->id;
    subnet.name = name;
    subnet.cidr = FwCidr::IPv4BlockText(block);
    return &(s.subnets[subnet.id] = subnet);
}

bool DeleteSubnet(State& s, const std::string& account, const std::string& region, const std::string& subnetId,
                  std::string& error) {
    if (!FindOwned(s.subnets, subnetId, account, region)) {
        error = SubnetNotFound(subnetId);
        return false;
    }
    for (const auto& [id, inst] : s.instances) {
        if (inst.state == "terminated") continue;
        for (const auto& nic : inst.networkInterfaces) {
            if (nic.subnetId != subnetId) continue;
            error = "DependencyViolation: The subnet '" + subnetId + "' has dependencies and cannot be deleted.";
            return false;
        }
    }
    s.subnets.erase(subnetId);
    return true;
}

}  // namespace cloudsim
