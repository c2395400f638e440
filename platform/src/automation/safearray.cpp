// platform/src/automation/safearray.cpp: automation safe arrays
//
// Each array made here is one allocation for the descriptor, preceded by a 16-byte
// prefix whose last four bytes hold the element type (as the platform keeps it, so
// SafeArrayGetVartype can read it back), plus one allocation for the data. Data is
// laid out with dimension 1 varying fastest. Arrays of strings, variants and
// interfaces own their elements.

#include "orvik/platform/safearray.h"
#include "orvik/platform/bstr.h"
#include "orvik/platform/interfaces.h"
#include "orvik/platform/variant.h"

#include "core/bstr_copy.h"

#include <cstdlib>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

static_assert(sizeof(SAFEARRAYBOUND) == 8);
static_assert(sizeof(SAFEARRAY) == 32, "the platform's 64-bit descriptor is 32 bytes");
static_assert(offsetof(SAFEARRAY, pvData) == 16);
static_assert(offsetof(SAFEARRAY, rgsabound) == 24);

namespace {

constexpr size_t kPrefixSize = 16;

struct ElementKind {
    ULONG size;
    USHORT features;
};

// Size and ownership flags of an element type; size 0 for types an array cannot hold.
ElementKind elementKind(VARTYPE vt) {
    switch (vt) {
    case VT_I1:
    case VT_UI1:
        return {1, 0};
    case VT_I2:
    case VT_UI2:
    case VT_BOOL:
        return {2, 0};
    case VT_I4:
    case VT_UI4:
    case VT_INT:
    case VT_UINT:
    case VT_R4:
    case VT_ERROR:
        return {4, 0};
    case VT_I8:
    case VT_UI8:
    case VT_R8:
    case VT_CY:
    case VT_DATE:
        return {8, 0};
    case VT_DECIMAL:
        return {16, 0};
    case VT_BSTR:
        return {sizeof(BSTR), FADF_BSTR};
    case VT_UNKNOWN:
        return {sizeof(IUnknown*), FADF_UNKNOWN};
    case VT_DISPATCH:
        return {sizeof(IDispatch*), FADF_DISPATCH};
    case VT_VARIANT:
        return {sizeof(VARIANT), FADF_VARIANT};
    default:
        return {0, 0};
    }
}

size_t descriptorSize(UINT cDims) {
    return sizeof(SAFEARRAY) + (cDims - 1) * sizeof(SAFEARRAYBOUND);
}

// Total element count, or false when it overflows what memory can hold.
bool elementCount(const SAFEARRAY* psa, size_t& count) {
    count = 1;
    for (USHORT i = 0; i < psa->cDims; ++i)
        if (__builtin_mul_overflow(count, size_t(psa->rgsabound[i].cElements), &count))
            return false;
    return true;
}

void releaseElements(SAFEARRAY* psa) {
    if (!psa->pvData ||
        !(psa->fFeatures & (FADF_BSTR | FADF_UNKNOWN | FADF_DISPATCH | FADF_VARIANT)))
        return;
    size_t count = 0;
    elementCount(psa, count);
    auto* base = static_cast<unsigned char*>(psa->pvData);
    for (size_t i = 0; i < count; ++i) {
        void* cell = base + i * psa->cbElements;
        if (psa->fFeatures & FADF_BSTR) {
            SysFreeString(*static_cast<BSTR*>(cell));
            *static_cast<BSTR*>(cell) = nullptr;
        } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            if (auto* unk = *static_cast<IUnknown**>(cell))
                unk->Release();
            *static_cast<IUnknown**>(cell) = nullptr;
        } else {
            VariantClear(static_cast<VARIANT*>(cell));
        }
    }
}

// Address of the element at rgIndices (dimension 1 first), or a failure code.
HRESULT cellAddress(SAFEARRAY* psa, const LONG* rgIndices, void** cell) {
    if (!psa || !rgIndices)
        return E_INVALIDARG;
    if (psa->cDims == 0)
        return DISP_E_BADINDEX;
    size_t offset = 0;
    size_t stride = 1;
    for (USHORT dim = 0; dim < psa->cDims; ++dim) {
        const SAFEARRAYBOUND& b = psa->rgsabound[psa->cDims - 1 - dim];
        int64_t rel = int64_t(rgIndices[dim]) - int64_t(b.lLbound);
        if (rel < 0 || rel >= int64_t(b.cElements))
            return DISP_E_BADINDEX;
        offset += size_t(rel) * stride;
        stride *= b.cElements;
    }
    if (!psa->pvData)
        return E_UNEXPECTED;
    *cell = static_cast<unsigned char*>(psa->pvData) + offset * psa->cbElements;
    return S_OK;
}

