// The job-level snap backup's volumes: every unfiltered disk of every
// instance of the job, and the instances that could not be taken.
#include <strings.h>

#include "common/ErrorCodes.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "snap/SnapInstanceMap.h"
#include "snap/SnapJobIdentifiers.h"

using namespace AmazonErrors;
using VMInfoStructs::SDatastoreInfo;

namespace {
// The record of an instance that is not snapshotted: its name, id and why.
VMInfoStructs::SVMInfo Failed(const SVMBasicInfo& entry, int code) {
    VMInfoStructs::SVMInfo vm;
    vm.name = entry.name;
    vm.guid = entry.guid;
    vm.snapErrorCode = code;
    return vm;
}
}  // namespace

bool CAmazonInfo::_BuildVolListForSnapshot(MountCtx& ctx) {
    m_snap.volumes.clear();
    size_t failed = 0;
    for (const auto& entry : ctx.snapInstances) {
        VMInfoStructs::SVMInfo vm;
        if (!_InitVMInfoForBackup(entry.name, entry.guid, "", false, 0, vm)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Failed to get instance details: [%s][%s]", entry.name.c_str(),
                           entry.guid.c_str());
            ctx.snapVMs[entry.guid] = Failed(entry, kInstanceNotFound);
            ++failed;
            continue;
        }
        if (!IsBackupFeasible(vm, ctx)) {
            EvDebug::Error(__PRETTY_FUNCTION__, "Backup for [%s][%s] is not possible", entry.name.c_str(),
                           entry.guid.c_str());
            ctx.snapVMs[entry.guid] = Failed(entry, GetLastVMError());
            ++failed;
            continue;
        }
        EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Instance Name:[%s] with GUID:[%s]", vm.name.c_str(),
                          vm.guid.c_str());
        AmazonSnap::CopyJobIdentifiers(entry, vm);
        vm.allDisks = vm.disks;
        size_t added = 0;
        for (size_t i = 0; i < vm.disks.size(); ++i) {
            SDisk& disk = vm.disks[i];
            if (IsDiskFiltered(ctx, disk)) {
                EvDebug::Debug(__PRETTY_FUNCTION__, "Volume [%s]/[%s] filtered.", disk.volumeId.c_str(),
                               disk.name.c_str());
                disk.filtered = vm.allDisks[i].filtered = true;
                ++ctx.excludedDiskCount;
                continue;
            }
            ++added;
        }
        for (const auto& disk : vm.disks) {
            if (disk.filtered) continue;
            SDatastoreInfo ds;
            ds.name = disk.displayName.empty() ? disk.volumeId : disk.displayName;
            ds.guid = disk.volumeId;
            ds.deviceName = disk.deviceName;
            ds.zone = disk.zone;
            ds.region = vm.region;
            ds.size = disk.size;
            ds.freeSize = disk.size - disk.usedSize;
            SnapInstanceMap::AppendInstanceOnce(ds, vm);
            EvDebug::DebugLvl(__PRETTY_FUNCTION__, 2, "Adding volume [%d][%s][%s]", static_cast<int>(&disk - &vm.disks[0]),
                              disk.volumeId.c_str(), ds.name.c_str());
            m_snap.volumes[ds.guid] = ds;
        }
        if (added == 0) {
            vm.snapErrorCode = kErrAllDisksFiltered;
            ctx.snapVMs[vm.guid] = vm;
            EvDebug::Error(__PRETTY_FUNCTION__, "All disks are filtered for Instance [%s].", vm.guid.c_str());
            ++failed;
            continue;
        }
        ctx.snapVMs[vm.guid] = vm;
        const std::string folder = _GetSnapMetadataFolderForVM(ctx, vm.guid);
        if (folder.empty() || !FwFile::MakeDirs(folder) || !SaveVMConfigFile(folder, vm)) return false;
    }
    if (failed == ctx.snapInstances.size() || m_snap.volumes.empty()) {
        EvDebug::Error(__PRETTY_FUNCTION__, "No instance volumes to snap");
        return false;
    }
    return true;
}

bool CAmazonInfo::_GetVolumeList(const MountCtx& ctx, std::vector<SVolSnap>& list) {
    list.clear();
    for (const auto& [volumeId, stored] : m_snap.volumes) {
        SVolSnap v;
        v.volumeId = volumeId;
        v.volumeName = stored.name;
        v.zone = stored.zone;
        v.deviceName = stored.deviceName;
        v.datastore = stored;
        v.datastore.vms.clear();
        for (const auto& owner : stored.vms) {
            for (const auto& entry : ctx.snapInstances) {
                if (strcasecmp(entry.guid.c_str(), owner.guid.c_str()) != 0) continue;
                auto known = ctx.snapVMs.find(entry.guid);
                if (known == ctx.snapVMs.end()) {
                    EvDebug::Error(__PRETTY_FUNCTION__, "Cannot find instance [%s][%s] in instances to snap",
                                   entry.name.c_str(), entry.guid.c_str());
                    continue;
                }
                SnapInstanceMap::AppendInstanceOnce(v.datastore, known->second);
            }
        }
        EvDebug::Debug(__PRETTY_FUNCTION__, "Volume Name:[%s] Volume GUID:[%s]", v.volumeName.c_str(),
                       v.volumeId.c_str());
        list.push_back(std::move(v));
    }
    return !list.empty();
}
