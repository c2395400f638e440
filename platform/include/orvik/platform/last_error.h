/* orvik/platform/last_error.h: the calling thread's last platform error */
#ifndef ORVIK_PLATFORM_LAST_ERROR_H
#define ORVIK_PLATFORM_LAST_ERROR_H

#include "orvik/platform/base_types.h"

/* The calling thread's last platform error number. */
WINBASEAPI DWORD WINAPI GetLastError(void) ORVIK_NOEXCEPT;
WINBASEAPI void WINAPI SetLastError(DWORD dwErrCode) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_LAST_ERROR_H */
