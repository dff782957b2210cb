// revert and restore from a snap backup: the framework's side of a revert,
// which the plug-in runs as one RevertSnap.
#include "host/SnapRevertCommand.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <set>
#include <sstream>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/SnapStore.h"
#include "framework/VMInfo.h"
#include "framework/VMSnapUtil.h"
#include "host/ConnectCommand.h"
#include "host/RestoreJob.h"
#include "host/SnapArray.h"
#include "host/StopSignals.h"

namespace {
// The instance as the snap backup recorded it, every disk with it.
bool BackedUpInstance(const MountCtx& ctx, const std::string& folder, VMInfoStructs::SVMInfo& vm, std::string& why) {
    CVMSnapUtil util(nullptr);
    const std::string name = ctx.indexingV2 ? CVMSnapUtil::GetVMSnapMetadataFileName(ctx.snapJobId, ctx.requestedVMGuid)
                                            : CVMSnapUtil::GetSnapMetadataFileName(ctx.snapJobId);
    std::vector<VMInfoStructs::SDatastoreInfo> datastores;
    if (!FwFile::MakeDirs(folder) || !util.DownloadMetadataFiles(ctx, name, folder) ||
        !util.ReadSnapMetadataXML(FwFile::JoinPath(folder, name), datastores)) {
        why = "the snapshot manager holds no readable " + name;
        return false;
    }
    FwFile::RemoveFile(FwFile::JoinPath(folder, name));
    for (const auto& ds : datastores)
        for (const auto& owner : ds.vms)
            if (owner.guid == ctx.requestedVMGuid) {
                vm = owner;
                return true;
            }
    why = "snap job " + std::to_string(ctx.snapJobId) + " holds no backup of instance " + ctx.requestedVMGuid;
    return false;
}
}  // namespace

bool ParseSnapJobRequest(const std::string& command, const std::map<std::string, std::string>& values,
                         SnapJobRequest& request, std::string& why) {
    auto value = [&values](const char* key) {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    };
    try {
        size_t used = 0;
        const std::string text = value("snap-job");
        request.snapJob = text.empty() ? 0 : std::stoll(text, &used);
        if (used != text.size()) request.snapJob = 0;
    } catch (const std::exception&) {
        request.snapJob = 0;
    }
    request.instance = value("instance");
    if (request.snapJob <= 0 || request.instance.empty()) {
        why = command + " needs --snap-job N (a snap job of snap-list) and --instance ID";
        return false;
    }
    const std::string disks = value("disks");
    if (!disks.empty() && command != "revert") {
        why = "--disks is for revert only";
        return false;
    }
    std::stringstream list(disks);
    std::string id;
    std::set<std::string> seen;
    while (std::getline(list, id, ',')) {
        if (id.empty() || !seen.insert(id).second) {
            why = "--disks takes distinct volume ids separated by \",\"";
            return false;
        }
        request.disks.push_back(id);
    }
    request.zone = value("zone");
    request.name = value("name");
    if ((!request.zone.empty() || !request.name.empty()) && command != "restore") {
        why = "--zone and --name are for restore only";
        return false;
    }
    return true;
}

