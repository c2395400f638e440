// bench/cpp_layer_bench.cpp: the C++ layer against the raw table call it wraps
//
// The layer's Point::add (a check of the holder, the call, the result held, the code
// turned into an exception only on failure) against the same table call with its
// code checked by hand, on the same objects.

#include "bench_objects.h"
#include "ratio_reporter.h"

#include "orvik/orvik.hpp"

#include <cstdlib>

namespace {

using namespace orvik;

void Baseline_RawTableAdd(benchmark::State& state) {
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    Ref<IVector> v = bench::makeVector(0.5, 0.25, 0.125, 0.5);
    for (auto _ : state) {
        Ref<IPoint> sum;
        if (FAILED(p->Add(v.get(), sum.put())))
            std::abort();
        benchmark::DoNotOptimize(sum.get());
    }
}
BENCHMARK(Baseline_RawTableAdd);

void CppLayer_PointAdd(benchmark::State& state) {
    Point p(bench::makePoint(1, 2, 3, 0.01));
    Vector v(bench::makeVector(0.5, 0.25, 0.125, 0.5));
    for (auto _ : state) {
        Point sum = p.add(v);
        benchmark::DoNotOptimize(sum.raw());
    }
}
BENCHMARK(CppLayer_PointAdd);

const bool registered = [] {
    bench::compareTo("CppLayer_PointAdd", "Baseline_RawTableAdd");
    return true;
}();

} // namespace
