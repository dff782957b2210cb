#include "host/BackupCommand.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "host/BackupChain.h"
#include "host/BackupCopy.h"
#include "host/ChainLock.h"
#include "host/ConnectCommand.h"
#include "host/DataMover.h"
#include "host/InventoryCommands.h"
#include "host/PointManifest.h"
#include "host/Progress.h"
#include "host/StopSignals.h"
#include "host/StreamSlot.h"

namespace {
struct DiskResult {
    std::string volumeId;
    std::string image;                 // file name in the point's folder
    uint64_t size = 0;
    CopyStats stats;
    bool incremental = false;
    std::vector<ByteRange> extents;   // what was read, when not the whole disk
};

// Which blocks of a disk to read: its changed blocks since previousSnapshot
// (empty: its allocated blocks), as the plug-in reports them. False when the
// plug-in cannot tell, and the disk is then read whole. incremental tells
// whether the extents are changes; when the previous snapshot is not usable
// they are the whole disk's allocated blocks, and the point must then hold
// the disk whole, or blocks zeroed since would survive a rebuild.
bool DiskExtents(CVMInfo& plugin, const MountCtx& ctx, const VmdkHandle& handle, const std::string& volumeId,
                 const std::string& previousSnapshot, std::vector<ByteRange>& extents, bool& incremental) {
    incremental = !previousSnapshot.empty();
    if (incremental && !plugin.ValidateChangeId(ctx.vm.name, ctx.vm.guid, volumeId, previousSnapshot)) {
        std::fprintf(stderr, "warning: disk %s: previous snapshot %s is not usable; reading its allocated blocks\n",
                     volumeId.c_str(), previousSnapshot.c_str());
        return DiskExtents(plugin, ctx, handle, volumeId, std::string(), extents, incremental);
    }
    VMInfoStructs::SDiskChangeInfo info;
    if (!plugin.GetVmdkExtents(handle, previousSnapshot, 0, info)) return false;
    extents.clear();
    for (const auto& e : info.extents) extents.push_back({e.start, e.length});
    return true;
}

void PrintError(CVMInfo& plugin, const char* what) {
    std::fprintf(stderr, "error: %s (error %d): %s\n", what, plugin.GetLastVMError(),
                 plugin.GetLastVMErrorDetails().c_str());
}

// Opens, reads and closes one disk the way the data mover does.
bool BackupDisk(CVMInfo& plugin, const MountCtx& ctx, const VMInfoStructs::SDisk& item,
                const std::string& previousSnapshot, const BackupRequest& request, const std::string& pointFolder,
                CopyProgress& progress, DiskResult& result) {
    VmdkHandle handle;
    if (!plugin.OpenVmdk(ctx.vm.name, ctx.vm.guid, item.volumeId, handle)) {
        PrintError(plugin, ("cannot open disk " + item.volumeId).c_str());
        return false;
    }
    VMInfoStructs::SDisk disk;
    bool ok = plugin.GetVmdkInfo(handle, disk) != 0;
    if (!ok) PrintError(plugin, ("cannot describe disk " + item.volumeId).c_str());
    result.volumeId = item.volumeId;
    result.size = static_cast<uint64_t>(disk.size > 0 ? disk.size : item.size);
    result.image = item.volumeId + ".img";
    std::string why;
    bool haveExtents = false;
    if (ok && ctx.cbtEnabled) {
        bool changes = false;
        haveExtents = DiskExtents(plugin, ctx, handle, item.volumeId, previousSnapshot, result.extents, changes);
        if (!haveExtents)
            std::fprintf(stderr, "warning: disk %s: no block list (error %d: %s); reading the whole disk\n",
                         item.volumeId.c_str(), plugin.GetLastVMError(), plugin.GetLastVMErrorDetails().c_str());
        result.incremental = haveExtents && changes;
        // The data mover copies and checksums whole blocks; the point then
        // holds exactly what it read.
        if (haveExtents) result.extents = WholeBlocks(result.extents, result.size);
    }
    StreamSlot stream;
    if (ok && !TakeStream(stream, plugin.GetStreamLimit(), "disk " + item.volumeId,
                          [&plugin] { return plugin.IsJobCancelled(); }, why)) {
        std::fprintf(stderr, "error: disk %s: %s\n", item.volumeId.c_str(), why.c_str());
        ok = false;
    }
    if (ok) {
        // Hot-add hands the data mover a block device; otherwise it reads
        // through the plug-in.
        const bool device = ctx.transportMode == "HOTADD";
        const std::vector<ByteRange>* ranges = haveExtents ? &result.extents : nullptr;
        const std::string image = FwFile::JoinPath(pointFolder, result.image);
        const CopiedFn copied = [&progress](uint64_t bytes) {
            progress.Add(bytes);
            return !StopSignals::Stopped();
        };
        progress.StartDisk(item.volumeId, BytesToCopy(result.size, ranges));
        ok = device ? CopyDevice(disk.name, result.size, ranges, image, result.stats, copied, why)
                    : CopyThroughPlugin(plugin, handle, result.size, disk.sectorSize ? disk.sectorSize : 512,
                                        request.threads, ranges, image, result.stats, copied, why);
        progress.EndDisk();
        if (!ok) std::fprintf(stderr, "error: disk %s: %s\n", item.volumeId.c_str(), why.c_str());
    }
    if (!plugin.CloseVmdk(handle)) {
        PrintError(plugin, ("cannot close disk " + item.volumeId).c_str());
        ok = false;
    }
    return ok;
}

bool WriteManifest(const MountCtx& ctx, const std::vector<DiskResult>& disks, int level,
                   const std::string& pointFolder, std::string& why) {
    PointManifest manifest;
    manifest.instance = ctx.vm.guid;
    manifest.name = ctx.vm.name;
    manifest.mode = ctx.transportMode;
    manifest.ami = ctx.amiId;
    manifest.level = level;
    manifest.changeTracking = ctx.cbtStatus;
    for (const auto& d : disks)
        manifest.disks.push_back({d.volumeId, d.image, d.size, d.stats.bytesRead, d.stats.bytesWritten, d.incremental,
                                  d.extents, d.stats.blockSha256});
    return SaveManifest(FwFile::JoinPath(pointFolder, "manifest.json"), manifest, why);
}
}  // namespace

