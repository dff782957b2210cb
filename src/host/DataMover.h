#pragma once
// The framework's data mover: copies one opened disk into an image file.
// Images are sparse: a 512 KiB chunk that reads as zeros is not written, so
// an image costs what its disk holds.
#include <cstdint>
#include <string>
#include <vector>

#include "framework/VMInfo.h"

// A byte range of a disk to copy (a change-tracking extent).
struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

struct CopyStats {
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;   // non-zero data stored in the image
    uint64_t chunks = 0;
};

// Reads the attached volume's block device (hot-add): the given ranges, or
// when there are none (null) the whole device.
bool CopyDevice(const std::string& device, uint64_t size, const std::vector<ByteRange>* ranges,
                const std::string& image, CopyStats& stats, std::string& why);

// Reads the disk through the plug-in's ReadVmdk on several threads: the
// given ranges, or the whole disk.
bool CopyThroughPlugin(CVMInfo& plugin, const VmdkHandle& handle, uint64_t size, uint32_t sectorSize, int threads,
                       const std::vector<ByteRange>* ranges, const std::string& image, CopyStats& stats,
                       std::string& why);
