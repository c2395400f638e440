// geometry/point.cpp: the Point operations
//
// Absent argument objects are refused with E_POINTER before anything is made or
// changed. Operations that make a result hand it out before its value is set, so a
// refused Set leaves the caller holding the object and the failure code.

#include "geometry/point.h"
#include "geometry/vector.h"

namespace orvik {

HRESULT STDMETHODCALLTYPE CPoint::Add(IVector* pVec, IPoint** pResval) {
    if (!pResval || !pVec)
        return E_POINTER;
    return makeCoordResult<CPoint>(pResval, [&](CoordValue& v) {
        v = sum(m_value, readCoord(pVec));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CPoint::SetAdd(IVector* pVec) {
    if (!pVec)
        return E_POINTER;
    return storeCoord<IPoint>(this, sum(m_value, readCoord(pVec)));
}

HRESULT STDMETHODCALLTYPE CPoint::Sub(IVector* pVec, IPoint** pResval) {
    if (!pResval || !pVec)
        return E_POINTER;
    return makeCoordResult<CPoint>(pResval, [&](CoordValue& v) {
        v = difference(m_value, readCoord(pVec));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CPoint::SetSub(IVector* pVec) {
    if (!pVec)
        return E_POINTER;
    return storeCoord<IPoint>(this, difference(m_value, readCoord(pVec)));
}

// The transformed value replaces this point's directly, without Set: a transform
// never refuses the error it computes.
HRESULT STDMETHODCALLTYPE CPoint::Transform(IMatrix* pMat) {
    MatrixValue matrix;
    HRESULT hr = readMatrixValue(pMat, matrix);
    if (FAILED(hr))
        return hr;
    m_value = applyToPoint(matrix, m_value);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CPoint::Clone(IPoint** pResult) {
    if (!pResult)
        return E_POINTER;
    HRESULT hr = CreateResult<CPoint>(pResult);
    if (FAILED(hr))
        return hr;
    return (*pResult)->CopyFrom(this);
}

HRESULT STDMETHODCALLTYPE CPoint::ToVector(IVector** pResult) {
    if (!pResult)
        return E_POINTER;
    return makeCoordResult<CVector>(pResult, [&](CoordValue& v) {
        v = m_value;
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CPoint::Diff(IPoint* pOther, IVector** pResult) {
    if (!pResult || !pOther)
        return E_POINTER;
    return makeCoordResult<CVector>(pResult, [&](CoordValue& v) {
        v = pointDifference(m_value, readCoord(pOther));
        return S_OK;
    });
}

HRESULT STDMETHODCALLTYPE CPoint::Apply(IMatrix* pMatrix, IPoint** pResult) {
    if (!pResult || !pMatrix)
        return E_POINTER;
    return makeCoordResult<CPoint>(pResult, [&](CoordValue& v) {
        MatrixValue matrix;
        HRESULT hr = readMatrixValue(pMatrix, matrix);
        if (SUCCEEDED(hr))
            v = applyToPoint(matrix, m_value);
        return hr;
    });
}

} // namespace orvik
