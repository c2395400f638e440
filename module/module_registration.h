// module/module_registration.h: the module registers and unregisters itself
//
// Registration walks the class table in order, runs each class's "REGISTRY" script
// resource through the registration script processor, then registers the interface
// library the module file carries. Unregistration runs the same scripts the other
// way and unregisters the library. Nothing is kept between calls.
#ifndef ORVIK_MODULE_MODULE_REGISTRATION_H
#define ORVIK_MODULE_MODULE_REGISTRATION_H

#include "server/module.h"

namespace orvik {

/// Registers every class of the table (only the one filter names, when given), then
/// the library when registerLibrary is set. The first failure is returned at once.
HRESULT RegisterModule(bool registerLibrary, const CLSID* filter);
/// Unregisters the same way, then the library when unregisterLibrary is set.
HRESULT UnregisterModule(bool unregisterLibrary, const CLSID* filter);

/// The interface library of the module file at module: resource TYPELIB 1 of the
/// file, else the ".tlb" file of the same name beside it; *path is the file it came
/// from. E_FAIL when that name would not fit in 260 bytes.
HRESULT LoadModuleTypeLibrary(HINSTANCE module, BSTR* path, ITypeLib** library);
/// Registers the module's library with its folder (ending with its separator) as
/// the help directory.
HRESULT RegisterTypeLibrary(HINSTANCE module);
/// Unregisters the module's library by its own identifier, version, locale and
/// system kind.
HRESULT UnregisterTypeLibrary(HINSTANCE module);

/// A class's registration hook: its script resource, run by the module object.
template <WORD ScriptResource> HRESULT classRegistrationHook(BOOL bRegister) {
    return _pModule->RunClassScript(ScriptResource, bRegister, nullptr);
}

} // namespace orvik

#endif // ORVIK_MODULE_MODULE_REGISTRATION_H
