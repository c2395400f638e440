// tests/clients/module_file_test.cpp: the module file as the platform loads it

#include "orvik/orvik_i.h"
#include "orvik/platform.h"
#include "orvik/platform/ref.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <elf.h>
#include <dirent.h>
#include <dlfcn.h>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using orvik::Ref;

int threadCount() {
    int n = 0;
    DIR* dir = opendir("/proc/self/task");
    while (dirent* entry = readdir(dir))
        n += entry->d_name[0] != '.';
    closedir(dir);
    return n;
}

using GetClassObjectFn = HRESULT (*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT (*)();

// The names of the functions a module file exports, from its dynamic symbol table.
std::vector<std::string> exportedFunctions(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::vector<std::string> names;
    Elf64_Ehdr eh;
    if (file.size() < sizeof eh)
        return names;
    std::memcpy(&eh, file.data(), sizeof eh);
    auto section = [&](size_t i) {
        Elf64_Shdr sh;
        std::memcpy(&sh, file.data() + eh.e_shoff + i * sizeof sh, sizeof sh);
        return sh;
    };
    for (size_t i = 0; i < eh.e_shnum; ++i) {
        Elf64_Shdr symbols = section(i);
        if (symbols.sh_type != SHT_DYNSYM)
            continue;
        Elf64_Shdr strings = section(symbols.sh_link);
        for (size_t at = 0; at + sizeof(Elf64_Sym) <= symbols.sh_size; at += sizeof(Elf64_Sym)) {
            Elf64_Sym sym;
            std::memcpy(&sym, file.data() + symbols.sh_offset + at, sizeof sym);
            if (ELF64_ST_TYPE(sym.st_info) == STT_FUNC && sym.st_shndx != SHN_UNDEF &&
                ELF64_ST_BIND(sym.st_info) == STB_GLOBAL)
                names.emplace_back(file.data() + strings.sh_offset + sym.st_name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(ModuleFile, ExportsExactlyItsFourEntryPoints) {
    EXPECT_EQ(exportedFunctions(ORVIK_MODULE_PATH),
              (std::vector<std::string>{"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer",
                                        "DllUnregisterServer"}));
}

TEST(ModuleFile, ExportsItsEntryPointsAndNothingOfItsInside) {
    void* module = dlopen(ORVIK_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    EXPECT_NE(dlsym(module, "DllGetClassObject"), nullptr);
    EXPECT_NE(dlsym(module, "DllCanUnloadNow"), nullptr);
    for (const char* hidden :
         {"_ZN5orvik8_pModuleE", "_ZN5orvik18ClassObjectCreatorEPvRK5_GUIDPS0_",
          "_ZN5orvik12canUnloadNowEv", "g_classTable"})
        EXPECT_EQ(dlsym(module, hidden), nullptr) << hidden;
    dlclose(module);
}

TEST(ModuleFile, StartsNoThreadsAndCanUnloadOnceEverythingIsReleased) {
    int before = threadCount();
    void* module = dlopen(ORVIK_MODULE_PATH, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(module, nullptr) << dlerror();
    auto getClassObject = reinterpret_cast<GetClassObjectFn>(dlsym(module, "DllGetClassObject"));
    auto canUnloadNow = reinterpret_cast<CanUnloadNowFn>(dlsym(module, "DllCanUnloadNow"));
    {
        orvik::Ref<IClassFactory> factory;
        ASSERT_EQ(getClassObject(CLSID_Vector, IID_IClassFactory, factory.putVoid()), S_OK);
        orvik::Ref<IVector> v;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IVector, v.putVoid()), S_OK);
        orvik::Ref<IVector> y, z;
        ASSERT_EQ(v->Set(0, 0, 3, 0.001), S_OK);
        ASSERT_EQ(v->Axes(y.put(), z.put()), S_OK);
        EXPECT_EQ(threadCount(), before);
        EXPECT_EQ(canUnloadNow(), S_FALSE);
    }
    EXPECT_EQ(canUnloadNow(), S_OK);
    EXPECT_EQ(dlclose(module), 0);
}

// The module file's resources, read back as any reader of the published layouts
// would: the twelve scripts with the sizes the classes' registration gives, the
// library, the project name and the version.
class ModuleResourcesOfTheModule : public ::testing::Test {
protected:
    void SetUp() override {
        m_module = LoadLibraryExA(ORVIK_MODULE_PATH, nullptr, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(m_module, nullptr) << GetLastError();
    }
    void TearDown() override { FreeLibrary(m_module); }
    std::string resource(LPCSTR type, LPCSTR name) {
        HRSRC found = FindResourceA(m_module, name, type);
        EXPECT_NE(found, nullptr) << GetLastError();
        if (!found)
            return {};
        const char* data = static_cast<const char*>(LockResource(LoadResource(m_module, found)));
        return std::string(data, SizeofResource(m_module, found));
    }
    static std::string fileBytes(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        EXPECT_TRUE(in) << path;
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    HMODULE m_module = nullptr;
};

uint32_t word32(const std::string& bytes, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, bytes.data() + at, 4);
    return v;
}

std::string utf16(const char* text) {
    std::string out;
    for (; *text; ++text)
        out += {*text, '\0'};
    return out + std::string(2, '\0');
}

// The text value of a version string entry: the value follows the key and its zero,
// on the next four-byte boundary of the resource.
std::string versionString(const std::string& version, const char* key) {
    size_t at = version.find(utf16(key));
    if (at == std::string::npos)
        return "(missing)";
    size_t valueLength = uint8_t(version[at - 4]) | uint8_t(version[at - 3]) << 8; // in chars
    size_t value = (at + utf16(key).size() + 3) & ~size_t(3);
    std::string text;
    for (size_t i = 0; i + 1 < valueLength; ++i)
        text += version[value + 2 * i];
    return text;
}

TEST_F(ModuleResourcesOfTheModule, ScriptsLibraryNameAndVersionReadBack) {
    const std::pair<const char*, size_t> scripts[] = {
        {"Point", 593},       {"Vector", 601},         {"Axis", 585},           {"Matrix", 601},
        {"BoundingBox", 641}, {"AreaProperties", 665}, {"MassProperties", 665}, {"Length", 601},
        {"Angle", 593},       {"Plane", 593},          {"Option", 601},         {"RgbData", 609}};
    WORD id = 101;
    for (const auto& [name, size] : scripts) {
        SCOPED_TRACE(name);
        std::string script = resource("REGISTRY", MAKEINTRESOURCEA(id++));
        EXPECT_EQ(script.size(), size);
        EXPECT_EQ(script, fileBytes(std::string(ORVIK_SCRIPTS_DIR "/") + name + ".rgs"));
    }
    EXPECT_EQ(resource("TYPELIB", MAKEINTRESOURCEA(1)), fileBytes(ORVIK_TLB_PATH));

    // String 100 is the fifth of block 7: four empty strings, then "Orvik".
    std::string block = resource(RT_STRING, MAKEINTRESOURCEA(7));
    EXPECT_EQ(block.substr(0, 20),
              std::string(8, '\0') + std::string("\x05\0", 2) + std::string("O\0r\0v\0i\0k\0", 10));

    std::string version = resource(RT_VERSION, MAKEINTRESOURCEA(1));
    ASSERT_GE(version.size(), 92u);
    EXPECT_EQ(word32(version, 0) & 0xFFFF, version.size()) << "the block's own length";
    EXPECT_EQ(word32(version, 0) >> 16, 52u) << "a VS_FIXEDFILEINFO follows";
    EXPECT_EQ(version.substr(6, 32), utf16("VS_VERSION_INFO"));
    const uint32_t fixed[] = {0xFEEF04BD, 0x00010000, 0x07D60002, 0x00690029, 0x07D60002,
                              0x00690029, 0x3F,       0,          4,          2,
                              0,          0,          0};
    for (size_t i = 0; i < 13; ++i)
        EXPECT_EQ(word32(version, 40 + 4 * i), fixed[i]) << "field " << i;
    EXPECT_NE(version.find(utf16("040904B0")), std::string::npos);
    EXPECT_NE(version.find(utf16("Translation") + std::string("\0\0\x09\x04\xB0\x04", 6)),
              std::string::npos);
    const char* strings[][2] = {{"CompanyName", "Orvik"},
                                {"FileDescription", "Orvik Module"},
                                {"FileVersion", "2006.2.105.41"},
                                {"InternalName", "Orvik"},
                                {"OriginalFilename", "Orvik.DLL"},
                                {"ProductName", "Orvik Module"},
                                {"ProductVersion", "2006.2.105.41"},
                                {"OLESelfRegister", ""}};
    for (auto& [key, value] : strings)
        EXPECT_EQ(versionString(version, key), value) << key;
    EXPECT_EQ(versionString(version, "LegalCopyright"),
              "Copyright (C) 2026 the Orvik developers. MIT licence.");
}

TEST(ModuleFileLibrary, TheLibraryLoadsFromTheModuleFile) {
    Ref<ITypeLib> lib;
    ASSERT_EQ(LoadTypeLib(u"" ORVIK_MODULE_PATH, lib.put()), S_OK);
    EXPECT_EQ(lib->GetTypeInfoCount(), 24u);
    TLIBATTR* attr = nullptr;
    ASSERT_EQ(lib->GetLibAttr(&attr), S_OK);
    EXPECT_TRUE(IsEqualGUID(attr->guid, LIBID_ORVIKLib));
    lib->ReleaseTLibAttr(attr);
}

} // namespace
