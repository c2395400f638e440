// platform/src/registry/registry_state.cpp: handles, paths and the registry's
// generation

#include "registry/registry_state.h"

#include "registry/registry_generation.h"

#include <time.h>

#include <cstring>

namespace orvik::reg {

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

uint64_t lockedGeneration(Registry& r) {
    if (timeToLookForForeignChanges())
        lookForForeignChanges(r);
    return generationNow();
}

int64_t rootId(HKEY h) {
    for (int i = 0; i < kRootCount; ++i)
        if (h == kRegRootNames[i].key)
            return i + 1;
    return 0;
}

bool keyExists(Store& s, int64_t id) {
    return Statement(s.db, "SELECT 1 FROM keys WHERE id=?").bind(1, id).step() == SQLITE_ROW;
}

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

std::string valueName(LPCSTR name) {
    return name ? std::string(name) : std::string();
}

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

} // namespace orvik::reg

uint64_t orvik::registryGeneration() {
    using namespace orvik::reg;
    if (timeToLookForForeignChanges()) {
        Registry& r = registry();
        std::lock_guard lock(r.mutex);
        lookForForeignChanges(r);
    }
    return generationNow();
}
