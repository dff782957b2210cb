#pragma once
// CAmazonDiskInfo: the registry of VMs and disks behind the data mover's
// open, read and close calls. A disk is registered (state 1) when the backup
// or restore staged it, opened (2) when the data mover opens it and closed (3)
// when it is done; the handles handed to the framework name the VM and disk
// entries kept here.
//
// Handles carry the entries' ids, never their addresses, and an id is given
// out once per process: a handle whose VM was disconnected, whose disk record
// was replaced by a later registration, or that was never handed out is
// refused, never followed, even when a later job's entry took its place.
//
// Thread-safety: one lock guards the VM list and every field of the VM and
// disk entries, so ReadVmdk may look disks up from several reader threads
// while another disk is opened or closed. Records are handed out as copies.
// ConnectDisk does not hold the lock while it waits for the attachment.
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "records/AmazonRecords.h"
#include "records/JobContexts.h"
#include "records/VMInfoStructs.h"

class CAmazonTaskUtils;

namespace AmazonDiskInfo {

enum AmazonDiskState { DiskRegistered = 1, DiskOpen = 2, DiskClosed = 3 };

struct DiskHandle {
    uint64_t id = 0;              // what a VmdkHandle carries
    AmazonDiskState state = DiskRegistered;
    std::string deviceVolumeId;   // the volume the data mover reads (the disk's new volume id)
    std::string sourceVolumeId;   // the key the disk is found by, case-insensitively
    int64_t capacity = 0;
    int32_t attribute = 0;
    bool restore = false;         // registered for a restore: the volume is written
    std::string transportMode;    // "HOTADD" or "EBS-DIRECT-API"
    VMInfoStructs::SDisk disk;    // full copy, updated after attach
};

struct VMHandle {
    uint64_t id = 0;              // what a VmdkHandle carries
    std::string name;
    std::string guid;             // instance id, compared case-insensitively
    std::string zone;
    std::string region;
    bool isTemplate = false;
    std::vector<std::unique_ptr<DiskHandle>> disks;
};

}  // namespace AmazonDiskInfo

class CAmazonDiskInfo {
public:
    explicit CAmazonDiskInfo(CAmazonTaskUtils* taskUtils) : m_taskUtils(taskUtils) {}

    // Stores the attach target (the proxy's own instance record).
    bool Initialize(const VMInfoStructs::SVMInfo& attachTarget);
    // Adds a VM handle unless one with the instance id exists; false when the
    // record names no instance.
    bool Connect(const VMInfoStructs::SVMInfo& vm);
    // Deletes the VM handle and its disk handles; handles into them are
    // refused from then on.
    // openDirectSnapshots, when given, receives the snapshots of the VM's
    // direct-read disks that were still open, whose access the caller must
    // release.
    bool Disconnect(const VMInfoStructs::SVMInfo& vm, std::vector<std::string>* openDirectSnapshots = nullptr);
    // A disk already registered under its source volume id with the same
    // staging (device volume, snapshot, transport mode, restore flag) counts
    // as success. One staged otherwise, by an earlier job that was never
    // unmounted, is replaced, so that nothing reads the earlier snapshot and
    // the earlier handles are refused; false when that disk is still open.
    bool RegisterDisk(const VMInfoStructs::SVMInfo& vm, const VMInfoStructs::SDisk& disk,
                      const std::string& transportMode, bool restore);
    // Returns the disk's state (0 when not found) and fills the handle.
    int GetDiskHandle(const std::string& vmName, const std::string& vmGuid, const std::string& sourceVolumeId,
                      VmdkHandle& handle, AmazonDiskInfo::AmazonDiskState& state);
    bool GetDiskInfo(const VmdkHandle& handle, VMInfoStructs::SDisk& disk, bool& restore);
    // vmGuid empty: the handle's own VM.
    bool GetVMInfo(const VmdkHandle& handle, const std::string& vmGuid, VMInfoStructs::SVMInfo& vm);
    // capacity: the disk's size in bytes, where every read must end.
    bool GetDiskReadInfo(const VmdkHandle& handle, std::string& snapshotId, std::string& region,
                         uint32_t& sectorSize, int64_t& capacity);
    // Empty for an unknown handle.
    std::string GetDiskTransportMode(const VmdkHandle& handle);
    // 0 for an unknown handle.
    AmazonDiskInfo::AmazonDiskState GetDiskState(const VmdkHandle& handle);
    bool SetDiskState(const VmdkHandle& handle, AmazonDiskInfo::AmazonDiskState state);
    // Attaches the disk's device volume to the attach target and waits for
    // the attachment; disk receives the stored record. Refuses an open disk.
    bool ConnectDisk(const VMInfoStructs::SVMInfo& vm, VMInfoStructs::SDisk& disk);
    // Marks an open disk closed (clearing its device name); any other state
    // is left as it is and succeeds.
    bool CloseDisk(const VMInfoStructs::SVMInfo& vm, const VMInfoStructs::SDisk& disk);
    bool UpdateDisk(const VMInfoStructs::SVMInfo& vm, const VMInfoStructs::SDisk& disk);
    // One entry per disk: the device volume id as name, the source volume id.
    bool GetDisks(const VMInfoStructs::SVMInfo& vm, std::vector<VMInfoStructs::SDisk>& disks);
    // The only VM (there must be exactly one) and its disks' records.
    bool GetLiveBrowseMountInfo(VMInfoStructs::SVMInfo& vm, std::vector<VMInfoStructs::SDisk>& disks);
    void AddDiskFailure(const std::string& volume, const std::string& message, bool flag);
    std::vector<SFailure> GetDiskFailures() const;
    // Hands the failures over and forgets them, so that a later job on the
    // same object does not report them again.
    std::vector<SFailure> TakeDiskFailures();

    // A copy: Initialize may run while readers look.
    VMInfoStructs::SVMInfo AttachTarget() const;
    CAmazonTaskUtils* TaskUtils() const { return m_taskUtils; }
    void SetTaskUtils(CAmazonTaskUtils* taskUtils) { m_taskUtils = taskUtils; }

private:
    using VMHandle = AmazonDiskInfo::VMHandle;
    using DiskHandle = AmazonDiskInfo::DiskHandle;

    // Process-wide, never 0 and never given twice.
    static uint64_t NewHandleId();
    // All with m_lock held. Null when not found.
    VMHandle* FindVM(const std::string& vmGuid) const;
    static DiskHandle* FindDisk(const VMHandle& vm, const std::string& sourceVolumeId);
    static bool SameStaging(const DiskHandle& handle, const VMInfoStructs::SDisk& disk,
                            const std::string& transportMode, bool restore);
    // The entries a handle points at, only when both are still registered.
    bool Resolve(const VmdkHandle& handle, VMHandle*& vm, DiskHandle*& disk) const;
    bool ResolveVM(const VmdkHandle& handle, VMHandle*& vm) const;
    static void FillVMRecord(const VMHandle& h, VMInfoStructs::SVMInfo& vm);
    // Clears what an attachment put into the stored record.
    static void DisconnectDisk(const VMHandle& vm, DiskHandle& disk);
    // Attach-target checks and the attach itself, without the lock.
    bool AttachToTarget(const std::string& volumeId);

    CAmazonTaskUtils* m_taskUtils;
    VMInfoStructs::SVMInfo m_attachTarget;
    mutable std::recursive_mutex m_lock;
    std::vector<std::unique_ptr<VMHandle>> m_vms;
    std::vector<SFailure> m_failures;
};
