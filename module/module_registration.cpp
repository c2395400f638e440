// module/module_registration.cpp: the module registers and unregisters itself

#include "module/module_registration.h"

#include "orvik/platform/bstr_holder.h"
#include "orvik/platform/ref.h"
#include "registration/registrar.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace orvik {

namespace {

// 0x8007007A: a path that filled the whole buffer, and so may have been cut short.
constexpr HRESULT kPathTooLong = HRESULT(0x8007007AL);

// The module's file path in 8-bit text, through a buffer of bufferSize bytes of
// which at most MAX_PATH are used.
HRESULT modulePath(HINSTANCE module, char* path) {
    DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    if (n == 0)
        return HRESULT_FROM_WIN32(long(GetLastError()));
    if (n == MAX_PATH)
        return kPathTooLong;
    return S_OK;
}

// Everything RunClassScript does before the script itself: the extra variables,
// the module variables, and the module path with its quotes doubled. run gets the
// registrar and the module path.
template <class Run>
HRESULT withModuleVariables(CComModuleBase& module, const RegistryVariable* extra, Run&& run) {
    CRegObject registrar;
    for (const RegistryVariable* v = extra; v && v->name; ++v)
        (void)registrar.AddVariable(v->name, v->value);
    HRESULT hr = module.AddModuleVariables(&registrar);
    if (FAILED(hr))
        return hr;
    char path[MAX_PATH];
    if (FAILED(hr = modulePath(static_cast<HINSTANCE>(moduleInstanceHandle()), path)))
        return hr;
    // A path that is not text in the conversion code page cannot be written to the
    // registry, which holds text: that is the cause to report, not the memory.
    std::u16string wide;
    if (!ToWide(path, wide))
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    std::u16string doubled;
    doubled.reserve(2 * MAX_PATH);
    for (char16_t c : wide) {
        doubled += c;
        if (c == u'\'')
            doubled += c;
    }
    if (FAILED(hr = registrar.AddVariable(u"Module", doubled.c_str())) ||
        FAILED(hr = registrar.AddVariable(u"Module_Raw", doubled.c_str())))
        return hr;
    return run(registrar, wide.c_str());
}

} // namespace

HRESULT CComModuleBase::AddModuleVariables(IRegistrarBase* registrar) {
    return registrar->AddVariable(u"APPID", u"");
}

HRESULT CComModuleBase::RegisterScriptByName(LPCOLESTR, BOOL, const RegistryVariable*) {
    return E_FAIL;
}

HRESULT CComModuleBase::RegisterScriptById(UINT, BOOL, const RegistryVariable*) {
    return E_FAIL;
}

HRESULT CComModuleBase::RunClassScript(WORD resourceId, BOOL bRegister,
                                       const RegistryVariable* extra) {
    return withModuleVariables(*this, extra, [&](CRegObject& registrar, LPCOLESTR path) {
        return registrar.RunScriptResource(path, resourceId, u"REGISTRY", bRegister != FALSE);
    });
}

HRESULT CComModuleBase::RunClassScript(LPCSTR resourceName, BOOL bRegister,
                                       const RegistryVariable* extra) {
    std::u16string name;
    if (!resourceName || !ToWide(resourceName, name))
        return E_OUTOFMEMORY;
    return withModuleVariables(*this, extra, [&](CRegObject& registrar, LPCOLESTR path) {
        return registrar.RunScriptResource(path, name.c_str(), u"REGISTRY", bRegister != FALSE);
    });
}

HRESULT LoadModuleTypeLibrary(HINSTANCE module, BSTR* path, ITypeLib** library) {
    *path = nullptr;
    *library = nullptr;
    char file[MAX_PATH + 10];
    HRESULT hr = modulePath(module, file);
    if (FAILED(hr))
        return hr;
    size_t extension = size_t(PathFindExtensionA(file) - file);
    std::u16string wide;
    if (!ToWide(file, wide))
        return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
    hr = LoadTypeLib(wide.c_str(), library);
    if (FAILED(hr)) {
        // The library beside the module file, under its name with ".tlb".
        if (extension + 5 > MAX_PATH)
            return E_FAIL;
        std::memcpy(file + extension, ".tlb", 5);
        if (!ToWide(file, wide))
            return HRESULT_FROM_WIN32(ERROR_NO_UNICODE_TRANSLATION);
        if (FAILED(hr = LoadTypeLib(wide.c_str(), library)))
            return hr;
    }
    *path = SysAllocStringLen(wide.data(), UINT(wide.size()));
    if (!*path) {
        (*library)->Release();
        *library = nullptr;
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

HRESULT RegisterTypeLibrary(HINSTANCE module) {
    BstrHolder path;
    Ref<ITypeLib> library;
    HRESULT hr = LoadModuleTypeLibrary(module, path.put(), library.put());
    if (FAILED(hr))
        return hr;
    // The help directory: the path up to and with its last separator.
    std::u16string directory(path.get(), std::min<size_t>(SysStringLen(path.get()), MAX_PATH - 1));
    size_t cut = directory.find_last_of(u"\\/:");
    directory.resize(cut == std::u16string::npos ? 0 : cut + 1);
    return RegisterTypeLib(library.get(), path.get(), directory.c_str());
}

HRESULT UnregisterTypeLibrary(HINSTANCE module) {
    BstrHolder path;
    Ref<ITypeLib> library;
    HRESULT hr = LoadModuleTypeLibrary(module, path.put(), library.put());
    if (FAILED(hr))
        return hr;
    TLIBATTR* attr = nullptr;
    if (FAILED(hr = library->GetLibAttr(&attr)))
        return hr;
    hr = UnRegisterTypeLib(attr->guid, attr->wMajorVerNum, attr->wMinorVerNum, attr->lcid,
                           attr->syskind);
    library->ReleaseTLibAttr(attr);
    return hr;
}

namespace {

// Each class's registration hook in table order (only the filtered class's, when a
// filter is given); the first failure ends the walk. No class lists component
// categories, so there are none to register or unregister beside the hooks.
HRESULT runClassHooks(BOOL bRegister, const CLSID* filter) {
    for (ClassEntry* entry = _pModule->m_pObjMap; entry && entry->pclsid; ++entry) {
        if (filter && !IsEqualGUID(*filter, *entry->pclsid))
            continue;
        if (HRESULT hr = entry->RegistrationHook(bRegister); FAILED(hr))
            return hr;
    }
    return S_OK;
}

} // namespace

HRESULT RegisterModule(bool registerLibrary, const CLSID* filter) {
    HRESULT hr = runClassHooks(TRUE, filter);
    if (FAILED(hr) || !registerLibrary)
        return hr;
    return RegisterTypeLibrary(static_cast<HINSTANCE>(moduleInstanceHandle()));
}

HRESULT UnregisterModule(bool unregisterLibrary, const CLSID* filter) {
    HRESULT hr = runClassHooks(FALSE, filter);
    if (FAILED(hr) || !unregisterLibrary)
        return hr;
    return UnregisterTypeLibrary(static_cast<HINSTANCE>(moduleInstanceHandle()));
}

} // namespace orvik
