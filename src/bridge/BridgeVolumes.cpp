// Volumes: create (empty or from a snapshot), attach, detach, delete,
// modify, describe and the expiry sweep. Every change starts a transition of
// the simulated cloud that completes after the cloud's timing.
#include <algorithm>

#include "bridge/BridgeImpl.h"
#include "cloudsim/Lineage.h"

using namespace bridgeimpl;
using cloudsim::Instance;
using cloudsim::Snapshot;
using cloudsim::State;
using cloudsim::Volume;

namespace {

const int64_t kGiB = 1024LL * 1024 * 1024;
using cloudsim::RoundUpToGiB;
const int64_t kEpochCutoffSec = 1000000000LL;   // 2001: larger "ages" are times since the epoch

bool CheckVolumeType(const std::string& type, std::string& error) {
    if (cloudsim::KnownVolumeType(type)) return true;
    return Err(error, cloudsim::InvalidVolumeType(type));
}

bool CheckZone(const State& s, const std::string& region, const std::string& zone, std::string& error) {
    return cloudsim::CheckRequestZone(s, region, zone, error);
}

// The key an encrypted volume is created with: the one named (which the
// account must be able to use; stored as its ARN), else the default key.
bool EncryptionKey(const State& s, const std::string& account, const std::string& region, const std::string& named,
                   std::string& arn, std::string& error) {
    if (named.empty()) {
        arn = DefaultKmsKey(s, account, region);
        return true;
    }
    if (!cloudsim::CheckKeyUsable(s, account, region, named, error)) return false;
    const cloudsim::KmsKey* k = cloudsim::FindKmsKey(s, account, region, named);
    arn = k ? k->arn : DefaultKmsKey(s, account, region);
    return true;
}

}  // namespace

bool SimBackend::CreateVolume(VMInfoStructs::SDisk& disk, bool, const std::string& option) {
    Impl& d = *m_impl;
    return d.Run("CreateVolume", true, [&](std::string& error) {
        std::string id;
        bool ok = d.Change([&](State& s) {
            if (!d.CheckRegion(s, error) || !CheckZone(s, d.region, disk.zone, error)) return false;
            if (disk.size <= 0)
                return Err(error, "MissingParameter: The request must contain the parameter size or snapshotId");
            Volume v;
            v.type = disk.volumeType.empty() ? "gp2" : disk.volumeType;
            v.sizeBytes = RoundUpToGiB(disk.size);
            if (!cloudsim::CheckVolumeRequest(v.type, v.sizeBytes, disk.iops, v.iops, error)) return false;
            v.encrypted = disk.encrypted;
            if (v.encrypted && !EncryptionKey(s, d.accountId, d.region, disk.kmsKeyId, v.kmsKeyId, error))
                return false;
            // The option carries the proxy's Outposts ARN when it has one.
            if (option.compare(0, 17, "arn:aws:outposts:") == 0) v.outpostArn = option;
            v.id = id = s.NewId("vol");
            v.account = d.accountId;
            v.region = d.region;
            v.zone = disk.zone;
            v.state = "creating";
            v.createdMs = d.Now();
            v.pending = {"available", v.createdMs + s.timing.volumeCreateMs, d.Effect({v.id})};
            s.volumes[v.id] = v;
            return true;
        });
        if (ok) disk.newVolumeId = id;
        return ok;
    });
}

