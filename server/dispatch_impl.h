// server/dispatch_impl.h: the IDispatch half of every dual interface
//
// Late-bound calls are served by the type description of the class's interface in
// the registered interface library; one CComTypeInfoHolder per interface loads it
// on first use. The holder does not load the description yet: every late-bound
// request fails with the code of a library that is not registered, as it does on a
// machine where registration has not run, and GetTypeInfoCount alone answers.
#ifndef ORVIK_SERVER_DISPATCH_IMPL_H
#define ORVIK_SERVER_DISPATCH_IMPL_H

#include "orvik/platform.h"
#include "orvik/platform/ref.h"

namespace orvik {

/// The lazily loaded type information of one interface, shared by all its objects.
class CComTypeInfoHolder {
public:
    explicit CComTypeInfoHolder(const IID& iid) : m_pguid(&iid) {}
    /// The interface's type information with one reference, or the load's failure
    /// code and null.
    HRESULT GetTI(LCID lcid, ITypeInfo** ppInfo);
    /// Loads the type information if it is not there yet.
    HRESULT EnsureTI(LCID lcid);
    /// The interface whose description the holder loads.
    const IID& InterfaceId() const { return *m_pguid; }

private:
    const IID* m_pguid;
};

template <class Interface> class IDispatchImpl : public Interface {
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
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID lcid, DISPID*) override {
        return holder().EnsureTI(lcid);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID lcid, WORD, DISPPARAMS*, VARIANT*,
                                     EXCEPINFO*, UINT*) override {
        return holder().EnsureTI(lcid);
    }

private:
    static CComTypeInfoHolder& holder() {
        static CComTypeInfoHolder s_holder(iidOf<Interface>());
        return s_holder;
    }
};

} // namespace orvik

#endif // ORVIK_SERVER_DISPATCH_IMPL_H
