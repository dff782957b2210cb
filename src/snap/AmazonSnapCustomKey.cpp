// Cross-account snap backups: the custom key under which the snapshot
// manager copies the snapshot of a volume encrypted with the source
// account's default EBS key, a key AWS never lets the admin account use.
#include <algorithm>
#include <mutex>

#include "common/BridgeCall.h"
#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

using AmazonErrors::kAMIOrSnapshotTask;
using VMInfoStructs::SDatastoreInfo;

namespace {
const char kDisableCopySetting[] = "bAmazonDisableSnapshotCopy";
}  // namespace

bool CAmazonInfo::_SnapshotCopyDisabled() {
    int known = c_snapCrossAccountKeys.CopyDisabled();
    if (known < 0) {
        std::lock_guard<CriticalSection> guard(c_getTransientMetadataLock);
        known = c_snapCrossAccountKeys.CopyDisabled();
        if (known < 0) {
            bool disabled = false;
            KDPlatformInfo().getBoolean("VirtualServer", kDisableCopySetting, disabled);
            c_snapCrossAccountKeys.SetCopyDisabled(disabled);
            known = disabled ? 1 : 0;
        }
    }
    return known == 1;
}

bool CAmazonInfo::_CustomKeyForSnapCopy(const std::string& region, std::string& keyArn, std::string& error) {
    const std::string& source = m_accounts.sourceAccountId;
    const std::string& admin = m_accounts.adminAccountId;
    // Without both ids the key could be handed to a job of other accounts.
    if (source.empty() || admin.empty()) {
        error = "The source or admin account id is not known; the custom encryption key cannot be chosen.";
        EvDebug::Error(__PRETTY_FUNCTION__, "%s", error.c_str());
        return false;
    }
    if (c_snapCrossAccountKeys.FindKey(source, admin, region, keyArn)) return true;
    std::lock_guard<CriticalSection> guard(c_getTransientMetadataLock);
    if (c_snapCrossAccountKeys.FindKey(source, admin, region, keyArn)) return true;
    std::string arn;
    if (!InitCustomKDEncryptionKey(region, arn, error)) return false;
    c_snapCrossAccountKeys.StoreKey(source, admin, region, arn);
    keyArn = arn;
    return true;
}

bool CAmazonInfo::_AddSnapTargetEncryptionKey(const SDatastoreInfo& datastore, AmazonSnapTransMetaInfo& meta) {
    if (_SnapshotCopyDisabled()) {
        EvDebug::Debug(__PRETTY_FUNCTION__,
                       "Not creating a copy for default encrypted snapshot as per the additional settings [%s]",
                       kDisableCopySetting);
        return true;
    }
    const std::string& region = datastore.region;
    VMInfoStructs::SDisk volume;
    bool notFound = false;
    std::string error;
    // A volume whose key cannot be told is not snapshotted on a guess: a
    // default-key snapshot left uncopied is one the admin account can never
    // read.
    if (!AmazonCommon::BridgeCall(
            *m_pSourceBridge, __PRETTY_FUNCTION__,
            [&] { return m_pSourceBridge->GetVolumeInfo(datastore.guid, region, volume, notFound); }, error,
            "Failed to get details of volume [%s]. Error [%s]", datastore.guid.c_str()) ||
        notFound) {
        if (notFound) error = "InvalidVolume.NotFound: The volume '" + datastore.guid + "' does not exist.";
        SetLastVMError(kAMIOrSnapshotTask, error);
        return false;
    }
    if (!volume.encrypted) return true;
    if (!volume.kmsKeyId.empty() && !m_pSourceBridge->IsDefaultEncryptKey(volume.kmsKeyId, region)) {
        // False with no error: the key is simply not the default one.
        error = AmazonCommon::BridgeError(m_pSourceBridge.get());
        if (error.empty()) return true;
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to tell the encryption key [%s] of volume [%s]. Error [%s]",
                       volume.kmsKeyId.c_str(), datastore.guid.c_str(), error.c_str());
        SetLastVMError(kAMIOrSnapshotTask, error);
        return false;
    }
    std::string keyArn;
    if (!_CustomKeyForSnapCopy(region, keyArn, error)) {
        if (error.empty()) error = "The custom encryption key of region [" + region + "] could not be prepared.";
        SetLastVMError(kAMIOrSnapshotTask, error);
        return false;
    }
    std::replace(keyArn.begin(), keyArn.end(), ':', '$');
    EvDebug::Debug(__PRETTY_FUNCTION__, "KD encryption key [%s]", keyArn.c_str());
    meta.targetEncryptionKey = keyArn;
    meta.customKey = true;
    return true;
}
