// tests/support/recording_doubles.h: stand-ins for IVector and IMatrix that record
// what is called on them
//
// An operation of this module may read its argument objects only through their
// interfaces, in a fixed order. These doubles answer the calls a reader makes (Get;
// AsArray1D and Error) with values the test chooses, can be told to fail them, and
// log every call, so the test sees the order and count of calls. Anything else
// answers E_NOTIMPL.
#ifndef ORVIK_TESTS_SUPPORT_RECORDING_DOUBLES_H
#define ORVIK_TESTS_SUPPORT_RECORDING_DOUBLES_H

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"

#include <string>
#include <vector>

namespace orvik::testing {

using CallLog = std::vector<std::string>;

template <class I> class RecordingUnknown : public I {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        ++queries;
        *ppv = nullptr;
        if (!IsEqualGUID(iid, IID_IUnknown) && !IsEqualGUID(iid, IID_IDispatch) &&
            !IsEqualGUID(iid, iidOf<I>()))
            return E_NOINTERFACE;
        *ppv = static_cast<I*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        return E_NOTIMPL;
    }

    ULONG refs = 1; // the test's own reference; the double lives on the stack
    int queries = 0;
    CallLog calls;
};

/// An IVector whose Get yields `value` (or fails with getResult).
class RecordingVector : public RecordingUnknown<IVector> {
public:
    double value[4] = {0, 0, 0, 0.001};
    HRESULT getResult = S_OK;

    HRESULT STDMETHODCALLTYPE Get(DOUBLE* X, DOUBLE* Y, DOUBLE* Z, DOUBLE* Error) override {
        calls.push_back("Get");
        if (FAILED(getResult))
            return getResult;
        *X = value[0];
        *Y = value[1];
        *Z = value[2];
        *Error = value[3];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Set(DOUBLE X, DOUBLE Y, DOUBLE Z, DOUBLE Error) override {
        calls.push_back("Set");
        value[0] = X;
        value[1] = Y;
        value[2] = Z;
        value[3] = Error;
        return S_OK;
    }
#define ORVIK_NOT_HERE(sig)                                                                        \
    HRESULT STDMETHODCALLTYPE sig override {                                                       \
        return E_NOTIMPL;                                                                          \
    }
    ORVIK_NOT_HERE(get_X(DOUBLE*))
    ORVIK_NOT_HERE(put_X(DOUBLE))
    ORVIK_NOT_HERE(get_Y(DOUBLE*))
    ORVIK_NOT_HERE(put_Y(DOUBLE))
    ORVIK_NOT_HERE(get_Z(DOUBLE*))
    ORVIK_NOT_HERE(put_Z(DOUBLE))
    ORVIK_NOT_HERE(get_Error(DOUBLE*))
    ORVIK_NOT_HERE(put_Error(DOUBLE))
    ORVIK_NOT_HERE(CopyFrom(IVector*))
    ORVIK_NOT_HERE(Add(IVector*, IVector**))
    ORVIK_NOT_HERE(SetAdd(IVector*))
    ORVIK_NOT_HERE(Sub(IVector*, IVector**))
    ORVIK_NOT_HERE(SetSub(IVector*))
    ORVIK_NOT_HERE(get_AsArray(SAFEARRAY**))
    ORVIK_NOT_HERE(put_AsArray(SAFEARRAY**))
    ORVIK_NOT_HERE(Clone(IVector**))
    ORVIK_NOT_HERE(ToPoint(IPoint**))
    ORVIK_NOT_HERE(Mul(DOUBLE, IVector**))
    ORVIK_NOT_HERE(Div(DOUBLE, IVector**))
    ORVIK_NOT_HERE(SetMul(DOUBLE))
    ORVIK_NOT_HERE(SetDiv(DOUBLE))
    ORVIK_NOT_HERE(Negate(IVector**))
    ORVIK_NOT_HERE(SetNegate())
    ORVIK_NOT_HERE(DotProduct(IVector*, DOUBLE*))
    ORVIK_NOT_HERE(CrossProduct(IVector*, IVector**))
    ORVIK_NOT_HERE(get_Length(DOUBLE*))
    ORVIK_NOT_HERE(Angle(IVector*, DOUBLE*))
    ORVIK_NOT_HERE(Cosine(IVector*, DOUBLE*))
    ORVIK_NOT_HERE(Distance(IVector*, DOUBLE*))
    ORVIK_NOT_HERE(SetNormalize())
    ORVIK_NOT_HERE(Axes(IVector**, IVector**))
    ORVIK_NOT_HERE(Equals(IVector*, VARIANT_BOOL*))
    ORVIK_NOT_HERE(Apply(IMatrix*, IVector**))
};

/// An IMatrix whose AsArray1D hands out `entries` (as an array with the given lower
/// bound and length) and whose Error yields `error`; each can be made to fail.
class RecordingMatrix : public RecordingUnknown<IMatrix> {
public:
    double entries[12] = {1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0};
    double error = 0.001;
    LONG lowerBound = 0;
    ULONG length = 12;
    bool giveNoArray = false;
    HRESULT arrayResult = S_OK;
    HRESULT errorResult = S_OK;

