#pragma once
// CVMInfo: the framework's hypervisor interface and base class. The
// framework drives every job through these virtual slots; a hypervisor
// plug-in overrides the ones it supports. The defaults here are what the
// framework does for a hypervisor that does not implement a slot: record
// error kErrNotSupported with a text naming the slot and report failure.
//
// One framework thread calls an object at a time, except the disk read slot,
// which the data mover may call from several reader threads.
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "framework/FrameworkApi.h"
#include "framework/KDPI.h"
#include "records/AmazonRecords.h"
#include "records/JobContexts.h"
#include "records/VMInfoStructs.h"

class CVMInfo;
using IVMInfo = CVMInfo;

// Error code the framework's default slots set.
constexpr EVMInfoError kErrNotSupported = 242;
// The job was asked to stop.
constexpr EVMInfoError kErrJobCancelled = 4000;

class FW_API CVMInfo {
public:
    explicit CVMInfo(VirtualServerInstanceType type);
    virtual ~CVMInfo();
    CVMInfo(const CVMInfo&) = delete;
    CVMInfo& operator=(const CVMInfo&) = delete;

    using SVMInfo = VMInfoStructs::SVMInfo;
    using SDisk = VMInfoStructs::SDisk;
    using SInventoryInfo = VMInfoStructs::SInventoryInfo;
    using SHostInfo = VMInfoStructs::SHostInfo;
    using SDataCenterInfo = VMInfoStructs::SDataCenterInfo;

    // ---- connection ----
    virtual int Connect(const std::string& url, const std::string& user, const std::string& password);
    virtual int Connect(const std::string& url, const std::string& user, const std::string& password,
                        const std::vector<SHostCredentials>& credentials);
    virtual int Disconnect();

