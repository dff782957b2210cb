#pragma once
// A backup point's manifest (point-N/manifest.json): what the point holds of
// each disk, and the SHA-256 of every block it stored, so that whoever reads
// the point back can tell a damaged image from a sound one.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "host/DataMover.h"

struct ManifestDisk {
    std::string volumeId;
    std::string image;          // the image's file name, in the point's folder
    uint64_t size = 0;
    uint64_t bytesRead = 0;
    uint64_t bytesWithData = 0;
    // An incremental disk holds only its extents (whole blocks); otherwise
    // the image is the whole disk.
    bool incremental = false;
    std::vector<ByteRange> extents;
    // Block index (of kImageBlock bytes) -> hex SHA-256 of each block held
    // with data. Every other block the disk holds reads as zeros.
    std::map<uint64_t, std::string> blockSha256;
};

struct PointManifest {
    std::string instance, name, mode, ami, changeTracking;
    int level = 1;   // 1 full, 2 incremental
    std::vector<ManifestDisk> disks;
};

// False with a reason on a write failure.
bool SaveManifest(const std::string& path, const PointManifest& manifest, std::string& why);
// False with a reason that names the file when it cannot be read, is not a
// point manifest, or is of a version this host does not read.
bool LoadManifest(const std::string& path, PointManifest& manifest, std::string& why);
