// platform/src/typelib/objects/objects.h: ITypeLib and ITypeInfo over a loaded library
#ifndef ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_OBJECTS_H
#define ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_OBJECTS_H

#include "typelib/model/library.h"

#include <cstdint>
#include <memory>

namespace orvik::tlb {

/// A new library object serving lib, with one reference for the caller.
HRESULT createTypeLib(std::shared_ptr<const Library> lib, ITypeLib** out);

/// The library object of the built-in standard automation library.
HRESULT standardTypeLib(ITypeLib** out);

/// Which file a library was loaded from: while one loaded from it is held, loading
/// the same file again gives the same object. A file changed since (size or time)
/// is another file.
struct LoadedFile {
    uint64_t device = 0, inode = 0, size = 0;
    int64_t modifiedSeconds = 0, modifiedNanoseconds = 0;
    bool operator<(const LoadedFile& o) const;
};

/// The library object loaded from file while something holds it, with a new
/// reference; null when there is none.
ITypeLib* findLoadedTypeLib(const LoadedFile& file);

/// createTypeLib for a library read from file, found again by findLoadedTypeLib until
/// its last reference goes. When another thread made one for the same file first,
/// that one is given instead.
HRESULT createLoadedTypeLib(std::shared_ptr<const Library> lib, const LoadedFile& file,
                            ITypeLib** out);

} // namespace orvik::tlb

#endif // ORVIK_PLATFORM_SRC_TYPELIB_OBJECTS_OBJECTS_H
