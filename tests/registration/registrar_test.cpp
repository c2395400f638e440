// tests/registration/registrar_test.cpp: the registration script processor

#include "registration/registrar.h"
#include "tests/support/registry_fixture.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

namespace orvik::testing {
namespace {

using Registrar = RegistryTest;

HRESULT run(const std::string& script, bool doRegister = true,
            std::vector<std::pair<std::u16string, std::u16string>> vars = {}) {
    CRegObject registrar;
    for (const auto& [name, value] : vars)
        EXPECT_EQ(registrar.AddVariable(name.c_str(), value.c_str()), S_OK);
    return registrar.RunScript(script.c_str(), doRegister);
}

// The value under HKCU\path (default value when name is empty), with its type.
std::string value(const std::string& path, const char* name = "", DWORD* type = nullptr) {
    RegKey k;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, KEY_READ, k.put()) != ERROR_SUCCESS)
        return "<no key>";
    std::string data(70000, '\0');
    DWORD size = DWORD(data.size()), t = 0;
    LONG e =
        RegQueryValueExA(k.get(), name, nullptr, &t, reinterpret_cast<BYTE*>(data.data()), &size);
    if (e != ERROR_SUCCESS)
        return "<no value>";
    if (type)
        *type = t;
    data.resize(size);
    return data;
}

bool exists(const std::string& path, HKEY root = HKEY_CURRENT_USER) {
    RegKey k;
    return RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, k.put()) == ERROR_SUCCESS;
}

TEST_F(Registrar, QuotedTokensUndoubleQuotesAndMayBeEmpty) {
    ASSERT_EQ(run("HKCU { 'Key One' = s 'it''s' { Val 'v' = s '' } }"), S_OK);
    EXPECT_EQ(value("Key One"), std::string("it's\0", 5));
    EXPECT_EQ(value("Key One", "v"), std::string("\0", 1));
    EXPECT_EQ(run("HKCU { K = s 'never closed }"), DISP_E_EXCEPTION);
    // Quoted keywords and braces are still keywords and braces.
    ASSERT_EQ(run("HKCU '{' 'NoRemove' Q '{' '}' '}'"), S_OK);
    EXPECT_TRUE(exists("Q"));
}

TEST_F(Registrar, TokensHoldAtMost4094Bytes) {
    std::string fits(4094, 'x'), tooLong(4095, 'x');
    ASSERT_EQ(run("HKCU { K = s " + fits + " }"), S_OK);
    EXPECT_EQ(value("K").size(), 4095u);
    EXPECT_EQ(run("HKCU { K = s " + tooLong + " }"), DISP_E_EXCEPTION);
    EXPECT_EQ(run("HKCU { K = s '" + tooLong + "' }"), DISP_E_EXCEPTION);
}

TEST_F(Registrar, VariablesExpandCaseInsensitivelyAndPercentsDouble) {
    ASSERT_EQ(run("HKCU { K = s '%MODULE% 100%%' }", true, {{u"Module", u"/lib/o.so"}}), S_OK);
    EXPECT_EQ(value("K"), std::string("/lib/o.so 100%\0", 15));
    // The first of two variables of one name wins.
    ASSERT_EQ(run("HKCU { K = s %v% }", true, {{u"v", u"first"}, {u"V", u"second"}}), S_OK);
    EXPECT_EQ(value("K"), std::string("first\0", 6));
    std::u16string name31(31, u'n'), name32(32, u'n');
    std::string ref31(31, 'n'), ref32(32, 'n');
    EXPECT_EQ(run("HKCU { K = s %" + ref31 + "% }", true, {{name31, u"ok"}}), S_OK);
    EXPECT_EQ(run("HKCU { K = s %" + ref32 + "% }", true, {{name32, u"ok"}}), E_FAIL);
    EXPECT_EQ(run("HKCU { K = s %unknown% }"), DISP_E_EXCEPTION);
    EXPECT_EQ(run("HKCU { K = s %open }"), DISP_E_EXCEPTION);
    CRegObject registrar;
    EXPECT_EQ(registrar.AddVariable(nullptr, u"x"), E_INVALIDARG);
    EXPECT_EQ(registrar.AddVariable(u"x", nullptr), E_INVALIDARG);
    EXPECT_EQ(registrar.QueryInterface(IID_IUnknown, nullptr), E_NOTIMPL);
    EXPECT_EQ(registrar.AddRef(), 1u);
    EXPECT_EQ(registrar.Release(), 0u);
}

