// tests/platform/safearray_test.cpp: bounds, element access and ownership of safe arrays

#include "orvik/platform.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

struct ArrayDeleter {
    void operator()(SAFEARRAY* psa) const { EXPECT_EQ(SafeArrayDestroy(psa), S_OK); }
};
using ArrayPtr = std::unique_ptr<SAFEARRAY, ArrayDeleter>;

TEST(SafeArray, VectorHasOneDimensionWithItsBoundsAndElementSize) {
    ArrayPtr a(SafeArrayCreateVector(VT_R8, 5, 3));
    ASSERT_TRUE(a);
    LONG lo = 0, hi = 0;
    EXPECT_EQ(SafeArrayGetDim(a.get()), 1u);
    EXPECT_EQ(SafeArrayGetLBound(a.get(), 1, &lo), S_OK);
    EXPECT_EQ(SafeArrayGetUBound(a.get(), 1, &hi), S_OK);
    EXPECT_EQ(lo, 5);
    EXPECT_EQ(hi, 7);
    EXPECT_EQ(SafeArrayGetElemsize(a.get()), 8u);
    VARTYPE vt = 0;
    EXPECT_EQ(SafeArrayGetVartype(a.get(), &vt), S_OK);
    EXPECT_EQ(vt, VT_R8);
}

