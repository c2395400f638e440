// platform/src/core/text.cpp: UTF-8 as the 8-bit code page
//
// Every 8-bit code page a caller may name (the ANSI, OEM and thread code pages, and
// UTF-8 itself) is UTF-8 here. Conversions are strict in both directions: overlong
// forms, surrogates encoded in UTF-8, unpaired surrogates in UTF-16 and truncated
// sequences are refused, so a round trip never changes a name.

#include "orvik/platform/text.h"
#include "orvik/platform/bstr.h"
#include "orvik/platform/last_error.h"
#include "orvik/platform/task_memory.h"
#include "orvik/platform/variant.h"

#include "orvik/platform/boundary.h"

#include <cstring>
#include <string>

namespace {

bool isUtf8CodePage(UINT cp) {
    return cp == CP_ACP || cp == CP_OEMCP || cp == CP_THREAD_ACP || cp == CP_UTF8;
}

// Decodes one UTF-8 sequence at s[i] (n bytes available); false when malformed.
bool decodeUtf8(const unsigned char* s, size_t n, size_t& i, char32_t& cp) {
    unsigned char b = s[i];
    int len = b < 0x80 ? 1 : (b >> 5) == 0x6 ? 2 : (b >> 4) == 0xE ? 3 : (b >> 3) == 0x1E ? 4 : 0;
    if (len == 0 || i + size_t(len) > n)
        return false;
    if (len == 1) {
        cp = b;
        ++i;
        return true;
    }
    cp = b & (0x7F >> len);
    for (int k = 1; k < len; ++k) {
        unsigned char c = s[i + size_t(k)];
        if ((c & 0xC0) != 0x80)
            return false;
        cp = cp << 6 | (c & 0x3F);
    }
    static const char32_t kMin[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[len] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return false;
    i += size_t(len);
    return true;
}

int fail(DWORD error) {
    SetLastError(error);
    return 0;
}

// Conversions build their result before copying it out; running out of memory on
// the way is a failed conversion like any other.
template <class Body> int guardConversion(Body&& body) noexcept {
    int n = orvik::guardBoundary<int>(-1, -1, body);
    return n < 0 ? fail(ERROR_OUTOFMEMORY) : n;
}

} // namespace

WINBASEAPI int WINAPI MultiByteToWideChar(UINT CodePage, DWORD, LPCSTR lpMultiByteStr,
                                          int cbMultiByte, LPWSTR lpWideCharStr,
                                          int cchWideChar) noexcept {
    return guardConversion([&]() -> int {
        if (!isUtf8CodePage(CodePage) || !lpMultiByteStr || cbMultiByte == 0 || cchWideChar < 0 ||
            (cchWideChar > 0 && !lpWideCharStr))
            return fail(ERROR_INVALID_PARAMETER);
        size_t n = cbMultiByte < 0 ? std::strlen(lpMultiByteStr) + 1 : size_t(cbMultiByte);
        auto* s = reinterpret_cast<const unsigned char*>(lpMultiByteStr);
        std::u16string out;
        for (size_t i = 0; i < n;) {
            char32_t cp = 0;
            if (!decodeUtf8(s, n, i, cp))
                return fail(ERROR_NO_UNICODE_TRANSLATION);
            if (cp >= 0x10000) {
                cp -= 0x10000;
                out += char16_t(0xD800 + (cp >> 10));
                out += char16_t(0xDC00 + (cp & 0x3FF));
            } else {
                out += char16_t(cp);
            }
        }
        if (out.size() > size_t(INT32_MAX))
            return fail(ERROR_INVALID_PARAMETER);
        if (cchWideChar == 0)
            return int(out.size());
        if (out.size() > size_t(cchWideChar))
            return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(lpWideCharStr, out.data(), out.size() * sizeof(char16_t));
        return int(out.size());
    });
}

WINBASEAPI int WINAPI WideCharToMultiByte(UINT CodePage, DWORD, LPCWSTR lpWideCharStr,
                                          int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                          LPCSTR, BOOL* lpUsedDefaultChar) noexcept {
    return guardConversion([&]() -> int {
        if (!isUtf8CodePage(CodePage) || !lpWideCharStr || cchWideChar == 0 || cbMultiByte < 0 ||
            (cbMultiByte > 0 && !lpMultiByteStr))
            return fail(ERROR_INVALID_PARAMETER);
        if (lpUsedDefaultChar)
            *lpUsedDefaultChar = FALSE;
        size_t n = cchWideChar < 0 ? size_t(lstrlenW(lpWideCharStr)) + 1 : size_t(cchWideChar);
        std::string out;
        for (size_t i = 0; i < n; ++i) {
            char32_t cp = lpWideCharStr[i];
            if (cp >= 0xD800 && cp <= 0xDBFF) {
                if (i + 1 >= n || lpWideCharStr[i + 1] < 0xDC00 || lpWideCharStr[i + 1] > 0xDFFF)
                    return fail(ERROR_NO_UNICODE_TRANSLATION);
                cp = 0x10000 + ((cp - 0xD800) << 10) + (lpWideCharStr[++i] - 0xDC00);
            } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
                return fail(ERROR_NO_UNICODE_TRANSLATION);
            }
            if (cp < 0x80) {
                out += char(cp);
            } else if (cp < 0x800) {
                out += char(0xC0 | (cp >> 6));
                out += char(0x80 | (cp & 0x3F));
            } else if (cp < 0x10000) {
                out += char(0xE0 | (cp >> 12));
                out += char(0x80 | ((cp >> 6) & 0x3F));
                out += char(0x80 | (cp & 0x3F));
            } else {
                out += char(0xF0 | (cp >> 18));
                out += char(0x80 | ((cp >> 12) & 0x3F));
                out += char(0x80 | ((cp >> 6) & 0x3F));
                out += char(0x80 | (cp & 0x3F));
            }
        }
        if (out.size() > size_t(INT32_MAX))
            return fail(ERROR_INVALID_PARAMETER);
        if (cbMultiByte == 0)
            return int(out.size());
        if (out.size() > size_t(cbMultiByte))
            return fail(ERROR_INSUFFICIENT_BUFFER);
        std::memcpy(lpMultiByteStr, out.data(), out.size());
        return int(out.size());
    });
}

