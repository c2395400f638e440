// platform/src/registry_store.cpp: registry keys kept in SQLite
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

#include "orvik/platform/registry.h"
#include "orvik/platform/registry_helpers.h"

#include "orvik/platform/boundary.h"
#include "registry/registry_generation.h"

#include <sqlite3.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <thread>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr size_t kMaxKeyNameLength = 255;
constexpr size_t kMaxValueNameLength = 16383;
constexpr int kBusyTimeoutMs = 10000;

using orvik::kRegRootNames;
constexpr int kRootCount = int(std::size(kRegRootNames));

std::string fold(const std::string& name) {
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

// A failed SQLite call as a registry error: the file is busy, damaged, not a
// database at all, or cannot be read or written.
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

// Opening a new store changes its journal mode, which needs the file to itself for a
// moment; a process opening it at the same time is told "busy" without waiting, so
// the open is tried again for as long as a busy write would be waited for.
LSTATUS openStore(const std::string& path, bool create, std::shared_ptr<Store>& out) {
    for (int waitedMs = 0;; waitedMs += 10) {
        LSTATUS e = tryOpenStore(path, create, out);
        if (e != ERROR_BUSY || waitedMs >= kBusyTimeoutMs)
            return e;
        usleep(10000);
    }
}

// A prepared statement that finalizes itself.
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
std::atomic<uint64_t> g_localChanges{0};

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

constexpr uint64_t kNeverChecked = ~uint64_t(0);

struct OpenKey {
    std::shared_ptr<Store> store;
    int64_t id;
    REGSAM access;
    /// The registry generation at which the key was last seen to exist.
    uint64_t checkedAt = kNeverChecked;
};

// One entry of an enumeration: a sub-key, in the order of its folded name, or a value,
// in the order of its row.
struct EnumEntry {
    std::string name;
    std::string fold;
    int64_t id = 0;    // a sub-key's key
    int64_t rowid = 0; // a value's row
    DWORD type = 0;
    std::vector<BYTE> data;
};

// Where a handle's enumeration by increasing index stands: a window of entries read
// ahead in one query, the first at index `first`, the one handed out last at `given`.
// While the registry's generation stays the same the next indexes come from the
// window; once it changes the window is stale, and the entry given last is only the
// point to continue from by an index seek. Either way, continuing never skips a key
// that existed throughout, and no index costs a count from the start.
struct EnumCursor {
    static constexpr size_t kFirstBatch = 64, kLargestBatch = 1024;
    const Store* store = nullptr;
    int64_t key = 0;
    uint64_t generation = 0;
    DWORD first = 0, given = 0;
    std::vector<EnumEntry> window;
    bool complete = false; // nothing follows the window's last entry
    size_t batch = kFirstBatch;
};

// All registry state of the process, behind one lock.
struct Registry {
    std::mutex mutex;
    std::shared_ptr<Store> current;
    std::map<uintptr_t, OpenKey> handles;
    // By handle and thread: the predefined roots are one handle in every thread.
    using Cursors = std::map<std::pair<uintptr_t, std::thread::id>, EnumCursor>;
    Cursors keyCursors, valueCursors;

    // The calling thread's cursor on handle h. Cursors only save time, so when
    // threads that have ended leave too many behind, all are dropped.
    static EnumCursor& cursor(Cursors& cursors, HKEY h) {
        if (cursors.size() > 4096)
            cursors.clear();
        return cursors[{reinterpret_cast<uintptr_t>(h), std::this_thread::get_id()}];
    }
    static void forget(Cursors& cursors, HKEY h) {
        auto at = cursors.lower_bound({reinterpret_cast<uintptr_t>(h), std::thread::id()});
        while (at != cursors.end() && at->first.first == reinterpret_cast<uintptr_t>(h))
            at = cursors.erase(at);
    }
    uintptr_t nextHandle = 0x1000;

    LSTATUS lastOpenError = ERROR_SUCCESS; // why current could not be opened

    // A batch: one thread's writes between OrvikRegBeginBatch and OrvikRegEndBatch,
    // one transaction of the store. Other threads' calls wait until it ends, so that
    // none reads or joins what is not committed.
    struct Batch {
        std::thread::id owner;
        int depth = 0;
        bool rollBack = false;
        std::shared_ptr<Store> store;
    } batch;
    std::condition_variable batchEnded;

    /// Waits, lock held, until no other thread's batch is open.
    void waitForOtherBatches(std::unique_lock<std::mutex>& lock) {
        batchEnded.wait(
            lock, [&] { return batch.depth == 0 || batch.owner == std::this_thread::get_id(); });
    }

    /// The store ORVIK_REGISTRY (or the default) names now. "forWrite" creates it
    /// when there is none yet; a store that is still absent is looked for again on
    /// every call, as another process may have made it since.
    LSTATUS currentStore(std::shared_ptr<Store>& out, bool forWrite = false) {
        std::string path = storePath();
        struct stat st {};
        if (!current || current->path != path ||
            (current->absent && (forWrite || stat(path.c_str(), &st) == 0))) {
            current.reset();
            lastOpenError = openStore(path, forWrite, current);
            g_localChanges.fetch_add(1, std::memory_order_release);
        }
        out = current;
        return current ? ERROR_SUCCESS : lastOpenError;
    }
};

Registry& registry() {
    static Registry r;
    return r;
}

// What other processes changed: the count of changes to the store's data_version
// seen so far, looked at no more often than every 100 ms.
std::atomic<uint64_t> g_foreignChanges{0};
std::atomic<int64_t> g_lastForeignCheck{-1}; // -1: never looked

int64_t coarseMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
    return int64_t(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Lock held.
void lookForForeignChanges(Registry& r) {
    static int64_t seenVersion = -1;
    static const Store* seenStore = nullptr;
    if (!r.current)
        return;
    sqlite3_stmt* stmt = nullptr;
    if (sqlite3_prepare_v2(r.current->db, "PRAGMA data_version", -1, &stmt, nullptr) != SQLITE_OK)
        return;
    if (sqlite3_step(stmt) == SQLITE_ROW) {
        int64_t version = sqlite3_column_int64(stmt, 0);
        if (seenStore == r.current.get() && version != seenVersion)
            g_foreignChanges.fetch_add(1, std::memory_order_release);
        seenVersion = version;
        seenStore = r.current.get();
    }
    sqlite3_finalize(stmt);
}

bool timeToLookForForeignChanges() {
    int64_t now = coarseMilliseconds();
    int64_t last = g_lastForeignCheck.load(std::memory_order_relaxed);
    return (last < 0 || now - last >= 100) && g_lastForeignCheck.compare_exchange_strong(last, now);
}

uint64_t generationNow() {
    return g_localChanges.load(std::memory_order_acquire) +
           g_foreignChanges.load(std::memory_order_acquire);
}

// registryGeneration for a caller that holds the registry lock.
uint64_t lockedGeneration(Registry& r) {
    if (timeToLookForForeignChanges())
        lookForForeignChanges(r);
    return generationNow();
}

} // namespace

uint64_t orvik::registryGeneration() {
    if (timeToLookForForeignChanges()) {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        lookForForeignChanges(r);
    }
    return generationNow();
}

namespace {

// The predefined root a handle names, as its key id (1 on, in the order of the
// predefined handles), or 0.
int64_t rootId(HKEY h) {
    for (int i = 0; i < kRootCount; ++i)
        if (h == kRegRootNames[i].key)
            return i + 1;
    return 0;
}

bool keyExists(Store& s, int64_t id) {
    return Statement(s.db, "SELECT 1 FROM keys WHERE id=?").bind(1, id).step() == SQLITE_ROW;
}

enum class Use { Read, Write };

// Resolves a handle to its key, or an error number. A read trusts that the key still
// exists while nothing has changed since it was last seen to; a write always looks.
LSTATUS resolve(Registry& r, HKEY h, Use use, OpenKey& out) {
    if (int64_t root = rootId(h)) {
        std::shared_ptr<Store> s;
        if (LSTATUS e = r.currentStore(s); e != ERROR_SUCCESS)
            return e;
        out = {s, root, KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    auto it = r.handles.find(reinterpret_cast<uintptr_t>(h));
    if (it == r.handles.end())
        return ERROR_INVALID_HANDLE;
    out = it->second;
    // A root opened before its store existed reads the store made since.
    if (out.store->absent) {
        std::shared_ptr<Store> now;
        if (r.currentStore(now) == ERROR_SUCCESS && !now->absent && now->path == out.store->path)
            it->second.store = out.store = now;
    }
    uint64_t generation = lockedGeneration(r);
    if (use == Use::Read && out.checkedAt == generation)
        return ERROR_SUCCESS;
    if (!keyExists(*out.store, out.id))
        return ERROR_KEY_DELETED;
    it->second.checkedAt = generation;
    return ERROR_SUCCESS;
}

// Splits a path at backslashes; a single trailing backslash is allowed, empty names
// inside the path are not.
LSTATUS splitPath(const char* path, std::vector<std::string>& parts) {
    parts.clear();
    if (!path || !*path)
        return ERROR_SUCCESS;
    std::string p = path;
    if (p.back() == '\\')
        p.pop_back();
    size_t start = 0;
    for (;;) {
        size_t end = p.find('\\', start);
        std::string part =
            p.substr(start, end == std::string::npos ? std::string::npos : end - start);
        if (part.empty())
            return ERROR_BAD_PATHNAME;
        if (part.size() > kMaxKeyNameLength)
            return ERROR_INVALID_PARAMETER;
        parts.push_back(part);
        if (end == std::string::npos)
            return ERROR_SUCCESS;
        start = end + 1;
    }
}

std::optional<int64_t> childId(Store& s, int64_t parent, const std::string& name) {
    Statement q(s.db, "SELECT id FROM keys WHERE parent=? AND fold=?");
    q.bind(1, parent).bind(2, fold(name));
    if (q.step() == SQLITE_ROW)
        return q.integer(0);
    return std::nullopt;
}

// Follows an existing path below key id; ERROR_FILE_NOT_FOUND when a key is missing.
LSTATUS findKey(Store& s, int64_t& id, LPCSTR path) {
    std::vector<std::string> parts;
    LSTATUS e = splitPath(path, parts);
    if (e != ERROR_SUCCESS)
        return e;
    for (const std::string& part : parts) {
        std::optional<int64_t> child = childId(s, id, part);
        if (!child)
            return ERROR_FILE_NOT_FOUND;
        id = *child;
    }
    return ERROR_SUCCESS;
}

// How far id lies below its root (a root is at depth 0), counted no further than
// one past the deepest a key may be.
std::optional<int64_t> depthOf(Store& s, int64_t id) {
    int64_t depth = 0;
    for (; depth <= ORVIK_REG_MAX_KEY_DEPTH; ++depth) {
        Statement q(s.db, "SELECT parent FROM keys WHERE id=?");
        if (q.bind(1, id).step() != SQLITE_ROW)
            return std::nullopt;
        if (sqlite3_column_type(q.handle(), 0) == SQLITE_NULL)
            break;
        id = q.integer(0);
    }
    return depth;
}

// Key ids are never given twice, so that a handle to a deleted key can never reach a
// key made later, in this process or another: the highest id ever given is kept.
std::optional<int64_t> nextKeyId(Store& s) {
    Statement q(s.db, "SELECT max(coalesce((SELECT value FROM counters WHERE name='key'), 0),"
                      " coalesce((SELECT max(id) FROM keys), 0)) + 1");
    if (q.step() != SQLITE_ROW)
        return std::nullopt;
    int64_t id = q.integer(0);
    Statement keep(s.db, "INSERT OR REPLACE INTO counters(name, value) VALUES('key', ?)");
    if (keep.bind(1, id).step() != SQLITE_DONE)
        return std::nullopt;
    return id;
}

// A handle entry made before the work it will name, so that recording the handle
// cannot fail once a key is created; dropped again unless kept.
class PendingHandle {
public:
    explicit PendingHandle(Registry& r) : m_registry(r), m_handle(r.nextHandle) {
        r.handles.emplace(m_handle, OpenKey{});
        r.nextHandle += 4;
    }
    PendingHandle(const PendingHandle&) = delete;
    ~PendingHandle() {
        if (m_handle)
            m_registry.handles.erase(m_handle);
    }
    HKEY keep(const OpenKey& key) {
        m_registry.handles.find(m_handle)->second = key;
        return reinterpret_cast<HKEY>(std::exchange(m_handle, 0));
    }

private:
    Registry& m_registry;
    uintptr_t m_handle;
};

std::string valueName(LPCSTR name) {
    return name ? std::string(name) : std::string();
}

// A value's bytes given to a caller as the registry functions give them: the size
// always (when asked for), the bytes when a buffer is given and they fit.
LSTATUS copyData(const std::vector<BYTE>& data, void* buffer, LPDWORD size) {
    if (!size)
        return ERROR_SUCCESS;
    DWORD room = *size;
    *size = DWORD(data.size());
    if (!buffer)
        return ERROR_SUCCESS;
    if (room < data.size())
        return ERROR_MORE_DATA;
    if (!data.empty())
        std::memcpy(buffer, data.data(), data.size());
    return ERROR_SUCCESS;
}

// Every call on a key: under the registry lock, resolve the handle and check that
// it carries the rights the call needs (none for opening, creating and deleting
// sub-keys by name), then run body with the key. A call that writes to a store not
// made yet makes it first; a store that is absent holds its roots only, and they
// are the same keys in the file.
template <class Body> LSTATUS withKey(HKEY hKey, REGSAM needed, Use use, Body body) {
    Registry& r = registry();
    std::unique_lock lock(r.mutex);
    r.waitForOtherBatches(lock);
    OpenKey key;
    LSTATUS e = resolve(r, hKey, use, key);
    if (e != ERROR_SUCCESS)
        return e;
    if (use == Use::Write && key.store->absent) {
        std::shared_ptr<Store> made;
        if ((e = r.currentStore(made, true)) != ERROR_SUCCESS)
            return e;
        if (made->path != key.store->path)
            return ERROR_KEY_DELETED; // the handle's store is no longer the one in use
        key.store = made;
    }
    if ((key.access & needed) != needed)
        return ERROR_ACCESS_DENIED;
    // A store not made yet holds nothing to change: such calls find nothing.
    if ((needed & KEY_SET_VALUE) && key.store->readOnly && !key.store->absent)
        return ERROR_ACCESS_DENIED;
    return body(r, key);
}

// The sub-key this thread's enumeration of parent handed out last, when name names
// it and nothing has changed since: walking a tree and opening each key it finds then
// looks each up once.
std::optional<int64_t> justEnumerated(Registry& r, HKEY parent, const OpenKey& key, LPCSTR name) {
    if (!name || !*name || std::strchr(name, '\\'))
        return std::nullopt;
    auto found =
        r.keyCursors.find({reinterpret_cast<uintptr_t>(parent), std::this_thread::get_id()});
    if (found == r.keyCursors.end())
        return std::nullopt;
    const EnumCursor& c = found->second;
    if (c.store != key.store.get() || c.key != key.id || c.window.empty() ||
        c.generation != lockedGeneration(r))
        return std::nullopt;
    const EnumEntry& given = c.window[c.given - c.first];
    if (given.fold != fold(name))
        return std::nullopt;
    return given.id;
}

} // namespace

WINBASEAPI LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, REGSAM samDesired,
                                        PHKEY phkResult) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        if (!phkResult)
            return ERROR_INVALID_PARAMETER;
        return withKey(hKey, 0, Use::Read, [&](Registry& r, OpenKey& key) -> LSTATUS {
            PendingHandle handle(r);
            if (std::optional<int64_t> id = justEnumerated(r, hKey, key, lpSubKey)) {
                key.id = *id;
                key.checkedAt = lockedGeneration(r);
            } else if (LSTATUS e = findKey(*key.store, key.id, lpSubKey); e != ERROR_SUCCESS) {
                return e;
            }
            key.access = samDesired;
            *phkResult = handle.keep(key);
            return ERROR_SUCCESS;
        });
    });
}

