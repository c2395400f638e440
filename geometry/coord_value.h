// geometry/coord_value.h: the coordinate value and the rules of its arithmetic
//
// A CoordValue is three coordinates and an error estimate, the record behind every
// point and vector. The free functions here are the whole of its arithmetic, and
// each states how the error travels, since that is where the rules differ from
// ordinary vector algebra: sums keep the larger error, scaling scales it, a point
// difference starts afresh. The functions are pure: no allocation, no failure.
#ifndef ORVIK_GEOMETRY_COORD_VALUE_H
#define ORVIK_GEOMETRY_COORD_VALUE_H

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <type_traits>

namespace orvik {

/// Error of every fresh value, and what an error of exactly 0 given to Set becomes.
inline constexpr double DefaultError = 0.001;
/// Per-coordinate tolerance of equality; also the guard of division and normalising.
inline constexpr double CoordTolerance = 1e-6;

struct CoordValue {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
    double error = DefaultError;
};

/// An oriented line: an origin (a point) and a direction vector, each with its own
/// error. Fresh, both are fresh coordinate values.
struct AxisValue {
    CoordValue origin;
    CoordValue vector;
};

/// a when a > b, otherwise b (so a NaN first operand yields b).
constexpr double largerError(double a, double b) {
    return a > b ? a : b;
}

/// error * factor for a factor >= 0, rounded up to the least positive double where
/// the product would be 0 (a factor that underflows it, or the 1/d of an infinite
/// divisor): an error of 0 would claim an exact value, and no error put accepts it.
constexpr double scaledError(double error, double factor) {
    double scaled = error * factor;
    return scaled == 0 && error > 0 ? std::numeric_limits<double>::denorm_min() : scaled;
}

// The arithmetic is defined here so that callers inline it and keep results in
// registers. Division multiplies by the reciprocal rather than dividing each
// coordinate, so results match the original arithmetic to the last bit. The sign
// tests on factors and divisors are three-way on purpose: a NaN is neither positive
// nor negative and takes the "otherwise" branch of each rule.

namespace detail {

#if defined(__GNUC__)
using CoordPair = double __attribute__((vector_size(2 * sizeof(double)), aligned(sizeof(double))));

/// from[0] and from[1] as one two-lane value, and back.
inline CoordPair loadPair(const double* from) {
    CoordPair p;
    std::memcpy(&p, from, sizeof p);
    return p;
}
inline void storePair(double* to, CoordPair p) {
    std::memcpy(to, &p, sizeof p);
}
#endif

/// {op(a.x, b.x), op(a.y, b.y), op(a.z, b.z), error}. Outside constant evaluation x
/// and y go through op as one two-lane value and z alone: a loop over records of
/// scalar coordinates is otherwise vectorized by the compiler across records, with
/// shuffles that cost more than the arithmetic. Each lane is the same IEEE
/// operation, so the results are those of the scalar form.
template <class Op>
constexpr CoordValue coordwise(const CoordValue& a, const CoordValue& b, Op op, double error) {
#if defined(__GNUC__)
    if (!std::is_constant_evaluated()) {
        CoordValue r;
        storePair(&r.x, op(loadPair(&a.x), loadPair(&b.x)));
        r.z = op(a.z, b.z);
        r.error = error;
        return r;
    }
#endif
    return {op(a.x, b.x), op(a.y, b.y), op(a.z, b.z), error};
}

inline constexpr auto kAdd = [](auto p, auto q) { return p + q; };
inline constexpr auto kSubtract = [](auto p, auto q) { return p - q; };

} // namespace detail

static_assert(offsetof(CoordValue, y) == offsetof(CoordValue, x) + sizeof(double),
              "x and y are read as one pair");

/// Coordinates added; the larger error.
constexpr CoordValue sum(const CoordValue& a, const CoordValue& b) {
    return detail::coordwise(a, b, detail::kAdd, largerError(a.error, b.error));
}

/// Coordinates subtracted (a - b); the larger error.
constexpr CoordValue difference(const CoordValue& a, const CoordValue& b) {
    return detail::coordwise(a, b, detail::kSubtract, largerError(a.error, b.error));
}

/// a - b as a new displacement: error DefaultError, both errors ignored.
constexpr CoordValue pointDifference(const CoordValue& a, const CoordValue& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z, DefaultError};
}

