// Networking around instances: an interface's delete-on-termination flag and
// the isolated subnets restores use, carved as /24 blocks out of a VPC.
#include <cstdio>

#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;
using cloudsim::State;

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

}  // namespace

bool SimBackend::ModifyNetworkInterface(const std::string& interfaceId, bool deleteOnTermination) {
    Impl& d = *m_impl;
    return d.Run("ModifyNetworkInterface", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            for (auto& [id, inst] : s.instances) {
                if (inst.account != d.accountId || inst.region != d.region || inst.state == "terminated") continue;
                for (auto& nic : inst.networkInterfaces) {
                    if (nic.id != interfaceId) continue;
                    nic.deleteOnTermination = deleteOnTermination;
                    return true;
                }
            }
            return Err(error, "InvalidNetworkInterfaceID.NotFound: The networkInterface ID '" + interfaceId +
                                  "' does not exist");
        });
    });
}

bool SimBackend::DeleteNetworkInterface(const std::string& interfaceId) {
    Impl& d = *m_impl;
    return d.Run("DeleteNetworkInterface", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            for (auto& [id, inst] : s.instances) {
                if (inst.account != d.accountId || inst.region != d.region) continue;
                auto& nics = inst.networkInterfaces;
                for (auto it = nics.begin(); it != nics.end(); ++it) {
                    if (it->id != interfaceId) continue;
                    // An interface of a terminated instance outlives it only
                    // when it was not to be deleted with it.
                    if (inst.state == "terminated" && it->deleteOnTermination) break;
                    if (inst.state != "terminated")
                        return Err(error, "InvalidNetworkInterface.InUse: Interface: [" + interfaceId + "] in use.");
                    nics.erase(it);
                    return true;
                }
            }
            return Err(error, "InvalidNetworkInterfaceID.NotFound: The networkInterface ID '" + interfaceId +
                                  "' does not exist");
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
            const cloudsim::Vpc* vpc = nullptr;
            for (const auto& [id, v] : s.vpcs)
                if (v.account == d.accountId && v.region == d.region && (id == network || v.name == network))
                    vpc = &v;
            if (!vpc) return Err(error, "InvalidVpcID.NotFound: The vpc ID '" + network + "' does not exist");
            Range whole;
            if (!ParseCidr(vpc->cidr, whole) || whole.size < 256)
                return Err(error, "InvalidSubnet.Range: The CIDR of vpc '" + vpc->id + "' holds no /24 block");
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
                subnet.id = s.NewId("subnet");
                subnet.account = d.accountId;
                subnet.region = d.region;
                subnet.vpcId = vpc->id;
                subnet.name = name;
                subnet.cidr = CidrText(block.first, 24);
                s.subnets[subnet.id] = subnet;
                return true;
            }
            return Err(error, "InsufficientFreeAddressesInSubnet: No free /24 block is left in vpc '" + vpc->id + "'");
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
            if (!d.CheckRegion(s, error)) return false;
            if (!FindOwned(s.subnets, subnetId, d.accountId, d.region))
                return Err(error, "InvalidSubnetID.NotFound: The subnet ID '" + subnetId + "' does not exist");
            for (const auto& [id, inst] : s.instances) {
                if (inst.state == "terminated") continue;
                for (const auto& nic : inst.networkInterfaces)
                    if (nic.subnetId == subnetId)
                        return Err(error, "DependencyViolation: The subnet '" + subnetId +
                                              "' has dependencies and cannot be deleted.");
            }
            s.subnets.erase(subnetId);
            return true;
        });
    });
}
