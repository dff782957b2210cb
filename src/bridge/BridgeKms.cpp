// Customer managed keys, their grants, and snapshot copies: what a job needs
// to let another account read an account's encrypted snapshots.
#include "bridge/BridgeImpl.h"
#include "cloudsim/Lineage.h"

using namespace bridgeimpl;
using cloudsim::Snapshot;
using cloudsim::State;

bool SimBackend::CreateEncryptionKey(const std::string& region, const std::string& name, std::string& keyArn) {
    Impl& d = *m_impl;
    return d.Run("CreateEncryptionKey", true, [&](std::string& error) {
        std::string arn;
        const bool ok = d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            return cloudsim::CreateKmsKey(s, d.accountId, where, name, arn, error);
        });
        if (ok) keyArn = arn;
        return ok;
    });
}

bool SimBackend::CreateEncryptionKeyGrant(const std::string& region, const std::string& keyArn,
                                                const std::string& principal) {
    Impl& d = *m_impl;
    return d.Run("CreateEncryptionKeyGrant", true, [&](std::string& error) {
        return d.Change([&](State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            return cloudsim::CreateKmsGrant(s, d.accountId, where, keyArn, principal, error);
        });
    });
}

bool SimBackend::ListEncryptionKeyGrantees(const std::string& region, const std::string& keyArn,
                                                 std::vector<std::string>& principals) {
    Impl& d = *m_impl;
    return d.Run("ListEncryptionKeyGrantees", true, [&](std::string& error) {
        std::vector<std::string> found;
        const bool ok = d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const cloudsim::KmsKey* k = cloudsim::FindKmsKey(s, d.accountId, where, keyArn);
            if (!k || k->account != d.accountId) return Err(error, cloudsim::KmsKeyNotFound(keyArn));
            found = k->grantees;
            return true;
        });
        if (ok) principals = found;
        return ok;
    });
}

bool SimBackend::IsDefaultEncryptKey(const std::string& keyId, const std::string& region) {
    Impl& d = *m_impl;
    bool isDefault = false;
    d.Run("IsDefaultEncryptKey", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            isDefault = cloudsim::IsAwsManagedKey(s, d.accountId, where, keyId) ||
                        keyId == DefaultKmsKey(s, d.accountId, where);
            return true;
        });
    });
    return isDefault;
}

bool SimBackend::IsVolumeDefaultEncrypted(const std::string& volumeId, const std::string& region) {
    Impl& d = *m_impl;
    bool isDefault = false;
    d.Run("IsVolumeDefaultEncrypted", true, [&](std::string& error) {
        return d.Look([&](const State& s) {
            std::string where;
            if (!d.ResolveRegion(s, region, where, error)) return false;
            const cloudsim::Volume* v = FindOwned(s.volumes, volumeId, d.accountId, where);
            if (!v) return Err(error, VolumeNotFound(volumeId));
            isDefault = v->encrypted && (v->kmsKeyId.empty() ||
                                         cloudsim::IsAwsManagedKey(s, d.accountId, where, v->kmsKeyId) ||
                                         v->kmsKeyId == DefaultKmsKey(s, d.accountId, where));
            return true;
        });
    });
    return isDefault;
}

bool SimBackend::CopySnapshot(const std::string& snapshotId, const std::string& sourceRegion,
                                    const std::string& destinationRegion, bool encrypted, const std::string& kmsKeyId,
                                    std::string& newSnapshotId) {
    Impl& d = *m_impl;
    return d.Run("CopySnapshot", true, [&](std::string& error) {
        std::string id;
        const bool ok = d.Change([&](State& s) {
            std::string from, to;
            if (!d.ResolveRegion(s, sourceRegion, from, error) || !d.ResolveRegion(s, destinationRegion, to, error))
                return false;
            const Snapshot* source = FindVisible(s.snapshots, snapshotId, d.accountId, from);
            if (!source) return Err(error, SnapshotNotFound(snapshotId));
            if (source->state != "completed")
                return Err(error, "IncorrectState: Snapshot is in invalid state - " + source->state);
            if (!kmsKeyId.empty() && !encrypted && !source->encrypted)
                return Err(error, "InvalidParameterDependency: The parameter KmsKeyId requires the parameter "
                                  "Encrypted to be set.");
            if (!cloudsim::CheckSnapshotKeyFor(s, *source, d.accountId, error)) return false;
            Snapshot copy;
            copy.encrypted = encrypted || source->encrypted;
            if (copy.encrypted && !kmsKeyId.empty()) {
                if (!cloudsim::CheckKeyUsable(s, d.accountId, to, kmsKeyId, error)) return false;
                const cloudsim::KmsKey* k = cloudsim::FindKmsKey(s, d.accountId, to, kmsKeyId);
                copy.kmsKeyId = k ? k->arn : DefaultKmsKey(s, d.accountId, to);
            } else if (copy.encrypted) {
                // The source's own key where it can be used, else the default one.
                const bool sameKey = source->encrypted && from == to && source->account == d.accountId;
                copy.kmsKeyId = sameKey ? source->kmsKeyId : DefaultKmsKey(s, d.accountId, to);
            }
            copy.id = id = s.NewId("snap");
            copy.account = d.accountId;
            copy.region = to;
            // AWS names no volume for a copy; its data is the source's.
            copy.volumeId = "vol-ffffffff";
            copy.lineage = cloudsim::LineageOf(s, *source);
            copy.sizeBytes = source->sizeBytes;
            copy.volumeType = source->volumeType;
            copy.iops = source->iops;
            copy.description = "[Copied " + snapshotId + " from " + from + "]";
            copy.blocks = source->blocks;
            copy.state = "pending";
            copy.createdMs = d.Now();
            copy.pending = {"completed", copy.createdMs + s.timing.snapshotMs, d.Effect({copy.id, snapshotId})};
            s.snapshots[copy.id] = copy;
            return true;
        });
        if (ok) newSnapshotId = id;
        return ok;
    });
}
