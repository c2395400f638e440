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

#include "typelib/invoke/invoke.h"
#include "typelib/invoke/register_call.h"
#include "typelib/model/name_index.h"

#include "orvik/platform/bstr.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/safearray.h"
#include "orvik/platform/utf.h"

#include <ffi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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

struct CallPlan;
struct MemberTable;

struct CallShapes {
    std::mutex lock;
    std::map<const Func*, std::unique_ptr<CallPlan>> plans;
    std::map<const Type*, std::unique_ptr<MemberTable>> members;
    std::map<const Type*, std::unique_ptr<NameIndex>> names;
};

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

namespace {

// A declared type reduced to what a call needs to know of it.
struct ParamShape {
    enum Kind { Value, Pointer } kind = Value;
    VARTYPE vt = VT_EMPTY;          // the value's type, or what the pointer points to
    bool pointsToInterface = false; // VT_PTR to an interface pointer (an [out] object)
    IID iid{};                      // the interface of an interface pointer
    bool isInterface = false;       // the value is an interface pointer
};

} // namespace

// Everything a call of one function needs that does not depend on its arguments,
// made on its first call: each parameter's shape, the return's, and the prepared
// call description (the object first). The common shapes are called directly,
// without the general call machinery.
struct CallPlan {
    // Registers: a function whose arguments all fit in registers is called by the
    // register-loading routine (register_call.h) with the two kinds gathered apart.
    // Anything else (floats, variants by value, too many arguments) goes through
    // libffi, as every call does when the register routes are switched off.
    enum Direct { None, Registers } direct = None;
    enum class Pass : uint8_t { Integer, Double };
    std::vector<Pass> pass; // for Registers: how each parameter travels
    std::vector<ParamShape> shapes;
    ParamShape returned;
    ffi_cif cif;
    std::vector<ffi_type*> types;

    // The quick route, for a Registers call whose every argument arrives in its
    // declared form (a number of the declared type, an object, the caller's
    // by-reference variant for an [out]): each parameter's register is known in
    // advance, and nothing is bound, copied or converted. Any other call takes the
    // general route, which gives the same results and failures.
    struct Step {
        enum class Take : uint8_t { Number, Object, Out, Retval } take;
        uint8_t reg;          // its place among the integer or the double registers
        bool inDouble;        // travels in a double register
        VARTYPE vt;           // Number: the variant type taken as it is; Out: VT_BYREF|type
        VARTYPE otherVt;      // Out object: VT_BYREF|VT_UNKNOWN is taken too
        const IID* iid;       // Object: the interface asked of the argument
        bool omittable;       // an omitted argument takes defaultBits
        uint64_t defaultBits; // the stored default as its register holds it
    };
    bool quick = false;
    // The commonest quick call, a property get: nothing in, a plain value back.
    bool getter = false;
    std::vector<Step> steps;
    // The result's type where the retval is eight bytes or fewer of plain value (a
    // number, a string, an array or an object pointer) and the result takes them as
    // they are; VT_EMPTY otherwise.
    VARTYPE plainResult = VT_EMPTY;
};

// Which function a member's dispatch identifier and call kind select, found without
// walking the type's functions: one row per identifier, sorted, made on first use.
struct MemberTable {
    struct Row {
        MEMBERID memid;
        int byKind[4]; // the index in the type's functions of its method, get, put and
                       // putref, or -1
    };
    std::vector<Row> rows; // sorted by identifier
    // The row of each small identifier (most libraries number their members from 0
    // or 1), -1 for none; larger or negative ones are searched for.
    std::vector<int> smallIds;
    static constexpr MEMBERID kSmallIdLimit = 4096;

    static size_t kindIndex(INVOKEKIND kind) {
        return kind == INVOKE_FUNC          ? 0
               : kind == INVOKE_PROPERTYGET ? 1
               : kind == INVOKE_PROPERTYPUT ? 2
                                            : 3;
    }
    const Row* find(MEMBERID memid) const {
        if (memid >= 0 && size_t(memid) < smallIds.size()) {
            int row = smallIds[size_t(memid)];
            return row < 0 ? nullptr : &rows[size_t(row)];
        }
        auto at = std::lower_bound(rows.begin(), rows.end(), memid,
                                   [](const Row& r, MEMBERID id) { return r.memid < id; });
        return at != rows.end() && at->memid == memid ? &*at : nullptr;
    }
};

