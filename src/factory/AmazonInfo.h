#pragma once
// CAmazonInfo: the AWS plug-in object the framework obtains from
// CreateAmazonInfoObject. One framework thread calls an object at a time;
// several objects may live in one process and share the process-wide state
// declared at the end of the public members.
//
// Each banner names the files that define the members under it. A
// subsystem's own bookkeeping is a struct declared in its folder
// (restore/RestoreState.h, disk/ReadBridges.h, connect/ConnectedAccounts.h,
// snap/SnapState.h, guest/GuestState.h), held through one member.
#include <functional>
#include <map>
#include <set>
#include <memory>
#include <string>
#include <vector>

#include "common/BridgeSet.h"
#include "connect/ConnectedAccounts.h"
#include "disk/ReadBridges.h"
#include "guest/GuestState.h"
#include "framework/Locks.h"
#include "framework/VMInfo.h"
#include "records/AmazonSnapTransMeta.h"
#include "restore/RestoreMethods.h"
#include "restore/RestoreState.h"
#include "snap/SnapCrossAccountKeys.h"
#include "snap/SnapState.h"
#include "tasks/AmazonCleaner.h"

class CAmazonSDKBridge;
class CDiskMapper;
class CVMSnapUtil;
class CAmazonDiskInfo;
class CAmazonTaskUtils;
namespace AmazonDirectSnapshotAccessAPI { class CAmazonDirectSnapshotAccessAPIWrapper; }

// The framework's instance type of this plug-in.
constexpr VirtualServerInstanceType kAmazonInstanceType = 301;

class CAmazonInfo : public CVMInfo {
public:
    // Makes the bridges the object owns; tests substitute their own.
    using BridgeFactory = std::function<std::unique_ptr<CAmazonSDKBridge>()>;

    explicit CAmazonInfo(VirtualServerInstanceType type);
    CAmazonInfo(VirtualServerInstanceType type, BridgeFactory bridgeFactory);
    ~CAmazonInfo() override;

    // ---- the plug-in's own virtual operations: src/factory/AmazonInfo.cpp ----
    virtual int Init(bool hasAdminAccount);
    virtual int DeInit();

    // ---- connection: src/connect/AmazonConnect.cpp, AmazonCacheRefresh.cpp;
    //      GetStreamLimit and GetLocalVMInfo in AmazonProxyDetection.cpp ----
    // 0 with error 48 when an account cannot be reached.
    int Connect(const std::string& url, const std::string& user, const std::string& password) override;
    int Connect(const std::string& url, const std::string& user, const std::string& password,
                const std::vector<SHostCredentials>& credentials) override;
    int Disconnect() override;
    int GetStreamLimit() override;
    int GetLocalVMInfo(SVMInfo& vm, ULONGLONG flags, int option) override;
    int _RefreshHostInfoCache(ULONGLONG flags, int option) override;
    int _RefreshDCInfoCache(ULONGLONG flags, int option) override;

    // ---- proxy identity: src/connect/AmazonProxyDetection.cpp; each runs the
    //      detection until it succeeded ----
    bool DetectLocalProxyInformation();
    std::string GetProxyUUID();
    std::string GetProxyBiosId();
    std::string GetProxyRegion();
    bool IsProxyAmazonInstance();
    // BIOS values that make a machine an EC2 instance.
    static bool IsAmazonBios(const std::string& manufacturer, const std::string& version);

    // ---- lazily created helpers: src/connect/AmazonLazyInit.cpp ----
    bool InitDiskInfo();
    // Error 19 when the disk registry cannot connect.
    bool ConnectDiskInfo(const SVMInfo& vm);
    bool InitializeDirectSnapshotAccessAPIWrapper();

    // ---- inventory: src/inventory/AmazonBrowse.cpp, AmazonInventoryLookups.cpp,
    //      AmazonInventoryLists.cpp, AmazonCatalogLookups.cpp, AmazonGuidParsing.cpp ----
    int BrowseInventory(const std::string& path, const SInventoryInfo& parent, std::vector<SInventoryInfo>& out,
                        ULONGLONG flags, int option) override;
    int GetVMInfoForVM(const std::string& name, const std::string& guid, const std::string& host, ULONGLONG flags,
                       int option, SVMInfo& vm) override;
    int GetVMInfoForVMFromRegion(const std::string& name, const std::string& guid, const std::string& region,
                                 ULONGLONG flags, int option, SVMInfo& vm);
    int GetHostInfoForHost(const std::string& zone, ULONGLONG flags, int option, SHostInfo& host) override;
    virtual int GetDCInfoForDC(const std::string& region, ULONGLONG flags, int option, SDataCenterInfo& dc);
    // The parts of a tag node's GUID: tag key empty lists the region's keys,
    // tag value empty the key's values.
    virtual int GetInventoryInfoListForTag(const std::string& region, const std::string& tagKey,
                                           const std::string& tagValue, ULONGLONG flags, int option,
                                           std::vector<SInventoryInfo>& nodes);
    int GetVMInfoListForTag(const std::string& name, const std::string& guid, EInventoryType type, ULONGLONG flags,
                            int option, std::vector<SVMInfo>& vms) override;
    // Instances carrying tagKey=tagValue in region (tagValue empty: any value).
    int GetVMInfoListForTag(const std::string& region, const std::string& tagKey, const std::string& tagValue,
                            ULONGLONG flags, int option, std::vector<SVMInfo>& vms);
    int GetVMInfoListForInstanceSize(const std::string& guid, ULONGLONG flags, int option,
                                     std::vector<SVMInfo>& vms) override;
    int GetInstanceTypeInfoListForRegion(const std::string& region, ULONGLONG flags, int option,
                                         std::vector<SInventoryInfo>& nodes, bool listAll);
    bool GetVMInfoListForInventoryObject(const std::string& guid, EInventoryType type, ULONGLONG flags, int option,
                                         std::vector<SVMInfo>& vms) override;
    int GetInventoryInfoList(std::vector<SInventoryInfo>& out, ULONGLONG flags, int option) override;
    bool GetVMInventoryInfoListForHost(const std::string& zone, std::vector<SInventoryInfo>& out, ULONGLONG flags,
                                       int option) override;
    int GetLocalHostInfo(SHostInfo& host, ULONGLONG flags, int option) override;
    int GetAvailableVMSizesForHost(const std::string& region, std::vector<VMInfoStructs::SVMSizeInfo>& sizes,
                                   ULONGLONG flags, int option) override;
    int GetRolesForHost(const std::string& region, std::vector<VMInfoStructs::SRoleInfo>& roles, ULONGLONG flags,
                        int option) override;
    // Filters (where non-empty): name substring, platform, state.
    int GetImageList(const std::string& nameContains, const std::string& platform, const std::string& state,
                     std::vector<VMInfoStructs::SImageInfo>& images) override;
    int GetVolumeTypeListForHost(const std::string& region, std::vector<VMInfoStructs::SVolumeTypeInfo>& types) override;
    int GetVolumeEncryptionKeyListForHost(const std::string& region,
                                          std::vector<VMInfoStructs::SVolumeEncryptionKeyInfo>& keys) override;
    int DoesVMExist(const std::string& guid, const std::string& name, const std::string& zone, bool& exists,
                    std::vector<SVMInfo>& vms);
    // Tag node GUID: region, tag key and tag value joined by "#$vm-+=" (or
    // 0x12); instance-type node GUID: region and type. Outputs are cleared
    // first; missing parts stay empty, extra parts are ignored.
    static void ParseTagGUD(const std::string& guid, std::string& region, std::string& tagKey, std::string& tagValue);
    static void ParseInstanceTypeGUID(const std::string& guid, std::string& region, std::string& type);

    // ---- VM operations: src/inventory/AmazonVMOperations.cpp, AmazonStorageOperations.cpp,
    //      AmazonNetworks.cpp, AmazonClone.cpp ----
    int PerformVMOperation(OperationCtx& ctx) override;
    int PerformVMOperation(SVMInfo& vm, EVMOperation op, std::string& out) override;
    int PerformStorageOperation(StorageOperationCtx& ctx) override;
    // The isolated subnet named by net's first subnet entry (its id and
    // address filled in on creation). Neither reads adapter, and option
    // reaches only the bridge, which ignores it.
    bool CreateNetwork(VMInfoStructs::SNetworkInfo& net, std::string option,
                       VMInfoStructs::SHostNetworkAdapterInfo adapter) override;
    bool DeleteNetwork(VMInfoStructs::SNetworkInfo& net, std::string option,
                       VMInfoStructs::SHostNetworkAdapterInfo adapter) override;
    bool CloneVM(SVMInfo& vm);
    bool DeleteEmptyTag(const std::string& resource, const std::string& key);

