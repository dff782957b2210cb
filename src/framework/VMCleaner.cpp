#include "framework/VMCleaner.h"

#include <sqlite3.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <sstream>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/ProcessIdentity.h"
#include "framework/SqliteStatement.h"

namespace {
const char kTag[] = "VMCleaner";

// Prepared statement owned for one call.
class Statement : public SqliteStatement {
public:
    Statement(sqlite3* db, const char* sql) : SqliteStatement(db, sql, kTag) {}
};

// Ids may hold any character; '/' separates path components, so it and the
// escape character are encoded.
// A root's path ends in "#" and its job key, so '#' is encoded as well.
std::string EscapeId(const std::string& id) {
    std::string out;
    for (char c : id) {
        if (c == '%') out += "%25";
        else if (c == '/') out += "%2F";
        else if (c == '#') out += "%23";
        else out += c;
    }
    return out;
}

std::string ChildPath(const std::string& parent, int mode, int type, const std::string& id) {
    const std::string leaf = std::to_string(type) + "/" + EscapeId(id);
    return parent.empty() ? std::to_string(mode) + "/" + leaf : parent + "/" + leaf;
}

// Each job run's root of a VM is an entry of its own.
std::string RootPath(int mode, int type, const std::string& id, const std::string& jobKey) {
    return ChildPath("", mode, type, id) + "#" + jobKey;
}

CleanerEntity Row(const Statement& st) {
    CleanerEntity e;
    e.id = st.Text(0);
    e.type = static_cast<int>(st.Int(1));
    e.mode = static_cast<int>(st.Int(2));
    e.path = st.Text(3);
    e.parent = st.Text(4);
    e.jobId = st.Int(5);
    e.jobKey = st.Text(6);
    e.region = st.Text(7);
    e.account = st.Text(8);
    return e;
}

const char kColumns[] = "entity_id, type, mode, path, parent, job_id, job_key, region, account";
// Job keys hold ':', which names of files and folders do not; no part of a
// key holds '_'.
constexpr char kKeySeparator = ':';
constexpr char kNameSeparator = '_';
}  // namespace

VMCleaner::VMCleaner() = default;

VMCleaner::~VMCleaner() { DeInit(); }

std::string VMCleaner::DatabasePath() {
    return FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getBaseDir(), "Cleaner"), "cleaner.db");
}

bool VMCleaner::Exec(const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(m_db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        EvDebug::Error(kTag, "[%s] failed: %s", sql, err ? err : "unknown error");
        sqlite3_free(err);
        return false;
    }
    return true;
}

bool VMCleaner::Init(const std::string& ownerId, int) {
    DeInit();
    // Entries under no owner are found by no later job.
    if (ownerId.empty()) {
        EvDebug::Error(kTag, "refusing to open the cleanup store without an owner id");
        return false;
    }
    const std::string path = DatabasePath();
    FwFile::MakeDirs(FwFile::JoinPath(KDPI_Base::getBaseDir(), "Cleaner"));
    if (sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                        nullptr) != SQLITE_OK) {
        EvDebug::Error(kTag, "cannot open cleanup store [%s]: %s", path.c_str(), m_db ? sqlite3_errmsg(m_db) : "");
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    sqlite3_busy_timeout(m_db, 10000);
    // Two jobs of one process opening a new store at once: the switch to WAL
    // takes a lock whose holder SQLite does not wait for, and one of them
    // would fail with "database is locked".
    static std::mutex schemaLock;
    std::unique_lock<std::mutex> schemaGuard(schemaLock);
    const bool schema =
        Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=FULL") &&
        Exec("CREATE TABLE IF NOT EXISTS entities(seq INTEGER PRIMARY KEY AUTOINCREMENT, owner TEXT NOT NULL,"
             " mode INTEGER NOT NULL, type INTEGER NOT NULL, entity_id TEXT NOT NULL, parent TEXT NOT NULL,"
             " path TEXT NOT NULL, job_key TEXT NOT NULL, job_id INTEGER NOT NULL, UNIQUE(owner, path))") &&
        Exec("CREATE TABLE IF NOT EXISTS jobs(job_key TEXT PRIMARY KEY, pid INTEGER NOT NULL,"
             " start INTEGER NOT NULL, job_id INTEGER NOT NULL, ended INTEGER NOT NULL DEFAULT 0)") &&
        EnsureColumn("region") && EnsureColumn("account");
    schemaGuard.unlock();
    if (!schema) {
        sqlite3_close(m_db);
        m_db = nullptr;
        return false;
    }
    const long pid = static_cast<long>(getpid());
    const long long start = FwProcess::StartTicks(pid);
    m_owner = ownerId;
    m_jobKey = std::to_string(pid) + ":" + std::to_string(start) + ":" + std::to_string(m_jobId) + ":" + FwGuid::New();
    Statement st(m_db, "INSERT INTO jobs(job_key, pid, start, job_id) VALUES(?1, ?2, ?3, ?4)");
    st.Bind(1, m_jobKey).Bind(2, static_cast<int64_t>(pid)).Bind(3, static_cast<int64_t>(start)).Bind(4, m_jobId);
    if (st.Step() != SQLITE_DONE) {
        EvDebug::Error(kTag, "cannot record job: %s", sqlite3_errmsg(m_db));
        sqlite3_close_v2(m_db);
        m_db = nullptr;
        return false;
    }
    PruneJobs();
    return true;
}

