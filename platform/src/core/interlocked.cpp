// platform/src/core/interlocked.cpp: interlocked counts and the last error
//
// Both are per-process primitives with no state of their own beyond a thread-local
// error number.

#include "orvik/platform/interlocked.h"
#include "orvik/platform/last_error.h"

namespace {

thread_local DWORD t_lastError = 0;

} // namespace

WINBASEAPI LONG WINAPI InterlockedIncrement(LONG volatile* Addend) noexcept {
    return __atomic_add_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

WINBASEAPI LONG WINAPI InterlockedDecrement(LONG volatile* Addend) noexcept {
    return __atomic_sub_fetch(Addend, 1, __ATOMIC_SEQ_CST);
}

WINBASEAPI LONG WINAPI InterlockedExchange(LONG volatile* Target, LONG Value) noexcept {
    return __atomic_exchange_n(Target, Value, __ATOMIC_SEQ_CST);
}

WINBASEAPI DWORD WINAPI GetLastError(void) noexcept {
    return t_lastError;
}
WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode) noexcept {
    t_lastError = dwErrCode;
}
