// snap-backup and snap-list: snap backups the way the agent runs them, and
// what the snapshot manager holds of them.
#include "host/SnapCommand.h"

#include <cstdio>
#include <limits>
#include <set>
#include <sstream>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/Locks.h"
#include "framework/SnapEngine.h"
#include "framework/SnapStore.h"
#include "framework/VMInfo.h"
#include "framework/VMSnapUtil.h"
#include "host/ConnectCommand.h"
#include "host/SnapArray.h"
#include "host/SnapListing.h"
#include "host/StopSignals.h"

namespace {
using HostSnap::ArrayRegistration;
constexpr uint32_t kHostSnapArray = HostSnap::kArray;
constexpr int32_t kHostHubCell = HostSnap::kHubCell;
// Instance job ids are the job id times this, plus the instance's place.
constexpr int64_t kInstanceJobIds = 1000;

struct InstanceResult {
    std::string id;
    int error = 0;
    std::string details;
};

MountCtx JobContext(const ConnectJob& job, const SnapBackupRequest& request) {
    MountCtx ctx;
    ctx.jobId = job.jobId;
    ctx.snapBackup = true;
    ctx.indexingV2 = request.vmCentric;
    ctx.hubCellId = kHostHubCell;
    ctx.snapControlHostId = static_cast<int32_t>(kHostSnapArray);
    ctx.jobResultsFolder = FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getBaseDir(), "JobResults"),
                                            std::to_string(job.jobId));
    for (size_t i = 0; i < request.instances.size(); ++i) {
        SVMBasicInfo entry;
        entry.guid = entry.name = request.instances[i];
        entry.vmJobId = job.jobId * kInstanceJobIds + static_cast<int64_t>(i) + 1;
        ctx.snapInstances.push_back(entry);
    }
    return ctx;
}

// Hands the files to the manager under the snapshot job; prints each.
bool KeepFiles(int64_t snapJobId, const std::vector<std::string>& files, std::set<std::string>& printed) {
    for (const auto& f : files)
        if (printed.insert(f).second) std::printf("  file %s\n", f.c_str());
    if (files.empty() || CVMSnapUtil::UploadMetadataFiles(snapJobId, files)) return true;
    std::fprintf(stderr, "error: the snapshot manager did not take the files of snap job %lld\n",
                 static_cast<long long>(snapJobId));
    return false;
}

InstanceResult MountInstance(CVMInfo& plugin, MountCtx& ctx, std::set<std::string>& printed, bool& kept) {
    InstanceResult result;
    result.id = ctx.requestedVMGuid;
    if (!plugin.MountVM(ctx)) {
        result.error = plugin.GetLastVMError();
        result.details = plugin.GetLastVMErrorDetails();
        return result;
    }
    std::vector<std::string> files;
    if (!plugin.GetMetadataFiles(ctx, files, 1) || !KeepFiles(ctx.snapJobId, files, printed)) {
        result.error = plugin.GetLastVMError() ? plugin.GetLastVMError() : 1;
        result.details = "the instance's metadata files were not kept";
        kept = false;
    }
    plugin.UnmountVM(ctx);
    return result;
}

void PrintSnapshots(int64_t snapJobId) {
    SMVolSnapInfo record;
    if (!CSnapStore::LoadJobRecord(snapJobId, record)) return;
    for (const auto& line : SnapListing::Snapshots(record)) std::printf("  snapshot %s\n", line.c_str());
}
}  // namespace

bool ParseSnapBackupRequest(const std::map<std::string, std::string>& values, SnapBackupRequest& request,
                            std::string& why) {
    auto it = values.find("instance");
    if (it == values.end() || it->second.empty()) {
        why = "snap-backup needs --instance ID[,ID...]";
        return false;
    }
    std::stringstream list(it->second);
    std::string id;
    std::set<std::string> seen;
    while (std::getline(list, id, ',')) {
        if (id.empty() || !seen.insert(id).second) {
            why = "--instance takes distinct instance ids separated by \",\"";
            return false;
        }
        request.instances.push_back(id);
    }
    request.vmCentric = values.count("vm-centric") != 0;
    return true;
}

