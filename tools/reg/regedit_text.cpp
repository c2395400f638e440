// tools/reg/regedit_text.cpp: writing and reading REGEDIT4 text

#include "regedit_text.h"

#include <cctype>
#include <cstdio>
#include <cstring>

namespace orvik::regtext {

namespace {

bool isControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

std::string quoted(std::string_view s) {
    std::string out = "\"";
    for (char c : s) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

std::string hexBytes(const std::vector<BYTE>& data) {
    std::string out;
    char buf[4];
    for (size_t i = 0; i < data.size(); ++i) {
        std::snprintf(buf, sizeof buf, i ? ",%02x" : "%02x", data[i]);
        out += buf;
    }
    return out;
}

// The text of REG_SZ data that reads back as exactly these bytes, if there is one.
bool plainText(const std::vector<BYTE>& data, std::string& text) {
    if (data.empty() || data.back() != 0)
        return false;
    text.assign(data.begin(), data.end() - 1);
    for (char c : text)
        if (c == '\0' || isControl(c))
            return false;
    return true;
}

// A quoted string starting at s[at] (the opening quote); at moves past the closing one.
bool readQuoted(std::string_view s, size_t& at, std::string& out) {
    out.clear();
    for (++at; at < s.size(); ++at) {
        char c = s[at];
        if (c == '"') {
            ++at;
            return true;
        }
        if (c == '\\') {
            if (++at == s.size())
                return false;
            c = s[at];
        }
        out += c;
    }
    return false;
}

bool readHexList(std::string_view s, std::vector<BYTE>& out) {
    out.clear();
    size_t at = 0;
    while (at < s.size()) {
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t'))
            ++at;
        if (at == s.size())
            break;
        unsigned value = 0;
        int digits = 0;
        for (; at < s.size() && std::isxdigit(static_cast<unsigned char>(s[at])) && digits < 2;
             ++at, ++digits)
            value = value * 16 + unsigned(std::isdigit(static_cast<unsigned char>(s[at]))
                                              ? s[at] - '0'
                                              : (s[at] | 0x20) - 'a' + 10);
        if (digits == 0)
            return false;
        out.push_back(BYTE(value));
        while (at < s.size() && (s[at] == ' ' || s[at] == '\t'))
            ++at;
        if (at < s.size() && s[at++] != ',')
            return false;
    }
    return true;
}

bool readData(std::string_view s, Entry& e, std::string& why) {
    if (s == "-") {
        e.kind = Entry::DeleteValue;
        return true;
    }
    if (!s.empty() && s[0] == '"') {
        size_t at = 0;
        std::string text;
        if (!readQuoted(s, at, text) || at != s.size()) {
            why = "a string value must be one quoted string";
            return false;
        }
        e.type = REG_SZ;
        e.data.assign(text.begin(), text.end());
        e.data.push_back(0);
        return true;
    }
    if (s.rfind("dword:", 0) == 0) {
        std::string_view digits = s.substr(6);
        if (digits.size() != 8 ||
            digits.find_first_not_of("0123456789abcdefABCDEF") != std::string_view::npos) {
            why = "dword: needs eight hexadecimal digits";
            return false;
        }
        DWORD v = DWORD(std::strtoul(std::string(digits).c_str(), nullptr, 16));
        e.type = REG_DWORD;
        e.data.resize(4);
        std::memcpy(e.data.data(), &v, 4);
        return true;
    }
    std::string_view list;
    if (s.rfind("hex:", 0) == 0) {
        e.type = REG_BINARY;
        list = s.substr(4);
    } else if (s.rfind("hex(", 0) == 0 && s.find("):") != std::string_view::npos) {
        size_t close = s.find("):");
        std::string number(s.substr(4, close - 4));
        char* end = nullptr;
        unsigned long type = std::strtoul(number.c_str(), &end, 16);
        if (number.empty() || *end || type > 0xFFFFFFFFul) {
            why = "hex( needs a hexadecimal type number";
            return false;
        }
        e.type = DWORD(type);
        list = s.substr(close + 2);
    } else {
        why = "unknown kind of value";
        return false;
    }
    if (!readHexList(list, e.data)) {
        why = "a hex list is two-digit bytes separated by commas";
        return false;
    }
    return true;
}

} // namespace

bool writableName(std::string_view name) {
    for (char c : name)
        if (isControl(c))
            return false;
    return true;
}

std::string valueLine(const std::string& name, DWORD type, const std::vector<BYTE>& data) {
    std::string line = name.empty() ? "@=" : quoted(name) + "=";
    std::string text;
    if (type == REG_SZ && plainText(data, text))
        return line + quoted(text);
    if (type == REG_DWORD && data.size() == 4) {
        char buf[16];
        DWORD v = 0;
        std::memcpy(&v, data.data(), 4);
        std::snprintf(buf, sizeof buf, "dword:%08x", unsigned(v));
        return line + buf;
    }
    if (type == REG_BINARY)
        return line + "hex:" + hexBytes(data);
    char kind[24];
    std::snprintf(kind, sizeof kind, "hex(%x):", unsigned(type));
    return line + kind + hexBytes(data);
}

bool parse(std::string_view text, std::vector<Entry>& entries, size_t& errorLine,
           std::string& why) {
    std::string currentKey;
    bool haveKey = false, sawHeader = false;
    size_t lineNumber = 0, at = 0;
    while (at < text.size()) {
        // One logical line: a trailing backslash joins the next physical line.
        std::string line;
        size_t first = lineNumber + 1;
        for (;;) {
            size_t end = text.find('\n', at);
            std::string_view physical =
                text.substr(at, end == std::string_view::npos ? std::string_view::npos : end - at);
            at = end == std::string_view::npos ? text.size() : end + 1;
            ++lineNumber;
            if (!physical.empty() && physical.back() == '\r')
                physical.remove_suffix(1);
            if (!physical.empty() && physical.back() == '\\' && at < text.size()) {
                line += physical.substr(0, physical.size() - 1);
                continue;
            }
            line += physical;
            break;
        }
        errorLine = first;
        size_t lead = line.find_first_not_of(" \t");
        if (lead == std::string::npos || line[lead] == ';')
            continue;
        line.erase(0, lead);
        if (!sawHeader) {
            if (line != "REGEDIT4") {
                why = "the text must begin with REGEDIT4";
                return false;
            }
            sawHeader = true;
            continue;
        }
        if (line[0] == '[') {
            size_t close = line.find_last_of(']');
            if (close == std::string::npos || close < 2) {
                why = "a key line is [ROOT\\path]";
                return false;
            }
            bool remove = line[1] == '-';
            currentKey = line.substr(remove ? 2 : 1, close - (remove ? 2 : 1));
            haveKey = !remove;
            entries.push_back(
                {remove ? Entry::DeleteKey : Entry::Key, currentKey, "", REG_NONE, {}});
            continue;
        }
        if (!haveKey) {
            why = "a value before any key";
            return false;
        }
        Entry e{Entry::Value, currentKey, "", REG_NONE, {}};
        size_t pos = 0;
        if (line[0] == '@') {
            pos = 1;
        } else if (line[0] != '"' || !readQuoted(line, pos, e.name)) {
            why = "a value line is \"name\"=data or @=data";
            return false;
        }
        if (pos >= line.size() || line[pos] != '=') {
            why = "expected = after the value's name";
            return false;
        }
        if (!readData(std::string_view(line).substr(pos + 1), e, why))
            return false;
        entries.push_back(std::move(e));
    }
    if (!sawHeader) {
        errorLine = lineNumber ? lineNumber : 1;
        why = "the text must begin with REGEDIT4";
        return false;
    }
    return true;
}

} // namespace orvik::regtext
