#pragma once
// IPv4 CIDR membership ("is 10.1.2.3 in 10.0.0.0/8"). Host bits set in the
// block's address are ignored, as routers do. IPv6 is not handled: an IPv6
// address or block is malformed input here.
#include <string>

#include "framework/FrameworkApi.h"

class FW_API FwCidr {
public:
    // Returns false with a reason in error when the address or the block is
    // not well formed (dotted quad; prefix length 0-32 after a "/"); otherwise
    // true, with inBlock telling the answer.
    static bool IsIPv4InBlock(const std::string& address, const std::string& block, bool& inBlock, std::string& error);
};
