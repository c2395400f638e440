// orvik/client.hpp: what the generated C++ layer (orvik/orvik.hpp) stands on
//
// Failure codes become orvik::ComError, objects are held by orvik::Object<I>, and
// objects are created by class or programmatic identifier through the platform's
// activation, or straight from the module file when no registry entry names the class
// (the file named by ORVIK_MODULE, else ORVIK_MODULE_PATH as the package records it).
// A creation that fails says why in the platform's words. C++17.
//
// The header keeps to namespace orvik and to macros named ORVIK_: it includes none of
// the platform's headers, so a client's own DWORD, TRUE or S_OK stand. The layer calls
// the objects' tables through orvik::abi, which declares the same tables as the
// interface header's C view in types of its own; the rarely used paths (creation, arrays, the
// words of a result code) are compiled into liborvik-client. orvik/orvik_raw.hpp
// joins the layer and the interface header for a client that uses both.
#ifndef ORVIK_CLIENT_HPP
#define ORVIK_CLIENT_HPP

#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// The tables' calling convention: the system's own on 32-bit Windows, the C one here.
#if defined(_WIN32) && defined(__i386__)
#define ORVIK_CALLTYPE __stdcall
#else
#define ORVIK_CALLTYPE
#endif

namespace orvik {

/// A result code: negative for a failure.
using Result = std::int32_t;

/// A class or interface identifier, laid out as the platform's GUID.
struct Guid {
    std::uint32_t data1;
    std::uint16_t data2;
    std::uint16_t data3;
    std::uint8_t data4[8];
};

namespace abi {

/// An array as the platform passes it; the layer hands it over as std::vector.
struct SafeArray;

/// Interfaces the layer passes along but does not call itself.
struct IUnknown;
struct IDispatch;

} // namespace abi

/// "The parameter is incorrect. (E_INVALIDARG, 0x80070057)": a result code's text, its
/// name and its value, as far as the platform knows them.
std::string describeResult(Result code);

/// A call that answered a failure code: the code, its symbolic name and the member.
class ComError : public std::runtime_error {
public:
    /// detail, when given, follows the code's words: what the failure was about.
    ComError(Result code, std::string member, const std::string& detail = std::string())
        : std::runtime_error(member + " failed: " + describeResult(code) +
                             (detail.empty() ? std::string() : ": " + detail)),
          m_code(code), m_member(std::move(member)) {}

    Result code() const noexcept { return m_code; }
    /// "E_INVALIDARG", or "" for a code the platform does not name.
    const char* name() const noexcept;
    /// "IMatrix.Element": the interface and the member that failed.
    const std::string& member() const noexcept { return m_member; }

private:
    Result m_code;
    std::string m_member;
};

namespace detail {

/// Throws ComError(code, member).
[[noreturn]] void throwFailure(Result code, const char* member);

} // namespace detail

/// Throws ComError for a failure code; success codes pass.
inline void check(Result code, const char* member) {
    if (code < 0)
        detail::throwFailure(code, member);
}

/// Marks a pointer whose reference the new holder takes over: Point(orvik::adopt, p).
struct AdoptTag {};
inline constexpr AdoptTag adopt{};

/// An object held through interface I: the holder every generated class derives
/// from. It keeps one reference, taken and given back through the object's table.
/// The table stays reachable through -> and raw(), and the holder passes as an I*
/// wherever the interface is taken.
template <class I> class Object {
public:
    using Interface = I;

    Object() = default;
    /// Takes over the reference the caller holds on object (which may be null).
    Object(AdoptTag, I* object) noexcept : m_object(object) {}
    Object(const Object& other) noexcept : m_object(other.m_object) {
        if (m_object != nullptr)
            m_object->AddRef();
    }
    Object(Object&& other) noexcept : m_object(std::exchange(other.m_object, nullptr)) {}
    Object& operator=(Object other) noexcept {
        std::swap(m_object, other.m_object);
        return *this;
    }
    ~Object() { reset(); }

    I* raw() const noexcept { return m_object; }
    I* operator->() const noexcept { return m_object; }
    operator I*() const noexcept { return m_object; }
    explicit operator bool() const noexcept { return m_object != nullptr; }
    /// Lets go of the object now.
    void reset() noexcept {
        if (I* object = std::exchange(m_object, nullptr))
            object->Release();
    }
    /// Gives the reference to the caller, who releases it; the holder is left empty.
    [[nodiscard]] I* detach() noexcept { return std::exchange(m_object, nullptr); }

protected:
    /// The interface for a call; an empty holder fails as a null pointer would
    /// (E_POINTER).
    I* self(const char* member) const {
        if (m_object == nullptr)
            detail::throwFailure(static_cast<Result>(0x80004003u), member);
        return m_object;
    }

private:
    I* m_object = nullptr;
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

/// The values of an array of doubles the object gave back; the array is destroyed.
std::vector<double> fromArray(abi::SafeArray* array, const char* member);

/// Destroys an array an object gave back with a failure code.
void destroyArray(abi::SafeArray* array) noexcept;

/// An array of doubles made from values, destroyed with the holder.
class ArrayOf {
public:
    ArrayOf(const std::vector<double>& values, const char* member);
    ArrayOf(const ArrayOf&) = delete;
    ArrayOf& operator=(const ArrayOf&) = delete;
    ~ArrayOf() { destroyArray(m_array); }
    abi::SafeArray** address() { return &m_array; }

private:
    abi::SafeArray* m_array;
};

/// A new object (one reference) of the class name names, through the interface iid;
/// module is the file to fall back on. A failure throws ComError.
void* createByName(const char* name, const char* module, const Guid& iid);

/// Likewise of the class clsid.
void* createByClass(const Guid& clsid, const char* module, const Guid& iid);

} // namespace detail

/// Registers the module file at path in the registry store through its
/// DllRegisterServer, as orvik-regsvr does. A failure throws ComError; when a
/// registration script is at fault its what() ends with "FILE:LINE:COLUMN: reason".
void registerModule(const std::string& path);

/// Removes what registerModule wrote, through the module's DllUnregisterServer.
void unregisterModule(const std::string& path);

/// The generated class that holds T: T itself for a class of the layer, Point for
/// the interface orvik::abi::IPoint (and, with orvik/orvik_raw.hpp, for ::IPoint).
template <class T> struct ClassFor { using type = T; };

/// orvik::create<orvik::Point>("Orvik.Point"): a new object of the class name names
/// (a programmatic identifier, or a class identifier in braces), by the registry, or
/// from the module file when the registry does not know the class. A failure throws
/// ComError whose text says which store was searched, why the class could not be made
/// and what to do.
template <class T> typename ClassFor<T>::type create(const char* name) {
    using Class = typename ClassFor<T>::type;
    using I = typename Class::Interface;
    return Class(adopt,
                 static_cast<I*>(detail::createByName(name, detail::installedModule(), I::iid)));
}

/// Likewise by class identifier: orvik::create<orvik::Point>(orvik::Point::classId).
template <class T> typename ClassFor<T>::type create(const Guid& clsid) {
    using Class = typename ClassFor<T>::type;
    using I = typename Class::Interface;
    return Class(adopt,
                 static_cast<I*>(detail::createByClass(clsid, detail::installedModule(), I::iid)));
}

} // namespace orvik

#endif // ORVIK_CLIENT_HPP
