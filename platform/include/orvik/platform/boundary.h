// orvik/platform/boundary.h: the one guard at a C boundary
//
// Every platform function and every module entry point has C linkage, and every
// interface method is called from code that knows nothing of C++ exceptions, so none
// may leave. Bodies that build strings, vectors or maps run inside one of these
// guards: running out of memory becomes the function's own out-of-memory answer,
// anything else its "unexpected" one. Functions that allocate nothing need no guard.
// C++ only.
#ifndef ORVIK_PLATFORM_BOUNDARY_H
#define ORVIK_PLATFORM_BOUNDARY_H

#include "orvik/platform/last_error.h"
#include "orvik/platform/result_codes.h"

#include <new>

namespace orvik {

/// Runs body; an exception becomes failed(true) when memory ran out, failed(false)
/// for anything else.
template <class Body, class Failed>
auto guardBoundaryWith(Body&& body, Failed&& failed) noexcept -> decltype(body()) {
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return failed(true);
    } catch (...) {
        return failed(false);
    }
}

template <class Result, class Body>
Result guardBoundary(Result outOfMemory, Result unexpected, Body&& body) noexcept {
    return guardBoundaryWith(body, [&](bool memory) { return memory ? outOfMemory : unexpected; });
}

/// For functions and methods that answer a result code.
template <class Body> HRESULT guardResult(Body&& body) noexcept {
    return guardBoundary<HRESULT>(E_OUTOFMEMORY, E_UNEXPECTED, body);
}

/// For the registry functions, which answer platform error numbers.
template <class Body> LONG guardRegistry(Body&& body) noexcept {
    return guardBoundary<LONG>(ERROR_OUTOFMEMORY, ERROR_INTERNAL_ERROR, body);
}

/// For functions that answer failed and say why in the thread's last error.
template <class Result, class Body> Result guardLastError(Result failed, Body&& body) noexcept {
    return guardBoundaryWith(body, [&](bool memory) {
        SetLastError(memory ? ERROR_NOT_ENOUGH_MEMORY : ERROR_INTERNAL_ERROR);
        return failed;
    });
}

} // namespace orvik

#endif // ORVIK_PLATFORM_BOUNDARY_H
