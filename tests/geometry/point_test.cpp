// tests/geometry/point_test.cpp: the Point class through its interface

#include "tests/support/module_fixture.h"
#include "tests/support/recording_doubles.h"

#include <gtest/gtest.h>

#include <cmath>

namespace orvik::testing {
namespace {

using Point = ModuleTest;

TEST_F(Point, FreshPointIsTheOriginWithTheDefaultError) {
    EXPECT_COORDS(create<IPoint>(CLSID_Point), 0, 0, 0, 0.001);
}

TEST_F(Point, SetStoresCoordinatesEvenWhenItRefusesTheError) {
    Ref<IPoint> p = create<IPoint>(CLSID_Point);
    EXPECT_EQ(p->Set(1, 2, 3, 0), S_OK);
    EXPECT_COORDS(p, 1, 2, 3, 0.001);
    EXPECT_EQ(p->Set(4, 5, 6, 0.25), S_OK);
    EXPECT_EQ(p->Set(7, 8, 9, -1), E_INVALIDARG);
    EXPECT_COORDS(p, 7, 8, 9, 0.25);
}

TEST_F(Point, ErrorPutRefusesZeroAndNegativesButKeepsTinyAndNaN) {
    Ref<IPoint> p = create<IPoint>(CLSID_Point);
    EXPECT_EQ(p->put_Error(0), E_INVALIDARG);
    EXPECT_EQ(p->put_Error(-1e-300), E_INVALIDARG);
    EXPECT_EQ(p->put_Error(1e-300), S_OK);
    double e = 0;
    p->get_Error(&e);
    EXPECT_EQ(e, 1e-300);
    EXPECT_EQ(p->put_Error(std::nan("")), S_OK);
    p->get_Error(&e);
    EXPECT_TRUE(std::isnan(e));
}

TEST_F(Point, AccessorsCopyFieldsAndCheckTheirOutput) {
    Ref<IPoint> p = create<IPoint>(CLSID_Point);
    EXPECT_EQ(p->put_X(-1.5), S_OK);
    EXPECT_EQ(p->put_Y(INFINITY), S_OK);
    EXPECT_EQ(p->put_Z(3), S_OK);
    double v = 0;
    p->get_X(&v);
    EXPECT_EQ(v, -1.5);
    p->get_Y(&v);
    EXPECT_EQ(v, INFINITY);
    EXPECT_EQ(p->get_X(nullptr), E_POINTER);
    EXPECT_EQ(p->get_Error(nullptr), E_POINTER);
}

TEST_F(Point, GetWithOneAbsentOutputWritesNothing) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.5);
    double x = 9, y = 9, e = 9;
    EXPECT_EQ(p->Get(&x, &y, nullptr, &e), E_POINTER);
    EXPECT_EQ(x, 9);
    EXPECT_EQ(y, 9);
    EXPECT_EQ(e, 9);
}

TEST_F(Point, AddAndSubMakeNewPointsWithTheLargerError) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.01);
    Ref<IVector> v = makeVector(1, 1, 1, 0.5);
    Ref<IPoint> sum, diff;
    ASSERT_EQ(p->Add(v.get(), sum.put()), S_OK);
    ASSERT_EQ(p->Sub(v.get(), diff.put()), S_OK);
    EXPECT_COORDS(sum, 2, 3, 4, 0.5);
    EXPECT_COORDS(diff, 0, 1, 2, 0.5);
    EXPECT_COORDS(p, 1, 2, 3, 0.01);
    EXPECT_EQ(p->SetAdd(v.get()), S_OK);
    EXPECT_COORDS(p, 2, 3, 4, 0.5);
    EXPECT_EQ(p->SetSub(v.get()), S_OK);
    EXPECT_COORDS(p, 1, 2, 3, 0.5);
}

TEST_F(Point, DiffIgnoresBothErrorsAndPointsFromTheOther) {
    Ref<IPoint> a = makePoint(5, 5, 5, 0.1);
    Ref<IPoint> b = makePoint(1, 2, 3, 0.2);
    Ref<IVector> d;
    ASSERT_EQ(a->Diff(b.get(), d.put()), S_OK);
    EXPECT_COORDS(d, 4, 3, 2, 0.001);
}

TEST_F(Point, CloneIsEqualAndIndependent) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.25);
    Ref<IPoint> c;
    ASSERT_EQ(p->Clone(c.put()), S_OK);
    EXPECT_NE(c.get(), p.get());
    EXPECT_COORDS(c, 1, 2, 3, 0.25);
    c->put_X(100);
    EXPECT_COORDS(p, 1, 2, 3, 0.25);
    Ref<IVector> v;
    ASSERT_EQ(p->ToVector(v.put()), S_OK);
    EXPECT_COORDS(v, 1, 2, 3, 0.25);
}

