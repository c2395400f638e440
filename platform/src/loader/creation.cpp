// platform/src/loader/creation.cpp: creating an object by name, and saying why not
//
// OrvikCreateInstanceByName is what the C++ layer, the Python client and the tools
// share, so that all of them find a class the same way and explain a failure in the
// same words. The registry is asked first. When it does not know the class, the
// module file named by ORVIK_MODULE (or the one the caller's install recorded) can
// serve it: a programmatic identifier's class part is looked up among the classes of
// that file's own type library. A failure is answered with the code of the step
// that failed and described from what the store and the files show: no store, a
// store that cannot be read, a class that is not registered, a registered module
// file that is missing or not a module, a fallback file that is missing.

#include "orvik/platform/boundary.h"
#include "loader/load_failure.h"

#include "orvik/platform.h"
#include "orvik/platform/bstr_holder.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/registry_helpers.h"
#include "orvik/platform/result_text.h"
#include "orvik/platform/utf.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

thread_local std::string t_loadFailure;

bool fileExists(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

std::string words(HRESULT hr) {
    std::string text(OrvikResultCodeWords(hr, nullptr, 0), '\0');
    OrvikResultCodeWords(hr, text.data(), DWORD(text.size() + 1));
    return text;
}

std::string guidText(REFCLSID clsid) {
    OLECHAR text[CHARS_IN_GUID];
    StringFromGUID2(clsid, text, CHARS_IN_GUID);
    return orvik::utf8Or(text);
}

std::string storePath() {
    std::string path(OrvikGetRegistryStorePath(nullptr, 0), '\0');
    OrvikGetRegistryStorePath(path.data(), DWORD(path.size() + 1));
    return path;
}

// "Vendor.Class" or "Vendor.Class.1": the class part.
std::string classPart(const std::string& progId) {
    size_t dot = progId.find('.');
    if (dot == std::string::npos)
        return progId;
    std::string name = progId.substr(dot + 1);
    return name.substr(0, name.find('.'));
}

// One attempt at creation, with what is known for the report.
struct Creation {
    std::string name;    // as the caller gave it
    std::string display; // the class as the report names it
    CLSID clsid{};
    bool haveClsid = false;
    std::string registryCause; // why the registry could not serve the class
    std::string fallbackCause; // why the fallback module could not either
    std::string fallbackPath;
};

// The store's state when it did not know a class: absent, unreadable or plain.
std::string notRegisteredCause() {
    std::string store = storePath();
    orvik::RegKey root;
    LSTATUS e = RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, root.put());
    if (e != ERROR_SUCCESS)
        return "the registry store " + store + " cannot be read: " + words(HRESULT_FROM_WIN32(e)) +
               "; move it aside or set ORVIK_REGISTRY to another store, then register the module";
    if (!fileExists(store))
        return "it is not registered: there is no registry store at " + store + " yet";
    return "it is not registered in the registry store " + store;
}

// Why a class the registry names could not be loaded from its module file.
std::string moduleCause(REFCLSID clsid, HRESULT hr) {
    std::string path;
    orvik::regQueryString(HKEY_CLASSES_ROOT,
                          ("CLSID\\" + guidText(clsid) + "\\InprocServer32").c_str(), nullptr,
                          path);
    std::string where = "it is registered in " + storePath() + " to the module " + path;
    if (hr == CO_E_DLLNOTFOUND && !fileExists(path))
        return where + ", which does not exist; register the module again from where it is now";
    if (hr == CO_E_DLLNOTFOUND || hr == CO_E_ERRORINDLL)
        return where + ", which is not a module that can be loaded (" + orvik::lastLoadFailure() +
               "); register the right file";
    return "";
}