WINBASEAPI LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD, LPSTR, DWORD,
                                          REGSAM samDesired, const SECURITY_ATTRIBUTES*,
                                          PHKEY phkResult, LPDWORD lpdwDisposition) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        if (!phkResult)
            return ERROR_INVALID_PARAMETER;
        return withKey(hKey, 0, Use::Write, [&](Registry& r, OpenKey& key) -> LSTATUS {
            PendingHandle handle(r);
            LSTATUS e = ERROR_SUCCESS;
            std::vector<std::string> parts;
            if ((e = splitPath(lpSubKey, parts)) != ERROR_SUCCESS)
                return e;
            if (key.store->readOnly) {
                // Nothing can be created: an existing key is opened, as a writable
                // store would.
                e = findKey(*key.store, key.id, lpSubKey);
                if (e != ERROR_SUCCESS)
                    return e == ERROR_FILE_NOT_FOUND ? ERROR_ACCESS_DENIED : e;
                if (lpdwDisposition)
                    *lpdwDisposition = REG_OPENED_EXISTING_KEY;
                key.access = samDesired;
                *phkResult = handle.keep(key);
                return ERROR_SUCCESS;
            }
            Transaction t(key.store->db);
            if (!t.began())
                return t.failure();
            std::optional<int64_t> depth = depthOf(*key.store, key.id);
            if (!depth)
                return ERROR_REGISTRY_IO_FAILED;
            bool created = false;
            for (const std::string& part : parts) {
                ++*depth;
                if (std::optional<int64_t> child = childId(*key.store, key.id, part)) {
                    key.id = *child;
                    continue;
                }
                if (!created && !(key.access & KEY_CREATE_SUB_KEY))
                    return ERROR_ACCESS_DENIED;
                if (*depth > ORVIK_REG_MAX_KEY_DEPTH)
                    return ERROR_INVALID_PARAMETER;
                std::optional<int64_t> id = nextKeyId(*key.store);
                Statement insert(key.store->db,
                                 "INSERT INTO keys(id, parent, name, fold) VALUES(?, ?, ?, ?)");
                if (!id ||
                    insert.bind(1, *id).bind(2, key.id).bind(3, part).bind(4, fold(part)).step() !=
                        SQLITE_DONE)
                    return ERROR_REGISTRY_IO_FAILED;
                key.id = *id;
                created = true;
            }
            if ((e = t.commit()) != ERROR_SUCCESS)
                return e;
            if (lpdwDisposition)
                *lpdwDisposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
            key.access = samDesired;
            *phkResult = handle.keep(key);
            return ERROR_SUCCESS;
        });
    });
}

