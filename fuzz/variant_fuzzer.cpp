// fuzz/variant_fuzzer.cpp: VariantChangeType over every pair of types
//
// The first two bytes choose the source and target types from every automation
// base type, the third the flags; the rest is the source's value (its bytes, or
// UTF-16 text for a string). Every conversion ends in S_OK or an error code with
// nothing leaked, and a converted value has the type asked for.

#include "orvik/platform.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>

namespace {

const VARTYPE kTypes[] = {VT_EMPTY, VT_NULL, VT_I2,    VT_I4,   VT_R4,      VT_R8,      VT_CY,
                          VT_DATE,  VT_BSTR, VT_ERROR, VT_BOOL, VT_VARIANT, VT_DECIMAL, VT_I1,
                          VT_UI1,   VT_UI2,  VT_UI4,   VT_I8,   VT_UI8,     VT_INT,     VT_UINT};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3)
        return 0;
    VARTYPE from = kTypes[data[0] % std::size(kTypes)];
    VARTYPE to = kTypes[data[1] % std::size(kTypes)];
    USHORT flags = data[2] & 1 ? VARIANT_ALPHABOOL : 0;
    data += 3;
    size -= 3;
    VARIANT in, out;
    VariantInit(&in);
    VariantInit(&out);
    if (from == VT_BSTR) {
        in.bstrVal = SysAllocStringByteLen(reinterpret_cast<const char*>(data), UINT(size));
        if (!in.bstrVal)
            return 0;
    } else if (from != VT_VARIANT && from != VT_DECIMAL) {
        std::memcpy(&in.llVal, data, size < 8 ? size : 8);
    } else {
        from = VT_EMPTY; // neither is a type a variant holds by value here
    }
    in.vt = from;
    HRESULT hr = VariantChangeType(&out, &in, flags, to);
    if (SUCCEEDED(hr) && hr != S_OK)
        std::abort();
    if (hr == S_OK && out.vt != to && to != VT_VARIANT)
        std::abort();
    VariantClear(&out);
    VariantClear(&in);
    return 0;
}
