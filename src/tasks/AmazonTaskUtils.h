#pragma once
// CAmazonTaskUtils: issues asynchronous AWS requests through the bridge and
// polls until the resource reaches the wanted state, the job is cancelled or
// the time-out from the settings expires. Failures are recorded as the
// owner's last error (code and details).
//
// Requests go to the admin bridge unless use-source-account is set for the
// call (the admin bridge is the source bridge when no admin account exists).
// Every sleep goes through the framework clock in 5-second steps.
//
// Not thread-safe: an object serves one job thread (the use-source-account
// flag is per call state).
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

class CAmazonSDKBridge;
class CAmazonInfo;

class CAmazonTaskUtils {
public:
    enum VolumeState { VolumeAvailable = 1, VolumeInUse = 2, VolumeDetached = 3, VolumeDeleted = 4 };
    enum VolumeModificationState { ModCompleted = 1, ModFailed = 2, ModModifying = 3, ModOptimizing = 4 };
    enum SnapshotState { SnapshotCompleted = 0, SnapshotPending = 1 };

    CAmazonTaskUtils(CAmazonSDKBridge* sourceBridge, CAmazonSDKBridge* adminBridge, CAmazonInfo* owner);

    // The owner replaced its admin bridge (a later connect with other admin
    // credentials).
    void SetBridges(CAmazonSDKBridge* sourceBridge, CAmazonSDKBridge* adminBridge) {
        m_sourceBridge = sourceBridge;
        m_adminBridge = adminBridge;
    }
    CAmazonSDKBridge* SourceBridge() const { return m_sourceBridge; }
    CAmazonSDKBridge* AdminBridge() const { return m_adminBridge; }
    CAmazonInfo* Owner() const { return m_owner; }
    // The bridge requests go to: source when use-source-account is set.
    CAmazonSDKBridge* GetAmazonSDKBridge() const;

    // ---- requests and waits; true on success ----
    // disk: zone and properties in; disk.newVolumeId filled by the bridge.
    bool CreateEmptyVolume(VMInfoStructs::SDisk& disk, const std::string& region, const std::string& option);
    // newVolumeId is filled as soon as the volume exists, also when the
    // wait then fails, so that the caller can register and remove it.
    bool CreateVolumeFromSnapshot(const std::string& snapshotId, const std::string& zone, const std::string& region,
                                  const std::string& name, const std::string& sourceType, const std::string& targetType,
                                  int sourceIops, int targetIops, long long sizeBytes, bool encrypted,
                                  const std::string& kmsKeyId, std::string& newVolumeId,
                                  const std::map<std::string, std::string>& tags, bool useSourceAccount,
                                  const std::string& outpostArn);
    bool AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                      const std::string& region, bool flag, const std::string& device, bool useSourceAccount);
    bool AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                          const std::string& region, bool flag, const std::string& device, bool useSourceAccount);
    // Detaches disk.newVolumeId when set, else disk.volumeId.
    bool DetachVolume(const VMInfoStructs::SDisk& disk, const std::string& region, bool retryWithForce,
                      bool& wasForced, bool useSourceAccount);
    bool DetachVolume(const VMInfoStructs::SDisk& disk, const std::string& region, bool useSourceAccount);
    // Deletes disk.newVolumeId when set, else disk.volumeId.
    bool DeleteVolume(const VMInfoStructs::SDisk& disk, bool useSourceAccount);
    bool ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& volumeType, int iops);
    bool CompleteAMITask(const std::string& amiId, const std::string& region, bool useSourceAccount,
                         int64_t* durationSeconds = nullptr);
    bool CompleteSnapshotTask(const std::vector<std::string>& snapshotIds, const std::string& region,
                              bool useSourceAccount);
    bool CompleteInstanceValidationTask(const std::string& instanceId, const std::string& region,
                                        bool useSourceAccount);

    // Sleeps in 5-second steps; false when the job was cancelled meanwhile
    // (checked only while check-quit-flag is set).
    bool SleepWithQuitFlagCheck(int64_t seconds);
    void SaveInstanceScreenshot(const std::string& instanceId, const std::string& folder);
    bool GetTempDirectoryForInstance(const std::string& instanceId, std::string& path);

    bool CheckQuitFlag() const { return m_checkQuitFlag; }
    bool UseSourceAccount() const { return m_useSourceAccount; }

private:
    CAmazonSDKBridge* m_sourceBridge;
    CAmazonSDKBridge* m_adminBridge;
    CAmazonInfo* m_owner;
    bool m_checkQuitFlag = true;
    bool m_useSourceAccount = false;
};
