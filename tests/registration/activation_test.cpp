// tests/registration/activation_test.cpp: objects created by class and programmatic
// identifier through the registry, as a client creates them
//
// The module is registered into the test's own store through its entry point, and
// let go again, before anything is created; creation then loads it on its own.

#include "tests/support/registry_fixture.h"

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/utf.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <vector>

namespace orvik::testing {
namespace {

using Clock = std::chrono::steady_clock;

bool moduleLoaded() {
    void* handle = dlopen(ORVIK_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
}

// Asks for the module to go with the shortest delay until it has gone: threads that
// have just ended may still be listed for a moment.
bool unloadsWithin(Clock::duration limit) {
    for (Clock::time_point end = Clock::now() + limit; Clock::now() < end;) {
        CoFreeUnusedLibrariesEx(0, 0);
        if (!moduleLoaded())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// How long the unloading stress runs: ORVIK_STRESS_SECONDS, else briefly.
Clock::duration stressTime() {
    const char* text = std::getenv("ORVIK_STRESS_SECONDS");
    return std::chrono::seconds(text && std::atoi(text) > 0 ? std::atoi(text) : 2);
}

class Activation : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        void* module = dlopen(ORVIK_MODULE_PATH, RTLD_NOW);
        ASSERT_NE(module, nullptr) << dlerror();
        auto registerServer = reinterpret_cast<HRESULT (*)()>(dlsym(module, "DllRegisterServer"));
        ASSERT_EQ(registerServer(), S_OK);
        dlclose(module);
        ASSERT_FALSE(moduleLoaded());
    }
    void TearDown() override {
        EXPECT_TRUE(unloadsWithin(std::chrono::seconds(10))) << "the module stayed loaded";
        RegistryTest::TearDown();
    }
    // A class registered to be served by the file at path.
    static void registerFakeClass(const GUID& clsid, const std::string& path) {
        OLECHAR text[40];
        StringFromGUID2(clsid, text, 40);
        std::string key = "CLSID\\" + utf8Or(text) + "\\InprocServer32";
        RegKey made;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                  made.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(made.get(), nullptr, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(path.c_str()),
                                 DWORD(path.size() + 1)),
                  ERROR_SUCCESS);
    }
};

TEST_F(Activation, IdentifiersNameTheirClassesBothWays) {
    for (const char16_t* progId : {u"Orvik.Point", u"Orvik.Point.1", u"orvik.point"}) {
        CLSID clsid{};
        EXPECT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        EXPECT_TRUE(IsEqualGUID(clsid, CLSID_Point));
    }
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"Orvik.Nothing", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(u"Orvik.Point\\CLSID", &clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(CLSIDFromProgID(nullptr, &clsid), E_INVALIDARG);
    LPOLESTR progId = nullptr;
    ASSERT_EQ(ProgIDFromCLSID(CLSID_RgbData, &progId), S_OK);
    EXPECT_EQ(std::u16string(progId), u"Orvik.RgbData.1");
    CoTaskMemFree(progId);
    EXPECT_EQ(ProgIDFromCLSID(IID_IPoint, &progId), REGDB_E_CLASSNOTREG);
    EXPECT_EQ(progId, nullptr);
}

TEST_F(Activation, ObjectsAreCreatedByIdentifierFromOneLoadAcrossThreads) {
    CLSID clsid{};
    ASSERT_EQ(CLSIDFromProgID(u"Orvik.Point", &clsid), S_OK);
    {
        Ref<IPoint> p;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPoint, p.putVoid()),
                  S_OK);
        ASSERT_EQ(p->Set(1, 2, 3, 0.5), S_OK);
        double x = 0;
        EXPECT_EQ(p->get_X(&x), S_OK);
        EXPECT_EQ(x, 1.0);
        CoFreeUnusedLibrariesEx(0, 0);
        CoFreeUnusedLibrariesEx(0, 0);
        EXPECT_TRUE(moduleLoaded()) << "unloaded under a live object";
    }
    std::vector<std::thread> threads;
    std::vector<HRESULT> failures(4, S_OK);
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 50; ++i) {
                Ref<IVector> v;
                HRESULT hr =
                    CoCreateInstance(CLSID_Vector, nullptr, CLSCTX_ALL, IID_IVector, v.putVoid());
                if (FAILED(hr))
                    failures[size_t(t)] = hr;
            }
        });
    for (std::thread& t : threads)
        t.join();
    for (HRESULT hr : failures)
        EXPECT_EQ(hr, S_OK);
    // One load served every creation: a single unload lets the module go (checked by
    // TearDown).
}

