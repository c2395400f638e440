// tests/platform/result_text_test.cpp: result codes in words
//
// Every code the platform's headers define has its name and text, and FormatMessageA
// keeps the operating system's buffer rules.

#include "orvik/platform/result_text.h"

#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "orvik/platform/last_error.h"

namespace {

// The codes the headers define, read from the headers themselves.
std::map<std::string, uint32_t> definedCodes(const std::string& header, const std::regex& form,
                                             int base) {
    std::ifstream in(std::string(ORVIK_PLATFORM_HEADERS) + "/" + header);
    std::stringstream text;
    text << in.rdbuf();
    const std::string source = text.str();
    std::map<std::string, uint32_t> codes;
    for (std::sregex_iterator it(source.begin(), source.end(), form), end; it != end; ++it)
        codes[(*it)[1]] = static_cast<uint32_t>(std::stoul((*it)[2], nullptr, base));
    return codes;
}

std::string formatted(DWORD id, DWORD language = 0) {
    char buffer[512];
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, id, language, buffer, sizeof buffer, nullptr);
    return std::string(buffer, length);
}

TEST(ResultText, EveryResultCodeTheHeadersDefineIsNamedAndWorded) {
    const std::regex resultForm(R"(#define (\w+) ORVIK_HR\(0x([0-9A-Fa-f]{8})\))");
    const auto codes = definedCodes("result_codes.h", resultForm, 16);
    ASSERT_GE(codes.size(), 60u);
    for (const auto& [name, code] : codes) {
        const HRESULT hr = static_cast<HRESULT>(code);
        ASSERT_NE(OrvikResultCodeName(hr), nullptr) << name;
        EXPECT_EQ(OrvikResultCodeName(hr), name);
        const std::string text = OrvikResultCodeText(hr);
        EXPECT_FALSE(text.empty()) << name;
        EXPECT_EQ(formatted(code), text + "\r\n") << name;
    }
}

TEST(ResultText, EveryPlatformErrorTheHeadersDefineIsNamedAndWorded) {
    const std::regex errorForm(R"(#define (ERROR_\w+) (\d+)L)");
    auto errors = definedCodes("result_codes.h", errorForm, 10);
    errors.merge(definedCodes("result_text.h", errorForm, 10));
    ASSERT_GE(errors.size(), 30u);
    for (const auto& [name, number] : errors) {
        if (number <= 1)
            continue; // 0 and 1 read as S_OK and S_FALSE
        EXPECT_EQ(OrvikResultCodeName(static_cast<HRESULT>(number)), std::string(name));
        const std::string text = OrvikResultCodeText(static_cast<HRESULT>(number));
        EXPECT_FALSE(text.empty()) << name;
        // As a result code it reads the same, under its own name where it has one.
        const HRESULT asResult = HRESULT_FROM_WIN32(number);
        EXPECT_EQ(OrvikResultCodeText(asResult), text) << name;
        const std::string resultName = OrvikResultCodeName(asResult);
        EXPECT_TRUE(resultName == "HRESULT_FROM_WIN32(" + name + ")" ||
                    resultName.rfind("E_", 0) == 0)
            << resultName;
    }
    EXPECT_STREQ(OrvikResultCodeName(HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)),
                 "HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)");
    EXPECT_STREQ(OrvikResultCodeName(HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER)), "E_INVALIDARG");
}

TEST(ResultText, TextsAreTheOperatingSystemsOwn) {
    // As the platform's documentation quotes them.
    EXPECT_EQ(formatted(0x80070057), "The parameter is incorrect.\r\n");
    EXPECT_EQ(formatted(0x80040154), "Class not registered\r\n");
    EXPECT_EQ(formatted(0x80004002), "No such interface supported\r\n");
    EXPECT_EQ(formatted(0x80020003), "Member not found.\r\n");
    EXPECT_EQ(formatted(0x8002801D), "Library not registered.\r\n");
    EXPECT_EQ(formatted(2), "The system cannot find the file specified.\r\n");
    EXPECT_EQ(formatted(259), "No more data is available.\r\n");
    EXPECT_EQ(formatted(2, 0x0409), formatted(2));
    // Two the platform's list keeps apart: 13 is the data, 1804 its type.
    EXPECT_EQ(ERROR_INVALID_DATA, 13);
    EXPECT_EQ(formatted(13), "The data is invalid.\r\n");
    EXPECT_EQ(ERROR_INVALID_DATATYPE, 1804);
    EXPECT_EQ(formatted(1804), "The specified datatype is invalid.\r\n");
}

TEST(ResultText, UnknownCodesAndBadRequestsFailWithTheirReason) {
    EXPECT_EQ(OrvikResultCodeName(static_cast<HRESULT>(0x8004FFFF)), nullptr);
    EXPECT_EQ(OrvikResultCodeText(static_cast<HRESULT>(0x8007FFFF)), nullptr);
    char buffer[64];
    const DWORD system = FORMAT_MESSAGE_FROM_SYSTEM;
    EXPECT_EQ(FormatMessageA(system, nullptr, 0x8004FFFF, 0, buffer, 64, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_MR_MID_NOT_FOUND});
    EXPECT_EQ(FormatMessageA(system, nullptr, 2, 0x0407, buffer, 64, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_RESOURCE_LANG_NOT_FOUND});
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_STRING, "%1", 0, 0, buffer, 64, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_NOT_SUPPORTED});
    EXPECT_EQ(FormatMessageA(0, nullptr, 2, 0, buffer, 64, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INVALID_PARAMETER});
}

TEST(ResultText, TheBufferHoldsTheTextAndItsZeroOrIsAllocated) {
    const std::string text = "Access is denied.\r\n"; // 19 characters
    char exact[20];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, exact, 20, nullptr), 19u);
    EXPECT_EQ(std::string(exact), text);
    char oneShort[19];
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, 5, 0, oneShort, 19, nullptr), 0u);
    EXPECT_EQ(GetLastError(), DWORD{ERROR_INSUFFICIENT_BUFFER});

    char* allocated = nullptr;
    EXPECT_EQ(FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_ALLOCATE_BUFFER, nullptr,
                             5, 0, reinterpret_cast<LPSTR>(&allocated), 0, nullptr),
              19u);
    ASSERT_NE(allocated, nullptr);
    EXPECT_EQ(std::string(allocated), text);
    EXPECT_EQ(LocalFree(allocated), nullptr);
}

} // namespace

namespace {

TEST(ResultText, WordsGiveTextNameAndValueAndSizeTheirBuffer) {
    char words[128];
    EXPECT_EQ(OrvikResultCodeWords(E_INVALIDARG, words, sizeof words), 54u);
    EXPECT_STREQ(words, "The parameter is incorrect. (E_INVALIDARG, 0x80070057)");
    OrvikResultCodeWords(static_cast<HRESULT>(0x8004FFFF), words, sizeof words);
    EXPECT_STREQ(words, "0x8004FFFF");
    // A short buffer takes what fits and its zero; the length says what the whole needs.
    char shortBuffer[8];
    EXPECT_EQ(OrvikResultCodeWords(E_INVALIDARG, shortBuffer, sizeof shortBuffer), 54u);
    EXPECT_STREQ(shortBuffer, "The par");
    EXPECT_EQ(OrvikResultCodeWords(E_INVALIDARG, nullptr, 0), 54u);
}

} // namespace
