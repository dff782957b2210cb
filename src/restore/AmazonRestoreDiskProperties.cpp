// Making every restore disk creatable at the destination before any volume
// is made: zone, size, volume type, IOPS, KMS key and the method's disk type.
// What the user should know about goes to the job's failure list as a
// warning; nothing here fails the job.
#include <strings.h>

#include <algorithm>

#include "bridge/AmazonSDKBridge.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/KDPlatformInfo.h"

namespace {
constexpr long long kGiB = 1LL << 30;
constexpr int kMaxProvisionedIops = 64000;
constexpr char kDefaultVolumeType[] = "gp2";

// Messages name a disk by its display name, else by its source volume.
const std::string& DiskName(const VMInfoStructs::SDisk& disk) {
    return disk.displayName.empty() ? disk.sourceVolumeId : disk.displayName;
}

std::string Format(const char* format, const std::string& a, const std::string& b, const std::string& c = {}) {
    char text[1024];
    snprintf(text, sizeof text, format, a.c_str(), b.c_str(), c.c_str());
    return text;
}
}  // namespace

void CAmazonInfo::AddRestoreWarning(const RestoreCtx& ctx, const std::string& name, const std::string& message,
                                    bool flagged) {
    AddRestoreFailure(name, message, flagged);
    // The framework shows the restore's own list; the object's list is what
    // its other reports read.
    ctx.Out().failures.push_back(GetFailures().back());
}

void CAmazonInfo::AdjustDiskPropertiesForStreamingRestore(const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    std::vector<VMInfoStructs::SVolumeTypeInfo> types;
    GetVolumeTypeListForHost("", types);
    bool allowCrossZone = true;
    KDPlatformInfo().getBoolean("VirtualServer", "bAllowCrossZoneRestore", allowCrossZone);
    const std::string& proxyZone = m_proxyVMInfo.zone;
    for (auto& disk : ctx.Out().disks) {
        if (!disk.selected) continue;
        if (disk.zone.empty()) {
            disk.zone = ctx.destZone;
            EvDebug::Debug(fn, "Disk zone set to [%s]", disk.zone.c_str());
        }
        // Volumes are made next to the proxy and moved later; where the
        // proxy is unknown (a restore from snapshots needs none) the disk
        // stays where the job put it rather than in no zone at all.
        if (!proxyZone.empty() && disk.zone != proxyZone && allowCrossZone) {
            disk.zone = proxyZone;
            EvDebug::Debug(fn, "For disk [%s], disk zone set to [%s]", DiskName(disk).c_str(), disk.zone.c_str());
        }
        if (ctx.conversion) AdjustVolumeSize(disk);
        AdjustVolumeType(disk, ctx, types);
        AdjustVolumeEncryption(disk, ctx.destRegion, ctx);
        AdjustDiskTypeForRestore(disk);
    }
}

void CAmazonInfo::AdjustVolumeSize(SDisk& disk) {
    if (disk.size <= 0) return;
    disk.size = (disk.size + kGiB - 1) / kGiB * kGiB;
}

void CAmazonInfo::AdjustVolumeType(SDisk& disk, const RestoreCtx& ctx,
                                   const std::vector<VMInfoStructs::SVolumeTypeInfo>& types) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (!disk.volumeType.empty() && !IsVolumeTypeValid(disk, types)) {
        AddRestoreWarning(ctx, DiskName(disk),
                          Format("Volume type [%s] could not be used for volume [%s]. Volume has been restored using "
                                 "volume type [%s].",
                                 disk.volumeType, DiskName(disk), kDefaultVolumeType),
                          false);
        EvDebug::Debug(fn, "Invalid volume type [%s] set for volume [%s]. Ignoring the volume type field.",
                       disk.volumeType.c_str(), DiskName(disk).c_str());
        disk.volumeType.clear();
    }
    if (disk.volumeType.empty()) {
        disk.volumeType = kDefaultVolumeType;
        EvDebug::Debug(fn, "Setting volumeType [%s] for disk [%s]", disk.volumeType.c_str(), DiskName(disk).c_str());
    }
    const long long gib = disk.size / kGiB;
    if (disk.iops == 0) {
        // The most IOPS each type allows per GiB, up to the EBS ceiling.
        if (disk.volumeType == "io1")
            disk.iops = static_cast<int>(std::min<long long>(kMaxProvisionedIops, 50 * gib));
        else if (disk.volumeType == "io2")
            disk.iops = static_cast<int>(std::min<long long>(kMaxProvisionedIops, 500 * gib));
    }
    EvDebug::Debug(fn, "Disk:[%s] volumeType:[%s] IOPS:[%d] size(GB):[%d]", DiskName(disk).c_str(),
                   disk.volumeType.c_str(), disk.iops, static_cast<int>(gib));
}

