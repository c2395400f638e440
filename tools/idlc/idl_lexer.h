// tools/idlc/idl_lexer.h: tokens of the interface definition language
//
// The lexer knows one context rule of the language: the parenthesised argument of
// uuid(...) is a GUID, read as one token, since its digit groups would otherwise
// split into numbers and names.
#ifndef ORVIK_TOOLS_IDLC_IDL_LEXER_H
#define ORVIK_TOOLS_IDLC_IDL_LEXER_H

#include "idl_ast.h"

#include <string>
#include <string_view>

namespace orvik::idl {

enum class TokenKind { End, Identifier, Number, String, Guid, Punct, Error };

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text; // the identifier, number text, string value, GUID text or punctuation
    SourceLocation location;
};

class Lexer {
public:
    explicit Lexer(std::string_view source) : m_src(source) {}
    /// The next token; TokenKind::Error carries a message in text.
    Token next();

private:
    char peek(size_t ahead = 0) const {
        return m_pos + ahead < m_src.size() ? m_src[m_pos + ahead] : '\0';
    }
    void advance();
    bool skipSpaceAndComments(Token& error);
    Token lexGuid(SourceLocation at);
    Token lexString(SourceLocation at);
    Token lexNumber(SourceLocation at);

    std::string_view m_src;
    size_t m_pos = 0;
    int m_line = 1;
    int m_column = 1;
    std::string m_previous; // text of the previous token, for the uuid( rule
    bool m_guidNext = false;
};

} // namespace orvik::idl

#endif // ORVIK_TOOLS_IDLC_IDL_LEXER_H
