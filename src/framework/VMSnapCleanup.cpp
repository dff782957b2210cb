// The snapshot manager's clean-up of snapshot jobs that failed or died:
// their snapshots belong to no backup.
#include "framework/EvDebug.h"
#include "framework/SnapEngine.h"
#include "framework/SnapPairText.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"

namespace {
const char kTag[] = "CVMSnapUtil::DeleteUncommittedJobs";

bool DeleteJobSnapshots(ISnapEngine& engine, const SMVolSnapInfo& record, std::vector<std::string>& deleted,
                        std::string& error) {
    SnapArrayAccount account;
    if (!FwSnapEngine::LookupArray(record.arrayNumber, account)) {
        error = "no account is registered for snap control host " + std::to_string(record.arrayNumber);
        return false;
    }
    bool ok = true;
    for (const auto& m : record.metadata) {
        if (m.type != kSMMetaSnapshotPairs) continue;
        const std::string id = FwSnapPairs::Value(m.metadata, "snapUUID");
        const std::string region = FwSnapPairs::Value(m.metadata, "sourceRegion");
        if (id.empty() || region.empty()) continue;
        std::string why;
        if (!engine.DeleteSnapshot(account, region, id, why)) {
            // Gone already: the job's own clean-up got to it.
            if (why.find("InvalidSnapshot.NotFound") != std::string::npos) continue;
            EvDebug::Error(kTag, "snapshot [%s] of job [%lld]: %s", id.c_str(), static_cast<long long>(record.jobId),
                           why.c_str());
            error = why;
            ok = false;
            continue;
        }
        deleted.push_back(id);
    }
    return ok;
}
}  // namespace

bool CVMSnapUtil::DeleteUncommittedJobs(std::vector<std::string>& deleted, std::string& error) {
    std::shared_ptr<ISnapEngine> engine = FwSnapEngine::Get();
    std::vector<int64_t> jobs;
    if (!engine || !CSnapStore::ListJobs(jobs)) {
        error = engine ? "cannot read the snapshot manager's store" : "no snapshot engine is installed";
        return false;
    }
    bool ok = true;
    for (int64_t job : jobs) {
        SMVolSnapInfo record;
        if (CSnapStore::IsJobCommitted(job) || !CSnapStore::LoadJobRecord(job, record)) continue;
        if (!DeleteJobSnapshots(*engine, record, deleted, error) || !CSnapStore::DeleteJobRecord(job)) {
            ok = false;
            continue;
        }
        EvDebug::Debug(kTag, "snapshot job [%lld] never completed: its snapshots are deleted",
                       static_cast<long long>(job));
    }
    return ok;
}
