// bench/registry_scale_bench.cpp: the registry at scale against SQLite doing the same
// work directly
//
// One parent key with n sub-keys of one string value each: making them (a key and
// its value, each its own change), opening each by name, walking them by index,
// exporting them (the walk, opening each and reading its values) and deleting the
// tree. The baseline does the same logical work on a database of its own in the
// same run: a table of keys with an index on (parent, name), a table of values,
// write-ahead logging with synchronous=NORMAL, each change its own transaction, its
// statements prepared once.

#include "bench_objects.h"
#include "ratio_reporter.h"

#include "orvik/platform.h"
#include "orvik/platform/registry_helpers.h"

#include <sqlite3.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using namespace orvik;

std::string childName(int64_t i) {
    char name[24];
    std::snprintf(name, sizeof name, "K%07lld", static_cast<long long>(i));
    return name;
}

std::string parentName(int64_t n) {
    return "Scale" + std::to_string(n);
}

// ---- the registry ----

void makeTree(int64_t n) {
    RegKey parent;
    RegCreateKeyExA(HKEY_CURRENT_USER, parentName(n).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                    nullptr, parent.put(), nullptr);
    for (int64_t i = 0; i < n; ++i) {
        RegKey child;
        RegCreateKeyExA(parent.get(), childName(i).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        child.put(), nullptr);
        RegSetValueExA(child.get(), "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("value"), 6);
    }
}

bool treeMade(int64_t n) {
    RegKey parent;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, parentName(n).c_str(), 0, KEY_READ, parent.put()) !=
        ERROR_SUCCESS)
        return false;
    DWORD count = 0;
    RegQueryInfoKeyA(parent.get(), nullptr, nullptr, nullptr, &count, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, nullptr);
    return count == DWORD(n);
}

void ensureTree(int64_t n) {
    if (!treeMade(n)) {
        (void)regDeleteTree(HKEY_CURRENT_USER, parentName(n).c_str());
        makeTree(n);
    }
}

// The parent of state.range(0) sub-keys, made when missing; none without a store.
RegKey openTree(benchmark::State& state) {
    RegKey parent;
    if (!bench::usePrivateStore())
        return parent;
    ensureTree(state.range(0));
    RegOpenKeyExA(HKEY_CURRENT_USER, parentName(state.range(0)).c_str(), 0, KEY_READ, parent.put());
    return parent;
}

void Registry_Make(benchmark::State& state) {
    if (!bench::usePrivateStore())
        return state.SkipWithError("no store");
    for (auto _ : state) {
        state.PauseTiming();
        (void)regDeleteTree(HKEY_CURRENT_USER, parentName(state.range(0)).c_str());
        state.ResumeTiming();
        makeTree(state.range(0));
    }
}

void Registry_OpenByName(benchmark::State& state) {
    RegKey parent = openTree(state);
    if (!parent)
        return state.SkipWithError("no store");
    for (auto _ : state)
        for (int64_t i = 0; i < state.range(0); ++i) {
            RegKey child;
            RegOpenKeyExA(parent.get(), childName(i).c_str(), 0, KEY_READ, child.put());
        }
}

void Registry_Walk(benchmark::State& state) {
    RegKey parent = openTree(state);
    if (!parent)
        return state.SkipWithError("no store");
    for (auto _ : state) {
        int64_t seen = 0;
        std::string name;
        while (regSubkeyName(parent.get(), DWORD(seen), name) == ERROR_SUCCESS)
            ++seen;
        if (seen != state.range(0))
            return state.SkipWithError("the walk missed keys");
    }
}

void Registry_Export(benchmark::State& state) {
    RegKey parent = openTree(state);
    if (!parent)
        return state.SkipWithError("no store");
    for (auto _ : state) {
        size_t bytes = 0;
        std::string name;
        for (DWORD i = 0; regSubkeyName(parent.get(), i, name) == ERROR_SUCCESS; ++i) {
            RegKey child;
            RegOpenKeyExA(parent.get(), name.c_str(), 0, KEY_READ, child.put());
            char valueName[64];
            BYTE data[64];
            for (DWORD v = 0;; ++v) {
                DWORD nameSize = sizeof valueName, dataSize = sizeof data, type = 0;
                if (RegEnumValueA(child.get(), v, valueName, &nameSize, nullptr, &type, data,
                                  &dataSize) != ERROR_SUCCESS)
                    break;
                bytes += nameSize + dataSize;
            }
        }
        benchmark::DoNotOptimize(bytes);
    }
}

void Registry_Delete(benchmark::State& state) {
    if (!bench::usePrivateStore())
        return state.SkipWithError("no store");
    for (auto _ : state) {
        state.PauseTiming();
        ensureTree(state.range(0));
        state.ResumeTiming();
        if (regDeleteTree(HKEY_CURRENT_USER, parentName(state.range(0)).c_str()) != ERROR_SUCCESS)
            return state.SkipWithError("the delete failed");
    }
}

