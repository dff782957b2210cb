// Copying a sparse image's data regions onto a restore volume's device.
#include "host/RestoreWriter.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <vector>

#include "host/DataMover.h"

namespace {
// Large enough that a sequential device write is not bounded by syscalls.
constexpr size_t kChunk = 4 * 1024 * 1024;

class Fd {
public:
    Fd(const std::string& path, int flags) : m_fd(::open(path.c_str(), flags | O_CLOEXEC)) {}
    ~Fd() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Fd(const Fd&) = delete;
    Fd& operator=(const Fd&) = delete;
    int get() const { return m_fd; }
    bool ok() const { return m_fd >= 0; }

private:
    int m_fd;
};

// A block device reports its size only through a seek to its end.
int64_t SizeOf(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return -1;
    if (S_ISREG(st.st_mode)) return st.st_size;
    const off_t end = ::lseek(fd, 0, SEEK_END);
    return end < 0 ? -1 : static_cast<int64_t>(end);
}

bool WriteAll(int fd, const char* data, size_t n, uint64_t offset) {
    size_t done = 0;
    while (done < n) {
        const ssize_t w = ::pwrite(fd, data + done, n - done, static_cast<off_t>(offset + done));
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

bool ReadAll(int fd, char* data, size_t n, uint64_t offset) {
    size_t done = 0;
    while (done < n) {
        const ssize_t r = ::pread(fd, data + done, n - done, static_cast<off_t>(offset + done));
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        done += static_cast<size_t>(r);
    }
    return true;
}

// The image of size bytes and a device that holds at least as much, open.
bool OpenPair(const std::string& image, const std::string& device, uint64_t size, Fd& in, Fd& out,
              std::string& why) {
    if (!in.ok()) {
        why = "cannot read the image " + image;
        return false;
    }
    const int64_t imageSize = SizeOf(in.get());
    if (imageSize != static_cast<int64_t>(size)) {
        why = "the image " + image + " holds " + std::to_string(imageSize) + " bytes where the disk has " +
              std::to_string(size);
        return false;
    }
    if (!out.ok()) {
        why = "cannot open the device " + device + " for writing";
        return false;
    }
    const int64_t deviceSize = SizeOf(out.get());
    if (deviceSize < static_cast<int64_t>(size)) {
        why = "the device " + device + " holds " + std::to_string(deviceSize) + " bytes, less than the disk's " +
              std::to_string(size);
        return false;
    }
    return true;
}

// The volume is handed on (snapshotted, detached) right after a write: what
// is written must be on it, not in the page cache.
bool Sync(int fd, const std::string& device, std::string& why) {
    if (::fsync(fd) == 0) return true;
    why = "cannot sync the device " + device;
    return false;
}
}  // namespace

bool WriteImageToDevice(const std::string& image, const std::string& device, uint64_t size, WriteStats& stats,
                        const WriteProgress& progress, std::string& why) {
    Fd in(image, O_RDONLY);
    Fd out(device, O_WRONLY);
    if (!OpenPair(image, device, size, in, out, why)) return false;
    std::vector<char> buffer(kChunk);
    for (off_t at = 0; static_cast<uint64_t>(at) < size;) {
        const off_t data = ::lseek(in.get(), at, SEEK_DATA);
        if (data < 0) {
            if (errno == ENXIO) break;   // only holes from here on
            why = "cannot walk the image " + image;
            return false;
        }
        off_t hole = ::lseek(in.get(), data, SEEK_HOLE);
        if (hole < 0 || static_cast<uint64_t>(hole) > size) hole = static_cast<off_t>(size);
        ++stats.regions;
        for (uint64_t pos = static_cast<uint64_t>(data); pos < static_cast<uint64_t>(hole);) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kChunk, static_cast<uint64_t>(hole) - pos));
            if (!ReadAll(in.get(), buffer.data(), n, pos)) {
                why = "cannot read the image " + image + " at offset " + std::to_string(pos);
                return false;
            }
            if (!WriteAll(out.get(), buffer.data(), n, pos)) {
                why = "cannot write the device " + device + " at offset " + std::to_string(pos);
                return false;
            }
            pos += n;
            stats.bytesWritten += n;
            if (progress && !progress(stats.bytesWritten)) {
                why = "the job was cancelled while writing " + device;
                return false;
            }
        }
        at = hole;
    }
    return Sync(out.get(), device, why);
}

uint64_t ImageDataBytes(const std::string& image, uint64_t size) {
    Fd in(image, O_RDONLY);
    uint64_t bytes = 0;
    for (off_t at = 0; in.ok() && static_cast<uint64_t>(at) < size;) {
        const off_t data = ::lseek(in.get(), at, SEEK_DATA);
        if (data < 0 || static_cast<uint64_t>(data) >= size) break;
        off_t hole = ::lseek(in.get(), data, SEEK_HOLE);
        if (hole < 0 || static_cast<uint64_t>(hole) > size) hole = static_cast<off_t>(size);
        bytes += static_cast<uint64_t>(hole - data);
        at = hole;
    }
    return bytes;
}

bool WriteBlocksToDevice(const std::string& image, const std::string& device, uint64_t size,
                         const std::vector<uint64_t>& blocks, WriteStats& stats, const WriteProgress& progress,
                         std::string& why) {
    Fd in(image, O_RDONLY);
    Fd out(device, O_WRONLY);
    if (!OpenPair(image, device, size, in, out, why)) return false;
    std::vector<char> buffer(kImageBlock);
    for (const uint64_t block : blocks) {
        const uint64_t at = block * kImageBlock;
        if (at >= size) {
            why = "block " + std::to_string(block) + " lies past the disk's end";
            return false;
        }
        const size_t n = static_cast<size_t>(std::min<uint64_t>(kImageBlock, size - at));
        if (!ReadAll(in.get(), buffer.data(), n, at)) {
            why = "cannot read the image " + image + " at offset " + std::to_string(at);
            return false;
        }
        if (!WriteAll(out.get(), buffer.data(), n, at)) {
            why = "cannot write the device " + device + " at offset " + std::to_string(at);
            return false;
        }
        ++stats.regions;
        stats.bytesWritten += n;
        if (progress && !progress(stats.bytesWritten)) {
            why = "the job was cancelled while writing " + device;
            return false;
        }
    }
    return Sync(out.get(), device, why);
}

uint64_t BlockBytes(const std::vector<uint64_t>& blocks, uint64_t size) {
    uint64_t bytes = 0;
    for (const uint64_t block : blocks)
        if (block * kImageBlock < size) bytes += std::min<uint64_t>(kImageBlock, size - block * kImageBlock);
    return bytes;
}
