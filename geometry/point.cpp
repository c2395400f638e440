// geometry/point.cpp: the Point operations
//
// Absent argument objects are refused with E_POINTER before anything is made or
// changed, and an argument whose Get fails passes its code on. Operations that make
// a result hand it out before its value is set, so a refused Set leaves the caller
// holding the object and the failure code.

#include "geometry/point.h"
#include "geometry/vector.h"

namespace orvik {

HRESULT STDMETHODCALLTYPE CPoint::Add(IVector* pVec, IPoint** pResval) {
    return makeWith<CPoint>(pResval, pVec, kSum);
}

HRESULT STDMETHODCALLTYPE CPoint::SetAdd(IVector* pVec) {
    return setWith(pVec, kSum);
}

HRESULT STDMETHODCALLTYPE CPoint::Sub(IVector* pVec, IPoint** pResval) {
    return makeWith<CPoint>(pResval, pVec, kDifference);
}

HRESULT STDMETHODCALLTYPE CPoint::SetSub(IVector* pVec) {
    return setWith(pVec, kDifference);
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
    return cloneInto(pResult);
}

HRESULT STDMETHODCALLTYPE CPoint::ToVector(IVector** pResult) {
    return makeFrom<CVector>(pResult, [](const CoordValue& v) { return v; });
}

HRESULT STDMETHODCALLTYPE CPoint::Diff(IPoint* pOther, IVector** pResult) {
    return makeWith<CVector>(pResult, pOther, [](const CoordValue& a, const CoordValue& b) {
        return pointDifference(a, b);
    });
}

HRESULT STDMETHODCALLTYPE CPoint::Apply(IMatrix* pMatrix, IPoint** pResult) {
    return makeTransformed<CPoint>(pResult, pMatrix, [](const MatrixValue& m, const CoordValue& v) {
        return applyToPoint(m, v);
    });
}

} // namespace orvik