    // ---- cleanup registry: src/tasks/AmazonCleanerRegistration.cpp, AmazonCleanupOps.cpp,
    //      AmazonCleanupShares.cpp, AmazonDeleteInstance.cpp; CleanupVM in
    //      src/backup/AmazonCleanupVM.cpp ----
    int CleanupVM(MountCtx& ctx) override;
    int RegisterCleanerForBackup(MountCtx& ctx);
    int RegisterCleanerForRestore(RestoreCtx& ctx);
    void _CleanupAllVMs(int mode, std::vector<SFailure>& failures);
    bool _CleanupMountedVM(const std::string& vmGuid, bool orphaned, std::vector<SFailure>& failures);
    // Error 116 when something registered could not be removed.
    bool _CleanupRestoreVM(const std::string& vmGuid, std::vector<SFailure>& failures, bool useSourceAccount);
    bool _CleanupSnapshots(const std::string& path, bool useSourceAccount);
    // Withdraws each sharing registered under path (tasks/AmazonCleanupShares.cpp).
    bool _CleanupSharedSnapshots(const std::string& path);
    bool _CleanupTemplate(const std::string& path, bool useSourceAccount, bool removeInstanceTags);
    bool _CleanupCreatedVM(const std::string& path);
    bool _DeleteCloudMergedVHD(const std::string& path);
    // Cancels the run-commands registered under path (a guest job's).
    bool _CleanupGuestCommands(const std::string& path);
    // Powers the instance off, detaches its volumes (deletes them with
    // deleteVolumes), sets its interfaces' delete-on-termination to
    // nicDeleteOnTermination and terminates it; deleteAttachedVolumes: the
    // volumes still attached then go with it. True for an instance already gone.
    bool DeleteInstance(const std::string& id, bool deleteVolumes, bool nicDeleteOnTermination,
                        bool deleteAttachedVolumes, bool useSourceAccount);

    // ---- mount machinery used by the clean-up: src/backup/AmazonMountInit.cpp,
    //      AmazonMountedVolumes.cpp, AmazonCloudVHDPages.cpp ----
    // Error 262 when the proxy, an EC2 instance, cannot reach the metadata service.
    bool _InitMount();
    bool DeleteExpiredVolumes(const std::string& region, long long ageSeconds);
    bool DeleteExpiredAMISnapshot(const std::string& instanceId);
    bool _CleanUpMountedVolumes(const std::string& key, bool deleteVolumes, std::vector<SFailure>& failures,
                                bool useSourceAccount);
    bool DetachVolumes(std::vector<SDisk>& disks, const std::string& region, const std::string& key,
                       std::vector<SFailure>& failures, bool useSourceAccount);
    bool DeleteVolumes(std::vector<SDisk>& disks, const std::string& key, bool useSourceAccount);
    // The S3 folder holding a restore's disk pages (backup/AmazonCloudVHDPages.cpp):
    // the parent folder of the first plain, unfiltered disk whose new volume
    // id is an S3 path "bucket/key", deleted through the admin bridge with
    // region passed on. True when nothing is to be deleted or the setting
    // keeps the pages; false for a path that is no S3 path or a failed delete.
    // ignored: not read (its one caller passes it empty).
    bool DeleteCloudVHDPages(const std::vector<SDisk>& disks, const std::string& region, const std::string& ignored);
    // "bucket/key": bucket before the first "/", key after it, parent folder
    // the key up to its last "/". False (outs untouched) for an empty path,
    // no "/", an empty bucket, a key without "/" or an empty parent folder.
    static bool GetKeyFromS3Path(const std::string& path, std::string& bucket, std::string& key,
                                 std::string& parentFolder);

    // ---- backup mount (feasibility, mode, unmount): src/backup/AmazonMountVM.cpp,
    //      AmazonUnmountVM.cpp, AmazonMountInfo.cpp, AmazonDiskFilters.cpp,
    //      AmazonBackupVMInfo.cpp, AmazonMountMode.cpp, AmazonBackupFeasibility.cpp,
    //      AmazonVMConfigFile.cpp ----
    int MountVM(MountCtx& ctx) override;
    int UnmountVM(MountCtx& ctx) override;
    int GetFileMountInfo(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFile>& files) override;
    int GetFullMountInfo(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFull>& items) override;
    int CollectMetadata(MountCtx& ctx) override;
    int PostBackupVM(MountCtx& ctx) override;
    bool IsDiskFilteredByPattern(const SDisk& disk, const std::string& pattern) override;
    bool IsDiskFilteredByVirtualDeviceNode(const SDisk& disk, const std::string& node) override;
    bool IsDiskFilteredByType(const SDisk& disk, int type) override;
    bool IsDiskFilteredByTag(const SDisk& disk, const std::string& tagName, const std::string& tagValue) override;
    int _MountVM(MountCtx& ctx);
    int PreMount(MountCtx& ctx);
    int PostMount(MountCtx& ctx);
    // fromSnapJob: the record comes from snap job snapJobId's metadata;
    // otherwise from the cloud, looked up in zone (empty or "default": any).
    // Error 1 (instance not found) when neither has it.
    bool _InitVMInfoForBackup(const std::string& name, const std::string& id, const std::string& zone,
                              bool fromSnapJob, int64_t snapJobId, SVMInfo& vm);
    // Error 262 (metadata service unreachable), 179 (the proxy is no EC2
    // instance) or 237 (no record of the proxy instance).
    bool _InitProxyInfoForBackup(const MountCtx& ctx);
    bool SelectMountMode(MountCtx& ctx);
    // Error 176 when the instance is not in the proxy's region.
    bool IsHotaddMountFeasible(MountCtx& ctx);
    bool IsDirectReadMountFeasible(MountCtx& ctx);
    // Error 287 with the service's text when a direct-read call is refused.
    bool CheckDirectReadPermissions();
    bool CheckEbsVpcEndpointConfiguration(const std::string& region, std::vector<SFailure>& failures);
    // Error 67 for a template, 151 for the proxy itself, 172 for no volumes.
    bool IsBackupFeasible(const SVMInfo& vm, MountCtx& ctx);
    bool CheckCrossAccountBackup(const MountCtx& ctx);
    int _UnMountVM(MountCtx& ctx);
    int _UnMountVMStreaming(MountCtx& ctx);
    bool SaveVMConfigFile(const std::string& folder, const SVMInfo& vm);
    int DeleteVMConfigFile(const MountCtx& ctx);
    // This job run's folder under the mount path (the mount path itself
    // before the cleanup store is open), and the removal of the folders of
    // runs that are over.
    std::string JobMountFolder(const MountCtx& ctx) const;
    void RemoveEndedJobFolders(const std::string& mountPath);
    int GetFullMountInfoDisks(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFull>& items);
    int GetFullMountInfoConfigFiles(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFull>& items);
    const SVMInfo& ProxyVMInfo() const { return m_proxyVMInfo; }

    // ---- backup staging (AMI, snapshots, volumes): src/backup/AmazonStreamingStaging.cpp,
    //      AmazonAMISnapshot.cpp, AmazonVolumeFilter.cpp, AmazonBackupSnapshots.cpp,
    //      AmazonStagedVolumes.cpp, AmazonProxyAttach.cpp ----
    int _MountVMStreamingBackup(MountCtx& ctx);
    // Error 73 when the instance has too many backup AMIs already.
    int CheckSnapshotCount(const std::string& instanceId);
    // Error 17 when the AMI or its snapshots cannot be made.
    int TakeAMISnapshot(MountCtx& ctx);
    // Error 65 when every disk is filtered.
    bool GetFilteredVolumes(MountCtx& ctx, std::vector<std::string>& excludedVolumeIds);
    std::string GetSnapshotName(int jobType);
    std::string GetSnapshotDescription(int jobType);
    static std::string GetOstrelJobTypeString(int jobType);
    bool PrepareSnapshotInfoToBackup(const SVMInfo& ami, MountCtx& ctx, const std::string& description);
    bool _CreateVolumesFromSnapshot(const std::string& instanceId, std::vector<SDisk>& disks, int mode,
                                    bool& recreated);
    // Error 23 when a disk cannot be registered.
    bool _RegisterDisks(SVMInfo& vm, const std::string& transportMode);
    bool AttachVolumesToProxy(const std::string& instanceId, SVMInfo& vm, std::vector<SDisk>& disks, bool forWrite,
                              bool takeOffline, int mode);
    bool AttachVolumesToRemoteProxy(const std::string& instanceId, const std::string& remoteProxyId,
                                    std::vector<SDisk>& disks, int mode);

