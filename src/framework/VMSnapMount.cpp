// The snapshot manager's mounts: volumes made from a job's snapshots,
// attached to the proxy, and taken away again.
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/ProcessIdentity.h"
#include "framework/ProtectedString.h"
#include "framework/SnapEngine.h"
#include "framework/SnapPairText.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"

namespace {
const char kTag[] = "CVMSnapUtil::mountVolumes";

// The newest transient metadata of the snapshot: a mount adds its own
// after the backup's.
std::string MountParameters(const SMVolSnapInfo& record, uint32_t snapId) {
    std::string text;
    for (const auto& m : record.metadata)
        if (m.type == kSMMetaTransient && m.referenceId == snapId) text = m.metadata;
    return text;
}

// Polls until done(state, attachState) holds; the last state, or the
// reason the wait ended otherwise.
template <class Done>
bool AwaitVolume(ISnapEngine& engine, const SnapArrayAccount& account, const std::string& region,
                 const std::string& volumeId, Done done, std::string& why) {
    const int64_t deadline = FwClock::NowMs() + CVMSnapUtil::kVolumeTimeoutMs;
    for (;;) {
        std::string state, attachState;
        if (!engine.GetVolumeState(account, region, volumeId, state, attachState, why)) return false;
        if (done(state, attachState)) return true;
        if (state == "error") {
            why = "volume " + volumeId + " is in state error";
            return false;
        }
        if (FwClock::NowMs() >= deadline) {
            why = "volume " + volumeId + " stayed " + state + (attachState.empty() ? "" : "/" + attachState);
            return false;
        }
        FwClock::SleepMs(CVMSnapUtil::kVolumePollMs);
    }
}

// The cloud's refusals the manager's callers act on have codes of their own.
int MountErrorCode(const std::string& why) {
    if (why.find("InvalidSnapshot.NotFound") != std::string::npos) return kSMSnapshotMissing;
    if (why.find("VolumeLimitExceeded") != std::string::npos) return kSMVolumeLimit;
    return kSMMountFailed;
}

int UnmountErrorCode(const std::string& why) {
    if (why.find("InvalidVolume.NotFound") != std::string::npos) return kSMVolumeMissing;
    if (why.find("IncorrectState") != std::string::npos) return kSMNotMounted;
    return kSMUnmountFailed;
}

// The account a mount acts in: the one the entry's credentials name (a
// volume made in the admin account from a shared snapshot), else the array's.
bool MountAccount(const std::string& meta, const SnapArrayAccount& array, SnapArrayAccount& account) {
    account = array;
    const std::string accessKey = FwSnapPairs::Value(meta, "targetAccessKey");
    if (accessKey.empty()) return true;
    std::string secret;
    if (!FwProtected::Open(FwSnapPairs::Value(meta, "targetSecretKey"), secret)) return false;
    account.accessKey = accessKey;
    account.secretKey = secret;
    return true;
}

bool Fail(SMSnapInfo& snap, int code, const std::string& why) {
    snap.status = snap.errorCode = code;
    snap.errorText = why;
    return false;
}

// The snapshot the manager made for the entry, from its own pairs.
std::string SnapshotPath(const SMVolSnapInfo& record, const SMSnapInfo& snap) {
    for (const auto& m : record.metadata)
        if (m.type == kSMMetaSnapshotPairs && m.referenceId == snap.snapId) {
            const std::string id = FwSnapPairs::Value(m.metadata, "snapUUID");
            const std::string region = FwSnapPairs::Value(m.metadata, "sourceRegion");
            if (!id.empty() && !region.empty()) return "/" + region + "/" + id;
        }
    return snap.snapDevice;
}

// Until the record that names it reaches the caller, a volume is known only
// to this process: the store keeps it meanwhile, so that a process killed
// mid-mount does not leave it to nobody.
bool Journal(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
             std::string& why) {
    SnapMountVolume entry{volumeId, region, account.url, account.accessKey, "", FwProcess::SelfRun()};
    if (FwProtected::Seal(account.secretKey, entry.sealedSecret) && CSnapStore::RecordMountVolume(entry)) return true;
    why = "volume " + volumeId + " cannot be recorded in the snapshot manager's store";
    return false;
}

// One snapshot's volume; its path goes into the record as soon as it exists.
bool MountOne(ISnapEngine& engine, const SnapArrayAccount& array, SMVolSnapInfo& record, SMSnapInfo& snap,
              const std::string& attachInstanceId, std::vector<std::string>& journaled) {
    std::string region, snapshotId, volumeId, why;
    if (!FwSnapPairs::SplitPath(SnapshotPath(record, snap), region, snapshotId) || snapshotId.rfind("snap-", 0) != 0)
        return Fail(snap, kSMMountRefused, "[" + snap.snapDevice + "] names no snapshot");
    const std::string meta = MountParameters(record, snap.snapId);
    SnapArrayAccount account;
    if (!MountAccount(meta, array, account))
        return Fail(snap, kSMMountRefused, "the credentials for the volume of " + snapshotId + " do not open");
    const std::string zone = FwSnapPairs::Value(meta, "targetAvailibilityZone");
    if (zone.empty()) return Fail(snap, kSMMountRefused, "no zone for the volume of " + snapshotId);
    int iops = 0;
    try {
        const std::string text = FwSnapPairs::Value(meta, "iops");
        iops = text.empty() ? 0 : std::stoi(text);
    } catch (const std::exception&) {
        return Fail(snap, kSMMountRefused, "the IOPS of the volume of " + snapshotId + " do not parse");
    }
    // The key travels with "$" for its ":".
    std::string key = FwSnapPairs::Value(meta, "targetEncryptionKey");
    for (char& c : key)
        if (c == '$') c = ':';
    const bool encrypt = FwSnapPairs::Value(meta, "encrypt") == "1" || !key.empty();
    if (!engine.CreateVolume(account, region, snapshotId, zone, FwSnapPairs::Value(meta, "nameTag"),
                             FwSnapPairs::Value(meta, "volumeType"), iops, encrypt, key, volumeId, why))
        return Fail(snap, MountErrorCode(why), why);
    snap.snapDevice = "/" + region + "/" + volumeId;
    if (!Journal(account, region, volumeId, why)) return Fail(snap, kSMMountFailed, why);
    journaled.push_back(volumeId);
    auto available = [](const std::string& s, const std::string&) { return s == "available"; };
    if (!AwaitVolume(engine, account, region, volumeId, available, why)) return Fail(snap, MountErrorCode(why), why);
    if (!attachInstanceId.empty()) {
        auto attached = [](const std::string& s, const std::string& a) { return s == "in-use" && a == "attached"; };
        if (!engine.AttachVolume(account, region, volumeId, attachInstanceId, why) ||
            !AwaitVolume(engine, account, region, volumeId, attached, why))
            return Fail(snap, MountErrorCode(why), why);
    }
    snap.status = snap.errorCode = 0;
    snap.errorText.clear();
    return true;
}

// Detaches (when attached) and deletes the volume, and waits until it is
// gone. A volume already being deleted (its reader closed it) only needs to
// be gone.
bool RemoveVolume(ISnapEngine& engine, const SnapArrayAccount& account, const std::string& region,
                  const std::string& volumeId, std::string& why) {
    std::string state, attachState;
    auto detached = [](const std::string& s, const std::string&) { return s == "available" || s == "gone"; };
    auto gone = [](const std::string& s, const std::string&) { return s == "gone"; };
    // A volume still being made can be neither detached nor deleted yet.
    auto made = [](const std::string& s, const std::string&) { return s != "creating"; };
    if (!engine.GetVolumeState(account, region, volumeId, state, attachState, why)) return false;
    if (state == "creating" && (!AwaitVolume(engine, account, region, volumeId, made, why) ||
                                !engine.GetVolumeState(account, region, volumeId, state, attachState, why)))
        return false;
    return (state == "gone" || state == "available" || state == "deleting" ||
            (engine.DetachVolume(account, region, volumeId, why) &&
             AwaitVolume(engine, account, region, volumeId, detached, why))) &&
           (state == "gone" || state == "deleting" || engine.DeleteVolume(account, region, volumeId, why)) &&
           AwaitVolume(engine, account, region, volumeId, gone, why);
}

SMVolumeInfo* VolumeOf(SMVolSnapInfo& record, uint32_t snapId) {
    for (const auto& map : record.volSnapMaps)
        if (map.snapId == snapId)
            for (auto& v : record.volumes)
                if (v.volumeId == map.volumeId) return &v;
    return nullptr;
}
}  // namespace