WINBASEAPI LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD, DWORD dwType,
                                         const BYTE* lpData, DWORD cbData) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        if (!lpData && cbData)
            return ERROR_INVALID_PARAMETER;
        std::string name = valueName(lpValueName);
        if (name.size() > kMaxValueNameLength)
            return ERROR_INVALID_PARAMETER;
        return withKey(hKey, KEY_SET_VALUE, Use::Write, [&](Registry&, OpenKey& key) -> LSTATUS {
            Transaction t(key.store->db);
            Statement upsert(
                key.store->db,
                "INSERT INTO vals(key, name, fold, type, data) VALUES(?, ?, ?, ?, ?)"
                " ON CONFLICT(key, fold) DO UPDATE SET type=excluded.type, data=excluded.data");
            upsert.bind(1, key.id).bind(2, name).bind(3, fold(name)).bind(4, int64_t(dwType));
            upsert.bindBlob(5, lpData, cbData);
            if (!t.began() || upsert.step() != SQLITE_DONE)
                return ERROR_REGISTRY_IO_FAILED;
            return t.commit();
        });
    });
}

WINBASEAPI LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD, LPDWORD lpType,
                                           LPBYTE lpData, LPDWORD lpcbData) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        if (lpData && !lpcbData)
            return ERROR_INVALID_PARAMETER;
        return withKey(hKey, KEY_QUERY_VALUE, Use::Read, [&](Registry&, OpenKey& key) -> LSTATUS {
            Statement q(key.store->db, "SELECT type, data FROM vals WHERE key=? AND fold=?");
            q.bind(1, key.id).bind(2, fold(valueName(lpValueName)));
            if (q.step() != SQLITE_ROW)
                return ERROR_FILE_NOT_FOUND;
            if (lpType)
                *lpType = DWORD(q.integer(0));
            return copyData(q.blob(1), lpData, lpcbData);
        });
    });
}

