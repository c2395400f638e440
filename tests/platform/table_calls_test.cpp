// tests/platform/table_calls_test.cpp: table entries called in one step
//
// The object is laid out by hand as the platform's binary contract has it: its first
// word points at a table of functions that take the object first.

#include "orvik/platform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

namespace orvik::testing {
namespace {

struct Fake {
    const void* const* table;
    ULONG references = 1;
    HRESULT answer = S_OK; // what every operation answers
    double number = 0;
    int32_t integer = 0;
    Fake* made = nullptr; // what the object operation gives back
};

ULONG STDMETHODCALLTYPE fakeRelease(Fake* self) {
    return --self->references;
}
HRESULT STDMETHODCALLTYPE getDouble(Fake* self, double* out) {
    *out = self->number;
    return self->answer;
}
HRESULT STDMETHODCALLTYPE getShort(Fake* self, int16_t* out) {
    *out = int16_t(self->integer);
    return self->answer;
}
HRESULT STDMETHODCALLTYPE getLong(Fake* self, int32_t* out) {
    *out = self->integer;
    return self->answer;
}
HRESULT STDMETHODCALLTYPE putDouble(Fake* self, double value) {
    self->number = value;
    return self->answer;
}
HRESULT STDMETHODCALLTYPE objectFor(Fake* self, Fake* argument, Fake** out) {
    *out = self->made;
    if (self->made)
        self->made->references += 1;
    self->number = argument ? argument->number : -1;
    return self->answer;
}

enum Slot : UINT { kRelease = 2, kGetDouble = 3, kGetShort, kGetLong, kPutDouble, kObjectFor };
const void* const kTable[] = {nullptr,
                              nullptr,
                              reinterpret_cast<const void*>(&fakeRelease),
                              reinterpret_cast<const void*>(&getDouble),
                              reinterpret_cast<const void*>(&getShort),
                              reinterpret_cast<const void*>(&getLong),
                              reinterpret_cast<const void*>(&putDouble),
                              reinterpret_cast<const void*>(&objectFor)};

TEST(TableCalls, NumbersComeBackWithTheCallsResult) {
    Fake fake{kTable};
    fake.number = 2.5;
    EXPECT_EQ(OrvikTableGetDouble(&fake, kGetDouble), 2.5);
    EXPECT_EQ(OrvikTableCallResult(), S_OK);
    fake.number = std::numeric_limits<double>::quiet_NaN(); // a NaN the object holds
    EXPECT_TRUE(std::isnan(OrvikTableGetDouble(&fake, kGetDouble)));
    EXPECT_EQ(OrvikTableCallResult(), S_OK);
    fake.answer = E_ACCESSDENIED;
    EXPECT_TRUE(std::isnan(OrvikTableGetDouble(&fake, kGetDouble)));
    EXPECT_EQ(OrvikTableCallResult(), E_ACCESSDENIED);

    fake.answer = S_OK;
    fake.integer = -2;
    EXPECT_EQ(OrvikTableGetInteger(&fake, kGetShort, 2), -2); // widened with its sign
    fake.integer = 0x12345678;
    EXPECT_EQ(OrvikTableGetInteger(&fake, kGetLong, 4), 0x12345678);
    EXPECT_EQ(OrvikTableGetInteger(&fake, kGetShort, 2), 0x5678);
    const LONGLONG failed = std::numeric_limits<LONGLONG>::min();
    EXPECT_EQ(OrvikTableGetInteger(&fake, kGetLong, 8), failed);
    EXPECT_EQ(OrvikTableCallResult(), E_INVALIDARG);
    fake.answer = E_FAIL;
    EXPECT_EQ(OrvikTableGetInteger(&fake, kGetLong, 4), failed);
    EXPECT_EQ(OrvikTableCallResult(), E_FAIL);

    EXPECT_TRUE(std::isnan(OrvikTableGetDouble(nullptr, kGetDouble)));
    EXPECT_EQ(OrvikTableCallResult(), E_POINTER);
    EXPECT_EQ(OrvikTableGetInteger(nullptr, kGetLong, 4), failed);
    EXPECT_EQ(OrvikTableCallResult(), E_POINTER);
}

TEST(TableCalls, APutAnswersItsOwnCode) {
    Fake fake{kTable};
    EXPECT_EQ(OrvikTablePutDouble(&fake, kPutDouble, -0.75), S_OK);
    EXPECT_EQ(fake.number, -0.75);
    fake.answer = DISP_E_OVERFLOW;
    EXPECT_EQ(OrvikTablePutDouble(&fake, kPutDouble, 1), DISP_E_OVERFLOW);
    EXPECT_EQ(OrvikTablePutDouble(nullptr, kPutDouble, 1), E_POINTER);
}

TEST(TableCalls, AnObjectForAnObjectHandsItsReferenceOverOrReleasesIt) {
    Fake made{kTable};
    Fake argument{kTable};
    argument.number = 7;
    Fake fake{kTable};
    fake.made = &made;
    EXPECT_EQ(OrvikTableCallForObject(&fake, kObjectFor, &argument), &made);
    EXPECT_EQ(OrvikTableCallResult(), S_OK);
    EXPECT_EQ(fake.number, 7.0) << "the argument reached the operation";
    EXPECT_EQ(made.references, 2u) << "the caller holds the reference now";
    EXPECT_EQ(OrvikTableRelease(&made), 1u);

    fake.answer = E_OUTOFMEMORY; // a failing operation that gave one back anyway
    EXPECT_EQ(OrvikTableCallForObject(&fake, kObjectFor, nullptr), nullptr);
    EXPECT_EQ(OrvikTableCallResult(), E_OUTOFMEMORY);
    EXPECT_EQ(made.references, 1u) << "released, not leaked";

    fake.answer = S_OK;
    fake.made = nullptr;
    EXPECT_EQ(OrvikTableCallForObject(&fake, kObjectFor, nullptr), nullptr);
    EXPECT_EQ(OrvikTableCallResult(), S_OK) << "no object, and no failure";
    EXPECT_EQ(OrvikTableCallForObject(nullptr, kObjectFor, nullptr), nullptr);
    EXPECT_EQ(OrvikTableCallResult(), E_POINTER);
    EXPECT_EQ(OrvikTableRelease(nullptr), 0u);
}

} // namespace
} // namespace orvik::testing