    // ---- backup copy through the snapshot manager: src/backup/AmazonMountSnap.cpp,
    //      AmazonSnapVolumeMount.cpp, AmazonSnapMetadataValue.cpp,
    //      AmazonBackupCopySnapshots.cpp, AmazonBackupCopyUnmount.cpp,
    //      AmazonBackupCopyVMInfo.cpp ----
    // The job's record of the snapshot manager is m_snap.record. Mount: 1,
    // or 0 with 29 (no snapshots), 177 (hot-add outside the proxy's region),
    // 24 (snapshots not prepared, volumes not made), 243, 2003, 268, 65 or 23.
    int _MountVM_SNAP(MountCtx& ctx);
    // 0 with 117 when the manager could not remove the volumes.
    int _UnMountVM_SNAP(MountCtx& ctx);
    // value: the text after "key:" of the pair that starts with exactly key,
    // up to its ";". False (value empty) when no pair starts so, or the
    // pair has no ";".
    static bool GetValueFromSnapMetadata(const std::string& text, const std::string& key, std::string& value);
    enum SnapMountAccount { kSnapMountNoAccount = 0, kSnapMountSourceAccount = 1, kSnapMountAdminAccount = 2 };
    // Adds to each snapshot a transient metadata entry: what its volume
    // should be (zone, name, type, IOPS, encryption) and, for accountType 1
    // or 2, the credentials of the account it is made in.
    bool _PrepareVolSnapInfoForMount(const MountCtx& ctx, const std::string& zone, int accountType,
                                     VM_Cleaner_Mode mode, const std::string& outpostsArn);
    bool _GetAdditionalVolumeParams(AmazonSnapTransMetaInfo& meta, const MountCtx& ctx,
                                    const std::string& snapSourceDevice, VM_Cleaner_Mode mode,
                                    const std::string& outpostsArn);
    // The manager makes a volume of each snapshot (the data mover's open
    // attaches it). Error 24, 243, 2003 or 268 on failure; the record names
    // what was made either way.
    bool _CreateVolumesFromSnap();
    // Keeps only the volumes (and their snapshots) of ctx.vm.
    bool _FilterVMSpecificVolumeSnaps(const MountCtx& ctx);
    // Each mounted volume becomes its source disk's new volume id: by the
    // record's volumes, or (V2) by its snapshots, matched exactly.
    bool _PopulateVolumeMountInfoFromMountedSnap(MountCtx& ctx);
    bool _PopulateVolumeMountInfoFromMountedSnapV2(MountCtx& ctx);
    bool _PrepareVolSnapInfoForUnMount(const MountCtx& ctx);
    bool _PrepareVolSnapInfoForUnMountDelete(const MountCtx& ctx);
    // The manager's unmount: deletes the volumes of a mount, keeps those of
    // a revert. Error 117 on failure.
    bool _UnmountVolumesFromSnapJob(const MountCtx& ctx);
    // Snapshot ids from the snap job's metadata onto the disks; shared with
    // the admin account for a cross-account hot-add.
    bool _PrepareSnapshotInfoForBackupCopy(MountCtx& ctx);
    // Error 65 when every disk is a Marketplace volume.
    bool _FilterMarketplaceVolumeFromBackupCopy(MountCtx& ctx);
    int CleanupMountedVM_BackupToTape(MountCtx& ctx);
    int _DownloadVMConfigFile(const std::string& mountPath, const MountCtx& ctx);
    bool DeleteSnapBackupXml(const MountCtx& ctx);
    bool PopulateVMInfoFromSnapBackupXml(MountCtx& ctx, SVMInfo& vm);

    // ---- cross-account snapshots (copies, shares, keys): src/backup/AmazonSnapshotCopy.cpp,
    //      AmazonSnapshotShare.cpp ----
    // Error 17 when a copy cannot be made.
    bool CopySnapshotsToBackup(MountCtx& ctx);
    // Error 17 when a snapshot cannot be shared.
    bool ShareSnapshotToBackup(MountCtx& ctx);
    bool UnshareSnapshotBackupCopy(const std::vector<SDisk>& disks);
    bool InitCustomKDEncryptionKey(const std::string& region, std::string& keyArn);
    bool ShareEncryptionKey(const std::string& keyArn, const std::string& region);
    std::string getARNForAdminAccount();
    void GetAccountIdFromKeyARN(const std::string& keyArn, std::string& accountId);
    // Where the snapshots a cross-account hot-add shares live: the proxy's
    // region, where its volumes are made.
    std::string CrossAccountSnapshotRegion(const MountCtx& ctx) const;

    // ---- disk access: src/disk/AmazonOpenVmdk.cpp, AmazonCloseVmdk.cpp,
    //      AmazonReadVmdk.cpp, AmazonVmdkInfo.cpp, AmazonAttachToProxy.cpp,
    //      AmazonVolumeOptimize.cpp ----
    int OpenVmdk(const std::string& vmName, const std::string& vmGuid, const std::string& diskId,
                 VmdkHandle& handle) override;
    int CreateVmdk(const std::string& vmName, const std::string& vmGuid, const std::string& diskId, ULONGLONG size,
                   VmdkHandle& handle) override;
    int CloseVmdk(VmdkHandle& handle) override;
    int GetVmdkInfo(const VmdkHandle& handle, SDisk& disk) override;
    int GetVmdkMetadata(const VmdkHandle& handle, std::vector<VMInfoStructs::SDiskMetadataInfo>& metadata) override;
    // Error 23, with the cause, when a read fails.
    int ReadVmdk(const VmdkHandle& handle, ULONGLONG startSector, unsigned int sectorCount, void* buffer) override;
    int GetVmdkTagList(const VmdkHandle& handle, std::vector<VMInfoStructs::SDiskMetadataInfo>& tags) override;
    int SetVmdkTagList(const VmdkHandle& handle, const std::vector<VMInfoStructs::SDiskMetadataInfo>& tags) override;
    int GetDiskIdfromHandle(const VmdkHandle& handle, std::string& diskId);
    int ApplyTags(const std::string& resourceId, const std::vector<VMInfoStructs::SDiskMetadataInfo>& tags);
    int _OpenVmdk(const SVMInfo& vm, SDisk& disk, bool forWrite);
    bool AttachVolumeToProxy(const std::string& instanceId, const SVMInfo& vm, SDisk& disk, bool forWrite,
                             bool takeOffline, int mode);
    void OptimizeVolumeParams(int mode, long long& sizeBytes, std::string& volumeType, int& iops, bool force);
    bool OptimizeAndModifyDisk(SDisk& disk);

    // ---- change tracking: src/disk/AmazonChangeTracking.cpp ----
    bool ValidateChangeId(const std::string& vmName, const std::string& vmGuid, const std::string& diskName,
                          const std::string& changeId) override;
    int GetVmdkExtents(const VmdkHandle& handle, const std::string& changeId, ULONGLONG start,
                       VMInfoStructs::SDiskChangeInfo& info) override;
    int GetVmdkExtents_CBT(const VmdkHandle& handle, const std::string& changeId, ULONGLONG start,
                           VMInfoStructs::SDiskChangeInfo& info);
    // Sets the context's status and backup level; false turns the job into
    // a full backup.
    bool InitCBT(MountCtx& ctx);
    bool ValidateCBT(const MountCtx& ctx);
    bool GetChangedBlocks(const std::string& previousSnapshot, const std::string& currentSnapshot,
                          const std::string& zone, VMInfoStructs::SDiskChangeInfo& info);
    bool GetAllocatedBlocks(const std::string& snapshot, const std::string& zone, VMInfoStructs::SDiskChangeInfo& info);
    bool DeleteExpiredCBTSnapshot(const MountCtx& ctx);
    bool CleanupCBTSnapshots(const MountCtx& ctx);
    bool _UpdateChangeBlobID(MountCtx& ctx);
    bool _PostBackupCBTCleanup(const MountCtx& ctx);
    std::string getRegionFromZone(const std::string& zone);
    const std::string& CbtLastFull() const { return m_cbtLastFull; }
    const std::string& CbtReferenceAMI() const { return m_cbtReferenceAMI; }

    // ---- restore (phases, checks, method choice): src/restore/AmazonRestorePhases.cpp,
    //      AmazonRestoreCleanup.cpp, AmazonRestoreFeasibility.cpp,
    //      AmazonRestoreOverwrite.cpp; HandleFilteredDataDisks in
    //      AmazonRestoreConfigFile.cpp; replication properties in
    //      AmazonInfoReplication.cpp ----
    int InitRestoreVM(const RestoreCtx& ctx) override;
    int PreRestoreVM(const RestoreCtx& ctx) override;
    int RestoreVM(const RestoreCtx& ctx) override;
    int PostRestoreVM(const RestoreCtx& ctx) override;
    int CloseRestoreVM(const RestoreCtx& ctx) override;
    int CleanupRestoreVM(const RestoreCtx& ctx) override;
    // Error 202 when lvmetad is on for a hot-add restore, 249 for a disk over 16 TiB.
    bool CheckRestoreFeasibility(const RestoreCtx& ctx);
    // Error 264 for a Linux instance that boots from GPT.
    bool IsRestorePossibleForVM(const RestoreCtx& ctx);
    bool SelectRestoreMethod(const RestoreCtx& ctx);
    bool IsRestoreFeasibleInHotAddMode(const RestoreCtx& ctx);
    // Error 237 when the proxy's record cannot be read.
    bool _InitProxyInfoForRestore();
    // False for the first selected disk over 16 TiB; the caller sets 249.
    bool CheckDiskLimit(const std::vector<SDisk>& disks);
    // Error 242 for a flavour the cross-account restore does not support.
    bool CheckCrossAccountRestore(const RestoreCtx& ctx);
    // Error 267 for an instance type the restore refuses.
    bool ValidateInstanceType(const RestoreCtx& ctx);
    static bool IsNVMeInstanceType(const std::string& type);
    void SetRestoreWithNewVMGuidFlag(const RestoreCtx& ctx);
    // 1: go on (nothing in the way, restored in place, or the old instance
    // deleted); 0 with the error set otherwise.
    // Errors 10 (name taken, no overwrite), 173 (name ambiguous), 245
    // (termination protected), 61 (the old instance not deleted).
    int HandleOverwriteOption(const RestoreCtx& ctx, const std::string& region);
    bool ValidateTemplate(const RestoreCtx& ctx);
    AmazonReplicationMethod ForceAnyReplicationMethod(const RestoreCtx& ctx);
    bool UpdateSelectedReplicationMethod(const RestoreCtx& ctx, AmazonReplicationMethod method);
    int InitRestoreVM_AmazonVMAsProxy(const RestoreCtx& ctx);
    void PrepareDiskInfoFromRestoreCtx(const RestoreCtx& ctx);
    void UpdateDiskNames(const RestoreCtx& ctx);
    bool HandleFilteredDataDisks(const RestoreCtx& ctx);
    bool IsConversionFromSnap(const RestoreCtx& ctx) const { return ctx.restoreFromSnap && ctx.conversion; }
    bool _IsRestoreFromSnapFeasible(const MountCtx& mctx, const RestoreCtx& ctx);
    static bool IsHotAddRestore(const std::vector<SDisk>& disks);
    // Failback: whether the source instance still exists to restore into.
    bool LookForSourceVM(const RestoreCtx& ctx);
    bool IsHotAddMethodSelected() const { return m_restore.hotAddMethodSelected; }
    bool IsCrossAccountRestore() const { return m_restore.crossAccountRestore; }

