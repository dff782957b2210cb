#include "host/ReplicaState.h"

#include <nlohmann/json.hpp>

#include "framework/FileUtils.h"
#include "host/BackupChain.h"
#include "host/DataMover.h"
#include "host/PointManifest.h"
#include "host/VersionedJson.h"

namespace {
constexpr char kFile[] = "replica.json";
constexpr char kFormat[] = "Replica";
constexpr int kVersion = 1;
}  // namespace

std::string ReplicaStatePath(const std::string& chainFolder) { return FwFile::JoinPath(chainFolder, kFile); }

bool LoadReplicaState(const std::string& path, ReplicaState& state, std::string& why) {
    state = ReplicaState();
    if (!FwFile::Exists(path)) return true;
    nlohmann::json doc;
    if (!ReadVersioned(path, kFormat, kVersion, doc, why)) return false;
    try {
        ReplicaState out;
        out.instance = doc.at("instance").get<std::string>();
        out.replica = doc.at("replica").get<std::string>();
        out.integrityAmi = doc.at("integrityAmi").get<std::string>();
        out.name = doc.at("name").get<std::string>();
        out.zone = doc.at("zone").get<std::string>();
        out.account = doc.at("account").get<std::string>();
        out.point = doc.at("point").get<int>();
        out.pointAmi = doc.at("pointAmi").get<std::string>();
        for (const auto& d : doc.at("disks"))
            out.disks.push_back({d.at("volumeId").get<std::string>(), d.at("snapshotId").get<std::string>(),
                                 d.at("replicaVolumeId").get<std::string>()});
        // An id is handed to the cloud as it is: it must look like one.
        if (out.replica.rfind("i-", 0) != 0 || out.point < 1) {
            why = path + ": replica " + doc["replica"].dump() + " of point " + doc["point"].dump() +
                  " is not an instance id and a point of the chain";
            return false;
        }
        state = std::move(out);
        return true;
    } catch (const std::exception& e) {
        why = path + ": " + e.what();
        return false;
    }
}

bool SaveReplicaState(const std::string& path, const ReplicaState& state, std::string& why) {
    nlohmann::json doc = VersionedDocument(kFormat, kVersion);
    doc["instance"] = state.instance;
    doc["replica"] = state.replica;
    doc["integrityAmi"] = state.integrityAmi;
    doc["name"] = state.name;
    doc["zone"] = state.zone;
    doc["account"] = state.account;
    doc["point"] = state.point;
    doc["pointAmi"] = state.pointAmi;
    doc["disks"] = nlohmann::json::array();
    for (const auto& d : state.disks)
        doc["disks"].push_back(
            {{"volumeId", d.volumeId}, {"snapshotId", d.snapshotId}, {"replicaVolumeId", d.replicaVolumeId}});
    if (!FwFile::WriteAllAtomic(path, doc.dump(2) + "\n")) {
        why = "cannot write " + path;
        return false;
    }
    return true;
}

bool ReadPointContent(const BackupChain& chain, int point, PointContent& content, std::string& why) {
    const auto& points = chain.Points();
    if (point < 1 || point > static_cast<int>(points.size())) {
        why = "the chain in " + chain.Folder() + " has no point " + std::to_string(point);
        return false;
    }
    const size_t last = static_cast<size_t>(point - 1);
    size_t first = last;
    while (first > 0 && points[first].level != 1) --first;
    PointContent out;
    out.point = point;
    std::map<std::string, PointDiskBlocks> disks;
    PointManifest manifest;
    for (size_t i = first; i <= last; ++i) {
        const std::string path = FwFile::JoinPath(FwFile::JoinPath(chain.Folder(), points[i].folder), "manifest.json");
        if (!LoadManifest(path, manifest, why)) return false;
        for (const auto& disk : manifest.disks) {
            PointDiskBlocks& blocks = disks[disk.volumeId];
            // A whole-disk image replaces what the chain held so far; an
            // incremental replaces its extents' blocks.
            if (!disk.incremental) {
                blocks.sums.clear();
            } else {
                for (const auto& range : WholeBlocks(disk.extents, disk.size))
                    for (uint64_t at = range.offset; at < range.offset + range.length; at += kImageBlock)
                        blocks.sums.erase(at / kImageBlock);
            }
            blocks.size = disk.size;
            for (const auto& [block, sum] : disk.blockSha256) blocks.sums[block] = sum;
        }
    }
    out.ami = manifest.ami;
    // The point's own disks, each within its size now.
    for (const auto& disk : manifest.disks) {
        PointDiskBlocks blocks = std::move(disks[disk.volumeId]);
        blocks.sums.erase(blocks.sums.lower_bound((blocks.size + kImageBlock - 1) / kImageBlock), blocks.sums.end());
        out.disks[disk.volumeId] = std::move(blocks);
    }
    content = std::move(out);
    return true;
}

std::vector<uint64_t> ChangedBlocks(const PointDiskBlocks* before, const PointDiskBlocks& after) {
    std::vector<uint64_t> out;
    if (!before) {
        for (const auto& entry : after.sums) out.push_back(entry.first);
        return out;
    }
    const uint64_t blocks = (after.size + kImageBlock - 1) / kImageBlock;
    auto a = after.sums.begin();
    auto b = before->sums.begin();
    // A merge of the two ordered maps: a block in one only, or in both with
    // other sums, changed.
    while (a != after.sums.end() || b != before->sums.end()) {
        if (b == before->sums.end() || (a != after.sums.end() && a->first < b->first)) {
            out.push_back(a->first);
            ++a;
        } else if (a == after.sums.end() || b->first < a->first) {
            if (b->first < blocks) out.push_back(b->first);
            ++b;
        } else {
            if (a->second != b->second) out.push_back(a->first);
            ++a;
            ++b;
        }
    }
    return out;
}
