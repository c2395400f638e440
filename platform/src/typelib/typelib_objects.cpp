// platform/src/typelib_objects.cpp: the type library and type information objects
//
// The objects serve a read-only Library; a type-information object keeps its
// library object alive. Structures handed out (TYPEATTR, FUNCDESC, TLIBATTR) are
// allocated per call and remembered until the matching Release call, which ignores
// a pointer it did not hand out. Counts are atomic: type information is shared by
// objects in different apartments.

#include "typelib/typelib_objects.h"
#include "typelib/typelib_invoke.h"
#include "typelib/name_index.h"

#include "orvik/platform/boundary.h"

#include "orvik/platform/bstr.h"
#include "orvik/platform.h"
#include "orvik/platform/ref.h"

#include <atomic>
#include <deque>
#include <map>
#include <set>
#include <mutex>
#include <tuple>

namespace orvik::tlb {

namespace {

bool sameName(const std::u16string& a, LPCOLESTR b) {
    if (!b)
        return false;
    size_t i = 0;
    for (; i < a.size(); ++i)
        if (!b[i] || NameIndex::folded(a[i]) != NameIndex::folded(b[i]))
            return false;
    return b[i] == 0;
}

BSTR newString(const std::u16string& s) {
    return SysAllocStringLen(s.data(), UINT(s.size()));
}

// The type descriptions and fixed-array descriptions a description points into.
struct TypeDescStore {
    std::deque<TYPEDESC> typeDescs;
    std::deque<std::vector<uint8_t>> arrays; // each an ARRAYDESC with its bounds
};

// Everything one FUNCDESC points into, freed together.
struct FuncDescBlock : TypeDescStore {
    FUNCDESC desc{};
    std::vector<ELEMDESC> params;
    std::deque<PARAMDESCEX> defaults;
    ~FuncDescBlock() {
        for (PARAMDESCEX& ex : defaults)
            VariantClear(&ex.varDefaultValue);
    }
};

// Everything one VARDESC points into, freed together.
struct VarDescBlock : TypeDescStore {
    VARDESC desc{};
    VARIANT value{};
    ~VarDescBlock() { VariantClear(&value); }
};

// A TYPEATTR and the alias description it may point into.
struct AttrBlock : TypeDescStore {
    TYPEATTR attr{};
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

// Every item of data in a caller's CUSTDATA: the array is task memory, each value
// the caller's to clear.
HRESULT allCustData(const CustData& data, CUSTDATA* out) {
    if (!out)
        return E_INVALIDARG;
    out->cCustData = 0;
    out->prgCustData = nullptr;
    if (data.empty())
        return S_OK;
    auto* items = static_cast<CUSTDATAITEM*>(CoTaskMemAlloc(data.size() * sizeof(CUSTDATAITEM)));
    if (!items)
        return E_OUTOFMEMORY;
    for (size_t i = 0; i < data.size(); ++i) {
        items[i].guid = data[i].guid;
        HRESULT hr = defaultVariant(data[i].value, items[i].varValue);
        if (FAILED(hr)) {
            for (size_t j = 0; j < i; ++j)
                VariantClear(&items[j].varValue);
            CoTaskMemFree(items);
            return hr;
        }
    }
    out->cCustData = DWORD(data.size());
    out->prgCustData = items;
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

protected:
    std::atomic<ULONG> m_refs{1};
};

class CTypeLib;

// Libraries loaded from files, while something holds them. A library's count goes
// to zero only under this lock, which takes it out of the map; a library found in
// the map therefore still has a reference to add to.
std::mutex g_loadedLock;
std::map<LoadedFile, CTypeLib*> g_loaded;

class CTypeInfo final : public SharedObject<ITypeInfo2, ITypeInfo> {
public:
    /// The description of type index; with partner, the table description of a
    /// dual interface stored as a dispatch description.
    CTypeInfo(CTypeLib* lib, const Library& data, size_t index, bool partner = false);
    ~CTypeInfo() override;

