// module/class_table.cpp: the module's classes, in lookup order
//
// The order is the published one (Point, Vector, Axis, Matrix, BoundingBox,
// AreaProperties, MassProperties, Length, Angle, Plane, Option, RgbData);
// DllGetClassObject walks it from the top.

#include "module/class_table.h"

#include "module/module_registration.h"

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

// A class with its registration script, resources 101 to 112 in table order.
template <class T, WORD ScriptResource> constexpr ClassEntry entry() {
    return {&T::classId(),
            classRegistrationHook<ScriptResource>,
            ClassObjectCreator,
            T::creator,
            nullptr,
            0,
            noDescription,
            noCategories,
            noClassInit};
}

} // namespace

ClassEntry g_classTable[] = {
    entry<CPoint, 101>(),
    entry<CVector, 102>(),
    entry<CAxis, 103>(),
    entry<CMatrix, 104>(),
    entry<CBoundingBox, 105>(),
    entry<CAreaProperties, 106>(),
    entry<CMassProperties, 107>(),
    entry<CLength, 108>(),
    entry<CAngle, 109>(),
    entry<CPlane, 110>(),
    entry<COption, 111>(),
    entry<CRgbData, 112>(),
    {nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, nullptr, nullptr},
};

} // namespace orvik
