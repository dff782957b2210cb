// The snapshot manager's record of a snap job made ready for a mount of its
// snapshots (what each volume should be, in which account), the mount
// itself, and the record made ready again for the unmount.
#include <strings.h>

#include <mutex>

#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/VMSnapUtil.h"

using namespace AmazonErrors;

namespace {
constexpr char kMountPathPrefix[] = "xvf";
constexpr char kIopsLimitText[] = "You have exceeded your maximum io1 IOPS limit";

// A KMS key ARN as a "key:value;" text carries it: its own ":" would end
// the pair early, so each travels as "$".
std::string KeyArnForMetadata(std::string arn) {
    for (char& c : arn)
        if (c == ':') c = '$';
    return arn;
}

bool SameId(const std::string& a, const std::string& b) { return strcasecmp(a.c_str(), b.c_str()) == 0; }

VMInfoStructs::SDisk* DiskOf(std::vector<VMInfoStructs::SDisk>& disks, const std::string& volumeId, bool ignoreCase) {
    for (auto& disk : disks)
        if (ignoreCase ? SameId(disk.volumeId, volumeId) : disk.volumeId == volumeId) return &disk;
    return nullptr;
}
}  // namespace

bool CAmazonInfo::_FilterVMSpecificVolumeSnaps(const MountCtx& ctx) {
    SMVolSnapInfo& record = m_snap.record;
    std::vector<SMVolumeInfo> kept;
    std::vector<uint32_t> dropped;
    for (const auto& volume : record.volumes) {
        const std::string id = getVolumeIDFromSnapMountPath(volume.sourcePath);
        bool ours = false;
        for (const auto& disk : ctx.vm.disks) ours = ours || SameId(disk.volumeId, id);
        if (ours) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s][%d] belongs to current VM", id.c_str(),
                           static_cast<int>(volume.volumeId));
            kept.push_back(volume);
            continue;
        }
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2,
                          "Volume [%s][%d] is not for current VM, deleting it from volSnapInfo", id.c_str(),
                          static_cast<int>(volume.volumeId));
        dropped.push_back(volume.volumeId);
    }
    auto isDropped = [&](uint32_t volumeId) {
        for (uint32_t d : dropped)
            if (d == volumeId) return true;
        return false;
    };
    std::vector<uint32_t> droppedSnaps;
    std::vector<SMVolSnapMapInfo> maps;
    for (const auto& map : record.volSnapMaps) {
        if (isDropped(map.volumeId)) droppedSnaps.push_back(map.snapId);
        else maps.push_back(map);
    }
    std::vector<SMSnapInfo> snaps;
    for (const auto& snap : record.snaps) {
        bool drop = false;
        for (uint32_t d : droppedSnaps) drop = drop || d == snap.snapId;
        if (!drop) snaps.push_back(snap);
    }
    record.volumes = std::move(kept);
    record.volSnapMaps = std::move(maps);
    record.snaps = std::move(snaps);
    return true;
}

bool CAmazonInfo::_GetAdditionalVolumeParams(AmazonSnapTransMetaInfo& meta, const MountCtx& ctx,
                                            const std::string& snapSourceDevice, VM_Cleaner_Mode mode,
                                            const std::string& outpostsArn) {
    const std::string volumeId = getVolumeIDFromSnapMountPath(snapSourceDevice);
    const SDisk* disk = DiskOf(const_cast<std::vector<VMInfoStructs::SDisk>&>(ctx.vm.disks), volumeId, true);
    if (!disk) {
        EvDebug::Error(__PRETTY_FUNCTION__,
                       "Mounted source volume [%s] information not found in VMInfo. Failed to fetch additional volume "
                       "properties",
                       volumeId.c_str());
        return false;
    }
    std::string type = disk->volumeType;
    int iops = disk->iops;
    if (!outpostsArn.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume to be created in outpost, forcing gp2 volume type");
        type = "gp2";
        iops = 0;   // gp2 takes no provisioned IOPS
    } else {
        long long size = disk->size;
        OptimizeVolumeParams(mode, size, type, iops, (m_bCrossAccountBackup && disk->encrypted) || ctx.liveBrowse);
    }
    meta.volumeType = type;
    meta.iops = iops;
    meta.size = static_cast<int32_t>(disk->size >> 30);
    if (ctx.keepSourceEncryption && !ctx.liveBrowse) {
        meta.encrypt = disk->encrypted ? 1 : 0;
        if (disk->encrypted && !disk->kmsKeyId.empty()) {
            meta.targetEncryptionKey = KeyArnForMetadata(disk->kmsKeyId);
            meta.customKey = true;
        }
    }
    meta.targetInstance = disk->deviceName;
    meta.ec2Instance = ctx.vm.guid;
    return true;
}

