#include "CimXml/XmlPull.h"

#include <expat.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <initializer_list>
#include <utility>

namespace orv {
namespace cimxml {

namespace {

// Upper bound on tokens, so that a document of tiny elements cannot make the
// token list many times larger than the document itself.
constexpr std::size_t kMaxTokens = 8u * 1024u * 1024u;
constexpr std::size_t kBlockBytes = 64u * 1024u;
// Tokens reserved up front: one per 12 bytes fits dense markup, so the list
// of a large answer never moves while it fills (moving it cost a fifth of
// reading 10,000 instance names).  A document of long values reserves several
// times its own size, but reserved pages it never fills are address space
// only; past this bound the list grows as it fills.
constexpr std::size_t kMaxReservedTokens = 1024u * 1024u;

// Buffers larger than this are let go after a parse rather than kept for the next.
constexpr std::size_t kMaxRecycledBytes = 16u * 1024u * 1024u;

std::size_t tokensToReserve(std::size_t documentBytes)
{
    return std::min(documentBytes / 12 + 16, kMaxReservedTokens);
}

std::string formatError(const std::string& problem, XmlPosition where)
{
    return "CIM-XML error at line " + std::to_string(where.line) + ", column " +
           std::to_string(where.column) + ": " + problem;
}

bool allWhitespace(const std::string& s)
{
    for (char c : s) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return true;
}

}  // namespace

XmlError::XmlError(const std::string& problem, XmlPosition where)
    : std::runtime_error(formatError(problem, where)), problem_(problem), where_(where)
{}

// Collects expat's events into an XmlDocument.  Lives only during parse().
struct XmlBuilder {
    XmlDocument& doc;
    XML_Parser parser;
    std::string pendingText;
    std::uint32_t pendingOffset = 0;
    std::vector<bool> hasChild;          // one entry per open element
    std::vector<std::string_view> open;  // names of the open elements, for their end tags
    bool failed = false;
    std::string problem;
    XmlPosition problemWhere;
    char* block = nullptr;
    std::size_t blockLeft = 0;

    XmlBuilder(XmlDocument& d, XML_Parser p) : doc(d), parser(p) {}

    // Asking expat for line and column makes it rescan the text since the
    // last question; tokens keep a byte offset instead, and lines and columns
    // are counted in one pass once parsing is done.
    std::uint32_t offset() const { return static_cast<std::uint32_t>(XML_GetCurrentByteIndex(parser)); }

    XmlPosition here() const
    {
        // expat columns count from 0.
        return XmlPosition{static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)),
                           static_cast<unsigned long>(XML_GetCurrentColumnNumber(parser)) + 1};
    }

    void stop(const std::string& why)
    {
        if (failed) return;
        failed = true;
        problem = why;
        problemWhere = here();
        XML_StopParser(parser, XML_FALSE);
    }

    std::string_view store(const char* s, std::size_t n)
    {
        if (n == 0) return std::string_view();
        if (n > blockLeft) {
            std::size_t size = n > kBlockBytes ? n : kBlockBytes;
            doc.blocks_.emplace_back(new char[size]);
            block = doc.blocks_.back().get();
            blockLeft = size;
        }
        std::memcpy(block, s, n);
        std::string_view v(block, n);
        block += n;
        blockLeft -= n;
        return v;
    }

    bool pushToken(const XmlToken& t)
    {
        if (doc.tokens_.size() >= kMaxTokens) {
            stop("document has more than " + std::to_string(kMaxTokens) + " elements and texts");
            return false;
        }
        doc.tokens_.push_back(t);
        return true;
    }

    // Emits collected character data.  Whitespace between elements is layout,
    // not content, and is dropped; text inside a leaf element is kept as is.
    void flushText(bool closingLeaf)
    {
        if (pendingText.empty()) return;
        if (!closingLeaf && allWhitespace(pendingText)) {
            pendingText.clear();
            return;
        }
        XmlToken t{};
        t.kind = TokenKind::Text;
        t.blank = allWhitespace(pendingText);
        t.text = store(pendingText.data(), pendingText.size());
        t.offset = pendingOffset;
        pendingText.clear();
        pushToken(t);
    }

