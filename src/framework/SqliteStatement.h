#pragma once
// A prepared SQLite statement owned for one call; private to the
// framework's stores (the cleanup store, the snapshot manager's store).
#include <sqlite3.h>

#include <cstdint>
#include <string>

#include "framework/EvDebug.h"

class SqliteStatement {
public:
    SqliteStatement(sqlite3* db, const char* sql, const char* tag = "Sqlite") {
        if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK) {
            EvDebug::Error(tag, "cannot prepare [%s]: %s", sql, sqlite3_errmsg(db));
            m_stmt = nullptr;
        }
    }
    ~SqliteStatement() { sqlite3_finalize(m_stmt); }
    SqliteStatement(const SqliteStatement&) = delete;
    SqliteStatement& operator=(const SqliteStatement&) = delete;

    bool ok() const { return m_stmt != nullptr; }
    SqliteStatement& Bind(int i, const std::string& v) {
        if (m_stmt) sqlite3_bind_text(m_stmt, i, v.c_str(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    SqliteStatement& BindBlob(int i, const std::string& v) {
        if (m_stmt) sqlite3_bind_blob(m_stmt, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT);
        return *this;
    }
    SqliteStatement& Bind(int i, int64_t v) {
        if (m_stmt) sqlite3_bind_int64(m_stmt, i, v);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return m_stmt ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    std::string Text(int col) const {
        const unsigned char* t = sqlite3_column_text(m_stmt, col);
        return t ? reinterpret_cast<const char*>(t) : "";
    }
    std::string Blob(int col) const {
        const void* b = sqlite3_column_blob(m_stmt, col);
        return b ? std::string(static_cast<const char*>(b), static_cast<size_t>(sqlite3_column_bytes(m_stmt, col)))
                 : std::string();
    }
    int64_t Int(int col) const { return sqlite3_column_int64(m_stmt, col); }

private:
    sqlite3_stmt* m_stmt = nullptr;
};
