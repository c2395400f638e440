// platform/src/typelib_objects.cpp: the type library and type information objects
//
// The objects serve a read-only Library; a type-information object keeps its
// library object alive. Structures handed out (TYPEATTR, FUNCDESC, TLIBATTR) are
// allocated per call and remembered until the matching Release call, which ignores
// a pointer it did not hand out. Counts are atomic: type information is shared by
// objects in different apartments.

#include "typelib/typelib_objects.h"

#include "core/boundary.h"

#include "orvik/platform/bstr.h"
#include "orvik/platform/ref.h"

#include <atomic>
#include <deque>
#include <map>
#include <mutex>

namespace orvik::tlb {

namespace {

char16_t fold(char16_t c) {
    return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c;
}

bool sameName(const std::u16string& a, LPCOLESTR b) {
    if (!b)
        return false;
    size_t i = 0;
    for (; i < a.size(); ++i)
        if (!b[i] || fold(a[i]) != fold(b[i]))
            return false;
    return b[i] == 0;
}

BSTR newString(const std::u16string& s) {
    return SysAllocStringLen(s.data(), UINT(s.size()));
}

// Everything one FUNCDESC points into, freed together.
struct FuncDescBlock {
    FUNCDESC desc{};
    std::vector<ELEMDESC> params;
    std::deque<TYPEDESC> typeDescs;
    std::deque<PARAMDESCEX> defaults;
    ~FuncDescBlock() {
        for (PARAMDESCEX& ex : defaults)
            VariantClear(&ex.varDefaultValue);
    }
};

// A stored default as the variant a caller receives. The integer members of a
// variant share their low bytes, so one 64-bit store serves every integer type.
HRESULT defaultVariant(const DefaultValue& d, VARIANT& out) {
    VariantInit(&out);
    switch (d.vt) {
    case VT_R4:
        out.fltVal = float(d.real);
        break;
    case VT_R8:
        out.dblVal = d.real;
        break;
    case VT_BSTR:
        out.bstrVal = newString(d.text);
        if (!out.bstrVal)
            return E_OUTOFMEMORY;
        break;
    default:
        out.llVal = d.integer;
        break;
    }
    out.vt = d.vt;
    return S_OK;
}

// IUnknown of an object shared across threads: an atomic count, and the identity
// of Primary and of every interface it derives from that is listed in Also.
template <class Primary, class... Also> class SharedObject : public Primary {
public:
    virtual ~SharedObject() = default;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) noexcept override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, iidOf<Primary>()) &&
            !(IsEqualGUID(iid, iidOf<Also>()) || ...))
            return E_NOINTERFACE;
        *ppv = static_cast<Primary*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() noexcept override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() noexcept override {
        ULONG n = --m_refs;
        if (n == 0)
            delete this;
        return n;
    }

private:
    std::atomic<ULONG> m_refs{1};
};

class CTypeLib;

