/* orvik/platform/guid.h: 16-byte identifiers and their registry text form
 *
 * Class, interface and library identifiers are GUIDs compared over all 16 bytes.
 * The text form is the registry's: "{283075AE-B177-11D3-BE8E-0060B0EB1D67}",
 * 38 characters. As on the original platform, a C++ caller passes identifiers by
 * reference and a C caller by pointer; both are the same at the machine level.
 */
#ifndef ORVIK_PLATFORM_GUID_H
#define ORVIK_PLATFORM_GUID_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"

#include <string.h>

typedef struct _GUID {
    uint32_t Data1;
    uint16_t Data2;
    uint16_t Data3;
    uint8_t Data4[8];
} GUID;

typedef GUID IID;
typedef GUID CLSID;
typedef GUID* LPGUID;
typedef IID* LPIID;
typedef CLSID* LPCLSID;

#ifdef __cplusplus
#define REFGUID const GUID&
#define REFIID const IID&
#define REFCLSID const CLSID&
#else
#define REFGUID const GUID*
#define REFIID const IID*
#define REFCLSID const CLSID*
#endif

/* Length of the registry text form, without and with the terminating zero. */
#define ORVIK_GUID_TEXT_LENGTH 38
#define CHARS_IN_GUID 39

#ifdef __cplusplus
inline bool IsEqualGUID(REFGUID a, REFGUID b) {
    return memcmp(&a, &b, sizeof(GUID)) == 0;
}
inline bool operator==(REFGUID a, REFGUID b) {
    return IsEqualGUID(a, b);
}
inline bool operator!=(REFGUID a, REFGUID b) {
    return !IsEqualGUID(a, b);
}
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#else
#define IsEqualGUID(a, b) (memcmp((a), (b), sizeof(GUID)) == 0)
#define IsEqualIID(a, b) IsEqualGUID(a, b)
#define IsEqualCLSID(a, b) IsEqualGUID(a, b)
#endif

static const GUID GUID_NULL __attribute__((unused)) = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};

/* Writes the braced text form and its terminating zero into sz. Returns the number
 * of characters written including the zero (39), or 0 when cchMax is too small. */
STDAPI_(int) StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) ORVIK_NOEXCEPT;

/* Parse the braced text form (hex digits in either case). Malformed text gives
 * CO_E_CLASSSTRING (CLSIDFromString) or CO_E_IIDSTRING (IIDFromString) and leaves
 * the output unchanged; a null argument gives E_INVALIDARG. */
STDAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) ORVIK_NOEXCEPT;
STDAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_GUID_H */
