#pragma once
// The simulated cloud's block contents, addressed by content: a block's id is
// the SHA-256 of its 512 KiB (lower-case hex), so volumes and snapshots that
// hold the same data share it, and a snapshot costs nothing until its volume
// changes. Contents are never changed or removed once stored.
//
// A store lives in memory or in a folder (one file per block, named by its
// id). A folder store renames each block into place before Put returns, so a
// state committed after Put never names a block a killed process left
// half-written. Thread-safe; several processes may share a folder.
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "cloudsim/CloudState.h"

namespace cloudsim {

class BlockStore {
public:
    // In memory when folder is empty.
    explicit BlockStore(std::string folder = "");

    // Stores one block (size bytes, at most kBlockSize; the rest reads as
    // zeros) and returns its id. An all-zero block is not stored: its id is
    // empty, meaning unallocated. Throws std::runtime_error when the block
    // cannot be written.
    std::string Put(const char* data, size_t size);
    // The same for a block (kBlockSize bytes) that remake can write again:
    // a memory store keeps remake instead of the bytes, so seeded data costs
    // no memory until it changes.
    std::string Put(const char* block, std::function<void(char*)> remake);
    // Copies the block's kBlockSize bytes to out; throws std::runtime_error
    // when the store does not hold it.
    void Get(const std::string& id, char* out) const;
    bool Has(const std::string& id) const;
    // Distinct blocks held.
    size_t Count() const;
    // Removes the temporary files of writers that were killed; only safe when
    // no other writer can be at work (the caller holds the cloud's exclusive lock).
    void SweepTemporaries();

    const std::string& Folder() const { return m_folder; }

private:
    std::string PathOf(const std::string& id) const;
    void WriteFile(const std::string& id, const char* data) const;

    // A memory store's block: its bytes, or else how to make them.
    struct Entry {
        std::shared_ptr<const std::string> bytes;
        std::function<void(char*)> remake;
    };

    mutable std::mutex m_mutex;
    std::string m_folder;
    std::map<std::string, Entry> m_memory;
};

// The id of a block of zeros. A map may name it: a block the guest wrote
// with zeros stays listed by a snapshot taken afterwards, as EBS lists it,
// though the store keeps no bytes for it (Get gives zeros, Has is true).
// Put of zeros still gives the empty id, the block left unallocated.
const std::string& ZeroBlockId();

// The data a block map describes, read or written at any byte range. Reading
// gives zeros where no block is allocated. Writing stores every touched block
// anew (a partly covered one is read, patched and stored) and drops blocks
// that end up all zeros from the map. Neither checks the range against a size.
void ReadBlocks(const BlockStore& store, const BlockMap& map, int64_t offset, int64_t length, char* out);
void WriteBlocks(BlockStore& store, BlockMap& map, int64_t offset, const char* data, int64_t length);

}  // namespace cloudsim
