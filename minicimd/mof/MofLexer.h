// Tokens of the MOF language.  Keywords are not tokens of their own: MOF lets
// most of them be element names too ("Scope", "Flavor"), so the parser decides
// by context and the lexer hands out identifiers.
#ifndef MINICIMD_MOF_MOFLEXER_H
#define MINICIMD_MOF_MOFLEXER_H

#include "MofAst.h"

#include <stdexcept>
#include <string>

namespace minicimd {
namespace mof {

// Every compiler failure: the text of what() starts with "file:line:column: ".
class MofError : public std::runtime_error {
public:
    MofError(const SourcePos& pos, const std::string& message)
        : std::runtime_error(pos.toString() + ": " + message), pos_(pos), message_(message)
    {}
    const SourcePos& pos() const { return pos_; }
    const std::string& message() const { return message_; }

private:
    SourcePos pos_;
    std::string message_;
};

enum class TokenKind {
    End,
    Identifier,
    Integer,
    Real,
    String,
    Char16,
    Alias,
    Pragma,
    LBrace,
    RBrace,
    LParen,
    RParen,
    LBracket,
    RBracket,
    Semicolon,
    Comma,
    Colon,
    Equals
};

struct Token {
    TokenKind kind = TokenKind::End;
    std::string text;       // identifier, string contents (UTF-8), alias name
    bool negative = false;  // integers
    uint64_t magnitude = 0;
    double real = 0.0;
    uint16_t char16 = 0;
    SourcePos pos;
    std::string describe() const;  // for error messages
};

class MofLexer {
public:
    // `source` must outlive the lexer.
    MofLexer(const std::string& source, const std::string& fileName);
    Token next();

private:
    [[noreturn]] void fail(const std::string& message) const;
    [[noreturn]] void failAt(uint32_t line, uint32_t column, const std::string& message) const;
    char peekChar(size_t ahead = 0) const;
    void advance();
    void skipSpaceAndComments();
    Token lexNumber();
    Token lexString();
    Token lexChar16();
    uint32_t lexEscape();         // after the backslash; returns a UTF-16 code unit
    uint32_t lexUtf8CodePoint();  // a raw (non-ASCII) character of the source
    SourcePos here() const;

    const std::string& src_;
    std::string file_;
    size_t pos_ = 0;
    uint32_t line_ = 1;
    uint32_t column_ = 1;
};

void appendUtf8(std::string& out, uint32_t codePoint);

}  // namespace mof
}  // namespace minicimd

#endif
