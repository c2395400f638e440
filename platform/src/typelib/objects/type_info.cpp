// platform/src/typelib/objects/type_info.cpp: the type-information object's calls
// that reach its library, and its index of member names

#include "typelib/objects/type_library.h"
#include "typelib/invoke/invoke.h"
#include "typelib/model/name_index.h"

#include "orvik/platform/boundary.h"

namespace orvik::tlb {

CTypeInfo::CTypeInfo(CTypeLib* lib, const Library& data, size_t index, bool partner)
    : m_lib(lib), m_data(data), m_index(index), m_type(&data.types[index]), m_partner(partner) {
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

} // namespace orvik::tlb
