// snap-mount and snap-unmount: a snap backup's volumes on the proxy, the way
// the framework mounts them for a backup copy, for the user to read from.
#include "host/SnapRevertCommand.h"

#include <unistd.h>

#include <cstdio>

#include "framework/FileUtils.h"
#include "framework/VMInfo.h"
#include "host/ConnectCommand.h"
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
    // A mount that ended normally took its volumes with it; one whose
    // process died left them registered under the instance.
    const bool ok = plugin->CleanupVM(ctx) != 0;
    if (!ok) PrintPluginError(*plugin, "the mount of " + request.instance + " cannot be taken away");
    plugin->UnmountSnap(ctx);
    plugin->Disconnect();
    if (ok) std::printf("snap job %lld of %s unmounted\n", static_cast<long long>(request.snapJob), request.instance.c_str());
    return ok ? 0 : 1;
}
