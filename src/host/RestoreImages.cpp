// Rebuilding a point's disk images from the chain, checking every block
// read back against the checksum its point recorded.
#include <fcntl.h>
#include <strings.h>
#include <linux/falloc.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <set>

#include <nlohmann/json.hpp>

#include "framework/FileUtils.h"
#include "framework/Hashing.h"
#include "framework/VMConfigFile.h"
#include "framework/ZeroBytes.h"
#include "host/BackupChain.h"
#include "host/PointManifest.h"
#include "host/Progress.h"
#include "host/VersionedJson.h"

namespace {
// Whether path is folder or lies below it, with links and ".." resolved;
// a path that cannot be resolved counts as inside.
bool IsWithin(const std::string& path, const std::string& folder) {
    std::error_code error;
    const auto inner = std::filesystem::weakly_canonical(path, error);
    if (error) return true;
    const auto outer = std::filesystem::weakly_canonical(folder, error);
    if (error) return true;
    auto parts = inner.begin();
    for (const auto& part : outer) {
        if (part.empty()) continue;   // a trailing separator
        if (parts == inner.end() || *parts != part) return false;
        ++parts;
    }
    return true;
}

// The data regions of a sparse image: a full point's image is the disk,
// with holes where it holds nothing.
std::vector<ByteRange> DataRegions(int fd, uint64_t size) {
    std::vector<ByteRange> out;
    for (off_t at = 0; static_cast<uint64_t>(at) < size;) {
        const off_t data = ::lseek(fd, at, SEEK_DATA);
        if (data < 0) break;
        off_t hole = ::lseek(fd, data, SEEK_HOLE);
        if (hole < 0) hole = static_cast<off_t>(size);
        out.push_back({static_cast<uint64_t>(data), static_cast<uint64_t>(hole - data)});
        at = hole;
    }
    return out;
}

// The blocks of one disk of one point to apply: an incremental's extents, or
// for a whole-disk image its data regions, and in both cases every block
// with a checksum, so that a block the point holds cannot slip through by
// having become a hole.
std::vector<ByteRange> BlocksToApply(const ManifestDisk& disk, int image) {
    std::vector<ByteRange> ranges = disk.incremental ? disk.extents : DataRegions(image, disk.size);
    for (const auto& entry : disk.blockSha256) ranges.push_back({entry.first * kImageBlock, kImageBlock});
    return WholeBlocks(ranges, disk.size);
}

// What the point's instance configuration file says of the instance and its
// disks, for a check of a restored instance against the point: its type,
// zone, tags, and each disk's device. Nothing when the point holds no such
// file.
void DescribeInstance(const std::string& folder, const std::string& instance, nlohmann::json& doc) {
    std::vector<std::string> names;
    FwFile::ListDir(folder, names);
    const std::string wanted = instance + "_InstanceConfig.xml";
    for (const auto& name : names) {
        if (strcasecmp(name.c_str(), wanted.c_str()) != 0) continue;
        VMConfigFile config;
        VMInfoStructs::SVMInfo vm;
        if (!config.Load(FwFile::JoinPath(folder, name), vm)) return;
        doc["instanceType"] = vm.instanceType;
        doc["zone"] = vm.zone;
        doc["region"] = vm.region;
        doc["tags"] = config.GetTags();
        for (auto& disk : doc["disks"])
            for (const auto& d : vm.disks)
                if (d.volumeId == disk["volumeId"].get<std::string>()) {
                    disk["deviceName"] = d.deviceName;
                    disk["isOSDisk"] = d.isOSDisk;
                }
        return;
    }
}

class RestoredImages {
public:
    explicit RestoredImages(std::string folder) : m_folder(std::move(folder)) {}
    ~RestoredImages() {
        for (auto& [volume, fd] : m_open) ::close(fd);
        // Nothing half rebuilt, or rebuilt from damaged blocks, is left to
        // pass for a restored disk.
        if (!m_kept)
            for (auto& [volume, fd] : m_open) FwFile::RemoveFile(Path(volume));
    }
    RestoredImages(const RestoredImages&) = delete;
    RestoredImages& operator=(const RestoredImages&) = delete;

