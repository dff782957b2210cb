// Snapshots and AMIs: create, describe, wait, cancel, tag, delete and the
// expiry rule. An AMI's snapshots are created and completed with it.
#include <algorithm>

#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;
using cloudsim::Image;
using cloudsim::Snapshot;
using cloudsim::State;
using cloudsim::Volume;

bool SimBackend::CreateSnapshot(const std::string& volumeId, const std::string& name,
                                      const std::string& description, std::string& snapshotId, bool) {
    Impl& d = *m_impl;
    return d.Run("CreateSnapshot", true, [&](std::string& error) {
        std::string id;
        bool ok = d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            const Volume* v = FindOwned(s.volumes, volumeId, d.accountId, d.region);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            const Snapshot* snap = cloudsim::CreateSnapshot(s, *v, name, description, d.Now(), d.hit, error);
            if (snap) id = snap->id;
            return snap != nullptr;
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
            return cloudsim::DeleteSnapshot(s, snapshotId, d.accountId, where, error);
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
            cloudsim::ImageRequest request;
            request.account = d.accountId;
            request.region = where;
            request.instanceId = instanceId;
            request.name = name;
            request.amiName = option;
            request.description = description;
            // On the way in, snapshotIds names the volumes to leave out.
            request.excluded = snapshotIds;
            const Image* made = cloudsim::CreateImage(s, request, d.Now(), d.hit, error);
            if (made) image = *made;
            return made != nullptr;
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
            done = cloudsim::ImageTaskOver(*image, succeeded, failure);
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
            return cloudsim::CancelImage(s, *image, error);
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
            cloudsim::DeregisterImage(s, *image);
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
            cloudsim::DeregisterImage(s, *image);
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
