// Snapshots and AMIs: create, describe, wait, cancel, tag, delete and the
// expiry rule. An AMI's snapshots are created and completed with it.
#include <algorithm>

#include "bridge/BridgeImpl.h"
#include "cloudsim/Lineage.h"

using namespace bridgeimpl;
using cloudsim::Image;
using cloudsim::Instance;
using cloudsim::Snapshot;
using cloudsim::State;
using cloudsim::Volume;

namespace {

Snapshot SnapshotOf(const State& s, const Volume& v, const std::string& id, const std::string& description,
                    int64_t now) {
    Snapshot snap;
    snap.id = id;
    snap.account = v.account;
    snap.region = v.region;
    snap.volumeId = v.id;
    snap.lineage = cloudsim::LineageOf(s, v);
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

bool Snapshottable(const Volume& v) {
    return (v.state == "available" || v.state == "in-use") && !(v.pending.Active() && v.pending.to == "deleted");
}

const Image* ImageUsing(const State& s, const std::string& snapshotId) {
    for (const auto& [id, image] : s.images)
        if (image.state != "deregistered" &&
            std::find(image.snapshotIds.begin(), image.snapshotIds.end(), snapshotId) != image.snapshotIds.end())
            return &image;
    return nullptr;
}

// Deregisters the AMI and deletes the snapshots it still has.
void Deregister(State& s, Image& image) {
    image.state = "deregistered";
    image.pending = {};
    for (const auto& snapId : image.snapshotIds) {
        auto it = s.snapshots.find(snapId);
        if (it != s.snapshots.end() && it->second.account == image.account) s.snapshots.erase(it);
    }
}

std::string UniqueImageConflict(const State& s, const std::string& account, const std::string& region,
                                const std::string& name) {
    for (const auto& [id, image] : s.images)
        if (image.account == account && image.region == region && image.name == name && image.state != "deregistered")
            return id;
    return "";
}

}  // namespace

bool SimBackend::CreateSnapshot(const std::string& volumeId, const std::string& name,
                                      const std::string& description, std::string& snapshotId, bool) {
    Impl& d = *m_impl;
    return d.Run("CreateSnapshot", true, [&](std::string& error) {
        std::string id;
        bool ok = d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Volume* v = FindOwned(s.volumes, volumeId, d.accountId, d.region);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            if (!Snapshottable(*v))
                return Err(error, "IncorrectState: The volume '" + volumeId + "' is in the '" + v->state + "' state.");
            int64_t now = d.Now();
            Snapshot snap = SnapshotOf(s, *v, id = s.NewId("snap"), description, now);
            if (!name.empty() && !ApplyTag(snap.tags, "Name", name, true, error)) return false;
            snap.pending = {"completed", now + s.timing.snapshotMs, d.Effect({snap.id, volumeId})};
            s.snapshots[snap.id] = snap;
            return true;
        });
        if (ok) snapshotId = id;
        return ok;
    });
}

bool SimBackend::DeleteSnapshot(const std::string& snapshotId, const std::string& region) {
    Impl& d = *m_impl;
    return d.Run("DeleteSnapshot", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            if (!FindOwned(s.snapshots, snapshotId, d.accountId, where)) return Err(error, SnapshotNotFound(snapshotId));
            if (const Image* image = ImageUsing(s, snapshotId))
                return Err(error, "InvalidSnapshot.InUse: The snapshot " + snapshotId + " is currently in use by " +
                                      image->id);
            s.snapshots.erase(snapshotId);
            return true;
        });
    });
}

bool SimBackend::GetSnapshotInfo(const std::string& snapshotId, const std::string& region,
                                       VMInfoStructs::SChildDisk& snapshot) {
    Impl& d = *m_impl;
    return d.Run("GetSnapshotInfo", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const Snapshot* snap = FindVisible(s.snapshots, snapshotId, d.accountId, where);
            if (!snap) return Err(error, SnapshotNotFound(snapshotId));
            snapshot = ToChildDisk(*snap);
            // This call reports sizes in KiB.
            snapshot.size /= 1024;
            snapshot.usedSize /= 1024;
            return true;
        });
    });
}

bool SimBackend::CreateAMISnapshot(const std::string& instanceId, const std::string& region,
                                         const std::string& name, const std::string& option,
                                         const std::string& description, std::vector<std::string>& snapshotIds,
                                         std::string& amiId) {
    Impl& d = *m_impl;
    return d.Run("CreateAMISnapshot", true, [&](std::string& error) {
        Image image;
        bool ok = d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const Instance* inst = FindOwned(s.instances, instanceId, d.accountId, where);
            if (!inst || inst->state == "terminated") return Err(error, InstanceNotFound(instanceId));
            if (inst->state != "running" && inst->state != "stopped" && inst->state != "stopping")
                return Err(error, "IncorrectInstanceState: The instance '" + instanceId + "' is not in a valid state "
                                      "for this operation.");
            image.id = s.NewId("ami");
            image.name = option.empty() ? (name.empty() ? "image" : name) + "_" + image.id : option;
            std::string taken = UniqueImageConflict(s, d.accountId, where, image.name);
            if (!taken.empty())
                return Err(error, "InvalidAMIName.Duplicate: AMI name " + image.name + " is already in use by AMI " +
                                      taken);
            int64_t now = d.Now();
            image.account = d.accountId;
            image.region = where;
            image.description = description;
            image.platform = inst->platform;
            image.virtualizationType = inst->virtualizationType;
            image.instanceType = inst->instanceType;
            image.sourceInstanceId = instanceId;
            image.rootDeviceName = RootDeviceOf(*inst);
            image.state = "pending";
            image.createdMs = now;
            image.pending = {"available", now + s.timing.amiMs, d.Effect({image.id, instanceId})};
            if (!name.empty() && !ApplyTag(image.tags, "Name", name, true, error)) return false;
            const std::vector<std::string> excluded = snapshotIds;
            for (const auto& volId : inst->volumeIds) {
                const Volume& v = s.volumes.at(volId);
                bool root = image.snapshotIds.empty();
                if (v.AttachmentState() != "attached" && v.AttachmentState() != "detaching") continue;
                if (!root && std::find(excluded.begin(), excluded.end(), volId) != excluded.end()) continue;
                if (root && !v.attachedDevice.empty()) image.rootDeviceName = v.attachedDevice;
                Snapshot snap = SnapshotOf(s, v, s.NewId("snap"),
                                           "Created by CreateImage(" + instanceId + ") for " + image.id, now);
                snap.pending = {"completed", image.pending.readyAtMs, image.pending.fault};
                image.snapshotIds.push_back(snap.id);
                s.snapshots[snap.id] = snap;
            }
            if (image.snapshotIds.empty())
                return Err(error, "InvalidParameterValue: Instance '" + instanceId + "' has no attached volume");
            s.images[image.id] = image;
            return true;
        });
        if (ok) {
            amiId = image.id;
            snapshotIds = image.snapshotIds;
        }
        return ok;
    });
}

