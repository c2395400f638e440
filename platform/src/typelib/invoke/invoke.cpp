// platform/src/typelib/invoke/invoke.cpp: late-bound calls through a table slot
//
// ITypeInfo::Invoke turns a dispatch call (arguments as variants, last first, some
// of them named) into a call of the operation-table slot the library gives the
// member, with each argument converted to the type the library declares, and turns
// the [out, retval] value back into a variant. It knows nothing of any particular
// interface: everything comes from the type description. Each function's call plan
// is made once and kept with the library; the call goes through libffi, or, where the
// plan allows and the register routes are on, through the register routine
// (quick_route.h for arguments that arrive as declared).
//
// The contract followed is the platform's published one for late-bound calls:
// DISP_E_MEMBERNOTFOUND, DISP_E_BADPARAMCOUNT, DISP_E_PARAMNOTOPTIONAL,
// DISP_E_PARAMNOTFOUND and DISP_E_TYPEMISMATCH/DISP_E_OVERFLOW (the last three with
// the argument's index in rgvarg), and DISP_E_EXCEPTION carrying the operation's own
// failure code in the exception information.

#include "typelib/invoke/invoke.h"
#include "typelib/invoke/fast_call.h"
#include "typelib/invoke/invocation.h"
#include "typelib/invoke/quick_route.h"

#include "orvik/platform/boundary.h"

