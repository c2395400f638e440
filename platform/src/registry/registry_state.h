// platform/src/registry/registry_state.h: the process's registry state, and what
// every registry call does first
//
// Handles are process-local numbers mapped to (store, key id, rights); a handle keeps
// its store open even if ORVIK_REGISTRY later names another one. All of it lives
// behind one lock; withKey takes it, resolves the handle and checks its rights.
#ifndef ORVIK_PLATFORM_SRC_REGISTRY_REGISTRY_STATE_H
#define ORVIK_PLATFORM_SRC_REGISTRY_REGISTRY_STATE_H

#include "registry/store.h"

#include <sys/stat.h>

#include <condition_variable>
#include <map>
#include <mutex>
#include <optional>
#include <thread>

namespace orvik::reg {

inline constexpr uint64_t kNeverChecked = ~uint64_t(0);

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

Registry& registry();

// registryGeneration for a caller that holds the registry lock.
uint64_t lockedGeneration(Registry& r);

// The predefined root a handle names, as its key id (1 on, in the order of the
// predefined handles), or 0.
int64_t rootId(HKEY h);

bool keyExists(Store& s, int64_t id);

enum class Use { Read, Write };

// Resolves a handle to its key, or an error number. A read trusts that the key still
// exists while nothing has changed since it was last seen to; a write always looks.
LSTATUS resolve(Registry& r, HKEY h, Use use, OpenKey& out);

// Splits a path at backslashes; a single trailing backslash is allowed, empty names
// inside the path are not.
LSTATUS splitPath(const char* path, std::vector<std::string>& parts);

std::optional<int64_t> childId(Store& s, int64_t parent, const std::string& name);

// Follows an existing path below key id; ERROR_FILE_NOT_FOUND when a key is missing.
LSTATUS findKey(Store& s, int64_t& id, LPCSTR path);

// How far id lies below its root (a root is at depth 0), counted no further than
// one past the deepest a key may be.
std::optional<int64_t> depthOf(Store& s, int64_t id);

// Key ids are never given twice, so that a handle to a deleted key can never reach a
// key made later, in this process or another: the highest id ever given is kept.
std::optional<int64_t> nextKeyId(Store& s);

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

std::string valueName(LPCSTR name);

// A value's bytes given to a caller as the registry functions give them: the size
// always (when asked for), the bytes when a buffer is given and they fit.
LSTATUS copyData(const std::vector<BYTE>& data, void* buffer, LPDWORD size);

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
std::optional<int64_t> justEnumerated(Registry& r, HKEY parent, const OpenKey& key, LPCSTR name);

} // namespace orvik::reg

#endif // ORVIK_PLATFORM_SRC_REGISTRY_REGISTRY_STATE_H
