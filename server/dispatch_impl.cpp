// server/dispatch_impl.cpp: type-information holders
//
// The load takes the module's type-information lock, checks again under it whether
// another thread loaded meanwhile, and publishes the type information before the
// name cache, both under the lock; readers on the fast path see either null or a
// complete value (release stores, acquire loads).

#include "server/dispatch_impl.h"

#include "server/module.h"

#include <cstdint>
#include <cstring>
#include <new>
#include <utility>

namespace orvik {

namespace {

uint32_t hashOfName(const OLECHAR* name, int length) {
    uint32_t h = 2166136261u; // FNV-1a over the 16-bit units
    for (int i = 0; i < length; ++i)
        h = (h ^ name[i]) * 16777619u;
    return h;
}

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
    unsigned buckets = 8;
    while (buckets < 2u * unsigned(count))
        buckets *= 2;
    int* index = new (std::nothrow) int[buckets]();
    if (index) {
        for (int i = 0; i < count; ++i) {
            if (!map[i].bstr)
                continue;
            unsigned at = hashOfName(map[i].bstr, map[i].nLen) & (buckets - 1);
            for (; index[at]; at = (at + 1) & (buckets - 1)) {
                const stringdispid& held = map[index[at] - 1];
                if (held.nLen == map[i].nLen &&
                    std::memcmp(held.bstr, map[i].bstr, size_t(held.nLen) * sizeof(OLECHAR)) == 0)
                    break;
            }
            index[at] = i + 1;
        }
        m_pBuckets = index;
        m_nBuckets = buckets;
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
    // One name, found exactly (length first, then every character) in the cache:
    // through its index, or, where there was no memory for one, searched from its last
    // entry.
    if (stringdispid* map = cache(); map && cNames == 1 && rgszNames && rgszNames[0] && rgdispid) {
        const OLECHAR* name = rgszNames[0];
        int length = lstrlenW(name);
        auto matches = [&](const stringdispid& entry) {
            return entry.nLen == length &&
                   std::memcmp(entry.bstr, name, size_t(length) * sizeof(OLECHAR)) == 0;
        };
        if (const int* index = m_pBuckets) {
            const unsigned mask = m_nBuckets - 1;
            for (unsigned at = hashOfName(name, length) & mask; index[at]; at = (at + 1) & mask)
                if (matches(map[index[at] - 1])) {
                    rgdispid[0] = map[index[at] - 1].id;
                    return S_OK;
                }
        } else {
            for (int i = m_nCount - 1; i >= 0; --i)
                if (matches(map[i])) {
                    rgdispid[0] = map[i].id;
                    return S_OK;
                }
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
    delete[] std::exchange(self->m_pBuckets, nullptr);
    self->m_nBuckets = 0;
}

} // namespace orvik
