// geometry/value_transfer.cpp: values to and from arrays and matrix objects
//
// A matrix argument is read whole into a separate record before anything is
// stored, so an operation given itself as the argument reads its own old value and
// a partial read never leaves half-new entries behind.

#include "geometry/value_transfer.h"

namespace orvik {

namespace {

// The array's single dimension when it has exactly count elements.
HRESULT vectorBounds(SAFEARRAY* array, LONG count, LONG& lower) {
    if (SafeArrayGetDim(array) != 1)
        return E_INVALIDARG;
    LONG upper = 0;
    HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
    if (FAILED(hr))
        return hr;
    hr = SafeArrayGetUBound(array, 1, &upper);
    if (FAILED(hr))
        return hr;
    if (int64_t(upper) - int64_t(lower) + 1 != count)
        return E_INVALIDARG;
    return S_OK;
}

struct ArrayOwner {
    SAFEARRAY* array = nullptr;
    ~ArrayOwner() { SafeArrayDestroy(array); }
};

} // namespace

HRESULT coordToArray(const CoordValue& value, SAFEARRAY** out) {
    if (!out)
        return E_POINTER;
    *out = SafeArrayCreateVector(VT_R8, 0, 3);
    if (!*out)
        return E_OUTOFMEMORY;
    double coords[3] = {value.x, value.y, value.z};
    for (LONG i = 0; i < 3; ++i) {
        HRESULT hr = SafeArrayPutElement(*out, &i, &coords[i]);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT coordFromArray(SAFEARRAY* const* in, CoordValue& value) {
    if (!in)
        return E_POINTER;
    LONG lower = 0;
    HRESULT hr = vectorBounds(*in, 3, lower);
    if (FAILED(hr))
        return hr;
    double* targets[3] = {&value.x, &value.y, &value.z};
    for (LONG i = 0; i < 3; ++i) {
        LONG index = lower + i;
        hr = SafeArrayGetElement(*in, &index, targets[i]);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT readMatrixValue(IMatrix* matrix, MatrixValue& value) {
    if (!matrix)
        return E_POINTER;
    ArrayOwner entries;
    HRESULT hr = matrix->get_AsArray1D(&entries.array);
    if (FAILED(hr))
        return hr;
    LONG lower = 0;
    hr = vectorBounds(entries.array, MatrixValue::kEntries, lower);
    if (FAILED(hr))
        return hr;
    MatrixValue read;
    for (LONG i = 0; i < MatrixValue::kEntries; ++i) {
        LONG index = lower + i;
        hr = SafeArrayGetElement(entries.array, &index, &read.m[i]);
        if (FAILED(hr))
            return hr;
    }
    hr = matrix->get_Error(&read.error);
    if (FAILED(hr))
        return hr;
    value = read;
    return S_OK;
}

} // namespace orvik
