// platform/src/task_memory.cpp: task memory, critical sections, interlocked counts
//
// A critical section is a recursive pthread mutex kept inside the caller's
// CRITICAL_SECTION storage, so initialising one allocates nothing.

#include "orvik/platform/task_memory.h"

#include <pthread.h>

#include <cstdlib>

static_assert(sizeof(pthread_mutex_t) <= sizeof(CRITICAL_SECTION),
              "a critical section must hold a pthread mutex");
static_assert(sizeof(CRITICAL_SECTION) == 40, "the platform's critical section is 40 bytes");

namespace {

thread_local DWORD t_lastError = 0;

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

STDAPI_(LPVOID) CoTaskMemAlloc(SIZE_T cb) {
    return std::malloc(cb ? cb : 1);
}
STDAPI_(LPVOID) CoTaskMemRealloc(LPVOID pv, SIZE_T cb) {
    return std::realloc(pv, cb ? cb : 1);
}
STDAPI_(void) CoTaskMemFree(LPVOID pv) {
    std::free(pv);
}

WINBASEAPI void WINAPI InitializeCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    if (!initRecursive(lpCriticalSection))
        std::abort(); // the platform raises here; nothing sensible can continue
}

WINBASEAPI BOOL WINAPI InitializeCriticalSectionAndSpinCount(LPCRITICAL_SECTION lpCriticalSection,
                                                             DWORD) {
    if (!lpCriticalSection || !initRecursive(lpCriticalSection)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return FALSE;
    }
    return TRUE;
}

WINBASEAPI void WINAPI EnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    pthread_mutex_lock(mutexOf(lpCriticalSection));
}

WINBASEAPI void WINAPI LeaveCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    pthread_mutex_unlock(mutexOf(lpCriticalSection));
}

WINBASEAPI BOOL WINAPI TryEnterCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    return pthread_mutex_trylock(mutexOf(lpCriticalSection)) == 0;
}

WINBASEAPI void WINAPI DeleteCriticalSection(LPCRITICAL_SECTION lpCriticalSection) {
    pthread_mutex_destroy(mutexOf(lpCriticalSection));
}

WINBASEAPI LONG WINAPI InterlockedIncrement(LONG volatile* Addend) {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

WINBASEAPI LONG WINAPI InterlockedDecrement(LONG volatile* Addend) {
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

WINBASEAPI LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value) {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

WINBASEAPI DWORD WINAPI GetLastError(void) {
    return t_lastError;
}
WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode) {
    t_lastError = dwErrCode;
}
