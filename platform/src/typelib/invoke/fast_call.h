// platform/src/typelib/invoke/fast_call.h: late-bound calls of the commonest shapes,
// prepared
//
// A property get of a plain value and an operation taking only plain numbers and
// objects (a put of one, a Set of four, an indexed get, an Add) are most of what
// late-bound callers ask. Once such a member has been called, its type keeps a
// prepared call of it, found by dispatch identifier in one step, that checks the
// arguments arrived as declared and calls the table entry with them in registers,
// without the member table, the call plan's steps or the general conversions.
// Anything else, or any argument in another form, goes the usual way.
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_FAST_CALL_H
#define ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_FAST_CALL_H

#include "typelib/invoke/call_plan.h"

namespace orvik::tlb {

#if ORVIK_REGISTER_CALLS
/// Publishes a prepared call of f for calls with these flags when f's plan has one
/// of the shapes and the type's slot for memid is free. Out of line: once per member.
void prepareFastCall(const Library& lib, const Type& type, const Func& f, const CallPlan& plan,
                     WORD flags);

/// operationFailed for a prepared call, which must throw nothing: the words the
/// failure gets are made under a guard (no memory for them: E_OUTOFMEMORY).
[[gnu::cold, gnu::noinline]] HRESULT fastCallFailed(const Type& type, const Func& f, HRESULT called,
                                                    EXCEPINFO* excepInfo) noexcept;

/// A prepared call's plain result, the retval cell's eight bytes, into the caller's
/// variant.
inline void deliverFastResult(const FastCall& fc, uint64_t cell, VARIANT* result) {
    if (result->vt != VT_EMPTY)
        VariantClear(result);
    result->vt = fc.resultVt;
    result->ullVal = cell;
}

/// The prepared call of a shape other than Getter's, as callFast. Out of line, so that
/// a get needs none of its frame.
[[gnu::noinline]] bool callFastWithArguments(const FastCall& fc, const Type& type, PVOID instance,
                                             const DISPPARAMS& params, VARIANT* result,
                                             EXCEPINFO* excepInfo, HRESULT& hr);

/// Calls the prepared call, or returns false, having done nothing, when the
/// arguments do not arrive in the form it was prepared for. Throws nothing. An
/// operation's own success code is S_OK to a late-bound caller, as on the general
/// route.
inline bool callFast(const FastCall& fc, const Type& type, PVOID instance, const DISPPARAMS& params,
                     VARIANT* result, EXCEPINFO* excepInfo, HRESULT& hr) {
    void* entry = (*static_cast<void***>(instance))[fc.slot];
    if (fc.shape == FastCall::Shape::Getter) {
        if (params.cArgs != 0 || params.cNamedArgs != 0 || !result)
            return false;
        uint64_t cell = 0; // a plain value of at most eight bytes
        HRESULT called = orvikCallWithPointer(entry, instance, &cell);
        if (FAILED(called)) {
            discardRetval(*fc.plan, &cell);
            hr = fastCallFailed(type, *fc.func, called, excepInfo);
            return true;
        }
        deliverFastResult(fc, cell, result);
        hr = S_OK;
        return true;
    }
    return callFastWithArguments(fc, type, instance, params, result, excepInfo, hr);
}

#endif

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_FAST_CALL_H
