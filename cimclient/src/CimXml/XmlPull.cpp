#include "CimXml/XmlPull.h"

#include <expat.h>

#include <climits>
#include <cstring>
#include <utility>

namespace orv {
namespace cimxml {

namespace {

// Upper bound on tokens, so that a document of tiny elements cannot make the
// token list many times larger than the document itself.
constexpr std::size_t kMaxTokens = 8u * 1024u * 1024u;
constexpr std::size_t kBlockBytes = 64u * 1024u;

std::string formatError(const std::string& problem, XmlPosition where) {
    return "CIM-XML error at line " + std::to_string(where.line) + ", column " +
           std::to_string(where.column) + ": " + problem;
}

bool allWhitespace(const std::string& s) {
    for (char c : s) {
        if (c != ' ' && c != '\t' && c != '\n' && c != '\r') return false;
    }
    return true;
}

}  // namespace

XmlError::XmlError(const std::string& problem, XmlPosition where)
    : std::runtime_error(formatError(problem, where)), problem_(problem), where_(where) {}

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

    XmlPosition here() const {
        // expat columns count from 0.
        return XmlPosition{static_cast<unsigned long>(XML_GetCurrentLineNumber(parser)),
                           static_cast<unsigned long>(XML_GetCurrentColumnNumber(parser)) + 1};
    }

    void stop(const std::string& why) {
        if (failed) return;
        failed = true;
        problem = why;
        problemWhere = here();
        XML_StopParser(parser, XML_FALSE);
    }

