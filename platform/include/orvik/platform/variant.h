/* orvik/platform/variant.h: automation variants and the argument records of late binding
 *
 * VARIANT keeps the operating system's 24-byte layout on this 64-bit host: the type
 * tag, three reserved words and a 16-byte union. VariantChangeType converts between
 * the types that automation interfaces exchange and refuses, as the platform does,
 * with DISP_E_TYPEMISMATCH (no sensible conversion) or DISP_E_OVERFLOW (the value
 * does not fit the target type).
 */
#ifndef ORVIK_PLATFORM_VARIANT_H
#define ORVIK_PLATFORM_VARIANT_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"
#include "orvik/platform/safearray.h"

#ifdef __cplusplus
struct IUnknown;
struct IDispatch;
#else
typedef struct IUnknown IUnknown;
typedef struct IDispatch IDispatch;
#endif

enum VARENUM {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_VOID = 24,
    VT_HRESULT = 25,
    VT_PTR = 26,
    VT_SAFEARRAY = 27,
    VT_CARRAY = 28,
    VT_USERDEFINED = 29,
    VT_LPSTR = 30,
    VT_LPWSTR = 31,
    VT_RECORD = 36,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_RESERVED = 0x8000,
    VT_TYPEMASK = 0x0FFF
};

typedef struct tagVARIANT VARIANT;
typedef VARIANT VARIANTARG;
typedef VARIANT* LPVARIANT;
typedef VARIANT* LPVARIANTARG;

ORVIK_UNNAMED struct tagVARIANT {
    ORVIK_UNNAMED union {
        ORVIK_UNNAMED struct {
            VARTYPE vt;
            WORD wReserved1;
            WORD wReserved2;
            WORD wReserved3;
            ORVIK_UNNAMED union {
                LONGLONG llVal;
                LONG lVal;
                BYTE bVal;
                SHORT iVal;
                FLOAT fltVal;
                DOUBLE dblVal;
                VARIANT_BOOL boolVal;
                SCODE scode;
                CY cyVal;
                DATE date;
                BSTR bstrVal;
                IUnknown* punkVal;
                IDispatch* pdispVal;
                SAFEARRAY* parray;
                BYTE* pbVal;
                SHORT* piVal;
                LONG* plVal;
                LONGLONG* pllVal;
                FLOAT* pfltVal;
                DOUBLE* pdblVal;
                VARIANT_BOOL* pboolVal;
                SCODE* pscode;
                CY* pcyVal;
                DATE* pdate;
                BSTR* pbstrVal;
                IUnknown** ppunkVal;
                IDispatch** ppdispVal;
                SAFEARRAY** pparray;
                VARIANT* pvarVal;
                PVOID byref;
                CHAR cVal;
                USHORT uiVal;
                ULONG ulVal;
                ULONGLONG ullVal;
                INT intVal;
                UINT uintVal;
                DECIMAL* pdecVal;
                CHAR* pcVal;
                USHORT* puiVal;
                ULONG* pulVal;
                ULONGLONG* pullVal;
                INT* pintVal;
                UINT* puintVal;
                struct {
                    PVOID pvRecord;
                    PVOID pRecInfo;
                } brecVal;
            };
        };
        DECIMAL decVal;
    };
};

/* Flags of VariantChangeType. */
#define VARIANT_NOVALUEPROP 0x01
#define VARIANT_ALPHABOOL 0x02
#define VARIANT_NOUSEROVERRIDE 0x04
#define VARIANT_LOCALBOOL 0x10

typedef struct tagDISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
} DISPPARAMS;

typedef struct tagEXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(struct tagEXCEPINFO*);
    SCODE scode;
} EXCEPINFO;
typedef EXCEPINFO* LPEXCEPINFO;

#define DISPID_UNKNOWN (-1)
#define DISPID_VALUE 0
#define DISPID_PROPERTYPUT (-3)
#define DISPID_NEWENUM (-4)

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

STDAPI_(void) VariantInit(VARIANTARG* pvarg) ORVIK_NOEXCEPT;
/* Frees what the variant owns (string, array, interface reference) and makes it
 * VT_EMPTY. DISP_E_BADVARTYPE for a type tag the platform does not know (the
 * variant is left as it was). */
STDAPI VariantClear(VARIANTARG* pvarg) ORVIK_NOEXCEPT;
/* Clears pvargDest, then makes it a deep copy of pvargSrc (by-reference values are
 * copied as references). */
STDAPI VariantCopy(VARIANTARG* pvargDest, const VARIANTARG* pvargSrc) ORVIK_NOEXCEPT;
/* As VariantCopy, but a by-reference source is copied as the value it refers to. */
STDAPI VariantCopyInd(VARIANT* pvarDest, const VARIANTARG* pvargSrc) ORVIK_NOEXCEPT;
/* Converts pvarSrc to type vt into pvargDest (which may be the same variant). On
 * failure pvargDest is left unchanged. */
STDAPI VariantChangeType(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, USHORT wFlags,
                         VARTYPE vt) ORVIK_NOEXCEPT;
STDAPI VariantChangeTypeEx(VARIANTARG* pvargDest, const VARIANTARG* pvarSrc, LCID lcid,
                           USHORT wFlags, VARTYPE vt) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_VARIANT_H */
