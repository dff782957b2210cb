// Changing a volume's type or IOPS.
#include "bridge/AmazonSDKBridge.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskErrors.h"
#include "tasks/AmazonTaskUtils.h"

bool CAmazonTaskUtils::ModifyVolume(const std::string& volumeId, const std::string& region,
                                    const std::string& volumeType, int iops) {
    return RunCall(__func__, false, AmazonErrors::kAttachOrModify,
                   [&] { return _ModifyVolume(volumeId, region, volumeType, iops); });
}

bool CAmazonTaskUtils::_ModifyVolume(const std::string& volumeId, const std::string& region,
                                     const std::string& volumeType, int iops) {
    m_checkQuitFlag = true;
    EvDebug::Debug(__PRETTY_FUNCTION__, "Modifying  volume : [%s]", volumeId.c_str());
    if (!GetAmazonSDKBridge()->ModifyVolume(volumeId, region, volumeType, iops)) {
        const std::string error = BridgeError();
        EvDebug::Error(__PRETTY_FUNCTION__, "Failed to modify volume [%s]. Error [%s]", volumeId.c_str(),
                       error.c_str());
        SetOwnerError(AmazonErrors::kAttachOrModify, error);
        return false;
    }
    // The volume is usable with its new settings once it is optimizing;
    // waiting for completion can take hours and is only done on request.
    const int wanted = WaitForModificationCompletion() ? ModCompleted : ModOptimizing;
    bool timedOut = false;
    bool interrupted = false;
    if (WaitForVolumeModifyTask(volumeId, wanted, region, timedOut, interrupted)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s] modified.", volumeId.c_str());
        return true;
    }
    EvDebug::Error(__PRETTY_FUNCTION__, "Failed to modify volume [%s], Error [%s]", volumeId.c_str(),
                   WaitFailureReason(timedOut, interrupted).c_str());
    SetWaitError(AmazonErrors::kAttachOrModify, timedOut, interrupted, AmazonTaskErrors::kVolumeModifyAdvice);
    return false;
}
