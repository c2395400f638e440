// records/area_properties.h: the AreaProperties class, section properties of a region
//
// A record clients fill and read back: seventeen numbers and the barycenter. It
// computes nothing and checks nothing. The fields are laid out in the record's own
// order, which differs from the interface's at Angle (declared between
// BarycenterInertiaProduct and BarycenterMaxMoment, stored last).
#ifndef ORVIK_RECORDS_AREA_PROPERTIES_H
#define ORVIK_RECORDS_AREA_PROPERTIES_H

#include "records/barycenter.h"
#include "server/co_class.h"
#include "server/property_access.h"

namespace orvik {

struct AreaPropertiesValue {
    double area = 0;
    double perimeter = 0;
    CoordValue barycenter;
    double xMoment = 0;
    double yMoment = 0;
    double xBarycenterMoment = 0;
    double yBarycenterMoment = 0;
    double xxInertiaMoment = 0;
    double yyInertiaMoment = 0;
    double xBarycenterRotRadius = 0;
    double yBarycenterRotRadius = 0;
    double polarRadius = 0;
    double polarMoment = 0;
    double inertiaProduct = 0;
    double barycenterInertiaProduct = 0;
    double barycenterMaxMoment = 0;
    double barycenterMinMoment = 0;
    double angle = 0;
};

class CAreaProperties : public CComCoClassImpl<CAreaProperties, IAreaProperties, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_AreaProperties; }

    ORVIK_PROPERTY(DOUBLE, Area, m_value.area)
    ORVIK_PROPERTY(DOUBLE, Perimeter, m_value.perimeter)
    ORVIK_PROPERTY(DOUBLE, XMoment, m_value.xMoment)
    ORVIK_PROPERTY(DOUBLE, YMoment, m_value.yMoment)
    ORVIK_PROPERTY(DOUBLE, XBarycenterMoment, m_value.xBarycenterMoment)
    ORVIK_PROPERTY(DOUBLE, YBarycenterMoment, m_value.yBarycenterMoment)
    ORVIK_PROPERTY(DOUBLE, XXInertiaMoment, m_value.xxInertiaMoment)
    ORVIK_PROPERTY(DOUBLE, YYInertiaMoment, m_value.yyInertiaMoment)
    ORVIK_PROPERTY(DOUBLE, XBarycenterRotRadius, m_value.xBarycenterRotRadius)
    ORVIK_PROPERTY(DOUBLE, YBarycenterRotRadius, m_value.yBarycenterRotRadius)
    ORVIK_PROPERTY(DOUBLE, PolarRadius, m_value.polarRadius)
    ORVIK_PROPERTY(DOUBLE, PolarMoment, m_value.polarMoment)
    ORVIK_PROPERTY(DOUBLE, InertiaProduct, m_value.inertiaProduct)
    ORVIK_PROPERTY(DOUBLE, BarycenterInertiaProduct, m_value.barycenterInertiaProduct)
    ORVIK_PROPERTY(DOUBLE, Angle, m_value.angle)
    ORVIK_PROPERTY(DOUBLE, BarycenterMaxMoment, m_value.barycenterMaxMoment)
    ORVIK_PROPERTY(DOUBLE, BarycenterMinMoment, m_value.barycenterMinMoment)

    ORVIK_BARYCENTER_PROPERTY(m_value.barycenter)

private:
    AreaPropertiesValue m_value;
};

} // namespace orvik

#endif // ORVIK_RECORDS_AREA_PROPERTIES_H
