// Networking around instances as EC2 answers for it: interfaces left by
// terminated instances, and subnets carved as /24 blocks out of a VPC.
#include <cstdio>

#include "cloudsim/CloudState.h"
#include "cloudsim/Ownership.h"

namespace cloudsim {

namespace {

struct Range {
    uint32_t first = 0;
    uint64_t size = 0;
};

// "10.0.0.0/16" -> its range; false when the text is no IPv4 CIDR.
bool ParseCidr(const std::string& cidr, Range& range) {
    unsigned a, b, c, d, bits;
    char tail;
    if (std::sscanf(cidr.c_str(), "%u.%u.%u.%u/%u%c", &a, &b, &c, &d, &bits, &tail) != 5) return false;
    if (a > 255 || b > 255 || c > 255 || d > 255 || bits > 32) return false;
    range.size = 1ULL << (32 - bits);
    uint32_t address = (a << 24) | (b << 16) | (c << 8) | d;
    range.first = static_cast<uint32_t>(address & ~(range.size - 1));
    return true;
}

std::string CidrText(uint32_t first, int bits) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%u.%u.%u.%u/%d", first >> 24, (first >> 16) & 255, (first >> 8) & 255, first & 255,
                  bits);
    return buf;
}

bool Overlap(const Range& a, const Range& b) {
    return a.first < b.first + b.size && b.first < a.first + a.size;
}

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

Subnet* CreateSubnet(State& s, const std::string& account, const std::string& region, const std::string& network,
                     const std::string& name, std::string& error) {
    const Vpc* vpc = nullptr;
    for (const auto& [id, v] : s.vpcs)
        if (v.account == account && v.region == region && (id == network || v.name == network)) vpc = &v;
    if (!vpc) {
        error = "InvalidVpcID.NotFound: The vpc ID '" + network + "' does not exist";
        return nullptr;
    }
    Range whole;
    if (!ParseCidr(vpc->cidr, whole) || whole.size < 256) {
        error = "InvalidSubnet.Range: The CIDR of vpc '" + vpc->id + "' holds no /24 block";
        return nullptr;
    }
    std::vector<Range> taken;
    for (const auto& [id, other] : s.subnets) {
        Range r;
        if (other.vpcId == vpc->id && ParseCidr(other.cidr, r)) taken.push_back(r);
    }
    for (uint64_t offset = 0; offset < whole.size; offset += 256) {
        Range block{static_cast<uint32_t>(whole.first + offset), 256};
        bool free = true;
        for (const auto& r : taken) free &= !Overlap(block, r);
        if (!free) continue;
        Subnet subnet;
        subnet.id = s.NewId("subnet");
        subnet.account = account;
        subnet.region = region;
        subnet.vpcId = vpc->id;
        subnet.name = name;
        subnet.cidr = CidrText(block.first, 24);
        return &(s.subnets[subnet.id] = subnet);
    }
    error = "InsufficientFreeAddressesInSubnet: No free /24 block is left in vpc '" + vpc->id + "'";
    return nullptr;
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
