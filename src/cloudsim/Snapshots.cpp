// EBS snapshots: JSON, settling and error texts.
#include "cloudsim/Snapshots.h"

#include <algorithm>

#include "cloudsim/CloudState.h"
#include "cloudsim/Lineage.h"
#include "cloudsim/Ownership.h"
#include "cloudsim/Tags.h"

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
         IfSet("sharedWith", &S::sharedWith), IfSet("productCodes", &S::productCodes),
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

bool SharedWith(const Snapshot& snap, const std::string& account) {
    return std::find(snap.sharedWith.begin(), snap.sharedWith.end(), account) != snap.sharedWith.end();
}

namespace {

bool IsAccountId(const std::string& id) {
    return id.size() == 12 && std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string InvalidUserId(const std::string& id) {
    return "InvalidParameterValue: Value (" + id + ") for parameter userId is invalid. Parameter may not be null";
}

}  // namespace

bool ShareSnapshot(const State& s, Snapshot& snap, const std::string& account, std::string& error) {
    if (!IsAccountId(account)) {
        error = InvalidUserId(account);
        return false;
    }
    if (snap.encrypted && IsAwsManagedKey(s, snap.account, snap.region, snap.kmsKeyId)) {
        error = "InvalidParameter: Snapshots encrypted with the AWS Managed CMK can't be shared. Specify another "
                "snapshot.";
        return false;
    }
    if (account != snap.account && !SharedWith(snap, account)) snap.sharedWith.push_back(account);
    return true;
}

bool UnshareSnapshot(Snapshot& snap, const std::string& account, std::string& error) {
    if (!IsAccountId(account)) {
        error = InvalidUserId(account);
        return false;
    }
    snap.sharedWith.erase(std::remove(snap.sharedWith.begin(), snap.sharedWith.end(), account), snap.sharedWith.end());
    return true;
}

bool CheckSnapshotKeyFor(const State& s, const Snapshot& snap, const std::string& account, std::string& error) {
    if (!snap.encrypted || snap.account == account) return true;
    const KmsKey* k = FindKmsKey(s, account, snap.region, snap.kmsKeyId);
    if (!k) {
        error = "InvalidParameterValue: The snapshot '" + snap.id + "' is encrypted with KMS key " + snap.kmsKeyId +
                " that account " + account + " is not permitted to use";
        return false;
    }
    if (k->state != "Enabled") {
        error = "KMSKeyNotAccessibleFault: The KMS key " + k->arn + " is not usable: it is in state " + k->state;
        return false;
    }
    return true;
}

Snapshot SnapshotOf(const State& s, const Volume& v, const std::string& id, const std::string& description,
                    int64_t now) {
    Snapshot snap;
    snap.id = id;
    snap.account = v.account;
    snap.region = v.region;
    snap.volumeId = v.id;
    snap.lineage = LineageOf(s, v);
    snap.sizeBytes = v.sizeBytes;
    snap.volumeType = v.type;
    snap.iops = v.iops;
    snap.encrypted = v.encrypted;
    snap.kmsKeyId = v.kmsKeyId;
    snap.productCodes = v.productCodes;
    snap.state = "pending";
    snap.description = description;
    snap.createdMs = now;
    snap.blocks = v.blocks;
    return snap;
}

Snapshot* CreateSnapshot(State& s, const Volume& v, const std::string& name, const std::string& description,
                         int64_t now, const FaultHit& hit, std::string& error) {
    const bool deleting = v.pending.Active() && v.pending.to == "deleted";
    if ((v.state != "available" && v.state != "in-use") || deleting) {
        error = "IncorrectState: The volume '" + v.id + "' is in the '" + v.state + "' state.";
        return nullptr;
    }
    Snapshot snap = SnapshotOf(s, v, s.NewId("snap"), description, now);
    if (!name.empty()) {
        if (!CheckTag("Name", name, error)) return nullptr;
        snap.tags["Name"] = name;
    }
    snap.pending = {"completed", now + s.timing.snapshotMs, hit.EffectFor({snap.id, v.id})};
    return &(s.snapshots[snap.id] = snap);
}

bool DeleteSnapshot(State& s, const std::string& id, const std::string& account, const std::string& region,
                    std::string& error) {
    if (!FindOwned(s.snapshots, id, account, region)) {
        error = SnapshotNotFound(id);
        return false;
    }
    for (const auto& [imageId, image] : s.images) {
        if (image.state == "deregistered" ||
            std::find(image.snapshotIds.begin(), image.snapshotIds.end(), id) == image.snapshotIds.end())
            continue;
        error = "InvalidSnapshot.InUse: The snapshot " + id + " is currently in use by " + imageId;
        return false;
    }
    s.snapshots.erase(id);
    return true;
}

Snapshot* CopySnapshot(State& s, const std::string& snapshotId, const std::string& account, const std::string& from,
                       const std::string& to, bool encrypted, const std::string& kmsKeyId, int64_t now,
                       const FaultHit& hit, std::string& error) {
    const Snapshot* source = FindVisible(s.snapshots, snapshotId, account, from);
    if (!source) {
        error = SnapshotNotFound(snapshotId);
        return nullptr;
    }
    if (source->state != "completed") {
        error = "IncorrectState: Snapshot is in invalid state - " + source->state;
        return nullptr;
    }
    if (!kmsKeyId.empty() && !encrypted && !source->encrypted) {
        error = "InvalidParameterDependency: The parameter KmsKeyId requires the parameter Encrypted to be set.";
        return nullptr;
    }
    if (!CheckSnapshotKeyFor(s, *source, account, error)) return nullptr;
    Snapshot copy;
    copy.encrypted = encrypted || source->encrypted;
    if (copy.encrypted && !kmsKeyId.empty()) {
        if (!CheckKeyUsable(s, account, to, kmsKeyId, error)) return nullptr;
        const KmsKey* k = FindKmsKey(s, account, to, kmsKeyId);
        copy.kmsKeyId = k ? k->arn : DefaultKmsKey(s, account, to);
    } else if (copy.encrypted) {
        const bool sameKey = source->encrypted && from == to && source->account == account;
        copy.kmsKeyId = sameKey ? source->kmsKeyId : DefaultKmsKey(s, account, to);
    }
    copy.id = s.NewId("snap");
    copy.account = account;
    copy.region = to;
    // AWS names no volume for a copy; its data is the source's.
    copy.volumeId = "vol-ffffffff";
    copy.lineage = LineageOf(s, *source);
    copy.sizeBytes = source->sizeBytes;
    copy.volumeType = source->volumeType;
    copy.iops = source->iops;
    copy.description = "[Copied " + snapshotId + " from " + from + "]";
    copy.blocks = source->blocks;
    copy.state = "pending";
    copy.createdMs = now;
    copy.pending = {"completed", now + s.timing.snapshotMs, hit.EffectFor({copy.id, snapshotId})};
    return &(s.snapshots[copy.id] = copy);
}

const Snapshot* BlockReadableSnapshot(const State& s, const std::string& id, const std::string& account,
                                      const std::string& region, const char* action, std::string& error) {
    const Snapshot* snap = FindVisible(s.snapshots, id, account, region);
    if (!snap) {
        error = SnapshotNotFound(id);
        return nullptr;
    }
    if (snap->account != account) {
        error = std::string("AccessDeniedException: User is not authorized to perform: ebs:") + action +
                " on resource: arn:aws:ec2:" + region + "::snapshot/" + id;
        return nullptr;
    }
    if (snap->state != "completed") {
        error = "IncorrectState: Snapshot " + id + " is not completed";
        return nullptr;
    }
    return snap;
}

bool CheckBlockRange(const Snapshot& snap, int64_t offset, int64_t length, std::string& error) {
    if (offset >= 0 && length >= 0 && offset <= snap.sizeBytes && length <= snap.sizeBytes - offset) return true;
    error = "ValidationException: The range of " + std::to_string(length) + " bytes at " + std::to_string(offset) +
            " lies beyond the end of snapshot " + snap.id;
    return false;
}

bool CheckComparable(const State& s, const Snapshot& previous, const Snapshot& current, std::string& error) {
    if (Related(s, previous, current)) return true;
    error = "ValidationException: The snapshots " + previous.id + " and " + current.id +
            " are not of the same volume lineage";
    return false;
}

std::string SnapshotNotFound(const std::string& id) {
    return "InvalidSnapshot.NotFound: The snapshot '" + id + "' does not exist.";
}

}  // namespace cloudsim
