// tests/geometry/axis_test.cpp: the Axis class through its interface

#include "tests/support/module_fixture.h"
#include "tests/support/recording_doubles.h"

#include <gtest/gtest.h>

namespace orvik::testing {
namespace {

using Axis = ModuleTest;

Coords originOf(IAxis* a) {
    Ref<IPoint> p;
    EXPECT_EQ(a->get_Origin(p.put()), S_OK);
    return read(p);
}

Coords vectorOf(IAxis* a) {
    Ref<IVector> v;
    EXPECT_EQ(a->get_Vector(v.put()), S_OK);
    return read(v);
}

#define EXPECT_PART(c, X, Y, Z, ERR)                                                               \
    do {                                                                                           \
        Coords c_ = (c);                                                                           \
        EXPECT_DOUBLE_EQ(c_.x, X);                                                                 \
        EXPECT_DOUBLE_EQ(c_.y, Y);                                                                 \
        EXPECT_DOUBLE_EQ(c_.z, Z);                                                                 \
        EXPECT_DOUBLE_EQ(c_.error, ERR);                                                           \
    } while (0)

Ref<IAxis> makeAxis(Coords origin, Coords vector) {
    Ref<IAxis> a = create<IAxis>(CLSID_Axis);
    Ref<IPoint> p = makePoint(origin.x, origin.y, origin.z, origin.error);
    Ref<IVector> v = makeVector(vector.x, vector.y, vector.z, vector.error);
    EXPECT_EQ(a->Set(p.get(), v.get()), S_OK);
    return a;
}

TEST_F(Axis, FreshAxisHandsOutTheOriginAndAZeroVector) {
    Ref<IAxis> a = create<IAxis>(CLSID_Axis);
    EXPECT_PART(originOf(a.get()), 0, 0, 0, 0.001);
    EXPECT_PART(vectorOf(a.get()), 0, 0, 0, 0.001);
}

TEST_F(Axis, TwoPointsGiveAnAxisAtStartPointingAwayFromEnd) {
    Ref<IAxis> a = create<IAxis>(CLSID_Axis);
    Ref<IPoint> start = makePoint(1, 2, 3, 0.01), end = makePoint(4, 6, 3);
    EXPECT_EQ(a->SetTwoPoints(start.get(), end.get()), S_OK);
    EXPECT_PART(originOf(a.get()), 1, 2, 3, 0.01);
    EXPECT_PART(vectorOf(a.get()), -3, -4, 0, 0.001);
}

TEST_F(Axis, ScalingAndDivisionActOnTheVectorOnly) {
    Ref<IAxis> a = makeAxis({1, 1, 1, 0.001}, {1, 2, 3, 0.01});
    EXPECT_EQ(a->SetMul(2), S_OK);
    EXPECT_PART(vectorOf(a.get()), 2, 4, 6, 0.02);
    EXPECT_PART(originOf(a.get()), 1, 1, 1, 0.001);

    a = makeAxis({1, 1, 1, 0.001}, {1, 2, 3, 0.01});
    EXPECT_EQ(a->SetMul(0), S_OK);
    EXPECT_PART(vectorOf(a.get()), 0, 0, 0, 0.01);

    a = makeAxis({1, 1, 1, 0.001}, {1, 2, 3, 0.01});
    EXPECT_EQ(a->SetDiv(2), S_OK);
    EXPECT_PART(vectorOf(a.get()), 0.5, 1, 1.5, 0.005);
    for (double tiny : {1e-6, 5e-7}) {
        a = makeAxis({1, 1, 1, 0.001}, {1, 2, 3, 0.01});
        EXPECT_EQ(a->SetDiv(tiny), S_OK);
        EXPECT_PART(vectorOf(a.get()), 1, 2, 3, 0.01);
    }
}

TEST_F(Axis, DivisionByZeroResetsTheWholeAxis) {
    Ref<IAxis> a = makeAxis({1, 1, 1, 0.5}, {1, 2, 3, 0.01});
    EXPECT_EQ(a->SetDiv(0), S_OK);
    EXPECT_PART(originOf(a.get()), 0, 0, 0, 0.001);
    EXPECT_PART(vectorOf(a.get()), 0, 0, 0, 0.001);
}

TEST_F(Axis, MulAndDivMakeNewAxesAndLeaveThisOne) {
    Ref<IAxis> a = makeAxis({1, 1, 1, 0.001}, {1, 2, 3, 0.01});
    Ref<IAxis> m, d;
    ASSERT_EQ(a->Mul(-1, m.put()), S_OK);
    EXPECT_PART(originOf(m.get()), 1, 1, 1, 0.001);
    EXPECT_PART(vectorOf(m.get()), -1, -2, -3, 0.01);
    ASSERT_EQ(a->Div(0, d.put()), S_OK);
    EXPECT_PART(originOf(d.get()), 0, 0, 0, 0.001);
    EXPECT_PART(vectorOf(a.get()), 1, 2, 3, 0.01);
}

TEST_F(Axis, CloneIsEqualInAllEightFieldsAndIndependent) {
    Ref<IAxis> a = makeAxis({1, 2, 3, 0.25}, {4, 5, 6, 0.5});
    Ref<IAxis> c;
    ASSERT_EQ(a->Clone(c.put()), S_OK);
    EXPECT_PART(originOf(c.get()), 1, 2, 3, 0.25);
    EXPECT_PART(vectorOf(c.get()), 4, 5, 6, 0.5);
    Ref<IPoint> elsewhere = makePoint(9, 9, 9);
    ASSERT_EQ(c->put_Origin(elsewhere.get()), S_OK);
    EXPECT_PART(originOf(a.get()), 1, 2, 3, 0.25);
}

TEST_F(Axis, PartsHandedOutAreSnapshots) {
    Ref<IAxis> a = makeAxis({1, 2, 3, 0.25}, {4, 5, 6, 0.5});
    Ref<IPoint> origin;
    ASSERT_EQ(a->get_Origin(origin.put()), S_OK);
    origin->put_X(100);
    EXPECT_PART(originOf(a.get()), 1, 2, 3, 0.25);
    ASSERT_EQ(a->put_Origin(origin.get()), S_OK);
    EXPECT_PART(originOf(a.get()), 100, 2, 3, 0.25);
}

TEST_F(Axis, PutsStoreTheValueAsReadWithoutSetChecks) {
    Ref<IAxis> a = create<IAxis>(CLSID_Axis);
    RecordingVector v;
    v.value[0] = 1;
    v.value[3] = -2; // a Set would refuse this error
    ASSERT_EQ(a->put_Vector(&v), S_OK);
    Ref<IVector> out;
    EXPECT_EQ(a->get_Vector(out.put()), E_INVALIDARG) << "the new vector's Set refuses it";
    EXPECT_FALSE(out) << "a failing operation hands out nothing";
    // The hand-over turns the refused error into the fresh one.
    EXPECT_EQ(a->SetMul(1), S_OK);
    EXPECT_PART(vectorOf(a.get()), 1, 0, 0, 0.001);
}

TEST_F(Axis, FailingOrAbsentArgumentsChangeNothing) {
    Ref<IAxis> a = makeAxis({1, 2, 3, 0.25}, {4, 5, 6, 0.5});
    RecordingVector failing;
    failing.getResult = E_ACCESSDENIED;
    Ref<IPoint> p = makePoint(7, 7, 7);
    EXPECT_EQ(a->Set(p.get(), &failing), E_ACCESSDENIED);
    EXPECT_EQ(a->Set(nullptr, &failing), E_POINTER);
    EXPECT_EQ(a->put_Origin(nullptr), E_POINTER);
    EXPECT_EQ(a->SetTwoPoints(p.get(), nullptr), E_POINTER);
    EXPECT_EQ(a->Clone(nullptr), E_POINTER);
    EXPECT_EQ(a->Mul(2, nullptr), E_POINTER);
    EXPECT_EQ(a->get_Origin(nullptr), E_POINTER);
    EXPECT_PART(originOf(a.get()), 1, 2, 3, 0.25);
    EXPECT_PART(vectorOf(a.get()), 4, 5, 6, 0.5);
}

// No object made for the hand-over outlives its operation: the fixture's check
// that the module can unload covers it once the caller's references are gone.
TEST_F(Axis, HandOverObjectsAreReleasedBeforeTheOperationReturns) {
    Ref<IAxis> a = makeAxis({1, 2, 3, 0.25}, {4, 5, 6, 0.5});
    ASSERT_EQ(a->SetMul(3), S_OK);
    Ref<IAxis> c;
    ASSERT_EQ(a->Clone(c.put()), S_OK);
    Ref<IPoint> s = makePoint(0, 0, 0), e = makePoint(1, 1, 1);
    ASSERT_EQ(a->SetTwoPoints(s.get(), e.get()), S_OK);
    EXPECT_EQ(a->AddRef(), 2u);
    EXPECT_EQ(a->Release(), 1u);
}

} // namespace
} // namespace orvik::testing
