#pragma once
// What every job that writes volumes through the plug-in's restore phases
// shares (a restore, a replication cycle): the stop signals, the staging
// folder of the rebuilt images, the destination check, the data mover's
// write of one disk, the phases in their order, and the close (and clean-up
// of a failed job) at the end.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/VMInfo.h"
#include "host/RestorePlan.h"
#include "host/RestoreWriter.h"
#include "host/StopSignals.h"

class CopyProgress;

// The plug-in's last error, as "error: WHAT (error N): TEXT" on stderr.
void PrintPluginError(CVMInfo& plugin, const std::string& what);

// The rebuilt images of this job, under the base folder, removed when the
// job ends. Folders of jobs whose process is gone are removed at the start.
class StagingFolder {
public:
    StagingFolder();
    ~StagingFolder();
    StagingFolder(const StagingFolder&) = delete;
    StagingFolder& operator=(const StagingFolder&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

class BackupChain;
// The plan's point rebuilt (every block checked) into the staging folder,
// each disk of the plan pointed at its image: done before the cloud is
// touched, so a damaged point never leaves a half-made instance. False with
// the cause printed.
bool RebuildPlanImages(BackupChain& chain, const StagingFolder& staging, RestorePlan& plan);

// The destination as the account's inventory knows it: the instance to
// attach to, the zone and its region, the instance type. False with a reason
// on the first thing the account does not have.
bool CheckDestination(CVMInfo& plugin, const RestoreRequest& request, const RestorePlan& plan,
                      VMInfoStructs::SVMInfo& target, std::string& why);

// Writes one restore disk the way the data mover does: open the volume the
// plug-in staged, learn its device, write, close. blocks null: the image's
// data regions; otherwise exactly those blocks (of kImageBlock bytes, zeros
// included: the volume may hold older data there). False after printing why.
bool WriteRestoreDisk(CVMInfo& plugin, const RestoreCtx& ctx, const VMInfoStructs::SDisk& disk,
                      const RestoreDisk& source, const std::vector<uint64_t>* blocks, CopyProgress& progress,
                      WriteStats& stats);

// The data mover's part between PreRestoreVM and RestoreVM for disk index
// (of ctx.disks, which is the plan's disk list in the backup's order) from
// source. False after printing why.
using DiskWrite = std::function<bool(const RestoreCtx& ctx, size_t index, const RestoreDisk& source,
                                     CopyProgress& progress)>;
// Called once RestoreVM succeeded, before PostRestoreVM: what the job made
// is complete from here on (a replica to record). False fails the job.
using AfterRestore = std::function<bool(const RestoreCtx& ctx)>;

// InitRestoreVM, PreRestoreVM, the writes of every selected disk, RestoreVM
// and PostRestoreVM; false at the first failure, after printing it. job
// names the progress lines ("restore", "replicate").
bool RunRestorePhases(CVMInfo& plugin, RestoreCtx& ctx, const RestorePlan& plan, const char* job,
                      const DiskWrite& write, const AfterRestore& afterRestore = AfterRestore());

// Ends a job the phases ran for: CloseRestoreVM always, CleanupRestoreVM
// after a failure, both run to their end even when the job was stopped;
// then Disconnect. what names the job in messages ("restore").
void EndRestoreJob(CVMInfo& plugin, RestoreCtx& ctx, bool ok, const std::string& what);
