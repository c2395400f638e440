// platform/src/typelib_objects.h: ITypeLib and ITypeInfo over a loaded library
#ifndef ORVIK_PLATFORM_TYPELIB_OBJECTS_H
#define ORVIK_PLATFORM_TYPELIB_OBJECTS_H

#include "typelib/typelib_model.h"

#include <memory>

namespace orvik::tlb {

/// A new library object serving lib, with one reference for the caller.
HRESULT createTypeLib(std::shared_ptr<const Library> lib, ITypeLib** out);

/// The library object of the built-in standard automation library.
HRESULT standardTypeLib(ITypeLib** out);

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_TYPELIB_OBJECTS_H