    HRESULT STDMETHODCALLTYPE GetTypeAttr(TYPEATTR** ppTypeAttr) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!ppTypeAttr)
                return E_INVALIDARG;
            auto block = std::make_unique<AttrBlock>();
            TYPEATTR* a = &block->attr;
            a->guid = type().guid;
            a->lcid = m_data.lcid;
            a->memidConstructor = MEMBERID_NIL;
            a->memidDestructor = MEMBERID_NIL;
            a->cbSizeInstance = type().instanceSize;
            a->typekind = kind();
            a->cFuncs = WORD(type().funcs.size());
            a->cVars = WORD(type().vars.size());
            a->dwReserved = type().helpContext;
            a->cImplTypes = WORD(type().implTypes.size());
            a->cbSizeVft = WORD(type().vtableSlots * sizeof(void*));
            a->cbAlignment = type().alignment;
            a->wTypeFlags = type().flags;
            a->wMajorVerNum = type().majorVersion;
            a->wMinorVerNum = type().minorVersion;
            if (type().aliasType >= 0)
                fillTypeDesc(*block, type().aliasType, a->tdescAlias);
            std::lock_guard lock(m_mutex);
            m_attrs.emplace(a, std::move(block));
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
    HRESULT STDMETHODCALLTYPE GetVarDesc(UINT index, VARDESC** ppVarDesc) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!ppVarDesc)
                return E_INVALIDARG;
            if (index >= type().vars.size())
                return TYPE_E_ELEMENTNOTFOUND;
            const Var& v = type().vars[index];
            auto block = std::make_unique<VarDescBlock>();
            VARDESC& d = block->desc;
            d.memid = v.memid;
            d.wVarFlags = v.flags;
            d.varkind = v.varkind;
            fillTypeDesc(*block, v.type, d.elemdescVar.tdesc);
            if (v.varkind == VAR_CONST) {
                HRESULT hr = defaultVariant(v.value, block->value);
                if (FAILED(hr))
                    return hr;
                d.lpvarValue = &block->value;
            } else {
                d.oInst = v.oInst;
            }
            std::lock_guard lock(m_mutex);
            *ppVarDesc = &d;
            m_vars.emplace(&d, std::move(block));
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetNames(MEMBERID memid, BSTR* rgBstrNames, UINT cMaxNames,
                                       UINT* pcNames) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!rgBstrNames || !pcNames)
                return E_INVALIDARG;
            const Func* f = findFunc(memid);
            UINT n = 0;
            if (!f) {
                const Var* v = findVar(memid);
                if (!v)
                    return TYPE_E_ELEMENTNOTFOUND;
                if (n < cMaxNames)
                    rgBstrNames[n++] = newString(v->name);
                *pcNames = n;
                return S_OK;
            }
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
        // -1 asks a dual dispatch description for its table partner.
        if (index == UINT(-1) && type().isDualDispatch() && !m_partner) {
            *pRefType = Library::partnerHref(m_index);
            return S_OK;
        }
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
    HRESULT STDMETHODCALLTYPE Invoke(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                                     DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                     EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept override {
        HRESULT hr = orvik::guardResult([&] {
            return invokeMember(this, m_data, type(), pvInstance, memid, wFlags, pDispParams,
                                pVarResult, pExcepInfo, puArgErr);
        });
        if (hr != DISP_E_MEMBERNOTFOUND)
            return hr;
        return invokeInherited(pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo,
                               puArgErr);
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation(MEMBERID memid, BSTR* pBstrName,
                                               BSTR* pBstrDocString, DWORD* pdwHelpContext,
                                               BSTR* pBstrHelpFile) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            const std::u16string* name = &type().name;
            const std::u16string* doc = &type().doc;
            DWORD context = type().helpContext;
            if (memid != MEMBERID_NIL) {
                if (const Func* f = findFunc(memid)) {
                    name = &f->name;
                    doc = &f->doc;
                    context = f->helpContext;
                } else if (const Var* v = findVar(memid)) {
                    name = &v->name;
                    doc = &v->doc;
                    context = v->helpContext;
                } else {
                    return TYPE_E_ELEMENTNOTFOUND;
                }
            }
            if (pBstrName)
                *pBstrName = newString(*name);
            if (pBstrDocString)
                *pBstrDocString = doc->empty() ? nullptr : newString(*doc);
            if (pdwHelpContext)
                *pdwHelpContext = context;
            if (pBstrHelpFile)
                *pBstrHelpFile = m_data.helpFile.empty() ? nullptr : newString(m_data.helpFile);
            return S_OK;
        });
    }
    HRESULT STDMETHODCALLTYPE GetDllEntry(MEMBERID memid, INVOKEKIND invKind, BSTR* pBstrDllName,
                                          BSTR* pBstrName, WORD* pwOrdinal) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (type().kind != TKIND_MODULE)
                return TYPE_E_BADMODULEKIND;
            for (const Func& f : type().funcs) {
                if (f.memid != memid || f.invkind != invKind)
                    continue;
                if (pBstrDllName)
                    *pBstrDllName = type().dllName.empty() ? nullptr : newString(type().dllName);
                if (pBstrName)
                    *pBstrName = f.entryName.empty() ? nullptr : newString(f.entryName);
                if (pwOrdinal)
                    *pwOrdinal = f.entryName.empty() ? f.entryOrdinal : 0;
                return S_OK;
            }
            return TYPE_E_ELEMENTNOTFOUND;
        });
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
    void STDMETHODCALLTYPE ReleaseVarDesc(VARDESC* pVarDesc) noexcept override {
        std::lock_guard lock(m_mutex);
        m_vars.erase(pVarDesc);
    }

    // ITypeInfo2
    HRESULT STDMETHODCALLTYPE GetTypeKind(TYPEKIND* pTypeKind) noexcept override {
        if (!pTypeKind)
            return E_INVALIDARG;
        *pTypeKind = kind();
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
    HRESULT STDMETHODCALLTYPE GetVarIndexOfMemId(MEMBERID memid,
                                                 UINT* pVarIndex) noexcept override {
        if (!pVarIndex)
            return E_INVALIDARG;
        for (size_t i = 0; i < type().vars.size(); ++i)
            if (type().vars[i].memid == memid) {
                *pVarIndex = UINT(i);
                return S_OK;
            }
        return TYPE_E_ELEMENTNOTFOUND;
    }
    HRESULT STDMETHODCALLTYPE GetCustData(REFGUID guid, VARIANT* v) noexcept override {
        return orvik::guardResult([&]() -> HRESULT { return custDatum(type().custData, guid, v); });
    }
    // Besides what the library stores, each function answers its own help string
    // for ORVIK_CUSTDATA_FUNC_HELPSTRING.
    HRESULT STDMETHODCALLTYPE GetFuncCustData(UINT index, REFGUID guid,
                                              VARIANT* v) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (!v)
                return E_INVALIDARG;
            VariantInit(v);
            if (index >= type().funcs.size())
                return TYPE_E_ELEMENTNOTFOUND;
            const Func& f = type().funcs[index];
            if (IsEqualGUID(guid, ORVIK_CUSTDATA_FUNC_HELPSTRING) && !f.doc.empty()) {
                v->bstrVal = newString(f.doc);
                if (!v->bstrVal)
                    return E_OUTOFMEMORY;
                v->vt = VT_BSTR;
                return S_OK;
            }
            return custDatum(f.custData, guid, v);
        });
    }
    HRESULT STDMETHODCALLTYPE GetParamCustData(UINT indexFunc, UINT indexParam, REFGUID guid,
                                               VARIANT* v) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (indexFunc >= type().funcs.size() ||
                indexParam >= type().funcs[indexFunc].params.size())
                return v ? (VariantInit(v), TYPE_E_ELEMENTNOTFOUND) : E_INVALIDARG;
            return custDatum(type().funcs[indexFunc].params[indexParam].custData, guid, v);
        });
    }
    HRESULT STDMETHODCALLTYPE GetVarCustData(UINT index, REFGUID guid,
                                             VARIANT* v) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            if (index >= type().vars.size())
                return v ? (VariantInit(v), TYPE_E_ELEMENTNOTFOUND) : E_INVALIDARG;
            return custDatum(type().vars[index].custData, guid, v);
        });
    }
    HRESULT STDMETHODCALLTYPE GetImplTypeCustData(UINT, REFGUID, VARIANT* v) noexcept override {
        return noData(v);
    }
    HRESULT STDMETHODCALLTYPE GetDocumentation2(MEMBERID memid, LCID, BSTR* pbstrHelpString,
                                                DWORD* pdwHelpStringContext,
                                                BSTR* pbstrHelpStringDll) noexcept override {
        return orvik::guardResult([&]() -> HRESULT {
            DWORD context = type().helpStringContext;
            if (const Func* f = memid == MEMBERID_NIL ? nullptr : findFunc(memid))
                context = f->helpStringContext;
            else if (const Var* v = memid == MEMBERID_NIL ? nullptr : findVar(memid))
                context = v->helpStringContext;
            if (pdwHelpStringContext)
                *pdwHelpStringContext = context;
            if (pbstrHelpStringDll)
                *pbstrHelpStringDll = nullptr;
            return GetDocumentation(memid, nullptr, pbstrHelpString, nullptr, nullptr);
        });
    }
    HRESULT STDMETHODCALLTYPE GetAllCustData(CUSTDATA* p) noexcept override {
        return allCustData(type().custData, p);
    }
    HRESULT STDMETHODCALLTYPE GetAllFuncCustData(UINT index, CUSTDATA* p) noexcept override {
        if (index >= type().funcs.size())
            return p ? (noData(p), TYPE_E_ELEMENTNOTFOUND) : E_INVALIDARG;
        return allCustData(type().funcs[index].custData, p);
    }
    HRESULT STDMETHODCALLTYPE GetAllParamCustData(UINT indexFunc, UINT indexParam,
                                                  CUSTDATA* p) noexcept override {
        if (indexFunc >= type().funcs.size() || indexParam >= type().funcs[indexFunc].params.size())
            return p ? (noData(p), TYPE_E_ELEMENTNOTFOUND) : E_INVALIDARG;
        return allCustData(type().funcs[indexFunc].params[indexParam].custData, p);
    }
    HRESULT STDMETHODCALLTYPE GetAllVarCustData(UINT index, CUSTDATA* p) noexcept override {
        if (index >= type().vars.size())
            return p ? (noData(p), TYPE_E_ELEMENTNOTFOUND) : E_INVALIDARG;
        return allCustData(type().vars[index].custData, p);
    }
    HRESULT STDMETHODCALLTYPE GetAllImplTypeCustData(UINT, CUSTDATA* p) noexcept override {
        return noData(p);
    }