namespace {

class Invocation {
public:
    Invocation(ITypeInfo* info, const Library& lib, const Type& type, PVOID instance,
               DISPPARAMS* params, UINT* argErr)
        : m_info(info), m_lib(lib), m_type(type), m_instance(instance), m_params(params),
          m_argErr(argErr) {}
    ~Invocation() {
        for (size_t i = 0; i < m_usedTemporaries; ++i)
            VariantClear(&m_inlineTemporaries[i]);
        for (auto& v : m_moreTemporaries)
            VariantClear(v.get());
        for (size_t i = 0; i < m_heldCount; ++i)
            m_held[i]->Release();
        for (IUnknown* u : m_moreHeld)
            u->Release();
    }

    HRESULT run(const Func& f, WORD flags, VARIANT* result, EXCEPINFO* excepInfo);

private:
    HRESULT planFor(const Func& f, const CallPlan*& plan);
    HRESULT shapeOf(const TYPEDESC& t, ParamShape& out);
    HRESULT userDefined(HREFTYPE href, ParamShape& out, bool& isInterface);
    // The argument of each parameter (null where omitted) and its index in rgvarg.
    struct Bound {
        VARIANTARG** args = nullptr;
        UINT* rgIndex = nullptr;
        size_t count = 0;
        VARIANTARG* inlineArgs[16];
        UINT inlineIndex[16];
        std::vector<VARIANTARG*> moreArgs;
        std::vector<UINT> moreIndex;
        void assign(size_t n) {
            count = n;
            if (n <= 16) {
                args = inlineArgs;
                rgIndex = inlineIndex;
            } else {
                moreArgs.assign(n, nullptr);
                moreIndex.assign(n, 0);
                args = moreArgs.data();
                rgIndex = moreIndex.data();
            }
            std::fill(args, args + n, nullptr);
            std::fill(rgIndex, rgIndex + n, 0u);
        }
        size_t size() const { return count; }
        VARIANTARG*& operator[](size_t i) { return args[i]; }
    };
    HRESULT bindArguments(const Func& f, WORD flags, Bound& bound);
    HRESULT convertIn(const ParamShape& shape, VARIANTARG* arg, UINT rgIndex, void*& slot);
    HRESULT convertOut(const ParamShape& shape, VARIANTARG* arg, UINT rgIndex, void*& slot);
    HRESULT defaultFor(const Param& p, const ParamShape& shape, void*& slot);
    void fail(UINT rgIndex) {
        if (m_argErr)
            *m_argErr = rgIndex;
    }
    // Storage for a converted argument that lives until the call returns.
    // Calls are frequent and small: cells come from a buffer inside the invocation,
    // and from the heap only when a call has very many arguments.
    void* store(const void* value, size_t size) {
        size_t words = (size + 7) / 8;
        uint64_t* cell = nullptr;
        if (m_used + words <= kInlineWords) {
            cell = m_inline + m_used;
            m_used += words;
        } else {
            cell = m_cells.emplace_back(new uint64_t[words]()).get();
        }
        std::memcpy(cell, value, size);
        return cell;
    }
    VARIANT& temporary() {
        VARIANT* v = m_usedTemporaries < kInlineTemporaries
                         ? &m_inlineTemporaries[m_usedTemporaries++]
                         : m_moreTemporaries.emplace_back(new VARIANT).get();
        VariantInit(v);
        return *v;
    }