// Stores written before regions (accounts) were kept have no such column;
// their entries read back with an empty one. Another job may add it at the
// same moment, so the column only has to be there afterwards.
bool VMCleaner::EnsureColumn(const char* name) {
    const auto hasColumn = [this, name] {
        Statement st(m_db, "SELECT 1 FROM pragma_table_info('entities') WHERE name = ?1");
        st.Bind(1, std::string(name));
        return st.Step() == SQLITE_ROW;
    };
    if (hasColumn()) return true;
    const std::string alter = std::string("ALTER TABLE entities ADD COLUMN ") + name + " TEXT NOT NULL DEFAULT ''";
    sqlite3_exec(m_db, alter.c_str(), nullptr, nullptr, nullptr);
    if (hasColumn()) return true;
    EvDebug::Error(kTag, "cannot add the %s column: %s", name, sqlite3_errmsg(m_db));
    return false;
}

void VMCleaner::PruneJobs() {
    std::vector<std::string> unused;
    {
        Statement st(m_db,
                     "SELECT job_key FROM jobs WHERE job_key != ?1 AND job_key NOT IN (SELECT job_key FROM entities)");
        st.Bind(1, m_jobKey);
        while (st.Step() == SQLITE_ROW) unused.push_back(st.Text(0));
    }
    for (const auto& key : unused) {
        if (IsJobRunning(key)) continue;
        Statement del(m_db, "DELETE FROM jobs WHERE job_key = ?1");
        del.Bind(1, key).Step();
    }
}

void VMCleaner::DeInit() {
    if (!m_db) return;
    {
        Statement st(m_db, "UPDATE jobs SET ended = 1 WHERE job_key = ?1");
        st.Bind(1, m_jobKey).Step();
    }
    {
        // A run that leaves nothing registered needs no record of its end.
        Statement st(m_db, "DELETE FROM jobs WHERE job_key = ?1 AND job_key NOT IN (SELECT job_key FROM entities)");
        st.Bind(1, m_jobKey).Step();
    }
    // close_v2 also frees a connection whose statements are still open.
    sqlite3_close_v2(m_db);
    m_db = nullptr;
}

bool VMCleaner::RegisterEntity(int mode, const std::string& parentPath, int type, const std::string& id,
                               std::string* path, const std::string& region, const std::string& account) {
    if (!m_db) return false;
    const std::string p = parentPath.empty() ? RootPath(mode, type, id, m_jobKey) : ChildPath(parentPath, mode, type, id);
    Statement st(m_db,
                 "INSERT INTO entities(owner, mode, type, entity_id, parent, path, job_key, job_id, region, account)"
                 " VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10) ON CONFLICT(owner, path) DO UPDATE SET"
                 " region = excluded.region, account = excluded.account");
    st.Bind(1, m_owner).Bind(2, static_cast<int64_t>(mode)).Bind(3, static_cast<int64_t>(type)).Bind(4, id);
    st.Bind(5, parentPath).Bind(6, p).Bind(7, m_jobKey).Bind(8, m_jobId).Bind(9, region).Bind(10, account);
    if (st.Step() != SQLITE_DONE) {
        EvDebug::Error(kTag, "cannot register [%s]: %s", p.c_str(), sqlite3_errmsg(m_db));
        return false;
    }
    if (path) *path = p;
    return true;
}

