// The phases of a replication run: verify the previous replica's integrity
// snapshot, make the volumes (from its snapshots or empty), let the data
// mover write them, launch the new replica, take its integrity AMI, and only
// then remove the previous replica and its AMI.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

namespace {
// What the object's look-up of an AMI reads: its disks.
constexpr ULONGLONG kAMIDiskMask = 16;
}  // namespace

std::string CAmazonInfo::ReplicaIdOf(const RestoreCtx& ctx) {
    if (ctx.vmGuid.empty() || ctx.vmGuid == ctx.registrationGuid) return "";
    return ctx.vmGuid;
}

int CAmazonInfo::InitRestoreVM_VMReplication_HotAdd(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    PrepareDiskInfoFromRestoreCtx(ctx);
    if (!ConnectDiskInfo(ctx.vm)) {
        EvDebug::Error(fn, "Failed to Connect to disk Info!");
        return 0;
    }
    if (!LookForReplicatedVM(ctx)) return 0;
    RestoreCtx& out = ctx.Out();
    if (!VerifyIntegritySnapshot(ctx)) {
        EvDebug::Debug(fn, "Integrity snapshot verification failed, will force FULL replication.");
        out.replicationMode = RestoreCtx::FullReplication;
        out.forceFull = true;
    } else {
        out.replicationMode = RestoreCtx::IncrementalReplication;
        out.forceFull = false;
    }
    const bool result = out.replicationMode == RestoreCtx::IncrementalReplication
                            ? InitRestoreVM_VMReplication_HotAdd_Inc(ctx)
                            : InitRestoreVM_VMReplication_HotAdd_Full(ctx);
    EvDebug::Debug(fn, "Replication mode [%d]", out.replicationMode);
    return result ? 1 : 0;
}

int CAmazonInfo::PreRestoreVM_VMReplication_HotAdd(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (IsJobCancelled()) {
        EvDebug::Debug(fn, "Detected Quit flag");
        AmazonErrors::SetInterrupted(*this);
        return 0;
    }
    if (!ctx.conversion) {
        EvDebug::Debug(fn, "This is AWS to AWS Rivulet job.");
        return PreRestoreVM_AmazonVMAsProxy(ctx);
    }
    // A conversion's integrity snapshot must hold the written data, which
    // the data mover writes only after this phase: it is taken at the start
    // of the restore phase instead.
    if (ctx.resume && !ctx.createdInstanceId.empty() && ctx.createdInstanceId != ctx.registrationGuid) {
        EvDebug::Debug(fn, "VM [%s] already created. Skipping pre restore.", ctx.createdInstanceId.c_str());
        return 1;
    }
    return PreRestoreVM_AmazonVMAsProxy(ctx);
}

void CAmazonInfo::_DropHalfMadeReplica(const RestoreCtx& ctx) {
    RestoreCtx& out = ctx.Out();
    // Only an instance this run launched is its to delete: on a failback or
    // a reuse the instance was there before the job, and it stays.
    const std::string made = ReplicaIdOf(ctx);
    // Its volumes and interfaces go with it: every one is this run's (the
    // launch's own root and the volumes the run wrote, which no longer stay
    // registered once attached), and kept alone they would be left with
    // nothing to name them.
    if (out.vmCreated && !made.empty()) {
        if (DeleteInstance(made, true, true, true, true))
            m_cleaner.UnRegisterCreatedVM(VM_CLEANER_RESTORE, ctx.registrationGuid, made);
        else
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete the half-made replica [%s]; it stays registered.",
                           made.c_str());
    }
    out.createdInstanceId.clear();
    out.vmGuid.clear();
    out.vmCreated = false;
}

