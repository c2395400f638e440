// records/mass_properties.h: the MassProperties class, mass properties of a solid
//
// The solid counterpart of AreaProperties: nine numbers and the barycenter, filled
// and read back by clients, computed and checked by nobody here.
#ifndef ORVIK_RECORDS_MASS_PROPERTIES_H
#define ORVIK_RECORDS_MASS_PROPERTIES_H

#include "records/barycenter.h"
#include "server/co_class.h"
#include "server/property_access.h"

namespace orvik {

struct MassPropertiesValue {
    double area = 0;
    double volume = 0;
    double weight = 0;
    CoordValue barycenter;
    double xxInertiaMoment = 0;
    double yyInertiaMoment = 0;
    double zzInertiaMoment = 0;
    double xyInertiaMoment = 0;
    double xzInertiaMoment = 0;
    double yzInertiaMoment = 0;
};

class CMassProperties : public CComCoClassImpl<CMassProperties, IMassProperties, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_MassProperties; }

    ORVIK_PROPERTY(DOUBLE, Area, m_value.area)
    ORVIK_PROPERTY(DOUBLE, Volume, m_value.volume)
    ORVIK_PROPERTY(DOUBLE, Weight, m_value.weight)
    ORVIK_PROPERTY(DOUBLE, XXInertiaMoment, m_value.xxInertiaMoment)
    ORVIK_PROPERTY(DOUBLE, YYInertiaMoment, m_value.yyInertiaMoment)
    ORVIK_PROPERTY(DOUBLE, ZZInertiaMoment, m_value.zzInertiaMoment)
    ORVIK_PROPERTY(DOUBLE, XYInertiaMoment, m_value.xyInertiaMoment)
    ORVIK_PROPERTY(DOUBLE, XZInertiaMoment, m_value.xzInertiaMoment)
    ORVIK_PROPERTY(DOUBLE, YZInertiaMoment, m_value.yzInertiaMoment)

    ORVIK_BARYCENTER_PROPERTY(m_value.barycenter)

private:
    MassPropertiesValue m_value;
};

} // namespace orvik

#endif // ORVIK_RECORDS_MASS_PROPERTIES_H
