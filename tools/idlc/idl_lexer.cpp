// tools/idlc/idl_lexer.cpp: splitting the definition into tokens

#include "idl_lexer.h"

#include "orvik/platform/utf.h"

#include <cctype>
#include <cstdio>

namespace orvik::idl {

namespace {

// A character no token begins with, shown so that a terminal shows it: a printable
// one between quotes, any other byte by its value.
std::string unexpectedCharacter(char c) {
    auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F)
        return std::string("unexpected character '") + c + "'";
    char text[40];
    std::snprintf(text, sizeof text, "unexpected byte 0x%02X (not text)", unsigned(byte));
    return text;
}

bool isIdentStart(char c) {
    return std::isalpha(static_cast<unsigned char>(c)) || c == '_';
}
bool isIdentChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '_';
}

} // namespace

void Lexer::advance() {
    if (m_pos >= m_src.size())
        return;
    if (m_src[m_pos] == '\n') {
        ++m_line;
        m_column = 1;
    } else {
        ++m_column;
    }
    ++m_pos;
}

bool Lexer::skipSpaceAndComments(Token& error) {
    for (;;) {
        char c = peek();
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
            advance();
        } else if (c == '/' && peek(1) == '/') {
            while (peek() && peek() != '\n')
                advance();
        } else if (c == '/' && peek(1) == '*') {
            SourceLocation at{m_line, m_column};
            advance();
            advance();
            while (peek() && !(peek() == '*' && peek(1) == '/'))
                advance();
            if (!peek()) {
                error = {TokenKind::Error, "unterminated comment", at};
                return false;
            }
            advance();
            advance();
        } else {
            return true;
        }
    }
}

Token Lexer::lexGuid(SourceLocation at) {
    std::string text;
    while (peek() && peek() != ')' && peek() != '\n') {
        if (peek() != ' ' && peek() != '\t')
            text += peek();
        advance();
    }
    return {TokenKind::Guid, text, at};
}

Token Lexer::lexString(SourceLocation at) {
    advance(); // opening quote
    std::string value;
    for (;;) {
        char c = peek();
        if (c == '\0' || c == '\n')
            return {TokenKind::Error, "unterminated string", at};
        advance();
        if (c == '"') {
            // Libraries keep text as UTF-8, and their readers refuse anything else.
            if (!toUtf16(value))
                return {TokenKind::Error, "string is not valid UTF-8 text", at};
            return {TokenKind::String, value, at};
        }
        if (c == '\\') {
            char e = peek();
            advance();
            switch (e) {
            case 'n':
                value += '\n';
                break;
            case 't':
                value += '\t';
                break;
            case '\\':
            case '"':
                value += e;
                break;
            default:
                return {TokenKind::Error, std::string("unknown escape \\") + e, at};
            }
            continue;
        }
        value += c;
    }
}

Token Lexer::lexNumber(SourceLocation at) {
    std::string text;
    if (peek() == '0' && (peek(1) == 'x' || peek(1) == 'X')) {
        text += peek();
        advance();
        text += peek();
        advance();
        while (std::isxdigit(static_cast<unsigned char>(peek()))) {
            text += peek();
            advance();
        }
    } else {
        while (std::isdigit(static_cast<unsigned char>(peek())) || peek() == '.') {
            text += peek();
            advance();
        }
        if (peek() == 'e' || peek() == 'E') {
            text += peek();
            advance();
            if (peek() == '+' || peek() == '-') {
                text += peek();
                advance();
            }
            while (std::isdigit(static_cast<unsigned char>(peek()))) {
                text += peek();
                advance();
            }
        }
    }
    if (isIdentChar(peek()))
        return {TokenKind::Error, "malformed number", at};
    return {TokenKind::Number, text, at};
}

Token Lexer::next() {
    Token error;
    if (!skipSpaceAndComments(error))
        return error;
    SourceLocation at{m_line, m_column};
    if (m_guidNext) {
        m_guidNext = false;
        Token t = lexGuid(at);
        m_previous = t.text;
        return t;
    }
    char c = peek();
    Token t;
    if (c == '\0') {
        t = {TokenKind::End, "", at};
    } else if (isIdentStart(c)) {
        std::string text;
        while (isIdentChar(peek())) {
            text += peek();
            advance();
        }
        t = {TokenKind::Identifier, text, at};
    } else if (std::isdigit(static_cast<unsigned char>(c))) {
        t = lexNumber(at);
    } else if (c == '"') {
        t = lexString(at);
    } else if (std::string_view("[](){},;:*=-.").find(c) != std::string_view::npos) {
        advance();
        t = {TokenKind::Punct, std::string(1, c), at};
        if (c == '(' && m_previous == "uuid")
            m_guidNext = true;
    } else {
        advance();
        t = {TokenKind::Error, unexpectedCharacter(c), at};
    }
    m_previous = t.text;
    return t;
}

} // namespace orvik::idl
