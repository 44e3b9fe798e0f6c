// The bounded XML tokenizer: well-formed input, every recorded answer, and
// hostile documents (entity bombs, external entities, depth, sizes).
#include <gtest/gtest.h>

#include "SampleFiles.h"
#include "CimXml/XmlPull.h"

using orv::cimxml::XmlCursor;
using orv::cimxml::XmlDocument;
using orv::cimxml::XmlError;

namespace {

// Parses and returns the error, failing the test if there is none.
XmlError parseError(const std::string& text) {
    try {
        XmlDocument::parse(text);
    } catch (const XmlError& e) {
        return e;
    }
    ADD_FAILURE() << "parsed without error: " << text.substr(0, 200);
    return XmlError("none", {});
}

}  // namespace

TEST(CimClientXmlPull, TokensTextsAndAttributes) {
    auto doc = XmlDocument::parse(
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<A x=\"1 &amp; 2\">\n  <B>a&lt;b&#65;&#x42;</B>\n"
        "  <C/>\n  <D>  </D>\n</A>\n");
    XmlCursor c(doc);
    const auto& a = c.openElement("A");
    EXPECT_EQ(c.requireAttribute(a, "x"), "1 & 2");
    EXPECT_EQ(c.findAttribute(a, "y"), nullptr);
    c.openElement("B");
    EXPECT_EQ(c.readText("B"), "a<bAB");
    c.closeElement("B");
    c.openElement("C");
    EXPECT_EQ(c.readText("C"), "");
    c.closeElement("C");
    c.openElement("D");
    EXPECT_EQ(c.readText("D"), "  ");  // whitespace inside a leaf is content
    c.closeElement("D");
    c.closeElement("A");
    EXPECT_TRUE(c.atEnd());
}

TEST(CimClientXmlPull, CursorErrorsNameWhatAndWhere) {
    auto doc = XmlDocument::parse("<A>\n<B>\n<C/></B></A>");
    XmlCursor c(doc);
    c.openElement("A");
    try {
        c.openElement("X");
        FAIL();
    } catch (const XmlError& e) {
        EXPECT_EQ(e.position().line, 2u);
        EXPECT_EQ(e.position().column, 1u);
        EXPECT_STREQ(e.what(), "CIM-XML error at line 2, column 1: expected <X>, found <B>");
    }
    c.openElement("B");
    try {
        c.readText("B");
        FAIL();
    } catch (const XmlError& e) {
        EXPECT_EQ(e.problem(), "<B> holds text only, found <C>");
        EXPECT_EQ(e.position().line, 3u);
    }
}

TEST(CimClientXmlPull, EveryRecordedBodyParses) {
    auto names = orvtest::sampleNames(".body.xml");
    ASSERT_GE(names.size(), 20u);
    for (const auto& n : names) {
        SCOPED_TRACE(n);
        auto doc = XmlDocument::parse(orvtest::sample(n + ".body.xml"));
        XmlCursor c(doc);
        c.openElement("CIM");
    }
    for (const auto& n : orvtest::sampleNames(".request.xml")) {
        if (n == "Malformed") continue;
        SCOPED_TRACE(n);
        EXPECT_NO_THROW(XmlDocument::parse(orvtest::sample(n + ".request.xml")));
    }
}

TEST(CimClientXmlPull, MalformedDocumentsGivePositions) {
    EXPECT_EQ(parseError("this is not xml").problem(), "malformed XML: syntax error");
    auto e = parseError("<A>\n<B></A>");
    EXPECT_EQ(e.position().line, 2u);
    EXPECT_NE(e.problem().find("mismatched tag"), std::string::npos);
    EXPECT_NE(parseError("<A><B>").problem().find("document ends before its root element is complete"), std::string::npos);
    EXPECT_EQ(parseError("").problem(), "empty document");
    EXPECT_NE(parseError("<A>&nosuch;</A>").problem().find("undefined entity"), std::string::npos);
    EXPECT_NE(parseError("<A x='1' x='2'/>").problem().find("duplicate attribute"), std::string::npos);
    EXPECT_NE(parseError(std::string("<A>\xff\xfe</A>")).problem().find("invalid token"), std::string::npos);
    EXPECT_NE(parseError("<A>&#0;</A>").problem().find("reference to invalid character"), std::string::npos);
}

