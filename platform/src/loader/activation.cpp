// platform/src/loader/activation.cpp: creating objects of registered classes
//
// Each module file is loaded once per process and kept, with its two entry points,
// in a table keyed by its path. Creation holds the table shared while it asks a
// module for a class object, and unloading holds it exclusively, so a module is
// never unloaded under a call into it. What the registry says of identifiers and
// classes is kept until the registry changes, so creating objects of a class
// already served reads nothing from the store.
//
// A module that says it may be unloaded is not unloaded at once: a thread that has
// just released its last object is still running the end of that release in the
// module. It becomes a candidate, and goes at a later call once the delay has
// passed, as long as it said so each time it was asked, no class object was asked
// of it meanwhile, and every other thread has moved on (threads_since.h).

#include "orvik/platform/boundary.h"
#include "loader/load_failure.h"
#include "loader/threads_since.h"
#include "registry/registry_generation.h"

#include "orvik/platform.h"
#include "orvik/platform/registry_helpers.h"
#include "orvik/platform/utf.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <shared_mutex>
#include <string>
#include <string_view>
#include <unordered_map>

namespace {

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, LPVOID*);
using CanUnloadNowFn = HRESULT (*)();

using Clock = orvik::ThreadsSince::Clock;

// Since when a module has said it may be unloaded.
struct UnloadCandidate {
    uint64_t requestsAtStart;
    Clock::time_point since;
    orvik::ThreadsSince threads;
};

// A module serving classes, loaded (and at last freed) through LoadLibraryExA and
// FreeLibrary like any other, so that the loader's one table knows it.
struct LoadedServer {
    HMODULE module = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr; // may be absent: such a module stays
    // Class objects asked of it: counted under the table's shared lock, read under
    // its exclusive one.
    std::atomic<uint64_t> requests{0};
    std::optional<UnloadCandidate> candidate; // under the exclusive lock

    HRESULT classObject(REFCLSID clsid, REFIID riid, LPVOID* ppv) {
        requests.fetch_add(1, std::memory_order_relaxed);
        return getClassObject(clsid, riid, ppv);
    }
};

// Programmatic identifiers compare without regard to ASCII case.
char16_t folded(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c - u'A' + u'a') : c;
}
struct FoldedHash {
    using is_transparent = void;
    size_t operator()(std::u16string_view text) const {
        size_t h = 14695981039346656037u;
        for (char16_t c : text)
            h = (h ^ folded(c)) * 1099511628211u;
        return h;
    }
};
struct FoldedEqual {
    using is_transparent = void;
    bool operator()(std::u16string_view a, std::u16string_view b) const {
        if (a.size() != b.size())
            return false;
        for (size_t i = 0; i < a.size(); ++i)
            if (folded(a[i]) != folded(b[i]))
                return false;
        return true;
    }
};
struct GuidHash {
    size_t operator()(const GUID& g) const {
        uint64_t a, b;
        std::memcpy(&a, &g, 8);
        std::memcpy(&b, reinterpret_cast<const char*>(&g) + 8, 8);
        return size_t(a ^ (b * 0x9E3779B97F4A7C15u));
    }
};
struct GuidEqual {
    bool operator()(const GUID& a, const GUID& b) const { return IsEqualGUID(a, b) != 0; }
};

std::shared_mutex g_serversLock;
std::map<std::string, LoadedServer> g_servers; // by module path
// What the registry said, kept while its generation stays the one it was read
// under: identifiers to classes, classes to the loaded modules that serve them.
uint64_t g_cachedGeneration = UINT64_MAX;
std::unordered_map<std::u16string, CLSID, FoldedHash, FoldedEqual> g_progIds;
std::unordered_map<CLSID, LoadedServer*, GuidHash, GuidEqual> g_classServers;

// Forgets what was read under another generation; g_serversLock held exclusively.
void keepOnlyGeneration(uint64_t generation) {
    if (g_cachedGeneration != generation) {
        g_progIds.clear();
        g_classServers.clear();
        g_cachedGeneration = generation;
    }
}

thread_local int t_initCount = 0;
thread_local DWORD t_initModel = 0;

std::string clsidKey(REFCLSID clsid) {
    OLECHAR text[40];
    StringFromGUID2(clsid, text, 40);
    return "CLSID\\" + orvik::utf8Or(text);
}

