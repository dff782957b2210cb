// The restore job: checks, rebuild, the six phases and the data mover's writes.
#include "host/RestoreCommand.h"

#include <errno.h>
#include <signal.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "host/BackupChain.h"
#include "host/ConnectCommand.h"
#include "host/Progress.h"
#include "host/RestoreWriter.h"
#include "host/StopSignals.h"
#include "host/StreamSlot.h"

namespace {
using Clock = std::chrono::steady_clock;

void PrintError(CVMInfo& plugin, const std::string& what) {
    std::fprintf(stderr, "error: %s (error %d): %s\n", what.c_str(), plugin.GetLastVMError(),
                 plugin.GetLastVMErrorDetails().c_str());
}

// The rebuilt images of this job, under the base folder, removed when the
// job ends. Folders of jobs whose process is gone are removed at the start.
class StagingFolder {
public:
    StagingFolder() {
        const std::string root = FwFile::JoinPath(KDPI_Base::getBaseDir(), "Restore");
        std::vector<std::string> names;
        FwFile::ListDir(root, names);
        for (const auto& name : names) {
            if (name.rfind("staging-", 0) != 0) continue;
            const int pid = std::atoi(name.c_str() + 8);
            if (pid > 0 && pid != ::getpid() && ::kill(pid, 0) != 0 && errno == ESRCH)
                FwFile::RemoveTree(FwFile::JoinPath(root, name));
        }
        m_path = FwFile::JoinPath(root, "staging-" + std::to_string(::getpid()));
        FwFile::RemoveTree(m_path);
    }
    ~StagingFolder() { FwFile::RemoveTree(m_path); }
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

bool IsAuto(const std::string& type) { return strcasecmp(type.c_str(), "AUTO") == 0; }

// The destination as the account's inventory knows it: the instance to
// attach to, the zone and its region, the instance type. False with a reason
// on the first thing the account does not have.
bool CheckDestination(CVMInfo& plugin, const RestoreRequest& request, const RestorePlan& plan,
                      VMInfoStructs::SVMInfo& target, std::string& why) {
    if (!request.attachTo.empty()) {
        if (!plugin.GetVMInfoForVM("", request.attachTo, "", 0, 0, target) || target.guid != request.attachTo) {
            why = "the account has no instance " + request.attachTo + " to attach the disks to";
            return false;
        }
        return true;
    }
    const std::string zone = request.zone.empty() ? plan.vm.zone : request.zone;
    VMInfoStructs::SHostInfo host;
    if (zone.empty() || !plugin.GetHostInfoForHost(zone, 0, 0, host) ||
        (!request.region.empty() && host.region != request.region)) {
        why = "the region " + (request.region.empty() ? std::string("of the account") : request.region) +
              " has no availability zone \"" + zone + "\"";
        return false;
    }
    if (!request.instanceType.empty() && !IsAuto(request.instanceType)) {
        std::vector<VMInfoStructs::SVMSizeInfo> sizes;
        const std::string region = request.region.empty() ? host.region : request.region;
        if (!plugin.GetAvailableVMSizesForHost(region, sizes, 0, 0)) {
            why = "cannot list the instance types of " + region + ": " + plugin.GetLastVMErrorDetails();
            return false;
        }
        if (std::none_of(sizes.begin(), sizes.end(),
                         [&](const VMInfoStructs::SVMSizeInfo& s) { return s.name == request.instanceType; })) {
            why = "the region " + region + " offers no instance type \"" + request.instanceType + "\"";
            return false;
        }
    }
    return true;
}

// Writes one restore disk the way the data mover does: open the volume the
// plug-in staged, learn its device, write the image's data, close.
bool WriteDisk(CVMInfo& plugin, const RestoreCtx& ctx, const VMInfoStructs::SDisk& disk, const RestoreDisk& source,
               CopyProgress& progress, WriteStats& stats) {
    VmdkHandle handle;
    // The disk is found by the volume the plug-in made for it.
    const std::string& volume = disk.newVolumeId.empty() ? disk.sourceVolumeId : disk.newVolumeId;
    if (!plugin.CreateVmdk(ctx.restoreVMName, ctx.vmGuid, volume, source.size, handle)) {
        PrintError(plugin, "cannot open restore disk " + volume + " for " + source.volumeId);
        return false;
    }
    VMInfoStructs::SDisk opened;
    bool ok = plugin.GetVmdkInfo(handle, opened) != 0;
    if (!ok) PrintError(plugin, "cannot describe restore disk " + volume);
    std::string why;
    StreamSlot stream;
    if (ok && !TakeStream(stream, plugin.GetStreamLimit(), "disk " + source.volumeId, [] { return StopSignals::Stopped(); },
                          why)) {
        std::fprintf(stderr, "error: disk %s: %s\n", source.volumeId.c_str(), why.c_str());
        ok = false;
    }
    if (ok) {
        progress.StartDisk(source.volumeId, ImageDataBytes(source.image, source.size));
        uint64_t reported = 0;
        const auto written = [&](uint64_t total) {
            progress.Add(total - reported);
            reported = total;
            return !StopSignals::Stopped();
        };
        ok = WriteImageToDevice(source.image, opened.name, source.size, stats, written, why);
        progress.EndDisk();
        if (!ok) std::fprintf(stderr, "error: disk %s: %s\n", source.volumeId.c_str(), why.c_str());
    }
    if (!plugin.CloseVmdk(handle)) {
        PrintError(plugin, "cannot close restore disk " + volume);
        ok = false;
    }
    return ok;
}

// InitRestoreVM to PostRestoreVM; false at the first failure.
bool RunPhases(CVMInfo& plugin, RestoreCtx& ctx, const RestorePlan& plan) {
    if (!plugin.InitRestoreVM(ctx)) {
        PrintError(plugin, "the restore cannot start");
        return false;
    }
    if (!plugin.PreRestoreVM(ctx)) {
        PrintError(plugin, "the pre-restore step failed");
        return false;
    }
    // The plug-in keeps the list's order: entry i is still the backup's disk i.
    if (ctx.disks.size() != plan.vm.disks.size()) {
        std::fprintf(stderr, "error: the plug-in changed the restore's disk list\n");
        return false;
    }
    std::vector<size_t> selected;
    for (size_t i = 0; i < ctx.disks.size(); ++i)
        if (ctx.disks[i].selected) selected.push_back(i);
    CopyProgress progress("restore", selected.size());
    for (size_t i : selected) {
        const auto& disk = ctx.disks[i];
        const auto source = std::find_if(plan.disks.begin(), plan.disks.end(),
                                         [&](const RestoreDisk& d) { return d.volumeId == plan.vm.disks[i].volumeId; });
        if (source == plan.disks.end()) {
            std::fprintf(stderr, "error: disk %zu of the restore is not one of the point's\n", i);
            return false;
        }
        WriteStats stats;
        if (!WriteDisk(plugin, ctx, disk, *source, progress, stats)) return false;
    }
    progress.Finish();
    if (!plugin.RestoreVM(ctx)) {
        PrintError(plugin, "the instance cannot be restored");
        return false;
    }
    if (!plugin.PostRestoreVM(ctx)) {
        PrintError(plugin, "the post-restore step failed");
        return false;
    }
    return true;
}
}  // namespace

int RunRestore(PluginLoader& loader, const ConnectJob& job, const RestoreRequest& request) {
    BackupChain chain(request.chain);
    RestorePlan plan;
    std::string why;
    if (!chain.Load(why) || !PlanRestore(chain, request.point, plan, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    auto plugin = ConnectObject(loader, job);
    if (!plugin) return 1;
    VMInfoStructs::SVMInfo target;
    if (!CheckDestination(*plugin, request, plan, target, why)) {
        std::fprintf(stderr, "error: %s; nothing was restored\n", why.c_str());
        return 1;
    }
    RestoreCtx ctx;
    FillRestoreContext(plan, request, job.jobId, request.attachTo.empty() ? nullptr : &target, ctx);
    for (const auto& disk : ctx.disks) {
        if (disk.selected && disk.deviceName.empty()) {
            std::fprintf(stderr, "error: instance %s has no free device for disk %s; nothing was restored\n",
                         request.attachTo.c_str(), disk.sourceVolumeId.c_str());
            return 1;
        }
    }
    // The images are rebuilt (and every block checked) before the cloud is
    // touched: a damaged point must not leave a half-made instance.
    StagingFolder staging;
    if (!chain.RestoreImages(plan.point, staging.Path(), why, "rebuild")) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    for (auto& disk : plan.disks) disk.image = FwFile::JoinPath(staging.Path(), disk.volumeId + ".img");

    const auto started = Clock::now();
    StopSignals signals;
    bool ok = RunPhases(*plugin, ctx, plan);
    // Every job InitRestoreVM started is closed, failed or not: the close
    // detaches from the proxy what is still attached to it. A failed job is
    // then cleaned up, which deletes what is still registered under it.
    // Both must run to their end even when the job was stopped.
    CVMInfo::SetProcessJobCancelled(false);
    plugin->SetJobCancelled(false);
    // Once the post phase is through, the restored instance is complete and
    // the user's: a close that fails (a proxy look-up, a detach) leaves at
    // most proxy-side left-overs, which stay registered for the next job's
    // clean-up, and must not cost the user the instance.
    if (!plugin->CloseRestoreVM(ctx)) {
        if (ok)
            std::fprintf(stderr,
                         "warning: the restore cannot be closed (error %d): %s; what it left on the proxy stays "
                         "registered for the next clean-up\n",
                         plugin->GetLastVMError(), plugin->GetLastVMErrorDetails().c_str());
        else
            PrintError(*plugin, "the failed restore cannot be closed");
    }
    if (!ok) {
        if (!plugin->CleanupRestoreVM(ctx)) PrintError(*plugin, "the clean-up of the failed restore failed");
        plugin->Disconnect();
        return 1;
    }
    for (const auto& failure : ctx.failures)
        std::fprintf(stderr, "warning: %s: %s %s\n", failure.item.c_str(), failure.reason.c_str(),
                     failure.extra1.c_str());
    plugin->Disconnect();
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    const std::string instance = ctx.createdInstanceId.empty() ? ctx.vmGuid : ctx.createdInstanceId;
    std::printf("restored point %d of %s (%s) %s %s (%s) in %s in %.2f s\n", plan.point, plan.vm.guid.c_str(),
                plan.vm.name.c_str(), request.attachTo.empty() ? "as instance" : "onto instance", instance.c_str(),
                ctx.restoreVMName.c_str(), ctx.destZone.c_str(), seconds);
    for (size_t i = 0; i < ctx.disks.size(); ++i)
        if (ctx.disks[i].selected)
            std::printf("  %s: %s (from %s)\n", ctx.disks[i].deviceName.c_str(), ctx.disks[i].newVolumeId.c_str(),
                        plan.vm.disks[i].volumeId.c_str());
    return 0;
}
