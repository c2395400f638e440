/* orvik/platform/registry.h: the registry
 *
 * Keys form a tree under predefined roots; each key has named, typed values (the
 * value with the empty name is the key's default value). Names compare without
 * regard to case and keep the case they were created with. Functions return
 * platform error numbers (ERROR_SUCCESS, ERROR_FILE_NOT_FOUND, ...), not result
 * codes. The store is a file shared by every process of the user: see
 * platform/src/registry/store.cpp for where it lives and how writes stay whole.
 */
#ifndef ORVIK_PLATFORM_REGISTRY_H
#define ORVIK_PLATFORM_REGISTRY_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"

typedef struct HKEY__* HKEY;
typedef HKEY* PHKEY;
typedef DWORD REGSAM;
typedef LONG LSTATUS;

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME;

typedef struct _SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
} SECURITY_ATTRIBUTES;

/* The predefined roots, sign-extended as on the 64-bit platform. */
#define ORVIK_PREDEFINED_KEY(n) ((HKEY)(ULONG_PTR)((LONG)(n)))
#define HKEY_CLASSES_ROOT ORVIK_PREDEFINED_KEY(0x80000000)
#define HKEY_CURRENT_USER ORVIK_PREDEFINED_KEY(0x80000001)
#define HKEY_LOCAL_MACHINE ORVIK_PREDEFINED_KEY(0x80000002)
#define HKEY_USERS ORVIK_PREDEFINED_KEY(0x80000003)
#define HKEY_PERFORMANCE_DATA ORVIK_PREDEFINED_KEY(0x80000004)
#define HKEY_CURRENT_CONFIG ORVIK_PREDEFINED_KEY(0x80000005)
#define HKEY_DYN_DATA ORVIK_PREDEFINED_KEY(0x80000006)

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_DWORD_BIG_ENDIAN 5
#define REG_LINK 6
#define REG_MULTI_SZ 7
#define REG_QWORD 11

/* Keys nest at most this deep below a root; creating a deeper key fails with
 * ERROR_INVALID_PARAMETER, as the platform's own registry does. */
#define ORVIK_REG_MAX_KEY_DEPTH 512

#define REG_OPTION_NON_VOLATILE 0x00000000
#define REG_OPTION_VOLATILE 0x00000001
#define REG_CREATED_NEW_KEY 0x00000001
#define REG_OPENED_EXISTING_KEY 0x00000002

#define DELETE 0x00010000
#define READ_CONTROL 0x00020000
#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_CREATE_SUB_KEY 0x0004
#define KEY_ENUMERATE_SUB_KEYS 0x0008
#define KEY_NOTIFY 0x0010
#define KEY_CREATE_LINK 0x0020
#define KEY_READ 0x00020019
#define KEY_WRITE 0x00020006
#define KEY_EXECUTE KEY_READ
#define KEY_ALL_ACCESS 0x000F003F

/* Opens hKey\lpSubKey (a path of names separated by backslashes; null or empty
 * opens hKey again) with the rights in samDesired. */
WINBASEAPI LSTATUS WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                                        REGSAM samDesired, PHKEY phkResult) ORVIK_NOEXCEPT;
/* Opens hKey\lpSubKey, creating every missing key of the path in one step. */
WINBASEAPI LSTATUS WINAPI RegCreateKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD Reserved, LPSTR lpClass,
                                          DWORD dwOptions, REGSAM samDesired,
                                          const SECURITY_ATTRIBUTES* lpSecurityAttributes,
                                          PHKEY phkResult, LPDWORD lpdwDisposition) ORVIK_NOEXCEPT;
WINBASEAPI LSTATUS WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved,
                                         DWORD dwType, const BYTE* lpData,
                                         DWORD cbData) ORVIK_NOEXCEPT;
/* With lpData null, reports the size in *lpcbData. A buffer too small gives
 * ERROR_MORE_DATA and the size needed in *lpcbData. */
WINBASEAPI LSTATUS WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                           LPDWORD lpType, LPBYTE lpData,
                                           LPDWORD lpcbData) ORVIK_NOEXCEPT;
/* Deletes hKey\lpSubKey; refused (ERROR_ACCESS_DENIED) while it has subkeys. */
/* The value lpValue of hkey\lpSubKey (hkey itself for a null or empty lpSubKey), read
 * in one step: a key deleted and made again by another process meanwhile is read as
 * it was or as it is, never as missing. dwFlags restricts the types taken
 * (RRF_RT_*); a value of another type is ERROR_UNSUPPORTED_TYPE. pvData, pcbData and
 * pdwType as for RegQueryValueExA. */