// The class named by the class part of a programmatic identifier, among the classes
// of the module file's type library; its name, when the class is known by identifier.
HRESULT classInModule(const std::string& modulePath, Creation& c) {
    std::optional<std::u16string> wide = orvik::toUtf16(modulePath);
    orvik::Ref<ITypeLib> library;
    if (!wide || FAILED(LoadTypeLib(wide->c_str(), library.put())))
        return TYPE_E_CANTLOADLIBRARY;
    std::string wanted = classPart(c.name);
    for (UINT i = 0, n = library->GetTypeInfoCount(); i < n; ++i) {
        TYPEKIND kind;
        orvik::BstrHolder name;
        if (FAILED(library->GetTypeInfoType(i, &kind)) || kind != TKIND_COCLASS ||
            FAILED(library->GetDocumentation(INT(i), name.put(), nullptr, nullptr, nullptr)))
            continue;
        std::string className = orvik::utf8Or(name.get());
        orvik::Ref<ITypeInfo> info;
        TYPEATTR* attr = nullptr;
        if (FAILED(library->GetTypeInfo(i, info.put())) || FAILED(info->GetTypeAttr(&attr)))
            continue;
        CLSID guid = attr->guid;
        info->ReleaseTypeAttr(attr);
        if (c.haveClsid ? IsEqualGUID(guid, c.clsid) != 0
                        : lstrcmpiA(className.c_str(), wanted.c_str()) == 0) {
            c.clsid = guid;
            c.haveClsid = true;
            c.display = c.name + " (class " + className + ", " + guidText(guid) + ")";
            return S_OK;
        }
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

// The module file asked directly, as the registry would have had it.
HRESULT createFromModule(Creation& c, REFIID riid, void** ppv) {
    const char* fromEnv = std::getenv("ORVIK_MODULE");
    std::string source = fromEnv && *fromEnv ? "ORVIK_MODULE" : "the installed module";
    const std::string& path = c.fallbackPath;
    if (!fileExists(path)) {
        c.fallbackCause = source + " names " + path + ", which does not exist";
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    }
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, 0);
    if (!module) {
        c.fallbackCause = source + " names " + path +
                          ", which is not a module that can be loaded (" +
                          orvik::lastLoadFailure() + ")";
        return HRESULT_FROM_WIN32(GetLastError());
    }
    using Entry = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
    // Through a plain function type, as a symbol looked up by name must be.
    auto entry = reinterpret_cast<Entry>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    if (!entry) {
        FreeLibrary(module);
        c.fallbackCause = source + " names " + path + ", which has no DllGetClassObject";
        return CO_E_ERRORINDLL;
    }
    const bool byIdentifier = c.haveClsid;
    HRESULT hr = classInModule(path, c);
    if (FAILED(hr)) {
        FreeLibrary(module);
        c.fallbackCause = source + " names " + path + ", which " +
                          (hr == CLASS_E_CLASSNOTAVAILABLE ? "has no such class"
                                                           : "carries no readable type library");
        if (hr != CLASS_E_CLASSNOTAVAILABLE)
            return hr;
        return byIdentifier ? REGDB_E_CLASSNOTREG : CO_E_CLASSSTRING;
    }
    // The module stays loaded for the rest of the process, as a registered one would
    // until the process lets it go.
    orvik::Ref<IClassFactory> factory;
    hr = entry(c.clsid, IID_IClassFactory, factory.putVoid());
    if (SUCCEEDED(hr))
        hr = factory->CreateInstance(nullptr, riid, ppv);
    if (FAILED(hr))
        c.fallbackCause = "the module " + path + " answered " + words(hr);
    return hr;
}

HRESULT create(Creation& c, REFIID riid, void** ppv) {
    std::optional<std::u16string> wide = orvik::toUtf16(c.name);
    if (!wide || c.name.empty()) {
        c.registryCause = "that is not a programmatic identifier or a class identifier";
        return CO_E_CLASSSTRING;
    }
    HRESULT hr;
    if (c.name.front() == '{') {
        hr = CLSIDFromString(wide->c_str(), &c.clsid);
        if (FAILED(hr)) {
            c.registryCause = "that is not a class identifier";
            return hr;
        }
        c.haveClsid = true;
        LPOLESTR progId = nullptr;
        if (SUCCEEDED(ProgIDFromCLSID(c.clsid, &progId))) {
            c.display = orvik::utf8Or(progId) + " (" + c.name + ")";
            CoTaskMemFree(progId);
        }
    } else {
        hr = CLSIDFromProgID(wide->c_str(), &c.clsid);
        c.haveClsid = SUCCEEDED(hr);
        if (c.haveClsid)
            c.display = c.name + " (" + guidText(c.clsid) + ")";
    }
    if (c.haveClsid) {
        hr = CoCreateInstance(c.clsid, nullptr, CLSCTX_INPROC_SERVER, riid, ppv);
        if (hr != REGDB_E_CLASSNOTREG) {
            if (FAILED(hr))
                c.registryCause = moduleCause(c.clsid, hr);
            return hr;
        }
    }
    c.registryCause = notRegisteredCause();
    if (c.fallbackPath.empty())
        return hr;
    return createFromModule(c, riid, ppv);
}

} // namespace

void orvik::noteLoadFailure(const char* text) {
    try {
        t_loadFailure = text ? text : "";
    } catch (...) {
        // A note that cannot be kept only makes a report shorter.
    }
}

const std::string& orvik::lastLoadFailure() {
    return t_loadFailure;
}

STDAPI OrvikCreateInstanceByName(LPCOLESTR name, LPCSTR installedModule, REFIID riid, LPVOID* ppv,
                                 LPSTR report, DWORD reportSize) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        if (report && reportSize)
            report[0] = 0;
        if (!ppv || !name)
            return E_INVALIDARG;
        *ppv = nullptr;
        Creation c;
        c.name = orvik::utf8Or(name);
        c.display = c.name;
        if (const char* fromEnv = std::getenv("ORVIK_MODULE"); fromEnv && *fromEnv)
            c.fallbackPath = fromEnv;
        else if (installedModule)
            c.fallbackPath = installedModule;
        HRESULT hr = create(c, riid, ppv);
        if (SUCCEEDED(hr) || !report || !reportSize)
            return hr;
        std::string text = c.display + " cannot be created: " + c.registryCause;
        if (!c.fallbackCause.empty())
            text += "; " + c.fallbackCause;
        if (hr == REGDB_E_CLASSNOTREG || hr == CO_E_CLASSSTRING ||
            hr == HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND))
            text += ". Register the module: orvik-regsvr PATH/liborvik.so (or python3 -m orvik "
                    "register PATH/liborvik.so)";
        if (!c.fallbackPath.empty() && !c.fallbackCause.empty())
            text += ", or set ORVIK_MODULE to the module file";
        text += ".";
        size_t n = std::min(text.size(), size_t(reportSize - 1));
        std::memcpy(report, text.data(), n);
        report[n] = 0;
        return hr;
    });
}
