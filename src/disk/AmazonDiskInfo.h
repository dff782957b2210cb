#pragma once
// CAmazonDiskInfo: the registry of VMs and disks behind the data mover's
// open, read and close calls. A disk is registered (state 1) when the backup
// or restore staged it, opened (2) when the data mover opens it and closed (3)
// when it is done; the handles handed to the framework point at the VM and
// disk entries kept here.
//
// Thread-safety: the VM handle list is guarded by one lock; ReadVmdk may look
// handles up from several reader threads while another disk closes.
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
    // Deletes the VM handle and its disk handles.
    bool Disconnect(const VMInfoStructs::SVMInfo& vm);
    bool RegisterDisk(const VMInfoStructs::SVMInfo& vm, const VMInfoStructs::SDisk& disk,
                      const std::string& transportMode, bool restore);
    // Returns the disk's state (0 when not found) and fills the handle.
    int GetDiskHandle(const std::string& vmName, const std::string& vmGuid, const std::string& sourceVolumeId,
                      VmdkHandle& handle, AmazonDiskInfo::AmazonDiskState& state);
    bool GetDiskInfo(const VmdkHandle& handle, VMInfoStructs::SDisk& disk, bool& restore);
    bool GetVMInfo(const VmdkHandle& handle, const std::string& vmGuid, VMInfoStructs::SVMInfo& vm);
    bool GetDiskReadInfo(const VmdkHandle& handle, std::string& snapshotId, std::string& region,
                         uint32_t& sectorSize);
    std::string GetDiskTransportMode(const VmdkHandle& handle);
    AmazonDiskInfo::AmazonDiskState GetDiskState(const VmdkHandle& handle);
    bool SetDiskState(const VmdkHandle& handle, AmazonDiskInfo::AmazonDiskState state);
    bool ConnectDisk(const VMInfoStructs::SVMInfo& vm, VMInfoStructs::SDisk& disk);
    bool CloseDisk(const VMInfoStructs::SVMInfo& vm, const VMInfoStructs::SDisk& disk);
    bool UpdateDisk(const VMInfoStructs::SVMInfo& vm, const VMInfoStructs::SDisk& disk);
    bool GetDisks(const VMInfoStructs::SVMInfo& vm, std::vector<VMInfoStructs::SDisk>& disks);
    void AddDiskFailure(const std::string& volume, const std::string& message, bool flag);
    std::vector<SFailure> GetDiskFailures() const;

    const VMInfoStructs::SVMInfo& AttachTarget() const { return m_attachTarget; }
    CAmazonTaskUtils* TaskUtils() const { return m_taskUtils; }
    void SetTaskUtils(CAmazonTaskUtils* taskUtils) { m_taskUtils = taskUtils; }

private:
    CAmazonTaskUtils* m_taskUtils;
    VMInfoStructs::SVMInfo m_attachTarget;
    mutable std::recursive_mutex m_lock;
    std::vector<std::unique_ptr<AmazonDiskInfo::VMHandle>> m_vms;
    std::vector<SFailure> m_failures;
};
