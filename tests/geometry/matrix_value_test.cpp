// tests/geometry/matrix_value_test.cpp: the affine matrix algorithms on plain values

#include "geometry/matrix_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>

namespace orvik {
namespace {

constexpr double kPi = std::numbers::pi;

MatrixValue translation(double x, double y, double z) {
    MatrixValue m;
    m.m[9] = x;
    m.m[10] = y;
    m.m[11] = z;
    return m;
}

MatrixValue quarterTurnAboutZ() {
    MatrixValue m;
    rotateAboutAxis(m, {0, 0, 1}, kPi / 2);
    return m;
}

void expectColumn(const MatrixValue& M, int c, double x, double y, double z, double tol = 1e-15) {
    EXPECT_NEAR(M.m[3 * c], x, tol) << "column " << c;
    EXPECT_NEAR(M.m[3 * c + 1], y, tol) << "column " << c;
    EXPECT_NEAR(M.m[3 * c + 2], z, tol) << "column " << c;
}

TEST(MatrixValue, FreshValueIsTheIdentityWithTheDefaultError) {
    MatrixValue m;
    const double identity[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(m.m[i], identity[i]) << i;
    EXPECT_EQ(m.error, 0.001);
}

TEST(MatrixValue, ProductAppliesTheRightOperandFirst) {
    MatrixValue A = quarterTurnAboutZ(), B = translation(1, 0, 0);
    expectColumn(product(A, B), 3, 0, 1, 0);
    expectColumn(product(B, A), 3, 1, 0, 0);
    CoordValue p{2, 3, 4};
    CoordValue viaProduct = applyToPoint(product(A, B), p);
    CoordValue stepwise = applyToPoint(A, applyToPoint(B, p));
    EXPECT_NEAR(viaProduct.x, stepwise.x, 1e-15);
    EXPECT_NEAR(viaProduct.y, stepwise.y, 1e-15);
    EXPECT_NEAR(viaProduct.z, stepwise.z, 1e-15);
}

// Each entry of a product is ((a0 b0 + a1 b1) + a2 b2), plus A's origin in the origin
// column, rounded step by step; so is each coordinate of an applied point. 2^53 + 1 rounds to 2^53,
// so only that order of the three terms gives 0 rather than 1.
TEST(MatrixValue, ProductEntriesAreSummedInTheirOrderWithNothingAddedToTheAxes) {
    constexpr double big = 0x1p53;
    MatrixValue A, B;
    for (int r = 0; r < 3; ++r) {
        A.m[r] = big;
        A.m[3 + r] = 1;
        A.m[6 + r] = -big;
        A.m[9 + r] = 5;
    }
    for (double& b : B.m)
        b = 1;
    MatrixValue P = product(A, B);
    for (int i = 0; i < 9; ++i)
        EXPECT_EQ(P.m[i], 0.0) << i;
    for (int i = 9; i < 12; ++i)
        EXPECT_EQ(P.m[i], 5.0) << i;
    // Applying A to a point or a direction sums each row the same way.
    CoordValue point = applyToPoint(A, {1, 1, 1, 0.5}), direction = applyToDirection(A, {1, 1, 1});
    EXPECT_EQ(point.x, 5.0);
    EXPECT_EQ(point.y, 5.0);
    EXPECT_EQ(point.z, 5.0);
    EXPECT_EQ(point.error, 0.5);
    EXPECT_EQ(direction.x, 0.0);
    EXPECT_EQ(direction.y, 0.0);
    EXPECT_EQ(direction.z, 0.0);

    // Products -1 * 0 are -0.0, and so are their sums: the axis columns keep the
    // -0.0 (no zero of an implicit fourth row is added), and the origin column is
    // -0.0 + A's origin.
    for (int r = 0; r < 3; ++r) {
        A.m[r] = A.m[3 + r] = A.m[6 + r] = -1;
        A.m[9 + r] = r == 0 ? 0.0 : -0.0;
    }
    for (double& b : B.m)
        b = 0;
    P = product(A, B);
    for (int i = 0; i < 9; ++i)
        EXPECT_TRUE(std::signbit(P.m[i])) << i;
    EXPECT_FALSE(std::signbit(P.m[9])) << "-0.0 + 0.0";
    EXPECT_TRUE(std::signbit(P.m[10])) << "-0.0 + -0.0";
    EXPECT_TRUE(std::signbit(P.m[11]));
}

TEST(MatrixValue, CombinationsKeepTheLargerErrorAndOperandsMayAlias) {
    MatrixValue A = translation(1, 2, 3), B = translation(4, 5, 6);
    A.error = 0.5;
    B.error = 0.25;
    EXPECT_EQ(product(A, B).error, 0.5);
    EXPECT_EQ(sum(A, B).error, 0.5);
    MatrixValue d = difference(A, B);
    expectColumn(d, 3, -3, -3, -3);
    expectColumn(d, 0, 0, 0, 0);
    MatrixValue self = product(A, A);
    expectColumn(self, 3, 2, 4, 6);
}

TEST(MatrixValue, ApplyToPointRaisesTheErrorAndApplyToDirectionIgnoresTranslation) {
    MatrixValue I;
    CoordValue p = applyToPoint(I, {1, 2, 3, 1e-9});
    EXPECT_EQ(p.error, 0.001);
    CoordValue v = applyToDirection(translation(7, 8, 9), {1, 2, 3});
    EXPECT_EQ(v.x, 1);
    EXPECT_EQ(v.z, 3);
}

TEST(MatrixValue, AxisRotationsAreRightHandedAndTurnTheOrigin) {
    MatrixValue x;
    rotateAboutX(x, kPi / 2);
    expectColumn(x, 1, 0, 0, 1); // Y towards Z
    MatrixValue y;
    rotateAboutY(y, kPi / 2);
    expectColumn(y, 2, 1, 0, 0); // Z towards X
    MatrixValue z = translation(1, 0, 0);
    rotateAboutZ(z, kPi / 2);
    expectColumn(z, 0, 0, 1, 0); // X towards Y
    expectColumn(z, 3, 0, 1, 0); // the translation turns too
    EXPECT_EQ(z.error, 0.001);
}

TEST(MatrixValue, RotateXYZSkipsSmallAnglesAndTurnsZFirst) {
    MatrixValue m = translation(1, 2, 3);
    MatrixValue before = m;
    rotateXYZ(m, 5e-7, 0, -9e-7);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(m.m[i], before.m[i]);
    MatrixValue turned;
    rotateXYZ(turned, kPi / 2, 0, 0);
    expectColumn(turned, 1, 0, 0, 1);
    // Z first, then X: the X axis goes to Y under Z, then Y goes to Z under X.
    MatrixValue both;
    rotateXYZ(both, kPi / 2, 0, kPi / 2);
    expectColumn(both, 0, 0, 0, 1);
}

TEST(MatrixValue, RotationAboutAnAxisFollowsTheRightHandRuleAndRaisesTheError) {
    MatrixValue m = quarterTurnAboutZ();
    expectColumn(m, 0, 0, 1, 0);
    EXPECT_EQ(m.error, 0.001);
    MatrixValue precise;
    precise.error = 1e-9;
    rotateAboutAxis(precise, {0, 0, 5, 0.5}, kPi);
    EXPECT_EQ(precise.error, 0.5) << "the axis's own error wins";
    expectColumn(precise, 0, -1, 0, 0, 1e-15); // the axis is normalised first
    MatrixValue zeroAxis;
    rotateAboutAxis(zeroAxis, {0, 0, 0}, 1.0);
    MatrixValue identity;
    for (int i = 0; i < 12; ++i)
        EXPECT_NEAR(zeroAxis.m[i], identity.m[i], 1e-15);
}

TEST(MatrixValue, MakeRotationTurnsAboutALineThroughAPoint) {
    CoordValue pivot{1, 0, 0};
    MatrixValue m = makeRotation(kPi, {0, 0, 1}, &pivot, 0.001);
    CoordValue fixed = applyToPoint(m, {1, 0, 0});
    CoordValue moved = applyToPoint(m, {0, 0, 0});
    EXPECT_NEAR(fixed.x, 1, 1e-15);
    EXPECT_NEAR(fixed.y, 0, 1e-15);
    EXPECT_NEAR(moved.x, 2, 1e-15);
    EXPECT_NEAR(moved.y, 0, 1e-15);
    MatrixValue precise = makeRotation(1.0, {0, 0, 1, 1e-9}, nullptr, 1e-9);
    EXPECT_EQ(precise.error, 1e-9) << "the 0.001 of the inner rotation does not survive";
    CoordValue rough{0, 0, 0, 0.25};
    EXPECT_EQ(makeRotation(1.0, {0, 0, 1, 1e-9}, &rough, 1e-9).error, 0.25);
}

TEST(MatrixValue, TranslationAndMovesCarryTheirErrors) {
    MatrixValue t = makeTranslation({1, 2, 3, 0.5}, 0.25);
    expectColumn(t, 3, 1, 2, 3);
    EXPECT_EQ(t.error, 0.5);
    EXPECT_EQ(makeTranslation({1, 2, 3, 0.5}, 0.75).error, 0.75);
    translate(t, 1, 1, 1);
    expectColumn(t, 3, 2, 3, 4);
    EXPECT_EQ(t.error, 0.5);
    translateBy(t, {1, 0, 0, 2});
    expectColumn(t, 3, 3, 3, 4);
    EXPECT_EQ(t.error, 2);
    scaleAxes(t, 2, 3, 4);
    expectColumn(t, 3, 6, 9, 16);
    expectColumn(t, 1, 0, 3, 0);
}

TEST(MatrixValue, TransposeClearsTheOriginAndKeepsTheErrorInverseResetsIt) {
    MatrixValue m = quarterTurnAboutZ();
    translate(m, 1, 2, 3);
    m.error = 0.5;
    MatrixValue t = transposed(m);
    expectColumn(t, 3, 0, 0, 0);
    EXPECT_EQ(t.error, 0.5);
    expectColumn(t, 0, m.m[0], m.m[3], m.m[6]);
    EXPECT_EQ(inverse(m).error, 0.001);
}

// Random well-conditioned matrices: M times its inverse is the identity.
TEST(MatrixValue, InverseTimesTheOriginalIsTheIdentity) {
    unsigned seed = std::random_device{}();
    SCOPED_TRACE(::testing::Message() << "seed " << seed);
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> angle(-kPi, kPi), scale(0.5, 2), shift(-10, 10);
    for (int i = 0; i < 200; ++i) {
        MatrixValue m;
        rotateXYZ(m, angle(rng), angle(rng), angle(rng));
        scaleAxes(m, scale(rng), scale(rng), scale(rng));
        translate(m, shift(rng), shift(rng), shift(rng));
        MatrixValue identity;
        for (MatrixValue p : {product(inverse(m), m), product(m, inverse(m))})
            for (int e = 0; e < 12; ++e)
                ASSERT_NEAR(p.m[e], identity.m[e], 1e-12) << "entry " << e;
        EXPECT_NEAR(determinant(m) * determinant(inverse(m)), 1, 1e-12);
    }
}

TEST(MatrixValue, SingularInverseGivesNonFiniteEntriesWithoutFailing) {
    MatrixValue zero;
    for (double& e : zero.m)
        e = 0;
    MatrixValue inv = inverse(zero);
    for (int i = 0; i < 9; ++i)
        EXPECT_FALSE(std::isfinite(inv.m[i])) << i;
    EXPECT_EQ(determinant(zero), 0);
}

TEST(MatrixValue, NearlyEqualIgnoresErrorsAndIsStrictAtTheTolerance) {
    MatrixValue a, b;
    b.error = 99;
    EXPECT_TRUE(nearlyEqual(a, b));
    b.m[5] = 1e-6;
    EXPECT_FALSE(nearlyEqual(a, b));
    b.m[5] = 9e-7;
    EXPECT_TRUE(nearlyEqual(a, b));
}

TEST(MatrixValue, NormalizeMakesAxesPerpendicularOfTheMeanLength) {
    MatrixValue m;
    m.m[0] = 2;
    m.m[4] = 3;
    m.m[8] = 4;
    translate(m, 1, 2, 3);
    normalize(m);
    expectColumn(m, 0, 3, 0, 0);
    expectColumn(m, 1, 0, 3, 0);
    expectColumn(m, 2, 0, 0, 3);
    expectColumn(m, 3, 1, 2, 3);

    MatrixValue skew;
    skew.m[3] = 1; // Y = (1, 1, 0): rebuilt in the plane of X and Y
    normalize(skew);
    double s = (1 + std::sqrt(2.0) + 1) / 3;
    expectColumn(skew, 0, s, 0, 0, 1e-15);
    expectColumn(skew, 1, 0, s, 0, 1e-15);
    expectColumn(skew, 2, 0, 0, s, 1e-15);

    MatrixValue parallel;
    parallel.m[3] = 2;
    parallel.m[4] = 0; // Y = (2, 0, 0) is parallel to X
    normalize(parallel);
    double mean = (1 + 2 + 1) / 3.0;
    expectColumn(parallel, 0, mean, 0, 0, 1e-15);
    expectColumn(parallel, 1, 0, 0, 0);
    expectColumn(parallel, 2, 0, 0, 0);
}

} // namespace
} // namespace orvik
