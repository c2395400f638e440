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

// The products, sums and applications are defined here so that callers inline them
// and keep results in registers.

struct MatrixValue {
    static constexpr int kEntries = 12;
    /// The identity: 1.0 at entries 0, 4 and 8 (the diagonal of a column-major 3x3).
    double m[kEntries] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    double error = DefaultError;
};

namespace detail {

/// What a column combination adds last: nothing (a direction, or an axis column of a
/// product) or M's origin (a point, or the origin column of a product).
enum class ColumnTail { None, Origin };

/// ((rows(0) b0 + rows(3) b1) + rows(6) b2) [+ rows(9)], rounded in that order, where
/// rows(k) gives M's entries at the wanted rows of the column starting at entry k: a
/// double for one row, a pair for two.
template <class Rows>
constexpr auto combineRows(Rows rows, double b0, double b1, double b2, ColumnTail tail) {
    auto sum = rows(0) * b0 + rows(3) * b1 + rows(6) * b2;
    return tail == ColumnTail::Origin ? sum + rows(9) : sum;
}

/// M's axis columns combined with weights b0, b1, b2, then the tail: all three rows,
/// written to out[0], out[1] and out[2].
constexpr void combineColumns(const MatrixValue& M, double b0, double b1, double b2,
                              ColumnTail tail, double* out) {
#if defined(__GNUC__)
    // Rows 0 and 1 as one two-lane value, as coordinate sums do; each lane is the
    // same sequence of IEEE operations as the scalar form below.
    if (!std::is_constant_evaluated()) {
        storePair(out, combineRows([&](int k) { return loadPair(&M.m[k]); }, b0, b1, b2, tail));
        out[2] = combineRows([&](int k) { return M.m[k + 2]; }, b0, b1, b2, tail);
        return;
    }
#endif
    for (int r = 0; r < 3; ++r)
        out[r] = combineRows([&](int k) { return M.m[k + r]; }, b0, b1, b2, tail);
}

constexpr CoordValue combineToCoord(const MatrixValue& M, const CoordValue& v, ColumnTail tail,
                                    double error) {
    double rows[3] = {};
    combineColumns(M, v.x, v.y, v.z, tail, rows);
    return {rows[0], rows[1], rows[2], error};
}

} // namespace detail

/// A.B: applying it applies B first, then A. The larger error.
constexpr MatrixValue product(const MatrixValue& A, const MatrixValue& B) {
    MatrixValue P;
    for (int c = 0; c < 4; ++c)
        detail::combineColumns(A, B.m[3 * c], B.m[3 * c + 1], B.m[3 * c + 2],
                               c == 3 ? detail::ColumnTail::Origin : detail::ColumnTail::None,
                               &P.m[3 * c]);
    P.error = largerError(A.error, B.error);
    return P;
}

/// Entry-wise A + B and A - B; the larger error.
constexpr MatrixValue sum(const MatrixValue& A, const MatrixValue& B) {
    MatrixValue S;
    for (int i = 0; i < MatrixValue::kEntries; ++i)
        S.m[i] = A.m[i] + B.m[i];
    S.error = largerError(A.error, B.error);
    return S;
}

constexpr MatrixValue difference(const MatrixValue& A, const MatrixValue& B) {
    MatrixValue D;
    for (int i = 0; i < MatrixValue::kEntries; ++i)
        D.m[i] = A.m[i] - B.m[i];
    D.error = largerError(A.error, B.error);
    return D;
}

/// Every entry differs by strictly less than CoordTolerance; errors ignored.
bool nearlyEqual(const MatrixValue& A, const MatrixValue& B);

/// x.X + y.Y + z.Z, the translation ignored; the larger of M's and v's errors.
constexpr CoordValue applyToDirection(const MatrixValue& M, const CoordValue& v) {
    return detail::combineToCoord(M, v, detail::ColumnTail::None, largerError(M.error, v.error));
}

/// x.X + y.Y + z.Z + origin; the larger of M's and p's errors.
constexpr CoordValue applyToPoint(const MatrixValue& M, const CoordValue& p) {
    return detail::combineToCoord(M, p, detail::ColumnTail::Origin, largerError(M.error, p.error));
}

/// M := diag(sx, sy, sz).M: the scaling acts after M, translation included. Error kept.
void scaleAxes(MatrixValue& M, double sx, double sy, double sz);
/// M := R.M for the right-handed rotation by angle (radians) about the X, Y or Z axis;
/// every column, the origin included, turns. Error kept.
void rotateAboutX(MatrixValue& M, double angle);
void rotateAboutY(MatrixValue& M, double angle);
void rotateAboutZ(MatrixValue& M, double angle);
/// M := Rx(ax).Ry(ay).Rz(az).M, skipping each angle whose magnitude is below
/// CoordTolerance. Error kept.
void rotateXYZ(MatrixValue& M, double ax, double ay, double az);
/// M := R.M for the rotation by angle about axis through the world origin (right-hand
/// rule). An axis no longer than CoordTolerance is used unnormalised. M's error
/// becomes the larger of its own, DefaultError and the axis's.
void rotateAboutAxis(MatrixValue& M, const CoordValue& axis, double angle);
/// The rotation about the line through point (or the world origin when point is
/// null) along axis; its error is the larger of e, the axis's and the point's.
MatrixValue makeRotation(double angle, const CoordValue& axis, const CoordValue* point, double e);
/// The translation by v; its error is the larger of e and v's.
MatrixValue makeTranslation(const CoordValue& v, double e);
/// Moves the origin column by (dx, dy, dz); error kept.
void translate(MatrixValue& M, double dx, double dy, double dz);
/// Moves the origin column by v; the larger of M's and v's errors.
void translateBy(MatrixValue& M, const CoordValue& v);
/// The transposed linear part with a zero origin column; M's error.
MatrixValue transposed(const MatrixValue& M);
/// The affine inverse by cofactors, error DefaultError. A singular linear part gives
/// non-finite entries; nothing is reported.
MatrixValue inverse(const MatrixValue& M);
/// The determinant of the linear part.
double determinant(const MatrixValue& M);
/// Makes the axis columns perpendicular, right-handed and all of their mean length,
/// keeping the direction of X and the plane of X and Y. Origin and error kept.
void normalize(MatrixValue& M);

} // namespace orvik

#endif // ORVIK_GEOMETRY_MATRIX_VALUE_H
