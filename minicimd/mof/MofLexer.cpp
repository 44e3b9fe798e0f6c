#include "MofLexer.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace minicimd {
namespace mof {

namespace {
const char* const kTypeNames[] = {"boolean", "uint8",    "sint8",     "uint16", "sint16",  "uint32",
                                  "sint32",  "uint64",   "sint64",    "real32", "real64",  "char16",
                                  "string",  "datetime", "reference", "object", "instance"};

bool isIdentStart(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' ||
           (static_cast<unsigned char>(c) >= 0x80);
}
bool isIdentChar(char c)
{
    return isIdentStart(c) || (c >= '0' && c <= '9');
}
int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}
}  // namespace

std::string SourcePos::toString() const
{
    return file + ":" + std::to_string(line) + ":" + std::to_string(column);
}

const char* dataTypeName(DataType t)
{
    return kTypeNames[static_cast<int>(t)];
}

bool dataTypeFromName(const std::string& name, DataType& out)
{
    // reference/object/instance are not written as type keywords in MOF.
    for (int i = 0; i <= static_cast<int>(DataType::Datetime); ++i) {
        if (strcasecmp(name.c_str(), kTypeNames[i]) == 0) {
            out = static_cast<DataType>(i);
            return true;
        }
    }
    return false;
}

void appendUtf8(std::string& out, uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

std::string Token::describe() const
{
    switch (kind) {
        case TokenKind::End:
            return "end of file";
        case TokenKind::Identifier:
            return "'" + text + "'";
        case TokenKind::Integer:
            return "integer";
        case TokenKind::Real:
            return "real number";
        case TokenKind::String:
            return "string";
        case TokenKind::Char16:
            return "char16 literal";
        case TokenKind::Alias:
            return "alias '$" + text + "'";
        case TokenKind::Pragma:
            return "'#pragma'";
        case TokenKind::LBrace:
            return "'{'";
        case TokenKind::RBrace:
            return "'}'";
        case TokenKind::LParen:
            return "'('";
        case TokenKind::RParen:
            return "')'";
        case TokenKind::LBracket:
            return "'['";
        case TokenKind::RBracket:
            return "']'";
        case TokenKind::Semicolon:
            return "';'";
        case TokenKind::Comma:
            return "','";
        case TokenKind::Colon:
            return "':'";
        case TokenKind::Equals:
            return "'='";
    }
    return "token";
}

MofLexer::MofLexer(const std::string& source, const std::string& fileName) : src_(source), file_(fileName)
{
    // A UTF-8 byte order mark is allowed at the start of a file.
    if (src_.compare(0, 3, "\xEF\xBB\xBF") == 0) pos_ = 3;
}

SourcePos MofLexer::here() const
{
    return SourcePos{file_, line_, column_};
}

void MofLexer::fail(const std::string& message) const
{
    throw MofError(here(), message);
}

void MofLexer::failAt(uint32_t line, uint32_t column, const std::string& message) const
{
    throw MofError(SourcePos{file_, line, column}, message);
}

char MofLexer::peekChar(size_t ahead) const
{
    return pos_ + ahead < src_.size() ? src_[pos_ + ahead] : '\0';
}

void MofLexer::advance()
{
    if (pos_ >= src_.size()) return;
    char c = src_[pos_++];
    if (c == '\n') {
        ++line_;
        column_ = 1;
    } else if ((static_cast<unsigned char>(c) & 0xC0) != 0x80) {
        ++column_;  // columns count characters, not UTF-8 continuation bytes
    }
}

void MofLexer::skipSpaceAndComments()
{
    for (;;) {
        char c = peekChar();
        if (pos_ >= src_.size()) return;
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v') {
            advance();
        } else if (c == '/' && peekChar(1) == '/') {
            while (pos_ < src_.size() && peekChar() != '\n') advance();
        } else if (c == '/' && peekChar(1) == '*') {
            uint32_t l = line_, col = column_;
            advance();
            advance();
            for (;;) {
                if (pos_ >= src_.size()) failAt(l, col, "unterminated comment");
                if (peekChar() == '*' && peekChar(1) == '/') {
                    advance();
                    advance();
                    break;
                }
                advance();
            }
        } else if (c == '\0') {
            fail("NUL character in source");
        } else {
            return;
        }
    }
}

