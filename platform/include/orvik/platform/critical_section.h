/* orvik/platform/critical_section.h: critical sections
 *
 * A critical section is re-entrant for the thread that holds it, as the platform's
 * is; its storage keeps the platform's 40-byte size.
 */
#ifndef ORVIK_PLATFORM_CRITICAL_SECTION_H
#define ORVIK_PLATFORM_CRITICAL_SECTION_H

#include "orvik/platform/base_types.h"

typedef struct _RTL_CRITICAL_SECTION {
    /* Opaque storage for a re-entrant mutex. */
    void* Opaque[5];
} CRITICAL_SECTION;
typedef CRITICAL_SECTION* LPCRITICAL_SECTION;

WINBASEAPI void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection)
    ORVIK_NOEXCEPT;
/* As InitializeCriticalSection, but reports failure: FALSE with the platform error
 * available from GetLastError. */
WINBASEAPI BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                             DWORD dwSpinCount) ORVIK_NOEXCEPT;
WINBASEAPI void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) ORVIK_NOEXCEPT;
WINBASEAPI void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) ORVIK_NOEXCEPT;
WINBASEAPI BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) ORVIK_NOEXCEPT;
WINBASEAPI void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_CRITICAL_SECTION_H */
