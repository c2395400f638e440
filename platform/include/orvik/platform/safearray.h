/* orvik/platform/safearray.h: automation safe arrays
 *
 * A SAFEARRAY describes a block of elements with one lower bound and element count
 * per dimension. As on the original platform the bounds are stored last dimension
 * first: rgsabound[cDims - 1] describes dimension 1, and an index vector passed to
 * SafeArrayPutElement / SafeArrayGetElement lists the last dimension first as well.
 * Indices are absolute, between the lower bound and lower bound + count - 1.
 * Arrays of BSTR, VARIANT and interface pointers own their elements: putting copies,
 * getting hands out a copy, destroying frees them.
 */
#ifndef ORVIK_PLATFORM_SAFEARRAY_H
#define ORVIK_PLATFORM_SAFEARRAY_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"

typedef struct tagSAFEARRAYBOUND {
    ULONG cElements;
    LONG lLbound;
} SAFEARRAYBOUND;
typedef SAFEARRAYBOUND* LPSAFEARRAYBOUND;

typedef struct tagSAFEARRAY {
    USHORT cDims;
    USHORT fFeatures;
    ULONG cbElements;
    ULONG cLocks;
    PVOID pvData;
    SAFEARRAYBOUND rgsabound[1];
} SAFEARRAY;
typedef SAFEARRAY* LPSAFEARRAY;

#define FADF_AUTO 0x0001
#define FADF_STATIC 0x0002
#define FADF_EMBEDDED 0x0004
#define FADF_FIXEDSIZE 0x0010
#define FADF_RECORD 0x0020
#define FADF_HAVEIID 0x0040
#define FADF_HAVEVARTYPE 0x0080
#define FADF_BSTR 0x0100
#define FADF_UNKNOWN 0x0200
#define FADF_DISPATCH 0x0400
#define FADF_VARIANT 0x0800

/* A new array of element type vt with cDims dimensions (rgsabound lists dimension 1
 * first), elements zeroed; null for an element type without a fixed size, zero
 * dimensions, a size that overflows, or lack of memory. */
STDAPI_(SAFEARRAY*)
SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) ORVIK_NOEXCEPT;
/* A new one-dimensional array; null as for SafeArrayCreate. */
STDAPI_(SAFEARRAY*) SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) ORVIK_NOEXCEPT;
/* Frees the array and its elements. DISP_E_ARRAYISLOCKED while it is locked or its
 * data is accessed; S_OK for a null array. */
STDAPI SafeArrayDestroy(SAFEARRAY* psa) ORVIK_NOEXCEPT;
STDAPI SafeArrayDestroyData(SAFEARRAY* psa) ORVIK_NOEXCEPT;
STDAPI SafeArrayDestroyDescriptor(SAFEARRAY* psa) ORVIK_NOEXCEPT;
/* Store a copy of *pv at rgIndices. E_INVALIDARG for a missing array, index vector or
 * value; DISP_E_BADINDEX for an index outside the bounds; E_OUTOFMEMORY when a string
 * cannot be copied. */
STDAPI SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) ORVIK_NOEXCEPT;
/* Copy the element at rgIndices to *pv (strings, variants and interfaces are copied
 * or referenced for the caller). Errors as for SafeArrayPutElement. */
STDAPI SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) ORVIK_NOEXCEPT;
/* Address of the element at rgIndices, without copying. */
STDAPI SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) ORVIK_NOEXCEPT;
/* Number of dimensions; 0 for a null array. */
STDAPI_(UINT) SafeArrayGetDim(SAFEARRAY* psa) ORVIK_NOEXCEPT;
/* Bytes per element; 0 for a null array. */
STDAPI_(UINT) SafeArrayGetElemsize(SAFEARRAY* psa) ORVIK_NOEXCEPT;
/* Inclusive bounds of dimension nDim (1-based). E_INVALIDARG for a null array or
 * bound pointer, DISP_E_BADINDEX for a dimension out of range. */
STDAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) ORVIK_NOEXCEPT;
STDAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) ORVIK_NOEXCEPT;
/* Element type recorded at creation. E_INVALIDARG for a null array or pointer. */
STDAPI SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) ORVIK_NOEXCEPT;
STDAPI SafeArrayLock(SAFEARRAY* psa) ORVIK_NOEXCEPT;
/* E_UNEXPECTED when the array is not locked. */
STDAPI SafeArrayUnlock(SAFEARRAY* psa) ORVIK_NOEXCEPT;
/* Lock the array and hand out its data block; undone by SafeArrayUnaccessData. */
STDAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) ORVIK_NOEXCEPT;
STDAPI SafeArrayUnaccessData(SAFEARRAY* psa) ORVIK_NOEXCEPT;
/* A deep copy of psa in *ppsaOut (null for a null psa). */
STDAPI SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_SAFEARRAY_H */
