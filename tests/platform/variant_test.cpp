// tests/platform/variant_test.cpp: variant copying, clearing and type conversion

#include "orvik/platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace {

// A variant that clears itself.
struct Var : VARIANT {
    Var() { VariantInit(this); }
    ~Var() { EXPECT_EQ(VariantClear(this), S_OK); }
    Var(const Var&) = delete;
};

Var& makeString(Var& v, const char16_t* text) {
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(text);
    return v;
}

HRESULT change(Var& out, const VARIANT& in, VARTYPE vt, USHORT flags = 0) {
    return VariantChangeType(&out, &in, flags, vt);
}

TEST(Variant, StringConvertsToRealAndRealToString) {
    Var s, r, back;
    makeString(s, u" 2.5 ");
    ASSERT_EQ(change(r, s, VT_R8), S_OK);
    EXPECT_EQ(r.vt, VT_R8);
    EXPECT_EQ(r.dblVal, 2.5);
    ASSERT_EQ(change(back, r, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(back.bstrVal), u"2.5");
}

TEST(Variant, IntegerTargetsRoundHalfToEvenAndRefuseWhatDoesNotFit) {
    struct Row {
        double in;
        VARTYPE vt;
        HRESULT hr;
        LONG expected;
    } rows[] = {
        {2.5, VT_I4, S_OK, 2},
        {3.5, VT_I4, S_OK, 4},
        {-2.5, VT_I2, S_OK, -2},
        {70000, VT_I2, DISP_E_OVERFLOW, 0},
        {32767.4, VT_I2, S_OK, 32767},
        {-32768.5, VT_I2, S_OK, -32768},
        {-32769, VT_I2, DISP_E_OVERFLOW, 0},
        {3e9, VT_I4, DISP_E_OVERFLOW, 0},
        {NAN, VT_I4, DISP_E_OVERFLOW, 0},
        {-1, VT_UI1, DISP_E_OVERFLOW, 0},
    };
    for (const Row& row : rows) {
        Var in, out;
        in.vt = VT_R8;
        in.dblVal = row.in;
        EXPECT_EQ(change(out, in, row.vt), row.hr) << row.in;
        if (row.hr == S_OK)
            EXPECT_EQ(row.vt == VT_I2 ? LONG(out.iVal) : out.lVal, row.expected) << row.in;
        else
            EXPECT_EQ(out.vt, VT_EMPTY) << "a failed conversion leaves the target alone";
    }
    Var big, small;
    big.vt = VT_I4;
    big.lVal = 70000;
    EXPECT_EQ(change(small, big, VT_I2), DISP_E_OVERFLOW);
}

TEST(Variant, StringsThatAreNotNumbersAreATypeMismatch) {
    for (const char16_t* text :
         {u"", u"abc", u"2.5x", u"1,5", u"  ", u"+-5", u"++5", u"-+5", u"+"}) {
        Var s, out;
        makeString(s, text);
        EXPECT_EQ(change(out, s, VT_R8), DISP_E_TYPEMISMATCH) << std::u16string(text).size();
        EXPECT_EQ(change(out, s, VT_I4), DISP_E_TYPEMISMATCH);
    }
    Var huge, out;
    makeString(huge, u"1e400");
    EXPECT_EQ(change(out, huge, VT_R8), DISP_E_OVERFLOW);
}

// Beyond the range of a double a number is too large or too small by its magnitude,
// however it is written: the small ones are 0.
TEST(Variant, NumbersBelowTheSmallestDoubleAreZeroAndAboveTheLargestOverflow) {
    std::u16string tiny = u"0." + std::u16string(400, u'0') + u"1";
    std::u16string large = std::u16string(400, u'9') + u".5";
    struct Row {
        std::u16string text;
        HRESULT expected;
    } rows[] = {{tiny, S_OK},
                {u"-" + tiny, S_OK},
                {u"1e-400", S_OK},
                {u"0.01e-330", S_OK},
                {u"1e-99999999999999999999", S_OK},
                {large, DISP_E_OVERFLOW},
                {u"0.1e400", DISP_E_OVERFLOW},
                {u"1e99999999999999999999", DISP_E_OVERFLOW}};
    for (const Row& row : rows) {
        Var s, out;
        makeString(s, row.text.c_str());
        EXPECT_EQ(change(out, s, VT_R8), row.expected) << row.text.size();
        if (row.expected == S_OK) {
            EXPECT_EQ(out.dblVal, 0.0);
        }
    }
}

TEST(Variant, BooleansConvertAsMinusOneAndZero) {
    Var t, asInt, asText, alpha;
    t.vt = VT_BOOL;
    t.boolVal = VARIANT_TRUE;
    ASSERT_EQ(change(asInt, t, VT_I4), S_OK);
    EXPECT_EQ(asInt.lVal, -1);
    ASSERT_EQ(change(asText, t, VT_BSTR), S_OK);
    EXPECT_EQ(std::u16string(asText.bstrVal), u"-1");
    ASSERT_EQ(change(alpha, t, VT_BSTR, VARIANT_ALPHABOOL), S_OK);
    EXPECT_EQ(std::u16string(alpha.bstrVal), u"True");
    Var two, b, word, fromWord;
    two.vt = VT_R8;
    two.dblVal = 0.25;
    ASSERT_EQ(change(b, two, VT_BOOL), S_OK);
    EXPECT_EQ(b.boolVal, VARIANT_TRUE);
    makeString(word, u"False");
    ASSERT_EQ(change(fromWord, word, VT_BOOL), S_OK);
    EXPECT_EQ(fromWord.boolVal, VARIANT_FALSE);
}

TEST(Variant, EmptyBecomesZeroOrEmptyStringAndErrorsDoNotConvert) {
    Var empty, zero, text;
    ASSERT_EQ(change(zero, empty, VT_R8), S_OK);
    EXPECT_EQ(zero.dblVal, 0.0);
    ASSERT_EQ(change(text, empty, VT_BSTR), S_OK);
    EXPECT_EQ(SysStringLen(text.bstrVal), 0u);
    Var err, out;
    err.vt = VT_ERROR;
    err.scode = DISP_E_PARAMNOTFOUND;
    EXPECT_EQ(change(out, err, VT_R8), DISP_E_TYPEMISMATCH);
    Var null, out2;
    null.vt = VT_NULL;
    EXPECT_EQ(change(out2, null, VT_I4), DISP_E_TYPEMISMATCH);
}

TEST(Variant, ByReferenceSourcesAreReadThroughTheirPointer) {
    double value = 4.75;
    Var ref, out;
    ref.vt = VT_R8 | VT_BYREF;
    ref.pdblVal = &value;
    ASSERT_EQ(change(out, ref, VT_I4), S_OK);
    EXPECT_EQ(out.lVal, 5);
    Var copy;
    ASSERT_EQ(VariantCopyInd(&copy, &ref), S_OK);
    EXPECT_EQ(copy.vt, VT_R8);
    EXPECT_EQ(copy.dblVal, 4.75);
    Var toRef;
    EXPECT_EQ(change(toRef, out, VT_R8 | VT_BYREF), DISP_E_BADVARTYPE);
}

TEST(Variant, ChangingTypeInPlaceReplacesTheSource) {
    Var v;
    makeString(v, u"12");
    ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I2), S_OK);
    EXPECT_EQ(v.vt, VT_I2);
    EXPECT_EQ(v.iVal, 12);
}

TEST(Variant, CopyOfAnArrayIsDeepAndClearingFreesIt) {
    Var a, b;
    a.vt = VT_ARRAY | VT_R8;
    a.parray = SafeArrayCreateVector(VT_R8, 0, 3);
    LONG i = 2;
    double v = 9;
    SafeArrayPutElement(a.parray, &i, &v);
    ASSERT_EQ(VariantCopy(&b, &a), S_OK);
    EXPECT_NE(b.parray, a.parray);
    double got = 0;
    SafeArrayGetElement(b.parray, &i, &got);
    EXPECT_EQ(got, 9);
    Var same;
    ASSERT_EQ(change(same, a, VT_ARRAY | VT_R8), S_OK);
    Var wrong;
    EXPECT_EQ(change(wrong, a, VT_R8), DISP_E_TYPEMISMATCH);
}

TEST(Variant, UnknownTypeTagsAreRefused) {
    VARIANT v;
    VariantInit(&v);
    v.vt = 0x0FFF;
    EXPECT_EQ(VariantClear(&v), DISP_E_BADVARTYPE);
    Var out;
    EXPECT_EQ(VariantChangeType(&out, &v, 0, VT_I4), DISP_E_BADVARTYPE);
}

} // namespace
