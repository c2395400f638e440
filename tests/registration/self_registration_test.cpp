// tests/registration/self_registration_test.cpp: the module registers and
// unregisters itself through its exported entry points, into a store of the test's
// own
//
// Each test loads the built module file, or a copy of it placed or altered for the
// case, the way a registration tool does, and reads the store back key by key
// against the registry entries every class must leave.

#include "tests/support/registry_fixture.h"

#include "orvik/orvik_i.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/stat.h>

namespace orvik::testing {
namespace {

using EntryPoint = HRESULT (*)();

struct ClassRow {
    const char* name;
    const char* clsid;
};
const ClassRow kClasses[] = {
    {"Point", "{283075AE-B177-11D3-BE8E-0060B0EB1D67}"},
    {"Vector", "{283075B0-B177-11D3-BE8E-0060B0EB1D67}"},
    {"Axis", "{283075B2-B177-11D3-BE8E-0060B0EB1D67}"},
    {"Matrix", "{283075B4-B177-11D3-BE8E-0060B0EB1D67}"},
    {"BoundingBox", "{283075B6-B177-11D3-BE8E-0060B0EB1D67}"},
    {"AreaProperties", "{283075B8-B177-11D3-BE8E-0060B0EB1D67}"},
    {"MassProperties", "{283075BA-B177-11D3-BE8E-0060B0EB1D67}"},
    {"Length", "{1761DDB4-360E-11D4-BDF9-00500400405B}"},
    {"Angle", "{1761DDB6-360E-11D4-BDF9-00500400405B}"},
    {"Plane", "{0279F599-406B-11D4-9348-0000F87597DF}"},
    {"Option", "{C1B0BC4C-4289-11D4-9348-0000F87597DF}"},
    {"RgbData", "{3F5CF182-AC19-11D4-8496-0060B0F53EAC}"},
};
const char kLibid[] = "{283075A1-B177-11D3-BE8E-0060B0EB1D67}";

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeAll(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    ASSERT_TRUE(out.good()) << path;
}

// The default value (name null) or a named value of HKCR\path; "(absent)" when the
// key or value is not there.
std::string valueOf(const std::string& path, const char* name = nullptr) {
    std::string value;
    return regQueryString(HKEY_CLASSES_ROOT, path.c_str(), name, value) == ERROR_SUCCESS
               ? value
               : "(absent)";
}

bool keyExists(const std::string& path) {
    RegKey key;
    return RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) == ERROR_SUCCESS;
}

// A module file loaded to run, with its two registration entry points.
class LoadedModule {
public:
    explicit LoadedModule(const std::string& path) : m_handle(dlopen(path.c_str(), RTLD_NOW)) {
        EXPECT_NE(m_handle, nullptr) << dlerror();
    }
    ~LoadedModule() {
        if (m_handle)
            dlclose(m_handle);
    }
    HRESULT registerServer() { return call("DllRegisterServer"); }
    HRESULT unregisterServer() { return call("DllUnregisterServer"); }

private:
    HRESULT call(const char* entry) {
        auto fn = m_handle ? reinterpret_cast<EntryPoint>(dlsym(m_handle, entry)) : nullptr;
        return fn ? fn() : E_UNEXPECTED;
    }
    void* m_handle;
};

class SelfRegistration : public RegistryTest {
protected:
    void SetUp() override {
        RegistryTest::SetUp();
        char resolved[PATH_MAX];
        ASSERT_NE(realpath(ORVIK_MODULE_PATH, resolved), nullptr);
        m_module = resolved;
    }
    // A copy of the module file at dir/name (dir made as needed), with every `from`
    // in it replaced by `to` (same length).
    std::string copyModule(const std::string& dir, const std::string& name,
                           const std::string& from = "", const std::string& to = "") {
        for (size_t slash = dir.find('/', 1);; slash = dir.find('/', slash + 1)) {
            mkdir(dir.substr(0, slash).c_str(), 0700); // each folder on the way
            if (slash == std::string::npos)
                break;
        }
        std::string bytes = readAll(m_module);
        if (!from.empty()) {
            size_t at = bytes.find(from);
            EXPECT_NE(at, std::string::npos) << "nothing to alter";
            for (; at != std::string::npos; at = bytes.find(from, at + to.size()))
                bytes.replace(at, from.size(), to);
        }
        std::string path = dir + "/" + name;
        writeAll(path, bytes);
        return path;
    }
    static std::string utf16(const std::string& text) {
        std::string out;
        for (char c : text)
            out += {c, '\0'};
        return out;
    }
    void expectClassRegistered(const ClassRow& c, const std::string& modulePath) {
        SCOPED_TRACE(c.name);
        std::string n = c.name, progId = "Orvik." + n + ".1", k = std::string("CLSID\\") + c.clsid;
        EXPECT_EQ(valueOf(progId), n + " Class");
        EXPECT_EQ(valueOf(progId + "\\CLSID"), c.clsid);
        EXPECT_EQ(valueOf("Orvik." + n), n + " Class");
        EXPECT_EQ(valueOf("Orvik." + n + "\\CLSID"), c.clsid);
        EXPECT_EQ(valueOf("Orvik." + n + "\\CurVer"), progId);
        EXPECT_EQ(valueOf(k), n + " Class");
        EXPECT_EQ(valueOf(k + "\\ProgID"), progId);
        EXPECT_EQ(valueOf(k + "\\VersionIndependentProgID"), "Orvik." + n);
        EXPECT_TRUE(keyExists(k + "\\Programmable"));
        EXPECT_EQ(valueOf(k + "\\InprocServer32"), modulePath);
        EXPECT_EQ(valueOf(k + "\\InprocServer32", "ThreadingModel"), "Apartment");
        EXPECT_EQ(valueOf(k + "\\TypeLib"), kLibid);
    }
    std::string m_module;
};

TEST_F(SelfRegistration, RegisteringWritesEveryClassAndTheLibraryAndTwiceIsOnce) {
    LoadedModule module(m_module);
    ASSERT_EQ(module.registerServer(), S_OK);
    for (const ClassRow& c : kClasses)
        expectClassRegistered(c, m_module);
    std::string version = std::string("TypeLib\\") + kLibid + "\\1.0";
    EXPECT_EQ(valueOf(version + "\\409\\win32"), m_module);
    std::string folder = m_module.substr(0, m_module.rfind('/') + 1);
    EXPECT_EQ(valueOf(version + "\\HELPDIR"), folder) << "ends with its separator";

    auto once = dumpRoot(HKEY_CLASSES_ROOT);
    ASSERT_EQ(module.registerServer(), S_OK);
    EXPECT_EQ(dumpRoot(HKEY_CLASSES_ROOT), once);
}

TEST_F(SelfRegistration, UnregisteringTakesBackAllButTheSharedParents) {
    auto before = dumpRoot(HKEY_CLASSES_ROOT);
    LoadedModule module(m_module);
    // Never registered: the scripts pass over what is absent.
    HRESULT unregisteredLibrary = UnRegisterTypeLib(LIBID_ORVIKLib, 1, 0, 0x409, SYS_WIN32);
    EXPECT_EQ(module.unregisterServer(), unregisteredLibrary);
    EXPECT_EQ(dumpRoot(HKEY_CLASSES_ROOT), before);

    ASSERT_EQ(module.registerServer(), S_OK);
    ASSERT_EQ(module.unregisterServer(), S_OK);
    auto expected = before;
    expected["\\CLSID"] = "";
    expected["\\TypeLib"] = "";
    expected["\\Interface"] = "";
    EXPECT_EQ(dumpRoot(HKEY_CLASSES_ROOT), expected);
}

TEST_F(SelfRegistration, AStaleSubkeyUnderAClassKeyIsGone) {
    std::string stale = std::string("CLSID\\") + kClasses[0].clsid + "\\Stale";
    RegKey key;
    ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, stale.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                              key.put(), nullptr),
              ERROR_SUCCESS);
    key = RegKey();
    LoadedModule module(m_module);
    ASSERT_EQ(module.registerServer(), S_OK);
    EXPECT_FALSE(keyExists(stale));
}

