// tests/server/aggregation_test.cpp: every class in both forms, and the identity and
// counting of the aggregated form seen by a recording outer object

#include "tests/support/class_cases.h"
#include "tests/support/module_fixture.h"
#include "tests/support/recording_doubles.h"

#include "server/fault_injection.h"

#include <gtest/gtest.h>

namespace orvik::testing {
namespace {

// An outer object that aggregates one inner object: it answers IUnknown itself and
// passes every other request to the aggregate's own IUnknown, recording each call.
class RecordingOuter : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        calls.push_back("QueryInterface");
        lastQueried = iid;
        if (!ppv)
            return E_POINTER;
        if (IsEqualGUID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return aggregate ? aggregate->QueryInterface(iid, ppv) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override {
        calls.push_back("AddRef");
        return ++refs;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        calls.push_back("Release");
        return --refs;
    }

    IUnknown* aggregate = nullptr; // the inner object's non-delegating IUnknown
    ULONG refs = 1;
    CallLog calls;
    IID lastQueried{};
};

class EveryClass : public ModuleTest, public ::testing::WithParamInterface<ClassCase> {
protected:
    Ref<IClassFactory> factory() {
        Ref<IClassFactory> f;
        EXPECT_EQ(DllGetClassObject(*GetParam().clsid, IID_IClassFactory, f.putVoid()), S_OK);
        return f;
    }
};

TEST_P(EveryClass, StandaloneObjectStartsFreshAndWorks) {
    Ref<IUnknown> object;
    ASSERT_EQ(factory()->CreateInstance(nullptr, *GetParam().iid, object.putVoid()), S_OK);
    GetParam().checkFresh(object.get());
    GetParam().exercise(object.get());
}

TEST_P(EveryClass, AggregateHasItsOwnIdentityAndCount) {
    RecordingOuter outer;
    IUnknown* aggregate = nullptr;
    ASSERT_EQ(factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&aggregate)),
              S_OK);
    ASSERT_NE(aggregate, nullptr);
    EXPECT_TRUE(outer.calls.empty()) << "making the aggregate does not touch the outer object";
    EXPECT_EQ(DllCanUnloadNow(), S_FALSE);

    IUnknown* same = nullptr;
    ASSERT_EQ(aggregate->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&same)), S_OK);
    EXPECT_EQ(same, aggregate);
    EXPECT_EQ(aggregate->AddRef(), 3u) << "created with 1, the query above made it 2";
    EXPECT_EQ(aggregate->Release(), 2u);
    EXPECT_EQ(same->Release(), 1u);

    void* wrongClass = reinterpret_cast<void*>(0x1);
    const IID& other = IsEqualGUID(*GetParam().iid, IID_IPoint) ? IID_IVector : IID_IPoint;
    EXPECT_EQ(aggregate->QueryInterface(other, &wrongClass), E_NOINTERFACE);
    EXPECT_EQ(wrongClass, nullptr);
    EXPECT_TRUE(outer.calls.empty());

    EXPECT_EQ(aggregate->Release(), 0u);
}

TEST_P(EveryClass, InnerInterfaceDelegatesIdentityAndCountingToTheOuterObject) {
    RecordingOuter outer;
    ASSERT_EQ(
        factory()->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.aggregate)),
        S_OK);
    void* inner = nullptr;
    ASSERT_EQ(outer.aggregate->QueryInterface(*GetParam().iid, &inner), S_OK);
    EXPECT_NE(inner, static_cast<void*>(outer.aggregate));
    EXPECT_EQ(outer.calls, CallLog{"AddRef"}) << "the inner AddRef reaches the outer count";
    EXPECT_EQ(outer.refs, 2u);
    EXPECT_EQ(outer.aggregate->AddRef(), 2u) << "the aggregate's own count did not move";
    outer.aggregate->Release();

    auto* unknown = static_cast<IUnknown*>(inner);
    outer.calls.clear();
    EXPECT_EQ(unknown->AddRef(), 3u);
    EXPECT_EQ(unknown->Release(), 2u);
    EXPECT_EQ(outer.calls, (CallLog{"AddRef", "Release"}));

    IUnknown* identity = nullptr;
    EXPECT_EQ(unknown->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer)) << "the outer object gives the identity";
    identity->Release();
    void* dispatch = nullptr;
    EXPECT_EQ(unknown->QueryInterface(IID_IDispatch, &dispatch), S_OK);
    EXPECT_TRUE(IsEqualGUID(outer.lastQueried, IID_IDispatch));
    EXPECT_EQ(dispatch, inner) << "IDispatch is the inner object itself";
    static_cast<IUnknown*>(dispatch)->Release();

    // Operations run the same bodies as on a standalone object.
    GetParam().checkFresh(inner);
    GetParam().exercise(inner);
    UINT count = 0;
    EXPECT_EQ(static_cast<IDispatch*>(dispatch)->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);

    unknown->Release();
    EXPECT_EQ(outer.refs, 1u);
    EXPECT_EQ(outer.aggregate->Release(), 0u) << "the last release of the aggregate destroys it";
    EXPECT_EQ(outer.refs, 1u) << "nothing is released on the outer object";
}

TEST_P(EveryClass, AggregateThatCannotBeMadeLocksNothing) {
    RecordingOuter outer;
    Ref<IClassFactory> f = factory();
    orvik::fault::failAcquisition(1);
    void* out = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(f->CreateInstance(&outer, IID_IUnknown, &out), E_OUTOFMEMORY);
    orvik::fault::failAcquisition(0);
    EXPECT_EQ(out, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Classes, EveryClass, ::testing::ValuesIn(classCases()),
                         [](const ::testing::TestParamInfo<ClassCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(ClassTable, EveryClassIsFoundAndNothingElse) {
    EXPECT_EQ(classCases().size(), 12u);
    for (const ClassCase& c : classCases()) {
        Ref<IClassFactory> f;
        EXPECT_EQ(DllGetClassObject(*c.clsid, IID_IClassFactory, f.putVoid()), S_OK) << c.name;
        Ref<IClassFactory> byInterface;
        EXPECT_EQ(DllGetClassObject(*c.iid, IID_IClassFactory, byInterface.putVoid()),
                  CLASS_E_CLASSNOTAVAILABLE)
            << c.name;
    }
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

} // namespace
} // namespace orvik::testing
