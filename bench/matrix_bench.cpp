// bench/matrix_bench.cpp: the matrix value algorithms against Eigen's Affine3d
//
// Each pair does the same work on the same numbers: composing two affine maps,
// inverting one, and applying one to a point. Eigen is the baseline; it is used here
// only, never by the module. The early-bound IMatrix::Mul (a result object made,
// written through its interface and released) is measured against the value-level
// product to show what the object layer costs.

#include "geometry/matrix_value.h"
#include "ratio_reporter.h"
#include "bench_objects.h"

#include <Eigen/Geometry>

#include <vector>

namespace {

using namespace orvik;

MatrixValue sampleValue(double turn) {
    MatrixValue m;
    rotateXYZ(m, 0.3 * turn, -0.7 * turn, 1.1 * turn);
    scaleAxes(m, 1.5, 0.75, 2.0);
    translate(m, 1, -2, 3);
    return m;
}

Eigen::Affine3d toEigen(const MatrixValue& m) {
    Eigen::Affine3d a = Eigen::Affine3d::Identity();
    for (int c = 0; c < 3; ++c)
        for (int r = 0; r < 3; ++r)
            a.linear()(r, c) = m.m[3 * c + r];
    a.translation() = Eigen::Vector3d(m.m[9], m.m[10], m.m[11]);
    return a;
}

void Eigen_Product(benchmark::State& state) {
    Eigen::Affine3d a = toEigen(sampleValue(1)), b = toEigen(sampleValue(2));
    for (auto _ : state) {
        Eigen::Affine3d p = a * b;
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(Eigen_Product);

void Value_Product(benchmark::State& state) {
    MatrixValue a = sampleValue(1), b = sampleValue(2);
    for (auto _ : state) {
        MatrixValue p = product(a, b);
        benchmark::DoNotOptimize(p);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(Value_Product);

void Eigen_Inverse(benchmark::State& state) {
    Eigen::Affine3d a = toEigen(sampleValue(1));
    for (auto _ : state) {
        Eigen::Affine3d i = a.inverse(Eigen::Affine);
        benchmark::DoNotOptimize(i);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(Eigen_Inverse);

void Value_Inverse(benchmark::State& state) {
    MatrixValue a = sampleValue(1);
    for (auto _ : state) {
        MatrixValue i = inverse(a);
        benchmark::DoNotOptimize(i);
        benchmark::DoNotOptimize(a);
    }
}
BENCHMARK(Value_Inverse);

void Eigen_ApplyToPoint(benchmark::State& state) {
    Eigen::Affine3d a = toEigen(sampleValue(1));
    Eigen::Vector3d p(1, 2, 3);
    for (auto _ : state) {
        Eigen::Vector3d q = a * p;
        benchmark::DoNotOptimize(q);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(Eigen_ApplyToPoint);

void Value_ApplyToPoint(benchmark::State& state) {
    MatrixValue a = sampleValue(1);
    CoordValue p{1, 2, 3, 0.001};
    for (auto _ : state) {
        CoordValue q = applyToPoint(a, p);
        benchmark::DoNotOptimize(q);
        benchmark::DoNotOptimize(p);
    }
}
BENCHMARK(Value_ApplyToPoint);

constexpr int kPoints = 1024;

void Eigen_ApplyToPoints1024(benchmark::State& state) {
    Eigen::Affine3d a = toEigen(sampleValue(1));
    std::vector<Eigen::Vector3d> in(kPoints), out(kPoints);
    for (int i = 0; i < kPoints; ++i)
        in[i] = Eigen::Vector3d(i, i * 0.5, -i);
    for (auto _ : state) {
        for (int i = 0; i < kPoints; ++i)
            out[i] = a * in[i];
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Eigen_ApplyToPoints1024);

void Value_ApplyToPoints1024(benchmark::State& state) {
    MatrixValue a = sampleValue(1);
    std::vector<CoordValue> in(kPoints), out(kPoints);
    for (int i = 0; i < kPoints; ++i)
        in[i] = {double(i), i * 0.5, -double(i), 0.001};
    for (auto _ : state) {
        for (int i = 0; i < kPoints; ++i)
            out[i] = applyToPoint(a, in[i]);
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
}
BENCHMARK(Value_ApplyToPoints1024);

void EarlyBound_MatrixMul(benchmark::State& state) {
    Ref<IMatrix> a = orvik::bench::create<IMatrix>(CLSID_Matrix);
    Ref<IMatrix> b = orvik::bench::create<IMatrix>(CLSID_Matrix);
    a->SetRotate(0.3, -0.7, 1.1);
    b->SetMove(1, -2, 3);
    for (auto _ : state) {
        IMatrix* result = nullptr;
        a->Mul(b.get(), &result);
        result->Release();
    }
}
BENCHMARK(EarlyBound_MatrixMul);

const bool registered = [] {
    bench::compareTo("Value_Product", "Eigen_Product");
    bench::compareTo("Value_Inverse", "Eigen_Inverse");
    bench::compareTo("Value_ApplyToPoint", "Eigen_ApplyToPoint");
    bench::compareTo("Value_ApplyToPoints1024", "Eigen_ApplyToPoints1024");
    bench::compareTo("EarlyBound_MatrixMul", "Value_Product");
    return true;
}();

} // namespace
