#pragma once
// CVMSnapUtil: the plug-in's front to the snapshot manager for one job,
// built on the plug-in object's event context. It takes a job's snapshots
// (through the process's snapshot engine, SnapEngine.h), keeps the job
// record in the manager's store (SnapStore.h), writes and reads the snap
// metadata XML (SnapMetadataXml.h) and hands back the metadata files a job
// left with the manager.
//
// File names. The job-level snap metadata file is GetSnapMetadataFileName
// ("backup_<job id>.xml", the id in full 64-bit decimal); the VM-centric
// flow's per-instance file is GetVMSnapMetadataFileName. GenerateMetadataXML
// writes, into the context's snap metadata folder, the per-instance file
// when the context is VM-centric and the job-level file otherwise.
// ReadSnapMetadataXML reads exactly the path it is given.
//
// Not thread-safe: one object per job thread.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "framework/FrameworkApi.h"
#include "records/AmazonRecords.h"
#include "records/JobContexts.h"
#include "records/SnapManagerRecords.h"
#include "records/VMInfoStructs.h"

class EvEvent;

class FW_API CVMSnapUtil {
public:
    // A snapshot not completed this long after it was requested has failed.
    static constexpr int64_t kSnapshotTimeoutMs = 4LL * 3600 * 1000;
    static constexpr int64_t kSnapshotPollMs = 15 * 1000;

    explicit CVMSnapUtil(EvEvent* event) : m_event(event) {}
    virtual ~CVMSnapUtil();
    EvEvent* GetEventContext() const { return m_event; }

    // ---- snapshots ----
    // Snapshots every volume of the record in the account of its array
    // (record.arrayNumber, FwSnapEngine::RegisterArray) and waits for each to
    // complete. Each volume's mountStatus tells how it went (kSMVolumeSnapped,
    // kSMVolumeRefused, kSMVolumeSnapFailed); every snapshot that exists in
    // the cloud afterwards, also of a failed call, is listed as a type-6
    // metadata entry (snapUUID, sourceRegion, targetRegion, sourceInstance).
    // A snapshot whose transient metadata names a "targetEncryptionKey"
    // (its ":" written as "$") is copied, once completed, under that key in
    // its region, and the copy takes its place (entry, snapDevice); the
    // original is deleted. A volume whose copy fails is kSMVolumeSnapFailed,
    // with the original and the copy, if one exists, still listed.
    // The record is stored in either case. Non-zero on success: every volume
    // snapped, or, with action flag 0x400000000 (partial success allowed),
    // the request was carried out whatever each volume's status.
    int CreateHWSnapshot(MountCtx& ctx, SMVolSnapInfo& record);
    // Loads the stored record of the context's snapshot job for a mount
    // (mode 0) or a revert (mode 1) and notes the mode in record.loadMode; a
    // revert starts with no mount records (mount device, path and host
    // cleared), as its volumes are new ones. 0 when the job has no record or
    // the mode is neither.
    int GetVOLSNAPInfo(const MountCtx& ctx, SMVolSnapInfo& record, int mode);
    void DumpVolSnapInfo(const SMVolSnapInfo& record) const;

    // ---- volumes from a job's snapshots (mount and revert) ----
    static constexpr int64_t kVolumeTimeoutMs = 30LL * 60 * 1000;
    static constexpr int64_t kVolumePollMs = 5 * 1000;
    // Makes one volume from each snapshot entry of the record, with the
    // zone, name, type and IOPS of the entry's newest transient metadata
    // (type 93), and, when attachInstanceId is not empty, attaches it there
    // and waits for the attachment. Each volume is in the record the moment
    // it exists (its entry's snapDevice "/<region>/<volume id>", its
    // volume's mountDevice), also when the call then fails, so the caller
    // can register or remove what was made. Per entry: status and errorCode
    // 0 or kSMMountRefused / kSMMountFailed, with errorText. Non-zero when
    // every volume was made (and attached).
    int mountVolumes(SMVolSnapInfo& record, const std::string& attachInstanceId);
    // Drops the record's mount records, each entry naming its snapshot
    // again. keep false: each volume made is detached and deleted first
    // (an entry whose volume cannot be removed keeps naming it, and the call
    // fails with kSMUnmountFailed); keep true: the volumes stay as they are,
    // for a revert that hands them to the restored instance.
    int unmountVolumes(SMVolSnapInfo& record, bool keep);
    // Removes (detached, deleted) every volume a mount made in a process
    // that has since died before its record reached the caller; the
    // volumes of mounts still running, in this process or another, stay.
    // mountVolumes does this first. A volume that cannot be removed stays
    // for the next call; false then. removed: the volume ids removed.
    static bool ReleaseAbandonedMounts(std::vector<std::string>& removed, std::string& error);

