// geometry/plane.h: the Plane class, four plane coefficients and an error estimate
//
// A holder: the coefficients and the error are stored and returned exactly as
// given, never evaluated, normalised or validated. Copying, cloning, the array
// form and transformation are declared by the interface but not provided.
#ifndef ORVIK_GEOMETRY_PLANE_H
#define ORVIK_GEOMETRY_PLANE_H

#include "geometry/coord_value.h"
#include "server/co_class.h"
#include "server/property_access.h"

#include "orvik/orvik_i.h"

namespace orvik {

struct PlaneValue {
    double a = 0.0;
    double b = 0.0;
    double c = 1.0;
    double d = 0.0;
    double error = DefaultError;
};

class CPlane : public CComCoClassImpl<CPlane, IPlane, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_Plane; }

    ORVIK_PROPERTY(DOUBLE, Error, m_value.error)

    HRESULT STDMETHODCALLTYPE Set(DOUBLE A, DOUBLE B, DOUBLE C, DOUBLE D, DOUBLE Error) override {
        m_value = {A, B, C, D, Error};
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Get(DOUBLE* A, DOUBLE* B, DOUBLE* C, DOUBLE* D,
                                  DOUBLE* Error) override {
        if (!A || !B || !C || !D || !Error)
            return E_POINTER;
        *A = m_value.a;
        *B = m_value.b;
        *C = m_value.c;
        *D = m_value.d;
        *Error = m_value.error;
        return S_OK;
    }

    // Declared but not provided: E_NOTIMPL without looking at any argument.
    HRESULT STDMETHODCALLTYPE CopyFrom(IPlane*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Transform(IMatrix*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_AsArray(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE put_AsArray(SAFEARRAY**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Clone(IPlane**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Apply(IMatrix*) override { return E_NOTIMPL; }

private:
    PlaneValue m_value;
};

} // namespace orvik

#endif // ORVIK_GEOMETRY_PLANE_H
