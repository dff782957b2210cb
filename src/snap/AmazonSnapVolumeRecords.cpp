// The job-level snap backup's records for the snapshot manager: per volume
// an archive file, its tags, the metadata XML, the volume, snapshot and
// pairing entries and the snapshot's transient metadata.
#include "common/BridgeCall.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "framework/VMSnapUtil.h"
#include "snap/SnapTransMeta.h"

using VMInfoStructs::SDatastoreInfo;

namespace {
constexpr uint64_t kSnapFlagsBase = 0x100000000ULL;
constexpr uint64_t kActionAllowPartial = 0x400000000ULL;
constexpr uint64_t kSnapFlagPartial = 0x80;
constexpr uint64_t kVolumeFlags = 0x8000000ULL;

bool AllowPartialSnapshots() {
    bool allow = true;
    KDPlatformInfo().getBoolean("VirtualServer", "bAllowPartialHWSnapshot", allow);
    return allow;
}
}  // namespace

bool CAmazonInfo::GetTransientMetadataForSnapBackup(const MountCtx& ctx, const SDatastoreInfo& datastore,
                                                    AmazonSnapTransMetaInfo& meta) {
    if (!ctx.snapBackup) return false;
    const int64_t jobId = ctx.indexingV2 ? ctx.vmJobId : ctx.jobId;
    const uint32_t archiveFileId = ctx.indexingV2 ? ctx.archiveFileId : datastore.archiveFileId;
    const int64_t now = FwClock::NowSec();
    meta.appType = ctx.appTypeId;
    meta.subclientId = ctx.subclientId;
    meta.opType = 2;
    meta.nameTag = _getSnapshotNameForSnapJob(ctx.hubCellId, jobId, archiveFileId, now);
    meta.description = _getSnapshotDescriptionForSnapJob(jobId, datastore.guid, now);
    meta.targetInstance = datastore.deviceName;
    meta.ec2Instance = datastore.vms.empty() ? std::string() : datastore.vms.front().guid;
    meta.crossAccountOp = m_bCrossAccountBackup ? 1 : 0;
    if (!m_bCrossAccountBackup) return true;
    return _AddSnapTargetEncryptionKey(datastore, meta);
}

bool CAmazonInfo::_FormatAndAddAmazonSnapTransMeta(uint32_t snapId, AmazonSnapTransMetaInfo& meta,
                                                   SMVolSnapInfo& record) {
    std::string text, error;
    if (!SnapTransMeta::Serialize(meta, text, error)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Snap trans metadata of snapshot [%u] refused: %s", snapId, error.c_str());
        return false;
    }
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Amazon snap trans metadata: [%s]", SnapTransMeta::ForLog(text).c_str());
    SMMetaDataInfo entry;
    entry.dbOperationMode = 0xFFFFFFFFu;
    entry.metadataId = 0;
    entry.type = kSMMetaTransient;
    entry.referenceType = 2;
    entry.referenceId = snapId;
    entry.metadata = text;
    record.AddMetadata(entry);
    return true;
}

bool CAmazonInfo::_GetTagListForVolume(const std::string& volumeId, const std::string& region,
                                       std::map<std::string, std::string>& tags) {
    std::map<std::string, std::string> all;
    tags.clear();
    {
        AmazonCommon::BridgeRegionScope scope(*m_pSourceBridge, region);
        if (!AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__, [&] { return m_pSourceBridge->GetTagList(volumeId, all); },
                "Failed to get tags of disk [%s]. %s", volumeId.c_str()))
            return false;
    }
    for (const auto& [key, value] : all)
        if (key != "Name" && key != AmazonTags::kBackupTag) tags[key] = value;
    return true;
}

bool CAmazonInfo::_UpdateVolSnapInfo(MountCtx& ctx, std::vector<SVolSnap>& list) {
    ctx.snapMetadataFolder = _GetSnapMetadataFolderForSnapJob(ctx);
    uint64_t snapFlags = kSnapFlagsBase;
    if (AllowPartialSnapshots()) {
        m_snap.record.actionFlags |= kActionAllowPartial;
        snapFlags |= kSnapFlagPartial;
    }
    for (auto& v : list) {
        const std::string region = v.datastore.region;
        SMVolumeInfo volume;
        volume.sourcePath = "/" + region + "/" + v.volumeId;
        volume.sourceGuid = v.volumeId;
        volume.sourceDevice = v.volumeName;
        volume.jobId = ctx.jobId;
        volume.setHubCellId(ctx.hubCellId);
        volume.appId = ctx.subclientId;
        volume.appTypeId = ctx.appTypeId;
        volume.originClientId = ctx.originClientId;
        volume.sourceClientId = ctx.sourceClientId;
        volume.volumeFlags = kVolumeFlags;
        const std::string owner = v.datastore.vms.empty() ? std::string() : v.datastore.vms.front().guid;
        uint32_t archiveFileId = 0;
        // Without its archive file the volume's backup could never be
        // completed: the job stops here rather than snapshot it.
        if (!CreateArchiveFileForSnapBackup(ctx, archiveFileId, owner) || archiveFileId == 0) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to reserve an archive file for volume [%s]",
                           v.volumeId.c_str());
            return false;
        }
        volume.archiveFileId = v.archiveFileId = v.datastore.archiveFileId = archiveFileId;

        std::map<std::string, std::string> tags;
        _GetTagListForVolume(v.volumeId, region, tags);
        m_pSnapUtil->SetTagMap(v.volumeId, tags);
        if (!m_pSnapUtil->GenerateMetadataXML(ctx, v.datastore, list)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "GenerateMetadataXML Failed");
            return false;
        }
        const uint32_t volumeId = m_snap.record.AddVolume(volume);
        SMSnapInfo snap;
        snap.sourceDevice = volume.sourcePath;
        snap.snapEngineId = ctx.snapEngineId;
        snap.controlHostId = static_cast<uint32_t>(getAmazonSnapControlHostID(ctx));
        snap.snapFlags = snapFlags;
        const uint32_t snapId = m_snap.record.AddSnap(snap);
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Added device '%s'", volume.sourcePath.c_str());
        m_snap.record.AddVolSnapMap(volumeId, snapId);
        AmazonSnapTransMetaInfo meta;
        if (!GetTransientMetadataForSnapBackup(ctx, v.datastore, meta) ||
            !_FormatAndAddAmazonSnapTransMeta(snapId, meta, m_snap.record))
            return false;
    }
    return true;
}
