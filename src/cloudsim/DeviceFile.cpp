#include "cloudsim/DeviceFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <vector>

#include "cloudsim/BlockStore.h"
#include "framework/ZeroBytes.h"

namespace cloudsim {
namespace devicefile {

namespace {

std::runtime_error IoError(const std::string& what, const std::string& path) {
    return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

// Closes the descriptor on every path out.
class Fd {
public:
    Fd(const std::string& path, int flags, mode_t mode = 0) : m_fd(::open(path.c_str(), flags | O_CLOEXEC, mode)) {
        if (m_fd < 0) throw IoError("cannot open", path);
    }
    ~Fd() { ::close(m_fd); }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

// Reads up to length bytes at offset; the rest (past the end of the file) is zeros.
void ReadAt(int fd, const std::string& path, int64_t offset, int64_t length, char* out) {
    int64_t done = 0;
    while (done < length) {
        ssize_t n = ::pread(fd, out + done, static_cast<size_t>(length - done), offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw IoError("cannot read", path);
        if (n == 0) break;
        done += n;
    }
    std::memset(out + done, 0, static_cast<size_t>(length - done));
}

void WriteAt(int fd, const std::string& path, int64_t offset, const char* data, int64_t length) {
    int64_t done = 0;
    while (done < length) {
        ssize_t n = ::pwrite(fd, data + done, static_cast<size_t>(length - done), offset + done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) throw IoError("cannot write", path);
        done += n;
    }
}

// The first data extent at or after offset, clipped to end; false when only
// holes follow. File systems without hole reporting give the whole rest of
// the file as data.
bool NextData(int fd, int64_t offset, int64_t end, int64_t& dataStart, int64_t& dataEnd) {
    off_t start = ::lseek(fd, offset, SEEK_DATA);
    if (start < 0) {
        if (errno == ENXIO) return false;
        dataStart = offset;
        dataEnd = end;
        return offset < end;
    }
    off_t hole = ::lseek(fd, start, SEEK_HOLE);
    dataStart = start;
    dataEnd = std::min<int64_t>(hole < 0 ? end : hole, end);
    return dataStart < end;
}

// Calls f for every block holding a non-zero byte, visiting only the blocks
// that overlap the file's data, so a 100 GiB file holding 10 MiB costs 10 MiB.
void ScanNonZero(const std::string& path, int64_t sizeBytes, const std::function<void(int64_t, const char*)>& f) {
    Fd fd(path, O_RDONLY);
    std::vector<char> block(kBlockSize);
    int64_t offset = 0;
    int64_t dataStart = 0;
    int64_t dataEnd = 0;
    while (offset < sizeBytes && NextData(fd.get(), offset, sizeBytes, dataStart, dataEnd)) {
        int64_t first = dataStart / kBlockSize;
        int64_t last = (dataEnd - 1) / kBlockSize;
        for (int64_t index = first; index <= last; ++index) {
            int64_t n = std::min(kBlockSize, sizeBytes - index * kBlockSize);
            ReadAt(fd.get(), path, index * kBlockSize, n, block.data());
            std::fill(block.begin() + n, block.end(), '\0');
            if (!FwBytes::IsAllZero(block.data(), kBlockSize)) f(index, block.data());
        }
        offset = (last + 1) * kBlockSize;
    }
}

}  // namespace

void Create(const std::string& path, int64_t sizeBytes, const BlockStore& store, const BlockMap& map) {
    std::string tmp = path + ".tmp";
    {
        Fd fd(tmp, O_RDWR | O_CREAT | O_TRUNC, 0644);
        if (::ftruncate(fd.get(), sizeBytes) != 0) throw IoError("cannot size", tmp);
        std::vector<char> block(kBlockSize);
        for (const auto& [index, id] : map) {
            if (index * kBlockSize >= sizeBytes) break;
            // A thin device: a block of zeros stays a hole and costs no disk.
            if (id == ZeroBlockId()) continue;
            store.Get(id, block.data());
            WriteAt(fd.get(), tmp, index * kBlockSize, block.data(), std::min(kBlockSize, sizeBytes - index * kBlockSize));
        }
        if (::fsync(fd.get()) != 0) throw IoError("cannot sync", tmp);
    }
    if (::rename(tmp.c_str(), path.c_str()) != 0) {
        std::runtime_error error = IoError("cannot publish", path);
        ::unlink(tmp.c_str());
        throw error;
    }
}

BlockMap Absorb(const std::string& path, int64_t sizeBytes, BlockStore& store) {
    BlockMap map;
    ScanNonZero(path, sizeBytes, [&](int64_t index, const char* data) { map[index] = store.Put(data, kBlockSize); });
    return map;
}

std::vector<int64_t> AllocatedBlocks(const std::string& path, int64_t sizeBytes) {
    std::vector<int64_t> indexes;
    ScanNonZero(path, sizeBytes, [&](int64_t index, const char*) { indexes.push_back(index); });
    return indexes;
}

void Read(const std::string& path, int64_t offset, int64_t length, char* out) {
    Fd fd(path, O_RDONLY);
    ReadAt(fd.get(), path, offset, length, out);
}

void Write(const std::string& path, int64_t offset, const char* data, int64_t length) {
    Fd fd(path, O_WRONLY);
    WriteAt(fd.get(), path, offset, data, length);
}

}  // namespace devicefile
}  // namespace cloudsim
