// tests/geometry/vector_test.cpp: the Vector class through its interface

#include "tests/support/module_fixture.h"
#include "tests/support/recording_doubles.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>

namespace orvik::testing {
namespace {

using Vector = ModuleTest;

TEST_F(Vector, FreshVectorIsZeroWithTheDefaultErrorAndNoLength) {
    Ref<IVector> v = create<IVector>(CLSID_Vector);
    EXPECT_COORDS(v, 0, 0, 0, 0.001);
    double len = -1;
    EXPECT_EQ(v->get_Length(&len), S_OK);
    EXPECT_EQ(len, 0);
}

TEST_F(Vector, SharesThePointAccessorRules) {
    Ref<IVector> v = create<IVector>(CLSID_Vector);
    EXPECT_EQ(v->Set(1, 2, 3, -1), E_INVALIDARG);
    EXPECT_COORDS(v, 1, 2, 3, 0.001);
    EXPECT_EQ(v->Set(1, 2, 3, 0), S_OK);
    EXPECT_EQ(v->put_Error(0), E_INVALIDARG);
    RecordingVector failing;
    failing.getResult = E_ACCESSDENIED;
    EXPECT_EQ(v->CopyFrom(&failing), E_ACCESSDENIED);
    EXPECT_COORDS(v, 1, 2, 3, 0.001);
}

TEST_F(Vector, ScalingCopiesResetTheErrorForAZeroFactor) {
    Ref<IVector> v = makeVector(1, 2, 3, 0.01);
    Ref<IVector> zero, minusTwo;
    ASSERT_EQ(v->Mul(0, zero.put()), S_OK);
    ASSERT_EQ(v->Mul(-2, minusTwo.put()), S_OK);
    EXPECT_COORDS(zero, 0, 0, 0, 0.001);
    EXPECT_COORDS(minusTwo, -2, -4, -6, 0.02);
    EXPECT_EQ(v->SetMul(0), S_OK);
    EXPECT_COORDS(v, 0, 0, 0, 0.001);
}

TEST_F(Vector, DivisionBelowTheToleranceIsAnExactCopy) {
    Ref<IVector> v = makeVector(2, 4, 6, 0.02);
    Ref<IVector> copy, big, half;
    ASSERT_EQ(v->Div(5e-7, copy.put()), S_OK);
    EXPECT_COORDS(copy, 2, 4, 6, 0.02);
    ASSERT_EQ(v->Div(1e-6, big.put()), S_OK);
    EXPECT_COORDS(big, 2e6, 4e6, 6e6, 2e4);
    ASSERT_EQ(v->Div(-2, half.put()), S_OK);
    EXPECT_COORDS(half, -1, -2, -3, 0.01);
    EXPECT_EQ(v->SetDiv(5e-7), S_OK);
    EXPECT_COORDS(v, 2, 4, 6, 0.02);
    EXPECT_EQ(v->SetDiv(2), S_OK);
    EXPECT_COORDS(v, 1, 2, 3, 0.01);
}

TEST_F(Vector, NormalisingDividesTheErrorTooAndLeavesTinyVectors) {
    Ref<IVector> a = makeVector(0, 0, 4, 0.001);
    EXPECT_EQ(a->SetNormalize(), S_OK);
    EXPECT_COORDS(a, 0, 0, 1, 0.00025);
    Ref<IVector> b = makeVector(3, 4, 0, 0.001);
    EXPECT_EQ(b->SetNormalize(), S_OK);
    EXPECT_COORDS(b, 0.6, 0.8, 0, 0.0002);
    Ref<IVector> tiny = makeVector(0, 0, 1e-7);
    EXPECT_EQ(tiny->SetNormalize(), S_OK);
    EXPECT_COORDS(tiny, 0, 0, 1e-7, 0.001);
}

// An error scaled so far down that it would round to 0 keeps the least error there
// is: no vector holds an error of 0, which no Error put accepts, and what is made
// from it (a translation, its transpose) stays valid.
TEST_F(Vector, ErrorsScaledTowardZeroStayPositive) {
    const double inf = std::numeric_limits<double>::infinity();
    const double least = std::numeric_limits<double>::denorm_min();
    Ref<IVector> endless = makeVector(inf, 0, 0, 0.5);
    ASSERT_EQ(endless->SetNormalize(), S_OK);
    double e = 0;
    endless->get_Error(&e);
    EXPECT_EQ(e, least);
    Ref<IVector> divided;
    ASSERT_EQ(makeVector(1, 2, 3)->Div(inf, divided.put()), S_OK);
    EXPECT_COORDS(divided, 0, 0, 0, least);
    Ref<IVector> tiny = makeVector(1, 0, 0, 0.001);
    ASSERT_EQ(tiny->SetMul(-1e-323), S_OK);
    tiny->get_Error(&e);
    EXPECT_EQ(e, least);

    Ref<IMatrix> m = create<IMatrix>(CLSID_Matrix);
    ASSERT_EQ(m->SetTranslation(endless.get(), 0), S_OK);
    m->get_Error(&e);
    EXPECT_EQ(e, least);
    Ref<IMatrix> transposed;
    EXPECT_EQ(m->Transpose(transposed.put()), S_OK);
    EXPECT_TRUE(transposed);
}

TEST_F(Vector, CrossProductDependsOnOperandOrder) {
    Ref<IVector> x = makeVector(1, 0, 0), y = makeVector(0, 1, 0, 0.002);
    Ref<IVector> xy, yx;
    ASSERT_EQ(x->CrossProduct(y.get(), xy.put()), S_OK);
    ASSERT_EQ(y->CrossProduct(x.get(), yx.put()), S_OK);
    EXPECT_COORDS(xy, 0, 0, 1, 0.002);
    EXPECT_COORDS(yx, 0, 0, -1, 0.002);
}

TEST_F(Vector, MeasuresBetweenVectors) {
    Ref<IVector> x = makeVector(1, 0, 0), y = makeVector(0, 1, 0), zero = makeVector(0, 0, 0);
    double r = 0;
    EXPECT_EQ(x->Angle(y.get(), &r), S_OK);
    EXPECT_DOUBLE_EQ(r, std::numbers::pi / 2);
    EXPECT_EQ(x->Angle(zero.get(), &r), S_OK);
    EXPECT_TRUE(std::isnan(r));
    EXPECT_EQ(x->Cosine(zero.get(), &r), S_OK);
    EXPECT_TRUE(std::isnan(r));
    Ref<IVector> ones = makeVector(1, 1, 1), twos = makeVector(2, 2, 2);
    EXPECT_EQ(ones->Angle(twos.get(), &r), S_OK);
    EXPECT_EQ(r, 0.0) << "parallel vectors whose cosine rounds past 1";
    Ref<IVector> a = makeVector(1, 1, 1), b = makeVector(4, 5, 1);
    EXPECT_EQ(a->Distance(b.get(), &r), S_OK);
    EXPECT_DOUBLE_EQ(r, 5);
    EXPECT_EQ(a->DotProduct(b.get(), &r), S_OK);
    EXPECT_EQ(r, 10);
}

TEST_F(Vector, EqualsIsWithinTheToleranceAndWritesAutomationBooleans) {
    Ref<IVector> zero = makeVector(0, 0, 0, 5), near = makeVector(9e-7, 0, 0),
                 far = makeVector(1e-6, 0, 0);
    VARIANT_BOOL b = 7;
    EXPECT_EQ(zero->Equals(near.get(), &b), S_OK);
    EXPECT_EQ(b, VARIANT_TRUE);
    EXPECT_EQ(zero->Equals(far.get(), &b), S_OK);
    EXPECT_EQ(b, VARIANT_FALSE);
}

TEST_F(Vector, AxesBuildAReferenceFrame) {
    Ref<IVector> v = makeVector(0, 0, 2, 0.001);
    Ref<IVector> y, z;
    ASSERT_EQ(v->Axes(y.put(), z.put()), S_OK);
    EXPECT_COORDS(y, 1, 0, 0, 0.0005);
    EXPECT_COORDS(z, 0, 1, 0, 0.0005);
    EXPECT_COORDS(v, 0, 0, 2, 0.001);
    Ref<IVector> zero = makeVector(0, 0, 0, 0.125);
    ASSERT_EQ(zero->Axes(y.put(), z.put()), S_OK);
    EXPECT_COORDS(y, 0, 0, 0, 0.125);
    EXPECT_COORDS(z, 0, 0, 0, 0.125);
    IVector* only = nullptr;
    EXPECT_EQ(v->Axes(&only, nullptr), E_POINTER);
    EXPECT_EQ(only, nullptr);
}

TEST_F(Vector, ApplyIgnoresTheTranslation) {
    RecordingMatrix m;
    m.entries[9] = 10;
    m.entries[10] = 20;
    m.entries[11] = 30;
    Ref<IVector> v = makeVector(1, 2, 3, 0.01);
    Ref<IVector> out;
    ASSERT_EQ(v->Apply(&m, out.put()), S_OK);
    EXPECT_COORDS(out, 1, 2, 3, 0.01);
    EXPECT_EQ(m.calls, (CallLog{"AsArray1D", "Error"}));
}

TEST_F(Vector, NegationKeepsTheErrorAndTwiceRestores) {
    Ref<IVector> v = makeVector(1, -2, 3, 0.25);
    Ref<IVector> n;
    ASSERT_EQ(v->Negate(n.put()), S_OK);
    EXPECT_COORDS(n, -1, 2, -3, 0.25);
    v->SetNegate();
    v->SetNegate();
    EXPECT_COORDS(v, 1, -2, 3, 0.25);
}

TEST_F(Vector, ConversionsAndClonesAreIndependentCopies) {
    Ref<IVector> v = makeVector(1, 2, 3, 0.5);
    Ref<IPoint> p;
    Ref<IVector> c;
    ASSERT_EQ(v->ToPoint(p.put()), S_OK);
    ASSERT_EQ(v->Clone(c.put()), S_OK);
    EXPECT_COORDS(p, 1, 2, 3, 0.5);
    EXPECT_COORDS(c, 1, 2, 3, 0.5);
    c->put_Z(0);
    EXPECT_COORDS(v, 1, 2, 3, 0.5);
}

TEST_F(Vector, ArgumentsAreReadAfterTheResultIsMadeAndNotKept) {
    RecordingVector other;
    other.value[0] = 1;
    other.value[3] = 0.5;
    Ref<IVector> v = makeVector(1, 0, 0);
    Ref<IVector> sum;
    ASSERT_EQ(v->Add(&other, sum.put()), S_OK);
    EXPECT_COORDS(sum, 2, 0, 0, 0.5);
    ASSERT_EQ(v->SetSub(&other), S_OK);
    EXPECT_EQ(other.calls, (CallLog{"Get", "Get"}));
    EXPECT_EQ(other.refs, 1u);
}

TEST_F(Vector, AbsentArgumentsAndOutputsChangeAndCreateNothing) {
    Ref<IVector> v = makeVector(1, 2, 3, 0.5);
    IVector* out = nullptr;
    double d = 0;
    VARIANT_BOOL b = 0;
    EXPECT_EQ(v->Add(nullptr, &out), E_POINTER);
    EXPECT_EQ(v->Sub(nullptr, &out), E_POINTER);
    EXPECT_EQ(v->SetAdd(nullptr), E_POINTER);
    EXPECT_EQ(v->CrossProduct(nullptr, &out), E_POINTER);
    EXPECT_EQ(v->Apply(nullptr, &out), E_POINTER);
    EXPECT_EQ(v->DotProduct(nullptr, &d), E_POINTER);
    EXPECT_EQ(v->Angle(v.get(), nullptr), E_POINTER);
    EXPECT_EQ(v->Equals(nullptr, &b), E_POINTER);
    EXPECT_EQ(v->Mul(2, nullptr), E_POINTER);
    EXPECT_EQ(v->get_Length(nullptr), E_POINTER);
    EXPECT_EQ(out, nullptr);
    EXPECT_COORDS(v, 1, 2, 3, 0.5);
}

TEST_F(Vector, OperationsWithItselfAsArgument) {
    Ref<IVector> v = makeVector(1, 2, 3, 0.5);
    EXPECT_EQ(v->SetAdd(v.get()), S_OK);
    EXPECT_COORDS(v, 2, 4, 6, 0.5);
    EXPECT_EQ(v->SetSub(v.get()), S_OK);
    EXPECT_COORDS(v, 0, 0, 0, 0.5);
}

} // namespace
} // namespace orvik::testing
