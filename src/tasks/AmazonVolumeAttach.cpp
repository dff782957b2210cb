// Attaching, detaching and deleting volumes. None of these waits stops for a
// cancelled job: leaving a volume half attached or half detached would leave
// the proxy in a state the clean-up cannot rely on.
#include "bridge/AmazonSDKBridge.h"
#include "common/RegionScope.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskErrors.h"
#include "tasks/AmazonTaskUtils.h"

namespace {

constexpr int kDetachTimeoutMin = 2;
constexpr int kForcedDetachTimeoutMin = 10;

// The volume a disk record stands for on the proxy: only ever the staged
// (new) volume. A record without one names the protected instance's own
// volume, which a detach or delete must never reach; a caller that means a
// specific volume puts it in the new-volume field.
const std::string& TargetVolume(const VMInfoStructs::SDisk& disk) { return disk.newVolumeId; }

int AttachRequestError(bool conflict, const std::string& bridgeText) {
    if (conflict) return AmazonErrors::kAttachConflict;
    if (bridgeText.find(AmazonTaskErrors::kIopsLimitText) != std::string::npos) return AmazonErrors::kIopsLimit;
    return AmazonErrors::kAttachOrModify;
}

// AWS's refusal to delete a volume whose create has not ended.
bool IsStillCreating(const std::string& bridgeText) {
    return bridgeText.find("IncorrectState") != std::string::npos && bridgeText.find("'creating'") != std::string::npos;
}

}  // namespace

bool CAmazonTaskUtils::AttachVolume(const std::string& volumeId, const std::string& instanceId,
                                    const std::string& zone, const std::string& region, bool flag,
                                    const std::string& device, bool useSourceAccount) {
    return RunCall(__func__, useSourceAccount, AmazonErrors::kAttachOrModify,
                   [&] { return _AttachVolume(volumeId, instanceId, zone, region, flag, device, false); });
}

bool CAmazonTaskUtils::AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId,
                                        const std::string& zone, const std::string& region, bool flag,
                                        const std::string& device, bool useSourceAccount) {
    return RunCall(__func__, useSourceAccount, AmazonErrors::kAttachOrModify,
                   [&] { return _AttachVolume(volumeId, instanceId, zone, region, flag, device, true); });
}

bool CAmazonTaskUtils::_AttachVolume(const std::string& volumeId, const std::string& instanceId,
                                     const std::string& zone, const std::string& region, bool flag,
                                     const std::string& device, bool asOSVolume) {
    m_checkQuitFlag = false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Attaching volume [%s] to instance id [%s]", volumeId.c_str(),
                   instanceId.c_str());
    CAmazonSDKBridge* bridge = GetAmazonSDKBridge();
    // The request goes where the wait looks, not wherever the bridge was
    // last pointed.
    const AmazonCommon::BridgeRegionScope inRegion(*bridge, region);
    bool conflict = false;
    const bool requested = asOSVolume ? bridge->AttachAsOSVolume(volumeId, instanceId, zone, flag, device, conflict, false)
                                      : bridge->AttachVolume(volumeId, instanceId, zone, flag, device, conflict, false);
    if (!requested) {
        const std::string error = BridgeError();
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to attach volume [%s] to instance [%s]. Error [%s]",
                       volumeId.c_str(), instanceId.c_str(), error.c_str());
        SetOwnerError(AttachRequestError(conflict, error), error);
        return false;
    }
    bool timedOut = false;
    bool interrupted = false;
    if (WaitForVolumeTask(volumeId, VolumeInUse, region, 0, timedOut, interrupted)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] attached to instance [%s].", volumeId.c_str(),
                       instanceId.c_str());
        return true;
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "Failed to attach volume [%s], Error [%s]", volumeId.c_str(),
                   WaitFailureReason(timedOut, interrupted).c_str());
    SetWaitError(AmazonErrors::kAttachOrModify, timedOut, interrupted, AmazonTaskErrors::kVolumeAdvice);
    return false;
}

bool CAmazonTaskUtils::DetachVolume(const VMInfoStructs::SDisk& disk, const std::string& region,
                                    bool retryWithForce, bool& wasForced, bool useSourceAccount) {
    wasForced = false;
    return RunCall(__func__, useSourceAccount, AmazonErrors::kErrDetachFailed, [&] {
        const std::string& volumeId = TargetVolume(disk);
        bool timedOut = false;
        if (_DetachVolume(volumeId, region, false, timedOut)) return true;
        if (!timedOut || !retryWithForce) return false;
        wasForced = true;
        return _DetachVolume(volumeId, region, true, timedOut);
    });
}

bool CAmazonTaskUtils::DetachVolume(const VMInfoStructs::SDisk& disk, const std::string& region,
                                    bool useSourceAccount) {
    bool wasForced = false;
    return DetachVolume(disk, region, false, wasForced, useSourceAccount);
}

bool CAmazonTaskUtils::_DetachVolume(const std::string& volumeId, const std::string& region, bool force,
                                     bool& timedOut) {
    m_checkQuitFlag = false;
    timedOut = false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Detaching volume [%s] Force [%s]", volumeId.c_str(),
                   force ? "true" : "false");
    const AmazonCommon::BridgeRegionScope inRegion(*GetAmazonSDKBridge(), region);
    if (volumeId.empty() || !GetAmazonSDKBridge()->DetachVolume(volumeId, force, false)) {
        const std::string error = volumeId.empty() ? std::string("the disk names no volume") : BridgeError();
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to detach volume [%s]. Error [%s]", volumeId.c_str(),
                       error.c_str());
        SetOwnerError(AmazonErrors::kErrDetachFailed, error);
        return false;
    }
    bool interrupted = false;
    const int timeoutMin = force ? kForcedDetachTimeoutMin : kDetachTimeoutMin;
    if (WaitForVolumeTask(volumeId, VolumeDetached, region, timeoutMin, timedOut, interrupted)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] detached.", volumeId.c_str());
        return true;
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "Failed to detach volume [%s], Error [%s]", volumeId.c_str(),
                   WaitFailureReason(timedOut, interrupted).c_str());
    SetWaitError(AmazonErrors::kErrDetachFailed, timedOut, interrupted, AmazonTaskErrors::kVolumeAdvice);
    return false;
}

bool CAmazonTaskUtils::DeleteVolume(const VMInfoStructs::SDisk& disk, bool useSourceAccount) {
    return RunCall(__func__, useSourceAccount, 0, [&] { return _DeleteVolume(TargetVolume(disk)); });
}

bool CAmazonTaskUtils::_DeleteVolume(const std::string& volumeId) {
    m_checkQuitFlag = false;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Deleting volume [%s]", volumeId.c_str());
    bool deleted = !volumeId.empty() && GetAmazonSDKBridge()->DeleteVolume(volumeId, true);
    // A job that died (or failed) right after asking for a volume leaves it
    // "creating", and AWS refuses to delete it until it is available: wait
    // for the create to end, then delete it.
    if (!deleted && !volumeId.empty() && IsStillCreating(BridgeError())) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] is still being created; waiting to delete it.",
                       volumeId.c_str());
        bool timedOut = false, interrupted = false;
        if (WaitForVolumeTask(volumeId, VolumeAvailable, "", 0, timedOut, interrupted))
            deleted = GetAmazonSDKBridge()->DeleteVolume(volumeId, true);
    }
    if (!deleted) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to delete Volume [%s]", volumeId.c_str());
        return false;
    }
    EvDebug::Debug(__PRETTY_FUNCTION__, "Successfully deleted volume [%s]", volumeId.c_str());
    return true;
}
