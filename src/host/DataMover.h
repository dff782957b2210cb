#pragma once
// The framework's data mover: copies one opened disk into an image file.
// Images are sparse: a 512 KiB block that reads as zeros is not written, so
// an image costs what its disk holds. Every block written is checksummed as
// it passes, so that a later reader can tell the image still holds what the
// disk gave.
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "framework/VMInfo.h"

// The unit the data mover copies and checksums: EBS's block size. Block i
// is [i * kImageBlock, (i + 1) * kImageBlock), cut at the disk's end.
constexpr uint64_t kImageBlock = 512 * 1024;

// A byte range of a disk to copy (a change-tracking extent).
struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// The ranges widened to whole blocks, merged, sorted and cut at size, so
// that every block is copied (and checksummed) whole and once.
std::vector<ByteRange> WholeBlocks(const std::vector<ByteRange>& ranges, uint64_t size);

struct CopyStats {
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;   // non-zero data stored in the image
    uint64_t chunks = 0;
    // Block index -> lower-case hex SHA-256 of each block stored with data;
    // a block copied as zeros has none (it is a hole in the image).
    std::map<uint64_t, std::string> blockSha256;
};

// Told the bytes of each chunk as it is done (holes skipped included), from
// whichever thread did it; false stops the copy, which then fails as
// cancelled (a stop request must not wait for the rest of a large disk).
using CopiedFn = std::function<bool(uint64_t bytes)>;

// How many bytes a copy of the ranges (or, when null, of the whole disk of
// size) goes through: what its progress counts up to.
uint64_t BytesToCopy(uint64_t size, const std::vector<ByteRange>* ranges);

// Reads the attached volume's block device (hot-add): the given ranges
// (whole blocks, see WholeBlocks), or when there are none (null) the whole
// device.
bool CopyDevice(const std::string& device, uint64_t size, const std::vector<ByteRange>* ranges,
                const std::string& image, CopyStats& stats, const CopiedFn& copied, std::string& why);

// Reads the disk through the plug-in's ReadVmdk on several threads: the
// given ranges (whole blocks), or the whole disk. A failed read's reason
// carries the plug-in's error details.
bool CopyThroughPlugin(CVMInfo& plugin, const VmdkHandle& handle, uint64_t size, uint32_t sectorSize, int threads,
                       const std::vector<ByteRange>* ranges, const std::string& image, CopyStats& stats,
                       const CopiedFn& copied, std::string& why);
