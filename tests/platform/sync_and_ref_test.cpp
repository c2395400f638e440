// tests/platform/sync_and_ref_test.cpp: critical sections, interlocked counts, Ref<I>

#include "orvik/platform.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace {

TEST(CriticalSection, IsReentrantForItsHolder) {
    CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    bool otherGotIt = true;
    std::thread([&] { otherGotIt = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(otherGotIt);
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    std::thread([&] {
        otherGotIt = TryEnterCriticalSection(&cs);
        if (otherGotIt)
            LeaveCriticalSection(&cs);
    }).join();
    EXPECT_TRUE(otherGotIt);
    DeleteCriticalSection(&cs);
}

TEST(Interlocked, CountsFromManyThreadsAddUp) {
    LONG count = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                InterlockedIncrement(&count);
                InterlockedIncrement(&count);
                InterlockedDecrement(&count);
            }
        });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(count, 40000);
    EXPECT_EQ(InterlockedExchange(&count, 7), 40000);
    EXPECT_EQ(count, 7);
}

// An IUnknown that counts references and records its release.
struct CountedObject : IUnknown {
    ULONG refs = 1;
    bool released = false;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (riid != IID_IUnknown)
            return E_NOINTERFACE;
        *ppv = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override {
        if (--refs == 0)
            released = true;
        return refs;
    }
};

TEST(Ref, CopiesCountMovesHandOverAndDestructionReleases) {
    CountedObject obj;
    {
        auto a = orvik::Ref<IUnknown>::adopt(&obj);
        EXPECT_EQ(obj.refs, 1u);
        orvik::Ref<IUnknown> b = a;
        EXPECT_EQ(obj.refs, 2u);
        orvik::Ref<IUnknown> c = std::move(b);
        EXPECT_FALSE(b);
        EXPECT_EQ(obj.refs, 2u);
        c.reset();
        EXPECT_EQ(obj.refs, 1u);
    }
    EXPECT_TRUE(obj.released);
}

TEST(Ref, PutAdoptsWhatACalleeFillsAndDetachGivesItAway) {
    CountedObject obj;
    orvik::Ref<IUnknown> holder = orvik::Ref<IUnknown>::adopt(&obj);
    orvik::Ref<IUnknown> queried;
    ASSERT_EQ(holder.query(queried), S_OK);
    EXPECT_EQ(obj.refs, 2u);
    orvik::Ref<IDispatch> refused;
    EXPECT_EQ(holder.query(refused), E_NOINTERFACE);
    EXPECT_FALSE(refused);
    IUnknown* raw = queried.detach();
    EXPECT_EQ(obj.refs, 2u);
    raw->Release();
    holder.reset();
    EXPECT_TRUE(obj.released);
}

} // namespace
