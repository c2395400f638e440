/* orvik/platform/activation.h: creating objects of registered classes
 *
 * A class is registered under HKEY_CLASSES_ROOT\CLSID\{class} with the module file
 * that serves it in InprocServer32, and a programmatic identifier "Vendor.Class" or
 * "Vendor.Class.1" names it through HKEY_CLASSES_ROOT\<identifier>\CLSID. Creation
 * loads the module file once per process, asks its DllGetClassObject for the class
 * factory and the factory for the object. CoFreeUnusedLibraries unloads the modules
 * whose DllCanUnloadNow answers S_OK, once they have said so for a while (below).
 *
 * A child forked from a process with several threads must not call these (or the
 * registry, or objects it inherited) before exec: a lock another thread held at the
 * fork stays held in the child.
 *
 * CoInitializeEx is counted per thread and answered as the platform does (S_OK
 * first, S_FALSE after, RPC_E_CHANGED_MODE for another model); creation does not
 * require it, as every object here is served in the caller's own thread.
 */
#ifndef ORVIK_PLATFORM_ACTIVATION_H
#define ORVIK_PLATFORM_ACTIVATION_H

#include "orvik/platform/base_types.h"
#include "orvik/platform/guid.h"
#include "orvik/platform/interfaces.h"
#include "orvik/platform/result_codes.h"

#define COINIT_MULTITHREADED 0x0
#define COINIT_APARTMENTTHREADED 0x2
#define COINIT_DISABLE_OLE1DDE 0x4
#define COINIT_SPEED_OVER_MEMORY 0x8

#define CLSCTX_INPROC_SERVER 0x1
#define CLSCTX_INPROC_HANDLER 0x2
#define CLSCTX_LOCAL_SERVER 0x4
#define CLSCTX_REMOTE_SERVER 0x10
#define CLSCTX_INPROC (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER)
#define CLSCTX_SERVER (CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)
#define CLSCTX_ALL                                                                                 \
    (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER)

STDAPI CoInitializeEx(LPVOID pvReserved, DWORD dwCoInit) ORVIK_NOEXCEPT;
STDAPI CoInitialize(LPVOID pvReserved) ORVIK_NOEXCEPT;
STDAPI_(void) CoUninitialize(void) ORVIK_NOEXCEPT;

/* The class a programmatic identifier names (versioned or not; an identifier with no
 * class of its own follows its CurVer). CO_E_CLASSSTRING when none is registered. */
STDAPI CLSIDFromProgID(LPCOLESTR lpszProgID, LPCLSID lpclsid) ORVIK_NOEXCEPT;
/* The class's programmatic identifier, allocated with CoTaskMemAlloc.
 * REGDB_E_CLASSNOTREG when it has none. */
STDAPI ProgIDFromCLSID(REFCLSID clsid, LPOLESTR* lplpszProgID) ORVIK_NOEXCEPT;

/* The class object (factory) of rclsid, as interface riid. REGDB_E_CLASSNOTREG for a
 * class not registered to be served in process, CO_E_DLLNOTFOUND when its module file
 * cannot be loaded, CO_E_ERRORINDLL when the file lacks DllGetClassObject; else the
 * module's own answer. */
STDAPI CoGetClassObject(REFCLSID rclsid, DWORD dwClsContext, LPVOID pvReserved, REFIID riid,
                        LPVOID* ppv) ORVIK_NOEXCEPT;
/* A new object of rclsid (aggregated by pUnkOuter when given), as interface riid. */
STDAPI CoCreateInstance(REFCLSID rclsid, IUnknown* pUnkOuter, DWORD dwClsContext, REFIID riid,
                        LPVOID* ppv) ORVIK_NOEXCEPT;
/* Orvik's own: a new object of the class "name" names (a programmatic identifier, or
 * a class identifier in braces) as interface riid, through the registry; when the
 * registry does not know the class, from the module file ORVIK_MODULE names, else
 * installedModule (may be null), whose type library gives the class by its name.
 * Answers the code of the step that failed. On failure, report (when not null)
 * receives at most reportSize bytes of text, terminated: the class, the store
 * searched, the cause, and what to do. */
STDAPI OrvikCreateInstanceByName(LPCOLESTR name, LPCSTR installedModule, REFIID riid, LPVOID* ppv,
                                 LPSTR report, DWORD reportSize) ORVIK_NOEXCEPT;
#ifndef INFINITE
#define INFINITE 0xFFFFFFFFu
#endif

/* Unloads the modules loaded for creation that are no longer in use. A module whose
 * DllCanUnloadNow answers S_OK becomes a candidate; a later call unloads it once
 * dwUnloadDelay milliseconds have passed, if it has answered S_OK at every call since,
 * no class object was asked of it meanwhile, and every other thread of the process
 * has since moved on from what it was running then (so that no thread is still
 * finishing a release inside the module). A delay of 0 waits only for that last
 * condition, so a process with one thread unloads at once; INFINITE means the default
 * delay: ORVIK_UNLOAD_DELAY_MS in the environment, else ten minutes. dwReserved must
 * be 0. */
STDAPI_(void) CoFreeUnusedLibrariesEx(DWORD dwUnloadDelay, DWORD dwReserved) ORVIK_NOEXCEPT;
/* CoFreeUnusedLibrariesEx(INFINITE, 0). */
STDAPI_(void) CoFreeUnusedLibraries(void) ORVIK_NOEXCEPT;

#endif /* ORVIK_PLATFORM_ACTIVATION_H */
