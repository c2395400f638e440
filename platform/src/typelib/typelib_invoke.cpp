// platform/src/typelib/typelib_invoke.cpp: late-bound calls through a table slot
//
// ITypeInfo::Invoke turns a dispatch call (arguments as variants, last first, some
// of them named) into a call of the operation-table slot the library gives the
// member, with each argument converted to the type the library declares, and turns
// the [out, retval] value back into a variant. It knows nothing of any particular
// interface: everything comes from the type description. The call itself goes
// through libffi; each function's call description is prepared once and kept with
// the library.
//
// The contract followed is the platform's published one for late-bound calls:
// DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL,
// DISP_E_PARAMNOTFOUND and DISP_E_TYPEMISMATCH/DISP_E_OVERFLOW (the last three with
// the argument's index in rgvarg), and DISP_E_EXCEPTION carrying the operation's own
// failure code in the exception information.

#include "typelib/typelib_invoke.h"

#include "orvik/platform/bstr.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/safearray.h"
#include "orvik/platform/utf.h"

#include <ffi.h>

#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace orvik::tlb {

// A VARIANT passed by value: 24 bytes, three eight-byte words.
namespace {
ffi_type* variantElements[] = {&ffi_type_uint64, &ffi_type_uint64, &ffi_type_uint64, nullptr};
ffi_type ffiVariant = {0, 0, FFI_TYPE_STRUCT, variantElements};
} // namespace

// The prepared call of one function: its argument types, the object first.
struct CallShape {
    ffi_cif cif;
    std::vector<ffi_type*> types;
};

struct CallShapes {
    std::mutex lock;
    std::map<const Func*, std::unique_ptr<CallShape>> shapes;
};

std::shared_ptr<CallShapes> makeCallShapes() {
    return std::make_shared<CallShapes>();
}

namespace {

// A declared type reduced to what a call needs to know of it.
struct ParamShape {
    enum Kind { Value, Pointer } kind = Value;
    VARTYPE vt = VT_EMPTY;          // the value's type, or what the pointer points to
    bool pointsToInterface = false; // VT_PTR to an interface pointer (an [out] object)
    IID iid{};                      // the interface of an interface pointer
    bool isInterface = false;       // the value is an interface pointer
};

class Invocation {
public:
    Invocation(ITypeInfo* info, const Library& lib, const Type& type, PVOID instance,
               DISPPARAMS* params, UINT* argErr)
        : m_info(info), m_lib(lib), m_type(type), m_instance(instance), m_params(params),
          m_argErr(argErr) {}
    ~Invocation() {
        for (VARIANT& v : m_temporaries)
            VariantClear(&v);
        for (IUnknown* u : m_interfaces)
            if (u)
                u->Release();
    }

    HRESULT run(const Func& f, WORD flags, VARIANT* result, EXCEPINFO* excepInfo);

private:
    HRESULT shapeOf(const TYPEDESC& t, ParamShape& out);
    HRESULT userDefined(HREFTYPE href, ParamShape& out, bool& isInterface);
    HRESULT bindArguments(const Func& f, WORD flags, std::vector<VARIANTARG*>& bound);
    HRESULT convertIn(const ParamShape& shape, VARIANTARG* arg, UINT rgIndex, void*& slot);
    HRESULT convertOut(const ParamShape& shape, VARIANTARG* arg, UINT rgIndex, void*& slot);
    HRESULT defaultFor(const Param& p, const ParamShape& shape, void*& slot);
    void fail(UINT rgIndex) {
        if (m_argErr)
            *m_argErr = rgIndex;
    }
    // Storage for a converted argument that lives until the call returns.
    void* store(const void* value, size_t size) {
        auto& cell = m_cells.emplace_back(new uint64_t[(size + 7) / 8 + 1]());
        std::memcpy(cell.get(), value, size);
        return cell.get();
    }

