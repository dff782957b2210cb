// EBS volumes: JSON, settling, request rules and error texts.
#include "cloudsim/Volumes.h"

#include <algorithm>
#include <cstdio>

#include "cloudsim/CloudState.h"
#include "cloudsim/Lineage.h"
#include "cloudsim/Ownership.h"
#include "cloudsim/Tags.h"

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

namespace {

struct VolumeLimits {
    const char* type;
    int64_t minGiB, maxGiB;
    int32_t minIops, maxIops, iopsPerGiB;   // 0: IOPS cannot be given
};

const VolumeLimits kLimits[] = {
    {"gp2", 1, 16384, 0, 0, 0},          {"gp3", 1, 16384, 3000, 16000, 500}, {"io1", 4, 16384, 100, 64000, 50},
    {"io2", 4, 65536, 100, 256000, 1000}, {"st1", 125, 16384, 0, 0, 0},      {"sc1", 125, 16384, 0, 0, 0},
    {"standard", 1, 1024, 0, 0, 0},
};

// io1, io2 and gp3 take provisioned IOPS; the others have a baseline only.
bool TakesIops(const std::string& type) {
    for (const auto& x : kLimits)
        if (type == x.type) return x.iopsPerGiB != 0;
    return false;
}

}  // namespace

bool CheckVolumeRequest(const std::string& type, int64_t sizeBytes, int32_t iops, int32_t& out, std::string& error) {
    const int64_t kGiB = 1024LL * 1024 * 1024;
    const VolumeLimits* l = nullptr;
    for (const auto& x : kLimits)
        if (type == x.type) l = &x;
    if (!l) {
        error = InvalidVolumeType(type);
        return false;
    }
    const int64_t gib = sizeBytes / kGiB;
    if (gib < l->minGiB) {
        error = "InvalidParameterValue: Volume of " + std::to_string(gib) + "GiB is too small; minimum is " +
                std::to_string(l->minGiB) + "GiB.";
        return false;
    }
    if (gib > l->maxGiB) {
        error = "InvalidParameterValue: Volume of " + std::to_string(gib) + "GiB is too large; maximum is " +
                std::to_string(l->maxGiB) + "GiB.";
        return false;
    }
    if (l->iopsPerGiB == 0) {
        // Baseline performance; the request's IOPS do not apply (none is recorded).
        out = 0;
        return true;
    }
    if (iops <= 0) {
        if (type != "gp3") {
            error = "InvalidParameterCombination: The parameter iops must be specified for " + type + " volumes.";
            return false;
        }
        out = 3000;
        return true;
    }
    if (iops < l->minIops) {
        error = "InvalidParameterValue: Volume iops of " + std::to_string(iops) + " is too low; minimum is " +
                std::to_string(l->minIops) + ".";
        return false;
    }
    if (iops > l->maxIops) {
        error = "InvalidParameterValue: Volume iops of " + std::to_string(iops) + " is too high; maximum is " +
                std::to_string(l->maxIops) + ".";
        return false;
    }
    // gp3 gives every volume its 3,000 IOPS baseline whatever its size; the
    // ratio bounds only what is provisioned above it.
    const int64_t ratioCap = static_cast<int64_t>(l->iopsPerGiB) * gib;
    const int64_t cap = type == "gp3" ? std::max<int64_t>(ratioCap, l->minIops) : ratioCap;
    if (iops > cap) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "InvalidParameterValue: Iops to volume size ratio of %f is too high; maximum is %f", 
                      static_cast<double>(iops) / static_cast<double>(gib), static_cast<double>(l->iopsPerGiB));
        error = text;
        return false;
    }
    out = iops;
    return true;
}

