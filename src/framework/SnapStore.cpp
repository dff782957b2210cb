// SQLite store of the snapshot manager's job records and metadata files.
#include "framework/SnapStore.h"

#include <memory>
#include <mutex>

#include "framework/EvDebug.h"
#include "framework/FileUtils.h"
#include "framework/KDPI.h"
#include "framework/SnapRecordJson.h"
#include "framework/SqliteStatement.h"

namespace {
const char kTag[] = "CSnapStore";

using Db = std::unique_ptr<sqlite3, decltype(&sqlite3_close_v2)>;

bool Exec(sqlite3* db, const char* sql) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &err) != SQLITE_OK) {
        EvDebug::Error(kTag, "[%s] failed: %s", sql, err ? err : "unknown error");
        sqlite3_free(err);
        return false;
    }
    return true;
}

Db Open() {
    FwFile::MakeDirs(FwFile::JoinPath(KDPI_Base::getBaseDir(), "SnapManager"));
    sqlite3* raw = nullptr;
    const std::string path = CSnapStore::DatabasePath();
    const int rc = sqlite3_open_v2(path.c_str(), &raw, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX,
                                   nullptr);
    Db db(raw, sqlite3_close_v2);
    if (rc != SQLITE_OK) {
        EvDebug::Error(kTag, "cannot open the snapshot manager's store [%s]: %s", path.c_str(),
                       raw ? sqlite3_errmsg(raw) : "");
        return Db(nullptr, sqlite3_close_v2);
    }
    sqlite3_busy_timeout(db.get(), 10000);
    // The switch to WAL takes a lock SQLite does not wait for: two threads
    // opening a new store at once must not race on it.
    static std::mutex schemaLock;
    std::lock_guard<std::mutex> guard(schemaLock);
    if (!Exec(db.get(), "PRAGMA journal_mode=WAL") || !Exec(db.get(), "PRAGMA synchronous=FULL") ||
        !Exec(db.get(), "CREATE TABLE IF NOT EXISTS jobs(job_id INTEGER PRIMARY KEY, record TEXT NOT NULL)") ||
        !Exec(db.get(), "CREATE TABLE IF NOT EXISTS files(job_id INTEGER NOT NULL, name TEXT NOT NULL,"
                        " bytes BLOB NOT NULL, PRIMARY KEY(job_id, name))") ||
        !Exec(db.get(), "CREATE TABLE IF NOT EXISTS committed(job_id INTEGER PRIMARY KEY)") ||
        !Exec(db.get(), "CREATE TABLE IF NOT EXISTS mounts(volume_id TEXT PRIMARY KEY, region TEXT NOT NULL,"
                        " url TEXT NOT NULL, access_key TEXT NOT NULL, sealed_secret TEXT NOT NULL,"
                        " run TEXT NOT NULL)"))
        return Db(nullptr, sqlite3_close_v2);
    return db;
}
}  // namespace

std::string CSnapStore::DatabasePath() {
    return FwFile::JoinPath(FwFile::JoinPath(KDPI_Base::getBaseDir(), "SnapManager"), "snapmanager.db");
}

bool CSnapStore::IsPlainFileName(const std::string& name) {
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

bool CSnapStore::SaveJobRecord(const SMVolSnapInfo& record) {
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(), "INSERT OR REPLACE INTO jobs(job_id, record) VALUES(?1, ?2)", kTag);
    st.Bind(1, record.jobId).Bind(2, SnapRecordJson::Write(record));
    if (st.Step() == SQLITE_DONE) return true;
    EvDebug::Error(kTag, "cannot save the record of job [%lld]: %s", static_cast<long long>(record.jobId),
                   sqlite3_errmsg(db.get()));
    return false;
}

bool CSnapStore::LoadJobRecord(int64_t jobId, SMVolSnapInfo& record) {
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(), "SELECT record FROM jobs WHERE job_id = ?1", kTag);
    st.Bind(1, jobId);
    if (st.Step() != SQLITE_ROW) return false;
    std::string error;
    if (SnapRecordJson::Read(st.Text(0), record, error)) return true;
    EvDebug::Error(kTag, "the record of job [%lld] cannot be read: %s", static_cast<long long>(jobId), error.c_str());
    return false;
}

