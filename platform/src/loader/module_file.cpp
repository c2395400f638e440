// platform/src/loader/module_file.cpp: loading module files and finding resources
//
// A data-file load reads the file's resources into memory and hands out the
// address of that record with its low bit set, so that no such handle can be taken
// for a mapped module (whose handle, the address it is mapped at, is page-aligned).
// A module loaded to run is the dynamic loader's; its resources are read from its
// file on first use and kept while it stays loaded. Every handle a caller passes
// is looked up before it is used.

#include "orvik/platform/boundary.h"
#include "loader/load_failure.h"
#include "loader/resource_file.h"

#include <climits>
#include <cstring>
#include <dlfcn.h>
#include <link.h>
#include <map>
#include <memory>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using orvik::res::Resource;

struct LoadedResources {
    std::string path;
    std::vector<uint8_t> bytes;
    std::vector<Resource> resources;
    // For a module mapped by someone else: the file it was read from, so that a
    // module mapped at the same address later is told apart.
    struct stat file {};
};

// A module loaded to run through LoadLibraryExA: the loader's handle and how many
// loads FreeLibrary has still to undo.
struct RunningModule {
    void* loaderHandle;
    int loads;
};

constexpr uintptr_t kDataFileTag = 1;

std::mutex g_lock;
std::map<LoadedResources*, std::unique_ptr<LoadedResources>> g_dataFiles;
// The one table of modules loaded to run, by mapped address: LoadLibraryExA and
// FreeLibrary keep it, activation loads and unloads its servers through them, and
// a module's resources are cached here until its last load is undone.
std::map<void*, RunningModule> g_running;
std::map<void*, std::unique_ptr<LoadedResources>> g_mappedResources; // by mapped address
std::vector<std::unique_ptr<LoadedResources>> g_replacedResources;

LoadedResources* dataFileOf(HMODULE module) {
    if (!(uintptr_t(module) & kDataFileTag))
        return nullptr;
    auto* record = reinterpret_cast<LoadedResources*>(uintptr_t(module) & ~kDataFileTag);
    return g_dataFiles.count(record) ? record : nullptr;
}

// The file of a module mapped at module (null: the running program).
bool mappedModulePath(HMODULE module, std::string& path) {
    char resolved[PATH_MAX];
    if (!module) {
        ssize_t n = readlink("/proc/self/exe", resolved, sizeof resolved - 1);
        if (n <= 0)
            return false;
        path.assign(resolved, size_t(n));
        return true;
    }
    if (uintptr_t(module) & kDataFileTag)
        return false;
    Dl_info info;
    if (!dladdr(module, &info) || info.dli_fbase != module || !info.dli_fname ||
        !realpath(info.dli_fname, resolved))
        return false;
    path = resolved;
    return true;
}

// Reads the resources of the file at path into a record: of a module mapped at
// mappedAt, from its mapped section. A platform error number.
DWORD loadResources(const std::string& path, LoadedResources& into,
                    const void* mappedAt = nullptr) {
    into.path = path;
    DWORD error = orvik::res::readResourceSection(path, into.bytes, mappedAt);
    if (error == ERROR_RESOURCE_DATA_NOT_FOUND) // a module without resources loads
        return ERROR_SUCCESS;
    if (error)
        return error;
    if (!orvik::res::parseResourceFile(into.bytes.data(), into.bytes.size(), into.resources))
        return ERROR_BAD_EXE_FORMAT;
    return ERROR_SUCCESS;
}

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

