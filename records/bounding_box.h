// records/bounding_box.h: the BoundingBox class, the six limits of an aligned box
//
// Each limit is kept exactly as it was last put: no limit is compared with another,
// so a minimum above its maximum stays so.
#ifndef ORVIK_RECORDS_BOUNDING_BOX_H
#define ORVIK_RECORDS_BOUNDING_BOX_H

#include "server/co_class.h"
#include "server/property_access.h"

#include "orvik/orvik_i.h"

namespace orvik {

struct BoundingBoxValue {
    double xMin = 0, xMax = 0, yMin = 0, yMax = 0, zMin = 0, zMax = 0;
};

class CBoundingBox : public CComCoClassImpl<CBoundingBox, IBoundingBox, &LIBID_ORVIKLib> {
public:
    static const CLSID& classId() { return CLSID_BoundingBox; }

    ORVIK_PROPERTY(DOUBLE, XMin, m_value.xMin)
    ORVIK_PROPERTY(DOUBLE, XMax, m_value.xMax)
    ORVIK_PROPERTY(DOUBLE, YMin, m_value.yMin)
    ORVIK_PROPERTY(DOUBLE, YMax, m_value.yMax)
    ORVIK_PROPERTY(DOUBLE, ZMin, m_value.zMin)
    ORVIK_PROPERTY(DOUBLE, ZMax, m_value.zMax)

private:
    BoundingBoxValue m_value;
};

} // namespace orvik

#endif // ORVIK_RECORDS_BOUNDING_BOX_H
