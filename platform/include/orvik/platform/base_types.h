/* orvik/platform/base_types.h: the fixed-width types of the component platform
 *
 * The operating system's services are declared with their own type names. On this
 * 64-bit host LONG and ULONG stay 32 bits wide (as on the original platform), so
 * they are spelled with <stdint.h> types rather than the C keywords. The header is
 * valid C99 and C++ so that plain C clients can include it.
 */
#ifndef ORVIK_PLATFORM_BASE_TYPES_H
#define ORVIK_PLATFORM_BASE_TYPES_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
#define ORVIK_EXTERN_C extern "C"
#define ORVIK_EXTERN_C_BEGIN extern "C" {
#define ORVIK_EXTERN_C_END }
/* No platform function lets an exception escape. */
#define ORVIK_NOEXCEPT noexcept
/* A value converted to type: C++'s named cast, so that the headers stay quiet
 * under -Wold-style-cast, and C's cast in C. */
#define ORVIK_CAST(type, value) static_cast<type>(value)
/* The interfaces are tables, never destroyed through a pointer to one: their
 * destructors are protected (and need not be virtual). */
#define ORVIK_INTERFACE_DESTRUCTOR(name)                                                           \
protected:                                                                                         \
    ~name() = default;
#else
#define ORVIK_NOEXCEPT
#define ORVIK_EXTERN_C extern
#define ORVIK_EXTERN_C_BEGIN
#define ORVIK_EXTERN_C_END
#define ORVIK_CAST(type, value) ((type)(value))
#endif

/* Platform functions are exported from the platform library with C linkage. */
#define WINAPI
#define STDMETHODCALLTYPE
#define STDAPICALLTYPE
#define ORVIK_PLATFORM_API __attribute__((visibility("default")))
#define STDAPI ORVIK_EXTERN_C ORVIK_PLATFORM_API HRESULT STDAPICALLTYPE
#define STDAPI_(type) ORVIK_EXTERN_C ORVIK_PLATFORM_API type STDAPICALLTYPE
#define WINBASEAPI ORVIK_EXTERN_C ORVIK_PLATFORM_API

typedef int32_t LONG;
typedef uint32_t ULONG;
typedef int16_t SHORT;
typedef uint16_t USHORT;
typedef uint32_t DWORD;
typedef uint16_t WORD;
typedef uint8_t BYTE;
typedef int32_t INT;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef char CHAR;
typedef int8_t INT8;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef float FLOAT;
typedef double DOUBLE;
typedef void VOID;
typedef void* PVOID;
typedef void* LPVOID;
typedef const void* LPCVOID;
typedef void* HANDLE;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t DWORD_PTR;
typedef size_t SIZE_T;
typedef DWORD* LPDWORD;
typedef LONG* LPLONG;
typedef BYTE* LPBYTE;
typedef const BYTE* LPCBYTE;
typedef char* LPSTR;
typedef const char* LPCSTR;

typedef int32_t HRESULT;
typedef LONG SCODE;
typedef DWORD LCID;
typedef LONG DISPID;
typedef DISPID MEMBERID;
typedef short VARIANT_BOOL;
typedef double DATE;
typedef unsigned short VARTYPE;

/* Text crossing an interface is 16-bit. In C++ it is char16_t; C sees the same
 * storage as an unsigned 16-bit integer. */
#ifdef __cplusplus
typedef char16_t OLECHAR;
typedef char16_t WCHAR;
#else
typedef uint16_t OLECHAR;
typedef uint16_t WCHAR;
#endif
typedef OLECHAR* LPOLESTR;
typedef const OLECHAR* LPCOLESTR;
typedef WCHAR* LPWSTR;
typedef const WCHAR* LPCWSTR;
typedef OLECHAR* BSTR;

/* A client may have its own; the values are the usual ones. */
#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif
#define VARIANT_TRUE ORVIK_CAST(VARIANT_BOOL, -1)
#define VARIANT_FALSE ORVIK_CAST(VARIANT_BOOL, 0)

/* The operating system's layouts have members without a name, an extension in C99
 * and C++; marked so that pedantic compilers accept them. */
#if defined(__GNUC__) || defined(__clang__)
#define ORVIK_UNNAMED __extension__
#else
#define ORVIK_UNNAMED
#endif

typedef union tagCY {
    struct {
        ULONG Lo;
        LONG Hi;
    } s;
    LONGLONG int64;
} CY;

typedef struct tagDEC {
    USHORT wReserved;
    BYTE scale;
    BYTE sign;
    ULONG Hi32;
    ULONGLONG Lo64;
} DECIMAL;

#define LOCALE_USER_DEFAULT ((LCID)0x0400)
#define LOCALE_SYSTEM_DEFAULT ((LCID)0x0800)
#define LOCALE_NEUTRAL ((LCID)0)

#endif /* ORVIK_PLATFORM_BASE_TYPES_H */