namespace {

const int64_t kGiB = 1024LL * 1024 * 1024;

// The key an encrypted volume is created with: the one named (which the
// account must be able to use; stored as its ARN), else the default key.
bool EncryptionKey(const State& s, const std::string& account, const std::string& region, const std::string& named,
                   std::string& arn, std::string& error) {
    if (named.empty()) {
        arn = DefaultKmsKey(s, account, region);
        return true;
    }
    if (!CheckKeyUsable(s, account, region, named, error)) return false;
    const KmsKey* k = FindKmsKey(s, account, region, named);
    arn = k ? k->arn : DefaultKmsKey(s, account, region);
    return true;
}

bool SetTags(Volume& v, const VolumeRequest& request, std::string& error) {
    for (const auto& [key, value] : request.tags) {
        if (!CheckTag(key, value, error)) return false;
        v.tags[key] = value;
    }
    if (request.name.empty()) return true;
    if (!CheckTag("Name", request.name, error)) return false;
    v.tags["Name"] = request.name;
    return true;
}

Volume* CreateEmptyVolume(State& s, const VolumeRequest& request, int64_t now, const FaultHit& hit,
                          std::string& error) {
    if (request.sizeBytes <= 0) {
        error = MissingParameter("the parameter size or snapshotId");
        return nullptr;
    }
    Volume v;
    v.type = request.type.empty() ? "gp2" : request.type;
    v.sizeBytes = RoundUpToGiB(request.sizeBytes);
    if (!CheckVolumeRequest(v.type, v.sizeBytes, request.iops, v.iops, error)) return nullptr;
    v.encrypted = request.encrypted;
    if (v.encrypted && !EncryptionKey(s, request.account, request.region, request.kmsKeyId, v.kmsKeyId, error))
        return nullptr;
    v.outpostArn = request.outpostArn;
    v.id = s.NewId("vol");
    v.account = request.account;
    v.region = request.region;
    v.zone = request.zone;
    v.state = "creating";
    v.createdMs = now;
    v.pending = {"available", now + s.timing.volumeCreateMs, hit.EffectFor({v.id})};
    return &(s.volumes[v.id] = v);
}

Volume* CreateVolumeFromSnapshot(State& s, const VolumeRequest& request, int64_t now, const FaultHit& hit,
                                 std::string& error) {
    const std::string& account = request.account;
    const Snapshot* snap = FindVisible(s.snapshots, request.snapshotId, account, request.region);
    if (!snap) {
        error = SnapshotNotFound(request.snapshotId);
        return nullptr;
    }
    if (!CheckSnapshotKeyFor(s, *snap, account, error)) return nullptr;
    if (snap->state != "completed") {
        error = "IncorrectState: Snapshot is in invalid state - " + snap->state;
        return nullptr;
    }
    Volume v;
    v.sizeBytes = request.sizeBytes == 0 ? snap->sizeBytes : RoundUpToGiB(request.sizeBytes);
    if (request.sizeBytes < 0 || v.sizeBytes < snap->sizeBytes) {
        error = "InvalidParameterValue: Volume of " + std::to_string(v.sizeBytes / kGiB) +
                "GiB is smaller than snapshot '" + request.snapshotId + "', expect size >= " +
                std::to_string(RoundUpToGiB(snap->sizeBytes) / kGiB) + "GiB";
        return nullptr;
    }
    v.type = request.type.empty() ? snap->volumeType : request.type;
    const int32_t iops = request.iops > 0 ? request.iops : (request.type.empty() ? snap->iops : 0);
    if (!CheckVolumeRequest(v.type, v.sizeBytes, iops, v.iops, error)) return nullptr;
    // A key given re-encrypts; else the snapshot's key, else (an
    // unencrypted snapshot asked to be encrypted) the default key.
    v.encrypted = request.encrypted || snap->encrypted;
    if (v.encrypted && !request.kmsKeyId.empty()) {
        if (!EncryptionKey(s, account, request.region, request.kmsKeyId, v.kmsKeyId, error)) return nullptr;
    } else if (v.encrypted) {
        v.kmsKeyId = !snap->kmsKeyId.empty() ? snap->kmsKeyId : DefaultKmsKey(s, account, request.region);
    }
    v.productCodes = snap->productCodes;
    if (!SetTags(v, request, error)) return nullptr;
    v.id = s.NewId("vol");
    v.account = account;
    v.region = request.region;
    v.zone = request.zone;
    v.usedBytes = std::min(snap->sizeBytes, v.sizeBytes);
    v.snapshotId = snap->id;
    v.lineage = LineageOf(s, *snap);
    v.blocks = snap->blocks;
    v.outpostArn = request.outpostArn;
    v.state = "creating";
    v.createdMs = now;
    v.pending = {"available", now + s.timing.volumeCreateMs, hit.EffectFor({v.id, request.snapshotId})};
    return &(s.volumes[v.id] = v);
}

}  // namespace