    static void XMLCALL onStart(void* ud, const XML_Char* name, const XML_Char** atts)
    {
        auto* b = static_cast<XmlBuilder*>(ud);
        if (b->failed) return;
        b->flushText(false);
        if (!b->hasChild.empty()) b->hasChild.back() = true;
        if (b->hasChild.size() >= kMaxDepth) {
            b->stop("elements nested deeper than " + std::to_string(kMaxDepth) + " levels");
            return;
        }
        std::size_t nameLen = std::strlen(name);
        if (nameLen > kMaxNameBytes) {
            b->stop("element name longer than " + std::to_string(kMaxNameBytes) + " bytes");
            return;
        }
        XmlToken t{};
        t.kind = TokenKind::Start;
        t.name = b->store(name, nameLen);
        t.offset = b->offset();
        t.firstAttr = static_cast<std::uint32_t>(b->doc.attrs_.size());
        std::size_t count = 0;
        for (const XML_Char** a = atts; a[0] != nullptr; a += 2) {
            if (++count > kMaxAttributesPerElement) {
                b->stop("element <" + std::string(name) + "> has more than " +
                        std::to_string(kMaxAttributesPerElement) + " attributes");
                return;
            }
            std::size_t an = std::strlen(a[0]);
            std::size_t av = std::strlen(a[1]);
            if (an > kMaxNameBytes) {
                b->stop("attribute name longer than " + std::to_string(kMaxNameBytes) + " bytes");
                return;
            }
            if (av > kMaxTextBytes) {
                b->stop("attribute value longer than " + std::to_string(kMaxTextBytes) + " bytes");
                return;
            }
            b->doc.attrs_.push_back(XmlAttribute{b->store(a[0], an), b->store(a[1], av)});
        }
        t.attrCount = static_cast<std::uint32_t>(count);
        if (b->pushToken(t)) {
            b->hasChild.push_back(false);
            b->open.push_back(t.name);
        }
    }

    static void XMLCALL onEnd(void* ud, const XML_Char*)
    {
        auto* b = static_cast<XmlBuilder*>(ud);
        if (b->failed || b->open.empty()) return;
        bool leaf = !b->hasChild.back();
        b->flushText(leaf);
        b->hasChild.pop_back();
        XmlToken t{};
        t.kind = TokenKind::End;
        t.name = b->open.back();  // expat has checked that the tags match
        b->open.pop_back();
        t.offset = b->offset();
        b->pushToken(t);
    }

    static void XMLCALL onText(void* ud, const XML_Char* s, int len)
    {
        auto* b = static_cast<XmlBuilder*>(ud);
        if (b->failed || len <= 0) return;
        if (b->pendingText.empty()) b->pendingOffset = b->offset();
        if (b->pendingText.size() + static_cast<std::size_t>(len) > kMaxTextBytes) {
            b->stop("text longer than " + std::to_string(kMaxTextBytes) + " bytes");
            return;
        }
        b->pendingText.append(s, static_cast<std::size_t>(len));
    }

    // CIM-XML never needs a DTD; refusing it outright keeps entity
    // declarations (expansion bombs) and external entities (XXE) out.
    static void XMLCALL onDoctype(void* ud, const XML_Char*, const XML_Char*, const XML_Char*, int)
    {
        static_cast<XmlBuilder*>(ud)->stop("a DOCTYPE declaration is not accepted");
    }

    static void XMLCALL onEntityDecl(void* ud, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                     const XML_Char*, const XML_Char*, const XML_Char*)
    {
        static_cast<XmlBuilder*>(ud)->stop("entity declarations are not accepted");
    }

    static int XMLCALL onExternalEntity(XML_Parser, const XML_Char*, const XML_Char*, const XML_Char*,
                                        const XML_Char*)
    {
        return XML_STATUS_ERROR;  // never fetch anything
    }
};

// ---------------------------------------------------------------------------
// The strict scanner.  CIM-XML answers are UTF-8 elements, attributes and
// text with the predefined entities and character references, after an
// optional declaration; this reads exactly that, many times faster than a
// general parser, and yields the tokens expat's pass yields.  On the first
// thing outside that shape (a comment, CDATA, a DOCTYPE, a carriage return,
// a name that is not ASCII, any error or limit) it gives up, and the document
// goes through expat, which accepts it or reports the precise error.

