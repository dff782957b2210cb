// Customer managed keys, their grants, and snapshot copies: what a job needs
// to let another account read an account's encrypted snapshots.
#include "bridge/BridgeImpl.h"

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
            return cloudsim::ListKmsGrantees(s, d.accountId, where, keyArn, found, error);
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
            isDefault = cloudsim::IsDefaultEbsKey(s, d.accountId, where, keyId);
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
            isDefault = v->encrypted &&
                        (v->kmsKeyId.empty() || cloudsim::IsDefaultEbsKey(s, d.accountId, where, v->kmsKeyId));
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
            const Snapshot* copy = cloudsim::CopySnapshot(s, snapshotId, d.accountId, from, to, encrypted, kmsKeyId,
                                                          d.Now(), d.hit, error);
            if (copy) id = copy->id;
            return copy != nullptr;
        });
        if (ok) newSnapshotId = id;
        return ok;
    });
}