TEST_F(Registrar, RootNamesIgnoreCaseAndNothingElseIsARoot) {
    EXPECT_EQ(run("hkey_current_user { A }"), S_OK);
    EXPECT_EQ(run("hkcu { B }"), S_OK);
    EXPECT_TRUE(exists("A"));
    EXPECT_TRUE(exists("B"));
    EXPECT_EQ(run("HKCUX { C }"), DISP_E_EXCEPTION);
    EXPECT_EQ(run("HKCU C"), DISP_E_EXCEPTION) << "a root needs a block";
    EXPECT_EQ(run("HKCU { A\\B }"), DISP_E_EXCEPTION) << "key names are single names";
    EXPECT_EQ(run(""), S_OK);
}

TEST_F(Registrar, EverySyntaxErrorIsDispException) {
    const char* broken[] = {
        "HKCU { K",           // the text ends where a token is required
        "HKCU { Val v s x }", // no '=' after a value name
        "HKCU { K = }",       // no type after '='
        "HKCU { K { }",       // an unclosed block
        "HKCU { 'K }",        // an unterminated quoted token
    };
    for (const char* script : broken)
        EXPECT_EQ(run(script), DISP_E_EXCEPTION) << script;
    CRegObject registrar;
    char* out = nullptr;
    EXPECT_EQ(registrar.ExpandVariables(nullptr, &out), E_POINTER);
    EXPECT_EQ(registrar.ExpandVariables("text", nullptr), E_POINTER);
    ASSERT_EQ(registrar.ExpandVariables("", &out), S_OK);
    EXPECT_STREQ(out, "");
    delete[] out;
}

TEST_F(Registrar, ValueTypesAreWrittenByteForByte) {
    ASSERT_EQ(run("HKCU { T { val d = d 10\r\n val b = b 0aFf\r\n val bx = b 0g\r\n"
                  " val m = m 'one\\0two'\r\n val m2 = m 'one\\0two\\0' } }"),
              S_OK);
    DWORD type = 0;
    std::string d = value("T", "d", &type);
    EXPECT_EQ(type, DWORD(REG_DWORD));
    ASSERT_EQ(d.size(), 4u);
    EXPECT_EQ(d, std::string("\x0a\0\0\0", 4));
    EXPECT_EQ(value("T", "b", &type), std::string("\x0a\xff", 2));
    EXPECT_EQ(type, DWORD(REG_BINARY));
    EXPECT_EQ(value("T", "bx"), std::string("\x00", 1)) << "a non-hex digit counts as 0";
    EXPECT_EQ(value("T", "m", &type), std::string("one\0two\0\0", 9));
    EXPECT_EQ(type, DWORD(REG_MULTI_SZ));
    EXPECT_EQ(value("T", "m2"), std::string("one\0two\0\0", 9));
    EXPECT_EQ(run("HKCU { T { val odd = b 0aF } }"), E_FAIL);
    EXPECT_EQ(run("HKCU { T { val z = x 1 } }"), DISP_E_EXCEPTION);
}

TEST_F(Registrar, BadDwordsAndLongValueNamesAreSyntaxErrorsThatWriteNothing) {
    for (const char* bad : {"abc", "-1", "4294967296", "1.5", "''"}) {
        EXPECT_EQ(run(std::string("HKCU { N { val d = d ") + bad + " } }"), DISP_E_EXCEPTION)
            << bad;
        EXPECT_EQ(value("N", "d"), "<no key>") << bad;
    }
    ASSERT_EQ(run("HKCU { N { val max = d 4294967295 } }"), S_OK);
    EXPECT_EQ(value("N", "max"), std::string("\xff\xff\xff\xff", 4));
    std::string name259(259, 'v'), name260(260, 'v');
    EXPECT_EQ(run("HKCU { N { val " + name259 + " = s x } }"), S_OK);
    EXPECT_EQ(run("HKCU { N { val " + name260 + " = s x } }"), DISP_E_EXCEPTION);
    EXPECT_EQ(value("N", name260.c_str()), "<no value>");
}

TEST_F(Registrar, ForceRemoveAndDeleteSpareProtectedNames) {
    ASSERT_EQ(run("HKCU { CLSID { Old { Inner } } Plain { Stale } Gone { X } }"), S_OK);
    ASSERT_EQ(run("HKCU { ForceRemove CLSID { New } ForceRemove Plain { Fresh } Delete Gone }"),
              S_OK);
    EXPECT_TRUE(exists("CLSID\\Old\\Inner")) << "CLSID is protected";
    EXPECT_TRUE(exists("CLSID\\New"));
    EXPECT_FALSE(exists("Plain\\Stale")) << "wiped before it was written";
    EXPECT_TRUE(exists("Plain\\Fresh"));
    EXPECT_FALSE(exists("Gone"));
}

