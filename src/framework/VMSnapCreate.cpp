// The snapshot manager's snapshot requests: each volume of a job record
// snapshotted through the engine, awaited, and reported in the record.
#include <algorithm>
#include <map>

#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/SnapEngine.h"
#include "framework/SnapPairText.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"

namespace {
const char kTag[] = "CVMSnapUtil::CreateHWSnapshot";
constexpr uint64_t kAllowPartial = 0x400000000ULL;

const SMMetaDataInfo* TransientOf(const SMVolSnapInfo& record, uint32_t snapId) {
    for (const auto& m : record.metadata)
        if (m.type == kSMMetaTransient && m.referenceId == snapId) return &m;
    return nullptr;
}

// "completed", or the reason it is not.
std::string AwaitSnapshot(ISnapEngine& engine, const SnapArrayAccount& account, const std::string& region,
                          const std::string& snapshotId) {
    const int64_t deadline = FwClock::NowMs() + CVMSnapUtil::kSnapshotTimeoutMs;
    for (;;) {
        std::string state, error;
        if (!engine.GetSnapshotState(account, region, snapshotId, state, error)) {
            // A throttled or failed look is tried again at the next poll;
            // only a snapshot that is gone has ended.
            if (error.find("NotFound") != std::string::npos) return error;
            state = "unknown: " + error;
        }
        if (state == "completed" || state == "error") return state;
        if (FwClock::NowMs() >= deadline) return "not completed in time (" + state + ")";
        FwClock::SleepMs(CVMSnapUtil::kSnapshotPollMs);
    }
}

void ReportCreated(SMVolSnapInfo& record, uint32_t snapId, const std::string& snapshotId, const std::string& region,
                   const std::string& volumeId) {
    SMMetaDataInfo entry;
    entry.type = kSMMetaSnapshotPairs;
    entry.referenceType = 2;
    entry.referenceId = snapId;
    entry.metadata = "snapUUID:" + snapshotId + ";sourceRegion:" + region + ";targetRegion:" + region +
                     ";sourceInstance:" + volumeId + ";";
    record.AddMetadata(entry);
}

// What the plug-in's transient metadata asks of one snapshot.
struct SnapRequest {
    std::string name;
    std::string description;
    // The key ARN the snapshot must end encrypted under (the plug-in writes
    // its ":" as "$"); empty: the snapshot stays as the cloud made it.
    std::string targetKey;
};

SnapRequest RequestOf(const std::string& metadata) {
    SnapRequest r;
    r.name = FwSnapPairs::Value(metadata, "nameTag");
    r.description = FwSnapPairs::Value(metadata, "description");
    r.targetKey = FwSnapPairs::Value(metadata, "targetEncryptionKey");
    std::replace(r.targetKey.begin(), r.targetKey.end(), '$', ':');
    return r;
}

int SnapFailed(SMSnapInfo& snap, const std::string& why) {
    snap.errorCode = kSMVolumeSnapFailed;
    snap.errorText = why;
    return kSMVolumeSnapFailed;
}

// The completed snapshot original re-made as a copy under the target key,
// which then takes its place: the copy is listed the moment it has an id,
// and the original's entry goes only once the original itself is gone, so
// that at every point each snapshot that exists is listed, and afterwards
// the entry names the snapshot a backup copy or revert will use. A failure
// leaves both listed, for the caller's clean-up.
int ReplaceWithCopy(ISnapEngine& engine, const SnapArrayAccount& account, SMVolSnapInfo& record,
                    const std::string& region, const std::string& volumeId, const SnapRequest& request,
                    const std::string& original, SMSnapInfo& snap) {
    std::string copyId, error;
    if (!engine.CopySnapshot(account, region, original, request.targetKey, copyId, error) || copyId.empty())
        return SnapFailed(snap, "copy of snapshot " + original + " under the target key: " + error);
    ReportCreated(record, snap.snapId, copyId, region, volumeId);
    if (!CSnapStore::SaveJobRecord(record))
        EvDebug::Error(kTag, "snapshot copy [%s] could not be recorded yet", copyId.c_str());
    // The name only helps a reader of the console: a copy without it is
    // still the volume's snapshot.
    if (!request.name.empty() && !engine.NameSnapshot(account, region, copyId, request.name, error))
        EvDebug::Error(kTag, "snapshot copy [%s] was not named: %s", copyId.c_str(), error.c_str());
    const std::string state = AwaitSnapshot(engine, account, region, copyId);
    if (state != "completed") return SnapFailed(snap, "snapshot copy " + copyId + ": " + state);
    if (!engine.DeleteSnapshot(account, region, original, error) &&
        error.find("InvalidSnapshot.NotFound") == std::string::npos)
        return SnapFailed(snap, "snapshot " + original + " was copied but could not be deleted: " + error);
    auto& entries = record.metadata;
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [&](const SMMetaDataInfo& m) {
                                     return m.type == kSMMetaSnapshotPairs && m.referenceId == snap.snapId &&
                                            FwSnapPairs::Value(m.metadata, "snapUUID") == original;
                                 }),
                  entries.end());
    snap.snapDevice = "/" + region + "/" + copyId;
    if (!CSnapStore::SaveJobRecord(record))
        EvDebug::Error(kTag, "snapshot [%s] in place of [%s] could not be recorded yet", copyId.c_str(),
                       original.c_str());
    return kSMVolumeSnapped;
}

