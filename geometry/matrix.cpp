// geometry/matrix.cpp: the Matrix operations
//
// Other matrices are read whole (readMatrixValue) into a separate record before this
// one changes, so a matrix may be its own argument. New matrices get their value
// through writeMatrixValue, i.e. through their own Error and AsArray1D puts, so any
// IMatrix implementer could stand in for the result. A call on another object
// that fails stops the operation with that code and leaves this matrix unchanged.

#include "geometry/matrix.h"
#include "geometry/point.h"
#include "geometry/vector.h"
#include "geometry/value_transfer.h"

#include <atomic>
#include <limits>

namespace orvik {

namespace {

// The X, Y and Z property gets of a point or vector, for the column puts and SetPv,
// which read coordinates but not the error.
template <class Interface> HRESULT readXYZ(Interface* arg, double& x, double& y, double& z) {
    if (!arg)
        return E_POINTER;
    double rx = 0, ry = 0, rz = 0;
    HRESULT hr = arg->get_X(&rx);
    if (SUCCEEDED(hr))
        hr = arg->get_Y(&ry);
    if (SUCCEEDED(hr))
        hr = arg->get_Z(&rz);
    if (SUCCEEDED(hr)) {
        x = rx;
        y = ry;
        z = rz;
    }
    return hr;
}

template <class Interface> HRESULT readColumn(Interface* arg, MatrixValue& v, int column) {
    return readXYZ(arg, v.m[3 * column], v.m[3 * column + 1], v.m[3 * column + 2]);
}

// Entry indice * 3 + indice2 for a column 0..3 and component 0..2.
bool elementIndex(LONG indice, LONG indice2, int& entry) {
    if (indice < 0 || indice > 3 || indice2 < 0 || indice2 > 2)
        return false;
    entry = int(indice) * 3 + int(indice2);
    return true;
}

constexpr double kMachineEpsilon = std::numeric_limits<double>::epsilon();

} // namespace

template <class Combine> HRESULT CMatrix::combineWith(IMatrix* other, Combine combine) {
    MatrixValue o;
    HRESULT hr = readMatrixValue(other, o);
    if (FAILED(hr))
        return hr;
    m_value = combine(m_value, o);
    return S_OK;
}

namespace {

// The IMatrix table of this module's standalone matrices, learnt from the first
// result made (null until then: matrices are then read through their interface).
std::atomic<const void*> g_ownMatrixTable{nullptr};

const void* tableOf(IMatrix* matrix) {
    return *reinterpret_cast<const void* const*>(matrix);
}

CMatrix* ownMatrix(IMatrix* matrix) {
    const void* own = g_ownMatrixTable.load(std::memory_order_relaxed);
    return own && tableOf(matrix) == own ? static_cast<CMatrix*>(matrix) : nullptr;
}

} // namespace

const MatrixValue* ownMatrixValue(IMatrix* matrix) {
    const CMatrix* own = ownMatrix(matrix);
    return own ? &own->value() : nullptr;
}

HRESULT assignOwnMatrixValue(IMatrix* matrix, const MatrixValue& value) {
    CMatrix* own = ownMatrix(matrix);
    return own ? own->assign(value) : S_FALSE;
}

HRESULT CMatrix::assign(const MatrixValue& value) {
    if (!errorAccepted(value.error))
        return E_INVALIDARG;
    m_value = value;
    return S_OK;
}

template <class Compute> HRESULT CMatrix::makeMatrix(IMatrix** out, Compute compute) {
    return CreateResultWith<CMatrix>(out, [&](IMatrix* result) {
        g_ownMatrixTable.store(tableOf(result), std::memory_order_relaxed);
        return writeMatrixValue(result, compute());
    });
}

template <class Compute>
HRESULT CMatrix::makeFromOther(IMatrix* other, IMatrix** out, Compute compute) {
    if (!out)
        return E_POINTER;
    MatrixValue o;
    HRESULT hr = readMatrixValue(other, o);
    if (FAILED(hr))
        return hr;
    return makeMatrix(out, [&] { return compute(m_value, o); });
}

// A new vector or point holding a column and the matrix's error. A refused error
// is reported, not hidden: the object would otherwise silently differ from the
// matrix it came from.
template <class ResultClass, class Interface>
HRESULT CMatrix::columnOut(int column, Interface** out) {
    if (!out)
        return E_POINTER;
    const double* c = &m_value.m[3 * column];
    return CreateResultWith<ResultClass>(
        out, [&](Interface* result) { return result->Set(c[0], c[1], c[2], m_value.error); });
}

template <class Interface> HRESULT CMatrix::columnIn(int column, Interface* in) {
    return readColumn(in, m_value, column);
}

HRESULT STDMETHODCALLTYPE CMatrix::get_AsArray2D(SAFEARRAY**) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CMatrix::put_AsArray2D(SAFEARRAY**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CMatrix::get_AsArray1D(SAFEARRAY** pVal) {
    return doublesToArray(m_value.m, MatrixValue::kEntries, pVal);
}

HRESULT STDMETHODCALLTYPE CMatrix::put_AsArray1D(SAFEARRAY** newVal) {
    double* targets[MatrixValue::kEntries];
    for (int i = 0; i < MatrixValue::kEntries; ++i)
        targets[i] = &m_value.m[i];
    return doublesFromArray(newVal, targets, MatrixValue::kEntries);
}

// Columns given are replaced, columns omitted kept; nothing is derived or made
// perpendicular, and the arguments' errors are not read.
HRESULT STDMETHODCALLTYPE CMatrix::SetPv(IPoint* pOrigin, IVector* axis1, IVector* axis2,
                                         IVector* axis3, DOUBLE Error) {
    if (Error < kMachineEpsilon)
        return E_INVALIDARG;
    MatrixValue v = m_value;
    HRESULT hr = S_OK;
    if (pOrigin)
        hr = readColumn(pOrigin, v, 3);
    IVector* axes[3] = {axis1, axis2, axis3};
    for (int c = 0; c < 3 && SUCCEEDED(hr); ++c)
        if (axes[c])
            hr = readColumn(axes[c], v, c);
    if (FAILED(hr))
        return hr;
    v.error = Error;
    m_value = v;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::SetTranslation(IVector* pTransl, DOUBLE Error) {
    CoordValue t;
    HRESULT hr = readCoord(pTransl, t);
    if (FAILED(hr))
        return hr;
    m_value = makeTranslation(t, Error);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::SetRotation(DOUBLE theta, IVector* pRotaz, IPoint* orig,
                                               DOUBLE Error) {
    CoordValue axis, point;
    HRESULT hr = readCoord(pRotaz, axis);
    if (SUCCEEDED(hr) && orig)
        hr = readCoord(orig, point);
    if (FAILED(hr))
        return hr;
    m_value = makeRotation(theta, axis, orig ? &point : nullptr, Error);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::get_Element(LONG indice, LONG indice2, DOUBLE* pVal) {
    if (!pVal)
        return E_POINTER;
    int entry = 0;
    if (!elementIndex(indice, indice2, entry))
        return E_INVALIDARG;
    *pVal = m_value.m[entry];
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::put_Element(LONG indice, LONG indice2, DOUBLE newVal) {
    int entry = 0;
    if (!elementIndex(indice, indice2, entry))
        return E_INVALIDARG;
    m_value.m[entry] = newVal;
    return S_OK;
}

// SetMul makes this matrix act first and the other second; Mul is the other way.
HRESULT STDMETHODCALLTYPE CMatrix::SetMul(IMatrix* pOther) {
    return combineWith(pOther, [](const MatrixValue& self, const MatrixValue& other) {
        return product(other, self);
    });
}

HRESULT STDMETHODCALLTYPE CMatrix::SetAdd(IMatrix* pOther) {
    return combineWith(pOther,
                       [](const MatrixValue& a, const MatrixValue& b) { return sum(a, b); });
}

HRESULT STDMETHODCALLTYPE CMatrix::SetSub(IMatrix* pOther) {
    return combineWith(pOther,
                       [](const MatrixValue& a, const MatrixValue& b) { return difference(a, b); });
}

HRESULT STDMETHODCALLTYPE CMatrix::Mul(IMatrix* pOther, IMatrix** pResult) {
    return makeFromOther(pOther, pResult, [](const MatrixValue& self, const MatrixValue& other) {
        return product(self, other);
    });
}

HRESULT STDMETHODCALLTYPE CMatrix::Add(IMatrix* pOther, IMatrix** pResult) {
    return makeFromOther(pOther, pResult,
                         [](const MatrixValue& a, const MatrixValue& b) { return sum(a, b); });
}

HRESULT STDMETHODCALLTYPE CMatrix::Sub(IMatrix* pOther, IMatrix** pResult) {
    return makeFromOther(pOther, pResult, [](const MatrixValue& a, const MatrixValue& b) {
        return difference(a, b);
    });
}

HRESULT STDMETHODCALLTYPE CMatrix::SetNegate() {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE CMatrix::Negate(IMatrix**) {
    return E_NOTIMPL;
}

HRESULT STDMETHODCALLTYPE CMatrix::Clone(IMatrix** pResult) {
    if (!pResult)
        return E_POINTER;
    return makeMatrix(pResult, [&] { return m_value; });
}

HRESULT STDMETHODCALLTYPE CMatrix::Equals(IMatrix* pOther, VARIANT_BOOL* result) {
    if (!result)
        return E_POINTER;
    MatrixValue o;
    HRESULT hr = readMatrixValue(pOther, o);
    if (FAILED(hr))
        return hr;
    *result = nearlyEqual(m_value, o) ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::Transpose(IMatrix** pResult) {
    if (!pResult)
        return E_POINTER;
    return makeMatrix(pResult, [&] { return transposed(m_value); });
}

HRESULT STDMETHODCALLTYPE CMatrix::Inverse(IMatrix** pResult) {
    if (!pResult)
        return E_POINTER;
    return makeMatrix(pResult, [&] { return inverse(m_value); });
}

HRESULT STDMETHODCALLTYPE CMatrix::SetNormalize() {
    normalize(m_value);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::SetMove(DOUBLE tx, DOUBLE ty, DOUBLE tz) {
    translate(m_value, tx, ty, tz);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::SetMoveByVector(IVector* pVector) {
    CoordValue v;
    HRESULT hr = readCoord(pVector, v);
    if (FAILED(hr))
        return hr;
    translateBy(m_value, v);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::SetScale(DOUBLE sx, DOUBLE sy, DOUBLE sz) {
    scaleAxes(m_value, sx, sy, sz);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::SetRotate(DOUBLE ax, DOUBLE ay, DOUBLE az) {
    rotateXYZ(m_value, ax, ay, az);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::get_Error(DOUBLE* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = m_value.error;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::put_Error(DOUBLE newVal) {
    if (!errorAccepted(newVal))
        return E_INVALIDARG;
    m_value.error = newVal;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::SetAxialRot(IVector* pAxis, DOUBLE Angle) {
    CoordValue axis;
    HRESULT hr = readCoord(pAxis, axis);
    if (FAILED(hr))
        return hr;
    rotateAboutAxis(m_value, axis, Angle);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CMatrix::get_XVect(IVector** pVal) {
    return columnOut<CVector>(0, pVal);
}
HRESULT STDMETHODCALLTYPE CMatrix::put_XVect(IVector* newVal) {
    return columnIn(0, newVal);
}
HRESULT STDMETHODCALLTYPE CMatrix::get_YVect(IVector** pVal) {
    return columnOut<CVector>(1, pVal);
}
HRESULT STDMETHODCALLTYPE CMatrix::put_YVect(IVector* newVal) {
    return columnIn(1, newVal);
}
HRESULT STDMETHODCALLTYPE CMatrix::get_ZVect(IVector** pVal) {
    return columnOut<CVector>(2, pVal);
}
HRESULT STDMETHODCALLTYPE CMatrix::put_ZVect(IVector* newVal) {
    return columnIn(2, newVal);
}
HRESULT STDMETHODCALLTYPE CMatrix::get_Origin(IPoint** pVal) {
    return columnOut<CPoint>(3, pVal);
}
HRESULT STDMETHODCALLTYPE CMatrix::put_Origin(IPoint* newVal) {
    return columnIn(3, newVal);
}

HRESULT STDMETHODCALLTYPE CMatrix::get_Determinant(DOUBLE* pVal) {
    if (!pVal)
        return E_POINTER;
    *pVal = determinant(m_value);
    return S_OK;
}

} // namespace orvik