TEST_F(Registrar, UnregistrationKeepsNoRemoveKeysAndPassesOverAbsentOnes) {
    ASSERT_EQ(run("HKCU { NoRemove Keep { Inner = s x { val v = s y } } Drop }"), S_OK);
    ASSERT_EQ(run("HKCU { NoRemove Keep { Inner = s x { val v = s y } } Drop }", false), S_OK);
    EXPECT_TRUE(exists("Keep"));
    EXPECT_FALSE(exists("Keep\\Inner"));
    EXPECT_FALSE(exists("Drop"));
    auto before = dumpRoot(HKEY_CURRENT_USER);
    EXPECT_EQ(run("HKCU { Absent { Deeper { val v = s x } } NoRemove Keep { Nope } }", false),
              S_OK);
    EXPECT_EQ(dumpRoot(HKEY_CURRENT_USER), before);
}

TEST_F(Registrar, UnregistrationStopsAtAKeyWithSubkeysTheScriptDoesNotName) {
    ASSERT_EQ(run("HKCU { Parent { Named } }"), S_OK);
    ASSERT_EQ(run("HKCU { Parent { Extra } }"), S_OK);
    EXPECT_EQ(run("HKCU { Parent { Named } }", false), HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED));
    EXPECT_FALSE(exists("Parent\\Named")) << "earlier deletions stay done";
    EXPECT_TRUE(exists("Parent\\Extra"));
}

// The clean-up walk reads values without their type, so it passes the failing value
// and removes every deletable key the section names, old ones included; it stops
// only at a failure of its own, leaving the keys that enclose that point.
TEST_F(Registrar, FailedRegistrationIsWalkedBackExceptNoRemoveKeys) {
    ASSERT_EQ(run("HKCU { Existing }"), S_OK);
    EXPECT_EQ(run("HKCU { NoRemove Shared { Mine = s x { val v = s y\r\n val w = q z } }"
                  " Existing }"),
              DISP_E_EXCEPTION);
    EXPECT_TRUE(exists("Shared")) << "NoRemove survives the clean-up";
    EXPECT_FALSE(exists("Shared\\Mine"));
    EXPECT_FALSE(exists("Existing")) << "named by the section, so walked back too";
    EXPECT_EQ(run("HKCU { Outer { Inner { Bad\\Name } } }"), DISP_E_EXCEPTION);
    EXPECT_TRUE(exists("Outer\\Inner")) << "the clean-up stopped at the same syntax error";
    // Root sections after a failing one are not run.
    EXPECT_EQ(run("HKCU { Bad = x 1 } HKLM { After }"), DISP_E_EXCEPTION);
    EXPECT_FALSE(exists("After", HKEY_LOCAL_MACHINE));
    EXPECT_FALSE(exists("Bad"));
}

