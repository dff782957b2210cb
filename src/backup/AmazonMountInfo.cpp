// What the framework backs up of a mounted instance: its disks and its
// configuration file.
#include "backup/MountModes.h"
#include "common/OperationGuard.h"
#include "common/RegionScope.h"
#include "factory/AmazonInfo.h"
#include "framework/EvDebug.h"
#include "framework/FileUtils.h"

using namespace AmazonMount;

namespace {
constexpr DiskType_t kDiskItem = 1;
constexpr DiskType_t kFileItem = 0;
constexpr int32_t kThroughProxy = 27;
constexpr uint64_t kFileAttribute = 4;

VMInfoStructs::SMountInfoFull Item(int32_t kind, const VMInfoStructs::SDisk& disk) {
    VMInfoStructs::SMountInfoFull item;
    item.kind = kind;
    item.disks.push_back(disk);
    return item;
}
}  // namespace

int CAmazonInfo::GetFileMountInfo(const MountCtx&, std::vector<VMInfoStructs::SMountInfoFile>&) {
    EvDebug::Error(__PRETTY_FUNCTION__, "Not supported on linux");
    SetLastVMError(kErrNotSupported);
    return 0;
}

int CAmazonInfo::GetFullMountInfo(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFull>& items) {
    const char* const fn = __PRETTY_FUNCTION__;
    return AmazonGuard::Guarded(
        fn, "Full mount information failed", 0,
        [&] {
            SetLastVMError(0);
            EvDebug::DebugLvl(fn, 2, "<<Start");
            if (!GetFullMountInfoDisks(ctx, items)) {
                EvDebug::Error(fn, "GetFullMountInfoDisks failed.");
                return 0;
            }
            if (!GetFullMountInfoConfigFiles(ctx, items)) {
                EvDebug::Error(fn, "GetFullMountInfoConfigFiles failed.");
                return 0;
            }
            EvDebug::DebugLvl(fn, 2, "<<End");
            return 1;
        });
}

int CAmazonInfo::GetFullMountInfoDisks(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFull>& items) {
    for (const auto& disk : ctx.vm.disks) {
        if (disk.name.empty() || disk.filtered) continue;
        SDisk item;
        item.name = disk.name;
        item.volumeId = disk.volumeId;
        item.itemId = disk.volumeId;
        item.itemName = disk.displayName.empty() ? disk.volumeId : disk.displayName;
        item.diskType = kDiskItem;
        item.typeCode = kThroughProxy;
        item.capacity = item.allocatedCapacity = disk.size;
        item.isOSDisk = disk.isOSDisk;
        if (ctx.cbtEnabled) item.snapshotIdCbt = disk.snapshotIdCbt;
        items.push_back(Item(kDiskItem, item));
    }
    return 1;
}

int CAmazonInfo::GetFullMountInfoConfigFiles(const MountCtx& ctx, std::vector<VMInfoStructs::SMountInfoFull>& items) {
    if (IsSnapBackup(ctx)) {
        EvDebug::Debug(__PRETTY_FUNCTION__, "For snap job, configuration file is put in index. No need to backup.");
        return 1;
    }
    const std::string folder = IsIndexingV2Copy(ctx) ? ctx.snapMetadataFolder : JobMountFolder(ctx);
    const std::string path = VMConfigFilePath(folder, ctx.effectiveVMGuid);
    const int64_t size = FwFile::FileSize(path);
    if (size < 0) {
        EvDebug::Error(__PRETTY_FUNCTION__, "Config file [%s] does not exist.", path.c_str());
        return 0;
    }
    SDisk file;
    file.name = path;
    file.itemId = file.itemName = path.substr(path.rfind('/') + 1);
    file.diskType = kFileItem;
    file.typeCode = 0;
    file.attributes = kFileAttribute;
    file.capacity = file.allocatedCapacity = size;
    items.push_back(Item(kFileItem, file));
    return 1;
}

int CAmazonInfo::CollectMetadata(MountCtx&) { return 1; }

int CAmazonInfo::PostBackupVM(MountCtx& ctx) {
    return AmazonGuard::Guarded(__PRETTY_FUNCTION__, 0, [&] {
        // Its change id and cleanup string belong to the snapshot phase,
        // whose work has not landed: nothing here may stand in for it.
        if (IsSnapBackup(ctx)) return NotBuiltYet("Snap backup");
        if (!ctx.cbtEnabled) return 1;
        // The snapshots the change id names and the reference AMI are where
        // the instance is.
        const AmazonCommon::BridgeRegionScope inInstanceRegion(*m_pSourceBridge, ctx.vm.region);
        if (!_UpdateChangeBlobID(ctx)) return 0;
        if (!ctx.backupToTape && !ctx.snapBackup && !_PostBackupCBTCleanup(ctx)) return 0;
        // The AMI is the next backup's reference now: the unmount must not
        // take it away.
        ctx.vm.amiId.clear();
        ctx.amiId.clear();
        SaveCleanupString(ctx, "");
        return 1;
    });
}