WINBASEAPI LPSTR WINAPI CharNextA(LPCSTR lpsz) noexcept {
    if (!lpsz || !*lpsz)
        return const_cast<LPSTR>(lpsz);
    auto* s = reinterpret_cast<const unsigned char*>(lpsz);
    size_t i = 0;
    char32_t cp = 0;
    size_t available = strnlen(lpsz, 4);
    if (!decodeUtf8(s, available, i, cp))
        i = 1; // a malformed byte is a character of its own
    return const_cast<LPSTR>(lpsz + i);
}

WINBASEAPI BOOL WINAPI IsDBCSLeadByte(BYTE) noexcept {
    return FALSE;
}

WINBASEAPI int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b) noexcept {
    auto fold = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : int(c); };
    const unsigned char* p = reinterpret_cast<const unsigned char*>(a ? a : "");
    const unsigned char* q = reinterpret_cast<const unsigned char*>(b ? b : "");
    while (*p && fold(*p) == fold(*q)) {
        ++p;
        ++q;
    }
    return fold(*p) - fold(*q);
}

WINBASEAPI UINT WINAPI GetACP(void) noexcept {
    return CP_UTF8;
}
WINBASEAPI LCID WINAPI GetThreadLocale(void) noexcept {
    return 0x0409;
}

WINBASEAPI int WINAPI GetLocaleInfoA(LCID, DWORD LCType, LPSTR lpLCData, int cchData) noexcept {
    if (LCType != LOCALE_IDEFAULTANSICODEPAGE) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return 0;
    }
    const char text[] = "65001";
    if (cchData == 0)
        return int(sizeof text);
    if (!lpLCData || cchData < int(sizeof text)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return 0;
    }
    std::memcpy(lpLCData, text, sizeof text);
    return int(sizeof text);
}

WINBASEAPI BOOL WINAPI GetVersionExA(OSVERSIONINFOA* info) noexcept {
    if (!info || info->dwOSVersionInfoSize < sizeof(OSVERSIONINFOA)) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return FALSE;
    }
    info->dwMajorVersion = 6;
    info->dwMinorVersion = 1;
    info->dwBuildNumber = 7601;
    info->dwPlatformId = VER_PLATFORM_WIN32_NT;
    info->szCSDVersion[0] = 0;
    return TRUE;
}

STDAPI VarUI4FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, ULONG* pulOut) noexcept {
    if (!strIn || !pulOut)
        return E_INVALIDARG;
    VARIANT text, number;
    VariantInit(&text);
    VariantInit(&number);
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(strIn);
    if (!text.bstrVal)
        return E_OUTOFMEMORY;
    HRESULT hr = VariantChangeTypeEx(&number, &text, lcid, USHORT(dwFlags), VT_UI4);
    VariantClear(&text);
    if (SUCCEEDED(hr))
        *pulOut = number.ulVal;
    return hr;
}