Token MofLexer::next()
{
    skipSpaceAndComments();
    Token t;
    t.pos = here();
    if (pos_ >= src_.size()) {
        t.kind = TokenKind::End;
        return t;
    }
    char c = peekChar();
    auto single = [&](TokenKind k) {
        advance();
        t.kind = k;
        return t;
    };
    switch (c) {
        case '{':
            return single(TokenKind::LBrace);
        case '}':
            return single(TokenKind::RBrace);
        case '(':
            return single(TokenKind::LParen);
        case ')':
            return single(TokenKind::RParen);
        case '[':
            return single(TokenKind::LBracket);
        case ']':
            return single(TokenKind::RBracket);
        case ';':
            return single(TokenKind::Semicolon);
        case ',':
            return single(TokenKind::Comma);
        case ':':
            return single(TokenKind::Colon);
        case '=':
            return single(TokenKind::Equals);
        case '"':
            return lexString();
        case '\'':
            return lexChar16();
        default:
            break;
    }
    if (c == '#') {
        advance();
        size_t start = pos_;
        while (isIdentChar(peekChar())) advance();
        if (strncasecmp(src_.c_str() + start, "pragma", 6) != 0 || pos_ - start != 6)
            failAt(t.pos.line, t.pos.column, "expected '#pragma'");
        t.kind = TokenKind::Pragma;
        return t;
    }
    if (c == '$') {
        advance();
        if (!isIdentStart(peekChar())) fail("expected an alias name after '$'");
        size_t start = pos_;
        while (isIdentChar(peekChar())) advance();
        t.kind = TokenKind::Alias;
        t.text = src_.substr(start, pos_ - start);
        return t;
    }
    if ((c >= '0' && c <= '9') || c == '.' ||
        ((c == '+' || c == '-') && ((peekChar(1) >= '0' && peekChar(1) <= '9') || peekChar(1) == '.'))) {
        return lexNumber();
    }
    if (isIdentStart(c)) {
        size_t start = pos_;
        while (isIdentChar(peekChar())) {
            if (static_cast<unsigned char>(peekChar()) >= 0x80) {
                lexUtf8CodePoint();  // validates the encoding
            } else {
                advance();
            }
        }
        t.kind = TokenKind::Identifier;
        t.text = src_.substr(start, pos_ - start);
        return t;
    }
    if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) == 0x7f) {
        char buf[8];
        snprintf(buf, sizeof buf, "0x%02x", static_cast<unsigned char>(c));
        fail(std::string("unexpected control character ") + buf);
    }
    fail(std::string("unexpected character '") + c + "'");
}

Token MofLexer::lexNumber()
{
    Token t;
    t.pos = here();
    size_t start = pos_;
    if (peekChar() == '+' || peekChar() == '-') {
        t.negative = peekChar() == '-';
        advance();
    }
    size_t digitsStart = pos_;
    // Take the whole run of number-like characters, then decide what it is, so
    // "12abc" is one bad number rather than a number followed by a name.
    bool hex = peekChar() == '0' && (peekChar(1) == 'x' || peekChar(1) == 'X');
    for (;;) {
        char c = peekChar();
        bool exponentSign = (c == '+' || c == '-') && !hex && pos_ > digitsStart &&
                            (src_[pos_ - 1] == 'e' || src_[pos_ - 1] == 'E');
        if (!(isIdentChar(c) || c == '.' || exponentSign)) break;
        advance();
    }
    std::string body = src_.substr(digitsStart, pos_ - digitsStart);
    std::string whole = src_.substr(start, pos_ - start);
    auto bad = [&](const std::string& why) {
        failAt(t.pos.line, t.pos.column, "invalid number '" + whole + "': " + why);
    };
    auto accumulate = [&](const std::string& digits, unsigned base) {
        uint64_t v = 0;
        for (char d : digits) {
            int dv = hexDigit(d);
            if (dv < 0 || static_cast<unsigned>(dv) >= base)
                bad("unexpected digit '" + std::string(1, d) + "'");
            if (v > (UINT64_MAX - static_cast<unsigned>(dv)) / base) bad("out of the 64-bit range");
            v = v * base + static_cast<unsigned>(dv);
        }
        return v;
    };
    t.kind = TokenKind::Integer;
    if (body.size() > 2 && body[0] == '0' && (body[1] == 'x' || body[1] == 'X')) {
        t.magnitude = accumulate(body.substr(2), 16);
        return t;
    }
    if (body == "0x" || body == "0X") bad("no hexadecimal digits");
    bool hasDot = body.find('.') != std::string::npos;
    bool allDigits = body.find_first_not_of("0123456789") == std::string::npos;
    if (!hasDot && body.size() > 1 && (body.back() == 'b' || body.back() == 'B') &&
        body.find_first_not_of("01") == body.size() - 1) {
        t.magnitude = accumulate(body.substr(0, body.size() - 1), 2);
        return t;
    }
    if (allDigits) {
        if (body.size() > 1 && body[0] == '0') {
            t.magnitude = accumulate(body.substr(1), 8);
        } else {
            t.magnitude = accumulate(body, 10);
        }
        return t;
    }
    // Real: [digits] "." digits [e [sign] digits]
    size_t i = 0;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i;
    size_t frac = 0;
    if (i < body.size() && body[i] == '.') {
        ++i;
        while (i < body.size() && body[i] >= '0' && body[i] <= '9') {
            ++i;
            ++frac;
        }
        if (frac == 0) bad("a digit must follow the decimal point");
    } else if (i == 0) {
        bad("not a number");
    }
    if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
        ++i;
        if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
        size_t e = 0;
        while (i < body.size() && body[i] >= '0' && body[i] <= '9') {
            ++i;
            ++e;
        }
        if (e == 0) bad("exponent without digits");
    }
    if (i != body.size()) bad("unexpected character '" + std::string(1, body[i]) + "'");
    errno = 0;
    t.real = strtod(whole.c_str(), nullptr);
    if (errno == ERANGE && (t.real > 1.0 || t.real < -1.0)) bad("out of the real64 range");
    t.kind = TokenKind::Real;
    return t;
}