    // ---- restore disk properties: src/restore/AmazonRestoreDiskProperties.cpp ----
    void AdjustDiskPropertiesForStreamingRestore(const RestoreCtx& ctx);
    void AdjustVolumeSize(SDisk& disk);
    void AdjustVolumeType(SDisk& disk, const RestoreCtx& ctx, const std::vector<VMInfoStructs::SVolumeTypeInfo>& types);
    bool IsVolumeTypeValid(const SDisk& disk, const std::vector<VMInfoStructs::SVolumeTypeInfo>& types);
    void AdjustVolumeEncryption(SDisk& disk, const std::string& region, const RestoreCtx& ctx);
    bool AdjustDiskTypeForRestore(SDisk& disk);

    // ---- restore volumes through the proxy: src/restore/AmazonRestoreVolumes.cpp,
    //      AmazonRestoreTransfer.cpp, AmazonRestoreAttach.cpp,
    //      AmazonRestoreReplacement.cpp ----
    // recreated: a volume an earlier attempt made is gone and was made again.
    // Error 24 when a volume cannot be made, 237 without the proxy's record.
    bool _CreateEmptyVolumes(const RestoreCtx& ctx, const VM_Cleaner_Mode& mode, bool& recreated);
    int PreRestoreVM_AmazonVMAsProxy(const RestoreCtx& ctx);
    bool RestoreVolume_AmazonVMAsProxy(const RestoreCtx& ctx);
    bool CreateAndShareSnapshotsToRestore(const RestoreCtx& ctx, bool keepVolumes);
    bool _CreateAndShareSnapshotsToRestore(const RestoreCtx& ctx, bool keepVolumes);
    bool IsVolumeTransferRequired(const RestoreCtx& ctx);
    // Empty when the destination is not an Outpost.
    std::string GetDestinationOutpostArn(const RestoreCtx& ctx);
    // Error 17 when a snapshot cannot be made.
    bool CreateSnapshotFromVolumes(const std::string& vmKey, std::vector<SDisk>& disks, const VM_Cleaner_Mode& mode);
    // Error 17 when a snapshot cannot be shared.
    bool ShareSnapshotsToRestore(const RestoreCtx& ctx);
    bool CreateVolumesFromSharedSnapshots(const RestoreCtx& ctx);
    bool DeleteRegisteredSnapshots(const RestoreCtx& ctx);
    bool AttachRestoreCtxDisksToInstance(const RestoreCtx& ctx);
    // Error 112 when the restored instance cannot be powered on.
    int PostRestoreVM_AmazonVMAsProxy(const RestoreCtx& ctx);
    // A restore into an existing instance replaces its volumes device by
    // device (restore/AmazonRestoreReplacement.cpp): each replacement is
    // recorded before the instance's volume is detached, handed over once
    // every new volume is attached, and rolled back by the clean-up of a job
    // that ended before that.
    bool RecordVolumeReplacements(const RestoreCtx& ctx, bool osDiskExists);
    void HandOverVolumeReplacements(const RestoreCtx& ctx);
    bool _RollBackVolumeReplacements(const std::string& path, std::vector<SFailure>& failures);

    // ---- the restored instance: src/restore/AmazonRestoreInstance.cpp,
    //      AmazonRestoreConfigFile.cpp ----
    bool RestoreVM_AmazonVMAsProxy(const RestoreCtx& ctx);
    bool PrepareRestoreCtxVMInfo(const RestoreCtx& ctx, bool& osDiskExists);
    bool PrepareRestoreCtxVMInfo(const RestoreCtx& ctx, bool& osDiskExists, std::map<std::string, std::string>& tags);
    bool PrepareRestoreCtxVMInfoFromConfigFile(const RestoreCtx& ctx, std::map<std::string, std::string>& tags);
    bool PopulateVMInfoFromVMConfigFile(const RestoreCtx& ctx, SVMInfo& vm, std::map<std::string, std::string>& tags);
    bool FindVMConfigFile(const RestoreCtx& ctx);
    void CheckDoNotUseSourceAMIList(const RestoreCtx& ctx);
    void PrepareRestoreCtxVMInfoBasic(const RestoreCtx& ctx);
    bool DoesOSDiskExist(const RestoreCtx& ctx, bool& exists);
    bool DoesOSDiskExist(const SVMInfo& vm, bool& exists);
    static bool ISOSDisk(const SDisk& disk) { return disk.isOSDisk; }
    // Error 20 with the bridge's text when the instance cannot be launched.
    bool RestoreVirtualMachine(const RestoreCtx& ctx, bool osDiskExists, std::map<std::string, std::string> tags);
    void UpdateDeviceNameForOSDisk(const RestoreCtx& ctx);
    // Error 112 when the instance does not reach its state.
    bool ValidateInstanceStatus(const std::string& instanceId, const std::string& name, const std::string& region);

    // ---- replication: src/restore/AmazonInfoReplicationPhases.cpp; volumes in
    //      ...Disks.cpp, the integrity AMI in ...Integrity.cpp, the previous
    //      replica in ...Replica.cpp, a conversion's temporary instance in
    //      ...TempVM.cpp, recast in ...Recast.cpp. Phases return 1 or 0 with the
    //      last error set (4000 cancelled, 7002 replica running, 7003 name taken,
    //      17 integrity AMI not launched, 23 disk registry, 7007 validation) ----
    int InitRestoreVM_VMReplication_HotAdd(const RestoreCtx& ctx);
    int PreRestoreVM_VMReplication_HotAdd(const RestoreCtx& ctx);
    int RestoreVM_VMReplication_HotAdd(const RestoreCtx& ctx);
    int PostRestoreVM_VMReplication_HotAdd(const RestoreCtx& ctx);
    bool InitRestoreVM_VMReplication_HotAdd_Inc(const RestoreCtx& ctx);
    bool InitRestoreVM_VMReplication_HotAdd_Full(const RestoreCtx& ctx);
    bool HandleDiskAdditions(const RestoreCtx& ctx);
    // A disk smaller than its integrity snapshot keeps the snapshot's size:
    // a volume made from a snapshot cannot be smaller than it.
    bool HandleDiskSizeChange(const RestoreCtx& ctx);
    bool CreateDisksFromIntegritySnapshot(const RestoreCtx& ctx);
    // Sets ctx.replicatedVMExists; false (7002) when the replica is running,
    // (7003) when the overwrite check fails.
    bool LookForReplicatedVM(const RestoreCtx& ctx);
    // True only when the replica's integrity AMI and every selected disk's
    // snapshot of it still exist: only then may a run be incremental.
    bool VerifyIntegritySnapshot(const RestoreCtx& ctx);
    // amiId: the instance's "KD_Integrity_Snap" tag, empty when untagged.
    bool GetIntegritySnapshotId(const std::string& instanceId, std::string& amiId);
    bool GetIntegritySnapshotDesc(std::string& description);
    // Makes, waits for and tags the AMI of instanceId; stores its id in
    // ctx.integritySnapshotId (registered for the job's clean-up until the
    // run ends). Error 17 when not launched.
    bool TakeIntegritySnapshot(const RestoreCtx& ctx, const std::string& instanceId);
    bool DeleteOldIntegritySnapshot(const RestoreCtx& ctx);
    bool PreIntegritySnapshot(const RestoreCtx& ctx, std::string& tempVmId);
    bool CreateTempVM(const RestoreCtx& ctx, std::string& tempVmId);
    bool PrepareRestoreCtxVMInfoForTempVM(const RestoreCtx& ctx, RestoreCtx& tempCtx, bool& osDiskExists);
    bool PostIntegritySnapshot(const RestoreCtx& ctx, const std::string& tempVmId);
    // Removes the previous replica (ctx.vmGuid), keeping the interfaces the
    // context's network cards reuse.
    bool DeconfigureNetwork(const RestoreCtx& ctx);
    int InitRecast(const RestoreCtx& ctx) override;
    int FinalizeRecast(const RestoreCtx& ctx) override;
    int CleanupRecast(const RestoreCtx& ctx) override;

