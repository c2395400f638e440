// platform/src/core/bstr.cpp: length-prefixed strings
//
// Layout: a 32-bit byte count, the characters, then one zero character. The count
// is in bytes so that byte strings (SysAllocStringByteLen) of odd length work.

#include "orvik/platform/bstr.h"

#include <cstdlib>
#include <cstring>

namespace {

using Prefix = uint32_t;

Prefix* prefixOf(BSTR s) {
    return reinterpret_cast<Prefix*>(s) - 1;
}

// Allocates room for byteLen bytes plus the prefix and a zero character; copies
// byteLen bytes from src when given, else zero-fills.
BSTR allocateBytes(const void* src, size_t byteLen) {
    if (byteLen > 0xFFFFFFF0u)
        return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(Prefix) + byteLen + 2));
    if (!block)
        return nullptr;
    Prefix len = Prefix(byteLen);
    std::memcpy(block, &len, sizeof len);
    unsigned char* chars = block + sizeof(Prefix);
    if (src)
        std::memcpy(chars, src, byteLen);
    else
        std::memset(chars, 0, byteLen);
    chars[byteLen] = 0;
    chars[byteLen + 1] = 0;
    return reinterpret_cast<BSTR>(chars);
}

} // namespace

STDAPI_(int) lstrlenW(LPCWSTR lpString) noexcept {
    if (!lpString)
        return 0;
    int n = 0;
    while (lpString[n])
        ++n;
    return n;
}

STDAPI_(BSTR) SysAllocString(const OLECHAR* psz) noexcept {
    if (!psz)
        return nullptr;
    return allocateBytes(psz, size_t(lstrlenW(psz)) * sizeof(OLECHAR));
}

STDAPI_(BSTR) SysAllocStringLen(const OLECHAR* strIn, UINT cch) noexcept {
    return allocateBytes(strIn, size_t(cch) * sizeof(OLECHAR));
}

STDAPI_(BSTR) SysAllocStringByteLen(LPCSTR psz, UINT len) noexcept {
    return allocateBytes(psz, len);
}

STDAPI_(INT) SysReAllocStringLen(BSTR* pbstr, const OLECHAR* psz, UINT len) noexcept {
    if (!pbstr)
        return FALSE;
    BSTR fresh = SysAllocStringLen(psz, len);
    if (!fresh)
        return FALSE;
    SysFreeString(*pbstr);
    *pbstr = fresh;
    return TRUE;
}

STDAPI_(INT) SysReAllocString(BSTR* pbstr, const OLECHAR* psz) noexcept {
    if (!psz)
        return pbstr ? (SysFreeString(*pbstr), *pbstr = nullptr, TRUE) : FALSE;
    return SysReAllocStringLen(pbstr, psz, UINT(lstrlenW(psz)));
}

STDAPI_(void) SysFreeString(BSTR bstrString) noexcept {
    if (bstrString)
        std::free(prefixOf(bstrString));
}

STDAPI_(UINT) SysStringByteLen(BSTR bstr) noexcept {
    return bstr ? *prefixOf(bstr) : 0;
}

STDAPI_(UINT) SysStringLen(BSTR pbstr) noexcept {
    return SysStringByteLen(pbstr) / sizeof(OLECHAR);
}