// The resources of module, under g_lock; null, with the last error set, for a
// handle that names no module or a file that cannot be read.
const LoadedResources* resourcesOf(HMODULE module) {
    if (LoadedResources* record = dataFileOf(module))
        return record;
    if (uintptr_t(module) & kDataFileTag) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    auto found = g_mappedResources.find(module);
    // A module loaded here stays mapped until its last FreeLibrary, which drops the
    // record; one mapped by someone else may have gone, and another taken its place.
    if (found != g_mappedResources.end() && (!module || g_running.count(module)))
        return found->second.get();
    std::string path;
    if (!mappedModulePath(module, path)) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    struct stat file {};
    bool identified = module && stat(path.c_str(), &file) == 0;
    if (found != g_mappedResources.end() && identified && sameFile(found->second->file, file) &&
        found->second->path == path)
        return found->second.get();
    auto record = std::make_unique<LoadedResources>();
    if (DWORD error = loadResources(path, *record, module)) {
        SetLastError(error);
        return nullptr;
    }
    record->file = file;
    // What was handed out of a record replaced here stays readable: whoever mapped
    // that module may not have let it go.
    if (found != g_mappedResources.end())
        g_replacedResources.push_back(std::move(found->second));
    return (g_mappedResources[module] = std::move(record)).get();
}

// The resource hResInfo names among module's, under g_lock; null for any other.
const Resource* resourceOf(HMODULE module, HRSRC hResInfo) {
    const LoadedResources* record = resourcesOf(module);
    if (!record)
        return nullptr;
    // Only what findResource gave: the address of an element, not one inside it.
    const auto at = reinterpret_cast<uintptr_t>(hResInfo);
    const std::vector<Resource>& all = record->resources;
    const auto first = reinterpret_cast<uintptr_t>(all.data());
    if (all.empty() || at < first || at >= first + all.size() * sizeof(Resource) ||
        (at - first) % sizeof(Resource) != 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    return &all[(at - first) / sizeof(Resource)];
}

HRSRC findResource(HMODULE module, LPCSTR type, LPCSTR name, const WORD* language) {
    if (!type || !name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(g_lock);
    const LoadedResources* record = resourcesOf(module);
    if (!record)
        return nullptr;
    if (record->resources.empty()) {
        SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
        return nullptr;
    }
    const Resource* found =
        language ? orvik::res::findInLanguage(record->resources, type, name, *language)
                 : orvik::res::findPreferred(record->resources, type, name);
    if (!found)
        SetLastError(orvik::res::findError(record->resources, type, name));
    return const_cast<Resource*>(found);
}

} // namespace

WINBASEAPI HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile,
                                         DWORD dwFlags) noexcept {
    return orvik::guardLastError<HMODULE>(nullptr, [&]() -> HMODULE {
        if (!lpLibFileName || !*lpLibFileName || hFile) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        constexpr DWORD kAsData = LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE |
                                  LOAD_LIBRARY_AS_IMAGE_RESOURCE;
        if (dwFlags & kAsData) {
            auto record = std::make_unique<LoadedResources>();
            char resolved[PATH_MAX];
            std::string path = realpath(lpLibFileName, resolved) ? resolved : lpLibFileName;
            if (DWORD error = loadResources(path, *record)) {
                SetLastError(error);
                return nullptr;
            }
            std::lock_guard lock(g_lock);
            LoadedResources* handle = record.get();
            g_dataFiles.emplace(handle, std::move(record));
            return reinterpret_cast<HMODULE>(uintptr_t(handle) | kDataFileTag);
        }
        if (dwFlags) {
            SetLastError(ERROR_INVALID_PARAMETER);
            return nullptr;
        }
        if (access(lpLibFileName, F_OK) != 0 && std::strchr(lpLibFileName, '/')) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        void* loaded = dlopen(lpLibFileName, RTLD_NOW | RTLD_LOCAL);
        if (!loaded) {
            orvik::noteLoadFailure(dlerror());
            SetLastError(std::strchr(lpLibFileName, '/') ? ERROR_BAD_EXE_FORMAT
                                                         : ERROR_MOD_NOT_FOUND);
            return nullptr;
        }
        link_map* map = nullptr;
        Dl_info info;
        if (dlinfo(loaded, RTLD_DI_LINKMAP, &map) != 0 || !map || !dladdr(map->l_ld, &info) ||
            !info.dli_fbase) {
            dlclose(loaded);
            SetLastError(ERROR_BAD_EXE_FORMAT);
            return nullptr;
        }
        std::lock_guard lock(g_lock);
        RunningModule& running = g_running[info.dli_fbase];
        running.loaderHandle = loaded;
        ++running.loads;
        return static_cast<HMODULE>(info.dli_fbase);
    });
}

WINBASEAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule) noexcept {
    std::unique_ptr<LoadedResources> released; // freed after the lock is let go
    void* loaderHandle = nullptr;
    {
        std::lock_guard lock(g_lock);
        if (LoadedResources* record = dataFileOf(hLibModule)) {
            auto at = g_dataFiles.find(record);
            released = std::move(at->second);
            g_dataFiles.erase(at);
            return TRUE;
        }
        auto running = g_running.find(hLibModule);
        if (running == g_running.end()) {
            SetLastError(ERROR_INVALID_HANDLE);
            return FALSE;
        }
        loaderHandle = running->second.loaderHandle;
        if (--running->second.loads == 0) {
            g_running.erase(running);
            auto cached = g_mappedResources.find(hLibModule);
            if (cached != g_mappedResources.end()) {
                released = std::move(cached->second);
                g_mappedResources.erase(cached);
            }
        }
    }
    // Outside the lock: unloading runs the module's own clean-up, which may call here.
    dlclose(loaderHandle);
    return TRUE;
}

WINBASEAPI FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) noexcept {
    if (!lpProcName || IS_INTRESOURCE(lpProcName)) { // no module here exports by number
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    std::lock_guard lock(g_lock);
    auto running = g_running.find(hModule);
    if (running == g_running.end()) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* found = dlsym(running->second.loaderHandle, lpProcName);
    if (!found)
        SetLastError(ERROR_PROC_NOT_FOUND);
    return reinterpret_cast<FARPROC>(found);
}

WINBASEAPI HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) noexcept {
    return orvik::guardLastError<HRSRC>(
        nullptr, [&] { return findResource(hModule, lpType, lpName, nullptr); });
}

WINBASEAPI HRSRC WINAPI FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName,
                                        WORD wLanguage) noexcept {
    return orvik::guardLastError<HRSRC>(
        nullptr, [&] { return findResource(hModule, lpType, lpName, &wLanguage); });
}

WINBASEAPI HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) noexcept {
    return orvik::guardLastError<HGLOBAL>(nullptr, [&]() -> HGLOBAL {
        std::lock_guard lock(g_lock);
        const Resource* r = resourceOf(hModule, hResInfo);
        return r ? const_cast<uint8_t*>(r->data) : nullptr;
    });
}

WINBASEAPI LPVOID WINAPI LockResource(HGLOBAL hResData) noexcept {
    return hResData;
}

WINBASEAPI DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) noexcept {
    return orvik::guardLastError<DWORD>(0, [&]() -> DWORD {
        std::lock_guard lock(g_lock);
        const Resource* r = resourceOf(hModule, hResInfo);
        return r ? r->size : 0;
    });
}

WINBASEAPI DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename,
                                           DWORD nSize) noexcept {
    return orvik::guardLastError<DWORD>(0, [&]() -> DWORD {
        std::string path;
        bool known = false;
        {
            std::lock_guard lock(g_lock);
            if (LoadedResources* record = dataFileOf(hModule)) {
                path = record->path;
                known = true;
            }
        }
        if (!known && !mappedModulePath(hModule, path)) {
            SetLastError(ERROR_MOD_NOT_FOUND);
            return 0;
        }
        if (!lpFilename || nSize == 0) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return 0;
        }
        size_t copied = std::min<size_t>(path.size(), nSize - 1);
        std::memcpy(lpFilename, path.data(), copied);
        lpFilename[copied] = '\0';
        if (path.size() >= nSize) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return nSize;
        }
        return DWORD(copied);
    });
}

WINBASEAPI LPSTR WINAPI PathFindExtensionA(LPCSTR pszPath) noexcept {
    if (!pszPath)
        return nullptr;
    const char* extension = nullptr;
    const char* c = pszPath;
    for (; *c; ++c) {
        if (*c == '.')
            extension = c;
        else if (*c == '/' || *c == '\\' || *c == ':' || *c == ' ')
            extension = nullptr; // a dot before a separator or a space is no extension
    }
    return const_cast<LPSTR>(extension ? extension : c);
}
