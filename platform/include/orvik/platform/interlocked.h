/* orvik/platform/interlocked.h: interlocked counts */
#ifndef ORVIK_PLATFORM_INTERLOCKED_H
#define ORVIK_PLATFORM_INTERLOCKED_H

#include "orvik/platform/base_types.h"

/* Atomic (sequentially consistent) changes of a 32-bit count; each returns the new
 * value, except InterlockedExchange, which returns the old one. */
WINBASEAPI LONG WINAPI InterlockedIncrement(LONG volatile* Addend) ORVIK_NOEXCEPT;
WINBASEAPI LONG WINAPI InterlockedDecrement(LONG volatile* Addend) ORVIK_NOEXCEPT;
WINBASEAPI LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_INTERLOCKED_H */
