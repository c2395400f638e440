// examples/example_client.cpp: a compiled client of the Orvik interfaces
//
// Prints the classes and interfaces the module offers, with their identifiers in
// registry text form, as a compiled client sees them through the interface header.

#include "orvik/orvik_i.h"

#include <cstdio>
#include <string>

namespace {

std::string text(const GUID& g) {
    OLECHAR buf[CHARS_IN_GUID];
    StringFromGUID2(g, buf, CHARS_IN_GUID);
    return std::string(buf, buf + ORVIK_GUID_TEXT_LENGTH);
}

} // namespace

int main() {
    struct Entry {
        const char* name;
        const CLSID& clsid;
        const IID& iid;
    };
    const Entry entries[] = {
        {"Point", CLSID_Point, IID_IPoint},
        {"Vector", CLSID_Vector, IID_IVector},
        {"Axis", CLSID_Axis, IID_IAxis},
        {"Matrix", CLSID_Matrix, IID_IMatrix},
        {"BoundingBox", CLSID_BoundingBox, IID_IBoundingBox},
        {"AreaProperties", CLSID_AreaProperties, IID_IAreaProperties},
        {"MassProperties", CLSID_MassProperties, IID_IMassProperties},
        {"Length", CLSID_Length, IID_ILength},
        {"Angle", CLSID_Angle, IID_IAngle},
        {"Plane", CLSID_Plane, IID_IPlane},
        {"Option", CLSID_Option, IID_IOption},
        {"RgbData", CLSID_RgbData, IID_IRgbData},
    };
    std::printf("ORVIKLib %s\n", text(LIBID_ORVIKLib).c_str());
    for (const Entry& e : entries)
        std::printf("  %-15s class %s  interface I%s %s\n", e.name, text(e.clsid).c_str(), e.name,
                    text(e.iid).c_str());
    return 0;
}
