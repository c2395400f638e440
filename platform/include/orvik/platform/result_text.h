/* orvik/platform/result_text.h: result codes and platform errors in words
 *
 * FormatMessageA gives the text of a result code or a platform error number as the
 * operating system does (FORMAT_MESSAGE_FROM_SYSTEM; the text ends with CR LF).
 * OrvikResultCodeName and OrvikResultCodeText give the symbolic name and the bare
 * text, for messages of the form "text (NAME, 0x80070057)".
 */
#ifndef ORVIK_PLATFORM_RESULT_TEXT_H
#define ORVIK_PLATFORM_RESULT_TEXT_H

#include <stdarg.h>

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"

#define FORMAT_MESSAGE_ALLOCATE_BUFFER 0x00000100
#define FORMAT_MESSAGE_IGNORE_INSERTS 0x00000200
#define FORMAT_MESSAGE_FROM_STRING 0x00000400
#define FORMAT_MESSAGE_FROM_HMODULE 0x00000800
#define FORMAT_MESSAGE_FROM_SYSTEM 0x00001000
#define FORMAT_MESSAGE_ARGUMENT_ARRAY 0x00002000
#define FORMAT_MESSAGE_MAX_WIDTH_MASK 0x000000FF
#define ERROR_NOT_SUPPORTED 50L
#define ERROR_MR_MID_NOT_FOUND 317L

typedef HANDLE HLOCAL;

/* Only FORMAT_MESSAGE_FROM_SYSTEM is served (with or without IGNORE_INSERTS and
 * ALLOCATE_BUFFER; the texts have no inserts). dwMessageId is a result code or a
 * platform error number; dwLanguageId is 0 or any English locale. With
 * ALLOCATE_BUFFER, lpBuffer receives a buffer that LocalFree releases. Returns the
 * characters written without the terminating zero, or 0 with GetLastError:
 * ERROR_MR_MID_NOT_FOUND, ERROR_RESOURCE_LANG_NOT_FOUND (a language other than
 * English), ERROR_INSUFFICIENT_BUFFER, ERROR_INVALID_PARAMETER, ERROR_NOT_SUPPORTED. */
WINBASEAPI DWORD WINAPI FormatMessageA(DWORD dwFlags, LPCVOID lpSource, DWORD dwMessageId,
                                       DWORD dwLanguageId, LPSTR lpBuffer, DWORD nSize,
                                       va_list* Arguments) ORVIK_NOEXCEPT;
WINBASEAPI HLOCAL WINAPI LocalFree(HLOCAL hMem) ORVIK_NOEXCEPT;

/* The symbolic name of a result code ("E_INVALIDARG"), or null when it has none.
 * Positive values other than S_FALSE are read as platform error numbers
 * ("ERROR_FILE_NOT_FOUND"), and HRESULT_FROM_WIN32 of one is named as such
 * ("HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND)"). The text is static. */
WINBASEAPI const char* WINAPI OrvikResultCodeName(HRESULT hr) ORVIK_NOEXCEPT;

/* The text FormatMessageA gives, without the line end, or null when it has none. */
WINBASEAPI const char* WINAPI OrvikResultCodeText(HRESULT hr) ORVIK_NOEXCEPT;

/* "The parameter is incorrect. (E_INVALIDARG, 0x80070057)": the text, name and value
 * of a code as far as the platform knows them ("0x8004FFFF" for one it does not),
 * written with its terminating zero when size allows. Returns the length of the whole
 * text without the zero, so that a caller can size its buffer with a first call. */
WINBASEAPI DWORD WINAPI OrvikResultCodeWords(HRESULT hr, LPSTR buffer, DWORD size) ORVIK_NOEXCEPT;

/* The platform library's version, "2006.2.105". */
WINBASEAPI const char* WINAPI OrvikPlatformVersion(void) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_RESULT_TEXT_H */
