// bench/dispatch_bench.cpp: late-bound calls against the same early-bound calls
//
// Each late-bound figure is an object's IDispatch::Invoke with its arguments as a
// script would pass them, compared with the early-bound call of the same operation
// in the same run. The name lookup from a holder's cache is compared with a plain
// hash lookup of the same name. The library is registered in the benchmark's own
// store.

#include "bench_objects.h"
#include "ratio_reporter.h"

#include <string>
#include <unordered_map>

namespace {

using namespace orvik;

// The library registered in the benchmark's own store, for the whole run.
bool libraryRegistered() {
    static bool ok = [] {
        Ref<ITypeLib> lib;
        return bench::usePrivateStore() && SUCCEEDED(LoadTypeLib(ORVIK_TLB_PATH, lib.put())) &&
               SUCCEEDED(RegisterTypeLib(lib.get(), ORVIK_TLB_PATH, u"/"));
    }();
    return ok;
}

VARIANT real(double d) {
    VARIANT v;
    VariantInit(&v);
    v.vt = VT_R8;
    v.dblVal = d;
    return v;
}

void EarlyBound_GetX(benchmark::State& state) {
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    for (auto _ : state) {
        double x = 0;
        p->get_X(&x);
        benchmark::DoNotOptimize(x);
    }
}
BENCHMARK(EarlyBound_GetX);

void LateBound_GetX(benchmark::State& state) {
    if (!libraryRegistered())
        return state.SkipWithError("library not registered");
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    for (auto _ : state) {
        VARIANT result;
        VariantInit(&result);
        p->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(LateBound_GetX);

void EarlyBound_PutX(benchmark::State& state) {
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    for (auto _ : state)
        p->put_X(4.0);
}
BENCHMARK(EarlyBound_PutX);

void LateBound_PutX(benchmark::State& state) {
    if (!libraryRegistered())
        return state.SkipWithError("library not registered");
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    VARIANT value = real(4.0);
    DISPID put = DISPID_PROPERTYPUT;
    DISPPARAMS params = {&value, &put, 1, 1};
    for (auto _ : state)
        p->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr, nullptr, nullptr);
}
BENCHMARK(LateBound_PutX);

void EarlyBound_Set(benchmark::State& state) {
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    for (auto _ : state)
        p->Set(4, 5, 6, 0.5);
}
BENCHMARK(EarlyBound_Set);

void LateBound_Set(benchmark::State& state) {
    if (!libraryRegistered())
        return state.SkipWithError("library not registered");
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    VARIANT args[4] = {real(0.5), real(6), real(5), real(4)}; // last first
    DISPPARAMS params = {args, nullptr, 4, 0};
    for (auto _ : state)
        p->Invoke(6, IID_NULL, 0, DISPATCH_METHOD, &params, nullptr, nullptr, nullptr);
}
BENCHMARK(LateBound_Set);

void EarlyBound_Add(benchmark::State& state) {
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    Ref<IVector> v = bench::makeVector(0.5, 0.25, 0.125, 0.5);
    for (auto _ : state) {
        Ref<IPoint> sum;
        p->Add(v.get(), sum.put());
        benchmark::DoNotOptimize(sum.get());
    }
}
BENCHMARK(EarlyBound_Add);

void LateBound_Add(benchmark::State& state) {
    if (!libraryRegistered())
        return state.SkipWithError("library not registered");
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    Ref<IVector> v = bench::makeVector(0.5, 0.25, 0.125, 0.5);
    VARIANT arg;
    VariantInit(&arg);
    arg.vt = VT_DISPATCH;
    arg.pdispVal = v.get();
    DISPPARAMS params = {&arg, nullptr, 1, 0};
    for (auto _ : state) {
        VARIANT result;
        VariantInit(&result);
        p->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &params, &result, nullptr, nullptr);
        VariantClear(&result);
    }
}
BENCHMARK(LateBound_Add);

void EarlyBound_ElementGet(benchmark::State& state) {
    Ref<IMatrix> m = bench::create<IMatrix>(CLSID_Matrix);
    for (auto _ : state) {
        double e = 0;
        m->get_Element(1, 1, &e);
        benchmark::DoNotOptimize(e);
    }
}
BENCHMARK(EarlyBound_ElementGet);

// Element(5): the second index omitted, so the stored default -1 is passed (the
// operation then reads entry 5 of the column-major twelve).
void LateBound_ElementGet(benchmark::State& state) {
    if (!libraryRegistered())
        return state.SkipWithError("library not registered");
    Ref<IMatrix> m = bench::create<IMatrix>(CLSID_Matrix);
    LPOLESTR name = const_cast<LPOLESTR>(u"Element");
    DISPID id = 0;
    m->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
    VARIANT index;
    VariantInit(&index);
    index.vt = VT_I4;
    index.lVal = 1;
    DISPPARAMS params = {&index, nullptr, 1, 0};
    for (auto _ : state) {
        VARIANT result;
        VariantInit(&result);
        (void)m->Invoke(id, IID_NULL, 0, DISPATCH_PROPERTYGET, &params, &result, nullptr, nullptr);
        benchmark::DoNotOptimize(result);
    }
}
BENCHMARK(LateBound_ElementGet);

void Baseline_HashLookup(benchmark::State& state) {
    std::unordered_map<std::u16string, DISPID> names;
    const char16_t* all[] = {u"X",   u"Y",      u"Z",        u"Error",  u"CopyFrom",  u"Set",
                             u"Add", u"SetAdd", u"Sub",      u"SetSub", u"Transform", u"AsArray",
                             u"Get", u"Clone",  u"ToVector", u"Diff",   u"Distance"};
    DISPID next = 1;
    for (const char16_t* n : all)
        names.emplace(n, next++);
    std::u16string wanted = u"Set";
    for (auto _ : state) {
        auto it = names.find(wanted);
        benchmark::DoNotOptimize(it);
    }
}
BENCHMARK(Baseline_HashLookup);

// A name through an object's GetIDsOfNames: one in the holder's cache ("Set"), the
// one its search from the last entry reaches last ("X"), one in another case (found
// by the type information) and an unknown one.
void Holder_Name(benchmark::State& state, const char16_t* wanted) {
    if (!libraryRegistered())
        return state.SkipWithError("library not registered");
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    LPOLESTR name = const_cast<LPOLESTR>(wanted);
    for (auto _ : state) {
        DISPID id = 0;
        p->GetIDsOfNames(IID_NULL, &name, 1, 0, &id);
        benchmark::DoNotOptimize(id);
    }
}
BENCHMARK_CAPTURE(Holder_Name, cached, u"Set");
BENCHMARK_CAPTURE(Holder_Name, reached_last, u"X");
BENCHMARK_CAPTURE(Holder_Name, other_case, u"set");
BENCHMARK_CAPTURE(Holder_Name, unknown, u"Nothing");

const bool registered = [] {
    bench::compareTo("LateBound_GetX", "EarlyBound_GetX");
    bench::compareTo("LateBound_PutX", "EarlyBound_PutX");
    bench::compareTo("LateBound_Set", "EarlyBound_Set");
    bench::compareTo("LateBound_Add", "EarlyBound_Add");
    bench::compareTo("LateBound_ElementGet", "EarlyBound_ElementGet");
    for (const char* name : {"cached", "reached_last", "other_case", "unknown"})
        bench::compareTo(std::string("Holder_Name/") + name, "Baseline_HashLookup");
    return true;
}();

} // namespace