class CTypeInfo final : public SharedObject<ITypeInfo2, ITypeInfo> {
public:
    CTypeInfo(CTypeLib* lib, const Library& data, size_t index);
    ~CTypeInfo() override;

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!ppTypeAttr)
                return E_INVALIDARG;
            auto* a = new (std::nothrow) TYPEATTR{};
            if (!a)
                return E_OUTOFMEMORY;
            a->guid = type().guid;
            a->lcid = m_data.lcid;
            a->memidConstructor = MEMBERID_NIL;
            a->memidDestructor = MEMBERID_NIL;
            a->cbSizeInstance = type().instanceSize;
            a->typekind = type().kind;
            a->cFuncs = WORD(type().funcs.size());
            a->cImplTypes = WORD(type().implTypes.size());
            a->cbSizeVft = WORD(type().vtableSlots * sizeof(void*));
            a->cbAlignment = type().alignment;
            a->wTypeFlags = type().flags;
            a->wMajorVerNum = type().majorVersion;
            a->wMinorVerNum = type().minorVersion;
            std::lock_guard lock(m_mutex);
            m_attrs.emplace(a, std::unique_ptr<TYPEATTR>(a));
            *ppTypeAttr = a;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetTypeComp(ITypeComp** ppTComp) noexcept override {
        if (ppTComp)
            *ppTComp = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetFuncDesc(UINT index, FUNCDESC** ppFuncDesc) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!ppFuncDesc)
                return E_INVALIDARG;
            if (index >= type().funcs.size())
                return TYPE_E_ELEMENTNOTFOUND;
            const Func& f = type().funcs[index];
            auto block = std::make_unique<FuncDescBlock>();
            FUNCDESC& d = block->desc;
            d.memid = f.memid;
            d.funckind = f.funckind;
            d.invkind = f.invkind;
            d.callconv = f.callconv;
            d.cParams = SHORT(f.params.size());
            d.oVft = SHORT(f.slot * int(sizeof(void*)));
            d.wFuncFlags = f.funcFlags;
            fillTypeDesc(*block, f.returnType, d.elemdescFunc.tdesc);
            block->params.resize(f.params.size());
            for (size_t i = 0; i < f.params.size(); ++i) {
                const Param& p = f.params[i];
                ELEMDESC& e = block->params[i];
                fillTypeDesc(*block, p.type, e.tdesc);
                e.paramdesc.wParamFlags = p.flags;
                if (p.hasDefault) {
                    PARAMDESCEX& ex = block->defaults.emplace_back();
                    ex.cBytes = sizeof ex;
                    VariantInit(&ex.varDefaultValue);
                    HRESULT hr = defaultVariant(p.defaultValue, ex.varDefaultValue);
                    if (FAILED(hr))
                        return hr;
                    e.paramdesc.pparamdescex = &ex;
                }
            }
            d.lprgelemdescParam = block->params.empty() ? nullptr : block->params.data();
            std::lock_guard lock(m_mutex);
            *ppFuncDesc = &d;
            m_funcs.emplace(&d, std::move(block));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT, VARDESC** ppVarDesc) noexcept override {
        if (!ppVarDesc)
            return E_INVALIDARG;
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                                       UINT* pcNames) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!rgBstrNames || !pcNames)
                return E_INVALIDARG;
            const Func* f = findFunc(memid);
            if (!f)
                return TYPE_E_ELEMENTNOTFOUND;
            UINT n = 0;
            if (n < cMaxNames)
                rgBstrNames[n++] = newString(f->name);
            for (const Param& p : f->params)
                if (n < cMaxNames && !p.name.empty())
                    rgBstrNames[n++] = newString(p.name);
            *pcNames = n;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeOfImplType(UINT index,
                                                   HREFTYPE* pRefType) noexcept override {
        if (!pRefType)
            return E_INVALIDARG;
        if (index >= type().implTypes.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *pRefType = type().implTypes[index].hreftype;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetImplTypeFlags(UINT index, INT* pImplTypeFlags) noexcept override {
        if (!pImplTypeFlags)
            return E_INVALIDARG;
        if (index >= type().implTypes.size())
            return TYPE_E_ELEMENTNOTFOUND;
        *pImplTypeFlags = type().implTypes[index].flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames,
                                            MEMBERID* pMemId) noexcept override;
    HRESULT STDMETHODCALLTYPE Invoke(PVOID, MEMBERID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) noexcept override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName,
                                               BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                               BSTR* pBstrHelpFile) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            const std::u16string* name = &type().name;
            const std::u16string* doc = &type().doc;
            if (memid != MEMBERID_NIL) {
                const Func* f = findFunc(memid);
                if (!f)
                    return TYPE_E_ELEMENTNOTFOUND;
                name = &f->name;
                doc = &f->doc;
            }
            if (pBstrName)
                *pBstrName = newString(*name);
            if (pBstrDocString)
                *pBstrDocString = doc->empty() ? nullptr : newString(*doc);
            if (pdwHelpContext)
                *pdwHelpContext = 0;
            if (pBstrHelpFile)
                *pBstrHelpFile = nullptr;
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID, INVOKEKIND, BSTR*, BSTR*,
                                          WORD*) noexcept override {
        return TYPE_E_BADMODULEKIND;
    }
    HRESULT STDMETHODCALLTYPE GetRefTypeInfo(HREFTYPE hRefType,
                                             ITypeInfo** ppTInfo) noexcept override;
    HRESULT STDMETHODCALLTYPE AddressOfMember(MEMBERID, INVOKEKIND, PVOID* ppv) noexcept override {
        if (ppv)
            *ppv = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown*, REFIID, PVOID* ppvObj) noexcept override {
        if (ppvObj)
            *ppvObj = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetMops(MEMBERID, BSTR* pBstrMops) noexcept override {
        if (pBstrMops)
            *pBstrMops = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetContainingTypeLib(ITypeLib** ppTLib,
                                                   UINT* pIndex) noexcept override;
    void STDMETHODCALLTYPE ReleaseTypeAttr(TYPEATTR* pTypeAttr) noexcept override {
        std::lock_guard lock(m_mutex);
        m_attrs.erase(pTypeAttr);
    }
    void STDMETHODCALLTYPE ReleaseFuncDesc(FUNCDESC* pFuncDesc) noexcept override {
        std::lock_guard lock(m_mutex);
        m_funcs.erase(pFuncDesc);
    }
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC*) noexcept override {}

    // ITypeInfo2
    HRESULT STDMETHODCALLTYPE GetTypeKind(TYPEKIND* pTypeKind) noexcept override {
        if (!pTypeKind)
            return E_INVALIDARG;
        *pTypeKind = type().kind;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeFlags(ULONG* pTypeFlags) noexcept override {
        if (!pTypeFlags)
            return E_INVALIDARG;
        *pTypeFlags = type().flags;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFuncIndexOfMemId(MEMBERID memid, INVOKEKIND invKind,
                                                  UINT* pFuncIndex) noexcept override {
        if (!pFuncIndex)
            return E_INVALIDARG;
        for (size_t i = 0; i < type().funcs.size(); ++i)
            if (type().funcs[i].memid == memid && type().funcs[i].invkind == invKind) {
                *pFuncIndex = UINT(i);
                return S_OK;
            }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetVarIndexOfMemId(MEMBERID, UINT*) noexcept override {
        return TYPE_E_ELEMENTNOTFOUND;
    }
    // The only custom data is each function's own help string.
    HRESULT STDMETHODCALLTYPE GetCustData(REFGUID, VARIANT* v) noexcept override {
        return noData(v);
    }
    HRESULT STDMETHODCALLTYPE GetFuncCustData(UINT index, REFGUID guid,
                                              VARIANT* v) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            HRESULT hr = noData(v);
            if (FAILED(hr))
                return hr;
            if (index >= type().funcs.size())
                return TYPE_E_ELEMENTNOTFOUND;
            if (IsEqualGUID(guid, ORVIK_CUSTDATA_FUNC_HELPSTRING) &&
                !type().funcs[index].doc.empty()) {
                v->vt = VT_BSTR;
                v->bstrVal = newString(type().funcs[index].doc);
            }
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetParamCustData(UINT, UINT, REFGUID, VARIANT* v) noexcept override {
        return noData(v);
    }
    HRESULT STDMETHODCALLTYPE GetVarCustData(UINT, REFGUID, VARIANT* v) noexcept override {
        return noData(v);
    }
    HRESULT STDMETHODCALLTYPE GetImplTypeCustData(UINT, REFGUID, VARIANT* v) noexcept override {
        return noData(v);
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation2(MEMBERID memid, LCID, BSTR* pbstrHelpString,
                                                DWORD* pdwHelpStringContext,
                                                BSTR* pbstrHelpStringDll) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (pdwHelpStringContext)
                *pdwHelpStringContext = 0;
            if (pbstrHelpStringDll)
                *pbstrHelpStringDll = nullptr;
            return GetDocumentation(memid, nullptr, pbstrHelpString, nullptr, nullptr);
        });
    }
    HRESULT STDMETHODCALLTYPE GetAllCustData(CUSTDATA* p) noexcept override { return noData(p); }
    HRESULT STDMETHODCALLTYPE GetAllFuncCustData(UINT, CUSTDATA* p) noexcept override {
        return noData(p);
    }
    HRESULT STDMETHODCALLTYPE GetAllParamCustData(UINT, UINT, CUSTDATA* p) noexcept override {
        return noData(p);
    }
    HRESULT STDMETHODCALLTYPE GetAllVarCustData(UINT, CUSTDATA* p) noexcept override {
        return noData(p);
    }
    HRESULT STDMETHODCALLTYPE GetAllImplTypeCustData(UINT, CUSTDATA* p) noexcept override {
        return noData(p);
    }

private:
    const Type& type() const { return m_data.types[m_index]; }

    static HRESULT noData(VARIANT* v) {
        if (!v)
            return E_INVALIDARG;
        VariantInit(v);
        return S_OK;
    }
    static HRESULT noData(CUSTDATA* p) {
        if (!p)
            return E_INVALIDARG;
        p->cCustData = 0;
        p->prgCustData = nullptr;
        return S_OK;
    }

    const Func* findFunc(MEMBERID memid) const {
        for (const Func& f : type().funcs)
            if (f.memid == memid)
                return &f;
        return nullptr;
    }

    void fillTypeDesc(FuncDescBlock& block, int nodeIndex, TYPEDESC& out) const {
        const TypeNode& n = m_data.nodes[size_t(nodeIndex)];
        out.vt = n.vt;
        if (n.vt == VT_PTR || n.vt == VT_SAFEARRAY) {
            TYPEDESC& target = block.typeDescs.emplace_back();
            fillTypeDesc(block, n.target, target);
            out.lptdesc = &target;
        } else if (n.vt == VT_USERDEFINED) {
            out.hreftype = n.hreftype;
        }
    }

    CTypeLib* m_lib;
    const Library& m_data;
    size_t m_index;
    std::mutex m_mutex;
    std::map<TYPEATTR*, std::unique_ptr<TYPEATTR>> m_attrs;
    std::map<FUNCDESC*, std::unique_ptr<FuncDescBlock>> m_funcs;
};

class CTypeLib final : public SharedObject<ITypeLib> {
public:
    explicit CTypeLib(std::shared_ptr<const Library> lib) : m_lib(std::move(lib)) {}

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
            if (index != -1) {
                if (index < 0 || size_t(index) >= m_lib->types.size())
                    return TYPE_E_ELEMENTNOTFOUND;
                name = &m_lib->types[size_t(index)].name;
                doc = &m_lib->types[size_t(index)].doc;
            }
            if (pBstrName)
                *pBstrName = newString(*name);
            if (pBstrDocString)
                *pBstrDocString = doc->empty() ? nullptr : newString(*doc);
            if (pdwHelpContext)
                *pdwHelpContext = 0;
            if (pBstrHelpFile)
                *pBstrHelpFile = nullptr;
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

    const Library& data() const { return *m_lib; }

    // The type information a reference handle of this library names.
    HRESULT resolve(HREFTYPE href, ITypeInfo** out) {
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
    std::mutex m_mutex;
    std::map<TLIBATTR*, std::unique_ptr<TLIBATTR>> m_attrs;
};

CTypeInfo::CTypeInfo(CTypeLib* lib, const Library& data, size_t index)
    : m_lib(lib), m_data(data), m_index(index) {
    m_lib->AddRef();
}

CTypeInfo::~CTypeInfo() {
    m_lib->Release();
}

HRESULT STDMETHODCALLTYPE CTypeInfo::GetRefTypeInfo(HREFTYPE hRefType,
                                                    ITypeInfo** ppTInfo) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        if (!ppTInfo)
            return E_INVALIDARG;
        *ppTInfo = nullptr;
        return m_lib->resolve(hRefType, ppTInfo);
    });
}