namespace {

enum : std::uint8_t {
    kNameStart = 1,
    kNameChar = 2,
    kSpace = 4,
    kTextPlain = 8,    // text bytes that need no second look
    kValuePlain = 16,  // attribute value bytes that need no second look
};

struct CharClasses {
    std::uint8_t of[256] = {};
    constexpr CharClasses()
    {
        for (int c = 0; c < 256; ++c) {
            const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
            const bool digit = c >= '0' && c <= '9';
            std::uint8_t k = 0;
            if (letter || c == '_' || c == ':') k |= kNameStart;
            if (letter || digit || c == '_' || c == ':' || c == '.' || c == '-') k |= kNameChar;
            if (c == ' ' || c == '\t' || c == '\n') k |= kSpace;
            const bool printable = c >= 0x20 && c < 0x80;
            if ((printable || c == '\t' || c == '\n') && c != '<' && c != '&' && c != ']') k |= kTextPlain;
            if (printable && c != '<' && c != '&' && c != '"' && c != '\'') k |= kValuePlain;
            of[c] = k;
        }
    }
};
constexpr CharClasses kClasses;

inline std::uint8_t classOf(char c)
{
    return kClasses.of[static_cast<unsigned char>(c)];
}

// A character XML allows in a document.
inline bool xmlChar(std::uint32_t cp)
{
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// Length of the well-formed UTF-8 sequence of an XML character at `s`, or 0.
// The document ends in a NUL, which is never a continuation byte.
inline int utf8Length(const char* s)
{
    const auto b = [s](int i) { return static_cast<unsigned char>(s[i]); };
    const auto cont = [&](int i) { return (b(i) & 0xC0) == 0x80; };
    std::uint32_t cp;
    int n;
    if (b(0) >= 0xC2 && b(0) <= 0xDF) {
        if (!cont(1)) return 0;
        return 2;
    } else if (b(0) >= 0xE0 && b(0) <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        cp = (std::uint32_t(b(0) & 0x0F) << 12) | (std::uint32_t(b(1) & 0x3F) << 6) | (b(2) & 0x3F);
        if (cp < 0x800) return 0;
        n = 3;
    } else if (b(0) >= 0xF0 && b(0) <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        cp = (std::uint32_t(b(0) & 0x07) << 18) | (std::uint32_t(b(1) & 0x3F) << 12) |
             (std::uint32_t(b(2) & 0x3F) << 6) | (b(3) & 0x3F);
        if (cp < 0x10000) return 0;
        n = 4;
    } else {
        return 0;
    }
    return xmlChar(cp) ? n : 0;
}

inline char* putUtf8(char* w, std::uint32_t cp)
{
    if (cp < 0x80) {
        *w++ = static_cast<char>(cp);
    } else if (cp < 0x800) {
        *w++ = static_cast<char>(0xC0 | (cp >> 6));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        *w++ = static_cast<char>(0xE0 | (cp >> 12));
        *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        *w++ = static_cast<char>(0xF0 | (cp >> 18));
        *w++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        *w++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        *w++ = static_cast<char>(0x80 | (cp & 0x3F));
    }
    return w;
}

// Decodes the reference at `s` (on its '&') into `w`; false for anything but
// the five predefined entities and references to XML characters.  Decoded
// text is never longer than its reference, so it fits at the reference's offset.
inline bool decodeReference(char*& s, char*& w)
{
    const char* r = s + 1;
    if (*r == '#') {
        ++r;
        std::uint32_t cp = 0;
        int digits = 0;
        if (*r == 'x') {
            for (++r;; ++r, ++digits) {
                const char c = *r;
                int v;
                if (c >= '0' && c <= '9')
                    v = c - '0';
                else if (c >= 'a' && c <= 'f')
                    v = c - 'a' + 10;
                else if (c >= 'A' && c <= 'F')
                    v = c - 'A' + 10;
                else
                    break;
                cp = cp * 16 + static_cast<std::uint32_t>(v);
                if (cp > 0x10FFFF) return false;
            }
        } else {
            for (;; ++r, ++digits) {
                const char c = *r;
                if (c < '0' || c > '9') break;
                cp = cp * 10 + static_cast<std::uint32_t>(c - '0');
                if (cp > 0x10FFFF) return false;
            }
        }
        if (digits == 0 || *r != ';' || !xmlChar(cp)) return false;
        w = putUtf8(w, cp);
        s = const_cast<char*>(r) + 1;
        return true;
    }
    struct Entity {
        const char* name;
        std::size_t length;
        char value;
    };
    static constexpr Entity kEntities[] = {
        {"lt;", 3, '<'}, {"gt;", 3, '>'}, {"amp;", 4, '&'}, {"quot;", 5, '"'}, {"apos;", 5, '\''}};
    for (const Entity& e : kEntities) {
        if (std::strncmp(r, e.name, e.length) == 0) {
            *w++ = e.value;
            s = const_cast<char*>(r) + e.length;
            return true;
        }
    }
    return false;
}

// Once a reference has been decoded, text after it moves down to `w`.
inline void moveDown(const char* from, const char* to, char*& w)
{
    if (w == nullptr) return;
    std::memmove(w, from, static_cast<std::size_t>(to - from));
    w += to - from;
}

// Steps over one UTF-8 character, moving it down to `w` when decoding has begun.
inline bool stepUtf8(char*& s, char*& w)
{
    const int n = utf8Length(s);
    if (n == 0) return false;
    moveDown(s, s + n, w);
    s += n;
    return true;
}

bool blankText(const char* s, const char* e)
{
    for (; s < e; ++s) {
        if (*s != ' ' && *s != '\t' && *s != '\n' && *s != '\r') return false;
    }
    return true;
}

}  // namespace

class FastScanner {
public:
    // Fills `doc` from `size` bytes; false when the document must go through expat.
    static bool scan(XmlDocument& doc, const char* data, std::size_t size)
    {
        if (size > kMaxScanBytes || std::memchr(data, '\r', size) != nullptr) return false;
        // The document keeps its own copy, ended by a NUL that stops every loop below.
        if (doc.textBytes_ < size + 1) {
            doc.text_.reset(new char[size + 1]);
            doc.textBytes_ = size + 1;
        }
        char* base = doc.text_.get();
        std::memcpy(base, data, size);
        base[size] = '\0';
        doc.size_ = size;
        doc.tokens_.reserve(tokensToReserve(size));
        doc.attrs_.reserve(doc.tokens_.capacity() / 2);
        FastScanner f(doc, base, base + size);
        return f.document();
    }

private:
    // Offsets are 32 bits wide in tokens; larger documents go through expat.
    static constexpr std::size_t kMaxScanBytes = std::size_t(UINT32_MAX) - 1;