// The module answers that it may go while one thread's release is still running its
// last instructions in it; unloading it then crashes that thread. Only a module that
// has been unused for the delay, with every thread moved on, is unloaded.
TEST_F(Activation, ReleasesInFlightOutliveNoModule) {
    std::atomic<bool> stop{false}, quiet{false};
    std::atomic<HRESULT> failure{S_OK};
    auto release = [&] {
        while (!stop.load(std::memory_order_relaxed)) {
            // Quiet when asked, so that the module may really go now and then.
            if (quiet.load(std::memory_order_relaxed)) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                continue;
            }
            Ref<IPoint> point;
            HRESULT hr = CoCreateInstance(CLSID_Point, nullptr, CLSCTX_INPROC_SERVER, IID_IPoint,
                                          point.putVoid());
            if (FAILED(hr))
                failure = hr;
            point.reset();
        }
    };
    std::vector<std::thread> releasers;
    for (int t = 0; t < 3; ++t)
        releasers.emplace_back(release);
    int unloads = 0;
    for (Clock::time_point end = Clock::now() + stressTime(); Clock::now() < end;) {
        // Unloading asked for while releases run: it must wait for every one of them.
        for (int i = 0; i < 4096; ++i)
            CoFreeUnusedLibrariesEx(0, 0);
        // And in a quiet moment, where it may go.
        quiet = true;
        for (Clock::time_point until = Clock::now() + std::chrono::milliseconds(50);
             moduleLoaded() && Clock::now() < until;)
            CoFreeUnusedLibrariesEx(0, 0);
        if (!moduleLoaded())
            ++unloads;
        quiet = false;
    }
    stop = true;
    for (std::thread& releaser : releasers)
        releaser.join();
    EXPECT_EQ(failure.load(), S_OK);
    EXPECT_GT(unloads, 0) << "the module never went in the quiet moments";
}

