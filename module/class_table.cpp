// registration/class_table.cpp: the module's classes, in lookup order
//
// The order is the published one (Point, Vector, Axis, Matrix, BoundingBox,
// AreaProperties, MassProperties, Length, Angle, Plane, Option, RgbData);
// DllGetClassObject walks it from the top.

#include "module/class_table.h"

#include "geometry/axis.h"
#include "geometry/matrix.h"
#include "geometry/plane.h"
#include "geometry/point.h"
#include "geometry/vector.h"
#include "records/area_properties.h"
#include "records/bounding_box.h"
#include "records/holders.h"
#include "records/mass_properties.h"
#include "server/class_factory.h"

namespace orvik {

namespace {

const OLECHAR* noDescription() {
    return nullptr;
}
const void* noCategories() {
    return nullptr;
}
void noClassInit(bool) {}

template <class T> constexpr ClassEntry entry() {
    return {&T::classId(), nullptr,      ClassObjectCreator, T::creator, nullptr, 0,
            noDescription, noCategories, noClassInit};
}

} // namespace

ClassEntry g_classTable[] = {
    entry<CPoint>(),
    entry<CVector>(),
    entry<CAxis>(),
    entry<CMatrix>(),
    entry<CBoundingBox>(),
    entry<CAreaProperties>(),
    entry<CMassProperties>(),
    entry<CLength>(),
    entry<CAngle>(),
    entry<CPlane>(),
    entry<COption>(),
    entry<CRgbData>(),
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};

} // namespace orvik
