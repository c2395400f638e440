// geometry/matrix.h: the Matrix class, an affine transformation with an error estimate
#ifndef ORVIK_GEOMETRY_MATRIX_H
#define ORVIK_GEOMETRY_MATRIX_H

#include "geometry/matrix_value.h"
#include "server/co_class.h"

#include "orvik/orvik_i.h"

namespace orvik {

class CMatrix : public CComCoClassImpl<CMatrix, IMatrix, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_Matrix; }

    HRESULT STDMETHODCALLTYPE get_AsArray2D(SAFEARRAY** pVal) override;
    HRESULT STDMETHODCALLTYPE put_AsArray2D(SAFEARRAY** newVal) override;
    HRESULT STDMETHODCALLTYPE get_AsArray1D(SAFEARRAY** pVal) override;
    HRESULT STDMETHODCALLTYPE put_AsArray1D(SAFEARRAY** newVal) override;
    HRESULT STDMETHODCALLTYPE SetPv(IPoint* pOrigin, IVector* axis1, IVector* axis2, IVector* axis3,
                                    DOUBLE Error) override;
    HRESULT STDMETHODCALLTYPE SetTranslation(IVector* pTransl, DOUBLE Error) override;
    HRESULT STDMETHODCALLTYPE SetRotation(DOUBLE theta, IVector* pRotaz, IPoint* orig,
                                          DOUBLE Error) override;
    HRESULT STDMETHODCALLTYPE get_Element(LONG indice, LONG indice2, DOUBLE* pVal) override;
    HRESULT STDMETHODCALLTYPE put_Element(LONG indice, LONG indice2, DOUBLE newVal) override;
    HRESULT STDMETHODCALLTYPE SetMul(IMatrix* pOther) override;
    HRESULT STDMETHODCALLTYPE SetAdd(IMatrix* pOther) override;
    HRESULT STDMETHODCALLTYPE SetSub(IMatrix* pOther) override;
    HRESULT STDMETHODCALLTYPE Mul(IMatrix* pOther, IMatrix** pResult) override;
    HRESULT STDMETHODCALLTYPE Add(IMatrix* pOther, IMatrix** pResult) override;
    HRESULT STDMETHODCALLTYPE Sub(IMatrix* pOther, IMatrix** pResult) override;
    HRESULT STDMETHODCALLTYPE SetNegate() override;
    HRESULT STDMETHODCALLTYPE Negate(IMatrix** pResult) override;
    HRESULT STDMETHODCALLTYPE Clone(IMatrix** pResult) override;
    HRESULT STDMETHODCALLTYPE Equals(IMatrix* pOther, VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Transpose(IMatrix** pResult) override;
    HRESULT STDMETHODCALLTYPE Inverse(IMatrix** pResult) override;
    HRESULT STDMETHODCALLTYPE SetNormalize() override;
    HRESULT STDMETHODCALLTYPE SetMove(DOUBLE tx, DOUBLE ty, DOUBLE tz) override;
    HRESULT STDMETHODCALLTYPE SetMoveByVector(IVector* pVector) override;
    HRESULT STDMETHODCALLTYPE SetScale(DOUBLE sx, DOUBLE sy, DOUBLE sz) override;
    HRESULT STDMETHODCALLTYPE SetRotate(DOUBLE ax, DOUBLE ay, DOUBLE az) override;
    HRESULT STDMETHODCALLTYPE get_Error(DOUBLE* pVal) override;
    HRESULT STDMETHODCALLTYPE put_Error(DOUBLE newVal) override;
    HRESULT STDMETHODCALLTYPE SetAxialRot(IVector* pAxis, DOUBLE Angle) override;
    HRESULT STDMETHODCALLTYPE get_XVect(IVector** pVal) override;
    HRESULT STDMETHODCALLTYPE put_XVect(IVector* newVal) override;
    HRESULT STDMETHODCALLTYPE get_YVect(IVector** pVal) override;
    HRESULT STDMETHODCALLTYPE put_YVect(IVector* newVal) override;
    HRESULT STDMETHODCALLTYPE get_ZVect(IVector** pVal) override;
    HRESULT STDMETHODCALLTYPE put_ZVect(IVector* newVal) override;
    HRESULT STDMETHODCALLTYPE get_Origin(IPoint** pVal) override;
    HRESULT STDMETHODCALLTYPE put_Origin(IPoint* newVal) override;
    HRESULT STDMETHODCALLTYPE get_Determinant(DOUBLE* pVal) override;

    const MatrixValue& value() const { return m_value; }
    /// The value as put_Error and put_AsArray1D would leave it: E_INVALIDARG and
    /// nothing changed for an error not above 0.
    HRESULT assign(const MatrixValue& value);
    /// Whether put_Error takes e: above 0 (a NaN is taken, as the comparison lets it).
    static bool errorAccepted(double e) { return !(e <= 0); }

private:
    template <class Combine> HRESULT combineWith(IMatrix* other, Combine combine);
    template <class Compute> HRESULT makeMatrix(IMatrix** out, Compute compute);
    template <class Compute> HRESULT makeFromOther(IMatrix* other, IMatrix** out, Compute compute);
    template <class ResultClass, class Interface> HRESULT columnOut(int column, Interface** out);
    template <class Interface> HRESULT columnIn(int column, Interface* in);

    MatrixValue m_value;
};

} // namespace orvik

#endif // ORVIK_GEOMETRY_MATRIX_H