// ---- the same work in SQLite ----

class Baseline {
public:
    Baseline() {
        char path[4096];
        if (!bench::usePrivateStore() || !OrvikGetRegistryStorePath(path, sizeof path))
            return;
        std::string file = std::string(path) + ".baseline";
        std::remove(file.c_str());
        if (sqlite3_open(file.c_str(), &m_db) != SQLITE_OK)
            return;
        exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL;"
             "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER, name TEXT NOT NULL);"
             "CREATE UNIQUE INDEX keys_by_name ON keys(parent, name);"
             "CREATE TABLE vals(key INTEGER NOT NULL, name TEXT NOT NULL, data BLOB NOT NULL,"
             " PRIMARY KEY(key, name));");
        m_insertKey = prepare("INSERT INTO keys(parent, name) VALUES(?, ?)");
        m_insertValue = prepare("INSERT OR REPLACE INTO vals(key, name, data) VALUES(?, 'v', ?)");
        m_find = prepare("SELECT id FROM keys WHERE parent=? AND name=?");
        m_children = prepare("SELECT id, name FROM keys WHERE parent=? ORDER BY name");
        m_values = prepare("SELECT name, data FROM vals WHERE key=?");
        m_deleteValues = prepare("DELETE FROM vals WHERE key=?");
        m_deleteKey = prepare("DELETE FROM keys WHERE id=?");
    }
    ~Baseline() {
        for (sqlite3_stmt* s : {m_insertKey, m_insertValue, m_find, m_children, m_values,
                                m_deleteValues, m_deleteKey})
            sqlite3_finalize(s);
        sqlite3_close(m_db);
    }
    bool ready() const { return m_db && m_deleteKey; }

    // Each change its own transaction, as each registry call is.
    int64_t insertKey(int64_t parent, const std::string& name) {
        exec("BEGIN IMMEDIATE");
        sqlite3_bind_int64(m_insertKey, 1, parent);
        sqlite3_bind_text(m_insertKey, 2, name.c_str(), -1, SQLITE_STATIC);
        step(m_insertKey);
        exec("COMMIT");
        return sqlite3_last_insert_rowid(m_db);
    }
    void setValue(int64_t key) {
        exec("BEGIN IMMEDIATE");
        sqlite3_bind_int64(m_insertValue, 1, key);
        sqlite3_bind_blob(m_insertValue, 2, "value", 6, SQLITE_STATIC);
        step(m_insertValue);
        exec("COMMIT");
    }
    int64_t find(int64_t parent, const std::string& name) {
        sqlite3_bind_int64(m_find, 1, parent);
        sqlite3_bind_text(m_find, 2, name.c_str(), -1, SQLITE_STATIC);
        int64_t id = sqlite3_step(m_find) == SQLITE_ROW ? sqlite3_column_int64(m_find, 0) : 0;
        sqlite3_reset(m_find);
        return id;
    }
    std::vector<int64_t> children(int64_t parent, size_t* nameBytes = nullptr) {
        std::vector<int64_t> ids;
        sqlite3_bind_int64(m_children, 1, parent);
        while (sqlite3_step(m_children) == SQLITE_ROW) {
            ids.push_back(sqlite3_column_int64(m_children, 0));
            if (nameBytes)
                *nameBytes += size_t(sqlite3_column_bytes(m_children, 1));
        }
        sqlite3_reset(m_children);
        return ids;
    }
    size_t valueBytes(int64_t key) {
        size_t bytes = 0;
        sqlite3_bind_int64(m_values, 1, key);
        while (sqlite3_step(m_values) == SQLITE_ROW)
            bytes += size_t(sqlite3_column_bytes(m_values, 0) + sqlite3_column_bytes(m_values, 1));
        sqlite3_reset(m_values);
        return bytes;
    }
    void deleteKey(int64_t key) {
        exec("BEGIN IMMEDIATE");
        sqlite3_bind_int64(m_deleteValues, 1, key);
        step(m_deleteValues);
        sqlite3_bind_int64(m_deleteKey, 1, key);
        step(m_deleteKey);
        exec("COMMIT");
    }
    // The parent of n children, made when missing.
    int64_t tree(int64_t n) {
        int64_t parent = find(0, parentName(n));
        if (parent && children(parent).size() == size_t(n))
            return parent;
        if (parent)
            deleteTree(parent);
        return makeTree(n);
    }
    int64_t makeTree(int64_t n) {
        int64_t parent = insertKey(0, parentName(n));
        for (int64_t i = 0; i < n; ++i)
            setValue(insertKey(parent, childName(i)));
        return parent;
    }
    void deleteTree(int64_t parent) {
        for (int64_t child : children(parent))
            deleteKey(child);
        deleteKey(parent);
    }

