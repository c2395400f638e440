/* orvik/platform/bstr.h: length-prefixed 16-bit strings (BSTR)
 *
 * A BSTR points at the first character of a zero-terminated 16-bit string whose
 * byte length is stored in the 32-bit word just before it. A null BSTR reads as the
 * empty string everywhere. Strings are owned by whoever holds the pointer and freed
 * with SysFreeString.
 */
#ifndef ORVIK_PLATFORM_BSTR_H
#define ORVIK_PLATFORM_BSTR_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"

/* Copy of a zero-terminated string; null for a null argument or when memory is out. */
STDAPI_(BSTR) SysAllocString(const OLECHAR* psz) ORVIK_NOEXCEPT;
/* String of cch characters copied from strIn, or zero-filled when strIn is null. */
STDAPI_(BSTR) SysAllocStringLen(const OLECHAR* strIn, UINT cch) ORVIK_NOEXCEPT;
/* String of len bytes copied from psz (or zero-filled), for byte data. */
STDAPI_(BSTR) SysAllocStringByteLen(LPCSTR psz, UINT len) ORVIK_NOEXCEPT;
/* Replace *pbstr by a copy of psz; FALSE (and *pbstr kept) when memory is out. */
STDAPI_(INT) SysReAllocString(BSTR* pbstr, const OLECHAR* psz) ORVIK_NOEXCEPT;
STDAPI_(INT) SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) ORVIK_NOEXCEPT;
STDAPI_(void) SysFreeString(BSTR bstrString) ORVIK_NOEXCEPT;
/* Length in characters and in bytes; 0 for a null string. */
STDAPI_(UINT) SysStringLen(BSTR pbstr) ORVIK_NOEXCEPT;
STDAPI_(UINT) SysStringByteLen(BSTR bstr) ORVIK_NOEXCEPT;
/* Characters before the terminating zero; 0 for a null pointer. */
STDAPI_(int) lstrlenW(LPCWSTR lpString) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_BSTR_H */
