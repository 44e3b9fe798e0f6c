// Java object paths as model-path text, read back by the client library's
// object path parser.
// Compiled in one unit with the bridge's source (cimbridge_unit_test), whose
// internals it reaches.
#include "bridge_test_util.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

using orvtest::JvmTest;

namespace {

class ObjectPath : public JvmTest {
protected:
    jint type(const char* field) { return staticInt("javax/wbem/cim/CIMDataType", field); }

    jobject newPath(const char* className)
    {
        jclass c = env->FindClass("javax/wbem/cim/CIMObjectPath");
        jobject p = env->NewObject(c, env->GetMethodID(c, "<init>", "()V"));
        noException();
        jstring name = className == nullptr ? nullptr : jstr(className);
        env->CallVoidMethod(p, env->GetMethodID(c, "setObjectName", "(Ljava/lang/String;)V"), name);
        noException();
        return p;
    }

    jobject value(jobject object, const char* typeField)
    {
        jclass tc = env->FindClass("javax/wbem/cim/CIMDataType");
        const jint number = type(typeField);
        jobject t = env->NewObject(tc, env->GetMethodID(tc, "<init>", "(I)V"), number);
        noException();
        jclass vc = env->FindClass("javax/wbem/cim/CIMValue");
        jobject v = env->NewObject(
            vc, env->GetMethodID(vc, "<init>", "(Ljava/lang/Object;Ljavax/wbem/cim/CIMDataType;)V"), object,
            t);
        noException();
        return v;
    }

    void addKey(jobject path, const char* name, jobject cimValue)
    {
        jclass c = env->FindClass("javax/wbem/cim/CIMObjectPath");
        jstring jname = jstr(name);
        env->CallVoidMethod(path,
                            env->GetMethodID(c, "addKey", "(Ljava/lang/String;Ljavax/wbem/cim/CIMValue;)V"),
                            jname, cimValue);
        noException();
    }

    jobject boxed(const char* cls, const char* sig, jlong v)
    {
        jclass c = env->FindClass(cls);
        jmethodID ctor = env->GetMethodID(c, "<init>", sig);
        jobject o = nullptr;
        if (std::string(sig) == "(J)V")
            o = env->NewObject(c, ctor, v);
        else if (std::string(sig) == "(Z)V")
            o = env->NewObject(c, ctor, static_cast<jint>(v != 0));
        else
            o = env->NewObject(c, ctor, static_cast<jint>(v));
        noException();
        return o;
    }

    // The text, parsed by the client library.
    static Pegasus::CIMObjectPath parse(const std::string& text)
    {
        return Pegasus::CIMObjectPath(Pegasus::String(text.c_str()));
    }

    static std::string text(const Pegasus::String& s)
    {
        return std::string(static_cast<const char*>(s.getCString()));
    }

