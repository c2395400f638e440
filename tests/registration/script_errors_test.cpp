// tests/registration/script_errors_test.cpp: a failing script says where and why
//
// The description is read from the thread's error information exactly as a tool or
// a client would; positions are counted by hand in the scripts below.

#include "registration/registrar.h"
#include "tests/support/registry_fixture.h"

#include "orvik/platform/error_description.h"

#include <gtest/gtest.h>

namespace orvik::testing {
namespace {

using ScriptErrors = RegistryTest;

struct Outcome {
    HRESULT hr;
    std::string description;
};

Outcome run(const std::string& script,
            std::vector<std::pair<std::u16string, std::u16string>> vars = {},
            bool doRegister = true) {
    CRegObject registrar;
    for (const auto& [name, value] : vars)
        EXPECT_EQ(registrar.AddVariable(name.c_str(), value.c_str()), S_OK);
    HRESULT hr = registrar.RunScript(script.c_str(), doRegister, "a.rgs");
    return {hr, takeErrorDescription()};
}

TEST_F(ScriptErrors, EachNamesItsLineColumnAndReason) {
    const struct {
        const char* script;
        const char* description;
    } cases[] = {
        {"HKCU\r\n{\r\n\tK = s v\r\n\t{\r\n", "a.rgs:5:1: expected '}' before end of file"},
        {"HKCU {\n  K = s %MODULEX%\n}", "a.rgs:2:9: unknown variable %MODULEX%"},
        {"HKCU {\n  ForceRemove '' = s x\n}", "a.rgs:2:15: key name is empty"},
        {"HKCU { K { '' } }", "a.rgs:1:12: key name is empty"},
        {"HKCU { 'a\\b' }", "a.rgs:1:8: key name 'a\\b' contains a backslash"},
        {"\x89PNG\r\n\x1a\n", "a.rgs:1:1: not text: byte 0x89 at offset 0"},
        {"HKCU {\n K = s x\x01y }", "a.rgs:2:9: not text: byte 0x01 at offset 15"},
        {"HKXX { }", "a.rgs:1:1: unknown root key 'HKXX'"},
        {"HKCU K { }", "a.rgs:1:6: expected '{' after 'HKCU'"},
        {"HKCU", "a.rgs:1:5: expected '{' before end of file"},
        {"HKCU { Val v s x }", "a.rgs:1:14: expected '=' after value name 'v'"},
        {"HKCU { K = q x }", "a.rgs:1:12: unknown value type 'q' (expected s, m, d or b)"},
        {"HKCU {\n\tK = d 12x }", "a.rgs:2:8: not a DWORD: '12x'"},
        {"HKCU { K = s 'open }", "a.rgs:1:14: quoted text without its closing quote"},
        {"HKCU { K = s %unclosed }", "a.rgs:1:14: '%' without a closing '%'"},
    };
    for (const auto& c : cases) {
        Outcome outcome = run(c.script);
        EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION) << c.script;
        EXPECT_EQ(outcome.description, c.description) << c.script;
    }
    Outcome odd = run("HKCU { K = b abc }");
    EXPECT_EQ(odd.hr, E_FAIL);
    EXPECT_EQ(odd.description, "a.rgs:1:14: binary value with an odd number of hex digits");
    Outcome longName = run("HKCU { %" + std::string(32, 'n') + "% }");
    EXPECT_EQ(longName.hr, E_FAIL);
    EXPECT_EQ(longName.description, "a.rgs:1:8: variable name longer than 31 bytes");
}

// Positions are the script's as written, whatever its variables expand to, and count
// characters, not bytes.
TEST_F(ScriptErrors, PositionsAreThoseOfTheScriptAsWritten) {
    std::vector<std::pair<std::u16string, std::u16string>> vars = {
        {u"SHORT", u"s"}, {u"LONG", u"a much longer value"}};
    // After a substitution on the same line, and inside one.
    EXPECT_EQ(run("HKCU {\n  %LONG% = %SHORT% x { %SHORT% = q y } }", vars).description,
              "a.rgs:2:34: unknown value type 'q' (expected s, m, d or b)");
    EXPECT_EQ(run("HKCU { %LONG% = d %SHORT% }", vars).description, "a.rgs:1:19: not a DWORD: 's'");
    vars.push_back({u"EMPTY", u""});
    EXPECT_EQ(run("HKCU { K { %EMPTY%%EMPTY%", vars).description,
              "a.rgs:1:26: expected '}' before end of file");
    // Two characters of two bytes each, then the error.
    EXPECT_EQ(run("HKCU { 'éé' = d x }").description, "a.rgs:1:17: not a DWORD: 'x'");
}

TEST_F(ScriptErrors, NestingTooDeepIsNamedWhereItBegins) {
    std::string script = "HKCU {";
    for (size_t i = 1; i < CRegObject::kMaxBlockDepth + 5; ++i)
        script += "\nk {";
    Outcome outcome = run(script);
    EXPECT_EQ(outcome.hr, DISP_E_EXCEPTION);
    // The root's block is the first level; the key block on line 513 is one too many.
    EXPECT_EQ(outcome.description, "a.rgs:513:3: nesting deeper than 512");
    EXPECT_EQ(run(script, {}, false).description, "a.rgs:513:3: nesting deeper than 512");
}

// Only a script error leaves a description: success clears an old one, and a
// failure of the registry itself is told by its own code.
TEST_F(ScriptErrors, NothingIsLeftBehindWhenTheScriptIsNotAtFault) {
    ASSERT_EQ(run("HKCU {").hr, DISP_E_EXCEPTION);
    (void)run("HKXX { }");
    EXPECT_EQ(run("HKCU { K = s v }").description, "");
    Outcome unregistered = run("HKCU { NoSuchKey { Val v = s x } }", {}, false);
    EXPECT_EQ(unregistered.hr, S_OK);
    EXPECT_EQ(unregistered.description, "");
    // A script that is not named is called <script>.
    CRegObject registrar;
    EXPECT_EQ(registrar.RunScript("HKCU {", true), DISP_E_EXCEPTION);
    EXPECT_EQ(takeErrorDescription(), "<script>:1:7: expected '}' before end of file");
}

} // namespace
} // namespace orvik::testing
