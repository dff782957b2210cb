#include "host/PointManifest.h"

#include <nlohmann/json.hpp>

#include "framework/FileUtils.h"
#include "host/VersionedJson.h"

namespace {
constexpr char kFormat[] = "BackupPoint";
constexpr int kVersion = 1;

bool IsVolumeId(const std::string& id) {
    constexpr char kPrefix[] = "vol-";
    return id.size() > sizeof kPrefix - 1 && id.compare(0, sizeof kPrefix - 1, kPrefix) == 0 &&
           id.find_first_not_of("0123456789abcdef", sizeof kPrefix - 1) == std::string::npos;
}
}  // namespace

bool SaveManifest(const std::string& path, const PointManifest& m, std::string& why) {
    nlohmann::json doc = VersionedDocument(kFormat, kVersion);
    doc["instance"] = m.instance;
    doc["name"] = m.name;
    doc["mode"] = m.mode;
    doc["ami"] = m.ami;
    doc["level"] = m.level;
    doc["changeTracking"] = m.changeTracking;
    doc["blockSize"] = kImageBlock;
    doc["disks"] = nlohmann::json::array();
    for (const auto& d : m.disks) {
        nlohmann::json disk = {{"volumeId", d.volumeId}, {"image", d.image}, {"size", d.size},
                               {"bytesRead", d.bytesRead}, {"bytesWithData", d.bytesWithData}};
        if (d.incremental) {
            nlohmann::json extents = nlohmann::json::array();
            for (const auto& e : d.extents) extents.push_back({e.offset, e.length});
            disk["extents"] = std::move(extents);
        }
        nlohmann::json sums = nlohmann::json::object();
        for (const auto& [block, sum] : d.blockSha256) sums[std::to_string(block)] = sum;
        disk["blockSha256"] = std::move(sums);
        doc["disks"].push_back(std::move(disk));
    }
    if (!FwFile::WriteAllAtomic(path, doc.dump(2) + "\n")) {
        why = "cannot write " + path;
        return false;
    }
    return true;
}

bool LoadManifest(const std::string& path, PointManifest& m, std::string& why) {
    nlohmann::json doc;
    if (!ReadVersioned(path, kFormat, kVersion, doc, why)) return false;
    try {
        // Block indexes mean nothing under another block size.
        if (doc.at("blockSize").get<uint64_t>() != kImageBlock) {
            why = path + ": blocks of " + doc["blockSize"].dump() + " bytes; this host checks blocks of " +
                  std::to_string(kImageBlock);
            return false;
        }
        PointManifest out;
        out.instance = doc.value("instance", "");
        out.name = doc.value("name", "");
        out.mode = doc.value("mode", "");
        out.ami = doc.value("ami", "");
        out.changeTracking = doc.value("changeTracking", "");
        out.level = doc.at("level").get<int>();
        for (const auto& disk : doc.at("disks")) {
            ManifestDisk d;
            d.volumeId = disk.at("volumeId").get<std::string>();
            // The id names the rebuilt image, so it must stay a plain file
            // name of the out folder.
            if (!IsVolumeId(d.volumeId)) {
                why = path + ": volume id " + disk["volumeId"].dump() + " is not an EBS volume id";
                return false;
            }
            d.image = disk.at("image").get<std::string>();
            if (d.image.empty() || d.image.find('/') != std::string::npos || d.image == "..") {
                why = path + ": image " + disk["image"].dump() + " is not a file of the point's folder";
                return false;
            }
            d.size = disk.at("size").get<uint64_t>();
            d.bytesRead = disk.value("bytesRead", uint64_t{0});
            d.bytesWithData = disk.value("bytesWithData", uint64_t{0});
            d.incremental = disk.contains("extents");
            if (d.incremental)
                for (const auto& e : disk["extents"]) d.extents.push_back({e.at(0).get<uint64_t>(), e.at(1).get<uint64_t>()});
            for (const auto& [block, sum] : disk.at("blockSha256").items())
                d.blockSha256[std::stoull(block)] = sum.get<std::string>();
            out.disks.push_back(std::move(d));
        }
        m = std::move(out);
        return true;
    } catch (const std::exception& e) {
        why = path + ": " + e.what();
        return false;
    }
}
