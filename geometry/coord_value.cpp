// geometry/coord_value.cpp: the coordinate value rules
//
// Division multiplies by the reciprocal rather than dividing each coordinate, so
// results match the original arithmetic to the last bit. The sign tests on factors
// and divisors are three-way on purpose: a NaN is neither positive nor negative and
// takes the "otherwise" branch of each rule.

#include "geometry/coord_value.h"

#include <cmath>

namespace orvik {

CoordValue sum(const CoordValue& a, const CoordValue& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z, largerError(a.error, b.error)};
}

CoordValue difference(const CoordValue& a, const CoordValue& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z, largerError(a.error, b.error)};
}

CoordValue pointDifference(const CoordValue& a, const CoordValue& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z, DefaultError};
}

CoordValue scaled(const CoordValue& a, double k) {
    CoordValue r{a.x * k, a.y * k, a.z * k, DefaultError};
    if (k > 0)
        r.error = a.error * k;
    else if (k < 0)
        r.error = -(a.error * k);
    return r;
}

void scale(CoordValue& a, double k) {
    a.x *= k;
    a.y *= k;
    a.z *= k;
    if (k > 0)
        a.error *= k;
    else if (k < 0)
        a.error = -(a.error * k);
}

CoordValue divided(const CoordValue& a, double d) {
    if (std::fabs(d) < CoordTolerance)
        return a;
    double r = 1.0 / d;
    CoordValue q{a.x * r, a.y * r, a.z * r, DefaultError};
    if (d > 0)
        q.error = a.error * r;
    else if (d < 0)
        q.error = -(a.error * r);
    return q;
}

void divide(CoordValue& a, double d) {
    if (!(std::fabs(d) > CoordTolerance))
        return;
    double r = 1.0 / d;
    a.x *= r;
    a.y *= r;
    a.z *= r;
    a.error = d > 0 ? a.error * r : -(a.error * r);
}

CoordValue negated(const CoordValue& a) {
    return {-a.x, -a.y, -a.z, a.error};
}

double dot(const CoordValue& a, const CoordValue& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}

CoordValue cross(const CoordValue& a, const CoordValue& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x,
            largerError(a.error, b.error)};
}

double length(const CoordValue& a) {
    return std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
}

double cosine(const CoordValue& a, const CoordValue& b) {
    return dot(a, b) / (length(b) * length(a));
}

double angle(const CoordValue& a, const CoordValue& b) {
    double c = cosine(a, b);
    // Rounding can leave the cosine of parallel vectors a few ulps outside [-1, 1],
    // where arccos has no value; such a cosine means an angle of 0 or pi.
    if (c > 1.0)
        c = 1.0;
    else if (c < -1.0)
        c = -1.0;
    return std::acos(c);
}

double distance(const CoordValue& a, const CoordValue& b) {
    return length(difference(a, b));
}

bool nearlyEqual(const CoordValue& a, const CoordValue& b) {
    return std::fabs(a.x - b.x) < CoordTolerance && std::fabs(a.y - b.y) < CoordTolerance &&
           std::fabs(a.z - b.z) < CoordTolerance;
}

void normalize(CoordValue& a) {
    divide(a, length(a));
}

// Y is built from the dominant component of v and one other, so it is never the
// zero vector unless v is: with X dominant (-y, x, 0), with Y dominant (0, -z, y),
// with Z dominant (z, 0, -x). Ties go to Y, then X (see the comparisons below).
// Both results start with v's error; normalising divides it by their lengths, so
// Z's error ends as the larger error over |v x Y|, which is |v| for a unit Y.
ReferenceAxes referenceAxes(const CoordValue& v) {
    double ax = std::fabs(v.x), ay = std::fabs(v.y), az = std::fabs(v.z);
    ReferenceAxes r{{0, 0, 0, v.error}, {0, 0, 0, v.error}};
    if (ax > ay && !(az > ax))
        r.y = {-v.y, v.x, 0, v.error};
    else if (!(ax > ay) && !(az > ay))
        r.y = {0, -v.z, v.y, v.error};
    else
        r.y = {v.z, 0, -v.x, v.error};
    normalize(r.y);
    r.z = cross(v, r.y);
    normalize(r.z);
    return r;
}

} // namespace orvik
