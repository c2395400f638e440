// platform/src/typelib/invoke/invocation_arguments.cpp: shapes of declared types, and
// arguments bound, defaulted and converted to them

#include "typelib/invoke/invocation.h"

#include "orvik/platform/bstr.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/safearray.h"

namespace orvik::tlb {

HRESULT Invocation::userDefined(HREFTYPE href, ParamShape& out, bool& isInterface) {
    Ref<ITypeInfo> ref;
    HRESULT hr = m_info->GetRefTypeInfo(href, ref.put());
    if (FAILED(hr))
        return hr;
    TYPEATTR* a = nullptr;
    if (FAILED(hr = ref->GetTypeAttr(&a)))
        return hr;
    TYPEATTR attr = *a;
    ParamShape aliased;
    if (attr.typekind == TKIND_ALIAS)
        hr = shapeOf(a->tdescAlias, aliased);
    ref->ReleaseTypeAttr(a);
    if (FAILED(hr))
        return hr;
    switch (attr.typekind) {
    case TKIND_INTERFACE:
    case TKIND_DISPATCH:
    case TKIND_COCLASS:
        isInterface = true;
        out.iid = attr.guid;
        return S_OK;
    case TKIND_ENUM:
        out.vt = VT_I4;
        return S_OK;
    case TKIND_ALIAS:
        out = aliased;
        return S_OK;
    default:
        return DISP_E_BADVARTYPE; // records by value are not passed late-bound
    }
}

HRESULT Invocation::shapeOf(const TYPEDESC& t, ParamShape& out) {
    out = ParamShape();
    if (t.vt == VT_USERDEFINED) {
        bool isInterface = false;
        HRESULT hr = userDefined(t.hreftype, out, isInterface);
        out.isInterface = isInterface; // an interface named by value is its pointer
        if (isInterface)
            out.vt = VT_DISPATCH;
        return hr;
    }
    if (t.vt != VT_PTR) {
        out.vt = t.vt == VT_SAFEARRAY ? VARTYPE(VT_ARRAY | t.lptdesc->vt) : t.vt;
        out.isInterface = t.vt == VT_UNKNOWN || t.vt == VT_DISPATCH;
        return S_OK;
    }
    const TYPEDESC& target = *t.lptdesc;
    out.kind = ParamShape::Pointer;
    if (target.vt == VT_USERDEFINED) { // IPoint*: an interface pointer, passed as a value
        bool isInterface = false;
        HRESULT hr = userDefined(target.hreftype, out, isInterface);
        if (isInterface) {
            out.kind = ParamShape::Value;
            out.isInterface = true;
            out.vt = VT_DISPATCH;
        }
        return hr;
    }
    if (target.vt == VT_PTR && target.lptdesc->vt == VT_USERDEFINED) { // IPoint**
        bool isInterface = false;
        HRESULT hr = userDefined(target.lptdesc->hreftype, out, isInterface);
        if (FAILED(hr))
            return hr;
        if (!isInterface)
            return DISP_E_BADVARTYPE;
        out.pointsToInterface = true;
        out.vt = VT_DISPATCH;
        return S_OK;
    }
    if (target.vt == VT_SAFEARRAY) {
        out.vt = VARTYPE(VT_ARRAY | target.lptdesc->vt);
        return S_OK;
    }
    out.vt = target.vt;
    out.pointsToInterface = target.vt == VT_UNKNOWN || target.vt == VT_DISPATCH;
    return S_OK;
}

// Arguments in parameter order (null where omitted): positional ones come last
// first in rgvarg; named ones name their parameter, the put value by
// DISPID_PROPERTYPUT. The retval parameter takes no argument.
HRESULT Invocation::bindArguments(const Func& f, WORD flags, Bound& bound) {
    size_t callable = f.params.size();
    if (callable && (f.params.back().flags & PARAMFLAG_FRETVAL))
        --callable;
    bound.assign(callable);
    UINT* indexOf = bound.rgIndex; // each bound argument's index in rgvarg
    UINT named = m_params->cNamedArgs, positional = m_params->cArgs - named;
    bool put = flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF);
    for (UINT j = 0; j < named; ++j) {
        DISPID id = m_params->rgdispidNamedArgs[j];
        size_t index = 0;
        if (id == DISPID_PROPERTYPUT && put && callable > 0)
            index = callable - 1;
        else if (id >= 0 && size_t(id) < callable)
            index = size_t(id);
        else {
            fail(j);
            return DISP_E_PARAMNOTFOUND;
        }
        if (bound[index]) {
            fail(j);
            return DISP_E_PARAMNOTFOUND; // one parameter named twice
        }
        bound[index] = &m_params->rgvarg[j];
        indexOf[index] = j;
    }
    if (positional > callable)
        return DISP_E_BADPARAMCOUNT;
    for (UINT i = 0; i < positional; ++i) {
        UINT rgIndex = m_params->cArgs - 1 - i;
        if (bound[i]) {
            fail(rgIndex);
            return DISP_E_PARAMNOTFOUND;
        }
        bound[i] = &m_params->rgvarg[rgIndex];
        indexOf[i] = rgIndex;
    }
    for (size_t i = 0; i < callable; ++i) {
        const Param& p = f.params[i];
        bool optional = (p.flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) != 0;
        if (!bound[i] && !optional)
            return DISP_E_BADPARAMCOUNT;
        if (bound[i] && isOmitted(*bound[i]) && !optional) {
            fail(indexOf[i]);
            return DISP_E_PARAMNOTOPTIONAL;
        }
    }
    return S_OK;
}

