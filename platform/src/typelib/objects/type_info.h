// platform/src/typelib/objects/type_info.h: ITypeInfo over one type of a library
//
// A type-information object keeps its library object alive. Descriptions handed out
// (TYPEATTR, FUNCDESC, VARDESC) are allocated per call and remembered until the
// matching release, which ignores a pointer it did not hand out.
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_TYPE_INFO_H
#define ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_TYPE_INFO_H

#include "typelib/invoke/fast_call.h"
#include "typelib/objects/object_support.h"

namespace orvik::tlb {

class CTypeLib;
struct NameIndex;

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
#if ORVIK_REGISTER_CALLS
        // A member called before in this form: its prepared call, in one step. It
        // throws nothing (a failure's words are made under their own guard).
        const Type& t = type();
        const FastCall* fast =
            __atomic_load_n(&t.fastCalls[fastCallIndex(memid, wFlags)], __ATOMIC_ACQUIRE);
        HRESULT called = S_OK;
        if (fast && fast->memid == memid && fast->flags == wFlags && pvInstance && pDispParams &&
            callFast(*fast, t, pvInstance, *pDispParams, pVarResult, pExcepInfo, called))
            return called;
#endif
        return invokeGenerally(pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo,
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
    const Type& type() const {
        return *m_type;
    }
    std::unique_ptr<NameIndex> makeNameIndex(HRESULT& hr) const;

    // Every call but a prepared one: the member table, the call plan, the conversions,
    // and a member of a base interface. Out of line, so that a prepared call needs no
    // frame for it.
    [[gnu::noinline]] HRESULT invokeGenerally(PVOID pvInstance, MEMBERID memid, WORD wFlags,
                                              DISPPARAMS* pDispParams, VARIANT* pVarResult,
                                              EXCEPINFO* pExcepInfo, UINT* puArgErr) noexcept {
        HRESULT hr = orvik::guardResult([&] {
            return invokeMember(this, m_data, type(), pvInstance, memid, wFlags, pDispParams,
                                pVarResult, pExcepInfo, puArgErr);
        });
        if (hr != DISP_E_MEMBERNOTFOUND)
            return hr;
        return invokeInherited(pvInstance, memid, wFlags, pDispParams, pVarResult, pExcepInfo,
                               puArgErr);
    }

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
    TYPEKIND kind() const {
        return m_partner ? TKIND_INTERFACE : type().kind;
    }

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
    const Type* m_type; // m_data.types[m_index]: a library's types never move once read
    bool m_partner = false;
    std::mutex m_mutex;
    std::map<TYPEATTR*, std::unique_ptr<AttrBlock>> m_attrs;
    std::map<FUNCDESC*, std::unique_ptr<FuncDescBlock>> m_funcs;
    std::map<VARDESC*, std::unique_ptr<VarDescBlock>> m_vars;
};

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_TYPE_INFO_H