TEST(CimClientXmlPull, DoctypesAreRefusedBeforeAnyEntityIsExpanded) {
    const std::string billionLaughs =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE lolz [\n <!ENTITY lol \"lol\">\n"
        " <!ENTITY lol2 \"&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;&lol;\">\n"
        " <!ENTITY lol3 \"&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;&lol2;\">\n"
        " <!ENTITY lol4 \"&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;&lol3;\">\n"
        " <!ENTITY lol9 \"&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;&lol4;\">\n"
        "]>\n<CIM>&lol9;</CIM>";
    auto e = parseError(billionLaughs);
    EXPECT_EQ(e.problem(), "a DOCTYPE declaration is not accepted");
    EXPECT_EQ(e.position().line, 2u);

    const std::string xxe =
        "<?xml version=\"1.0\"?>\n<!DOCTYPE CIM [<!ENTITY x SYSTEM \"file:///etc/passwd\">]><CIM>&x;</CIM>";
    EXPECT_EQ(parseError(xxe).problem(), "a DOCTYPE declaration is not accepted");
    const std::string externalDtd = "<!DOCTYPE CIM SYSTEM \"http://127.0.0.1:1/cim.dtd\"><CIM/>";
    EXPECT_EQ(parseError(externalDtd).problem(), "a DOCTYPE declaration is not accepted");
    const std::string paramEntity = "<!DOCTYPE CIM [<!ENTITY % p SYSTEM \"file:///etc/passwd\"> %p;]><CIM/>";
    EXPECT_EQ(parseError(paramEntity).problem(), "a DOCTYPE declaration is not accepted");
}

TEST(CimClientXmlPull, NestingDepthIsBounded) {
    const unsigned limit = orv::cimxml::kMaxDepth;
    std::string ok, deep;
    for (unsigned i = 0; i < limit; ++i) ok += "<A>";
    for (unsigned i = 0; i < limit; ++i) ok += "</A>";
    EXPECT_NO_THROW(XmlDocument::parse(ok));
    for (unsigned i = 0; i < 100000; ++i) deep += "<A>";
    auto e = parseError(deep);
    EXPECT_EQ(e.problem(), "elements nested deeper than " + std::to_string(limit) + " levels");
    EXPECT_EQ(e.position().column, 3u * limit + 1);
}

TEST(CimClientXmlPull, SizesAreBounded) {
    std::string hugeText = "<A>" + std::string(orv::cimxml::kMaxTextBytes + 1, 'x') + "</A>";
    EXPECT_EQ(parseError(hugeText).problem(),
              "text longer than " + std::to_string(orv::cimxml::kMaxTextBytes) + " bytes");
    std::string hugeAttr = "<A v=\"" + std::string(orv::cimxml::kMaxTextBytes + 1, 'x') + "\"/>";
    EXPECT_NE(parseError(hugeAttr).problem().find("attribute value longer"), std::string::npos);
    std::string manyAttrs = "<A";
    for (std::size_t i = 0; i <= orv::cimxml::kMaxAttributesPerElement; ++i) {
        manyAttrs += " a" + std::to_string(i) + "=\"1\"";
    }
    manyAttrs += "/>";
    EXPECT_NE(parseError(manyAttrs).problem().find("attributes"), std::string::npos);
    std::string longName = "<" + std::string(orv::cimxml::kMaxNameBytes + 1, 'N') + "/>";
    EXPECT_NE(parseError(longName).problem().find("element name longer"), std::string::npos);
    // The document size is checked before parsing starts.
    std::string big(orv::cimxml::kMaxDocumentBytes + 1, ' ');
    EXPECT_NE(parseError(big).problem().find("exceeds the limit"), std::string::npos);
}

TEST(CimClientXmlPull, DocumentOutlivesMovesOfItself) {
    std::vector<XmlDocument> docs;
    for (int i = 0; i < 50; ++i) docs.push_back(XmlDocument::parse("<A n=\"" + std::to_string(i) + "\">t</A>"));
    for (int i = 0; i < 50; ++i) {
        XmlCursor c(docs[static_cast<std::size_t>(i)]);
        const auto& a = c.openElement("A");
        EXPECT_EQ(c.requireAttribute(a, "n"), std::to_string(i));
    }
}
