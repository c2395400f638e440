// server/module.cpp: the module object, its static records and the class lookup
//
// The three static records are built in a fixed order at load (instance record,
// class-table lock, module) and taken down in reverse at unload; init_priority pins
// that order across translation units, since the load entry that initialises the
// module runs from another file and must find all three ready.

#include "server/module.h"
#include "server/fault_injection.h"

#include <dlfcn.h>

#include <new>

namespace orvik {

namespace {

// The module's own instance handle, recorded at load: the address the dynamic
// loader maps the module file at.
struct ModuleInstance {
    void* m_hInst = nullptr;
    ModuleInstance() {
        Dl_info info{};
        if (dladdr(reinterpret_cast<void*>(&canUnloadNow), &info))
            m_hInst = info.dli_fbase;
    }
};

// The critical section that makes each class's factory once.
struct ClassTableLock {
    CRITICAL_SECTION m_cs;
    ClassTableLock() { InitializeCriticalSection(&m_cs); }
    ~ClassTableLock() { DeleteCriticalSection(&m_cs); }
};

ModuleInstance g_instance __attribute__((init_priority(1001)));
ClassTableLock g_classTableLock __attribute__((init_priority(1002)));
// On cache lines of its own, so that the lines its counts are written on hold nothing
// else that a creation reads or writes.
alignas(64) CComModule g_module __attribute__((init_priority(1003)));

} // namespace

// Read on every creation and release, written once: kept off the lines that change.
alignas(64) CComModule* _pModule = nullptr;

CComModuleBase::CComModuleBase() : m_objectLocks(m_nLockCnt) {
    cbSize = sizeof(ModuleRecord);
    m_nLockCnt = 0;
    m_pTermFuncs = nullptr;
    InitializeCriticalSection(&m_csTypeInfoHolder);
}

// Published by the most derived constructor: until it runs, the object is not yet a
// CComModule.
CComModule::CComModule() {
    _pModule = this;
}

CComModuleBase::~CComModuleBase() {
    TermFuncsAndLocks();
}

// The record's word is the spread count's shared word: the count is one sum.
LONG CComModuleBase::Lock() {
    InterlockedIncrement(&m_nLockCnt);
    return m_objectLocks.total();
}
LONG CComModuleBase::Unlock() {
    InterlockedDecrement(&m_nLockCnt);
    return m_objectLocks.total();
}
LONG CComModuleBase::GetLockCount() {
    return m_objectLocks.total();
}
HRESULT CComModuleBase::GetGITPtr(void** ppGIT) {
    if (ppGIT)
        *ppGIT = nullptr;
    return E_NOTIMPL;
}

HRESULT CComModuleBase::AddTermFunc(TermFunc func, DWORD_PTR arg) {
    TermNode* node =
        fault::acquireResource() ? new (std::nothrow) TermNode{func, arg, nullptr} : nullptr;
    if (!node)
        return E_OUTOFMEMORY;
    EnterCriticalSection(&m_csTypeInfoHolder);
    node->next = m_pTermFuncs;
    m_pTermFuncs = node;
    LeaveCriticalSection(&m_csTypeInfoHolder);
    return S_OK;
}

void CComModuleBase::TermFuncsAndLocks() {
    if (cbSize == 0)
        return;
    TermNode* node = m_pTermFuncs;
    while (node) {
        node->func(node->arg);
        TermNode* next = node->next;
        delete node;
        node = next;
    }
    m_pTermFuncs = nullptr;
    DeleteCriticalSection(&m_csTypeInfoHolder);
    cbSize = 0;
}

template <class T> void CComModuleT<T>::Init(ClassEntry* objMap) {
    m_pObjMap = objMap;
    for (ClassEntry* e = objMap; e && e->pclsid; ++e)
        e->ClassInitHook(true);
}

template <class T> void CComModuleT<T>::Term() {
    for (ClassEntry* e = m_pObjMap; e && e->pclsid; ++e) {
        if (e->CachedClassObject) {
            e->CachedClassObject->Release();
            e->CachedClassObject = nullptr;
        }
        e->ClassInitHook(false);
    }
    TermFuncsAndLocks();
}

template <class T>
HRESULT CComModuleT<T>::GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv) {
    if (!ppv)
        return E_POINTER;
    *ppv = nullptr;
    HRESULT hr = S_OK;
    for (ClassEntry* e = m_pObjMap; e && e->pclsid; ++e) {
        if (!e->ClassObjectCreator || !IsEqualGUID(*e->pclsid, rclsid))
            continue;
        // The cached pointer is read without the lock, read again under it, and
        // written only under it, so each factory is made once.
        if (!__atomic_load_n(&e->CachedClassObject, __ATOMIC_ACQUIRE)) {
            EnterCriticalSection(&g_classTableLock.m_cs);
            if (!e->CachedClassObject) {
                IUnknown* factory = nullptr;
                hr = e->ClassObjectCreator(reinterpret_cast<void*>(e->InstanceCreator),
                                           IID_IUnknown, reinterpret_cast<void**>(&factory));
                __atomic_store_n(&e->CachedClassObject, factory, __ATOMIC_RELEASE);
            }
            LeaveCriticalSection(&g_classTableLock.m_cs);
        }
        if (e->CachedClassObject)
            hr = e->CachedClassObject->QueryInterface(riid, ppv);
        break;
    }
    if (!*ppv && hr == S_OK)
        hr = CLASS_E_CLASSNOTAVAILABLE;
    return hr;
}

template class CComModuleT<CComModule>;

HRESULT canUnloadNow() {
    return _pModule->GetLockCount() == 0 ? S_OK : S_FALSE;
}

void* moduleInstanceHandle() {
    return g_instance.m_hInst;
}

} // namespace orvik