private:
    const Type& type() const { return m_data.types[m_index]; }
    std::unique_ptr<NameIndex> makeNameIndex(HRESULT& hr) const;

    // A member inherited from a base interface sits in the same table at the slot its
    // base gives it. The frame's own IUnknown and IDispatch members are not for
    // late-bound callers. Out of line: most calls are to the interface's own members.
    [[gnu::noinline]] HRESULT invokeInherited(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                                              DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                              EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept {
        Ref<ITypeInfo> base;
        if (!baseInterface(base))
            return DISP_E_MEMBERNOTFOUND;
        return base->Invoke(pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo,
                            puArgErr);
    }

    // The interface this one derives from, unless that is IUnknown or IDispatch.
    // The reader refuses inheritance cycles, so walking up ends.
    bool baseInterface(Ref<ITypeInfo>& base) {
        if (kind() != TKIND_INTERFACE || type().implTypes.empty())
            return false;
        if (FAILED(GetRefTypeInfo(type().implTypes[0].hreftype, base.put())))
            return false;
        TYPEATTR* attr = nullptr;
        if (FAILED(base->GetTypeAttr(&attr)))
            return false;
        bool frame =
            IsEqualGUID(attr->guid, IID_IUnknown) || IsEqualGUID(attr->guid, IID_IDispatch);
        base->ReleaseTypeAttr(attr);
        return !frame;
    }
    TYPEKIND kind() const { return m_partner ? TKIND_INTERFACE : type().kind; }

    const Var* findVar(MEMBERID memid) const {
        for (const Var& v : type().vars)
            if (v.memid == memid)
                return &v;
        return nullptr;
    }

    static HRESULT noData(VARIANT* v) {
        if (!v)
            return E_INVALIDARG;
        VariantInit(v);
        return S_OK;
    }
    static HRESULT custDatum(const CustData& data, REFGUID guid, VARIANT* v) {
        if (!v)
            return E_INVALIDARG;
        VariantInit(v);
        for (const CustDatum& d : data)
            if (IsEqualGUID(d.guid, guid))
                return defaultVariant(d.value, *v);
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

    void fillTypeDesc(TypeDescStore& store, int nodeIndex, TYPEDESC& out) const {
        const TypeNode& n = m_data.nodes[size_t(nodeIndex)];
        out.vt = n.vt;
        if (n.vt == VT_PTR || n.vt == VT_SAFEARRAY) {
            TYPEDESC& target = store.typeDescs.emplace_back();
            fillTypeDesc(store, n.target, target);
            out.lptdesc = &target;
        } else if (n.vt == VT_USERDEFINED) {
            out.hreftype = n.hreftype;
        } else if (n.vt == VT_CARRAY) {
            // An ARRAYDESC ends in as many bounds as it has dimensions.
            std::vector<uint8_t>& bytes = store.arrays.emplace_back(
                sizeof(ARRAYDESC) + (n.bounds.size() - 1) * sizeof(SAFEARRAYBOUND));
            auto* array = reinterpret_cast<ARRAYDESC*>(bytes.data());
            array->cDims = USHORT(n.bounds.size());
            std::copy(n.bounds.begin(), n.bounds.end(), array->rgbounds);
            fillTypeDesc(store, n.target, array->tdescElem);
            out.lpadesc = array;
        }
    }

    CTypeLib* m_lib;
    const Library& m_data;
    size_t m_index;
    bool m_partner = false;
    std::mutex m_mutex;
    std::map<TYPEATTR*, std::unique_ptr<AttrBlock>> m_attrs;
    std::map<FUNCDESC*, std::unique_ptr<FuncDescBlock>> m_funcs;
    std::map<VARDESC*, std::unique_ptr<VarDescBlock>> m_vars;
};

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

CTypeInfo::CTypeInfo(CTypeLib* lib, const Library& data, size_t index, bool partner)
    : m_lib(lib), m_data(data), m_index(index), m_partner(partner) {
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

// Adds the members of a base interface, and of its bases in turn, through its public
// description. False, with the failure in hr, when a base could not be read: the
// index is then good for this call only (E_OUTOFMEMORY is passed on).
bool addBaseMembers(Ref<ITypeInfo> base, NameIndex& index, HRESULT& hr) {
    // A chain longer than this is a loop in a damaged file.
    for (int depth = 0; base && depth < 64; ++depth) {
        TYPEATTR* attr = nullptr;
        if (FAILED(hr = base->GetTypeAttr(&attr)))
            return false;
        const TYPEKIND kind = attr->typekind;
        const UINT funcs = attr->cFuncs, vars = attr->cVars, impls = attr->cImplTypes;
        base->ReleaseTypeAttr(attr);
        auto add = [&](MEMBERID memid, bool isVariable, UINT names) -> bool {
            // Freed however this ends, a failed or thrown allocation included (a
            // failing GetNames may have filled some of them).
            struct Texts {
                std::vector<BSTR> all;
                ~Texts() {
                    for (BSTR text : all)
                        SysFreeString(text);
                }
            } texts{std::vector<BSTR>(names + 1, nullptr)};
            UINT got = 0;
            hr = base->GetNames(memid, texts.all.data(), names + 1, &got);
            if (FAILED(hr))
                return false;
            NameIndex::Member member{memid, isVariable, {}};
            for (UINT i = 1; i < got; ++i)
                member.params.push_back(NameIndex::folded(texts.all[i]));
            if (got > 0)
                index.add(texts.all[0], std::move(member));
            return true;
        };
        for (UINT i = 0; i < funcs; ++i) {
            FUNCDESC* f = nullptr;
            if (FAILED(hr = base->GetFuncDesc(i, &f)))
                return false;
            const MEMBERID memid = f->memid;
            const UINT params = UINT(f->cParams);
            base->ReleaseFuncDesc(f);
            if (!add(memid, false, params))
                return false;
        }
        for (UINT i = 0; i < vars; ++i) {
            VARDESC* v = nullptr;
            if (FAILED(hr = base->GetVarDesc(i, &v)))
                return false;
            const MEMBERID memid = v->memid;
            base->ReleaseVarDesc(v);
            if (!add(memid, true, 0))
                return false;
        }
        if ((kind != TKIND_INTERFACE && kind != TKIND_DISPATCH) || impls == 0)
            return true;
        HREFTYPE href = 0;
        Ref<ITypeInfo> next;
        if (FAILED(hr = base->GetRefTypeOfImplType(0, &href)) ||
            FAILED(hr = base->GetRefTypeInfo(href, next.put())))
            return false;
        base = std::move(next);
    }
    return true;
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
        std::unique_ptr<NameIndex> unkept;
        const NameIndex* index = __atomic_load_n(&type().nameIndex, __ATOMIC_ACQUIRE);
        if (!index) {
            HRESULT hr = S_OK;
            unkept = makeNameIndex(hr);
            if (!unkept)
                return hr;
            if (SUCCEEDED(hr)) {
                index = &keepNameIndex(m_data, type(), std::move(unkept));
            } else {
                index = unkept.get(); // a base was out of reach: ask again next time
            }
        }
        const NameIndex::Member* found = rgszNames[0] ? index->find(rgszNames[0]) : nullptr;
        if (!found)
            return DISP_E_UNKNOWNNAME;
        const NameIndex::Member& member = *found;
        pMemId[0] = member.memid;
        if (member.isVariable)
            return cNames > 1 ? DISP_E_UNKNOWNNAME : S_OK; // a variable has no parameters
        HRESULT hr = S_OK;
        for (UINT n = 1; n < cNames; ++n) {
            for (size_t p = 0; p < member.params.size() && rgszNames[n]; ++p)
                if (NameIndex::same(rgszNames[n], member.params[p])) {
                    pMemId[n] = MEMBERID(p);
                    break;
                }
            if (pMemId[n] == MEMBERID_NIL)
                hr = DISP_E_UNKNOWNNAME;
        }
        return hr;
    });
}

