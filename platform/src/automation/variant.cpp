// platform/src/automation/variant.cpp: variants and their conversions
//
// Conversions go through one intermediate number: every numeric source (and a
// string, a boolean or an empty variant) is first read as an exact 64-bit integer
// or a double, then written to the target type with a range check. Reals become
// integers by rounding half to even, as the platform does. Strings are read and
// written in the invariant format ('.' as decimal point), whatever the locale.

#include "orvik/platform/variant.h"
#include "orvik/platform/bstr.h"
#include "orvik/platform/interfaces.h"

#include "core/bstr_copy.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <climits>
#include <cstring>

static_assert(sizeof(VARIANT) == 24, "the platform's 64-bit VARIANT is 24 bytes");
static_assert(offsetof(VARIANT, dblVal) == 8);
static_assert(sizeof(DISPPARAMS) == 24);
static_assert(sizeof(EXCEPINFO) == 64);

namespace {

bool isKnownBaseType(VARTYPE base) {
    switch (base) {
    case VT_EMPTY:
    case VT_NULL:
    case VT_I2:
    case VT_I4:
    case VT_R4:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
    case VT_BSTR:
    case VT_DISPATCH:
    case VT_ERROR:
    case VT_BOOL:
    case VT_VARIANT:
    case VT_UNKNOWN:
    case VT_DECIMAL:
    case VT_I1:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_I8:
    case VT_UI8:
    case VT_INT:
    case VT_UINT:
        return true;
    default:
        return false;
    }
}

bool isValidType(VARTYPE vt) {
    if (vt & VT_RESERVED)
        return false;
    VARTYPE base = vt & VT_TYPEMASK;
    if (vt & (VT_ARRAY | VT_BYREF))
        return isKnownBaseType(base) && base != VT_NULL && (base != VT_EMPTY);
    return isKnownBaseType(base) && base != VT_VARIANT;
}

// The value a by-reference variant points at, as a plain variant that borrows it
// (strings and interfaces are not copied). E_INVALIDARG for a null reference.
HRESULT dereference(const VARIANT& src, VARIANT& out) {
    VariantInit(&out);
    if (!(src.vt & VT_BYREF)) {
        out = src;
        return S_OK;
    }
    if (!src.byref)
        return E_INVALIDARG;
    VARTYPE base = src.vt & ~VT_BYREF;
    if (base == VT_VARIANT) {
        if (src.pvarVal->vt & VT_BYREF)
            return E_INVALIDARG;
        out = *src.pvarVal;
        return S_OK;
    }
    out.vt = base;
    if (base & VT_ARRAY) {
        out.parray = *src.pparray;
        return S_OK;
    }
    switch (base) {
    case VT_I1:
    case VT_UI1:
        out.bVal = *src.pbVal;
        break;
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        out.iVal = *src.piVal;
        break;
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_ERROR:
        out.lVal = *src.plVal;
        break;
    case VT_R4:
        out.fltVal = *src.pfltVal;
        break;
    case VT_R8:
    case VT_DATE:
        out.dblVal = *src.pdblVal;
        break;
    case VT_I8:
    case VT_UI8:
    case VT_CY:
        out.llVal = *src.pllVal;
        break;
    case VT_BSTR:
        out.bstrVal = *src.pbstrVal;
        break;
    case VT_UNKNOWN:
    case VT_DISPATCH:
        out.punkVal = *src.ppunkVal;
        break;
    case VT_DECIMAL:
        out.decVal = *src.pdecVal;
        out.vt = VT_DECIMAL;
        break;
    default:
        return DISP_E_BADVARTYPE;
    }
    return S_OK;
}

// A number read from a variant: exact when it is an integer, else a double.
struct Number {
    bool isInteger = true;
    int64_t integer = 0;
    double real = 0;
    double asReal() const { return isInteger ? double(integer) : real; }
};

bool narrowAscii(BSTR s, char* buf, size_t cap, size_t& len) {
    UINT n = SysStringLen(s);
    if (n >= cap)
        return false;
    for (UINT i = 0; i < n; ++i) {
        if (s[i] == 0 || s[i] > 0x7F)
            return false;
        buf[i] = char(s[i]);
    }
    len = n;
    return true;
}

// Where the first significant digit of a decimal number stands: 1 for the units, 2
// for the tens, 0 for the tenths, -1 for the hundredths, and so on, exponent
// included; beyond the range of a double only its sign matters. A number with no
// significant digit counts as small.
long long decimalMagnitude(const char* first, const char* last) {
    const char* e = std::find_if(first, last, [](char c) { return c == 'e' || c == 'E'; });
    long long position = 0; // of the first significant digit, before the exponent
    bool seenPoint = false, seenDigit = false;
    long long integerDigits = 0, leadingFractionZeros = 0;
    for (const char* p = first; p < e; ++p) {
        if (*p == '.') {
            seenPoint = true;
        } else if (*p >= '0' && *p <= '9') {
            if (*p != '0' || seenDigit) {
                if (!seenDigit && seenPoint)
                    position = -leadingFractionZeros;
                seenDigit = true;
            }
            if (!seenPoint && seenDigit)
                ++integerDigits;
            else if (seenPoint && !seenDigit)
                ++leadingFractionZeros;
        }
    }
    if (!seenDigit)
        return LLONG_MIN;
    if (integerDigits > 0)
        position = integerDigits;
    long long exponent = 0;
    if (e < last) {
        const char* digits = e + 1;
        bool negative = digits < last && *digits == '-';
        if (digits < last && (*digits == '-' || *digits == '+'))
            ++digits;
        auto r = std::from_chars(digits, last, exponent);
        if (r.ec == std::errc::result_out_of_range)
            return negative ? LLONG_MIN : LLONG_MAX;
        if (negative)
            exponent = -exponent;
    }
    return position + exponent;
}

// Reads a decimal number with optional sign, fraction and exponent, surrounded by
// optional blanks. DISP_E_TYPEMISMATCH for other text, DISP_E_OVERFLOW beyond double.
HRESULT parseNumber(BSTR s, Number& out) {
    char buf[512];
    size_t len = 0;
    if (!narrowAscii(s, buf, sizeof buf, len))
        return DISP_E_TYPEMISMATCH;
    const char* first = buf;
    const char* last = buf + len;
    while (first < last && (*first == ' ' || *first == '\t'))
        ++first;
    while (last > first && (last[-1] == ' ' || last[-1] == '\t'))
        --last;
    bool plus = first < last && *first == '+';
    if (plus)
        ++first;
    // One sign at most: "+-5" is no number.
    if (first == last || (plus && (*first == '-' || *first == '+')))
        return DISP_E_TYPEMISMATCH;
    int64_t i = 0;
    auto ir = std::from_chars(first, last, i);
    if (ir.ec == std::errc() && ir.ptr == last) {
        out = Number{true, i, 0};
        return S_OK;
    }
    double d = 0;
    auto dr = std::from_chars(first, last, d, std::chars_format::general);
    if (dr.ptr != last || (dr.ec != std::errc() && dr.ec != std::errc::result_out_of_range))
        return DISP_E_TYPEMISMATCH;
    if (dr.ec == std::errc::result_out_of_range) {
        // Out of range is either too large (overflow) or too small (rounds to 0).
        if (decimalMagnitude(first, last) > 0)
            return DISP_E_OVERFLOW;
        d = 0.0;
    }
    if (std::isnan(d) || std::isinf(d))
        return DISP_E_TYPEMISMATCH;
    out = Number{false, 0, d};
    return S_OK;
}

bool equalsIgnoringCase(BSTR s, const char* word) {
    size_t n = std::strlen(word);
    if (SysStringLen(s) != n)
        return false;
    for (size_t i = 0; i < n; ++i) {
        OLECHAR c = s[i];
        if (c >= u'A' && c <= u'Z')
            c = OLECHAR(c - u'A' + u'a');
        if (c != OLECHAR(word[i]))
            return false;
    }
    return true;
}

HRESULT readNumber(const VARIANT& v, Number& out, VARTYPE target) {
    switch (v.vt) {
    case VT_EMPTY:
        out = Number{};
        return S_OK;
    case VT_I1:
        out = Number{true, v.cVal, 0};
        return S_OK;
    case VT_UI1:
        out = Number{true, v.bVal, 0};
        return S_OK;
    case VT_I2:
        out = Number{true, v.iVal, 0};
        return S_OK;
    case VT_UI2:
        out = Number{true, v.uiVal, 0};
        return S_OK;
    case VT_BOOL:
        out = Number{true, v.boolVal ? -1 : 0, 0};
        return S_OK;
    case VT_I4:
    case VT_INT:
        out = Number{true, v.lVal, 0};
        return S_OK;
    case VT_UI4:
    case VT_UINT:
        out = Number{true, int64_t(v.ulVal), 0};
        return S_OK;
    case VT_I8:
        out = Number{true, v.llVal, 0};
        return S_OK;
    case VT_UI8:
        if (v.ullVal > uint64_t(INT64_MAX))
            out = Number{false, 0, double(v.ullVal)};
        else
            out = Number{true, int64_t(v.ullVal), 0};
        return S_OK;
    case VT_R4:
        out = Number{false, 0, double(v.fltVal)};
        return S_OK;
    case VT_R8:
        out = Number{false, 0, v.dblVal};
        return S_OK;
    case VT_BSTR:
        if (target == VT_BOOL) {
            if (equalsIgnoringCase(v.bstrVal, "true")) {
                out = Number{true, -1, 0};
                return S_OK;
            }
            if (equalsIgnoringCase(v.bstrVal, "false")) {
                out = Number{};
                return S_OK;
            }
        }
        return parseNumber(v.bstrVal, out);
    default:
        return DISP_E_TYPEMISMATCH;
    }
}

// Rounds half to even and checks [lo, hi]; DISP_E_OVERFLOW outside or for NaN.
HRESULT toInteger(const Number& n, double lo, double hi, int64_t& out) {
    if (n.isInteger) {
        if (double(n.integer) < lo || double(n.integer) > hi)
            return DISP_E_OVERFLOW;
        out = n.integer;
        return S_OK;
    }
    double r = std::nearbyint(n.real);
    if (!(r >= lo && r <= hi))
        return DISP_E_OVERFLOW;
    out = int64_t(r);
    return S_OK;
}

HRESULT writeInteger(const Number& n, VARTYPE vt, VARIANT& out) {
    int64_t v = 0;
    HRESULT hr = S_OK;
    switch (vt) {
    case VT_I1:
        hr = toInteger(n, -128, 127, v);
        out.cVal = CHAR(v);
        break;
    case VT_UI1:
        hr = toInteger(n, 0, 255, v);
        out.bVal = BYTE(v);
        break;
    case VT_I2:
        hr = toInteger(n, -32768, 32767, v);
        out.iVal = SHORT(v);
        break;
    case VT_UI2:
        hr = toInteger(n, 0, 65535, v);
        out.uiVal = USHORT(v);
        break;
    case VT_I4:
    case VT_INT:
        hr = toInteger(n, -2147483648.0, 2147483647.0, v);
        out.lVal = LONG(v);
        break;
    case VT_UI4:
    case VT_UINT:
        hr = toInteger(n, 0, 4294967295.0, v);
        out.ulVal = ULONG(v);
        break;
    case VT_I8:
        if (n.isInteger)
            v = n.integer;
        else if (!(std::nearbyint(n.real) >= -9223372036854775808.0 &&
                   std::nearbyint(n.real) < 9223372036854775808.0))
            hr = DISP_E_OVERFLOW;
        else
            v = int64_t(std::nearbyint(n.real));
        out.llVal = v;
        break;
    case VT_UI8:
        if (n.isInteger) {
            if (n.integer < 0)
                hr = DISP_E_OVERFLOW;
            out.ullVal = uint64_t(n.integer);
        } else {
            double r = std::nearbyint(n.real);
            if (!(r >= 0 && r < 18446744073709551616.0))
                hr = DISP_E_OVERFLOW;
            else
                out.ullVal = uint64_t(r);
        }
        break;
    default:
        return DISP_E_TYPEMISMATCH;
    }
    if (SUCCEEDED(hr))
        out.vt = vt;
    return hr;
}

HRESULT writeString(const VARIANT& src, const Number& n, USHORT flags, VARIANT& out) {
    char buf[64];
    if (src.vt == VT_BOOL) {
        const char* text = (flags & (VARIANT_ALPHABOOL | VARIANT_LOCALBOOL))
                               ? (src.boolVal ? "True" : "False")
                               : (src.boolVal ? "-1" : "0");
        std::snprintf(buf, sizeof buf, "%s", text);
    } else if (src.vt == VT_EMPTY) {
        buf[0] = 0;
    } else if (n.isInteger) {
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n.integer));
    } else if (src.vt == VT_R4) {
        std::snprintf(buf, sizeof buf, "%.7G", n.real);
    } else {
        std::snprintf(buf, sizeof buf, "%.15G", n.real);
    }
    size_t len = std::strlen(buf);
    BSTR s = SysAllocStringLen(nullptr, UINT(len));
    if (!s)
        return E_OUTOFMEMORY;
    for (size_t i = 0; i < len; ++i)
        s[i] = OLECHAR(static_cast<unsigned char>(buf[i]));
    out.vt = VT_BSTR;
    out.bstrVal = s;
    return S_OK;
}

