// geometry/matrix_value.h: the affine matrix value and its algorithms
//
// Twelve entries in four columns of three (X axis 0-2, Y axis 3-5, Z axis 6-8,
// origin 9-11) and an error. A value maps a position p to L.p + t, where L's columns
// are the three axis columns and t is the origin column. The storage order is also
// the order of the twelve-element array that clients exchange.
#ifndef ORVIK_GEOMETRY_MATRIX_VALUE_H
#define ORVIK_GEOMETRY_MATRIX_VALUE_H

#include "geometry/coord_value.h"

namespace orvik {

struct MatrixValue {
    static constexpr int kEntries = 12;
    /// The identity: 1.0 at entries 0, 4 and 8 (the diagonal of a column-major 3x3).
    double m[kEntries] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    double error = DefaultError;
};

/// x.X + y.Y + z.Z + origin; the larger of M's and p's errors.
CoordValue applyToPoint(const MatrixValue& M, const CoordValue& p);
/// x.X + y.Y + z.Z, the translation ignored; the larger of M's and v's errors.
CoordValue applyToDirection(const MatrixValue& M, const CoordValue& v);

} // namespace orvik

#endif // ORVIK_GEOMETRY_MATRIX_VALUE_H