namespace {

// The RRF_RT_ bit that admits a value of this type.
DWORD typeFlag(DWORD type) {
    switch (type) {
    case REG_NONE:
        return RRF_RT_REG_NONE;
    case REG_SZ:
        return RRF_RT_REG_SZ;
    case REG_EXPAND_SZ:
        return RRF_RT_REG_EXPAND_SZ;
    case REG_BINARY:
        return RRF_RT_REG_BINARY;
    case REG_DWORD:
        return RRF_RT_REG_DWORD;
    case REG_MULTI_SZ:
        return RRF_RT_REG_MULTI_SZ;
    case REG_QWORD:
        return RRF_RT_REG_QWORD;
    default:
        return 0;
    }
}

// Statements run meanwhile read one snapshot of the store: a read transaction,
// unless the connection is already in one (a batch).
class ReadSnapshot {
public:
    explicit ReadSnapshot(sqlite3* db) : m_db(db) {
        m_open = sqlite3_get_autocommit(db) != 0 &&
                 sqlite3_exec(db, "BEGIN", nullptr, nullptr, nullptr) == SQLITE_OK;
    }
    ~ReadSnapshot() {
        if (m_open)
            sqlite3_exec(m_db, "COMMIT", nullptr, nullptr, nullptr);
    }

private:
    sqlite3* m_db;
    bool m_open;
};

} // namespace