    // ---- inventory ----
    virtual int BrowseInventory(const std::string& path, const SInventoryInfo& parent,
                                std::vector<SInventoryInfo>& out, ULONGLONG flags, int option);
    virtual int GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host,
                               ULONGLONG flags, int option, SVMInfo& vm);
    virtual int GetHostInfoForHost(const std::string& zone, ULONGLONG flags, int option, SHostInfo& host);
    virtual int GetVMInfoListForTag(const std::string& name, const std::string& guid, EInventoryType type,
                                    ULONGLONG flags, int option, std::vector<SVMInfo>& vms);
    virtual int GetVMInfoListForInstanceSize(const std::string& guid, ULONGLONG flags, int option,
                                             std::vector<SVMInfo>& vms);
    virtual bool GetVMInfoListForInventoryObject(const std::string& guid, EInventoryType type, ULONGLONG flags,
                                                 int option, std::vector<SVMInfo>& vms);
    virtual int GetLocalHostInfo(SHostInfo& host, ULONGLONG flags, int option);
    virtual int GetLocalVMInfo(SVMInfo& vm, ULONGLONG flags, int option);
    virtual int GetInventoryInfoList(std::vector<SInventoryInfo>& out, ULONGLONG flags, int option);
    virtual bool GetVMInventoryInfoListForHost(const std::string& zone, std::vector<SInventoryInfo>& out,
                                               ULONGLONG flags, int option);
    virtual int GetAvailableVMSizesForHost(const std::string& region, std::vector<VMInfoStructs::SVMSizeInfo>& sizes,
                                           ULONGLONG flags, int option);
    virtual int GetRolesForHost(const std::string& region, std::vector<VMInfoStructs::SRoleInfo>& roles,
                                ULONGLONG flags, int option);
    virtual int GetImageList(const std::string& a, const std::string& b, const std::string& c,
                             std::vector<VMInfoStructs::SImageInfo>& images);
    virtual int GetVolumeTypeListForHost(const std::string& region, std::vector<VMInfoStructs::SVolumeTypeInfo>& types);
    virtual int GetVolumeEncryptionKeyListForHost(const std::string& region,
                                                  std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys);

    // ---- backup ----
    virtual int MountVM(MountCtx& ctx);
    virtual int UnmountVM(MountCtx& ctx);
    virtual int CleanupVM(MountCtx& ctx);
    virtual int GetFileMountInfo(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFile>& files);
    virtual int GetFullMountInfo(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFull>& items);
    virtual int CollectMetadata(MountCtx& ctx);
    virtual bool ValidateChangeId(const std::string& vmName, const std::string& vmGuid, const std::string& diskName,
                                  const std::string& changeId);
    virtual int PostBackupVM(MountCtx& ctx);

    // ---- restore and replication ----
    virtual int InitRestoreVM(const RestoreCtx& ctx);
    virtual int PreRestoreVM(const RestoreCtx& ctx);
    virtual int RestoreVM(const RestoreCtx& ctx);
    virtual int PostRestoreVM(const RestoreCtx& ctx);
    virtual int CloseRestoreVM(const RestoreCtx& ctx);
    virtual int CleanupRestoreVM(const RestoreCtx& ctx);
    virtual int InitRecast(const RestoreCtx& ctx);
    virtual int FinalizeRecast(const RestoreCtx& ctx);
    virtual int CleanupRecast(const RestoreCtx& ctx);

    // ---- guest files ----
    virtual int BrowseGuest(const GuestCtx& ctx, const std::string& path, std::vector<VMInfoStructs::SGuestFile>& files);
    virtual int CreateGuestFolder(const GuestCtx& ctx, const std::string& folder);
    virtual int CopyFileToGuest(const GuestCtx& ctx, const std::string& source, const std::string& destination, bool flag);
    virtual int PrepareGuestForFileCopy(const GuestCtx& ctx);
    virtual int ExecuteScriptInGuest(const GuestCtx& ctx, const std::string& scriptFile, const std::string& a,
                                     const std::string& parameters, int timeoutSeconds, const std::string& b,
                                     int& exitCode);
    virtual int ExecuteScriptInGuest(const GuestCtx& ctx, const std::string& scriptText, int timeoutSeconds);

    // ---- operations ----
    virtual int PerformVMOperation(OperationCtx& ctx);
    virtual int PerformVMOperation(SVMInfo& vm, EVMOperation op, std::string& out);
    virtual int GetStreamLimit();
    virtual int PerformStorageOperation(StorageOperationCtx& ctx);

    // ---- snapshot manager ----
    virtual int GetMetadataFiles(const MountCtx& ctx, std::vector<std::string>& files, int type);
    virtual int GetAFileID(const MountCtx& ctx, const std::string& name, DiskType_t type, unsigned int& id);
    virtual std::string GetSnapMountInfo();
    virtual bool SetSnapMountInfo(const std::string& text);
    virtual int PreSnap(MountCtx& ctx);
    virtual int PostSnap(MountCtx& ctx);
    virtual int MountSnap(const MountCtx& ctx);
    virtual int UnmountSnap(MountCtx& ctx);
    virtual int RevertSnap(MountCtx& mctx, const RestoreCtx& rctx);

    // ---- disks ----
    virtual int OpenVmdk(const std::string& vmName, const std::string& vmGuid, const std::string& diskId,
                         VmdkHandle& handle);
    virtual int CreateVmdk(const std::string& vmName, const std::string& vmGuid, const std::string& diskId,
                           ULONGLONG size, VmdkHandle& handle);
    virtual int CloseVmdk(VmdkHandle& handle);
    virtual int GetVmdkInfo(const VmdkHandle& handle, SDisk& disk);
    virtual int GetVmdkMetadata(const VmdkHandle& handle, std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata);
    virtual int GetVmdkExtents(const VmdkHandle& handle, const std::string& changeId, ULONGLONG start,
                               VMInfoStructs::SDiskChangeInfo& changes);
    // Reads sectorCount sectors from startSector into buffer; returns 0 on
    // success and 1 on failure. May be called from several reader threads at
    // once.
    virtual int ReadVmdk(const VmdkHandle& handle, ULONGLONG startSector, unsigned int sectorCount, void* buffer);
    virtual int GetVmdkTagList(const VmdkHandle& handle, std::vector<VMInfoStructs::SDiskMetadataInfo>& tags);
    virtual int SetVmdkTagList(const VmdkHandle& handle, const std::vector<VMInfoStructs::SDiskMetadataInfo>& tags);

    // ---- networks ----
    virtual bool CreateNetwork(VMInfoStructs::SNetworkInfo& net, std::string option,
                               VMInfoStructs::SHostNetworkAdapterInfo adapter);
    virtual bool DeleteNetwork(VMInfoStructs::SNetworkInfo& net, std::string option,
                               VMInfoStructs::SHostNetworkAdapterInfo adapter);

    // ---- disk filters: true when the disk is excluded ----
    virtual bool IsDiskFilteredByPattern(const SDisk& disk, const std::string& pattern);
    virtual bool IsDiskFilteredByVirtualDeviceNode(const SDisk& disk, const std::string& node);
    virtual bool IsDiskFilteredByType(const SDisk& disk, int type);
    virtual bool IsDiskFilteredByTag(const SDisk& disk, const std::string& tagName, const std::string& tagValue);

    // ---- framework services ----
    EVMInfoError GetLastVMError() const;
    std::string GetLastVMErrorDetails() const;
    void SetLastVMError(EVMInfoError code);   // 0 also clears the details
    void SetLastVMError(EVMInfoError code, const std::string& message);
    void SetLastVMErrorDetails(const std::string& text);

    // True once the job was asked to stop: per object, or for the whole
    // process (the host's cancel).
    bool IsJobCancelled() const;
    void SetJobCancelled(bool cancelled) { m_cancelled = cancelled; }
    static void SetProcessJobCancelled(bool cancelled);

    void AddFailure(const std::string& name, const std::string& reason, bool flag = false);
    void AddMountFailure(const std::string& name, const std::string& reason, bool flag = false);
    void AddRestoreFailure(const std::string& name, const std::string& reason, bool flag = false);
    const std::vector<SFailure>& GetFailures() const { return m_failures; }

    VirtualServerInstanceType GetInstanceType() const { return m_instanceType; }
    EvEvent& GetEventContext() { return m_event; }
    const std::vector<SDataCenterInfo>& GetDCInfoCache() const { return m_dcCache; }
    const std::vector<SHostInfo>& GetHostInfoCache() const { return m_hostCache; }
    const std::string& GetConnectUrl() const { return m_strURL; }
    const std::string& GetConnectUser() const { return m_strUser; }

    // ---- services for job operations ----
    // True when one of the job's filter rules excludes the disk (asks the
    // filter slots).
    bool IsDiskFiltered(const MountCtx& ctx, const SDisk& disk);
    // The framework persists the job's cleanup string with the job (under
    // <base>/Cleaner/strings, keyed by the job's VM GUID; an empty text
    // removes it), so that a later clean-up of a dead job gets it back.
    void SaveCleanupString(MountCtx& ctx, const std::string& text);
    static std::string LoadCleanupString(const std::string& vmGuid);
    // Snapshot progress for the job's report (percent 0..100, status).
    void NotifySnapshotCreate(const std::string& vmName, const std::string& vmGuid, int percent, int status);
    struct SnapshotProgress {
        std::string vmGuid;
        int percent;
        int status;
    };
    std::vector<SnapshotProgress> GetSnapshotProgress() const;
    // True when LVM's metadata daemon is not running on this machine.
    bool CheckLVMetaDDisabled();
    bool _PrepareMountPathDirectory(const std::string& path, int flag);
    // Fills the parsed guest OS information; returns the framework's OS code.
    static int ParseRawGuestOSName(const std::string& raw, VMInfoStructs::SGuestOSInfo& info);
    void UpdateMountCtxReferenceTimeWIthCurrentTime(MountCtx& ctx);

    // ---- snap backups: archive files of the framework's job ----
    // Reserves one archive file (per volume, or per instance) of the snap
    // backup; 1 with its id set, 0 when the framework cannot.
    virtual int CreateArchiveFileForSnapBackup(MountCtx& ctx, uint32_t& archiveFileId, const std::string& name);
    // Tells the framework not to wait for these archive files; false when
    // it cannot.
    virtual bool InvalidateArchiveFiles(int64_t jobId, int32_t hubCellId, const std::vector<uint32_t>& ids);
    const std::vector<uint32_t>& GetInvalidatedArchiveFiles() const { return m_invalidatedArchiveFiles; }
    // The snapshot phase's progress for the job's report.
    void NotifyProgressUpdate(const MountCtx& ctx);
    int GetProgressUpdates() const { return m_progressUpdates; }
    // Starts the application-aware part of a snap backup for one instance
    // (the agent's in-guest quiescing); the job goes on whatever it does,
    // so it reports nothing back. The instances it was started for are kept
    // for the job's report.
    virtual void StartAppawareWorkflow(MountCtx& ctx, const SVMBasicInfo& vm);
    const std::vector<std::string>& GetAppawareInstances() const { return m_appawareInstances; }

    // Refresh of the region and zone caches; the plug-in overrides both.
    virtual int _RefreshHostInfoCache(ULONGLONG flags, int option);
    virtual int _RefreshDCInfoCache(ULONGLONG flags, int option);

protected:
    void ResetCaches();
    // True when the zone cache is empty or was invalidated.
    bool IsNewHostDiscoveryReq() const;
    bool getBiosInfo(std::string& manufacturer, std::string& product, std::string& uuid, std::string& version);

    // Records failure of a slot the hypervisor does not implement.
    int NotSupported(const char* slot, int failureValue = 0);

    std::string m_strURL;
    std::string m_strUser;
    std::string m_strPassword;
    VirtualServerInstanceType m_instanceType;
    std::string m_webProxyHost;
    std::string m_webProxyUser;
    std::string m_webProxyPassword;
    std::vector<SDataCenterInfo> m_dcCache;
    std::vector<SHostInfo> m_hostCache;
    bool m_hostCacheValid = false;
    EvEvent m_event;

private:
    mutable std::mutex m_errorLock;   // reader threads may fail concurrently
    EVMInfoError m_lastError = 0;
    std::string m_lastErrorDetails;
    std::atomic<bool> m_cancelled{false};
    std::vector<SFailure> m_failures;
    std::vector<SnapshotProgress> m_snapshotProgress;
    std::vector<uint32_t> m_invalidatedArchiveFiles;
    std::vector<std::string> m_appawareInstances;
    int m_progressUpdates = 0;
};
