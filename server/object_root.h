// server/object_root.h: identity and counting shared by every implementation class
//
// An implementation class (CPoint, CVector, ...) never exists alone: it is made as
// CComObject (standalone) or inside CComAggObject (aggregated), and those forms
// supply IUnknown. The root gives both forms the count, the interface-map walk and,
// for the aggregated form, the outer object's IUnknown in the count's place.
#ifndef ORVIK_SERVER_OBJECT_ROOT_H
#define ORVIK_SERVER_OBJECT_ROOT_H

#include "orvik/platform.h"

#include <cstdint>

namespace orvik {

/// Objects are called only from the apartment that made them: plain counts.
struct CComSingleThreadModel {
    static LONG Increment(LONG* count) { return ++*count; }
    static LONG Decrement(LONG* count) { return --*count; }
};
/// Shared across threads: atomic counts, increments relaxed, decrements
/// acquire-release so that the last release sees every write made before it.
struct CComMultiThreadModel {
    static LONG Increment(LONG* count) { return __atomic_add_fetch(count, 1, __ATOMIC_RELAXED); }
    static LONG Decrement(LONG* count) { return __atomic_sub_fetch(count, 1, __ATOMIC_ACQ_REL); }
};

/// The count given to an object being destroyed, so that references taken and
/// dropped while it is taken down never bring it to zero a second time.
inline constexpr LONG kDestroyedCount = -(INT32_MAX / 2); // 0xC0000001

class CComObjectRootBase {
public:
    /// The interface-map walk: IUnknown and every identifier in the null-terminated
    /// map resolve to self, with AddRef made through self's table (which, for an
    /// inner object, reaches the outer object's count).
    static HRESULT InternalQueryInterface(IUnknown* self, const IID* const* map, REFIID iid,
                                          void** ppv) {
        if (!ppv)
            return E_POINTER;
        *ppv = nullptr;
        bool match = IsEqualGUID(iid, IID_IUnknown);
        for (const IID* const* entry = map; !match && *entry; ++entry)
            match = IsEqualGUID(iid, **entry);
        if (!match)
            return E_NOINTERFACE;
        *ppv = self;
        self->AddRef();
        return S_OK;
    }

protected:
    // The standalone form counts here; the inner object of an aggregate keeps its
    // outer object's IUnknown in the same place instead.
    union {
        LONG m_dwRef = 0;
        IUnknown* m_pOuterUnknown;
    };
};

/// The count kept as the thread model says.
template <class ThreadModel> class CComObjectRootEx : public CComObjectRootBase {
public:
    LONG InternalAddRef() { return ThreadModel::Increment(&m_dwRef); }
    LONG InternalRelease() { return ThreadModel::Decrement(&m_dwRef); }
};

} // namespace orvik

#endif // ORVIK_SERVER_OBJECT_ROOT_H
