// bench/coord_bench.cpp: coordinate sums, as values and through the Point interface
//
// The baseline is the least an object-returning sum can cost: allocate a record of
// four doubles, fill it with the sum, free it. The value-level sum should be far
// below it; Point::Add (a new object made, queried, set through its interface and
// released) should stay a small multiple of it.

#include "geometry/coord_value.h"
#include "ratio_reporter.h"
#include "bench_objects.h"

#include <Eigen/Core>

#include <vector>

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

// Eigen's sum of two 3-vectors with the larger of two errors beside it: the same
// work as a coordinate sum.
struct EigenCoord {
    Eigen::Vector3d v;
    double error;
};

void Eigen_SumWithError(benchmark::State& state) {
    EigenCoord a{{1, 2, 3}, 0.01}, b{{0.5, 0.25, 0.125}, 0.5};
    for (auto _ : state) {
        EigenCoord r{a.v + b.v, a.error > b.error ? a.error : b.error};
        benchmark::DoNotOptimize(r);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(Eigen_SumWithError);

constexpr int kOperands = 1024;

// Each operand summed with the next: data that does not sit in registers already.
void Eigen_SumWithError1024(benchmark::State& state) {
    std::vector<EigenCoord> in(kOperands + 1), out(kOperands);
    for (int i = 0; i <= kOperands; ++i)
        in[i] = {{i * 0.5, i * 0.25, i * 0.125}, i * 1e-3};
    for (auto _ : state) {
        for (int i = 0; i < kOperands; ++i)
            out[i] = {in[i].v + in[i + 1].v,
                      in[i].error > in[i + 1].error ? in[i].error : in[i + 1].error};
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Eigen_SumWithError1024);

void Value_Sum1024(benchmark::State& state) {
    std::vector<CoordValue> in(kOperands + 1), out(kOperands);
    for (int i = 0; i <= kOperands; ++i)
        in[i] = {i * 0.5, i * 0.25, i * 0.125, i * 1e-3};
    for (auto _ : state) {
        for (int i = 0; i < kOperands; ++i)
            out[i] = sum(in[i], in[i + 1]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Value_Sum1024);

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
    bench::compareTo("Value_Sum", "Eigen_SumWithError");
    bench::compareTo("Value_Sum1024", "Eigen_SumWithError1024");
    bench::compareTo("Value_Sum", "Baseline_NewDeleteSum");
    bench::compareTo("EarlyBound_PointAdd", "Baseline_NewDeleteSum");
    return true;
}();

} // namespace