bool CAmazonInfo::IsVolumeTypeValid(const SDisk& disk, const std::vector<VMInfoStructs::SVolumeTypeInfo>& types) {
    const char* const fn = __PRETTY_FUNCTION__;
    const auto it = std::find_if(types.begin(), types.end(),
                                 [&](const VMInfoStructs::SVolumeTypeInfo& t) { return t.name == disk.volumeType; });
    if (it == types.end()) {
        EvDebug::Debug(fn, "Volume type [%s] not found.", disk.volumeType.c_str());
        return false;
    }
    if (disk.size < static_cast<long long>(it->minSize)) {
        EvDebug::Debug(fn, "Volume size [%lld] is less than the minimum [%lld] for volume type [%s]",
                       static_cast<long long>(disk.size), static_cast<long long>(it->minSize),
                       disk.volumeType.c_str());
        return false;
    }
    return true;
}

void CAmazonInfo::AdjustVolumeEncryption(SDisk& disk, const std::string& region, const RestoreCtx& ctx) {
    const char* const fn = __PRETTY_FUNCTION__;
    if (disk.encrypted && !disk.kmsKeyId.empty()) {
        std::string arn, state;
        bool notFound = false;
        const std::string key = disk.kmsKeyId;
        const bool described = m_pSourceBridge->DescribeEncryptionKey(region, key, arn, notFound, state);
        // Either way the volume stays encrypted, with the account's default
        // key: a key the destination cannot use would fail the creation.
        if (!described || notFound) {
            EvDebug::Debug(fn, "Encryption key [%s] for volume [%s] could not be found at the destination.",
                           key.c_str(), DiskName(disk).c_str());
            AddRestoreWarning(ctx, DiskName(disk),
                              Format("Encryption CMK [%s] for volume [%s] could not be found. Restored volume has "
                                     "been encrypted using default CMK.",
                                     key, DiskName(disk)),
                              true);
            disk.kmsKeyId.clear();
        } else if (strcasecmp(state.c_str(), "Enabled") != 0) {
            EvDebug::Debug(fn, "Encryption key [%s] for volume [%s] is not in enabled state. Key state: [%s]",
                           key.c_str(), DiskName(disk).c_str(), state.c_str());
            AddRestoreWarning(ctx, DiskName(disk),
                              Format("Encryption CMK [%s] for volume [%s] is in [%s] state. Restored volume has been "
                                     "encrypted using default CMK.",
                                     key, DiskName(disk), state),
                              true);
            disk.kmsKeyId.clear();
        }
    }
    EvDebug::Debug(fn, "Disk:[%s], isEncrypted:[%s], encryptionKey:[%s]", DiskName(disk).c_str(),
                   disk.encrypted ? "True" : "False", disk.kmsKeyId.c_str());
}

bool CAmazonInfo::AdjustDiskTypeForRestore(SDisk& disk) {
    if (!m_restore.hotAddMethodSelected) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "Restore mode is not selected.");
        return false;
    }
    disk.diskType = AmazonRestore::kHotAddDiskType;
    return true;
}
