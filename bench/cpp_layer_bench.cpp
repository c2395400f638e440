// bench/cpp_layer_bench.cpp: the C++ layer against the raw table call it wraps
//
// The layer's Point::add and Point::x (a check of the holder, the call, the result
// held, the code turned into an exception only on failure) against the same table
// calls with their codes checked by hand, on the same objects. The layer reaches the
// tables through its own declarations of them, the raw calls through the interface
// header's.

#include "bench_objects.h"
#include "ratio_reporter.h"

#include "orvik/orvik_raw.hpp"

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
    Point p = wrap(bench::makePoint(1, 2, 3, 0.01));
    Vector v = wrap(bench::makeVector(0.5, 0.25, 0.125, 0.5));
    for (auto _ : state) {
        Point sum = p.add(v);
        benchmark::DoNotOptimize(sum.raw());
    }
}
BENCHMARK(CppLayer_PointAdd);

void Baseline_RawTableGetX(benchmark::State& state) {
    Ref<IPoint> p = bench::makePoint(1, 2, 3, 0.01);
    for (auto _ : state) {
        double x = 0;
        if (FAILED(p->get_X(&x)))
            std::abort();
        benchmark::DoNotOptimize(x);
    }
}
BENCHMARK(Baseline_RawTableGetX);

void CppLayer_PointX(benchmark::State& state) {
    Point p = wrap(bench::makePoint(1, 2, 3, 0.01));
    for (auto _ : state)
        benchmark::DoNotOptimize(p.x());
}
BENCHMARK(CppLayer_PointX);

const bool registered = [] {
    bench::compareTo("CppLayer_PointAdd", "Baseline_RawTableAdd");
    bench::compareTo("CppLayer_PointX", "Baseline_RawTableGetX");
    return true;
}();

} // namespace
