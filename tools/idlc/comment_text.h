// tools/idlc/comment_text.h: text from a definition made safe inside a generated
// comment
//
// Help strings, notes and file names reach the generated headers inside /* */ and
// // comments. Written raw, "*/" would end a block comment, a line break (or a
// backslash, or the trigraph ??/, at the end of a line) would end or extend a line
// comment, and what followed would become declarations.
#ifndef ORVIK_TOOLS_IDLC_COMMENT_TEXT_H
#define ORVIK_TOOLS_IDLC_COMMENT_TEXT_H

#include <string>
#include <string_view>

namespace orvik::idl {

/// text on one line that ends no comment: "*/" as "*\/", a backslash as "\x5C",
/// line breaks and other control characters as \n, \r, \t or \xHH, and "??" as
/// "?\?" so that no trigraph forms.
std::string commentText(std::string_view text);

} // namespace orvik::idl

#endif