    ITypeInfo* m_info;
    const Library& m_lib;
    const Type& m_type;
    PVOID m_instance;
    DISPPARAMS* m_params;
    UINT* m_argErr;
    std::deque<VARIANT> m_temporaries; // a deque: references to them stay valid
    std::vector<IUnknown*> m_interfaces;
    std::vector<std::unique_ptr<uint64_t[]>> m_cells;
};

ffi_type* ffiTypeOf(const ParamShape& shape) {
    if (shape.kind == ParamShape::Pointer || shape.isInterface)
        return &ffi_type_pointer;
    switch (shape.vt) {
    case VT_R8:
    case VT_DATE:
        return &ffi_type_double;
    case VT_R4:
        return &ffi_type_float;
    case VT_I1:
        return &ffi_type_sint8;
    case VT_UI1:
        return &ffi_type_uint8;
    case VT_I2:
    case VT_BOOL:
        return &ffi_type_sint16;
    case VT_UI2:
        return &ffi_type_uint16;
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
    case VT_HRESULT:
        return &ffi_type_sint32;
    case VT_UI4:
    case VT_UINT:
        return &ffi_type_uint32;
    case VT_I8:
    case VT_CY:
        return &ffi_type_sint64;
    case VT_UI8:
        return &ffi_type_uint64;
    case VT_VARIANT:
        return &ffiVariant;
    case VT_VOID:
        return &ffi_type_void;
    default: // strings, arrays, interfaces: pointers
        return &ffi_type_pointer;
    }
}

size_t sizeOfValue(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return 1;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return 2;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
    case VT_R4:
        return 4;
    case VT_VARIANT:
        return sizeof(VARIANT);
    case VT_DECIMAL:
        return 16;
    default:
        return 8;
    }
}

