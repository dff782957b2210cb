#include "cloudsim/SeedData.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "cloudsim/BlockStore.h"

namespace cloudsim {

namespace {

const int64_t kSector = 512;

// Volumes and their seeded snapshots share text and indexes, hence blocks:
// each is made and hashed once.
class Materializer {
public:
    explicit Materializer(BlockStore& store) : m_store(store), m_block(kBlockSize) {}

    void Apply(BlockMap& blocks, SeedData& seed) {
        for (int64_t index : seed.blocks) {
            if (blocks.count(index)) continue;
            std::string& id = m_ids[{seed.text, index}];
            if (id.empty()) {
                WriteSeedBlock(seed.text, index, m_block.data());
                id = m_store.Put(m_block.data(),
                                 [text = seed.text, index](char* out) { WriteSeedBlock(text, index, out); });
            }
            blocks[index] = id;
        }
        seed = SeedData();
    }

private:
    BlockStore& m_store;
    std::vector<char> m_block;
    std::map<std::pair<std::string, int64_t>, std::string> m_ids;
};

}  // namespace

void WriteSeedBlock(const std::string& text, int64_t index, char* out) {
    std::string line;
    for (int64_t sector = 0; sector < kBlockSize / kSector; ++sector, out += kSector) {
        char label[64];
        std::snprintf(label, sizeof label, " | block %lld sector %lld\n", static_cast<long long>(index),
                      static_cast<long long>(sector));
        line.assign(text).append(label);
        for (size_t done = 0; done < static_cast<size_t>(kSector); done += line.size())
            std::memcpy(out + done, line.data(), std::min(line.size(), static_cast<size_t>(kSector) - done));
    }
}

std::string SeedBlock(const std::string& text, int64_t index) {
    std::string block(kBlockSize, '\0');
    WriteSeedBlock(text, index, &block[0]);
    return block;
}

void MaterializeSeedData(State& s, BlockStore& store) {
    Materializer m(store);
    for (auto& [id, v] : s.volumes)
        if (!v.seed.Empty()) m.Apply(v.blocks, v.seed);
    for (auto& [id, snap] : s.snapshots)
        if (!snap.seed.Empty()) m.Apply(snap.blocks, snap.seed);
}

}  // namespace cloudsim
