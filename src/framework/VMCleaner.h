#pragma once
// VMCleaner: the framework's persistent cleanup store. A job records every
// cloud resource it creates here before relying on it; entries outlive the
// process (SQLite under <base>/Cleaner/cleaner.db) so that a later job can
// remove what a dead one left.
//
// Entries belong to an owner (the id given to Init, e.g. the proxy's
// instance id) and a mode (0 backup, 1 restore). A root entry (type 1, empty
// parent) stands for one job run's VM: two jobs of one VM each have their
// own root, and a job only ever finds its own (LookupEntity) or, through
// GetOrphanedEntities, those of jobs no longer running. Children hang under
// their root's path; registering the same child twice keeps one entry.
// Each entry keeps the region and the account its resource lives in;
// entries stored before these were kept read back with empty ones.
//
// A job is "running" from Init until DeInit or the end of its process; root
// entries whose job is not running are orphaned. Where a process's start
// time cannot be read (a /proc mounted with hidepid), the job's end mark and
// whether its pid is alive decide. Not thread-safe: one object per job
// thread (several objects may share the database).
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/FrameworkApi.h"

struct sqlite3;

struct FW_API CleanerEntity {
    std::string id;      // the entity's own id (instance, volume, snapshot, ...)
    int type = 0;
    int mode = 0;
    std::string path;    // the entity's cleaner path; children hang under it
    std::string parent;  // the parent's path; empty for a root entry
    int64_t jobId = 0;
    std::string jobKey;  // the job run that registered it
    std::string region;  // where the resource lives; empty: the owner's region
    std::string account; // the account that holds it; empty: the owner's account
};

class FW_API VMCleaner {
public:
    VMCleaner();
    virtual ~VMCleaner();
    VMCleaner(const VMCleaner&) = delete;
    VMCleaner& operator=(const VMCleaner&) = delete;

    // The job whose entries this object writes; set before Init.
    void SetJobId(int64_t jobId) { m_jobId = jobId; }
    int64_t GetJobId() const { return m_jobId; }

    // False, with nothing opened, for an empty owner id.
    bool Init(const std::string& ownerId, int flags);
    void DeInit();
    bool IsInitialized() const { return m_db != nullptr; }
    const std::string& OwnerId() const { return m_owner; }

    // Registers an entity (a root for this job run when parentPath is
    // empty); path receives its cleaner path.
    bool RegisterEntity(int mode, const std::string& parentPath, int type, const std::string& id, std::string* path,
                        const std::string& region = std::string(), const std::string& account = std::string());
    // This job run's root entry (empty parent) of that type and id.
    bool LookupEntity(int mode, int type, const std::string& id, CleanerEntity& out);
    // Every job run's root entries of that type and id.
    bool ListRootEntities(int mode, int type, const std::string& id, std::vector<CleanerEntity>& items);
    // Removes the entity at path. Without withChildren it is removed only
    // when nothing is registered under it any more (false otherwise), so that
    // no registered resource loses its entry by accident; withChildren drops
    // the entries under it too (their resources are gone by other means).
    bool UnRegisterEntity(const std::string& path, bool withChildren);
    // The path a child of root with that type and id has (whether or not it
    // is registered).
    std::string ConstructHandle(const CleanerEntity& root, int type, const std::string& id) const;
    bool GetCleanerPathForEntityHandle(const CleanerEntity& entity, std::string& path) const;
    // Children of one type directly under path, in registration order.
    bool FillItemsFromCleanerPath(const std::string& path, int type, std::vector<CleanerEntity>& items);
    // Root entries of the mode and type whose job is no longer running.
    bool GetOrphanedEntities(int mode, int type, std::vector<CleanerEntity>& items);
    bool IsCleanupNeeded(int mode);
    // True when this object's job run registered the entity.
    bool IsOwnEntry(const CleanerEntity& entity) const { return entity.jobKey == m_jobKey; }
    // This object's job run, as a name a file or folder may carry; empty
    // before Init. JobKeyOfName gives the job key back (empty for a name no
    // job run has).
    std::string JobRunName() const;
    static std::string JobKeyOfName(const std::string& name);
    // True while that job run has not ended (this object's own always).
    bool IsJobKeyRunning(const std::string& jobKey) { return m_db && IsJobRunning(jobKey); }
    // True when a job run other than exceptJobKey (by default this
    // object's), and still running, has a resource of that id registered
    // under one of its roots: two jobs of one instance each have their own
    // AMIs, which neither may take for the other's leftovers. Also true
    // when the store cannot answer.
    bool IsHeldByRunningJob(const std::string& id, const std::string& exceptJobKey);
    bool IsHeldByAnotherRunningJob(const std::string& id) { return IsHeldByRunningJob(id, m_jobKey); }
    void PostAllVMCleanup(int mode);

    // Every entry of this owner, and every job run the store knows of, for
    // diagnostics and tests.
    bool ListAll(std::vector<CleanerEntity>& items);
    bool ListJobKeys(std::vector<std::string>& keys);
    static std::string DatabasePath();

private:
    bool Exec(const char* sql);
    bool EnsureColumn(const char* name);
    bool IsJobRunning(const std::string& jobKey);
    // Forgets job runs that ended (or died) and that no entry names.
    void PruneJobs();

    sqlite3* m_db = nullptr;
    std::string m_owner;
    std::string m_jobKey;   // identifies this job's run: pid, process start, job id
    int64_t m_jobId = 0;
};
