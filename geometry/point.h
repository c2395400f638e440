// geometry/point.h: the Point class, a position with an error estimate
#ifndef ORVIK_GEOMETRY_POINT_H
#define ORVIK_GEOMETRY_POINT_H

#include "geometry/coord_object.h"

namespace orvik {

class CPoint : public CoordObject<CPoint, IPoint> {
public:
    static const CLSID& classId() { return CLSID_Point; }

    HRESULT STDMETHODCALLTYPE Add(IVector* pVec, IPoint** pResval) override;
    HRESULT STDMETHODCALLTYPE SetAdd(IVector* pVec) override;
    HRESULT STDMETHODCALLTYPE Sub(IVector* pVec, IPoint** pResval) override;
    HRESULT STDMETHODCALLTYPE SetSub(IVector* pVec) override;
    HRESULT STDMETHODCALLTYPE Transform(IMatrix* pMat) override;
    HRESULT STDMETHODCALLTYPE Clone(IPoint** pResult) override;
    HRESULT STDMETHODCALLTYPE ToVector(IVector** pResult) override;
    HRESULT STDMETHODCALLTYPE Diff(IPoint* pOther, IVector** pResult) override;
    HRESULT STDMETHODCALLTYPE Apply(IMatrix* pMatrix, IPoint** pResult) override;
};

} // namespace orvik

#endif // ORVIK_GEOMETRY_POINT_H
