// server/dispatch_impl.h: the IDispatch half of every dual interface
//
// Late-bound calls are served by the type description of the class's interface in
// the registered interface library; one CComTypeInfoHolder per interface loads it
// on first use, under the module's type-information lock, and keeps a cache of its
// member names. The platform's type description then calls the object's own table
// at the slot the library names: the server does not interpret a call itself.
#ifndef ORVIK_SERVER_DISPATCH_IMPL_H
#define ORVIK_SERVER_DISPATCH_IMPL_H

#include "orvik/platform.h"
#include "orvik/platform/ref.h"

namespace orvik {

/// The lazily loaded type information of one interface, shared by all its objects.
/// Empty until a first GetTypeInfo, GetIDsOfNames or Invoke; ready once loaded with
/// its name cache; empty again after process detach. Its pointers change only from
/// null to a value (under the lock) until then, so the fast path reads them without
/// the lock.
class CComTypeInfoHolder {
public:
    /// One entry of the name cache: a member's name and dispatch identifier.
    struct stringdispid {
        BSTR bstr = nullptr;
        int nLen = 0;
        DISPID id = -1;
    };

    constexpr CComTypeInfoHolder(const IID& iid, const GUID& libid, WORD major, WORD minor)
        : m_pguid(&iid), m_plibid(&libid), m_wMajor(major), m_wMinor(minor) {}

    /// The interface's type information with one reference; the load's failure code
    /// (and null) when there is none. The index is not examined.
    HRESULT GetTI(LCID lcid, ITypeInfo** ppInfo);
    /// Loads the type information and builds the name cache if not done yet.
    HRESULT EnsureTI(LCID lcid);
    /// One exact name from the cache, else the type information's own lookup.
    HRESULT GetIDsOfNames(LPOLESTR* rgszNames, UINT cNames, LCID lcid, DISPID* rgdispid);
    /// The type information's own Invoke on pdisp. Inline, being on every late-bound
    /// call's path.
    HRESULT Invoke(IDispatch* pdisp, DISPID dispidMember, LCID lcid, WORD wFlags,
                   DISPPARAMS* pdispparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                   UINT* puArgErr) {
        if (ITypeInfo* ti = info(); ti && cache()) [[likely]]
            return ti->Invoke(pdisp, dispidMember, wFlags, pdispparams, pvarResult, pexcepinfo,
                              puArgErr);
        return InvokeAfterLoading(pdisp, dispidMember, lcid, wFlags, pdispparams, pvarResult,
                                  pexcepinfo, puArgErr);
    }
    /// The termination-list function: releases the type information and the cache.
    static void Cleanup(DWORD_PTR holder);

    /// The interface whose description the holder loads.
    const IID& InterfaceId() const { return *m_pguid; }
    /// For tests: whether the type information and the name cache are there.
    bool HasTypeInfo() const { return info() != nullptr; }
    bool HasNameCache() const { return cache() != nullptr; }

private:
    // Invoke's first call: the type information is loaded first. Out of line, so that
    // the calls after it pass their arguments straight on.
    HRESULT InvokeAfterLoading(IDispatch* pdisp, DISPID dispidMember, LCID lcid, WORD wFlags,
                               DISPPARAMS* pdispparams, VARIANT* pvarResult, EXCEPINFO* pexcepinfo,
                               UINT* puArgErr);
    HRESULT LoadTypeInfo(LCID lcid);
    HRESULT LoadNameCache(ITypeInfo* pTypeInfo);
    ITypeInfo* info() const { return __atomic_load_n(&m_pInfo, __ATOMIC_ACQUIRE); }
    stringdispid* cache() const { return __atomic_load_n(&m_pMap, __ATOMIC_ACQUIRE); }

    const GUID* m_pguid;
    const GUID* m_plibid;
    WORD m_wMajor;
    WORD m_wMinor;
    ITypeInfo* m_pInfo = nullptr;
    [[maybe_unused]] LONG m_dwRef = 0; // part of the record; nothing changes it
    stringdispid* m_pMap = nullptr;
    int m_nCount = 0;
    // An index over the name cache, written before the cache is published: each of
    // m_nBuckets slots (a power of two) holds 0 or 1 + the entry whose exact name
    // hashes there. A later entry of the same name takes the slot, as the search from
    // the last entry finds it.
    int* m_pBuckets = nullptr;
    unsigned m_nBuckets = 0;
};

/// Library is the interface library that describes Interface, in version Major.Minor.
template <class Interface, const GUID* Library, WORD Major = 1, WORD Minor = 0>
class IDispatchImpl : public Interface {
public:
    using DefaultInterface = Interface;

    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (!pctinfo)
            return E_POINTER;
        *pctinfo = 1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID lcid, ITypeInfo** ppTInfo) override {
        return holder().GetTI(lcid, ppTInfo);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR* rgszNames, UINT cNames, LCID lcid,
                                            DISPID* rgdispid) override {
        return holder().GetIDsOfNames(rgszNames, cNames, lcid, rgdispid);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispidMember, REFIID, LCID lcid, WORD wFlags,
                                     DISPPARAMS* pdispparams, VARIANT* pvarResult,
                                     EXCEPINFO* pexcepinfo, UINT* puArgErr) override {
        return holder().Invoke(static_cast<IDispatch*>(static_cast<Interface*>(this)), dispidMember,
                               lcid, wFlags, pdispparams, pvarResult, pexcepinfo, puArgErr);
    }

    /// The holder of this interface, shared by every object of the class.
    static CComTypeInfoHolder& holder() { return s_holder; }

private:
    // Initialized as a constant, at load: late-bound calls check no guard for it.
    static constinit inline CComTypeInfoHolder s_holder{iidOf<Interface>(), *Library, Major, Minor};
};

} // namespace orvik

#endif // ORVIK_SERVER_DISPATCH_IMPL_H