bool SimBackend::IsAMITaskCompleted(const std::string& amiId, bool& succeeded) {
    Impl& d = *m_impl;
    succeeded = false;
    bool done = false;
    std::string failure;
    bool ok = d.Run("IsAMITaskCompleted", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Image* image = FindOwned(s.images, amiId, d.accountId, d.region);
            if (!image) return Err(error, ImageNotFound(amiId));
            done = image->state != "pending";
            succeeded = image->state == "available";
            if (done && !succeeded) failure = "InternalError: AMI " + amiId + " is " + image->state;
            return true;
        });
    });
    // A poll that fails ends the wait: done, without success.
    if (!ok) return true;
    if (!failure.empty()) d.Fail("IsAMITaskCompleted", failure);
    return done;
}

bool SimBackend::CancelAMITask(const std::string& amiId) {
    Impl& d = *m_impl;
    return d.Run("CancelAMITask", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            Image* image = FindOwned(s.images, amiId, d.accountId, d.region);
            if (!image) return Err(error, ImageNotFound(amiId));
            if (image->state != "pending")
                return Err(error, "IncorrectState: AMI '" + amiId + "' is in the '" + image->state +
                                      "' state and cannot be cancelled");
            image->state = "cancelled";
            image->pending = {};
            for (const auto& snapId : image->snapshotIds) {
                auto it = s.snapshots.find(snapId);
                if (it == s.snapshots.end() || it->second.state != "pending") continue;
                it->second.state = "error";
                it->second.pending = {};
            }
            return true;
        });
    });
}

bool SimBackend::TagEBSSnapshotsForAMI(const std::string& amiId, const std::string& key,
                                             const std::string& value) {
    Impl& d = *m_impl;
    return d.Run("TagEBSSnapshotsForAMI", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Image* image = FindOwned(s.images, amiId, d.accountId, d.region);
            if (!image || image->state == "deregistered") return Err(error, ImageNotFound(amiId));
            for (const auto& snapId : image->snapshotIds) {
                Snapshot* snap = FindOwned(s.snapshots, snapId, d.accountId, d.region);
                if (snap && !ApplyTag(snap->tags, key, value, true, error)) return false;
            }
            return true;
        });
    });
}

bool SimBackend::DeleteAMISnapshot(const std::string& amiId, bool) {
    Impl& d = *m_impl;
    return d.Run("DeleteAMISnapshot", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            // AWS no longer knows a deregistered AMI: a second deregistration
            // is refused as for an id that never existed.
            Image* image = FindOwned(s.images, amiId, d.accountId, d.region);
            if (!image || image->state == "deregistered") return Err(error, ImageNotFound(amiId));
            Deregister(s, *image);
            return true;
        });
    });
}

bool SimBackend::DeleteExpiredAMISnapshot(const std::string& amiId, bool, long long hours) {
    Impl& d = *m_impl;
    return d.Run("DeleteExpiredAMISnapshot", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            Image* image = FindOwned(s.images, amiId, d.accountId, d.region);
            if (!image || image->state == "deregistered") return Err(error, ImageNotFound(amiId));
            if (d.Now() - image->createdMs < hours * 3600 * 1000)
                return Err(error, "AMIExpiry: AMI " + amiId + " has not expired");
            Deregister(s, *image);
            return true;
        });
    });
}

bool SimBackend::GetAMIListForTags(const std::map<std::string, std::string>& tags,
                                         std::vector<std::string>& amiIds) {
    Impl& d = *m_impl;
    return d.Run("GetAMIListForTags", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            if (!d.CheckRegion(s, error)) return false;
            std::vector<const Image*> found;
            for (const auto& [id, image] : s.images) {
                if (image.account != d.accountId || image.region != d.region || image.state == "deregistered") continue;
                bool all = true;
                for (const auto& [key, value] : tags) {
                    auto it = image.tags.find(key);
                    all &= it != image.tags.end() && it->second == value;
                }
                if (all) found.push_back(&image);
            }
            std::stable_sort(found.begin(), found.end(),
                             [](const Image* a, const Image* b) { return a->createdMs < b->createdMs; });
            amiIds.clear();
            for (const Image* image : found) amiIds.push_back(image->id);
            return true;
        });
    });
}
