// Opening a registered disk for the data mover: snapshot access for direct
// reads, an attachment to the proxy otherwise.
#include <strings.h>

#include <algorithm>

#include "disk/AmazonDiskInfo.h"
#include "disk/DiskGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/Clock.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"
#include "tasks/AmazonTaskErrors.h"

namespace {

constexpr int kDefaultAttachRetrySec = 600;
constexpr int64_t kRetryStepSec = 5;

// Sleeps in short steps, so that a cancelled job does not sit out a whole
// retry interval.
void WaitBeforeRetry(const CVMInfo& info, int64_t seconds) {
    for (int64_t left = seconds; left > 0 && !info.IsJobCancelled(); left -= kRetryStepSec)
        FwClock::SleepMs(std::min(left, kRetryStepSec) * 1000);
}

int AttachRetrySeconds() {
    int seconds = kDefaultAttachRetrySec;
    KDPlatformInfo().getNumber("VirtualServer", "nAmazonAttachDiskRetryInSec", seconds);
    // Zero would hammer the account with attach requests.
    return std::max(seconds, 1);
}

}  // namespace

int CAmazonInfo::OpenVmdk(const std::string& vmName, const std::string& vmGuid, const std::string& diskId,
                          VmdkHandle& handle) {
    const char* fn = __PRETTY_FUNCTION__;
    return AmazonDisk::Guarded(fn, 0, [&] {
        if (diskId.empty()) {
            EvDebug::Error(fn, "Cannot open disk handle for empty disk path");
            return 0;
        }
        SetLastVMError(0);
        if (!m_pDiskInfo) {
            EvDebug::Error(fn, "Disk Info is null.");
            return 0;
        }
        EvDebug::Debug(fn, "Opening disk [%s] of Instance: [%s][%s]", diskId.c_str(), vmName.c_str(),
                       vmGuid.c_str());
        AmazonDiskInfo::AmazonDiskState state{};
        if (!m_pDiskInfo->GetDiskHandle(vmName, vmGuid, diskId, handle, state)) {
            SetLastVMError(AmazonErrors::kMountFailed,
                           "disk [" + diskId + "] of VM [" + vmName + "] is not mounted for this job");
            EvDebug::Error(fn, "Unable to get disk handle of the opened disk [%s] of VM [%s]", diskId.c_str(),
                           vmName.c_str());
            return 0;
        }
        if (state == AmazonDiskInfo::DiskOpen) {
            EvDebug::Debug(fn, "Disk [%s] is already open", diskId.c_str());
            return 1;
        }
        SDisk disk;
        bool restore = false;
        if (!m_pDiskInfo->GetDiskInfo(handle, disk, restore)) {
            SetLastVMError(AmazonErrors::kMountFailed, "disk [" + diskId + "] has no record to open it by");
            EvDebug::Error(fn, "Unable to get disk info of the opened disk [%s] for VM [%s] to attach",
                           diskId.c_str(), vmName.c_str());
            return 0;
        }
        SVMInfo vm;
        if (!m_pDiskInfo->GetVMInfo(handle, vmGuid, vm)) {
            SetLastVMError(AmazonErrors::kMountFailed, "VM [" + vmName + "] of disk [" + diskId + "] is not mounted");
            EvDebug::Error(fn, "Invalid vmdk handle for disk [%s] of VM [%s]", diskId.c_str(), vmName.c_str());
            return 0;
        }
        const std::string mode = m_pDiskInfo->GetDiskTransportMode(handle);
        if (mode.empty()) {
            EvDebug::Error(fn, "No transport mode for disk [%s]", diskId.c_str());
            return 0;
        }
        if (strcasecmp(mode.c_str(), AmazonDisk::kTransportDirect) == 0) {
            std::string why;
            if (!FillSnapshotAccessInfo(disk.snapshotId, vm.region, why)) {
                EvDebug::Error(fn, "Failed to fill snapshot access info for snapshot: [%s], vm: [%s], disk: [%s].",
                               disk.snapshotId.c_str(), vm.guid.c_str(), diskId.c_str());
                SetLastVMError(AmazonErrors::kMountFailed, "cannot open snapshot [" + disk.snapshotId + "] of disk [" +
                                                               diskId + "] for direct reads: " + why);
                return 0;
            }
            return m_pDiskInfo->SetDiskState(handle, AmazonDiskInfo::DiskOpen) ? 1 : 0;
        }
        if (!_OpenVmdk(vm, disk, restore)) {
            EvDebug::Error(fn, "Open disk failed");
            return 0;
        }
        return 1;
    });
}

int CAmazonInfo::CreateVmdk(const std::string& vmName, const std::string& vmGuid, const std::string& diskId,
                            ULONGLONG, VmdkHandle& handle) {
    // The volume exists already (staged by the restore); only opening is left.
    return OpenVmdk(vmName, vmGuid, diskId, handle);
}

int CAmazonInfo::_OpenVmdk(const SVMInfo& vm, SDisk& disk, bool forWrite) {
    if (!forWrite && !OptimizeAndModifyDisk(disk)) return 0;
    const int retrySeconds = AttachRetrySeconds();
    for (;;) {
        SetLastVMError(0);
        if (IsJobCancelled()) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Detected quit flag during attach disk [%s][%s]",
                           disk.newVolumeId.c_str(), disk.volumeId.c_str());
            AmazonErrors::SetInterrupted(*this);
            return 0;
        }
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 1, "Attaching disk [%s][%s] of VM [%s][%s] to proxy",
                          disk.newVolumeId.c_str(), disk.volumeId.c_str(), vm.name.c_str(), vm.guid.c_str());
        const int mode = forWrite ? VM_CLEANER_RESTORE : VM_CLEANER_BACKUP;
        if (AttachVolumeToProxy(vm.guid, vm, disk, forWrite, true, mode)) {
            EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s][%s] of VM [%s] is opened successfully for %s",
                           disk.newVolumeId.c_str(), disk.volumeId.c_str(), vm.name.c_str(),
                           forWrite ? "writing" : "reading");
            return 1;
        }
        if (GetLastVMError() != AmazonErrors::kAttachConflict) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to attach disk [%s][%s] of VM [%s] to proxy",
                           disk.newVolumeId.c_str(), disk.volumeId.c_str(), vm.name.c_str());
            return 0;
        }
        EvDebug::Error(__PRETTY_FUNCTION__, "Proxy has reached to max limit while attaching disk [%s][%s] of VM [%s]",
                       disk.newVolumeId.c_str(), disk.volumeId.c_str(), vm.name.c_str());
        WaitBeforeRetry(*this, retrySeconds);
    }
}