int CAmazonInfo::RestoreVM_VMReplication_HotAdd(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (IsJobCancelled()) {
        EvDebug::Debug(fn, "Detected Quit flag");
        AmazonErrors::SetInterrupted(*this);
        return 0;
    }
    RestoreCtx& out = ctx.Out();
    if (ctx.conversion && !_TakeConversionIntegritySnapshot(ctx)) return 0;
    // The previous replica and its integrity AMI are what the next run falls
    // back on: they are removed only once the new replica and its AMI exist.
    const std::string previous = (ctx.failback || !ctx.replicatedVMExists) ? "" : ReplicaIdOf(ctx);
    std::string previousAMI;
    if (!previous.empty()) GetIntegritySnapshotId(previous, previousAMI);

    const std::string created = ctx.createdInstanceId;
    const bool alreadyCreated = ctx.resume && !created.empty() && created != ctx.registrationGuid &&
                                created != previous;
    if (alreadyCreated && ctx.failback) EvDebug::Debug(fn, "Failback is re-using exisiting source VM ");
    if (alreadyCreated && !ctx.failback) {
        EvDebug::Debug(fn, "VM [%s] already created.", created.c_str());
    } else {
        // A new replica is launched, never the previous one reused.
        if (!ctx.failback) out.newVMGuid = true;
        if (!RestoreVM_AmazonVMAsProxy(ctx)) {
            _DropHalfMadeReplica(ctx);
            return 0;
        }
    }
    const std::string replica = ctx.vmGuid;
    if (!ctx.conversion && !TakeIntegritySnapshot(ctx, replica)) {
        EvDebug::Error(fn, "Failed to take integrity snapshot.");
        _DropHalfMadeReplica(ctx);
        return 0;
    }
    AmazonCommon::BridgeCall(
        *m_pSourceBridge, fn,
        [&] { return m_pSourceBridge->SetTag(replica, AmazonTags::kIntegritySnapTag, ctx.integritySnapshotId, true); },
        "Failed to set tag [%s] on [%s]. Error [%s]", AmazonTags::kIntegritySnapTag, replica.c_str());
    SVMInfo ami;
    if (!GetVMInfoForVM("", ctx.integritySnapshotId, "", kAMIDiskMask, 0, ami)) {
        _DropHalfMadeReplica(ctx);
        return 0;
    }
    _RecordIntegritySnapshotIds(ctx, ami);
    if (!previous.empty()) {
        if (!previousAMI.empty() && previousAMI != ctx.integritySnapshotId)
            _DeleteIntegrityAMI(ctx, previousAMI, previous);
        _RemoveReplica(ctx, previous);
    }
    // The new replica carries its AMI and the previous one is gone: both are
    // the user's now, not the job's to clean up. Handed over only here, so
    // that a job killed while it removed the previous replica leaves the new
    // one registered for the next job's clean-up rather than a second
    // replica that nothing names.
    m_cleaner.UnRegisterTemplate(VM_CLEANER_RESTORE, ctx.registrationGuid, ctx.integritySnapshotId);
    m_cleaner.UnRegisterCreatedVM(VM_CLEANER_RESTORE, ctx.registrationGuid, replica);
    return 1;
}

bool CAmazonInfo::_RecordIntegritySnapshotIds(const RestoreCtx& ctx, const SVMInfo& ami) {
    const char* const fn = __PRETTY_FUNCTION__;
    bool all = true;
    for (auto& disk : ctx.Out().disks) {
        if (!disk.selected) continue;
        bool found = false;
        for (const auto& amiDisk : ami.disks) {
            EvDebug::Debug(fn, "AMI disk guid [%s] replciated disk guid [%s].", amiDisk.sourceVolumeId.c_str(),
                           disk.newVolumeId.c_str());
            if (amiDisk.sourceVolumeId != disk.newVolumeId) continue;
            disk.snapshotId = amiDisk.snapshotId;
            EvDebug::Debug(fn, "Snapshot id [%s] for replicated disk [%s].", disk.snapshotId.c_str(),
                           disk.newVolumeId.c_str());
            found = true;
            break;
        }
        if (!found) {
            // An old id would let the next run build on a snapshot of
            // another volume.
            disk.snapshotId.clear();
            EvDebug::Debug(fn, "Failed to find snapshot for replicated disk [%s].", disk.newVolumeId.c_str());
            all = false;
        }
    }
    return all;
}

int CAmazonInfo::PostRestoreVM_VMReplication_HotAdd(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    RestoreCtx& out = ctx.Out();
    // A transfer snapshot that could not be deleted stays registered under
    // the job's key for the next job's clean-up: dropping the key would
    // leave it with nothing to name it.
    const bool transferGone = !IsVolumeTransferRequired(ctx) || DeleteRegisteredSnapshots(ctx);
    if (!transferGone)
        EvDebug::Error(fn, "Transfer snapshots of VM [%s] are left registered for cleanup", ctx.registrationGuid.c_str());
    else if (!m_cleaner.UnRegisterVM(VM_CLEANER_RESTORE, ctx.registrationGuid, true))
        EvDebug::Debug(fn, "Failed to unregister VM [%s]", ctx.registrationGuid.c_str());
    if (ctx.powerOn && ctx.validateAfterReplication) {
        if (ValidateInstanceStatus(ctx.vmGuid, ctx.restoreVMName, ctx.destRegion)) {
            EvDebug::Debug(fn, "Validation succeeded.");
            out.validationStatus = 1;
        } else {
            EvDebug::Error(fn, "Validation failed.");
            out.validationStatus = 2;
            SetLastVMError(AmazonErrors::kReplicaValidation);
        }
    } else {
        out.validationStatus = 6;
    }
    if (ctx.failback && ctx.powerOn) {
        if (!m_pSourceBridge->PowerOnVM(ctx.restoreVMName, ctx.vmGuid, ctx.destRegion))
            EvDebug::Error(fn, "PowerOnVM Failed for VM [%s]", ctx.vmGuid.c_str());
        else
            EvDebug::Debug(fn, "PowerOnVM successful!");
    }
    return 1;
}
