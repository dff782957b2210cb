#pragma once
// A volume's or snapshot's block map: block index -> id of the block's
// content in the cloud's block store (see BlockStore.h). An index missing
// from the map reads as zeros, so a large volume holding little data costs
// little.
//
// Copies share their entries until one of them changes (copy on write), so
// copying a state, taking a snapshot of a volume or creating a volume from a
// snapshot costs nothing however many blocks the map holds. The shared
// entries never change, which is also what lets a folder cloud keep each map
// in a file of its own and write it only when the map changed (MapFiles.h).
// Not thread-safe for writers; readers of a shared map may be many.
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

namespace cloudsim {

class BlockMap {
public:
    using Entries = std::map<int64_t, std::string>;
    using const_iterator = Entries::const_iterator;

    BlockMap() = default;
    BlockMap(Entries entries);   // NOLINT: a map of entries is a block map

    // Reading: the std::map members callers iterate and look up with.
    const_iterator begin() const { return Get().begin(); }
    const_iterator end() const { return Get().end(); }
    const_iterator find(int64_t index) const { return Get().find(index); }
    const_iterator lower_bound(int64_t index) const { return Get().lower_bound(index); }
    size_t count(int64_t index) const { return Get().count(index); }
    size_t size() const { return Get().size(); }
    bool empty() const { return Get().empty(); }
    bool operator==(const BlockMap& other) const { return m_node == other.m_node || Get() == other.Get(); }
    bool operator!=(const BlockMap& other) const { return !(*this == other); }

    // Writing: each unshares the entries first (a copy of them when another
    // map still shares them) and forgets where they were stored.
    std::string& operator[](int64_t index) { return Mutable()[index]; }
    size_t erase(int64_t index) { return empty() ? 0 : Mutable().erase(index); }

    // True when both share one set of entries, so that neither has been
    // written since one was copied from the other.
    bool Shares(const BlockMap& other) const { return m_node && m_node == other.m_node; }

    // Where a folder cloud stored these entries (a file path), empty when
    // they have not been stored since they last changed.
    const std::string& StoredAt() const;
    void SetStoredAt(const std::string& path) const;
    // A map of entries read back from where they were stored.
    static BlockMap Stored(Entries entries, const std::string& path);

private:
    struct Node {
        Entries entries;
        std::string storedAt;   // written only under the folder's exclusive lock
    };
    const Entries& Get() const;
    Entries& Mutable();

    std::shared_ptr<Node> m_node;   // null: no entries
};

}  // namespace cloudsim
