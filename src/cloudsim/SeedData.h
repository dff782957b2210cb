#pragma once
// Seed block data: a seed describes a volume's or a snapshot's content as a
// text and a list of blocks ("data": {"text": ..., "blocks": [...]}); each
// listed block holds that text with the block index and sector number
// repeated, so that a block read from the wrong place is easy to tell.
#include <cstdint>
#include <string>

#include "cloudsim/CloudState.h"

namespace cloudsim {

class BlockStore;

// The kBlockSize bytes of block index of a seed with this text.
std::string SeedBlock(const std::string& text, int64_t index);
void WriteSeedBlock(const std::string& text, int64_t index, char* out);

// Turns every seed shorthand in s into block maps, storing the blocks.
// Blocks a map already has stay as they are.
void MaterializeSeedData(State& s, BlockStore& store);

}  // namespace cloudsim
