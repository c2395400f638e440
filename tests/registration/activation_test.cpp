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
#include <fstream>
#include <thread>
#include <vector>

namespace orvik::testing {
namespace {

bool moduleLoaded() {
    void* handle = dlopen(ORVIK_MODULE_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (handle)
        dlclose(handle);
    return handle != nullptr;
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
        CoFreeUnusedLibraries();
        EXPECT_FALSE(moduleLoaded()) << "the module stayed loaded";
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
        CoFreeUnusedLibraries();
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