WINBASEAPI LSTATUS WINAPI RegGetValueA(HKEY hkey, LPCSTR lpSubKey, LPCSTR lpValue, DWORD dwFlags,
                                       LPDWORD pdwType, PVOID pvData, LPDWORD pcbData) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        if (pvData && !pcbData)
            return ERROR_INVALID_PARAMETER;
        if (!(dwFlags & RRF_RT_ANY))
            return ERROR_INVALID_PARAMETER;
        return withKey(hkey, 0, Use::Read, [&](Registry&, OpenKey& key) -> LSTATUS {
            ReadSnapshot snapshot(key.store->db);
            int64_t id = key.id;
            if (lpSubKey && *lpSubKey) {
                if (LSTATUS e = findKey(*key.store, id, lpSubKey); e != ERROR_SUCCESS)
                    return e;
            } else if (!(key.access & KEY_QUERY_VALUE)) {
                return ERROR_ACCESS_DENIED;
            }
            Statement q(key.store->db, "SELECT type, data FROM vals WHERE key=? AND fold=?");
            q.bind(1, id).bind(2, fold(valueName(lpValue)));
            if (q.step() != SQLITE_ROW)
                return ERROR_FILE_NOT_FOUND;
            DWORD type = DWORD(q.integer(0));
            if (!(typeFlag(type) & dwFlags))
                return ERROR_UNSUPPORTED_TYPE;
            if (pdwType)
                *pdwType = type;
            return copyData(q.blob(1), pvData, pcbData);
        });
    });
}

WINBASEAPI LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        if (!lpSubKey || !*lpSubKey)
            return ERROR_INVALID_PARAMETER;
        return withKey(hKey, 0, Use::Read, [&](Registry&, OpenKey& key) -> LSTATUS {
            if (key.store->readOnly && !key.store->absent)
                return ERROR_ACCESS_DENIED;
            Transaction t(key.store->db);
            if (!t.began())
                return t.failure();
            LSTATUS e = findKey(*key.store, key.id, lpSubKey);
            if (e != ERROR_SUCCESS)
                return e;
            if (Statement(key.store->db, "SELECT 1 FROM keys WHERE parent=?")
                    .bind(1, key.id)
                    .step() == SQLITE_ROW)
                return ERROR_ACCESS_DENIED;
            if (Statement(key.store->db, "DELETE FROM vals WHERE key=?").bind(1, key.id).step() !=
                    SQLITE_DONE ||
                Statement(key.store->db, "DELETE FROM keys WHERE id=?").bind(1, key.id).step() !=
                    SQLITE_DONE)
                return ERROR_REGISTRY_IO_FAILED;
            return t.commit();
        });
    });
}

