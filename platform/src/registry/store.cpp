// platform/src/registry/store.cpp: registry keys kept in SQLite
//
// The store is one SQLite file per user: $ORVIK_REGISTRY, or else
// $XDG_DATA_HOME/orvik/registry.db (~/.local/share/orvik/registry.db), created by
// the first write private to its owner (file 0600, folder 0700). Until then the
// store reads as an empty registry and nothing is made on disk: a lookup must not
// leave a folder, a file or a write-ahead log behind. Every mutating call is one
// IMMEDIATE transaction in a write-ahead log, so a process killed at any point
// leaves each key and value as it was or as the call meant it to be, and several
// processes may share the store (a busy store is waited for, up to ten seconds).
//
// Names compare without regard to ASCII case: each name is kept as given and, in a
// second column, folded to lower case, on which uniqueness and lookup rest.
// Handles are process-local numbers mapped to (store, key id, rights); a handle keeps
// its store open even if ORVIK_REGISTRY later names another one.

#include "registry/store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace orvik::reg {

std::string storePath() {
    if (const char* env = std::getenv("ORVIK_REGISTRY"); env && *env)
        return env;
    std::string dir;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg)
        dir = xdg;
    else if (const char* home = std::getenv("HOME"); home && *home)
        dir = std::string(home) + "/.local/share";
    else
        dir = "/tmp";
    return dir + "/orvik/registry.db";
}

// Creates the folders of path (the last one private) and the file itself with
// mode 0600 before SQLite opens it.
LSTATUS createStoreFile(const std::string& path) {
    size_t slash = path.find_last_of('/');
    if (slash != std::string::npos && slash > 0) {
        std::string dir = path.substr(0, slash);
        for (size_t p = 1; p != std::string::npos; p = dir.find('/', p + 1)) {
            std::string part = dir.substr(0, p);
            if (!part.empty())
                mkdir(part.c_str(), 0755);
        }
        if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
            return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED;
    }
    int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0 && errno != EEXIST)
        return errno == EACCES ? ERROR_ACCESS_DENIED : ERROR_REGISTRY_IO_FAILED;
    if (fd >= 0)
        close(fd);
    return ERROR_SUCCESS;
}

const char kSchema[] =
    "CREATE TABLE IF NOT EXISTS keys(id INTEGER PRIMARY KEY, parent INTEGER, name TEXT NOT NULL,"
    " fold TEXT NOT NULL);"
    "CREATE UNIQUE INDEX IF NOT EXISTS keys_by_name ON keys(parent, fold);"
    "CREATE TABLE IF NOT EXISTS vals(key INTEGER NOT NULL, name TEXT NOT NULL, fold TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, fold));"
    "CREATE TABLE IF NOT EXISTS counters(name TEXT PRIMARY KEY, value INTEGER NOT NULL);";

// The store's own tables with their columns in order; a database with any other
// table, or with one of these laid out otherwise, is not a store.
struct StoreTable {
    const char* name;
    const char* columns;
};
constexpr StoreTable kStoreTables[] = {
    {"keys", "id,parent,name,fold"},
    {"vals", "key,name,fold,type,data"},
    {"counters", "name,value"},
};

LSTATUS storeError(int rc) {
    switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return ERROR_BUSY;
    case SQLITE_CORRUPT:
        return ERROR_REGISTRY_CORRUPT;
    case SQLITE_NOTADB:
        return ERROR_BADDB;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_NOMEM:
        return ERROR_OUTOFMEMORY;
    default:
        return ERROR_REGISTRY_IO_FAILED;
    }
}

// What the file holds: "tables" lists them; an empty list is a new database.
LSTATUS readTables(sqlite3* db, std::vector<std::string>& tables) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type='table'", -1, &stmt,
                                nullptr);
    if (rc == SQLITE_OK)
        while ((rc = sqlite3_step(stmt)) == SQLITE_ROW)
            tables.emplace_back(reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0)));
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE ? ERROR_SUCCESS : storeError(rc);
}

// The columns of a table, in order, joined by commas.
LSTATUS readColumns(sqlite3* db, const std::string& table, std::string& columns) {
    sqlite3_stmt* stmt = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT name FROM pragma_table_info(?) ORDER BY cid", -1, &stmt,
                                nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_bind_text(stmt, 1, table.c_str(), -1, SQLITE_TRANSIENT);
    while (rc == SQLITE_OK || rc == SQLITE_ROW) {
        rc = sqlite3_step(stmt);
        if (rc != SQLITE_ROW)
            break;
        if (!columns.empty())
            columns += ',';
        columns += reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    }
    sqlite3_finalize(stmt);
    return rc == SQLITE_DONE ? ERROR_SUCCESS : storeError(rc);
}

// Makes a new database a store, or brings a store up to the tables of today, in one
// write transaction.
LSTATUS initializeStore(sqlite3* db) {
    int rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;", nullptr,
                          nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK)
        return storeError(rc);
    rc = sqlite3_exec(db, kSchema, nullptr, nullptr, nullptr);
    for (int i = 0; rc == SQLITE_OK && i < kRootCount; ++i) {
        std::string sql = "INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES(" +
                          std::to_string(i + 1) + ", NULL, '" + kRegRootNames[i].name + "', '" +
                          fold(kRegRootNames[i].name) + "')";
        rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    }
    if (rc == SQLITE_OK)
        rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return storeError(rc);
    }
    return ERROR_SUCCESS;
}

