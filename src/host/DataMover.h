#pragma once
// The framework's data mover: copies one opened disk into an image file.
// Images are sparse: a 512 KiB chunk that reads as zeros is not written, so
// an image costs what its disk holds.
#include <cstdint>
#include <string>

#include "framework/VMInfo.h"

struct CopyStats {
    uint64_t bytesRead = 0;
    uint64_t bytesWritten = 0;   // non-zero data stored in the image
    uint64_t chunks = 0;
};

// Reads the attached volume's block device (hot-add) from start to end.
bool CopyDevice(const std::string& device, uint64_t size, const std::string& image, CopyStats& stats,
                std::string& why);

// Reads the disk through the plug-in's ReadVmdk on several threads.
bool CopyThroughPlugin(CVMInfo& plugin, const VmdkHandle& handle, uint64_t size, uint32_t sectorSize, int threads,
                       const std::string& image, CopyStats& stats, std::string& why);
