// platform/src/core/guid.cpp: identifier text form and the platform's well-known identifiers
//
// The text form is fixed-width ("{8-4-4-4-12}" hex digits), so parsing checks every
// position and refuses anything else, including a missing brace or trailing text.

#include "orvik/platform/guid.h"
#include "orvik/platform/interfaces.h"

#include <initializer_list>

namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";

// Byte order of the text form: Data1 (4 bytes), Data2, Data3, then Data4 bytes.
// Positions of each byte's two digits in the 38-character text.
constexpr int kBytePositions[16] = {1, 3, 5, 7, 10, 12, 15, 17, 20, 22, 25, 27, 29, 31, 33, 35};

void toBytes(const GUID& g, uint8_t out[16]) {
    out[0] = uint8_t(g.Data1 >> 24);
    out[1] = uint8_t(g.Data1 >> 16);
    out[2] = uint8_t(g.Data1 >> 8);
    out[3] = uint8_t(g.Data1);
    out[4] = uint8_t(g.Data2 >> 8);
    out[5] = uint8_t(g.Data2);
    out[6] = uint8_t(g.Data3 >> 8);
    out[7] = uint8_t(g.Data3);
    for (int i = 0; i < 8; ++i)
        out[8 + i] = g.Data4[i];
}

int hexValue(OLECHAR c) {
    if (c >= u'0' && c <= u'9')
        return c - u'0';
    if (c >= u'a' && c <= u'f')
        return c - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c - u'A' + 10;
    return -1;
}

bool parseGuid(LPCOLESTR text, GUID& out) {
    for (int i = 0; i < ORVIK_GUID_TEXT_LENGTH; ++i)
        if (text[i] == 0)
            return false;
    if (text[ORVIK_GUID_TEXT_LENGTH] != 0 || text[0] != u'{' || text[37] != u'}')
        return false;
    for (int dash : {9, 14, 19, 24})
        if (text[dash] != u'-')
            return false;
    uint8_t b[16];
    for (int i = 0; i < 16; ++i) {
        int hi = hexValue(text[kBytePositions[i]]);
        int lo = hexValue(text[kBytePositions[i] + 1]);
        if (hi < 0 || lo < 0)
            return false;
        b[i] = uint8_t(hi << 4 | lo);
    }
    out.Data1 = uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
    out.Data2 = uint16_t(b[4] << 8 | b[5]);
    out.Data3 = uint16_t(b[6] << 8 | b[7]);
    for (int i = 0; i < 8; ++i)
        out.Data4[i] = b[8 + i];
    return true;
}

} // namespace

STDAPI_(int) StringFromGUID2(REFGUID rguid, LPOLESTR lpsz, int cchMax) noexcept {
    if (!lpsz || cchMax < CHARS_IN_GUID)
        return 0;
    uint8_t b[16];
    toBytes(rguid, b);
    const char16_t pattern[] = u"{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    for (int i = 0; i < CHARS_IN_GUID; ++i)
        lpsz[i] = pattern[i];
    for (int i = 0; i < 16; ++i) {
        lpsz[kBytePositions[i]] = OLECHAR(kHexDigits[b[i] >> 4]);
        lpsz[kBytePositions[i] + 1] = OLECHAR(kHexDigits[b[i] & 0xF]);
    }
    return CHARS_IN_GUID;
}

STDAPI CLSIDFromString(LPCOLESTR lpsz, LPCLSID pclsid) noexcept {
    if (!lpsz || !pclsid)
        return E_INVALIDARG;
    return parseGuid(lpsz, *pclsid) ? S_OK : CO_E_CLASSSTRING;
}

STDAPI IIDFromString(LPCOLESTR lpsz, LPIID lpiid) noexcept {
    if (!lpsz || !lpiid)
        return E_INVALIDARG;
    return parseGuid(lpsz, *lpiid) ? S_OK : CO_E_IIDSTRING;
}

#define ORVIK_STANDARD_IID(name, d1)                                                               \
    extern "C" ORVIK_PLATFORM_API const IID name = {d1, 0, 0, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}}

ORVIK_STANDARD_IID(IID_IUnknown, 0x00000000);
ORVIK_STANDARD_IID(IID_IClassFactory, 0x00000001);
ORVIK_STANDARD_IID(IID_IDispatch, 0x00020400);
ORVIK_STANDARD_IID(IID_ITypeInfo, 0x00020401);
ORVIK_STANDARD_IID(IID_ITypeLib, 0x00020402);
ORVIK_STANDARD_IID(IID_ITypeLib2, 0x00020411);
ORVIK_STANDARD_IID(IID_ITypeInfo2, 0x00020412);
extern "C" ORVIK_PLATFORM_API const IID IID_NULL = {0, 0, 0, {0, 0, 0, 0, 0, 0, 0, 0}};
