// The bounded XML tokenizer: well-formed input, every recorded answer, and
// hostile documents (entity bombs, external entities, depth, sizes).
#include <gtest/gtest.h>

#include <cstring>

#include "sample_files.h"
#include "CimXml/XmlPull.h"

using orv::cimxml::XmlCursor;
using orv::cimxml::XmlDocument;
using orv::cimxml::XmlError;
using orv::cimxml::XmlScratch;

namespace {

// Parses and returns the error, failing the test if there is none.
XmlError parseError(const std::string& text)
{
    try {
        XmlDocument::parse(text);
    } catch (const XmlError& e) {
        return e;
    }
    ADD_FAILURE() << "parsed without error: " << text.substr(0, 200);
    return XmlError("none", {});
}

}  // namespace

TEST(CimClientXmlPull, TokensTextsAndAttributes)
{
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

TEST(CimClientXmlPull, CursorErrorsNameWhatAndWhere)
{
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

TEST(CimClientXmlPull, EveryRecordedBodyParses)
{
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

TEST(CimClientXmlPull, MalformedDocumentsGivePositions)
{
    EXPECT_EQ(parseError("this is not xml").problem(), "malformed XML: syntax error");
    auto e = parseError("<A>\n<B></A>");
    EXPECT_EQ(e.position().line, 2u);
    EXPECT_NE(e.problem().find("mismatched tag"), std::string::npos);
    EXPECT_NE(parseError("<A><B>").problem().find("document ends before its root element is complete"),
              std::string::npos);
    EXPECT_EQ(parseError("").problem(), "empty document");
    EXPECT_NE(parseError("<A>&nosuch;</A>").problem().find("undefined entity"), std::string::npos);
    EXPECT_NE(parseError("<A x='1' x='2'/>").problem().find("duplicate attribute"), std::string::npos);
    EXPECT_NE(parseError(std::string("<A>\xff\xfe</A>")).problem().find("invalid token"), std::string::npos);
    EXPECT_NE(parseError("<A>&#0;</A>").problem().find("reference to invalid character"), std::string::npos);
}

TEST(CimClientXmlPull, DoctypesAreRefusedBeforeAnyEntityIsExpanded)
{
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

TEST(CimClientXmlPull, NestingDepthIsBounded)
{
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

TEST(CimClientXmlPull, SizesAreBounded)
{
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

TEST(CimClientXmlPull, DocumentOutlivesMovesOfItself)
{
    std::vector<XmlDocument> docs;
    for (int i = 0; i < 50; ++i)
        docs.push_back(XmlDocument::parse("<A n=\"" + std::to_string(i) + "\">t</A>"));
    for (int i = 0; i < 50; ++i) {
        XmlCursor c(docs[static_cast<std::size_t>(i)]);
        const auto& a = c.openElement("A");
        EXPECT_EQ(c.requireAttribute(a, "n"), std::to_string(i));
    }
}

namespace {

// A document's tokens in a form two parses can be compared by.
std::string tokensOf(const XmlDocument& d)
{
    std::string out;
    for (const auto& t : d.tokens()) {
        out += std::to_string(static_cast<int>(t.kind)) + "|" + std::string(t.name) + "|" +
               std::string(t.text) + "|" + (t.blank ? "b" : "") + "|" + std::to_string(t.offset) + "|" +
               std::to_string(d.positionOf(t.offset).line) + ":" +
               std::to_string(d.positionOf(t.offset).column);
        for (std::uint32_t i = 0; i < t.attrCount; ++i) {
            const auto& a = d.attributes()[t.firstAttr + i];
            out += "|" + std::string(a.name) + "=" + std::string(a.value);
        }
        out += "\n";
    }
    return out;
}

std::string describe(XmlDocument (*parse)(const char*, std::size_t), const std::string& text)
{
    try {
        return tokensOf(parse(text.data(), text.size()));
    } catch (const XmlError& e) {
        return std::string("error: ") + e.what();
    }
}

void expectSameAsExpat(const std::string& text)
{
    auto mine = [](const char* d, std::size_t n) { return XmlDocument::parse(d, n); };
    ASSERT_EQ(describe(mine, text), describe(&XmlDocument::parseWithExpat, text)) << text.substr(0, 300);
}

}  // namespace

// Documents parsed in turn in the buffers each hands back read as they read
// alone: no text or decoded reference of one shows in the next.
TEST(CimClientXmlPull, RecycledBuffersCarryNothingOver)
{
    const std::string docs[] = {
        "<A v='&lt;x&gt;'>a&amp;b</A>",
        "<A><B v='&quot;a longer value&quot;'>&#65;&#x42; and more text</B><C w='&apos;'/></A>",
        "<A v='plain'>no references</A>",
        "<A v='&lt;x&gt;'>a&amp;b</A>",
    };
    XmlScratch scratch;
    for (const std::string& text : docs) {
        XmlDocument d = XmlDocument::parse(text.data(), text.size(), &scratch);
        EXPECT_EQ(tokensOf(d), tokensOf(XmlDocument::parse(text))) << text;
        d.recycle(scratch);
    }
}

// The scanner that reads the usual documents must agree with expat on every
// document: the same tokens, or the same error (it hands what it does not
// read to expat).
TEST(CimClientXmlPull, ScannerAgreesWithExpat)
{
    const char* const cases[] = {
        "<A/>",
        "<A></A>",
        "<A>  </A>",
        "<A>\n<B/>\n</A>\n",
        "<A>x<B/>y</A>",
        "<A a='1' b=\"2\"/>",
        "<?xml version=\"1.0\"?><A/>",
        "<?xml version='1.0' encoding='UTF-8' ?>\n<A/>",
        "<?xml version=\"1.1\"?><A/>",
        "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><A>\xe9</A>",
        "<?xml version=\"1.0\" standalone=\"yes\"?><A/>",
        " <A/>",
        "\xef\xbb\xbf<A/>",
        "<A/><B/>",
        "<A/>x",
        "<A>&lt;&gt;&amp;&quot;&apos;&#65;&#x42;&#x1F600;</A>",
        "<A v='&#10;&#9;&#13;'>&#13;&#32;</A>",
        "<A>&#0;</A>",
        "<A>&#xD800;</A>",
        "<A>&#X41;</A>",
        "<A>&#;</A>",
        "<A>&#65</A>",
        "<A>&nosuch;</A>",
        "<A>&amp</A>",
        "<A>]]></A>",
        "<A>]]]></A>",
        "<A>]</A>",
        "<A>\x01</A>",
        "<A>\r\n</A>",
        "<A v='a\tb'/>",
        "<A v='a\nb'/>",
        "<A v='<'/>",
        "<A v=\"'\"/>",
        "<A v='\"'/>",
        "<A v=1/>",
        "<A v ='1'/>",
        "<A a='1'b='2'/>",
        "<A a='1' a='2'/>",
        "<A/ >",
        "<A></B>",
        "<A></A >",
        "<A><B></A></B>",
        "<A>",
        "<A><B>",
        "</A>",
        "<A",
        "<A v='1",
        "<A><!-- c --></A>",
        "<A><![CDATA[x]]></A>",
        "<A><?pi x?></A>",
        "<!DOCTYPE A><A/>",
        "<A>\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80</A>",
        "<A>\xc0\x80</A>",
        "<A>\xed\xa0\x80</A>",
        "<A>\xef\xbf\xbe</A>",
        "<A>\xf4\x90\x80\x80</A>",
        "<A>\xe2\x82</A>",
        "<\xc3\xa9/>",
        "<A>x\0y</A>",
        "<A>\n  <B>  t  </B>\n  <C>\n  </C>\n</A>",
        "<a:b-c.d_e x:y='1'/>",
        "<1A/>",
        "<A>x</A>\n\n",
    };
    for (const char* c : cases) expectSameAsExpat(c);
    expectSameAsExpat(std::string("<A>x\0y</A>", 10));

    std::string deep;
    for (unsigned i = 0; i <= orv::cimxml::kMaxDepth; ++i) deep += "<A>";
    expectSameAsExpat(deep);
    std::string many = "<A";
    for (std::size_t i = 0; i <= orv::cimxml::kMaxAttributesPerElement; ++i)
        many += " a" + std::to_string(i) + "='1'";
    expectSameAsExpat(many + "/>");
    expectSameAsExpat("<" + std::string(orv::cimxml::kMaxNameBytes + 1, 'N') + "/>");

    // Every recorded document, whole and cut short and with single bytes changed.
    std::uint32_t seed = 12345;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
    const char kBytes[] = "<>/&;'\"= \n\r\t]x#\0\xc3\xff";
    for (const auto& n : orvtest::sampleNames(".body.xml")) {
        SCOPED_TRACE(n);
        const std::string body = orvtest::sample(n + ".body.xml");
        expectSameAsExpat(body);
        for (int i = 0; i < 40; ++i) {
            std::string m = body;
            m[next() % m.size()] = kBytes[next() % (sizeof kBytes - 1)];
            expectSameAsExpat(m);
            expectSameAsExpat(body.substr(0, next() % body.size()));
        }
    }
}
