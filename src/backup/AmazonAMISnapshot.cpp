// The backup AMI of an instance: its name, description and tags, and the
// snapshots it takes of the volumes the job keeps.
#include <sys/syscall.h>
#include <unistd.h>

#include <cstdio>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AmazonTaskUtils.h"

using namespace AmazonTags;

namespace {

constexpr int kBackupJobType = 1;
constexpr ULONGLONG kAMIRecordInfoMask = 16;

// The AMI name must be unique in the account and region: two jobs of one
// proxy may start in the same second, but never on the same thread.
int CallingThreadId() { return static_cast<int>(::syscall(SYS_gettid)); }

}  // namespace

std::string CAmazonInfo::GetOstrelJobTypeString(int jobType) {
    switch (jobType) {
        case 1: return "Backup";
        case 2: return "Snap backup";
        case 3: return "Restore";
        default: return "None";
    }
}

std::string CAmazonInfo::GetSnapshotName(int /*jobType*/) {
    char name[96];
    std::snprintf(name, sizeof name, "%s_%ld_%d", kBackupTag, static_cast<long>(FwClock::NowSec()),
                  CallingThreadId());
    return name;
}

std::string CAmazonInfo::GetSnapshotDescription(int jobType) {
    return "Snapshot Created for " + GetOstrelJobTypeString(jobType) + " Job " + std::to_string(m_jobId) + " from " +
           m_proxyVMInfo.name + "(" + m_proxyVMInfo.guid + ") at " + std::to_string(FwClock::NowSec());
}

bool CAmazonInfo::DoNotTagIntermediateResources() {
    bool onlyBackupTag = false;
    if (KDPlatformInfo().getBoolean("VirtualServer", "bAmazonDoNotSetTagsOnIntermediateResources", onlyBackupTag))
        EvDebug::Debug(__PRETTY_FUNCTION__, "Read additional setting %s : %s",
                       "bAmazonDoNotSetTagsOnIntermediateResources", onlyBackupTag ? "True" : "False");
    return onlyBackupTag;
}

int CAmazonInfo::TakeAMISnapshot(MountCtx& ctx) {
    std::vector<std::string> excluded;
    if (!GetFilteredVolumes(ctx, excluded)) return 0;
    if (StagingCancelled(__PRETTY_FUNCTION__)) return 0;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Creating AMI snapshot for instance [%s]", ctx.vm.guid.c_str());
    const std::string description = GetSnapshotDescription(kBackupJobType);
    if (!LaunchBackupAMI(ctx, GetSnapshotName(kBackupJobType), description, excluded)) return 0;

    NotifySnapshotCreate(ctx.vm.name, ctx.requestedVMGuid, 0, 0);
    EnsureTaskUtils();
    const bool built = m_pTaskUtils->CompleteAMITask(ctx.amiId, "", true);
    // The job report wants the outcome, not how long the wait took.
    NotifySnapshotCreate(ctx.vm.name, ctx.requestedVMGuid, 100, built ? 0 : static_cast<int>(GetLastVMError()));

    SVMInfo ami;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge, [&] { return GetVMInfoForVM("", ctx.amiId, ctx.vm.zone, kAMIRecordInfoMask, 0, ami) != 0; },
            error)) {
        SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, error);
        return 0;
    }
    // Also after a failed wait: whatever snapshots exist carry their source's
    // tags until the clean-up removes them.
    TagAMISnapshots(ami);
    if (!built) return 0;

    ctx.vm.amiId = ctx.amiId;
    AmazonCommon::BridgeCall(
        *m_pSourceBridge, __PRETTY_FUNCTION__, [&] { return m_pSourceBridge->SetTag(ctx.vm.guid, kAMITag, ctx.amiId, false); },
        "Failed to tag instance [%s] with AMI [%s]. Error [%s]", ctx.vm.guid.c_str(), ctx.amiId.c_str());
    return PrepareSnapshotInfoToBackup(ami, ctx, description) ? 1 : 0;
}

bool CAmazonInfo::LaunchBackupAMI(MountCtx& ctx, const std::string& name, const std::string& description,
                                  const std::vector<std::string>& excludedVolumeIds) {
    std::vector<std::string> snapshotIds = excludedVolumeIds;
    std::string amiId;
    std::string error;
    if (!AmazonCommon::QuietBridgeCall(
            *m_pSourceBridge,
            [&] {
                return m_pSourceBridge->CreateAMISnapshot(ctx.vm.guid, ctx.vm.zone, kBackupTag, name, description,
                                                          snapshotIds, amiId);
            },
            error)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to launch create AMI snapshot request.");
        SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, error);
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully launched create AMI task [%s].", amiId.c_str());
    // Recorded everywhere a later clean-up looks before anything else can
    // fail: the cleanup string, the AMI's own tags, and the registry. An AMI
    // the registry refuses is removed at once; if even that fails it is put
    // on the instance's AMI list, which a later backup's expiry clean-up
    // works through.
    ctx.amiId = amiId;
    SaveCleanupString(ctx, amiId);
    m_pSourceBridge->SetTag(amiId, kBackupTag, ctx.vm.guid, true);
    m_pSourceBridge->SetTag(amiId, kSubclientTag, std::to_string(ctx.subclientId), true);
    if (!m_cleaner.RegisterTemplate(VM_CLEANER_BACKUP, ctx.JobVMGuid(), amiId, ctx.vm.region)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register AMI [%s].", amiId.c_str());
        if (AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__, [&] { return m_pSourceBridge->DeleteAMISnapshot(amiId, true); },
                "Failed to delete unregistered AMI [%s]. Error [%s]", amiId.c_str())) {
            ctx.amiId.clear();
            SaveCleanupString(ctx, "");
        } else {
            m_pSourceBridge->SetTag(ctx.vm.guid, kAMITag, amiId, false);
        }
        SetLastVMError(AmazonErrors::kAMIOrSnapshotTask, "Failed to register AMI [" + amiId + "].");
        return false;
    }
    return true;
}

void CAmazonInfo::TagAMISnapshots(const SVMInfo& ami) {
    const bool onlyBackupTag = DoNotTagIntermediateResources();
    for (const auto& disk : ami.disks) {
        if (disk.filtered || disk.diskType != 1 || disk.snapshotId.empty()) continue;
        std::map<std::string, std::string> tags;
        if (!onlyBackupTag)
            AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__, [&] { return m_pSourceBridge->GetTagList(disk.volumeId, tags); },
                "Failed to get tags of volume [%s]. Error [%s]", disk.volumeId.c_str());
        tags.emplace(kBackupTag, "");
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "setting tags on snapshotcreated");
        for (const auto& [key, value] : tags) {
            if (IsAwsReservedKey(key)) continue;
            EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Setting tag [%s] for resource [%s]", disk.snapshotId.c_str(),
                              key.c_str());
            m_pSourceBridge->SetTag(disk.snapshotId, key, value, true);
        }
    }
}
