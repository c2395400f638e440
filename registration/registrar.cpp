// registration/registrar.cpp: expanding and walking registration scripts
//
// Scripts are read with CharNextA so that a multi-byte character is always taken
// whole. Every key handle a walk opens is closed before the walk leaves its block,
// on success and on failure (KeyHandle). Registry errors become result codes by
// HRESULT_FROM_WIN32; every syntax error is DISP_E_EXCEPTION.

#include "registration/registrar.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace orvik {

namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

struct RootKey {
    const char* name;
    HKEY key;
};

const RootKey kRootKeys[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

const char* const kProtectedKeyNames[] = {"AppID",    "CLSID",     "Component Categories",
                                          "FileType", "Interface", "Hardware",
                                          "Mime",     "SAM",       "SECURITY",
                                          "SYSTEM",   "Software",  "TypeLib"};

enum class ValueType { String, MultiString, Dword, Binary, Unknown };

ValueType valueType(LPCSTR token) {
    static const struct {
        const char* name;
        ValueType type;
    } kTypes[] = {{"S", ValueType::String},
                  {"M", ValueType::MultiString},
                  {"D", ValueType::Dword},
                  {"B", ValueType::Binary}};
    for (const auto& t : kTypes)
        if (lstrcmpiA(token, t.name) == 0)
            return t.type;
    return ValueType::Unknown;
}

bool isSeparator(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}
bool is(LPCSTR token, LPCSTR keyword) {
    return lstrcmpiA(token, keyword) == 0;
}
HRESULT fromError(LONG e) {
    return HRESULT_FROM_WIN32(e);
}

// A key handle closed when it goes out of scope, unless it is a predefined root.
class KeyHandle {
public:
    KeyHandle() = default;
    KeyHandle(const KeyHandle&) = delete;
    ~KeyHandle() { close(); }
    HKEY get() const { return m_key; }
    HKEY* put() {
        close();
        return &m_key;
    }
    LONG close() {
        LONG e = m_key ? RegCloseKey(m_key) : ERROR_SUCCESS;
        m_key = nullptr;
        return e;
    }

private:
    HKEY m_key = nullptr;
};

std::u16string to16(LPCSTR text) {
    int n = MultiByteToWideChar(ConversionCodePage(), 0, text, -1, nullptr, 0);
    if (n <= 0)
        return {};
    std::u16string out(size_t(n), u'\0');
    MultiByteToWideChar(ConversionCodePage(), 0, text, -1, out.data(), n);
    out.pop_back();
    return out;
}

bool to8(LPCOLESTR text, std::string& out) {
    int n = WideCharToMultiByte(ConversionCodePage(), 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return false;
    out.assign(size_t(n), '\0');
    WideCharToMultiByte(ConversionCodePage(), 0, text, -1, out.data(), n, nullptr, nullptr);
    out.pop_back();
    return true;
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return 0;
}

bool allDigits(LPCSTR text) {
    if (!*text)
        return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

UINT g_codePage = 0; // 0: not chosen yet; otherwise the code page + 1 would be ambiguous

} // namespace

UINT ConversionCodePage() {
    UINT chosen = __atomic_load_n(&g_codePage, __ATOMIC_ACQUIRE);
    if (chosen)
        return chosen - 1;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    UINT cp = 0;
    if (GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT &&
        version.dwMajorVersion > 4) {
        cp = CP_THREAD_ACP;
    } else {
        char buffer[7] = {};
        if (GetLocaleInfoA(GetThreadLocale(), LOCALE_IDEFAULTANSICODEPAGE, buffer, sizeof buffer))
            cp = UINT(std::strtoul(buffer, nullptr, 10));
        if (cp == 0)
            cp = GetACP();
    }
    // Stored as cp + 1 so that CP_ACP (0) is distinguishable from "not chosen";
    // concurrent first uses store the same value.
    InterlockedExchange(reinterpret_cast<LONG volatile*>(&g_codePage), LONG(cp + 1));
    return cp;
}

CRegObject::~CRegObject() {
    ClearVariables();
}

HRESULT STDMETHODCALLTYPE CRegObject::AddVariable(LPCOLESTR name, LPCOLESTR value) {
    if (!name || !value)
        return E_INVALIDARG;
    std::string narrow;
    if (!to8(name, narrow))
        return E_OUTOFMEMORY;
    size_t valueLength = size_t(lstrlenW(value)) + 1;
    char* nameCopy = static_cast<char*>(std::malloc(narrow.size() + 1));
    auto* valueCopy = static_cast<OLECHAR*>(std::malloc(valueLength * sizeof(OLECHAR)));
    auto** names = static_cast<char**>(std::realloc(m_names, sizeof(char*) * size_t(m_count + 1)));
    if (names)
        m_names = names;
    auto** values =
        static_cast<OLECHAR**>(std::realloc(m_values, sizeof(OLECHAR*) * size_t(m_count + 1)));
    if (values)
        m_values = values;
    if (!nameCopy || !valueCopy || !names || !values) {
        std::free(nameCopy);
        std::free(valueCopy);
        return E_OUTOFMEMORY;
    }
    std::memcpy(nameCopy, narrow.c_str(), narrow.size() + 1);
    std::memcpy(valueCopy, value, valueLength * sizeof(OLECHAR));
    m_names[m_count] = nameCopy;
    m_values[m_count] = valueCopy;
    ++m_count;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE CRegObject::ClearVariables() {
    for (int i = 0; i < m_count; ++i) {
        std::free(m_names[i]);
        std::free(m_values[i]);
    }
    std::free(m_names);
    std::free(m_values);
    m_names = nullptr;
    m_values = nullptr;
    m_count = 0;
    return S_OK;
}

HRESULT CRegObject::ExpandVariables(LPCSTR text, char** result) {
    if (!text || !result)
        return E_POINTER;
    *result = nullptr;
    std::string out;
    for (const char* p = text; *p;) {
        const char* next = CharNextA(p);
        if (*p != '%') {
            out.append(p, next);
            p = next;
            continue;
        }
        if (p[1] == '%') {
            out += '%';
            p += 2;
            continue;
        }
        const char* start = p + 1;
        const char* end = std::strchr(start, '%');
        if (!end)
            return DISP_E_EXCEPTION;
        if (size_t(end - start) > kMaxVariableNameLength)
            return E_FAIL;
        std::string name(start, end);
        int found = -1;
        for (int i = 0; i < m_count && found < 0; ++i)
            if (lstrcmpiA(m_names[i], name.c_str()) == 0)
                found = i;
        if (found < 0)
            return DISP_E_EXCEPTION;
        std::string value;
        if (*m_values[found] && !to8(m_values[found], value))
            return E_OUTOFMEMORY;
        out += value;
        p = end + 1;
    }
    char* copy = new (std::nothrow) char[out.size() + 1];
    if (!copy)
        return E_OUTOFMEMORY;
    std::memcpy(copy, out.c_str(), out.size() + 1);
    *result = copy;
    return S_OK;
}

void CRegObject::SkipSeparators() {
    while (*m_cursor && isSeparator(*m_cursor))
        m_cursor = CharNextA(m_cursor);
}

HRESULT CRegObject::ReadToken(char* token) {
    SkipSeparators();
    if (!*m_cursor)
        return DISP_E_EXCEPTION;
    char* write = token;
    char* const end = token + kTokenBufferSize;
    auto copyCharacter = [&]() {
        const char* next = CharNextA(m_cursor);
        for (; m_cursor < next; ++m_cursor) {
            if (write + 2 >= end)
                return false;
            *write++ = *m_cursor;
        }
        return true;
    };
    if (*m_cursor == '\'') {
        ++m_cursor;
        while (*m_cursor) {
            if (m_cursor[0] == '\'' && m_cursor[1] != '\'')
                break;
            if (m_cursor[0] == '\'')
                ++m_cursor; // the first of a doubled quote
            if (!copyCharacter())
                return DISP_E_EXCEPTION;
        }
        if (!*m_cursor)
            return DISP_E_EXCEPTION;
        *write = 0;
        ++m_cursor;
        return S_OK;
    }
    while (*m_cursor && !isSeparator(*m_cursor))
        if (!copyCharacter())
            return DISP_E_EXCEPTION;
    *write = 0;
    return S_OK;
}

bool CRegObject::IsProtectedKeyName(LPCSTR name) {
    for (const char* protectedName : kProtectedKeyNames)
        if (lstrcmpiA(name, protectedName) == 0)
            return true;
    return false;
}

LONG CRegObject::DeleteKeyTree(HKEY parent, LPCSTR name) {
    KeyHandle key;
    LONG e = RegOpenKeyExA(parent, name, 0, kReadWrite, key.put());
    if (e != ERROR_SUCCESS)
        return e;
    for (;;) {
        char child[256];
        DWORD size = sizeof child;
        if (RegEnumKeyExA(key.get(), 0, child, &size, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        e = DeleteKeyTree(key.get(), child);
        if (e != ERROR_SUCCESS)
            return e;
    }
    key.close();
    return RegDeleteKeyA(parent, name);
}

HRESULT CRegObject::SkipValue(char* token) {
    if (token[0] != '=')
        return S_OK;
    HRESULT hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    SkipSeparators();
    auto scratch = std::make_unique<char[]>(kTokenBufferSize);
    hr = ReadToken(scratch.get());
    if (FAILED(hr))
        return hr;
    return ReadToken(token);
}

HRESULT CRegObject::StoreValue(HKEY key, LPCSTR valueName, char* token) {
    HRESULT hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    ValueType type = valueType(token);
    if (type == ValueType::Unknown)
        return DISP_E_EXCEPTION;
    SkipSeparators();
    hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    LONG e = ERROR_SUCCESS;
    size_t length = std::strlen(token);
    switch (type) {
    case ValueType::String:
        e = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(token),
                           DWORD(length + 1));
        break;
    case ValueType::Dword: {
        std::u16string wide = to16(token);
        if (wide.empty() && length)
            return E_OUTOFMEMORY;
        ULONG number = 0;
        // Only the decimal text of an unsigned 32-bit number is a DWORD; anything
        // else is a syntax error, not a silently stored 0.
        if (!allDigits(token) || FAILED(VarUI4FromStr(wide.c_str(), 0, 0, &number)))
            return DISP_E_EXCEPTION;
        DWORD data = number;
        e = RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                           sizeof data);
        break;
    }
    case ValueType::Binary: {
        if (length % 2)
            return E_FAIL;
        std::string bytes(length / 2, '\0');
        for (size_t i = 0; i < length; ++i)
            bytes[i / 2] = char(bytes[i / 2] | (hexDigit(token[i]) << (i % 2 ? 0 : 4)));
        e = RegSetValueExA(key, valueName, 0, REG_BINARY,
                           reinterpret_cast<const BYTE*>(bytes.data()), DWORD(bytes.size()));
        break;
    }
    case ValueType::MultiString: {
        // Strings separated by the escape \0, each stored with its zero up to the
        // first empty one, then one more zero that closes the list.
        std::string data;
        const char* p = token;
        for (;;) {
            const char* start = p;
            while (*p && !(p[0] == '\\' && p[1] == '0'))
                p = IsDBCSLeadByte(BYTE(*p)) && p[1] ? p + 2 : CharNextA(p);
            if (p == start)
                break;
            data.append(start, p);
            data += '\0';
            if (!*p)
                break;
            p += 2;
        }
        data += '\0';
        e = RegSetValueExA(key, valueName, 0, REG_MULTI_SZ,
                           reinterpret_cast<const BYTE*>(data.data()), DWORD(data.size()));
        break;
    }
    case ValueType::Unknown:
        break;
    }
    if (e != ERROR_SUCCESS)
        return fromError(e);
    return ReadToken(token);
}

HRESULT CRegObject::WalkBlock(char* token, HKEY parent, bool doRegister, bool recovering) {
    KeyHandle current;
    HRESULT hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    while (token[0] != '}') {
        bool mayDelete = true;
        bool checkBlock = false; // continue at the block check (registration)
        if (is(token, "ForceRemove") || is(token, "Delete")) {
            bool isDelete = is(token, "Delete");
            hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
            if (doRegister) {
                if (std::strchr(token, '\\'))
                    return DISP_E_EXCEPTION;
                if (!IsProtectedKeyName(token))
                    (void)DeleteKeyTree(parent, token);
                if (isDelete) {
                    hr = ReadToken(token);
                    if (SUCCEEDED(hr))
                        hr = SkipValue(token);
                    if (FAILED(hr))
                        return hr;
                    checkBlock = true;
                }
            }
        }
        if (!checkBlock && is(token, "NoRemove")) {
            mayDelete = false;
            hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
        }
        if (!checkBlock && is(token, "Val")) {
            hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
            if (std::strlen(token) >= kNameBufferSize)
                return DISP_E_EXCEPTION;
            char valueName[kNameBufferSize];
            std::strcpy(valueName, token);
            hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
            if (token[0] != '=')
                return DISP_E_EXCEPTION;
            if (doRegister) {
                hr = StoreValue(parent, valueName, token);
                if (FAILED(hr))
                    return hr;
                checkBlock = true;
            } else {
                if (!recovering && mayDelete) {
                    KeyHandle writable;
                    LONG e = RegOpenKeyExA(parent, nullptr, 0, KEY_WRITE, writable.put());
                    if (e != ERROR_SUCCESS)
                        return fromError(e);
                    e = RegDeleteValueA(writable.get(), valueName);
                    if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND)
                        return fromError(e);
                }
                hr = SkipValue(token);
                if (FAILED(hr))
                    return hr;
                continue;
            }
        }
        if (!checkBlock && std::strchr(token, '\\'))
            return DISP_E_EXCEPTION;

        if (doRegister) {
            if (!checkBlock) {
                if (RegOpenKeyExA(parent, token, 0, kReadWrite, current.put()) != ERROR_SUCCESS &&
                    RegOpenKeyExA(parent, token, 0, KEY_READ, current.put()) != ERROR_SUCCESS) {
                    LONG e = RegCreateKeyExA(parent, token, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                             kReadWrite, nullptr, current.put(), nullptr);
                    if (e != ERROR_SUCCESS)
                        return fromError(e);
                }
                hr = ReadToken(token);
                if (FAILED(hr))
                    return hr;
                if (token[0] == '=') {
                    hr = StoreValue(current.get(), nullptr, token);
                    if (FAILED(hr))
                        return hr;
                }
            }
            if (std::strcmp(token, "{") == 0) {
                hr = WalkBlock(token, current.get(), true, false);
                if (FAILED(hr))
                    return hr;
                hr = ReadToken(token);
                if (FAILED(hr))
                    return hr;
            }
            continue;
        }

        // Unregistration of a key statement.
        KeyHandle key;
        LONG openError = ERROR_FILE_NOT_FOUND;
        bool keyRecovering = recovering;
        if (!recovering) {
            openError = RegOpenKeyExA(parent, token, 0, KEY_READ, key.put());
            if (openError != ERROR_SUCCESS)
                keyRecovering = true;
        }
        char keyName[kNameBufferSize];
        std::strncpy(keyName, token, kNameBufferSize - 1);
        keyName[kNameBufferSize - 1] = 0;
        hr = ReadToken(token);
        if (SUCCEEDED(hr))
            hr = SkipValue(token);
        if (FAILED(hr))
            return hr;
        if (token[0] == '{') {
            hr = WalkBlock(token, key.get(), false, keyRecovering);
            if (FAILED(hr) && !keyRecovering)
                return hr;
            hr = ReadToken(token);
            if (FAILED(hr))
                return hr;
        }
        if (recovering || openError == ERROR_FILE_NOT_FOUND)
            continue;
        if (openError != ERROR_SUCCESS)
            return fromError(openError);
        LONG e = key.close();
        if (e != ERROR_SUCCESS)
            return fromError(e);
        if (mayDelete) {
            e = RegDeleteKeyA(parent, keyName);
            if (e != ERROR_SUCCESS)
                return fromError(e);
        }
    }
    return S_OK;
}

HRESULT CRegObject::RunScript(LPCSTR text, bool doRegister) {
    char* expanded = nullptr;
    HRESULT hr = ExpandVariables(text, &expanded);
    if (FAILED(hr))
        return hr;
    std::unique_ptr<char[]> owner(expanded);
    auto token = std::make_unique<char[]>(kTokenBufferSize);
    m_cursor = expanded;
    while (*m_cursor) {
        hr = ReadToken(token.get());
        if (FAILED(hr))
            break;
        HKEY root = nullptr;
        for (const RootKey& r : kRootKeys)
            if (!root && lstrcmpiA(token.get(), r.name) == 0)
                root = r.key;
        if (!root) {
            hr = DISP_E_EXCEPTION;
            break;
        }
        hr = ReadToken(token.get());
        if (FAILED(hr))
            break;
        if (token[0] != '{') {
            hr = DISP_E_EXCEPTION;
            break;
        }
        if (doRegister) {
            const char* mark = m_cursor;
            hr = WalkBlock(token.get(), root, true, false);
            if (FAILED(hr)) {
                m_cursor = mark;
                (void)WalkBlock(token.get(), root, false, false);
                break;
            }
        } else {
            hr = WalkBlock(token.get(), root, false, false);
            if (FAILED(hr))
                break;
        }
        SkipSeparators();
    }
    m_cursor = nullptr;
    return hr;
}

} // namespace orvik
