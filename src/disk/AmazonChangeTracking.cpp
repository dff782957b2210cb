// Changed-block tracking: the previous backup's AMI stays as the reference
// ("KD_CBT_Snap", named in the change id the framework keeps), the next
// backup reads only the blocks that differ between each disk's reference
// snapshot and its new one, and then hands the reference on.
#include <cinttypes>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "disk/AmazonDiskInfo.h"
#include "disk/DiskGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "framework/MessageBase.h"

namespace {
const char kReferenceInfo[] = "VirtualServer::VMReferencePointInfo";
const char kReferenceDiskInfo[] = "VirtualServer::VMReferencePointDiskInfo";
const char kCbtName[] = "KD_CBT_Snap";
using AmazonTags::kAMITag;
using AmazonTags::kBackupTag;
using AmazonTags::kSubclientTag;
constexpr long long kDefaultExpireHours = 48;

// The snapshot change tracking names for a disk: its own copy when staging
// set one, else the direct-read one.
const std::string& CbtSnapshot(const VMInfoStructs::SDisk& disk) {
    return disk.snapshotIdCbt.empty() ? disk.snapshotId : disk.snapshotIdCbt;
}

// The AMI a change id names as the next backup's reference; empty when the
// id cannot be read.
std::string ReferenceOf(const std::string& changeId) {
    CNMessageBase info(kReferenceInfo);
    return changeId.empty() || info.Deserialize(changeId) != CNMessageBase::kOk ? std::string() : info.GetString(3);
}

// Extents of no length would make an incremental skip every change and still
// succeed: a list that comes with a block size of 0 or less is refused, and
// dropped so that nobody reads it.
bool UsableBlockSize(int blockSize, const std::string& snapshot, VMInfoStructs::SDiskChangeInfo& info) {
    if (blockSize > 0) return true;
    EvDebug::Error(__PRETTY_FUNCTION__, "Block size [%d] reported for snapshot [%s] is not positive", blockSize,
                   snapshot.c_str());
    info.extents.clear();
    return false;
}

// Offsets in 64 bits: block 9000 of a 16 TiB disk is past what 32 bits hold.
void ToByteExtents(VMInfoStructs::SDiskChangeInfo& info, int blockSize) {
    for (auto& extent : info.extents) {
        extent.start = static_cast<uint64_t>(extent.blockIndex) * static_cast<uint64_t>(blockSize);
        extent.length = static_cast<uint64_t>(blockSize);
    }
}
}  // namespace

std::string CAmazonInfo::getRegionFromZone(const std::string& zone) {
    return m_pSourceBridge ? m_pSourceBridge->GetRegionFromZone(zone) : std::string();
}

bool CAmazonInfo::InitCBT(MountCtx& ctx) {
    // One plug-in object may back up several instances: nothing of the
    // previous instance's chain may leak into this one.
    m_cbtLastFull.clear();
    m_cbtReferenceAMI.clear();
    if (ctx.failback) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Disabling CBT for failback.");
        ctx.cbtStatus = "Disabled";
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Initializing CBT...");
    if (!ValidateCBT(ctx)) {
        ctx.cbtStatus = "Failed";
        const std::string error = AmazonCommon::BridgeError(m_pSourceBridge.get());
        if (!error.empty()) ctx.cbtStatus += " (" + error + ")";
        return false;
    }
    std::string reference;
    if (ctx.changeId.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "No change Id supplied for VM [%s]. Backup of VM will be full backup",
                       ctx.requestedVMName.c_str());
        ctx.backupLevel = 1;
    } else {
        CNMessageBase info(kReferenceInfo);
        const int code = info.Deserialize(ctx.changeId);
        if (code != CNMessageBase::kOk) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to read VM [%s] change block tracking details. Code [0x%x]",
                           ctx.requestedVMName.c_str(), static_cast<unsigned>(code));
            ctx.cbtStatus = "Failed";
            return false;
        }
        reference = info.GetString(3);
        // An id that names no reference cannot drive an incremental backup.
        if (reference.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to read VM [%s] change block tracking details. Code [0x%x]",
                           ctx.requestedVMName.c_str(), static_cast<unsigned>(CNMessageBase::kErrContent));
            ctx.cbtStatus = "Failed";
            return false;
        }
        m_cbtLastFull = info.GetString(1);
        EvDebug::Debug(__PRETTY_FUNCTION__, "VM [%s] Change Id has been supplied. Change Id : [%s]",
                       ctx.requestedVMName.c_str(), ctx.changeId.c_str());
        ctx.backupLevel = 2;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Using AMI ID [%s] as the reference snapshot for CBT", reference.c_str());
    }
    if (ctx.backupLevel != 1) m_cbtReferenceAMI = reference;
    ctx.cbtStatus = "Used";
    EvDebug::Debug(__PRETTY_FUNCTION__, "Last full: [%s], Last Inc: [%s], CBT status : [%s]", m_cbtLastFull.c_str(),
                   m_cbtReferenceAMI.c_str(), ctx.cbtStatus.c_str());
    return true;
}

