// orvik/client.hpp: what the generated C++ layer (orvik/orvik.hpp) stands on
//
// Failure codes become orvik::ComError, objects are held by orvik::Object<I>, and
// objects are created by class or programmatic identifier through the platform's
// activation, or straight from the module file when no registry entry names the class
// (the file named by ORVIK_MODULE, else ORVIK_MODULE_PATH as the package records it).
// C++17.
#ifndef ORVIK_CLIENT_HPP
#define ORVIK_CLIENT_HPP

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "orvik/platform/activation.h"
#include "orvik/platform/module_file.h"
#include "orvik/platform/ref.h"
#include "orvik/platform/result_text.h"
#include "orvik/platform/safearray.h"
#include "orvik/platform/text.h"

namespace orvik {

/// "The parameter is incorrect. (E_INVALIDARG, 0x80070057)": a result code's text, its
/// name and its value, as far as the platform knows them.
inline std::string describeResult(HRESULT code) {
    std::string words(OrvikResultCodeWords(code, nullptr, 0), '\0');
    OrvikResultCodeWords(code, words.data(), static_cast<DWORD>(words.size() + 1));
    return words;
}

/// A call that answered a failure code: the code, its symbolic name and the member.
class ComError : public std::runtime_error {
public:
    ComError(HRESULT code, std::string member)
        : std::runtime_error(member + " failed: " + describeResult(code)), m_code(code),
          m_member(std::move(member)) {}

    HRESULT code() const noexcept { return m_code; }
    /// "E_INVALIDARG", or "" for a code the platform does not name.
    const char* name() const noexcept {
        const char* name = OrvikResultCodeName(m_code);
        return name != nullptr ? name : "";
    }
    const std::string& member() const noexcept { return m_member; }

private:
    HRESULT m_code;
    std::string m_member;
};

/// Throws ComError for a failure code; success codes pass.
inline void check(HRESULT hr, const char* member) {
    if (FAILED(hr))
        throw ComError(hr, member);
}

/// An object held through interface I: the smart pointer every generated class
/// derives from. The raw table stays reachable through -> and raw(), and the object
/// passes as an I* wherever the interface is taken.
template <class I> class Object {
public:
    using Interface = I;

    Object() = default;
    explicit Object(Ref<I> ref) noexcept : m_ref(std::move(ref)) {}

    I* raw() const noexcept { return m_ref.get(); }
    I* operator->() const noexcept { return m_ref.get(); }
    operator I*() const noexcept { return m_ref.get(); }
    explicit operator bool() const noexcept { return static_cast<bool>(m_ref); }
    const Ref<I>& ref() const noexcept { return m_ref; }
    /// Lets go of the object now.
    void reset() noexcept { m_ref.reset(); }

protected:
    /// The interface for a call; an empty holder fails as a null pointer would.
    I* self(const char* member) const {
        if (!m_ref)
            throw ComError(E_POINTER, member);
        return m_ref.get();
    }

private:
    Ref<I> m_ref;
};

namespace detail {

/// A class of the library by name, for creation without a registry.
struct NamedClass {
    const char* name;
    const CLSID* clsid;
};

typedef HRESULT(STDAPICALLTYPE* GetClassObjectEntry)(REFCLSID, REFIID, void**);

// DllGetClassObject of the module file, loaded once for the process and kept.
inline GetClassObjectEntry moduleEntry() {
    static const GetClassObjectEntry entry = []() -> GetClassObjectEntry {
        const char* path = std::getenv("ORVIK_MODULE");
#ifdef ORVIK_MODULE_PATH
        if (path == nullptr || *path == '\0')
            path = ORVIK_MODULE_PATH;
#endif
        if (path == nullptr || *path == '\0')
            return nullptr;
        HMODULE module = LoadLibraryExA(path, nullptr, 0);
        if (module == nullptr)
            return nullptr;
        // Through a plain function type, as a symbol looked up by name must be.
        return reinterpret_cast<GetClassObjectEntry>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    }();
    return entry;
}

// "Vendor.Class" or "Vendor.Class.1": the class name between the vendor and a version.
inline std::string classNameOf(const char* progid) {
    std::string name(progid);
    const size_t dot = name.find('.');
    if (dot == std::string::npos)
        return std::string();
    name.erase(0, dot + 1);
    const size_t version = name.find('.');
    if (version != std::string::npos)
        name.erase(version);
    return name;
}

inline std::vector<double> fromArray(SAFEARRAY* array, const char* member) {
    struct Destroy {
        SAFEARRAY* array;
        ~Destroy() { SafeArrayDestroy(array); }
    } destroy{array};
    VARTYPE type = VT_EMPTY;
    if (array == nullptr || SafeArrayGetDim(array) != 1 ||
        FAILED(SafeArrayGetVartype(array, &type)) || type != VT_R8)
        throw ComError(DISP_E_TYPEMISMATCH, member);
    LONG lower = 0, upper = -1;
    check(SafeArrayGetLBound(array, 1, &lower), member);
    check(SafeArrayGetUBound(array, 1, &upper), member);
    void* data = nullptr;
    check(SafeArrayAccessData(array, &data), member);
    const double* values = static_cast<const double*>(data);
    std::vector<double> out(values, values + (upper - lower + 1));
    SafeArrayUnaccessData(array);
    return out;
}

/// An array of doubles made from values, destroyed with the holder.
class ArrayOf {
public:
    ArrayOf(const std::vector<double>& values, const char* member)
        : m_array(SafeArrayCreateVector(VT_R8, 0, static_cast<ULONG>(values.size()))) {
        void* data = nullptr;
        if (m_array == nullptr || FAILED(SafeArrayAccessData(m_array, &data))) {
            SafeArrayDestroy(m_array);
            throw ComError(E_OUTOFMEMORY, member);
        }
        if (!values.empty())
            std::memcpy(data, values.data(), values.size() * sizeof(double));
        SafeArrayUnaccessData(m_array);
    }
    ArrayOf(const ArrayOf&) = delete;
    ArrayOf& operator=(const ArrayOf&) = delete;
    ~ArrayOf() { SafeArrayDestroy(m_array); }
    SAFEARRAY** address() { return &m_array; }

private:
    SAFEARRAY* m_array;
};

} // namespace detail

/// A new object of class clsid through interface I: by the registry, or from the
/// module file when the registry does not know the class. A failure names the class
/// by name, or by its identifier.
template <class I> Ref<I> createInstance(REFCLSID clsid, const char* name = nullptr) {
    Ref<I> object;
    HRESULT hr =
        CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iidOf<I>(), object.putVoid());
    if (hr == REGDB_E_CLASSNOTREG) {
        if (detail::GetClassObjectEntry entry = detail::moduleEntry()) {
            Ref<IClassFactory> factory;
            hr = entry(clsid, IID_IClassFactory, factory.putVoid());
            if (SUCCEEDED(hr))
                hr = factory->CreateInstance(nullptr, iidOf<I>(), object.putVoid());
            else if (hr == CLASS_E_CLASSNOTAVAILABLE)
                hr = REGDB_E_CLASSNOTREG; // a class neither the registry nor the module knows
        }
    }
    if (FAILED(hr)) {
        if (name != nullptr)
            throw ComError(hr, name);
        OLECHAR text[CHARS_IN_GUID];
        StringFromGUID2(clsid, text, CHARS_IN_GUID);
        throw ComError(hr, std::string(text, text + CHARS_IN_GUID - 1));
    }
    return object;
}

