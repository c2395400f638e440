// platform/src/typelib/objects/object_support.h: what the library objects share
//
// Names compared as the platform compares them, strings handed out, the blocks that
// hold a description handed out until its release, defaults and custom data as
// variants, and IUnknown for objects shared across threads.
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_OBJECT_SUPPORT_H
#define ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_OBJECT_SUPPORT_H

#include "typelib/invoke/invoke.h"
#include "typelib/model/library.h"
#include "typelib/model/name_index.h"

#include "orvik/platform.h"
#include "orvik/platform/boundary.h"
#include "orvik/platform/ref.h"

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <set>
#include <tuple>

namespace orvik::tlb {

inline bool sameName(const std::u16string& a, LPCOLESTR b) {
    if (!b)
        return false;
    size_t i = 0;
    for (; i < a.size(); ++i)
        if (!b[i] || NameIndex::folded(a[i]) != NameIndex::folded(b[i]))
            return false;
    return b[i] == 0;
}

inline BSTR newString(const std::u16string& s) {
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
inline HRESULT defaultVariant(const DefaultValue& d, VARIANT& out) {
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
inline HRESULT allCustData(const CustData& data, CUSTDATA* out) {
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

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_OBJECT_SUPPORT_H
