// platform/src/core/task_memory.cpp: task memory
//
// Task memory is the C heap; a request for zero bytes still gives a unique block,
// as the platform's allocator does.

#include "orvik/platform/task_memory.h"

#include <cstdlib>

STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb) noexcept {
    return std::malloc(cb ? cb : 1);
}
STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb) noexcept {
    return std::realloc(pv, cb ? cb : 1);
}
STDAPI_(void) CoTaskMemFree(LPVOID pv) noexcept {
    std::free(pv);
}
