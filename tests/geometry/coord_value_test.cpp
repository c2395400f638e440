// tests/geometry/coord_value_test.cpp: the coordinate value rules on plain values

#include "geometry/coord_value.h"
#include "geometry/matrix_value.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>

namespace orvik {
namespace {

void expectCoord(const CoordValue& v, double x, double y, double z, double error) {
    EXPECT_DOUBLE_EQ(v.x, x);
    EXPECT_DOUBLE_EQ(v.y, y);
    EXPECT_DOUBLE_EQ(v.z, z);
    EXPECT_DOUBLE_EQ(v.error, error);
}

const double kNaN = std::nan("");

TEST(CoordValue, FreshValueIsTheOriginWithTheDefaultError) {
    expectCoord(CoordValue{}, 0, 0, 0, 0.001);
}

TEST(CoordValue, SumsAndDifferencesKeepTheLargerErrorButAPointDifferenceStartsAfresh) {
    CoordValue a{1, 2, 3, 0.01}, b{1, 1, 1, 0.5};
    expectCoord(sum(a, b), 2, 3, 4, 0.5);
    expectCoord(difference(a, b), 0, 1, 2, 0.5);
    expectCoord(pointDifference(a, b), 0, 1, 2, 0.001);
    EXPECT_EQ(largerError(kNaN, 0.5), 0.5);
}

// Each coordinate is one IEEE-754 double operation, however the compiler groups them:
// the bit patterns below are those of 0.1 + 0.2 and 2^-1074 - 2^-1073.
TEST(CoordValue, SumsAndDifferencesRoundEachCoordinateOnItsOwn) {
    constexpr CoordValue folded =
        sum(CoordValue{0.1, 1, -0.0, 0.25}, CoordValue{0.2, 2, -0.0, 0.5});
    static_assert(folded.x == 0.30000000000000004 && folded.y == 3 && folded.error == 0.5);
    CoordValue a{0.1, 1e308, -0.0, 0.25}, b{0.2, 1e308, -0.0, 0.5};
    CoordValue s = sum(a, b);
    EXPECT_EQ(std::bit_cast<uint64_t>(s.x), 0x3FD3333333333334u);
    EXPECT_EQ(std::bit_cast<uint64_t>(s.x), std::bit_cast<uint64_t>(folded.x));
    EXPECT_EQ(s.y, HUGE_VAL);
    EXPECT_TRUE(std::signbit(s.z)) << "-0 + -0 is -0";

    CoordValue tiny{0x1p-1074, kNaN, 1, kNaN}, twice{0x1p-1073, 1, 1, 0.5};
    CoordValue d = difference(tiny, twice);
    EXPECT_EQ(std::bit_cast<uint64_t>(d.x), 0x8000000000000001u) << "-2^-1074, not flushed";
    EXPECT_TRUE(std::isnan(d.y));
    EXPECT_FALSE(std::signbit(d.z)) << "1 - 1 is +0";
    EXPECT_EQ(d.error, 0.5);
}

TEST(CoordValue, ScalingByZeroResetsTheErrorOnlyInTheCopyingRule) {
    CoordValue a{1, 2, 3, 0.01};
    expectCoord(scaled(a, -2), -2, -4, -6, 0.02);
    CoordValue inPlace = a;
    scale(inPlace, -2);
    expectCoord(inPlace, -2, -4, -6, 0.02);
    expectCoord(scaled(a, 0), 0, 0, 0, 0.001);
    inPlace = a;
    scale(inPlace, 0);
    expectCoord(inPlace, 0, 0, 0, 0.01);
}

TEST(CoordValue, NotANumberFactorIsNeitherPositiveNorNegative) {
    CoordValue a{1, 2, 3, 0.01};
    CoordValue copy = scaled(a, kNaN);
    EXPECT_TRUE(std::isnan(copy.x));
    EXPECT_EQ(copy.error, DefaultError);
    CoordValue inPlace = a;
    scale(inPlace, kNaN);
    EXPECT_TRUE(std::isnan(inPlace.x));
    EXPECT_EQ(inPlace.error, 0.01);
    CoordValue quotient = divided(a, kNaN);
    EXPECT_TRUE(std::isnan(quotient.x));
    EXPECT_EQ(quotient.error, DefaultError);
    CoordValue untouched = a;
    divide(untouched, kNaN);
    expectCoord(untouched, 1, 2, 3, 0.01);
}

TEST(CoordValue, DivisionGuardsDifferAtExactlyTheTolerance) {
    CoordValue a{2, 4, 6, 0.02};
    expectCoord(divided(a, -2), -1, -2, -3, 0.01);
    CoordValue inPlace = a;
    divide(inPlace, -2);
    expectCoord(inPlace, -1, -2, -3, 0.01);
    expectCoord(divided(a, 5e-7), 2, 4, 6, 0.02);
    inPlace = a;
    divide(inPlace, 5e-7);
    expectCoord(inPlace, 2, 4, 6, 0.02);
    // The copy divides at exactly 1e-6 (by multiplying with its reciprocal)...
    CoordValue atGuard = divided(a, 1e-6);
    EXPECT_EQ(atGuard.x, 2 * (1.0 / 1e-6));
    EXPECT_DOUBLE_EQ(atGuard.error, 2e4);
    // ...the in-place rule does not.
    inPlace = a;
    divide(inPlace, 1e-6);
    expectCoord(inPlace, 2, 4, 6, 0.02);
}

TEST(CoordValue, NormalisingDividesCoordinatesAndErrorByTheLength) {
    CoordValue a{0, 0, 4, 0.001};
    normalize(a);
    expectCoord(a, 0, 0, 1, 0.00025);
    CoordValue b{3, 4, 0, 0.001};
    normalize(b);
    EXPECT_EQ(b.x, 3 * (1.0 / 5));
    EXPECT_EQ(b.y, 4 * (1.0 / 5));
    EXPECT_DOUBLE_EQ(b.error, 0.0002);
    CoordValue tiny{0, 0, 1e-7, 0.5};
    normalize(tiny);
    expectCoord(tiny, 0, 0, 1e-7, 0.5);
    CoordValue atGuard{0, 1e-6, 0, 0.5};
    normalize(atGuard);
    expectCoord(atGuard, 0, 1e-6, 0, 0.5);
}

TEST(CoordValue, EqualityIsStrictlyWithinTheToleranceAndIgnoresErrors) {
    EXPECT_TRUE(nearlyEqual(CoordValue{0, 0, 0}, CoordValue{9e-7, -9e-7, 0}));
    EXPECT_FALSE(nearlyEqual(CoordValue{0, 0, 0}, CoordValue{1e-6, 0, 0}));
    EXPECT_FALSE(nearlyEqual(CoordValue{0, 0, 0, 1000}, CoordValue{1, 0, 0, 1000}));
    EXPECT_FALSE(nearlyEqual(CoordValue{kNaN, 0, 0}, CoordValue{kNaN, 0, 0}));
}

TEST(CoordValue, CosineAndAngleOfAZeroVectorAreNotANumber) {
    EXPECT_TRUE(std::isnan(cosine(CoordValue{1, 0, 0}, CoordValue{0, 0, 0})));
    EXPECT_TRUE(std::isnan(angle(CoordValue{1, 0, 0}, CoordValue{0, 0, 0})));
    EXPECT_DOUBLE_EQ(angle(CoordValue{1, 0, 0}, CoordValue{0, 1, 0}), std::numbers::pi / 2);
    EXPECT_DOUBLE_EQ(angle(CoordValue{1, 0, 0}, CoordValue{-2, 0, 0}), std::numbers::pi);
}

TEST(CoordValue, AngleOfParallelVectorsIsZeroOrPiEvenWhenRoundingOvershoots) {
    // (1, 1, 1) against twice itself: the cosine rounds to one ulp above 1.
    CoordValue a{1, 1, 1}, same{2, 2, 2}, opposite{-2, -2, -2};
    ASSERT_GT(cosine(a, same), 1.0) << "the case must really overshoot";
    ASSERT_LT(cosine(a, opposite), -1.0);
    EXPECT_EQ(angle(a, same), 0.0);
    EXPECT_EQ(angle(a, opposite), std::numbers::pi);
    CoordValue b{0.3, 0.7, 1.1};
    ASSERT_GT(cosine(b, scaled(b, 1e10)), 1.0);
    EXPECT_EQ(angle(b, scaled(b, 1e10)), 0.0);
}

TEST(CoordValue, CrossProductKeepsTheLargerErrorAndDistanceIsTheLengthOfTheDifference) {
    expectCoord(cross(CoordValue{1, 0, 0, 0.001}, CoordValue{0, 1, 0, 0.002}), 0, 0, 1, 0.002);
    expectCoord(cross(CoordValue{0, 1, 0}, CoordValue{1, 0, 0}), 0, 0, -1, 0.001);
    EXPECT_DOUBLE_EQ(distance(CoordValue{1, 1, 1}, CoordValue{4, 5, 1}), 5);
    EXPECT_DOUBLE_EQ(dot(CoordValue{1, 2, 3}, CoordValue{4, 5, 6}), 32);
    expectCoord(negated(CoordValue{1, -2, 3, 0.25}), -1, 2, -3, 0.25);
}

struct AxesCase {
    CoordValue v;
    CoordValue y;
    CoordValue z;
};

TEST(CoordValue, ReferenceAxesFollowTheDominantComponentWithTiesToYThenX) {
    const AxesCase cases[] = {
        {{1, 0, 0, 0.001}, {0, 1, 0, 0.001}, {0, 0, 1, 0.001}},
        {{0, 1, 0, 0.001}, {0, 0, 1, 0.001}, {1, 0, 0, 0.001}},
        {{0, 0, 2, 0.001}, {1, 0, 0, 0.0005}, {0, 1, 0, 0.0005}},
        {{3, 4, 0, 0.001}, {0, 0, 1, 0.00025}, {0.8, -0.6, 0, 0.0002}},
        // |x| = |y|: Y is dominant, so Y = (0, -z, y).
        {{1, 1, 0, 0.001}, {0, 0, 1, 0.001}, {std::sqrt(0.5), -std::sqrt(0.5), 0, 0}},
        // |x| = |z| > |y|: X is dominant, so Y = (-y, x, 0).
        {{1, 0, 1, 0.001}, {0, 1, 0, 0.001}, {-std::sqrt(0.5), 0, std::sqrt(0.5), 0}},
        // |z| strictly largest: Z, so Y = (z, 0, -x).
        {{0, 1, 2, 0.001}, {1, 0, 0, 0.0005}, {0, 2 / std::sqrt(5.0), -1 / std::sqrt(5.0), 0}},
    };
    for (const AxesCase& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "v = (" << c.v.x << ", " << c.v.y << ", " << c.v.z << ")");
        ReferenceAxes axes = referenceAxes(c.v);
        EXPECT_NEAR(axes.y.x, c.y.x, 1e-15);
        EXPECT_NEAR(axes.y.y, c.y.y, 1e-15);
        EXPECT_NEAR(axes.y.z, c.y.z, 1e-15);
        EXPECT_DOUBLE_EQ(axes.y.error, c.y.error);
        EXPECT_NEAR(axes.z.x, c.z.x, 1e-15);
        EXPECT_NEAR(axes.z.y, c.z.y, 1e-15);
        EXPECT_NEAR(axes.z.z, c.z.z, 1e-15);
        if (c.z.error > 0) {
            EXPECT_DOUBLE_EQ(axes.z.error, c.z.error);
        }
        // A right-handed orthonormal frame with v.
        EXPECT_NEAR(dot(axes.y, c.v), 0, 1e-15);
        EXPECT_NEAR(dot(axes.z, c.v), 0, 1e-15);
        EXPECT_NEAR(dot(axes.y, axes.z), 0, 1e-15);
        EXPECT_NEAR(length(axes.y), 1, 1e-15);
        EXPECT_NEAR(length(axes.z), 1, 1e-15);
    }
}

TEST(CoordValue, ReferenceAxesOfTheZeroVectorAreZeroWithItsError) {
    ReferenceAxes axes = referenceAxes(CoordValue{0, 0, 0, 0.125});
    expectCoord(axes.y, 0, 0, 0, 0.125);
    expectCoord(axes.z, 0, 0, 0, 0.125);
}

TEST(CoordValue, PointTransformAddsTheOriginAndVectorTransformIgnoresIt) {
    MatrixValue identity;
    expectCoord(applyToPoint(identity, {1, 2, 3, 1e-9}), 1, 2, 3, 0.001);
    expectCoord(applyToPoint(identity, {1, 2, 3, 0.5}), 1, 2, 3, 0.5);
    MatrixValue moved;
    moved.m[9] = 10;
    moved.m[10] = 20;
    moved.m[11] = 30;
    expectCoord(applyToPoint(moved, {1, 2, 3}), 11, 22, 33, 0.001);
    expectCoord(applyToDirection(moved, {1, 2, 3}), 1, 2, 3, 0.001);
    MatrixValue columns{{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, 0.25};
    // x.X + y.Y + z.Z + origin
    expectCoord(applyToPoint(columns, {1, 10, 100}), 1 + 40 + 700 + 10, 2 + 50 + 800 + 11,
                3 + 60 + 900 + 12, 0.25);
}

} // namespace
} // namespace orvik
