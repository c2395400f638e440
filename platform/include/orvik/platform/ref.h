// orvik/platform/ref.h: the owning interface pointer
//
// Ref<I> holds one reference to an interface: copying adds a reference, destruction
// and reset() release it, moving hands it over and leaves the source empty. Two
// named crossings meet the platform's out-parameter convention: put() hands the
// address to a callee that fills it with an already counted reference (the Ref
// adopts it), and detach() gives the reference to a caller's out-parameter without
// releasing it. Interfaces know their identifier through InterfaceTraits, which the
// generated interface header specialises for every interface it declares.
#ifndef ORVIK_PLATFORM_REF_H
#define ORVIK_PLATFORM_REF_H

#include "orvik/platform/error_info.h"
#include "orvik/platform/interfaces.h"
#include "orvik/platform/typelib.h"

#include <cstddef>
#include <utility>

namespace orvik {

/// Maps an interface type to its identifier; specialised once per interface.
template <class I> struct InterfaceTraits;

template <> struct InterfaceTraits<IUnknown> {
    static constexpr const IID& iid() { return IID_IUnknown; }
};
template <> struct InterfaceTraits<IDispatch> {
    static constexpr const IID& iid() { return IID_IDispatch; }
};
template <> struct InterfaceTraits<IClassFactory> {
    static constexpr const IID& iid() { return IID_IClassFactory; }
};
template <> struct InterfaceTraits<ITypeLib> {
    static constexpr const IID& iid() { return IID_ITypeLib; }
};
template <> struct InterfaceTraits<ITypeInfo> {
    static constexpr const IID& iid() { return IID_ITypeInfo; }
};
template <> struct InterfaceTraits<ITypeInfo2> {
    static constexpr const IID& iid() { return IID_ITypeInfo2; }
};
template <> struct InterfaceTraits<ITypeLib2> {
    static constexpr const IID& iid() { return IID_ITypeLib2; }
};
template <> struct InterfaceTraits<IErrorInfo> {
    static constexpr const IID& iid() { return IID_IErrorInfo; }
};
template <> struct InterfaceTraits<ICreateErrorInfo> {
    static constexpr const IID& iid() { return IID_ICreateErrorInfo; }
};

template <class I> constexpr const IID& iidOf() {
    return InterfaceTraits<I>::iid();
}

template <class I> class Ref {
public:
    Ref() = default;
    Ref(std::nullptr_t) {}
    /// Takes a new reference on p.
    explicit Ref(I* p) : m_ptr(p) {
        if (m_ptr)
            m_ptr->AddRef();
    }
    Ref(const Ref& other) : Ref(other.m_ptr) {}
    Ref(Ref&& other) noexcept : m_ptr(std::exchange(other.m_ptr, nullptr)) {}
    ~Ref() { reset(); }

    Ref& operator=(const Ref& other) {
        Ref(other).swap(*this);
        return *this;
    }
    Ref& operator=(Ref&& other) noexcept {
        Ref(std::move(other)).swap(*this);
        return *this;
    }

    /// Wraps a reference the caller already owns (one that a callee counted).
    static Ref adopt(I* p) {
        Ref r;
        r.m_ptr = p;
        return r;
    }

    I* get() const { return m_ptr; }
    I* operator->() const { return m_ptr; }
    explicit operator bool() const { return m_ptr != nullptr; }

    /// Releases the held reference and returns the slot for a callee to fill.
    I** put() {
        reset();
        return &m_ptr;
    }
    /// put() typed for QueryInterface-style out-parameters.
    void** putVoid() { return reinterpret_cast<void**>(put()); }

    /// Gives the reference away; the Ref is empty afterwards.
    [[nodiscard]] I* detach() { return std::exchange(m_ptr, nullptr); }

    void reset() {
        if (I* p = std::exchange(m_ptr, nullptr))
            p->Release();
    }
    void swap(Ref& other) noexcept { std::swap(m_ptr, other.m_ptr); }

    /// QueryInterface for J; an empty Ref and the failure code when refused.
    template <class J> HRESULT query(Ref<J>& out) const {
        if (!m_ptr)
            return E_POINTER;
        return m_ptr->QueryInterface(iidOf<J>(), out.putVoid());
    }
    template <class J> Ref<J> as() const {
        Ref<J> out;
        (void)query(out);
        return out;
    }

    friend bool operator==(const Ref& a, const Ref& b) { return a.m_ptr == b.m_ptr; }
    friend bool operator==(const Ref& a, std::nullptr_t) { return a.m_ptr == nullptr; }

private:
    I* m_ptr = nullptr;
};

} // namespace orvik

#endif // ORVIK_PLATFORM_REF_H
