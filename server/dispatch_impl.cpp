// server/dispatch_impl.cpp: type-information holders
//
// The load takes the module's type-information lock, checks again under it whether
// another thread loaded meanwhile, and publishes the type information before the
// name cache, both under the lock; readers on the fast path see either null or a
// complete value (release stores, acquire loads).

#include "server/dispatch_impl.h"

#include "server/module.h"

#include <cstring>
#include <new>

namespace orvik {

namespace {

// The type-information lock, held for a scope.
class TypeInfoLock {
public:
    TypeInfoLock() { EnterCriticalSection(&_pModule->m_csTypeInfoHolder); }
    ~TypeInfoLock() { LeaveCriticalSection(&_pModule->m_csTypeInfoHolder); }
    TypeInfoLock(const TypeInfoLock&) = delete;
};

} // namespace

HRESULT CComTypeInfoHolder::EnsureTI(LCID lcid) {
    if (info() && cache())
        return S_OK;
    TypeInfoLock lock;
    HRESULT hr = E_FAIL;
    if (m_pInfo)
        hr = S_OK;
    else
        hr = LoadTypeInfo(lcid);
    if (m_pInfo && !m_pMap)
        (void)LoadNameCache(m_pInfo);
    return hr;
}

// Steps 4 to 6 of the load: the registered library, the interface's description
// (kept as the ITypeInfo of its ITypeInfo2 where it has one), the termination node.
HRESULT CComTypeInfoHolder::LoadTypeInfo(LCID lcid) {
    Ref<ITypeLib> lib;
    HRESULT hr = LoadRegTypeLib(*m_plibid, m_wMajor, m_wMinor, lcid, lib.put());
    if (FAILED(hr))
        return hr;
    Ref<ITypeInfo> found;
    hr = lib->GetTypeInfoOfGuid(*m_pguid, found.put());
    if (FAILED(hr))
        return hr;
    Ref<ITypeInfo> kept = found;
    Ref<ITypeInfo2> second;
    if (SUCCEEDED(found->QueryInterface(IID_ITypeInfo2, second.putVoid()))) {
        Ref<ITypeInfo> viaSecond;
        if (SUCCEEDED(second->QueryInterface(IID_ITypeInfo, viaSecond.putVoid())))
            kept = viaSecond;
    }
    __atomic_store_n(&m_pInfo, kept.detach(), __ATOMIC_RELEASE);
    (void)_pModule->AddTermFunc(&CComTypeInfoHolder::Cleanup, DWORD_PTR(this));
    return hr;
}

HRESULT CComTypeInfoHolder::LoadNameCache(ITypeInfo* pTypeInfo) {
    TYPEATTR* attr = nullptr;
    if (FAILED(pTypeInfo->GetTypeAttr(&attr)))
        return S_OK;
    int count = attr->cFuncs;
    stringdispid* map = nullptr;
    if (count) {
        map = new (std::nothrow) stringdispid[size_t(count)];
        if (!map) {
            pTypeInfo->ReleaseTypeAttr(attr);
            return E_OUTOFMEMORY;
        }
    }
    for (int i = 0; i < count; ++i) {
        FUNCDESC* fd = nullptr;
        if (FAILED(pTypeInfo->GetFuncDesc(UINT(i), &fd)))
            continue;
        BSTR name = nullptr;
        if (SUCCEEDED(pTypeInfo->GetDocumentation(fd->memid, &name, nullptr, nullptr, nullptr))) {
            map[i].bstr = name;
            map[i].nLen = int(SysStringLen(name));
            map[i].id = fd->memid;
        }
        pTypeInfo->ReleaseFuncDesc(fd);
    }
    m_nCount = count;
    __atomic_store_n(&m_pMap, map, __ATOMIC_RELEASE);
    pTypeInfo->ReleaseTypeAttr(attr);
    return S_OK;
}

HRESULT CComTypeInfoHolder::GetTI(LCID lcid, ITypeInfo** ppInfo) {
    if (!ppInfo)
        return E_POINTER;
    HRESULT hr = S_OK;
    if (!info())
        hr = EnsureTI(lcid);
    *ppInfo = info();
    if (*ppInfo) {
        (*ppInfo)->AddRef();
        return S_OK;
    }
    return hr;
}

HRESULT CComTypeInfoHolder::GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                          DISPID* rgdispid) {
    HRESULT hr = info() && cache() ? S_OK : EnsureTI(lcid);
    ITypeInfo* ti = info();
    if (!ti)
        return hr;
    // One name, found exactly (length first, then every character) in the cache,
    // searched from its last entry.
    if (stringdispid* map = cache(); map && cNames == 1 && rgszNames && rgszNames[0] && rgdispid) {
        int length = lstrlenW(rgszNames[0]);
        for (int i = m_nCount - 1; i >= 0; --i)
            if (map[i].nLen == length &&
                std::memcmp(map[i].bstr, rgszNames[0], size_t(length) * sizeof(OLECHAR)) == 0) {
                rgdispid[0] = map[i].id;
                return S_OK;
            }
    }
    return ti->GetIDsOfNames(rgszNames, cNames, rgdispid);
}

HRESULT CComTypeInfoHolder::InvokeAfterLoading(IDispatch* pdisp, DISPID dispidMember, LCID lcid,
                                               WORD wFlags, DISPPARAMS* pdispparams,
                                               VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                                               UINT* puArgErr) {
    HRESULT hr = EnsureTI(lcid);
    ITypeInfo* ti = info();
    if (!ti)
        return hr;
    return ti->Invoke(pdisp, dispidMember, wFlags, pdispparams, pvarResult, pexcepinfo, puArgErr);
}

void CComTypeInfoHolder::Cleanup(DWORD_PTR holder) {
    auto* self = reinterpret_cast<CComTypeInfoHolder*>(holder);
    if (ITypeInfo* ti = __atomic_exchange_n(&self->m_pInfo, nullptr, __ATOMIC_ACQ_REL))
        ti->Release();
    if (stringdispid* map = __atomic_exchange_n(&self->m_pMap, nullptr, __ATOMIC_ACQ_REL)) {
        for (int i = 0; i < self->m_nCount; ++i)
            SysFreeString(map[i].bstr);
        delete[] map;
    }
}

} // namespace orvik
