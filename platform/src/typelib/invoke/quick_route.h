// platform/src/typelib/invoke/quick_route.h: late-bound calls whose arguments arrive in
// their declared forms, straight into registers
//
// The quick route serves a Registers plan whose every argument arrives as declared (a
// number of the declared type, an object, the caller's by-reference variant for an
// [out]): each parameter's register is known in advance, and nothing is bound,
// copied or converted. Any other call takes the general route, which gives the same
// results and failures.
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_QUICK_ROUTE_H
#define ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_QUICK_ROUTE_H

#include "typelib/invoke/call_plan.h"

namespace orvik::tlb {

/// The quick route's steps for a plan whose call fits in registers; false where a
/// parameter needs what only the general route does (conversion, a VARIANT, an [in]
/// pointer, a retval variant).
bool quickSteps(const Func& f, CallPlan& plan);

#if ORVIK_REGISTER_CALLS
/// Calls f by the quick route when every argument arrives in its declared form;
/// false, having done nothing, when the call needs the general route. Otherwise hr
/// is the call's answer.
[[gnu::noinline]] bool callQuickly(const CallPlan& plan, const Type& type, const Func& f,
                                   PVOID instance, WORD flags, const DISPPARAMS& params,
                                   VARIANT* result, EXCEPINFO* excepInfo, UINT* argErr,
                                   HRESULT& hr);

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

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_INVOKE_QUICK_ROUTE_H