bool SimBackend::CreateVolume(const std::string& snapshotId, const std::string& zone, const std::string& name,
                                    const std::string& type, int iops, long long size, bool encrypted,
                                    const std::string& kmsKeyId, std::string& volumeId,
                                    const std::map<std::string, std::string>& tags, bool,
                                    const std::string& outpostArn) {
    Impl& d = *m_impl;
    return d.Run("CreateVolume", true, [&](std::string& error) {
        std::string id;
        bool ok = d.Change([&](State& s) {
            if (!d.CheckRegion(s, error) || !CheckZone(s, d.region, zone, error)) return false;
            const Snapshot* snap = FindVisible(s.snapshots, snapshotId, d.accountId, d.region);
            if (!snap) return Err(error, SnapshotNotFound(snapshotId));
            if (!cloudsim::CheckSnapshotKeyFor(s, *snap, d.accountId, error)) return false;
            if (snap->state != "completed")
                return Err(error, "IncorrectState: Snapshot is in invalid state - " + snap->state);
            Volume v;
            v.sizeBytes = size == 0 ? snap->sizeBytes : RoundUpToGiB(size);
            if (size < 0 || v.sizeBytes < snap->sizeBytes)
                return Err(error, "InvalidParameterValue: Volume of " + std::to_string(v.sizeBytes / kGiB) +
                                      "GiB is smaller than snapshot '" + snapshotId + "', expect size >= " +
                                      std::to_string(RoundUpToGiB(snap->sizeBytes) / kGiB) + "GiB");
            v.type = type.empty() ? snap->volumeType : type;
            if (!cloudsim::CheckVolumeRequest(v.type, v.sizeBytes, iops > 0 ? iops : (type.empty() ? snap->iops : 0),
                                              v.iops, error))
                return false;
            // A key given re-encrypts; else the snapshot's key, else (an
            // unencrypted snapshot asked to be encrypted) the default key.
            v.encrypted = encrypted || snap->encrypted;
            if (v.encrypted && !kmsKeyId.empty()) {
                if (!EncryptionKey(s, d.accountId, d.region, kmsKeyId, v.kmsKeyId, error)) return false;
            } else if (v.encrypted) {
                v.kmsKeyId = !snap->kmsKeyId.empty() ? snap->kmsKeyId : DefaultKmsKey(s, d.accountId, d.region);
            }
            v.productCodes = snap->productCodes;
            for (const auto& [key, value] : tags)
                if (!ApplyTag(v.tags, key, value, true, error)) return false;
            if (!name.empty() && !ApplyTag(v.tags, "Name", name, true, error)) return false;
            v.id = id = s.NewId("vol");
            v.account = d.accountId;
            v.region = d.region;
            v.zone = zone;
            v.usedBytes = std::min(snap->sizeBytes, v.sizeBytes);
            v.snapshotId = snap->id;
            v.lineage = cloudsim::LineageOf(s, *snap);
            v.blocks = snap->blocks;
            v.outpostArn = outpostArn;
            v.state = "creating";
            v.createdMs = d.Now();
            v.pending = {"available", v.createdMs + s.timing.volumeCreateMs, d.Effect({v.id, snapshotId})};
            s.volumes[v.id] = v;
            return true;
        });
        if (ok) volumeId = id;
        return ok;
    });
}

namespace {

template <class Impl>  // SimBackend::Impl, private to the backend
bool Attach(Impl& d, const char* op, const std::string& volumeId, const std::string& instanceId,
            const std::string& device, bool asRoot, bool& conflict) {
    conflict = false;
    return d.Run(op, true, [&](std::string& error) {
        if (d.hit.conflict) {
            conflict = true;
            return Err(error, d.hit.conflictError.empty()
                                  ? "VolumeInUse: " + volumeId + " is already attached to an instance"
                                  : d.hit.conflictError);
        }
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            Volume* v = FindOwned(s.volumes, volumeId, d.accountId, d.region);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            Instance* inst = FindOwned(s.instances, instanceId, d.accountId, d.region);
            if (!inst || inst->state == "terminated") return Err(error, InstanceNotFound(instanceId));
            if (inst->state == "shutting-down")
                return Err(error, "IncorrectInstanceState: The instance '" + instanceId +
                                      "' is not in a valid state for this operation.");
            if (!v->attachedInstance.empty()) {
                conflict = true;
                return Err(error, "VolumeInUse: " + volumeId + " is already attached to an instance");
            }
            if (v->state != "available") return Err(error, "IncorrectState: " + volumeId + " is not 'available'.");
            if (v->zone != inst->zone)
                return Err(error, "InvalidVolume.ZoneMismatch: The volume '" + volumeId +
                                      "' is not in the same availability zone as instance '" + instanceId + "'");
            if (!cloudsim::CheckOutpostAttach(*v, *inst, error)) return false;
            // The root volume goes at the instance's root device, whatever
            // device the caller names; AWS replaces a root volume only on a
            // stopped instance whose root device is free.
            if (asRoot && !cloudsim::CheckRootAttach(s, *inst, error)) return false;
            std::string dev = asRoot ? RootDeviceOf(*inst) : !device.empty() ? device : NextFreeDevice(s, *inst);
            if (dev.empty())
                return Err(error, "AttachmentLimitExceeded: Instance '" + instanceId + "' has no free device name");
            if (VolumeAtDevice(s, *inst, dev)) {
                conflict = true;
                return Err(error, "InvalidParameterValue: Attachment point " + dev + " is already in use");
            }
            v->attachedInstance = instanceId;
            v->attachedDevice = dev;
            v->deleteOnTermination = false;
            v->state = "in-use";   // attachment "attaching" until pending completes
            v->pending = {"in-use", d.Now() + s.timing.attachMs, d.Effect({volumeId, instanceId})};
            auto& ids = inst->volumeIds;
            if (asRoot || dev == RootDeviceOf(*inst)) {
                ids.insert(ids.begin(), volumeId);
            } else {
                ids.push_back(volumeId);
            }
            return true;
        });
    });
}

}  // namespace

bool SimBackend::AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string&,
                                    bool, const std::string& device, bool& conflict, bool) {
    return Attach(*m_impl, "AttachVolume", volumeId, instanceId, device, false, conflict);
}

bool SimBackend::AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId,
                                        const std::string&, bool, const std::string& device, bool& conflict, bool) {
    return Attach(*m_impl, "AttachAsOSVolume", volumeId, instanceId, device, true, conflict);
}

