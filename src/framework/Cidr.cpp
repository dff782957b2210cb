#include "framework/Cidr.h"

#include <arpa/inet.h>

#include <cstdio>

namespace {
bool ParseIPv4(const std::string& text, uint32_t& value) {
    in_addr a{};
    // inet_pton takes only the strict dotted quad (no octal, no short forms).
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    value = ntohl(a.s_addr);
    return true;
}

uint32_t Mask(int prefix) { return prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix); }
}  // namespace

bool FwCidr::Block::Overlaps(const Block& other) const {
    return first < other.first + other.Size() && other.first < first + Size();
}

bool FwCidr::Block::Contains(const Block& other) const {
    return first <= other.first && other.first + other.Size() <= first + Size();
}

bool FwCidr::ParseIPv4Block(const std::string& text, Block& block, std::string& error) {
    error.clear();
    const size_t slash = text.find('/');
    const std::string lenText = slash == std::string::npos ? std::string() : text.substr(slash + 1);
    uint32_t net = 0;
    if (slash == std::string::npos || !ParseIPv4(text.substr(0, slash), net) || lenText.empty() ||
        lenText.size() > 2 || lenText.find_first_not_of("0123456789") != std::string::npos) {
        error = "not an IPv4 CIDR block: " + text;
        return false;
    }
    const int len = std::stoi(lenText);
    if (len > 32) {
        error = "prefix length above 32: " + text;
        return false;
    }
    block.prefix = len;
    block.first = net & Mask(len);
    return true;
}

std::string FwCidr::IPv4BlockText(const Block& block) {
    char text[32];
    const uint32_t a = block.first;
    std::snprintf(text, sizeof text, "%u.%u.%u.%u/%d", a >> 24, (a >> 16) & 255, (a >> 8) & 255, a & 255,
                  block.prefix);
    return text;
}

bool FwCidr::IsIPv4InBlock(const std::string& address, const std::string& block, bool& inBlock, std::string& error) {
    inBlock = false;
    error.clear();
    uint32_t ip = 0;
    if (!ParseIPv4(address, ip)) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    Block net;
    if (!ParseIPv4Block(block, net, error)) return false;
    inBlock = (ip & Mask(net.prefix)) == net.first;
    return true;
}

bool FwCidr::FirstFreeIPv4Block(const Block& within, const std::vector<Block>& taken, int prefix, Block& free) {
    if (prefix < within.prefix || prefix > 32) return false;
    const uint64_t step = uint64_t{1} << (32 - prefix);
    for (uint64_t offset = 0; offset < within.Size(); offset += step) {
        const Block candidate{static_cast<uint32_t>(within.first + offset), prefix};
        bool clear = true;
        for (const Block& t : taken) clear = clear && !candidate.Overlaps(t);
        if (!clear) continue;
        free = candidate;
        return true;
    }
    return false;
}
