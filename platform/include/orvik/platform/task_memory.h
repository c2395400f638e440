/* orvik/platform/task_memory.h: task memory, critical sections and interlocked counts
 *
 * Task memory is what one party allocates and another frees across an interface.
 * A critical section is re-entrant for the thread that holds it, as the platform's
 * is; its storage keeps the platform's 40-byte size.
 */
#ifndef ORVIK_PLATFORM_TASK_MEMORY_H
#define ORVIK_PLATFORM_TASK_MEMORY_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"

STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb);
STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb);
STDAPI_(void) CoTaskMemFree(LPVOID pv);

typedef struct _RTL_CRITICAL_SECTION {
    /* Opaque storage for a re-entrant mutex. */
    void* Opaque[5];
} CRITICAL_SECTION;
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

WINBASEAPI void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
/* As InitializeCriticalSection, but reports failure: FALSE with the platform error
 * available from GetLastError. */
WINBASEAPI BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                             DWORD dwSpinCount);
WINBASEAPI void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WINBASEAPI void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WINBASEAPI BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection);
WINBASEAPI void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection);

/* Atomic (sequentially consistent) changes of a 32-bit count; each returns the new
 * value, except InterlockedExchange, which returns the old one. */
WINBASEAPI LONG WINAPI InterlockedIncrement(LONG volatile* Addend);
WINBASEAPI LONG WINAPI InterlockedDecrement(LONG volatile* Addend);
WINBASEAPI LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value);

/* The calling thread's last platform error number. */
WINBASEAPI DWORD WINAPI GetLastError(void);
WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode);

#endif /* ORVIK_PLATFORM_TASK_MEMORY_H */
