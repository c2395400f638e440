// orvik/platform/utf.h: UTF-8 and UTF-16 strings for C++ callers
//
// The platform's 8-bit code page is UTF-8 and its interfaces speak 16-bit text;
// these wrap MultiByteToWideChar and WideCharToMultiByte for std::string work.
// Malformed input yields std::nullopt rather than a guess; running out of memory,
// in these functions or in the conversion they call, throws std::bad_alloc, so that
// it is never mistaken for malformed text.
#ifndef ORVIK_PLATFORM_UTF_H
#define ORVIK_PLATFORM_UTF_H

#include "orvik/platform/text.h"

#include "orvik/platform/last_error.h"

#include <new>
#include <optional>
#include <string>
#include <string_view>

namespace orvik {

/// The length a conversion gave, or nothing when the text is malformed.
inline std::optional<size_t> convertedLength(int n) {
    if (n > 0)
        return size_t(n);
    if (GetLastError() == ERROR_OUTOFMEMORY || GetLastError() == ERROR_NOT_ENOUGH_MEMORY)
        throw std::bad_alloc();
    return std::nullopt;
}

/// UTF-16 text as UTF-8, or nothing when it holds an unpaired surrogate.
inline std::optional<std::string> toUtf8(std::u16string_view text) {
    if (text.empty())
        return std::string();
    std::optional<size_t> n = convertedLength(WideCharToMultiByte(
        CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0, nullptr, nullptr));
    if (!n)
        return std::nullopt;
    std::string out(*n, '\0');
    if (!convertedLength(WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(),
                                             int(*n), nullptr, nullptr)))
        return std::nullopt;
    return out;
}

/// UTF-8 text as UTF-16, or nothing when it is malformed.
inline std::optional<std::u16string> toUtf16(std::string_view text) {
    // ASCII, most names' text, widens unit by unit without the conversion's two passes.
    bool ascii = true;
    for (char c : text)
        ascii = ascii && static_cast<unsigned char>(c) < 0x80;
    if (ascii)
        return std::u16string(text.begin(), text.end());
    std::optional<size_t> n =
        convertedLength(MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0));
    if (!n)
        return std::nullopt;
    std::u16string out(*n, u'\0');
    if (!convertedLength(
            MultiByteToWideChar(CP_UTF8, 0, text.data(), int(text.size()), out.data(), int(*n))))
        return std::nullopt;
    return out;
}

/// As toUtf8, with the empty string for malformed or null text.
inline std::string utf8Or(const char16_t* text) {
    return text ? toUtf8(text).value_or(std::string()) : std::string();
}

} // namespace orvik

#endif // ORVIK_PLATFORM_UTF_H
