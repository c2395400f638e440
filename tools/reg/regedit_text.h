// tools/reg/regedit_text.h: registry keys and values as REGEDIT4 text
//
// The text regedit writes and reads: "REGEDIT4", then for each key a [ROOT\path]
// line followed by its values, one per line: "name"="text" (@ for the default
// value; \\ and \" escaped), "name"=dword:0000000a, "name"=hex:0a,ff for binary
// data, "name"=hex(N):.. for any other type N. A hex list may continue on the next
// line after a trailing backslash. [-ROOT\path] deletes a key and "name"=- a value.
//
// A string is written as text only when it reads back as the same bytes: one
// terminating NUL, no other NUL and no line break or other control character.
// Anything else is written as hex(1), so that no data can end its line early and be
// read as a forged key or value. Names have no such escape: a name holding a
// control character cannot be written.
#ifndef ORVIK_TOOLS_REG_REGEDIT_TEXT_H
#define ORVIK_TOOLS_REG_REGEDIT_TEXT_H

#include "orvik/platform.h"

#include <string>
#include <string_view>
#include <vector>

namespace orvik::regtext {

/// Whether a key or value name can stand in the text (no control character).
bool writableName(std::string_view name);

/// One value as a line, without its line break; its name must be writable.
std::string valueLine(const std::string& name, DWORD type, const std::vector<BYTE>& data);

struct Entry {
    enum Kind { Key, DeleteKey, Value, DeleteValue } kind;
    std::string key;  // ROOT\path as written
    std::string name; // the value's; empty for the default value
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

/// The entries of a REGEDIT4 text in order. False on the first line that is not
/// one, with its number (from 1) and what is wrong with it.
bool parse(std::string_view text, std::vector<Entry>& entries, size_t& errorLine, std::string& why);

} // namespace orvik::regtext

#endif
