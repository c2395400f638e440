// tests/support/class_cases.cpp: fresh values and a round trip for every class

#include "tests/support/class_cases.h"
#include "tests/support/module_fixture.h"

#include <gtest/gtest.h>

namespace orvik::testing {

namespace {

template <class I> I* as(void* p) {
    return static_cast<I*>(p);
}

template <class I> void freshCoord(void* p) {
    EXPECT_COORDS(as<I>(p), 0, 0, 0, 0.001);
}
template <class I> void setCoord(void* p) {
    EXPECT_EQ(as<I>(p)->Set(1, 2, 3, 0.5), S_OK);
    EXPECT_COORDS(as<I>(p), 1, 2, 3, 0.5);
}

void freshAxis(void* p) {
    Ref<IPoint> o;
    Ref<IVector> v;
    ASSERT_EQ(as<IAxis>(p)->get_Origin(o.put()), S_OK);
    ASSERT_EQ(as<IAxis>(p)->get_Vector(v.put()), S_OK);
    EXPECT_COORDS(o, 0, 0, 0, 0.001);
    EXPECT_COORDS(v, 0, 0, 0, 0.001);
}
void exerciseAxis(void* p) {
    Ref<IPoint> start = makePoint(1, 2, 3, 0.01), end = makePoint(4, 6, 3);
    ASSERT_EQ(as<IAxis>(p)->SetTwoPoints(start.get(), end.get()), S_OK);
    Ref<IVector> v;
    ASSERT_EQ(as<IAxis>(p)->get_Vector(v.put()), S_OK);
    EXPECT_COORDS(v, -3, -4, 0, 0.001);
}

void freshMatrix(void* p) {
    double diagonal = 0, corner = -1, error = 0;
    as<IMatrix>(p)->get_Element(1, 1, &diagonal);
    as<IMatrix>(p)->get_Element(3, 2, &corner);
    as<IMatrix>(p)->get_Error(&error);
    EXPECT_EQ(diagonal, 1);
    EXPECT_EQ(corner, 0);
    EXPECT_EQ(error, 0.001);
}
void exerciseMatrix(void* p) {
    ASSERT_EQ(as<IMatrix>(p)->SetMove(1, 2, 3), S_OK);
    Ref<IPoint> origin;
    ASSERT_EQ(as<IMatrix>(p)->get_Origin(origin.put()), S_OK);
    EXPECT_COORDS(origin, 1, 2, 3, 0.001);
}

void freshBox(void* p) {
    double v = -1;
    HRESULT(STDMETHODCALLTYPE IBoundingBox::*gets[])
    (DOUBLE*) = {&IBoundingBox::get_XMin, &IBoundingBox::get_XMax, &IBoundingBox::get_YMin,
                 &IBoundingBox::get_YMax, &IBoundingBox::get_ZMin, &IBoundingBox::get_ZMax};
    for (auto get : gets) {
        EXPECT_EQ((as<IBoundingBox>(p)->*get)(&v), S_OK);
        EXPECT_EQ(v, 0);
    }
}
void exerciseBox(void* p) {
    ASSERT_EQ(as<IBoundingBox>(p)->put_ZMax(-4), S_OK);
    double v = 0;
    as<IBoundingBox>(p)->get_ZMax(&v);
    EXPECT_EQ(v, -4);
}

template <class I> void freshRecord(void* p) {
    double area = -1;
    EXPECT_EQ(as<I>(p)->get_Area(&area), S_OK);
    EXPECT_EQ(area, 0);
    Ref<IPoint> b;
    ASSERT_EQ(as<I>(p)->get_Barycenter(b.put()), S_OK);
    EXPECT_COORDS(b, 0, 0, 0, 0.001);
}
template <class I> void exerciseRecord(void* p) {
    Ref<IPoint> b = makePoint(1, 2, 3, 0.25);
    ASSERT_EQ(as<I>(p)->put_Barycenter(b.get()), S_OK);
    Ref<IPoint> out;
    ASSERT_EQ(as<I>(p)->get_Barycenter(out.put()), S_OK);
    EXPECT_COORDS(out, 1, 2, 3, 0.25);
}

void freshLength(void* p) {
    double v = -1;
    EXPECT_EQ(as<ILength>(p)->get_LengthSize(&v), S_OK);
    EXPECT_EQ(v, 0);
}
void exerciseLength(void* p) {
    as<ILength>(p)->put_LengthSize(2.5);
    double v = 0;
    as<ILength>(p)->get_LengthSize(&v);
    EXPECT_EQ(v, 2.5);
}
void freshAngle(void* p) {
    double v = -1;
    EXPECT_EQ(as<IAngle>(p)->get_AngleSize(&v), S_OK);
    EXPECT_EQ(v, 0);
}
void exerciseAngle(void* p) {
    as<IAngle>(p)->put_AngleSize(-7);
    double v = 0;
    as<IAngle>(p)->get_AngleSize(&v);
    EXPECT_EQ(v, -7);
}
void freshPlane(void* p) {
    double a = -1, b = -1, c = -1, d = -1, e = -1;
    EXPECT_EQ(as<IPlane>(p)->Get(&a, &b, &c, &d, &e), S_OK);
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(c, 1);
    EXPECT_EQ(d, 0);
    EXPECT_EQ(e, 0.001);
}
void exercisePlane(void* p) {
    ASSERT_EQ(as<IPlane>(p)->Set(2, 0, 0, 4, 0.5), S_OK);
    double a = 0, b = 0, c = 0, d = 0, e = 0;
    as<IPlane>(p)->Get(&a, &b, &c, &d, &e);
    EXPECT_EQ(a, 2);
    EXPECT_EQ(d, 4);
}
void freshOption(void* p) {
    LONG v = -1;
    EXPECT_EQ(as<IOption>(p)->get_Value(&v), S_OK);
    EXPECT_EQ(v, 0);
}
void exerciseOption(void* p) {
    as<IOption>(p)->put_Value(INT32_MIN);
    LONG v = 0;
    as<IOption>(p)->get_Value(&v);
    EXPECT_EQ(v, INT32_MIN);
}
void freshRgb(void* p) {
    SHORT r = -1, g = -1, b = -1, a = -1;
    EXPECT_EQ(as<IRgbData>(p)->GetRgbData(&r, &g, &b, &a), S_OK);
    EXPECT_EQ(r | g | b | a, 0);
}
void exerciseRgb(void* p) {
    as<IRgbData>(p)->SetRgbData(300, -1, 0, 255);
    SHORT r = 0, g = 0, b = 0, a = 0;
    as<IRgbData>(p)->GetRgbData(&r, &g, &b, &a);
    EXPECT_EQ(r, 300);
    EXPECT_EQ(g, -1);
    EXPECT_EQ(a, 255);
}

} // namespace

const std::vector<ClassCase>& classCases() {
    static const std::vector<ClassCase> cases = {
        {"Point", &CLSID_Point, &IID_IPoint, freshCoord<IPoint>, setCoord<IPoint>},
        {"Vector", &CLSID_Vector, &IID_IVector, freshCoord<IVector>, setCoord<IVector>},
        {"Axis", &CLSID_Axis, &IID_IAxis, freshAxis, exerciseAxis},
        {"Matrix", &CLSID_Matrix, &IID_IMatrix, freshMatrix, exerciseMatrix},
        {"BoundingBox", &CLSID_BoundingBox, &IID_IBoundingBox, freshBox, exerciseBox},
        {"AreaProperties", &CLSID_AreaProperties, &IID_IAreaProperties,
         freshRecord<IAreaProperties>, exerciseRecord<IAreaProperties>},
        {"MassProperties", &CLSID_MassProperties, &IID_IMassProperties,
         freshRecord<IMassProperties>, exerciseRecord<IMassProperties>},
        {"Length", &CLSID_Length, &IID_ILength, freshLength, exerciseLength},
        {"Angle", &CLSID_Angle, &IID_IAngle, freshAngle, exerciseAngle},
        {"Plane", &CLSID_Plane, &IID_IPlane, freshPlane, exercisePlane},
        {"Option", &CLSID_Option, &IID_IOption, freshOption, exerciseOption},
        {"RgbData", &CLSID_RgbData, &IID_IRgbData, freshRgb, exerciseRgb},
    };
    return cases;
}

} // namespace orvik::testing
