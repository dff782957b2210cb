// The cloud's block data helpers: what the guest of a volume would read and
// write, and what a snapshot holds.
#include <stdexcept>

#include "cloudsim/Cloud.h"
#include "cloudsim/DeviceFile.h"

namespace cloudsim {

namespace {

template <class Map>
auto& Lookup(Map& map, const std::string& id, const char* what) {
    auto it = map.find(id);
    if (it == map.end()) throw std::runtime_error(std::string("no ") + what + " " + id);
    return it->second;
}

void CheckRange(int64_t offset, int64_t length, int64_t sizeBytes, const std::string& id) {
    if (offset < 0 || length < 0 || offset > sizeBytes || length > sizeBytes - offset)
        throw std::runtime_error("range of " + std::to_string(length) + " bytes at " + std::to_string(offset) +
                                 " lies beyond the " + std::to_string(sizeBytes) + " bytes of " + id);
}

std::vector<int64_t> Indexes(const BlockMap& map) {
    std::vector<int64_t> out;
    for (const auto& [index, id] : map) out.push_back(index);
    return out;
}

}  // namespace

std::string Cloud::ReadVolume(const std::string& volumeId, int64_t offset, int64_t length) {
    std::string out;
    Read([&](const State& s) {
        const Volume& v = Lookup(s.volumes, volumeId, "volume");
        CheckRange(offset, length, v.sizeBytes, volumeId);
        out.assign(static_cast<size_t>(length), '\0');
        if (!v.devicePath.empty()) {
            devicefile::Read(v.devicePath, offset, length, &out[0]);
        } else {
            ReadBlocks(*m_store, v.blocks, offset, length, &out[0]);
        }
    });
    return out;
}

std::string Cloud::ReadSnapshot(const std::string& snapshotId, int64_t offset, int64_t length) {
    std::string out;
    Read([&](const State& s) {
        const Snapshot& snap = Lookup(s.snapshots, snapshotId, "snapshot");
        CheckRange(offset, length, snap.sizeBytes, snapshotId);
        out.assign(static_cast<size_t>(length), '\0');
        ReadBlocks(*m_store, snap.blocks, offset, length, &out[0]);
    });
    return out;
}

void Cloud::WriteVolume(const std::string& volumeId, int64_t offset, const std::string& data) {
    const auto length = static_cast<int64_t>(data.size());
    Write([&](State& s) {
        Volume& v = Lookup(s.volumes, volumeId, "volume");
        CheckRange(offset, length, v.sizeBytes, volumeId);
        if (!v.devicePath.empty()) {
            devicefile::Write(v.devicePath, offset, data.data(), length);
        } else {
            WriteBlocks(*m_store, v.blocks, offset, data.data(), length);
        }
    });
}

std::vector<int64_t> Cloud::VolumeBlocks(const std::string& volumeId) {
    std::vector<int64_t> out;
    Read([&](const State& s) {
        const Volume& v = Lookup(s.volumes, volumeId, "volume");
        out = v.devicePath.empty() ? Indexes(v.blocks) : devicefile::AllocatedBlocks(v.devicePath, v.sizeBytes);
    });
    return out;
}

std::vector<int64_t> Cloud::SnapshotBlocks(const std::string& snapshotId) {
    std::vector<int64_t> out;
    Read([&](const State& s) { out = Indexes(Lookup(s.snapshots, snapshotId, "snapshot").blocks); });
    return out;
}

}  // namespace cloudsim