    std::string_view store(const char* s, std::size_t n) {
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

    bool pushToken(const XmlToken& t) {
        if (doc.tokens_.size() >= kMaxTokens) {
            stop("document has more than " + std::to_string(kMaxTokens) + " elements and texts");
            return false;
        }
        doc.tokens_.push_back(t);
        return true;
    }

    // Emits collected character data.  Whitespace between elements is layout,
    // not content, and is dropped; text inside a leaf element is kept as is.
    void flushText(bool closingLeaf) {
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

    static void XMLCALL onStart(void* ud, const XML_Char* name, const XML_Char** atts) {
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

    static void XMLCALL onEnd(void* ud, const XML_Char*) {
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

    static void XMLCALL onText(void* ud, const XML_Char* s, int len) {
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
    static void XMLCALL onDoctype(void* ud, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<XmlBuilder*>(ud)->stop("a DOCTYPE declaration is not accepted");
    }

    static void XMLCALL onEntityDecl(void* ud, const XML_Char*, int, const XML_Char*, int,
                                     const XML_Char*, const XML_Char*, const XML_Char*,
                                     const XML_Char*) {
        static_cast<XmlBuilder*>(ud)->stop("entity declarations are not accepted");
    }

    static int XMLCALL onExternalEntity(XML_Parser, const XML_Char*, const XML_Char*,
                                        const XML_Char*, const XML_Char*) {
        return XML_STATUS_ERROR;  // never fetch anything
    }
};

XmlDocument::XmlDocument() = default;
XmlDocument::XmlDocument(XmlDocument&&) noexcept = default;
XmlDocument& XmlDocument::operator=(XmlDocument&&) noexcept = default;
XmlDocument::~XmlDocument() = default;

namespace {
struct ParserGuard {
    XML_Parser p;
    ~ParserGuard() {
        if (p != nullptr) XML_ParserFree(p);
    }
};
}  // namespace

XmlDocument XmlDocument::parse(const char* data, std::size_t size) {
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
    doc.tokens_.reserve(size / 12 + 16);
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
    // Lines by a fast scan for line feeds; columns count bytes from the line start.
    unsigned long line = 1;
    std::size_t lineStart = 0, at = 0;
    for (XmlToken& t : doc.tokens_) {
        std::size_t to = t.offset < size ? t.offset : size;
        while (at < to) {
            const void* nl = std::memchr(data + at, '\n', to - at);
            if (nl == nullptr) break;
            ++line;
            at = static_cast<std::size_t>(static_cast<const char*>(nl) - data) + 1;
            lineStart = at;
        }
        at = to > at ? to : at;
        t.where = XmlPosition{line, static_cast<unsigned long>(to - lineStart) + 1};
    }
    return doc;
}

// ---------------------------------------------------------------------------

XmlCursor::XmlCursor(const XmlDocument& doc) : tokens_(&doc.tokens()), attrs_(&doc.attributes()) {
    if (!tokens_->empty()) endPosition_ = tokens_->back().where;
}

bool XmlCursor::atStart(std::string_view name) const {
    skipBlank();
    return pos_ < tokens_->size() && (*tokens_)[pos_].kind == TokenKind::Start &&
           (*tokens_)[pos_].name == name;
}

bool XmlCursor::atAnyStart() const {
    skipBlank();
    return pos_ < tokens_->size() && (*tokens_)[pos_].kind == TokenKind::Start;
}

bool XmlCursor::atClose() const {
    skipBlank();
    return pos_ < tokens_->size() && (*tokens_)[pos_].kind == TokenKind::End;
}

std::string_view XmlCursor::peekName() const {
    return atAnyStart() ? (*tokens_)[pos_].name : std::string_view();
}

XmlPosition XmlCursor::position() const {
    skipBlank();
    return pos_ < tokens_->size() ? (*tokens_)[pos_].where : endPosition_;
}

std::string XmlCursor::describeNext() const {
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

void XmlCursor::fail(const std::string& problem) const {
    throw XmlError(problem, position());
}

void XmlCursor::failAt(const XmlToken& token, const std::string& problem) const {
    throw XmlError(problem, token.where);
}

const XmlToken& XmlCursor::openElement(std::string_view name) {
    if (!atStart(name)) fail("expected <" + std::string(name) + ">, found " + describeNext());
    return (*tokens_)[pos_++];
}

const XmlToken& XmlCursor::openAny() {
    skipBlank();
    if (!atAnyStart()) fail("expected an element, found " + describeNext());
    return (*tokens_)[pos_++];
}

void XmlCursor::closeElement(std::string_view name) {
    skipBlank();
    if (!atClose()) {
        fail("expected </" + std::string(name) + ">, found " + describeNext());
    }
    // expat has checked that tags match; the name check guards codec logic.
    if ((*tokens_)[pos_].name != name) {
        fail("expected </" + std::string(name) + ">, found " + describeNext());
    }
    ++pos_;
}

std::string_view XmlCursor::readText(std::string_view elementName) {
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

void XmlCursor::skipElement() {
    openAny();
    unsigned depth = 1;
    while (depth > 0 && pos_ < tokens_->size()) {
        const XmlToken& t = (*tokens_)[pos_++];
        if (t.kind == TokenKind::Start) ++depth;
        else if (t.kind == TokenKind::End) --depth;
    }
}

std::size_t XmlCursor::countChildren(std::string_view name) const {
    std::size_t count = 0;
    long depth = 0;
    for (std::size_t i = pos_; i < tokens_->size(); ++i) {
        const XmlToken& t = (*tokens_)[i];
        if (t.kind == TokenKind::Start) {
            if (depth == 0 && t.name == name) ++count;
            ++depth;
        } else if (t.kind == TokenKind::End) {
            if (--depth < 0) break;
        }
    }
    return count;
}

const XmlAttribute* XmlCursor::findAttribute(const XmlToken& start, std::string_view name) const {
    for (std::uint32_t i = 0; i < start.attrCount; ++i) {
        const XmlAttribute& a = (*attrs_)[start.firstAttr + i];
        if (a.name == name) return &a;
    }
    return nullptr;
}

std::string_view XmlCursor::requireAttribute(const XmlToken& start, std::string_view name) const {
    const XmlAttribute* a = findAttribute(start, name);
    if (a == nullptr) {
        failAt(start, "<" + std::string(start.name) + "> lacks the attribute " + std::string(name));
    }
    return a->value;
}

}  // namespace cimxml
}  // namespace orv
