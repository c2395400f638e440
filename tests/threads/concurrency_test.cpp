// tests/threads/concurrency_test.cpp: the frame and the registry used from many
// threads at once
//
// Built as well under ThreadSanitizer by the test command: these are the places
// where threads meet (the cached class factories made on first use, the module's
// lock count, the registry's handle table and its store).

#include "tests/support/registry_fixture.h"

#include "orvik/orvik_i.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

extern "C" HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv);
extern "C" HRESULT DllCanUnloadNow();

namespace orvik::testing {
namespace {

constexpr int kThreads = 4;

// Every thread asks for every class's factory at the same moment, so that the first
// request for each races with the others; each factory is made once and every
// object made through it counts.
TEST(Concurrency, ThreadsMakingObjectsOfEveryClassAtOnceLeaveNothingBehind) {
    const CLSID* classes[] = {&CLSID_Point,          &CLSID_Vector,         &CLSID_Axis,
                              &CLSID_Matrix,         &CLSID_Plane,          &CLSID_BoundingBox,
                              &CLSID_AreaProperties, &CLSID_MassProperties, &CLSID_Length,
                              &CLSID_Angle,          &CLSID_Option,         &CLSID_RgbData};
    std::atomic<int> failures{0};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            while (!go)
                std::this_thread::yield();
            for (int round = 0; round < 50; ++round)
                for (const CLSID* clsid : classes) {
                    Ref<IClassFactory> factory;
                    Ref<IUnknown> object;
                    if (FAILED(DllGetClassObject(*clsid, IID_IClassFactory, factory.putVoid())) ||
                        FAILED(factory->CreateInstance(nullptr, IID_IUnknown, object.putVoid())))
                        ++failures;
                }
        });
    go = true;
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(DllCanUnloadNow(), S_OK);
}

using ConcurrentRegistry = RegistryTest;

// Threads of one process share the registry's handle table and its store.
TEST_F(ConcurrentRegistry, ThreadsWritingAndReadingKeysAtOnceAllSucceed) {
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                std::string path = "Threads\\t" + std::to_string(t) + "\\k" + std::to_string(i);
                RegKey key;
                std::string read;
                if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                                    nullptr, key.put(), nullptr) != ERROR_SUCCESS ||
                    RegSetValueExA(key.get(), "v", 0, REG_SZ,
                                   reinterpret_cast<const BYTE*>(path.c_str()),
                                   DWORD(path.size() + 1)) != ERROR_SUCCESS ||
                    regQueryString(HKEY_CURRENT_USER, path.c_str(), "v", read) != ERROR_SUCCESS ||
                    read != path)
                    ++failures;
            }
        });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(failures, 0);
    std::vector<std::string> names;
    RegKey parent;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Threads", 0, KEY_READ, parent.put()),
              ERROR_SUCCESS);
    ASSERT_EQ(regSubkeyNames(parent.get(), names), ERROR_SUCCESS);
    EXPECT_EQ(names.size(), size_t(kThreads));
}

} // namespace
} // namespace orvik::testing
