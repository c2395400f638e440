// geometry/matrix_value.cpp: the affine matrix algorithms

#include "geometry/matrix_value.h"

namespace orvik {

CoordValue applyToDirection(const MatrixValue& M, const CoordValue& v) {
    const double* m = M.m;
    return {m[0] * v.x + m[3] * v.y + m[6] * v.z, m[1] * v.x + m[4] * v.y + m[7] * v.z,
            m[2] * v.x + m[5] * v.y + m[8] * v.z, largerError(M.error, v.error)};
}

CoordValue applyToPoint(const MatrixValue& M, const CoordValue& p) {
    CoordValue r = applyToDirection(M, p);
    r.x += M.m[9];
    r.y += M.m[10];
    r.z += M.m[11];
    return r;
}

} // namespace orvik