bool CAmazonInfo::_PrepareVolSnapInfoForMount(const MountCtx& ctx, const std::string& zone, int accountType,
                                              VM_Cleaner_Mode mode, const std::string& outpostsArn) {
    SMVolSnapInfo& record = m_snap.record;
    record.mountHostId = ctx.mountHostId;
    record.jobId = ctx.jobId;
    const int64_t now = FwClock::NowMs() / 1000;
    for (const auto& snap : record.snaps) {
        AmazonSnapTransMetaInfo meta;
        meta.targetAvailibilityZone = zone;
        meta.nameTag = _getVolumeNameForSnapJob(ctx.snapJobId, snap.snapDevice);
        meta.description = _getVolumeDescriptionForSnapJob(ctx.jobId, now);
        meta.outpostsARN = outpostsArn;
        if (accountType == kSnapMountAdminAccount) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Specifying admin account [%s]", m_strAdminUser.c_str());
            meta.targetAccessKey = m_strAdminUser;
            meta.targetSecretKey = m_strAdminPassword;
        } else if (accountType == kSnapMountSourceAccount) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Specifying user account [%s]", m_strUser.c_str());
            meta.targetAccessKey = m_strUser;
            meta.targetSecretKey = m_strPassword;
        }
        if (!_GetAdditionalVolumeParams(meta, ctx, snap.sourceDevice, mode, outpostsArn)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get volume parameters for [%s]", snap.sourceDevice.c_str());
            return false;
        }
        if (!_FormatAndAddAmazonSnapTransMeta(snap.snapId, meta, record)) return false;
    }
    for (auto& volume : record.volumes) {
        volume.mountHostId = ctx.mountHostId;
        volume.mountPath = kMountPathPrefix;
    }
    record.arrayNumber = static_cast<uint32_t>(getAmazonSnapControlHostID(ctx));
    return true;
}

bool CAmazonInfo::_CreateVolumesFromSnap() {
    SMVolSnapInfo& record = m_snap.record;
    // The volumes are attached where the data mover opens them, as staged
    // volumes are; the manager only makes them.
    if (m_pSnapUtil->mountVolumes(record, std::string())) return true;
    EvDebug::Error(__PRETTY_FUNCTION__, "Failed to mount snapshots with error [%d][%s]", record.errorCode,
                   record.errorText.c_str());
    m_pSnapUtil->DumpVolSnapInfo(record);
    EVMInfoError code = record.errorText.find(kIopsLimitText) != std::string::npos ? kIopsLimit : kVolumeCreate;
    if (record.errorCode == kSMSnapshotMissing) code = kSnapCopySnapshotMissing;
    else if (record.errorCode == kSMVolumeLimit) code = kSnapCopyVolumeLimit;
    SetLastVMError(code, record.errorText);
    return false;
}

bool CAmazonInfo::RegisterSnapMountedVolumes(const MountCtx& ctx) {
    bool ok = true;
    for (const auto& snap : m_snap.record.snaps) {
        const std::string id = MountedVolumeOf(snap.snapDevice);
        if (id.empty()) continue;
        if (m_cleaner.RegisterDisk(VM_CLEANER_BACKUP, ctx.JobVMGuid(), id, GetProxyRegion())) continue;
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed in registering disk [%s].", id.c_str());
        ok = false;
    }
    return ok;
}

void CAmazonInfo::RememberMountedDevice(const std::string& mounted, const std::string& source) {
    std::lock_guard<CriticalSection> guard(c_SourceVolumesToMountedVolumesLock);
    c_SourceVolumesToMountedVolumes[mounted] = source;
}

