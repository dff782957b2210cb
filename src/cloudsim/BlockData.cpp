// JSON of block maps and seed data shorthand.
#include "cloudsim/BlockData.h"

#include <cctype>
#include <stdexcept>

#include "cloudsim/MapFiles.h"

namespace cloudsim {

using namespace schema;

namespace {

void CheckBlockIndex(int64_t index, int64_t sizeBytes, const std::string& where) {
    if (index < 0 || index >= (sizeBytes + kBlockSize - 1) / kBlockSize)
        Fail(where, "block " + std::to_string(index) + " lies outside " + std::to_string(sizeBytes) + " bytes");
}

bool IsContentId(const std::string& id) {
    if (id.size() != 64) return false;
    for (char c : id)
        if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) return false;
    return true;
}

}  // namespace

namespace {

// The key naming a block map's file instead of holding its entries.
std::string FileKey(const char* key) { return std::string(key) == "blocks" ? "blockMap" : std::string(key) + "File"; }

}  // namespace

BlockMap ReadBlockMap(const Fields& in, const char* key, int64_t sizeBytes) {
    const std::string fileKey = FileKey(key);
    if (const json* ref = in.Find(fileKey)) {
        MapFiles* files = MapFiles::Current();
        if (!ref->is_string()) Fail(in.Where(fileKey), "expected the name of a block map file");
        if (!files) Fail(in.Where(fileKey), "block map files are only read by a folder cloud");
        // Stored by a commit that checked its entries, and never changed since.
        try {
            return files->Load(ref->get<std::string>());
        } catch (const std::exception& e) {
            Fail(in.Where(fileKey), e.what());
        }
    }
    BlockMap::Entries map;
    const json* j = in.Find(key);
    if (!j) return map;
    std::string where = in.Where(key);
    if (!j->is_object()) Fail(where, "expected an object of block index to content id");
    for (auto it = j->begin(); it != j->end(); ++it) {
        const std::string& index = it.key();
        if (index.empty() || index.size() > 15 || index.find_first_not_of("0123456789") != std::string::npos)
            Fail(where, "block index '" + index + "' is not a number");
        if (!it.value().is_string() || !IsContentId(it.value().get<std::string>()))
            Fail(where + "." + index, "expected a content id (64 lower-case hex digits)");
        int64_t n = std::stoll(index);
        CheckBlockIndex(n, sizeBytes, where);
        map[n] = it.value().get<std::string>();
    }
    return map;
}

void WriteBlockMap(const BlockMap& blocks, const char* key, json& out) {
    if (blocks.empty()) return;
    int64_t generation = 0;
    if (MapFiles* files = MapFiles::Current(&generation)) {
        out[FileKey(key)] = files->Store(blocks, generation);
        return;
    }
    json jb = json::object();
    for (const auto& [index, id] : blocks) jb[std::to_string(index)] = id;
    out[key] = std::move(jb);
}

SeedData ReadSeedData(const Fields& in, const char* key, int64_t sizeBytes) {
    SeedData seed;
    const json* j = in.Find(key);
    if (!j) return seed;
    Fields f(*j, in.Where(key));
    f.Get("text", seed.text);
    f.Each("blocks", [&](const json& item, const std::string& where) {
        if (!item.is_number_integer()) Fail(where, "expected a block index");
        CheckBlockIndex(item.get<int64_t>(), sizeBytes, where);
        seed.blocks.push_back(item.get<int64_t>());
    });
    if (!seed.Empty() && seed.text.empty()) Fail(in.Where(key) + ".text", "missing");
    return seed;
}

void WriteSeedData(const SeedData& seed, const char* key, json& out) {
    if (!seed.Empty()) out[key] = {{"text", seed.text}, {"blocks", seed.blocks}};
}

}  // namespace cloudsim
