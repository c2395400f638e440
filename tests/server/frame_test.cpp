// tests/server/frame_test.cpp: class lookup, factories, creation, identity and the
// module lock count

#include "server/fault_injection.h"
#include "tests/support/module_fixture.h"

#include <gtest/gtest.h>

#include <vector>

namespace orvik::testing {
namespace {

const std::vector<const CLSID*> kClasses = {&CLSID_Point, &CLSID_Vector, &CLSID_Axis,
                                            &CLSID_Matrix};

using Frame = ModuleTest;

TEST_F(Frame, EveryClassHandsOutOneCachedFactory) {
    for (const CLSID* clsid : kClasses) {
        Ref<IClassFactory> first, second;
        ASSERT_EQ(DllGetClassObject(*clsid, IID_IClassFactory, first.putVoid()), S_OK);
        ASSERT_EQ(DllGetClassObject(*clsid, IID_IClassFactory, second.putVoid()), S_OK);
        EXPECT_EQ(first.get(), second.get());
        Ref<IUnknown> unknown;
        ASSERT_EQ(DllGetClassObject(*clsid, IID_IUnknown, unknown.putVoid()), S_OK);
        EXPECT_EQ(static_cast<IUnknown*>(first.get()), unknown.get());
    }
}

TEST_F(Frame, FactoryRefusesOtherInterfacesAndStaysCached) {
    Ref<IClassFactory> before;
    ASSERT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, before.putVoid()), S_OK);
    IDispatch* dispatch = reinterpret_cast<IDispatch*>(0x1);
    EXPECT_EQ(DllGetClassObject(CLSID_Point, IID_IDispatch, reinterpret_cast<void**>(&dispatch)),
              E_NOINTERFACE);
    EXPECT_EQ(dispatch, nullptr);
    Ref<IClassFactory> after;
    ASSERT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, after.putVoid()), S_OK);
    EXPECT_EQ(before.get(), after.get());
}

TEST_F(Frame, UnknownClassIsNotAvailableAndANullOutputIsRefused) {
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(DllGetClassObject(IID_IPoint, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, nullptr), E_POINTER);
}

TEST_F(Frame, NewObjectHasOneReferenceAndOneIdentity) {
    Ref<IPoint> point = create<IPoint>(CLSID_Point);
    ASSERT_TRUE(point);
    EXPECT_EQ(point->AddRef(), 2u);
    EXPECT_EQ(point->Release(), 1u);
    Ref<IUnknown> unknown;
    Ref<IDispatch> dispatch;
    Ref<IPoint> again;
    ASSERT_EQ(point.query(unknown), S_OK);
    ASSERT_EQ(point.query(dispatch), S_OK);
    ASSERT_EQ(point.query(again), S_OK);
    EXPECT_EQ(static_cast<void*>(unknown.get()), static_cast<void*>(point.get()));
    EXPECT_EQ(static_cast<void*>(dispatch.get()), static_cast<void*>(point.get()));
    EXPECT_EQ(again.get(), point.get());
    Ref<IVector> wrong;
    EXPECT_EQ(point.query(wrong), E_NOINTERFACE);
    EXPECT_FALSE(wrong);
    EXPECT_EQ(point->QueryInterface(IID_IPoint, nullptr), E_POINTER);
    EXPECT_EQ(point->AddRef(), 5u) << "the queries above still hold three references";
    point->Release();
}

TEST_F(Frame, CreateInstanceRefusesAggregationForAnythingButIUnknown) {
    Ref<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, factory.putVoid()), S_OK);
    Ref<IPoint> outer = create<IPoint>(CLSID_Point);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(outer.get(), IID_IPoint, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IPoint, nullptr), E_POINTER);
}