// An empty registry that lives in memory only: what a store that does not exist
// yet reads as.
LSTATUS openAbsentStore(const std::string& path, std::shared_ptr<Store>& out) {
    auto store = std::make_shared<Store>();
    store->path = path;
    store->readOnly = true;
    store->absent = true;
    int rc = sqlite3_open_v2(":memory:", &store->db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX,
                             nullptr);
    if (rc != SQLITE_OK)
        return storeError(rc);
    if (LSTATUS e = initializeStore(store->db); e != ERROR_SUCCESS)
        return e;
    out = std::move(store);
    return ERROR_SUCCESS;
}

// Opens the store at path. When there is none, "create" makes it; otherwise it
// reads as empty and nothing is written. A file the process may not write is opened
// for reading only; a file that is not a store is left exactly as it is.
LSTATUS tryOpenStore(const std::string& path, bool create, std::shared_ptr<Store>& out) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        if (errno == EACCES)
            return ERROR_ACCESS_DENIED;
        if (!create)
            return openAbsentStore(path, out);
        if (LSTATUS e = createStoreFile(path); e != ERROR_SUCCESS)
            return e;
        if (stat(path.c_str(), &st) != 0)
            return ERROR_REGISTRY_IO_FAILED;
    }
    if (!S_ISREG(st.st_mode))
        return ERROR_BADDB; // a directory, a device: never a store
    std::string dir = path.substr(0, path.find_last_of('/') + 1);
    bool writable =
        access(path.c_str(), W_OK) == 0 && access(dir.empty() ? "." : dir.c_str(), W_OK) == 0;
    if (!writable && access(path.c_str(), R_OK) != 0)
        return ERROR_ACCESS_DENIED;

    auto store = std::make_shared<Store>();
    store->path = path;
    store->readOnly = !writable;
    // Reading a store whose folder cannot be written: its write-ahead log cannot be
    // shared then, so the file is read as it stands.
    std::string uri = "file:" + path + (writable ? "" : "?immutable=1");
    int flags = (writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY) | SQLITE_OPEN_URI |
                SQLITE_OPEN_NOMUTEX;
    int rc = sqlite3_open_v2(uri.c_str(), &store->db, flags, nullptr);
    if (rc != SQLITE_OK)
        return storeError(rc);
    sqlite3_busy_timeout(store->db, kBusyTimeoutMs);
    std::vector<std::string> tables;
    if (LSTATUS e = readTables(store->db, tables); e != ERROR_SUCCESS)
        return e;
    bool ours = std::find(tables.begin(), tables.end(), "keys") != tables.end();
    for (const std::string& table : tables) {
        if (table.rfind("sqlite_", 0) == 0)
            continue;
        std::string columns;
        if (LSTATUS e = readColumns(store->db, table, columns); e != ERROR_SUCCESS)
            return e;
        ours = ours && std::any_of(std::begin(kStoreTables), std::end(kStoreTables),
                                   [&](const StoreTable& t) {
                                       return table == t.name && columns == t.columns;
                                   });
    }
    if (!tables.empty() && !ours)
        return ERROR_BADDB;
    if (tables.empty() && !writable)
        return ERROR_ACCESS_DENIED; // an empty file that cannot become a store
    if (writable && (tables.empty() || tables.size() < 3)) {
        if (LSTATUS e = initializeStore(store->db); e != ERROR_SUCCESS)
            return e;
    } else if (writable) {
        rc = sqlite3_exec(store->db, "PRAGMA synchronous=NORMAL;", nullptr, nullptr, nullptr);
        if (rc != SQLITE_OK)
            return storeError(rc);
    }
    out = std::move(store);
    return ERROR_SUCCESS;
}

LSTATUS openStore(const std::string& path, bool create, std::shared_ptr<Store>& out) {
    for (int waitedMs = 0;; waitedMs += 10) {
        LSTATUS e = tryOpenStore(path, create, out);
        if (e != ERROR_BUSY || waitedMs >= kBusyTimeoutMs)
            return e;
        usleep(10000);
    }
}

constexpr size_t kCachedStatements = 256;
CachedStatement g_statements[kCachedStatements];
const char kForgotten[] = "";

CachedStatement* cachedStatement(sqlite3* db, const char* sql) {
    size_t at =
        (std::hash<const void*>()(db) * 31 + std::hash<const void*>()(sql)) % kCachedStatements;
    CachedStatement* free = nullptr;
    for (size_t probe = 0; probe < kCachedStatements; ++probe) {
        CachedStatement& entry = g_statements[(at + probe) % kCachedStatements];
        if (entry.db == db && entry.sql == sql)
            return &entry;
        if (entry.sql == kForgotten && !free)
            free = &entry;
        if (!entry.sql)
            return free ? free : &entry;
    }
    return free;
}

void forgetStatements(sqlite3* db) {
    for (CachedStatement& entry : g_statements)
        if (entry.db == db && entry.sql && entry.sql != kForgotten) {
            sqlite3_finalize(entry.stmt);
            entry = CachedStatement{nullptr, kForgotten, nullptr, false};
        }
}

} // namespace orvik::reg