/// A new object named by a programmatic identifier ("Orvik.Point") through interface
/// I. Without a registry entry the name's class part is looked up among classes.
template <class I>
Ref<I> createInstance(const char* progid, const detail::NamedClass* classes, size_t count) {
    std::vector<OLECHAR> wide(std::strlen(progid) + 1);
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, progid, -1, wide.data(),
                            static_cast<int>(wide.size())) == 0)
        throw ComError(CO_E_CLASSSTRING, progid);
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(wide.data(), &clsid);
    if (hr == CO_E_CLASSSTRING) {
        const std::string name = detail::classNameOf(progid);
        for (size_t i = 0; i < count; ++i)
            if (name == classes[i].name)
                return createInstance<I>(*classes[i].clsid, progid);
    }
    check(hr, progid);
    return createInstance<I>(clsid, progid);
}

/// The generated class that holds interface I (orvik::Point for IPoint), and the
/// classes of its library.
template <class I> struct WrapperOf;

/// orvik::create<IPoint>("Orvik.Point"): a new object held by I's class.
template <class I> typename WrapperOf<I>::type create(const char* progid) {
    return typename WrapperOf<I>::type(
        createInstance<I>(progid, WrapperOf<I>::classes, WrapperOf<I>::classCount));
}

/// orvik::create<IPoint>(CLSID_Point): likewise by class identifier.
template <class I> typename WrapperOf<I>::type create(REFCLSID clsid) {
    return typename WrapperOf<I>::type(createInstance<I>(clsid));
}

} // namespace orvik

#endif // ORVIK_CLIENT_HPP
