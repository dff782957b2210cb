// Volumes of an instance compared block for block with the snapshots of the
// snap job they were made from.
#include "cloudsim/tools/VerifyRevert.h"

#include <cstdio>
#include <map>
#include <set>
#include <vector>

#include "cloudsim/Cloud.h"
#include "framework/KDPI.h"
#include "framework/SnapStore.h"

namespace {
// The value of key in the manager's "key:value;" text; empty when absent.
std::string ValueOf(const std::string& text, const std::string& key) {
    const size_t at = text.find(key + ":");
    if (at == std::string::npos) return std::string();
    const size_t from = at + key.size() + 1;
    const size_t end = text.find(';', from);
    return text.substr(from, end == std::string::npos ? std::string::npos : end - from);
}
}  // namespace

int VerifyRevert(const std::string& base, const std::string& instance, int64_t snapJob) {
    KDPI_Base::setBaseDir(base);
    SMVolSnapInfo record;
    if (!CSnapStore::LoadJobRecord(snapJob, record)) {
        std::fprintf(stderr, "error: the snapshot manager holds no snap job %lld\n", static_cast<long long>(snapJob));
        return 2;
    }
    std::map<std::string, std::string> sourceOf;   // snapshot -> the volume it was taken of
    for (const auto& entry : record.metadata)
        if (entry.type == kSMMetaSnapshotPairs)
            sourceOf[ValueOf(entry.metadata, "snapUUID")] = ValueOf(entry.metadata, "sourceInstance");
    auto cloud = cloudsim::Cloud::OpenFolder(base + "/cloudsim", "");
    std::vector<cloudsim::Volume> attached;
    cloud->Read([&](const cloudsim::State& s) {
        for (const auto& [id, v] : s.volumes)
            if (v.attachedInstance == instance && v.state != "deleting") attached.push_back(v);
    });
    std::printf("verify-revert %s against snap job %lld\n", instance.c_str(), static_cast<long long>(snapJob));
    int reverted = 0, failures = 0;
    for (const auto& v : attached) {
        auto from = sourceOf.find(v.snapshotId);
        if (v.snapshotId.empty() || from == sourceOf.end()) {
            std::printf("  %s at %s: not made from the snap job\n", v.id.c_str(), v.attachedDevice.c_str());
            continue;
        }
        ++reverted;
        std::set<int64_t> blocks;
        for (int64_t b : cloud->VolumeBlocks(v.id)) blocks.insert(b);
        for (int64_t b : cloud->SnapshotBlocks(v.snapshotId)) blocks.insert(b);
        size_t differ = 0;
        const int64_t bs = cloudsim::kBlockSize;
        for (int64_t b : blocks)
            if (cloud->ReadVolume(v.id, b * bs, bs) != cloud->ReadSnapshot(v.snapshotId, b * bs, bs)) ++differ;
        failures += differ ? 1 : 0;
        std::printf("  %s at %s: %zu blocks with data, %s %s of %s\n", v.id.c_str(), v.attachedDevice.c_str(),
                    blocks.size(), differ ? (std::to_string(differ) + " differ from").c_str() : "equal to",
                    v.snapshotId.c_str(), from->second.c_str());
    }
    const bool ok = reverted > 0 && failures == 0;
    std::printf("%s\n", ok ? "verify-revert passed" : "verify-revert FAILED");
    return ok ? 0 : 1;
}