int CVMSnapUtil::mountVolumes(SMVolSnapInfo& record, const std::string& attachInstanceId) {
    std::shared_ptr<ISnapEngine> engine = FwSnapEngine::Get();
    SnapArrayAccount account;
    if (!engine || !FwSnapEngine::LookupArray(record.arrayNumber, account)) {
        record.errorCode = kSMMountRefused;
        record.errorText = "no account is registered for snap control host " + std::to_string(record.arrayNumber);
        return 0;
    }
    // What an earlier process left half-mounted goes first, as the
    // manager's own start does; what fails of it waits for the next time.
    std::vector<std::string> released;
    std::string why;
    if (!ReleaseAbandonedMounts(released, why)) EvDebug::Error(kTag, "abandoned mounts: %s", why.c_str());
    int failed = 0;
    const SMSnapInfo* first = nullptr;
    std::vector<std::string> journaled;
    for (auto& v : record.volumes) v.mountStatus = 0;
    for (auto& snap : record.snaps) {
        const bool ok = MountOne(*engine, account, record, snap, attachInstanceId, journaled);
        SMVolumeInfo* volume = VolumeOf(record, snap.snapId);
        if (volume && volume->mountStatus == 0) {
            volume->mountStatus = snap.status;
            volume->mountDevice = snap.snapDevice;
        }
        if (ok) continue;
        if (!failed++) first = &snap;
        EvDebug::Error(kTag, "snapshot [%u] [%s]: %s", snap.snapId, snap.snapDevice.c_str(), snap.errorText.c_str());
    }
    // The record names every volume made: from here on they are the caller's.
    for (const auto& id : journaled)
        if (!CSnapStore::ForgetMountVolume(id)) EvDebug::Error(kTag, "volume [%s] stays in the store", id.c_str());
    // The first failure's code and words tell the caller why.
    record.errorCode = failed ? first->errorCode : 0;
    record.errorText = failed ? std::to_string(failed) + " volume(s) failed to mount: " + first->errorText : std::string();
    return failed ? 0 : 1;
}

