// tests/records/records_test.cpp: bounding box, area and mass properties, holders, plane

#include "server/fault_injection.h"
#include "tests/support/module_fixture.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace orvik::testing {
namespace {

using Records = ModuleTest;

template <class I> struct DoubleProperty {
    const char* name;
    HRESULT (STDMETHODCALLTYPE I::*get)(DOUBLE*);
    HRESULT (STDMETHODCALLTYPE I::*put)(DOUBLE);
};

#define PROP(I, Name)                                                                              \
    DoubleProperty<I> {                                                                            \
#Name, &I::get_##Name, &I::put_##Name                                                      \
    }

// Putting one property changes exactly that one: each property in turn gets a value
// no other holds, and every property is read back.
template <class I> void expectIndependent(I* object, const std::vector<DoubleProperty<I>>& props) {
    for (size_t changed = 0; changed < props.size(); ++changed) {
        for (size_t i = 0; i < props.size(); ++i)
            ASSERT_EQ((object->*props[i].put)(-double(i) - 1), S_OK);
        ASSERT_EQ((object->*props[changed].put)(1000.5), S_OK);
        for (size_t i = 0; i < props.size(); ++i) {
            double v = 0;
            ASSERT_EQ((object->*props[i].get)(&v), S_OK);
            EXPECT_EQ(v, i == changed ? 1000.5 : -double(i) - 1)
                << "putting " << props[changed].name << " changed " << props[i].name;
        }
    }
    double untouched = 7;
    EXPECT_EQ((object->*props[0].get)(nullptr), E_POINTER);
    EXPECT_EQ(untouched, 7);
}

TEST_F(Records, BoundingBoxLimitsAreIndependentAndNeverSwapped) {
    Ref<IBoundingBox> box = create<IBoundingBox>(CLSID_BoundingBox);
    expectIndependent<IBoundingBox>(
        box.get(), {PROP(IBoundingBox, XMin), PROP(IBoundingBox, XMax), PROP(IBoundingBox, YMin),
                    PROP(IBoundingBox, YMax), PROP(IBoundingBox, ZMin), PROP(IBoundingBox, ZMax)});
    box->put_XMin(5);
    box->put_XMax(-5);
    double lo = 0, hi = 0;
    box->get_XMin(&lo);
    box->get_XMax(&hi);
    EXPECT_EQ(lo, 5);
    EXPECT_EQ(hi, -5);
}

TEST_F(Records, AreaPropertiesAreIndependentIncludingTheAngle) {
    Ref<IAreaProperties> r = create<IAreaProperties>(CLSID_AreaProperties);
    using A = IAreaProperties;
    expectIndependent<A>(
        r.get(), {PROP(A, Area), PROP(A, Perimeter), PROP(A, XMoment), PROP(A, YMoment),
                  PROP(A, XBarycenterMoment), PROP(A, YBarycenterMoment), PROP(A, XXInertiaMoment),
                  PROP(A, YYInertiaMoment), PROP(A, XBarycenterRotRadius),
                  PROP(A, YBarycenterRotRadius), PROP(A, PolarRadius), PROP(A, PolarMoment),
                  PROP(A, InertiaProduct), PROP(A, BarycenterInertiaProduct), PROP(A, Angle),
                  PROP(A, BarycenterMaxMoment), PROP(A, BarycenterMinMoment)});
}

TEST_F(Records, MassPropertiesAreIndependent) {
    Ref<IMassProperties> r = create<IMassProperties>(CLSID_MassProperties);
    using M = IMassProperties;
    expectIndependent<M>(r.get(), {PROP(M, Area), PROP(M, Volume), PROP(M, Weight),
                                   PROP(M, XXInertiaMoment), PROP(M, YYInertiaMoment),
                                   PROP(M, ZZInertiaMoment), PROP(M, XYInertiaMoment),
                                   PROP(M, XZInertiaMoment), PROP(M, YZInertiaMoment)});
}

template <class I> void expectBarycenterIsACopy(I* record) {
    Ref<IPoint> client = makePoint(1, 2, 3, 0.25);
    ASSERT_EQ(record->put_Barycenter(client.get()), S_OK);
    client->put_X(99);
    Ref<IPoint> first, second;
    ASSERT_EQ(record->get_Barycenter(first.put()), S_OK);
    ASSERT_EQ(record->get_Barycenter(second.put()), S_OK);
    EXPECT_NE(first.get(), second.get());
    EXPECT_COORDS(first, 1, 2, 3, 0.25);
    first->put_Y(-1);
    EXPECT_COORDS(second, 1, 2, 3, 0.25);
    Ref<IPoint> third;
    ASSERT_EQ(record->get_Barycenter(third.put()), S_OK);
    EXPECT_COORDS(third, 1, 2, 3, 0.25);

    EXPECT_EQ(record->put_Barycenter(nullptr), E_POINTER);
    EXPECT_EQ(record->get_Barycenter(nullptr), E_POINTER);
    fault::failAcquisition(1);
    IPoint* none = reinterpret_cast<IPoint*>(0x1);
    EXPECT_EQ(record->get_Barycenter(&none), E_OUTOFMEMORY);
    fault::failAcquisition(0);
    EXPECT_EQ(none, nullptr);
    Ref<IPoint> after;
    ASSERT_EQ(record->get_Barycenter(after.put()), S_OK);
    EXPECT_COORDS(after, 1, 2, 3, 0.25);
}

TEST_F(Records, BarycentersAreCopiesBothWays) {
    Ref<IAreaProperties> area = create<IAreaProperties>(CLSID_AreaProperties);
    Ref<IMassProperties> mass = create<IMassProperties>(CLSID_MassProperties);
    expectBarycenterIsACopy(area.get());
    expectBarycenterIsACopy(mass.get());
}

TEST_F(Records, HoldersKeepExtremeValuesUnchanged) {
    Ref<IOption> option = create<IOption>(CLSID_Option);
    for (LONG v : {INT32_MIN, INT32_MAX, 0}) {
        LONG got = 1;
        ASSERT_EQ(option->put_Value(v), S_OK);
        ASSERT_EQ(option->get_Value(&got), S_OK);
        EXPECT_EQ(got, v);
    }
    Ref<ILength> length = create<ILength>(CLSID_Length);
    Ref<IAngle> angle = create<IAngle>(CLSID_Angle);
    double d = 0;
    length->put_LengthSize(-1e308);
    length->get_LengthSize(&d);
    EXPECT_EQ(d, -1e308);
    angle->put_AngleSize(1e6);
    angle->get_AngleSize(&d);
    EXPECT_EQ(d, 1e6) << "angles are not normalised";
    EXPECT_EQ(length->get_LengthSize(nullptr), E_POINTER);
    EXPECT_EQ(option->get_Value(nullptr), E_POINTER);
}

TEST_F(Records, ColoursAreSixteenBitNumbersNotClampedBytes) {
    Ref<IRgbData> rgb = create<IRgbData>(CLSID_RgbData);
    ASSERT_EQ(rgb->SetRgbData(300, -1, 0, 255), S_OK);
    SHORT r = 0, g = 0, b = 9, a = 0;
    ASSERT_EQ(rgb->GetRgbData(&r, &g, &b, &a), S_OK);
    EXPECT_EQ(r, 300);
    EXPECT_EQ(g, -1);
    EXPECT_EQ(b, 0);
    EXPECT_EQ(a, 255);
    ASSERT_EQ(rgb->put_Green(SHRT_MIN), S_OK);
    ASSERT_EQ(rgb->GetRgbData(&r, &g, &b, &a), S_OK);
    EXPECT_EQ(r, 300);
    EXPECT_EQ(g, SHRT_MIN);
    EXPECT_EQ(a, 255);
    SHORT first = 1, second = 2, fourth = 4;
    EXPECT_EQ(rgb->GetRgbData(&first, &second, nullptr, &fourth), E_POINTER);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 2);
    EXPECT_EQ(fourth, 4);
    SHORT blue = 0;
    ASSERT_EQ(rgb->get_Blue(&blue), S_OK);
    EXPECT_EQ(blue, 0);
}