    HRESULT STDMETHODCALLTYPE get_AsArray1D(SAFEARRAY** pVal) override {
        calls.push_back("AsArray1D");
        if (FAILED(arrayResult))
            return arrayResult;
        if (giveNoArray) {
            *pVal = nullptr;
            return S_OK;
        }
        *pVal = SafeArrayCreateVector(VT_R8, lowerBound, length);
        for (ULONG i = 0; i < length && i < 12; ++i) {
            LONG index = lowerBound + LONG(i);
            SafeArrayPutElement(*pVal, &index, &entries[i]);
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_Error(DOUBLE* pVal) override {
        calls.push_back("Error");
        if (FAILED(errorResult))
            return errorResult;
        *pVal = error;
        return S_OK;
    }
    ORVIK_NOT_HERE(get_AsArray2D(SAFEARRAY**))
    ORVIK_NOT_HERE(put_AsArray2D(SAFEARRAY**))
    ORVIK_NOT_HERE(put_AsArray1D(SAFEARRAY**))
    ORVIK_NOT_HERE(SetPv(IPoint*, IVector*, IVector*, IVector*, DOUBLE))
    ORVIK_NOT_HERE(SetTranslation(IVector*, DOUBLE))
    ORVIK_NOT_HERE(SetRotation(DOUBLE, IVector*, IPoint*, DOUBLE))
    ORVIK_NOT_HERE(get_Element(LONG, LONG, DOUBLE*))
    ORVIK_NOT_HERE(put_Element(LONG, LONG, DOUBLE))
    ORVIK_NOT_HERE(SetMul(IMatrix*))
    ORVIK_NOT_HERE(SetAdd(IMatrix*))
    ORVIK_NOT_HERE(SetSub(IMatrix*))
    ORVIK_NOT_HERE(Mul(IMatrix*, IMatrix**))
    ORVIK_NOT_HERE(Add(IMatrix*, IMatrix**))
    ORVIK_NOT_HERE(Sub(IMatrix*, IMatrix**))
    ORVIK_NOT_HERE(SetNegate())
    ORVIK_NOT_HERE(Negate(IMatrix**))
    ORVIK_NOT_HERE(Clone(IMatrix**))
    ORVIK_NOT_HERE(Equals(IMatrix*, VARIANT_BOOL*))
    ORVIK_NOT_HERE(Transpose(IMatrix**))
    ORVIK_NOT_HERE(Inverse(IMatrix**))
    ORVIK_NOT_HERE(SetNormalize())
    ORVIK_NOT_HERE(SetMove(DOUBLE, DOUBLE, DOUBLE))
    ORVIK_NOT_HERE(SetMoveByVector(IVector*))
    ORVIK_NOT_HERE(SetScale(DOUBLE, DOUBLE, DOUBLE))
    ORVIK_NOT_HERE(SetRotate(DOUBLE, DOUBLE, DOUBLE))
    ORVIK_NOT_HERE(put_Error(DOUBLE))
    ORVIK_NOT_HERE(SetAxialRot(IVector*, DOUBLE))
    ORVIK_NOT_HERE(get_XVect(IVector**))
    ORVIK_NOT_HERE(put_XVect(IVector*))
    ORVIK_NOT_HERE(get_YVect(IVector**))
    ORVIK_NOT_HERE(put_YVect(IVector*))
    ORVIK_NOT_HERE(get_ZVect(IVector**))
    ORVIK_NOT_HERE(put_ZVect(IVector*))
    ORVIK_NOT_HERE(get_Origin(IPoint**))
    ORVIK_NOT_HERE(put_Origin(IPoint*))
    ORVIK_NOT_HERE(get_Determinant(DOUBLE*))
#undef ORVIK_NOT_HERE
};

} // namespace orvik::testing

#endif // ORVIK_TESTS_SUPPORT_RECORDING_DOUBLES_H