bool isOmitted(const VARIANT& v) {
    return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
}

} // namespace

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
HRESULT Invocation::bindArguments(const Func& f, WORD flags, std::vector<VARIANTARG*>& bound) {
    size_t callable = f.params.size();
    if (callable && (f.params.back().flags & PARAMFLAG_FRETVAL))
        --callable;
    bound.assign(callable, nullptr);
    std::vector<UINT> indexOf(callable, 0); // each bound argument's index in rgvarg
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
    VARIANT& stored = m_temporaries.emplace_back();
    VariantInit(&stored);
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
    VARIANT& value = m_temporaries.emplace_back();
    VariantInit(&value);
    HRESULT hr = VariantCopyInd(&value, arg); // by-reference arguments are read through
    if (FAILED(hr)) {
        fail(rgIndex);
        return hr;
    }
    if (shape.isInterface) {
        IUnknown* given = nullptr;
        if (value.vt == VT_DISPATCH || value.vt == VT_UNKNOWN)
            given = value.punkVal;
        else if (value.vt != VT_EMPTY && value.vt != VT_NULL) {
            fail(rgIndex);
            return DISP_E_TYPEMISMATCH;
        }
        void* itf = nullptr;
        if (given) {
            IID iid = shape.vt == VT_UNKNOWN           ? IID_IUnknown
                      : IsEqualGUID(shape.iid, GUID{}) ? IID_IDispatch
                                                       : shape.iid;
            if (FAILED(given->QueryInterface(iid, &itf))) {
                fail(rgIndex);
                return DISP_E_TYPEMISMATCH;
            }
            m_interfaces.push_back(static_cast<IUnknown*>(itf));
        }
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

HRESULT Invocation::run(const Func& f, WORD flags, VARIANT* result, EXCEPINFO* excepInfo) {
    std::vector<VARIANTARG*> bound;
    HRESULT hr = bindArguments(f, flags, bound);
    if (FAILED(hr))
        return hr;
    FUNCDESC* desc = nullptr;
    if (FAILED(hr = m_info->GetFuncDesc(UINT(&f - m_type.funcs.data()), &desc)))
        return hr;
    struct DescHolder {
        ITypeInfo* info;
        FUNCDESC* desc;
        ~DescHolder() { info->ReleaseFuncDesc(desc); }
    } held{m_info, desc};

    std::vector<ParamShape> shapes(f.params.size());
    for (size_t i = 0; i < f.params.size(); ++i)
        if (FAILED(hr = shapeOf(desc->lprgelemdescParam[i].tdesc, shapes[i])))
            return hr;
    ParamShape returned;
    if (FAILED(hr = shapeOf(desc->elemdescFunc.tdesc, returned)))
        return hr;

    // The arguments: the object, then one slot per parameter.
    std::vector<void*> values(f.params.size() + 1);
    values[0] = &m_instance;
    VARIANT retval;
    VariantInit(&retval);
    uint64_t retvalCell[3] = {};
    for (size_t i = 0; i < f.params.size(); ++i) {
        const Param& p = f.params[i];
        void* slot = nullptr;
        if (i >= bound.size()) { // the [out, retval] parameter
            void* cell = retvalCell;
            slot = store(&cell, sizeof cell);
        } else if (!bound[i] || isOmitted(*bound[i])) {
            hr = defaultFor(p, shapes[i], slot);
        } else if (p.flags & PARAMFLAG_FOUT) {
            UINT rgIndex = UINT(bound[i] - m_params->rgvarg);
            hr = convertOut(shapes[i], bound[i], rgIndex, slot);
        } else {
            UINT rgIndex = UINT(bound[i] - m_params->rgvarg);
            hr = convertIn(shapes[i], bound[i], rgIndex, slot);
        }
        if (FAILED(hr))
            return hr;
        values[i + 1] = slot;
    }

    CallShape* shape = nullptr;
    {
        std::lock_guard lock(m_lib.callShapes->lock);
        std::unique_ptr<CallShape>& known = m_lib.callShapes->shapes[&f];
        if (!known) {
            auto made = std::make_unique<CallShape>();
            made->types.push_back(&ffi_type_pointer);
            for (const ParamShape& s : shapes)
                made->types.push_back(ffiTypeOf(s));
            if (ffi_prep_cif(&made->cif, FFI_DEFAULT_ABI, unsigned(made->types.size()),
                             ffiTypeOf(returned), made->types.data()) != FFI_OK)
                return DISP_E_BADVARTYPE;
            known = std::move(made);
        }
        shape = known.get();
    }
    void** table = *static_cast<void***>(m_instance);
    auto entry = reinterpret_cast<void (*)()>(table[f.slot]);
    ffi_arg answer = 0;
    ffi_call(&shape->cif, entry, &answer, values.data());
    HRESULT called = returned.vt == VT_HRESULT ? HRESULT(int32_t(answer)) : S_OK;

    if (FAILED(called)) {
        if (excepInfo) {
            *excepInfo = EXCEPINFO{};
            excepInfo->scode = called;
            char text[64];
            std::snprintf(text, sizeof text, " failed with 0x%08X", unsigned(called));
            std::u16string description = m_type.name + u"." + f.name + toUtf16(text).value_or(u"");
            excepInfo->bstrDescription =
                SysAllocStringLen(description.data(), UINT(description.size()));
            excepInfo->bstrSource = SysAllocStringLen(m_type.name.data(), UINT(m_type.name.size()));
        }
        return DISP_E_EXCEPTION;
    }
    // The [out, retval] value becomes the result, typed as declared.
    if (bound.size() < f.params.size()) {
        const ParamShape& s = shapes.back();
        if (s.vt == VT_VARIANT) {
            std::memcpy(&retval, retvalCell, sizeof retval); // the variant itself
        } else {
            retval.vt = s.pointsToInterface && s.vt != VT_UNKNOWN ? VARTYPE(VT_DISPATCH) : s.vt;
            std::memcpy(&retval.llVal, retvalCell,
                        sizeOfValue(s.vt & VT_ARRAY ? VARTYPE(VT_I8) : s.vt));
        }
        if (result) {
            VariantClear(result);
            *result = retval;
        } else {
            VariantClear(&retval);
        }
    } else if (result && returned.vt != VT_HRESULT && returned.vt != VT_VOID) {
        VariantClear(result);
        result->vt = returned.vt;
        std::memcpy(&result->llVal, &answer, sizeOfValue(returned.vt));
    }
    return S_OK;
}

HRESULT invokeMember(ITypeInfo* info, const Library& lib, const Type& type, PVOID instance,
                     MEMBERID memid, WORD flags, DISPPARAMS* params, VARIANT* result,
                     EXCEPINFO* excepInfo, UINT* argErr) {
    if (!params || (params->cArgs && !params->rgvarg) ||
        (params->cNamedArgs && !params->rgdispidNamedArgs) || params->cNamedArgs > params->cArgs)
        return E_INVALIDARG;
    if (!instance)
        return E_INVALIDARG;
    // Which of the member's functions the flags ask for: a put, or a get where a
    // method-or-get call finds one, else the method.
    auto find = [&](INVOKEKIND kind) -> const Func* {
        for (const Func& f : type.funcs)
            if (f.memid == memid && f.invkind == kind)
                return &f;
        return nullptr;
    };
    const Func* f = nullptr;
    if (flags & DISPATCH_PROPERTYPUTREF)
        f = find(INVOKE_PROPERTYPUTREF);
    if (!f && (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)))
        f = find(INVOKE_PROPERTYPUT);
    if (!f && (flags & DISPATCH_PROPERTYGET))
        f = find(INVOKE_PROPERTYGET);
    if (!f && (flags & DISPATCH_METHOD))
        f = find(INVOKE_FUNC);
    if (!f)
        return DISP_E_MEMBERNOTFOUND;
    if (f->funckind != FUNC_PUREVIRTUAL && f->funckind != FUNC_VIRTUAL)
        return DISP_E_MEMBERNOTFOUND; // nothing in a table to call
    Invocation call(info, lib, type, instance, params, argErr);
    return call.run(*f, flags, result, excepInfo);
}

} // namespace orvik::tlb
