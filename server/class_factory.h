// server/class_factory.h: the class factory and its cached form
//
// One factory per class, made on the first DllGetClassObject for the class and kept
// in the class table, which holds one reference that does not lock the module. A
// client's references lock the module: the cached form takes the module lock when
// its count reaches 2 and gives it back when the count falls to 1.
#ifndef ORVIK_SERVER_CLASS_FACTORY_H
#define ORVIK_SERVER_CLASS_FACTORY_H

#include "server/module.h"
#include "server/object_root.h"

namespace orvik {

/// Thrown inside factory construction when a lock cannot be initialised; caught by
/// the factory creator and never let out of it.
struct CComException {
    HRESULT hr;
};

class CComClassFactory : public IClassFactory, public CComObjectRootEx<CComMultiThreadModel> {
public:
    CComClassFactory();
    virtual ~CComClassFactory();

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* pUnkOuter, REFIID riid,
                                             void** ppvObject) override;
    HRESULT STDMETHODCALLTYPE LockServer(BOOL fLock) override;

    void SetVoid(void* creator) { m_pfnCreateInstance = reinterpret_cast<CreatorFunc>(creator); }

protected:
    CRITICAL_SECTION m_critsec; // the multi-threaded root's object lock
    CreatorFunc m_pfnCreateInstance = nullptr;
};

class CComObjectCachedClassFactory final : public CComClassFactory {
public:
    CComObjectCachedClassFactory();
    ~CComObjectCachedClassFactory() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

private:
    CRITICAL_SECTION m_csCached;
};

/// Makes a class factory for the instance creator pv, queried for riid into *ppv.
/// E_POINTER for a null ppv; E_OUTOFMEMORY when the factory or its locks cannot be
/// had; a refused query destroys the factory again.
HRESULT ClassObjectCreator(void* pv, REFIID riid, void** ppv);

} // namespace orvik

#endif // ORVIK_SERVER_CLASS_FACTORY_H
