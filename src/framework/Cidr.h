#pragma once
// IPv4 CIDR blocks: membership ("is 10.1.2.3 in 10.0.0.0/8") and the free
// blocks left in a network. Host bits set in a block's address are ignored,
// as routers do. IPv6 is not handled: an IPv6 address or block is malformed
// input here.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/FrameworkApi.h"

class FW_API FwCidr {
public:
    struct Block {
        uint32_t first = 0;   // host bits cleared
        int prefix = 32;
        uint64_t Size() const { return uint64_t{1} << (32 - prefix); }
        bool Overlaps(const Block& other) const;
        bool Contains(const Block& other) const;
    };

    // Returns false with a reason in error when the address or the block is
    // not well formed (dotted quad; prefix length 0-32 after a "/"); otherwise
    // true, with inBlock telling the answer.
    static bool IsIPv4InBlock(const std::string& address, const std::string& block, bool& inBlock, std::string& error);

    // "10.0.0.0/16" -> its block; false with a reason when not well formed.
    static bool ParseIPv4Block(const std::string& text, Block& block, std::string& error);
    static std::string IPv4BlockText(const Block& block);

    // The lowest block of the given prefix inside within that overlaps none
    // of taken; false when within is smaller than such a block or none is
    // left.
    static bool FirstFreeIPv4Block(const Block& within, const std::vector<Block>& taken, int prefix, Block& free);
};
