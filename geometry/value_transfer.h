// geometry/value_transfer.h: moving values across interfaces
//
// How a value leaves or enters an object through another party: coordinates as a
// safe array of three doubles, a matrix read from (or, later, written into) any
// object offering IMatrix. Arrays handed out belong to the caller; arrays handed in
// stay the caller's; an array obtained for a read is destroyed here.
#ifndef ORVIK_GEOMETRY_VALUE_TRANSFER_H
#define ORVIK_GEOMETRY_VALUE_TRANSFER_H

#include "geometry/coord_value.h"
#include "geometry/matrix_value.h"

#include "orvik/orvik_i.h"

namespace orvik {

/// A new array [x, y, z] with lower bound 0 in *out (the caller owns it). E_POINTER
/// for a null out, E_OUTOFMEMORY when the array cannot be made; a failed store is
/// returned at once and the array stays with the caller. The error is not given.
HRESULT coordToArray(const CoordValue& value, SAFEARRAY** out);

/// Reads x, y, z from a one-dimensional three-element array with any lower bound.
/// E_POINTER for a null reference; E_INVALIDARG for another shape; bound and fetch
/// failures are returned as they come, coordinates fetched before a failed fetch
/// keeping their new values. The error is not touched.
HRESULT coordFromArray(SAFEARRAY* const* in, CoordValue& value);

/// Reads any IMatrix implementer: its AsArray1D (twelve doubles from the array's
/// lower bound) and its Error. E_POINTER for a null matrix; a failing property read
/// is returned; E_INVALIDARG when the array is missing or not one-dimensional with
/// twelve elements; a failing fetch is returned. On failure *value is unchanged.
HRESULT readMatrixValue(IMatrix* matrix, MatrixValue& value);

} // namespace orvik

#endif // ORVIK_GEOMETRY_VALUE_TRANSFER_H
