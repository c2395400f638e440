// platform/src/registry/key_calls.cpp: opening, creating and deleting keys, values
// read and written, batches and durability

#include "registry/registry_state.h"

#include "orvik/platform/boundary.h"

#include <cstring>

using namespace orvik::reg;

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
