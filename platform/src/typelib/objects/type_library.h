// platform/src/typelib/objects/type_library.h: ITypeLib over a loaded library
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_TYPE_LIBRARY_H
#define ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_TYPE_LIBRARY_H

#include "typelib/objects/objects.h"
#include "typelib/objects/type_info.h"

namespace orvik::tlb {

class CTypeLib;

// Libraries loaded from files, while something holds them. A library's count goes
// to zero only under this lock, which takes it out of the map; a library found in
// the map therefore still has a reference to add to.
extern std::mutex g_loadedLock;
extern std::map<LoadedFile, CTypeLib*> g_loaded;

class CTypeLib final : public SharedObject<ITypeLib2, ITypeLib> {
public:
    explicit CTypeLib(std::shared_ptr<const Library> lib) : m_lib(std::move(lib)) {}
    CTypeLib(std::shared_ptr<const Library> lib, const LoadedFile& file)
        : m_lib(std::move(lib)), m_file(file), m_loadedFromFile(true) {}

    ULONG STDMETHODCALLTYPE Release() noexcept override {
        if (!m_loadedFromFile)
            return SharedObject::Release();
        ULONG n;
        {
            std::lock_guard lock(g_loadedLock);
            n = --m_refs;
            if (n == 0) {
                auto at = g_loaded.find(m_file);
                if (at != g_loaded.end() && at->second == this)
                    g_loaded.erase(at);
            }
        }
        if (n == 0)
            delete this;
        return n;
    }
    /// A new reference, taken under the loaded-library lock.
    void addLoadedReference() { ++m_refs; }

