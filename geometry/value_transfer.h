// geometry/value_transfer.h: moving values across interfaces
//
// How a value leaves or enters an object through another party: doubles as a
// one-dimensional safe array, a point or vector read through its Get, a matrix read
// from or written into any object offering IMatrix. Arrays handed out belong to the
// caller; arrays handed in stay the caller's; arrays made or obtained for a read or
// a write are destroyed here.
#ifndef ORVIK_GEOMETRY_VALUE_TRANSFER_H
#define ORVIK_GEOMETRY_VALUE_TRANSFER_H

#include "geometry/coord_value.h"
#include "geometry/matrix_value.h"

#include "orvik/orvik_i.h"

namespace orvik {

/// A new array of count doubles with lower bound 0 in *out (the caller owns it).
/// E_POINTER for a null out; E_OUTOFMEMORY when the array cannot be made; a failed
/// store is returned at once and the array stays with the caller.
HRESULT doublesToArray(const double* values, LONG count, SAFEARRAY** out);

/// Reads count doubles, in order, from a one-dimensional array of exactly count
/// elements with any lower bound, into *targets[i]. E_POINTER for a null reference;
/// E_INVALIDARG for another shape; bound and fetch failures are returned as they
/// come, targets fetched before a failed fetch keeping their new values.
HRESULT doublesFromArray(SAFEARRAY* const* in, double* const* targets, LONG count);

/// [x, y, z]; the error is not given.
HRESULT coordToArray(const CoordValue& value, SAFEARRAY** out);
/// x, y, z from a three-element array; the error is not touched.
HRESULT coordFromArray(SAFEARRAY* const* in, CoordValue& value);

/// Reads a point or vector argument with one call of its Get. E_POINTER for a null
/// argument; a failing Get is returned and value is left unchanged.
template <class Interface> HRESULT readCoord(Interface* arg, CoordValue& value) {
    if (!arg)
        return E_POINTER;
    CoordValue read;
    HRESULT hr = arg->Get(&read.x, &read.y, &read.z, &read.error);
    if (SUCCEEDED(hr))
        value = read;
    return hr;
}

/// The value of a matrix that is this module's own standalone object, read in place;
/// null for any other implementer, which is asked through its interface. The check
/// reads only the interface's table pointer, so no other object sees a call.
const MatrixValue* ownMatrixValue(IMatrix* matrix);
/// Sets the value of such a matrix as its Error and AsArray1D puts would: E_INVALIDARG
/// and nothing changed for an error not above 0. S_FALSE for any other implementer.
HRESULT assignOwnMatrixValue(IMatrix* matrix, const MatrixValue& value);

/// Reads any IMatrix implementer: its AsArray1D (twelve doubles from the array's
/// lower bound), then its Error (one of this module's own is read in place). E_POINTER for a null
/// matrix; a failing property read is returned; E_INVALIDARG when the array is missing or not
/// one-dimensional with twelve elements; a failing fetch is returned. On failure *value is
/// unchanged.
HRESULT readMatrixValue(IMatrix* matrix, MatrixValue& value);

/// Writes a value into any IMatrix implementer: its Error first, then AsArray1D (one
/// of this module's own gets the value in place, with the same outcome).
/// E_OUTOFMEMORY when the array cannot be made; a failing store or put is returned.
HRESULT writeMatrixValue(IMatrix* matrix, const MatrixValue& value);

} // namespace orvik

#endif // ORVIK_GEOMETRY_VALUE_TRANSFER_H