    // The binding of that name (the parser may reorder bindings).
    static Pegasus::CIMKeyBinding binding(const Pegasus::CIMObjectPath& path, const char* name)
    {
        const Pegasus::Array<Pegasus::CIMKeyBinding>& keys = path.getKeyBindings();
        for (Pegasus::Uint32 i = 0; i < keys.size(); ++i) {
            if (keys[i].getName().equal(Pegasus::CIMName(name))) return keys[i];
        }
        ADD_FAILURE() << "no key binding " << name;
        return Pegasus::CIMKeyBinding();
    }
};

TEST_F(ObjectPath, NullPathIsEmptyText)
{
    EXPECT_EQ(ObjectPathAsString(env, nullptr), "");
}

TEST_F(ObjectPath, ClassNameAloneWithoutKeys)
{
    EXPECT_EQ(ObjectPathAsString(env, newPath("CIM_Foo")), "CIM_Foo");
    EXPECT_EQ(ObjectPathAsString(env, newPath("")), "");
    EXPECT_EQ(ObjectPathAsString(env, newPath(nullptr)), "");
}

TEST_F(ObjectPath, StringAndNumberKeysReadBackByTheParser)
{
    jobject p = newPath("CIM_Foo");
    addKey(p, "Name", value(jstr("abc"), "STRING"));
    addKey(p, "Id", value(newFromString("javax/wbem/cim/UnsignedInt32", "5"), "UINT32"));
    const std::string t = ObjectPathAsString(env, p);
    EXPECT_EQ(t, "CIM_Foo.Name=\"abc\",Id=5");

    Pegasus::CIMObjectPath parsed = parse(t);
    EXPECT_EQ(text(parsed.getClassName().getString()), "CIM_Foo");
    ASSERT_EQ(parsed.getKeyBindings().size(), 2u);
    EXPECT_EQ(text(binding(parsed, "Name").getValue()), "abc");
    EXPECT_EQ(binding(parsed, "Name").getType(), Pegasus::CIMKeyBinding::STRING);
    EXPECT_EQ(text(binding(parsed, "Id").getValue()), "5");
    EXPECT_EQ(binding(parsed, "Id").getType(), Pegasus::CIMKeyBinding::NUMERIC);
}

TEST_F(ObjectPath, QuotesAndBackslashesAreEscapedSoTheValueSurvives)
{
    jobject p = newPath("CIM_Foo");
    addKey(p, "Name", value(jstr("say \"hi\" C:\\dir\\"), "STRING"));
    const std::string t = ObjectPathAsString(env, p);
    EXPECT_EQ(t, "CIM_Foo.Name=\"say \\\"hi\\\" C:\\\\dir\\\\\"");
    Pegasus::CIMObjectPath parsed = parse(t);
    ASSERT_EQ(parsed.getKeyBindings().size(), 1u);
    EXPECT_EQ(text(parsed.getKeyBindings()[0].getValue()), "say \"hi\" C:\\dir\\");

    // A value that looks like the start of another binding stays one value.
    jobject q = newPath("CIM_Foo");
    addKey(q, "A", value(jstr("x\",B=\"y"), "STRING"));
    Pegasus::CIMObjectPath parsedQ = parse(ObjectPathAsString(env, q));
    ASSERT_EQ(parsedQ.getKeyBindings().size(), 1u);
    EXPECT_EQ(text(parsedQ.getKeyBindings()[0].getValue()), "x\",B=\"y");
}

TEST_F(ObjectPath, BooleanCharDatetimeAndReferenceKeys)
{
    jobject ref = newFromString("javax/wbem/cim/CIMObjectPath", "root/cimv2:CIM_Bar.Name=\"in \\\"q\\\"\"");
    jobject p = newPath("CIM_Assoc");
    addKey(p, "Flag", value(boxed("java/lang/Boolean", "(Z)V", 1), "BOOLEAN"));
    addKey(p, "Letter", value(boxed("java/lang/Character", "(C)V", 'Q'), "CHAR16"));
    addKey(p, "When",
           value(newFromString("javax/wbem/cim/CIMDateTime", "20240102030405.000000+000"), "DATETIME"));
    addKey(p, "Ref", value(ref, "REFERENCE"));
    addKey(p, "Neg", value(boxed("java/lang/Long", "(J)V", -12), "SINT64"));
    const std::string t = ObjectPathAsString(env, p);
    EXPECT_EQ(t,
              "CIM_Assoc.Flag=true,Letter=\"Q\",When=\"20240102030405.000000+000\","
              "Ref=\"root/cimv2:CIM_Bar.Name=\\\"in \\\\\\\"q\\\\\\\"\\\"\",Neg=-12");

    Pegasus::CIMObjectPath parsed = parse(t);
    ASSERT_EQ(parsed.getKeyBindings().size(), 5u);
    EXPECT_EQ(binding(parsed, "Flag").getType(), Pegasus::CIMKeyBinding::BOOLEAN);
    EXPECT_EQ(binding(parsed, "Letter").getType(), Pegasus::CIMKeyBinding::STRING);
    EXPECT_EQ(text(binding(parsed, "Letter").getValue()), "Q");
    EXPECT_EQ(text(binding(parsed, "When").getValue()), "20240102030405.000000+000");
    EXPECT_EQ(binding(parsed, "Ref").getType(), Pegasus::CIMKeyBinding::REFERENCE);
    Pegasus::CIMObjectPath inner(binding(parsed, "Ref").getValue());
    EXPECT_EQ(text(inner.getClassName().getString()), "CIM_Bar");
    ASSERT_EQ(inner.getKeyBindings().size(), 1u);
    EXPECT_EQ(text(inner.getKeyBindings()[0].getValue()), "in \"q\"");
    EXPECT_EQ(binding(parsed, "Neg").getType(), Pegasus::CIMKeyBinding::NUMERIC);
    EXPECT_EQ(text(binding(parsed, "Neg").getValue()), "-12");
}

TEST_F(ObjectPath, JavaParsedPathComesOutTheSameWay)
{
    jobject p = newFromString("javax/wbem/cim/CIMObjectPath",
                              "//host/root/cimv2:CIM_Foo.Name=\"a\\\\b\",Id=7,On=false");
    // The namespace and host are never part of the text.
    EXPECT_EQ(ObjectPathAsString(env, p), "CIM_Foo.Name=\"a\\\\b\",Id=7,On=false");
}

TEST_F(ObjectPath, EmptyNamesAreSkippedAndOneLeadingCommaGoes)
{
    jobject p = newPath("CIM_Foo");
    addKey(p, "", value(jstr("skipped"), "STRING"));
    addKey(p, ",Id", value(boxed("java/lang/Integer", "(I)V", 1), "SINT32"));
    addKey(p, ",,Two", value(boxed("java/lang/Integer", "(I)V", 2), "SINT32"));
    EXPECT_EQ(ObjectPathAsString(env, p), "CIM_Foo.Id=1,,Two=2");

    jobject noClass = newPath("");
    addKey(noClass, "K", value(jstr("v"), "STRING"));
    EXPECT_EQ(ObjectPathAsString(env, noClass), ".K=\"v\"");
}

TEST_F(ObjectPath, NullValuesGiveEmptyText)
{
    jclass pc = env->FindClass("javax/wbem/cim/CIMProperty");
    jstring sName = jstr("S");
    jobject noValue = env->NewObject(pc, env->GetMethodID(pc, "<init>", "(Ljava/lang/String;)V"), sName);
    noException();
    jclass tc = env->FindClass("javax/wbem/cim/CIMDataType");
    const jint stringType = type("STRING");
    jobject t = env->NewObject(tc, env->GetMethodID(tc, "<init>", "(I)V"), stringType);
    noException();
    env->CallVoidMethod(noValue, env->GetMethodID(pc, "setType", "(Ljavax/wbem/cim/CIMDataType;)V"), t);
    noException();
    jobject p = newPath("CIM_Foo");
    jclass opc = env->FindClass("javax/wbem/cim/CIMObjectPath");
    jobject keys = env->CallObjectMethod(p, env->GetMethodID(opc, "getKeys", "()Ljava/util/Vector;"));
    noException();
    jclass vc = env->FindClass("java/util/Vector");
    jmethodID add = env->GetMethodID(vc, "add", "(Ljava/lang/Object;)Z");
    env->CallBooleanMethod(keys, add, noValue);
    noException();
    addKey(p, "N", value(nullptr, "SINT32"));
    env->CallBooleanMethod(keys, add, nullptr);  // a null key
    noException();
    // An empty text is no number: quoted, so that the parser reads one binding.
    EXPECT_EQ(ObjectPathAsString(env, p), "CIM_Foo.S=\"\",N=\"\"");

    // An empty key vector.
    env->CallVoidMethod(p, env->GetMethodID(opc, "setKeys", "(Ljava/util/Vector;)V"), nullptr);
    noException();
    EXPECT_EQ(ObjectPathAsString(env, p), "CIM_Foo");
}

TEST_F(ObjectPath, AJavaFailureStopsTheTextWithTheErrorPending)
{
    EXPECT_THROW(ObjectPathAsString(env, jstr("not a path")), JavaExceptionPending);
    auto pending = orvtest::TakeException(env);
    EXPECT_TRUE(pending.pending);
    EXPECT_EQ(pending.className, "java.lang.NoSuchMethodError");
}

// Values made without a type (new CIMValue(x) has none) are written by the
// class of the value object; a bare text that is no literal is quoted.
TEST_F(ObjectPath, UntypedKeysAreWrittenByTheirValueClass)
{
    jclass vc = env->FindClass("javax/wbem/cim/CIMValue");
    jmethodID untyped = env->GetMethodID(vc, "<init>", "(Ljava/lang/Object;)V");
    noException();
    auto plain = [&](jobject o) {
        jobject v = env->NewObject(vc, untyped, o);
        noException();
        return v;
    };
    const struct {
        jobject value;
        const char* text;
    } cases[] = {
        {plain(jstr("abc")), "K=\"abc\""},
        {plain(jstr("5,Id=7")), "K=\"5,Id=7\""},
        {plain(jstr("42")), "K=\"42\""},
        {plain(boxed("java/lang/Long", "(J)V", -5)), "K=-5"},
        {plain(boxed("java/lang/Boolean", "(Z)V", 1)), "K=true"},
        {plain(boxed("java/lang/Character", "(C)V", 'x')), "K=\"x\""},
        {value(jstr("1,J=2"), "SINT32"), "K=\"1,J=2\""},
        {value(jstr("7"), "NULL"), "K=\"7\""},
        // The parser reads only decimal integers in range bare: the rest is quoted.
        {value(jstr("1.5"), "REAL32"), "K=\"1.5\""},
        {value(jstr("1.0E10"), "REAL64"), "K=\"1.0E10\""},
        {value(jstr("+5"), "SINT32"), "K=\"+5\""},
        {value(jstr("007"), "UINT8"), "K=\"007\""},
        {value(jstr("18446744073709551616"), "UINT64"), "K=\"18446744073709551616\""},
        {value(jstr("-9223372036854775808"), "SINT64"), "K=-9223372036854775808"},
        {value(jstr("0"), "UINT8"), "K=0"},
    };
    for (const auto& c : cases) {
        jobject p = newPath("CIM_Foo");
        addKey(p, "K", c.value);
        const std::string t = ObjectPathAsString(env, p);
        EXPECT_EQ(t, std::string("CIM_Foo.") + c.text);
        EXPECT_EQ(parse(t).getKeyBindings().size(), 1u) << t;
    }
}

// Paths from the client library written as UTF-8 for Java: the same bytes as
// the C string of toString, whatever the host, namespace, key types and text.
TEST_F(ObjectPath, ClientPathsAsUtf8TextMatchTheirToString)
{
    using Pegasus::CIMKeyBinding;
    auto units = [](std::initializer_list<Pegasus::Uint16> u) {
        std::vector<Pegasus::Char16> c(u.begin(), u.end());
        return Pegasus::String(c.data(), static_cast<Pegasus::Uint32>(c.size()));
    };
    auto key = [](const char* name, const Pegasus::String& value, CIMKeyBinding::Type type) {
        return CIMKeyBinding(Pegasus::CIMName(name), value, type);
    };
    const Pegasus::CIMNamespaceName none;
    const Pegasus::CIMNamespaceName cimv2("root/cimv2");
    const struct {
        const char* host;
        const Pegasus::CIMNamespaceName& nameSpace;
        std::vector<CIMKeyBinding> keys;
    } rows[] = {
        {"", none, {}},
        {"", cimv2, {}},
        {"server.example", cimv2, {key("Id", "7", CIMKeyBinding::NUMERIC)}},
        {"",
         none,
         {key("B", "TRUE", CIMKeyBinding::BOOLEAN), key("A", "a\"b\\c", CIMKeyBinding::STRING),
          key("C", "-12", CIMKeyBinding::NUMERIC), key("D", "", CIMKeyBinding::STRING)}},
        {"", none, {key("Ref", "root/cimv2:CIM_Bar.Name=\"x\\\"y\",Id=2", CIMKeyBinding::REFERENCE)}},
        {"", cimv2, {key("Name", "caf\xC3\xA9 \xE6\x97\xA5", CIMKeyBinding::STRING)}},
        {"", none, {key("Pair", units({'a', 0xD83D, 0xDE00, 'b'}), CIMKeyBinding::STRING)}},
        {"",
         none,
         {key("Lone", units({0xD800, 'x', 0xDC00, 0xDBFF}), CIMKeyBinding::STRING),
          key("Zend", units({0xFFFF, 0x7FF, 0x800}), CIMKeyBinding::STRING)}},
        {"",
         none,
         {key("Nul", units({'a', 0, 'b'}), CIMKeyBinding::STRING), key("Z", "9", CIMKeyBinding::NUMERIC)}},
    };
    PathTextWriter writer;
    for (const auto& row : rows) {
        Pegasus::Array<CIMKeyBinding> keys;
        for (const CIMKeyBinding& k : row.keys) keys.append(k);
        const Pegasus::CIMObjectPath path(row.host, row.nameSpace, Pegasus::CIMName("CIM_Foo"), keys);
        const std::string expected = text(path.toString());
        const std::string& written = writer.write(path);
        EXPECT_EQ(written, expected);
        const bool ascii = std::all_of(expected.begin(), expected.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        EXPECT_EQ(writer.ascii(), ascii) << expected;
        LocalFrame frame(env, kElementFrameCapacity);
        EXPECT_EQ(java::String::construct(env, written.c_str(), written.size(), writer.ascii()).getStringA(),
                  expected);
        noException();
    }
}

}  // namespace