TEST_F(SelfRegistration, PathsWithQuotesAndPathsTooLong) {
    // A quote in the folder's name: doubled for the script, stored as it is.
    std::string quoted = copyModule(storeDir() + "/it's here", "liborvik.so");
    {
        LoadedModule module(quoted);
        ASSERT_EQ(module.registerServer(), S_OK);
        expectClassRegistered(kClasses[0], quoted);
    }
    // A path of more than 260 bytes does not fit the buffer the entry point reads it
    // into.
    std::string deep = storeDir() + "/" + std::string(120, 'd') + "/" + std::string(120, 'e');
    std::string longPath = copyModule(deep, "liborvik.so");
    ASSERT_GT(longPath.size(), 260u);
    LoadedModule module(longPath);
    EXPECT_EQ(module.registerServer(), HRESULT(0x8007007AL));
}

TEST_F(SelfRegistration, WithoutItsLibraryResourceTheModuleRegistersTheLibraryBesideIt) {
    // The type name TYPELIB altered in the copy's resources: its scripts remain.
    std::string dir = storeDir() + "/fallback";
    std::string copy = copyModule(dir, "liborvik.so", utf16("TYPELIB"), utf16("TYPELIX"));
    writeAll(dir + "/liborvik.tlb", readAll(ORVIK_TLB_PATH));
    {
        LoadedModule module(copy);
        ASSERT_EQ(module.registerServer(), S_OK);
        EXPECT_EQ(valueOf(std::string("TypeLib\\") + kLibid + "\\1.0\\409\\win32"),
                  dir + "/liborvik.tlb");
        expectClassRegistered(kClasses[11], copy);
    }
    // A name whose ".tlb" would not fit in 260 bytes: E_FAIL, the classes registered.
    std::string longDir = storeDir() + "/" + std::string(200, 'f');
    std::string name(256 - longDir.size() - 1, 'g'); // no extension; the path is 256 bytes
    std::string tight = copyModule(longDir, name, utf16("TYPELIB"), utf16("TYPELIX"));
    ASSERT_EQ(tight.size(), 256u);
    LoadedModule module(tight);
    EXPECT_EQ(module.registerServer(), E_FAIL);
    expectClassRegistered(kClasses[11], tight);
}

TEST_F(SelfRegistration, AClassScriptFailingMidwayStopsTheWalk) {
    // Matrix's script made to name a root that does not exist: a syntax error.
    std::string copy = copyModule(storeDir() + "/broken", "liborvik.so",
                                  "HKCR\r\n{\r\n\tOrvik.Matrix.1", "HKXX\r\n{\r\n\tOrvik.Matrix.1");
    LoadedModule module(copy);
    EXPECT_EQ(module.registerServer(), DISP_E_EXCEPTION);
    for (int i = 0; i < 3; ++i)
        expectClassRegistered(kClasses[i], copy);
    for (int i = 3; i < 12; ++i) {
        EXPECT_FALSE(keyExists(std::string("Orvik.") + kClasses[i].name)) << kClasses[i].name;
        EXPECT_FALSE(keyExists(std::string("CLSID\\") + kClasses[i].clsid)) << kClasses[i].name;
    }
    EXPECT_FALSE(keyExists(std::string("TypeLib\\") + kLibid));
}

} // namespace
} // namespace orvik::testing
