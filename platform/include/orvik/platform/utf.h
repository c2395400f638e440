// orvik/platform/utf.h: UTF-8 and UTF-16 strings for C++ callers
//
// The platform's 8-bit code page is UTF-8 and its interfaces speak 16-bit text;
// these wrap MultiByteToWideChar and WideCharToMultiByte for std::string work.
// Malformed input yields std::nullopt rather than a guess.
#ifndef ORVIK_PLATFORM_UTF_H
#define ORVIK_PLATFORM_UTF_H

#include "orvik/platform/text.h"

#include <optional>
#include <string>
#include <string_view>

namespace orvik {

/// UTF-16 text as UTF-8, or nothing when it holds an unpaired surrogate.
inline std::optional<std::string> toUtf8(std::u16string_view text) {
    if (text.empty())
        return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr,
                                nullptr);
    if (n <= 0)
        return std::nullopt;
    std::string out(size_t(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n, nullptr, nullptr);
    return out;
}

/// UTF-8 text as UTF-16, or nothing when it is malformed.
inline std::optional<std::u16string> toUtf16(std::string_view text) {
    if (text.empty())
        return std::u16string();
    int n = MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0);
    if (n <= 0)
        return std::nullopt;
    std::u16string out(size_t(n), u'\0');
    MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), n);
    return out;
}

/// As toUtf8, with the empty string for malformed or null text.
inline std::string utf8Or(const char16_t* text) {
    return text ? toUtf8(text).value_or(std::string()) : std::string();
}

} // namespace orvik

#endif // ORVIK_PLATFORM_UTF_H
