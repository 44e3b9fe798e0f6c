// Object path text in both directions: the forms the bridge writes, what
// OpenPegasus prints, and the texts that must be refused.
#include <Pegasus/Common/CIMObjectPath.h>
#include <Pegasus/Common/CIMValue.h>
#include <Pegasus/Common/Exception.h>
#include <gtest/gtest.h>
#include <string>
#include "pegasus_text.h"

PEGASUS_USING_PEGASUS;
using orvtest::str;

namespace {
std::string roundTrip(const char* text)
{
    return str(CIMObjectPath(text).toString());
}

// The message of the MalformedObjectNameException that text raises.
std::string malformedMessage(const std::string& text)
{
    try {
        CIMObjectPath p{String(text.c_str())};
    } catch (const MalformedObjectNameException& e) {
        return str(e.getMessage());
    } catch (const Exception& e) {
        return "other exception: " + str(e.getMessage());
    }
    return "accepted";
}

std::string reason(const std::string& text)
{
    const std::string m = malformedMessage(text);
    const std::string prefix = "malformed object name: " + text + ", reason:\"";
    if (m.compare(0, prefix.size(), prefix) != 0 || m.back() != '"') return "unexpected message: " + m;
    return m.substr(prefix.size(), m.size() - prefix.size() - 1);
}
}  // namespace

