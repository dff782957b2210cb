// Block map files: a binary list of (index, content id) entries.
#include "cloudsim/MapFiles.h"

#include <unistd.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "framework/FileUtils.h"

namespace cloudsim {

namespace {

const char kMagic[] = "cloudsim-blockmap 1\n";
// A content id (64 lower-case hex digits) is stored as its 32 bytes behind
// this tag; any other id as its length and text.
constexpr unsigned char kHashTag = 0xff;

thread_local MapFiles* t_current = nullptr;
thread_local int64_t t_generation = 0;

int Nibble(char c) { return c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1; }

bool PackHash(const std::string& id, unsigned char* out) {
    if (id.size() != 64) return false;
    for (size_t i = 0; i < 32; ++i) {
        int hi = Nibble(id[2 * i]), lo = Nibble(id[2 * i + 1]);
        if (hi < 0 || lo < 0) return false;
        out[i] = static_cast<unsigned char>(hi * 16 + lo);
    }
    return true;
}

std::string UnpackHash(const unsigned char* in) {
    static const char kHex[] = "0123456789abcdef";
    std::string id(64, '0');
    for (size_t i = 0; i < 32; ++i) {
        id[2 * i] = kHex[in[i] >> 4];
        id[2 * i + 1] = kHex[in[i] & 15];
    }
    return id;
}

std::string Encode(const BlockMap& map) {
    std::string out(kMagic);
    out.reserve(out.size() + map.size() * 41);
    unsigned char packed[32];
    for (const auto& [index, id] : map) {
        out.append(reinterpret_cast<const char*>(&index), sizeof index);
        if (PackHash(id, packed)) {
            out.push_back(static_cast<char>(kHashTag));
            out.append(reinterpret_cast<const char*>(packed), sizeof packed);
        } else {
            if (id.size() >= kHashTag) throw std::runtime_error("block content id too long to store: " + id);
            out.push_back(static_cast<char>(id.size()));
            out.append(id);
        }
    }
    return out;
}

BlockMap::Entries Decode(const std::string& text, const std::string& path) {
    const size_t magic = std::strlen(kMagic);
    if (text.compare(0, magic, kMagic) != 0) throw std::runtime_error("not a block map file: " + path);
    BlockMap::Entries entries;
    const auto* p = reinterpret_cast<const unsigned char*>(text.data()) + magic;
    const auto* end = reinterpret_cast<const unsigned char*>(text.data()) + text.size();
    auto hint = entries.end();
    while (p < end) {
        int64_t index;
        if (end - p < static_cast<ptrdiff_t>(sizeof index + 1)) throw std::runtime_error("truncated block map " + path);
        std::memcpy(&index, p, sizeof index);
        p += sizeof index;
        const unsigned char tag = *p++;
        const size_t n = tag == kHashTag ? 32 : tag;
        if (static_cast<size_t>(end - p) < n) throw std::runtime_error("truncated block map " + path);
        // Entries are written in order, so each goes at the end.
        hint = entries.emplace_hint(entries.end(), index,
                                    tag == kHashTag ? UnpackHash(p) : std::string(reinterpret_cast<const char*>(p), n));
        p += n;
    }
    return entries;
}

}  // namespace

MapFiles::MapFiles(std::string folder) : m_folder(std::move(folder)) {}

std::string MapFiles::Store(const BlockMap& map, int64_t generation) {
    const std::string& at = map.StoredAt();
    // A copy kept from a state since replaced may name a collected file.
    if (!at.empty() && at.compare(0, m_folder.size() + 1, m_folder + "/") == 0 && FwFile::Exists(at)) {
        std::string name = at.substr(m_folder.size() + 1);
        m_named.insert(name);
        m_held.emplace(name, map);
        return name;
    }
    // Unique to this process within the generation being committed: a
    // commit that failed after its map files leaves files whose names the
    // maps still carry, which no other process may then fill differently.
    // Files no state names are removed by a later commit.
    std::string name = std::to_string(generation) + "-" + std::to_string(getpid()) + "-" +
                       std::to_string(++m_counter) + ".map";
    std::string path = FwFile::JoinPath(m_folder, name);
    if (!FwFile::MakeDirs(m_folder)) throw std::runtime_error("cannot create " + m_folder);
    if (!FwFile::WriteAllAtomic(path, Encode(map))) throw std::runtime_error("cannot write block map " + path);
    map.SetStoredAt(path);
    m_held[name] = map;
    m_named.insert(name);
    return name;
}

BlockMap MapFiles::Load(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name[0] == '.')
        throw std::runtime_error("bad block map name '" + name + "'");
    m_named.insert(name);
    auto it = m_held.find(name);
    if (it != m_held.end()) return it->second;
    std::string path = FwFile::JoinPath(m_folder, name);
    std::string text;
    if (!FwFile::ReadAll(path, text)) throw std::runtime_error("cannot read block map " + path);
    BlockMap map = BlockMap::Stored(Decode(text, path), path);
    m_held[name] = map;
    return map;
}

void MapFiles::Forget() {
    for (auto it = m_held.begin(); it != m_held.end();)
        it = m_named.count(it->first) ? std::next(it) : m_held.erase(it);
}

void MapFiles::Collect() {
    Forget();
    std::vector<std::string> names;
    if (!FwFile::ListDir(m_folder, names)) return;
    for (const auto& name : names)
        if (!m_named.count(name)) FwFile::RemoveFile(FwFile::JoinPath(m_folder, name));
}

MapFiles::Scope::Scope(MapFiles& files, int64_t generation) {
    t_current = &files;
    t_generation = generation;
    files.BeginState();
}

MapFiles::Scope::~Scope() { t_current = nullptr; }

MapFiles* MapFiles::Current(int64_t* generation) {
    if (generation) *generation = t_generation;
    return t_current;
}

}  // namespace cloudsim
