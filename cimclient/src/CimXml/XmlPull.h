// A bounded, XXE-safe XML tokenizer with a pull cursor for the CIM-XML codec.
//
// The document is parsed in one pass into a flat token list (start tags with
// attributes, text, end tags); the codec then walks that list with a
// recursive-descent cursor.  A strict scanner reads the shape CIM-XML answers
// have; whatever it does not know goes through expat.  Nothing of a DTD is ever read: a DOCTYPE is
// refused before its internal subset is looked at, so neither external
// entities nor entity expansion bombs can come in.  Nesting depth, text and
// document sizes are bounded by the constants below.
#ifndef ORV_CIMXML_XMLPULL_H
#define ORV_CIMXML_XMLPULL_H

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace orv {
namespace cimxml {

// Limits on what a peer may send.  A real GetClass of a large DMTF class is
// around 60 KB and 10,000 instance names around 1.4 MB; these leave room for
// large enumerations while keeping a hostile answer from exhausting memory.
constexpr std::size_t kMaxDocumentBytes = 256u * 1024u * 1024u;
constexpr unsigned kMaxDepth = 64;
constexpr std::size_t kMaxTextBytes = 16u * 1024u * 1024u;
constexpr std::size_t kMaxAttributesPerElement = 32;
constexpr std::size_t kMaxNameBytes = 1024;

// Where something went wrong in a document: 1-based line and column.
struct XmlPosition {
    unsigned long line = 0;
    unsigned long column = 0;
};

// A malformed, hostile or unexpected document.  what() names the problem and
// its position ("line 7, column 3: ...").
class XmlError : public std::runtime_error {
public:
    XmlError(const std::string& problem, XmlPosition where);
    const std::string& problem() const { return problem_; }
    XmlPosition position() const { return where_; }

private:
    std::string problem_;
    XmlPosition where_;
};

// A value whose text does not read as its declared type ("300" as a uint8):
// the document is well-formed CIM-XML, the value is wrong, so a server can
// answer CIM_ERR_TYPE_MISMATCH rather than refuse the request.
class XmlValueError : public XmlError {
public:
    using XmlError::XmlError;
};

enum class TokenKind : std::uint8_t { Start, Text, End };

// Element and attribute names are short: compared here, inline, rather than
// by a call to memcmp for every tag of a large answer.
inline bool sameName(std::string_view a, std::string_view b)
{
    const std::size_t n = a.size();
    if (n != b.size()) return false;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t x, y;
        std::memcpy(&x, a.data() + i, 8);
        std::memcpy(&y, b.data() + i, 8);
        if (x != y) return false;
    }
    for (; i < n; ++i) {
        if (a[i] != b[i]) return false;
    }
    return true;
}

struct XmlAttribute {
    std::string_view name;
    std::string_view value;
};

struct XmlToken {
    std::string_view name;  // element name (Start, End)
    std::string_view text;  // character data (Text)
    std::uint32_t firstAttr = 0;
    std::uint32_t attrCount = 0;
    // Byte offset in the document; lines and columns are worked out from it
    // only for an error (a large answer has tens of thousands of tokens).
    std::uint32_t offset = 0;
    TokenKind kind;
    bool blank = false;  // Text of whitespace only
};

// The large buffers of a parse (the token and attribute lists, the copy of the
// text and the mirror that references decode into), handed from one document to the next by a reader of many,
// such as a client connection: a large answer then costs no fresh pages, which a 32-bit process would
// otherwise map and unmap for each one.
struct XmlScratch {
    std::vector<XmlToken> tokens;
    std::vector<XmlAttribute> attrs;
    std::unique_ptr<char[]> text;
    std::size_t textBytes = 0;
    std::unique_ptr<char[]> decoded;
    std::size_t decodedBytes = 0;
};

// The token list of one parsed document.  Views point into storage owned by
// the document, so it must outlive every cursor over it.
class XmlDocument {
public:
    // Parses `size` bytes.  Throws XmlError on malformed or hostile input.
    static XmlDocument parse(const char* data, std::size_t size);
    static XmlDocument parse(std::string_view data) { return parse(data.data(), data.size()); }
    // The same in the buffers of `scratch` (when not null), which recycle()
    // gives back.
    static XmlDocument parse(const char* data, std::size_t size, XmlScratch* scratch);
    // The same through expat alone.  parse() reads the usual shape of CIM-XML
    // with a strict scanner of its own and hands anything else to expat, so
    // both must give the same tokens or the same error; tests compare them.
    static XmlDocument parseWithExpat(const char* data, std::size_t size);

    XmlDocument(XmlDocument&&) noexcept;
    XmlDocument& operator=(XmlDocument&&) noexcept;
    XmlDocument(const XmlDocument&) = delete;
    XmlDocument& operator=(const XmlDocument&) = delete;
    ~XmlDocument();

    const std::vector<XmlToken>& tokens() const { return tokens_; }
    const std::vector<XmlAttribute>& attributes() const { return attrs_; }

    // Hands this document's large buffers to `scratch` for the next parse,
    // as long as they are not too large to keep; the document is empty after.
    void recycle(XmlScratch& scratch);

    // Line and column of a byte offset in the document.
    XmlPosition positionOf(std::uint32_t offset) const;

private:
    XmlDocument();
    friend struct XmlBuilder;
    friend class FastScanner;
    void keepText(const char* data, std::size_t size);
    std::vector<XmlToken> tokens_;
    std::vector<XmlAttribute> attrs_;
    // The text as it came (the scanner's views point into it), and what the
    // scanner decoded at the same offsets.
    std::unique_ptr<char[]> text_;
    std::size_t textBytes_ = 0;
    std::size_t size_ = 0;
    std::unique_ptr<char[]> decoded_;
    std::size_t decodedBytes_ = 0;
    // Offsets at which lines start, found when a position is first asked for.
    mutable std::vector<std::uint32_t> lineStarts_;
    // Storage behind the views: fixed blocks that never move.
    std::vector<std::unique_ptr<char[]>> blocks_;
};

// Recursive-descent access to a document's tokens.  Text tokens that hold only
// whitespace between elements are dropped at parse time, so an element with
// children has none, and a leaf has at most one text token.  Whitespace text
// in an empty element is stepped over wherever an element or an end tag is
// expected, and read as text by readText.
class XmlCursor {
public:
    explicit XmlCursor(const XmlDocument& doc);

    bool atEnd() const
    {
        skipBlank();
        return pos_ >= tokens_->size();
    }
    // True when the next token opens an element named `name`.
    bool atStart(std::string_view name) const;
    // True when the next token opens any element.
    bool atAnyStart() const;
    // True when the next token closes the current element.
    bool atClose() const;
    // Name of the element the next token opens ("" when it does not open one).
    std::string_view peekName() const;
    XmlPosition position() const;
    XmlPosition positionOf(const XmlToken& token) const { return doc_->positionOf(token.offset); }
    // Where the next token starts, for positionAt once something fails.
    std::uint32_t offset() const;
    XmlPosition positionAt(std::uint32_t offset) const { return doc_->positionOf(offset); }

    // Consumes the start tag of `name`, or throws naming what was found.
    const XmlToken& openElement(std::string_view name);
    // Consumes any start tag.
    const XmlToken& openAny();
    // Consumes the end tag of `name`, or throws.
    void closeElement(std::string_view name);
    // Consumes the text of a leaf element, up to but not including its end tag
    // ("" when it has none).  Throws if a child element follows.
    std::string_view readText(std::string_view elementName);
    // Skips one whole element (start tag to its end tag).
    void skipElement();
    // How many child elements named `name` (of any name when it is empty) the
    // current element has from here on (to size results before they are filled).
    std::size_t countChildren(std::string_view name = {}) const;

    // Attributes of a start token.
    const XmlAttribute* findAttribute(const XmlToken& start, std::string_view name) const;
    std::string_view requireAttribute(const XmlToken& start, std::string_view name) const;

    [[noreturn]] void fail(const std::string& problem) const;
    [[noreturn]] void failAt(const XmlToken& token, const std::string& problem) const;

private:
    std::string describeNext() const;
    // Steps over whitespace-only text where elements are expected (the
    // layout inside an element such as <PROPERTY> that has no value).
    void skipBlank() const
    {
        while (pos_ < tokens_->size() && (*tokens_)[pos_].blank) ++pos_;
    }
    const XmlDocument* doc_;
    const std::vector<XmlToken>* tokens_;
    const std::vector<XmlAttribute>* attrs_;
    mutable std::size_t pos_ = 0;
};

}  // namespace cimxml
}  // namespace orv

#endif
