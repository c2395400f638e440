// orvik/client_raw.hpp: the C++ layer's holders beside the platform's interfaces
//
// What a client that includes both the layer and the interface header needs to pass
// objects between them. The generated bridge (orvik/orvik_raw.hpp) includes this and
// names, for each interface, its class and its platform declaration.
#ifndef ORVIK_CLIENT_RAW_HPP
#define ORVIK_CLIENT_RAW_HPP

#include "orvik/client.hpp"
#include "orvik/platform/guid.h"
#include "orvik/platform/ref.h"

#include <cstring>

namespace orvik {

/// The platform's declaration of the layer's table I (::IPoint for abi::IPoint).
template <class I> struct RawInterfaceOf;

/// The interface an object of the layer holds, as the platform declares it; no
/// reference is added. The layer's table and the platform's are the same table.
template <class I> typename RawInterfaceOf<I>::type* raw(const Object<I>& object) noexcept {
    return reinterpret_cast<typename RawInterfaceOf<I>::type*>(object.raw());
}

/// The layer's class holding the reference ref held: wrap(makePoint()) is a Point.
template <class I> typename ClassFor<I>::type wrap(Ref<I> ref) noexcept {
    using Class = typename ClassFor<I>::type;
    return Class(adopt, reinterpret_cast<typename Class::Interface*>(ref.detach()));
}

/// A platform identifier in the layer's type.
inline Guid guidOf(const GUID& guid) noexcept {
    Guid out;
    std::memcpy(&out, &guid, sizeof out);
    return out;
}

/// orvik::create<IPoint>(CLSID_Point): creation by the platform's class identifier.
template <class T> typename ClassFor<T>::type create(const GUID& clsid) {
    return create<T>(guidOf(clsid));
}

} // namespace orvik

#endif // ORVIK_CLIENT_RAW_HPP
