// platform/src/typelib/invoke/call_plan.cpp: the pieces of a call plan, results
// handed back, and the member tables

#include "typelib/invoke/call_plan.h"

#include "orvik/platform/bstr.h"
#include "orvik/platform/utf.h"

#include <cstdio>
#include <cstdlib>

namespace orvik::tlb {

// A VARIANT passed by value: 24 bytes, three eight-byte words.
namespace {
ffi_type* variantElements[] = {&ffi_type_uint64, &ffi_type_uint64, &ffi_type_uint64, nullptr};
ffi_type ffiVariant = {0, 0, FFI_TYPE_STRUCT, variantElements};
} // namespace

std::shared_ptr<CallShapes> makeCallShapes() {
    return std::make_shared<CallShapes>();
}

const NameIndex& keepNameIndex(const Library& lib, const Type& type,
                               std::unique_ptr<NameIndex> index) {
    std::lock_guard lock(lib.callShapes->lock);
    std::unique_ptr<NameIndex>& kept = lib.callShapes->names[&type];
    if (!kept) {
        kept = std::move(index);
        __atomic_store_n(&type.nameIndex, kept.get(), __ATOMIC_RELEASE);
    }
    return *kept;
}

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

// An object argument (VT_DISPATCH, VT_UNKNOWN, or none as VT_EMPTY or VT_NULL) as the
// interface the parameter declares, with a reference of its own; null for none.
HRESULT queryArgument(const ParamShape& shape, const VARIANT& given, void*& itf) {
    itf = nullptr;
    bool isObject = given.vt == VT_DISPATCH || given.vt == VT_UNKNOWN;
    if (!isObject || !given.punkVal)
        return S_OK;
    return given.punkVal->QueryInterface(interfaceAsked(shape), &itf);
}

// Whether calls may take the register routes (the getter, the quick route and the
// register call of the general route): not with ORVIK_CALL_ROUTE=general in the
// environment, nor in a build without fast calls. Every call then goes through
// libffi, which is how the tests check the two routes agree.
bool registerRoutesAllowed() {
#if ORVIK_REGISTER_CALLS && !defined(ORVIK_NO_FAST_CALLS)
    static const bool allowed = [] {
        const char* route = std::getenv("ORVIK_CALL_ROUTE");
        return !route || std::strcmp(route, "general") != 0;
    }();
    return allowed;
#else
    return false;
#endif
}

// A failed operation as a late-bound caller sees it: DISP_E_EXCEPTION, with the
// operation's own code and words naming it in the exception information.
[[gnu::cold]] HRESULT operationFailed(const Type& type, const Func& f, HRESULT called,
                                      EXCEPINFO* excepInfo) {
    if (excepInfo) {
        *excepInfo = EXCEPINFO{};
        excepInfo->scode = called;
        char text[64];
        std::snprintf(text, sizeof text, " failed with 0x%08X", unsigned(called));
        std::u16string description = type.name + u"." + f.name + toUtf16(text).value_or(u"");
        excepInfo->bstrDescription =
            SysAllocStringLen(description.data(), UINT(description.size()));
        excepInfo->bstrSource = SysAllocStringLen(type.name.data(), UINT(type.name.size()));
    }
    return DISP_E_EXCEPTION;
}

// The variant type of a retval that becomes the result as its eight bytes (narrower
// values zero-extended): a number, a string, an array or an object pointer.
// VT_EMPTY for one that does not: a VARIANT, or a value wider than eight bytes.
VARTYPE plainResultType(const ParamShape& s) {
    if (s.vt == VT_VARIANT || sizeOfValue(s.vt & VT_ARRAY ? VARTYPE(VT_I8) : s.vt) > 8)
        return VT_EMPTY;
    return s.pointsToInterface && s.vt != VT_UNKNOWN ? VARTYPE(VT_DISPATCH) : s.vt;
}

// A retval that is not a plain value, or has no result to go to.
void deliverRetvalElsewhere(const CallPlan& plan, const uint64_t* cell, VARIANT* result) {
    const ParamShape& s = plan.shapes.back();
    VARIANT discarded;
    VariantInit(&discarded);
    VARIANT* target = result ? result : &discarded;
    if (result)
        VariantClear(result);
    if (s.vt == VT_VARIANT) {
        std::memcpy(target, cell, sizeof *target); // the variant itself
    } else if (plan.plainResult != VT_EMPTY) {
        target->vt = plan.plainResult;
        std::memcpy(&target->ullVal, cell, sizeof target->ullVal);
    } else {
        target->vt = s.vt;
        std::memcpy(&target->llVal, cell, sizeOfValue(s.vt));
    }
    if (!result)
        VariantClear(&discarded);
}

void discardRetval(const CallPlan& plan, const uint64_t* cell) {
    deliverRetvalElsewhere(plan, cell, nullptr);
}

// The member table of type, made on its first call (out of line: the calls after it
// only look it up).
[[gnu::noinline, gnu::cold]] const MemberTable& makeMemberTable(const Library& lib,
                                                                const Type& type) {
    auto made = std::make_unique<MemberTable>();
    for (size_t i = 0; i < type.funcs.size(); ++i) {
        const Func& f = type.funcs[i];
        auto at =
            std::lower_bound(made->rows.begin(), made->rows.end(), f.memid,
                             [](const MemberTable::Row& r, MEMBERID id) { return r.memid < id; });
        if (at == made->rows.end() || at->memid != f.memid)
            at = made->rows.insert(at, MemberTable::Row{f.memid, {-1, -1, -1, -1}});
        int& kept = at->byKind[MemberTable::kindIndex(f.invkind)];
        if (kept < 0) // the first of a kind is the one called
            kept = int(i);
    }
    for (size_t row = 0; row < made->rows.size(); ++row) {
        MEMBERID memid = made->rows[row].memid;
        if (memid < 0 || memid >= MemberTable::kSmallIdLimit)
            continue;
        if (made->smallIds.size() <= size_t(memid))
            made->smallIds.resize(size_t(memid) + 1, -1);
        made->smallIds[size_t(memid)] = int(row);
    }
    std::lock_guard lock(lib.callShapes->lock);
    std::unique_ptr<MemberTable>& kept = lib.callShapes->members[&type];
    if (!kept) {
        kept = std::move(made);
        __atomic_store_n(&type.memberTable, kept.get(), __ATOMIC_RELEASE);
    }
    return *kept;
}

} // namespace orvik::tlb
