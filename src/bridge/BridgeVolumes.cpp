// Volumes: create (empty or from a snapshot), attach, detach, delete,
// modify, describe and the expiry sweep. Every change starts a transition of
// the simulated cloud that completes after the cloud's timing.
#include "bridge/BridgeImpl.h"

using namespace bridgeimpl;
using cloudsim::State;
using cloudsim::Volume;

bool SimBackend::CreateVolume(VMInfoStructs::SDisk& disk, bool, const std::string& option) {
    Impl& d = *m_impl;
    return d.Run("CreateVolume", true, [&](std::string& error) {
        std::string id;
        bool ok = d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            cloudsim::VolumeRequest request;
            request.account = d.accountId;
            request.region = d.region;
            request.zone = disk.zone;
            request.sizeBytes = disk.size;
            request.type = disk.volumeType;
            request.iops = disk.iops;
            request.encrypted = disk.encrypted;
            request.kmsKeyId = disk.kmsKeyId;
            // The option carries the proxy's Outposts ARN when it has one.
            if (option.compare(0, 17, "arn:aws:outposts:") == 0) request.outpostArn = option;
            const Volume* v = cloudsim::CreateVolume(s, request, d.Now(), d.hit, error);
            if (v) id = v->id;
            return v != nullptr;
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
            if (!d.CheckRegion(s, error)) return false;
            cloudsim::VolumeRequest request;
            request.account = d.accountId;
            request.region = d.region;
            request.zone = zone;
            request.snapshotId = snapshotId;
            request.sizeBytes = size;
            request.type = type;
            request.iops = iops;
            request.encrypted = encrypted;
            request.kmsKeyId = kmsKeyId;
            request.tags = tags;
            request.name = name;
            request.outpostArn = outpostArn;
            const Volume* v = cloudsim::CreateVolume(s, request, d.Now(), d.hit, error);
            if (v) id = v->id;
            return v != nullptr;
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
            return Err(error, d.hit.conflictError.empty() ? cloudsim::VolumeInUse(volumeId) : d.hit.conflictError);
        }
        return d.Change([&](State& s) {
            if (!d.CheckRegion(s, error)) return false;
            return cloudsim::AttachVolume(s, volumeId, instanceId, d.accountId, d.region, device, asRoot, d.Now(),
                                          d.Effect({volumeId, instanceId}), conflict, error);
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
            return cloudsim::DetachVolume(s, *v, force, d.Now(), d.Effect({volumeId, v->attachedInstance}), error);
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
            return cloudsim::DeleteVolume(s, *v, d.Now(), d.Effect({volumeId}), error);
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
            // As on create, IOPS go only with a type that takes them.
            const int32_t passed = type.empty() || TakesIops(type) ? iops : 0;
            return cloudsim::ModifyVolume(s, *v, type, passed, d.Now(), d.Effect({volumeId}), error);
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
            return cloudsim::ModificationState(*v, state, error);
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
            const int64_t cutoffMs = ExpiryCutoffMs(ageSeconds, now);
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
