// cloudsim-tool: looks into a simulated cloud kept in a folder. Not part of
// the product; the demo uses it to check a backup against the cloud's data.
//
//   cloudsim-tool verify --base DIR --manifest FILE
//     compares every disk image of a backup manifest with the volume it was
//     taken from: each allocated block must match, and the image must hold
//     no data anywhere else. Exit 0 when everything matches.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <nlohmann/json.hpp>

#include "cloudsim/Cloud.h"
#include "cloudsim/CloudState.h"
#include "framework/KDPI.h"

namespace {
// Block indexes that hold data in a sparse image.
std::set<int64_t> ImageDataBlocks(int fd, int64_t blockSize) {
    std::set<int64_t> blocks;
    const off_t size = ::lseek(fd, 0, SEEK_END);
    for (off_t at = 0; at < size;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;
        const off_t hole = ::lseek(fd, data, SEEK_HOLE);
        for (off_t b = data / blockSize; b * blockSize < hole; ++b) blocks.insert(b);
        at = hole;
    }
    return blocks;
}

bool AllZero(const std::string& s) { return s.find_first_not_of('\0') == std::string::npos; }

int VerifyDisk(cloudsim::Cloud& cloud, const std::string& volumeId, const std::string& image) {
    const int64_t bs = cloudsim::kBlockSize;
    const int fd = ::open(image.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::printf("  %s: cannot open image %s\n", volumeId.c_str(), image.c_str());
        return 1;
    }
    const auto volumeBlocks = cloud.VolumeBlocks(volumeId);
    const std::set<int64_t> expected(volumeBlocks.begin(), volumeBlocks.end());
    int bad = 0;
    std::string buffer(static_cast<size_t>(bs), '\0');
    for (int64_t b : expected) {
        const ssize_t got = ::pread(fd, &buffer[0], static_cast<size_t>(bs), static_cast<off_t>(b * bs));
        if (got != bs || buffer != cloud.ReadVolume(volumeId, b * bs, bs)) ++bad;
    }
    for (int64_t b : ImageDataBlocks(fd, bs)) {
        if (expected.count(b)) continue;
        const ssize_t got = ::pread(fd, &buffer[0], static_cast<size_t>(bs), static_cast<off_t>(b * bs));
        if (got > 0 && !AllZero(buffer.substr(0, static_cast<size_t>(got)))) ++bad;
    }
    ::close(fd);
    std::printf("  %s: %zu blocks with data, %s\n", volumeId.c_str(), expected.size(),
                bad ? (std::to_string(bad) + " blocks differ").c_str() : "image matches the volume");
    return bad ? 1 : 0;
}

int Verify(const std::string& base, const std::string& manifestFile) {
    std::ifstream in(manifestFile);
    if (!in) {
        std::fprintf(stderr, "error: cannot read %s\n", manifestFile.c_str());
        return 2;
    }
    std::stringstream text;
    text << in.rdbuf();
    KDPI_Base::setBaseDir(base);
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    const auto manifest = nlohmann::json::parse(text.str());
    std::printf("verify %s (%s, %s)\n", manifest.value("instance", "").c_str(), manifest.value("name", "").c_str(),
                manifest.value("mode", "").c_str());
    int failures = 0;
    for (const auto& disk : manifest.at("disks"))
        failures += VerifyDisk(*cloud, disk.at("volumeId").get<std::string>(), disk.at("image").get<std::string>());
    std::printf("%s\n", failures ? "verify FAILED" : "verify passed");
    return failures ? 1 : 0;
}
}  // namespace

int main(int argc, char** argv) {
    std::string command = argc > 1 ? argv[1] : "";
    std::string base, manifest;
    for (int i = 2; i + 1 < argc; i += 2) {
        const std::string key = argv[i];
        if (key == "--base") base = argv[i + 1];
        else if (key == "--manifest") manifest = argv[i + 1];
    }
    if (command != "verify" || base.empty() || manifest.empty()) {
        std::fprintf(stderr, "usage: cloudsim-tool verify --base DIR --manifest FILE\n");
        return 2;
    }
    try {
        return Verify(base, manifest);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 2;
    }
}