HRESULT Invocation::defaultFor(const Param& p, const ParamShape& shape, void*& slot) {
    VARIANT& stored = temporary();
    if (!p.hasDefault) { // optional without a default: a missing VARIANT, or zero
        if (shape.vt == VT_VARIANT && shape.kind == ParamShape::Value) {
            stored.vt = VT_ERROR;
            stored.scode = DISP_E_PARAMNOTFOUND;
            slot = store(&stored, sizeof stored);
            return S_OK;
        }
        uint64_t zero = 0;
        slot = store(&zero, sizeof zero);
        return S_OK;
    }
    // The default as stored, with its own type; an interface pointer's 0 is null.
    const DefaultValue& d = p.defaultValue;
    if (shape.isInterface || shape.kind == ParamShape::Pointer) {
        void* null = nullptr;
        slot = store(&null, sizeof null);
        return S_OK;
    }
    if (d.vt == shape.vt && shape.vt == VT_R8) {
        slot = store(&d.real, sizeof d.real);
        return S_OK;
    }
    if (d.vt == shape.vt && isPlainNumber(shape.vt) && shape.vt != VT_R4) {
        slot = store(&d.integer, sizeof d.integer); // little-endian: low bytes first
        return S_OK;
    }
    VARIANT given;
    VariantInit(&given);
    given.vt = d.vt;
    if (d.vt == VT_R8)
        given.dblVal = d.real;
    else if (d.vt == VT_R4)
        given.fltVal = float(d.real);
    else if (d.vt == VT_BSTR) {
        given.bstrVal = SysAllocStringLen(d.text.data(), UINT(d.text.size()));
        if (!given.bstrVal)
            return E_OUTOFMEMORY;
    } else
        given.llVal = d.integer;
    HRESULT hr = VariantChangeType(&stored, &given, 0, shape.vt);
    VariantClear(&given);
    if (FAILED(hr))
        return hr;
    slot = shape.vt == VT_VARIANT ? store(&stored, sizeof stored)
                                  : store(&stored.llVal, sizeOfValue(shape.vt));
    return S_OK;
}

HRESULT Invocation::convertIn(const ParamShape& shape, VARIANTARG* arg, UINT rgIndex, void*& slot) {
    // The common case: a number already of the declared type needs no conversion.
    if (shape.kind == ParamShape::Value && !shape.isInterface && arg->vt == shape.vt &&
        isPlainNumber(shape.vt)) {
        slot = &arg->llVal;
        return S_OK;
    }
    VARIANT& value = temporary();
    HRESULT hr = S_OK;
    // By-reference arguments are read through. An object by value is used as it is:
    // the call holds the interface it asks of it, and that is all.
    if (!shape.isInterface || (arg->vt & VT_BYREF))
        hr = VariantCopyInd(&value, arg);
    if (FAILED(hr)) {
        fail(rgIndex);
        return hr;
    }
    if (shape.isInterface) {
        const VARIANT& given = arg->vt & VT_BYREF ? value : *arg;
        void* itf = nullptr;
        if ((given.vt != VT_DISPATCH && given.vt != VT_UNKNOWN && given.vt != VT_EMPTY &&
             given.vt != VT_NULL) ||
            FAILED(queryArgument(shape, given, itf))) {
            fail(rgIndex);
            return DISP_E_TYPEMISMATCH;
        }
        if (itf)
            hold(static_cast<IUnknown*>(itf));
        slot = store(&itf, sizeof itf);
        return S_OK;
    }
    if (shape.vt & VT_ARRAY) { // SAFEARRAY(T)*: the caller's array, by address
        if (!(value.vt & VT_ARRAY)) {
            fail(rgIndex);
            return DISP_E_TYPEMISMATCH;
        }
        SAFEARRAY* array = value.parray;
        void* cell = store(&array, sizeof array);
        slot = store(&cell, sizeof cell);
        return S_OK;
    }
    if (shape.vt == VT_VARIANT) {
        slot = store(&value, sizeof value);
        return S_OK;
    }
    hr = VariantChangeType(&value, &value, 0, shape.vt);
    if (FAILED(hr)) {
        fail(rgIndex);
        return hr == DISP_E_OVERFLOW ? hr : DISP_E_TYPEMISMATCH;
    }
    slot = store(&value.llVal, sizeOfValue(shape.vt));
    return S_OK;
}

// An [out] argument is the caller's by-reference variant of the pointed-to type,
// written through by the operation; a by-reference VARIANT takes any type.
HRESULT Invocation::convertOut(const ParamShape& shape, VARIANTARG* arg, UINT rgIndex,
                               void*& slot) {
    VARTYPE want = VARTYPE(VT_BYREF | shape.vt);
    if (arg->vt == want || (shape.pointsToInterface && arg->vt == (VT_BYREF | VT_UNKNOWN))) {
        void* target = arg->byref;
        if (!target) {
            fail(rgIndex);
            return E_INVALIDARG;
        }
        slot = store(&target, sizeof target);
        return S_OK;
    }
    fail(rgIndex);
    return DISP_E_TYPEMISMATCH;
}

} // namespace orvik::tlb