TEST_F(Records, PlaneStoresItsNumbersExactlyAsGiven) {
    Ref<IPlane> plane = create<IPlane>(CLSID_Plane);
    ASSERT_EQ(plane->Set(2, 0, 0, 4, 2.220446049250313e-12), S_OK);
    double a, b, c, d, e;
    ASSERT_EQ(plane->Get(&a, &b, &c, &d, &e), S_OK);
    EXPECT_EQ(a, 2) << "not scaled to a unit normal";
    EXPECT_EQ(d, 4);
    EXPECT_EQ(e, 2.220446049250313e-12);
    ASSERT_EQ(plane->Set(0, 0, 0, 0, 0), S_OK);
    ASSERT_EQ(plane->put_Error(-3), S_OK) << "unlike a matrix, any error is accepted";
    double err = 0;
    ASSERT_EQ(plane->get_Error(&err), S_OK);
    EXPECT_EQ(err, -3);
    EXPECT_EQ(plane->get_Error(nullptr), E_POINTER);
    double keep = 5;
    EXPECT_EQ(plane->Get(&keep, &b, &c, nullptr, &e), E_POINTER);
    EXPECT_EQ(keep, 5);
}

TEST_F(Records, PlaneOperationsNotProvidedTouchNothing) {
    Ref<IPlane> plane = create<IPlane>(CLSID_Plane);
    ASSERT_EQ(plane->Set(1, 2, 3, 4, 0.5), S_OK);
    Ref<IPlane> other = create<IPlane>(CLSID_Plane);
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    SAFEARRAY* array = reinterpret_cast<SAFEARRAY*>(0x1);
    IPlane* clone = reinterpret_cast<IPlane*>(0x1);
    EXPECT_EQ(plane->CopyFrom(other.get()), E_NOTIMPL);
    EXPECT_EQ(plane->Transform(m.get()), E_NOTIMPL);
    EXPECT_EQ(plane->Apply(m.get()), E_NOTIMPL);
    EXPECT_EQ(plane->get_AsArray(&array), E_NOTIMPL);
    EXPECT_EQ(plane->put_AsArray(&array), E_NOTIMPL);
    EXPECT_EQ(plane->Clone(&clone), E_NOTIMPL);
    EXPECT_EQ(plane->CopyFrom(nullptr), E_NOTIMPL) << "no argument is looked at";
    EXPECT_EQ(array, reinterpret_cast<SAFEARRAY*>(0x1));
    EXPECT_EQ(clone, reinterpret_cast<IPlane*>(0x1));
    double a, b, c, d, e;
    plane->Get(&a, &b, &c, &d, &e);
    EXPECT_EQ(c, 3);
    EXPECT_EQ(e, 0.5);
}

} // namespace
} // namespace orvik::testing
