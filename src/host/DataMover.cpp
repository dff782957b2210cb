#include "host/DataMover.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "framework/Hashing.h"
#include "framework/ZeroBytes.h"

namespace {
constexpr uint64_t kChunk = kImageBlock;

// An image file of the disk's size; chunks are written where they belong.
class ImageFile {
public:
    ImageFile(const std::string& path, uint64_t size) {
        m_fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (m_fd >= 0 && ::ftruncate(m_fd, static_cast<off_t>(size)) != 0) Close();
    }
    ~ImageFile() { Close(); }
    ImageFile(const ImageFile&) = delete;
    ImageFile& operator=(const ImageFile&) = delete;
    bool ok() const { return m_fd >= 0; }

    // Stores the block at offset (a whole block) unless it is all zeros,
    // with its checksum; false on a write error.
    bool Put(const char* data, size_t n, uint64_t offset, CopyStats& stats) {
        if (FwBytes::IsAllZero(data, n)) return true;
        size_t done = 0;
        while (done < n) {
            const ssize_t w = ::pwrite(m_fd, data + done, n - done, static_cast<off_t>(offset + done));
            if (w <= 0) return false;
            done += static_cast<size_t>(w);
        }
        std::string sum = KdcHash::HexEncode(KdcSHA256::Digest(data, n));
        std::lock_guard<std::mutex> guard(m_statsLock);
        stats.bytesWritten += n;
        stats.blockSha256[offset / kChunk] = std::move(sum);
        return true;
    }
    bool Finish() {
        const bool ok = m_fd >= 0 && ::fsync(m_fd) == 0;
        Close();
        return ok;
    }

private:
    void Close() {
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }
    int m_fd = -1;
    std::mutex m_statsLock;
};
// The blocks to copy: those of the ranges, or of the whole disk.
std::vector<ByteRange> Chunks(uint64_t size, const std::vector<ByteRange>* ranges) {
    std::vector<ByteRange> out;
    for (const auto& r : ranges ? WholeBlocks(*ranges, size) : WholeBlocks({{0, size}}, size))
        for (uint64_t at = r.offset; at < r.offset + r.length; at += kChunk)
            out.push_back({at, std::min(kChunk, r.offset + r.length - at)});
    return out;
}
}  // namespace

std::vector<ByteRange> WholeBlocks(const std::vector<ByteRange>& ranges, uint64_t size) {
    std::vector<ByteRange> sorted;
    for (const auto& r : ranges) {
        if (r.offset >= size || r.length == 0) continue;
        const uint64_t start = r.offset / kChunk * kChunk;
        const uint64_t last = r.length > size - r.offset ? size : r.offset + r.length;
        const uint64_t end = std::min(size, (last + kChunk - 1) / kChunk * kChunk);
        sorted.push_back({start, end - start});
    }
    std::sort(sorted.begin(), sorted.end(), [](const ByteRange& a, const ByteRange& b) { return a.offset < b.offset; });
    std::vector<ByteRange> out;
    for (const auto& r : sorted) {
        if (!out.empty() && r.offset <= out.back().offset + out.back().length)
            out.back().length = std::max(out.back().offset + out.back().length, r.offset + r.length) - out.back().offset;
        else
            out.push_back(r);
    }
    return out;
}

uint64_t BytesToCopy(uint64_t size, const std::vector<ByteRange>* ranges) {
    uint64_t bytes = 0;
    for (const auto& r : ranges ? WholeBlocks(*ranges, size) : WholeBlocks({{0, size}}, size)) bytes += r.length;
    return bytes;
}