    FastScanner(XmlDocument& doc, char* base, char* end) : doc_(doc), base_(base), end_(end) {}

    std::uint32_t offsetOf(const char* p) const { return static_cast<std::uint32_t>(p - base_); }

    static char* skipSpace(char* s)
    {
        while (classOf(*s) & kSpace) ++s;
        return s;
    }

    // <?xml version="1.0"?> with an optional UTF-8 encoding, nothing else.
    bool declaration(char*& s)
    {
        auto literal = [&s](const char* text) {
            const std::size_t n = std::strlen(text);
            if (std::strncmp(s, text, n) != 0) return false;
            s += n;
            return true;
        };
        auto quoted = [&](std::initializer_list<const char*> values) {
            const char q = *s;
            if (q != '"' && q != '\'') return false;
            ++s;
            for (const char* v : values) {
                if (literal(v)) {
                    if (*s != q) return false;
                    ++s;
                    return true;
                }
            }
            return false;
        };
        if (!literal("<?xml")) return false;
        char* t = skipSpace(s);
        if (t == s) return false;
        s = t;
        if (!literal("version=") || !quoted({"1.0"})) return false;
        t = skipSpace(s);
        if (t != s && std::strncmp(t, "encoding=", 9) == 0) {
            s = t + 9;
            if (!quoted({"utf-8", "UTF-8"})) return false;
            t = skipSpace(s);
        }
        s = t;
        return literal("?>");
    }

    bool push(const XmlToken& t)
    {
        if (doc_.tokens_.size() >= kMaxTokens) return false;
        doc_.tokens_.push_back(t);
        return true;
    }

    // Character data from `s` to the next '<'.  Text with references is
    // decoded into the mirror, and `decodedStart` moved there.
    // Inline, as in the one loop that calls it (each is called once per token).
    [[gnu::always_inline]] bool text(char*& s, char*& decodedStart, char*& decodedEnd)
    {
        char* const start = s;
        char* w = nullptr;  // where decoded text goes once a reference has been seen
        for (;;) {
            char* run = s;
            while (classOf(*s) & kTextPlain) ++s;
            moveDown(run, s, w);
            const unsigned char c = static_cast<unsigned char>(*s);
            if (c == '<' || c == '\0') break;
            if (c == '&') {
                if (w == nullptr) w = startDecoding(start, s);
                if (!decodeReference(s, w)) return false;
            } else if (c == ']') {
                if (s[1] == ']' && s[2] == '>') return false;  // "]]>" is not allowed in text
                if (w != nullptr) *w++ = ']';
                ++s;
            } else if (c >= 0x80) {
                if (!stepUtf8(s, w)) return false;
            } else {
                return false;  // a control character
            }
        }
        decodedStart = w != nullptr ? mirrorOf(start) : start;
        decodedEnd = w != nullptr ? w : s;
        return true;
    }

