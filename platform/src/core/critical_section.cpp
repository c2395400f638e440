// platform/src/core/critical_section.cpp: critical sections
//
// A critical section is a recursive pthread mutex kept inside the caller's
// CRITICAL_SECTION storage, so initialising one allocates nothing.

#include "orvik/platform/critical_section.h"

#include "orvik/platform/last_error.h"
#include "orvik/platform/result_codes.h"

#include <pthread.h>

#include <cstdlib>

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION),
              "a critical section must hold a pthread mutex");
static_assert(sizeof(CRITICAL_SECTION) == 40, "the platform's critical section is 40 bytes");

namespace {

pthread_mutex_t* mutexOf(LPCRITICAL_SECTION cs) {
    return reinterpret_cast<pthread_mutex_t*>(cs);
}

bool initRecursive(LPCRITICAL_SECTION cs) {
    pthread_mutexattr_t attr;
    if (pthread_mutexattr_init(&attr) != 0)
        return false;
    bool ok = pthread_mutexattr_settype(&attr, PTHREAD_MUTEX_RECURSIVE) == 0 &&
              pthread_mutex_init(mutexOf(cs), &attr) == 0;
    pthread_mutexattr_destroy(&attr);
    return ok;
}

} // namespace

WINBASEAPI void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) noexcept {
    if (!initRecursive(lpCriticalSection))
        std::abort(); // the platform raises here; nothing sensible can continue
}

WINBASEAPI BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                             DWORD) noexcept {
    if (!lpCriticalSection || !initRecursive(lpCriticalSection)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

WINBASEAPI void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) noexcept {
    pthread_mutex_lock(mutexOf(lpCriticalSection));
}

WINBASEAPI void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) noexcept {
    pthread_mutex_unlock(mutexOf(lpCriticalSection));
}

WINBASEAPI BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) noexcept {
    return pthread_mutex_trylock(mutexOf(lpCriticalSection)) == 0;
}

WINBASEAPI void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) noexcept {
    pthread_mutex_destroy(mutexOf(lpCriticalSection));
}
