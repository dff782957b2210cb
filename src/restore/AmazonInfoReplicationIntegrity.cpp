// Integrity snapshots: the AMI of a replica that its "KD_Integrity_Snap"
// tag names, from whose snapshots the next run builds incrementally. Read,
// verified, taken and deleted here.
#include <algorithm>
#include <string>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "tasks/AmazonTaskUtils.h"

using AmazonTags::kBackupTag;
using AmazonTags::kIntegritySnapTag;

namespace {
// What the object's look-up of an AMI reads: its disks and their snapshots.
constexpr ULONGLONG kAMISnapshotMask = 24;
// The key the snapshots of an integrity AMI carry their description under,
// spelt as the rest of the product reads it.
constexpr char kDescriptionKey[] = "Descrption";
}  // namespace

bool CAmazonInfo::GetIntegritySnapshotId(const std::string& instanceId, std::string& amiId) {
    amiId.clear();
    if (instanceId.empty()) return true;
    std::map<std::string, std::string> tags;
    if (!m_pSourceBridge->GetTagList(instanceId, tags)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get tags for instance [%s]", instanceId.c_str());
        return false;
    }
    const auto it = tags.find(kIntegritySnapTag);
    if (it != tags.end()) {
        amiId = it->second;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Integrity snapshot for VM [%s] is [%s]", instanceId.c_str(),
                       amiId.c_str());
    }
    return true;
}

bool CAmazonInfo::VerifyIntegritySnapshot(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    const std::string replica = ReplicaIdOf(ctx);
    if (!ctx.replicatedVMExists || replica.empty()) return false;
    std::string amiId;
    GetIntegritySnapshotId(replica, amiId);
    if (amiId.empty()) {
        EvDebug::Debug(fn, "Integrity snapshot does not exist for VM [%s].", replica.c_str());
        return false;
    }
    EvDebug::Debug(fn, "Integrity snapshot [%s] for VM [%s]", amiId.c_str(), replica.c_str());
    SVMInfo ami;
    if (!GetVMInfoForVM("", amiId, "", 0, 0, ami))
        EvDebug::Debug(fn, "Failed to get information about integrity AMI  [%s]. Check if snapshot exists",
                       amiId.c_str());
    bool intact = true;
    bool anySnapshot = false;
    for (const auto& disk : ctx.disks) {
        if (!disk.selected) continue;
        if (disk.snapshotId.empty()) {
            EvDebug::Debug(fn, "New disk [%s].", disk.sourceVolumeId.c_str());
            continue;
        }
        anySnapshot = true;
        EvDebug::Debug(fn, "Replicated snapshot [%s] for disk [%s]", disk.snapshotId.c_str(),
                       disk.sourceVolumeId.c_str());
        VMInfoStructs::SChildDisk info;
        if (m_pSourceBridge->GetSnapshotInfo(disk.snapshotId, ctx.destRegion, info)) {
            EvDebug::Debug(fn, "Successfuly verified the integrity snapshot [%s] for disk [%s]",
                           disk.snapshotId.c_str(), disk.sourceVolumeId.c_str());
        } else {
            EvDebug::Error(fn, "Failed to verify the integrity snapshot [%s] for disk [%s]", disk.snapshotId.c_str(),
                           disk.sourceVolumeId.c_str());
            intact = false;
        }
    }
    // With no disk built on a snapshot there is nothing an incremental run
    // could write onto: every disk gets an empty volume and all its data.
    return intact && anySnapshot;
}

bool CAmazonInfo::GetIntegritySnapshotDesc(std::string& description) {
    description = "Integrity Snapshot Created for replication Job " + std::to_string(m_jobId) + " from " +
                  m_proxyVMInfo.name + "(" + m_proxyVMInfo.guid + ") at " + std::to_string(FwClock::NowSec());
    return true;
}

