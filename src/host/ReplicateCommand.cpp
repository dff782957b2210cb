// The replication cycle: the chain's last point through the restore phases
// with flavour 4, the data mover writing all the point's data or only what
// changed since the point the replica holds.
#include "host/ReplicateCommand.h"

#include <chrono>
#include <cstdio>
#include <set>

#include "framework/FileUtils.h"
#include "host/BackupChain.h"
#include "host/ChainLock.h"
#include "host/ConnectCommand.h"
#include "host/Progress.h"
#include "host/ReplicaState.h"
#include "host/RestoreJob.h"

namespace {
using Clock = std::chrono::steady_clock;

// A later cycle keeps the replica where the first one put it: one given
// elsewhere would leave the old replica for good. False with a reason.
bool SameAsBefore(const char* what, const std::string& asked, const std::string& kept, std::string& why) {
    if (asked.empty() || asked == kept) return true;
    why = std::string("the replica lives with ") + what + " \"" + kept + "\"; a later cycle cannot give it " + what +
          " \"" + asked + "\" (delete the replica and " + "replica.json for a new one)";
    return false;
}

const ReplicaDisk* KeptDisk(const ReplicaState& state, const std::string& volumeId) {
    for (const auto& d : state.disks)
        if (d.volumeId == volumeId) return &d;
    return nullptr;
}

// What the cycle wrote.
struct Written {
    uint64_t blocks = 0, bytes = 0;
};
}  // namespace

bool ParseReplicateRequest(const std::map<std::string, std::string>& values, ReplicateRequest& request,
                           std::string& why) {
    static const std::set<std::string> known = {"instance", "chain", "name", "zone", "account", "power-on", "job",
                                                "url", "access-key", "secret-key", "admin-url", "admin-access-key",
                                                "admin-secret-key", "proxy-host", "proxy-user", "proxy-password",
                                                "job-id"};
    for (const auto& [key, v] : values) {
        if (!known.count(key)) {
            why = "replicate does not take --" + key;
            return false;
        }
    }
    auto value = [&values](const char* key) {
        auto it = values.find(key);
        return it == values.end() ? std::string() : it->second;
    };
    request.instance = value("instance");
    request.chain = value("chain");
    if (request.instance.empty() || request.chain.empty()) {
        why = "replicate needs --instance ID and --chain DIR";
        return false;
    }
    request.name = value("name");
    if (values.count("name") && request.name.empty()) {
        why = "--name may not be empty";
        return false;
    }
    if (!CheckInstanceName(request.name, why)) return false;
    request.zone = value("zone");
    request.accountGiven = values.count("account") != 0;
    request.account = request.accountGiven ? value("account") : "source";
    if (request.account != "source" && request.account != "admin") {
        why = "--account takes source or admin";
        return false;
    }
    request.powerOn = values.count("power-on") != 0;
    return true;
}

