// platform/src/registry/enumeration.cpp: sub-keys and values by index, and what a
// key holds

#include "registry/registry_state.h"

#include "orvik/platform/boundary.h"

#include <cstring>

using namespace orvik::reg;

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