bool CAmazonInfo::ValidateCBT(const MountCtx& ctx) {
    // The first disk that will be read: a filtered disk or one without a
    // snapshot proves nothing about the block-list APIs.
    const VMInfoStructs::SDisk* first = nullptr;
    for (const auto& disk : ctx.vm.disks) {
        if (!disk.filtered && !CbtSnapshot(disk).empty()) {
            first = &disk;
            break;
        }
    }
    if (!first || !m_pSourceBridge) {
        EvDebug::Error(__PRETTY_FUNCTION__, "No disk with a snapshot to validate change tracking with");
        return false;
    }
    const std::string& snapshot = CbtSnapshot(*first);
    // One small page of each list shows that the APIs answer; listing the
    // whole disk would cost thousands of calls on a large one.
    constexpr int kProbeBlocks = 100;
    VMInfoStructs::SDiskChangeInfo info;
    int blockSize = 0;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] {
                return m_pSourceBridge->GetAllocatedBlockPage(snapshot, ctx.vm.region, kProbeBlocks, info, blockSize);
            },
            "GetAllocatedBlockList validation failed for [%s] - %s", snapshot.c_str()))
        return false;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] {
                return m_pSourceBridge->GetChangedBlockPage(snapshot, snapshot, ctx.vm.region, kProbeBlocks, info,
                                                            blockSize);
            },
            "GetChangedBlockList validation failed for [%s] - %s", snapshot.c_str()))
        return false;
    return true;
}

bool CAmazonInfo::ValidateChangeId(const std::string& vmName, const std::string& vmGuid, const std::string& diskName,
                                   const std::string& changeId) {
    return AmazonDisk::Guarded(__PRETTY_FUNCTION__, false, [&] {
        if (changeId.empty()) {
            EvDebug::Error(__PRETTY_FUNCTION__, "ChangeID is empty!");
            return false;
        }
        VmdkHandle handle;
        AmazonDiskInfo::AmazonDiskState state = AmazonDiskInfo::DiskRegistered;
        if (!m_pDiskInfo || !m_pDiskInfo->GetDiskHandle(vmName, vmGuid, diskName, handle, state)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get vmdk handle for [%s]", diskName.c_str());
            return false;
        }
        SDisk disk;
        bool restore = false;
        if (!m_pDiskInfo->GetDiskInfo(handle, disk, restore)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get disk info");
            return false;
        }
        VMInfoStructs::SChildDisk snapshot;
        if (!AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__,
                [&] { return m_pSourceBridge->GetSnapshotInfo(changeId, getRegionFromZone(disk.zone), snapshot); },
                "Failed to get snapshot info [%s]. Error [%s]", changeId.c_str()))
            return false;
        return true;
    });
}

int CAmazonInfo::GetVmdkExtents(const VmdkHandle& handle, const std::string& changeId, ULONGLONG start,
                                 VMInfoStructs::SDiskChangeInfo& info) {
    return AmazonDisk::Guarded(__PRETTY_FUNCTION__, 0,
                               [&] { return GetVmdkExtents_CBT(handle, changeId, start, info); });
}