int RunReplicate(PluginLoader& loader, const ConnectJob& job, const ReplicateRequest& request) {
    std::string why;
    if (!FwFile::IsDirectory(request.chain)) {
        std::fprintf(stderr, "error: the chain in %s has no backups\n", request.chain.c_str());
        return 1;
    }
    ChainLock lock;
    if (!lock.TryLock(request.chain, why, "replica.lock", "replication")) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    BackupChain chain(request.chain);
    RestorePlan plan;
    if (!chain.Load(why) || !PlanRestore(chain, 0, plan, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    if (plan.vm.guid != request.instance) {
        std::fprintf(stderr, "error: the chain in %s holds backups of %s, not of %s\n", request.chain.c_str(),
                     plan.vm.guid.c_str(), request.instance.c_str());
        return 1;
    }
    const std::string statePath = ReplicaStatePath(request.chain);
    ReplicaState state;
    if (!LoadReplicaState(statePath, state, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    const bool later = !state.replica.empty();
    if (later && (state.instance != request.instance || !SameAsBefore("the name", request.name, state.name, why) ||
                  !SameAsBefore("the zone", request.zone, state.zone, why) ||
                  !SameAsBefore("the account", request.accountGiven ? request.account : "", state.account, why))) {
        if (state.instance != request.instance) why = "the replica of this chain is of " + state.instance;
        std::fprintf(stderr, "error: %s; nothing was replicated\n", why.c_str());
        return 1;
    }
    // What the point holds, and what the replica holds: the point it was
    // made from, if the chain still holds that very point.
    PointContent now, before;
    if (!ReadPointContent(chain, plan.point, now, why)) {
        std::fprintf(stderr, "error: %s\n", why.c_str());
        return 1;
    }
    bool fromReplica = false;
    if (later) {
        std::string unused;
        fromReplica = ReadPointContent(chain, state.point, before, unused) && before.ami == state.pointAmi;
        if (!fromReplica)
            std::fprintf(stderr,
                         "warning: the chain no longer holds point %d the replica %s was made from; this cycle "
                         "writes every block\n",
                         state.point, state.replica.c_str());
    }

    RestoreRequest restore;
    restore.chain = request.chain;
    restore.name = later ? state.name : request.name;
    restore.zone = later ? state.zone : request.zone;
    restore.account = later ? state.account : request.account;
    restore.powerOn = request.powerOn;
    // From the first call to the cloud on, a stop request ends the cycle by
    // its own path, which leaves the previous replica in place.
    StopSignals signals;
    auto plugin = ConnectObject(loader, job);
    if (!plugin) return 1;
    VMInfoStructs::SVMInfo target;
    if (!CheckDestination(*plugin, restore, plan, target, why)) {
        std::fprintf(stderr, "error: %s; nothing was replicated\n", why.c_str());
        return 1;
    }
    RestoreCtx ctx;
    FillRestoreContext(plan, restore, job.jobId, nullptr, ctx);
    ctx.flavour = RestoreCtx::Replication;
    // What the framework's replication database hands the next job: the
    // replica, and per disk the snapshot its volume is made from.
    std::vector<bool> onSnapshot(ctx.disks.size(), false);
    if (later) {
        ctx.vmGuid = state.replica;
        for (size_t i = 0; fromReplica && i < ctx.disks.size(); ++i) {
            auto& disk = ctx.disks[i];
            const ReplicaDisk* kept = KeptDisk(state, disk.sourceVolumeId);
            if (!disk.selected || !kept || kept->snapshotId.empty() || !before.disks.count(disk.sourceVolumeId))
                continue;
            disk.snapshotId = kept->snapshotId;
            disk.originalVolumeId = disk.sourceVolumeId;
            onSnapshot[i] = true;
        }
    }
    StagingFolder staging;
    if (!RebuildPlanImages(chain, staging, plan)) return 1;

    const auto started = Clock::now();
    Written written;
    const auto write = [&](const RestoreCtx& c, size_t i, const RestoreDisk& source, CopyProgress& progress) {
        // Onto a volume made from the replica's snapshot only what changed;
        // onto an empty one (a full cycle, a disk new since) all the data.
        const bool changesOnly = onSnapshot[i] && c.replicationMode == RestoreCtx::IncrementalReplication &&
                                 !c.forceFull && !c.restartFromFirstExtent;
        const PointDiskBlocks& after = now.disks.at(source.volumeId);
        const std::vector<uint64_t> blocks =
            ChangedBlocks(changesOnly ? &before.disks.at(source.volumeId) : nullptr, after);
        WriteStats stats;
        if (!WriteRestoreDisk(*plugin, c, c.disks[i], source, &blocks, progress, stats)) return false;
        written.blocks += blocks.size();
        written.bytes += stats.bytesWritten;
        return true;
    };
    // Once RestoreVM is through the new replica exists and the old one is
    // gone: the file names the new one whatever happens after.
    ReplicaState next;
    const auto record = [&](const RestoreCtx& c) {
        next.instance = request.instance;
        next.replica = c.vmGuid;
        next.integrityAmi = c.integritySnapshotId;
        next.name = c.restoreVMName;
        next.zone = c.destZone;
        next.account = restore.account;
        next.point = plan.point;
        next.pointAmi = now.ami;
        for (size_t i = 0; i < c.disks.size(); ++i)
            if (c.disks[i].selected)
                next.disks.push_back({plan.vm.disks[i].volumeId, c.disks[i].snapshotId, c.disks[i].newVolumeId});
        if (SaveReplicaState(statePath, next, why)) return true;
        std::fprintf(stderr, "error: the replica %s is made, but %s\n", next.replica.c_str(), why.c_str());
        return false;
    };
    const bool ok = RunRestorePhases(*plugin, ctx, plan, "replicate", write, record);
    const bool incremental = ctx.replicationMode == RestoreCtx::IncrementalReplication && !ctx.forceFull;
    if (ok)
        for (const auto& failure : ctx.failures)
            std::fprintf(stderr, "warning: %s: %s %s\n", failure.item.c_str(), failure.reason.c_str(),
                         failure.extra1.c_str());
    EndRestoreJob(*plugin, ctx, ok, "replication");
    if (!ok) return 1;
    const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("replicated point %d of %s (%s) as replica %s (%s) in %s: %s cycle, %llu blocks written "
                "(%llu bytes), integrity AMI %s, in %.2f s\n",
                plan.point, plan.vm.guid.c_str(), plan.vm.name.c_str(), next.replica.c_str(), next.name.c_str(),
                next.zone.c_str(), incremental ? "incremental" : "full",
                static_cast<unsigned long long>(written.blocks), static_cast<unsigned long long>(written.bytes),
                next.integrityAmi.c_str(), seconds);
    for (size_t i = 0; i < ctx.disks.size(); ++i)
        if (ctx.disks[i].selected)
            std::printf("  %s: %s (from %s, integrity snapshot %s)\n", ctx.disks[i].deviceName.c_str(),
                        ctx.disks[i].newVolumeId.c_str(), plan.vm.disks[i].volumeId.c_str(),
                        ctx.disks[i].snapshotId.c_str());
    if (later && state.replica != next.replica)
        std::printf("  replaced replica %s and its integrity AMI %s\n", state.replica.c_str(),
                    state.integrityAmi.c_str());
    return 0;
}