// The default value of an automation object (its DISPID_VALUE property).
HRESULT defaultValue(IDispatch* disp, LCID lcid, VARIANT& out) {
    if (!disp)
        return DISP_E_TYPEMISMATCH;
    DISPPARAMS none = {nullptr, nullptr, 0, 0};
    VariantInit(&out);
    HRESULT hr = disp->Invoke(DISPID_VALUE, IID_NULL, lcid, DISPATCH_PROPERTYGET, &none, &out,
                              nullptr, nullptr);
    if (FAILED(hr)) {
        VariantClear(&out);
        return DISP_E_TYPEMISMATCH;
    }
    return S_OK;
}

HRESULT convert(const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, VARIANT& out);

HRESULT convertInterface(const VARIANT& src, VARTYPE vt, VARIANT& out) {
    IUnknown* unk = src.punkVal;
    if (vt == VT_UNKNOWN) {
        if (unk)
            unk->AddRef();
        out.vt = VT_UNKNOWN;
        out.punkVal = unk;
        return S_OK;
    }
    // VT_DISPATCH from VT_UNKNOWN: the object must offer IDispatch.
    if (!unk) {
        out.vt = VT_DISPATCH;
        out.pdispVal = nullptr;
        return S_OK;
    }
    void* disp = nullptr;
    HRESULT hr = unk->QueryInterface(IID_IDispatch, &disp);
    if (FAILED(hr))
        return hr;
    out.vt = VT_DISPATCH;
    out.pdispVal = static_cast<IDispatch*>(disp);
    return S_OK;
}

