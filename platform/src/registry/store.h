// platform/src/registry/store.h: one store file of registry keys, and the statements
// and transactions that read and change it
#ifndef ORVIK_PLATFORM_SRC_REGISTRY_STORE_H
#define ORVIK_PLATFORM_SRC_REGISTRY_STORE_H

#include "orvik/platform/registry.h"
#include "orvik/platform/registry_helpers.h"

#include <sqlite3.h>

#include <atomic>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

namespace orvik::reg {

inline constexpr size_t kMaxKeyNameLength = 255;
inline constexpr size_t kMaxValueNameLength = 16383;
inline constexpr int kBusyTimeoutMs = 10000;
using orvik::kRegRootNames;
inline constexpr int kRootCount = int(std::size(kRegRootNames));

inline std::string fold(const std::string& name) {
    std::string f = name;
    for (char& c : f)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    return f;
}

// One open store file.
void forgetStatements(sqlite3* db);

struct Store {
    sqlite3* db = nullptr;
    std::string path;
    bool readOnly = false; // the file or its folder may not be written
    // No file yet: an empty registry held in memory, replaced by the real file on
    // the first write.
    bool absent = false;
    ~Store() {
        forgetStatements(db);
        sqlite3_close(db);
    }
};

std::string storePath();

// A failed SQLite call as a registry error: the file is busy, damaged, not a
// database at all, or cannot be read or written.
LSTATUS storeError(int rc);

// Opening a new store changes its journal mode, which needs the file to itself for a
// moment; a process opening it at the same time is told "busy" without waiting, so
// the open is tried again for as long as a busy write would be waited for.
LSTATUS openStore(const std::string& path, bool create, std::shared_ptr<Store>& out);

// Each connection's prepared statements, by their text's address (every statement
// is a literal): preparing costs more than running most of them. A fixed table,
// so that keeping a statement never allocates; when it is full a statement is
// prepared afresh each time. Used under the registry lock only.
struct CachedStatement {
    sqlite3* db = nullptr;
    const char* sql = nullptr; // null: never used; kForgotten: free again
    sqlite3_stmt* stmt = nullptr;
    bool inUse = false;
};

/// The connection's cached slot for sql: its own, a free one, or null when the
/// table is full.
CachedStatement* cachedStatement(sqlite3* db, const char* sql);

// A prepared statement that finalizes itself.
class Statement {
public:
    /// The connection's prepared statement for sql, or a fresh one while that is in
    /// use further up the same call.
    Statement(sqlite3* db, const char* sql) {
        CachedStatement* entry = cachedStatement(db, sql);
        if (entry && !entry->inUse) {
            if (entry->db != db || entry->sql != sql) { // a free slot: take it
                if (sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) != SQLITE_OK)
                    return;
                *entry = CachedStatement{db, sql, m_stmt, false};
            }
            entry->inUse = true;
            m_cached = entry;
            m_stmt = entry->stmt;
            m_ok = true;
            return;
        }
        m_ok = sqlite3_prepare_v2(db, sql, -1, &m_stmt, nullptr) == SQLITE_OK;
    }
    ~Statement() {
        if (!m_cached) {
            sqlite3_finalize(m_stmt);
            return;
        }
        sqlite3_reset(m_stmt);
        sqlite3_clear_bindings(m_stmt);
        m_cached->inUse = false;
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    Statement& bind(int i, int64_t v) {
        m_ok = m_ok && sqlite3_bind_int64(m_stmt, i, v) == SQLITE_OK;
        return *this;
    }
    Statement& bind(int i, const std::string& s) {
        m_ok = m_ok &&
               sqlite3_bind_text(m_stmt, i, s.data(), int(s.size()), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    Statement& bindBlob(int i, const void* p, size_t n) {
        m_ok =
            m_ok && sqlite3_bind_blob(m_stmt, i, n ? p : "", int(n), SQLITE_TRANSIENT) == SQLITE_OK;
        return *this;
    }
    /// SQLITE_ROW, SQLITE_DONE or an error.
    int step() { return m_ok ? sqlite3_step(m_stmt) : SQLITE_ERROR; }
    int64_t integer(int col) { return sqlite3_column_int64(m_stmt, col); }
    sqlite3_stmt* handle() const { return m_stmt; }
    std::string text(int col) {
        auto* p = reinterpret_cast<const char*>(sqlite3_column_text(m_stmt, col));
        return p ? std::string(p, size_t(sqlite3_column_bytes(m_stmt, col))) : std::string();
    }
    std::vector<BYTE> blob(int col) {
        auto* p = static_cast<const BYTE*>(sqlite3_column_blob(m_stmt, col));
        return p ? std::vector<BYTE>(p, p + sqlite3_column_bytes(m_stmt, col))
                 : std::vector<BYTE>();
    }

private:
    sqlite3_stmt* m_stmt = nullptr;
    CachedStatement* m_cached = nullptr;
    bool m_ok = false;
};

// Bumped after every committed write and every store opened by this process.
inline std::atomic<uint64_t> g_localChanges{0};

// One write transaction: rolled back unless committed. Inside a batch (the store's
// connection is already in a transaction) it is a savepoint of the batch, so that
// each call stays whole while only the batch commits.
class Transaction {
public:
    explicit Transaction(sqlite3* db) : m_db(db), m_nested(sqlite3_get_autocommit(db) == 0) {
        m_begin = sqlite3_exec(db, m_nested ? "SAVEPOINT call" : "BEGIN IMMEDIATE", nullptr,
                               nullptr, nullptr);
        m_open = m_begin == SQLITE_OK;
    }
    ~Transaction() {
        if (m_open)
            sqlite3_exec(m_db, m_nested ? "ROLLBACK TO call; RELEASE call" : "ROLLBACK", nullptr,
                         nullptr, nullptr);
    }
    bool began() const { return m_open; }
    /// Why the transaction could not begin (a busy store, most often).
    LSTATUS failure() const { return storeError(m_begin); }
    LSTATUS commit() {
        if (sqlite3_exec(m_db, m_nested ? "RELEASE call" : "COMMIT", nullptr, nullptr, nullptr) !=
            SQLITE_OK)
            return ERROR_REGISTRY_IO_FAILED;
        m_open = false;
        g_localChanges.fetch_add(1, std::memory_order_release);
        return ERROR_SUCCESS;
    }

private:
    sqlite3* m_db;
    bool m_nested;
    int m_begin;
    bool m_open;
};

} // namespace orvik::reg

#endif // ORVIK_PLATFORM_SRC_REGISTRY_STORE_H