WINBASEAPI LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        return withKey(hKey, KEY_SET_VALUE, Use::Read, [&](Registry&, OpenKey& key) -> LSTATUS {
            Transaction t(key.store->db);
            Statement del(key.store->db, "DELETE FROM vals WHERE key=? AND fold=?");
            if (!t.began() ||
                del.bind(1, key.id).bind(2, fold(valueName(lpValueName))).step() != SQLITE_DONE)
                return ERROR_REGISTRY_IO_FAILED;
            if (sqlite3_changes(key.store->db) == 0)
                return ERROR_FILE_NOT_FOUND;
            return t.commit();
        });
    });
}

namespace {

// Copies name into a caller's buffer of *size bytes (terminator included); on
// success *size is the length without the terminator.
LSTATUS copyName(const std::string& name, LPSTR buffer, LPDWORD size) {
    if (!buffer || !size)
        return ERROR_INVALID_PARAMETER;
    if (name.size() + 1 > *size) {
        *size = DWORD(name.size());
        return ERROR_MORE_DATA;
    }
    std::memcpy(buffer, name.c_str(), name.size() + 1);
    *size = DWORD(name.size());
    return ERROR_SUCCESS;
}

} // namespace

namespace {

// The entry at index through the handle's cursor c, reading ahead with fetch when the
// window does not hold it; null at the end. fetch(after, inclusive, offset, limit,
// out, complete) reads up to limit entries in order: those after `after` (from it,
// when inclusive), or from position offset when there is none to continue from.
template <class Fetch>
LSTATUS enumerate(Registry& r, const OpenKey& key, EnumCursor& c, DWORD index,
                  const EnumEntry*& entry, Fetch fetch) {
    entry = nullptr;
    uint64_t generation = lockedGeneration(r);
    bool same = c.store == key.store.get() && c.key == key.id && !c.window.empty();
    const EnumEntry* after = nullptr;
    bool inclusive = false;
    if (same && c.generation == generation && index >= c.first) {
        size_t at = index - c.first;
        if (at < c.window.size()) {
            c.given = index;
            entry = &c.window[at];
            return ERROR_SUCCESS;
        }
        if (at == c.window.size()) {
            if (c.complete) {
                c = EnumCursor{};
                return ERROR_SUCCESS;
            }
            after = &c.window.back();
        }
    } else if (same && (index == c.given || index == c.given + 1)) {
        after = &c.window[c.given - c.first]; // asked again, or on, after a change
        inclusive = index == c.given;
    }
    // A walk that goes on reads further ahead each time. A jump starts afresh; a walk
    // that goes on after a change reads one entry, as a walk that changes the key at
    // every step (deleting what it finds) would throw any more away.
    size_t batch = !after                       ? EnumCursor::kFirstBatch
                   : c.generation != generation ? 1
                                                : std::min(c.batch * 2, EnumCursor::kLargestBatch);
    std::vector<EnumEntry> window;
    bool complete = false;
    if (LSTATUS e = fetch(after, inclusive, int64_t(index), batch, window, complete);
        e != ERROR_SUCCESS) {
        c = EnumCursor{};
        return e;
    }
    if (window.empty()) {
        c = EnumCursor{};
        return ERROR_SUCCESS;
    }
    c = EnumCursor{key.store.get(),   key.id,   generation, index, index,
                   std::move(window), complete, batch};
    entry = &c.window[0];
    return ERROR_SUCCESS;
}

// Steps q for up to limit rows, each made an entry by take; complete when the rows
// ran out first. Values stop early once they hold a lot of data.
template <class Take>
LSTATUS readWindow(Statement& q, size_t limit, std::vector<EnumEntry>& out, bool& complete,
                   Take take) {
    constexpr size_t kWindowBytes = 64 * 1024;
    size_t bytes = 0;
    complete = false;
    while (out.size() < limit && bytes < kWindowBytes) {
        int rc = q.step();
        if (rc == SQLITE_DONE) {
            complete = true;
            return ERROR_SUCCESS;
        }
        if (rc != SQLITE_ROW)
            return storeError(rc);
        out.push_back(take(q));
        bytes += out.back().name.size() + out.back().data.size();
    }
    return ERROR_SUCCESS;
}

// The three ways to read a window, as SQL: from a position, from an entry on, and
// after an entry. ?1 is the key, ?2 the most rows, ?3 the position, ?4 the entry's
// place in the order.
struct WindowQueries {
    const char* fromPosition;
    const char* fromEntry;
    const char* afterEntry;
    const char* pick(const EnumEntry* after, bool inclusive) const {
        return !after ? fromPosition : inclusive ? fromEntry : afterEntry;
    }
};

constexpr WindowQueries kSubkeyWindow = {
    "SELECT name, fold, id FROM keys WHERE parent=?1 ORDER BY fold LIMIT ?2 OFFSET ?3",
    "SELECT name, fold, id FROM keys WHERE parent=?1 AND fold>=?4 ORDER BY fold LIMIT ?2",
    "SELECT name, fold, id FROM keys WHERE parent=?1 AND fold>?4 ORDER BY fold LIMIT ?2"};

constexpr WindowQueries kValueWindow = {
    "SELECT name, type, data, rowid FROM vals WHERE key=?1 ORDER BY rowid LIMIT ?2 OFFSET ?3",
    "SELECT name, type, data, rowid FROM vals WHERE key=?1 AND rowid>=?4 ORDER BY rowid LIMIT ?2",
    "SELECT name, type, data, rowid FROM vals WHERE key=?1 AND rowid>?4 ORDER BY rowid LIMIT ?2"};

LSTATUS fetchSubkeys(const OpenKey& key, const EnumEntry* after, bool inclusive, int64_t offset,
                     size_t limit, std::vector<EnumEntry>& out, bool& complete) {
    Statement q(key.store->db, kSubkeyWindow.pick(after, inclusive));
    q.bind(1, key.id).bind(2, int64_t(limit));
    if (after)
        q.bind(4, after->fold);
    else
        q.bind(3, offset);
    return readWindow(q, limit, out, complete, [](Statement& row) {
        EnumEntry e;
        e.name = row.text(0);
        e.fold = row.text(1);
        e.id = row.integer(2);
        return e;
    });
}

LSTATUS fetchValues(const OpenKey& key, const EnumEntry* after, bool inclusive, int64_t offset,
                    size_t limit, std::vector<EnumEntry>& out, bool& complete) {
    Statement q(key.store->db, kValueWindow.pick(after, inclusive));
    q.bind(1, key.id).bind(2, int64_t(limit));
    if (after)
        q.bind(4, after->rowid);
    else
        q.bind(3, offset);
    return readWindow(q, limit, out, complete, [](Statement& row) {
        EnumEntry e;
        e.name = row.text(0);
        e.type = DWORD(row.integer(1));
        e.data = row.blob(2);
        e.rowid = row.integer(3);
        return e;
    });
}

} // namespace