HRESULT convert(const VARIANT& src, LCID lcid, USHORT flags, VARTYPE vt, VARIANT& out) {
    VariantInit(&out);
    if (src.vt == vt)
        return VariantCopy(&out, &src);
    if (vt == VT_EMPTY)
        return S_OK;
    if (src.vt == VT_DISPATCH && vt != VT_UNKNOWN) {
        if (flags & VARIANT_NOVALUEPROP)
            return DISP_E_TYPEMISMATCH;
        VARIANT value;
        HRESULT hr = defaultValue(src.pdispVal, lcid, value);
        if (FAILED(hr))
            return hr;
        hr = value.vt == VT_DISPATCH ? DISP_E_TYPEMISMATCH
                                     : convert(value, lcid, flags | VARIANT_NOVALUEPROP, vt, out);
        VariantClear(&value);
        return hr;
    }
    if ((vt == VT_UNKNOWN || vt == VT_DISPATCH) && (src.vt == VT_UNKNOWN || src.vt == VT_DISPATCH))
        return convertInterface(src, vt, out);
    if ((vt & VT_ARRAY) || (src.vt & VT_ARRAY) || vt == VT_NULL || vt == VT_ERROR ||
        vt == VT_UNKNOWN || vt == VT_DISPATCH || src.vt == VT_NULL || src.vt == VT_ERROR)
        return DISP_E_TYPEMISMATCH;

    Number n;
    HRESULT hr = readNumber(src, n, vt);
    if (vt == VT_BSTR)
        return src.vt == VT_BSTR || FAILED(hr) ? DISP_E_TYPEMISMATCH
                                               : writeString(src, n, flags, out);
    if (FAILED(hr))
        return hr;
    switch (vt) {
    case VT_R8:
        out.vt = VT_R8;
        out.dblVal = n.asReal();
        return S_OK;
    case VT_R4: {
        double d = n.asReal();
        if (std::isfinite(d) && std::fabs(d) > double(FLT_MAX))
            return DISP_E_OVERFLOW;
        out.vt = VT_R4;
        out.fltVal = float(d);
        return S_OK;
    }
    case VT_BOOL:
        out.vt = VT_BOOL;
        out.boolVal = (n.isInteger ? n.integer != 0 : n.real != 0.0) ? VARIANT_TRUE : VARIANT_FALSE;
        return S_OK;
    default:
        return writeInteger(n, vt, out);
    }
}

} // namespace

