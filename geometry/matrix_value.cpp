// geometry/matrix_value.cpp: the affine matrix algorithms
//
// Operations that produce a new value compute into a separate record, so an
// in-place operation whose second operand is M itself gives the same result. The
// rotations act on all four columns because a column-stored affine map R.M turns
// the translation too. Column c, row r is entry 3c + r throughout.

#include "geometry/matrix_value.h"

#include <cmath>

namespace orvik {

namespace {

CoordValue column(const MatrixValue& M, int c) {
    return {M.m[3 * c], M.m[3 * c + 1], M.m[3 * c + 2], 0};
}

void setColumn(MatrixValue& M, int c, const CoordValue& v) {
    M.m[3 * c] = v.x;
    M.m[3 * c + 1] = v.y;
    M.m[3 * c + 2] = v.z;
}

// Turns the (a, b) components of every column by the angle: a' = c.a - s.b,
// b' = s.a + c.b. About X the pair is (y, z), about Y (z, x), about Z (x, y).
void rotatePlane(MatrixValue& M, int a, int b, double angle) {
    double s = std::sin(angle), c = std::cos(angle);
    for (int col = 0; col < 4; ++col) {
        double va = M.m[3 * col + a], vb = M.m[3 * col + b];
        M.m[3 * col + a] = c * va - s * vb;
        M.m[3 * col + b] = s * va + c * vb;
    }
}

// Divides v by its length when the length exceeds CoordTolerance.
void unitIfLong(CoordValue& v) {
    double len = length(v);
    if (len > CoordTolerance) {
        v.x /= len;
        v.y /= len;
        v.z /= len;
    }
}

} // namespace

bool nearlyEqual(const MatrixValue& A, const MatrixValue& B) {
    for (int i = 0; i < MatrixValue::kEntries; ++i)
        if (!(std::fabs(B.m[i] - A.m[i]) < CoordTolerance))
            return false;
    return true;
}

void scaleAxes(MatrixValue& M, double sx, double sy, double sz) {
    for (int c = 0; c < 4; ++c) {
        M.m[3 * c] *= sx;
        M.m[3 * c + 1] *= sy;
        M.m[3 * c + 2] *= sz;
    }
}

void rotateAboutX(MatrixValue& M, double angle) {
    rotatePlane(M, 1, 2, angle);
}
void rotateAboutY(MatrixValue& M, double angle) {
    rotatePlane(M, 2, 0, angle);
}
void rotateAboutZ(MatrixValue& M, double angle) {
    rotatePlane(M, 0, 1, angle);
}

void rotateXYZ(MatrixValue& M, double ax, double ay, double az) {
    if (std::fabs(az) >= CoordTolerance)
        rotateAboutZ(M, az);
    if (std::fabs(ay) >= CoordTolerance)
        rotateAboutY(M, ay);
    if (std::fabs(ax) >= CoordTolerance)
        rotateAboutX(M, ax);
}

// The rotation as the unit quaternion (w; x, y, z) = (cos h; sin h . axis/|axis|)
// with h = angle/2, turned into its matrix.
void rotateAboutAxis(MatrixValue& M, const CoordValue& axis, double angle) {
    double h = angle * 0.5;
    double w = std::cos(h);
    CoordValue q = axis;
    unitIfLong(q);
    double s = std::sin(h);
    double x = q.x * s, y = q.y * s, z = q.z * s;
    MatrixValue R;
    R.m[0] = 1 - 2 * (y * y + z * z);
    R.m[1] = 2 * (x * y + z * w);
    R.m[2] = 2 * (x * z - y * w);
    R.m[3] = 2 * (x * y - z * w);
    R.m[4] = 1 - 2 * (x * x + z * z);
    R.m[5] = 2 * (y * z + x * w);
    R.m[6] = 2 * (x * z + y * w);
    R.m[7] = 2 * (y * z - x * w);
    R.m[8] = 1 - 2 * (x * x + y * y);
    R.m[9] = R.m[10] = R.m[11] = 0;
    R.error = DefaultError;
    M = product(R, M);
    M.error = largerError(M.error, axis.error);
}

MatrixValue makeRotation(double angle, const CoordValue& axis, const CoordValue* point, double e) {
    MatrixValue M;
    if (point) {
        M.m[9] -= point->x;
        M.m[10] -= point->y;
        M.m[11] -= point->z;
    }
    rotateAboutAxis(M, axis, angle);
    if (point) {
        M.m[9] += point->x;
        M.m[10] += point->y;
        M.m[11] += point->z;
    }
    M.error = largerError(e, axis.error);
    if (point)
        M.error = largerError(M.error, point->error);
    return M;
}

MatrixValue makeTranslation(const CoordValue& v, double e) {
    MatrixValue M;
    M.m[9] = v.x;
    M.m[10] = v.y;
    M.m[11] = v.z;
    M.error = e > v.error ? e : v.error;
    return M;
}

void translate(MatrixValue& M, double dx, double dy, double dz) {
    M.m[9] += dx;
    M.m[10] += dy;
    M.m[11] += dz;
}

void translateBy(MatrixValue& M, const CoordValue& v) {
    translate(M, v.x, v.y, v.z);
    M.error = largerError(M.error, v.error);
}

MatrixValue transposed(const MatrixValue& M) {
    MatrixValue T;
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j)
            T.m[3 * j + i] = M.m[3 * i + j];
    T.m[9] = T.m[10] = T.m[11] = 0;
    T.error = M.error;
    return T;
}