SAFEARRAY* allocateDescriptor(VARTYPE vt, UINT cDims) {
    auto* block = static_cast<unsigned char*>(std::calloc(1, kPrefixSize + descriptorSize(cDims)));
    if (!block)
        return nullptr;
    DWORD type = vt;
    std::memcpy(block + kPrefixSize - sizeof(DWORD), &type, sizeof type);
    return reinterpret_cast<SAFEARRAY*>(block + kPrefixSize);
}

void freeDescriptor(SAFEARRAY* psa) {
    std::free(reinterpret_cast<unsigned char*>(psa) - kPrefixSize);
}

} // namespace

STDAPI_(SAFEARRAY*) SafeArrayCreate(VARTYPE vt, UINT cDims, SAFEARRAYBOUND* rgsabound) noexcept {
    ElementKind kind = elementKind(vt);
    if (kind.size == 0 || cDims == 0 || cDims > 0xFFFF || !rgsabound)
        return nullptr;
    SAFEARRAY* psa = allocateDescriptor(vt, cDims);
    if (!psa)
        return nullptr;
    psa->cDims = USHORT(cDims);
    psa->fFeatures = USHORT(FADF_HAVEVARTYPE | kind.features);
    psa->cbElements = kind.size;
    for (UINT i = 0; i < cDims; ++i) {
        // Every index of a dimension must be a LONG: an upper bound past the largest
        // one would wrap.
        if (rgsabound[i].cElements &&
            int64_t(rgsabound[i].lLbound) + int64_t(rgsabound[i].cElements) - 1 > INT32_MAX) {
            freeDescriptor(psa);
            return nullptr;
        }
        psa->rgsabound[cDims - 1 - i] = rgsabound[i];
    }
    size_t count = 0;
    size_t bytes = 0;
    if (!elementCount(psa, count) || __builtin_mul_overflow(count, size_t(kind.size), &bytes)) {
        freeDescriptor(psa);
        return nullptr;
    }
    psa->pvData = std::calloc(bytes ? bytes : 1, 1);
    if (!psa->pvData) {
        freeDescriptor(psa);
        return nullptr;
    }
    return psa;
}

STDAPI_(SAFEARRAY*) SafeArrayCreateVector(VARTYPE vt, LONG lLbound, ULONG cElements) noexcept {
    SAFEARRAYBOUND bound = {cElements, lLbound};
    return SafeArrayCreate(vt, 1, &bound);
}

STDAPI SafeArrayDestroyData(SAFEARRAY* psa) noexcept {
    if (!psa)
        return E_INVALIDARG;
    if (psa->cLocks)
        return DISP_E_ARRAYISLOCKED;
    releaseElements(psa);
    if (!(psa->fFeatures & (FADF_STATIC | FADF_EMBEDDED | FADF_AUTO)))
        std::free(psa->pvData);
    psa->pvData = nullptr;
    return S_OK;
}

STDAPI SafeArrayDestroyDescriptor(SAFEARRAY* psa) noexcept {
    if (!psa)
        return E_INVALIDARG;
    if (psa->cLocks)
        return DISP_E_ARRAYISLOCKED;
    if (!(psa->fFeatures & (FADF_STATIC | FADF_EMBEDDED | FADF_AUTO)))
        freeDescriptor(psa);
    return S_OK;
}

STDAPI SafeArrayDestroy(SAFEARRAY* psa) noexcept {
    if (!psa)
        return S_OK;
    HRESULT hr = SafeArrayDestroyData(psa);
    if (FAILED(hr))
        return hr;
    return SafeArrayDestroyDescriptor(psa);
}

STDAPI SafeArrayPtrOfIndex(SAFEARRAY* psa, LONG* rgIndices, void** ppvData) noexcept {
    if (!ppvData)
        return E_INVALIDARG;
    return cellAddress(psa, rgIndices, ppvData);
}