// Snapshots one volume for the snapshot entry snap; the volume's mount
// status it would earn (kSMVolumeSnapped when it ended completed, under
// the target key when one is asked for).
int SnapVolume(ISnapEngine& engine, const SnapArrayAccount& account, SMVolSnapInfo& record, const std::string& region,
               const std::string& volumeId, const SnapRequest& request, SMSnapInfo& snap) {
    const std::string& name = request.name;
    const std::string& description = request.description;
    std::string snapshotId, error;
    if (!engine.CreateSnapshot(account, region, volumeId, name, description, snapshotId, error)) {
        snap.errorCode = kSMVolumeRefused;
        snap.errorText = error;
        return kSMVolumeRefused;
    }
    // Listed before the wait: a snapshot that then fails still exists and
    // must be found by whoever cleans up after the job.
    ReportCreated(record, snap.snapId, snapshotId, region, volumeId);
    snap.snapDevice = "/" + region + "/" + snapshotId;
    // Stored at once, so a job that dies during the wait leaves the
    // snapshot recorded with its job rather than unknown to everyone.
    if (!CSnapStore::SaveJobRecord(record))
        EvDebug::Error(kTag, "snapshot [%s] could not be recorded yet", snapshotId.c_str());
    const std::string state = AwaitSnapshot(engine, account, region, snapshotId);
    if (state != "completed") return SnapFailed(snap, "snapshot " + snapshotId + ": " + state);
    if (!request.targetKey.empty()) {
        const int status = ReplaceWithCopy(engine, account, record, region, volumeId, request, snapshotId, snap);
        if (status != kSMVolumeSnapped) return status;
    }
    snap.status = 0;
    return kSMVolumeSnapped;
}

bool Refuse(SMVolumeInfo& volume, SMSnapInfo& snap, const std::string& why) {
    volume.mountStatus = kSMVolumeRefused;
    snap.errorCode = kSMVolumeRefused;
    snap.errorText = why;
    return false;
}

// Snapshots one volume; false when it did not end completed.
bool SnapOne(ISnapEngine& engine, const SnapArrayAccount& account, SMVolSnapInfo& record, SMVolumeInfo& volume,
             SMSnapInfo& snap) {
    std::string region, volumeId;
    if (!FwSnapPairs::SplitPath(volume.sourcePath, region, volumeId))
        return Refuse(volume, snap, "source path [" + volume.sourcePath + "] is not /<region>/<volume id>");
    const SMMetaDataInfo* meta = TransientOf(record, snap.snapId);
    const SnapRequest request = meta ? RequestOf(meta->metadata) : SnapRequest();
    volume.mountStatus = SnapVolume(engine, account, record, region, volumeId, request, snap);
    return volume.mountStatus == kSMVolumeSnapped;
}

// The instance-level volume (at index) of a VM-centric request: every
// unfiltered disk of the context's instance, each named from the transient
// metadata the plug-in attached to it, gets a snapshot entry of its own.
// False when any failed; the volume's status is then the worst of its
// disks'.
bool SnapInstance(ISnapEngine& engine, const SnapArrayAccount& account, SMVolSnapInfo& record, size_t index,
                  const MountCtx& ctx, const std::map<std::string, std::vector<VMInfoStructs::SDiskMetadataInfo>>& disks,
                  std::string& error) {
    std::string region, instanceId;
    const std::string path = record.volumes[index].sourcePath;
    if (!FwSnapPairs::SplitPath(path, region, instanceId) || instanceId != ctx.vm.guid) {
        record.volumes[index].mountStatus = kSMVolumeRefused;
        error = "source path [" + path + "] does not name the job's instance";
        return false;
    }
    int worst = kSMVolumeSnapped;
    size_t taken = 0;
    for (const auto& disk : ctx.vm.disks) {
        if (disk.filtered) continue;
        SnapRequest request;
        auto meta = disks.find(disk.volumeId);
        if (meta != disks.end())
            for (const auto& entry : meta->second)
                if (entry.name == "AmazonTransientMetadata") request = RequestOf(entry.value);
        SMSnapInfo snap;
        snap.sourceDevice = "/" + region + "/" + disk.volumeId;
        snap.snapFlags = 0x100000000ULL;
        snap.controlHostId = record.arrayNumber;
        const uint32_t snapId = record.AddSnap(snap);
        record.AddVolSnapMap(record.volumes[index].volumeId, snapId);
        ++taken;
        const int status =
            SnapVolume(engine, account, record, region, disk.volumeId, request, record.snaps.back());
        if (status == kSMVolumeSnapped) continue;
        error = "volume [" + disk.volumeId + "]: " + record.snaps[snapId - 1].errorText;
        if (worst != kSMVolumeSnapFailed) worst = status;
    }
    if (taken == 0) {
        worst = kSMVolumeRefused;
        error = "instance [" + instanceId + "] has no unfiltered volume";
    }
    record.volumes[index].mountStatus = worst;
    return worst == kSMVolumeSnapped;
}
}  // namespace

