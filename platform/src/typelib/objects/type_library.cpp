// platform/src/typelib/objects/type_library.cpp: making library objects, and the
// table of libraries loaded from files

#include "typelib/objects/type_library.h"

#include "orvik/platform/boundary.h"

namespace orvik::tlb {

std::mutex g_loadedLock;
std::map<LoadedFile, CTypeLib*> g_loaded;

HRESULT createTypeLib(std::shared_ptr<const Library> lib, ITypeLib** out) {
    if (!out)
        return E_INVALIDARG;
    *out = new (std::nothrow) CTypeLib(std::move(lib));
    return *out ? S_OK : E_OUTOFMEMORY;
}

bool LoadedFile::operator<(const LoadedFile& o) const {
    return std::tie(device, inode, size, modifiedSeconds, modifiedNanoseconds) <
           std::tie(o.device, o.inode, o.size, o.modifiedSeconds, o.modifiedNanoseconds);
}

ITypeLib* findLoadedTypeLib(const LoadedFile& file) {
    std::lock_guard lock(g_loadedLock);
    auto at = g_loaded.find(file);
    if (at == g_loaded.end())
        return nullptr;
    at->second->addLoadedReference();
    return at->second;
}

HRESULT createLoadedTypeLib(std::shared_ptr<const Library> lib, const LoadedFile& file,
                            ITypeLib** out) {
    if (!out)
        return E_INVALIDARG;
    *out = nullptr;
    auto* made = new (std::nothrow) CTypeLib(std::move(lib), file);
    if (!made)
        return E_OUTOFMEMORY;
    CTypeLib* first = nullptr; // another thread's, made from the same file meanwhile
    try {
        std::lock_guard lock(g_loadedLock);
        auto [at, inserted] = g_loaded.emplace(file, made);
        if (!inserted) {
            first = at->second;
            first->addLoadedReference();
        }
    } catch (const std::bad_alloc&) {
        delete made; // never shared
        return E_OUTOFMEMORY;
    }
    if (first) {
        made->Release(); // not the one in the map, which its release leaves alone
        made = first;
    }
    *out = made;
    return S_OK;
}

HRESULT standardTypeLib(ITypeLib** out) {
    // The built-in library lives for the whole process; the shared pointer does not
    // own it.
    return createTypeLib(std::shared_ptr<const Library>(&standardLibrary(), [](const Library*) {}),
                         out);
}

} // namespace orvik::tlb