    // ---- guest files: src/guest/AmazonGuestPrepare.cpp, AmazonGuestBrowse.cpp,
    //      AmazonGuestCopy.cpp, AmazonGuestScript.cpp; non-zero on success ----
    // Error 164 without a usable bucket, 1 when the instance is not found.
    int PrepareGuestForFileCopy(const GuestCtx& ctx) override;
    int BrowseGuest(const GuestCtx& ctx, const std::string& path, std::vector<VMInfoStructs::SGuestFile>& files) override;
    // Does nothing: the download makes the folders it needs.
    int CreateGuestFolder(const GuestCtx& ctx, const std::string& folder) override;
    // The bool is not used. Error 165 with the message when the copy fails.
    int CopyFileToGuest(const GuestCtx& ctx, const std::string& source, const std::string& destination,
                        bool unused) override;
    // Runs the script file's text with parameters; with a time-out above 0
    // waits for it (exitCode 0 on success), otherwise does not wait and sets
    // exitCode to -1 (not known). The unnamed texts are not used.
    int ExecuteScriptInGuest(const GuestCtx& ctx, const std::string& scriptFile, const std::string& unusedA,
                             const std::string& parameters, int timeoutSeconds, const std::string& unusedB,
                             int& exitCode) override;
    int ExecuteScriptInGuest(const GuestCtx& ctx, const std::string& scriptText, int timeoutSeconds) override;
    const AmazonGuest::GuestState& GuestFileState() const { return m_guest; }

    // ---- snap backups, job-level flow: src/snap/AmazonPreSnap.cpp,
    //      AmazonSnapPartial.cpp, AmazonSnapVolumeList.cpp, AmazonSnapVolumeRecords.cpp,
    //      AmazonSnapCustomKey.cpp, AmazonSnapNames.cpp, AmazonSnapMetadataFiles.cpp ----
    // 1 on success; error 4000 cancelled, 32 no volume list, 29 the volume
    // records (an archive file, the metadata XML, a transient metadata
    // text) could not be prepared, 17 a cross-account job's custom key (or
    // a volume's key) could not be prepared, 33 the snapshots failed. Once the
    // manager was asked for snapshots, every failure deletes those it
    // reported as made.
    int PreSnap(MountCtx& ctx) override;
    int PostSnap(MountCtx& ctx) override;
    int _PreSnap(MountCtx& ctx);
    int PreSnapAfterReservingArchiveFiles(MountCtx& ctx, std::vector<SVolSnap>& list);
    // Marks the instances of failed volumes (error code 272 in the job's
    // instance map and the job's snap metadata) and invalidates their
    // archive files; false when every volume failed or either step did.
    bool HandlePartialSnapshotCase(MountCtx& ctx, const std::vector<SVolSnap>& list);
    void GetVolumesThatFailedForSnap(std::vector<SMVolumeInfo>& volumes) const;
    // Deletes every snapshot the manager reported as made (type-6 entries).
    // Always true; failures are logged.
    bool DeletePartialSnapshots();
    // The same for the snapshot entries named (all when null).
    void _DeleteReportedSnapshots(const std::set<uint32_t>* onlySnaps);
    bool _BuildVolListForSnapshot(MountCtx& ctx);
    bool _GetVolumeList(const MountCtx& ctx, std::vector<SVolSnap>& list);
    bool _UpdateVolSnapInfo(MountCtx& ctx, std::vector<SVolSnap>& list);
    // False, with the last VM error set, when the record cannot be filled:
    // error 17 with the bridge's text when a cross-account job cannot tell
    // the volume's key or prepare the custom key its copy needs.
    bool GetTransientMetadataForSnapBackup(const MountCtx& ctx, const VMInfoStructs::SDatastoreInfo& datastore,
                                           AmazonSnapTransMetaInfo& meta);
    // Cross-account (snap/AmazonSnapCustomKey.cpp): a volume encrypted with
    // the source account's default key gets the custom key its snapshot is
    // copied under (targetEncryptionKey, ":" written as "$", and the
    // custom-key flag), unless "bAmazonDisableSnapshotCopy" is set. False,
    // error 17, when the volume or the key cannot be read.
    bool _AddSnapTargetEncryptionKey(const VMInfoStructs::SDatastoreInfo& datastore, AmazonSnapTransMetaInfo& meta);
    // "bAmazonDisableSnapshotCopy", read once per process.
    bool _SnapshotCopyDisabled();
    // The custom key of the job's accounts in region, prepared and granted
    // once per process for each; error: the bridge's text on failure.
    bool _CustomKeyForSnapCopy(const std::string& region, std::string& keyArn, std::string& error);
    // Adds the metadata entry (type 93) of snapshot snapId; false, with
    // nothing added, when a value cannot be written.
    bool _FormatAndAddAmazonSnapTransMeta(uint32_t snapId, AmazonSnapTransMetaInfo& meta, SMVolSnapInfo& record);
    std::string _GetSnapMetadataFolderForSnapJob(const MountCtx& ctx);
    // Empty for an instance id that cannot name a folder.
    std::string _GetSnapMetadataFolderForVM(const MountCtx& ctx, const std::string& instanceId);
    void _SetSnapMetadataFile(const MountCtx& ctx);
    int getAmazonSnapControlHostID(const MountCtx& ctx);
    static std::string _getSnapshotNameForSnapJob(int32_t hubCellId, int64_t jobId, uint32_t archiveFileId,
                                                  int64_t time);
    static std::string _getSnapshotDescriptionForSnapJob(int64_t jobId, const std::string& volumeId, int64_t time);
    // Names of the volumes made from a snap job's snapshots; path: the
    // snapshot's device path, whose last part names the volume.
    static std::string _getVolumeNameForSnapJob(int64_t snapJobId, const std::string& path);
    // The id a snapshot manager's device or path text ends in: the text
    // after its last "/", or the whole text when it has none.
    static std::string getVolumeIDFromSnapMountPath(const std::string& path);
    // The volume a snapshot entry's device names once the manager made one;
    // empty for an entry that names its snapshot still, or nothing: such an
    // id is never registered for clean-up nor tagged.
    static std::string MountedVolumeOf(const std::string& snapDevice);
    static std::string _getVolumeDescriptionForSnapJob(int64_t jobId, int64_t time);
    // VM-centric: the instance's own archive file; otherwise the framework's.
    int GetAFileID(const MountCtx& ctx, const std::string& name, DiskType_t type, unsigned int& id) override;
    // The metadata files the job produced; type 1 adds the requested
    // instance's configuration file and instance-level snap metadata file
    // where they exist. A backup copy first fetches the job-level snap
    // metadata file into the job results folder (0 when it cannot) and
    // rebuilds the context's volume list from what was read (error 31).
    int GetMetadataFiles(const MountCtx& ctx, std::vector<std::string>& files, int type) override;
    const AmazonSnap::SnapState& SnapState() const { return m_snap; }

    // ---- snap job metadata mounted for a backup copy: src/snap/AmazonSnapMount.cpp ----
    // Before a job-level backup copy's mounts: the snap job's metadata
    // fetched into the job results folder and read (c_InstanceInfoMapFromSnapXML,
    // the context's volume list); 29, 28 or 31 when it cannot be. The
    // unmount deletes the fetched file and always returns 1.
    int MountSnap(const MountCtx& ctx) override;
    int UnmountSnap(MountCtx& ctx) override;
    // Drops the instances of datastores from snap job snapJobId's part of
    // c_InstanceInfoMapFromSnapXML, so that the snap metadata just read
    // decides their records.
    static void ForgetSnapXmlInstances(int64_t snapJobId,
                                       const std::vector<VMInfoStructs::SDatastoreInfo>& datastores);
    // The record snap job snapJobId's metadata gave instance id, or null:
    // never another snap job's record of the same instance.
    static const SVMInfo* SnapXmlInstance(int64_t snapJobId, const std::string& id);

    // ---- live-browse mount hand-over: src/snap/AmazonSnapMountInfo.cpp ----
    // The connection (secrets sealed) and the disk registry's live-browse
    // mount; empty when it cannot be written.
    std::string GetSnapMountInfo() override;
    // Connects as the text says and registers its instance and disks for
    // direct reads; false at the first step that fails.
    bool SetSnapMountInfo(const std::string& text) override;
    // Both do nothing.
    void CleanupSnapLiveBrowseState() {}
    void CleanupSnapLiveBrowseState(const std::string&, const std::string&) {}

    // ---- snap backup metadata fetched back: src/snap/AmazonSnapDownloads.cpp ----
    // Each true when the file is in the folder afterwards (a file already
    // there is not fetched again). _DownloadSnapBackupMetadataFile fetches
    // into the context's snap metadata folder (the mount path when unset)
    // the instance-level file, else the job-level one, and notes which in
    // the context's VM-level flag.
    bool _DownloadVMMetadataFile(const MountCtx& ctx, const std::string& folder, const std::string& fileName);
    bool _DownloadSnapBackupMetadataFile(const MountCtx& ctx);
    bool _DownloadVMLevelSnapBackupMetadataFile(const MountCtx& ctx);
    bool _DownloadJobLevelSnapBackupMetadataFile(const MountCtx& ctx);
    // Adds to snap job snapJobId's part of c_InstanceInfoMapFromSnapXML the
    // instances of the snap metadata read last; error 28 when a volume has
    // none or several.
    bool _PopulateVMInfoFromDSInfo(int64_t snapJobId);