int CVMSnapUtil::unmountVolumes(SMVolSnapInfo& record, bool keep) {
    std::shared_ptr<ISnapEngine> engine = FwSnapEngine::Get();
    SnapArrayAccount account;
    if (!keep && (!engine || !FwSnapEngine::LookupArray(record.arrayNumber, account))) {
        record.errorCode = kSMMountRefused;
        record.errorText = "no account is registered for snap control host " + std::to_string(record.arrayNumber);
        return 0;
    }
    int failed = 0;
    int code = 0;
    std::string firstWhy;
    for (auto& snap : record.snaps) {
        std::string region, volumeId, why;
        if (!FwSnapPairs::SplitPath(snap.snapDevice, region, volumeId) || volumeId.rfind("vol-", 0) != 0) continue;
        if (!keep) {
            SnapArrayAccount owner;
            if (!MountAccount(MountParameters(record, snap.snapId), account, owner)) owner = account;
            if (!RemoveVolume(*engine, owner, region, volumeId, why)) {
                // Kept in the record: a later unmount tries again. A
                // volume already gone or no longer attached has its own
                // code, unless another one failed outright.
                const int entryCode = UnmountErrorCode(why);
                code = (!failed++ || code == entryCode) ? entryCode : kSMUnmountFailed;
                if (firstWhy.empty()) firstWhy = why;
                EvDebug::Error("CVMSnapUtil::unmountVolumes", "volume [%s]: %s", volumeId.c_str(), why.c_str());
                continue;
            }
        }
        // The entry names its snapshot again, ready for the next mount.
        snap.snapDevice = SnapshotPath(record, snap);
    }
    for (auto& v : record.volumes) {
        v.mountDevice.clear();
        v.mountPath.clear();
        v.mountHostId = 0;
    }
    record.errorCode = failed ? code : 0;
    record.errorText = failed ? std::to_string(failed) + " volume(s) could not be removed: " + firstWhy : std::string();
    return failed ? 0 : 1;
}

bool CVMSnapUtil::ReleaseAbandonedMounts(std::vector<std::string>& removed, std::string& error) {
    const char tag[] = "CVMSnapUtil::ReleaseAbandonedMounts";
    std::shared_ptr<ISnapEngine> engine = FwSnapEngine::Get();
    std::vector<SnapMountVolume> volumes;
    if (!engine || !CSnapStore::ListMountVolumes(volumes)) {
        error = engine ? "cannot read the snapshot manager's store" : "no snapshot engine is installed";
        return false;
    }
    bool ok = true;
    for (const auto& v : volumes) {
        if (FwProcess::IsRunning(v.run)) continue;
        SnapArrayAccount account{v.url, v.accessKey, ""};
        std::string why;
        if (!FwProtected::Open(v.sealedSecret, account.secretKey))
            why = "the credentials for volume " + v.volumeId + " do not open";
        else if (RemoveVolume(*engine, account, v.region, v.volumeId, why) ||
                 why.find("InvalidVolume.NotFound") != std::string::npos)
            why.clear();
        if (!why.empty() || !CSnapStore::ForgetMountVolume(v.volumeId)) {
            if (why.empty()) why = "volume " + v.volumeId + " stays in the snapshot manager's store";
            EvDebug::Error(tag, "volume [%s] of a mount that never finished: %s", v.volumeId.c_str(), why.c_str());
            error = why;
            ok = false;
            continue;
        }
        EvDebug::Debug(tag, "volume [%s] of a mount that never finished is removed", v.volumeId.c_str());
        removed.push_back(v.volumeId);
    }
    return ok;
}