bool CAmazonInfo::_PopulateVolumeMountInfoFromMountedSnap(MountCtx& ctx) {
    for (const auto& volume : m_snap.record.volumes) {
        const std::string mounted = getVolumeIDFromSnapMountPath(volume.mountDevice);
        const std::string source = getVolumeIDFromSnapMountPath(volume.sourcePath);
        EvDebug::Debug(__PRETTY_FUNCTION__,
                       "Volume Snap Mounted successfully! [Mount Volume - {%s}]  [Source volume - {%s}]",
                       volume.mountDevice.c_str(), volume.sourcePath.c_str());
        RememberMountedDevice(volume.mountDevice, volume.sourcePath);
        SDisk* disk = DiskOf(ctx.vm.disks, source, true);
        if (!disk) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Mounted source volume [%s] information not found in VMInfo",
                           source.c_str());
            return false;
        }
        disk->newVolumeId = mounted;
        disk->name = disk->volumeId;
    }
    return true;
}

bool CAmazonInfo::_PopulateVolumeMountInfoFromMountedSnapV2(MountCtx& ctx) {
    for (const auto& snap : m_snap.record.snaps) {
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "SnapInfo :: Id[%d], SourceDevice:[%s], SnapDevice:[%s]",
                          static_cast<int>(snap.snapId), snap.sourceDevice.c_str(), snap.snapDevice.c_str());
        const std::string source = getVolumeIDFromSnapMountPath(snap.sourceDevice);
        const std::string mounted = getVolumeIDFromSnapMountPath(snap.snapDevice);
        EvDebug::Debug(__PRETTY_FUNCTION__, "SourceVolume:[%s], DestinationVolume:[%s]", source.c_str(),
                       mounted.c_str());
        RememberMountedDevice(snap.snapDevice, snap.sourceDevice);
        SDisk* disk = DiskOf(ctx.vm.disks, source, false);
        if (!disk) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Mounted source device[%s] not found in VM[%s] disk list",
                           snap.sourceDevice.c_str(), ctx.vm.guid.c_str());
            return false;
        }
        disk->newVolumeId = mounted;
        disk->name = disk->volumeId;
    }
    return true;
}

bool CAmazonInfo::AddUnmountEntries(bool withAdminCredentials) {
    SMVolSnapInfo& record = m_snap.record;
    std::vector<SMMetaDataInfo> kept;
    for (auto& entry : record.metadata)
        if (entry.type != kSMMetaTransient) kept.push_back(std::move(entry));
    record.metadata = std::move(kept);
    if (!withAdminCredentials) return true;
    for (const auto& snap : record.snaps) {
        AmazonSnapTransMetaInfo meta;
        meta.targetAccessKey = m_strAdminUser;
        meta.targetSecretKey = m_strAdminPassword;
        if (!_FormatAndAddAmazonSnapTransMeta(snap.snapId, meta, record)) return false;
    }
    return true;
}

bool CAmazonInfo::_PrepareVolSnapInfoForUnMountDelete(const MountCtx&) {
    return AddUnmountEntries(m_bCrossAccountBackup);
}

bool CAmazonInfo::_PrepareVolSnapInfoForUnMount(const MountCtx& ctx) {
    m_snap.record.mountHostId = ctx.mountHostId;
    m_snap.record.jobId = ctx.jobId;
    if (!AddUnmountEntries(false)) return false;
    // An entry per snapshot, as the mount had, so the manager finds the
    // snapshot's parameters where it looks for them.
    for (const auto& snap : m_snap.record.snaps) {
        AmazonSnapTransMetaInfo meta;
        if (!_FormatAndAddAmazonSnapTransMeta(snap.snapId, meta, m_snap.record)) return false;
    }
    return true;
}

bool CAmazonInfo::_UnmountVolumesFromSnapJob(const MountCtx&) {
    SMVolSnapInfo& record = m_snap.record;
    // A revert's volumes go to the restored instance: only the mount
    // records go.
    const bool keep = record.loadMode == 1;
    if (m_pSnapUtil->unmountVolumes(record, keep)) return true;
    if (record.errorCode == kSMVolumeMissing || record.errorCode == kSMNotMounted) return true;
    EvDebug::Error(__PRETTY_FUNCTION__, "unmountVolumes failed, Error [%s]", record.errorText.c_str());
    SetLastVMError(kErrDetachFailed, record.errorText);
    return false;
}