    // ---- snap metadata XML ----
    void SetTagMap(const std::string& volumeId, const std::map<std::string, std::string>& tags);
    bool GetTagMap(const std::string& volumeId, std::map<std::string, std::string>& tags) const;
    void SetAdditionalDiskMetadata(const std::string& volumeId,
                                   const std::vector<VMInfoStructs::SDiskMetadataInfo>& entries);
    // Writes every volume of the list (and the datastore, when the list
    // lacks it) with its tags and disk metadata; each instance record with
    // the error code the context's instance map holds for it. Non-zero on
    // success.
    int GenerateMetadataXML(const MountCtx& ctx, const VMInfoStructs::SDatastoreInfo& datastore,
                            const std::vector<SVolSnap>& list);
    // Reads the file into the datastore list (and the tag maps); false with
    // nothing changed when the file is missing or not snap metadata.
    bool ReadSnapMetadataXML(const std::string& path, std::vector<VMInfoStructs::SDatastoreInfo>& datastores);
    const std::vector<VMInfoStructs::SDatastoreInfo>& GetDatastores() const { return m_datastores; }
    // Rewrites each instance's error code in the file from the context's
    // instance map.
    bool PatchBackupXMLWithVMErrorCode(const MountCtx& ctx, const std::string& path);
    // One SVolSnap per datastore read last.
    bool UpdateVMList(std::vector<SVolSnap>& list) const;
    static std::string GetSnapMetadataFileName(int64_t jobId);
    static std::string GetVMSnapMetadataFileName(int64_t jobId, const std::string& instanceId);

    // ---- metadata files handed over ----
    // The framework keeps each file with the snapshot job (by its name).
    static bool UploadMetadataFiles(int64_t snapJobId, const std::vector<std::string>& paths);
    // Writes the named file of the context's snapshot job into folder.
    // Non-zero on success.
    int DownloadMetadataFiles(const MountCtx& ctx, const std::string& fileName, const std::string& folder);
    // Every file of the snapshot job that belongs to the instance: its
    // configuration file and its snap metadata file.
    int DownloadVMMetadataFiles(const MountCtx& ctx, const std::string& instanceId, const std::string& folder);

    // ---- jobs that never completed ----
    // Deletes, through the engine, every snapshot of each stored job the
    // framework never committed (CSnapStore::MarkJobCommitted), then its
    // record. A job whose snapshots cannot all be deleted (or whose array is
    // not registered) keeps its record for the next clean-up; false then.
    // Only for a moment when no snapshot job of the store runs: a running
    // job is not committed yet either. deleted: the snapshot ids removed.
    static bool DeleteUncommittedJobs(std::vector<std::string>& deleted, std::string& error);

    // A metadata text for the log: the value of "targetSecretKey" masked.
    static std::string MaskSecrets(const std::string& metadata);

private:
    EvEvent* m_event;
    std::map<std::string, std::map<std::string, std::string>> m_tags;   // volume id -> tags
    std::map<std::string, std::vector<VMInfoStructs::SDiskMetadataInfo>> m_diskMetadata;
    std::vector<VMInfoStructs::SDatastoreInfo> m_datastores;            // read last
};