int RunSnapRevert(PluginLoader& loader, const ConnectJob& job, const SnapJobRequest& request, bool inPlace) {
    const char* what = inPlace ? "revert" : "restore";
    StopSignals signals;
    auto plugin = ConnectObject(loader, job);
    if (!plugin) return 1;
    HostSnap::ArrayRegistration array(job);
    MountCtx mctx = HostSnap::JobContext(job, request.snapJob, request.instance);
    const std::string folder = FwFile::JoinPath(KDPI_Base::getBaseDir(),
                                                "Restore/snap-" + std::to_string(::getpid()));
    FwFile::RemoveTree(folder);
    mctx.snapMetadataFolder = mctx.mountPath = folder;

    std::string why;
    VMInfoStructs::SVMInfo backedUp, current;
    if (!BackedUpInstance(mctx, folder, backedUp, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        plugin->Disconnect();
        return 1;
    }
    const bool exists = plugin->GetVMInfoForVM("", request.instance, "", 0, 0, current) &&
                        current.guid == request.instance;
    if (inPlace && !exists) {
        std::fprintf(stderr, "error: the account has no instance %s to revert\n", request.instance.c_str());
        plugin->Disconnect();
        return 1;
    }
    mctx.requestedVMName = backedUp.name;

    RestoreCtx rctx;
    rctx.flavour = RestoreCtx::FullInstance;
    rctx.jobId = job.jobId;
    rctx.restoreFromSnap = true;
    rctx.sourceGuid = request.instance;
    rctx.originalVMName = backedUp.name;
    rctx.guestOSName = backedUp.guestOS;
    rctx.sourceFirmware = backedUp.firmware;
    rctx.restorePath = folder + "/";
    if (inPlace) {
        // Into the instance itself: the restore finds it by its name, and
        // overwriting it means restoring into it.
        rctx.restoreVMName = current.name;
        rctx.destZone = current.zone;
        rctx.inPlace = rctx.overwrite = true;
        rctx.powerOn = current.powerState == 1;
    } else {
        rctx.restoreVMName = request.name.empty() ? backedUp.name + "-snap" + std::to_string(request.snapJob)
                                                  : request.name;
        rctx.destZone = request.zone.empty() ? backedUp.zone : request.zone;
    }
    VMInfoStructs::SHostInfo zone;
    if (rctx.destZone.empty() || !plugin->GetHostInfoForHost(rctx.destZone, 0, 0, zone)) {
        std::fprintf(stderr, "error: the account has no availability zone \"%s\"\n", rctx.destZone.c_str());
        plugin->Disconnect();
        return 1;
    }
    rctx.destRegion = zone.region;
    std::set<std::string> asked(request.disks.begin(), request.disks.end());
    for (const auto& disk : backedUp.allDisks) {
        if (disk.filtered || (!asked.empty() && !asked.count(disk.volumeId))) continue;
        VMInfoStructs::SDisk wanted = disk;
        wanted.sourceVolumeId = disk.volumeId;
        wanted.selected = true;
        wanted.newVolumeId.clear();
        asked.erase(disk.volumeId);
        rctx.disks.push_back(wanted);
    }
    if (!asked.empty()) {
        std::fprintf(stderr, "error: the snap backup of %s holds no volume %s\n", request.instance.c_str(),
                     asked.begin()->c_str());
        plugin->Disconnect();
        return 1;
    }

    const bool ok = plugin->RevertSnap(mctx, rctx) == 1;
    if (!ok) PrintPluginError(*plugin, "the " + std::string(what) + " failed");
    for (const auto& failure : rctx.failures)
        std::fprintf(stderr, "  %s: %s\n", failure.reason.c_str(), failure.extra2.c_str());
    EndRestoreJob(*plugin, rctx, ok, what);
    FwFile::RemoveTree(folder);
    if (!ok) return 1;
    const std::string instance = rctx.createdInstanceId.empty() ? rctx.vmGuid : rctx.createdInstanceId;
    std::printf("%s of %s from snap job %lld: instance %s (%s) in %s\n", what, request.instance.c_str(),
                static_cast<long long>(request.snapJob), instance.c_str(), rctx.restoreVMName.c_str(),
                rctx.destZone.c_str());
    for (const auto& disk : rctx.disks) {
        std::printf("  %s: %s (from %s)\n", disk.deviceName.c_str(), disk.newVolumeId.c_str(),
                    disk.sourceVolumeId.c_str());
        if (inPlace) {
            const auto was = std::find_if(current.disks.begin(), current.disks.end(),
                                          [&](const VMInfoStructs::SDisk& d) { return d.deviceName == disk.deviceName; });
            if (was != current.disks.end() && was->volumeId != disk.newVolumeId)
                std::printf("    replaced %s, detached and kept\n", was->volumeId.c_str());
        }
    }
    return 0;
}
