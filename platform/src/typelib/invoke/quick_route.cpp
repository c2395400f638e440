// platform/src/typelib/invoke/quick_route.cpp: the quick route's steps and calls

#include "typelib/invoke/quick_route.h"

namespace orvik::tlb {

namespace {

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

} // namespace

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
namespace {

// Whether each of the first callable steps finds its argument in its declared form,
// or omitted where it may be.
bool argumentsArriveAsDeclared(const std::vector<CallPlan::Step>& steps, size_t callable,
                               const DISPPARAMS& params) {
    size_t given = params.cArgs;
    for (size_t i = 0; i < callable; ++i) {
        const CallPlan::Step& step = steps[i];
        const VARIANTARG* arg = i < given ? &params.rgvarg[given - 1 - i] : nullptr;
        if (!arg || isOmitted(*arg)) {
            if (!step.omittable)
                return false;
            continue;
        }
        bool taken = step.take == CallPlan::Step::Take::Number ? arg->vt == step.vt
                     : step.take == CallPlan::Step::Take::Object
                         ? arg->vt == VT_DISPATCH || arg->vt == VT_UNKNOWN
                     : step.take == CallPlan::Step::Take::Out
                         ? (arg->vt == step.vt || arg->vt == step.otherVt) && arg->byref
                         : false;
        if (!taken)
            return false;
    }
    return true;
}

} // namespace

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
    if (!argumentsArriveAsDeclared(steps, callable, params))
        return false;
    auto argOf = [&](size_t i) -> const VARIANTARG& { return params.rgvarg[given - 1 - i]; };

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
#endif

} // namespace orvik::tlb