TEST_F(Point, TransformMovesByTheOriginAndTakesTheLargerError) {
    RecordingMatrix m;
    m.entries[9] = 10;
    m.error = 0.5;
    Ref<IPoint> p = makePoint(1, 2, 3, 0.01);
    EXPECT_EQ(p->Transform(&m), S_OK);
    EXPECT_COORDS(p, 11, 2, 3, 0.5);
    EXPECT_EQ(m.calls, (CallLog{"AsArray1D", "Error"}));
    Ref<IPoint> applied;
    ASSERT_EQ(p->Apply(&m, applied.put()), S_OK);
    EXPECT_COORDS(applied, 21, 2, 3, 0.5);
    EXPECT_COORDS(p, 11, 2, 3, 0.5);
}

TEST_F(Point, MatrixArrayIsReadFromItsLowerBound) {
    RecordingMatrix m;
    m.lowerBound = 7;
    m.entries[10] = -4;
    Ref<IPoint> p = makePoint(1, 1, 1);
    EXPECT_EQ(p->Transform(&m), S_OK);
    EXPECT_COORDS(p, 1, -3, 1, 0.001);
}

TEST_F(Point, MatrixThatCannotBeReadWholeChangesNothing) {
    struct Fault {
        const char* what;
        void (*arm)(RecordingMatrix&);
        HRESULT expected;
    } faults[] = {
        {"array refused", [](RecordingMatrix& m) { m.arrayResult = E_FAIL; }, E_FAIL},
        {"no array", [](RecordingMatrix& m) { m.giveNoArray = true; }, E_INVALIDARG},
        {"eleven entries", [](RecordingMatrix& m) { m.length = 11; }, E_INVALIDARG},
        {"thirteen entries", [](RecordingMatrix& m) { m.length = 13; }, E_INVALIDARG},
        {"error refused", [](RecordingMatrix& m) { m.errorResult = E_ACCESSDENIED; },
         E_ACCESSDENIED},
    };
    for (const Fault& f : faults) {
        RecordingMatrix m;
        m.entries[9] = 10;
        f.arm(m);
        Ref<IPoint> p = makePoint(1, 2, 3, 0.01);
        EXPECT_EQ(p->Transform(&m), f.expected) << f.what;
        EXPECT_COORDS(p, 1, 2, 3, 0.01);
        Ref<IPoint> applied;
        EXPECT_EQ(p->Apply(&m, applied.put()), f.expected) << f.what;
        EXPECT_FALSE(applied) << "a failing operation hands out nothing";
    }
}

TEST_F(Point, OperationsReadTheirArgumentOnceAfterMakingTheResult) {
    RecordingVector v;
    v.value[0] = 1;
    Ref<IPoint> p = makePoint(0, 0, 0);
    Ref<IPoint> result;
    ASSERT_EQ(p->Add(&v, result.put()), S_OK);
    EXPECT_EQ(v.calls, CallLog{"Get"});
    EXPECT_EQ(v.refs, 1u) << "the argument is not kept";
    EXPECT_COORDS(result, 1, 0, 0, 0.001);
}

TEST_F(Point, ArgumentWhoseGetFailsPassesItsCodeOnAndChangesNothing) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.5);
    RecordingVector v;
    v.getResult = E_ACCESSDENIED;
    EXPECT_EQ(p->SetAdd(&v), E_ACCESSDENIED);
    EXPECT_EQ(v.calls, CallLog{"Get"});
    EXPECT_COORDS(p, 1, 2, 3, 0.5);
    Ref<IPoint> sum;
    EXPECT_EQ(p->Add(&v, sum.put()), E_ACCESSDENIED);
    EXPECT_FALSE(sum) << "a failing operation hands out nothing";
}

TEST_F(Point, CopyFromGoesThroughSetSoItsErrorRulesApply) {
    Ref<IPoint> p = makePoint(0, 0, 0, 0.5);
    Ref<IPoint> source = makePoint(1, 2, 3, 0.75);
    EXPECT_EQ(p->CopyFrom(source.get()), S_OK);
    EXPECT_COORDS(p, 1, 2, 3, 0.75);
    ASSERT_EQ(source->put_Error(std::nan("")), S_OK);
    EXPECT_EQ(p->CopyFrom(source.get()), S_OK);
    double e = 0;
    p->get_Error(&e);
    EXPECT_TRUE(std::isnan(e));
}

