/* orvik/platform/interfaces.h: IUnknown, IClassFactory and IDispatch
 *
 * An interface is a table of function pointers reached through the object's first
 * word. C++ sees it as a struct of pure virtual functions in slot order (no
 * destructor, no data), which the Itanium ABI lays out exactly as the C view: a
 * pointer to a table whose entries take the object pointer first.
 */
#ifndef ORVIK_PLATFORM_INTERFACES_H
#define ORVIK_PLATFORM_INTERFACES_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/guid.h"
#include "orvik/platform/result_codes.h"
#include "orvik/platform/variant.h"

#ifdef __cplusplus
struct ITypeInfo;
#else
typedef struct ITypeInfo ITypeInfo;
typedef struct IClassFactory IClassFactory;
#endif

ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_IUnknown;
ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_IClassFactory;
ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_IDispatch;
ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_ITypeInfo;
ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_ITypeInfo2;
ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_ITypeLib;
ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_ITypeLib2;
ORVIK_EXTERN_C ORVIK_PLATFORM_API const IID IID_NULL;

#if defined(__cplusplus) && !defined(CINTERFACE)

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
    ORVIK_INTERFACE_DESTRUCTOR(IUnknown)
};

struct IClassFactory : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                     void** ppvObject) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) = 0;
    ORVIK_INTERFACE_DESTRUCTOR(IClassFactory)
};

struct IDispatch : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* rgszNames, UINT cNames,
                                                    LCID lcid, DISPID* rgDispId) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispIdMember, REFIID riid, LCID lcid,
                                             WORD wFlags, DISPPARAMS* pDispParams,
                                             VARIANT* pVarResult, EXCEPINFO* pExcepInfo,
                                             UINT* puArgErr) = 0;
    ORVIK_INTERFACE_DESTRUCTOR(IDispatch)
};

#else /* C view */

typedef struct IUnknownVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(IUnknown* This, REFIID riid, void** ppvObject);
    ULONG(STDMETHODCALLTYPE* AddRef)(IUnknown* This);
    ULONG(STDMETHODCALLTYPE* Release)(IUnknown* This);
} IUnknownVtbl;
struct IUnknown {
    const IUnknownVtbl* lpVtbl;
};

typedef struct IClassFactoryVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(IClassFactory* This, REFIID riid, void** ppvObject);
    ULONG(STDMETHODCALLTYPE* AddRef)(IClassFactory* This);
    ULONG(STDMETHODCALLTYPE* Release)(IClassFactory* This);
    HRESULT(STDMETHODCALLTYPE* CreateInstance)
    (IClassFactory* This, IUnknown* pUnkOuter, REFIID riid, void** ppvObject);
    HRESULT(STDMETHODCALLTYPE* LockServer)(IClassFactory* This, BOOL fLock);
} IClassFactoryVtbl;
struct IClassFactory {
    const IClassFactoryVtbl* lpVtbl;
};

typedef struct IDispatchVtbl {
    HRESULT(STDMETHODCALLTYPE* QueryInterface)(IDispatch* This, REFIID riid, void** ppvObject);
    ULONG(STDMETHODCALLTYPE* AddRef)(IDispatch* This);
    ULONG(STDMETHODCALLTYPE* Release)(IDispatch* This);
    HRESULT(STDMETHODCALLTYPE* GetTypeInfoCount)(IDispatch* This, UINT* pctinfo);
    HRESULT(STDMETHODCALLTYPE* GetTypeInfo)
    (IDispatch* This, UINT iTInfo, LCID lcid, ITypeInfo** ppTInfo);
    HRESULT(STDMETHODCALLTYPE* GetIDsOfNames)
    (IDispatch* This, REFIID riid, LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgDispId);
    HRESULT(STDMETHODCALLTYPE* Invoke)
    (IDispatch* This, DISPID dispIdMember, REFIID riid, LCID lcid, WORD wFlags,
     DISPPARAMS* pDispParams, VARIANT* pVarResult, EXCEPINFO* pExcepInfo, UINT* puArgErr);
} IDispatchVtbl;
struct IDispatch {
    const IDispatchVtbl* lpVtbl;
};

#endif /* C view */

typedef IUnknown* LPUNKNOWN;
typedef IDispatch* LPDISPATCH;

#endif /* ORVIK_PLATFORM_INTERFACES_H */
