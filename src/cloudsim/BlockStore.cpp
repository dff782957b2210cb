#include "cloudsim/BlockStore.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/evp.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "framework/FileUtils.h"
#include "framework/ZeroBytes.h"

namespace cloudsim {

namespace {

const char kTempMark[] = ".tmp.";

std::string Hex(const unsigned char* bytes, unsigned int n) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(n * 2);
    for (unsigned int i = 0; i < n; ++i) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    return out;
}

std::string ContentId(const char* block) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    if (EVP_Digest(block, kBlockSize, digest, &n, EVP_sha256(), nullptr) != 1)
        throw std::runtime_error("cannot hash a block");
    return Hex(digest, n);
}

std::runtime_error IoError(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

bool WriteFully(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

const std::string& ZeroBlockId() {
    static const std::string id = ContentId(std::vector<char>(kBlockSize).data());
    return id;
}

BlockStore::BlockStore(std::string folder) : m_folder(std::move(folder)) {
    if (!m_folder.empty() && !FwFile::MakeDirs(m_folder)) throw IoError("cannot create", m_folder);
}

std::string BlockStore::PathOf(const std::string& id) const { return FwFile::JoinPath(m_folder, id); }

// Durable before it is renamed into place: the state that will name this
// block is itself synced when committed, and must not outlive the block.
void BlockStore::WriteFile(const std::string& id, const char* data) const {
    std::string path = PathOf(id);
    std::string tmp = path + kTempMark + std::to_string(getpid()) + "." + std::to_string(FwThread::CurrentThreadId());
    int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) throw IoError("cannot create", tmp);
    bool ok = WriteFully(fd, data, kBlockSize) && ::fdatasync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    if (!ok || ::rename(tmp.c_str(), path.c_str()) != 0) {
        std::runtime_error error = IoError("cannot write block", path);
        ::unlink(tmp.c_str());
        throw error;
    }
}

std::string BlockStore::Put(const char* data, size_t size) {
    if (size > static_cast<size_t>(kBlockSize)) throw std::invalid_argument("a block holds at most 512 KiB");
    if (FwBytes::IsAllZero(data, size)) return "";
    std::string padded;
    const char* block = data;
    if (size < static_cast<size_t>(kBlockSize)) {
        padded.assign(kBlockSize, '\0');
        std::memcpy(&padded[0], data, size);
        block = padded.data();
    }
    std::string id = ContentId(block);
    if (m_folder.empty()) {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (!m_memory.count(id)) m_memory[id].bytes = std::make_shared<const std::string>(block, kBlockSize);
    } else if (FwFile::FileSize(PathOf(id)) != kBlockSize) {
        WriteFile(id, block);
    }
    return id;
}

std::string BlockStore::Put(const char* block, std::function<void(char*)> remake) {
    if (!m_folder.empty() || FwBytes::IsAllZero(block, kBlockSize)) return Put(block, kBlockSize);
    std::string id = ContentId(block);
    std::lock_guard<std::mutex> guard(m_mutex);
    if (!m_memory.count(id)) m_memory[id].remake = std::move(remake);
    return id;
}

void BlockStore::Get(const std::string& id, char* out) const {
    if (id == ZeroBlockId()) {
        std::memset(out, 0, kBlockSize);
        return;
    }
    if (m_folder.empty()) {
        Entry entry;
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            auto it = m_memory.find(id);
            if (it == m_memory.end()) throw std::runtime_error("block store has no block " + id);
            entry = it->second;
        }
        if (entry.bytes) {
            std::memcpy(out, entry.bytes->data(), kBlockSize);
        } else {
            entry.remake(out);
        }
        return;
    }
    // Ids come from the state; one that is not a plain name must not reach
    // beyond the folder.
    if (id.empty() || id.find('/') != std::string::npos) throw std::runtime_error("bad block id '" + id + "'");
    std::string path = PathOf(id);
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw IoError("block store has no block", path);
    int64_t done = 0;
    while (done < kBlockSize) {
        ssize_t n = ::pread(fd, out + done, kBlockSize - done, done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += n;
    }
    ::close(fd);
    if (done != kBlockSize) throw std::runtime_error("block " + path + " is truncated");
}

bool BlockStore::Has(const std::string& id) const {
    if (id == ZeroBlockId()) return true;
    if (!m_folder.empty()) return id.find('/') == std::string::npos && FwFile::FileSize(PathOf(id)) == kBlockSize;
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_memory.count(id) != 0;
}

size_t BlockStore::Count() const {
    if (m_folder.empty()) {
        std::lock_guard<std::mutex> guard(m_mutex);
        return m_memory.size();
    }
    std::vector<std::string> names;
    if (!FwFile::ListDir(m_folder, names)) return 0;
    return static_cast<size_t>(std::count_if(names.begin(), names.end(), [](const std::string& name) {
        return name.find(kTempMark) == std::string::npos;
    }));
}

void BlockStore::SweepTemporaries() {
    std::vector<std::string> names;
    if (m_folder.empty() || !FwFile::ListDir(m_folder, names)) return;
    for (const auto& name : names)
        if (name.find(kTempMark) != std::string::npos) FwFile::RemoveFile(FwFile::JoinPath(m_folder, name));
}

void ReadBlocks(const BlockStore& store, const BlockMap& map, int64_t offset, int64_t length, char* out) {
    std::vector<char> block(kBlockSize);
    while (length > 0) {
        int64_t index = offset / kBlockSize;
        int64_t within = offset % kBlockSize;
        int64_t n = std::min(length, kBlockSize - within);
        auto it = map.find(index);
        if (it == map.end()) {
            std::memset(out, 0, static_cast<size_t>(n));
        } else {
            store.Get(it->second, block.data());
            std::memcpy(out, block.data() + within, static_cast<size_t>(n));
        }
        out += n;
        offset += n;
        length -= n;
    }
}

void WriteBlocks(BlockStore& store, BlockMap& map, int64_t offset, const char* data, int64_t length) {
    std::vector<char> block(kBlockSize);
    while (length > 0) {
        int64_t index = offset / kBlockSize;
        int64_t within = offset % kBlockSize;
        int64_t n = std::min(length, kBlockSize - within);
        if (n < kBlockSize) ReadBlocks(store, map, index * kBlockSize, kBlockSize, block.data());
        std::memcpy(block.data() + within, data, static_cast<size_t>(n));
        std::string id = store.Put(block.data(), kBlockSize);
        if (id.empty()) {
            map.erase(index);
        } else {
            map[index] = id;
        }
        data += n;
        offset += n;
        length -= n;
    }
}

}  // namespace cloudsim
