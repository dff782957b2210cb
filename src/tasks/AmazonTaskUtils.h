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
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "records/VMInfoStructs.h"

class CAmazonSDKBridge;
class CVMInfo;

class CAmazonTaskUtils {
public:
    enum VolumeState { VolumeAvailable = 1, VolumeInUse = 2, VolumeDetached = 3, VolumeDeleted = 4 };
    enum VolumeModificationState { ModCompleted = 1, ModFailed = 2, ModModifying = 3, ModOptimizing = 4 };
    enum SnapshotState { SnapshotCompleted = 0, SnapshotPending = 1 };

    CAmazonTaskUtils(CAmazonSDKBridge* sourceBridge, CAmazonSDKBridge* adminBridge, CVMInfo* owner);

    // The owner replaced its admin bridge (a later connect with other admin
    // credentials).
    void SetBridges(CAmazonSDKBridge* sourceBridge, CAmazonSDKBridge* adminBridge) {
        m_sourceBridge = sourceBridge;
        m_adminBridge = adminBridge;
    }
    CAmazonSDKBridge* SourceBridge() const { return m_sourceBridge; }
    CAmazonSDKBridge* AdminBridge() const { return m_adminBridge; }
    CVMInfo* Owner() const { return m_owner; }
    // The bridge requests go to: source when use-source-account is set.
    CAmazonSDKBridge* GetAmazonSDKBridge() const;

