#pragma once
// The snapshot manager's engine: how it reaches the cloud that holds the
// volumes. The framework knows no cloud; the library that does (the AWS
// bridge) installs an engine when it is loaded. Without one every snapshot
// request is refused.
//
// An engine is called from the job threads of the process at once, so it
// must be thread-safe. Each call takes the account to act in; on failure it
// returns false with an error text that holds no secret.
#include <cstdint>
#include <memory>
#include <string>

#include "framework/FrameworkApi.h"

// The account a snapshot array stands for.
struct FW_API SnapArrayAccount {
    std::string url;         // region or endpoint
    std::string accessKey;
    std::string secretKey;
};

class FW_API ISnapEngine {
public:
    virtual ~ISnapEngine();
    // Starts a snapshot of the volume; snapshotId is set on success.
    virtual bool CreateSnapshot(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
                                const std::string& name, const std::string& description, std::string& snapshotId,
                                std::string& error) = 0;
    // state: the cloud's text ("pending", "completed", "error").
    virtual bool GetSnapshotState(const SnapArrayAccount& account, const std::string& region,
                                  const std::string& snapshotId, std::string& state, std::string& error) = 0;
    virtual bool DeleteSnapshot(const SnapArrayAccount& account, const std::string& region,
                                const std::string& snapshotId, std::string& error) = 0;
    // Starts a copy of the completed snapshot within its region, encrypted
    // under kmsKeyId (a key ARN the account may use); copyId is set on
    // success. Nothing else happens in the call, so that the caller can
    // record the copy before anything more can fail or stop the process.
    virtual bool CopySnapshot(const SnapArrayAccount& account, const std::string& region,
                              const std::string& snapshotId, const std::string& kmsKeyId, std::string& copyId,
                              std::string& error) = 0;
    // Sets the snapshot's Name tag.
    virtual bool NameSnapshot(const SnapArrayAccount& account, const std::string& region,
                              const std::string& snapshotId, const std::string& name, std::string& error) = 0;

    // ---- volumes made from snapshots ----
    // Starts a volume from the snapshot in zone (type empty: the snapshot's;
    // iops 0: the type's default; kmsKeyId empty: the snapshot's key, or
    // the account's default one when encrypt asks for encryption of an
    // unencrypted snapshot); volumeId is set on success.
    virtual bool CreateVolume(const SnapArrayAccount& account, const std::string& region,
                              const std::string& snapshotId, const std::string& zone, const std::string& name,
                              const std::string& type, int iops, bool encrypt, const std::string& kmsKeyId,
                              std::string& volumeId, std::string& error) = 0;
    // state: the cloud's text ("creating", "available", "in-use", "error",
    // "gone" once it no longer exists); attachState: "attaching",
    // "attached", "detaching" or empty.
    virtual bool GetVolumeState(const SnapArrayAccount& account, const std::string& region,
                                const std::string& volumeId, std::string& state, std::string& attachState,
                                std::string& error) = 0;
    // device: the attachment's device name on the instance once requested.
    virtual bool AttachVolume(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
                              const std::string& instanceId, std::string& error) = 0;
    virtual bool DetachVolume(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
                              std::string& error) = 0;
    virtual bool DeleteVolume(const SnapArrayAccount& account, const std::string& region, const std::string& volumeId,
                              std::string& error) = 0;
};

namespace FwSnapEngine {
// Installs the process's engine; null removes it.
FW_API void Install(std::shared_ptr<ISnapEngine> engine);
FW_API std::shared_ptr<ISnapEngine> Get();
// The account each snap control host (array number) stands for. Kept in
// memory only: an array's secret key is never written to the manager's
// store (a mount in progress keeps its account's sealed, SnapStore.h).
FW_API void RegisterArray(uint32_t arrayNumber, const SnapArrayAccount& account);
FW_API void UnregisterArray(uint32_t arrayNumber);
FW_API bool LookupArray(uint32_t arrayNumber, SnapArrayAccount& account);
}  // namespace FwSnapEngine
