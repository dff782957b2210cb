#pragma once
// The snap control host the host program registers its account under, for
// every job that has the snapshot manager act in the cloud (snap backups,
// snap mounts, reverts). The manager's store keeps only the array's number;
// its keys live in this process while the job runs.
#include <algorithm>
#include <cstdint>
#include <string>

#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/SnapEngine.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"
#include "host/HostOptions.h"
#include "records/JobContexts.h"

namespace HostSnap {
constexpr uint32_t kArray = 1;
constexpr int32_t kHubCell = 1;

// Holds the job's account as the manager's array for the job's run.
class ArrayRegistration {
public:
    explicit ArrayRegistration(const ConnectJob& job) {
        FwSnapEngine::RegisterArray(kArray, {job.url, job.accessKey, job.secretKey});
    }
    ~ArrayRegistration() { FwSnapEngine::UnregisterArray(kArray); }
    ArrayRegistration(const ArrayRegistration&) = delete;
    ArrayRegistration& operator=(const ArrayRegistration&) = delete;
};

// The context of a later job on one instance of snap job snapJob: a
// VM-centric snap job is known by the instance's own metadata file.
inline MountCtx JobContext(const ConnectJob& job, int64_t snapJob, const std::string& instance) {
    MountCtx ctx;
    ctx.jobId = job.jobId;
    ctx.snapJobId = snapJob;
    ctx.requestedVMGuid = instance;
    ctx.hubCellId = kHubCell;
    ctx.snapControlHostId = static_cast<int32_t>(kArray);
    ctx.jobResultsFolder = FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getBaseDir(), "JobResults"),
                                            std::to_string(job.jobId));
    std::vector<std::string> names;
    CSnapStore::ListMetadataFiles(snapJob, names);
    const std::string own = CVMSnapUtil::GetVMSnapMetadataFileName(snapJob, instance);
    ctx.indexingV2 = std::find(names.begin(), names.end(), own) != names.end();
    return ctx;
}
}  // namespace HostSnap
