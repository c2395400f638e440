// geometry/coord_value.cpp: the reference axes of a vector (the rest of the
// coordinate rules are inline in the header)

#include "geometry/coord_value.h"

#include <cmath>

namespace orvik {

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
