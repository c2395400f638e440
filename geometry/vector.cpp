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

// Operations that return a number: check both pointers, read, compute.
template <class Result, class Compute>
HRESULT measure(const CoordValue& self, IVector* other, Result* out, Compute compute) {
    if (!out)
        return E_POINTER;
    CoordValue o;
    HRESULT hr = readCoord(other, o);
    if (SUCCEEDED(hr))
        *out = compute(self, o);
    return hr;
}

} // namespace

HRESULT STDMETHODCALLTYPE CVector::Add(IVector* pVec, IVector** pResval) {
    return makeWith<CVector>(pResval, pVec, kSum);
}

HRESULT STDMETHODCALLTYPE CVector::SetAdd(IVector* pVec) {
    return setWith(pVec, kSum);
}

HRESULT STDMETHODCALLTYPE CVector::Sub(IVector* pVec, IVector** pResval) {
    return makeWith<CVector>(pResval, pVec, kDifference);
}

HRESULT STDMETHODCALLTYPE CVector::SetSub(IVector* pVec) {
    return setWith(pVec, kDifference);
}

HRESULT STDMETHODCALLTYPE CVector::Clone(IVector** pResult) {
    return cloneInto(pResult);
}

HRESULT STDMETHODCALLTYPE CVector::ToPoint(IPoint** pResult) {
    return makeFrom<CPoint>(pResult, [](const CoordValue& v) { return v; });
}

HRESULT STDMETHODCALLTYPE CVector::Mul(DOUBLE num, IVector** pResult) {
    return makeFrom<CVector>(pResult, [&](const CoordValue& v) { return scaled(v, num); });
}

HRESULT STDMETHODCALLTYPE CVector::Div(DOUBLE num, IVector** pResult) {
    return makeFrom<CVector>(pResult, [&](const CoordValue& v) { return divided(v, num); });
}

HRESULT STDMETHODCALLTYPE CVector::SetMul(DOUBLE num) {
    return storeCoord<IVector>(this, scaled(m_value, num));
}

HRESULT STDMETHODCALLTYPE CVector::SetDiv(DOUBLE num) {
    return storeCoord<IVector>(this, divided(m_value, num));
}

HRESULT STDMETHODCALLTYPE CVector::Negate(IVector** pResult) {
    return makeFrom<CVector>(pResult, [](const CoordValue& v) { return negated(v); });
}

HRESULT STDMETHODCALLTYPE CVector::SetNegate() {
    return storeCoord<IVector>(this, negated(m_value));
}

HRESULT STDMETHODCALLTYPE CVector::DotProduct(IVector* pOther, DOUBLE* result) {
    return measure(m_value, pOther, result,
                   [](const CoordValue& a, const CoordValue& b) { return dot(a, b); });
}

HRESULT STDMETHODCALLTYPE CVector::CrossProduct(IVector* pOther, IVector** pResult) {
    return makeWith<CVector>(pResult, pOther,
                             [](const CoordValue& a, const CoordValue& b) { return cross(a, b); });
}

HRESULT STDMETHODCALLTYPE CVector::get_Length(DOUBLE* pVal) {
    return copyOut(length(m_value), pVal);
}

HRESULT STDMETHODCALLTYPE CVector::Angle(IVector* pOther, DOUBLE* result) {
    return measure(m_value, pOther, result,
                   [](const CoordValue& a, const CoordValue& b) { return angle(a, b); });
}

HRESULT STDMETHODCALLTYPE CVector::Cosine(IVector* pOther, DOUBLE* result) {
    return measure(m_value, pOther, result,
                   [](const CoordValue& a, const CoordValue& b) { return cosine(a, b); });
}

HRESULT STDMETHODCALLTYPE CVector::Distance(IVector* pOther, DOUBLE* result) {
    return measure(m_value, pOther, result,
                   [](const CoordValue& a, const CoordValue& b) { return distance(a, b); });
}

HRESULT STDMETHODCALLTYPE CVector::SetNormalize() {
    normalize(m_value);
    return S_OK;
}

// Both vectors are made before either gets its value; when the second cannot be
// made, or either cannot take its value, both are taken back, so the caller gets
// both or none.
HRESULT STDMETHODCALLTYPE CVector::Axes(IVector** pY, IVector** pZ) {
    if (!pY || !pZ)
        return E_POINTER;
    *pZ = nullptr;
    ReferenceAxes axes = referenceAxes(m_value);
    Ref<IVector> z;
    HRESULT hr = CreateResultWith<CVector>(pY, [&](IVector* y) {
        HRESULT made = CreateResult<CVector>(z.put());
        if (FAILED(made))
            return made;
        made = storeCoord(y, axes.y);
        return made != S_OK ? made : storeCoord(z.get(), axes.z);
    });
    if (FAILED(hr))
        return hr;
    *pZ = z.detach();
    return hr;
}

HRESULT STDMETHODCALLTYPE CVector::Equals(IVector* pOther, VARIANT_BOOL* pResult) {
    return measure(m_value, pOther, pResult, [](const CoordValue& a, const CoordValue& b) {
        return nearlyEqual(a, b) ? VARIANT_TRUE : VARIANT_FALSE;
    });
}

HRESULT STDMETHODCALLTYPE CVector::Apply(IMatrix* pMatrix, IVector** pResult) {
    return makeTransformed<CVector>(
        pResult, pMatrix,
        [](const MatrixValue& m, const CoordValue& v) { return applyToDirection(m, v); });
}

} // namespace orvik
