// tests/platform/strings_and_ids_test.cpp: length-prefixed strings and GUID text

#include "orvik/platform.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Bstr, LengthsCountCharactersAndBytesAndNullReadsAsEmpty) {
    BSTR s = SysAllocString(u"Point");
    EXPECT_EQ(SysStringLen(s), 5u);
    EXPECT_EQ(SysStringByteLen(s), 10u);
    EXPECT_EQ(s[5], 0);
    SysFreeString(s);
    EXPECT_EQ(SysStringLen(nullptr), 0u);
    EXPECT_EQ(SysStringByteLen(nullptr), 0u);
    EXPECT_EQ(SysAllocString(nullptr), nullptr);
    SysFreeString(nullptr);
}

TEST(Bstr, LengthGivenStringsKeepEmbeddedZerosAndZeroFillWithoutSource) {
    const char16_t text[] = {u'a', 0, u'b'};
    BSTR s = SysAllocStringLen(text, 3);
    EXPECT_EQ(SysStringLen(s), 3u);
    EXPECT_EQ(s[2], u'b');
    EXPECT_EQ(lstrlenW(s), 1);
    SysFreeString(s);
    BSTR blank = SysAllocStringLen(nullptr, 4);
    EXPECT_EQ(SysStringLen(blank), 4u);
    for (int i = 0; i <= 4; ++i)
        EXPECT_EQ(blank[i], 0);
    SysFreeString(blank);
    BSTR bytes = SysAllocStringByteLen("abc", 3);
    EXPECT_EQ(SysStringByteLen(bytes), 3u);
    EXPECT_EQ(SysStringLen(bytes), 1u);
    SysFreeString(bytes);
}

TEST(Bstr, ReallocationReplacesTheString) {
    BSTR s = SysAllocString(u"old");
    EXPECT_TRUE(SysReAllocString(&s, u"longer text"));
    EXPECT_EQ(std::u16string(s), u"longer text");
    SysFreeString(s);
}

const GUID kPoint = {0x283075AE, 0xB177, 0x11D3, {0xBE, 0x8E, 0x00, 0x60, 0xB0, 0xEB, 0x1D, 0x67}};

TEST(Guid, TextFormRoundTripsInUpperCase) {
    OLECHAR text[CHARS_IN_GUID];
    ASSERT_EQ(StringFromGUID2(kPoint, text, CHARS_IN_GUID), CHARS_IN_GUID);
    EXPECT_EQ(std::u16string(text), u"{283075AE-B177-11D3-BE8E-0060B0EB1D67}");
    CLSID back{};
    ASSERT_EQ(CLSIDFromString(text, &back), S_OK);
    EXPECT_EQ(back, kPoint);
    IID lower{};
    ASSERT_EQ(IIDFromString(u"{283075ae-b177-11d3-be8e-0060b0eb1d67}", &lower), S_OK);
    EXPECT_EQ(lower, kPoint);
    EXPECT_EQ(StringFromGUID2(kPoint, text, CHARS_IN_GUID - 1), 0);
}

TEST(Guid, ComparisonCoversAllSixteenBytes) {
    GUID other = kPoint;
    other.Data4[7] ^= 1;
    EXPECT_NE(other, kPoint);
    EXPECT_FALSE(IsEqualGUID(other, kPoint));
    EXPECT_TRUE(IsEqualGUID(kPoint, kPoint));
}

TEST(Guid, MalformedTextIsRefusedAndLeavesTheOutputAlone) {
    const char16_t* bad[] = {
        u"",
        u"283075AE-B177-11D3-BE8E-0060B0EB1D67",    // no braces
        u"{283075AE-B177-11D3-BE8E-0060B0EB1D6}",   // short
        u"{283075AE-B177-11D3-BE8E-0060B0EB1D677}", // long
        u"{283075AE-B177-11D3-BE8E-0060B0EB1D6G}",  // not hex
        u"{283075AE B177-11D3-BE8E-0060B0EB1D67}",  // missing dash
        u"{283075AE-B177-11D3-BE8E-0060B0EB1D67}x", // trailing text
        u"Orvik.Point",
    };
    for (const char16_t* text : bad) {
        CLSID c = kPoint;
        EXPECT_EQ(CLSIDFromString(text, &c), CO_E_CLASSSTRING);
        EXPECT_EQ(c, kPoint);
        IID i = kPoint;
        EXPECT_EQ(IIDFromString(text, &i), CO_E_IIDSTRING);
    }
    EXPECT_EQ(CLSIDFromString(nullptr, nullptr), E_INVALIDARG);
}

TEST(ResultCodes, PlatformErrorsMapIntoTheWin32Facility) {
    EXPECT_EQ(HRESULT_FROM_WIN32(0), S_OK);
    EXPECT_EQ(HRESULT_FROM_WIN32(2), HRESULT(0x80070002));
    EXPECT_EQ(HRESULT_FROM_WIN32(5), E_ACCESSDENIED);
    EXPECT_EQ(HRESULT_FROM_WIN32(0x12345), HRESULT(0x80072345));
    EXPECT_EQ(HRESULT_FROM_WIN32(-5), HRESULT(-5));
    EXPECT_TRUE(SUCCEEDED(S_FALSE));
    EXPECT_TRUE(FAILED(E_POINTER));
}

} // namespace
