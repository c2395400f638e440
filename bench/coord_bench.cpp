// bench/coord_bench.cpp: coordinate sums, as values and through the Point interface
//
// The baseline is the least an object-returning sum can cost: allocate a record of
// four doubles, fill it with the sum, free it. The value-level sum should be far
// below it; Point::Add (a new object made, queried, set through its interface and
// released) should stay a small multiple of it.

#include "geometry/coord_value.h"
#include "ratio_reporter.h"
#include "bench_objects.h"

namespace {

using namespace orvik;

void Baseline_NewDeleteSum(benchmark::State& state) {
    CoordValue a{1, 2, 3, 0.01}, b{0.5, 0.25, 0.125, 0.5};
    for (auto _ : state) {
        auto* r = new CoordValue(sum(a, b));
        benchmark::DoNotOptimize(r);
        delete r;
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(Baseline_NewDeleteSum);

void Value_Sum(benchmark::State& state) {
    CoordValue a{1, 2, 3, 0.01}, b{0.5, 0.25, 0.125, 0.5};
    for (auto _ : state) {
        CoordValue r = sum(a, b);
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(Value_Sum);

void EarlyBound_PointAdd(benchmark::State& state) {
    Ref<IPoint> point = orvik::bench::makePoint(1, 2, 3, 0.01);
    Ref<IVector> vector = orvik::bench::makeVector(0.5, 0.25, 0.125, 0.5);
    for (auto _ : state) {
        IPoint* result = nullptr;
        point->Add(vector.get(), &result);
        result->Release();
    }
}
BENCHMARK(EarlyBound_PointAdd);

const bool registered = [] {
    bench::compareTo("Value_Sum", "Baseline_NewDeleteSum");
    bench::compareTo("EarlyBound_PointAdd", "Baseline_NewDeleteSum");
    return true;
}();

} // namespace