TEST_F(Frame, RefusedInterfaceOnCreationLeavesNoObjectAndNoLock) {
    Ref<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, factory.putVoid()), S_OK);
    Ref<IVector> vector;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IVector, vector.putVoid()), E_NOINTERFACE);
    EXPECT_FALSE(vector);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(Frame, UnloadIsAllowedExactlyWhenNothingHoldsTheModule) {
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
    {
        Ref<IPoint> point = create<IPoint>(CLSID_Point);
        EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);

    Ref<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_Vector, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);
    EXPECT_EQ(factory->AddRef(), 3u) << "the class table, the client, and this AddRef";
    EXPECT_EQ(factory->Release(), 2u);
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    IClassFactory* raw = factory.get();
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "the server lock still holds";
    Ref<IClassFactory> again;
    ASSERT_EQ(DllGetClassObject(CLSID_Vector, IID_IClassFactory, again.putVoid()), S_OK);
    EXPECT_EQ(again.get(), raw) << "the class table kept the factory";
    EXPECT_EQ(again->LockServer(FALSE), S_OK);
    again.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(Frame, UnpairedServerUnlockKeepsTheModuleUntilItIsMatched) {
    Ref<IClassFactory> factory;
    ASSERT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE) << "a count below zero is not zero";
    ASSERT_EQ(DllGetClassObject(CLSID_Point, IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    factory.reset();
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

TEST_F(Frame, ResultObjectsCarryExactlyOneReference) {
    Ref<IPoint> point = create<IPoint>(CLSID_Point);
    Ref<IVector> vector = create<IVector>(CLSID_Vector);
    IPoint* sum = nullptr;
    ASSERT_EQ(point->Add(vector.get(), &sum), S_OK);
    EXPECT_EQ(sum->Release(), 0u);
}

// Each acquisition the frame makes (factory, its two locks, the object) fails in
// turn; every failure ends in E_OUTOFMEMORY with nothing made, and a later request
// succeeds.
TEST_F(Frame, EveryAcquisitionFailureEndsCleanlyAndIsRetried) {
    const CLSID* classes[] = {&CLSID_Point, &CLSID_Vector};
    for (const CLSID* clsid : classes) {
        // The class table may already hold this class's factory from an earlier test;
        // a fresh lookup then makes only the object.
        for (int n = 1;; ++n) {
            fault::failAcquisition(n);
            Ref<IClassFactory> factory;
            HRESULT hr = DllGetClassObject(*clsid, IID_IClassFactory, factory.putVoid());
            Ref<IUnknown> object;
            if (SUCCEEDED(hr))
                hr = factory->CreateInstance(nullptr, IID_IUnknown, object.putVoid());
            bool failed = fault::fired();
            fault::failAcquisition(0);
            if (!failed) {
                EXPECT_EQ(hr, S_OK);
                EXPECT_TRUE(object);
                break;
            }
            EXPECT_EQ(hr, E_OUTOFMEMORY) << "acquisition " << n;
            EXPECT_FALSE(object);
            factory.reset();
            EXPECT_EQ(DllCanUnloadNow(), S_OK) << "acquisition " << n;
            ASSERT_LT(n, 10);
        }
    }
}

TEST_F(Frame, ResultThatCannotBeMadeLeavesTheOutputEmpty) {
    Ref<IPoint> point = create<IPoint>(CLSID_Point);
    Ref<IVector> vector = create<IVector>(CLSID_Vector);
    fault::failAcquisition(1);
    IPoint* sum = reinterpret_cast<IPoint*>(0x1);
    EXPECT_EQ(point->Add(vector.get(), &sum), E_OUTOFMEMORY);
    EXPECT_EQ(sum, nullptr);
    fault::failAcquisition(2);
    IVector* y = reinterpret_cast<IVector*>(0x1);
    IVector* z = reinterpret_cast<IVector*>(0x1);
    EXPECT_EQ(vector->Axes(&y, &z), E_OUTOFMEMORY) << "the second of the two fails";
    EXPECT_EQ(y, nullptr);
    EXPECT_EQ(z, nullptr);
    fault::failAcquisition(0);
}

TEST_F(Frame, DispatchSlotsAnswerTheCountAndReportTheUnregisteredLibrary) {
    Ref<IPoint> point = create<IPoint>(CLSID_Point);
    UINT count = 0;
    EXPECT_EQ(point->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(point->GetTypeInfoCount(nullptr), E_POINTER);
    ITypeInfo* info = reinterpret_cast<ITypeInfo*>(0x1);
    EXPECT_EQ(point->GetTypeInfo(0, 0, &info), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(info, nullptr);
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(u"X");
    EXPECT_EQ(point->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    EXPECT_EQ(point->Invoke(1, IID_NULL, 0, DISPATCH_PROPERTYGET, &none, nullptr, nullptr, nullptr),
              TYPE_E_LIBNOTREGISTERED);
}

} // namespace
} // namespace orvik::testing
