#pragma once
// The x-amz-Checksum of stored blocks, remembered by block id. Blocks are
// content-addressed and never change once stored, so a block's checksum is
// computed once however many indexes of however many snapshots name it (a
// large volume written with zeros names one block hundreds of thousands of
// times). Bounded: when full it forgets everything and starts again, which
// only costs hashing. Thread-safe: the endpoint's workers share one.
#include <cstddef>
#include <mutex>
#include <string>
#include <unordered_map>

namespace cloudsim::endpoints {

class BlockChecksums {
public:
    explicit BlockChecksums(size_t capacity = 16384) : m_capacity(capacity) {}

    // Base64 SHA-256 of data, the whole block stored under blockId.
    std::string Of(const std::string& blockId, const std::string& data);

private:
    const size_t m_capacity;
    std::mutex m_mutex;                                    // guards m_known
    std::unordered_map<std::string, std::string> m_known;  // block id -> checksum
};

}  // namespace cloudsim::endpoints