STDAPI SafeArrayPutElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept {
    void* cell = nullptr;
    HRESULT hr = cellAddress(psa, rgIndices, &cell);
    if (FAILED(hr))
        return hr;
    // Strings and interface pointers are passed by value, everything else by address.
    if (psa->fFeatures & FADF_BSTR) {
        BSTR src = static_cast<BSTR>(pv);
        BSTR copy = orvik::copyBstr(src);
        if (src && !copy)
            return E_OUTOFMEMORY;
        SysFreeString(*static_cast<BSTR*>(cell));
        *static_cast<BSTR*>(cell) = copy;
        return S_OK;
    }
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* unk = static_cast<IUnknown*>(pv);
        if (unk)
            unk->AddRef();
        if (auto* old = *static_cast<IUnknown**>(cell))
            old->Release();
        *static_cast<IUnknown**>(cell) = unk;
        return S_OK;
    }
    if (!pv)
        return E_INVALIDARG;
    if (psa->fFeatures & FADF_VARIANT)
        return VariantCopy(static_cast<VARIANT*>(cell), static_cast<VARIANT*>(pv));
    if (psa->cbElements == 8) // doubles and 64-bit integers: one fixed-size copy
        std::memcpy(cell, pv, 8);
    else
        std::memcpy(cell, pv, psa->cbElements);
    return S_OK;
}

STDAPI SafeArrayGetElement(SAFEARRAY* psa, LONG* rgIndices, void* pv) noexcept {
    if (!pv)
        return E_INVALIDARG;
    void* cell = nullptr;
    HRESULT hr = cellAddress(psa, rgIndices, &cell);
    if (FAILED(hr))
        return hr;
    if (psa->fFeatures & FADF_BSTR) {
        BSTR src = *static_cast<BSTR*>(cell);
        BSTR copy = orvik::copyBstr(src);
        if (src && !copy)
            return E_OUTOFMEMORY;
        *static_cast<BSTR*>(pv) = copy;
        return S_OK;
    }
    if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
        auto* unk = *static_cast<IUnknown**>(cell);
        if (unk)
            unk->AddRef();
        *static_cast<IUnknown**>(pv) = unk;
        return S_OK;
    }
    if (psa->fFeatures & FADF_VARIANT) {
        VariantInit(static_cast<VARIANT*>(pv));
        return VariantCopy(static_cast<VARIANT*>(pv), static_cast<VARIANT*>(cell));
    }
    if (psa->cbElements == 8)
        std::memcpy(pv, cell, 8);
    else
        std::memcpy(pv, cell, psa->cbElements);
    return S_OK;
}

STDAPI_(UINT) SafeArrayGetDim(SAFEARRAY* psa) noexcept {
    return psa ? psa->cDims : 0;
}

STDAPI_(UINT) SafeArrayGetElemsize(SAFEARRAY* psa) noexcept {
    return psa ? psa->cbElements : 0;
}

static HRESULT boundOf(SAFEARRAY* psa, UINT nDim, const SAFEARRAYBOUND** bound) {
    if (!psa)
        return E_INVALIDARG;
    if (nDim < 1 || nDim > psa->cDims)
        return DISP_E_BADINDEX;
    *bound = &psa->rgsabound[psa->cDims - nDim];
    return S_OK;
}

// The inclusive lower or upper bound of dimension nDim (1-based).
static HRESULT readBound(SAFEARRAY* psa, UINT nDim, LONG* out, bool upper) {
    if (!out)
        return E_INVALIDARG;
    const SAFEARRAYBOUND* b = nullptr;
    HRESULT hr = boundOf(psa, nDim, &b);
    if (SUCCEEDED(hr))
        *out = upper ? LONG(int64_t(b->lLbound) + int64_t(b->cElements) - 1) : b->lLbound;
    return hr;
}

STDAPI SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) noexcept {
    return readBound(psa, nDim, plLbound, false);
}

STDAPI SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) noexcept {
    return readBound(psa, nDim, plUbound, true);
}

