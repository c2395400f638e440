// geometry/coord_object.h: what points and vectors share
//
// A point and a vector are both a CoordValue behind a dual interface with the same
// accessors (X, Y, Z, Error, Set, Get, AsArray, CopyFrom). CoordObject implements
// them once for either interface. Set stores the error through the object's own
// Error put, and CopyFrom through its own Set, so the error checks live in one
// place and a derived table sees every store.
#ifndef ORVIK_GEOMETRY_COORD_OBJECT_H
#define ORVIK_GEOMETRY_COORD_OBJECT_H

#include "geometry/coord_value.h"
#include "geometry/value_transfer.h"
#include "server/co_class.h"
#include "server/property_access.h"

#include "orvik/orvik_i.h"

namespace orvik {

/// The two combinations points and vectors share, as arguments to setWith/makeWith.
inline constexpr auto kSum = [](const CoordValue& a, const CoordValue& b) { return sum(a, b); };
inline constexpr auto kDifference = [](const CoordValue& a, const CoordValue& b) {
    return difference(a, b);
};

/// Gives value to a point or vector through its Set and returns Set's result.
template <class Interface> HRESULT storeCoord(Interface* target, const CoordValue& v) {
    return target->Set(v.x, v.y, v.z, v.error);
}

/// The shape of every operation that returns a new point or vector: the result is
/// made first; compute then reads the arguments and forms the value, and the
/// result's Set gives the final code. A failure at either step takes the result
/// back.
template <class ResultClass, class ResultInterface, class Compute>
HRESULT makeCoordResult(ResultInterface** out, Compute compute) {
    return CreateResultWith<ResultClass>(out, [&](ResultInterface* result) {
        CoordValue value;
        HRESULT hr = compute(value);
        if (FAILED(hr))
            return hr;
        return storeCoord(result, value);
    });
}

template <class T, class Interface>
class CoordObject : public CComCoClassImpl<T, Interface, &LIBID_ORVIKLib> {
public:
    ORVIK_PROPERTY(DOUBLE, X, m_value.x)
    ORVIK_PROPERTY(DOUBLE, Y, m_value.y)
    ORVIK_PROPERTY(DOUBLE, Z, m_value.z)
    HRESULT STDMETHODCALLTYPE get_Error(DOUBLE* pVal) override {
        return copyOut(m_value.error, pVal);
    }
    /// Zero and negative errors are refused; anything else, NaN included, is kept.
    HRESULT STDMETHODCALLTYPE put_Error(DOUBLE newVal) override {
        if (newVal <= 0)
            return E_INVALIDARG;
        m_value.error = newVal;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE CopyFrom(Interface* pOther) override {
        CoordValue v;
        HRESULT hr = readCoord(pOther, v);
        if (FAILED(hr))
            return hr;
        return storeCoord<Interface>(this, v);
    }

    /// Coordinates first, unconditionally; then the error through Error put, with an
    /// error of exactly 0 meaning DefaultError.
    HRESULT STDMETHODCALLTYPE Set(DOUBLE X, DOUBLE Y, DOUBLE Z, DOUBLE Error) override {
        m_value.x = X;
        m_value.y = Y;
        m_value.z = Z;
        return static_cast<Interface*>(this)->put_Error(Error == 0 ? DefaultError : Error);
    }

    HRESULT STDMETHODCALLTYPE Get(DOUBLE* X, DOUBLE* Y, DOUBLE* Z, DOUBLE* Error) override {
        if (!X || !Y || !Z || !Error)
            return E_POINTER;
        *X = m_value.x;
        *Y = m_value.y;
        *Z = m_value.z;
        *Error = m_value.error;
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE get_AsArray(SAFEARRAY** pVal) override {
        return coordToArray(m_value, pVal);
    }
    HRESULT STDMETHODCALLTYPE put_AsArray(SAFEARRAY** newVal) override {
        return coordFromArray(newVal, m_value);
    }

    /// The value, for tests and for objects of this module that hold one directly.
    const CoordValue& value() const { return m_value; }

protected:
    /// In place: this := combine(this, argument), stored through this object's Set.
    template <class Arg, class Combine> HRESULT setWith(Arg* arg, Combine combine) {
        CoordValue a;
        HRESULT hr = readCoord(arg, a);
        if (FAILED(hr))
            return hr;
        return storeCoord<Interface>(this, combine(m_value, a));
    }

    /// A new ResultClass holding combine(this, argument); see makeCoordResult.
    template <class ResultClass, class ResultInterface, class Arg, class Combine>
    HRESULT makeWith(ResultInterface** out, Arg* arg, Combine combine) {
        if (!out || !arg)
            return E_POINTER;
        return makeCoordResult<ResultClass>(out, [&](CoordValue& v) {
            CoordValue a;
            HRESULT hr = readCoord(arg, a);
            if (SUCCEEDED(hr))
                v = combine(m_value, a);
            return hr;
        });
    }

    /// A new ResultClass holding make(this).
    template <class ResultClass, class ResultInterface, class Make>
    HRESULT makeFrom(ResultInterface** out, Make make) {
        if (!out)
            return E_POINTER;
        return makeCoordResult<ResultClass>(out, [&](CoordValue& v) {
            v = make(m_value);
            return S_OK;
        });
    }

    /// A new ResultClass holding transform(matrix read from pMatrix, this).
    template <class ResultClass, class ResultInterface, class Transform>
    HRESULT makeTransformed(ResultInterface** out, IMatrix* pMatrix, Transform transform) {
        if (!out || !pMatrix)
            return E_POINTER;
        return makeCoordResult<ResultClass>(out, [&](CoordValue& v) {
            MatrixValue matrix;
            HRESULT hr = readMatrixValue(pMatrix, matrix);
            if (SUCCEEDED(hr))
                v = transform(matrix, m_value);
            return hr;
        });
    }

    /// A copy made through the new object's CopyFrom(this), which reads this
    /// object's Get and stores through the copy's Set.
    HRESULT cloneInto(Interface** out) {
        if (!out)
            return E_POINTER;
        return CreateResultWith<T>(out, [&](Interface* copy) { return copy->CopyFrom(this); });
    }

    CoordValue m_value;
};

} // namespace orvik

#endif // ORVIK_GEOMETRY_COORD_OBJECT_H
