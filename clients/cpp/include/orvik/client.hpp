// orvik/client.hpp: what the generated C++ layer (orvik/orvik.hpp) stands on
//
// Failure codes become orvik::ComError, objects are held by orvik::Object<I>, and
// objects are created by class or programmatic identifier through the platform's
// activation, or straight from the module file when no registry entry names the class
// (the file named by ORVIK_MODULE, else ORVIK_MODULE_PATH as the package records it).
// A creation that fails says why in the platform's words. C++17.
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
#include "orvik/platform/error_description.h"
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
    /// detail, when given, follows the code's words: what the failure was about.
    ComError(HRESULT code, std::string member, const std::string& detail = std::string())
        : std::runtime_error(member + " failed: " + describeResult(code) +
                             (detail.empty() ? std::string() : ": " + detail)),
          m_code(code), m_member(std::move(member)) {}

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

// The module file the package recorded, for creation without a registry entry.
inline const char* installedModule() {
#ifdef ORVIK_MODULE_PATH
    return ORVIK_MODULE_PATH;
#else
    return nullptr;
#endif
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

// Loads the module file at path into this process and calls its entry point, which
// takes no arguments and answers a result code.
inline void runModuleEntry(const std::string& path, const char* entry) {
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, 0);
    if (module == nullptr)
        throw ComError(HRESULT_FROM_WIN32(GetLastError()), entry, "cannot load " + path);
    struct Unload {
        HMODULE module;
        ~Unload() { FreeLibrary(module); }
    } unload{module};
    // The entry point's own type, through the generic one GetProcAddress returns.
    auto call =
        reinterpret_cast<HRESULT (*)()>(reinterpret_cast<void*>(GetProcAddress(module, entry)));
    if (call == nullptr)
        throw ComError(HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND), entry, path + " has no " + entry);
    HRESULT hr = call();
    // A registration script at fault says where and why in the thread's error
    // information.
    if (FAILED(hr))
        throw ComError(hr, entry, takeErrorDescription());
}

} // namespace detail

/// Registers the module file at path in the registry store through its
/// DllRegisterServer, as orvik-regsvr does. A failure throws ComError; when a
/// registration script is at fault its what() ends with "FILE:LINE:COLUMN: reason".
inline void registerModule(const std::string& path) {
    detail::runModuleEntry(path, "DllRegisterServer");
}

/// Removes what registerModule wrote, through the module's DllUnregisterServer.
inline void unregisterModule(const std::string& path) {
    detail::runModuleEntry(path, "DllUnregisterServer");
}

/// A new object of the class name names (a programmatic identifier, "Orvik.Point",
/// or a class identifier in braces) through interface I: by the registry, or from
/// the module file when the registry does not know the class. A failure throws
/// ComError whose text says which store was searched, why the class could not be
/// made and what to do.
template <class I> Ref<I> createInstance(const char* name) {
    std::vector<OLECHAR> wide(std::strlen(name) + 1);
    if (MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, name, -1, wide.data(),
                            static_cast<int>(wide.size())) == 0)
        throw ComError(CO_E_CLASSSTRING, name, "the name is not UTF-8 text");
    Ref<I> object;
    char report[2048];
    HRESULT hr = OrvikCreateInstanceByName(wide.data(), detail::installedModule(), iidOf<I>(),
                                           object.putVoid(), report, sizeof report);
    if (FAILED(hr))
        throw ComError(hr, name, report);
    return object;
}

/// Likewise by class identifier.
template <class I> Ref<I> createInstance(REFCLSID clsid) {
    OLECHAR text[CHARS_IN_GUID];
    StringFromGUID2(clsid, text, CHARS_IN_GUID);
    char name[CHARS_IN_GUID];
    for (int i = 0; i < CHARS_IN_GUID; ++i)
        name[i] = static_cast<char>(text[i]);
    return createInstance<I>(name);
}

/// The generated class that holds interface I (orvik::Point for IPoint).
template <class I> struct WrapperOf;

/// orvik::create<IPoint>("Orvik.Point"): a new object held by I's class.
template <class I> typename WrapperOf<I>::type create(const char* progid) {
    return typename WrapperOf<I>::type(createInstance<I>(progid));
}

/// orvik::create<IPoint>(CLSID_Point): likewise by class identifier.
template <class I> typename WrapperOf<I>::type create(REFCLSID clsid) {
    return typename WrapperOf<I>::type(createInstance<I>(clsid));
}

} // namespace orvik

#endif // ORVIK_CLIENT_HPP