int RunBackup(PluginLoader& loader, const ConnectJob& job, const BackupRequest& request) {
    if (!FwFile::MakeDirs(request.outDir)) {
        std::fprintf(stderr, "error: cannot create %s\n", request.outDir.c_str());
        return 1;
    }
    // The chain is this job's until it ends: another backup into the same
    // folder would take the same point number and the same reference.
    ChainLock lock;
    BackupChain chain(request.outDir);
    std::string why, pointFolder;
    if (!lock.TryLock(request.outDir, why) || !chain.Load(why) || !chain.BeginPoint(pointFolder, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    // A stop request (SIGTERM, Ctrl-C) cancels the job, which then unmounts
    // and removes what it made, rather than leaving it to the next job.
    StopSignals signals;
    auto plugin = ConnectObject(loader, job);
    if (!plugin) return 1;
    const auto started = std::chrono::steady_clock::now();
    // What jobs that died left behind goes first, as the framework's job
    // start does; a clean-up that fails does not stop this backup.
    if (!CleanupOrphans(*plugin, false)) std::fprintf(stderr, "warning: the clean-up of earlier jobs failed\n");

    MountCtx ctx;
    ctx.requestedVMGuid = request.instanceId;
    ctx.jobId = job.jobId;
    ctx.subclientId = request.subclientId;
    ctx.transportMode = request.mode;
    ctx.cbtEnabled = request.changeTracking;
    ctx.changeId = request.changeTracking ? chain.LastChangeId() : std::string();
    const std::map<std::string, std::string> previous = BackupChain::PreviousSnapshots(ctx.changeId);
    ctx.mountPath = FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getTempDir(), "Mount"), request.instanceId);
    BackupCopyJob copy;
    if (request.copyOf) {
        // A copy holds what the snap backup took: no change tracking.
        ctx.cbtEnabled = false;
        ctx.changeId.clear();
        if (!copy.Begin(*plugin, job, request.copyOf, ctx, why)) {
            std::fprintf(stderr, "error: %s\n", why.c_str());
            copy.End(*plugin, ctx);
            return 1;
        }
    }
    if (!plugin->MountVM(ctx)) {
        PrintError(*plugin, ("cannot mount instance " + request.instanceId).c_str());
        if (request.copyOf) copy.End(*plugin, ctx);
        return 1;
    }
    const bool incremental = ctx.cbtEnabled && ctx.backupLevel == 2;
    if (request.copyOf)
        std::printf("mounted %s (%s) in mode %s, backup copy of snap job %lld\n", ctx.vm.guid.c_str(),
                    ctx.vm.name.c_str(), ctx.transportMode.c_str(), static_cast<long long>(request.copyOf));
    else
    std::printf("mounted %s (%s) in mode %s, AMI %s, %s backup (change tracking: %s)\n", ctx.vm.guid.c_str(),
                ctx.vm.name.c_str(), ctx.transportMode.c_str(), ctx.amiId.c_str(), incremental ? "incremental" : "full",
                ctx.cbtStatus.c_str());
    std::fflush(stdout);   // a reader of a pipe learns the job has started

    std::vector<VMInfoStructs::SMountInfoFull> items;
    bool ok = plugin->GetFullMountInfo(ctx, items) != 0;
    if (!ok) PrintError(*plugin, "cannot list what to back up");
    std::vector<DiskResult> disks;
    CopyProgress progress("backup", static_cast<size_t>(std::count_if(
                                        items.begin(), items.end(), [](const VMInfoStructs::SMountInfoFull& item) {
                                            return item.kind != 0 && !item.disks.empty();
                                        })));
    for (const auto& item : items) {
        if (!ok) break;
        if (item.disks.empty()) continue;
        if (item.kind == 0) {
            // The VM configuration file goes into the backup as it is.
            const std::string& path = item.disks.front().name;
            std::string content;
            ok = FwFile::ReadAll(path, content) &&
                 FwFile::WriteAllAtomic(FwFile::JoinPath(pointFolder, path.substr(path.find_last_of('/') + 1)),
                                        content);
            if (!ok) std::fprintf(stderr, "error: cannot copy the configuration file %s\n", path.c_str());
            continue;
        }
        DiskResult result;
        const auto before = previous.find(item.disks.front().volumeId);
        ok = BackupDisk(*plugin, ctx, item.disks.front(),
                        incremental && before != previous.end() ? before->second : std::string(), request,
                        pointFolder, progress, result);
        if (ok) disks.push_back(result);
    }
    if (ok) progress.Finish();

    // The data is safe once every disk is read: only then does the backup
    // become the next one's reference.
    const int level = incremental ? 2 : 1;
    if (ok && !WriteManifest(ctx, disks, level, pointFolder, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        ok = false;
    }
    if (ok && !plugin->PostBackupVM(ctx)) {
        PrintError(*plugin, "post-backup step failed");
        ok = false;
    }
    if (!plugin->UnmountVM(ctx)) {
        PrintError(*plugin, "cannot unmount");
        ok = false;
    }
    if (request.copyOf) copy.End(*plugin, ctx);
    plugin->Disconnect();
    if (!ok) return 1;
    const std::string published = chain.NextPointFolder();
    if (!chain.PublishPoint(pointFolder, level, ctx.cbtEnabled ? ctx.changeId : std::string(), why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    uint64_t total = 0;
    for (const auto& d : disks) {
        std::printf("  %s: %llu bytes, %llu with data -> %s\n", d.volumeId.c_str(),
                    static_cast<unsigned long long>(d.size), static_cast<unsigned long long>(d.stats.bytesWritten),
                    FwFile::JoinPath(published, d.image).c_str());
        total += d.stats.bytesRead;
    }
    std::printf("backup %s of %s done: %s%s, %zu disks, %.1f MiB read (%llu blocks) in %.2f s\n",
                published.c_str(), request.instanceId.c_str(), incremental ? "incremental" : "full",
                request.copyOf ? (" copy of snap job " + std::to_string(request.copyOf)).c_str() : "", disks.size(),
                total / 1048576.0, static_cast<unsigned long long>(total / (512 * 1024)), seconds);
    return 0;
}