bool VMCleaner::LookupEntity(int mode, int type, const std::string& id, CleanerEntity& out) {
    if (!m_db) return false;
    Statement st(m_db, (std::string("SELECT ") + kColumns +
                        " FROM entities WHERE owner = ?1 AND parent = '' AND mode = ?2 AND type = ?3 AND"
                        " entity_id = ?4 AND job_key = ?5").c_str());
    st.Bind(1, m_owner).Bind(2, static_cast<int64_t>(mode)).Bind(3, static_cast<int64_t>(type)).Bind(4, id);
    st.Bind(5, m_jobKey);
    if (st.Step() != SQLITE_ROW) return false;
    out = Row(st);
    return true;
}

bool VMCleaner::ListRootEntities(int mode, int type, const std::string& id, std::vector<CleanerEntity>& items) {
    items.clear();
    if (!m_db) return false;
    Statement st(m_db, (std::string("SELECT ") + kColumns +
                        " FROM entities WHERE owner = ?1 AND parent = '' AND mode = ?2 AND type = ?3 AND"
                        " entity_id = ?4 ORDER BY seq").c_str());
    st.Bind(1, m_owner).Bind(2, static_cast<int64_t>(mode)).Bind(3, static_cast<int64_t>(type)).Bind(4, id);
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) items.push_back(Row(st));
    return rc == SQLITE_DONE;
}

bool VMCleaner::UnRegisterEntity(const std::string& path, bool withChildren) {
    if (!m_db || path.empty()) return false;
    if (!withChildren) {
        Statement children(m_db, "SELECT 1 FROM entities WHERE owner = ?1 AND parent = ?2 LIMIT 1");
        children.Bind(1, m_owner).Bind(2, path);
        const int rc = children.Step();
        if (rc == SQLITE_ROW) {
            EvDebug::Error(kTag, "[%s] still has registered entries; keeping it", path.c_str());
            return false;
        }
        if (rc != SQLITE_DONE) return false;
    }
    Statement st(m_db,
                 "DELETE FROM entities WHERE owner = ?1 AND (path = ?2 OR"
                 " (?3 = 1 AND substr(path, 1, length(?2) + 1) = ?2 || '/'))");
    st.Bind(1, m_owner).Bind(2, path).Bind(3, static_cast<int64_t>(withChildren ? 1 : 0));
    if (st.Step() != SQLITE_DONE) {
        EvDebug::Error(kTag, "cannot unregister [%s]: %s", path.c_str(), sqlite3_errmsg(m_db));
        return false;
    }
    return sqlite3_changes(m_db) > 0;
}

std::string VMCleaner::ConstructHandle(const CleanerEntity& root, int type, const std::string& id) const {
    return ChildPath(root.path, root.mode, type, id);
}

bool VMCleaner::GetCleanerPathForEntityHandle(const CleanerEntity& entity, std::string& path) const {
    path = entity.path;
    return !path.empty();
}

bool VMCleaner::FillItemsFromCleanerPath(const std::string& path, int type, std::vector<CleanerEntity>& items) {
    items.clear();
    if (!m_db) return false;
    Statement st(m_db, (std::string("SELECT ") + kColumns +
                        " FROM entities WHERE owner = ?1 AND parent = ?2 AND type = ?3 ORDER BY seq").c_str());
    st.Bind(1, m_owner).Bind(2, path).Bind(3, static_cast<int64_t>(type));
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) items.push_back(Row(st));
    return rc == SQLITE_DONE;
}

bool VMCleaner::IsJobRunning(const std::string& jobKey) {
    if (jobKey == m_jobKey) return true;
    Statement st(m_db, "SELECT pid, start, ended FROM jobs WHERE job_key = ?1");
    st.Bind(1, jobKey);
    if (st.Step() != SQLITE_ROW) return false;
    if (st.Int(2) != 0) return false;
    const long pid = static_cast<long>(st.Int(0));
    const long long stored = st.Int(1);
    const long long start = stored < 0 ? -1 : FwProcess::StartTicks(pid);
    // Without a start time on either side only the pid can tell; a job
    // taken for running keeps its entries until its end mark or its death.
    if (start < 0) return FwProcess::Alive(pid);
    return start == stored;
}

