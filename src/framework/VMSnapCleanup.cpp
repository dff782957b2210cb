// The snapshot manager's clean-up of snapshot jobs that failed or died:
// their snapshots belong to no backup.
#include <strings.h>

#include "framework/EvDebug.h"
#include "framework/SnapEngine.h"
#include "framework/SnapStore.h"
#include "framework/VMSnapUtil.h"

namespace {
const char kTag[] = "CVMSnapUtil::DeleteUncommittedJobs";

// The value of key in the manager's "key:value;" text; empty when absent.
std::string Pair(const std::string& text, const char* key) {
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find(';', begin);
        if (end == std::string::npos) end = text.size();
        const std::string token = text.substr(begin, end - begin);
        const size_t colon = token.find(':');
        if (colon != std::string::npos && strcasecmp(token.substr(0, colon).c_str(), key) == 0)
            return token.substr(colon + 1);
        begin = end + 1;
    }
    return std::string();
}

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
        const std::string id = Pair(m.metadata, "snapUUID"), region = Pair(m.metadata, "sourceRegion");
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
