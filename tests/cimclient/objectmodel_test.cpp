// Strings, names, values and the object classes: the places where type
// dispatch, text conversion and sharing go wrong.
#include <Pegasus/Common/CIMClass.h>
#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Common/CIMName.h>
#include <Pegasus/Common/CIMParamValue.h>
#include <Pegasus/Common/CIMPropertyList.h>
#include <Pegasus/Common/CIMValue.h>
#include <Pegasus/Common/Exception.h>
#include <Pegasus/Common/OperationContext.h>
#include <gtest/gtest.h>
#include <cctype>
#include <cmath>
#include <limits>
#include <string>
#include "pegasus_text.h"

PEGASUS_USING_PEGASUS;
using orvtest::str;

namespace {
template <class T>
void expectRoundTrip(const T& x, CIMType type)
{
    CIMValue v(x);
    EXPECT_EQ(v.getType(), type) << cimTypeToString(type);
    EXPECT_FALSE(v.isArray());
    EXPECT_FALSE(v.isNull());
    T out;
    v.get(out);
    EXPECT_TRUE(out == x) << cimTypeToString(type);

    Array<T> a;
    a.append(x);
    a.append(x);
    CIMValue va(a);
    EXPECT_EQ(va.getType(), type);
    EXPECT_TRUE(va.isArray());
    EXPECT_EQ(va.getArraySize(), 2u);
    Array<T> outArray;
    va.get(outArray);
    EXPECT_EQ(outArray.size(), 2u);
    // The scalar getter refuses the array and the array getter the scalar.
    EXPECT_THROW(va.get(out), TypeMismatchException) << cimTypeToString(type);
    EXPECT_THROW(v.get(outArray), TypeMismatchException) << cimTypeToString(type);
}

class Named : public OperationContext::Container {
public:
    Named(const char* name, int value) : _name(name), value(value) {}
    String getName() const override { return String(_name); }
    Container* clone() const override { return new Named(_name, value); }
    void destroy() override { delete this; }

private:
    const char* _name;

public:
    int value;
};
}  // namespace

// ---------------------------------------------------------------------------
// String

TEST(StringText, Utf8RoundTripsThroughUtf16)
{
    const char* text = "h\xC3\xA9llo \xE2\x82\xAC \xF0\x9D\x84\x9E";  // e-acute, euro, G clef
    String s(text);
    EXPECT_EQ(s.size(), 10u);
    EXPECT_EQ(Uint16(s[1]), 0x00E9);
    EXPECT_EQ(Uint16(s[6]), 0x20AC);
    EXPECT_EQ(Uint16(s[8]), 0xD834);
    EXPECT_EQ(Uint16(s[9]), 0xDD1E);
    EXPECT_EQ(str(s), text);
    EXPECT_EQ(str(String(s.getChar16Data(), s.size())), text);
}

TEST(StringText, InvalidUtf8IsRefusedWithItsPosition)
{
    const char* bad[] = {"ab\xC3", "ab\xC0\xAF", "ab\xED\xA0\x80", "ab\xF4\x90\x80\x80", "ab\xFF",
                         "ab\x80", "ab\xE2\x82", "ab\xE2\x28\xA1", "ab\xF0\x82\x82\xAC"};
    for (const char* b : bad) {
        try {
            String s(b);
            ADD_FAILURE() << "accepted invalid UTF-8";
        } catch (const Exception& e) {
            EXPECT_NE(str(e.getMessage()).find("index 2"), std::string::npos) << str(e.getMessage());
        }
    }
    String kept("keep");
    EXPECT_THROW(kept.append("x\xFF", 2), Exception);
    EXPECT_EQ(str(kept), "keep");
    EXPECT_THROW(String(static_cast<const char*>(nullptr)), Exception);
}

