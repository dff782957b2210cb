// The registry's disk entries: registration, handles and the fields the
// open, read and close paths look up.
#include <strings.h>

#include <cstdint>

#include "disk/AmazonDiskInfo.h"
#include "framework/EvDebug.h"

using AmazonDiskInfo::AmazonDiskState;

bool CAmazonDiskInfo::RegisterDisk(const VMInfoStructs::SVMInfo& vm, const VMInfoStructs::SDisk& disk,
                                   const std::string& transportMode, bool restore) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 1, "Registering disk [%s][%s] for %s of VM [%s]. TransportMode: [%s]",
                      disk.volumeId.c_str(), disk.newVolumeId.c_str(), restore ? "restore" : "backup",
                      vm.name.c_str(), transportMode.c_str());
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vmHandle = FindVM(vm.guid);
    if (!vmHandle) return false;
    DiskHandle* existing = FindDisk(*vmHandle, disk.volumeId);
    if (existing && SameStaging(*existing, disk, transportMode, restore)) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Disk [%s] is already registered", disk.volumeId.c_str());
        return true;
    }
    if (existing && existing->state == AmazonDiskInfo::DiskOpen) {
        EvDebug::Error(__PRETTY_FUNCTION__,
                       "Disk [%s] is still open for snapshot [%s] volume [%s]; it cannot be registered again",
                       disk.volumeId.c_str(), existing->disk.snapshotId.c_str(), existing->deviceVolumeId.c_str());
        return false;
    }
    if (!existing) {
        vmHandle->disks.push_back(std::make_unique<DiskHandle>());
        existing = vmHandle->disks.back().get();
    } else {
        EvDebug::Debug(__PRETTY_FUNCTION__,
                       "Disk [%s] of snapshot [%s] volume [%s] replaced by snapshot [%s] volume [%s]",
                       disk.volumeId.c_str(), existing->disk.snapshotId.c_str(), existing->deviceVolumeId.c_str(),
                       disk.snapshotId.c_str(), disk.newVolumeId.c_str());
    }
    DiskHandle& handle = *existing;
    handle = DiskHandle{};
    handle.id = NewHandleId();
    handle.deviceVolumeId = disk.newVolumeId;
    handle.sourceVolumeId = disk.volumeId;
    handle.capacity = disk.size;
    handle.attribute = disk.diskType;
    handle.restore = restore;
    handle.transportMode = transportMode;
    handle.disk = disk;
    return true;
}

bool CAmazonDiskInfo::SameStaging(const DiskHandle& handle, const VMInfoStructs::SDisk& disk,
                                  const std::string& transportMode, bool restore) {
    return handle.deviceVolumeId == disk.newVolumeId && handle.disk.snapshotId == disk.snapshotId &&
           handle.transportMode == transportMode && handle.restore == restore;
}

int CAmazonDiskInfo::GetDiskHandle(const std::string& vmName, const std::string& vmGuid,
                                   const std::string& sourceVolumeId, VmdkHandle& handle, AmazonDiskState& state) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vm = FindVM(vmGuid);
    DiskHandle* disk = vm ? FindDisk(*vm, sourceVolumeId) : nullptr;
    if (!disk) {
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "No disk [%s] registered for VM [%s][%s]", sourceVolumeId.c_str(),
                          vmName.c_str(), vmGuid.c_str());
        return 0;
    }
    handle.vmHandle = reinterpret_cast<void*>(static_cast<uintptr_t>(vm->id));
    handle.diskHandle = reinterpret_cast<void*>(static_cast<uintptr_t>(disk->id));
    state = disk->state;
    return state;
}

bool CAmazonDiskInfo::GetDiskInfo(const VmdkHandle& handle, VMInfoStructs::SDisk& disk, bool& restore) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vm = nullptr;
    DiskHandle* d = nullptr;
    if (!Resolve(handle, vm, d)) return false;
    disk = d->disk;
    restore = d->restore;
    return true;
}

bool CAmazonDiskInfo::GetDiskReadInfo(const VmdkHandle& handle, std::string& snapshotId, std::string& region,
                                      uint32_t& sectorSize, int64_t& capacity) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vm = nullptr;
    DiskHandle* d = nullptr;
    if (!Resolve(handle, vm, d)) return false;
    snapshotId = d->disk.snapshotId;
    region = vm->region;
    sectorSize = d->disk.sectorSize;
    capacity = d->capacity;
    return true;
}

std::string CAmazonDiskInfo::GetDiskTransportMode(const VmdkHandle& handle) {
    if (!handle.diskHandle) {
        EvDebug::Error(__PRETTY_FUNCTION__, "disk handle is NULL");
        return std::string();
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vm = nullptr;
    DiskHandle* d = nullptr;
    return Resolve(handle, vm, d) ? d->transportMode : std::string();
}

AmazonDiskState CAmazonDiskInfo::GetDiskState(const VmdkHandle& handle) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vm = nullptr;
    DiskHandle* d = nullptr;
    return Resolve(handle, vm, d) ? d->state : AmazonDiskState(0);
}

bool CAmazonDiskInfo::SetDiskState(const VmdkHandle& handle, AmazonDiskState state) {
    if (!handle.diskHandle) {
        EvDebug::Error(__PRETTY_FUNCTION__, "disk handle is NULL");
        return false;
    }
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vm = nullptr;
    DiskHandle* d = nullptr;
    if (!Resolve(handle, vm, d)) return false;
    d->state = state;
    return true;
}

bool CAmazonDiskInfo::UpdateDisk(const VMInfoStructs::SVMInfo& vm, const VMInfoStructs::SDisk& disk) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vmHandle = FindVM(vm.guid);
    DiskHandle* d = vmHandle ? FindDisk(*vmHandle, disk.volumeId) : nullptr;
    if (!d) return false;
    d->disk = disk;
    return true;
}

bool CAmazonDiskInfo::GetDisks(const VMInfoStructs::SVMInfo& vm, std::vector<VMInfoStructs::SDisk>& disks) {
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vmHandle = FindVM(vm.guid);
    if (!vmHandle) return false;
    for (const auto& d : vmHandle->disks) {
        VMInfoStructs::SDisk entry;
        entry.name = d->deviceVolumeId;
        entry.volumeId = d->sourceVolumeId;
        disks.push_back(entry);
    }
    return true;
}

CAmazonDiskInfo::DiskHandle* CAmazonDiskInfo::FindDisk(const VMHandle& vm, const std::string& sourceVolumeId) {
    for (const auto& d : vm.disks)
        if (strcasecmp(d->sourceVolumeId.c_str(), sourceVolumeId.c_str()) == 0) return d.get();
    return nullptr;
}
