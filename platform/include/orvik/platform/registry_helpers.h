// orvik/platform/registry_helpers.h: C++ conveniences over the registry functions
//
// The registry functions take fixed buffers and hand out raw handles; code of this
// project that walks or reads keys uses these instead: a key holder that closes its
// handle, a string query that sizes its buffer by a first query, the names of the
// predefined roots, a subkey walk and a tree delete. Every function returns the
// registry's own error numbers. C++ only; C clients use the functions directly.
#ifndef ORVIK_PLATFORM_REGISTRY_HELPERS_H
#define ORVIK_PLATFORM_REGISTRY_HELPERS_H

#include "orvik/platform/registry.h"
#include "orvik/platform/text.h"

#include <string>
#include <utility>
#include <vector>

namespace orvik {

/// A key handle closed when the holder goes out of scope. Predefined roots may be
/// held too: closing one is a harmless no-op.
class RegKey {
public:
    RegKey() = default;
    explicit RegKey(HKEY key) : m_key(key) {}
    RegKey(RegKey&& other) noexcept : m_key(std::exchange(other.m_key, nullptr)) {}
    RegKey& operator=(RegKey&& other) noexcept {
        if (this != &other) {
            close();
            m_key = std::exchange(other.m_key, nullptr);
        }
        return *this;
    }
    RegKey(const RegKey&) = delete;
    RegKey& operator=(const RegKey&) = delete;
    ~RegKey() { close(); }

    HKEY get() const { return m_key; }
    explicit operator bool() const { return m_key != nullptr; }
    /// The address to receive a new handle; the one held before is closed first.
    HKEY* put() {
        close();
        return &m_key;
    }
    /// Closes the handle now; RegCloseKey's result (ERROR_SUCCESS when none was held).
    LSTATUS close() {
        LSTATUS e = m_key ? RegCloseKey(m_key) : ERROR_SUCCESS;
        m_key = nullptr;
        return e;
    }

private:
    HKEY m_key = nullptr;
};

/// A predefined root with its full and short names.
struct RegRootName {
    const char* name;
    const char* shortName;
    HKEY key;
};

/// The predefined roots in the order of their handle values (0x80000000 on).
inline const RegRootName kRegRootNames[] = {
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", "HKU", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", "HKPD", HKEY_PERFORMANCE_DATA},
    {"HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_DYN_DATA", "HKDD", HKEY_DYN_DATA},
};

/// The root whose full or short name is name (without regard to case), or null.
inline const RegRootName* findRegRoot(const char* name) {
    for (const RegRootName& root : kRegRootNames)
        if (lstrcmpiA(name, root.name) == 0 || lstrcmpiA(name, root.shortName) == 0)
            return &root;
    return nullptr;
}

/// The REG_SZ value valueName (null: the default value) of key\subKey (null or
/// empty: key itself), of any length. ERROR_FILE_NOT_FOUND for a missing key or
/// value, ERROR_INVALID_DATA for a value of another type.
inline LSTATUS regQueryString(HKEY key, const char* subKey, const char* valueName,
                              std::string& out) {
    // One call reads the key and its value together: a key that another process
    // deletes and makes again meanwhile never reads as missing.
    for (;;) {
        DWORD size = 0;
        LSTATUS e = RegGetValueA(key, subKey, valueName, RRF_RT_REG_SZ, nullptr, nullptr, &size);
        if (e == ERROR_UNSUPPORTED_TYPE)
            return ERROR_INVALID_DATA;
        if (e != ERROR_SUCCESS)
            return e;
        std::string buffer(size_t(size) + 1, '\0');
        DWORD room = size;
        e = RegGetValueA(key, subKey, valueName, RRF_RT_REG_SZ, nullptr, buffer.data(), &room);
        if (e == ERROR_MORE_DATA) // changed between the two reads: again
            continue;
        if (e == ERROR_UNSUPPORTED_TYPE)
            return ERROR_INVALID_DATA;
        if (e != ERROR_SUCCESS)
            return e;
        buffer.resize(room);
        while (!buffer.empty() && buffer.back() == '\0')
            buffer.pop_back();
        out = std::move(buffer);
        return ERROR_SUCCESS;
    }
}