TEST_F(Point, AbsentArgumentsAndOutputsChangeAndCreateNothing) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.5);
    Ref<IVector> v = makeVector(1, 1, 1);
    IPoint* out = nullptr;
    IVector* vout = nullptr;
    EXPECT_EQ(p->Add(nullptr, &out), E_POINTER);
    EXPECT_EQ(p->Add(v.get(), nullptr), E_POINTER);
    EXPECT_EQ(p->Sub(nullptr, &out), E_POINTER);
    EXPECT_EQ(p->SetAdd(nullptr), E_POINTER);
    EXPECT_EQ(p->SetSub(nullptr), E_POINTER);
    EXPECT_EQ(p->Transform(nullptr), E_POINTER);
    EXPECT_EQ(p->Apply(nullptr, &out), E_POINTER);
    EXPECT_EQ(p->Diff(nullptr, &vout), E_POINTER);
    EXPECT_EQ(p->Clone(nullptr), E_POINTER);
    EXPECT_EQ(p->ToVector(nullptr), E_POINTER);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(vout, nullptr);
    EXPECT_COORDS(p, 1, 2, 3, 0.5);
}

TEST_F(Point, ResultWhoseSetRefusesTheErrorIsTakenBack) {
    // A NaN error never wins "the larger error", so the argument's -1 reaches the
    // result's Set, which stores the coordinates and refuses the error.
    Ref<IPoint> p = makePoint(1, 2, 3);
    ASSERT_EQ(p->put_Error(std::nan("")), S_OK);
    RecordingVector v;
    v.value[0] = 1;
    v.value[3] = -1;
    Ref<IPoint> sum;
    EXPECT_EQ(p->Add(&v, sum.put()), E_INVALIDARG);
    EXPECT_FALSE(sum);
}

TEST_F(Point, ArrayOutIsThreeDoublesFromZeroAndInTakesAnyLowerBound) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.5);
    SAFEARRAY* out = nullptr;
    ASSERT_EQ(p->get_AsArray(&out), S_OK);
    LONG lo = -1, hi = -1;
    SafeArrayGetLBound(out, 1, &lo);
    SafeArrayGetUBound(out, 1, &hi);
    EXPECT_EQ(lo, 0);
    EXPECT_EQ(hi, 2);
    for (LONG i = 0; i < 3; ++i) {
        double d = 0;
        SafeArrayGetElement(out, &i, &d);
        EXPECT_EQ(d, i + 1.0);
    }
    SafeArrayDestroy(out);

    SAFEARRAY* in = SafeArrayCreateVector(VT_R8, 5, 3);
    for (LONG i = 5; i < 8; ++i) {
        double d = i * 10.0;
        SafeArrayPutElement(in, &i, &d);
    }
    EXPECT_EQ(p->put_AsArray(&in), S_OK);
    EXPECT_COORDS(p, 50, 60, 70, 0.5);
    EXPECT_EQ(SafeArrayDestroy(in), S_OK) << "the array stays the caller's";
    EXPECT_EQ(p->get_AsArray(nullptr), E_POINTER);
    EXPECT_EQ(p->put_AsArray(nullptr), E_POINTER);
}

TEST_F(Point, ArrayInRefusesEveryOtherShapeAndKeepsTheValue) {
    Ref<IPoint> p = makePoint(1, 2, 3);
    SAFEARRAYBOUND column[2] = {{3, 0}, {1, 0}};
    SAFEARRAY* shapes[] = {SafeArrayCreateVector(VT_R8, 0, 2), SafeArrayCreateVector(VT_R8, 0, 4),
                           SafeArrayCreate(VT_R8, 2, column), nullptr};
    for (SAFEARRAY*& a : shapes) {
        EXPECT_EQ(p->put_AsArray(&a), E_INVALIDARG);
        SafeArrayDestroy(a);
    }
    EXPECT_COORDS(p, 1, 2, 3, 0.001);
}

// Elements are copied by size: an array of anything but 8-byte doubles would
// overrun the coordinates or fill them with foreign bits.
TEST_F(Point, ArraysOfAnotherElementTypeAreRefusedAndChangeNothing) {
    Ref<IPoint> p = makePoint(1, 2, 3, 0.5);
    Ref<IVector> v = makeVector(4, 5, 6, 0.25);
    for (VARTYPE vt : {VT_VARIANT, VT_BSTR, VT_DECIMAL, VT_I4, VT_R4, VT_I8, VT_CY, VT_DATE}) {
        for (LONG count : {3, 1}) {
            SAFEARRAY* a = SafeArrayCreateVector(vt, 0, ULONG(count));
            ASSERT_NE(a, nullptr) << vt;
            EXPECT_EQ(p->put_AsArray(&a), DISP_E_TYPEMISMATCH) << vt;
            EXPECT_EQ(v->put_AsArray(&a), DISP_E_TYPEMISMATCH) << vt;
            SafeArrayDestroy(a);
        }
    }
    EXPECT_COORDS(p, 1, 2, 3, 0.5);
    EXPECT_COORDS(v, 4, 5, 6, 0.25);
}

} // namespace
} // namespace orvik::testing
