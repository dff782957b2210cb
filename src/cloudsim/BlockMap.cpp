// Copy on write for block maps.
#include "cloudsim/BlockMap.h"

#include <atomic>

namespace cloudsim {

BlockMap::BlockMap(Entries entries) {
    if (!entries.empty()) m_node = std::make_shared<Node>(Node{std::move(entries), {}});
}

BlockMap BlockMap::Stored(Entries entries, const std::string& path) {
    BlockMap map(std::move(entries));
    if (map.m_node) map.m_node->storedAt = path;
    return map;
}

const BlockMap::Entries& BlockMap::Get() const {
    static const Entries none;
    return m_node ? m_node->entries : none;
}

BlockMap::Entries& BlockMap::Mutable() {
    if (!m_node) {
        m_node = std::make_shared<Node>();
    } else if (m_node.use_count() > 1) {
        m_node = std::make_shared<Node>(Node{m_node->entries, {}});
    } else {
        // The count is read relaxed; the fence orders this write after the
        // reads of a thread whose copy just let go of the entries.
        std::atomic_thread_fence(std::memory_order_acquire);
    }
    m_node->storedAt.clear();
    return m_node->entries;
}

const std::string& BlockMap::StoredAt() const {
    static const std::string none;
    return m_node ? m_node->storedAt : none;
}

void BlockMap::SetStoredAt(const std::string& path) const {
    if (m_node) m_node->storedAt = path;
}

}  // namespace cloudsim
