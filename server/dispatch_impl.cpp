// server/dispatch_impl.cpp: type-information holders

#include "server/dispatch_impl.h"

namespace orvik {

HRESULT CComTypeInfoHolder::EnsureTI(LCID) {
    return TYPE_E_LIBNOTREGISTERED;
}

HRESULT CComTypeInfoHolder::GetTI(LCID lcid, ITypeInfo** ppInfo) {
    if (!ppInfo)
        return E_POINTER;
    *ppInfo = nullptr;
    return EnsureTI(lcid);
}

} // namespace orvik
