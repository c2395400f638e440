// server/co_class.h: the base every implementation class derives from
//
// CComCoClassImpl<T, Interface, Library> gathers what the frame needs of a class: the
// apartment-model root (plain count), the dual interface with its dispatch half
// (described by the interface library Library), the interface map (its own
// interface, then IDispatch) and the creator pair.
#ifndef ORVIK_SERVER_CO_CLASS_H
#define ORVIK_SERVER_CO_CLASS_H

#include "server/com_object.h"
#include "server/dispatch_impl.h"
#include "server/object_root.h"

namespace orvik {

template <class T, class Interface, const GUID* Library>
class CComCoClassImpl : public IDispatchImpl<Interface, Library>,
                        public CComObjectRootEx<CComSingleThreadModel> {
public:
    using DefaultInterface = Interface;

    /// The identifiers the class answers besides IUnknown, in map order.
    static const IID* const* interfaceMap() {
        static const IID* const map[] = {&iidOf<Interface>(), &IID_IDispatch, nullptr};
        return map;
    }

    /// The creator pair the class table records for the class.
    static HRESULT creator(void* outer, REFIID riid, void** ppv) {
        return createInstance<T>(outer, riid, ppv);
    }
};

} // namespace orvik

#endif // ORVIK_SERVER_CO_CLASS_H