HRESULT STDMETHODCALLTYPE CTypeInfo::GetContainingTypeLib(ITypeLib** ppTLib,
                                                          UINT* pIndex) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        if (ppTLib) {
            *ppTLib = m_lib;
            m_lib->AddRef();
        }
        if (pIndex)
            *pIndex = UINT(m_index);
        return S_OK;
    });
}

// The first name is a member of this interface or of the interfaces it derives
// from, compared without regard to case; further names are that member's
// parameters. Unknown names get MEMBERID_NIL and DISP_E_UNKNOWNNAME.
HRESULT STDMETHODCALLTYPE CTypeInfo::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames,
                                                   MEMBERID* pMemId) noexcept {
    return orvik::guardResult([&]() -> HRESULT {
        if (!rgszNames || !pMemId || cNames == 0)
            return E_INVALIDARG;
        for (UINT i = 0; i < cNames; ++i)
            pMemId[i] = MEMBERID_NIL;
        for (const Func& f : type().funcs) {
            if (!sameName(f.name, rgszNames[0]))
                continue;
            pMemId[0] = f.memid;
            HRESULT hr = S_OK;
            for (UINT n = 1; n < cNames; ++n) {
                for (size_t p = 0; p < f.params.size() && pMemId[n] == MEMBERID_NIL; ++p)
                    if (sameName(f.params[p].name, rgszNames[n]))
                        pMemId[n] = MEMBERID(p);
                if (pMemId[n] == MEMBERID_NIL)
                    hr = DISP_E_UNKNOWNNAME;
            }
            return hr;
        }
        if (type().kind == TKIND_INTERFACE && !type().implTypes.empty()) {
            Ref<ITypeInfo> base;
            HRESULT hr = GetRefTypeInfo(type().implTypes[0].hreftype, base.put());
            if (SUCCEEDED(hr))
                return base->GetIDsOfNames(rgszNames, cNames, pMemId);
            if (hr == E_OUTOFMEMORY)
                return hr; // not knowing the base is no proof that the name is unknown
        }
        return DISP_E_UNKNOWNNAME;
    });
}

} // namespace

HRESULT createTypeLib(std::shared_ptr<const Library> lib, ITypeLib** out) {
    if (!out)
        return E_INVALIDARG;
    *out = new (std::nothrow) CTypeLib(std::move(lib));
    return *out ? S_OK : E_OUTOFMEMORY;
}

HRESULT standardTypeLib(ITypeLib** out) {
    // The built-in library lives for the whole process; the shared pointer does not
    // own it.
    return createTypeLib(std::shared_ptr<const Library>(&standardLibrary(), [](const Library*) {}),
                         out);
}

} // namespace orvik::tlb
