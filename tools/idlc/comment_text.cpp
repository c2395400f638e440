// tools/idlc/comment_text.cpp: escaping text for generated comments

#include "comment_text.h"

#include <cstdio>

namespace orvik::idl {

std::string commentText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        char next = i + 1 < text.size() ? text[i + 1] : '\0';
        if (c == '*' && next == '/') {
            out += "*\\/";
            ++i;
        } else if (c == '?' && next == '?') {
            out += "?\\?";
            ++i;
        } else if (c == '\\') {
            out += "\\x5C";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\r') {
            out += "\\r";
        } else if (c == '\t') {
            out += "\\t";
        } else if (c < 0x20 || c == 0x7F) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out;
}

} // namespace orvik::idl