    // The document's text stays as it came, for the positions of errors:
    // what references decode to goes to the same offset in a mirror of it.
    char* mirrorOf(const char* p) { return mirror_ + (p - base_); }
    // Out of line: references are rare, and the loops that meet them stay small.
    [[gnu::noinline, gnu::cold]] char* startDecoding(const char* spanStart, const char* s)
    {
        if (mirror_ == nullptr) {
            const std::size_t bytes = static_cast<std::size_t>(end_ - base_) + 1;
            if (doc_.decodedBytes_ < bytes) {
                doc_.decoded_.reset(new char[bytes]);
                doc_.decodedBytes_ = bytes;
            }
            mirror_ = doc_.decoded_.get();
        }
        char* w = mirrorOf(spanStart);
        std::memcpy(w, spanStart, static_cast<std::size_t>(s - spanStart));
        return w + (s - spanStart);
    }

    // An attribute value from after its opening quote to its closing one.
    [[gnu::always_inline]] bool value(char*& s, char quote, std::string_view& out)
    {
        char* start = s;
        char* w = nullptr;
        for (;;) {
            char* run = s;
            while (classOf(*s) & kValuePlain) ++s;
            moveDown(run, s, w);
            const unsigned char c = static_cast<unsigned char>(*s);
            if (c == static_cast<unsigned char>(quote)) break;
            if (c == '"' || c == '\'') {
                if (w != nullptr) *w++ = static_cast<char>(c);
                ++s;
            } else if (c == '&') {
                if (w == nullptr) w = startDecoding(start, s);
                if (!decodeReference(s, w)) return false;
            } else if (c >= 0x80) {
                if (!stepUtf8(s, w)) return false;
            } else {
                return false;  // '<', the end, or a character expat would normalise
            }
        }
        char* end = w != nullptr ? w : s;
        if (w != nullptr) start = mirrorOf(start);
        if (static_cast<std::size_t>(end - start) > kMaxTextBytes) return false;
        out = std::string_view(start, static_cast<std::size_t>(end - start));
        ++s;  // the closing quote
        return true;
    }

    bool name(char*& s, std::string_view& out)
    {
        if (!(classOf(*s) & kNameStart)) return false;
        char* start = s;
        while (classOf(*s) & kNameChar) ++s;
        if (static_cast<std::size_t>(s - start) > kMaxNameBytes) return false;
        out = std::string_view(start, static_cast<std::size_t>(s - start));
        return true;
    }

    // Text between two tags: kept when it is content, dropped when it is layout.
    bool flushText(const char* at, char* textStart, char* textEnd, bool closingLeaf)
    {
        if (textEnd == textStart) return true;
        if (static_cast<std::size_t>(textEnd - textStart) > kMaxTextBytes) return false;
        const bool blank = blankText(textStart, textEnd);
        if (blank && !closingLeaf) return true;
        XmlToken t{};
        t.kind = TokenKind::Text;
        t.blank = blank;
        t.text = std::string_view(textStart, static_cast<std::size_t>(textEnd - textStart));
        t.offset = offsetOf(at);
        return push(t);
    }