bool CSnapStore::DeleteJobRecord(int64_t jobId) {
    Db db = Open();
    if (!db) return false;
    // The job's files go with it: nothing names them any more.
    SqliteStatement files(db.get(), "DELETE FROM files WHERE job_id = ?1", kTag);
    files.Bind(1, jobId);
    if (files.Step() != SQLITE_DONE) return false;
    SqliteStatement st(db.get(), "DELETE FROM jobs WHERE job_id = ?1", kTag);
    st.Bind(1, jobId);
    return st.Step() == SQLITE_DONE;
}

bool CSnapStore::SaveMetadataFile(int64_t jobId, const std::string& name, const std::string& bytes) {
    if (!IsPlainFileName(name)) {
        EvDebug::Error(kTag, "refusing metadata file name [%s]", name.c_str());
        return false;
    }
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(), "INSERT OR REPLACE INTO files(job_id, name, bytes) VALUES(?1, ?2, ?3)", kTag);
    st.Bind(1, jobId).Bind(2, name).BindBlob(3, bytes);
    return st.Step() == SQLITE_DONE;
}

bool CSnapStore::LoadMetadataFile(int64_t jobId, const std::string& name, std::string& bytes) {
    if (!IsPlainFileName(name)) return false;
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(), "SELECT bytes FROM files WHERE job_id = ?1 AND name = ?2", kTag);
    st.Bind(1, jobId).Bind(2, name);
    if (st.Step() != SQLITE_ROW) return false;
    bytes = st.Blob(0);
    return true;
}

bool CSnapStore::ListMetadataFiles(int64_t jobId, std::vector<std::string>& names) {
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(), "SELECT name FROM files WHERE job_id = ?1 ORDER BY name", kTag);
    st.Bind(1, jobId);
    names.clear();
    while (st.Step() == SQLITE_ROW) names.push_back(st.Text(0));
    return true;
}

bool CSnapStore::ListJobs(std::vector<int64_t>& jobIds) {
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(), "SELECT job_id FROM jobs UNION SELECT job_id FROM files ORDER BY 1", kTag);
    jobIds.clear();
    while (st.Step() == SQLITE_ROW) jobIds.push_back(st.Int(0));
    return true;
}

bool CSnapStore::MarkJobCommitted(int64_t jobId) {
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(), "INSERT OR REPLACE INTO committed(job_id) VALUES(?1)", kTag);
    st.Bind(1, jobId);
    return st.Step() == SQLITE_DONE;
}

bool CSnapStore::IsJobCommitted(int64_t jobId) {
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(), "SELECT job_id FROM committed WHERE job_id = ?1", kTag);
    st.Bind(1, jobId);
    return st.Step() == SQLITE_ROW;
}

bool CSnapStore::RecordMountVolume(const SnapMountVolume& volume) {
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(),
                       "INSERT OR REPLACE INTO mounts(volume_id, region, url, access_key, sealed_secret, run)"
                       " VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
                       kTag);
    st.Bind(1, volume.volumeId)
        .Bind(2, volume.region)
        .Bind(3, volume.url)
        .Bind(4, volume.accessKey)
        .Bind(5, volume.sealedSecret)
        .Bind(6, volume.run);
    if (st.Step() == SQLITE_DONE) return true;
    EvDebug::Error(kTag, "cannot record the mount of volume [%s]: %s", volume.volumeId.c_str(),
                   sqlite3_errmsg(db.get()));
    return false;
}

bool CSnapStore::ForgetMountVolume(const std::string& volumeId) {
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(), "DELETE FROM mounts WHERE volume_id = ?1", kTag);
    st.Bind(1, volumeId);
    return st.Step() == SQLITE_DONE;
}

bool CSnapStore::ListMountVolumes(std::vector<SnapMountVolume>& volumes) {
    Db db = Open();
    if (!db) return false;
    SqliteStatement st(db.get(),
                       "SELECT volume_id, region, url, access_key, sealed_secret, run FROM mounts ORDER BY volume_id",
                       kTag);
    volumes.clear();
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW)
        volumes.push_back({st.Text(0), st.Text(1), st.Text(2), st.Text(3), st.Text(4), st.Text(5)});
    return rc == SQLITE_DONE;
}
