// server/class_factory.cpp: factories, their counting and instance creation

#include "server/class_factory.h"
#include "server/fault_injection.h"

#include <new>

namespace orvik {

namespace {

void initLock(CRITICAL_SECTION& cs) {
    if (!fault::acquireResource() || !InitializeCriticalSectionAndSpinCount(&cs, 0))
        throw CComException{E_OUTOFMEMORY};
}

} // namespace

CComClassFactory::CComClassFactory() {
    initLock(m_critsec);
}

CComClassFactory::~CComClassFactory() {
    DeleteCriticalSection(&m_critsec);
}

HRESULT STDMETHODCALLTYPE CComClassFactory::CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                                           void** ppvObject) {
    if (!ppvObject)
        return E_POINTER;
    *ppvObject = nullptr;
    if (pUnkOuter && !IsEqualGUID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    return m_pfnCreateInstance(pUnkOuter, riid, ppvObject);
}

HRESULT STDMETHODCALLTYPE CComClassFactory::LockServer(BOOL fLock) {
    if (fLock)
        _pModule->Lock();
    else
        _pModule->Unlock();
    return S_OK;
}

CComObjectCachedClassFactory::CComObjectCachedClassFactory() {
    // The base's lock exists by now; if this one fails the base destructor takes
    // the base's lock down again as the exception unwinds.
    initLock(m_csCached);
}

CComObjectCachedClassFactory::~CComObjectCachedClassFactory() {
    m_dwRef = kDestroyedCount;
    DeleteCriticalSection(&m_csCached);
}

HRESULT STDMETHODCALLTYPE CComObjectCachedClassFactory::QueryInterface(REFIID iid, void** ppv) {
    static const IID* const map[] = {&IID_IClassFactory, nullptr};
    return InternalQueryInterface(static_cast<IClassFactory*>(this), map, iid, ppv);
}

ULONG STDMETHODCALLTYPE CComObjectCachedClassFactory::AddRef() {
    EnterCriticalSection(&m_csCached);
    LONG count = InterlockedIncrement(&m_dwRef);
    if (count == 2)
        _pModule->Lock();
    LeaveCriticalSection(&m_csCached);
    return ULONG(count);
}

ULONG STDMETHODCALLTYPE CComObjectCachedClassFactory::Release() {
    EnterCriticalSection(&m_csCached);
    LONG count = InterlockedDecrement(&m_dwRef);
    LeaveCriticalSection(&m_csCached);
    if (count == 0)
        delete this;
    else if (count == 1)
        _pModule->Unlock();
    return ULONG(count);
}

HRESULT ClassObjectCreator(void* pv, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    CComObjectCachedClassFactory* factory = nullptr;
    try {
        factory =
            fault::acquireResource() ? new (std::nothrow) CComObjectCachedClassFactory : nullptr;
    } catch (const CComException&) {
        return E_OUTOFMEMORY;
    }
    if (!factory)
        return E_OUTOFMEMORY;
    factory->SetVoid(pv);
    HRESULT hr = factory->QueryInterface(riid, ppv);
    if (hr != S_OK)
        delete factory;
    return hr;
}

} // namespace orvik