WINBASEAPI LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                        LPDWORD, LPSTR lpClass, LPDWORD lpcchClass,
                                        FILETIME* lpftLastWriteTime) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        return withKey(
            hKey, KEY_ENUMERATE_SUB_KEYS, Use::Read, [&](Registry& r, OpenKey& key) -> LSTATUS {
                const EnumEntry* entry = nullptr;
                LSTATUS e =
                    enumerate(r, key, Registry::cursor(r.keyCursors, hKey), dwIndex, entry,
                              [&](auto&&... fetchArgs) { return fetchSubkeys(key, fetchArgs...); });
                if (e != ERROR_SUCCESS)
                    return e;
                if (!entry)
                    return ERROR_NO_MORE_ITEMS;
                if (lpClass && lpcchClass && *lpcchClass)
                    lpClass[0] = 0;
                if (lpcchClass)
                    *lpcchClass = 0;
                if (lpftLastWriteTime)
                    *lpftLastWriteTime = {0, 0};
                return copyName(entry->name, lpName, lpcchName);
            });
    });
}

WINBASEAPI LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                        LPDWORD lpcchValueName, LPDWORD, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        if (lpData && !lpcbData)
            return ERROR_INVALID_PARAMETER;
        return withKey(hKey, KEY_QUERY_VALUE, Use::Read, [&](Registry& r, OpenKey& key) -> LSTATUS {
            const EnumEntry* entry = nullptr;
            LSTATUS e =
                enumerate(r, key, Registry::cursor(r.valueCursors, hKey), dwIndex, entry,
                          [&](auto&&... fetchArgs) { return fetchValues(key, fetchArgs...); });
            if (e != ERROR_SUCCESS)
                return e;
            if (!entry)
                return ERROR_NO_MORE_ITEMS;
            if ((e = copyName(entry->name, lpValueName, lpcchValueName)) != ERROR_SUCCESS)
                return e;
            if (lpType)
                *lpType = entry->type;
            return copyData(entry->data, lpData, lpcbData);
        });
    });
}

