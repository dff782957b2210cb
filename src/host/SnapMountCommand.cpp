// snap-mount and snap-unmount: a snap backup's volumes on the proxy, the way
// the framework mounts them for a backup copy, for the user to read from.
#include "host/SnapRevertCommand.h"

#include <unistd.h>

#include <cstdio>
#include <map>

#include "framework/FileUtils.h"
#include "framework/VMCleaner.h"
#include "framework/VMInfo.h"
#include "host/ConnectCommand.h"
#include "host/InventoryCommands.h"
#include "host/RestoreJob.h"
#include "host/SnapArray.h"
#include "host/StopSignals.h"

namespace {
MountCtx MountContext(const ConnectJob& job, const SnapJobRequest& request) {
    MountCtx ctx = HostSnap::JobContext(job, request.snapJob, request.instance);
    ctx.backupToTape = true;
    ctx.transportMode = "HOTADD";
    ctx.snapMetadataFolder = ctx.jobResultsFolder;
    ctx.mountPath = FwFile::JoinPath(ctx.jobResultsFolder, "mount");
    return ctx;
}

// What the backup runs of instance (its mounts among them) hold registered
// in the cleanup store, by path: the children of its backup roots.
std::map<std::string, CleanerEntity> RegisteredUnder(VMCleaner& store, const std::string& instance) {
    std::vector<CleanerEntity> all;
    store.ListAll(all);
    std::vector<std::string> roots;
    for (const auto& e : all)
        if (e.parent.empty() && e.mode == 0 && e.type == 1 && e.id == instance) roots.push_back(e.path + "/");
    std::map<std::string, CleanerEntity> held;
    for (const auto& e : all)
        for (const auto& root : roots)
            if (e.path.rfind(root, 0) == 0) held[e.path] = e;
    return held;
}

// Until the user is done: end of input, or a stop signal.
void HoldUntilDone() {
    char buffer[256];
    while (!StopSignals::Stopped()) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (got <= 0) return;
    }
}
}  // namespace

int RunSnapMount(PluginLoader& loader, const ConnectJob& job, const SnapJobRequest& request) {
    StopSignals signals;
    auto plugin = ConnectObject(loader, job);
    if (!plugin) return 1;
    HostSnap::ArrayRegistration array(job);
    MountCtx ctx = MountContext(job, request);
    if (!plugin->MountSnap(ctx)) {
        PrintPluginError(*plugin, "the snap job cannot be mounted");
        plugin->Disconnect();
        return 1;
    }
    ctx.requestedVMGuid = request.instance;
    bool ok = plugin->MountVM(ctx) != 0;
    if (!ok) PrintPluginError(*plugin, "the volumes of " + request.instance + " cannot be mounted");
    for (size_t i = 0; ok && i < ctx.vm.disks.size(); ++i) {
        const auto& disk = ctx.vm.disks[i];
        VmdkHandle handle;
        VMInfoStructs::SDisk opened;
        if (!plugin->OpenVmdk(ctx.vm.name, ctx.vm.guid, disk.volumeId, handle) || !plugin->GetVmdkInfo(handle, opened)) {
            PrintPluginError(*plugin, "cannot open the volume of " + disk.volumeId);
            ok = false;
            break;
        }
        std::printf("  %s: %s (%lld bytes) from %s\n", disk.volumeId.c_str(), opened.name.c_str(),
                    static_cast<long long>(opened.size), disk.newVolumeId.c_str());
        plugin->CloseVmdk(handle);
    }
    if (ok) {
        std::printf("snap job %lld of %s mounted; end the input (Ctrl-D) to unmount\n",
                    static_cast<long long>(request.snapJob), request.instance.c_str());
        std::fflush(stdout);
        HoldUntilDone();
    }
    // Both run to their end, also when the user stopped the mount.
    CVMInfo::SetProcessJobCancelled(false);
    plugin->SetJobCancelled(false);
    if (!plugin->UnmountVM(ctx)) {
        PrintPluginError(*plugin, "the volumes of " + request.instance + " cannot be unmounted");
        ok = false;
    }
    plugin->UnmountSnap(ctx);
    plugin->Disconnect();
    if (ok) std::printf("snap job %lld of %s unmounted\n", static_cast<long long>(request.snapJob), request.instance.c_str());
    return ok ? 0 : 1;
}

int RunSnapUnmount(PluginLoader& loader, const ConnectJob& job, const SnapJobRequest& request) {
    auto plugin = ConnectObject(loader, job);
    if (!plugin) return 1;
    HostSnap::ArrayRegistration array(job);
    MountCtx ctx = MountContext(job, request);
    VMCleaner store;
    if (!OpenProxyCleanupStore(*plugin, store)) {
        plugin->Disconnect();
        return 1;
    }
    // A mount that ended normally took its volumes with it; one whose
    // process died left them registered under the instance.
    const auto before = RegisteredUnder(store, request.instance);
    const bool cleaned = plugin->CleanupVM(ctx) != 0;
    if (!cleaned) PrintPluginError(*plugin, "the mount of " + request.instance + " cannot be taken away");
    plugin->UnmountSnap(ctx);
    plugin->Disconnect();
    const auto after = RegisteredUnder(store, request.instance);
    for (const auto& [path, e] : before)
        if (!after.count(path)) std::printf("  removed %s %s\n", CleanerTypeName(e.type), e.id.c_str());
    // Still held: a clean-up that failed, or a mount whose process still runs.
    for (const auto& [path, e] : after) std::printf("  left    %s %s\n", CleanerTypeName(e.type), e.id.c_str());
    const std::string what = "snap job " + std::to_string(request.snapJob) + " of " + request.instance;
    if (!cleaned || !after.empty()) {
        std::fprintf(stderr, "error: %s is not unmounted: %zu resource(s) left\n", what.c_str(), after.size());
        return 1;
    }
    // Nothing to take away is what the user asked for: not an error.
    if (before.empty()) std::printf("%s: nothing was mounted\n", what.c_str());
    else std::printf("%s unmounted\n", what.c_str());
    return 0;
}
