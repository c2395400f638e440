// tests/platform/wide_calls_test.cpp: late-bound calls of signatures beyond registers
//
// Each operation weighs every argument by its position, so that an argument put in
// the wrong place, widened wrongly or dropped changes the answer; the late-bound
// answer must be the one a direct call of the same object gives.

#include "wide_calls.h"

#include "tests/support/recording_doubles.h"

#include "orvik/platform.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvik::testing {
namespace {

class WideCalls final : public RecordingUnknown<IWideCalls> {
public:
    HRESULT STDMETHODCALLTYPE ManyIntegers(LONG a, LONG b, LONG c, LONG d, LONG e, LONG f, LONG g,
                                           LONG h, LONG* sum) override {
        *sum = a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ManyDoubles(DOUBLE a, DOUBLE b, DOUBLE c, DOUBLE d, DOUBLE e,
                                          DOUBLE f, DOUBLE g, DOUBLE h, DOUBLE i, DOUBLE j,
                                          DOUBLE* sum) override {
        *sum = a + 2 * b + 3 * c + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h + 9 * i + 10 * j;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Mixed(SHORT a, DOUBLE b, FLOAT c, LONG d, DOUBLE e, BYTE f, DOUBLE g,
                                    LONG h, DOUBLE i, LONG j, DOUBLE k, LONG l, DOUBLE m, DOUBLE n,
                                    DOUBLE* sum) override {
        *sum = a + 2 * b + 3 * double(c) + 4 * d + 5 * e + 6 * f + 7 * g + 8 * h + 9 * i + 10 * j +
               11 * k + 12 * l + 13 * m + 14 * n;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Floats(FLOAT a, FLOAT b, FLOAT* product) override {
        *product = a * b;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ByValue(VARIANT v, LONG scale, DOUBLE* scaled) override {
        if (v.vt != VT_R8)
            return E_INVALIDARG;
        *scaled = v.dblVal * scale;
        return S_OK;
    }
};

class WideCallsTest : public ::testing::Test {
protected:
    void SetUp() override {
        Ref<ITypeLib> lib;
        ASSERT_EQ(LoadTypeLib(ORVIK_WIDE_CALLS_TLB, lib.put()), S_OK);
        ASSERT_EQ(lib->GetTypeInfoOfGuid(IID_IWideCalls, m_info.put()), S_OK);
    }

    // Calls member memid late-bound with args (in order; passed last first).
    VARIANT call(MEMBERID memid, std::vector<VARIANT> args) {
        std::vector<VARIANT> reversed(args.rbegin(), args.rend());
        DISPPARAMS params{reversed.data(), nullptr, UINT(reversed.size()), 0};
        VARIANT result;
        VariantInit(&result);
        EXCEPINFO excepInfo{};
        UINT argErr = 0;
        EXPECT_EQ(m_info->Invoke(&m_object, memid, DISPATCH_METHOD, &params, &result, &excepInfo,
                                 &argErr),
                  S_OK);
        return result;
    }
    static VARIANT of(VARTYPE vt, double value) {
        VARIANT v;
        VariantInit(&v);
        v.vt = vt;
        switch (vt) {
        case VT_I2:
            v.iVal = SHORT(value);
            break;
        case VT_UI1:
            v.bVal = BYTE(value);
            break;
        case VT_I4:
            v.lVal = LONG(value);
            break;
        case VT_R4:
            v.fltVal = FLOAT(value);
            break;
        default:
            v.dblVal = value;
            break;
        }
        return v;
    }

    WideCalls m_object;
    Ref<ITypeInfo> m_info;
};

TEST_F(WideCallsTest, MoreIntegersThanRegistersArriveInOrder) {
    LONG direct = 0;
    m_object.ManyIntegers(-1, 2, -3, 4, -5, 6, -70000, 8, &direct);
    std::vector<VARIANT> args;
    for (double x : {-1, 2, -3, 4, -5, 6, -70000, 8})
        args.push_back(of(VT_I4, x));
    VARIANT late = call(1, args);
    EXPECT_EQ(late.vt, VT_I4);
    EXPECT_EQ(late.lVal, direct);
}

TEST_F(WideCallsTest, MoreDoublesThanRegistersArriveInOrder) {
    DOUBLE direct = 0;
    m_object.ManyDoubles(0.5, -1.25, 2, 3, 4, 5, 6, 7, 8.5, -9.75, &direct);
    std::vector<VARIANT> args;
    for (double x : {0.5, -1.25, 2.0, 3.0, 4.0, 5.0, 6.0, 7.0, 8.5, -9.75})
        args.push_back(of(VT_R8, x));
    VARIANT late = call(2, args);
    EXPECT_EQ(late.vt, VT_R8);
    EXPECT_EQ(late.dblVal, direct);
}

TEST_F(WideCallsTest, NarrowIntegersFloatsAndDoublesMixedBeyondRegisters) {
    DOUBLE direct = 0;
    m_object.Mixed(-3, 1.5, 2.25f, -40000, 5.5, 250, 7.25, 8, 9.5, -10, 11.5, 12, 13.5, 14.25,
                   &direct);
    VARIANT late =
        call(3, {of(VT_I2, -3), of(VT_R8, 1.5), of(VT_R4, 2.25), of(VT_I4, -40000), of(VT_R8, 5.5),
                 of(VT_UI1, 250), of(VT_R8, 7.25), of(VT_I4, 8), of(VT_R8, 9.5), of(VT_I4, -10),
                 of(VT_R8, 11.5), of(VT_I4, 12), of(VT_R8, 13.5), of(VT_R8, 14.25)});
    EXPECT_EQ(late.vt, VT_R8);
    EXPECT_EQ(late.dblVal, direct);
    // Arguments of other types are converted to the declared ones first.
    VARIANT converted =
        call(3, {of(VT_I4, -3), of(VT_R8, 1.5), of(VT_R8, 2.25), of(VT_R8, -40000), of(VT_I4, 5.5),
                 of(VT_I4, 250), of(VT_R8, 7.25), of(VT_I2, 8), of(VT_R8, 9.5), of(VT_I4, -10),
                 of(VT_R8, 11.5), of(VT_I4, 12), of(VT_R8, 13.5), of(VT_R8, 14.25)});
    EXPECT_EQ(converted.dblVal, direct - 5 * 5.5 + 5 * 5);
}

TEST_F(WideCallsTest, FloatsAndAVariantByValue) {
    FLOAT product = 0;
    m_object.Floats(1.5f, -2.5f, &product);
    VARIANT late = call(4, {of(VT_R4, 1.5), of(VT_R4, -2.5)});
    EXPECT_EQ(late.vt, VT_R4);
    EXPECT_EQ(late.fltVal, product);

    VARIANT scaled = call(5, {of(VT_R8, 2.75), of(VT_I4, -3)});
    EXPECT_EQ(scaled.vt, VT_R8);
    EXPECT_EQ(scaled.dblVal, 2.75 * -3);
}

} // namespace
} // namespace orvik::testing