bool CAmazonInfo::TakeIntegritySnapshot(const RestoreCtx& ctx, const std::string& instanceId) {
    const char* const fn = __PRETTY_FUNCTION__;
    RestoreCtx& out = ctx.Out();
    std::string description;
    GetIntegritySnapshotDesc(description);
    EvDebug::Debug(fn, "Creating integrity snapshot.");
    const AmazonCommon::BridgeRegionScope inDestination(*m_pSourceBridge, ctx.destRegion);
    std::vector<std::string> snapshotIds;
    std::string amiId;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge,
            [&] {
                return m_pSourceBridge->CreateAMISnapshot(instanceId, ctx.destZone, kBackupTag, "", description,
                                                          snapshotIds, amiId) &&
                       !amiId.empty();
            },
            error)) {
        EvDebug::Error(fn, "Failed to launch create AMI snapshot request.");
        SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, error);
        return false;
    }
    out.integritySnapshotId = amiId;
    // The job's until the replica carries it, so that a failed run removes it.
    if (!m_cleaner.RegisterTemplate(VM_CLEANER_RESTORE, ctx.registrationGuid, amiId, ctx.destRegion))
        EvDebug::Error(fn, "Failed to register AMI [%s] for cleanup.", amiId.c_str());
    EvDebug::Debug(fn, "Successfully launched create AMI task [%s].", amiId.c_str());
    EnsureTaskUtils();
    if (!m_pTaskUtils->CompleteAMITask(amiId, "", true)) {
        EvDebug::Error(fn, "Create integrity snapshot [%s] task failed.", amiId.c_str());
        if (!IsJobCancelled())
            SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, AmazonCommon::BridgeError(m_pSourceBridge.get()));
        return false;
    }
    EvDebug::Debug(fn, "Create integrity snapshot task completed successfully.");
    m_pSourceBridge->SetTag(amiId, "Name", kBackupTag, true);
    m_pSourceBridge->SetTag(amiId, kBackupTag, "", true);
    SVMInfo ami;
    if (!GetVMInfoForVM("", amiId, "", kAMISnapshotMask, 0, ami)) return true;
    for (const auto& disk : ami.disks) {
        if (disk.snapshotId.empty()) continue;
        m_pSourceBridge->SetTag(disk.snapshotId, kDescriptionKey, description, true);
        m_pSourceBridge->SetTag(disk.snapshotId, kBackupTag, "", true);
    }
    return true;
}

bool CAmazonInfo::DeleteOldIntegritySnapshot(const RestoreCtx& ctx) {
    const std::string replica = ReplicaIdOf(ctx);
    if (ctx.failback || !ctx.replicatedVMExists || replica.empty()) return true;
    std::string amiId;
    GetIntegritySnapshotId(replica, amiId);
    if (amiId.empty()) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Integrity snapshot does not exist for VM [%s].", replica.c_str());
        return true;
    }
    _DeleteIntegrityAMI(ctx, amiId, replica);
    return true;
}

void CAmazonInfo::_DeleteIntegrityAMI(const RestoreCtx& ctx, const std::string& amiId, const std::string& replicaId) {
    const char* const fn = __PRETTY_FUNCTION__;
    const AmazonCommon::BridgeRegionScope inDestination(*m_pSourceBridge, ctx.destRegion);
    // Nothing else names the old AMI once the replica that carried its tag
    // is gone: until it is deleted it is held for a later clean-up, which a
    // failed or killed deletion then leaves to do.
    SVMInfo old;
    GetVMInfoForVM("", amiId, "", kAMISnapshotMask, 0, old);
    const std::string guid = FwGuid::New();
    if (!m_cleaner.RegisterVM(VM_CLEANER_RESTORE, guid, ctx.destRegion) ||
        !m_cleaner.RegisterTemplate(VM_CLEANER_RESTORE, guid, amiId, ctx.destRegion))
        EvDebug::Error(fn, "Failed to register AMI [%s] for cleanup.", amiId.c_str());
    for (const auto& disk : old.disks)
        if (!disk.snapshotId.empty())
            m_cleaner.RegisterSnapshot(VM_CLEANER_RESTORE, guid, disk.snapshotId, ctx.destRegion,
                                       SourceAccountForCleaner());
    if (m_pSourceBridge->DeleteAMISnapshot(amiId, true)) {
        EvDebug::Debug(fn, "Successfully deleted integrity snapshot [%s] of VM [%s]", amiId.c_str(),
                       replicaId.c_str());
        m_cleaner.UnRegisterVM(VM_CLEANER_RESTORE, guid, true);
        return;
    }
    EvDebug::Debug(fn, "Registered a temporary GUID with the cleaner: [%s]", guid.c_str());
    EvDebug::Error(fn, "Failed to delete integrity snapshot [%s] of VM [%s]", amiId.c_str(), replicaId.c_str());
    // The disks record the new AMI's snapshots once a run succeeded; only a
    // snapshot that is not of the new AMI is the old one's.
    std::vector<std::string> keep;
    if (!ctx.integritySnapshotId.empty() && ctx.integritySnapshotId != amiId) {
        SVMInfo current;
        // Without knowing the new AMI's snapshots none can be told apart.
        if (!GetVMInfoForVM("", ctx.integritySnapshotId, "", kAMISnapshotMask, 0, current)) return;
        for (const auto& disk : current.disks) keep.push_back(disk.snapshotId);
    }
    for (const auto& disk : ctx.disks) {
        if (!disk.selected || disk.snapshotId.empty()) continue;
        if (std::find(keep.begin(), keep.end(), disk.snapshotId) != keep.end()) continue;
        if (m_pSourceBridge->DeleteSnapshot(disk.snapshotId, ""))
            EvDebug::Debug(fn, "Successfuly deleted integrity snapshot [%s].", disk.snapshotId.c_str());
        else
            EvDebug::Error(fn, "Failed to delete integrity snapshot [%s].", disk.snapshotId.c_str());
    }
}