    // ---- snap backups reverted: src/snap/AmazonSnapRevert.cpp, AmazonSnapRevertDisks.cpp ----
    // Puts the instance's disks back from the snap backup: volumes made
    // from its snapshots are handed to the in-cloud-proxy restore. Runs once
    // per instance per restore job; a second call returns that job's result.
    // Errors: 29, 5002, 197, 5001 as each step fails.
    int RevertSnap(MountCtx& mctx, const RestoreCtx& rctx) override;
    bool RestoreVM_FromSnap(const RestoreCtx& rctx);
    bool _PrepareForFileRevert(const MountCtx& mctx, const RestoreCtx& rctx);
    // Fills the VM record's disk lists with the instance's disks from the
    // snap metadata; false (with a restore failure entry) when the instance
    // or a selected disk is missing from it.
    bool _GetFileListForRevertFromSnapXML(const MountCtx& mctx, const RestoreCtx& rctx);
    bool AdjustDiskPropertiesForSnapRestore(const RestoreCtx& rctx, const MountCtx& mctx);
    bool _PerformFileLevelRevert(const MountCtx& mctx, const RestoreCtx& rctx, std::vector<FileInfo_t>& files);
    bool _DeleteDisksNotSelectedForAttachDiskRestore(const MountCtx& mctx, const RestoreCtx& rctx);

    // ---- snap backups, VM-centric flow: src/snap/AmazonSnapVMCentric.cpp,
    //      AmazonSnapVMCentricVolumes.cpp, AmazonSnapCatalog.cpp; _MountVM_Snap_Backup
    //      in AmazonPreSnap.cpp, _GetTagListForVolume in AmazonSnapVolumeRecords.cpp ----
    // The mount of one instance does the whole snap backup of it. 1 on
    // success; 4000 cancelled, 65 every disk filtered, 17 the snapshots
    // failed (those the manager made are deleted). A failure invalidates
    // the instance's archive file. Only an instance whose snapshots were
    // taken joins the job's catalogue, with its final record.
    int _MountVM_Snap_Backup_VMCentric(MountCtx& ctx);
    // Job-level: reports the instance's finding of PreSnap.
    int _MountVM_Snap_Backup(MountCtx& ctx);
    int _MountVM_Snap_Backup_VMCentric_Internal(MountCtx& ctx);
    bool _GetVMBasicInfoForVM(const MountCtx& ctx, const std::string& instanceId, SVMBasicInfo& info);
    bool _PrepareMountCtxVmInfoForVMSnapBackup(MountCtx& ctx);
    bool _PrepareMountCtxVmInfoDisklistForVMSnapBackup(MountCtx& ctx);
    bool _WriteVMConfigFile_SnapBackup(MountCtx& ctx);
    bool PopulateVolSnapAndTransientMetadata(MountCtx& ctx);
    bool _WriteVMSnapBackupMetadataXML(MountCtx& ctx);
    bool _CreateBackupSnapsForVM(MountCtx& ctx);
    void _PopulateSMVolumeInfoForVM(const MountCtx& ctx, SMVolSnapInfo& record);
    // The volume's tags for the snap metadata: all but "Name" and the
    // staging mark; false (tags empty) when they cannot be read.
    bool _GetTagListForVolume(const std::string& volumeId, const std::string& region,
                              std::map<std::string, std::string>& tags);
    // Writes the job's catalogue from the instances of this job that were
    // snapshotted, and lets go of them. False: nothing listed as produced.
    bool _GenerateSnapBackupCatalogXml(const MountCtx& ctx);

    // ---- small helpers: src/factory/AmazonInfo.cpp ----
    void overrideSDKRegion(const std::string& region);
    std::string getProxyAWSComponentsFolder();
    void LogNotPorted(const std::string& name);

    // ---- read-only views for the framework's tests and diagnostics (inline) ----
    CAmazonSDKBridge* SourceBridge() const { return m_pSourceBridge.get(); }
    CAmazonSDKBridge* AdminBridge() const { return m_pAdminBridge; }
    bool IsCrossAccount() const { return m_bCrossAccount; }
    bool UseDirectSnapshotAccess() const { return m_bUseDirectSnapshotAccess; }
    long long JobId() const { return m_jobId; }
    const std::string& OutpostsAccountARN() const { return m_strOutpostsAccountARN; }
    CAmazonDiskInfo* DiskInfo() const { return m_pDiskInfo.get(); }
    CAmazonTaskUtils* TaskUtils() const { return m_pTaskUtils.get(); }
    CAmazonCleaner& Cleaner() { return m_cleaner; }
    bool IsCleanerRegistered() const { return m_bCleanerRegistered; }
    AmazonDirectSnapshotAccessAPI::CAmazonDirectSnapshotAccessAPIWrapper* DirectSnapshotAccess() const {
        return m_pDirectSnapshotAccess.get();
    }

    // ---- process-wide state shared by every object of the library: defined in
    //      src/factory/AmazonInfoStatics.cpp ----
    // Job id -> instance id -> the record of an instance the job
    // snapshotted: keyed by job, so that no job's catalogue lists another
    // job's instances. Guarded by c_InstanceGuidToVMInfoMapLock.
    static std::map<int64_t, std::map<std::string, SVMInfo>> c_InstanceGuidToVMInfoMap;
    static CriticalSection c_InstanceGuidToVMInfoMapLock;
    // Snap job id -> instance id -> the record that snap job's metadata
    // gives the instance: keyed by snap job, so that a job reading one snap
    // job's metadata never takes an instance record an earlier snap job's
    // metadata left in the process.
    static std::map<int64_t, std::map<std::string, SVMInfo>> c_InstanceInfoMapFromSnapXML;
    // Mounted device -> source device of every backup-copy mount in the
    // process; guarded by c_SourceVolumesToMountedVolumesLock.
    static std::map<std::string, std::string> c_SourceVolumesToMountedVolumes;
    static CriticalSection c_SourceVolumesToMountedVolumesLock;
    // Restore job id -> instance id -> result (0 or 1) of its revert: keyed
    // by job, so that no job takes another job's result for its own.
    static std::map<int64_t, std::map<std::string, int>> c_snapVMRestoreProcessedMap;
    // Held while a job fetches the proxy's record (m_proxyVMInfo,
    // m_bProxyInfoFetched) for a backup or a restore.
    static CriticalSection c_ProxyInfoLock;
    // Serialises the process's one-time set-up of the cross-account custom
    // keys and the snapshot-copy setting (c_snapCrossAccountKeys).
    static CriticalSection c_getTransientMetadataLock;
    // Cross-account snap backups' setting and custom keys; both are set up
    // under c_getTransientMetadataLock.
    static AmazonSnap::SnapCrossAccountKeys c_snapCrossAccountKeys;
    // An instance type containing any of these uses NVMe devices.
    static const std::vector<std::string> _kvmInstanceTypes;

private:
    // ---- inventory helpers: src/inventory/AmazonBrowse.cpp, AmazonBrowseViews.cpp,
    //      AmazonClone.cpp, AmazonSnapshotOperations.cpp, AmazonVMOperations.cpp ----
    // Browse levels: each fills out with the children of node for the named
    // view and returns 1, or logs and returns 0.
    int BrowseAmazonView(const std::string& view, const SInventoryInfo& node, std::vector<SInventoryInfo>& out,
                         ULONGLONG flags, int option);
    int GetRegionNodes(std::vector<SInventoryInfo>& out, ULONGLONG flags, int option);
    int GetDataCenterView(const std::string& view, const SInventoryInfo& node, std::vector<SInventoryInfo>& out,
                          ULONGLONG flags, int option);
    int GetHostView(const SInventoryInfo& node, std::vector<SInventoryInfo>& out, ULONGLONG flags, int option);
    int GetTagView(const SInventoryInfo& node, std::vector<SInventoryInfo>& out, ULONGLONG flags, int option);
    int GetInstanceTypeView(const SInventoryInfo& node, std::vector<SInventoryInfo>& out, ULONGLONG flags,
                            int option);
    // Walks the single-child chain below node for the node called name at
    // depth reqLevel (node itself is at currLevel).
    static bool LocateCurrentBrowseNodeInTree(const SInventoryInfo& node, const std::string& name,
                                              SInventoryInfo& found, int reqLevel, int currLevel);
    // Operation 6. createdId: the instance this call launched and could not
    // delete after a failure, if any, so that a failure never removes an
    // instance that existed before.
    bool CloneVM(SVMInfo& vm, std::string& createdId);
    bool WaitForCloneAMI(const std::string& amiId, const std::string& sourceId);
    // Deletes the temporary AMI, and unregisters it once it is gone.
    void DeleteCloneAMI(const std::string& amiId, const std::string& sourceId);
    // Registers the clone's AMI (type 4) or instance (type 1) under the
    // source instance; true when this call made the source's entry.
    bool RegisterCloneResource(const std::string& sourceId, const std::string& region, int type,
                               const std::string& id);
    int PerformCloneOperation(SVMInfo& vm);
    int PerformCreateSnapshot(SVMInfo& vm, EVMOperation op, std::string& out);
    int PerformDeleteSnapshot(SVMInfo& vm, EVMOperation op);
    int DeleteIntegrityAMI(const SVMInfo& vm);
    int PerformGetPassword(SVMInfo& vm);
    // Logs a failed bridge call of an operation under the tag where, keeps
    // the bridge's text as the last error details and returns the
    // operation's failure value 1.
    int VMOperationFailed(const char* where, const std::string& message);