uint32_t MofLexer::lexUtf8CodePoint()
{
    uint32_t l = line_, col = column_;
    unsigned char b = static_cast<unsigned char>(peekChar());
    int extra;
    uint32_t cp;
    if (b >= 0xC2 && b <= 0xDF) {
        extra = 1;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        extra = 2;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        extra = 3;
        cp = b & 0x07;
    } else
        failAt(l, col, "invalid UTF-8 sequence");
    advance();
    for (int k = 0; k < extra; ++k) {
        unsigned char cb = static_cast<unsigned char>(peekChar());
        if ((cb & 0xC0) != 0x80 || pos_ >= src_.size()) failAt(l, col, "invalid UTF-8 sequence");
        cp = (cp << 6) | (cb & 0x3F);
        advance();
    }
    if ((extra == 2 && cp < 0x800) || (extra == 3 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF))
        failAt(l, col, "invalid UTF-8 sequence");
    return cp;
}

uint32_t MofLexer::lexEscape()
{
    uint32_t l = line_, col = column_ - 1;
    char c = peekChar();
    advance();
    switch (c) {
        case 'b':
            return '\b';
        case 't':
            return '\t';
        case 'n':
            return '\n';
        case 'f':
            return '\f';
        case 'r':
            return '\r';
        case '"':
            return '"';
        case '\'':
            return '\'';
        case '\\':
            return '\\';
        case 'x':
        case 'X': {
            uint32_t v = 0;
            int n = 0;
            while (n < 4 && hexDigit(peekChar()) >= 0) {
                v = v * 16 + static_cast<uint32_t>(hexDigit(peekChar()));
                advance();
                ++n;
            }
            if (n == 0) failAt(l, col, "escape '\\x' needs 1 to 4 hexadecimal digits");
            if (v == 0) failAt(l, col, "escape '\\x0' would put a NUL character in a string");
            return v;
        }
        default:
            if (pos_ > src_.size() || c == '\0') failAt(l, col, "unterminated escape sequence");
            failAt(l, col, std::string("unknown escape sequence '\\") + c + "'");
    }
}

Token MofLexer::lexString()
{
    Token t;
    t.pos = here();
    t.kind = TokenKind::String;
    advance();                 // opening quote
    uint32_t pendingHigh = 0;  // a \x high surrogate waiting for its low half
    auto flushHigh = [&]() {
        if (pendingHigh) fail("unpaired UTF-16 surrogate in string escape");
    };
    for (;;) {
        if (pos_ >= src_.size() || peekChar() == '\n')
            failAt(t.pos.line, t.pos.column, "unterminated string");
        char c = peekChar();
        if (c == '"') {
            flushHigh();
            advance();
            return t;
        }
        if (c == '\\') {
            advance();
            uint32_t u = lexEscape();
            if (u >= 0xD800 && u <= 0xDBFF) {
                flushHigh();
                pendingHigh = u;
                continue;
            }
            if (u >= 0xDC00 && u <= 0xDFFF) {
                if (!pendingHigh) fail("unpaired UTF-16 surrogate in string escape");
                appendUtf8(t.text, 0x10000 + ((pendingHigh - 0xD800) << 10) + (u - 0xDC00));
                pendingHigh = 0;
                continue;
            }
            flushHigh();
            appendUtf8(t.text, u);
        } else if (static_cast<unsigned char>(c) >= 0x80) {
            flushHigh();
            appendUtf8(t.text, lexUtf8CodePoint());
        } else if (c == '\0') {
            fail("NUL character in string");
        } else {
            flushHigh();
            t.text += c;
            advance();
        }
    }
}

Token MofLexer::lexChar16()
{
    Token t;
    t.pos = here();
    t.kind = TokenKind::Char16;
    advance();
    uint32_t cp;
    char c = peekChar();
    if (pos_ >= src_.size() || c == '\n') failAt(t.pos.line, t.pos.column, "unterminated char16 literal");
    if (c == '\'') fail("empty char16 literal");
    if (c == '\\') {
        advance();
        cp = lexEscape();
    } else if (static_cast<unsigned char>(c) >= 0x80) {
        cp = lexUtf8CodePoint();
    } else {
        cp = static_cast<unsigned char>(c);
        advance();
    }
    if (cp > 0xFFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        failAt(t.pos.line, t.pos.column, "char16 literal outside the 16-bit range");
    if (peekChar() != '\'')
        failAt(t.pos.line, t.pos.column, "char16 literal must hold exactly one character");
    advance();
    t.char16 = static_cast<uint16_t>(cp);
    return t;
}

}  // namespace mof
}  // namespace minicimd
