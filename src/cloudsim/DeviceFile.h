#pragma once
// The file a volume attached to the proxy appears as: a sparse file of the
// volume's size in which only allocated blocks take space. The functions
// throw std::runtime_error when the file cannot be created, read or written.
#include <cstdint>
#include <string>
#include <vector>

#include "cloudsim/CloudState.h"

namespace cloudsim {

class BlockStore;

namespace devicefile {

// Writes the data map describes as a file of sizeBytes at path. The file is
// built under a temporary name and renamed into place, so a process killed
// meanwhile leaves the previous file (or none), never half of one.
void Create(const std::string& path, int64_t sizeBytes, const BlockStore& store, const BlockMap& map);
// The block map of the file's first sizeBytes: every block holding a
// non-zero byte, stored in store; zero blocks and holes are unallocated.
BlockMap Absorb(const std::string& path, int64_t sizeBytes, BlockStore& store);
// Indexes of the blocks of the file's first sizeBytes holding a non-zero byte.
std::vector<int64_t> AllocatedBlocks(const std::string& path, int64_t sizeBytes);
// Byte ranges of the file; reading past its end gives zeros.
void Read(const std::string& path, int64_t offset, int64_t length, char* out);
void Write(const std::string& path, int64_t offset, const char* data, int64_t length);

}  // namespace devicefile
}  // namespace cloudsim
