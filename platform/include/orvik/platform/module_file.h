/* orvik/platform/module_file.h: module files and the resources inside them
 *
 * A module file carries its resources in an ELF section named ".rsrc", laid out as
 * a 32-bit resource file: one header per resource (data size, header size, type,
 * name, data version, memory flags, language, version, characteristics) followed by
 * its data. Loading a module "as a data file" reads that section from the file and
 * never runs the module; a module loaded to run is mapped by the dynamic loader and
 * its handle is the address it is mapped at.
 *
 * Types and names are either small integers (MAKEINTRESOURCEA) or text compared
 * without regard to case, where "#101" means the integer 101.
 */
#ifndef ORVIK_PLATFORM_MODULE_FILE_H
#define ORVIK_PLATFORM_MODULE_FILE_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/result_codes.h"

typedef void* HMODULE;
typedef HMODULE HINSTANCE;
typedef void* HRSRC;
typedef void* HGLOBAL;

#define MAX_PATH 260
#define LOAD_LIBRARY_AS_DATAFILE 0x00000002
#define LOAD_LIBRARY_AS_DATAFILE_EXCLUSIVE 0x00000040
#define LOAD_LIBRARY_AS_IMAGE_RESOURCE 0x00000020

#define IS_INTRESOURCE(r) ((((ULONG_PTR)(r)) >> 16) == 0)
#define MAKEINTRESOURCEA(i) ((LPSTR)(ULONG_PTR)(WORD)(i))
#define RT_STRING MAKEINTRESOURCEA(6)
#define RT_VERSION MAKEINTRESOURCEA(16)

#define LANG_NEUTRAL 0x00
#define LANG_ENGLISH_US 0x0409

/* Loads lpLibFileName. With LOAD_LIBRARY_AS_DATAFILE (or _EXCLUSIVE, or
 * LOAD_LIBRARY_AS_IMAGE_RESOURCE) only its resources are read; otherwise the module is
 * loaded to run. hFile must be null. Null on failure, with the last error
 * ERROR_FILE_NOT_FOUND, ERROR_BAD_EXE_FORMAT (not a module file), ERROR_MOD_NOT_FOUND
 * (a module the loader refused) or ERROR_INVALID_PARAMETER. */
WINBASEAPI HMODULE WINAPI LoadLibraryExA(LPCSTR lpLibFileName, HANDLE hFile,
                                         DWORD dwFlags) ORVIK_NOEXCEPT;
/* The exported function lpProcName of a module loaded to run; null, with the last
 * error ERROR_PROC_NOT_FOUND (or ERROR_INVALID_HANDLE for a handle that names no
 * such module), when there is none. */
typedef LONG_PTR(WINAPI* FARPROC)(void);
WINBASEAPI FARPROC WINAPI GetProcAddress(HMODULE hModule, LPCSTR lpProcName) ORVIK_NOEXCEPT;
/* Releases a module LoadLibraryExA gave. FALSE, ERROR_INVALID_HANDLE, for any other. */
WINBASEAPI BOOL WINAPI FreeLibrary(HMODULE hLibModule) ORVIK_NOEXCEPT;

/* The resource of type lpType and name lpName in hModule (null: the calling
 * program, which has none), in US English, else language neutral, else any
 * language. Null on failure, with the last error ERROR_RESOURCE_DATA_NOT_FOUND (no
 * resources), ERROR_RESOURCE_TYPE_NOT_FOUND, ERROR_RESOURCE_NAME_NOT_FOUND or
 * ERROR_INVALID_HANDLE. */
WINBASEAPI HRSRC WINAPI FindResourceA(HMODULE hModule, LPCSTR lpName, LPCSTR lpType) ORVIK_NOEXCEPT;
/* The same in exactly language wLanguage; ERROR_RESOURCE_LANG_NOT_FOUND when the
 * resource exists only in others. */
WINBASEAPI HRSRC WINAPI FindResourceExA(HMODULE hModule, LPCSTR lpType, LPCSTR lpName,
                                        WORD wLanguage) ORVIK_NOEXCEPT;
/* The resource's data, valid until the module is freed. */
WINBASEAPI HGLOBAL WINAPI LoadResource(HMODULE hModule, HRSRC hResInfo) ORVIK_NOEXCEPT;
WINBASEAPI LPVOID WINAPI LockResource(HGLOBAL hResData) ORVIK_NOEXCEPT;
/* The resource's size in bytes; 0, with a last error, for a bad handle. */
WINBASEAPI DWORD WINAPI SizeofResource(HMODULE hModule, HRSRC hResInfo) ORVIK_NOEXCEPT;

/* The full path of hModule's file (null: the running program's), as many bytes of
 * it as fit in nSize with a terminating zero. The length copied without the zero;
 * nSize when the path was cut short (last error ERROR_INSUFFICIENT_BUFFER); 0 on
 * failure (ERROR_MOD_NOT_FOUND for a handle that is no module). */
WINBASEAPI DWORD WINAPI GetModuleFileNameA(HMODULE hModule, LPSTR lpFilename,
                                           DWORD nSize) ORVIK_NOEXCEPT;

/* Where pszPath's extension (its last '.' after the last separator) begins, else
 * its terminating zero. Null for a null path. */
WINBASEAPI LPSTR WINAPI PathFindExtensionA(LPCSTR pszPath) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_MODULE_FILE_H */