bool CopyDevice(const std::string& device, uint64_t size, const std::vector<ByteRange>* ranges,
                const std::string& image, CopyStats& stats, const CopiedFn& copied, std::string& why) {
    const int in = ::open(device.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = "cannot open device " + device;
        return false;
    }
    ImageFile out(image, size);
    if (!out.ok()) {
        ::close(in);
        why = "cannot create image " + image;
        return false;
    }
    std::vector<char> buffer(kChunk);
    bool ok = true;
    for (const ByteRange& chunk : Chunks(size, ranges)) {
        // Without change tracking the whole device is walked: holes read as
        // zeros and need no copy (a block device reports all of itself as
        // data, so it is read whole).
        if (!ranges) {
            const off_t data = ::lseek(in, static_cast<off_t>(chunk.offset), SEEK_DATA);
            if (data < 0 && errno == ENXIO) {
                if (copied) copied(size - chunk.offset);   // only holes from here on
                break;
            }
            if (data >= static_cast<off_t>(chunk.offset + chunk.length)) {
                if (copied && !copied(chunk.length)) {
                    why = "the job was cancelled while reading " + device;
                    ok = false;
                    break;
                }
                continue;
            }
        }
        const size_t want = static_cast<size_t>(chunk.length);
        size_t got = 0;
        while (got < want) {
            const ssize_t r = ::pread(in, buffer.data() + got, want - got, static_cast<off_t>(chunk.offset + got));
            if (r <= 0) break;
            got += static_cast<size_t>(r);
        }
        if (got != want) {
            why = "short read from " + device + " at offset " + std::to_string(chunk.offset);
            ok = false;
            break;
        }
        stats.bytesRead += want;
        ++stats.chunks;
        if (!out.Put(buffer.data(), want, chunk.offset, stats)) {
            why = "cannot write image " + image;
            ok = false;
            break;
        }
        if (copied && !copied(want)) {
            why = "the job was cancelled while reading " + device;
            ok = false;
            break;
        }
    }
    ::close(in);
    return out.Finish() && ok;
}

bool CopyThroughPlugin(CVMInfo& plugin, const VmdkHandle& handle, uint64_t size, uint32_t sectorSize, int threads,
                       const std::vector<ByteRange>* ranges, const std::string& image, CopyStats& stats,
                       const CopiedFn& copied, std::string& why) {
    if (sectorSize == 0 || kChunk % sectorSize != 0) {
        why = "unusable sector size " + std::to_string(sectorSize);
        return false;
    }
    ImageFile out(image, size);
    if (!out.ok()) {
        why = "cannot create image " + image;
        return false;
    }
    // Readers take the next chunk until the disk is done or one fails.
    const std::vector<ByteRange> chunkList = Chunks(size, ranges);
    std::atomic<size_t> next{0};
    std::atomic<bool> failed{false};
    std::mutex whyLock;
    std::atomic<uint64_t> read{0}, chunks{0};
    auto reader = [&] {
        std::vector<char> buffer(kChunk);
        for (;;) {
            const size_t index = next.fetch_add(1);
            if (index >= chunkList.size() || failed) return;
            const uint64_t offset = chunkList[index].offset;
            const uint64_t n = chunkList[index].length;
            const unsigned sectors = static_cast<unsigned>((n + sectorSize - 1) / sectorSize);
            if (plugin.ReadVmdk(handle, offset / sectorSize, sectors, buffer.data()) != 0) {
                std::lock_guard<std::mutex> guard(whyLock);
                why = "read failed at offset " + std::to_string(offset) + " (error " +
                      std::to_string(plugin.GetLastVMError()) + "): " + plugin.GetLastVMErrorDetails();
                failed = true;
                return;
            }
            read += n;
            ++chunks;
            if (!out.Put(buffer.data(), static_cast<size_t>(n), offset, stats)) {
                std::lock_guard<std::mutex> guard(whyLock);
                why = "cannot write image " + image;
                failed = true;
                return;
            }
            if (copied && !copied(n)) {
                std::lock_guard<std::mutex> guard(whyLock);
                if (!failed) why = "the job was cancelled while reading the disk";
                failed = true;
                return;
            }
        }
    };
    std::vector<std::thread> pool;
    for (int i = 0; i < std::max(1, threads); ++i) pool.emplace_back(reader);
    for (auto& t : pool) t.join();
    stats.bytesRead += read;
    stats.chunks += chunks;
    return out.Finish() && !failed;
}
