// platform/src/core/boundary.h: the one guard at the platform's boundary
//
// Every platform function has C linkage and every interface method is called from
// code that knows nothing of C++ exceptions, so none may leave. Bodies that build
// strings, vectors or maps run inside guardBoundary: running out of memory becomes
// the function's own out-of-memory answer, anything else its "unexpected" one.
// Functions that allocate nothing need no guard; all are declared noexcept.
#ifndef ORVIK_PLATFORM_SRC_CORE_BOUNDARY_H
#define ORVIK_PLATFORM_SRC_CORE_BOUNDARY_H

#include "orvik/platform/result_codes.h"

#include <new>

namespace orvik {

template <class Result, class Body>
Result guardBoundary(Result outOfMemory, Result unexpected, Body&& body) noexcept {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return outOfMemory;
    } catch (...) {
        return unexpected;
    }
}

/// For functions and methods that answer a result code.
template <class Body> HRESULT guardResult(Body&& body) noexcept {
    return guardBoundary<HRESULT>(E_OUTOFMEMORY, E_UNEXPECTED, body);
}

/// For the registry functions, which answer platform error numbers.
template <class Body> LONG guardRegistry(Body&& body) noexcept {
    return guardBoundary<LONG>(ERROR_OUTOFMEMORY, ERROR_INTERNAL_ERROR, body);
}

} // namespace orvik

#endif // ORVIK_PLATFORM_SRC_CORE_BOUNDARY_H