    bool startTag(char*& s)
    {
        char* lt = s;
        ++s;
        XmlToken t{};
        t.kind = TokenKind::Start;
        if (depth_ >= kMaxDepth || !name(s, t.name)) return false;
        t.offset = offsetOf(lt);
        t.firstAttr = static_cast<std::uint32_t>(doc_.attrs_.size());
        bool empty = false;
        for (;;) {
            char* afterSpace = skipSpace(s);
            const bool spaced = afterSpace != s;
            s = afterSpace;
            if (*s == '>') {
                ++s;
                break;
            }
            if (*s == '/') {
                if (s[1] != '>') return false;
                s += 2;
                empty = true;
                break;
            }
            XmlAttribute a;
            if (!spaced || t.attrCount >= kMaxAttributesPerElement || !name(s, a.name)) return false;
            if (*s != '=') return false;
            ++s;
            const char quote = *s;
            if (quote != '"' && quote != '\'') return false;
            ++s;
            if (!value(s, quote, a.value)) return false;
            for (std::uint32_t i = 0; i < t.attrCount; ++i) {
                if (sameName(doc_.attrs_[t.firstAttr + i].name, a.name)) return false;
            }
            doc_.attrs_.push_back(a);
            ++t.attrCount;
        }
        if (depth_ > 0) hasChild_[depth_ - 1] = true;
        if (!push(t)) return false;
        if (empty) {
            XmlToken e{};
            e.kind = TokenKind::End;
            e.name = t.name;
            e.offset = offsetOf(s);  // expat places the end of an empty element after its tag
            return push(e);
        }
        open_[depth_] = t.name;
        hasChild_[depth_] = false;
        ++depth_;
        return true;
    }

    bool endTag(char*& s, const char* at, char* textStart, char* textEnd)
    {
        if (depth_ == 0) return false;
        char* lt = s;
        s += 2;
        std::string_view n;
        if (!name(s, n) || !sameName(n, open_[depth_ - 1])) return false;
        s = skipSpace(s);
        if (*s != '>') return false;
        ++s;
        if (!flushText(at, textStart, textEnd, !hasChild_[depth_ - 1])) return false;
        --depth_;
        XmlToken t{};
        t.kind = TokenKind::End;
        t.name = open_[depth_];
        t.offset = offsetOf(lt);
        return push(t);
    }

    bool document()
    {
        char* s = base_;
        if (*s != '<') return false;
        if (s[1] == '?' && !declaration(s)) return false;
        s = skipSpace(s);
        if (*s != '<' || !startTag(s)) return false;
        while (depth_ > 0) {
            const char* at = s;
            char* textStart = s;
            char* textEnd = s;
            if (!text(s, textStart, textEnd)) return false;
            if (*s != '<') return false;  // the document ends inside an element
            if (s[1] == '/') {
                if (!endTag(s, at, textStart, textEnd)) return false;
            } else {
                if (!flushText(at, textStart, textEnd, false) || !startTag(s)) return false;
            }
        }
        return skipSpace(s) == end_;
    }

