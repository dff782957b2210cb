// Recast: a full restore driven through the restore phases, the disks held
// open on the proxy between InitRecast and FinalizeRecast for another tool
// to write.
#include "common/OperationGuard.h"
#include "factory/AmazonInfo.h"
#include "framework/DiskMapper.h"
#include "framework/EvDebug.h"

using AmazonGuard::Guarded;

int CAmazonInfo::InitRecast(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::Debug(fn, "Initializing Recast for VM [%s]", ctx.restoreVMName.c_str());
        if (!InitRestoreVM(ctx)) return 0;
        const std::string& name = ctx.vm.name;
        for (const auto& disk : ctx.disks) {
            if (!disk.selected) continue;
            const char* id = disk.sourceVolumeId.c_str();
            EvDebug::Debug(fn, "Opening disk: [%s] for VM [%s][%s][%s]", id, name.c_str(),
                           ctx.registrationGuid.c_str(), ctx.vmGuid.c_str());
            VmdkHandle handle;
            if (!OpenVmdk(name, ctx.registrationGuid, disk.sourceVolumeId, handle)) {
                EvDebug::Error(fn, "Failed to open disk: [%s] for VM [%s][%s][%s]", id, name.c_str(),
                               ctx.registrationGuid.c_str(), ctx.vmGuid.c_str());
                return 0;
            }
            SDisk info;
            if (!GetVmdkInfo(handle, info)) {
                EvDebug::Error(fn, "Failed to get vmdk for disk: [%s] for VM [%s][%s][%s]", id, name.c_str(),
                               ctx.registrationGuid.c_str(), ctx.vmGuid.c_str());
                return 0;
            }
            std::string device;
            if (m_pDiskMapper) m_pDiskMapper->GetDeviceForVolume(info.newVolumeId, device);
            EvDebug::Debug(fn, "Physical path for disk [%s]: [%s]", id, device.c_str());
            if (!m_pDiskMapper || device.empty() || !m_pDiskMapper->MakeDiskWriteable(device)) {
                EvDebug::Error(fn, "Failed to mark disk [%s] online", id);
                return 0;
            }
        }
        return 1;
    });
}

int CAmazonInfo::FinalizeRecast(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::Debug(fn, "Finalizing Recast for VM [%s]", ctx.restoreVMName.c_str());
        const std::string& name = ctx.vm.name;
        for (const auto& disk : ctx.disks) {
            if (!disk.selected) continue;
            const char* id = disk.sourceVolumeId.c_str();
            std::string device;
            if (m_pDiskMapper) m_pDiskMapper->GetDeviceForVolume(disk.newVolumeId, device);
            if (!m_pDiskMapper || !m_pDiskMapper->BringDiskOffline(device))
                EvDebug::Error(fn, "Failed to bring disk offline: [%s][%s]", id, device.c_str());
            VmdkHandle handle;
            if (!OpenVmdk(name, ctx.registrationGuid, disk.sourceVolumeId, handle)) {
                EvDebug::Error(fn, "Failed to get handle for disk: [%s] for VM [%s][%s][%s]", id, name.c_str(),
                               ctx.registrationGuid.c_str(), ctx.vmGuid.c_str());
                return 0;
            }
            if (!CloseVmdk(handle)) {
                EvDebug::Error(fn, "Failed to close disk: [%s] for VM [%s][%s][%s]", id, name.c_str(),
                               ctx.registrationGuid.c_str(), ctx.vmGuid.c_str());
                return 0;
            }
        }
        return PreRestoreVM(ctx) && RestoreVM(ctx) && PostRestoreVM(ctx) ? 1 : 0;
    });
}

int CAmazonInfo::CleanupRecast(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    return Guarded(fn, 0, [&] {
        EvDebug::Debug(fn, "Cleaning up Recast for VM [%s]", ctx.restoreVMName.c_str());
        return CleanupRestoreVM(ctx);
    });
}