    std::string Path(const std::string& volume) const { return FwFile::JoinPath(m_folder, volume + ".img"); }
    // The image of volume, created of size on first use; -1 on failure.
    int Open(const std::string& volume, uint64_t size) {
        auto it = m_open.find(volume);
        if (it != m_open.end()) return it->second;
        const int fd = ::open(Path(volume).c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd < 0) return -1;
        m_open[volume] = fd;
        return ::ftruncate(fd, static_cast<off_t>(size)) == 0 ? fd : -1;
    }
    void Keep() { m_kept = true; }

private:
    std::string m_folder;
    std::map<std::string, int> m_open;
    bool m_kept = false;
};

// Applies one disk of one point to its rebuilt image, block by block: each
// block is checked, then written, or punched as a hole when it is zeros, so
// the rebuilt image stays as sparse as the disk.
bool ApplyDisk(const ManifestDisk& disk, int point, const std::string& folder, int out, CopyProgress* progress,
               std::string& why) {
    const std::string source = FwFile::JoinPath(folder, disk.image);
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0) {
        why = "cannot read " + source;
        return false;
    }
    // A whole-disk image replaces what the chain held so far (an incremental
    // may read a disk whole when its reference is gone).
    bool ok = disk.incremental ||
              (::ftruncate(out, 0) == 0 && ::ftruncate(out, static_cast<off_t>(disk.size)) == 0);
    if (!ok) why = "cannot reset the image of " + disk.volumeId;
    std::vector<char> buffer(kImageBlock);
    const std::vector<ByteRange> blocks = ok ? BlocksToApply(disk, in) : std::vector<ByteRange>();
    if (progress) {
        uint64_t bytes = 0;
        for (const auto& range : blocks) bytes += range.length;
        progress->StartDisk(disk.volumeId + " of point " + std::to_string(point), bytes);
    }
    for (const auto& range : blocks) {
        for (uint64_t at = range.offset; ok && at < range.offset + range.length; at += kImageBlock) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kImageBlock, disk.size - at));
            const ssize_t r = ::pread(in, buffer.data(), want, static_cast<off_t>(at));
            if (r < 0) {
                why = "cannot read " + source;
                ok = false;
                break;
            }
            // Past the source's end reads as zeros, like the hole it stands for.
            std::fill(buffer.begin() + r, buffer.begin() + static_cast<ssize_t>(want), '\0');
            const uint64_t block = at / kImageBlock;
            const auto sum = disk.blockSha256.find(block);
            const bool zero = FwBytes::IsAllZero(buffer.data(), want);
            if (sum == disk.blockSha256.end() ? !zero
                                               : KdcHash::HexEncode(KdcSHA256::Digest(buffer.data(), want)) != sum->second) {
                why = "disk " + disk.volumeId + ": block " + std::to_string(block) + " of point " +
                      std::to_string(point) + " does not match its checksum; the point is damaged and is not restored";
                ok = false;
                break;
            }
            if (zero) {
                ok = ::fallocate(out, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(at),
                                 static_cast<off_t>(want)) == 0;
            } else {
                ok = ::pwrite(out, buffer.data(), want, static_cast<off_t>(at)) == static_cast<ssize_t>(want);
            }
            if (!ok) why = "cannot write the image of " + disk.volumeId;
            if (ok && progress) progress->Add(want);
        }
        if (!ok) break;
    }
    if (progress) progress->EndDisk();
    ::close(in);
    return ok;
}
}  // namespace

bool BackupChain::RestoreImages(int point, const std::string& outDir, std::string& why,
                                const std::string& progressJob) const {
    if (m_points.empty()) {
        why = "the chain in " + m_folder + " has no backups";
        return false;
    }
    const size_t last = point <= 0 ? m_points.size() - 1 : static_cast<size_t>(point - 1);
    if (last >= m_points.size()) {
        why = "the chain has no point " + std::to_string(point);
        return false;
    }
    size_t first = last;
    while (first > 0 && m_points[first].level != 1) --first;
    if (m_points[first].level != 1) {
        why = "no full backup under point " + std::to_string(last + 1);
        return false;
    }
    // Rebuilt images written among the backups would truncate, or on a
    // failure remove, the very files they are rebuilt from.
    if (IsWithin(outDir, m_folder)) {
        why = "the out folder " + outDir + " is inside the chain folder " + m_folder +
              "; rebuild the images into a folder outside the chain";
        return false;
    }
    if (!FwFile::MakeDirs(outDir)) {
        why = "cannot create " + outDir;
        return false;
    }
    // A manifest left by an earlier rebuild must not describe this one's
    // images if this one fails.
    const std::string manifestPath = FwFile::JoinPath(outDir, "manifest.json");
    if (FwFile::Exists(manifestPath) && !FwFile::RemoveFile(manifestPath)) {
        why = "cannot replace " + manifestPath;
        return false;
    }
    // Every manifest first: the progress counts the disks of all of them.
    std::vector<PointManifest> manifests(last - first + 1);
    size_t diskCount = 0;
    for (size_t i = first; i <= last; ++i) {
        const std::string folder = FwFile::JoinPath(m_folder, m_points[i].folder);
        if (!LoadManifest(FwFile::JoinPath(folder, "manifest.json"), manifests[i - first], why)) return false;
        diskCount += manifests[i - first].disks.size();
    }
    std::unique_ptr<CopyProgress> progress;
    if (!progressJob.empty()) progress = std::make_unique<CopyProgress>(progressJob, diskCount);
    RestoredImages images(outDir);
    for (size_t i = first; i <= last; ++i) {
        const std::string folder = FwFile::JoinPath(m_folder, m_points[i].folder);
        for (const auto& disk : manifests[i - first].disks) {
            const int out = images.Open(disk.volumeId, disk.size);
            if (out < 0) {
                why = "cannot create the image of " + disk.volumeId;
                return false;
            }
            if (!ApplyDisk(disk, m_points[i].point, folder, out, progress.get(), why)) return false;
        }
    }
    if (progress) progress->Finish();
    const PointManifest& result = manifests.back();
    // What cloudsim-tool verify reads: the rebuilt images, named relative to
    // the manifest's folder.
    nlohmann::json doc = VersionedDocument("RestoredImages", 1);
    doc["instance"] = result.instance;
    doc["name"] = result.name;
    doc["mode"] = result.mode;
    doc["ami"] = result.ami;
    doc["point"] = static_cast<int>(last + 1);
    doc["disks"] = nlohmann::json::array();
    for (const auto& disk : result.disks)
        doc["disks"].push_back({{"volumeId", disk.volumeId}, {"image", disk.volumeId + ".img"}, {"size", disk.size}});
    DescribeInstance(FwFile::JoinPath(m_folder, m_points[last].folder), result.instance, doc);
    if (!FwFile::WriteAllAtomic(manifestPath, doc.dump(2) + "\n")) {
        why = "cannot write the manifest";
        return false;
    }
    images.Keep();
    return true;
}
