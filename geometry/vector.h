// geometry/vector.h: the Vector class, a direction or displacement with an error estimate
#ifndef ORVIK_GEOMETRY_VECTOR_H
#define ORVIK_GEOMETRY_VECTOR_H

#include "geometry/coord_object.h"

namespace orvik {

class CVector : public CoordObject<CVector, IVector> {
public:
    static const CLSID& classId() { return CLSID_Vector; }

    HRESULT STDMETHODCALLTYPE Add(IVector* pVec, IVector** pResval) override;
    HRESULT STDMETHODCALLTYPE SetAdd(IVector* pVec) override;
    HRESULT STDMETHODCALLTYPE Sub(IVector* pVec, IVector** pResval) override;
    HRESULT STDMETHODCALLTYPE SetSub(IVector* pVec) override;
    HRESULT STDMETHODCALLTYPE Clone(IVector** pResult) override;
    HRESULT STDMETHODCALLTYPE ToPoint(IPoint** pResult) override;
    HRESULT STDMETHODCALLTYPE Mul(DOUBLE num, IVector** pResult) override;
    HRESULT STDMETHODCALLTYPE Div(DOUBLE num, IVector** pResult) override;
    HRESULT STDMETHODCALLTYPE SetMul(DOUBLE num) override;
    HRESULT STDMETHODCALLTYPE SetDiv(DOUBLE num) override;
    HRESULT STDMETHODCALLTYPE Negate(IVector** pResult) override;
    HRESULT STDMETHODCALLTYPE SetNegate() override;
    HRESULT STDMETHODCALLTYPE DotProduct(IVector* pOther, DOUBLE* result) override;
    HRESULT STDMETHODCALLTYPE CrossProduct(IVector* pOther, IVector** pResult) override;
    HRESULT STDMETHODCALLTYPE get_Length(DOUBLE* pVal) override;
    HRESULT STDMETHODCALLTYPE Angle(IVector* pOther, DOUBLE* result) override;
    HRESULT STDMETHODCALLTYPE Cosine(IVector* pOther, DOUBLE* result) override;
    HRESULT STDMETHODCALLTYPE Distance(IVector* pOther, DOUBLE* result) override;
    HRESULT STDMETHODCALLTYPE SetNormalize() override;
    HRESULT STDMETHODCALLTYPE Axes(IVector** pY, IVector** pZ) override;
    HRESULT STDMETHODCALLTYPE Equals(IVector* pOther, VARIANT_BOOL* pResult) override;
    HRESULT STDMETHODCALLTYPE Apply(IMatrix* pMatrix, IVector** pResult) override;
};

} // namespace orvik

#endif // ORVIK_GEOMETRY_VECTOR_H
