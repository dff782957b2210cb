// The snapshot manager's snapshot requests: each volume of a job record
// snapshotted through the engine, awaited, and reported in the record.
#include <strings.h>

#include <map>

#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/SnapEngine.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"

namespace {
const char kTag[] = "CVMSnapUtil::CreateHWSnapshot";
constexpr uint64_t kAllowPartial = 0x400000000ULL;

// "/region/volume": false for any other shape.
bool SplitSourcePath(const std::string& path, std::string& region, std::string& volumeId) {
    if (path.size() < 4 || path[0] != '/') return false;
    const size_t slash = path.find('/', 1);
    if (slash == std::string::npos || slash == 1 || path.find('/', slash + 1) != std::string::npos) return false;
    region = path.substr(1, slash - 1);
    volumeId = path.substr(slash + 1);
    return !volumeId.empty();
}

// The value of key in a "key:value;" text; empty when absent.
std::string PairValue(const std::string& text, const char* key) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find(';', begin);
        if (end == std::string::npos) end = text.size();
        const std::string token = text.substr(begin, end - begin);
        const size_t colon = token.find(':');
        if (colon != std::string::npos && strcasecmp(token.substr(0, colon).c_str(), key) == 0)
            return token.substr(colon + 1);
        begin = end + 1;
    }
    return std::string();
}

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
        if (!engine.GetSnapshotState(account, region, snapshotId, state, error)) return error;
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

// Snapshots one volume; false when it did not end completed.
bool SnapOne(ISnapEngine& engine, const SnapArrayAccount& account, SMVolSnapInfo& record, SMVolumeInfo& volume,
             SMSnapInfo& snap) {
    std::string region, volumeId, snapshotId, error;
    if (!SplitSourcePath(volume.sourcePath, region, volumeId)) {
        volume.mountStatus = kSMVolumeRefused;
        snap.errorCode = kSMVolumeRefused;
        snap.errorText = "source path [" + volume.sourcePath + "] is not /<region>/<volume id>";
        return false;
    }
    const SMMetaDataInfo* meta = TransientOf(record, snap.snapId);
    const std::string name = meta ? PairValue(meta->metadata, "nameTag") : std::string();
    const std::string description = meta ? PairValue(meta->metadata, "description") : std::string();
    if (!engine.CreateSnapshot(account, region, volumeId, name, description, snapshotId, error)) {
        volume.mountStatus = kSMVolumeRefused;
        snap.errorCode = kSMVolumeRefused;
        snap.errorText = error;
        return false;
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
    if (state == "completed") {
        volume.mountStatus = kSMVolumeSnapped;
        snap.status = 0;
        return true;
    }
    volume.mountStatus = kSMVolumeSnapFailed;
    snap.errorCode = kSMVolumeSnapFailed;
    snap.errorText = "snapshot " + snapshotId + ": " + state;
    return false;
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
    std::map<uint32_t, SMVolumeInfo*> volumes;
    for (auto& v : record.volumes) volumes[v.volumeId] = &v;
    int failed = 0;
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