    ITypeInfo* m_info;
    const Library& m_lib;
    const Type& m_type;
    PVOID m_instance;
    DISPPARAMS* m_params;
    UINT* m_argErr;
    static constexpr size_t kInlineWords = 64, kInlineTemporaries = 8;
    uint64_t m_inline[kInlineWords];
    size_t m_used = 0;
    VARIANT m_inlineTemporaries[kInlineTemporaries];
    size_t m_usedTemporaries = 0;
    std::vector<std::unique_ptr<VARIANT>> m_moreTemporaries; // stable addresses
    // The interfaces asked of object arguments, released when the call is done.
    static constexpr size_t kInlineHeld = 8;
    IUnknown* m_held[kInlineHeld];
    size_t m_heldCount = 0;
    std::vector<IUnknown*> m_moreHeld;
    void hold(IUnknown* itf) {
        if (m_heldCount < kInlineHeld)
            m_held[m_heldCount++] = itf;
        else
            try {
                m_moreHeld.push_back(itf);
            } catch (...) {
                itf->Release();
                throw;
            }
    }
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

// An integer-class argument as a full register: narrow integers extended as the
// platform's calling convention expects of a caller.
uint64_t widened(const ParamShape& shape, const void* cell) {
    if (shape.kind == ParamShape::Pointer || shape.isInterface)
        return uint64_t(*static_cast<void* const*>(cell));
    switch (shape.vt) {
    case VT_I1:
        return uint64_t(int64_t(*static_cast<const int8_t*>(cell)));
    case VT_UI1:
        return *static_cast<const uint8_t*>(cell);
    case VT_I2:
    case VT_BOOL:
        return uint64_t(int64_t(*static_cast<const int16_t*>(cell)));
    case VT_UI2:
        return *static_cast<const uint16_t*>(cell);
    case VT_I4:
    case VT_INT:
    case VT_ERROR:
        return uint64_t(int64_t(*static_cast<const int32_t*>(cell)));
    case VT_UI4:
    case VT_UINT:
        return *static_cast<const uint32_t*>(cell);
    default:
        return *static_cast<const uint64_t*>(cell);
    }
}

bool isOmitted(const VARIANT& v) {
    return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
}

const IID& interfaceAsked(const ParamShape& shape) {
    if (shape.vt == VT_UNKNOWN)
        return IID_IUnknown;
    return IsEqualGUID(shape.iid, GUID{}) ? IID_IDispatch : shape.iid;
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

// The [out, retval] value the operation left in cell (which started zeroed), typed
// as declared, as the caller's result; discarded, and released, when there is none.
// Written straight into the caller's variant: no whole-variant copy.
[[gnu::noinline]] void deliverRetvalElsewhere(const CallPlan& plan, const uint64_t* cell,
                                              VARIANT* result);

inline void deliverRetval(const CallPlan& plan, const uint64_t* cell, VARIANT* result) {
    if (result && plan.plainResult != VT_EMPTY) {
        if (result->vt != VT_EMPTY)
            VariantClear(result);
        result->vt = plan.plainResult;
        std::memcpy(&result->ullVal, cell, sizeof result->ullVal);
        return;
    }
    deliverRetvalElsewhere(plan, cell, result);
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

// What a failing operation left in its retval cell (an object it made, a string)
// released: the caller gets a failure, and nothing to free.
void discardRetval(const CallPlan& plan, const uint64_t* cell) {
    deliverRetvalElsewhere(plan, cell, nullptr);
}

// Whether the quick route can pass an omitted argument of parameter p, and how: an
// object's default is null, a number's the stored default where it has the declared
// type, an optional number's without one zero. Anything else is converted by the
// general route.
void quickDefault(const Param& p, const ParamShape& shape, CallPlan::Step& step) {
    if (!(p.flags & (PARAMFLAG_FOPT | PARAMFLAG_FHASDEFAULT)) ||
        step.take == CallPlan::Step::Take::Out)
        return;
    const DefaultValue& d = p.defaultValue;
    step.omittable = true;
    if (!p.hasDefault || step.take == CallPlan::Step::Take::Object)
        step.defaultBits = 0;
    else if (d.vt == shape.vt && shape.vt == VT_R8)
        std::memcpy(&step.defaultBits, &d.real, sizeof d.real);
    else if (d.vt == shape.vt && shape.vt != VT_R4 && !step.inDouble)
        step.defaultBits = widened(shape, &d.integer);
    else
        step.omittable = false;
}

// The quick route's steps for a plan whose call fits in registers; false where a
// parameter needs what only the general route does (conversion, a VARIANT, an [in]
// pointer, a retval variant).
bool quickSteps(const Func& f, CallPlan& plan) {
    uint8_t integers = 0, doubles = 0;
    for (size_t i = 0; i < plan.shapes.size(); ++i) {
        const ParamShape& shape = plan.shapes[i];
        USHORT flags = f.params[i].flags;
        CallPlan::Step step{};
        step.inDouble = plan.pass[i] == CallPlan::Pass::Double;
        step.reg = step.inDouble ? doubles++ : integers++;
        if ((flags & PARAMFLAG_FRETVAL) && i + 1 == plan.shapes.size()) {
            if (shape.kind != ParamShape::Pointer || shape.vt == VT_VARIANT)
                return false;
            step.take = CallPlan::Step::Take::Retval;
        } else if (flags & PARAMFLAG_FOUT) {
            if (shape.kind != ParamShape::Pointer || (flags & PARAMFLAG_FRETVAL))
                return false;
            step.take = CallPlan::Step::Take::Out;
            step.vt = VARTYPE(VT_BYREF | shape.vt);
            step.otherVt = shape.pointsToInterface ? VARTYPE(VT_BYREF | VT_UNKNOWN) : step.vt;
        } else if (shape.isInterface && shape.kind == ParamShape::Value) {
            step.take = CallPlan::Step::Take::Object;
            step.iid = &interfaceAsked(shape);
        } else if (shape.kind == ParamShape::Value && isPlainNumber(shape.vt) &&
                   shape.vt != VT_R4) {
            step.take = CallPlan::Step::Take::Number;
            step.vt = shape.vt;
        } else {
            return false;
        }
        quickDefault(f.params[i], shape, step);
        plan.steps.push_back(step);
    }
    return true;
}

#if ORVIK_REGISTER_CALLS
// Calls f by the quick route when every argument arrives in its declared form,
// positionally (a put's value may be named DISPID_PROPERTYPUT, which binds it where
// its position would). Returns false, having done nothing, when the call needs the
// general route; otherwise hr is the call's answer.
[[gnu::noinline]] bool callQuickly(const CallPlan& plan, const Type& type, const Func& f,
                                   PVOID instance, WORD flags, const DISPPARAMS& params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr,
                                   HRESULT& hr) {
    const std::vector<CallPlan::Step>& steps = plan.steps;
    bool hasRetval = !steps.empty() && steps.back().take == CallPlan::Step::Take::Retval;
    size_t callable = steps.size() - (hasRetval ? 1 : 0);
    bool putNamed = params.cNamedArgs == 1 && params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT &&
                    (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF));
    // Arguments missing at the end take their defaults; a put's value is never missing.
    if ((params.cNamedArgs != 0 && !(putNamed && params.cArgs == callable)) ||
        params.cArgs > callable)
        return false;
    size_t given = params.cArgs;
    // Everything is checked before anything is asked of an argument.
    auto argOf = [&](size_t i) -> const VARIANTARG& { return params.rgvarg[given - 1 - i]; };
    for (size_t i = 0; i < callable; ++i) {
        const CallPlan::Step& step = steps[i];
        if (i >= given || isOmitted(argOf(i))) {
            if (!step.omittable)
                return false;
            continue;
        }
        const VARIANTARG& arg = argOf(i);
        bool taken = step.take == CallPlan::Step::Take::Number ? arg.vt == step.vt
                     : step.take == CallPlan::Step::Take::Object
                         ? arg.vt == VT_DISPATCH || arg.vt == VT_UNKNOWN
                     : step.take == CallPlan::Step::Take::Out
                         ? (arg.vt == step.vt || arg.vt == step.otherVt) && arg.byref
                         : false;
        if (!taken)
            return false;
    }

    uint64_t ints[kRegisterIntegers] = {};
    double reals[kRegisterDoubles] = {};
    uint64_t retvalCell[3] = {};
    IUnknown* held[kRegisterIntegers];
    size_t heldCount = 0;
    auto release = [&] {
        for (size_t i = 0; i < heldCount; ++i)
            held[i]->Release();
    };
    for (size_t i = 0; i < steps.size(); ++i) {
        const CallPlan::Step& step = steps[i];
        if (step.take == CallPlan::Step::Take::Retval) {
            ints[step.reg] = uint64_t(retvalCell);
            continue;
        }
        if (i >= given || isOmitted(argOf(i))) {
            if (step.inDouble)
                std::memcpy(&reals[step.reg], &step.defaultBits, sizeof(double));
            else
                ints[step.reg] = step.defaultBits;
            continue;
        }
        const VARIANTARG& arg = argOf(i);
        switch (step.take) {
        case CallPlan::Step::Take::Number:
            if (step.inDouble)
                reals[step.reg] = arg.dblVal;
            else
                ints[step.reg] = widened(plan.shapes[i], &arg.llVal);
            break;
        case CallPlan::Step::Take::Object: {
            void* itf = nullptr;
            if (arg.punkVal && FAILED(arg.punkVal->QueryInterface(*step.iid, &itf))) {
                release();
                if (argErr)
                    *argErr = UINT(given - 1 - i);
                hr = DISP_E_TYPEMISMATCH;
                return true;
            }
            if (itf)
                held[heldCount++] = static_cast<IUnknown*>(itf);
            ints[step.reg] = uint64_t(itf);
            break;
        }
        default: // Out
            ints[step.reg] = uint64_t(arg.byref);
            break;
        }
    }
    void* entry = (*static_cast<void***>(instance))[f.slot];
    HRESULT called = orvikCallInRegisters(entry, instance, ints, reals);
    if (FAILED(called)) {
        if (hasRetval)
            discardRetval(plan, retvalCell);
        hr = operationFailed(type, f, called, excepInfo);
    } else {
        if (hasRetval)
            deliverRetval(plan, retvalCell, result);
        hr = S_OK;
    }
    release();
    return true;
}

// A getter plan's call, when the caller passes nothing and takes the result: the
// slot is called with the retval's address alone. Returns false, having done
// nothing, otherwise.
inline bool callGetter(const CallPlan& plan, const Type& type, const Func& f, PVOID instance,
                       const DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo,
                       HRESULT& hr) {
    if (params.cArgs != 0 || !result)
        return false;
    uint64_t retvalCell[3] = {};
    void* entry = (*static_cast<void***>(instance))[f.slot];
    HRESULT called = orvikCallWithPointer(entry, instance, retvalCell);
    if (FAILED(called)) {
        discardRetval(plan, retvalCell);
        hr = operationFailed(type, f, called, excepInfo);
        return true;
    }
    deliverRetval(plan, retvalCell, result);
    hr = S_OK;
    return true;
}
#endif

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

inline const MemberTable& memberTableOf(const Library& lib, const Type& type) {
    if (const MemberTable* table = __atomic_load_n(&type.memberTable, __ATOMIC_ACQUIRE))
        return *table;
    return makeMemberTable(lib, type);
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

HRESULT Invocation::planFor(const Func& f, const CallPlan*& plan) {
    // Published once, under the library's lock; read without it afterwards.
    if ((plan = __atomic_load_n(&f.plan, __ATOMIC_ACQUIRE)))
        return S_OK;
    FUNCDESC* desc = nullptr;
    HRESULT hr = m_info->GetFuncDesc(UINT(&f - m_type.funcs.data()), &desc);
    if (FAILED(hr))
        return hr;
    struct DescHolder {
        ITypeInfo* info;
        FUNCDESC* desc;
        ~DescHolder() { info->ReleaseFuncDesc(desc); }
    } held{m_info, desc};
    auto made = std::make_unique<CallPlan>();
    made->shapes.resize(f.params.size());
    for (size_t i = 0; i < f.params.size(); ++i)
        if (FAILED(hr = shapeOf(desc->lprgelemdescParam[i].tdesc, made->shapes[i])))
            return hr;
    if (FAILED(hr = shapeOf(desc->elemdescFunc.tdesc, made->returned)))
        return hr;
    made->types.push_back(&ffi_type_pointer);
    for (const ParamShape& shape : made->shapes)
        made->types.push_back(ffiTypeOf(shape));
    if (ffi_prep_cif(&made->cif, FFI_DEFAULT_ABI, unsigned(made->types.size()),
                     ffiTypeOf(made->returned), made->types.data()) != FFI_OK)
        return DISP_E_BADVARTYPE;
    if (made->returned.vt == VT_HRESULT) {
        size_t integers = 0, doubles = 0;
        bool fits = true;
        for (const ParamShape& p : made->shapes) {
            bool isDouble =
                p.kind == ParamShape::Value && !p.isInterface && (p.vt == VT_R8 || p.vt == VT_DATE);
            bool isInteger = p.kind == ParamShape::Pointer || p.isInterface ||
                             (isPlainNumber(p.vt) && p.vt != VT_R4 && !isDouble) ||
                             p.vt == VT_BSTR || (p.vt & VT_ARRAY);
            fits = fits && (isDouble || isInteger);
            made->pass.push_back(isDouble ? CallPlan::Pass::Double : CallPlan::Pass::Integer);
            (isDouble ? doubles : integers) += 1;
        }
#if ORVIK_REGISTER_CALLS
        if (fits && integers <= kRegisterIntegers && doubles <= kRegisterDoubles &&
            registerRoutesAllowed())
            made->direct = CallPlan::Registers;
#endif
    }
    if (!made->shapes.empty() && (f.params.back().flags & PARAMFLAG_FRETVAL))
        made->plainResult = plainResultType(made->shapes.back());
#if ORVIK_REGISTER_CALLS
    if (made->direct == CallPlan::Registers)
        made->quick = quickSteps(f, *made);
    made->getter = made->quick && made->steps.size() == 1 &&
                   made->steps[0].take == CallPlan::Step::Take::Retval &&
                   made->plainResult != VT_EMPTY;
#endif
    std::lock_guard lock(m_lib.callShapes->lock);
    std::unique_ptr<CallPlan>& kept = m_lib.callShapes->plans[&f];
    if (!kept) {
        kept = std::move(made);
        __atomic_store_n(&f.plan, kept.get(), __ATOMIC_RELEASE);
    }
    plan = kept.get();
    return S_OK;
}

HRESULT Invocation::run(const Func& f, WORD flags, VARIANT* result, EXCEPINFO* excepInfo) {
    Bound bound;
    HRESULT hr = bindArguments(f, flags, bound);
    if (FAILED(hr))
        return hr;
    const CallPlan* plan = nullptr;
    if (FAILED(hr = planFor(f, plan)))
        return hr;
    const std::vector<ParamShape>& shapes = plan->shapes;
    const ParamShape& returned = plan->returned;

    // The arguments: the object, then one slot per parameter.
    void* inlineValues[17];
    std::vector<void*> moreValues;
    void** values = inlineValues;
    if (f.params.size() + 1 > 17) {
        moreValues.resize(f.params.size() + 1);
        values = moreValues.data();
    }
    values[0] = &m_instance;
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

    void** table = *static_cast<void***>(m_instance);
    void* entry = table[f.slot];
    ffi_arg answer = 0;
    switch (plan->direct) {
#if ORVIK_REGISTER_CALLS
    case CallPlan::Registers: {
        uint64_t ints[kRegisterIntegers] = {};
        double reals[kRegisterDoubles] = {};
        size_t ni = 0, nd = 0;
        for (size_t i = 0; i < plan->pass.size(); ++i) {
            if (plan->pass[i] == CallPlan::Pass::Double)
                reals[nd++] = *static_cast<double*>(values[i + 1]);
            else
                ints[ni++] = widened(plan->shapes[i], values[i + 1]);
        }
        answer = ffi_arg(int64_t(orvikCallInRegisters(entry, m_instance, ints, reals)));
        break;
    }
#else
    case CallPlan::Registers:
#endif
    case CallPlan::None:
        ffi_call(const_cast<ffi_cif*>(&plan->cif), reinterpret_cast<void (*)()>(entry), &answer,
                 values);
        break;
    }
    HRESULT called = returned.vt == VT_HRESULT ? HRESULT(int32_t(answer)) : S_OK;
    if (FAILED(called)) {
        if (bound.size() < f.params.size())
            discardRetval(*plan, retvalCell);
        return operationFailed(m_type, f, called, excepInfo);
    }
    if (bound.size() < f.params.size())
        deliverRetval(*plan, retvalCell, result);
    else if (result && returned.vt != VT_HRESULT && returned.vt != VT_VOID) {
        VariantClear(result);
        result->vt = returned.vt;
        std::memcpy(&result->llVal, &answer, sizeOfValue(returned.vt));
    }
    return S_OK;
}

namespace {
// The general route, out of line: its invocation's buffers need a large frame that
// the quick route does without.
[[gnu::noinline]] HRESULT invokeGenerally(ITypeInfo* info, const Library& lib, const Type& type,
                                          PVOID instance, const Func& f, WORD flags,
                                          DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                          UINT* argErr) {
    Invocation call(info, lib, type, instance, params, argErr);
    return call.run(f, flags, result, excepInfo);
}
} // namespace

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
    const MemberTable::Row* row = memberTableOf(lib, type).find(memid);
    if (!row)
        return DISP_E_MEMBERNOTFOUND;
    auto find = [&](INVOKEKIND kind) -> const Func* {
        int index = row->byKind[MemberTable::kindIndex(kind)];
        return index < 0 ? nullptr : &type.funcs[size_t(index)];
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
#if ORVIK_REGISTER_CALLS
    if (const CallPlan* plan = __atomic_load_n(&f->plan, __ATOMIC_ACQUIRE); plan && plan->quick) {
        HRESULT hr = S_OK;
        if (plan->getter && callGetter(*plan, type, *f, instance, *params, result, excepInfo, hr))
            return hr;
        if (callQuickly(*plan, type, *f, instance, flags, *params, result, excepInfo, argErr, hr))
            return hr;
    }
#endif
    return invokeGenerally(info, lib, type, instance, *f, flags, params, result, excepInfo, argErr);
}

} // namespace orvik::tlb
