/* orvik/platform/text.h: 8-bit text and its conversion to and from 16-bit text
 *
 * The 8-bit code page of this host is UTF-8 (65001): conversions are exact and
 * refuse malformed input (ERROR_NO_UNICODE_TRANSLATION) rather than guess.
 */
#ifndef ORVIK_PLATFORM_TEXT_H
#define ORVIK_PLATFORM_TEXT_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"

#define CP_ACP 0
#define CP_OEMCP 1
#define CP_THREAD_ACP 3
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_ERR_INVALID_CHARS 0x00000080
#define LOCALE_IDEFAULTANSICODEPAGE 0x00001004
#define VER_PLATFORM_WIN32_NT 2

typedef struct _OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
} OSVERSIONINFOA;

/* cbMultiByte -1 converts through the terminating zero (counted in the result).
 * With cchWideChar 0 the size needed is returned. 0 on failure, with the reason
 * in GetLastError: ERROR_INSUFFICIENT_BUFFER, ERROR_NO_UNICODE_TRANSLATION,
 * ERROR_INVALID_PARAMETER. */
WINBASEAPI int WINAPI MultiByteToWideChar(UINT CodePage, DWORD dwFlags, LPCSTR lpMultiByteStr,
                                          int cbMultiByte, LPWSTR lpWideCharStr,
                                          int cchWideChar) ORVIK_NOEXCEPT;
WINBASEAPI int WINAPI WideCharToMultiByte(UINT CodePage, DWORD dwFlags, LPCWSTR lpWideCharStr,
                                          int cchWideChar, LPSTR lpMultiByteStr, int cbMultiByte,
                                          LPCSTR lpDefaultChar,
                                          BOOL* lpUsedDefaultChar) ORVIK_NOEXCEPT;
/* The next character of UTF-8 text (a whole sequence); the end stays the end. */
WINBASEAPI LPSTR WINAPI CharNextA(LPCSTR lpsz) ORVIK_NOEXCEPT;
/* UTF-8 has no double-byte lead bytes: always FALSE. */
WINBASEAPI BOOL WINAPI IsDBCSLeadByte(BYTE TestChar) ORVIK_NOEXCEPT;
/* Compares ignoring the case of ASCII letters: <0, 0, >0. */
WINBASEAPI int WINAPI lstrcmpiA(LPCSTR lpString1, LPCSTR lpString2) ORVIK_NOEXCEPT;
WINBASEAPI UINT WINAPI GetACP(void) ORVIK_NOEXCEPT;
WINBASEAPI LCID WINAPI GetThreadLocale(void) ORVIK_NOEXCEPT;
WINBASEAPI int WINAPI GetLocaleInfoA(LCID Locale, DWORD LCType, LPSTR lpLCData,
                                     int cchData) ORVIK_NOEXCEPT;
/* Reports an NT-family platform, version 6.1. */
WINBASEAPI BOOL WINAPI GetVersionExA(OSVERSIONINFOA* lpVersionInformation) ORVIK_NOEXCEPT;

/* The automation conversion of text to an unsigned 32-bit number (as
 * VariantChangeType does it): DISP_E_TYPEMISMATCH, DISP_E_OVERFLOW. */
STDAPI VarUI4FromStr(LPCOLESTR strIn, LCID lcid, ULONG dwFlags, ULONG* pulOut) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_TEXT_H */
