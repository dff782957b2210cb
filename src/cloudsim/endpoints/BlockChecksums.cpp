#include "cloudsim/endpoints/BlockChecksums.h"

#include "cloudsim/endpoints/Digest.h"

namespace cloudsim::endpoints {

std::string BlockChecksums::Of(const std::string& blockId, const std::string& data) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        auto it = m_known.find(blockId);
        if (it != m_known.end()) return it->second;
    }
    // Hashed outside the lock: two workers meeting a new block at once both
    // hash it and store the same value, rather than one waiting on the other.
    std::string checksum = Base64(Sha256(data));
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_known.size() >= m_capacity) m_known.clear();
    m_known.emplace(blockId, checksum);
    return checksum;
}

}  // namespace cloudsim::endpoints
