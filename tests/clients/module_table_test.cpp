// tests/clients/module_table_test.cpp: what the loader knows of a module goes with it
//
// Two module files that differ in one resource (a copy of the module whose Matrix
// script names HKXX instead of HKCR) are loaded and unloaded in turn, through
// LoadLibraryExA, through activation and by the dynamic loader directly (as Python's
// ctypes does): whatever address each is mapped at, its resources are its own. The
// loader usually maps the second at the address the first left free.

#include "tests/support/registry_fixture.h"

#include "orvik/orvik_i.h"
#include "orvik/platform.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>

namespace orvik::testing {
namespace {

class ModuleTable : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        std::ifstream in(ORVIK_MODULE_PATH, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        size_t at = bytes.find("HKCR\r\n{\r\n\tOrvik.Matrix.1");
        ASSERT_NE(at, std::string::npos);
        char folder[] = "/tmp/orvik-modules-XXXXXX";
        ASSERT_NE(mkdtemp(folder), nullptr);
        m_folder = folder;
        m_first = m_folder + "/first.so";
        m_second = m_folder + "/second.so";
        std::ofstream(m_first, std::ios::binary) << bytes;
        bytes.replace(at, 4, "HKXX");
        std::ofstream(m_second, std::ios::binary) << bytes;
    }
    void TearDown() override {
        std::remove(m_first.c_str());
        std::remove(m_second.c_str());
        rmdir(m_folder.c_str());
        RegistryTest::TearDown();
    }

    // The first four bytes of the Matrix script of the module mapped at base.
    static std::string matrixRoot(HMODULE base) {
        HRSRC found = FindResourceA(base, MAKEINTRESOURCEA(104), "REGISTRY");
        HGLOBAL data = found ? LoadResource(base, found) : nullptr;
        if (!data || SizeofResource(base, found) < 4)
            return "<none>";
        return std::string(static_cast<const char*>(LockResource(data)), 4);
    }
    // Where the dynamic loader mapped the module it gave handle for.
    static HMODULE mappedBase(void* handle) {
        Dl_info info{};
        void* entry = dlsym(handle, "DllGetClassObject");
        return entry && dladdr(entry, &info) ? static_cast<HMODULE>(info.dli_fbase) : nullptr;
    }

    std::string m_folder, m_first, m_second;
};

TEST_F(ModuleTable, LoadLibraryAndFreeLibrary) {
    HMODULE first = LoadLibraryExA(m_first.c_str(), nullptr, 0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(matrixRoot(first), "HKCR");
    ASSERT_TRUE(FreeLibrary(first));
    HMODULE second = LoadLibraryExA(m_second.c_str(), nullptr, 0);
    ASSERT_NE(second, nullptr);
    RecordProperty("same_address", second == first ? "yes" : "no");
    EXPECT_EQ(matrixRoot(second), "HKXX");
    ASSERT_TRUE(FreeLibrary(second));
}

// A running module's resources are those it was loaded with, even when its file is
// replaced on disk meanwhile (as an update would).
TEST_F(ModuleTable, ResourcesAreReadFromTheMappedModule) {
    HMODULE first = LoadLibraryExA(m_first.c_str(), nullptr, 0);
    ASSERT_NE(first, nullptr);
    ASSERT_EQ(std::rename(m_second.c_str(), m_first.c_str()), 0);
    EXPECT_EQ(matrixRoot(first), "HKCR");
    ASSERT_TRUE(FreeLibrary(first));
}

TEST_F(ModuleTable, LoadedAndUnloadedByTheDynamicLoaderDirectly) {
    void* first = dlopen(m_first.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(first, nullptr);
    HMODULE firstBase = mappedBase(first);
    EXPECT_EQ(matrixRoot(firstBase), "HKCR");
    dlclose(first);
    void* second = dlopen(m_second.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(second, nullptr);
    HMODULE secondBase = mappedBase(second);
    RecordProperty("same_address", secondBase == firstBase ? "yes" : "no");
    EXPECT_EQ(matrixRoot(secondBase), "HKXX");
    dlclose(second);
}

TEST_F(ModuleTable, LoadedByActivationAndUnloadedWhenUnused) {
    HMODULE registering = LoadLibraryExA(m_first.c_str(), nullptr, 0);
    ASSERT_NE(registering, nullptr);
    auto registerServer = reinterpret_cast<HRESULT (*)()>(
        reinterpret_cast<void*>(GetProcAddress(registering, "DllRegisterServer")));
    ASSERT_NE(registerServer, nullptr);
    ASSERT_EQ(registerServer(), S_OK);
    ASSERT_TRUE(FreeLibrary(registering));

    HMODULE firstBase = nullptr;
    {
        Ref<IClassFactory> factory;
        ASSERT_EQ(CoGetClassObject(CLSID_Matrix, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                   factory.putVoid()),
                  S_OK);
        Dl_info info{};
        ASSERT_NE(dladdr(*reinterpret_cast<void**>(factory.get()), &info), 0);
        firstBase = static_cast<HMODULE>(info.dli_fbase);
        EXPECT_EQ(matrixRoot(firstBase), "HKCR");
    }
    CoFreeUnusedLibrariesEx(0, 0);
    Dl_info gone{};
    EXPECT_FALSE(dladdr(firstBase, &gone) && gone.dli_fbase == firstBase &&
                 gone.dli_fname == m_first)
        << "the module is still mapped";

    void* second = dlopen(m_second.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(second, nullptr);
    RecordProperty("same_address", mappedBase(second) == firstBase ? "yes" : "no");
    EXPECT_EQ(matrixRoot(mappedBase(second)), "HKXX");
    dlclose(second);
}

} // namespace
} // namespace orvik::testing
