// tests/registration/creation_report_test.cpp: a failed creation by name says which
// store was searched, why the class could not be made and what to do
//
// Each case sets up what a user could have (no store, a file that is not a store, a
// class registered to a file that is gone or is not a module, ORVIK_MODULE naming a
// file that is not there) with registry entries and files made here by hand.

#include "tests/support/registry_fixture.h"

#include "orvik/orvik_i.h"
#include "orvik/platform/utf.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

namespace orvik::testing {
namespace {

class CreationReport : public RegistryTest {
protected:
    void TearDown() override {
        unsetenv("ORVIK_MODULE");
        RegistryTest::TearDown();
    }
    // Creates "name" and keeps the code and the report.
    HRESULT create(const char16_t* name, const char* installed = nullptr) {
        IUnknown* object = nullptr;
        char text[2048];
        HRESULT hr = OrvikCreateInstanceByName(
            name, installed, IID_IUnknown, reinterpret_cast<void**>(&object), text, sizeof text);
        EXPECT_EQ(object, nullptr);
        m_report = text;
        return hr;
    }
    // Orvik.Point registered by hand to be served by the file at path.
    static void registerPointTo(const std::string& path) {
        RegKey key;
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT, "Orvik.Point\\CLSID", 0, nullptr, 0, KEY_WRITE,
                                  nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        const char clsid[] = "{283075AE-B177-11D3-BE8E-0060B0EB1D67}";
        ASSERT_EQ(RegSetValueExA(key.get(), nullptr, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(clsid), sizeof clsid),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegCreateKeyExA(HKEY_CLASSES_ROOT,
                                  "CLSID\\{283075AE-B177-11D3-BE8E-0060B0EB1D67}\\InprocServer32",
                                  0, nullptr, 0, KEY_WRITE, nullptr, key.put(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegSetValueExA(key.get(), nullptr, 0, REG_SZ,
                                 reinterpret_cast<const BYTE*>(path.c_str()),
                                 DWORD(path.size() + 1)),
                  ERROR_SUCCESS);
    }
    void expectReport(std::initializer_list<std::string> parts) {
        for (const std::string& part : parts)
            EXPECT_NE(m_report.find(part), std::string::npos)
                << "\"" << part << "\" missing from: " << m_report;
    }
    std::string m_report;
};

TEST_F(CreationReport, NothingRegisteredNamesTheStoreThatIsNotThereYetAndTheRemedy) {
    EXPECT_EQ(create(u"Orvik.Point"), CO_E_CLASSSTRING);
    expectReport({"Orvik.Point cannot be created", "there is no registry store at " + storeFile(),
                  "orvik-regsvr PATH/liborvik.so", "python3 -m orvik register"});
}

TEST_F(CreationReport, AClassTheStoreDoesNotHoldIsNotRegisteredThere) {
    registerPointTo("/nowhere/liborvik.so");
    EXPECT_EQ(create(u"{283075AD-B177-11D3-BE8E-0060B0EB1D67}"), REGDB_E_CLASSNOTREG);
    expectReport({"is not registered in the registry store " + storeFile(), "orvik-regsvr"});
}

TEST_F(CreationReport, AStoreThatIsNotAStoreIsNamedWithItsCause) {
    const std::string text = storeDir() + "/notes.txt";
    std::ofstream(text) << "my notes, not a store\n";
    setenv("ORVIK_REGISTRY", text.c_str(), 1);
    EXPECT_EQ(create(u"Orvik.Point"), CO_E_CLASSSTRING);
    expectReport({"the registry store " + text + " cannot be read", "ERROR_BADDB",
                  "set ORVIK_REGISTRY to another store"});
}

TEST_F(CreationReport, ARegisteredModuleThatIsGoneOrIsNotAModuleIsNamed) {
    registerPointTo(storeDir() + "/moved/liborvik.so");
    EXPECT_EQ(create(u"Orvik.Point"), CO_E_DLLNOTFOUND);
    expectReport({"Orvik.Point ({283075AE-B177-11D3-BE8E-0060B0EB1D67})",
                  "registered in " + storeFile() + " to the module " + storeDir() +
                      "/moved/liborvik.so, which does not exist",
                  "register the module again"});

    const std::string garbage = storeDir() + "/garbage.so";
    std::ofstream(garbage) << std::string(256, '#'); // no ELF header
    registerPointTo(garbage);
    EXPECT_EQ(create(u"Orvik.Point"), CO_E_DLLNOTFOUND);
    expectReport({"to the module " + garbage + ", which is not a module that can be loaded",
                  "invalid ELF header"});
}

// Without a registry entry the module file is asked; when that fails too, its own
// cause is told, not hidden behind the registry's.
TEST_F(CreationReport, AFallbackModuleThatFailsSaysWhy) {
    setenv("ORVIK_MODULE", (storeDir() + "/missing.so").c_str(), 1);
    EXPECT_EQ(create(u"Orvik.Point"), HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND));
    expectReport({"there is no registry store",
                  "ORVIK_MODULE names " + storeDir() + "/missing.so, which does not exist",
                  "or set ORVIK_MODULE to the module file"});

    unsetenv("ORVIK_MODULE");
    const std::string text = storeDir() + "/text.so";
    std::ofstream(text) << "text";
    EXPECT_EQ(create(u"Orvik.Point", text.c_str()), HRESULT_FROM_WIN32(ERROR_BAD_EXE_FORMAT));
    expectReport({"the installed module names " + text + ", which is not a module"});

    // The real module does not know every name.
    setenv("ORVIK_MODULE", ORVIK_MODULE_PATH, 1);
    EXPECT_EQ(create(u"Orvik.Nothing"), CO_E_CLASSSTRING);
    expectReport({"ORVIK_MODULE names " ORVIK_MODULE_PATH ", which has no such class"});
}

} // namespace
} // namespace orvik::testing
