// server/module.h: the module object and the class table
//
// One CComModule per process holds the lock count that decides unloading, the
// termination list run at process detach, the type-information lock, and the class
// table through which DllGetClassObject finds a class's factory. Everything that
// locks the module (live objects, factories held by clients, LockServer) reaches it
// through the process-wide pointer _pModule. The count is kept in two parts: the
// record's word, which factories and LockServer change, and slots spread over the
// cores, which the objects that every thread makes and releases change; the slots'
// count takes the record's word as its shared word, and the lock count is the sum.
#ifndef ORVIK_SERVER_MODULE_H
#define ORVIK_SERVER_MODULE_H

#include "server/spread_count.h"

#include "orvik/platform.h"

namespace orvik {

struct IRegistrarBase;

/// An extra variable for a registration script; a list of them ends with a pair of
/// nulls.
struct RegistryVariable {
    LPCOLESTR name;
    LPCOLESTR value;
};

using CreatorFunc = HRESULT (*)(void* pv, REFIID riid, void** ppv);
using TermFunc = void (*)(DWORD_PTR arg);

/// One class of the module. A table of these ends with an entry whose fields are all
/// null; the lookup walks it in order.
struct ClassEntry {
    const CLSID* pclsid;
    HRESULT (*RegistrationHook)(BOOL bRegister);
    CreatorFunc ClassObjectCreator; // makes the class factory (the same for every class)
    CreatorFunc InstanceCreator;    // the class's creator pair
    IUnknown* CachedClassObject;    // the factory, once made; the table holds one reference
    DWORD dwRegister;
    const OLECHAR* (*DescriptionHook)();
    const void* (*CategoryListHook)();
    void (*ClassInitHook)(bool bStarting);
};

struct TermNode {
    TermFunc func;
    DWORD_PTR arg;
    TermNode* next;
};

/// The module's root record, in the order the fields are laid out.
struct ModuleRecord {
    UINT cbSize = 0; // non-zero from construction until termination
    LONG m_nLockCnt = 0;
    TermNode* m_pTermFuncs = nullptr;
    CRITICAL_SECTION m_csTypeInfoHolder;
    ClassEntry* m_pObjMap = nullptr;
};

class CComModuleBase : public ModuleRecord {
public:
    CComModuleBase();
    /// Runs the second half of termination (a no-op once terminated).
    virtual ~CComModuleBase();
    /// Atomic increment and decrement of the record's word; both return the new lock
    /// count, which adds the objects' locks.
    virtual LONG Lock();
    virtual LONG Unlock();
    virtual LONG GetLockCount();
    virtual HRESULT GetGITPtr(void** ppGIT);

    // The registration services (defined with the module's self-registration).
    /// Adds "APPID" with an empty value to registrar.
    virtual HRESULT AddModuleVariables(IRegistrarBase* registrar);
    /// Registration entries nothing calls: always E_FAIL.
    virtual HRESULT RegisterScriptByName(LPCOLESTR resourceName, BOOL bRegister,
                                         const RegistryVariable* extra);
    virtual HRESULT RegisterScriptById(UINT resourceId, BOOL bRegister,
                                       const RegistryVariable* extra);
    /// Runs the module's "REGISTRY" script resourceId in the given mode, with the
    /// module variables (APPID, Module, Module_Raw) after the extra ones.
    virtual HRESULT RunClassScript(WORD resourceId, BOOL bRegister, const RegistryVariable* extra);
    /// The same, with the script resource named instead of numbered.
    virtual HRESULT RunClassScript(LPCSTR resourceName, BOOL bRegister,
                                   const RegistryVariable* extra);

    /// Puts a node in front of the termination list. E_OUTOFMEMORY when no node can
    /// be had. Takes the type-information lock (re-entrant for its holder).
    HRESULT AddTermFunc(TermFunc func, DWORD_PTR arg);

    /// The lock a live object holds from construction to destruction: part of the same
    /// count as Lock and Unlock, but changed on the calling core's own cache line and
    /// without reading the total back.
    void lockForObject() noexcept { m_objectLocks.increment(); }
    void unlockForObject() noexcept { m_objectLocks.decrement(); }

protected:
    /// Runs the termination list newest first, frees it, deletes the type-information
    /// lock and clears the size word; does nothing when the size word is already 0.
    void TermFuncsAndLocks();

private:
    SpreadCount m_objectLocks;
};

template <class T> class CComModuleT : public CComModuleBase {
public:
    /// Process attach: records the class table and starts every class.
    void Init(ClassEntry* objMap);
    /// Process detach: releases the cached factories, stops every class, then runs
    /// the termination list. A second call does nothing more.
    void Term();
    /// The class-object lookup behind DllGetClassObject.
    HRESULT GetClassObject(REFCLSID rclsid, REFIID riid, void** ppv);
};

// Final, so that calls through _pModule go to their functions directly instead of
// reading the object's table pointer.
class CComModule final : public CComModuleT<CComModule> {
public:
    CComModule();
};

/// The process-wide module, published by its constructor.
extern CComModule* _pModule; // aligned to a cache line of its own where defined

/// Unloading is safe exactly when no object, held factory or server lock remains.
HRESULT canUnloadNow();

/// The address the module file is mapped at, recorded at load.
void* moduleInstanceHandle();

} // namespace orvik

#endif // ORVIK_SERVER_MODULE_H