bool SimBackend::DetachVolume(const std::string& volumeId, bool force, bool) {
    Impl& d = *m_impl;
    return d.Run("DetachVolume", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            Volume* v = FindOwned(s.volumes, volumeId, d.accountId, d.region);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            if (v->attachedInstance.empty())
                return Err(error, "IncorrectState: Volume '" + volumeId + "' is in the '" + v->state + "' state.");
            // A forced detach is how AWS frees a volume stuck detaching: it
            // starts over, whatever held up the earlier one.
            if (v->AttachmentState() == "detaching" && !force) return true;
            StartDetach(s, *v, d.Now(), d.Effect({volumeId, v->attachedInstance}));
            return true;
        });
    });
}

bool SimBackend::DeleteVolume(const std::string& volumeId, bool) {
    Impl& d = *m_impl;
    return d.Run("DeleteVolume", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            Volume* v = FindOwned(s.volumes, volumeId, d.accountId, d.region);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            if (!v->attachedInstance.empty())
                return Err(error, "VolumeInUse: Volume " + volumeId + " is currently attached to " + v->attachedInstance);
            if (v->state == "deleting") return true;
            if (v->state == "creating")
                return Err(error, "IncorrectState: The volume '" + volumeId + "' is in the 'creating' state.");
            StartDelete(s, *v, d.Now(), d.Effect({volumeId}));
            return true;
        });
    });
}

bool SimBackend::ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& type,
                                    int iops) {
    Impl& d = *m_impl;
    return d.Run("ModifyVolume", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            Volume* v = FindOwned(s.volumes, volumeId, d.accountId, where);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            if (v->state != "available" && v->state != "in-use")
                return Err(error, "IncorrectState: Volume '" + volumeId + "' is in the '" + v->state + "' state.");
            const std::string& current = v->modification.state;
            if (current == "modifying" || current == "optimizing")
                return Err(error, "IncorrectModificationState: Volume '" + volumeId +
                                      "' is already being modified (" + current + ")");
            if (type.empty() && iops <= 0)
                return Err(error, "InvalidParameterCombination: At least one of type or iops must be given");
            if (!type.empty() && !CheckVolumeType(type, error)) return false;
            int64_t now = d.Now();
            cloudsim::VolumeModification& m = v->modification;
            m = {};
            m.state = "modifying";
            m.targetType = type;
            m.targetIops = iops > 0 ? iops : 0;
            m.startMs = now;
            m.optimizingAtMs = now + s.timing.modifyMs;
            m.completedAtMs = m.optimizingAtMs + s.timing.optimizeMs;
            m.fault = d.Effect({volumeId});
            return true;
        });
    });
}

bool SimBackend::GetVolumeInfo(const std::string& volumeId, const std::string& region,
                                     VMInfoStructs::SDisk& disk, bool& notFound) {
    Impl& d = *m_impl;
    notFound = false;
    return d.Run("GetVolumeInfo", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error) || !cloudsim::WellFormedVolumeId(volumeId, error))
                return false;
            const Volume* v = FindOwned(s.volumes, volumeId, d.accountId, where);
            if (!v) {
                notFound = true;
                return true;
            }
            disk = ToDisk(*v, IsRootVolume(s, *v));
            return true;
        });
    });
}

bool SimBackend::GetVolumeModifyTaskInfo(const std::string& volumeId, const std::string& region,
                                               std::string& state) {
    Impl& d = *m_impl;
    return d.Run("GetVolumeModifyTaskInfo", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const Volume* v = FindOwned(s.volumes, volumeId, d.accountId, where);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            if (v->modification.state.empty())
                return Err(error, "InvalidVolumeModification.NotFound: Modification for volume '" + volumeId +
                                      "' does not exist.");
            state = v->modification.state;
            return true;
        });
    });
}

bool SimBackend::DeleteExpiredVolumes(const std::string& region, long long ageSeconds) {
    Impl& d = *m_impl;
    return d.Run("DeleteExpiredVolumes", true, [&](std::string& error) {
        int deleted = 0;
        bool ok = d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            int64_t now = d.Now();
            int64_t cutoffMs = ageSeconds >= kEpochCutoffSec ? ageSeconds * 1000 : now - ageSeconds * 1000;
            for (auto& [id, v] : s.volumes) {
                if (v.account != d.accountId || v.region != where || v.state != "available" ||
                    !v.attachedInstance.empty() || v.pending.Active() || !v.tags.count("_QX_BACKUP_") ||
                    v.createdMs >= cutoffMs)
                    continue;
                StartDelete(s, v, now, d.Effect({id}));
                ++deleted;
            }
            return true;
        });
        if (ok) EvDebug::DebugLvl(kTag, 2, "deleting %d expired volumes", deleted);
        return ok;
    });
}