// The module file registered to serve clsid in process.
HRESULT serverPath(REFCLSID clsid, std::string& path) {
    if (orvik::regQueryString(HKEY_CLASSES_ROOT, (clsidKey(clsid) + "\\InprocServer32").c_str(),
                              nullptr, path) != ERROR_SUCCESS ||
        path.empty())
        return REGDB_E_CLASSNOTREG;
    return S_OK;
}

// Loads the module at path into the table, unless it is there already.
HRESULT loadServer(const std::string& path) {
    std::unique_lock lock(g_serversLock);
    if (g_servers.count(path))
        return S_OK;
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, 0);
    if (!module)
        return CO_E_DLLNOTFOUND;
    // The entry points' own types, through the generic one GetProcAddress returns.
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
    if (!getClassObject) {
        orvik::noteLoadFailure("the file has no DllGetClassObject");
        FreeLibrary(module);
        return CO_E_ERRORINDLL;
    }
    LoadedServer& server = g_servers[path];
    server.module = module;
    server.getClassObject = getClassObject;
    server.canUnloadNow = reinterpret_cast<CanUnloadNowFn>(
        reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    return S_OK;
}

} // namespace

STDAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) noexcept {
    if (pvReserved)
        return E_INVALIDARG;
    DWORD model = dwCoInit & COINIT_APARTMENTTHREADED;
    if (t_initCount > 0 && model != t_initModel)
        return RPC_E_CHANGED_MODE;
    t_initModel = model;
    return t_initCount++ == 0 ? S_OK : S_FALSE;
}

STDAPI CoInitialize(LPVOID pvReserved) noexcept {
    return CoInitializeEx(pvReserved, COINIT_APARTMENTTHREADED);
}

STDAPI_(void) CoUninitialize(void) noexcept {
    if (t_initCount > 0)
        --t_initCount;
}

STDAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        if (!lpszProgID || !lpclsid)
            return E_INVALIDARG;
        *lpclsid = GUID{};
        uint64_t generation = orvik::registryGeneration();
        {
            std::shared_lock lock(g_serversLock);
            if (g_cachedGeneration == generation)
                if (auto known = g_progIds.find(std::u16string_view(lpszProgID));
                    known != g_progIds.end()) {
                    *lpclsid = known->second;
                    return S_OK;
                }
        }
        std::optional<std::string> progId = orvik::toUtf8(lpszProgID);
        if (!progId || progId->empty() || progId->find('\\') != std::string::npos)
            return CO_E_CLASSSTRING;
        std::string text, current;
        bool found = orvik::regQueryString(HKEY_CLASSES_ROOT, (*progId + "\\CLSID").c_str(),
                                           nullptr, text) == ERROR_SUCCESS;
        // An identifier without a class of its own names its current version's.
        if (!found &&
            orvik::regQueryString(HKEY_CLASSES_ROOT, (*progId + "\\CurVer").c_str(), nullptr,
                                  current) == ERROR_SUCCESS &&
            current.find('\\') == std::string::npos && !current.empty())
            found = orvik::regQueryString(HKEY_CLASSES_ROOT, (current + "\\CLSID").c_str(), nullptr,
                                          text) == ERROR_SUCCESS;
        std::optional<std::u16string> wide = orvik::toUtf16(text);
        if (!found || !wide || FAILED(CLSIDFromString(wide->c_str(), lpclsid))) {
            *lpclsid = GUID{};
            return CO_E_CLASSSTRING;
        }
        std::unique_lock lock(g_serversLock);
        keepOnlyGeneration(generation);
        g_progIds.emplace(lpszProgID, *lpclsid);
        return S_OK;
    });
}

STDAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        if (!lplpszProgID)
            return E_INVALIDARG;
        *lplpszProgID = nullptr;
        std::string progId;
        if (orvik::regQueryString(HKEY_CLASSES_ROOT, (clsidKey(clsid) + "\\ProgID").c_str(),
                                  nullptr, progId) != ERROR_SUCCESS ||
            progId.empty())
            return REGDB_E_CLASSNOTREG;
        std::optional<std::u16string> wide = orvik::toUtf16(progId);
        if (!wide)
            return REGDB_E_CLASSNOTREG;
        auto* out = static_cast<LPOLESTR>(CoTaskMemAlloc((wide->size() + 1) * sizeof(OLECHAR)));
        if (!out)
            return E_OUTOFMEMORY;
        std::copy(wide->begin(), wide->end(), out);
        out[wide->size()] = 0;
        *lplpszProgID = out;
        return S_OK;
    });
}

STDAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                        LPVOID* ppv) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        if (!ppv)
            return E_INVALIDARG;
        *ppv = nullptr;
        if (pvReserved)
            return E_INVALIDARG;
        if (!(dwClsContext & CLSCTX_INPROC_SERVER))
            return REGDB_E_CLASSNOTREG; // only servers in the caller's process exist here
        uint64_t generation = orvik::registryGeneration();
        {
            std::shared_lock lock(g_serversLock);
            if (g_cachedGeneration == generation)
                if (auto known = g_classServers.find(rclsid); known != g_classServers.end())
                    return known->second->classObject(rclsid, riid, ppv);
        }
        std::string path;
        HRESULT hr = serverPath(rclsid, path);
        if (FAILED(hr))
            return hr;
        // Loaded, then asked under the shared lock: a module unloaded in between (by
        // another thread freeing unused modules) is loaded again.
        for (int attempt = 0; attempt < 8; ++attempt) {
            if (FAILED(hr = loadServer(path)))
                return hr;
            {
                std::unique_lock lock(g_serversLock);
                auto server = g_servers.find(path);
                if (server == g_servers.end())
                    continue;
                keepOnlyGeneration(generation);
                g_classServers[rclsid] = &server->second;
            }
            std::shared_lock lock(g_serversLock);
            auto server = g_servers.find(path);
            if (server != g_servers.end())
                return server->second.classObject(rclsid, riid, ppv);
        }
        return CO_E_DLLNOTFOUND;
    });
}

STDAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                        LPVOID* ppv) noexcept {
    if (!ppv)
        return E_INVALIDARG;
    *ppv = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(rclsid, dwClsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    hr = factory->CreateInstance(pUnkOuter, riid, ppv);
    factory->Release();
    return hr;
}

namespace {

// What CoFreeUnusedLibraries waits: ORVIK_UNLOAD_DELAY_MS when it is a number of
// milliseconds, else the platform's ten minutes.
Clock::duration defaultUnloadDelay() {
    if (const char* text = std::getenv("ORVIK_UNLOAD_DELAY_MS"); text && *text) {
        char* end = nullptr;
        unsigned long long ms = std::strtoull(text, &end, 10);
        if (!*end && *text != '-' && ms <= 24ull * 3600 * 1000)
            return std::chrono::milliseconds(ms);
    }
    return std::chrono::minutes(10);
}

// Whether the module at server may go now; g_serversLock held exclusively.
bool unloadable(LoadedServer& server, Clock::duration delay, Clock::time_point now) {
    if (!server.canUnloadNow || server.canUnloadNow() != S_OK) {
        server.candidate.reset();
        return false;
    }
    uint64_t requests = server.requests.load(std::memory_order_relaxed);
    if (!server.candidate || server.candidate->requestsAtStart != requests)
        server.candidate.emplace(UnloadCandidate{requests, now, orvik::ThreadsSince(now)});
    return now - server.candidate->since >= delay && server.candidate->threads.allMovedOn(now);
}

} // namespace

STDAPI_(void) CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD) noexcept {
    orvik::guardResult([&]() -> HRESULT {
        Clock::duration delay = dwUnloadDelay == INFINITE
                                    ? defaultUnloadDelay()
                                    : Clock::duration(std::chrono::milliseconds(dwUnloadDelay));
        // Unloaded while the table is held, so that no creation is inside a module as
        // it goes; a module's own clean-up must not create objects.
        std::unique_lock lock(g_serversLock);
        Clock::time_point now = Clock::now();
        for (auto it = g_servers.begin(); it != g_servers.end();) {
            if (unloadable(it->second, delay, now)) {
                g_classServers.clear(); // it may point at the module about to go
                FreeLibrary(it->second.module);
                it = g_servers.erase(it);
            } else {
                ++it;
            }
        }
        return S_OK;
    });
}

STDAPI_(void) CoFreeUnusedLibraries(void) noexcept {
    CoFreeUnusedLibrariesEx(INFINITE, 0);
}
