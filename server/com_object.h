// server/com_object.h: the two forms every class is made in, and the creation path
//
// CComObject<T> is the standalone object: T's table with IUnknown answered from T's
// own count, and a virtual destructor as the table's last slot. CComAggObject<T>
// is the aggregated form (its own four-slot IUnknown for the outer object, and an
// embedded CComContainedObject<T> whose IUnknown slots delegate to the outer
// object). Both run T's operation bodies on the same value record. Each object is
// one allocation and holds one module lock from construction to destruction.
#ifndef ORVIK_SERVER_COM_OBJECT_H
#define ORVIK_SERVER_COM_OBJECT_H

#include "server/fault_injection.h"
#include "server/module.h"
#include "server/object_root.h"

#include "orvik/platform/ref.h"

#include <cstdlib>
#include <new>

namespace orvik {

/// Where the two object forms live: the C allocator called directly, without the
/// C++ layers around it that a nothrow new and a sized delete go through.
struct ObjectStorage {
    static void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
        return std::malloc(size);
    }
    static void operator delete(void* block) noexcept { std::free(block); }
    static void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
};

template <class Base> class CComObject final : public Base, public ObjectStorage {
public:
    using ObjectStorage::operator new;
    using ObjectStorage::operator delete;
    CComObject() { _pModule->lockForObject(); }
    /// The destroying operation.
    virtual ~CComObject() {
        this->m_dwRef = kDestroyedCount;
        _pModule->unlockForObject();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        return this->InternalQueryInterface(self(), Base::interfaceMap(), iid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(this->InternalAddRef()); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG count = this->InternalRelease();
        if (count == 0)
            delete this;
        return ULONG(count);
    }

    /// A new object with count 0, or E_OUTOFMEMORY and null. E_POINTER for a null pp.
    static HRESULT CreateInstance(CComObject** pp) {
        if (!pp)
            return E_POINTER;
        *pp = nullptr;
        CComObject* p = fault::acquireResource() ? new (std::nothrow) CComObject : nullptr;
        if (!p)
            return E_OUTOFMEMORY;
        // Around the (empty) construction step, as every standalone object is made.
        p->InternalAddRef();
        p->InternalRelease();
        *pp = p;
        return S_OK;
    }

private:
    IUnknown* self() { return static_cast<typename Base::DefaultInterface*>(this); }
};

/// The inner object of an aggregate: IUnknown goes to the outer object, uncounted.
template <class Base> class CComContainedObject final : public Base {
public:
    explicit CComContainedObject(IUnknown* outer) { this->m_pOuterUnknown = outer; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        return this->m_pOuterUnknown->QueryInterface(iid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return this->m_pOuterUnknown->AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return this->m_pOuterUnknown->Release(); }

    /// The class's interface map walked on the inner object itself.
    HRESULT mapQueryInterface(REFIID iid, void** ppv) {
        return this->InternalQueryInterface(static_cast<typename Base::DefaultInterface*>(this),
                                            Base::interfaceMap(), iid, ppv);
    }
};

/// The aggregate: its own, non-delegating IUnknown for the outer object.
template <class Base> class CComAggObject final : public IUnknown, public ObjectStorage {
public:
    explicit CComAggObject(IUnknown* outer) : m_contained(outer) { _pModule->lockForObject(); }
    virtual ~CComAggObject() {
        m_dwRef = kDestroyedCount;
        _pModule->unlockForObject();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** ppv) override {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        if (IsEqualGUID(iid, IID_IUnknown)) {
            *ppv = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return m_contained.mapQueryInterface(iid, ppv);
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ULONG(++m_dwRef); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG count = --m_dwRef;
        if (count == 0)
            delete this;
        return ULONG(count);
    }

    /// The aggregated creator: the aggregate queried for riid (the factory lets only
    /// IUnknown through), destroyed again when that fails.
    static HRESULT CreateInstance(void* outer, REFIID riid, void** ppv) {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        CComAggObject* p = fault::acquireResource()
                               ? new (std::nothrow) CComAggObject(static_cast<IUnknown*>(outer))
                               : nullptr;
        if (!p)
            return E_OUTOFMEMORY;
        HRESULT hr = p->QueryInterface(riid, ppv);
        if (hr != S_OK)
            delete p;
        return hr;
    }

private:
    LONG m_dwRef = 0;
    CComContainedObject<Base> m_contained;
};

/// The standalone creator: a new object queried for riid, destroyed (which returns
/// its module lock) when the query fails.
template <class Base> HRESULT createStandaloneInstance(void*, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    CComObject<Base>* p = nullptr;
    HRESULT hr = CComObject<Base>::CreateInstance(&p);
    if (FAILED(hr))
        return hr;
    hr = p->QueryInterface(riid, ppv);
    if (hr != S_OK)
        delete p;
    return hr;
}

/// The creator pair of a class: standalone without an outer object, aggregated with.
template <class Base> HRESULT createInstance(void* outer, REFIID riid, void** ppv) {
    return outer ? CComAggObject<Base>::CreateInstance(outer, riid, ppv)
                 : createStandaloneInstance<Base>(nullptr, riid, ppv);
}

/// The creation path of operation results: a new standalone T queried for its own
/// interface straight into *out, one reference owned by the caller. E_OUTOFMEMORY
/// and *out null when it cannot be made.
template <class Base> HRESULT CreateStandalone(CComObject<Base>** pp) {
    return CComObject<Base>::CreateInstance(pp);
}

template <class Base, class Interface> HRESULT CreateResult(Interface** out) {
    *out = nullptr;
    CComObject<Base>* p = nullptr;
    HRESULT hr = CreateStandalone<Base>(&p);
    if (FAILED(hr))
        return hr;
    hr = p->QueryInterface(iidOf<Interface>(), reinterpret_cast<void**>(out));
    if (FAILED(hr))
        delete p;
    return hr;
}

/// The shape of every operation that returns a new object: a Base is made into *out
/// and fill(*out) gives it its value. When fill fails the object is released and
/// *out cleared, so a caller that gets a failure has nothing to release.
template <class Base, class Interface, class Fill>
HRESULT CreateResultWith(Interface** out, Fill fill) {
    HRESULT hr = CreateResult<Base>(out);
    if (FAILED(hr))
        return hr;
    hr = fill(*out);
    if (FAILED(hr)) {
        Ref<Interface>::adopt(*out).reset();
        *out = nullptr;
    }
    return hr;
}

} // namespace orvik

#endif // ORVIK_SERVER_COM_OBJECT_H