TEST(SafeArray, IndicesAreAbsoluteBetweenTheBounds) {
    ArrayPtr a(SafeArrayCreateVector(VT_R8, -2, 3));
    for (LONG i = -2; i <= 0; ++i) {
        double v = i * 1.5;
        ASSERT_EQ(SafeArrayPutElement(a.get(), &i, &v), S_OK);
    }
    for (LONG i = -2; i <= 0; ++i) {
        double v = 0;
        ASSERT_EQ(SafeArrayGetElement(a.get(), &i, &v), S_OK);
        EXPECT_EQ(v, i * 1.5);
    }
    double v = 42;
    for (LONG bad : {-3, 1, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(SafeArrayPutElement(a.get(), &bad, &v), DISP_E_BADINDEX) << bad;
        EXPECT_EQ(SafeArrayGetElement(a.get(), &bad, &v), DISP_E_BADINDEX) << bad;
    }
    EXPECT_EQ(v, 42);
}

TEST(SafeArray, MissingArrayOrBadDimensionIsRefused) {
    LONG i = 0;
    double v = 0;
    LONG bound = 0;
    EXPECT_EQ(SafeArrayGetDim(nullptr), 0u);
    EXPECT_EQ(SafeArrayPutElement(nullptr, &i, &v), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetElement(nullptr, &i, &v), E_INVALIDARG);
    EXPECT_EQ(SafeArrayGetLBound(nullptr, 1, &bound), E_INVALIDARG);
    ArrayPtr a(SafeArrayCreateVector(VT_R8, 0, 3));
    EXPECT_EQ(SafeArrayGetLBound(a.get(), 0, &bound), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetUBound(a.get(), 2, &bound), DISP_E_BADINDEX);
    EXPECT_EQ(SafeArrayGetLBound(a.get(), 1, nullptr), E_INVALIDARG);
    EXPECT_EQ(SafeArrayCreateVector(VT_EMPTY, 0, 3), nullptr);
    EXPECT_EQ(SafeArrayCreate(VT_R8, 0, nullptr), nullptr);
}

TEST(SafeArray, BoundsWhoseLastIndexIsNoLongAreRefused) {
    EXPECT_EQ(SafeArrayCreateVector(VT_R8, INT32_MAX, 3), nullptr);
    EXPECT_EQ(SafeArrayCreateVector(VT_R8, INT32_MAX - 1, 3), nullptr);
    SAFEARRAY* last = SafeArrayCreateVector(VT_R8, INT32_MAX - 2, 3);
    ASSERT_NE(last, nullptr);
    LONG upper = 0;
    EXPECT_EQ(SafeArrayGetUBound(last, 1, &upper), S_OK);
    EXPECT_EQ(upper, INT32_MAX);
    SafeArrayDestroy(last);
    SAFEARRAYBOUND second[2] = {{2, 0}, {2, INT32_MAX}};
    EXPECT_EQ(SafeArrayCreate(VT_I4, 2, second), nullptr);
    SAFEARRAY* empty = SafeArrayCreateVector(VT_R8, INT32_MAX, 0);
    EXPECT_NE(empty, nullptr) << "no element, no index to wrap";
    SafeArrayDestroy(empty);
}

// What creation accepts, copying accepts too.
TEST(SafeArray, ArraysOfManyDimensionsCopy) {
    std::vector<SAFEARRAYBOUND> bounds(100, SAFEARRAYBOUND{1, 0});
    bounds[3] = {2, -1};
    SAFEARRAY* many = SafeArrayCreate(VT_I4, UINT(bounds.size()), bounds.data());
    ASSERT_NE(many, nullptr);
    std::vector<LONG> index(100, 0);
    index[3] = 0;
    LONG value = 42;
    ASSERT_EQ(SafeArrayPutElement(many, index.data(), &value), S_OK);
    SAFEARRAY* copy = nullptr;
    ASSERT_EQ(SafeArrayCopy(many, &copy), S_OK);
    EXPECT_EQ(SafeArrayGetDim(copy), 100u);
    LONG read = 0;
    EXPECT_EQ(SafeArrayGetElement(copy, index.data(), &read), S_OK);
    EXPECT_EQ(read, 42);
    SafeArrayDestroy(copy);
    SafeArrayDestroy(many);
}

TEST(SafeArray, TwoDimensionalArrayReportsEachDimensionAndAddressesEveryCell) {
    SAFEARRAYBOUND bounds[2] = {{3, 1}, {2, 10}}; // dimension 1: 1..3, dimension 2: 10..11
    ArrayPtr a(SafeArrayCreate(VT_I4, 2, bounds));
    ASSERT_TRUE(a);
    LONG lo = 0, hi = 0;
    SafeArrayGetLBound(a.get(), 1, &lo);
    SafeArrayGetUBound(a.get(), 1, &hi);
    EXPECT_EQ(lo, 1);
    EXPECT_EQ(hi, 3);
    SafeArrayGetLBound(a.get(), 2, &lo);
    SafeArrayGetUBound(a.get(), 2, &hi);
    EXPECT_EQ(lo, 10);
    EXPECT_EQ(hi, 11);
    for (LONG i = 1; i <= 3; ++i)
        for (LONG j = 10; j <= 11; ++j) {
            LONG idx[2] = {i, j};
            LONG v = i * 100 + j;
            ASSERT_EQ(SafeArrayPutElement(a.get(), idx, &v), S_OK);
        }
    for (LONG i = 1; i <= 3; ++i)
        for (LONG j = 10; j <= 11; ++j) {
            LONG idx[2] = {i, j};
            LONG v = 0;
            ASSERT_EQ(SafeArrayGetElement(a.get(), idx, &v), S_OK);
            EXPECT_EQ(v, i * 100 + j);
        }
    LONG outside[2] = {1, 12};
    LONG v = 0;
    EXPECT_EQ(SafeArrayGetElement(a.get(), outside, &v), DISP_E_BADINDEX);
}

TEST(SafeArray, DestroyingAnAccessedArrayIsRefusedUntilItIsReleased) {
    SAFEARRAY* a = SafeArrayCreateVector(VT_R8, 0, 2);
    void* data = nullptr;
    ASSERT_EQ(SafeArrayAccessData(a, &data), S_OK);
    static_cast<double*>(data)[1] = 7.5;
    EXPECT_EQ(SafeArrayDestroy(a), DISP_E_ARRAYISLOCKED);
    EXPECT_EQ(SafeArrayUnaccessData(a), S_OK);
    EXPECT_EQ(SafeArrayUnaccessData(a), E_UNEXPECTED);
    LONG i = 1;
    double v = 0;
    EXPECT_EQ(SafeArrayGetElement(a, &i, &v), S_OK);
    EXPECT_EQ(v, 7.5);
    EXPECT_EQ(SafeArrayDestroy(a), S_OK);
}

TEST(SafeArray, StringArraysCopyInAndOutAndFreeTheirElements) {
    ArrayPtr a(SafeArrayCreateVector(VT_BSTR, 0, 2));
    BSTR s = SysAllocString(u"hello");
    LONG i = 1;
    ASSERT_EQ(SafeArrayPutElement(a.get(), &i, s), S_OK);
    SysFreeString(s); // the array holds its own copy
    BSTR out = nullptr;
    ASSERT_EQ(SafeArrayGetElement(a.get(), &i, &out), S_OK);
    EXPECT_EQ(std::u16string(out), u"hello");
    SysFreeString(out);
    ArrayPtr copy;
    SAFEARRAY* raw = nullptr;
    ASSERT_EQ(SafeArrayCopy(a.get(), &raw), S_OK);
    copy.reset(raw);
    ASSERT_EQ(SafeArrayGetElement(copy.get(), &i, &out), S_OK);
    EXPECT_EQ(std::u16string(out), u"hello");
    SysFreeString(out);
}

} // namespace
