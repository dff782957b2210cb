// EBS volumes: JSON, settling, request rules and error texts.
#include "cloudsim/Volumes.h"

#include "cloudsim/CloudState.h"

namespace cloudsim {

using namespace schema;

std::string Volume::AttachmentState() const {
    if (attachedInstance.empty()) return "";
    if (pending.Active() && pending.to == "in-use") return "attaching";
    if (pending.Active() && pending.to == "available") return "detaching";
    return "attached";
}

namespace {

const Table<VolumeModification>& ModificationTable() {
    using M = VolumeModification;
    static const Table<M> table{
        {Member("state", &M::state), Member("targetType", &M::targetType), Member("targetIops", &M::targetIops),
         Member("startMs", &M::startMs), Member("optimizingAtMs", &M::optimizingAtMs),
         Member("completedAtMs", &M::completedAtMs), IfSet("fault", &M::fault)},
        [](M& m, const Fields& in) { CheckFaultKind(m.fault, in.Where("fault"), false); }};
    return table;
}

}  // namespace

const Table<Volume>& VolumeTable() {
    using V = Volume;
    static const Table<V> table{
        {Required("id", &V::id), Member("account", &V::account), Member("region", &V::region),
         Member("zone", &V::zone), Member("sizeBytes", &V::sizeBytes), IfSet("usedBytes", &V::usedBytes),
         Member("type", &V::type), Member("iops", &V::iops), Member("encrypted", &V::encrypted),
         Member("kmsKeyId", &V::kmsKeyId), Member("state", &V::state),
         Member("attachedInstance", &V::attachedInstance), Member("attachedDevice", &V::attachedDevice),
         Member("deleteOnTermination", &V::deleteOnTermination), Member("tags", &V::tags),
         Member("createdMs", &V::createdMs), Member("snapshotId", &V::snapshotId), IfSet("lineage", &V::lineage),
         Member("outpostArn", &V::outpostArn), PendingField("pending", &V::pending),
         Nested("modification", &V::modification, ModificationTable(),
                [](const VolumeModification& m) { return !m.state.empty(); }),
         IfSet("productCodes", &V::productCodes), IfSet("devicePath", &V::devicePath),
         BlocksField("blocks", &V::blocks, &V::sizeBytes), SeedDataField("data", &V::seed, &V::sizeBytes)},
        [](V& v, const Fields& in) {
            if (v.sizeBytes < 0) Fail(in.Where("sizeBytes"), "negative size");
        }};
    return table;
}

void CheckVolumes(const State& s) {
    for (const auto& [id, v] : s.volumes) CheckPlacement(s, "volume " + id, v.account, v.region, v.zone);
}

namespace {

// True when the volume is gone.
bool SettleVolume(State& s, Volume& v, int64_t now) {
    if (v.pending.Due(now)) {
        Transition t = v.pending;
        v.pending = {};
        if (t.fault == "error") {
            if (!v.attachedInstance.empty()) DropAttachment(s, v);
            v.state = "error";
        } else if (t.to == "deleted") {
            return true;
        } else if (t.to == "available") {
            // The end of creating or of detaching.
            if (!v.attachedInstance.empty()) DropAttachment(s, v);
            v.state = "available";
        } else {
            v.state = t.to;
        }
    }
    VolumeModification& m = v.modification;
    if (m.state == "modifying" && m.fault != "stuck" && now >= m.optimizingAtMs) {
        if (m.fault == "error") {
            m.state = "failed";
        } else {
            m.state = "optimizing";
            if (!m.targetType.empty()) v.type = m.targetType;
            if (m.targetIops > 0) v.iops = m.targetIops;
        }
    }
    if (m.state == "optimizing" && now >= m.completedAtMs) m.state = "completed";
    return false;
}

}  // namespace

void SettleVolumes(State& s, int64_t now) {
    for (auto it = s.volumes.begin(); it != s.volumes.end();) {
        if (SettleVolume(s, it->second, now)) {
            it = s.volumes.erase(it);
        } else {
            ++it;
        }
    }
}

void StartDelete(State& s, Volume& v, int64_t now, const std::string& fault) {
    v.state = "deleting";
    v.pending = {"deleted", now + s.timing.deleteMs, fault};
}

bool KnownVolumeType(const std::string& type) {
    static const char* const kTypes[] = {"gp2", "gp3", "io1", "io2", "st1", "sc1", "standard"};
    for (const char* t : kTypes)
        if (type == t) return true;
    return false;
}

int64_t RoundUpToGiB(int64_t bytes) {
    const int64_t kGiB = 1024LL * 1024 * 1024;
    return (bytes + kGiB - 1) / kGiB * kGiB;
}

std::string VolumeNotFound(const std::string& id) {
    return "InvalidVolume.NotFound: The volume '" + id + "' does not exist.";
}

std::string InvalidVolumeType(const std::string& type) {
    return "InvalidParameterValue: Value (" + type + ") for parameter volumeType is invalid";
}

}  // namespace cloudsim