TEST(ObjectPathText, BridgeFormParsesAndPrintsSorted)
{
    CIMObjectPath p(String("CIM_Foo.Name=\"abc\",Id=5"));
    EXPECT_EQ(str(p.getClassName().getString()), "CIM_Foo");
    EXPECT_TRUE(p.getNameSpace().isNull());
    EXPECT_EQ(str(p.getHost()), "");
    const Array<CIMKeyBinding>& keys = p.getKeyBindings();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(str(keys[0].getName().getString()), "Id");
    EXPECT_EQ(keys[0].getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(str(keys[0].getValue()), "5");
    EXPECT_EQ(str(keys[1].getName().getString()), "Name");
    EXPECT_EQ(keys[1].getType(), CIMKeyBinding::STRING);
    EXPECT_EQ(str(keys[1].getValue()), "abc");
    EXPECT_EQ(str(p.toString()), "CIM_Foo.Id=5,Name=\"abc\"");
}

TEST(ObjectPathText, KeyOrderIgnoresCase)
{
    EXPECT_EQ(roundTrip("A.b=1,C=2,a=3"), "A.a=3,b=1,C=2");
}

TEST(ObjectPathText, BareClassNameAndClassWithNamespace)
{
    EXPECT_EQ(roundTrip("CIM_Foo"), "CIM_Foo");
    CIMObjectPath p(String("root/cimv2:CIM_Foo"));
    EXPECT_EQ(str(p.getNameSpace().getString()), "root/cimv2");
    EXPECT_EQ(str(p.toString()), "root/cimv2:CIM_Foo");
    // A leading '/' of a namespace is dropped.
    EXPECT_EQ(roundTrip("/root/cimv2:A.k=1"), "root/cimv2:A.k=1");
}

TEST(ObjectPathText, HostForms)
{
    EXPECT_EQ(roundTrip("//myhost:5988/root/cimv2:CIM_Foo.Name=\"abc\",Id=5"),
              "//myhost:5988/root/cimv2:CIM_Foo.Id=5,Name=\"abc\"");
    EXPECT_EQ(roundTrip("//host.example.com/root:A"), "//host.example.com/root:A");
    EXPECT_EQ(roundTrip("//10.1.2.3:5989/root:A"), "//10.1.2.3:5989/root:A");
    EXPECT_EQ(roundTrip("//[::1]:5988/root:A"), "//[::1]:5988/root:A");
    EXPECT_EQ(roundTrip("//under_score/root:A"), "//under_score/root:A");
    EXPECT_EQ(CIMObjectPath(String("//HOST/root:A")), CIMObjectPath(String("//host/root:A")));
}

TEST(ObjectPathText, BadHostsAreRefused)
{
    EXPECT_EQ(reason("//myhost:A"), "missing slash after hostname");
    EXPECT_EQ(reason("//myhost/A"), "host specified, missing namespace");
    EXPECT_EQ(reason("//bad host/root:A"), "invalid hostname");
    EXPECT_EQ(reason("//1.2.3/root:A"), "invalid hostname");
    EXPECT_EQ(reason("//host:99999/root:A"), "invalid hostname");
    EXPECT_EQ(reason("//host:/root:A"), "invalid hostname");
    EXPECT_EQ(reason("//-host/root:A"), "invalid hostname");
    EXPECT_EQ(reason("///root:A"), "invalid hostname");
    EXPECT_THROW(CIMObjectPath(String("bad host"), CIMNamespaceName("root"), CIMName("A")),
                 MalformedObjectNameException);
}

TEST(ObjectPathText, ColonInsideKeyValueIsNotANamespace)
{
    CIMObjectPath p(String("A.k=\"x:y\""));
    EXPECT_TRUE(p.getNameSpace().isNull());
    EXPECT_EQ(str(p.getKeyBindings()[0].getValue()), "x:y");
    EXPECT_EQ(str(p.toString()), "A.k=\"x:y\"");
}

TEST(ObjectPathText, EscapesBothDirections)
{
    CIMObjectPath p(String("X.k=\"a\\\"b\\\\c\""));
    EXPECT_EQ(str(p.getKeyBindings()[0].getValue()), "a\"b\\c");
    EXPECT_EQ(str(p.toString()), "X.k=\"a\\\"b\\\\c\"");

    Array<CIMKeyBinding> keys;
    keys.append(CIMKeyBinding(CIMName("k"), String("say \"hi\" \\ bye"), CIMKeyBinding::STRING));
    CIMObjectPath built(String(), CIMNamespaceName(), CIMName("X"), keys);
    EXPECT_EQ(str(built.toString()), "X.k=\"say \\\"hi\\\" \\\\ bye\"");
    EXPECT_EQ(CIMObjectPath(built.toString()), built);
    EXPECT_EQ(str(CIMObjectPath(built.toString()).getKeyBindings()[0].getValue()), "say \"hi\" \\ bye");
}

TEST(ObjectPathText, UnescapedQuoteFromTheBridgeIsRefused)
{
    // The bridge writes string values without escaping; a quote inside one
    // ends the value early and what follows is not a key binding.
    EXPECT_EQ(reason("X.k=\"a\"b\""), "invalid key-value pair, next key-value pair has to start with comma");
    EXPECT_EQ(reason("X.k=\"a\\b\""), "invalid key-value pair, malformed value");
    EXPECT_EQ(reason("X.k=\"abc"), "invalid key-value pair, missing quote in key value");
    EXPECT_EQ(reason("X.k=\"abc\\"), "invalid key-value pair, malformed value");
}

TEST(ObjectPathText, ReferenceInsideAKey)
{
    CIMObjectPath p(String("A.ref=\"B.id=1,name=\\\"x\\\"\",n=2"));
    const Array<CIMKeyBinding>& keys = p.getKeyBindings();
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(str(keys[0].getName().getString()), "n");
    EXPECT_EQ(keys[1].getType(), CIMKeyBinding::REFERENCE);
    EXPECT_EQ(str(keys[1].getValue()), "B.id=1,name=\"x\"");
    EXPECT_EQ(str(p.toString()), "A.n=2,ref=\"B.id=1,name=\\\"x\\\"\"");

    // The keys of a referenced path are sorted as well.
    CIMObjectPath q(String("A.r=\"root:B.z=1,a=2\""));
    EXPECT_EQ(str(q.getKeyBindings()[0].getValue()), "root:B.a=2,z=1");

    // Quoted text that is not a path with keys stays a string.
    EXPECT_EQ(CIMObjectPath(String("A.k=\"x=y\"")).getKeyBindings()[0].getType(), CIMKeyBinding::STRING);
    EXPECT_EQ(CIMObjectPath(String("A.k=\"B\"")).getKeyBindings()[0].getType(), CIMKeyBinding::STRING);

    // Two levels deep, and back.
    const char* deep = "A.r=\"B.s=\\\"C.t=\\\\\\\"v\\\\\\\"\\\"\"";
    CIMObjectPath d{String(deep)};
    EXPECT_EQ(d.getKeyBindings()[0].getType(), CIMKeyBinding::REFERENCE);
    EXPECT_EQ(str(d.getKeyBindings()[0].getValue()), "B.s=\"C.t=\\\"v\\\"\"");
    EXPECT_EQ(str(d.toString()), deep);
}

TEST(ObjectPathText, BooleansAndNumbersAreBare)
{
    CIMObjectPath p(String("A.b=true,f=False,n=-5,h=0x1F,u=18446744073709551615"));
    const Array<CIMKeyBinding>& k = p.getKeyBindings();
    EXPECT_EQ(k[0].getType(), CIMKeyBinding::BOOLEAN);
    EXPECT_EQ(str(k[0].getValue()), "TRUE");
    EXPECT_EQ(str(k[1].getValue()), "FALSE");
    EXPECT_EQ(k[2].getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(str(p.toString()), "A.b=TRUE,f=FALSE,h=0x1F,n=-5,u=18446744073709551615");
    EXPECT_EQ(roundTrip("A.n=-9223372036854775808"), "A.n=-9223372036854775808");
    EXPECT_EQ(roundTrip("A.n=0"), "A.n=0");
}

TEST(ObjectPathText, BadValuesAreRefused)
{
    EXPECT_EQ(reason("A.b=tru"), "invalid key-value pair, value should be TRUE or FALSE");
    EXPECT_EQ(reason("A.b=TRUEX"), "invalid key-value pair, value should be TRUE or FALSE");
    EXPECT_EQ(reason("A.n=18446744073709551616"),
              "invalid key-value pair, invalid number value 18446744073709551616");
    EXPECT_EQ(reason("A.n=007"), "invalid key-value pair, invalid number value 007");
    EXPECT_EQ(reason("A.n=1.5"), "invalid key-value pair, invalid number value 1.5");
    EXPECT_EQ(reason("A.n=+5"), "invalid key-value pair, invalid number value +5");
    EXPECT_EQ(reason("A.n="), "invalid key-value pair, invalid number value ");
    EXPECT_EQ(reason("A.n=0x"), "invalid key-value pair, invalid number value 0x");
    EXPECT_EQ(reason("A.n=-9223372036854775809"),
              "invalid key-value pair, invalid negative number value -9223372036854775809");
    EXPECT_EQ(reason("A.n=abc"), "invalid key-value pair, invalid number value abc");
}

TEST(ObjectPathText, BadNamesAreRefused)
{
    EXPECT_EQ(reason(""), "class name  not a legal CIM name");
    EXPECT_EQ(reason("1abc"), "class name 1abc not a legal CIM name");
    EXPECT_EQ(reason("A B.k=1"), "class name A B not a legal CIM name");
    EXPECT_EQ(reason(".k=1"), "class name  not a legal CIM name");
    EXPECT_EQ(reason("root//x:A"), "invalid namespace name");
    EXPECT_EQ(reason("root/:A"), "invalid namespace name");
    EXPECT_EQ(reason(":A"), "invalid namespace name");
    EXPECT_EQ(reason("A.k"), "invalid key-value pair, missing equal sign");
    EXPECT_EQ(reason("A.1k=1"), "invalid key-value pair, invalid key name:1k");
    EXPECT_EQ(reason("A.=1"), "invalid key-value pair, invalid key name:");
    EXPECT_EQ(reason("A.k=1,,j=2"), "invalid key-value pair, invalid key name:,j");
}

TEST(ObjectPathText, NulCharacterIsRefused)
{
    String s("A.k=\"x");
    s.append(Char16(0));
    s.append(String("y\""));
    EXPECT_THROW(CIMObjectPath{s}, MalformedObjectNameException);
}

TEST(ObjectPathText, FailedSetLeavesPathUnchanged)
{
    CIMObjectPath p(String("root:A.k=1"));
    EXPECT_THROW(p.set(String("A.k=\"open")), MalformedObjectNameException);
    EXPECT_EQ(str(p.toString()), "root:A.k=1");
}

TEST(ObjectPathText, NonAsciiTextSurvives)
{
    const char* text = "root:Caf\xC3\xA9.k=\"\xE2\x82\xAC \xF0\x9D\x84\x9E\"";
    EXPECT_EQ(roundTrip(text), text);
    CIMObjectPath p{String(text)};
    EXPECT_EQ(p.getKeyBindings()[0].getValue().size(), 4u);  // euro, space, surrogate pair
}

TEST(ObjectPathText, TrailingDotOrCommaReadsAsTheReferenceDoes)
{
    // OpenPegasus accepts these; so do we, so that both libraries agree.
    EXPECT_EQ(roundTrip("A."), "A");
    EXPECT_EQ(roundTrip("A.k=1,"), "A.k=1");
}

TEST(ObjectPathCompare, CaseRules)
{
    // Names, namespaces and hosts compare without case; string values with case.
    EXPECT_EQ(CIMObjectPath(String("root/CIMV2:a.KEY=\"v\"")),
              CIMObjectPath(String("ROOT/cimv2:A.key=\"v\"")));
    EXPECT_NE(CIMObjectPath(String("A.k=\"v\"")), CIMObjectPath(String("A.k=\"V\"")));
    EXPECT_EQ(CIMObjectPath(String("A.n=10")), CIMObjectPath(String("A.n=0xA")));
    EXPECT_EQ(CIMObjectPath(String("A.b=true")), CIMObjectPath(String("A.b=TRUE")));
    EXPECT_NE(CIMObjectPath(String("A.n=1")), CIMObjectPath(String("A.n=\"1\"")));
    EXPECT_EQ(CIMObjectPath(String("A.r=\"B.y=1,x=2\"")), CIMObjectPath(String("A.r=\"b.X=2,Y=1\"")));
    EXPECT_NE(CIMObjectPath(String("root:A.k=1")), CIMObjectPath(String("A.k=1")));
    EXPECT_EQ(CIMObjectPath(String("A.n=10")).makeHashCode(),
              CIMObjectPath(String("a.N=0xA")).makeHashCode());
    // Class names keep the case they were given.
    EXPECT_EQ(roundTrip("cim_FOO.Key=1"), "cim_FOO.Key=1");
}

TEST(KeyBindingFromValue, TypesMapToTheTextForm)
{
    EXPECT_EQ(CIMKeyBinding(CIMName("k"), CIMValue(Uint32(5))).getType(), CIMKeyBinding::NUMERIC);
    EXPECT_EQ(str(CIMKeyBinding(CIMName("k"), CIMValue(Sint8(-3))).getValue()), "-3");
    CIMKeyBinding b(CIMName("k"), CIMValue(true));
    EXPECT_EQ(b.getType(), CIMKeyBinding::BOOLEAN);
    EXPECT_EQ(str(b.getValue()), "TRUE");
    EXPECT_EQ(CIMKeyBinding(CIMName("k"), CIMValue(String("s"))).getType(), CIMKeyBinding::STRING);
    EXPECT_EQ(CIMKeyBinding(CIMName("k"), CIMValue(Char16('c'))).getType(), CIMKeyBinding::STRING);
    CIMKeyBinding r(CIMName("k"), CIMValue(CIMObjectPath(String("B.x=1"))));
    EXPECT_EQ(r.getType(), CIMKeyBinding::REFERENCE);
    EXPECT_EQ(str(r.getValue()), "B.x=1");
    EXPECT_THROW(CIMKeyBinding(CIMName("k"), CIMValue(Array<Uint32>(2, 1))), TypeMismatchException);

    CIMKeyBinding n(CIMName("k"), String("0x10"), CIMKeyBinding::NUMERIC);
    EXPECT_TRUE(n.equal(CIMValue(Uint16(16))));
    EXPECT_FALSE(n.equal(CIMValue(String("0x10"))));
}

TEST(ObjectPathBuild, ReferenceKeyWithBadTextIsRefused)
{
    Array<CIMKeyBinding> keys;
    keys.append(CIMKeyBinding(CIMName("r"), String("not a path"), CIMKeyBinding::REFERENCE));
    EXPECT_THROW(CIMObjectPath(String(), CIMNamespaceName(), CIMName("A"), keys),
                 MalformedObjectNameException);
}

TEST(ObjectPathBuild, PrintsWhatWasSet)
{
    Array<CIMKeyBinding> keys;
    keys.append(CIMKeyBinding(CIMName("Name"), String("x"), CIMKeyBinding::STRING));
    keys.append(CIMKeyBinding(CIMName("CreationClassName"), String("C"), CIMKeyBinding::STRING));
    CIMObjectPath p(String("h"), CIMNamespaceName("root/cimv2"), CIMName("C"), keys);
    EXPECT_EQ(str(p.toString()), "//h/root/cimv2:C.CreationClassName=\"C\",Name=\"x\"");
    p.setNameSpace(CIMNamespaceName());
    p.setHost(String());
    EXPECT_EQ(str(p.toString()), "C.CreationClassName=\"C\",Name=\"x\"");
    p.setKeyBindings(Array<CIMKeyBinding>());
    EXPECT_EQ(str(p.toString()), "C");
}
