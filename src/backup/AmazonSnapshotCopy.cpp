// Copies of a cross-account hot-add's snapshots that the proxy's account
// could not use as they are: those encrypted with the source account's
// default EBS key (which AWS never shares) and, when the proxy lives in
// another region, every one of them, since a volume is made only from a
// snapshot of its own region. The copies are encrypted with the source
// account's custom key, which is granted to the admin account.
#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "common/TagNames.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskUtils.h"

using AmazonErrors::kAMIOrSnapshotTask;

namespace {
constexpr char kCustomKeyName[] = "keld-ec2";
constexpr char kAliasPrefix[] = "alias/";
}  // namespace

std::string CAmazonInfo::CrossAccountSnapshotRegion(const MountCtx& ctx) const {
    return m_proxyVMInfo.region.empty() ? ctx.vm.region : m_proxyVMInfo.region;
}

bool CAmazonInfo::CopySnapshotsToBackup(MountCtx& ctx) {
    const std::string& region = ctx.vm.region;
    const std::string target = CrossAccountSnapshotRegion(ctx);
    const bool acrossRegions = target != region;
    std::string keyArn;
    std::vector<std::string> copies;
    for (auto& disk : ctx.vm.disks) {
        if (disk.filtered) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Skipping CopySnapshot for filtered disk [%s][%s].",
                           disk.volumeId.c_str(), disk.deviceName.c_str());
            continue;
        }
        if (disk.diskType != 1 || disk.snapshotId.empty()) continue;
        if (!acrossRegions && !m_pSourceBridge->IsVolumeDefaultEncrypted(disk.volumeId, region)) continue;
        if (keyArn.empty()) {
            std::string error;
            if (!InitCustomKDEncryptionKey(target, keyArn, error)) {
                SetLastVMError(kAMIOrSnapshotTask, error);
                return false;
            }
        }
        EvDebug::Debug(__PRETTY_FUNCTION__,
                       "Volume [%s] is default encrypted; creating another copy of snapshot [%s] with custom "
                       "encryption key [%s].",
                       disk.volumeId.c_str(), disk.snapshotId.c_str(), keyArn.c_str());
        std::string copyId;
        if (!CopyOneSnapshot(ctx, disk, target, keyArn, copyId)) return false;
        copies.push_back(copyId);
        disk.snapshotId = copyId;
        EvDebug::Debug(__PRETTY_FUNCTION__, "Created snapshot [%s] ; will wait for the completion.", copyId.c_str());
    }
    if (copies.empty()) return true;
    EnsureTaskUtils();
    return m_pTaskUtils->CompleteSnapshotTask(copies, target, true);
}

bool CAmazonInfo::CopyOneSnapshot(MountCtx& ctx, const SDisk& disk, const std::string& target,
                                  const std::string& keyArn, std::string& copyId) {
    std::string error;
    const bool copied = AmazonCommon::BridgeCall(
        *m_pSourceBridge, __PRETTY_FUNCTION__,
        [&] { return m_pSourceBridge->CopySnapshot(disk.snapshotId, ctx.vm.region, target, true, keyArn, copyId); },
        error, "Failed to copy snapshot [%s]. Error [%s]", disk.snapshotId.c_str());
    // A copy that exists is the job's to remove, whatever the call said.
    if (!copyId.empty()) {
        if (!m_cleaner.RegisterSnapshot(VM_CLEANER_BACKUP, ctx.JobVMGuid(), copyId, target, SourceAccountForCleaner()))
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to register snapshot [%s].", copyId.c_str());
        const AmazonCommon::BridgeRegionScope inTarget(*m_pSourceBridge, target);
        m_pSourceBridge->SetTag(copyId, AmazonTags::kBackupTag, "", true);
    }
    if (copied && !copyId.empty()) return true;
    if (error.empty()) error = "Failed to copy snapshot [" + disk.snapshotId + "].";
    SetLastVMError(kAMIOrSnapshotTask, error);
    return false;
}

bool CAmazonInfo::InitCustomKDEncryptionKey(const std::string& region, std::string& keyArn) {
    std::string error;
    return InitCustomKDEncryptionKey(region, keyArn, error);
}

bool CAmazonInfo::InitCustomKDEncryptionKey(const std::string& region, std::string& keyArn, std::string& error) {
    const std::string alias = std::string(kAliasPrefix) + kCustomKeyName;
    bool missing = false;
    std::string state, extra;
    keyArn.clear();
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return m_pSourceBridge->DescribeEncryptionKey(region, alias, keyArn, missing, state, &extra); },
            error, "Failed to describe encryption key [%s]. Error [%s]", alias.c_str())) {
        keyArn.clear();
        return false;
    }
    if (missing) {
        if (!AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__,
                [&] { return m_pSourceBridge->CreateEncryptionKey(region, kCustomKeyName, keyArn); }, error,
                "Failed to create encryption key [%s]. Error [%s]", kCustomKeyName)) {
            keyArn.clear();
            return false;
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully created encryption key [%s]/[%s]", kCustomKeyName,
                       keyArn.c_str());
    }
    // Without an ARN a copy would go to the default key, which is what
    // cannot be shared.
    if (keyArn.empty()) {
        error = "Encryption key [" + alias + "] has no ARN.";
        EvDebug::Error(__PRETTY_FUNCTION__, "%s", error.c_str());
        return false;
    }
    if (ShareEncryptionKey(keyArn, region)) return true;
    error = AmazonCommon::BridgeError(m_pSourceBridge.get());
    if (error.empty()) error = "Failed to share the key [" + keyArn + "].";
    keyArn.clear();
    return false;
}
