// geometry/value_transfer.cpp: values to and from arrays and other objects
//
// A matrix argument is read whole into a separate record before anything is
// stored, so an operation given itself as the argument reads its own old value and
// a partial read never leaves half-new entries behind.

#include "geometry/value_transfer.h"

namespace orvik {

namespace {

struct ArrayOwner {
    SAFEARRAY* array = nullptr;
    ~ArrayOwner() { SafeArrayDestroy(array); }
};

// Elements are copied by the array's own element size into doubles, so an array of
// anything else (variants, strings, decimals, 4-byte numbers) would overrun them or
// fill them with foreign bits: only 8-byte elements recorded as doubles, or with no
// recorded type, are read.
HRESULT requireDoubles(SAFEARRAY* array) {
    constexpr USHORT kOwnedElements =
        FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT | FADF_RECORD;
    if (SafeArrayGetElemsize(array) != sizeof(double) || (array->fFeatures & kOwnedElements))
        return DISP_E_TYPEMISMATCH;
    VARTYPE vt = VT_EMPTY;
    if ((array->fFeatures & FADF_HAVEVARTYPE) &&
        (FAILED(SafeArrayGetVartype(array, &vt)) || vt != VT_R8))
        return DISP_E_TYPEMISMATCH;
    return S_OK;
}

// The lower bound of a one-dimensional array of exactly count doubles.
HRESULT vectorBounds(SAFEARRAY* array, LONG count, LONG& lower) {
    if (!array)
        return E_INVALIDARG;
    HRESULT hr = requireDoubles(array);
    if (FAILED(hr))
        return hr;
    if (SafeArrayGetDim(array) != 1)
        return E_INVALIDARG;
    LONG upper = 0;
    hr = SafeArrayGetLBound(array, 1, &lower);
    if (FAILED(hr))
        return hr;
    hr = SafeArrayGetUBound(array, 1, &upper);
    if (FAILED(hr))
        return hr;
    if (int64_t(upper) - int64_t(lower) + 1 != count)
        return E_INVALIDARG;
    return S_OK;
}

} // namespace

HRESULT doublesToArray(const double* values, LONG count, SAFEARRAY** out) {
    if (!out)
        return E_POINTER;
    *out = SafeArrayCreateVector(VT_R8, 0, ULONG(count));
    if (!*out)
        return E_OUTOFMEMORY;
    for (LONG i = 0; i < count; ++i) {
        HRESULT hr = SafeArrayPutElement(*out, &i, const_cast<double*>(&values[i]));
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT doublesFromArray(SAFEARRAY* const* in, double* const* targets, LONG count) {
    if (!in)
        return E_POINTER;
    LONG lower = 0;
    HRESULT hr = vectorBounds(*in, count, lower);
    if (FAILED(hr))
        return hr;
    for (LONG i = 0; i < count; ++i) {
        LONG index = lower + i;
        hr = SafeArrayGetElement(*in, &index, targets[i]);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT coordToArray(const CoordValue& value, SAFEARRAY** out) {
    const double coords[3] = {value.x, value.y, value.z};
    return doublesToArray(coords, 3, out);
}

HRESULT coordFromArray(SAFEARRAY* const* in, CoordValue& value) {
    double* const targets[3] = {&value.x, &value.y, &value.z};
    return doublesFromArray(in, targets, 3);
}

HRESULT readMatrixValue(IMatrix* matrix, MatrixValue& value) {
    if (!matrix)
        return E_POINTER;
    if (const MatrixValue* own = ownMatrixValue(matrix)) {
        value = *own;
        return S_OK;
    }
    ArrayOwner entries;
    HRESULT hr = matrix->get_AsArray1D(&entries.array);
    if (FAILED(hr))
        return hr;
    MatrixValue read;
    double* targets[MatrixValue::kEntries];
    for (int i = 0; i < MatrixValue::kEntries; ++i)
        targets[i] = &read.m[i];
    hr = doublesFromArray(&entries.array, targets, MatrixValue::kEntries);
    if (FAILED(hr))
        return hr;
    hr = matrix->get_Error(&read.error);
    if (FAILED(hr))
        return hr;
    value = read;
    return S_OK;
}

HRESULT writeMatrixValue(IMatrix* matrix, const MatrixValue& value) {
    if (HRESULT hr = assignOwnMatrixValue(matrix, value); hr != S_FALSE)
        return hr;
    ArrayOwner entries;
    HRESULT hr = doublesToArray(value.m, MatrixValue::kEntries, &entries.array);
    if (FAILED(hr))
        return hr;
    hr = matrix->put_Error(value.error);
    if (FAILED(hr))
        return hr;
    return matrix->put_AsArray1D(&entries.array);
}

} // namespace orvik