WINBASEAPI LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass, LPDWORD,
                                           LPDWORD lpcSubKeys, LPDWORD lpcbMaxSubKeyLen,
                                           LPDWORD lpcbMaxClassLen, LPDWORD lpcValues,
                                           LPDWORD lpcbMaxValueNameLen, LPDWORD lpcbMaxValueLen,
                                           LPDWORD lpcbSecurityDescriptor,
                                           FILETIME* lpftLastWriteTime) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        return withKey(hKey, KEY_QUERY_VALUE, Use::Read, [&](Registry&, OpenKey& key) -> LSTATUS {
            Statement keys(key.store->db,
                           "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0)"
                           " FROM keys WHERE parent=?");
            Statement vals(key.store->db,
                           "SELECT count(*), coalesce(max(length(CAST(name AS BLOB))), 0),"
                           " coalesce(max(length(data)), 0) FROM vals WHERE key=?");
            if (keys.bind(1, key.id).step() != SQLITE_ROW ||
                vals.bind(1, key.id).step() != SQLITE_ROW)
                return ERROR_REGISTRY_IO_FAILED;
            if (lpClass && lpcchClass && *lpcchClass)
                lpClass[0] = 0;
            if (lpcchClass)
                *lpcchClass = 0;
            if (lpcSubKeys)
                *lpcSubKeys = DWORD(keys.integer(0));
            if (lpcbMaxSubKeyLen)
                *lpcbMaxSubKeyLen = DWORD(keys.integer(1));
            if (lpcbMaxClassLen)
                *lpcbMaxClassLen = 0;
            if (lpcValues)
                *lpcValues = DWORD(vals.integer(0));
            if (lpcbMaxValueNameLen)
                *lpcbMaxValueNameLen = DWORD(vals.integer(1));
            if (lpcbMaxValueLen)
                *lpcbMaxValueLen = DWORD(vals.integer(2));
            if (lpcbSecurityDescriptor)
                *lpcbSecurityDescriptor = 0;
            if (lpftLastWriteTime)
                *lpftLastWriteTime = {0, 0};
            return ERROR_SUCCESS;
        });
    });
}

WINBASEAPI LSTATUS WINAPI RegCloseKey(HKEY hKey) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        if (rootId(hKey))
            return ERROR_SUCCESS;
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        Registry::forget(r.keyCursors, hKey);
        Registry::forget(r.valueCursors, hKey);
        return r.handles.erase(reinterpret_cast<uintptr_t>(hKey)) ? ERROR_SUCCESS
                                                                  : ERROR_INVALID_HANDLE;
    });
}

WINBASEAPI LSTATUS WINAPI OrvikRegBeginBatch(void) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        Registry& r = registry();
        std::unique_lock lock(r.mutex);
        r.waitForOtherBatches(lock);
        if (r.batch.depth > 0) {
            ++r.batch.depth;
            return ERROR_SUCCESS;
        }
        std::shared_ptr<Store> store;
        if (LSTATUS e = r.currentStore(store, true); e != ERROR_SUCCESS)
            return e;
        if (store->readOnly)
            return ERROR_ACCESS_DENIED;
        if (int rc = sqlite3_exec(store->db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
            rc != SQLITE_OK)
            return storeError(rc);
        r.batch = Registry::Batch{std::this_thread::get_id(), 1, false, store};
        return ERROR_SUCCESS;
    });
}

WINBASEAPI LSTATUS WINAPI OrvikRegEndBatch(BOOL commit) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        if (r.batch.depth == 0 || r.batch.owner != std::this_thread::get_id())
            return ERROR_INVALID_PARAMETER;
        if (!commit)
            r.batch.rollBack = true;
        if (--r.batch.depth > 0)
            return ERROR_SUCCESS;
        sqlite3* db = r.batch.store->db;
        LSTATUS e = ERROR_SUCCESS;
        if (r.batch.rollBack) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            if (commit)
                e = ERROR_REGISTRY_IO_FAILED; // a nested batch asked to roll back
        } else if (sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK) {
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
            e = ERROR_REGISTRY_IO_FAILED;
        }
        r.batch = Registry::Batch{};
        g_localChanges.fetch_add(1, std::memory_order_release); // what was read may be gone
        r.batchEnded.notify_all();
        return e;
    });
}

WINBASEAPI LSTATUS WINAPI RegFlushKey(HKEY hKey) noexcept {
    return orvik::guardRegistry([&]() -> LSTATUS {
        return withKey(hKey, 0, Use::Read, [&](Registry&, OpenKey& key) -> LSTATUS {
            if (key.store->absent)
                return ERROR_SUCCESS;
            // Commits are written to the log without waiting for the disk; a full
            // checkpoint syncs the log, copies it into the store and syncs that.
            int rc = sqlite3_wal_checkpoint_v2(key.store->db, nullptr, SQLITE_CHECKPOINT_FULL,
                                               nullptr, nullptr);
            return rc == SQLITE_OK ? ERROR_SUCCESS : storeError(rc);
        });
    });
}

WINBASEAPI DWORD WINAPI OrvikGetRegistryStorePath(LPSTR buffer, DWORD size) noexcept {
    return orvik::guardBoundary<DWORD>(0, 0, [&]() -> DWORD {
        std::string path = storePath();
        if (buffer && path.size() < size)
            std::memcpy(buffer, path.c_str(), path.size() + 1);
        return DWORD(path.size());
    });
}