    // ---- backup mount helpers: src/backup/AmazonMountVM.cpp, AmazonUnmountVM.cpp,
    //      AmazonBackupVMInfo.cpp, AmazonResourceTags.cpp, AmazonMountNotBuilt.cpp ----
    // Branches whose work has not landed: each fails with kErrNotSupported
    // and a text naming the branch, so that a job never reports a mount or
    // an unmount it did not do.
    int AttachVolumesForLiveBrowse(MountCtx& ctx);
    int NotBuiltYet(const char* branch);
    // The steps of _MountVM after staging.
    void StartChangeTracking(MountCtx& ctx);
    int FinishLiveBrowseMount(MountCtx& ctx);
    // Unmount and clean-up need the proxy record (unless direct read) and
    // the mount machinery.
    bool PrepareProxySide(const MountCtx& ctx);
    // The instance's tags, read in its region.
    bool GetTagsInRegion(const std::string& resource, const std::string& region,
                         std::map<std::string, std::string>& tags);
    void LogDiskMetadata(const SVMInfo& vm);
    void ParseGuestOS(SVMInfo& vm);
    // "us-east-1" for "us-east-1a": the zone without its final letter.
    static std::string RegionFromZone(const std::string& zone);

    // ---- backup-copy mount steps: src/backup/AmazonMountSnap.cpp, AmazonSnapVolumeMount.cpp ----
    // Steps of the backup-copy mount.
    bool SnapsInProxyRegion();
    bool FinishSnapMount(MountCtx& ctx);
    bool RegisterSnapMountedVolumes(const MountCtx& ctx);
    bool AddUnmountEntries(bool withAdminCredentials);
    static void RememberMountedDevice(const std::string& mounted, const std::string& source);

    // ---- cross-account snapshot copy and share steps: src/backup/AmazonSnapshotCopy.cpp,
    //      AmazonSnapshotShare.cpp ----
    // error: the text the job reports when the custom key is not ready.
    bool InitCustomKDEncryptionKey(const std::string& region, std::string& keyArn, std::string& error);
    bool CopyOneSnapshot(MountCtx& ctx, const SDisk& disk, const std::string& target, const std::string& keyArn,
                         std::string& copyId);
    bool KeyGrantedTo(const std::string& keyArn, const std::string& region, const std::string& principal,
                      bool& granted);
    bool AdminAccountId(std::string& accountId, std::string& error);
    bool ShareOneSnapshot(const SDisk& disk, const std::string& region, const std::string& adminAccount);
    // Hot-add of another account's instance: its snapshots are shared or
    // copied to the proxy's account.
    bool CrossAccountHotadd(const MountCtx& ctx) const {
        return m_bCrossAccountBackup && ctx.transportMode == "HOTADD";
    }

    // ---- staging helpers: src/backup/AmazonAMISnapshot.cpp, AmazonProxyAttach.cpp,
    //      AmazonStreamingStaging.cpp, AmazonVolumeFilter.cpp, AmazonStagedVolumes.cpp ----
    // "bAmazonDoNotSetTagsOnIntermediateResources": snapshots and staged
    // volumes get only the backup tag, none of their source volume's.
    static bool DoNotTagIntermediateResources();
    // True (error 4000 set, logged under where) once the job was cancelled.
    bool StagingCancelled(const char* where);
    // Hot-add stages volumes in the proxy's zone: its record must be known.
    bool EnsureProxyRecordForStaging(MountCtx& ctx);
    // Creates the backup AMI of ctx.vm without the excluded volumes and
    // registers it before anything relies on it; an AMI that cannot be
    // registered is deleted again. Sets ctx.amiId; error 17 on failure.
    bool LaunchBackupAMI(MountCtx& ctx, const std::string& name, const std::string& description,
                         const std::vector<std::string>& excludedVolumeIds);
    // Copies each source volume's tags (but AWS's own) onto its snapshot.
    void TagAMISnapshots(const SVMInfo& ami);
    // True (and logged) when the disk stays out of the backup.
    bool IsVolumeExcluded(MountCtx& ctx, const SDisk& disk, bool skipDataDisks, bool checkMarketplace);
    // One disk of _CreateVolumesFromSnapshot: true when staged or skipped.
    bool StageVolumeFromSnapshot(const std::string& instanceId, SDisk& disk, int mode, bool copySourceTags,
                                 bool& recreated);
    // A volume staged by an earlier run still exists; sets recreated if not.
    bool StagedVolumeExists(const std::string& volumeId, bool& recreated);
    std::map<std::string, std::string> StagedVolumeTags(const SDisk& disk, bool copySourceTags);
    // A staged volume the cleanup registry refused: deleted, with the error set.
    bool DropUnregisteredVolume(const std::string& volumeId);

    // ---- clean-up helpers: src/backup/AmazonCleanupVM.cpp, AmazonLiveJobAMIs.cpp,
    //      AmazonMountedVolumes.cpp ----
    bool RemoveCleanupStringAMI(MountCtx& ctx, const std::string& region);
    // True (and logged under where) when a job run of this proxy that is
    // still running, other than this one (or than the run whose entry is
    // being cleaned, exceptJobKey), registered the AMI: made it, or reads
    // it as its change-tracking reference. Whatever its age or name, it is
    // not this job's to delete. backup/AmazonLiveJobAMIs.cpp
    bool IsAMIOfAnotherLiveJob(const std::string& amiId, const char* where,
                               const std::string& exceptJobKey = std::string());
    // One registered staged volume, in its region: detached unless it has
    // no attachment, then deleted when asked. useSourceAccount: the account
    // for an entry that names none; an entry's own account decides otherwise.
    bool CleanUpMountedVolume(const CleanerEntity& volume, const std::string& key, bool deleteVolume,
                              std::vector<SFailure>& failures, bool useSourceAccount);
    bool VolumeIsGone(const std::string& volumeId, const std::string& region, bool useSourceAccount);
    bool VolumeIsDetached(const std::string& volumeId, const std::string& region, bool useSourceAccount);

    // ---- clean-up helpers: src/tasks/AmazonCleanupOps.cpp; EnsureTaskUtils in
    //      src/factory/AmazonInfo.cpp ----
    // Removes what one job run registered under its VM entry, for
    // _CleanupMountedVM; the entry goes only once all of it is gone.
    // Error 116 when a resource stays, 117 when a volume stays attached.
    bool CleanupMountedRoot(const CleanerEntity& root, std::vector<SFailure>& failures);
    CAmazonSDKBridge* BridgeFor(bool useSourceAccount) const {
        return AmazonCommon::ChooseBridge(m_pSourceBridge.get(), m_pAdminBridge, useSourceAccount);
    }
    // The account a resource made through the source bridge is registered
    // under: its id when that is not the proxy's account, else empty.
    std::string SourceAccountForCleaner() const;
    // Which bridge reaches the account that holds an entry's resource; an
    // entry that names no account takes fallbackToSource. False when this
    // job is connected to neither account: the entry must be kept.
    bool BridgeForEntry(const CleanerEntity& entry, bool fallbackToSource, bool& useSourceAccount) const;
    void EnsureTaskUtils();
    bool DeleteCloudVHD(const std::string& name);

