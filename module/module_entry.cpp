// module/module_entry.cpp: the module's load entry and exported entry points
//
// The load entry runs as the last static construction of the module file (process
// attach) and as the first static destruction (process detach), after and before
// the module's own static records, whose construction order module.cpp pins.

#include "module/class_table.h"
#include "module/module_registration.h"
#include "registration/registry_batch.h"

#include "orvik/platform/boundary.h"

#include <new>

#define ORVIK_MODULE_EXPORT extern "C" __attribute__((visibility("default")))

namespace orvik {

namespace {

constexpr DWORD DLL_PROCESS_DETACH = 0;
constexpr DWORD DLL_PROCESS_ATTACH = 1;

BOOL moduleMain(void* /*hInstance, not used: the one recorded at load serves*/, DWORD reason) {
    if (reason == DLL_PROCESS_ATTACH)
        _pModule->Init(g_classTable);
    else if (reason == DLL_PROCESS_DETACH)
        _pModule->Term();
    return TRUE;
}

// Thread notifications are never delivered: nothing here would use them.
struct LoadEntry {
    LoadEntry() { moduleMain(moduleInstanceHandle(), DLL_PROCESS_ATTACH); }
    ~LoadEntry() { moduleMain(moduleInstanceHandle(), DLL_PROCESS_DETACH); }
};

LoadEntry g_loadEntry __attribute__((init_priority(1100)));

} // namespace

} // namespace orvik

ORVIK_MODULE_EXPORT HRESULT DllGetClassObject(REFCLSID rclsid, REFIID riid, LPVOID* ppv) noexcept {
    return orvik::_pModule->GetClassObject(rclsid, riid, ppv);
}

ORVIK_MODULE_EXPORT HRESULT DllCanUnloadNow() noexcept {
    return orvik::canUnloadNow();
}

ORVIK_MODULE_EXPORT HRESULT DllRegisterServer() noexcept {
    return orvik::guardResult([] {
        return orvik::inOneRegistryBatch([] { return orvik::RegisterModule(true, nullptr); });
    });
}

ORVIK_MODULE_EXPORT HRESULT DllUnregisterServer() noexcept {
    return orvik::guardResult([] {
        return orvik::inOneRegistryBatch([] { return orvik::UnregisterModule(true, nullptr); });
    });
}
