/* orvik/platform/error_info.h: error information kept for the calling thread
 *
 * A call that fails may say more than its result code: it fills an error object
 * (made by CreateErrorInfo, described through ICreateErrorInfo) and leaves it with
 * SetErrorInfo. The caller that sees the failure takes it with GetErrorInfo, which
 * hands the object over and leaves the thread with none. Each thread keeps at most
 * one; setting another replaces it.
 */
#ifndef ORVIK_PLATFORM_ERROR_INFO_H
#define ORVIK_PLATFORM_ERROR_INFO_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/bstr.h"
#include "orvik/platform/guid.h"
#include "orvik/platform/interfaces.h"
#include "orvik/platform/result_codes.h"

#ifndef __cplusplus
typedef struct IErrorInfo IErrorInfo;
typedef struct ICreateErrorInfo ICreateErrorInfo;
#endif

ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_IErrorInfo;
ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_ICreateErrorInfo;

#if defined(__cplusplus) && !defined(CINTERFACE)

struct IErrorInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID* pGUID) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR* pBstrSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* pBstrDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* pBstrHelpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* pdwHelpContext) = 0;
    ORVIK_INTERFACE_DESTRUCTOR(IErrorInfo)
};

struct ICreateErrorInfo : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID rguid) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR szSource) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR szDescription) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR szHelpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD dwHelpContext) = 0;
    ORVIK_INTERFACE_DESTRUCTOR(ICreateErrorInfo)
};

#else /* C view */

typedef struct IErrorInfoVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(IErrorInfo* This, REFIID riid, void** ppvObject);
    ULONG(STDMETHODCALLTYPE* AddRef)(IErrorInfo* This);
    ULONG(STDMETHODCALLTYPE* Release)(IErrorInfo* This);
    HRESULT(STDMETHODCALLTYPE* GetGUID)(IErrorInfo* This, GUID* pGUID);
    HRESULT(STDMETHODCALLTYPE* GetSource)(IErrorInfo* This, BSTR* pBstrSource);
    HRESULT(STDMETHODCALLTYPE* GetDescription)(IErrorInfo* This, BSTR* pBstrDescription);
    HRESULT(STDMETHODCALLTYPE* GetHelpFile)(IErrorInfo* This, BSTR* pBstrHelpFile);
    HRESULT(STDMETHODCALLTYPE* GetHelpContext)(IErrorInfo* This, DWORD* pdwHelpContext);
} IErrorInfoVtbl;
struct IErrorInfo {
    const IErrorInfoVtbl* lpVtbl;
};

typedef struct ICreateErrorInfoVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)
    (ICreateErrorInfo* This, REFIID riid, void** ppvObject);
    ULONG(STDMETHODCALLTYPE* AddRef)(ICreateErrorInfo* This);
    ULONG(STDMETHODCALLTYPE* Release)(ICreateErrorInfo* This);
    HRESULT(STDMETHODCALLTYPE* SetGUID)(ICreateErrorInfo* This, REFGUID rguid);
    HRESULT(STDMETHODCALLTYPE* SetSource)(ICreateErrorInfo* This, LPOLESTR szSource);
    HRESULT(STDMETHODCALLTYPE* SetDescription)(ICreateErrorInfo* This, LPOLESTR szDescription);
    HRESULT(STDMETHODCALLTYPE* SetHelpFile)(ICreateErrorInfo* This, LPOLESTR szHelpFile);
    HRESULT(STDMETHODCALLTYPE* SetHelpContext)(ICreateErrorInfo* This, DWORD dwHelpContext);
} ICreateErrorInfoVtbl;
struct ICreateErrorInfo {
    const ICreateErrorInfoVtbl* lpVtbl;
};

#endif /* C view */

/* A new, empty error object. E_INVALIDARG for a null pointer; E_OUTOFMEMORY. */
STDAPI CreateErrorInfo(ICreateErrorInfo** pperrinfo) ORVIK_NOEXCEPT;
/* Leaves perrinfo (a reference of its own is kept; null clears) as the calling
 * thread's error information. dwReserved must be 0. */
STDAPI SetErrorInfo(ULONG dwReserved, IErrorInfo* perrinfo) ORVIK_NOEXCEPT;
/* Hands the calling thread's error information to the caller (*pperrinfo, S_OK) and
 * leaves the thread with none; S_FALSE and null when there is none. */
STDAPI GetErrorInfo(ULONG dwReserved, IErrorInfo** pperrinfo) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_ERROR_INFO_H */