// An empty name would be the parent key itself: a delete of it would take every
// sibling with it.
TEST_F(Registrar, AnEmptyKeyNameIsASyntaxErrorThatTouchesNothing) {
    ASSERT_EQ(run("HKCU { NoRemove Software { Vendor { Product } Other } }"), S_OK);
    auto before = dumpRoot(HKEY_CURRENT_USER);
    const char* scripts[] = {
        "HKCU { ForceRemove '' = s 'x' }",
        "HKCU { NoRemove Software { Delete '' } }",
        "HKCU { NoRemove Software { '' { Inner } } }",
        "HKCU { NoRemove Software { ForceRemove '%EMPTY%' } }",
    };
    for (const char* script : scripts) {
        EXPECT_EQ(run(script, true, {{u"Empty", u""}}), DISP_E_EXCEPTION) << script;
        EXPECT_EQ(dumpRoot(HKEY_CURRENT_USER), before) << script;
        EXPECT_EQ(run(script, false, {{u"Empty", u""}}), DISP_E_EXCEPTION) << script;
        EXPECT_EQ(dumpRoot(HKEY_CURRENT_USER), before) << script;
    }
    RegKey software;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, "Software", 0, KEY_ALL_ACCESS, software.put()),
              ERROR_SUCCESS);
    EXPECT_EQ(CRegObject::DeleteKeyTree(software.get(), ""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(RegDeleteKeyA(software.get(), ""), ERROR_INVALID_PARAMETER);
    EXPECT_EQ(dumpRoot(HKEY_CURRENT_USER), before);
}

std::string nested(size_t depth, const char* leaf = "") {
    std::string script = "HKCU { ";
    for (size_t i = 0; i < depth; ++i)
        script += "k { ";
    script += leaf;
    for (size_t i = 0; i < depth; ++i)
        script += "} ";
    return script + "}";
}

// Blocks nest as deep as keys may and no deeper; a deeper script is refused before
// anything is written, and no depth of script exhausts the call stack.
TEST_F(Registrar, NestingDeeperThanKeysMayBeIsRefusedBeforeAnythingIsWritten) {
    const size_t limit = CRegObject::kMaxBlockDepth;
    ASSERT_EQ(run(nested(limit - 1)), S_OK);
    std::string path = "k";
    for (size_t i = 1; i < limit - 1; ++i)
        path += "\\k";
    EXPECT_TRUE(exists(path));
    EXPECT_EQ(run(nested(limit - 1), false), S_OK);
    EXPECT_FALSE(exists("k"));

    auto before = dumpRoot(HKEY_CURRENT_USER);
    for (size_t depth : {limit, size_t(40000)}) {
        EXPECT_EQ(run("HKCU { First } " + nested(depth)), DISP_E_EXCEPTION) << depth;
        EXPECT_EQ(run(nested(depth), false), DISP_E_EXCEPTION) << depth;
        EXPECT_EQ(dumpRoot(HKEY_CURRENT_USER), before) << depth;
    }
}

std::string readScript(const std::string& name) {
    std::ifstream in(std::string(ORVIK_SCRIPTS_DIR) + "/" + name + ".rgs", std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST_F(Registrar, ModulePathWithASingleQuoteIsStoredWhole) {
    std::u16string doubled = u"/opt/it''s/liborvik.so";
    ASSERT_EQ(run(readScript("Point"), true, {{u"Module", doubled}}), S_OK);
    const char* server = "CLSID\\{283075AE-B177-11D3-BE8E-0060B0EB1D67}\\InprocServer32";
    std::string text;
    ASSERT_EQ(regQueryString(HKEY_CLASSES_ROOT, server, nullptr, text), ERROR_SUCCESS);
    EXPECT_EQ(text, "/opt/it's/liborvik.so");
    ASSERT_EQ(regQueryString(HKEY_CLASSES_ROOT, server, "ThreadingModel", text), ERROR_SUCCESS);
    EXPECT_EQ(text, "Apartment");
}

TEST_F(Registrar, EveryClassScriptRegistersAndUnregistersCleanly) {
    const char* classes[] = {"Point",       "Vector",         "Axis",           "Matrix",
                             "BoundingBox", "AreaProperties", "MassProperties", "Length",
                             "Angle",       "Plane",          "Option",         "RgbData"};
    const size_t sizes[] = {593, 601, 585, 601, 641, 665, 665, 601, 593, 593, 601, 609};
    for (size_t i = 0; i < 12; ++i) {
        SCOPED_TRACE(classes[i]);
        std::string script = readScript(classes[i]);
        EXPECT_EQ(script.size(), sizes[i]);
        auto before = dumpRoot(HKEY_CLASSES_ROOT);
        ASSERT_EQ(
            run(script, true, {{u"APPID", u""}, {u"Module", u"/m.so"}, {u"Module_Raw", u"/m.so"}}),
            S_OK);
        std::string cls = std::string("Orvik.") + classes[i];
        EXPECT_TRUE(exists(cls + "\\CurVer", HKEY_CLASSES_ROOT));
        ASSERT_EQ(run(script, true, {{u"Module", u"/m.so"}}), S_OK) << "registering twice";
        ASSERT_EQ(run(script, false, {{u"Module", u"/m.so"}}), S_OK);
        auto after = dumpRoot(HKEY_CLASSES_ROOT);
        after.erase("\\CLSID"); // the CLSID key itself stays
        before.erase("\\CLSID");
        EXPECT_EQ(after, before);
        EXPECT_TRUE(exists("CLSID", HKEY_CLASSES_ROOT));
    }
}

TEST_F(Registrar, StaleSubkeysOfAClassAreReplacedOnRegistration) {
    ASSERT_EQ(run("HKCR { NoRemove CLSID { {283075AE-B177-11D3-BE8E-0060B0EB1D67} { Stale } } }"),
              S_OK);
    ASSERT_EQ(run(readScript("Point"), true, {{u"Module", u"/m.so"}}), S_OK);
    EXPECT_FALSE(exists("CLSID\\{283075AE-B177-11D3-BE8E-0060B0EB1D67}\\Stale", HKEY_CLASSES_ROOT));
    EXPECT_TRUE(
        exists("CLSID\\{283075AE-B177-11D3-BE8E-0060B0EB1D67}\\Programmable", HKEY_CLASSES_ROOT));
}

TEST(ConversionCodePage, IsTheThreadCodePageOnThisPlatform) {
    EXPECT_EQ(ConversionCodePage(), UINT(CP_THREAD_ACP));
    EXPECT_EQ(ConversionCodePage(), UINT(CP_THREAD_ACP)) << "cached";
}

} // namespace
} // namespace orvik::testing
