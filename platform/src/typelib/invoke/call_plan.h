// platform/src/typelib/invoke/call_plan.h: what a late-bound call of a function needs
// that does not depend on its arguments
//
// A function's call plan is made on its first late-bound call and kept with its
// library: each parameter's shape, the return's, the prepared libffi description, and
// what the register routes need. A type's member table finds the function a dispatch
// identifier and call kind select.
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_CALL_PLAN_H
#define ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_CALL_PLAN_H

#include "typelib/invoke/register_call.h"
#include "typelib/model/library.h"
#include "typelib/model/name_index.h"

#include <ffi.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace orvik::tlb {

/// Where a type keeps the prepared call of memid for calls with these flags: a
/// property's get and put, which share the identifier, in slots of their own.
inline size_t fastCallIndex(MEMBERID memid, WORD flags) {
    const bool put = (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF)) != 0;
    return (size_t(uint32_t(memid)) * 2 + (put ? 1 : 0)) % Type::kFastCalls;
}

struct CallShapes {
    std::mutex lock;
    std::map<const Func*, std::unique_ptr<CallPlan>> plans;
    std::vector<std::unique_ptr<struct FastCall>> fastCalls;
    std::map<const Type*, std::unique_ptr<MemberTable>> members;
    std::map<const Type*, std::unique_ptr<NameIndex>> names;
};

// A declared type reduced to what a call needs to know of it.
struct ParamShape {
    enum Kind { Value, Pointer } kind = Value;
    VARTYPE vt = VT_EMPTY;          // the value's type, or what the pointer points to
    bool pointsToInterface = false; // VT_PTR to an interface pointer (an [out] object)
    IID iid{};                      // the interface of an interface pointer
    bool isInterface = false;       // the value is an interface pointer
};

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

/// One member's prepared late-bound call (fast_call.h): immutable once published,
/// owned by the library's CallShapes.
struct FastCall {
    // Getter: a get with no argument. Double: one double and nothing back, a put's
    // shape, called with the least checking. Numbers: inputs that are all plain
    // numbers or objects, each in its declared form or omitted where it may be, and
    // perhaps a plain retval.
    enum class Shape : uint8_t { Getter, Double, Numbers };
    MEMBERID memid;
    WORD flags; // the call kind it was prepared for, exactly
    Shape shape;
    bool hasRetval;    // Numbers: a plain retval follows the inputs
    uint8_t inputs;    // Numbers: how many
    uint8_t retvalReg; // its integer register
    VARTYPE resultVt;  // the retval's type, its value the retval cell's eight bytes
    int slot;          // the table entry
    const Func* func;  // for a failure's words
    const CallPlan* plan;
    CallPlan::Step steps[kRegisterIntegers + kRegisterDoubles]; // Numbers: the inputs'
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

/// The libffi description of a value of shape; a VARIANT by value is a structure of
/// three eight-byte words.
ffi_type* ffiTypeOf(const ParamShape& shape);
/// The bytes a value of type vt takes in a call.
size_t sizeOfValue(VARTYPE vt);
/// Whether calls may take the register routes: not with ORVIK_CALL_ROUTE=general in
/// the environment, nor in a build without fast calls.
bool registerRoutesAllowed();

// An integer-class argument as a full register: narrow integers extended as the
// platform's calling convention expects of a caller.
inline uint64_t widened(const ParamShape& shape, const void* cell) {
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

inline bool isOmitted(const VARIANT& v) {
    return v.vt == VT_ERROR && v.scode == DISP_E_PARAMNOTFOUND;
}

inline const IID& interfaceAsked(const ParamShape& shape) {
    if (shape.vt == VT_UNKNOWN)
        return IID_IUnknown;
    return IsEqualGUID(shape.iid, GUID{}) ? IID_IDispatch : shape.iid;
}

// An object argument (VT_DISPATCH, VT_UNKNOWN, or none as VT_EMPTY or VT_NULL) as the
// interface the parameter declares, with a reference of its own; null for none.
HRESULT queryArgument(const ParamShape& shape, const VARIANT& given, void*& itf);

// A failed operation as a late-bound caller sees it: DISP_E_EXCEPTION, with the
// operation's own code and words naming it in the exception information.
[[gnu::cold]] HRESULT operationFailed(const Type& type, const Func& f, HRESULT called,
                                      EXCEPINFO* excepInfo);

// The variant type of a retval that becomes the result as its eight bytes (narrower
// values zero-extended): a number, a string, an array or an object pointer.
// VT_EMPTY for one that does not: a VARIANT, or a value wider than eight bytes.
VARTYPE plainResultType(const ParamShape& s);

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

/// What a failing operation left in its retval cell (an object it made, a string)
/// released: the caller gets a failure, and nothing to free.
void discardRetval(const CallPlan& plan, const uint64_t* cell);

/// The member table of type, made on its first call (out of line: the calls after it
/// only look it up).
[[gnu::noinline, gnu::cold]] const MemberTable& makeMemberTable(const Library& lib,
                                                                const Type& type);

inline const MemberTable& memberTableOf(const Library& lib, const Type& type) {
    if (const MemberTable* table = __atomic_load_n(&type.memberTable, __ATOMIC_ACQUIRE))
        return *table;
    return makeMemberTable(lib, type);
}

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_CALL_PLAN_H