/// Coordinates times k; error times |k|, or DefaultError when k is 0 or not a number.
constexpr CoordValue scaled(const CoordValue& a, double k) {
    CoordValue r{a.x * k, a.y * k, a.z * k, DefaultError};
    if (k > 0)
        r.error = scaledError(a.error, k);
    else if (k < 0)
        r.error = scaledError(a.error, -k);
    return r;
}

/// In place: coordinates times k; error times |k|, unchanged when k is 0 or NaN.
constexpr void scale(CoordValue& a, double k) {
    a.x *= k;
    a.y *= k;
    a.z *= k;
    if (k > 0)
        a.error = scaledError(a.error, k);
    else if (k < 0)
        a.error = scaledError(a.error, -k);
}

/// a unchanged when |d| < CoordTolerance; otherwise coordinates times 1/d, error
/// times |1/d| (DefaultError when d is not a number).
inline CoordValue divided(const CoordValue& a, double d) {
    if (std::fabs(d) < CoordTolerance)
        return a;
    double r = 1.0 / d;
    CoordValue q{a.x * r, a.y * r, a.z * r, DefaultError};
    if (d > 0)
        q.error = scaledError(a.error, r);
    else if (d < 0)
        q.error = scaledError(a.error, -r);
    return q;
}

/// In place, only when |d| > CoordTolerance: coordinates and error times 1/d (error
/// by its magnitude). A NaN divisor changes nothing.
inline void divide(CoordValue& a, double d) {
    if (!(std::fabs(d) > CoordTolerance))
        return;
    double r = 1.0 / d;
    a.x *= r;
    a.y *= r;
    a.z *= r;
    a.error = scaledError(a.error, d > 0 ? r : -r);
}

/// Coordinates negated, error kept.
constexpr CoordValue negated(const CoordValue& a) {
    return {-a.x, -a.y, -a.z, a.error};
}

constexpr double dot(const CoordValue& a, const CoordValue& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

/// a x b; the larger error.
constexpr CoordValue cross(const CoordValue& a, const CoordValue& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x,
            largerError(a.error, b.error)};
}

inline double length(const CoordValue& a) {
    return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
}

/// (a . b) / (|b| |a|), unguarded: NaN when either has zero length.
inline double cosine(const CoordValue& a, const CoordValue& b) {
    return dot(a, b) / (length(b) * length(a));
}

/// arccos of the cosine in radians. A finite cosine that rounding pushed just past
/// +-1 is clamped, so parallel vectors give 0 or pi; zero length still gives NaN.
inline double angle(const CoordValue& a, const CoordValue& b) {
    double c = cosine(a, b);
    // Rounding can leave the cosine of parallel vectors a few ulps outside [-1, 1],
    // where arccos has no value; such a cosine means an angle of 0 or pi.
    if (c > 1.0)
        c = 1.0;
    else if (c < -1.0)
        c = -1.0;
    return std::acos(c);
}

/// |a - b|.
inline double distance(const CoordValue& a, const CoordValue& b) {
    return length(difference(a, b));
}

/// Every coordinate differs by strictly less than CoordTolerance; errors ignored.
inline bool nearlyEqual(const CoordValue& a, const CoordValue& b) {
    return std::fabs(a.x - b.x) < CoordTolerance && std::fabs(a.y - b.y) < CoordTolerance &&
           std::fabs(a.z - b.z) < CoordTolerance;
}

/// Coordinates and error divided by the length; a vector no longer than
/// CoordTolerance stays as it is.
inline void normalize(CoordValue& a) {
    divide(a, length(a));
}

/// Two unit vectors Y and Z perpendicular to v and to each other, Z = v x Y,
/// right-handed with v. v is not normalised first; see referenceAxes in the .cpp for
/// the choice of Y and the errors.
struct ReferenceAxes {
    CoordValue y;
    CoordValue z;
};
ReferenceAxes referenceAxes(const CoordValue& v);

} // namespace orvik

#endif // ORVIK_GEOMETRY_COORD_VALUE_H
