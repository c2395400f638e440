/* orvik/platform/task_memory.h: task memory
 *
 * Task memory is what one party allocates and another frees across an interface.
 */
#ifndef ORVIK_PLATFORM_TASK_MEMORY_H
#define ORVIK_PLATFORM_TASK_MEMORY_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"

STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb) ORVIK_NOEXCEPT;
STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb) ORVIK_NOEXCEPT;
STDAPI_(void) CoTaskMemFree(LPVOID pv) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_TASK_MEMORY_H */
