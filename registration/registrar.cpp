// registration/registrar.cpp: walking registration scripts
//
// Scripts are read with CharNextA so that a multi-byte character is always taken
// whole. A statement's head (prefix, NoRemove, "Val" and the name) is read into a
// small record before anything is done for it; registration and unregistration are
// then two loops over statements, each keeping its own stack of open blocks instead
// of recursing, so no nesting can exhaust the call stack. Every key handle a walk
// opens is held by a RegKey and closed when its block ends, on success and on
// failure. Registry errors become result codes by HRESULT_FROM_WIN32; every syntax
// error is DISP_E_EXCEPTION, and says where and why through the thread's error
// information (script_text.cpp keeps the text, its variables and the positions).

#include "registration/registrar.h"

#include "orvik/platform/ref.h"
#include "orvik/platform/registry_helpers.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

namespace orvik {

namespace {

constexpr REGSAM kReadWrite = KEY_READ | KEY_WRITE;

const char* const kProtectedKeyNames[] = {"AppID",    "CLSID",     "Component Categories",
                                          "FileType", "Interface", "Hardware",
                                          "Mime",     "SAM",       "SECURITY",
                                          "SYSTEM",   "Software",  "TypeLib"};

bool is(LPCSTR token, LPCSTR keyword) {
    return lstrcmpiA(token, keyword) == 0;
}
HRESULT fromError(LONG e) {
    return HRESULT_FROM_WIN32(e);
}

std::u16string to16(LPCSTR text) {
    std::u16string out;
    return ToWide(text, out) ? out : std::u16string();
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

// A key name must be one non-empty name: an empty one would name the parent key
// itself, a backslash would reach below it.
bool isSingleKeyName(LPCSTR name) {
    return *name && !std::strchr(name, '\\');
}

bool allDigits(LPCSTR text) {
    if (!*text)
        return false;
    for (; *text; ++text)
        if (*text < '0' || *text > '9')
            return false;
    return true;
}

// Why a name cannot be one key's name.
std::string keyNameProblem(LPCSTR name) {
    if (!*name)
        return "key name is empty";
    return "key name '" + std::string(name) + "' contains a backslash";
}

} // namespace

CRegObject::~CRegObject() {
    ClearVariables();
}

void CRegObject::SkipSeparators() {
    while (*m_cursor && IsSeparator(*m_cursor))
        m_cursor = CharNextA(m_cursor);
}

HRESULT CRegObject::ReadToken(char* token) {
    SkipSeparators();
    m_tokenStart = m_cursor;
    if (!*m_cursor)
        return Fail(m_endOfText);
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
                return Fail(tokenTooLong());
        }
        if (!*m_cursor)
            return Fail("quoted text without its closing quote");
        *write = 0;
        ++m_cursor;
        return S_OK;
    }
    while (*m_cursor && !IsSeparator(*m_cursor))
        if (!copyCharacter())
            return Fail(tokenTooLong());
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
    return regDeleteTree(parent, name);
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

namespace {

// One encoder per value type: each turns the value token into the bytes stored, or
// gives the failure the token deserves.
using Encoded = std::pair<DWORD, std::string>;

HRESULT encodeString(LPCSTR text, Encoded& out) {
    out = {REG_SZ, std::string(text, std::strlen(text) + 1)};
    return S_OK;
}

HRESULT encodeDword(LPCSTR text, Encoded& out) {
    std::u16string wide = to16(text);
    if (wide.empty() && *text)
        return E_OUTOFMEMORY;
    ULONG number = 0;
    // Only the decimal text of an unsigned 32-bit number is a DWORD; anything else is
    // a syntax error, not a silently stored 0.
    if (!allDigits(text) || FAILED(VarUI4FromStr(wide.c_str(), 0, 0, &number)))
        return DISP_E_EXCEPTION;
    DWORD data = number;
    out = {REG_DWORD, std::string(reinterpret_cast<const char*>(&data), sizeof data)};
    return S_OK;
}

// Two digits a byte, the first the high half; a character that is no hex digit
// counts as 0.
HRESULT encodeBinary(LPCSTR text, Encoded& out) {
    size_t length = std::strlen(text);
    if (length % 2)
        return E_FAIL;
    std::string bytes(length / 2, '\0');
    for (size_t i = 0; i < length; ++i)
        bytes[i / 2] = char(bytes[i / 2] | (hexDigit(text[i]) << (i % 2 ? 0 : 4)));
    out = {REG_BINARY, std::move(bytes)};
    return S_OK;
}

// Strings separated by the escape \0, each stored with its zero up to the first
// empty one, then one more zero that closes the list. A lead byte takes its trail
// byte along, so a trail byte never starts an escape.
HRESULT encodeMultiString(LPCSTR text, Encoded& out) {
    std::string data;
    const char* p = text;
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
    out = {REG_MULTI_SZ, std::move(data)};
    return S_OK;
}

HRESULT (*encoderFor(LPCSTR typeToken))(LPCSTR, Encoded&) {
    static const struct {
        const char* name;
        HRESULT (*encode)(LPCSTR, Encoded&);
    } kTypes[] = {
        {"S", encodeString}, {"M", encodeMultiString}, {"D", encodeDword}, {"B", encodeBinary}};
    for (const auto& t : kTypes)
        if (lstrcmpiA(typeToken, t.name) == 0)
            return t.encode;
    return nullptr;
}

} // namespace

HRESULT CRegObject::StoreValue(HKEY key, LPCSTR valueName, char* token, bool dryRun) {
    HRESULT hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    auto encode = encoderFor(token);
    if (!encode)
        return Fail("unknown value type '" + std::string(token) + "' (expected s, m, d or b)");
    SkipSeparators();
    hr = ReadToken(token);
    if (FAILED(hr))
        return hr;
    Encoded value;
    hr = encode(token, value);
    if (hr == DISP_E_EXCEPTION)
        return Fail("not a DWORD: '" + std::string(token) + "'");
    if (hr == E_FAIL)
        return Fail("binary value with an odd number of hex digits", hr);
    if (FAILED(hr))
        return hr;
    if (!dryRun) {
        LONG e = RegSetValueExA(key, valueName, 0, value.first,
                                reinterpret_cast<const BYTE*>(value.second.data()),
                                DWORD(value.second.size()));
        if (e != ERROR_SUCCESS)
            return fromError(e);
    }
    return ReadToken(token);
}

// The head of one statement: what comes before its value or block.
struct CRegObject::Statement {
    enum class Kind { Key, Value, DeleteOnly };
    enum class Prefix { None, ForceRemove, Delete };
    Kind kind = Kind::Key;
    Prefix prefix = Prefix::None;
    std::string prefixName; // the name ForceRemove or Delete applies to
    bool mayDelete = true;  // cleared by NoRemove
    std::string name;       // the key's or the value's name
};

// Reads a statement's head, starting from the token in token. On return token holds
// the key name (Key), the token that starts with '=' (Value) or the deleted name
// (DeleteOnly, registration only).
HRESULT CRegObject::ReadStatement(char* token, bool doRegister, Statement& statement) {
    statement = Statement();
    HRESULT hr = S_OK;
    if (is(token, "ForceRemove") || is(token, "Delete")) {
        statement.prefix =
            is(token, "Delete") ? Statement::Prefix::Delete : Statement::Prefix::ForceRemove;
        if (FAILED(hr = ReadToken(token)))
            return hr;
        statement.prefixName = token;
        if (doRegister) {
            if (!isSingleKeyName(token))
                return Fail(keyNameProblem(token));
            if (statement.prefix == Statement::Prefix::Delete) {
                statement.kind = Statement::Kind::DeleteOnly;
                return S_OK;
            }
        }
        // In unregistration the prefix changes nothing: the name token goes on as
        // the rest of the statement.
    }
    if (is(token, "NoRemove")) {
        statement.mayDelete = false;
        if (FAILED(hr = ReadToken(token)))
            return hr;
    }
    if (is(token, "Val")) {
        statement.kind = Statement::Kind::Value;
        if (FAILED(hr = ReadToken(token)))
            return hr;
        if (std::strlen(token) >= kNameBufferSize)
            return Fail("value name longer than " + std::to_string(kNameBufferSize - 1) + " bytes");
        statement.name = token;
        if (FAILED(hr = ReadToken(token)))
            return hr;
        return token[0] == '=' ? S_OK
                               : Fail("expected '=' after value name '" + statement.name + "'");
    }
    if (!isSingleKeyName(token))
        return Fail(keyNameProblem(token));
    statement.name = token;
    return S_OK;
}

// An open block of the registration walk: its parent key and the current key, the
// one the most recent key statement opened.
struct CRegObject::RegisterLevel {
    HKEY parent = nullptr;
    RegKey current;
};

HRESULT CRegObject::RegisterStatement(char* token, std::vector<RegisterLevel>& levels,
                                      bool dryRun) {
    Statement statement;
    HRESULT hr = ReadStatement(token, true, statement);
    if (FAILED(hr))
        return hr;
    RegisterLevel& level = levels.back();
    // What ForceRemove and Delete name is wiped first; a failure here is no failure
    // of the script (the key may simply not be there).
    if (statement.prefix != Statement::Prefix::None && !dryRun &&
        !IsProtectedKeyName(statement.prefixName.c_str()))
        (void)DeleteKeyTree(level.parent, statement.prefixName.c_str());

    switch (statement.kind) {
    case Statement::Kind::DeleteOnly:
        if (FAILED(hr = ReadToken(token)) || FAILED(hr = SkipValue(token)))
            return hr;
        break;
    case Statement::Kind::Value:
        if (FAILED(hr = StoreValue(level.parent, statement.name.c_str(), token, dryRun)))
            return hr;
        break;
    case Statement::Kind::Key:
        if (!dryRun) {
            const char* name = statement.name.c_str();
            if (RegOpenKeyExA(level.parent, name, 0, kReadWrite, level.current.put()) !=
                    ERROR_SUCCESS &&
                RegOpenKeyExA(level.parent, name, 0, KEY_READ, level.current.put()) !=
                    ERROR_SUCCESS) {
                LONG e = RegCreateKeyExA(level.parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                         kReadWrite, nullptr, level.current.put(), nullptr);
                if (e != ERROR_SUCCESS)
                    return fromError(e);
            }
        }
        if (FAILED(hr = ReadToken(token)))
            return hr;
        if (token[0] == '=' && FAILED(hr = StoreValue(level.current.get(), nullptr, token, dryRun)))
            return hr;
        break;
    }
    // A block after the statement belongs to the current key.
    if (std::strcmp(token, "{") != 0)
        return S_OK;
    if (levels.size() >= kMaxBlockDepth) {
        m_tooDeep = true;
        return Fail("nesting deeper than " + std::to_string(kMaxBlockDepth));
    }
    HKEY blockParent = level.current.get();
    levels.push_back({blockParent, RegKey()});
    return ReadToken(token);
}

HRESULT CRegObject::RegisterBlock(char* token, HKEY root, bool dryRun) {
    m_endOfText = kBlockNotClosed;
    std::vector<RegisterLevel> levels;
    levels.push_back({root, RegKey()});
    HRESULT hr = ReadToken(token);
    while (SUCCEEDED(hr)) {
        if (token[0] != '}') {
            hr = RegisterStatement(token, levels, dryRun);
            continue;
        }
        levels.pop_back();
        if (levels.empty())
            return S_OK;
        hr = ReadToken(token); // the token after the block
    }
    return hr;
}

// An open block of the unregistration walk. Besides the block's parent key it holds
// the key statement the block belongs to, which is finished (closed, and deleted
// where allowed) once the block is done.
struct CRegObject::UnregisterLevel {
    HKEY parent = nullptr;   // the key the block's statements are under
    bool recovering = false; // nothing under parent is opened, changed or deleted
    RegKey key;              // the owning key statement's key, when it could be opened
    std::string keyName;     // its name, at most kNameBufferSize - 1 bytes
    bool mayDelete = true;
    LONG openError = ERROR_FILE_NOT_FOUND;
};

// A key statement done with: errors while opening it count now, then it is closed and,
// unless NoRemove, deleted under the level it was named in.
HRESULT CRegObject::FinishKey(const UnregisterLevel& level, UnregisterLevel& key) {
    if (level.recovering || key.openError == ERROR_FILE_NOT_FOUND)
        return S_OK;
    if (key.openError != ERROR_SUCCESS)
        return fromError(key.openError);
    LONG e = key.key.close();
    if (e != ERROR_SUCCESS)
        return fromError(e);
    if (key.mayDelete && (e = RegDeleteKeyA(level.parent, key.keyName.c_str())) != ERROR_SUCCESS)
        return fromError(e);
    return S_OK;
}

HRESULT CRegObject::UnregisterStatement(char* token, std::vector<UnregisterLevel>& levels) {
    Statement statement;
    HRESULT hr = ReadStatement(token, false, statement);
    if (FAILED(hr))
        return hr;
    UnregisterLevel& level = levels.back();
    if (statement.kind == Statement::Kind::Value) {
        if (!level.recovering && statement.mayDelete) {
            RegKey writable;
            LONG e = RegOpenKeyExA(level.parent, nullptr, 0, KEY_WRITE, writable.put());
            if (e != ERROR_SUCCESS)
                return fromError(e);
            e = RegDeleteValueA(writable.get(), statement.name.c_str());
            if (e != ERROR_SUCCESS && e != ERROR_FILE_NOT_FOUND)
                return fromError(e);
        }
        return SkipValue(token);
    }

    UnregisterLevel key;
    key.keyName = statement.name.substr(0, kNameBufferSize - 1);
    key.mayDelete = statement.mayDelete;
    key.recovering = level.recovering;
    if (!level.recovering) {
        key.openError =
            RegOpenKeyExA(level.parent, statement.name.c_str(), 0, KEY_READ, key.key.put());
        key.recovering = key.openError != ERROR_SUCCESS;
    }
    if (FAILED(hr = ReadToken(token)) || FAILED(hr = SkipValue(token)))
        return hr;
    if (token[0] != '{')
        return FinishKey(level, key);
    if (levels.size() >= kMaxBlockDepth) {
        m_tooDeep = true;
        return Fail("nesting deeper than " + std::to_string(kMaxBlockDepth));
    }
    key.parent = key.key.get();
    levels.push_back(std::move(key));
    return ReadToken(token); // the block's first token
}

HRESULT CRegObject::UnregisterBlock(char* token, HKEY root, bool dryRun) {
    m_endOfText = kBlockNotClosed;
    std::vector<UnregisterLevel> levels;
    UnregisterLevel top;
    top.parent = root;
    top.recovering = dryRun; // a dry run only reads: everything is passed over
    levels.push_back(std::move(top));
    HRESULT hr = ReadToken(token);
    for (;;) {
        if (m_tooDeep)
            return DISP_E_EXCEPTION;
        if (SUCCEEDED(hr) && token[0] != '}') {
            hr = UnregisterStatement(token, levels);
            continue;
        }
        // The innermost block is done, with '}' or with a failure.
        UnregisterLevel done = std::move(levels.back());
        levels.pop_back();
        if (levels.empty())
            return hr;
        // A failure inside a key that could not be opened is not reported; any other
        // failure ends the enclosing block as well.
        if (FAILED(hr) && !done.recovering)
            continue;
        hr = ReadToken(token); // the token after the block
        if (SUCCEEDED(hr))
            hr = FinishKey(levels.back(), done);
    }
}

HRESULT CRegObject::RunSections(bool doRegister, bool dryRun) {
    auto token = std::make_unique<char[]>(kTokenBufferSize);
    HRESULT hr = S_OK;
    while (*m_cursor) {
        m_endOfText = "unexpected end of file";
        if (FAILED(hr = ReadToken(token.get())))
            return hr;
        const RegRootName* root = findRegRoot(token.get());
        if (!root)
            return Fail("unknown root key '" + std::string(token.get()) + "'");
        std::string rootName = token.get();
        m_endOfText = "expected '{' before end of file";
        if (FAILED(hr = ReadToken(token.get())))
            return hr;
        if (token[0] != '{')
            return Fail("expected '{' after '" + rootName + "'");
        const char* mark = m_cursor;
        hr = doRegister ? RegisterBlock(token.get(), root->key, dryRun)
                        : UnregisterBlock(token.get(), root->key, dryRun);
        if (FAILED(hr)) {
            if (doRegister && !dryRun && !m_tooDeep) {
                // What the failed section wrote is walked back; what the walk back
                // meets is no reason of this failure.
                bool failed = m_failed;
                m_cursor = mark;
                (void)UnregisterBlock(token.get(), root->key, false);
                m_failed = failed;
            }
            return hr;
        }
        SkipSeparators();
    }
    return hr;
}

HRESULT CRegObject::RunScriptResource(LPCOLESTR moduleFile, WORD resourceId, LPCOLESTR resourceType,
                                      bool doRegister) {
    return RunResource(moduleFile, MAKEINTRESOURCEA(resourceId), resourceType, doRegister);
}

HRESULT CRegObject::RunScriptResource(LPCOLESTR moduleFile, LPCOLESTR resourceName,
                                      LPCOLESTR resourceType, bool doRegister) {
    std::string name;
    if (!resourceName || !ToNarrow(resourceName, name))
        return E_OUTOFMEMORY;
    return RunResource(moduleFile, name.c_str(), resourceType, doRegister);
}

HRESULT CRegObject::RunResource(LPCOLESTR moduleFile, LPCSTR resourceName, LPCOLESTR resourceType,
                                bool doRegister) {
    std::string type, path;
    if (!moduleFile || !resourceType || !ToNarrow(resourceType, type) ||
        !ToNarrow(moduleFile, path))
        return E_OUTOFMEMORY;
    HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!module)
        return HRESULT_FROM_WIN32(long(GetLastError()));
    struct Loaded {
        HMODULE module;
        ~Loaded() { FreeLibrary(module); }
    } loaded{module};
    HRSRC found = FindResourceA(module, resourceName, type.c_str());
    HGLOBAL data = found ? LoadResource(module, found) : nullptr;
    if (!data)
        return HRESULT_FROM_WIN32(long(GetLastError()));
    std::string scriptName =
        path + "(" + type + " " +
        (IS_INTRESOURCE(resourceName) ? std::to_string(reinterpret_cast<ULONG_PTR>(resourceName))
                                      : std::string(resourceName)) +
        ")";
    // The text ends at its first zero byte, or at the resource's end.
    DWORD size = SizeofResource(module, found);
    std::unique_ptr<char[]> text(new (std::nothrow) char[size_t(size) + 1]);
    if (!text)
        return E_OUTOFMEMORY;
    std::memcpy(text.get(), LockResource(data), size);
    text[size] = '\0';
    return RunScript(text.get(), doRegister, scriptName.c_str());
}

HRESULT CRegObject::RunScript(LPCSTR text, bool doRegister, LPCSTR scriptName) try {
    SetErrorInfo(0, nullptr);
    if (!text)
        return E_POINTER;
    m_failed = false;
    std::string expanded;
    HRESULT hr = CheckText(text);
    if (SUCCEEDED(hr))
        hr = Expand(text, expanded);
    if (SUCCEEDED(hr)) {
        // A first pass only reads, so that a script nested deeper than any key may be
        // is refused before anything is written. Other failures are left to the real
        // walk, which meets them at the same place and walks back what it wrote.
        m_tooDeep = false;
        m_expanded = m_cursor = expanded.c_str();
        hr = RunSections(doRegister, true);
        if (!m_tooDeep) {
            m_failed = false;
            m_cursor = expanded.c_str();
            hr = RunSections(doRegister, false);
        }
        m_expanded = m_cursor = m_tokenStart = nullptr;
    }
    if (FAILED(hr) && m_failed)
        PublishFailure(text, scriptName ? scriptName : "<script>");
    return hr;
} catch (const std::bad_alloc&) {
    m_expanded = m_cursor = m_tokenStart = nullptr;
    return E_OUTOFMEMORY;
}

} // namespace orvik
