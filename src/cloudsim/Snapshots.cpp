// EBS snapshots: JSON, settling and error texts.
#include "cloudsim/Snapshots.h"

#include "cloudsim/CloudState.h"

namespace cloudsim {

using namespace schema;

const Table<Snapshot>& SnapshotTable() {
    using S = Snapshot;
    static const Table<S> table{
        {Required("id", &S::id), Member("account", &S::account), Member("region", &S::region),
         Member("volumeId", &S::volumeId), IfSet("lineage", &S::lineage), Member("sizeBytes", &S::sizeBytes),
         Member("volumeType", &S::volumeType), Member("iops", &S::iops), Member("encrypted", &S::encrypted),
         Member("kmsKeyId", &S::kmsKeyId), Member("state", &S::state), Member("description", &S::description),
         Member("tags", &S::tags), Member("createdMs", &S::createdMs), Member("isPublic", &S::isPublic),
         PendingField("pending", &S::pending), BlocksField("blocks", &S::blocks, &S::sizeBytes),
         SeedDataField("data", &S::seed, &S::sizeBytes)},
        [](S& x, const Fields& in) {
            if (x.sizeBytes < 0) Fail(in.Where("sizeBytes"), "negative size");
        }};
    return table;
}

void CheckSnapshots(const State& s) {
    for (const auto& [id, snap] : s.snapshots) {
        if (!snap.isPublic) CheckAccountKnown(s, "snapshot " + id, snap.account);
        CheckRegionKnown(s, "snapshot " + id, snap.region);
    }
}

void SettleSnapshots(State& s, int64_t now) {
    for (auto& [id, snap] : s.snapshots) {
        if (!snap.pending.Due(now)) continue;
        snap.state = snap.pending.fault == "error" ? "error" : snap.pending.to;
        snap.pending = {};
        // A volume deleted meanwhile leaves the snapshot the data it started with.
        auto volume = s.volumes.find(snap.volumeId);
        if (snap.state == "completed" && volume != s.volumes.end()) snap.blocks = volume->second.blocks;
    }
}

std::string SnapshotNotFound(const std::string& id) {
    return "InvalidSnapshot.NotFound: The snapshot '" + id + "' does not exist.";
}

}  // namespace cloudsim
