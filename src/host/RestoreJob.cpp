// The parts of a restore job that a replication cycle runs too.
#include "host/RestoreJob.h"

#include <errno.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "framework/FileUtils.h"
#include "host/BackupChain.h"
#include "framework/KDPI.h"
#include "host/Progress.h"
#include "host/StreamSlot.h"

namespace {
bool IsAuto(const std::string& type) { return strcasecmp(type.c_str(), "AUTO") == 0; }
}  // namespace

void PrintPluginError(CVMInfo& plugin, const std::string& what) {
    std::fprintf(stderr, "error: %s (error %d): %s\n", what.c_str(), plugin.GetLastVMError(),
                 plugin.GetLastVMErrorDetails().c_str());
}

StagingFolder::StagingFolder() {
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

StagingFolder::~StagingFolder() { FwFile::RemoveTree(m_path); }

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

bool WriteRestoreDisk(CVMInfo& plugin, const RestoreCtx& ctx, const VMInfoStructs::SDisk& disk,
                      const RestoreDisk& source, const std::vector<uint64_t>* blocks, CopyProgress& progress,
                      WriteStats& stats) {
    VmdkHandle handle;
    // The disk is found by the volume the plug-in made for it.
    const std::string& volume = disk.newVolumeId.empty() ? disk.sourceVolumeId : disk.newVolumeId;
    if (!plugin.CreateVmdk(ctx.restoreVMName, ctx.vmGuid, volume, source.size, handle)) {
        PrintPluginError(plugin, "cannot open restore disk " + volume + " for " + source.volumeId);
        return false;
    }
    VMInfoStructs::SDisk opened;
    bool ok = plugin.GetVmdkInfo(handle, opened) != 0;
    if (!ok) PrintPluginError(plugin, "cannot describe restore disk " + volume);
    std::string why;
    StreamSlot stream;
    if (ok && !TakeStream(stream, plugin.GetStreamLimit(), "disk " + source.volumeId, [] { return StopSignals::Stopped(); },
                          why)) {
        std::fprintf(stderr, "error: disk %s: %s\n", source.volumeId.c_str(), why.c_str());
        ok = false;
    }
    if (ok) {
        progress.StartDisk(source.volumeId, blocks ? BlockBytes(*blocks, source.size)
                                                   : ImageDataBytes(source.image, source.size));
        uint64_t reported = 0;
        const auto written = [&](uint64_t total) {
            progress.Add(total - reported);
            reported = total;
            return !StopSignals::Stopped();
        };
        ok = blocks ? WriteBlocksToDevice(source.image, opened.name, source.size, *blocks, stats, written, why)
                    : WriteImageToDevice(source.image, opened.name, source.size, stats, written, why);
        progress.EndDisk();
        if (!ok) std::fprintf(stderr, "error: disk %s: %s\n", source.volumeId.c_str(), why.c_str());
    }
    if (!plugin.CloseVmdk(handle)) {
        PrintPluginError(plugin, "cannot close restore disk " + volume);
        ok = false;
    }
    return ok;
}

bool RunRestorePhases(CVMInfo& plugin, RestoreCtx& ctx, const RestorePlan& plan, const char* job,
                      const DiskWrite& write, const AfterRestore& afterRestore) {
    const std::string what = job;
    if (!plugin.InitRestoreVM(ctx)) {
        PrintPluginError(plugin, "the " + what + " cannot start");
        return false;
    }
    if (!plugin.PreRestoreVM(ctx)) {
        PrintPluginError(plugin, "the pre-restore step failed");
        return false;
    }
    // The plug-in keeps the list's order: entry i is still the backup's disk i.
    if (ctx.disks.size() != plan.vm.disks.size()) {
        std::fprintf(stderr, "error: the plug-in changed the %s's disk list\n", job);
        return false;
    }
    std::vector<size_t> selected;
    for (size_t i = 0; i < ctx.disks.size(); ++i)
        if (ctx.disks[i].selected) selected.push_back(i);
    CopyProgress progress(job, selected.size());
    for (size_t i : selected) {
        const auto source = std::find_if(plan.disks.begin(), plan.disks.end(),
                                         [&](const RestoreDisk& d) { return d.volumeId == plan.vm.disks[i].volumeId; });
        if (source == plan.disks.end()) {
            std::fprintf(stderr, "error: disk %zu of the %s is not one of the point's\n", i, job);
            return false;
        }
        if (!write(ctx, i, *source, progress)) return false;
    }
    progress.Finish();
    if (!plugin.RestoreVM(ctx)) {
        PrintPluginError(plugin, "the instance cannot be restored");
        return false;
    }
    if (afterRestore && !afterRestore(ctx)) return false;
    if (!plugin.PostRestoreVM(ctx)) {
        PrintPluginError(plugin, "the post-restore step failed");
        return false;
    }
    return true;
}

void EndRestoreJob(CVMInfo& plugin, RestoreCtx& ctx, bool ok, const std::string& what) {
    // Every job InitRestoreVM started is closed, failed or not: the close
    // detaches from the proxy what is still attached to it. A failed job is
    // then cleaned up, which deletes what is still registered under it.
    // Both must run to their end even when the job was stopped.
    CVMInfo::SetProcessJobCancelled(false);
    plugin.SetJobCancelled(false);
    // Once the post phase is through, the restored instance is complete and
    // the user's: a close that fails (a proxy look-up, a detach) leaves at
    // most proxy-side left-overs, which stay registered for the next job's
    // clean-up, and must not cost the user the instance.
    if (!plugin.CloseRestoreVM(ctx)) {
        if (ok)
            std::fprintf(stderr,
                         "warning: the %s cannot be closed (error %d): %s; what it left on the proxy stays "
                         "registered for the next clean-up\n",
                         what.c_str(), plugin.GetLastVMError(), plugin.GetLastVMErrorDetails().c_str());
        else
            PrintPluginError(plugin, "the failed " + what + " cannot be closed");
    }
    if (!ok && !plugin.CleanupRestoreVM(ctx)) PrintPluginError(plugin, "the clean-up of the failed " + what + " failed");
    plugin.Disconnect();
}

bool RebuildPlanImages(BackupChain& chain, const StagingFolder& staging, RestorePlan& plan) {
    std::string why;
    if (!chain.RestoreImages(plan.point, staging.Path(), why, "rebuild")) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return false;
    }
    for (auto& disk : plan.disks) disk.image = FwFile::JoinPath(staging.Path(), disk.volumeId + ".img");
    return true;
}