int CVMSnapUtil::CreateHWSnapshot(MountCtx& ctx, SMVolSnapInfo& record) {
    if (record.jobId == 0) record.jobId = ctx.snapJobId;
    std::shared_ptr<ISnapEngine> engine = FwSnapEngine::Get();
    SnapArrayAccount account;
    if (!engine || !FwSnapEngine::LookupArray(record.arrayNumber, account)) {
        record.errorCode = 1;
        record.errorText = engine ? "no account is registered for snap control host " + std::to_string(record.arrayNumber)
                                  : "no snapshot engine is installed";
        EvDebug::Error(kTag, "%s", record.errorText.c_str());
        return 0;
    }
    int failed = 0;
    // The instance-level volumes first: they add snapshot entries of their
    // own, so the pairs below are taken from the lists as they then stand.
    for (size_t i = 0; i < record.volumes.size(); ++i) {
        if ((record.volumes[i].volumeFlags & kInstanceLevelVolume) != kInstanceLevelVolume) continue;
        std::string error;
        if (!SnapInstance(*engine, account, record, i, ctx, m_diskMetadata, error)) {
            ++failed;
            EvDebug::Error(kTag, "instance volume [%s]: %s", record.volumes[i].sourcePath.c_str(), error.c_str());
        }
    }
    std::map<uint32_t, SMVolumeInfo*> volumes;
    for (auto& v : record.volumes)
        if ((v.volumeFlags & kInstanceLevelVolume) != kInstanceLevelVolume) volumes[v.volumeId] = &v;
    for (const auto& map : record.volSnapMaps) {
        SMSnapInfo* snap = nullptr;
        for (auto& s : record.snaps)
            if (s.snapId == map.snapId) snap = &s;
        auto volume = volumes.find(map.volumeId);
        if (!snap || volume == volumes.end()) continue;
        if (!SnapOne(*engine, account, record, *volume->second, *snap)) {
            ++failed;
            EvDebug::Error(kTag, "volume [%s]: %s", volume->second->sourcePath.c_str(), snap->errorText.c_str());
        }
    }
    const bool ok = failed == 0 || (record.actionFlags & kAllowPartial) != 0;
    record.errorCode = ok ? 0 : kSMVolumeSnapFailed;
    record.errorText = ok ? std::string() : std::to_string(failed) + " volume(s) failed to snap";
    if (!CSnapStore::SaveJobRecord(record)) return 0;
    return ok ? 1 : 0;
}

int CVMSnapUtil::GetVOLSNAPInfo(const MountCtx& ctx, SMVolSnapInfo& record, int mode) {
    if (mode != 0 && mode != 1) return 0;
    SMVolSnapInfo loaded;
    if (!CSnapStore::LoadJobRecord(ctx.snapJobId, loaded)) return 0;
    loaded.loadMode = mode;
    if (mode == 1) {
        for (auto& v : loaded.volumes) {
            v.mountDevice.clear();
            v.mountPath.clear();
            v.mountHostId = 0;
        }
    }
    record = std::move(loaded);
    return 1;
}

void CVMSnapUtil::DumpVolSnapInfo(const SMVolSnapInfo& record) const {
    const char tag[] = "CVMSnapUtil::DumpVolSnapInfo";
    EvDebug::DebugLvl(tag, 2, "job [%lld] array [%u] actionFlags [0x%llx] volumes [%zu] snaps [%zu]",
                      static_cast<long long>(record.jobId), record.arrayNumber,
                      static_cast<unsigned long long>(record.actionFlags), record.volumes.size(), record.snaps.size());
    for (const auto& v : record.volumes)
        EvDebug::DebugLvl(tag, 2, "volume [%u] [%s] status [%d] archive file [%u]", v.volumeId, v.sourcePath.c_str(),
                          v.mountStatus, v.archiveFileId);
    for (const auto& s : record.snaps)
        EvDebug::DebugLvl(tag, 2, "snap [%u] [%s] -> [%s] error [%d]", s.snapId, s.sourceDevice.c_str(),
                          s.snapDevice.c_str(), s.errorCode);
    for (const auto& m : record.metadata)
        EvDebug::DebugLvl(tag, 2, "metadata type [%d] ref [%u]: %s", m.type, m.referenceId,
                          MaskSecrets(m.metadata).c_str());
}