MatrixValue inverse(const MatrixValue& M) {
    const double* m = M.m;
    double a = m[4] * m[8] - m[7] * m[5];
    double b = m[7] * m[3] - m[4] * m[6];
    double c = m[5] * m[6] - m[8] * m[3];
    double d = 1.0 / (m[0] * a + m[1] * c + m[2] * b);
    MatrixValue N;
    double* n = N.m;
    n[0] = a * d;
    n[1] = (m[7] * m[2] - m[1] * m[8]) * d;
    n[2] = (m[1] * m[5] - m[2] * m[4]) * d;
    n[3] = c * d;
    n[4] = (m[0] * m[8] - m[6] * m[2]) * d;
    n[5] = (m[3] * m[2] - m[0] * m[5]) * d;
    n[6] = b * d;
    n[7] = (m[6] * m[1] - m[7] * m[0]) * d;
    n[8] = (m[4] * m[0] - m[3] * m[1]) * d;
    n[9] = -(n[0] * m[9] + n[3] * m[10] + n[6] * m[11]);
    n[10] = -(n[1] * m[9] + n[4] * m[10] + n[7] * m[11]);
    n[11] = -(n[2] * m[9] + n[5] * m[10] + n[8] * m[11]);
    N.error = DefaultError;
    return N;
}

double determinant(const MatrixValue& M) {
    const double* m = M.m;
    return (m[3] * m[7] - m[6] * m[4]) * m[2] + (m[5] * m[6] - m[8] * m[3]) * m[1] +
           (m[8] * m[4] - m[5] * m[7]) * m[0];
}

void normalize(MatrixValue& M) {
    CoordValue X = column(M, 0), Y = column(M, 1), Z = column(M, 2);
    double s = (length(X) + length(Y) + length(Z)) * 0.3333333333333333;
    CoordValue Q = cross(X, Y);
    CoordValue R = cross(Q, X);
    unitIfLong(X);
    unitIfLong(R);
    unitIfLong(Q);
    setColumn(M, 0, {X.x * s, X.y * s, X.z * s, 0});
    setColumn(M, 1, {R.x * s, R.y * s, R.z * s, 0});
    setColumn(M, 2, {Q.x * s, Q.y * s, Q.z * s, 0});
}

} // namespace orvik