int CAmazonInfo::GetVmdkExtents_CBT(const VmdkHandle& handle, const std::string& changeId, ULONGLONG,
                                    VMInfoStructs::SDiskChangeInfo& info) {
    SDisk disk;
    if (GetVmdkInfo(handle, disk) != 1) {
        SetLastVMError(AmazonErrors::kMountFailed, "the disk handle names no open disk to list changes of");
        EvDebug::Error(__PRETTY_FUNCTION__, "Unable to get disk info of the opened disk ");
        return 0;
    }
    const std::string& snapshot = CbtSnapshot(disk);
    // The change-tracking snapshots are the instance's, where the instance
    // is; a hot-add disk's zone is the proxy's, which may be another region.
    SVMInfo vm;
    const std::string zone =
        m_pDiskInfo && m_pDiskInfo->GetVMInfo(handle, "", vm) && !vm.zone.empty() ? vm.zone : disk.zone;
    if (!changeId.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Getting changed blocks for snapshot [%s] and changeId [%s]",
                       snapshot.c_str(), changeId.c_str());
        return GetChangedBlocks(changeId, snapshot, zone, info) ? 1 : 0;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Getting All blocks of snapshot [%s] of disk [%s] in zone [%s]",
                   snapshot.c_str(), disk.volumeId.c_str(), zone.c_str());
    return GetAllocatedBlocks(snapshot, zone, info) ? 1 : 0;
}

bool CAmazonInfo::GetChangedBlocks(const std::string& previousSnapshot, const std::string& currentSnapshot,
                                   const std::string& zone, VMInfoStructs::SDiskChangeInfo& info) {
    int blockSize = 0;
    long long unused = 0;
    if (!m_pSourceBridge ||
        !m_pSourceBridge->GetChangedBlockList(previousSnapshot, currentSnapshot, getRegionFromZone(zone), info,
                                              blockSize, unused) ||
        !UsableBlockSize(blockSize, currentSnapshot, info)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get changed block list");
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Number of Changed Blocks detected: [%d]", static_cast<int>(info.extents.size()));
    ToByteExtents(info, blockSize);
    return true;
}

bool CAmazonInfo::GetAllocatedBlocks(const std::string& snapshot, const std::string& zone,
                                     VMInfoStructs::SDiskChangeInfo& info) {
    int blockSize = 0;
    long long unused = 0;
    if (!m_pSourceBridge ||
        !m_pSourceBridge->GetAllocatedBlockList(snapshot, getRegionFromZone(zone), info, blockSize, unused) ||
        !UsableBlockSize(blockSize, snapshot, info)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get allocated block list");
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Number of Allocated Blocks : [%d]", static_cast<int>(info.extents.size()));
    ToByteExtents(info, blockSize);
    return true;
}

bool CAmazonInfo::_UpdateChangeBlobID(MountCtx& ctx) {
    if (ctx.snapBackup) return true;
    CNMessageBase info(kReferenceInfo);
    info.SetString(1, m_cbtLastFull.empty() ? ctx.vm.amiId : m_cbtLastFull);
    info.SetString(3, ctx.vm.amiId);
    for (const auto& disk : ctx.vm.disks) {
        CNMessageBase entry(kReferenceDiskInfo);
        entry.SetString(1, disk.volumeId);
        entry.SetString(2, CbtSnapshot(disk));
        info.AddMessage(4, entry);
        if (!ctx.backupToTape && !CbtSnapshot(disk).empty())
            m_pSourceBridge->SetTag(CbtSnapshot(disk), "Name", kCbtName, true);
    }
    std::string changeId;
    const int code = info.Serialize(changeId);
    if (code != CNMessageBase::kOk) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to generate VMChangeId for VM [%s], err [0x%x]",
                       ctx.requestedVMName.c_str(), static_cast<unsigned>(code));
        return false;
    }
    ctx.changeId = changeId;
    return true;
}