bool VMCleaner::IsHeldByRunningJob(const std::string& id, const std::string& exceptJobKey) {
    if (!m_db) return false;
    std::vector<std::string> keys;
    {
        Statement st(m_db, "SELECT DISTINCT job_key FROM entities WHERE owner = ?1 AND entity_id = ?2 AND parent != ''"
                           " AND job_key != ?3");
        st.Bind(1, m_owner).Bind(2, id).Bind(3, exceptJobKey);
        int rc;
        while ((rc = st.Step()) == SQLITE_ROW) keys.push_back(st.Text(0));
        // A store that cannot answer must not let a live job's resource go.
        if (rc != SQLITE_DONE) {
            EvDebug::Error(kTag, "cannot tell whether [%s] is held: %s", id.c_str(), sqlite3_errmsg(m_db));
            return true;
        }
    }
    for (const auto& key : keys)
        if (IsJobRunning(key)) return true;
    return false;
}

bool VMCleaner::GetOrphanedEntities(int mode, int type, std::vector<CleanerEntity>& items) {
    items.clear();
    if (!m_db) return false;
    Statement st(m_db, (std::string("SELECT ") + kColumns +
                        " FROM entities WHERE owner = ?1 AND mode = ?2 AND type = ?3 AND parent = ''"
                        " ORDER BY seq").c_str());
    st.Bind(1, m_owner).Bind(2, static_cast<int64_t>(mode)).Bind(3, static_cast<int64_t>(type));
    std::vector<std::pair<CleanerEntity, std::string>> roots;
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) roots.emplace_back(Row(st), st.Text(6));
    if (rc != SQLITE_DONE) return false;
    for (auto& [entity, key] : roots)
        if (!IsJobRunning(key)) items.push_back(entity);
    return true;
}

bool VMCleaner::IsCleanupNeeded(int mode) {
    std::vector<CleanerEntity> orphans;
    return GetOrphanedEntities(mode, 1, orphans) && !orphans.empty();
}

void VMCleaner::PostAllVMCleanup(int mode) {
    EvDebug::DebugLvl(kTag, 2, "Clean-up of orphaned entries of mode [%d] is over", mode);
}

std::string VMCleaner::JobRunName() const {
    std::string name = m_db ? m_jobKey : std::string();
    std::replace(name.begin(), name.end(), kKeySeparator, kNameSeparator);
    return name;
}

// Only a name shaped as a job run's (pid, start, job id, GUID) is one: any
// other folder a mount path holds is never taken for a job's.
std::string VMCleaner::JobKeyOfName(const std::string& name) {
    std::vector<std::string> parts;
    std::stringstream in(name);
    std::string part;
    while (std::getline(in, part, kNameSeparator)) parts.push_back(part);
    if (parts.size() != 4 || name.back() == kNameSeparator) return std::string();
    for (int i = 0; i < 3; ++i) {
        const std::string& number = parts[i];
        const size_t digits = !number.empty() && number[0] == '-' ? 1 : 0;
        if (number.size() <= digits || number.find_first_not_of("0123456789", digits) != std::string::npos)
            return std::string();
    }
    if (parts[3].size() != 36 || parts[3].find_first_not_of("0123456789abcdef-") != std::string::npos)
        return std::string();
    std::string key = name;
    std::replace(key.begin(), key.end(), kNameSeparator, kKeySeparator);
    return key;
}

bool VMCleaner::ListJobKeys(std::vector<std::string>& keys) {
    keys.clear();
    if (!m_db) return false;
    Statement st(m_db, "SELECT job_key FROM jobs ORDER BY job_key");
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) keys.push_back(st.Text(0));
    return rc == SQLITE_DONE;
}

bool VMCleaner::ListAll(std::vector<CleanerEntity>& items) {
    items.clear();
    if (!m_db) return false;
    Statement st(m_db, (std::string("SELECT ") + kColumns + " FROM entities WHERE owner = ?1 ORDER BY seq").c_str());
    st.Bind(1, m_owner);
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) items.push_back(Row(st));
    return rc == SQLITE_DONE;
}
