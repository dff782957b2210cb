#include "host/BackupChain.h"

#include <fcntl.h>
#include <linux/falloc.h>
#include <unistd.h>

#include <algorithm>

#include <nlohmann/json.hpp>

#include "framework/FileUtils.h"
#include "framework/MessageBase.h"

namespace {
const char kChainFile[] = "chain.json";
constexpr size_t kCopyChunk = 512 * 1024;

bool ReadJson(const std::string& path, nlohmann::json& out, std::string& why) {
    std::string text;
    if (!FwFile::ReadAll(path, text)) {
        why = "cannot read " + path;
        return false;
    }
    out = nlohmann::json::parse(text, nullptr, false);
    if (out.is_discarded() || !out.is_object()) {
        why = path + " is not a JSON object";
        return false;
    }
    return true;
}

bool AllZero(const char* data, size_t n) {
    return std::all_of(data, data + n, [](char c) { return c == 0; });
}

// Applies [offset, offset + length) of a point's image to the rebuilt one:
// data is written, zeros (a hole in the source, or zeros written by the
// guest) become a hole, so the rebuilt image stays as sparse as the disk.
bool ApplyRange(int in, int out, uint64_t offset, uint64_t length) {
    std::vector<char> buffer(kCopyChunk);
    for (uint64_t done = 0; done < length;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyChunk, length - done));
        const off_t at = static_cast<off_t>(offset + done);
        const ssize_t r = ::pread(in, buffer.data(), want, at);
        if (r < 0) return false;
        // Past the source's end reads as zeros, like the hole it stands for.
        std::fill(buffer.begin() + r, buffer.begin() + static_cast<ssize_t>(want), '\0');
        if (AllZero(buffer.data(), want)) {
            if (::fallocate(out, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, at, static_cast<off_t>(want)) != 0)
                return false;
        } else if (::pwrite(out, buffer.data(), want, at) != static_cast<ssize_t>(want)) {
            return false;
        }
        done += want;
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
}  // namespace

bool BackupChain::Load(std::string& why) {
    m_points.clear();
    const std::string path = FwFile::JoinPath(m_folder, kChainFile);
    if (!FwFile::Exists(path)) return true;
    nlohmann::json j;
    if (!ReadJson(path, j, why)) return false;
    try {
        for (const auto& p : j.at("points"))
            m_points.push_back({p.at("point").get<int>(), p.at("level").get<int>(), p.at("folder").get<std::string>(),
                                p.at("changeId").get<std::string>()});
    } catch (const std::exception& e) {
        why = path + ": " + e.what();
        m_points.clear();
        return false;
    }
    return true;
}

bool BackupChain::Save(std::string& why) const {
    nlohmann::json points = nlohmann::json::array();
    for (const auto& p : m_points)
        points.push_back({{"point", p.point}, {"level", p.level}, {"folder", p.folder}, {"changeId", p.changeId}});
    if (!FwFile::WriteAllAtomic(FwFile::JoinPath(m_folder, kChainFile),
                                nlohmann::json{{"points", points}}.dump(2) + "\n")) {
        why = "cannot write " + FwFile::JoinPath(m_folder, kChainFile);
        return false;
    }
    return true;
}

std::string BackupChain::NextPointFolder() const {
    return FwFile::JoinPath(m_folder, "point-" + std::to_string(m_points.size() + 1));
}

std::map<std::string, std::string> BackupChain::PreviousSnapshots(const std::string& changeId) {
    std::map<std::string, std::string> out;
    CNMessageBase info("VirtualServer::VMReferencePointInfo");
    if (changeId.empty() || info.Deserialize(changeId) != CNMessageBase::kOk) return out;
    for (const auto& disk : info.GetMessages(4)) out[disk.GetString(1)] = disk.GetString(2);
    return out;
}

bool BackupChain::RestoreImages(int point, const std::string& outDir, std::string& why) const {
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
    if (!FwFile::MakeDirs(outDir)) {
        why = "cannot create " + outDir;
        return false;
    }
    nlohmann::json result;
    std::map<std::string, int> images;   // volume -> open image
    bool ok = true;
    for (size_t i = first; ok && i <= last; ++i) {
        const std::string folder = FwFile::JoinPath(m_folder, m_points[i].folder);
        nlohmann::json manifest;
        if (!ReadJson(FwFile::JoinPath(folder, "manifest.json"), manifest, why)) {
            ok = false;
            break;
        }
        if (i == last) result = manifest;
        for (const auto& disk : manifest.value("disks", nlohmann::json::array())) {
            const std::string volume = disk.at("volumeId");
            const std::string source = disk.at("image");
            const uint64_t size = disk.at("size");
            int& out = images[volume];
            if (!out) {
                out = ::open(FwFile::JoinPath(outDir, volume + ".img").c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC,
                             0644);
                if (out < 0 || ::ftruncate(out, static_cast<off_t>(size)) != 0) {
                    why = "cannot create the image of " + volume;
                    ok = false;
                    break;
                }
            }
            const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
            if (in < 0) {
                why = "cannot read " + source;
                ok = false;
                break;
            }
            // A full point's image is the whole disk; an incremental one
            // counts only at its extents.
            std::vector<ByteRange> ranges;
            if (disk.contains("extents")) {
                for (const auto& e : disk["extents"]) ranges.push_back({e.at(0).get<uint64_t>(), e.at(1).get<uint64_t>()});
            } else {
                // A whole-disk image replaces what the chain held so far (an
                // incremental may read a disk whole when its reference is
                // gone).
                ranges = DataRegions(in, size);
                if (::ftruncate(out, 0) != 0 || ::ftruncate(out, static_cast<off_t>(size)) != 0) {
                    ::close(in);
                    why = "cannot reset the image of " + volume;
                    ok = false;
                    break;
                }
            }
            for (const auto& r : ranges) ok = ok && ApplyRange(in, out, r.offset, r.length);
            ::close(in);
            if (!ok) why = "cannot apply " + source;
        }
    }
    for (auto& [volume, fd] : images)
        if (fd > 0) ::close(fd);
    if (!ok) return false;
    for (auto& disk : result["disks"]) {
        disk["image"] = FwFile::JoinPath(outDir, disk.at("volumeId").get<std::string>() + ".img");
        disk.erase("extents");
    }
    result["point"] = static_cast<int>(last + 1);
    return FwFile::WriteAllAtomic(FwFile::JoinPath(outDir, "manifest.json"), result.dump(2) + "\n") ||
           (why = "cannot write the manifest", false);
}