    // ---- disk access helpers: src/disk/AmazonReadVmdk.cpp, AmazonCloseVmdk.cpp,
    //      AmazonAttachToProxy.cpp, AmazonVolumeOptimize.cpp ----
    // Snapshot access for "EBS-DIRECT-API" disks, prepared at open and
    // released at close.
    bool FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region);
    // why: on failure, the cause, for the job's error text.
    bool FillSnapshotAccessInfo(const std::string& snapshotId, const std::string& region, std::string& why);
    bool ClearSnapshotAccessInfo(const std::string& snapshotId);
    // Every block read goes through here (several reader threads at once).
    // why: what failed, naming the block and the service's or network's answer.
    bool ReadSnapshotRange(const std::string& snapshotId, const std::string& region, long long offset,
                           long long length, unsigned char* buffer, std::string& why);
    // The bridge of block reads and snapshot access (m_readBridges.readBridge),
    // created on first use; only with m_readBridges.lock held. Null when it
    // cannot connect.
    CAmazonSDKBridge* ReadBridgeLocked();
    // Closing an attached disk: detach, then for a backup delete the volume.
    int CloseHotAddDisk(const SVMInfo& vm, SDisk& disk, bool restore);
    // After a post-attach failure: detach the volume for the next attach pass.
    void DetachForReattach(const SVMInfo& vm, SDisk& disk);
    // The region of the proxy the volumes are attached to.
    std::string DiskAccessRegion();
    // A new bridge connected to the source account as the job connected
    // (web proxy included); null when it cannot connect.
    std::unique_ptr<CAmazonSDKBridge> NewConnectedBridge();

    // ---- change tracking helper: src/disk/AmazonChangeTracking.cpp ----
    // Registers the AMI the incoming change id names as held by this job,
    // before any clean-up of this job or another could take it.
    void HoldChainReference(const MountCtx& ctx);

    // ---- restore helpers: src/restore/AmazonRestorePhases.cpp,
    //      AmazonRestoreDiskProperties.cpp, AmazonRestoreCleanup.cpp ----
    // True (error 4000 set, logged under where) once the job was cancelled.
    bool RestoreCancelled(const char* where);
    int NoRestoreMethod(const char* where);
    // A warning for the restore's report: the framework's failure list and
    // the context's, which the framework shows. flagged: the record's flag,
    // set by the key warnings (the volume got the default key instead).
    void AddRestoreWarning(const RestoreCtx& ctx, const std::string& name, const std::string& message, bool flagged);
    bool DetachRestoreDisksFromProxy(const RestoreCtx& ctx);
    void KeepReusedInstance(const RestoreCtx& ctx);
    // keeper: the instance whose integrity tag names the AMI.
    bool IntegritySnapshotInUse(const std::string& amiId, const std::string& region, std::string& keeper);

    // ---- replication helpers: src/restore/AmazonInfoReplicationPhases.cpp,
    //      ...Integrity.cpp, ...Replica.cpp, ...TempVM.cpp ----
    // The replica's instance id: ctx.vmGuid once it names an instance, never
    // the job's cleanup key that stands in for it before one exists.
    static std::string ReplicaIdOf(const RestoreCtx& ctx);
    // Deletes an integrity AMI with its snapshots; when that fails, the
    // snapshots the disks record one by one. Logs, never fails.
    void _DeleteIntegrityAMI(const RestoreCtx& ctx, const std::string& amiId, const std::string& replicaId);
    // Removes the replica oldId; a failed delete leaves it registered under
    // a new cleanup key for a later clean-up.
    bool _RemoveReplica(const RestoreCtx& ctx, const std::string& oldId);
    // After a failed creation: deletes the instance only if this run
    // launched it, and forgets it.
    void _DropHalfMadeReplica(const RestoreCtx& ctx);
    // Each selected disk's snapshotId := the snapshot of amiId made from its
    // restored volume, for the next run to verify and restore from.
    bool _RecordIntegritySnapshotIds(const RestoreCtx& ctx, const SVMInfo& ami);
    bool _TakeConversionIntegritySnapshot(const RestoreCtx& ctx);

    // ---- snap helpers: src/snap/AmazonSnapVMCentric.cpp, AmazonSnapLiveBrowse.cpp ----
    // A snap backup's mount: the whole backup of the instance when
    // VM-centric, else PreSnap's finding.
    int MountVM_Snap_Backup(const MountCtx& ctx);
    // A live browse read through the EBS direct APIs: nothing is attached.
    // Error 23 when the direct client cannot be set up.
    int _MountVMLiveBrowsePseudoMount(const MountCtx& ctx);

    // ---- guest file helpers: src/guest/AmazonGuestBucket.cpp, AmazonGuestPrepare.cpp,
    //      AmazonGuestBrowse.cpp, AmazonGuestCommand.cpp, AmazonGuestCopy.cpp,
    //      AmazonGuestScript.cpp, AmazonGuestCleanup.cpp; true on success ----
    bool InitAgentlessRestoreS3Bucket();
    bool InitAgentlessRestoreRegistryS3Bucket();
    bool InitAgentlessRestoreDefaultS3Bucket();
    void GenerateS3FolderNameForGuestFileRestore(std::string& folder);
    bool CheckCrossAccountAgentless();
    // Error 220 when the guest lacks PowerShell or the AWS module.
    bool CanInstancePerformGuestFileRestore(const GuestCtx& ctx);
    bool IsPowershellInstalledOnGuest(const std::string& instanceId);
    bool IsAWSModuleInstalledOnGuest(const std::string& instanceId);
    bool BrowseGuestRoot(std::vector<VMInfoStructs::SGuestFile>& files);
    bool BrowseGuestFolder(const std::string& path, std::vector<VMInfoStructs::SGuestFile>& files);
    bool RunBrowseQuery(const std::string& instanceId, const std::string& extra, const std::string& region,
                        const std::string& bucket, const std::string& folder, const std::string& command,
                        std::string& output, std::string& error);
    static bool ParseBrowseResponseWinRoot(const std::string& output, std::vector<VMInfoStructs::SGuestFile>& files);
    static bool ParseBrowseResponseUnixRoot(std::vector<VMInfoStructs::SGuestFile>& files);
    static bool ParseBrowseResponseFolder(const std::string& output, std::vector<VMInfoStructs::SGuestFile>& files);
    // Waits for the command, reads its output and, when it wrote no error,
    // deletes the output folder. error: what the command wrote to stderr.
    bool VerifyRemoteCmdResult(const std::string& region, const std::string& bucket, const std::string& folder,
                               const std::string& instanceId, const std::string& commandId, std::string& output,
                               std::string& error);
    // 0 waits a day. Cancellation: error 4000 and the command cancelled.
    bool WaitForCommand(const std::string& region, const std::string& commandId, long timeoutSeconds);
    bool CopyFileToGuest(const std::string& bucket, const std::string& region, const std::string& instanceId,
                         const std::string& source, const std::string& destination, const std::string& folder);
    void HandleGuestFileCopyError(const char* where, const std::string& message);
    // Deletes the folder and what lies under it; failures are only logged.
    bool CleanUpGuestFolderOnS3(const std::string& bucketRegion, const std::string& bucket, const std::string& folder);
    // Steps 2-4 of both script forms; exitCode null for the text form.
    int RunGuestScript(const char* where, const GuestCtx& ctx, const std::string& script,
                       const std::string& parameters, int timeoutSeconds, int* exitCode);
    // The guest job's cleanup entries (guest/AmazonGuestCleanup.cpp). False
    // when the store cannot be opened: nothing could be registered.
    bool RegisterGuestJob(const std::string& region);
    // Before anything goes under the staging folder; once its removal
    // succeeded, the entry goes.
    void RegisterGuestStaging();
    void ReleaseGuestStaging(const std::string& bucket, const std::string& folder);
    // From submission until the wait on it ends (in any way but the
    // process's death, or a cancel that failed).
    void RegisterGuestCommand(const std::string& commandId, const std::string& region);
    void ReleaseGuestCommand(const std::string& commandId);
    // At the job's end: stops what is still registered, removes the staging
    // folder, and the root entry once nothing is left under it.
    void FinishGuestJob();

    // ---- bridges: NewBridge in src/factory/AmazonInfo.cpp, StoreConnectMembers in
    //      src/connect/AmazonConnect.cpp ----
    std::unique_ptr<CAmazonSDKBridge> NewBridge();
    void StoreConnectMembers(const std::string& url, const std::string& user, const std::string& password);

    // ---- object state: what this object holds between the framework's calls ----
    // The owning members keep their relative order: members are destroyed in
    // reverse order, after ~CAmazonInfo has reset the helpers that point at
    // the bridges.
    //
    // Connection (src/connect/; m_jobId from Init): the bridges and the
    // accounts they reach.
    BridgeFactory m_bridgeFactory;
    std::unique_ptr<CAmazonSDKBridge> m_pSourceBridge;
    CAmazonSDKBridge* m_pAdminBridge = nullptr;          // the source bridge unless cross-account
    std::unique_ptr<CAmazonSDKBridge> m_pOwnedAdminBridge;
    long long m_jobId = 0;
    bool m_bCrossAccount = false;
    bool m_bCrossAccountBackup = false;
    std::string m_strAdminURL;
    std::string m_strAdminUser;
    std::string m_strAdminPassword;
    AmazonConnect::ConnectedAccounts m_accounts;
    // Clean-up store and mount machinery (src/tasks/, src/backup/).
    std::unique_ptr<CDiskMapper> m_pDiskMapper;
    CAmazonCleaner m_cleaner;
    bool m_bAllVMsCleaned = false;
    bool m_bMountInitialized = false;
    bool m_bCleanerRegistered = false;
    // Disk access (src/disk/): the registry, the reader threads' bridges and
    // the direct client, and the change-tracking chain.
    std::unique_ptr<CAmazonDiskInfo> m_pDiskInfo;
    std::unique_ptr<CAmazonTaskUtils> m_pTaskUtils;
    bool m_bUseDirectSnapshotAccess = true;
    // Declared before the direct client, which uses directAccessBridge from
    // reader threads: members go in reverse order, so the bridges outlive it.
    AmazonDisk::ReadBridges m_readBridges;               // readBridge guarded by m_readBridges.lock
    std::unique_ptr<AmazonDirectSnapshotAccessAPI::CAmazonDirectSnapshotAccessAPIWrapper> m_pDirectSnapshotAccess;
    // The chain's last full backup and this incremental's reference AMI;
    // both empty outside a change-tracked job.
    std::string m_cbtLastFull;
    std::string m_cbtReferenceAMI;
    // Proxy identity (src/connect/AmazonProxyDetection.cpp); the proxy's record
    // is written under c_ProxyInfoLock.
    std::string m_strProxyInstanceId;
    std::string m_strProxyRegion;
    std::string m_strProxyBiosUUID;
    SVMInfo m_proxyVMInfo;
    bool m_bProxyInfoFetched = false;
    bool m_bProxyDetected = false;
    bool m_bProxyIsAWS = false;
    std::string m_strOutpostsAccountARN;
    // Snap backups (src/snap/), VM operations (src/inventory/), restore
    // (src/restore/) and guest files (src/guest/).
    std::unique_ptr<CVMSnapUtil> m_pSnapUtil;
    AmazonSnap::SnapState m_snap;
    bool m_bCreationFlag = false;
    AmazonRestore::RestoreState m_restore;
    AmazonGuest::GuestState m_guest;
    AmazonGuest::GuestCleanup m_guestCleanup;
};
