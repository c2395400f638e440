// registration/script_text.cpp: the script as text: the conversion code page,
// variables and their expansion, and where and why a script failed
//
// Positions are those of the script as written: the walk runs over the expanded
// text, and each variable's substitution is kept to map back.

#include "registration/registrar.h"

#include "orvik/platform/ref.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace orvik {

namespace {

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

bool ToWide(LPCSTR text, std::u16string& out) {
    int n = MultiByteToWideChar(ConversionCodePage(), 0, text, -1, nullptr, 0);
    if (n <= 0)
        return false;
    out.assign(size_t(n), u'\0');
    if (MultiByteToWideChar(ConversionCodePage(), 0, text, -1, out.data(), n) != n)
        return false;
    out.pop_back();
    return true;
}

bool ToNarrow(LPCOLESTR text, std::string& out) {
    int n = WideCharToMultiByte(ConversionCodePage(), 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (n <= 0)
        return false;
    out.assign(size_t(n), '\0');
    WideCharToMultiByte(ConversionCodePage(), 0, text, -1, out.data(), n, nullptr, nullptr);
    out.pop_back();
    return true;
}

HRESULT STDMETHODCALLTYPE CRegObject::AddVariable(LPCOLESTR name, LPCOLESTR value) {
    if (!name || !value)
        return E_INVALIDARG;
    try {
        std::string narrow;
        if (!ToNarrow(name, narrow))
            return E_OUTOFMEMORY;
        m_variables.emplace_back(std::move(narrow), std::u16string(value));
        return S_OK;
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT STDMETHODCALLTYPE CRegObject::ClearVariables() {
    m_variables.clear();
    m_variables.shrink_to_fit();
    return S_OK;
}

HRESULT CRegObject::ExpandVariables(LPCSTR text, char** result) {
    if (!text || !result)
        return E_POINTER;
    *result = nullptr;
    m_failed = false;
    std::string out;
    HRESULT hr = Expand(text, out);
    if (FAILED(hr))
        return hr;
    char* copy = new (std::nothrow) char[out.size() + 1];
    if (!copy)
        return E_OUTOFMEMORY;
    std::memcpy(copy, out.c_str(), out.size() + 1);
    *result = copy;
    return S_OK;
}

HRESULT CRegObject::Expand(LPCSTR text, std::string& out) try {
    m_substitutions.clear();
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
        size_t at = size_t(p - text);
        if (!end)
            return FailAt(at, "'%' without a closing '%'");
        if (size_t(end - start) > kMaxVariableNameLength)
            return FailAt(at,
                          "variable name longer than " + std::to_string(kMaxVariableNameLength) +
                              " bytes",
                          E_FAIL);
        std::string name(start, end);
        auto found = std::find_if(m_variables.begin(), m_variables.end(), [&](const auto& v) {
            return lstrcmpiA(v.first.c_str(), name.c_str()) == 0;
        });
        if (found == m_variables.end())
            return FailAt(at, "unknown variable %" + name + "%");
        std::string value;
        if (!found->second.empty() && !ToNarrow(found->second.c_str(), value))
            return E_OUTOFMEMORY;
        m_substitutions.push_back(
            {out.size(), out.size() + value.size(), at, size_t(end + 1 - text)});
        out += value;
        p = end + 1;
    }
    return S_OK;
} catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
}

HRESULT CRegObject::FailAt(size_t originalOffset, std::string reason, HRESULT hr) {
    if (!m_failed) {
        m_failed = true;
        m_failureOffset = originalOffset;
        m_failureReason = std::move(reason);
    }
    return hr;
}

HRESULT CRegObject::Fail(const char* at, std::string reason, HRESULT hr) {
    size_t offset = size_t(at - m_expanded);
    // The last substitution that starts at or before the offset decides: inside
    // its value the position is the variable's own, after it the shift it made.
    auto after =
        std::upper_bound(m_substitutions.begin(), m_substitutions.end(), offset,
                         [](size_t x, const Substitution& s) { return x < s.expandedBegin; });
    if (after != m_substitutions.begin()) {
        const Substitution& s = *std::prev(after);
        offset =
            offset < s.expandedEnd ? s.originalBegin : s.originalEnd + (offset - s.expandedEnd);
    }
    return FailAt(offset, std::move(reason), hr);
}

// Text is what a script must be: characters of the conversion code page, and of the
// control characters only tab, carriage return and line feed.
HRESULT CRegObject::CheckText(LPCSTR text) {
    for (const char* p = text; *p;) {
        const char* next = CharNextA(p);
        auto byte = static_cast<unsigned char>(*p);
        bool valid = byte >= 0x80 ? MultiByteToWideChar(ConversionCodePage(), MB_ERR_INVALID_CHARS,
                                                        p, int(next - p), nullptr, 0) > 0
                                  : byte >= 0x20 || IsSeparator(*p);
        if (!valid) {
            char reason[64];
            std::snprintf(reason, sizeof reason, "not text: byte 0x%02X at offset %zu",
                          unsigned(byte), size_t(p - text));
            return FailAt(size_t(p - text), reason);
        }
        p = next;
    }
    return S_OK;
}

void CRegObject::PublishFailure(LPCSTR text, LPCSTR scriptName) const {
    size_t line = 1;
    const char* lineStart = text;
    const char* at = text + m_failureOffset;
    for (const char* p = text; p < at; ++p)
        if (*p == '\n') {
            ++line;
            lineStart = p + 1;
        }
    size_t column = 1;
    for (const char* p = lineStart; p < at; p = CharNextA(p))
        ++column;
    std::string description = std::string(scriptName) + ":" + std::to_string(line) + ":" +
                              std::to_string(column) + ": " + m_failureReason;
    // A name or a token quoted in the reason may not convert; its bytes are then
    // written as escapes so that the rest still reads.
    std::u16string wide;
    if (!ToWide(description.c_str(), wide)) {
        std::string escaped;
        for (unsigned char c : description) {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", unsigned(c));
            escaped += c < 0x80 ? std::string(1, char(c)) : std::string(hex);
        }
        ToWide(escaped.c_str(), wide);
    }
    Ref<ICreateErrorInfo> created;
    if (FAILED(CreateErrorInfo(created.put())))
        return;
    created->SetSource(const_cast<LPOLESTR>(u"Orvik.Registrar"));
    created->SetDescription(wide.data());
    Ref<IErrorInfo> info;
    if (SUCCEEDED(created->QueryInterface(IID_IErrorInfo, info.putVoid())))
        SetErrorInfo(0, info.get());
}

std::string CRegObject::tokenTooLong() {
    // A token keeps two bytes of its buffer free (its end and a trail byte).
    return "token longer than " + std::to_string(kTokenBufferSize - 2) + " bytes";
}

} // namespace orvik
