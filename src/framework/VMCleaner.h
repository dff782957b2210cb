#pragma once
// VMCleaner: the framework's persistent cleanup store. A job records every
// cloud resource it creates here before relying on it; entries outlive the
// process (SQLite under <base>/Cleaner/cleaner.db) so that a later job can
// remove what a dead one left.
//
// Entries belong to an owner (the id given to Init, e.g. the proxy's
// instance id) and a mode (0 backup, 1 restore). A root entry (type 1, empty
// parent) stands for a job's VM; children hang under its path. Registering
// the same (parent, type, id) twice keeps one entry and hands it to the
// registering job.
//
// A job is "running" from Init until DeInit or the end of its process; root
// entries whose job is not running are orphaned. Not thread-safe: one object
// per job thread (several objects may share the database).
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

    // Registers (or re-owns) an entity; path receives its cleaner path.
    bool RegisterEntity(int mode, const std::string& parentPath, int type, const std::string& id, std::string* path);
    // The root entry (empty parent) of that type and id.
    bool LookupEntity(int mode, int type, const std::string& id, CleanerEntity& out);
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
    void PostAllVMCleanup(int mode);

    // Every entry of this owner, for diagnostics and tests.
    bool ListAll(std::vector<CleanerEntity>& items);
    static std::string DatabasePath();

private:
    bool Exec(const char* sql);
    bool IsJobRunning(const std::string& jobKey);

    sqlite3* m_db = nullptr;
    std::string m_owner;
    std::string m_jobKey;   // identifies this job's run: pid, process start, job id
    int64_t m_jobId = 0;
};
