#pragma once
// The transport modes of a backup mount and the job roles the mount, the
// staging and the unmount tell apart. Later steps compare the context's mode
// with these exact strings.
#include <string>

#include "common/InstanceConfigName.h"
#include "records/JobContexts.h"

namespace AmazonMount {

// Volumes made from the backup snapshots are attached to the proxy.
constexpr char kModeHotadd[] = "HOTADD";
// Snapshot blocks are read over the EBS direct APIs; nothing is attached.
constexpr char kModeDirectRead[] = "EBS-DIRECT-API";

// The snapshot phase of a snap backup (a backup copy also carries the
// snap-backup flag, but reads the snapshots like a streaming backup).
inline bool IsSnapBackup(const MountCtx& ctx) { return ctx.snapBackup && !ctx.backupToTape; }
inline bool IsIndexingV2Copy(const MountCtx& ctx) { return ctx.backupToTape && ctx.indexingV2; }
inline bool IsDirectRead(const MountCtx& ctx) { return ctx.transportMode == kModeDirectRead; }

// An id that can name a file: letters, digits, '-', '_' and '.', not "." or
// "..". Ids come from the job and from AWS and must not steer a path.
inline bool IsPathSafeId(const std::string& id) {
    if (id.empty() || id == "." || id == "..") return false;
    for (char c : id) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
                        c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

// "<folder>/<instance id>_InstanceConfig.xml"; empty for an unusable id.
inline std::string VMConfigFilePath(const std::string& folder, const std::string& instanceId) {
    if (!IsPathSafeId(instanceId)) return std::string();
    return folder + "/" + AmazonCommon::InstanceConfigFileName(instanceId);
}

}  // namespace AmazonMount