    XmlDocument& doc_;
    char* base_;
    char* end_;
    char* mirror_ = nullptr;
    unsigned depth_ = 0;
    std::string_view open_[kMaxDepth];
    bool hasChild_[kMaxDepth] = {};
};

// ---------------------------------------------------------------------------

XmlDocument::XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;
XmlDocument::~XmlDocument() = default;

namespace {
struct ParserGuard {
    XML_Parser p;
    ~ParserGuard()
    {
        if (p != nullptr) XML_ParserFree(p);
    }
};
}  // namespace

XmlDocument XmlDocument::parse(const char* data, std::size_t size)
{
    return parse(data, size, nullptr);
}

XmlDocument XmlDocument::parse(const char* data, std::size_t size, XmlScratch* scratch)
{
    if (size > 0 && size <= kMaxDocumentBytes) {
        XmlDocument doc;
        if (scratch != nullptr) {
            doc.tokens_ = std::move(scratch->tokens);
            doc.tokens_.clear();
            doc.attrs_ = std::move(scratch->attrs);
            doc.attrs_.clear();
            doc.text_ = std::move(scratch->text);
            doc.textBytes_ = doc.text_ ? scratch->textBytes : 0;
            doc.decoded_ = std::move(scratch->decoded);
            doc.decodedBytes_ = doc.decoded_ ? scratch->decodedBytes : 0;
        }
        if (FastScanner::scan(doc, data, size)) return doc;
    }
    return parseWithExpat(data, size);
}

XmlDocument XmlDocument::parseWithExpat(const char* data, std::size_t size)
{
    if (size > kMaxDocumentBytes) {
        throw XmlError("document of " + std::to_string(size) + " bytes exceeds the limit of " +
                           std::to_string(kMaxDocumentBytes) + " bytes",
                       XmlPosition{1, 1});
    }
    if (size == 0) throw XmlError("empty document", XmlPosition{1, 1});
    XmlDocument doc;
    ParserGuard guard{XML_ParserCreate(nullptr)};
    if (guard.p == nullptr) throw std::bad_alloc();
    XmlBuilder b(doc, guard.p);
    doc.tokens_.reserve(tokensToReserve(size));
    XML_SetUserData(guard.p, &b);
    XML_SetElementHandler(guard.p, &XmlBuilder::onStart, &XmlBuilder::onEnd);
    XML_SetCharacterDataHandler(guard.p, &XmlBuilder::onText);
    XML_SetStartDoctypeDeclHandler(guard.p, &XmlBuilder::onDoctype);
    XML_SetEntityDeclHandler(guard.p, &XmlBuilder::onEntityDecl);
    XML_SetExternalEntityRefHandler(guard.p, &XmlBuilder::onExternalEntity);
    XML_SetParamEntityParsing(guard.p, XML_PARAM_ENTITY_PARSING_NEVER);

    static_assert(kMaxDocumentBytes <= static_cast<std::size_t>(INT_MAX), "expat takes int lengths");
    XML_Status st = XML_Parse(guard.p, data, static_cast<int>(size), XML_TRUE);
    if (b.failed) throw XmlError(b.problem, b.problemWhere);
    if (st != XML_STATUS_OK) {
        XML_Error code = XML_GetErrorCode(guard.p);
        XmlPosition where{static_cast<unsigned long>(XML_GetErrorLineNumber(guard.p)),
                          static_cast<unsigned long>(XML_GetErrorColumnNumber(guard.p)) + 1};
        std::string what = XML_ErrorString(code) != nullptr ? XML_ErrorString(code) : "parse error";
        if (code == XML_ERROR_NO_ELEMENTS) what = "document ends before its root element is complete";
        throw XmlError("malformed XML: " + what, where);
    }
    doc.keepText(data, size);
    return doc;
}

void XmlDocument::recycle(XmlScratch& scratch)
{
    if (tokens_.capacity() * sizeof(XmlToken) <= kMaxRecycledBytes) {
        tokens_.clear();
        scratch.tokens = std::move(tokens_);
    }
    if (attrs_.capacity() * sizeof(XmlAttribute) <= kMaxRecycledBytes) {
        attrs_.clear();
        scratch.attrs = std::move(attrs_);
    }
    if (text_ && textBytes_ <= kMaxRecycledBytes) {
        scratch.text = std::move(text_);
        scratch.textBytes = textBytes_;
    }
    if (decoded_ && decodedBytes_ <= kMaxRecycledBytes) {
        scratch.decoded = std::move(decoded_);
        scratch.decodedBytes = decodedBytes_;
    }
    tokens_.clear();
    attrs_.clear();
    text_.reset();
    textBytes_ = 0;
    size_ = 0;
    decoded_.reset();
    decodedBytes_ = 0;
    lineStarts_.clear();
    blocks_.clear();
}

void XmlDocument::keepText(const char* data, std::size_t size)
{
    if (textBytes_ < size + 1) {
        text_.reset(new char[size + 1]);
        textBytes_ = size + 1;
    }
    std::memcpy(text_.get(), data, size);
    text_[size] = '\0';
    size_ = size;
}

// Lines by a scan for line feeds, once; columns count bytes from the line start.
XmlPosition XmlDocument::positionOf(std::uint32_t offset) const
{
    if (lineStarts_.empty()) {
        lineStarts_.push_back(0);
        const char* data = text_.get();
        for (std::size_t at = 0; at < size_;) {
            const void* nl = std::memchr(data + at, '\n', size_ - at);
            if (nl == nullptr) break;
            at = static_cast<std::size_t>(static_cast<const char*>(nl) - data) + 1;
            lineStarts_.push_back(static_cast<std::uint32_t>(at));
        }
    }
    const std::uint32_t to = static_cast<std::uint32_t>(std::min<std::size_t>(offset, size_));
    const auto next = std::upper_bound(lineStarts_.begin(), lineStarts_.end(), to);
    const std::uint32_t lineStart = *(next - 1);
    return XmlPosition{static_cast<unsigned long>(next - lineStarts_.begin()),
                       static_cast<unsigned long>(to - lineStart) + 1};
}

// ---------------------------------------------------------------------------

XmlCursor::XmlCursor(const XmlDocument& doc) : doc_(&doc), tokens_(&doc.tokens()), attrs_(&doc.attributes())
{}

bool XmlCursor::atStart(std::string_view name) const
{
    skipBlank();
    return pos_ < tokens_->size() && (*tokens_)[pos_].kind == TokenKind::Start &&
           sameName((*tokens_)[pos_].name, name);
}

bool XmlCursor::atAnyStart() const
{
    skipBlank();
    return pos_ < tokens_->size() && (*tokens_)[pos_].kind == TokenKind::Start;
}

bool XmlCursor::atClose() const
{
    skipBlank();
    return pos_ < tokens_->size() && (*tokens_)[pos_].kind == TokenKind::End;
}

std::string_view XmlCursor::peekName() const
{
    return atAnyStart() ? (*tokens_)[pos_].name : std::string_view();
}

XmlPosition XmlCursor::position() const
{
    skipBlank();
    return tokens_->empty() ? XmlPosition{} : doc_->positionOf(offset());
}

std::uint32_t XmlCursor::offset() const
{
    skipBlank();
    if (tokens_->empty()) return 0;
    return (*tokens_)[std::min(pos_, tokens_->size() - 1)].offset;
}

std::string XmlCursor::describeNext() const
{
    skipBlank();
    if (pos_ >= tokens_->size()) return "the end of the document";
    const XmlToken& t = (*tokens_)[pos_];
    switch (t.kind) {
        case TokenKind::Start:
            return "<" + std::string(t.name) + ">";
        case TokenKind::End:
            return "</" + std::string(t.name) + ">";
        case TokenKind::Text:
            break;
    }
    return "text";
}

void XmlCursor::fail(const std::string& problem) const
{
    throw XmlError(problem, position());
}

void XmlCursor::failAt(const XmlToken& token, const std::string& problem) const
{
    throw XmlError(problem, doc_->positionOf(token.offset));
}

const XmlToken& XmlCursor::openElement(std::string_view name)
{
    if (!atStart(name)) fail("expected <" + std::string(name) + ">, found " + describeNext());
    return (*tokens_)[pos_++];
}

const XmlToken& XmlCursor::openAny()
{
    skipBlank();
    if (!atAnyStart()) fail("expected an element, found " + describeNext());
    return (*tokens_)[pos_++];
}

void XmlCursor::closeElement(std::string_view name)
{
    skipBlank();
    if (!atClose()) {
        fail("expected </" + std::string(name) + ">, found " + describeNext());
    }
    // expat has checked that tags match; the name check guards codec logic.
    if (!sameName((*tokens_)[pos_].name, name)) {
        fail("expected </" + std::string(name) + ">, found " + describeNext());
    }
    ++pos_;
}

std::string_view XmlCursor::readText(std::string_view elementName)
{
    std::string_view text;
    if (pos_ < tokens_->size() && (*tokens_)[pos_].kind == TokenKind::Text) {
        text = (*tokens_)[pos_].text;
        ++pos_;
    }
    if (!atClose()) {
        fail("<" + std::string(elementName) + "> holds text only, found " + describeNext());
    }
    return text;
}

void XmlCursor::skipElement()
{
    openAny();
    unsigned depth = 1;
    while (depth > 0 && pos_ < tokens_->size()) {
        const XmlToken& t = (*tokens_)[pos_++];
        if (t.kind == TokenKind::Start)
            ++depth;
        else if (t.kind == TokenKind::End)
            --depth;
    }
}

std::size_t XmlCursor::countChildren(std::string_view name) const
{
    std::size_t count = 0;
    long depth = 0;
    for (std::size_t i = pos_; i < tokens_->size(); ++i) {
        const XmlToken& t = (*tokens_)[i];
        if (t.kind == TokenKind::Start) {
            if (depth == 0 && (name.empty() || sameName(t.name, name))) ++count;
            ++depth;
        } else if (t.kind == TokenKind::End) {
            if (--depth < 0) break;
        }
    }
    return count;
}

const XmlAttribute* XmlCursor::findAttribute(const XmlToken& start, std::string_view name) const
{
    for (std::uint32_t i = 0; i < start.attrCount; ++i) {
        const XmlAttribute& a = (*attrs_)[start.firstAttr + i];
        if (sameName(a.name, name)) return &a;
    }
    return nullptr;
}

std::string_view XmlCursor::requireAttribute(const XmlToken& start, std::string_view name) const
{
    const XmlAttribute* a = findAttribute(start, name);
    if (a == nullptr) {
        failAt(start, "<" + std::string(start.name) + "> lacks the attribute " + std::string(name));
    }
    return a->value;
}

}  // namespace cimxml
}  // namespace orv