    // ---- requests and waits; true on success ----
    // disk: zone and properties in; disk.newVolumeId filled by the bridge,
    // also when the wait then fails (the volume exists and is the caller's).
    // onCreated hears of the volume before the wait, so that a job killed
    // while it waits has registered it.
    bool CreateEmptyVolume(VMInfoStructs::SDisk& disk, const std::string& region, const std::string& option,
                           bool useSourceAccount = false,
                           const std::function<void(const std::string&)>& onCreated = nullptr);
    // newVolumeId is filled as soon as the volume exists, also when the
    // wait then fails, so that the caller can register and remove it.
    bool CreateVolumeFromSnapshot(const std::string& snapshotId, const std::string& zone, const std::string& region,
                                  const std::string& name, const std::string& sourceType, const std::string& targetType,
                                  int sourceIops, int targetIops, long long sizeBytes, bool encrypted,
                                  const std::string& kmsKeyId, std::string& newVolumeId,
                                  const std::map<std::string, std::string>& tags, bool useSourceAccount,
                                  const std::string& outpostArn,
                                  const std::function<void(const std::string&)>& onCreated = nullptr);
    bool AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                      const std::string& region, bool flag, const std::string& device, bool useSourceAccount);
    bool AttachAsOSVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                          const std::string& region, bool flag, const std::string& device, bool useSourceAccount);
    // Detaches disk.newVolumeId; fails when it is empty (never the source volume).
    bool DetachVolume(const VMInfoStructs::SDisk& disk, const std::string& region, bool retryWithForce,
                      bool& wasForced, bool useSourceAccount);
    bool DetachVolume(const VMInfoStructs::SDisk& disk, const std::string& region, bool useSourceAccount);
    // Deletes disk.newVolumeId; fails when it is empty (never the source volume).
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
    // What one poll loop came to.
    enum class WaitEnd { Succeeded, Failed, TimedOut, Interrupted };
    // One poll: true to stop (succeeded tells how); number counts the polls
    // of the wait from 1.
    using Poll = std::function<bool(int number, bool& succeeded)>;
    struct WaitTimes {
        int64_t timeoutSec;
        int64_t delaySec;
    };

    // Sleep and poll until the poll stops, the job is cancelled or the
    // time-out is reached. The time-out is counted on the framework clock
    // from the start of the wait, so a delay served in whole 5-second steps
    // (or a slow poll) cannot stretch it; the last sleep is cut to the time
    // left. The first poll follows the first delay, so even a time-out below
    // the delay polls once. A delay of 0 or less is one 5-second step.
    WaitEnd PollUntilDone(const WaitTimes& times, const Poll& poll, const std::function<void()>& onRunning);
    static bool Outcome(WaitEnd end, bool& timedOut, bool& interrupted);

    // ---- settings readers (section "VirtualServer") ----
    static WaitTimes VolumeWaitTimes(int defaultTimeoutMin);
    static WaitTimes VolumeModifyWaitTimes();
    static WaitTimes AMIWaitTimes();
    static WaitTimes InstanceValidationWaitTimes();
    // nAmazonWaitForVolumeModificationTask: wait for "Completed" rather than
    // "Optimizing".
    static bool WaitForModificationCompletion();
    // bSaveInstanceScreenshots.
    static bool SaveScreenshotsWhileValidating();

    // ---- waits: read the settings and run the inner loop ----
    bool WaitForVolumeTask(const std::string& volumeId, int state, const std::string& region, int defaultTimeoutMin,
                           bool& timedOut, bool& interrupted);
    bool _WaitForVolumeTask(const std::string& volumeId, int state, const std::string& region, int64_t timeoutSec,
                            int64_t delaySec, bool& timedOut, bool& interrupted);
    bool WaitForVolumeModifyTask(const std::string& volumeId, int state, const std::string& region, bool& timedOut,
                                 bool& interrupted);
    bool _WaitForVolumeModifyTask(const std::string& volumeId, int state, const std::string& region,
                                  int64_t timeoutSec, int64_t delaySec, bool& timedOut, bool& interrupted);
    bool WaitForAMITask(const std::string& amiId, bool& timedOut, bool& interrupted);
    bool _WaitForAMITask(const std::string& amiId, int64_t timeoutSec, int64_t delaySec, bool& timedOut,
                         bool& interrupted);
    bool WaitForSnapshotTask(const std::vector<std::string>& snapshotIds, int state, const std::string& region,
                             bool& timedOut, bool& interrupted);
    bool _WaitForSnapshotTask(const std::vector<std::string>& snapshotIds, int state, const std::string& region,
                              int64_t timeoutSec, int64_t delaySec, bool& timedOut, bool& interrupted);
    bool WaitForInstanceValidationTask(const std::string& instanceId, bool& timedOut, bool& interrupted);
    bool _WaitForInstanceValidationTask(const std::string& instanceId, int64_t timeoutSec, int64_t delaySec,
                                        bool& timedOut, bool& interrupted);

    // ---- single polls: true to stop polling, succeeded tells how ----
    bool IsVolumeTaskCompleted(const std::string& volumeId, int state, const std::string& region, bool& succeeded);
    bool IsVolumeModifyTaskCompleted(const std::string& volumeId, int state, const std::string& region,
                                     bool& succeeded);
    bool IsAMITaskCompleted(const std::string& amiId, bool& succeeded);
    bool IsSnapshotTaskCompleted(const std::string& snapshotId, int state, const std::string& region,
                                 bool& succeeded);
    bool IsInstanceValidationTaskCompleted(const std::string& instanceId, bool& succeeded);

    // ---- inner forms of the requests ----
    bool _CreateEmptyVolume(VMInfoStructs::SDisk& disk, const std::string& region, const std::string& option,
                            const std::function<void(const std::string&)>& onCreated);
    bool _CreateVolumeFromSnapshot(const std::string& snapshotId, const std::string& zone, const std::string& region,
                                   const std::string& name, const std::string& sourceType,
                                   const std::string& targetType, int sourceIops, int targetIops, long long sizeBytes,
                                   bool encrypted, const std::string& kmsKeyId, std::string& newVolumeId,
                                   const std::map<std::string, std::string>& tags, const std::string& outpostArn,
                                   const std::function<void(const std::string&)>& onCreated);
    bool _AttachVolume(const std::string& volumeId, const std::string& instanceId, const std::string& zone,
                       const std::string& region, bool flag, const std::string& device, bool asOSVolume);
    bool _DetachVolume(const std::string& volumeId, const std::string& region, bool force, bool& timedOut);
    bool _DeleteVolume(const std::string& volumeId);
    bool _ModifyVolume(const std::string& volumeId, const std::string& region, const std::string& volumeType,
                       int iops);
    bool _CompleteAMITask(const std::string& amiId, int64_t* durationSeconds);
    bool _CompleteSnapshotTask(const std::vector<std::string>& snapshotIds, const std::string& region);
    bool _CompleteInstanceValidationTask(const std::string& instanceId);

    // Records a wait's failure as the owner's last error: 4000 with "Job
    // interrupted" when the job was interrupted, else code with the advice
    // (time-out) or WaitFailure() as details.
    void SetWaitError(int code, bool timedOut, bool interrupted, const char* advice);
    // Why the last poll stopped without success: the resource's failed
    // state when the poll saw one, else the bridge's last error text.
    std::string WaitFailure() const;
    void SetOwnerError(int code, const std::string& details);
    // The bridge's last error text; empty without a bridge.
    std::string BridgeError() const;
    // Why a wait failed, for the log: interrupted, timed out or
    // WaitFailure().
    std::string WaitFailureReason(bool timedOut, bool interrupted) const;
    // Runs an inner form for one public call: sets use-source-account for
    // its duration and turns an escaping exception into failure with code.
    bool RunCall(const char* operation, bool useSourceAccount, int code, const std::function<bool()>& body);
    void MaybeSaveScreenshot(const std::string& instanceId, const std::string& folder, int pollNumber,
                             int64_t delaySec);

    CAmazonSDKBridge* m_sourceBridge;
    CAmazonSDKBridge* m_adminBridge;
    CVMInfo* m_owner;
    bool m_checkQuitFlag = true;
    bool m_useSourceAccount = false;
    // Set by a poll that saw its resource fail ("Volume [vol-1] is in state
    // [error]"); cleared when a wait starts.
    std::string m_waitFailure;
};
