// geometry/axis.h: the Axis class, an origin point and a direction vector
//
// The axis keeps plain values: its parts enter through the Get of the points and
// vectors handed to it and leave as new Point and Vector objects made on each
// request, so nothing handed out shares state with the axis.
#ifndef ORVIK_GEOMETRY_AXIS_H
#define ORVIK_GEOMETRY_AXIS_H

#include "geometry/coord_value.h"
#include "server/co_class.h"

#include "orvik/orvik_i.h"

namespace orvik {

class CAxis : public CComCoClassImpl<CAxis, IAxis, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_Axis; }

    HRESULT STDMETHODCALLTYPE get_Origin(IPoint** pVal) override;
    HRESULT STDMETHODCALLTYPE put_Origin(IPoint* newVal) override;
    HRESULT STDMETHODCALLTYPE get_Vector(IVector** pVal) override;
    HRESULT STDMETHODCALLTYPE put_Vector(IVector* newVal) override;
    HRESULT STDMETHODCALLTYPE Clone(IAxis** result) override;
    HRESULT STDMETHODCALLTYPE Set(IPoint* pt, IVector* vt) override;
    HRESULT STDMETHODCALLTYPE SetTwoPoints(IPoint* Start, IPoint* End) override;
    HRESULT STDMETHODCALLTYPE SetMul(DOUBLE multiplier) override;
    HRESULT STDMETHODCALLTYPE SetDiv(DOUBLE divisor) override;
    HRESULT STDMETHODCALLTYPE Mul(DOUBLE multiplier, IAxis** result) override;
    HRESULT STDMETHODCALLTYPE Div(DOUBLE divisor, IAxis** result) override;

    const AxisValue& value() const { return m_value; }

private:
    AxisValue multiplied(double multiplier) const;
    AxisValue dividedBy(double divisor) const;

    AxisValue m_value;
};

} // namespace orvik

#endif // ORVIK_GEOMETRY_AXIS_H
