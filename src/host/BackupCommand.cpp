#include "host/BackupCommand.h"

#include <chrono>
#include <cstdio>
#include <fstream>

#include <nlohmann/json.hpp>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "host/ConnectCommand.h"
#include "host/DataMover.h"

namespace {
struct DiskResult {
    std::string volumeId;
    std::string image;
    uint64_t size = 0;
    CopyStats stats;
};

void PrintError(CVMInfo& plugin, const char* what) {
    std::fprintf(stderr, "error: %s (error %d): %s\n", what, plugin.GetLastVMError(),
                 plugin.GetLastVMErrorDetails().c_str());
}

// Opens, reads and closes one disk the way the data mover does.
bool BackupDisk(CVMInfo& plugin, const MountCtx& ctx, const VMInfoStructs::SDisk& item, const BackupRequest& request,
                DiskResult& result) {
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
    result.image = FwFile::JoinPath(request.outDir, item.volumeId + ".img");
    std::string why;
    if (ok) {
        // Hot-add hands the data mover a block device; otherwise it reads
        // through the plug-in.
        const bool device = ctx.transportMode == "HOTADD";
        ok = device ? CopyDevice(disk.name, result.size, result.image, result.stats, why)
                    : CopyThroughPlugin(plugin, handle, result.size, disk.sectorSize ? disk.sectorSize : 512,
                                        request.threads, result.image, result.stats, why);
        if (!ok) std::fprintf(stderr, "error: disk %s: %s\n", item.volumeId.c_str(), why.c_str());
    }
    if (!plugin.CloseVmdk(handle)) {
        PrintError(plugin, ("cannot close disk " + item.volumeId).c_str());
        ok = false;
    }
    return ok;
}

void WriteManifest(const MountCtx& ctx, const std::vector<DiskResult>& disks, const BackupRequest& request) {
    nlohmann::json manifest;
    manifest["instance"] = ctx.vm.guid;
    manifest["name"] = ctx.vm.name;
    manifest["mode"] = ctx.transportMode;
    manifest["ami"] = ctx.amiId;
    for (const auto& d : disks)
        manifest["disks"].push_back({{"volumeId", d.volumeId}, {"image", d.image}, {"size", d.size},
                                     {"bytesWithData", d.stats.bytesWritten}});
    FwFile::WriteAllAtomic(FwFile::JoinPath(request.outDir, "manifest.json"), manifest.dump(2) + "\n");
}
}  // namespace

int RunBackup(PluginLoader& loader, const ConnectJob& job, const BackupRequest& request) {
    if (!FwFile::MakeDirs(request.outDir)) {
        std::fprintf(stderr, "error: cannot create %s\n", request.outDir.c_str());
        return 1;
    }
    auto plugin = ConnectObject(loader, job);
    if (!plugin) return 1;
    const auto started = std::chrono::steady_clock::now();

    MountCtx ctx;
    ctx.requestedVMGuid = request.instanceId;
    ctx.jobId = job.jobId;
    ctx.transportMode = request.mode;
    ctx.mountPath = FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getTempDir(), "Mount"), request.instanceId);
    if (!plugin->MountVM(ctx)) {
        PrintError(*plugin, ("cannot mount instance " + request.instanceId).c_str());
        return 1;
    }
    std::printf("mounted %s (%s) in mode %s, AMI %s\n", ctx.vm.guid.c_str(), ctx.vm.name.c_str(),
                ctx.transportMode.c_str(), ctx.amiId.c_str());

    std::vector<VMInfoStructs::SMountInfoFull> items;
    bool ok = plugin->GetFullMountInfo(ctx, items) != 0;
    if (!ok) PrintError(*plugin, "cannot list what to back up");
    std::vector<DiskResult> disks;
    for (const auto& item : items) {
        if (!ok) break;
        if (item.disks.empty()) continue;
        if (item.kind == 0) {
            // The VM configuration file goes into the backup as it is.
            const std::string& path = item.disks.front().name;
            std::string content;
            ok = FwFile::ReadAll(path, content) &&
                 FwFile::WriteAllAtomic(FwFile::JoinPath(request.outDir, path.substr(path.find_last_of('/') + 1)),
                                        content);
            if (!ok) std::fprintf(stderr, "error: cannot copy the configuration file %s\n", path.c_str());
            continue;
        }
        DiskResult result;
        ok = BackupDisk(*plugin, ctx, item.disks.front(), request, result);
        if (ok) disks.push_back(result);
    }

    if (!plugin->UnmountVM(ctx)) {
        PrintError(*plugin, "cannot unmount");
        ok = false;
    }
    if (ok && !plugin->PostBackupVM(ctx)) {
        PrintError(*plugin, "post-backup step failed");
        ok = false;
    }
    plugin->Disconnect();
    if (!ok) return 1;

    WriteManifest(ctx, disks, request);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    uint64_t total = 0;
    for (const auto& d : disks) {
        std::printf("  %s: %llu bytes, %llu with data -> %s\n", d.volumeId.c_str(),
                    static_cast<unsigned long long>(d.size), static_cast<unsigned long long>(d.stats.bytesWritten),
                    d.image.c_str());
        total += d.stats.bytesRead;
    }
    std::printf("backup of %s done: %zu disks, %.1f MiB read in %.2f s\n", request.instanceId.c_str(), disks.size(),
                total / 1048576.0, seconds);
    return 0;
}
