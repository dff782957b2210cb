// Attaching a registered disk's volume to the attach target, and marking it
// closed again.
#include "disk/AmazonDiskInfo.h"
#include "framework/EvDebug.h"
#include "tasks/AmazonTaskUtils.h"

using AmazonDiskInfo::DiskClosed;
using AmazonDiskInfo::DiskOpen;

bool CAmazonDiskInfo::ConnectDisk(const VMInfoStructs::SVMInfo& vm, VMInfoStructs::SDisk& disk) {
    std::string volumeId;
    {
        std::lock_guard<std::recursive_mutex> guard(m_lock);
        VMHandle* vmHandle = FindVM(vm.guid);
        if (!vmHandle) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "vm handle is invalid");
            return false;
        }
        DiskHandle* d = FindDisk(*vmHandle, disk.volumeId);
        if (!d) {
            EvDebug::Error(__PRETTY_FUNCTION__, "disk handled invalid. Disk [%s] has not registered",
                           disk.volumeId.c_str());
            return false;
        }
        if (d->state == DiskOpen) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Disk [%s] of VM [%s] already opened with [%s]",
                           d->sourceVolumeId.c_str(), vmHandle->guid.c_str(), d->disk.name.c_str());
            return false;
        }
        d->disk.name.clear();
        disk = d->disk;
        volumeId = d->deviceVolumeId;
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 1, "Attaching disk [%s][%s] of VM [%s]", volumeId.c_str(),
                          d->sourceVolumeId.c_str(), vmHandle->name.c_str());
    }
    // The attach waits for minutes; readers of other disks must not wait too.
    if (!AttachToTarget(volumeId)) return false;
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vmHandle = FindVM(vm.guid);
    DiskHandle* d = vmHandle ? FindDisk(*vmHandle, disk.volumeId) : nullptr;
    if (!d) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Disk [%s] was disconnected while it was attached",
                       disk.volumeId.c_str());
        return false;
    }
    d->state = DiskOpen;
    return true;
}

bool CAmazonDiskInfo::AttachToTarget(const std::string& volumeId) {
    const VMInfoStructs::SVMInfo target = AttachTarget();
    // Either would send the bridge an attach it can only refuse, with a text
    // that hides the cause.
    if (target.guid.empty() || volumeId.empty() || !m_taskUtils) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Cannot attach volume [%s]: no %s", volumeId.c_str(),
                       volumeId.empty() ? "volume to attach" : target.guid.empty() ? "proxy instance" : "task utility");
        return false;
    }
    return m_taskUtils->AttachVolume(volumeId, target.guid, target.zone, target.region, false, "", false);
}

bool CAmazonDiskInfo::CloseDisk(const VMInfoStructs::SVMInfo& vm, const VMInfoStructs::SDisk& disk) {
    EvDebug::DebugLvl(__PRETTY_FUNCTION__, 1, "Closing disk [%s][%s] of VM [%s]", disk.newVolumeId.c_str(),
                      disk.volumeId.c_str(), vm.name.c_str());
    std::lock_guard<std::recursive_mutex> guard(m_lock);
    VMHandle* vmHandle = FindVM(vm.guid);
    if (!vmHandle) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "vm handle is invalid");
        return false;
    }
    DiskHandle* d = FindDisk(*vmHandle, disk.volumeId);
    if (!d) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Disk [%s] has not opened", disk.volumeId.c_str());
        return false;
    }
    if (d->state == DiskOpen) {
        DisconnectDisk(*vmHandle, *d);
        d->state = DiskClosed;
    }
    return true;
}

void CAmazonDiskInfo::DisconnectDisk(const VMHandle& vm, DiskHandle& disk) {
    if (disk.state != DiskOpen) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Disk [%s] of VM [%s] has not opened", disk.sourceVolumeId.c_str(),
                       vm.guid.c_str());
        return;
    }
    // The device and its attachment point belong to the attachment just ended.
    disk.disk.name.clear();
    disk.disk.deviceName.clear();
}
