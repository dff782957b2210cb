// Sharing a cross-account hot-add's snapshots, and the custom keys they are
// encrypted with, with the admin account that makes volumes of them, and
// withdrawing the sharing when the job is over.
#include <cstdio>
#include <regex>

#include "bridge/AmazonSDKBridge.h"
#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"

using AmazonErrors::kAMIOrSnapshotTask;

std::string CAmazonInfo::getARNForAdminAccount() {
    std::string partition, account;
    if (!m_pAdminBridge->GetAwsArnPartition(partition) || !m_pAdminBridge->GetAccountId(account) ||
        account.empty())
        return "";
    char arn[256];
    std::snprintf(arn, sizeof arn, "arn:%s:iam::%s:root", partition.c_str(), account.c_str());
    return arn;
}

void CAmazonInfo::GetAccountIdFromKeyARN(const std::string& keyArn, std::string& accountId) {
    static const std::regex kKeyArn("^arn:aws.*:kms:.*:(.*):key/.*$", std::regex::ECMAScript);
    std::smatch match;
    accountId.clear();
    if (std::regex_match(keyArn, match, kKeyArn) && match.size() == 2) {
        accountId = match[1].str();
        return;
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "Invalid keyArn [%s]. MatchOutput size: [%zu]", keyArn.c_str(), match.size());
}

bool CAmazonInfo::ShareEncryptionKey(const std::string& keyArn, const std::string& region) {
    std::string sourceAccount, keyAccount;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__, [&] { return m_pSourceBridge->GetAccountId(sourceAccount); },
            "Failed to get account id. Error [%s]"))
        return false;
    GetAccountIdFromKeyARN(keyArn, keyAccount);
    if (keyAccount != sourceAccount) {
        EvDebug::Debug(__PRETTY_FUNCTION__,
                       "The encryption key [%s] is not available in account [%s], ensure that key is shared manually "
                       "to admin account",
                       keyArn.c_str(), sourceAccount.c_str());
        return true;
    }
    const std::string admin = getARNForAdminAccount();
    if (admin.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to share the key [%s]. Error [%s]", keyArn.c_str(),
                       AmazonCommon::BridgeError(m_pAdminBridge).c_str());
        return false;
    }
    bool granted = false;
    if (!KeyGrantedTo(keyArn, region, admin, granted)) return false;
    if (granted) return true;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return m_pSourceBridge->CreateEncryptionKeyGrant(region, keyArn, admin); },
            "Failed to share the key [%s]. Error [%s]", keyArn.c_str()))
        return false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully shared custom key [%s] to admin account", keyArn.c_str());
    return true;
}

// Every job would otherwise add one more grant to the same key, until KMS's
// quota of grants per key refuses the next one; so a key whose grants cannot
// be listed is not granted again either.
bool CAmazonInfo::KeyGrantedTo(const std::string& keyArn, const std::string& region, const std::string& principal,
                               bool& granted) {
    std::vector<std::string> grantees;
    granted = false;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return m_pSourceBridge->ListEncryptionKeyGrantees(region, keyArn, grantees); },
            "Failed to share the key [%s]. Error [%s]", keyArn.c_str()))
        return false;
    for (const auto& grantee : grantees)
        if (grantee == principal) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Custom key [%s] is already shared to admin account",
                           keyArn.c_str());
            granted = true;
        }
    return true;
}

bool CAmazonInfo::AdminAccountId(std::string& accountId, std::string& error) {
    if (AmazonCommon::QuietBridgeCall(*m_pAdminBridge, [&] { return m_pAdminBridge->GetAccountId(accountId); },
                                      error) &&
        !accountId.empty())
        return true;
    EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get account id. Error [%s]", error.c_str());
    return false;
}

bool CAmazonInfo::ShareSnapshotToBackup(MountCtx& ctx) {
    std::string adminAccount, error;
    if (!AdminAccountId(adminAccount, error)) {
        SetLastVMError(kAMIOrSnapshotTask, error);
        return false;
    }
    const std::string region = CrossAccountSnapshotRegion(ctx);
    const AmazonCommon::BridgeRegionScope inRegion(*m_pSourceBridge, region);
    for (const auto& disk : ctx.vm.disks) {
        if (disk.diskType != 1 || disk.filtered) continue;
        // Registered before the share: a job that dies after it leaves the
        // sharing for the next clean-up to withdraw.
        if (!disk.snapshotId.empty() &&
            !m_cleaner.RegisterSharedSnapshot(VM_CLEANER_BACKUP, ctx.JobVMGuid(), disk.snapshotId, region,
                                              SourceAccountForCleaner())) {
            SetLastVMError(kAMIOrSnapshotTask, "Failed to register the sharing of snapshot [" + disk.snapshotId + "]");
            return false;
        }
        if (ShareOneSnapshot(disk, region, adminAccount)) continue;
        error = AmazonCommon::BridgeError(m_pSourceBridge.get());
        SetLastVMError(kAMIOrSnapshotTask, error.empty() ? "Snapshot is empty for volume [" + disk.volumeId + "]."
                                                         : error);
        return false;
    }
    return true;
}

bool CAmazonInfo::ShareOneSnapshot(const SDisk& disk, const std::string& region, const std::string& adminAccount) {
    if (disk.snapshotId.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Snapshot is empty for volume [%s].", disk.volumeId.c_str());
        return false;
    }
    VMInfoStructs::SChildDisk snapshot;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return m_pSourceBridge->GetSnapshotInfo(disk.snapshotId, region, snapshot); },
            "Failed to get snapshot info [%s]. Error [%s]", disk.snapshotId.c_str()))
        return false;
    if (snapshot.encrypted && !m_pSourceBridge->IsDefaultEncryptKey(snapshot.kmsKeyId, region) &&
        !ShareEncryptionKey(snapshot.kmsKeyId, region))
        return false;
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return m_pSourceBridge->ShareSnapshot(disk.snapshotId, adminAccount); },
            "Failed to share snapshot [%s] to account [%s]. Error [%s]", disk.snapshotId.c_str(),
            adminAccount.c_str()))
        return false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully shared snapshot [%s] to account [%s]", disk.snapshotId.c_str(),
                   adminAccount.c_str());
    return true;
}

bool CAmazonInfo::UnshareSnapshotBackupCopy(const std::vector<SDisk>& disks) {
    std::string adminAccount, error;
    if (!AdminAccountId(adminAccount, error)) return false;
    for (const auto& disk : disks) {
        if (disk.diskType != 1 || disk.filtered) continue;
        if (disk.snapshotId.empty()) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Snapshot is empty for volume [%s].", disk.volumeId.c_str());
            continue;
        }
        if (!AmazonCommon::BridgeCall(
                *m_pSourceBridge, __PRETTY_FUNCTION__,
                [&] { return m_pSourceBridge->UnshareSnapshot(disk.snapshotId, adminAccount); },
                "Failed to unshare snapshot [%s] to account [%s] . Error [%s]", disk.snapshotId.c_str(),
                adminAccount.c_str()))
            return false;   // the registered sharing is withdrawn by the clean-up
        EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully unshared snapshot [%s] to account [%s]",
                       disk.snapshotId.c_str(), adminAccount.c_str());
    }
    return true;
}