STDAPI SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) noexcept {
    if (!psa || !pvt)
        return E_INVALIDARG;
    if (psa->fFeatures & FADF_HAVEVARTYPE) {
        DWORD type = 0;
        std::memcpy(&type, reinterpret_cast<unsigned char*>(psa) - sizeof(DWORD), sizeof type);
        *pvt = VARTYPE(type);
    } else if (psa->fFeatures & FADF_BSTR) {
        *pvt = VT_BSTR;
    } else if (psa->fFeatures & FADF_UNKNOWN) {
        *pvt = VT_UNKNOWN;
    } else if (psa->fFeatures & FADF_DISPATCH) {
        *pvt = VT_DISPATCH;
    } else if (psa->fFeatures & FADF_VARIANT) {
        *pvt = VT_VARIANT;
    } else {
        return E_INVALIDARG;
    }
    return S_OK;
}

STDAPI SafeArrayLock(SAFEARRAY* psa) noexcept {
    if (!psa)
        return E_INVALIDARG;
    if (psa->cLocks == 0xFFFFFFFFu)
        return E_UNEXPECTED;
    ++psa->cLocks;
    return S_OK;
}

STDAPI SafeArrayUnlock(SAFEARRAY* psa) noexcept {
    if (!psa)
        return E_INVALIDARG;
    if (psa->cLocks == 0)
        return E_UNEXPECTED;
    --psa->cLocks;
    return S_OK;
}

STDAPI SafeArrayAccessData(SAFEARRAY* psa, void** ppvData) noexcept {
    if (!psa || !ppvData)
        return E_INVALIDARG;
    HRESULT hr = SafeArrayLock(psa);
    if (SUCCEEDED(hr))
        *ppvData = psa->pvData;
    return hr;
}

STDAPI SafeArrayUnaccessData(SAFEARRAY* psa) noexcept {
    return SafeArrayUnlock(psa);
}

STDAPI SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) noexcept {
    if (!ppsaOut)
        return E_INVALIDARG;
    *ppsaOut = nullptr;
    if (!psa)
        return S_OK;
    VARTYPE vt = 0;
    HRESULT hr = SafeArrayGetVartype(psa, &vt);
    if (FAILED(hr))
        return hr;
    if (psa->cDims == 0)
        return E_INVALIDARG;
    // As many dimensions as creation allows.
    std::unique_ptr<SAFEARRAYBOUND[]> bounds(new (std::nothrow) SAFEARRAYBOUND[psa->cDims]);
    if (!bounds)
        return E_OUTOFMEMORY;
    for (USHORT i = 0; i < psa->cDims; ++i)
        bounds[i] = psa->rgsabound[psa->cDims - 1 - i];
    SAFEARRAY* copy = SafeArrayCreate(vt, psa->cDims, bounds.get());
    if (!copy)
        return E_OUTOFMEMORY;
    if (copy->cbElements != psa->cbElements) {
        SafeArrayDestroy(copy);
        return E_INVALIDARG;
    }
    size_t count = 0;
    elementCount(psa, count);
    auto* from = static_cast<unsigned char*>(psa->pvData);
    auto* to = static_cast<unsigned char*>(copy->pvData);
    for (size_t i = 0; i < count && from; ++i) {
        void* src = from + i * psa->cbElements;
        void* dst = to + i * psa->cbElements;
        if (psa->fFeatures & FADF_BSTR) {
            BSTR s = *static_cast<BSTR*>(src);
            *static_cast<BSTR*>(dst) = orvik::copyBstr(s);
            if (s && !*static_cast<BSTR*>(dst))
                hr = E_OUTOFMEMORY;
        } else if (psa->fFeatures & (FADF_UNKNOWN | FADF_DISPATCH)) {
            auto* unk = *static_cast<IUnknown**>(src);
            if (unk)
                unk->AddRef();
            *static_cast<IUnknown**>(dst) = unk;
        } else if (psa->fFeatures & FADF_VARIANT) {
            HRESULT one = VariantCopy(static_cast<VARIANT*>(dst), static_cast<VARIANT*>(src));
            if (FAILED(one))
                hr = one;
        } else {
            std::memcpy(dst, src, psa->cbElements);
        }
        if (FAILED(hr)) {
            SafeArrayDestroy(copy);
            return hr;
        }
    }
    *ppsaOut = copy;
    return S_OK;
}
