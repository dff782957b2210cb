#include "framework/Cidr.h"

#include <arpa/inet.h>

#include <cstdint>

namespace {
bool ParseIPv4(const std::string& text, uint32_t& value) {
    in_addr a{};
    // inet_pton takes only the strict dotted quad (no octal, no short forms).
    if (inet_pton(AF_INET, text.c_str(), &a) != 1) return false;
    value = ntohl(a.s_addr);
    return true;
}
}  // namespace

bool FwCidr::IsIPv4InBlock(const std::string& address, const std::string& block, bool& inBlock, std::string& error) {
    inBlock = false;
    error.clear();
    uint32_t ip = 0, net = 0;
    if (!ParseIPv4(address, ip)) {
        error = "not an IPv4 address: " + address;
        return false;
    }
    size_t slash = block.find('/');
    std::string lenText = slash == std::string::npos ? std::string() : block.substr(slash + 1);
    if (slash == std::string::npos || !ParseIPv4(block.substr(0, slash), net) || lenText.empty() ||
        lenText.size() > 2 || lenText.find_first_not_of("0123456789") != std::string::npos) {
        error = "not an IPv4 CIDR block: " + block;
        return false;
    }
    int len = std::stoi(lenText);
    if (len > 32) {
        error = "prefix length above 32: " + block;
        return false;
    }
    uint32_t mask = len == 0 ? 0 : ~uint32_t{0} << (32 - len);
    inBlock = (ip & mask) == (net & mask);
    return true;
}