namespace orvik::tlb {

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

namespace {

// Calls entry with the object and the converted arguments in values (the object
// first): in registers where the plan allows, else through libffi. The answer as
// libffi gives it, whatever the route.
ffi_arg callEntry(const CallPlan& plan, void* entry, void** values) {
#if ORVIK_REGISTER_CALLS
    if (plan.direct == CallPlan::Registers) {
        uint64_t ints[kRegisterIntegers] = {};
        double reals[kRegisterDoubles] = {};
        size_t ni = 0, nd = 0;
        for (size_t i = 0; i < plan.pass.size(); ++i) {
            if (plan.pass[i] == CallPlan::Pass::Double)
                reals[nd++] = *static_cast<double*>(values[i + 1]);
            else
                ints[ni++] = widened(plan.shapes[i], values[i + 1]);
        }
        void* instance = *static_cast<void**>(values[0]);
        return ffi_arg(int64_t(orvikCallInRegisters(entry, instance, ints, reals)));
    }
#endif
    ffi_arg answer = 0;
    ffi_call(const_cast<ffi_cif*>(&plan.cif), reinterpret_cast<void (*)()>(entry), &answer, values);
    return answer;
}

} // namespace

HRESULT Invocation::run(const Func& f, WORD flags, VARIANT* result, EXCEPINFO* excepInfo) {
    Bound bound;
    HRESULT hr = bindArguments(f, flags, bound);
    if (FAILED(hr))
        return hr;
    const CallPlan* plan = nullptr;
    if (FAILED(hr = planFor(f, plan)))
        return hr;
#if ORVIK_REGISTER_CALLS
    // Prepared on the first call, so that the calls after it allocate nothing.
    if (plan->quick &&
        !__atomic_load_n(&m_type.fastCalls[fastCallIndex(f.memid, flags)], __ATOMIC_ACQUIRE))
        prepareFastCall(m_lib, m_type, f, *plan, flags);
#endif
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

    void* entry = (*static_cast<void***>(m_instance))[f.slot];
    ffi_arg answer = callEntry(*plan, entry, values);
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

#if ORVIK_REGISTER_CALLS
HRESULT fastCallFailed(const Type& type, const Func& f, HRESULT called,
                       EXCEPINFO* excepInfo) noexcept {
    return orvik::guardResult([&] { return operationFailed(type, f, called, excepInfo); });
}

bool callFastWithArguments(const FastCall& fc, const Type& type, PVOID instance,
                           const DISPPARAMS& params, VARIANT* result, EXCEPINFO* excepInfo,
                           HRESULT& hr) {
    void* entry = (*static_cast<void***>(instance))[fc.slot];
    const bool putNamed = params.cNamedArgs == 1 && params.rgdispidNamedArgs &&
                          params.rgdispidNamedArgs[0] == DISPID_PROPERTYPUT &&
                          (fc.flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF));
    if (fc.shape == FastCall::Shape::Double) {
        if (params.cArgs != 1 || !params.rgvarg || (params.cNamedArgs != 0 && !putNamed) ||
            params.rgvarg[0].vt != VT_R8)
            return false;
        using Entry = HRESULT(STDMETHODCALLTYPE*)(void*, double);
        HRESULT called = reinterpret_cast<Entry>(entry)(instance, params.rgvarg[0].dblVal);
        hr = FAILED(called) ? fastCallFailed(type, *fc.func, called, excepInfo) : S_OK;
        return true;
    }
    // Numbers, positional, the missing or omitted ones defaulted; or a put's value
    // named as such, every argument given.
    const UINT given = params.cArgs;
    if (given > fc.inputs || (given && !params.rgvarg) || (fc.hasRetval && !result) ||
        (params.cNamedArgs != 0 && !(putNamed && given == fc.inputs)))
        return false;
    uint64_t ints[kRegisterIntegers] = {};
    double reals[kRegisterDoubles] = {};
    // The objects passed, each as the interface its parameter declares, with a
    // reference of the call's own until it returns.
    IUnknown* held[kRegisterIntegers];
    size_t heldCount = 0;
    auto release = [&] {
        for (size_t i = 0; i < heldCount; ++i)
            held[i]->Release();
    };
    for (UINT i = 0; i < fc.inputs; ++i) {
        const CallPlan::Step& step = fc.steps[i];
        const VARIANTARG* arg = i < given ? &params.rgvarg[given - 1 - i] : nullptr; // last first
        if (step.take == CallPlan::Step::Take::Object && arg &&
            (arg->vt == VT_DISPATCH || arg->vt == VT_UNKNOWN)) {
            void* itf = nullptr;
            // One without the interface goes the general way, which names the argument.
            if (arg->punkVal && FAILED(arg->punkVal->QueryInterface(*step.iid, &itf))) {
                release();
                return false;
            }
            if (itf)
                held[heldCount++] = static_cast<IUnknown*>(itf);
            ints[step.reg] = uint64_t(itf);
        } else if (step.take == CallPlan::Step::Take::Number && arg && arg->vt == step.vt) {
            if (step.inDouble)
                reals[step.reg] = arg->dblVal;
            else
                ints[step.reg] = widened(fc.plan->shapes[i], &arg->llVal);
        } else if ((!arg || isOmitted(*arg)) && step.omittable) {
            if (step.inDouble)
                std::memcpy(&reals[step.reg], &step.defaultBits, sizeof(double));
            else
                ints[step.reg] = step.defaultBits;
        } else {
            release();
            return false;
        }
    }
    uint64_t cell = 0;
    if (fc.hasRetval)
        ints[fc.retvalReg] = uint64_t(&cell);
    HRESULT called = orvikCallInRegisters(entry, instance, ints, reals);
    release();
    if (FAILED(called)) {
        if (fc.hasRetval)
            discardRetval(*fc.plan, &cell);
        hr = fastCallFailed(type, *fc.func, called, excepInfo);
        return true;
    }
    if (fc.hasRetval)
        deliverFastResult(fc, cell, result);
    hr = S_OK;
    return true;
}

void prepareFastCall(const Library& lib, const Type& type, const Func& f, const CallPlan& plan,
                     WORD flags) {
    FastCall made{};
    made.memid = f.memid;
    made.flags = flags;
    made.shape = plan.getter ? FastCall::Shape::Getter : FastCall::Shape::Numbers;
    made.resultVt = plan.plainResult;
    made.slot = f.slot;
    made.func = &f;
    made.plan = &plan;
    if (!plan.getter) {
        for (const CallPlan::Step& step : plan.steps) {
            if (step.take == CallPlan::Step::Take::Retval && &step == &plan.steps.back() &&
                plan.plainResult != VT_EMPTY) {
                made.hasRetval = true;
                made.retvalReg = step.reg;
            } else if (step.take == CallPlan::Step::Take::Number ||
                       step.take == CallPlan::Step::Take::Object) {
                made.steps[made.inputs++] = step;
            } else {
                return; // [out]s take the quick route's care
            }
        }
        if (made.inputs == 1 && !made.hasRetval && made.steps[0].vt == VT_R8 &&
            !made.steps[0].omittable)
            made.shape = FastCall::Shape::Double;
    }
    const FastCall*& slot = type.fastCalls[fastCallIndex(f.memid, flags)];
    std::lock_guard lock(lib.callShapes->lock);
    if (slot)
        return; // another member's, or this one's from another thread
    lib.callShapes->fastCalls.push_back(std::make_unique<FastCall>(made));
    __atomic_store_n(&slot, lib.callShapes->fastCalls.back().get(), __ATOMIC_RELEASE);
}
#endif

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
