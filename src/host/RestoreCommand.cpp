// The restore job: checks, rebuild, the six phases and the data mover's writes.
#include "host/RestoreCommand.h"

#include <chrono>
#include <cstdio>

#include "framework/FileUtils.h"
#include "host/BackupChain.h"
#include "host/ConnectCommand.h"
#include "host/RestoreJob.h"

namespace {
using Clock = std::chrono::steady_clock;
}  // namespace

int RunRestore(PluginLoader& loader, const ConnectJob& job, const RestoreRequest& request) {
    BackupChain chain(request.chain);
    RestorePlan plan;
    std::string why;
    if (!chain.Load(why) || !PlanRestore(chain, request.point, plan, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    // From the first call to the cloud on, a stop request ends the job by
    // its own path, which removes what it made.
    StopSignals signals;
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
    StagingFolder staging;
    if (!RebuildPlanImages(chain, staging, plan)) return 1;

    const auto started = Clock::now();
    const auto write = [&](const RestoreCtx& c, size_t i, const RestoreDisk& source, CopyProgress& progress) {
        WriteStats stats;
        return WriteRestoreDisk(*plugin, c, c.disks[i], source, nullptr, progress, stats);
    };
    const bool ok = RunRestorePhases(*plugin, ctx, plan, "restore", write);
    if (ok)
        for (const auto& failure : ctx.failures)
            std::fprintf(stderr, "warning: %s: %s %s\n", failure.item.c_str(), failure.reason.c_str(),
                         failure.extra1.c_str());
    EndRestoreJob(*plugin, ctx, ok, "restore");
    if (!ok) return 1;
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
