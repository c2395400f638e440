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
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <random>
#include <thread>
#include <vector>

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
    // A name whose ".tlb" would not fit in 260 bytes: E_FAIL, and the store as it was
    // (the classes still those of the first copy).
    std::string longDir = storeDir() + "/" + std::string(200, 'f');
    std::string name(256 - longDir.size() - 1, 'g'); // no extension; the path is 256 bytes
    std::string tight = copyModule(longDir, name, utf16("TYPELIB"), utf16("TYPELIX"));
    ASSERT_EQ(tight.size(), 256u);
    LoadedModule module(tight);
    EXPECT_EQ(module.registerServer(), E_FAIL);
    expectClassRegistered(kClasses[11], copy);
}

// A registration is one change of the store: when a class's script fails midway, the
// classes registered before it are taken back too.
TEST_F(SelfRegistration, AClassScriptFailingMidwayLeavesTheStoreAsItWas) {
    // Matrix's script made to name a root that does not exist: a syntax error.
    std::string copy = copyModule(storeDir() + "/broken", "liborvik.so",
                                  "HKCR\r\n{\r\n\tOrvik.Matrix.1", "HKXX\r\n{\r\n\tOrvik.Matrix.1");
    LoadedModule module(copy);
    EXPECT_EQ(module.registerServer(), DISP_E_EXCEPTION);
    for (int i = 0; i < 12; ++i) {
        EXPECT_FALSE(keyExists(std::string("Orvik.") + kClasses[i].name)) << kClasses[i].name;
        EXPECT_FALSE(keyExists(std::string("CLSID\\") + kClasses[i].clsid)) << kClasses[i].name;
    }
    EXPECT_FALSE(keyExists(std::string("TypeLib\\") + kLibid));
}

// Every key and value below HKCR, one line each, in the registry's order.
std::string dumpOfClassesRoot() {
    std::string out;
    std::vector<std::pair<std::string, RegKey>> stack;
    stack.emplace_back("", RegKey());
    EXPECT_EQ(RegOpenKeyExA(HKEY_CLASSES_ROOT, nullptr, 0, KEY_READ, stack.back().second.put()),
              ERROR_SUCCESS);
    while (!stack.empty()) {
        auto [path, key] = std::move(stack.back());
        stack.pop_back();
        out += "[" + path + "]\n";
        for (DWORD i = 0;; ++i) {
            char name[512];
            BYTE data[2048];
            DWORD nameSize = sizeof name, dataSize = sizeof data, type = 0;
            if (RegEnumValueA(key.get(), i, name, &nameSize, nullptr, &type, data, &dataSize) !=
                ERROR_SUCCESS)
                break;
            out += std::string(name) + "=" + std::string(reinterpret_cast<char*>(data), dataSize) +
                   "\n";
        }
        std::vector<std::string> children;
        EXPECT_EQ(regSubkeyNames(key.get(), children), ERROR_SUCCESS);
        for (auto child = children.rbegin(); child != children.rend(); ++child) {
            RegKey opened;
            if (RegOpenKeyExA(key.get(), child->c_str(), 0, KEY_READ, opened.put()) ==
                ERROR_SUCCESS)
                stack.emplace_back(path + "\\" + *child, std::move(opened));
        }
    }
    return out;
}

// A process killed at any moment while it registers and unregisters the module
// leaves the store registered or unregistered, never a part of either.
TEST_F(SelfRegistration, AKilledRegistrationLeavesTheStoreBeforeOrAfter) {
    std::string registered, unregistered; // as a registration and its undoing leave it
    using Micro = std::chrono::microseconds;
    auto since = [](std::chrono::steady_clock::time_point t) {
        return std::chrono::duration_cast<Micro>(std::chrono::steady_clock::now() - t);
    };
    Micro load{}, cycle{};
    {
        auto start = std::chrono::steady_clock::now();
        LoadedModule module(m_module);
        load = since(start);
        start = std::chrono::steady_clock::now();
        ASSERT_EQ(module.registerServer(), S_OK);
        cycle += since(start);
        registered = dumpOfClassesRoot();
        start = std::chrono::steady_clock::now();
        ASSERT_EQ(module.unregisterServer(), S_OK);
        cycle += since(start);
        unregistered = dumpOfClassesRoot();
    }
    ASSERT_NE(registered, unregistered);
    // Kills land anywhere in the child's first cycles, however fast this build is.
    Micro window = load + cycle * 3 + Micro(1000);
    std::mt19937 random(8122026);
    int kills = 0, states[2] = {0, 0};
    for (; kills < 200; ++kills) {
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            LoadedModule module(m_module);
            for (;;) {
                module.unregisterServer();
                module.registerServer();
            }
        }
        std::this_thread::sleep_for(std::chrono::microseconds(random() % window.count()));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        std::string now = dumpOfClassesRoot();
        ASSERT_TRUE(now == registered || now == unregistered) << "a part after kill " << kills;
        ++states[now == registered];
    }
    EXPECT_GT(states[0], 0) << "no kill found the store unregistered";
    EXPECT_GT(states[1], 0) << "no kill found the store registered";
}

// Registering a registered module again, in a loop in another process, never makes a
// class read as unregistered here.
TEST_F(SelfRegistration, ClassesStayRegisteredWhileTheyAreRegisteredAgain) {
    {
        LoadedModule module(m_module);
        ASSERT_EQ(module.registerServer(), S_OK);
    }
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        LoadedModule module(m_module);
        for (;;)
            module.registerServer();
    }
    int created = 0, failed = 0;
    for (auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
         std::chrono::steady_clock::now() < end;) {
        // Read from the store each time, as a process that has not cached it does,
        // and created through it.
        bool registered =
            valueOf(std::string("CLSID\\") + kClasses[0].clsid + "\\InprocServer32") == m_module &&
            valueOf("Orvik.Point\\CLSID") == kClasses[0].clsid;
        CLSID clsid{};
        HRESULT hr = CLSIDFromProgID(u"Orvik.Point", &clsid);
        IUnknown* object = nullptr;
        if (SUCCEEDED(hr))
            hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                  reinterpret_cast<void**>(&object));
        if (object)
            object->Release();
        ++(registered && SUCCEEDED(hr) ? created : failed);
    }
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    EXPECT_GT(created, 0);
    EXPECT_EQ(failed, 0) << "of " << created + failed << " creations";
    CoFreeUnusedLibrariesEx(0, 0);
}

} // namespace
} // namespace orvik::testing
