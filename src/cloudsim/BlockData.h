#pragma once
// Block data as the state records it: a map of block index to content id,
// and the seed shorthand that stands for recognisable content until a cloud
// loads the seed.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "cloudsim/BlockMap.h"
#include "cloudsim/Schema.h"

namespace cloudsim {

// Volumes and snapshots hold their data in blocks of this size, the block
// size of the EBS direct APIs.
constexpr int64_t kBlockSize = 524288;

// Seed shorthand for block data: the listed blocks hold a recognisable
// pattern made of text and the block index (see SeedData.h). A cloud turns it
// into a BlockMap when it loads a seed; parsed states keep it until then.
struct SeedData {
    std::string text;
    std::vector<int64_t> blocks;

    bool Empty() const { return blocks.empty(); }
};

// "blocks": {"<index>": "<64 hex digits>", ...}, and "data": {"text", "blocks"}.
// Both are read after the record's size is checked, since every block must
// lie within it, and written only when the record has any. Inside a map
// files scope (MapFiles.h) a block map is written as "blockMap": "<file>"
// instead, and either form is read.
BlockMap ReadBlockMap(const schema::Fields& in, const char* key, int64_t sizeBytes);
void WriteBlockMap(const BlockMap& blocks, const char* key, schema::json& out);
SeedData ReadSeedData(const schema::Fields& in, const char* key, int64_t sizeBytes);
void WriteSeedData(const SeedData& seed, const char* key, schema::json& out);

template <class R>
schema::Field<R> BlocksField(const char* name, BlockMap R::*m, int64_t R::*size) {
    return schema::Custom<R>(
        name, [name, m, size](const schema::Fields& in, R& r) { r.*m = ReadBlockMap(in, name, r.*size); },
        [name, m](const R& r, schema::json& out) { WriteBlockMap(r.*m, name, out); }, true);
}

template <class R>
schema::Field<R> SeedDataField(const char* name, SeedData R::*m, int64_t R::*size) {
    return schema::Custom<R>(
        name, [name, m, size](const schema::Fields& in, R& r) { r.*m = ReadSeedData(in, name, r.*size); },
        [name, m](const R& r, schema::json& out) { WriteSeedData(r.*m, name, out); }, true);
}

}  // namespace cloudsim