TEST_F(Activation, ModulesGoOnlyAfterTheirDelayUnused) {
    constexpr auto kDelay = std::chrono::milliseconds(300);
    std::atomic<Clock::rep> lastRelease{Clock::now().time_since_epoch().count()};
    std::atomic<bool> stop{false}, started{false};
    std::thread releaser([&] {
        // Bursts of objects with pauses shorter than the delay: the module stays.
        for (int burst = 0; burst < 4; ++burst) {
            for (int i = 0; i < 20000; ++i) {
                Ref<IVector> vector;
                CoCreateInstance(CLSID_Vector, nullptr, CLSCTX_INPROC_SERVER, IID_IVector,
                                 vector.putVoid());
                vector.reset();
                lastRelease = Clock::now().time_since_epoch().count();
                started = true;
            }
            std::this_thread::sleep_for(kDelay / 3);
        }
        stop = true;
    });
    while (!started)
        std::this_thread::yield();
    std::vector<Clock::duration> unusedFor;
    for (Clock::time_point end = Clock::now() + std::chrono::seconds(20);
         Clock::now() < end && unusedFor.empty();) {
        CoFreeUnusedLibrariesEx(DWORD(kDelay.count()), 0);
        if (!moduleLoaded())
            unusedFor.push_back(Clock::now().time_since_epoch() -
                                Clock::duration(lastRelease.load()));
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    releaser.join();
    ASSERT_EQ(unusedFor.size(), 1u) << "the module went once it was left alone";
    EXPECT_TRUE(stop.load()) << "the module went between bursts";
    EXPECT_GE(unusedFor[0], kDelay);
}

TEST_F(Activation, TheDefaultDelayKeepsAModuleForItsTime) {
    {
        Ref<IPoint> point;
        ASSERT_EQ(CoCreateInstance(CLSID_Point, nullptr, CLSCTX_INPROC_SERVER, IID_IPoint,
                                   point.putVoid()),
                  S_OK);
    }
    CoFreeUnusedLibraries();
    CoFreeUnusedLibraries();
    EXPECT_TRUE(moduleLoaded()) << "ten minutes have not passed";
    setenv("ORVIK_UNLOAD_DELAY_MS", "50", 1);
    CoFreeUnusedLibraries();
    EXPECT_TRUE(moduleLoaded());
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    CoFreeUnusedLibraries();
    unsetenv("ORVIK_UNLOAD_DELAY_MS");
    EXPECT_FALSE(moduleLoaded());
}

// What creation learned from the registry is not kept past a change to it.
TEST_F(Activation, RegistryChangesAreSeenAtOnce) {
    CLSID clsid{};
    Ref<IPoint> point;
    ASSERT_EQ(CLSIDFromProgID(u"Orvik.Point", &clsid), S_OK);
    ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IPoint, point.putVoid()),
              S_OK);
    point.reset();
    ASSERT_EQ(regDeleteTree(HKEY_CLASSES_ROOT, "Orvik.Point"), ERROR_SUCCESS);
    EXPECT_EQ(CLSIDFromProgID(u"Orvik.Point", &clsid), CO_E_CLASSSTRING);
    ASSERT_EQ(regDeleteTree(HKEY_CLASSES_ROOT, "CLSID\\{283075AE-B177-11D3-BE8E-0060B0EB1D67}"),
              ERROR_SUCCESS);
    EXPECT_EQ(
        CoCreateInstance(CLSID_Point, nullptr, CLSCTX_INPROC_SERVER, IID_IPoint, point.putVoid()),
        REGDB_E_CLASSNOTREG);
    // A class moved to another module file is served from there.
    registerFakeClass(CLSID_Point, storeDir() + "/moved.so");
    EXPECT_EQ(
        CoCreateInstance(CLSID_Point, nullptr, CLSCTX_INPROC_SERVER, IID_IPoint, point.putVoid()),
        CO_E_DLLNOTFOUND);
}

TEST_F(Activation, FailuresCarryTheirOwnCodes) {
    Ref<IUnknown> object;
    GUID unknown{0x12345678, 0x1234, 0x1234, {1, 2, 3, 4, 5, 6, 7, 8}};
    EXPECT_EQ(
        CoCreateInstance(unknown, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()),
        REGDB_E_CLASSNOTREG);
    EXPECT_EQ(
        CoCreateInstance(CLSID_Point, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown, object.putVoid()),
        REGDB_E_CLASSNOTREG)
        << "no server outside the process";
    EXPECT_EQ(
        CoCreateInstance(CLSID_Point, nullptr, CLSCTX_INPROC_SERVER, IID_IMatrix, object.putVoid()),
        E_NOINTERFACE);

    GUID missing = unknown, notAModule = unknown, noEntry = unknown;
    missing.Data1 = 1;
    notAModule.Data1 = 2;
    noEntry.Data1 = 3;
    registerFakeClass(missing, storeDir() + "/missing.so");
    std::string text = storeDir() + "/text.so";
    std::ofstream(text) << "not a module\n";
    registerFakeClass(notAModule, text);
    Dl_info platform{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&CoCreateInstance), &platform), 0);
    registerFakeClass(noEntry, platform.dli_fname); // a library, but no server
    EXPECT_EQ(
        CoCreateInstance(missing, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()),
        CO_E_DLLNOTFOUND);
    EXPECT_EQ(
        CoCreateInstance(notAModule, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()),
        CO_E_DLLNOTFOUND);
    EXPECT_EQ(
        CoCreateInstance(noEntry, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.putVoid()),
        CO_E_ERRORINDLL);
    EXPECT_EQ(CoCreateInstance(CLSID_Point, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, nullptr),
              E_INVALIDARG);
}

TEST(ActivationSetUp, InitializationIsCountedPerThread) {
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_FALSE);
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), RPC_E_CHANGED_MODE);
    std::thread([] {
        EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
        CoUninitialize();
    }).join();
    CoUninitialize();
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK) << "all undone";
    CoUninitialize();
}

} // namespace
} // namespace orvik::testing
