#pragma once
// The data mover's write side of a restore: copies a rebuilt disk image onto
// the block device of the volume the plug-in opened for writing. Only the
// image's data regions are written. A new EBS volume reads as zeros, so a
// hole needs no write, and writing one would allocate the whole volume (and
// cost its full size in transfer time) for nothing.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

struct WriteStats {
    uint64_t bytesWritten = 0;
    uint64_t regions = 0;   // data regions of the image, each written whole
};

// Called after each chunk with the bytes written so far; returning false
// stops the copy (a cancelled job).
using WriteProgress = std::function<bool(uint64_t written)>;

// Writes the data regions of image (which must be size bytes long) at the
// same offsets of device (which must hold at least size bytes), then syncs
// the device. The device is never truncated or created: it is the volume.
// False with a reason on a size mismatch, an I/O error, or a stop.
bool WriteImageToDevice(const std::string& image, const std::string& device, uint64_t size, WriteStats& stats,
                        const WriteProgress& progress, std::string& why);

// The bytes of the image's data regions within its first size bytes: what
// WriteImageToDevice writes. 0 when the image cannot be read.
uint64_t ImageDataBytes(const std::string& image, uint64_t size);

// Writes exactly the given blocks (indexes of kImageBlock bytes, the last one
// cut at size) of image onto device, zeros included, then syncs the device:
// what an incremental replication writes onto a volume made from the
// replica's snapshot, which holds the previous point's data there. The same
// checks and stops as WriteImageToDevice.
bool WriteBlocksToDevice(const std::string& image, const std::string& device, uint64_t size,
                         const std::vector<uint64_t>& blocks, WriteStats& stats, const WriteProgress& progress,
                         std::string& why);

// The bytes WriteBlocksToDevice writes for blocks of a disk of size bytes.
uint64_t BlockBytes(const std::vector<uint64_t>& blocks, uint64_t size);