#define RRF_RT_REG_NONE 0x00000001
#define RRF_RT_REG_SZ 0x00000002
#define RRF_RT_REG_EXPAND_SZ 0x00000004
#define RRF_RT_REG_BINARY 0x00000008
#define RRF_RT_REG_DWORD 0x00000010
#define RRF_RT_REG_MULTI_SZ 0x00000020
#define RRF_RT_REG_QWORD 0x00000040
#define RRF_RT_ANY 0x0000ffff
WINBASEAPI LSTATUS WINAPI RegGetValueA(HKEY hkey, LPCSTR lpSubKey, LPCSTR lpValue, DWORD dwFlags,
                                       LPDWORD pdwType, PVOID pvData,
                                       LPDWORD pcbData) ORVIK_NOEXCEPT;
WINBASEAPI LSTATUS WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey) ORVIK_NOEXCEPT;
WINBASEAPI LSTATUS WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName) ORVIK_NOEXCEPT;
/* Subkeys in name order; ERROR_NO_MORE_ITEMS past the end. */
WINBASEAPI LSTATUS WINAPI RegEnumKeyExA(HKEY hKey, DWORD dwIndex, LPSTR lpName, LPDWORD lpcchName,
                                        LPDWORD lpReserved, LPSTR lpClass, LPDWORD lpcchClass,
                                        FILETIME* lpftLastWriteTime) ORVIK_NOEXCEPT;
/* Values in the order they were first set; ERROR_NO_MORE_ITEMS past the end. */
WINBASEAPI LSTATUS WINAPI RegEnumValueA(HKEY hKey, DWORD dwIndex, LPSTR lpValueName,
                                        LPDWORD lpcchValueName, LPDWORD lpReserved, LPDWORD lpType,
                                        LPBYTE lpData, LPDWORD lpcbData) ORVIK_NOEXCEPT;
WINBASEAPI LSTATUS WINAPI RegQueryInfoKeyA(HKEY hKey, LPSTR lpClass, LPDWORD lpcchClass,
                                           LPDWORD lpReserved, LPDWORD lpcSubKeys,
                                           LPDWORD lpcbMaxSubKeyLen, LPDWORD lpcbMaxClassLen,
                                           LPDWORD lpcValues, LPDWORD lpcbMaxValueNameLen,
                                           LPDWORD lpcbMaxValueLen, LPDWORD lpcbSecurityDescriptor,
                                           FILETIME* lpftLastWriteTime) ORVIK_NOEXCEPT;
WINBASEAPI LSTATUS WINAPI RegCloseKey(HKEY hKey) ORVIK_NOEXCEPT;
/* Every change committed so far reaches the disk. A committed change survives a crash
 * of the process at once; without this call a power loss may lose the last ones. */
WINBASEAPI LSTATUS WINAPI RegFlushKey(HKEY hKey) ORVIK_NOEXCEPT;

/* Not of the operating system: the calling thread's registry changes from
 * OrvikRegBeginBatch to the matching OrvikRegEndBatch form one transaction of the
 * store in use. Another process sees all of them or none; a crash leaves none; each
 * call inside stays whole on its own. Calls from other threads wait until the batch
 * ends. Batches nest, and only the outermost end commits: OrvikRegEndBatch(FALSE) at
 * any depth rolls the whole batch back (the outermost end then answers
 * ERROR_REGISTRY_IO_FAILED if it was asked to commit). Every begin that answered
 * ERROR_SUCCESS must be ended on the same thread. */
WINBASEAPI LSTATUS WINAPI OrvikRegBeginBatch(void) ORVIK_NOEXCEPT;
WINBASEAPI LSTATUS WINAPI OrvikRegEndBatch(BOOL commit) ORVIK_NOEXCEPT;

/* Not of the operating system: the file that holds the store the registry functions
 * use now ($ORVIK_REGISTRY, or the user's default), so that a tool can name it when
 * it cannot be used. Copies the path with its terminator into buffer when it fits
 * and returns its length without the terminator (0 for a null buffer of size 0,
 * the length alone when it does not fit). A store that cannot be used answers every
 * call with one of: ERROR_ACCESS_DENIED (no permission; a store that can only be
 * read refuses writes with it), ERROR_BADDB (not a store: another kind of file, a
 * directory, a database of another schema, which is never changed),
 * ERROR_REGISTRY_CORRUPT (a store that is damaged), ERROR_BUSY (held by another
 * process for longer than a write is waited for), ERROR_REGISTRY_IO_FAILED (it
 * could not be created or read). */
WINBASEAPI DWORD WINAPI OrvikGetRegistryStorePath(LPSTR buffer, DWORD size) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_REGISTRY_H */