// The type's own functions and variables, then its bases'. Null with E_OUTOFMEMORY
// when a base could not be had for want of memory; otherwise the index, with a
// failure in hr when a base was out of reach for another reason (its members are
// then missing from this index, which is not to be kept).
std::unique_ptr<NameIndex> CTypeInfo::makeNameIndex(HRESULT& hr) const {
    auto index = std::make_unique<NameIndex>();
    for (const Func& f : type().funcs) {
        NameIndex::Member member{f.memid, false, {}};
        for (const Param& p : f.params)
            member.params.push_back(NameIndex::folded(p.name));
        index->add(f.name, std::move(member));
    }
    for (const Var& v : type().vars)
        index->add(v.name, NameIndex::Member{v.memid, true, {}});
    hr = S_OK;
    if ((type().kind == TKIND_INTERFACE || type().kind == TKIND_DISPATCH) &&
        !type().implTypes.empty()) {
        Ref<ITypeInfo> base;
        hr = const_cast<CTypeInfo*>(this)->GetRefTypeInfo(type().implTypes[0].hreftype, base.put());
        if (SUCCEEDED(hr))
            addBaseMembers(std::move(base), *index, hr);
        if (hr == E_OUTOFMEMORY)
            return nullptr; // not knowing the base is no proof that a name is unknown
    }
    return index;
}

} // namespace

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