int RunSnapBackup(PluginLoader& loader, const ConnectJob& job, const SnapBackupRequest& request) {
    if (job.jobId <= 0 || job.jobId > std::numeric_limits<int64_t>::max() / kInstanceJobIds - 1) {
        std::fprintf(stderr, "error: a snap backup needs a positive --job-id\n");
        return 2;
    }
    // The clean-up below takes every uncommitted snap job for a dead one:
    // only one snap backup may run at a time.
    NamedMutex running("snap-backup");
    if (!running.TryLock()) {
        std::fprintf(stderr, "error: another snap backup is running\n");
        return 1;
    }
    StopSignals signals;
    auto plugin = ConnectObject(loader, job);
    if (!plugin) return 1;
    ArrayRegistration array(job);
    // Snapshots of snap jobs that failed or died belong to no backup: they
    // go first, as the manager's own job start does.
    std::vector<std::string> removed;
    std::string why;
    if (!CVMSnapUtil::DeleteUncommittedJobs(removed, why))
        std::fprintf(stderr, "warning: the clean-up of unfinished snap jobs failed: %s\n", why.c_str());
    for (const auto& id : removed) std::printf("removed snapshot %s of an unfinished snap job\n", id.c_str());

    MountCtx ctx = JobContext(job, request);
    std::vector<InstanceResult> results;
    std::vector<int64_t> snapJobs;
    std::set<std::string> printed;
    bool jobOk = true, kept = true;
    if (!request.vmCentric) {
        if (!plugin->PreSnap(ctx)) {
            std::fprintf(stderr, "error: the snapshot phase failed (error %d): %s\n", plugin->GetLastVMError(),
                         plugin->GetLastVMErrorDetails().c_str());
            jobOk = false;
        } else {
            snapJobs.push_back(ctx.snapJobId);
            std::vector<std::string> files;
            kept = plugin->GetMetadataFiles(ctx, files, 0) && KeepFiles(ctx.snapJobId, files, printed);
            for (const auto& entry : ctx.snapInstances) {
                MountCtx mount = ctx;
                mount.requestedVMGuid = entry.guid;
                results.push_back(MountInstance(*plugin, mount, printed, kept));
            }
        }
    } else {
        for (const auto& entry : ctx.snapInstances) {
            MountCtx mount = ctx;
            mount.requestedVMGuid = entry.guid;
            mount.vmJobId = entry.vmJobId;
            if (!plugin->CreateArchiveFileForSnapBackup(mount, mount.archiveFileId, entry.guid)) {
                results.push_back({entry.guid, 1, "no archive file for the instance"});
                continue;
            }
            results.push_back(MountInstance(*plugin, mount, printed, kept));
            // An instance that failed is no backup: its snapshot job stays
            // uncommitted, for the next clean-up.
            if (results.back().error == 0) snapJobs.push_back(mount.snapJobId);
            else PrintSnapshots(mount.snapJobId);
        }
    }
    if (jobOk && !plugin->PostSnap(ctx)) {
        std::fprintf(stderr, "error: the post-snapshot phase failed (error %d): %s\n", plugin->GetLastVMError(),
                     plugin->GetLastVMErrorDetails().c_str());
        jobOk = false;
    }
    if (jobOk && request.vmCentric) {
        std::vector<std::string> files;
        kept = kept && plugin->GetMetadataFiles(ctx, files, 0) && KeepFiles(ctx.jobId, files, printed);
        snapJobs.push_back(ctx.jobId);
    }
    plugin->Disconnect();
    // Only a job whose files the manager holds is a backup: anything else
    // is left to the next job's clean-up.
    jobOk = jobOk && kept;
    for (int64_t snapJob : snapJobs) {
        PrintSnapshots(snapJob);
        if (jobOk && !CSnapStore::MarkJobCommitted(snapJob)) jobOk = false;
    }
    bool allOk = jobOk;
    for (const auto& r : results) {
        if (r.error == 0) {
            std::printf("instance %s: backed up\n", r.id.c_str());
            continue;
        }
        allOk = false;
        std::printf("instance %s: failed (error %d) %s\n", r.id.c_str(), r.error, r.details.c_str());
    }
    std::printf("snap backup of job %lld (%s) %s\n", static_cast<long long>(job.jobId),
                request.vmCentric ? "VM-centric" : "job-level", jobOk ? (allOk ? "done" : "partly done") : "failed");
    return allOk ? 0 : 1;
}

int RunSnapList() {
    std::vector<int64_t> jobs;
    if (!CSnapStore::ListJobs(jobs)) {
        std::fprintf(stderr, "error: cannot read the snapshot manager's store %s\n", CSnapStore::DatabasePath().c_str());
        return 1;
    }
    bool ok = true;
    for (int64_t job : jobs) {
        SMVolSnapInfo record;
        const bool haveRecord = CSnapStore::LoadJobRecord(job, record);
        std::printf("snap job %lld: %s\n", static_cast<long long>(job),
                    CSnapStore::IsJobCommitted(job) ? "committed" : "not committed");
        if (haveRecord)
            for (const auto& line : SnapListing::Snapshots(record)) std::printf("  snapshot %s\n", line.c_str());
        std::vector<std::string> names;
        CSnapStore::ListMetadataFiles(job, names);
        for (const auto& name : names) {
            std::string bytes, summary;
            if (!CSnapStore::LoadMetadataFile(job, name, bytes) || !SnapListing::ReadBack(name, bytes, summary)) {
                std::printf("  file %s: does not read back: %s\n", name.c_str(), summary.c_str());
                ok = false;
                continue;
            }
            std::printf("  file %s: %s\n", name.c_str(), summary.c_str());
        }
    }
    if (jobs.empty()) std::printf("the snapshot manager holds no snap job\n");
    return ok ? 0 : 1;
}