Volume* CreateVolume(State& s, const VolumeRequest& request, int64_t now, const FaultHit& hit, std::string& error) {
    if (!CheckRequestZone(s, request.region, request.zone, error)) return nullptr;
    return request.snapshotId.empty() ? CreateEmptyVolume(s, request, now, hit, error)
                                      : CreateVolumeFromSnapshot(s, request, now, hit, error);
}

bool DeleteVolume(State& s, Volume& v, int64_t now, const std::string& effect, std::string& error) {
    if (!v.attachedInstance.empty()) {
        error = "VolumeInUse: Volume " + v.id + " is currently attached to " + v.attachedInstance;
        return false;
    }
    if (v.state == "deleting") return true;
    if (v.state == "creating") {
        error = "IncorrectState: The volume '" + v.id + "' is in the 'creating' state.";
        return false;
    }
    StartDelete(s, v, now, effect);
    return true;
}

bool ModifyVolume(State& s, Volume& v, const std::string& type, int32_t iops, int64_t now,
                  const std::string& effect, std::string& error) {
    if (v.state != "available" && v.state != "in-use") {
        error = "IncorrectState: Volume '" + v.id + "' is in the '" + v.state + "' state.";
        return false;
    }
    const std::string& current = v.modification.state;
    if (current == "modifying" || current == "optimizing") {
        error = "IncorrectModificationState: Volume '" + v.id + "' is already being modified (" + current + ")";
        return false;
    }
    if (type.empty() && iops <= 0) {
        error = "InvalidParameterCombination: At least one of type or iops must be given";
        return false;
    }
    if (!type.empty() && !KnownVolumeType(type)) {
        error = InvalidVolumeType(type);
        return false;
    }
    // EC2 holds the result to a new volume's bounds of its type. Without
    // IOPS, a volume kept at its type keeps its own, and one changed to a
    // type that takes IOPS gets 3,000.
    const std::string target = type.empty() ? v.type : type;
    if (iops > 0 && !TakesIops(target)) {
        error = "InvalidParameterCombination: The parameter iops is not supported for " + target + " volumes.";
        return false;
    }
    const int32_t resultingIops = iops > 0 ? iops : target == v.type ? v.iops : TakesIops(target) ? 3000 : 0;
    int32_t checked = 0;
    if (!CheckVolumeRequest(target, v.sizeBytes, resultingIops, checked, error)) return false;
    VolumeModification& m = v.modification;
    m = {};
    m.state = "modifying";
    m.targetType = type;
    m.targetIops = TakesIops(target) ? checked : 0;
    m.startMs = now;
    m.optimizingAtMs = now + s.timing.modifyMs;
    m.completedAtMs = m.optimizingAtMs + s.timing.optimizeMs;
    m.fault = effect;
    return true;
}

bool ModificationState(const Volume& v, std::string& state, std::string& error) {
    if (v.modification.state.empty()) {
        error = "InvalidVolumeModification.NotFound: Modification for volume '" + v.id + "' does not exist.";
        return false;
    }
    state = v.modification.state;
    return true;
}

bool WellFormedVolumeId(const std::string& id, std::string& error) {
    if (id.rfind("vol-", 0) == 0 && id.size() > 4) return true;
    error = "InvalidVolumeID.Malformed: Invalid id: \"" + id + "\" (expecting \"vol-...\")";
    return false;
}

std::string VolumeNotFound(const std::string& id) {
    // EC2 parses the id before it looks for the volume: text that cannot be
    // a volume id (an empty one included) is malformed, not missing.
    std::string malformed;
    if (!WellFormedVolumeId(id, malformed)) return malformed;
    return "InvalidVolume.NotFound: The volume '" + id + "' does not exist.";
}

std::string InvalidVolumeType(const std::string& type) {
    return "InvalidParameterValue: Value (" + type + ") for parameter volumeType is invalid";
}

}  // namespace cloudsim
