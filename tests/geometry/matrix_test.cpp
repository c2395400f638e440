// tests/geometry/matrix_test.cpp: the Matrix class through its interface

#include "tests/support/module_fixture.h"
#include "tests/support/recording_doubles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace orvik::testing {
namespace {

constexpr double kPi = std::numbers::pi;
using Matrix = ModuleTest;

std::vector<double> entries(IMatrix* m) {
    SAFEARRAY* a = nullptr;
    EXPECT_EQ(m->get_AsArray1D(&a), S_OK);
    std::vector<double> out(12);
    for (LONG i = 0; i < 12; ++i)
        SafeArrayGetElement(a, &i, &out[size_t(i)]);
    SafeArrayDestroy(a);
    return out;
}

double errorOf(IMatrix* m) {
    double e = 0;
    EXPECT_EQ(m->get_Error(&e), S_OK);
    return e;
}

Ref<IMatrix> translation(double x, double y, double z) {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    Ref<IVector> t = makeVector(x, y, z);
    EXPECT_EQ(m->SetTranslation(t.get(), 0.001), S_OK);
    return m;
}

Ref<IMatrix> quarterTurnAboutZ() {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    Ref<IVector> axis = makeVector(0, 0, 1);
    EXPECT_EQ(m->SetRotation(kPi / 2, axis.get(), nullptr, 0.001), S_OK);
    return m;
}

TEST_F(Matrix, FreshMatrixIsTheIdentity) {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    EXPECT_EQ(entries(m.get()), (std::vector<double>{1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}));
    double v = -1;
    EXPECT_EQ(m->get_Element(0, 0, &v), S_OK);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(m->get_Element(2, 2, &v), S_OK);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(m->get_Element(3, 0, &v), S_OK);
    EXPECT_EQ(v, 0);
    EXPECT_EQ(errorOf(m.get()), 0.001);
}

TEST_F(Matrix, ElementRefusesIndicesOutOfRangeAndTheOmittedSecondIndex) {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    double v = 42;
    for (auto [i, j] : {std::pair{0, -1}, {4, 0}, {-1, 0}, {0, 3}}) {
        EXPECT_EQ(m->get_Element(i, j, &v), E_INVALIDARG) << i << "," << j;
        EXPECT_EQ(m->put_Element(i, j, 9), E_INVALIDARG) << i << "," << j;
    }
    EXPECT_EQ(v, 42);
    EXPECT_EQ(m->get_Element(0, 0, nullptr), E_POINTER);
    EXPECT_EQ(m->put_Element(3, 1, 7.5), S_OK);
    EXPECT_EQ(entries(m.get())[10], 7.5);
}

TEST_F(Matrix, ArrayPutTakesAnyLowerBoundAndRefusesOtherShapes) {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    SAFEARRAY* a = SafeArrayCreateVector(VT_R8, 1, 12);
    for (LONG i = 1; i <= 12; ++i) {
        double d = i;
        SafeArrayPutElement(a, &i, &d);
    }
    EXPECT_EQ(m->put_AsArray1D(&a), S_OK);
    EXPECT_EQ(entries(m.get()), (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    SafeArrayDestroy(a);
    SAFEARRAYBOUND twoD[2] = {{12, 0}, {1, 0}};
    SAFEARRAY* wrong[] = {SafeArrayCreateVector(VT_R8, 0, 11), SafeArrayCreateVector(VT_R8, 0, 13),
                          SafeArrayCreate(VT_R8, 2, twoD)};
    for (SAFEARRAY*& w : wrong) {
        EXPECT_EQ(m->put_AsArray1D(&w), E_INVALIDARG);
        SafeArrayDestroy(w);
    }
    EXPECT_EQ(entries(m.get())[0], 1);
    // Twelve elements of another type are refused before a single one is copied.
    for (VARTYPE vt : {VT_VARIANT, VT_BSTR, VT_DECIMAL, VT_I4, VT_R4, VT_I8, VT_CY}) {
        SAFEARRAY* other = SafeArrayCreateVector(vt, 0, 12);
        ASSERT_NE(other, nullptr) << vt;
        EXPECT_EQ(m->put_AsArray1D(&other), DISP_E_TYPEMISMATCH) << vt;
        SafeArrayDestroy(other);
    }
    EXPECT_EQ(entries(m.get()), (std::vector<double>{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}));
    EXPECT_EQ(m->put_AsArray1D(nullptr), E_POINTER);
    EXPECT_EQ(m->get_AsArray1D(nullptr), E_POINTER);
}

TEST_F(Matrix, SetPvFillsTheColumnsItIsGivenAndRefusesATinyError) {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    Ref<IPoint> origin = makePoint(7, 8, 9, 0.5);
    Ref<IVector> axis1 = makeVector(2, 0, 0, 0.5);
    EXPECT_EQ(m->SetPv(origin.get(), axis1.get(), nullptr, nullptr, 0.125), S_OK);
    EXPECT_EQ(entries(m.get()), (std::vector<double>{2, 0, 0, 0, 1, 0, 0, 0, 1, 7, 8, 9}));
    EXPECT_EQ(errorOf(m.get()), 0.125);
    EXPECT_EQ(m->SetPv(nullptr, nullptr, nullptr, nullptr, 0), E_INVALIDARG);
    EXPECT_EQ(m->SetPv(nullptr, axis1.get(), axis1.get(), nullptr, 1e-16), E_INVALIDARG);
    EXPECT_EQ(errorOf(m.get()), 0.125);
    EXPECT_EQ(m->SetPv(nullptr, nullptr, nullptr, nullptr, 2.220446049250313e-16), S_OK);
}

TEST_F(Matrix, MulAppliesTheOtherFirstAndSetMulAppliesItAfter) {
    Ref<IMatrix> a = translation(1, 0, 0);
    Ref<IMatrix> b = quarterTurnAboutZ();
    Ref<IMatrix> product;
    ASSERT_EQ(a->Mul(b.get(), product.put()), S_OK);
    std::vector<double> p = entries(product.get());
    EXPECT_NEAR(p[9], 1, 1e-15);
    EXPECT_NEAR(p[10], 0, 1e-15);
    EXPECT_EQ(a->SetMul(b.get()), S_OK);
    std::vector<double> s = entries(a.get());
    EXPECT_NEAR(s[9], 0, 1e-15);
    EXPECT_NEAR(s[10], 1, 1e-15);
}

TEST_F(Matrix, OperationsWithItselfAsArgumentReadTheOldValue) {
    Ref<IMatrix> m = translation(1, 2, 3);
    EXPECT_EQ(m->SetAdd(m.get()), S_OK);
    std::vector<double> e = entries(m.get());
    EXPECT_EQ(e[0], 2);
    EXPECT_EQ(e[11], 6);
    EXPECT_EQ(m->SetMul(m.get()), S_OK);
    EXPECT_EQ(entries(m.get())[9], 2 * 2 + 2);
    EXPECT_EQ(m->SetSub(m.get()), S_OK);
    EXPECT_EQ(entries(m.get()), std::vector<double>(12, 0.0));
    VARIANT_BOOL same = VARIANT_FALSE;
    EXPECT_EQ(m->Equals(m.get(), &same), S_OK);
    EXPECT_EQ(same, VARIANT_TRUE);
}

TEST_F(Matrix, InverseTimesTheOriginalIsTheIdentityWithTheDefaultError) {
    Ref<IMatrix> m = quarterTurnAboutZ();
    ASSERT_EQ(m->SetScale(2, 3, 4), S_OK);
    ASSERT_EQ(m->SetMove(5, -6, 7), S_OK);
    ASSERT_EQ(m->put_Error(0.5), S_OK);
    Ref<IMatrix> inv, check;
    ASSERT_EQ(m->Inverse(inv.put()), S_OK);
    EXPECT_EQ(errorOf(inv.get()), 0.001);
    ASSERT_EQ(inv->Mul(m.get(), check.put()), S_OK);
    Ref<IMatrix> identity = create<IMatrix>(CLSID_Matrix);
    VARIANT_BOOL equal = VARIANT_FALSE;
    EXPECT_EQ(check->Equals(identity.get(), &equal), S_OK);
    EXPECT_EQ(equal, VARIANT_TRUE);
    Ref<IMatrix> t;
    ASSERT_EQ(m->Transpose(t.put()), S_OK);
    EXPECT_EQ(errorOf(t.get()), 0.5);
    EXPECT_EQ(entries(t.get())[9], 0);
}

TEST_F(Matrix, EqualsIgnoresTheErrorOfAClone) {
    Ref<IMatrix> m = quarterTurnAboutZ();
    Ref<IMatrix> c;
    ASSERT_EQ(m->Clone(c.put()), S_OK);
    EXPECT_EQ(entries(c.get()), entries(m.get()));
    ASSERT_EQ(c->put_Error(7), S_OK);
    VARIANT_BOOL equal = VARIANT_FALSE;
    EXPECT_EQ(m->Equals(c.get(), &equal), S_OK);
    EXPECT_EQ(equal, VARIANT_TRUE);
    EXPECT_EQ(m->Equals(c.get(), nullptr), E_POINTER);
}

TEST_F(Matrix, ColumnsComeOutAsNewObjectsAndGoInWithoutTheirError) {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    Ref<IVector> x;
    ASSERT_EQ(m->get_XVect(x.put()), S_OK);
    EXPECT_COORDS(x, 1, 0, 0, 0.001);
    Ref<IVector> y = makeVector(0, 2, 0, 0.75);
    EXPECT_EQ(m->put_YVect(y.get()), S_OK);
    EXPECT_EQ(errorOf(m.get()), 0.001);
    Ref<IPoint> o = makePoint(4, 5, 6);
    EXPECT_EQ(m->put_Origin(o.get()), S_OK);
    Ref<IPoint> origin;
    ASSERT_EQ(m->get_Origin(origin.put()), S_OK);
    EXPECT_COORDS(origin, 4, 5, 6, 0.001);
    x->put_X(100);
    EXPECT_EQ(entries(m.get())[0], 1) << "the column is a copy";
    EXPECT_EQ(m->put_ZVect(nullptr), E_POINTER);
    EXPECT_EQ(m->get_ZVect(nullptr), E_POINTER);
}

TEST_F(Matrix, ErrorPutRefusesZeroAndNegatives) {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    EXPECT_EQ(m->put_Error(0), E_INVALIDARG);
    EXPECT_EQ(m->put_Error(-1), E_INVALIDARG);
    EXPECT_EQ(m->put_Error(1e-300), S_OK);
    EXPECT_EQ(errorOf(m.get()), 1e-300);
}

TEST_F(Matrix, DeclaredButNotProvidedOperationsTouchNothing) {
    Ref<IMatrix> m = translation(1, 2, 3);
    SAFEARRAY* untouched = reinterpret_cast<SAFEARRAY*>(0x1);
    IMatrix* result = reinterpret_cast<IMatrix*>(0x1);
    EXPECT_EQ(m->get_AsArray2D(&untouched), E_NOTIMPL);
    EXPECT_EQ(m->put_AsArray2D(&untouched), E_NOTIMPL);
    EXPECT_EQ(m->SetNegate(), E_NOTIMPL);
    EXPECT_EQ(m->Negate(&result), E_NOTIMPL);
    EXPECT_EQ(untouched, reinterpret_cast<SAFEARRAY*>(0x1));
    EXPECT_EQ(result, reinterpret_cast<IMatrix*>(0x1));
    EXPECT_EQ(entries(m.get())[9], 1);
}

TEST_F(Matrix, ErrorThatNoObjectAcceptsIsReportedByEveryResult) {
    // A translation by a vector whose error is -10 with Error -5 carries -5, which
    // no Error put or Set accepts.
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    RecordingVector t;
    t.value[0] = 1;
    t.value[3] = -10;
    ASSERT_EQ(m->SetTranslation(&t, -5), S_OK);
    EXPECT_EQ(errorOf(m.get()), -5);
    Ref<IMatrix> c;
    EXPECT_EQ(m->Clone(c.put()), E_INVALIDARG);
    EXPECT_FALSE(c) << "a failing operation hands out nothing";
    Ref<IPoint> origin;
    EXPECT_EQ(m->get_Origin(origin.put()), E_INVALIDARG);
    EXPECT_FALSE(origin);
}

TEST_F(Matrix, FailingCallsOnOtherObjectsStopTheOperationAndChangeNothing) {
    RecordingMatrix broken;
    broken.errorResult = E_ACCESSDENIED;
    Ref<IMatrix> m = translation(1, 2, 3);
    std::vector<double> before = entries(m.get());
    Ref<IMatrix> out;
    EXPECT_EQ(m->SetMul(&broken), E_ACCESSDENIED);
    EXPECT_EQ(m->Add(&broken, out.put()), E_ACCESSDENIED);
    EXPECT_FALSE(out) << "nothing is made when the argument cannot be read";
    RecordingVector failing;
    failing.getResult = E_FAIL;
    EXPECT_EQ(m->SetMoveByVector(&failing), E_FAIL);
    EXPECT_EQ(m->SetAxialRot(&failing, 1.0), E_FAIL);
    EXPECT_EQ(m->SetTranslation(&failing, 0.1), E_FAIL);
    EXPECT_EQ(m->put_XVect(&failing), E_NOTIMPL) << "the double's X get is not provided";
    EXPECT_EQ(m->SetPv(nullptr, &failing, nullptr, nullptr, 0.1), E_NOTIMPL);
    EXPECT_EQ(entries(m.get()), before);
    EXPECT_EQ(errorOf(m.get()), 0.001);
}

TEST_F(Matrix, AbsentArgumentsAreRefused) {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    IMatrix* out = nullptr;
    VARIANT_BOOL b = 0;
    EXPECT_EQ(m->SetMul(nullptr), E_POINTER);
    EXPECT_EQ(m->Mul(nullptr, &out), E_POINTER);
    EXPECT_EQ(m->Mul(m.get(), nullptr), E_POINTER);
    EXPECT_EQ(m->Equals(nullptr, &b), E_POINTER);
    EXPECT_EQ(m->SetTranslation(nullptr, 0.1), E_POINTER);
    EXPECT_EQ(m->SetRotation(1, nullptr, nullptr, 0.1), E_POINTER);
    EXPECT_EQ(m->SetMoveByVector(nullptr), E_POINTER);
    EXPECT_EQ(m->SetAxialRot(nullptr, 1), E_POINTER);
    EXPECT_EQ(m->Clone(nullptr), E_POINTER);
    EXPECT_EQ(m->get_Determinant(nullptr), E_POINTER);
    EXPECT_EQ(out, nullptr);
}

TEST_F(Matrix, ResultsAreWrittenThroughTheirErrorThenTheirArray) {
    // A matrix of this module is read as any other IMatrix: its array, then its error.
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    RecordingMatrix other;
    other.entries[9] = 3;
    other.error = 0.25;
    other.lowerBound = -4;
    Ref<IMatrix> sum;
    ASSERT_EQ(m->Add(&other, sum.put()), S_OK);
    EXPECT_EQ(other.calls, (CallLog{"AsArray1D", "Error"}));
    EXPECT_EQ(entries(sum.get())[9], 3);
    EXPECT_EQ(entries(sum.get())[0], 2);
    EXPECT_EQ(errorOf(sum.get()), 0.25);
}

TEST_F(Matrix, OwnMatricesCombineInPlaceAndOthersAreStillAsked) {
    // The same products, whether this module's matrices are read through their
    // interfaces (the first result teaches the module which are its own) or in place;
    // a foreign matrix afterwards still sees exactly its two calls.
    Ref<IMatrix> a = quarterTurnAboutZ(), b = translation(1, 2, 3);
    ASSERT_EQ(a->put_Error(0.5), S_OK);
    std::vector<Ref<IMatrix>> products(3);
    for (Ref<IMatrix>& p : products)
        ASSERT_EQ(a->Mul(b.get(), p.put()), S_OK);
    const std::vector<double> first = entries(products[0].get());
    const std::vector<double> expected{0, 1, 0, -1, 0, 0, 0, 0, 1, -2, 1, 3};
    for (size_t i = 0; i < expected.size(); ++i)
        EXPECT_NEAR(first[i], expected[i], 1e-15) << i;
    for (const Ref<IMatrix>& p : products) {
        EXPECT_EQ(entries(p.get()), first) << "bit for bit on either path";
        EXPECT_EQ(errorOf(p.get()), 0.5);
    }
    ASSERT_EQ(b->SetMul(a.get()), S_OK); // b then a, in place
    EXPECT_EQ(entries(b.get()), entries(products[0].get()));
    double nan = std::nan("");
    ASSERT_EQ(a->put_Error(nan), S_OK); // a NaN error is taken, and carried along
    Ref<IMatrix> carried;
    ASSERT_EQ(a->Add(a.get(), carried.put()), S_OK);
    EXPECT_TRUE(std::isnan(errorOf(carried.get())));

    RecordingMatrix other;
    other.error = 0.25;
    Ref<IMatrix> sum;
    ASSERT_EQ(a->Add(&other, sum.put()), S_OK);
    EXPECT_EQ(other.calls, (CallLog{"AsArray1D", "Error"}));
}

TEST_F(Matrix, PointsAndVectorsTransformByRealMatrices) {
    Ref<IMatrix> m = quarterTurnAboutZ();
    ASSERT_EQ(m->SetMove(10, 0, 0), S_OK);
    Ref<IPoint> p = makePoint(1, 0, 0);
    Ref<IVector> v = makeVector(1, 0, 0);
    Ref<IPoint> mp;
    Ref<IVector> mv;
    ASSERT_EQ(p->Apply(m.get(), mp.put()), S_OK);
    ASSERT_EQ(v->Apply(m.get(), mv.put()), S_OK);
    Coords cp = read(mp), cv = read(mv);
    EXPECT_NEAR(cp.x, 10, 1e-15);
    EXPECT_NEAR(cp.y, 1, 1e-15);
    EXPECT_NEAR(cv.x, 0, 1e-15);
    EXPECT_NEAR(cv.y, 1, 1e-15);
    double det = 0;
    EXPECT_EQ(m->get_Determinant(&det), S_OK);
    EXPECT_NEAR(det, 1, 1e-15);
}

TEST_F(Matrix, RotationAboutALineThroughAPointAndNormalize) {
    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    Ref<IVector> axis = makeVector(0, 0, 1);
    Ref<IPoint> pivot = makePoint(1, 0, 0);
    ASSERT_EQ(m->SetRotation(kPi, axis.get(), pivot.get(), 1e-9), S_OK);
    Ref<IPoint> origin = makePoint(0, 0, 0);
    ASSERT_EQ(origin->Transform(m.get()), S_OK);
    Coords c = read(origin);
    EXPECT_NEAR(c.x, 2, 1e-15);
    EXPECT_NEAR(c.y, 0, 1e-15);
    EXPECT_EQ(errorOf(m.get()), 0.001) << "the larger of 1e-9 and the axis's 0.001";
    ASSERT_EQ(m->SetScale(2, 2, 2), S_OK);
    ASSERT_EQ(m->SetNormalize(), S_OK);
    ASSERT_EQ(m->SetRotate(0, 0, 5e-7), S_OK);
}

} // namespace
} // namespace orvik::testing
