// geometry/vector.cpp: the Vector operations
//
// Every value is computed by a rule of coord_value.h; these bodies only read the
// arguments, check pointers and decide where the result goes. In-place operations
// store through this vector's own Set (so its error checks apply), except
// SetNormalize, which writes the normalised value directly.

#include "geometry/vector.h"
#include "geometry/point.h"

namespace orvik {

namespace {

template <class Compute> HRESULT newVector(IVector** out, Compute compute) {
    return makeCoordResult<CVector>(out, [&](CoordValue& v) {
        v = compute();
        return S_OK;
    });
}

// Operations that return a number: check both pointers, then compute.
template <class Result, class Compute>
HRESULT measure(IVector* other, Result* out, Compute compute) {
    if (!out || !other)
        return E_POINTER;
    *out = compute(readCoord(other));
    return S_OK;
}

} // namespace

HRESULT STDMETHODCALLTYPE CVector::Add(IVector* pVec, IVector** pResval) {
    if (!pResval || !pVec)
        return E_POINTER;
    return newVector(pResval, [&] { return sum(m_value, readCoord(pVec)); });
}

HRESULT STDMETHODCALLTYPE CVector::SetAdd(IVector* pVec) {
    if (!pVec)
        return E_POINTER;
    return storeCoord<IVector>(this, sum(m_value, readCoord(pVec)));
}

HRESULT STDMETHODCALLTYPE CVector::Sub(IVector* pVec, IVector** pResval) {
    if (!pResval || !pVec)
        return E_POINTER;
    return newVector(pResval, [&] { return difference(m_value, readCoord(pVec)); });
}

HRESULT STDMETHODCALLTYPE CVector::SetSub(IVector* pVec) {
    if (!pVec)
        return E_POINTER;
    return storeCoord<IVector>(this, difference(m_value, readCoord(pVec)));
}

HRESULT STDMETHODCALLTYPE CVector::Clone(IVector** pResult) {
    if (!pResult)
        return E_POINTER;
    HRESULT hr = CreateResult<CVector>(pResult);
    if (FAILED(hr))
        return hr;
    return (*pResult)->CopyFrom(this);
}

HRESULT STDMETHODCALLTYPE CVector::ToPoint(IPoint** pResult) {
    if (!pResult)
        return E_POINTER;
    return makeCoordResult<CPoint>(pResult, [&](CoordValue& v) {
        v = m_value;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CVector::Mul(DOUBLE num, IVector** pResult) {
    if (!pResult)
        return E_POINTER;
    return newVector(pResult, [&] { return scaled(m_value, num); });
}

HRESULT STDMETHODCALLTYPE CVector::Div(DOUBLE num, IVector** pResult) {
    if (!pResult)
        return E_POINTER;
    return newVector(pResult, [&] { return divided(m_value, num); });
}

HRESULT STDMETHODCALLTYPE CVector::SetMul(DOUBLE num) {
    return storeCoord<IVector>(this, scaled(m_value, num));
}

HRESULT STDMETHODCALLTYPE CVector::SetDiv(DOUBLE num) {
    return storeCoord<IVector>(this, divided(m_value, num));
}

HRESULT STDMETHODCALLTYPE CVector::Negate(IVector** pResult) {
    if (!pResult)
        return E_POINTER;
    return newVector(pResult, [&] { return negated(m_value); });
}

HRESULT STDMETHODCALLTYPE CVector::SetNegate() {
    return storeCoord<IVector>(this, negated(m_value));
}

HRESULT STDMETHODCALLTYPE CVector::DotProduct(IVector* pOther, DOUBLE* result) {
    return measure(pOther, result, [&](const CoordValue& o) { return dot(m_value, o); });
}

HRESULT STDMETHODCALLTYPE CVector::CrossProduct(IVector* pOther, IVector** pResult) {
    if (!pResult || !pOther)
        return E_POINTER;
    return newVector(pResult, [&] { return cross(m_value, readCoord(pOther)); });
}

HRESULT STDMETHODCALLTYPE CVector::get_Length(DOUBLE* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = length(m_value);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CVector::Angle(IVector* pOther, DOUBLE* result) {
    return measure(pOther, result, [&](const CoordValue& o) { return angle(m_value, o); });
}

HRESULT STDMETHODCALLTYPE CVector::Cosine(IVector* pOther, DOUBLE* result) {
    return measure(pOther, result, [&](const CoordValue& o) { return cosine(m_value, o); });
}

HRESULT STDMETHODCALLTYPE CVector::Distance(IVector* pOther, DOUBLE* result) {
    return measure(pOther, result, [&](const CoordValue& o) { return distance(m_value, o); });
}

HRESULT STDMETHODCALLTYPE CVector::SetNormalize() {
    normalize(m_value);
    return S_OK;
}

// Both vectors are made and handed out before either gets its value; when the
// second cannot be made the first is taken back, so the caller gets both or none.
HRESULT STDMETHODCALLTYPE CVector::Axes(IVector** pY, IVector** pZ) {
    if (!pY || !pZ)
        return E_POINTER;
    HRESULT hr = CreateResult<CVector>(pY);
    if (FAILED(hr))
        return hr;
    hr = CreateResult<CVector>(pZ);
    if (FAILED(hr)) {
        Ref<IVector>::adopt(*pY).reset();
        *pY = nullptr;
        return hr;
    }
    ReferenceAxes axes = referenceAxes(m_value);
    hr = storeCoord(*pY, axes.y);
    if (hr != S_OK)
        return hr;
    return storeCoord(*pZ, axes.z);
}

HRESULT STDMETHODCALLTYPE CVector::Equals(IVector* pOther, VARIANT_BOOL* pResult) {
    return measure(pOther, pResult, [&](const CoordValue& o) {
        return nearlyEqual(m_value, o) ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

HRESULT STDMETHODCALLTYPE CVector::Apply(IMatrix* pMatrix, IVector** pResult) {
    if (!pResult || !pMatrix)
        return E_POINTER;
    return makeCoordResult<CVector>(pResult, [&](CoordValue& v) {
        MatrixValue matrix;
        HRESULT hr = readMatrixValue(pMatrix, matrix);
        if (SUCCEEDED(hr))
            v = applyToDirection(matrix, m_value);
        return hr;
    });
}

} // namespace orvik
