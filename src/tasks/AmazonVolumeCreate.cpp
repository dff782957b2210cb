// Volume creation: empty, or from a snapshot.
#include "bridge/AmazonSDKBridge.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskErrors.h"
#include "tasks/AmazonTaskUtils.h"

namespace {

// 8589934592 -> "8,589,934,592".
std::string WithThousands(long long value) {
    const bool negative = value < 0;
    std::string digits = std::to_string(value);
    if (negative) digits.erase(0, 1);
    std::string out;
    for (size_t i = 0; i < digits.size(); ++i) {
        if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
        out += digits[i];
    }
    return negative ? "-" + out : out;
}

int CreateRequestError(const std::string& bridgeText) {
    return bridgeText.find(AmazonTaskErrors::kIopsLimitText) != std::string::npos ? AmazonErrors::kIopsLimit
                                                                                  : AmazonErrors::kVolumeCreate;
}

}  // namespace

bool CAmazonTaskUtils::CreateEmptyVolume(VMInfoStructs::SDisk& disk, const std::string& region,
                                         const std::string& option, bool useSourceAccount,
                                         const std::function<void(const std::string&)>& onCreated) {
    return RunCall(__func__, useSourceAccount, AmazonErrors::kVolumeCreate,
                   [&] { return _CreateEmptyVolume(disk, region, option, onCreated); });
}

bool CAmazonTaskUtils::_CreateEmptyVolume(VMInfoStructs::SDisk& disk, const std::string& region,
                                          const std::string& option,
                                          const std::function<void(const std::string&)>& onCreated) {
    m_checkQuitFlag = true;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Creating new volume in zone [%s]/ region [%s]", disk.zone.c_str(),
                   region.c_str());
    // An id left from earlier must not pass for the volume made here.
    disk.newVolumeId.clear();
    if (!GetAmazonSDKBridge()->CreateVolume(disk, false, option)) {
        const std::string error = BridgeError();
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to create new volume.Error [%s]", error.c_str());
        SetOwnerError(AmazonErrors::kVolumeCreate, error);
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] created ; will wait for the completion. ",
                   disk.newVolumeId.c_str());
    if (onCreated) onCreated(disk.newVolumeId);
    bool timedOut = false;
    bool interrupted = false;
    if (WaitForVolumeTask(disk.newVolumeId, VolumeAvailable, region, 0, timedOut, interrupted)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] created successfully in zone [%s].",
                       disk.newVolumeId.c_str(), disk.zone.c_str());
        return true;
    }
    // disk.newVolumeId stays set: the volume exists and the caller removes it.
    EvDebug::Error(__PRETTY_FUNCTION__, "Failed to create empty volume [%s], Error [%s]", disk.newVolumeId.c_str(),
                   WaitFailureReason(timedOut, interrupted).c_str());
    SetWaitError(AmazonErrors::kVolumeCreate, timedOut, interrupted, AmazonTaskErrors::kVolumeAdvice);
    return false;
}

bool CAmazonTaskUtils::CreateVolumeFromSnapshot(const std::string& snapshotId, const std::string& zone,
                                                const std::string& region, const std::string& name,
                                                const std::string& sourceType, const std::string& targetType,
                                                int sourceIops, int targetIops, long long sizeBytes, bool encrypted,
                                                const std::string& kmsKeyId, std::string& newVolumeId,
                                                const std::map<std::string, std::string>& tags,
                                                bool useSourceAccount, const std::string& outpostArn,
                                                const std::function<void(const std::string&)>& onCreated) {
    return RunCall(__func__, useSourceAccount, AmazonErrors::kVolumeCreate, [&] {
        return _CreateVolumeFromSnapshot(snapshotId, zone, region, name, sourceType, targetType, sourceIops,
                                         targetIops, sizeBytes, encrypted, kmsKeyId, newVolumeId, tags, outpostArn,
                                         onCreated);
    });
}

bool CAmazonTaskUtils::_CreateVolumeFromSnapshot(const std::string& snapshotId, const std::string& zone,
                                                 const std::string& region, const std::string& name,
                                                 const std::string& sourceType, const std::string& targetType,
                                                 int sourceIops, int targetIops, long long sizeBytes, bool encrypted,
                                                 const std::string& kmsKeyId, std::string& newVolumeId,
                                                 const std::map<std::string, std::string>& tags,
                                                 const std::string& outpostArn,
                                                 const std::function<void(const std::string&)>& onCreated) {
    m_checkQuitFlag = true;
    newVolumeId.clear();
    EvDebug::Debug(__PRETTY_FUNCTION__,
                   "Requesting volume creation from snapshot [%s]. volume type:[%s->%s] iops:[%d->%d] size:[%s] "
                   "encrypted:[%s] keyId:[%s]",
                   snapshotId.c_str(), sourceType.c_str(), targetType.c_str(), sourceIops, targetIops,
                   WithThousands(sizeBytes).c_str(), encrypted ? "true" : "false", kmsKeyId.c_str());
    if (!GetAmazonSDKBridge()->CreateVolume(snapshotId, zone, name, targetType, targetIops, sizeBytes, encrypted,
                                            kmsKeyId, newVolumeId, tags, false, outpostArn)) {
        const std::string error = BridgeError();
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to create new volume.Error [%s]", error.c_str());
        SetOwnerError(CreateRequestError(error), error);
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] created ; will wait for the completion. ", newVolumeId.c_str());
    // The caller records the volume before anything else can fail or the
    // process can die: the wait below talks to the cloud again.
    if (onCreated) onCreated(newVolumeId);
    bool timedOut = false;
    bool interrupted = false;
    if (WaitForVolumeTask(newVolumeId, VolumeAvailable, region, 0, timedOut, interrupted)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] created successfully in zone [%s].", newVolumeId.c_str(),
                       zone.c_str());
        return true;
    }
    // newVolumeId stays set: the volume exists, so the caller must register
    // and remove it rather than lose track of it.
    EvDebug::Error(__PRETTY_FUNCTION__, "Failed to create volume [%s] from snapshot [%s], Error [%s]",
                   newVolumeId.c_str(), snapshotId.c_str(), WaitFailureReason(timedOut, interrupted).c_str());
    SetWaitError(AmazonErrors::kVolumeCreate, timedOut, interrupted, AmazonTaskErrors::kVolumeAdvice);
    return false;
}
