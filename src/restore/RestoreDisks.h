#pragma once
// Small rules the restore steps share about the disks of a restore context
// and the entries they add to its failure list.
#include <string>
#include <vector>

#include "records/AmazonRecords.h"
#include "records/JobContexts.h"
#include "records/VMInfoStructs.h"

namespace AmazonRestore {

// A disk the job writes: selected and not filtered out by the user.
inline bool IsWrittenDisk(const VMInfoStructs::SDisk& disk) { return disk.selected && !disk.filtered; }

// A per-item problem that does not fail the job, shown with the instance it
// concerns: item, what went wrong, instance id, and the cloud's message.
inline void AddRestoreFailureEntry(const RestoreCtx& ctx, const std::string& reason, const std::string& message) {
    ctx.Out().failures.emplace_back(ctx.restoreVMName, reason, ctx.vmGuid, message);
}

// The volumes the restore made on the proxy's side, as records that detach
// and delete act on (plain EBS disks, kind 1), whatever disk type the
// restore gave the disks themselves.
inline std::vector<VMInfoStructs::SDisk> RestoreVolumes(const std::vector<VMInfoStructs::SDisk>& disks) {
    std::vector<VMInfoStructs::SDisk> volumes;
    for (const auto& disk : disks) {
        if (!IsWrittenDisk(disk) || disk.newVolumeId.empty()) continue;
        VMInfoStructs::SDisk volume;
        volume.name = volume.volumeId = volume.newVolumeId = disk.newVolumeId;
        volume.diskType = 1;
        volumes.push_back(volume);
    }
    return volumes;
}

}  // namespace AmazonRestore