/// The name of key's subkey at index, of any length; ERROR_NO_MORE_ITEMS past the end.
inline LSTATUS regSubkeyName(HKEY key, DWORD index, std::string& name) {
    // Most names fit the first buffer; asking for the longest name first would read
    // every sub-key's name on each call.
    std::string buffer(256, '\0');
    DWORD size = DWORD(buffer.size());
    LSTATUS e = RegEnumKeyExA(key, index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
    if (e == ERROR_MORE_DATA) {
        DWORD longest = 0;
        e = RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, &longest, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr);
        if (e != ERROR_SUCCESS)
            return e;
        buffer.assign(size_t(longest) + 1, '\0');
        size = DWORD(buffer.size());
        e = RegEnumKeyExA(key, index, buffer.data(), &size, nullptr, nullptr, nullptr, nullptr);
    }
    if (e != ERROR_SUCCESS)
        return e;
    buffer.resize(size);
    name = std::move(buffer);
    return ERROR_SUCCESS;
}

/// The names of key's subkeys, in the registry's order.
inline LSTATUS regSubkeyNames(HKEY key, std::vector<std::string>& names) {
    names.clear();
    for (DWORD i = 0;; ++i) {
        std::string name;
        LSTATUS e = regSubkeyName(key, i, name);
        if (e == ERROR_NO_MORE_ITEMS)
            return ERROR_SUCCESS;
        if (e != ERROR_SUCCESS)
            return e;
        names.push_back(std::move(name));
    }
}

/// The names of the subkeys of key\subKey; an empty list when it does not exist.
inline std::vector<std::string> regSubkeyNamesOf(HKEY key, const char* subKey) {
    std::vector<std::string> names;
    RegKey opened;
    if (RegOpenKeyExA(key, subKey, 0, KEY_READ, opened.put()) == ERROR_SUCCESS)
        (void)regSubkeyNames(opened.get(), names);
    return names;
}

/// Deletes parent\name (a path below parent, never empty) and everything below it.
/// The walk keeps its own stack of open keys instead of recursing, so no depth of
/// tree can exhaust the call stack; a chain deeper than any store holds is
/// ERROR_REGISTRY_CORRUPT. The first error stops it and is returned; what was deleted
/// by then stays deleted.
inline LSTATUS regDeleteTree(HKEY parent, const char* name) {
    if (!name || !*name)
        return ERROR_INVALID_PARAMETER;
    struct Level {
        RegKey key;
        std::string name; // relative to the level above
    };
    std::vector<Level> stack;
    stack.push_back({RegKey(), name});
    LSTATUS e = RegOpenKeyExA(parent, name, 0, KEY_READ | KEY_WRITE, stack.back().key.put());
    if (e != ERROR_SUCCESS)
        return e;
    while (!stack.empty()) {
        std::string child;
        e = regSubkeyName(stack.back().key.get(), 0, child);
        if (e == ERROR_SUCCESS) {
            // No store this platform writes nests keys deeper; a damaged one may.
            if (stack.size() >= ORVIK_REG_MAX_KEY_DEPTH)
                return ERROR_REGISTRY_CORRUPT;
            Level next{RegKey(), std::move(child)};
            e = RegOpenKeyExA(stack.back().key.get(), next.name.c_str(), 0, KEY_READ | KEY_WRITE,
                              next.key.put());
            if (e != ERROR_SUCCESS)
                return e;
            stack.push_back(std::move(next));
            continue;
        }
        if (e != ERROR_NO_MORE_ITEMS)
            return e;
        Level done = std::move(stack.back());
        stack.pop_back();
        done.key.close();
        HKEY above = stack.empty() ? parent : stack.back().key.get();
        e = RegDeleteKeyA(above, done.name.c_str());
        if (e != ERROR_SUCCESS)
            return e;
    }
    return ERROR_SUCCESS;
}

} // namespace orvik

#endif // ORVIK_PLATFORM_REGISTRY_HELPERS_H