TEST(StringText, LoneSurrogatesBecomeReplacementCharacters)
{
    String s;
    s.append(Char16(0xD800));
    s.append(Char16('x'));
    s.append(Char16(0xDC00));
    EXPECT_EQ(str(s), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(StringText, EditingAndBounds)
{
    String s("Hello World");
    EXPECT_EQ(s.find(Char16('o')), 4u);
    EXPECT_EQ(s.find(5, Char16('o')), 7u);
    EXPECT_EQ(s.find(String("World")), 6u);
    EXPECT_EQ(s.find(String("world")), PEG_NOT_FOUND);
    EXPECT_EQ(str(s.subString(6)), "World");
    EXPECT_EQ(str(s.subString(6, 100)), "World");
    EXPECT_EQ(str(s.subString(100)), "");
    EXPECT_TRUE(String::equalNoCase(s, String("hello world")));
    EXPECT_FALSE(String::equal(s, String("hello world")));
    EXPECT_LT(String::compareNoCase(String("abc"), String("ABD")), 0);
    EXPECT_THROW(s[11], IndexOutOfBoundsException);
    EXPECT_THROW(s.remove(5, 7), IndexOutOfBoundsException);
    s.remove(5);
    EXPECT_EQ(str(s), "Hello");
    s.append(s);
    EXPECT_EQ(str(s), "HelloHello");
    EXPECT_TRUE(String("a") < String("b"));
    EXPECT_TRUE(String("x") == "x");
    EXPECT_EQ(str(String("ab") + String("cd")), "abcd");
}

// An empty String holds no storage until text comes; one emptied by editing
// keeps its storage.  Both must behave as the same "".
TEST(StringText, EmptyStringsAgreeHoweverMade)
{
    String fresh;
    String emptied("abc");
    emptied.remove(0);
    String cleared("xyz");
    cleared.clear();
    const String* all[] = {&fresh, &emptied, &cleared, &String::EMPTY};
    for (const String* a : all) {
        EXPECT_EQ(a->size(), 0u);
        ASSERT_NE(a->getChar16Data(), nullptr);
        EXPECT_EQ(Uint16(a->getChar16Data()[0]), 0);
        EXPECT_EQ(str(*a), "");
        EXPECT_THROW((*a)[0], IndexOutOfBoundsException);
        for (const String* b : all) {
            EXPECT_TRUE(*a == *b);
            EXPECT_TRUE(String::equalNoCase(*a, *b));
            EXPECT_EQ(String::compare(*a, *b), 0);
        }
        EXPECT_FALSE(*a == String("a"));
        EXPECT_TRUE(*a == "");
    }
    // Bad UTF-8 leaves an empty String empty and usable.
    EXPECT_THROW(fresh.append("\xC3", 1), Exception);
    EXPECT_EQ(fresh.size(), 0u);
    fresh.append(Char16('q'));
    EXPECT_EQ(str(fresh), "q");
    cleared.append("\xC3\xA9t\xC3\xA9", 5);
    EXPECT_EQ(cleared.size(), 3u);
    EXPECT_EQ(str(cleared), "\xC3\xA9t\xC3\xA9");
    String copy(emptied);
    copy.append(String("de"));
    EXPECT_EQ(str(copy), "de");
    EXPECT_EQ(emptied.size(), 0u);
    EXPECT_EQ(str(String(fresh, 0)), "");
    EXPECT_EQ(str(String().subString(0)), "");
    EXPECT_EQ(String().find(Char16('a')), PEG_NOT_FOUND);
    EXPECT_EQ(String("abc").find(String()), 0u);
}

// ---------------------------------------------------------------------------
// Names

TEST(Names, Legality)
{
    for (const char* good : {"A", "_x", "CIM_Foo9", "a_b_c", "Caf\xC3\xA9", "\xC3\xA9t\xC3\xA9"})
        EXPECT_TRUE(CIMName::legal(String(good))) << good;
    for (const char* bad : {"", "1a", "a-b", "a b", "a.b", "a:b", "a\"", "\xEF\xBF\xB0x"})
        EXPECT_FALSE(CIMName::legal(String(bad))) << bad;
    try {
        CIMName n("1a");
        ADD_FAILURE();
    } catch (const InvalidNameException& e) {
        EXPECT_EQ(str(e.getMessage()), "The CIM name is not valid: 1a");
    }
    EXPECT_THROW(CIMName(String("")), InvalidNameException);
    CIMName n;
    EXPECT_TRUE(n.isNull());
    EXPECT_THROW(n = "a b", InvalidNameException);
    EXPECT_TRUE(n.isNull());
}

TEST(Names, CaseInsensitiveEquality)
{
    EXPECT_EQ(CIMName("CIM_Foo"), CIMName("cim_foo"));
    EXPECT_TRUE(CIMName("Name") == "NAME");
    EXPECT_NE(CIMName("Name"), CIMName("Names"));
    EXPECT_EQ(str(CIMName("CiM").getString()), "CiM");
}

TEST(Names, Namespaces)
{
    EXPECT_EQ(str(CIMNamespaceName("/root/cimv2").getString()), "root/cimv2");
    EXPECT_EQ(CIMNamespaceName("root/CIMV2"), CIMNamespaceName("ROOT/cimv2"));
    for (const char* bad : {"", "/", "root/", "root//x", "1root", "root/a b", "//root"})
        EXPECT_THROW(CIMNamespaceName{bad}, InvalidNamespaceNameException) << bad;
    try {
        CIMNamespaceName ns("root/");
        ADD_FAILURE();
    } catch (const InvalidNamespaceNameException& e) {
        EXPECT_EQ(str(e.getMessage()), "invalid CIM namespace name: root/");
    }
}

// ---------------------------------------------------------------------------
// Values

TEST(Values, EveryTypeDispatchesToItsOwnGetter)
{
    expectRoundTrip(Boolean(true), CIMTYPE_BOOLEAN);
    expectRoundTrip(Uint8(200), CIMTYPE_UINT8);
    expectRoundTrip(Sint8(-56), CIMTYPE_SINT8);
    expectRoundTrip(Uint16(65535), CIMTYPE_UINT16);
    expectRoundTrip(Sint16(-32768), CIMTYPE_SINT16);
    expectRoundTrip(Uint32(4294967295u), CIMTYPE_UINT32);
    expectRoundTrip(Sint32(-2147483647 - 1), CIMTYPE_SINT32);
    expectRoundTrip(Uint64(18446744073709551615ULL), CIMTYPE_UINT64);
    expectRoundTrip(Sint64(std::numeric_limits<Sint64>::min()), CIMTYPE_SINT64);
    expectRoundTrip(Real32(1.5f), CIMTYPE_REAL32);
    expectRoundTrip(Real64(-2.25), CIMTYPE_REAL64);
    expectRoundTrip(Char16(0x263A), CIMTYPE_CHAR16);
    expectRoundTrip(String("text"), CIMTYPE_STRING);
    expectRoundTrip(CIMDateTime(String("20261207041311.000000+000")), CIMTYPE_DATETIME);
    expectRoundTrip(CIMObjectPath(String("A.k=1")), CIMTYPE_REFERENCE);
}

TEST(Values, NeighbouringTypesDoNotMix)
{
    CIMValue u32(Uint32(5));
    Sint32 s32 = 7;
    Uint64 u64 = 7;
    Uint16 u16 = 7;
    EXPECT_THROW(u32.get(s32), TypeMismatchException);
    EXPECT_THROW(u32.get(u64), TypeMismatchException);
    EXPECT_THROW(u32.get(u16), TypeMismatchException);
    EXPECT_EQ(s32, 7);
    CIMValue s(String("5"));
    Char16 c;
    EXPECT_THROW(s.get(c), TypeMismatchException);
    CIMDateTime d;
    EXPECT_THROW(s.get(d), TypeMismatchException);
    try {
        u32.get(s32);
    } catch (const TypeMismatchException& e) {
        EXPECT_EQ(str(e.getMessage()), "type mismatch: value of type uint32 read as sint32");
    }
}

TEST(Values, CharPointerPicksTheBooleanConstructor)
{
    CIMValue v("a");
    EXPECT_EQ(v.getType(), CIMTYPE_BOOLEAN);
}

TEST(Values, NullValuesKeepTheirType)
{
    CIMValue v(CIMTYPE_STRING, true);
    EXPECT_TRUE(v.isNull());
    EXPECT_TRUE(v.isArray());
    EXPECT_EQ(v.getType(), CIMTYPE_STRING);
    EXPECT_EQ(v.getArraySize(), 0u);
    Array<String> untouched;
    untouched.append(String("keep"));
    v.get(untouched);
    ASSERT_EQ(untouched.size(), 1u);
    EXPECT_EQ(str(untouched[0]), "keep");
    String scalar;
    EXPECT_THROW(v.get(scalar), TypeMismatchException);
    EXPECT_EQ(str(v.toString()), "");

    CIMValue empty(Array<String>{});
    EXPECT_FALSE(empty.isNull());
    EXPECT_EQ(empty.getArraySize(), 0u);
    EXPECT_NE(empty, v);

    CIMValue def;
    EXPECT_TRUE(def.isNull());
    EXPECT_EQ(def.getType(), CIMTYPE_BOOLEAN);
    def.set(Uint8(3));
    EXPECT_FALSE(def.isNull());
    def.setNullValue(CIMTYPE_REFERENCE, false);
    EXPECT_TRUE(def.isNull());
    EXPECT_EQ(def.getType(), CIMTYPE_REFERENCE);
}

TEST(Values, TextForms)
{
    EXPECT_EQ(str(CIMValue(true).toString()), "TRUE");
    EXPECT_EQ(str(CIMValue(Sint8(-5)).toString()), "-5");
    EXPECT_EQ(str(CIMValue(Uint64(18446744073709551615ULL)).toString()), "18446744073709551615");
    EXPECT_EQ(str(CIMValue(Real64(1.5)).toString()), "1.5000000000000000e+00");
    EXPECT_EQ(str(CIMValue(Char16(0x20AC)).toString()), "\xE2\x82\xAC");
    Array<Uint32> a;
    a.append(1);
    a.append(2);
    EXPECT_EQ(str(CIMValue(a).toString()), "1 2 ");
}

TEST(Values, EqualityAndCopies)
{
    EXPECT_EQ(CIMValue(Uint32(1)), CIMValue(Uint32(1)));
    EXPECT_NE(CIMValue(Uint32(1)), CIMValue(Sint32(1)));
    EXPECT_EQ(CIMValue(Real64(std::nan(""))), CIMValue(Real64(std::nan(""))));
    CIMValue a(String("x"));
    CIMValue b(a);
    b.set(String("y"));
    EXPECT_EQ(str(a.toString()), "x");
}

TEST(Values, EmbeddedInstancesAreCopied)
{
    CIMInstance inst(CIMName("Emb"));
    inst.addProperty(CIMProperty(CIMName("P"), CIMValue(Uint32(1))));
    CIMValue v(inst);
    EXPECT_EQ(v.getType(), CIMTYPE_INSTANCE);
    inst.getProperty(0).setValue(CIMValue(Uint32(2)));
    CIMInstance out;
    v.get(out);
    Uint32 x = 0;
    out.getProperty(0).getValue().get(x);
    EXPECT_EQ(x, 1u);
    EXPECT_THROW(CIMValue{CIMInstance()}, UninitializedObjectException);
    CIMObject obj;
    EXPECT_THROW(v.get(obj), TypeMismatchException);
}

// ---------------------------------------------------------------------------
// Classes and instances

TEST(Objects, KeyNamesComeFromTrueKeyQualifiers)
{
    CIMClass c(CIMName("Test_Base"), CIMName("Parent"));
    c.addProperty(CIMProperty(CIMName("Label"), CIMValue(CIMTYPE_STRING, false)));
    c.addProperty(CIMProperty(CIMName("Name"), CIMValue(CIMTYPE_STRING, false))
                      .addQualifier(CIMQualifier(CIMName("Key"), CIMValue(true))));
    c.addProperty(CIMProperty(CIMName("NotKey"), CIMValue(Uint32(0)))
                      .addQualifier(CIMQualifier(CIMName("key"), CIMValue(false))));
    c.addProperty(CIMProperty(CIMName("Id"), CIMValue(Uint32(0)))
                      .addQualifier(CIMQualifier(CIMName("KEY"), CIMValue(true))));
    c.addProperty(CIMProperty(CIMName("Odd"), CIMValue(Uint32(0)))
                      .addQualifier(CIMQualifier(CIMName("Key"), CIMValue(String("true")))));
    Array<CIMName> keys;
    keys.append(CIMName("stale"));
    c.getKeyNames(keys);
    ASSERT_EQ(keys.size(), 2u);
    EXPECT_EQ(str(keys[0].getString()), "Name");
    EXPECT_EQ(str(keys[1].getString()), "Id");
    EXPECT_TRUE(c.hasKeys());
    EXPECT_FALSE(c.isAbstract());
    c.addQualifier(CIMQualifier(CIMName("Abstract"), CIMValue(true)));
    EXPECT_TRUE(c.isAbstract());
    EXPECT_EQ(str(c.getSuperClassName().getString()), "Parent");
    const CIMClass& cc = c;
    EXPECT_EQ(cc.findProperty(CIMName("LABEL")), 0u);
    EXPECT_EQ(cc.findProperty(CIMName("Missing")), PEG_NOT_FOUND);
}

TEST(Objects, InstancesShareUntilCloned)
{
    CIMInstance inst(CIMName("Test_Base"));
    inst.addProperty(CIMProperty(CIMName("Count"), CIMValue(Uint32(7))));
    EXPECT_THROW(inst.addProperty(CIMProperty(CIMName("count"), CIMValue(Uint32(1)))),
                 AlreadyExistsException);
    CIMInstance shared(inst);
    CIMInstance copy = inst.clone();
    inst.getProperty(0).setValue(CIMValue(Uint32(8)));
    Uint32 x = 0;
    shared.getProperty(0).getValue().get(x);
    EXPECT_EQ(x, 8u);
    copy.getProperty(0).getValue().get(x);
    EXPECT_EQ(x, 7u);
    // A property's type is fixed.
    EXPECT_THROW(inst.getProperty(0).setValue(CIMValue(String("x"))), TypeMismatchException);
    EXPECT_THROW(inst.getProperty(1), IndexOutOfBoundsException);
    inst.setPath(CIMObjectPath(String("Test_Base.Name=\"a\"")));
    EXPECT_EQ(str(inst.getPath().toString()), "Test_Base.Name=\"a\"");
    CIMConstInstance ci(inst);
    EXPECT_EQ(ci.getPropertyCount(), 1u);
}

// Large objects look members up through a hash index; small ones in order.
// Both must find names without regard to case, refuse duplicates that differ
// only in case, keep insertion order, and stay right across removals,
// clones and renames through shared member handles.
TEST(Objects, ManyPropertiesFoundByNameInAnyCase)
{
    const Uint32 kCount = 300;
    CIMInstance inst(CIMName("Perf_Item"));
    auto nameOf = [](Uint32 i) { return "Prop_" + std::to_string(i); };
    for (Uint32 i = 0; i < kCount; i++) {
        inst.addProperty(CIMProperty(CIMName(nameOf(i).c_str()), CIMValue(Uint32(i))));
        // The duplicate check works at every size, below and above the index threshold.
        std::string upper = nameOf(i);
        for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
        ASSERT_THROW(inst.addProperty(CIMProperty(CIMName(upper.c_str()), CIMValue(Uint32(0)))),
                     AlreadyExistsException)
            << upper;
    }
    ASSERT_EQ(inst.getPropertyCount(), kCount);
    for (Uint32 i = 0; i < kCount; i++) {
        EXPECT_EQ(str(inst.getProperty(i).getName().getString()), nameOf(i));
        std::string lower = nameOf(i);
        for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
        EXPECT_EQ(inst.findProperty(CIMName(lower.c_str())), i);
    }
    EXPECT_EQ(inst.findProperty(CIMName("Prop_300")), PEG_NOT_FOUND);
    EXPECT_EQ(inst.findProperty(CIMName("Prop")), PEG_NOT_FOUND);

    // Removing shifts later members down; lookups follow.
    inst.removeProperty(inst.findProperty(CIMName("PROP_0")));
    inst.removeProperty(inst.findProperty(CIMName("prop_150")));
    EXPECT_EQ(inst.getPropertyCount(), kCount - 2);
    EXPECT_EQ(inst.findProperty(CIMName("Prop_0")), PEG_NOT_FOUND);
    EXPECT_EQ(inst.findProperty(CIMName("Prop_150")), PEG_NOT_FOUND);
    EXPECT_EQ(inst.findProperty(CIMName("Prop_1")), 0u);
    EXPECT_EQ(inst.findProperty(CIMName("Prop_151")), 149u);
    EXPECT_EQ(inst.findProperty(CIMName("Prop_299")), kCount - 3);
    inst.addProperty(CIMProperty(CIMName("prop_0"), CIMValue(Uint32(0))));
    EXPECT_EQ(inst.findProperty(CIMName("PROP_0")), kCount - 2);

    // A clone looks up alike and is indexed on its own.
    CIMInstance copy = inst.clone();
    copy.removeProperty(copy.findProperty(CIMName("Prop_1")));
    EXPECT_EQ(copy.findProperty(CIMName("Prop_2")), 0u);
    EXPECT_EQ(inst.findProperty(CIMName("Prop_2")), 1u);

    // Renaming a member through its shared handle renames it in the object.
    CIMProperty p = inst.getProperty(inst.findProperty(CIMName("Prop_42")));
    p.setName(CIMName("Renamed"));
    EXPECT_EQ(inst.findProperty(CIMName("Prop_42")), PEG_NOT_FOUND);
    const Uint32 at = inst.findProperty(CIMName("RENAMED"));
    ASSERT_NE(at, PEG_NOT_FOUND);
    EXPECT_EQ(str(inst.getProperty(at).getName().getString()), "Renamed");
    EXPECT_THROW(inst.addProperty(CIMProperty(CIMName("renamed"), CIMValue(Uint32(0)))),
                 AlreadyExistsException);
    inst.addProperty(CIMProperty(CIMName("Prop_42"), CIMValue(Uint32(42))));
    EXPECT_EQ(inst.findProperty(CIMName("prop_42")), inst.getPropertyCount() - 1);
    EXPECT_EQ(inst.findProperty(CIMName("Renamed")), at);

    // Qualifier lists of a class use the same lookup.
    CIMClass cls(CIMName("Perf_Item"));
    for (Uint32 i = 0; i < 20; i++)
        cls.addQualifier(CIMQualifier(CIMName(("Q" + std::to_string(i)).c_str()), CIMValue(Boolean(true))));
    EXPECT_EQ(cls.findQualifier(CIMName("q19")), 19u);
    EXPECT_THROW(cls.addQualifier(CIMQualifier(CIMName("q7"), CIMValue(Boolean(false)))),
                 AlreadyExistsException);
}

TEST(Objects, UninitializedAndWrongKinds)
{
    CIMInstance none;
    EXPECT_TRUE(none.isUninitialized());
    EXPECT_THROW(none.getClassName(), UninitializedObjectException);
    EXPECT_THROW(none.getPropertyCount(), UninitializedObjectException);
    CIMClass noClass;
    Array<CIMName> keys;
    EXPECT_THROW(noClass.getKeyNames(keys), UninitializedObjectException);
    CIMProperty noProperty;
    EXPECT_THROW(noProperty.getValue(), UninitializedObjectException);
    EXPECT_THROW(CIMInstance(CIMName("A")).addProperty(CIMProperty()), UninitializedObjectException);

    CIMObject fromClass(CIMClass(CIMName("C")));
    EXPECT_TRUE(fromClass.isClass());
    EXPECT_THROW(CIMInstance{fromClass}, DynamicCastFailedException);
    EXPECT_NO_THROW(CIMClass{fromClass});
    EXPECT_THROW(CIMProperty(CIMName("P"), CIMValue(Uint32(1)), 0, CIMName("RefClass")),
                 TypeMismatchException);
}

TEST(Objects, MethodsAndParameters)
{
    CIMMethod m(CIMName("DoIt"), CIMTYPE_UINT32);
    m.addParameter(CIMParameter(CIMName("Arg"), CIMTYPE_STRING)
                       .addQualifier(CIMQualifier(CIMName("In"), CIMValue(true))));
    m.addParameter(CIMParameter(CIMName("Tags"), CIMTYPE_STRING, true));
    EXPECT_THROW(m.addParameter(CIMParameter(CIMName("arg"), CIMTYPE_STRING)), AlreadyExistsException);
    CIMClass c(CIMName("Test_Base"));
    c.addMethod(m);
    const CIMClass& cc = c;
    CIMConstMethod cm = cc.getMethod(cc.findMethod(CIMName("doit")));
    EXPECT_EQ(cm.getType(), CIMTYPE_UINT32);
    EXPECT_EQ(cm.getParameterCount(), 2u);
    EXPECT_TRUE(cm.getParameter(1).isArray());
    EXPECT_EQ(cm.getParameter(0).getQualifierCount(), 1u);
    CIMClass clone = c.clone();
    c.getMethod(0).removeParameter(0);
    EXPECT_EQ(clone.getMethod(0).getParameterCount(), 2u);
    EXPECT_FALSE(clone.identical(c));
}

TEST(Objects, ParamValuesPropertyListsAndExceptions)
{
    CIMParamValue pv(String("Arg"), CIMValue(String("x")));
    EXPECT_EQ(str(pv.getParameterName()), "Arg");
    EXPECT_TRUE(pv.isTyped());
    EXPECT_THROW(CIMParamValue().getValue(), UninitializedObjectException);

    CIMPropertyList all;
    EXPECT_TRUE(all.isNull());
    CIMPropertyList none{Array<CIMName>()};
    EXPECT_FALSE(none.isNull());
    EXPECT_EQ(none.size(), 0u);
    EXPECT_FALSE(none.contains(CIMName("A")));
    EXPECT_TRUE(all.contains(CIMName("A")));

    try {
        throw CIMException(CIM_ERR_NOT_FOUND, String("no such instance"));
    } catch (const Exception& e) {
        const CIMException* ce = dynamic_cast<const CIMException*>(&e);
        ASSERT_NE(ce, nullptr);
        EXPECT_EQ(ce->getCode(), CIM_ERR_NOT_FOUND);
        EXPECT_EQ(str(e.getMessage()), "no such instance");
    }
    EXPECT_EQ(str(MalformedObjectNameException(String("x")).getMessage()), "malformed object name: x");
    EXPECT_EQ(str(ConnectionTimeoutException().getMessage()), "connection timed out");
    EXPECT_EQ(str(CannotConnectException(String("refused")).getMessage()), "refused");
    EXPECT_STREQ(cimTypeToString(CIMTYPE_REFERENCE), "reference");
    EXPECT_STREQ(cimTypeToString(CIMType(20)), "unknown");
}

TEST(Objects, OperationContextHoldsCopies)
{
    OperationContext ctx;
    ctx.insert(Named("a", 1));
    EXPECT_THROW(ctx.insert(Named("a", 2)), Exception);
    ctx.set(Named("a", 3));
    OperationContext copy(ctx);
    ctx.remove(String("a"));
    EXPECT_THROW(ctx.get(String("a")), Exception);
    EXPECT_EQ(dynamic_cast<const Named&>(copy.get(String("a"))).value, 3);
}
