// geometry/coord_value.h: the coordinate value and the rules of its arithmetic
//
// A CoordValue is three coordinates and an error estimate, the record behind every
// point and vector. The free functions here are the whole of its arithmetic, and
// each states how the error travels, since that is where the rules differ from
// ordinary vector algebra: sums keep the larger error, scaling scales it, a point
// difference starts afresh. The functions are pure: no allocation, no failure.
#ifndef ORVIK_GEOMETRY_COORD_VALUE_H
#define ORVIK_GEOMETRY_COORD_VALUE_H

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

/// Coordinates added; the larger error.
CoordValue sum(const CoordValue& a, const CoordValue& b);
/// Coordinates subtracted (a - b); the larger error.
CoordValue difference(const CoordValue& a, const CoordValue& b);
/// a - b as a new displacement: error DefaultError, both errors ignored.
CoordValue pointDifference(const CoordValue& a, const CoordValue& b);
/// Coordinates times k; error times |k|, or DefaultError when k is 0 or not a number.
CoordValue scaled(const CoordValue& a, double k);
/// In place: coordinates times k; error times |k|, unchanged when k is 0 or NaN.
void scale(CoordValue& a, double k);
/// a unchanged when |d| < CoordTolerance; otherwise coordinates times 1/d, error
/// times |1/d| (DefaultError when d is not a number).
CoordValue divided(const CoordValue& a, double d);
/// In place, only when |d| > CoordTolerance: coordinates and error times 1/d (error
/// by its magnitude). A NaN divisor changes nothing.
void divide(CoordValue& a, double d);
/// Coordinates negated, error kept.
CoordValue negated(const CoordValue& a);
double dot(const CoordValue& a, const CoordValue& b);
/// a x b; the larger error.
CoordValue cross(const CoordValue& a, const CoordValue& b);
double length(const CoordValue& a);
/// (a . b) / (|b| |a|), unguarded: NaN when either has zero length.
double cosine(const CoordValue& a, const CoordValue& b);
/// arccos of the cosine in radians. A finite cosine that rounding pushed just past
/// +-1 is clamped, so parallel vectors give 0 or pi; zero length still gives NaN.
double angle(const CoordValue& a, const CoordValue& b);
/// |a - b|.
double distance(const CoordValue& a, const CoordValue& b);
/// Every coordinate differs by strictly less than CoordTolerance; errors ignored.
bool nearlyEqual(const CoordValue& a, const CoordValue& b);
/// Coordinates and error divided by the length; a vector no longer than
/// CoordTolerance stays as it is.
void normalize(CoordValue& a);

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