private:
    void exec(const char* sql) { sqlite3_exec(m_db, sql, nullptr, nullptr, nullptr); }
    sqlite3_stmt* prepare(const char* sql) {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(m_db, sql, -1, &s, nullptr);
        return s;
    }
    static void step(sqlite3_stmt* s) {
        sqlite3_step(s);
        sqlite3_reset(s);
    }
    sqlite3* m_db = nullptr;
    sqlite3_stmt *m_insertKey = nullptr, *m_insertValue = nullptr, *m_find = nullptr,
                 *m_children = nullptr, *m_values = nullptr, *m_deleteValues = nullptr,
                 *m_deleteKey = nullptr;
};

Baseline& baseline() {
    static Baseline b;
    return b;
}

void Baseline_SqliteMake(benchmark::State& state) {
    Baseline& b = baseline();
    if (!b.ready())
        return state.SkipWithError("no baseline database");
    for (auto _ : state) {
        state.PauseTiming();
        if (int64_t parent = b.find(0, parentName(state.range(0))))
            b.deleteTree(parent);
        state.ResumeTiming();
        b.makeTree(state.range(0));
    }
}

void Baseline_SqliteOpenByName(benchmark::State& state) {
    Baseline& b = baseline();
    if (!b.ready())
        return state.SkipWithError("no baseline database");
    int64_t parent = b.tree(state.range(0));
    for (auto _ : state)
        for (int64_t i = 0; i < state.range(0); ++i)
            benchmark::DoNotOptimize(b.find(parent, childName(i)));
}

void Baseline_SqliteWalk(benchmark::State& state) {
    Baseline& b = baseline();
    if (!b.ready())
        return state.SkipWithError("no baseline database");
    int64_t parent = b.tree(state.range(0));
    for (auto _ : state) {
        size_t bytes = 0;
        benchmark::DoNotOptimize(b.children(parent, &bytes).size());
    }
}

void Baseline_SqliteExport(benchmark::State& state) {
    Baseline& b = baseline();
    if (!b.ready())
        return state.SkipWithError("no baseline database");
    int64_t parent = b.tree(state.range(0));
    for (auto _ : state) {
        size_t bytes = 0;
        for (int64_t child : b.children(parent, &bytes))
            bytes += b.valueBytes(child);
        benchmark::DoNotOptimize(bytes);
    }
}

void Baseline_SqliteDelete(benchmark::State& state) {
    Baseline& b = baseline();
    if (!b.ready())
        return state.SkipWithError("no baseline database");
    for (auto _ : state) {
        state.PauseTiming();
        int64_t parent = b.tree(state.range(0));
        state.ResumeTiming();
        b.deleteTree(parent);
    }
}

// n = 1,000, 10,000 and 100,000. A write changes the tree, so it runs once (one run
// is already long at the largest n); a read runs as often as a fair measure needs.
#define ORVIK_SCALE(name, howOften)                                                                \
    BENCHMARK(name)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->howOften

#define ORVIK_WRITE_SCALE(name) ORVIK_SCALE(name, Iterations(1))
#define ORVIK_READ_SCALE(name) ORVIK_SCALE(name, MinTime(0.3))

ORVIK_WRITE_SCALE(Baseline_SqliteMake);
ORVIK_WRITE_SCALE(Registry_Make);
ORVIK_READ_SCALE(Baseline_SqliteOpenByName);
ORVIK_READ_SCALE(Registry_OpenByName);
ORVIK_READ_SCALE(Baseline_SqliteWalk);
ORVIK_READ_SCALE(Registry_Walk);
ORVIK_READ_SCALE(Baseline_SqliteExport);
ORVIK_READ_SCALE(Registry_Export);
ORVIK_WRITE_SCALE(Baseline_SqliteDelete);
ORVIK_WRITE_SCALE(Registry_Delete);

const bool compared = [] {
    for (std::string op : {"Make", "OpenByName", "Walk", "Export", "Delete"}) {
        bool writes = op == "Make" || op == "Delete";
        std::string suffix = writes ? "/iterations:1" : "/min_time:0.300";
        for (const char* n : {"/1000", "/10000", "/100000"})
            bench::compareTo("Registry_" + op + n + suffix, "Baseline_Sqlite" + op + n + suffix);
        // Linear growth is 10 from 10,000 to 100,000 keys.
        bench::compareTo("Registry_" + op + "/100000" + suffix,
                         "Registry_" + op + "/10000" + suffix);
    }
    return true;
}();

} // namespace
