// tests/platform/error_info_test.cpp: the calling thread's error information

#include "orvik/platform.h"
#include "orvik/platform/bstr_holder.h"
#include "orvik/platform/error_description.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <thread>

namespace orvik::testing {
namespace {

Ref<IErrorInfo> makeError(const char16_t* description) {
    Ref<ICreateErrorInfo> created;
    EXPECT_EQ(CreateErrorInfo(created.put()), S_OK);
    EXPECT_EQ(created->SetDescription(const_cast<LPOLESTR>(description)), S_OK);
    Ref<IErrorInfo> info;
    EXPECT_EQ(created->QueryInterface(IID_IErrorInfo, info.putVoid()), S_OK);
    return info;
}

ULONG referencesOf(IUnknown* object) {
    object->AddRef();
    return object->Release();
}

// The identifiers as the platform's documentation writes them.
TEST(ErrorInfo, InterfaceIdentifiersAreThePublishedOnes) {
    IID expected{};
    ASSERT_EQ(IIDFromString(u"{1CF2B120-547D-101B-8E65-08002B2BD119}", &expected), S_OK);
    EXPECT_TRUE(IsEqualGUID(IID_IErrorInfo, expected));
    ASSERT_EQ(IIDFromString(u"{22F03340-547D-101B-8E65-08002B2BD119}", &expected), S_OK);
    EXPECT_TRUE(IsEqualGUID(IID_ICreateErrorInfo, expected));
}

TEST(ErrorInfo, WhatIsSetReadsBackThroughBothInterfaces) {
    Ref<ICreateErrorInfo> created;
    ASSERT_EQ(CreateErrorInfo(created.put()), S_OK);
    GUID guid = IID_IDispatch;
    EXPECT_EQ(created->SetGUID(guid), S_OK);
    EXPECT_EQ(created->SetSource(const_cast<LPOLESTR>(u"Orvik.Test")), S_OK);
    EXPECT_EQ(created->SetHelpFile(nullptr), S_OK);
    EXPECT_EQ(created->SetHelpContext(42), S_OK);
    Ref<IErrorInfo> info;
    ASSERT_EQ(created->QueryInterface(IID_IErrorInfo, info.putVoid()), S_OK);
    Ref<IUnknown> unknown;
    ASSERT_EQ(info->QueryInterface(IID_IUnknown, unknown.putVoid()), S_OK);
    Ref<IDispatch> notOne;
    EXPECT_EQ(info->QueryInterface(IID_IDispatch, notOne.putVoid()), E_NOINTERFACE);

    GUID read{};
    EXPECT_EQ(info->GetGUID(&read), S_OK);
    EXPECT_TRUE(IsEqualGUID(read, IID_IDispatch));
    BstrHolder source, description, helpFile;
    EXPECT_EQ(info->GetSource(source.put()), S_OK);
    EXPECT_EQ(std::u16string(source.get()), u"Orvik.Test");
    // Never set and set to null both read as an empty string, not as null.
    EXPECT_EQ(info->GetDescription(description.put()), S_OK);
    ASSERT_NE(description.get(), nullptr);
    EXPECT_EQ(SysStringLen(description.get()), 0u);
    EXPECT_EQ(info->GetHelpFile(helpFile.put()), S_OK);
    ASSERT_NE(helpFile.get(), nullptr);
    DWORD context = 0;
    EXPECT_EQ(info->GetHelpContext(&context), S_OK);
    EXPECT_EQ(context, 42u);
    EXPECT_EQ(info->GetDescription(nullptr), E_INVALIDARG);
    EXPECT_EQ(CreateErrorInfo(nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, GetHandsTheObjectOverAndLeavesNone) {
    int placeholder = 0;
    auto* none = reinterpret_cast<IErrorInfo*>(&placeholder); // must come back null
    ASSERT_EQ(SetErrorInfo(0, nullptr), S_OK);
    EXPECT_EQ(GetErrorInfo(0, &none), S_FALSE);
    EXPECT_EQ(none, nullptr);

    Ref<IErrorInfo> first = makeError(u"first");
    ASSERT_EQ(SetErrorInfo(0, first.get()), S_OK);
    EXPECT_EQ(referencesOf(first.get()), 2u); // the thread keeps its own reference
    // A second one replaces the first, which the thread lets go.
    ASSERT_EQ(SetErrorInfo(0, makeError(u"second").get()), S_OK);
    EXPECT_EQ(referencesOf(first.get()), 1u);
    EXPECT_EQ(takeErrorDescription(), "second");
    EXPECT_EQ(takeErrorDescription(), "");

    EXPECT_EQ(SetErrorInfo(1, first.get()), E_INVALIDARG);
    EXPECT_EQ(GetErrorInfo(0, nullptr), E_INVALIDARG);
}

TEST(ErrorInfo, EachThreadHasItsOwn) {
    ASSERT_EQ(SetErrorInfo(0, makeError(u"this thread's").get()), S_OK);
    Ref<IErrorInfo> kept = makeError(u"the other thread's");
    std::string seen = "unset";
    std::thread other([&] {
        seen = takeErrorDescription();
        // Left behind when the thread ends: the thread's end lets it go.
        SetErrorInfo(0, kept.get());
    });
    other.join();
    EXPECT_EQ(seen, "");
    EXPECT_EQ(referencesOf(kept.get()), 1u);
    EXPECT_EQ(takeErrorDescription(), "this thread's");
}

} // namespace
} // namespace orvik::testing