bool CAmazonInfo::_PostBackupCBTCleanup(const MountCtx& ctx) {
    const std::string& ami = ctx.amiId;
    const std::string& instance = ctx.vm.guid.empty() ? ctx.requestedVMGuid : ctx.vm.guid;
    const AmazonCommon::BridgeRegionScope inInstanceRegion(*m_pSourceBridge, ctx.vm.region);
    // Staging registered the AMI under the job's VM id, which a failback
    // job takes from the failback id.
    if (!m_cleaner.UnRegisterTemplate(0, ctx.JobVMGuid(), ami))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to unregister AMI : [%s]", ami.c_str());
    m_pSourceBridge->DeleteTag(instance, kAMITag, ami, true);
    m_pSourceBridge->SetTag(ami, "Name", kCbtName, true);
    const std::string previous = m_cbtReferenceAMI;
    bool skipDelete = false;
    KDPlatformInfo().getBoolean("VirtualServer", "bSkipDeleteSnapshotsForAmazon", skipDelete);
    if (skipDelete) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Previous retained AMI [%s] will not be deleted", previous.c_str());
        return true;
    }
    if (!previous.empty()) {
        m_pSourceBridge->SetTag(instance, kAMITag, previous, false);
        if (m_cleaner.RegisterTemplate(0, ctx.JobVMGuid(), previous, ctx.vm.region))
            EvDebug::Debug(__PRETTY_FUNCTION__, "Previously retained AMI [%s] marked for cleanup", previous.c_str());
        else
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register previously retained AMI [%s].", previous.c_str());
    }
    return true;
}

void CAmazonInfo::HoldChainReference(const MountCtx& ctx) {
    if (!ctx.cbtEnabled) return;
    const std::string reference = ReferenceOf(ctx.changeId);
    if (reference.empty()) return;
    if (!m_cleaner.RegisterHeldTemplate(VM_CLEANER_BACKUP, ctx.JobVMGuid(), reference, ctx.vm.region))
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register reference AMI [%s] as in use.", reference.c_str());
}

bool CAmazonInfo::DeleteExpiredCBTSnapshot(const MountCtx& ctx) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2,
                      "<<Start : Cleaning up left over snapshots/AMIs from previous CBT backup jobs");
    CleanupCBTSnapshots(ctx);
    return true;
}

bool CAmazonInfo::CleanupCBTSnapshots(const MountCtx& ctx) {
    // The AMI the incoming change id names is the reference of the chain the
    // framework holds, even when this job could not use it (tracking failed
    // or was switched off): deleting it would turn every later backup into a
    // full one.
    const std::string named = ReferenceOf(ctx.changeId);
    // The chain's AMIs are where the instance is.
    const AmazonCommon::BridgeRegionScope inInstanceRegion(*m_pSourceBridge, ctx.vm.region);
    // Another live job's reference (another chain of the instance) is that
    // job's to let go once its backup has landed.
    auto keep = [&](const std::string& ami) {
        return ami == m_cbtReferenceAMI || (!named.empty() && ami == named) ||
               IsAMIOfAnotherLiveJob(ami, __PRETTY_FUNCTION__);
    };
    std::vector<std::string> amis;
    const std::string subclient = std::to_string(ctx.subclientId);
    if (!m_pSourceBridge->GetAMIListForTags(
            {{"Name", kCbtName}, {kSubclientTag, subclient}, {kBackupTag, ctx.requestedVMGuid}}, amis)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get AMI list for subclient [%s]", subclient.c_str());
        return true;
    }
    for (const auto& ami : amis) {
        if (keep(ami)) continue;
        if (!m_pSourceBridge->DeleteAMISnapshot(ami, true)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete unused AMI [%s], Ignorable error.", ami.c_str());
            return false;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted unused AMI Snapshot [%s].", ami.c_str());
    }
    amis.clear();
    if (!m_pSourceBridge->GetAMIListForTags({{"Name", kCbtName}, {kBackupTag, ctx.requestedVMGuid}}, amis)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get AMI list for instance [%s]", ctx.requestedVMGuid.c_str());
        return false;
    }
    long long hours = kDefaultExpireHours;
    // An age below an hour (a negative one above all) would remove every
    // other subclient's reference at once.
    if (!KDPlatformInfo().getNumber("VirtualServer", "nExpireCBTSnapshotHours", hours) || hours < 1)
        hours = kDefaultExpireHours;
    for (const auto& ami : amis) {
        if (keep(ami)) continue;
        if (m_pSourceBridge->DeleteExpiredAMISnapshot(ami, true, hours))
            EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted AMI Snapshot [%s].", ami.c_str());
        else
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete AMI [%s], Ignorable error.", ami.c_str());
    }
    return true;
}