STDAPI_(void) VariantInit(VARIANTARG* pvarg) noexcept {
    if (pvarg) {
        std::memset(pvarg, 0, sizeof *pvarg);
        pvarg->vt = VT_EMPTY;
    }
}

STDAPI VariantClear(VARIANTARG* pvarg) noexcept {
    if (!pvarg)
        return E_INVALIDARG;
    if (pvarg->vt != VT_EMPTY && !isValidType(pvarg->vt))
        return DISP_E_BADVARTYPE;
    if (!(pvarg->vt & VT_BYREF)) {
        if (pvarg->vt & VT_ARRAY) {
            HRESULT hr = SafeArrayDestroy(pvarg->parray);
            if (FAILED(hr))
                return hr;
        } else if (pvarg->vt == VT_BSTR) {
            SysFreeString(pvarg->bstrVal);
        } else if (pvarg->vt == VT_UNKNOWN || pvarg->vt == VT_DISPATCH) {
            if (pvarg->punkVal)
                pvarg->punkVal->Release();
        }
    }
    std::memset(pvarg, 0, sizeof *pvarg);
    pvarg->vt = VT_EMPTY;
    return S_OK;
}

STDAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) noexcept {
    if (!pvargDest || !pvargSrc)
        return E_INVALIDARG;
    if (pvargDest == pvargSrc)
        return S_OK;
    if (pvargSrc->vt != VT_EMPTY && !isValidType(pvargSrc->vt))
        return DISP_E_BADVARTYPE;
    HRESULT hr = VariantClear(pvargDest);
    if (FAILED(hr))
        return hr;
    VARIANT copy = *pvargSrc;
    if (!(copy.vt & VT_BYREF)) {
        if (copy.vt & VT_ARRAY) {
            hr = SafeArrayCopy(pvargSrc->parray, &copy.parray);
            if (FAILED(hr))
                return hr;
        } else if (copy.vt == VT_BSTR && copy.bstrVal) {
            copy.bstrVal = orvik::copyBstr(pvargSrc->bstrVal);
            if (!copy.bstrVal)
                return E_OUTOFMEMORY;
        } else if ((copy.vt == VT_UNKNOWN || copy.vt == VT_DISPATCH) && copy.punkVal) {
            copy.punkVal->AddRef();
        }
    }
    *pvargDest = copy;
    return S_OK;
}

STDAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) noexcept {
    if (!pvarDest || !pvargSrc)
        return E_INVALIDARG;
    VARIANT value;
    HRESULT hr = dereference(*pvargSrc, value);
    if (FAILED(hr))
        return hr;
    if (pvarDest == pvargSrc) {
        VARIANT copy;
        VariantInit(&copy);
        hr = VariantCopy(&copy, &value);
        if (FAILED(hr))
            return hr;
        *pvarDest = copy; // the source was a reference: nothing of it to free
        return S_OK;
    }
    return VariantCopy(pvarDest, &value);
}

STDAPI VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                           USHORT wFlags, VARTYPE vt) noexcept {
    if (!pvargDest || !pvarSrc)
        return E_INVALIDARG;
    if ((vt & VT_BYREF) || (vt != VT_EMPTY && !isValidType(vt)))
        return DISP_E_BADVARTYPE;
    if (pvarSrc->vt != VT_EMPTY && !isValidType(pvarSrc->vt))
        return DISP_E_BADVARTYPE;
    VARIANT value;
    HRESULT hr = dereference(*pvarSrc, value);
    if (FAILED(hr))
        return hr;
    VARIANT result;
    hr = convert(value, lcid, wFlags, vt, result);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    // The destination is cleared only once the conversion has succeeded, so a
    // failure leaves it (and a source that is the same variant) untouched.
    hr = VariantClear(pvargDest);
    if (FAILED(hr)) {
        VariantClear(&result);
        return hr;
    }
    *pvargDest = result;
    return S_OK;
}

STDAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                         VARTYPE vt) noexcept {
    return VariantChangeTypeEx(pvargDest, pvarSrc, LOCALE_USER_DEFAULT, wFlags, vt);
}