    UINT STDMETHODCALLTYPE GetTypeInfoCount() noexcept override {
        return UINT(m_lib->types.size());
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** ppTInfo) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!ppTInfo)
                return E_INVALIDARG;
            *ppTInfo = nullptr;
            if (index >= m_lib->types.size())
                return TYPE_E_ELEMENTNOTFOUND;
            *ppTInfo = new (std::nothrow) CTypeInfo(this, *m_lib, index);
            return *ppTInfo ? S_OK : E_OUTOFMEMORY;
        });
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* pTKind) noexcept override {
        if (!pTKind)
            return E_INVALIDARG;
        if (index >= m_lib->types.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *pTKind = m_lib->types[index].kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid,
                                                ITypeInfo** ppTinfo) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!ppTinfo)
                return E_INVALIDARG;
            *ppTinfo = nullptr;
            for (size_t i = 0; i < m_lib->types.size(); ++i)
                if (IsEqualGUID(m_lib->types[i].guid, guid))
                    return GetTypeInfo(UINT(i), ppTinfo);
            return TYPE_E_ELEMENTNOTFOUND;
        });
    }
    HRESULT STDMETHODCALLTYPE GetLibAttr(TLIBATTR** ppTLibAttr) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!ppTLibAttr)
                return E_INVALIDARG;
            auto* a = new (std::nothrow) TLIBATTR{};
            if (!a)
                return E_OUTOFMEMORY;
            a->guid = m_lib->libid;
            a->lcid = m_lib->lcid;
            a->syskind = m_lib->syskind;
            a->wMajorVerNum = m_lib->majorVersion;
            a->wMinorVerNum = m_lib->minorVersion;
            a->wLibFlags = m_lib->flags;
            std::lock_guard lock(m_mutex);
            m_attrs.emplace(a, std::unique_ptr<TLIBATTR>(a));
            *ppTLibAttr = a;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) noexcept override {
        if (ppTComp)
            *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(INT index, BSTR* pBstrName, BSTR* pBstrDocString,
                                               DWORD* pdwHelpContext,
                                               BSTR* pBstrHelpFile) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            const std::u16string *name = &m_lib->name, *doc = &m_lib->doc;
            DWORD context = m_lib->helpContext;
            if (index != -1) {
                if (index < 0 || size_t(index) >= m_lib->types.size())
                    return TYPE_E_ELEMENTNOTFOUND;
                name = &m_lib->types[size_t(index)].name;
                doc = &m_lib->types[size_t(index)].doc;
                context = m_lib->types[size_t(index)].helpContext;
            }
            if (pBstrName)
                *pBstrName = newString(*name);
            if (pBstrDocString)
                *pBstrDocString = doc->empty() ? nullptr : newString(*doc);
            if (pdwHelpContext)
                *pdwHelpContext = context;
            if (pBstrHelpFile)
                *pBstrHelpFile = m_lib->helpFile.empty() ? nullptr : newString(m_lib->helpFile);
            return S_OK;
        });
    }
    // A name is known when a type, a member or a parameter has it; the caller's
    // buffer then gets the stored spelling.
    HRESULT STDMETHODCALLTYPE IsName(LPOLESTR szNameBuf, ULONG, BOOL* pfName) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!szNameBuf || !pfName)
                return E_INVALIDARG;
            *pfName = FALSE;
            auto match = [&](const std::u16string& n) {
                if (*pfName || !sameName(n, szNameBuf))
                    return;
                std::copy(n.begin(), n.end(), szNameBuf);
                *pfName = TRUE;
            };
            for (const Type& t : m_lib->types) {
                match(t.name);
                for (const Func& f : t.funcs) {
                    match(f.name);
                    for (const Param& p : f.params)
                        match(p.name);
                }
                for (const Var& v : t.vars)
                    match(v.name);
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE FindName(LPOLESTR szNameBuf, ULONG, ITypeInfo** ppTInfo,
                                       MEMBERID* rgMemId, USHORT* pcFound) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!szNameBuf || !ppTInfo || !rgMemId || !pcFound)
                return E_INVALIDARG;
            USHORT room = *pcFound, found = 0;
            for (size_t i = 0; i < m_lib->types.size() && found < room; ++i) {
                const Type& t = m_lib->types[i];
                MEMBERID memid = MEMBERID_NIL;
                bool hit = sameName(t.name, szNameBuf);
                for (const Func& f : t.funcs)
                    if (!hit && sameName(f.name, szNameBuf)) {
                        hit = true;
                        memid = f.memid;
                    }
                for (const Var& v : t.vars)
                    if (!hit && sameName(v.name, szNameBuf)) {
                        hit = true;
                        memid = v.memid;
                    }
                if (!hit)
                    continue;
                HRESULT hr = GetTypeInfo(UINT(i), &ppTInfo[found]);
                if (FAILED(hr))
                    return hr;
                rgMemId[found++] = memid;
            }
            *pcFound = found;
            return S_OK;
        });
    }
    void STDMETHODCALLTYPE ReleaseTLibAttr(TLIBATTR* pTLibAttr) noexcept override {
        std::lock_guard lock(m_mutex);
        m_attrs.erase(pTLibAttr);
    }

    // ITypeLib2
    HRESULT STDMETHODCALLTYPE GetCustData(REFGUID guid, VARIANT* v) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!v)
                return E_INVALIDARG;
            VariantInit(v);
            for (const CustDatum& d : m_lib->custData)
                if (IsEqualGUID(d.guid, guid))
                    return defaultVariant(d.value, *v);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetLibStatistics(ULONG* pcUniqueNames,
                                               ULONG* pcchUniqueNames) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            std::set<std::u16string> names;
            for (const Type& t : m_lib->types) {
                names.insert(t.name);
                for (const Func& f : t.funcs) {
                    names.insert(f.name);
                    for (const Param& p : f.params)
                        names.insert(p.name);
                }
                for (const Var& v : t.vars)
                    names.insert(v.name);
            }
            names.erase(std::u16string());
            if (pcUniqueNames)
                *pcUniqueNames = ULONG(names.size());
            if (pcchUniqueNames) {
                ULONG chars = 0;
                for (const std::u16string& n : names)
                    chars += ULONG(n.size());
                *pcchUniqueNames = chars;
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation2(INT index, LCID, BSTR* pbstrHelpString,
                                                DWORD* pdwHelpStringContext,
                                                BSTR* pbstrHelpStringDll) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (index != -1 && (index < 0 || size_t(index) >= m_lib->types.size()))
                return TYPE_E_ELEMENTNOTFOUND;
            if (pdwHelpStringContext)
                *pdwHelpStringContext = index == -1 ? m_lib->helpStringContext
                                                    : m_lib->types[size_t(index)].helpStringContext;
            if (pbstrHelpStringDll)
                *pbstrHelpStringDll = nullptr;
            return GetDocumentation(index, nullptr, pbstrHelpString, nullptr, nullptr);
        });
    }
    HRESULT STDMETHODCALLTYPE GetAllCustData(CUSTDATA* p) noexcept override {
        return orvik::guardResult([&]() -> HRESULT { return allCustData(m_lib->custData, p); });
    }

    const Library& data() const { return *m_lib; }

    // The type information a reference handle of this library names.
    HRESULT resolve(HREFTYPE href, ITypeInfo** out) {
        if (int partner = m_lib->partnerIndex(href); partner >= 0) {
            *out = new (std::nothrow) CTypeInfo(this, *m_lib, size_t(partner), true);
            return *out ? S_OK : E_OUTOFMEMORY;
        }
        if (!(href & 1)) {
            int index = m_lib->localIndex(href);
            if (index < 0)
                return TYPE_E_ELEMENTNOTFOUND;
            return GetTypeInfo(UINT(index), out);
        }
        auto it = m_lib->imports.find(href);
        if (it == m_lib->imports.end())
            return TYPE_E_ELEMENTNOTFOUND;
        Ref<ITypeLib> other;
        HRESULT hr = IsEqualGUID(it->second.libid, kStdOleLibid)
                         ? standardTypeLib(other.put())
                         : LoadRegTypeLib(it->second.libid, it->second.majorVersion,
                                          it->second.minorVersion, 0, other.put());
        if (FAILED(hr))
            return hr;
        return other->GetTypeInfoOfGuid(it->second.guid, out);
    }

private:
    std::shared_ptr<const Library> m_lib;
    LoadedFile m_file;
    bool m_loadedFromFile = false;
    std::mutex m_mutex;
    std::map<TLIBATTR*, std::unique_ptr<TLIBATTR>> m_attrs;
};

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_TYPE_LIBRARY_H
