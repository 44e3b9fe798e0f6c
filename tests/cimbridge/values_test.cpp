// Values between Java and Pegasus without a server: property loading from
// Pegasus objects built here (qualifiers of the wrong type or without a value,
// reference arrays, an instance that disagrees with its class), and Java
// values converted for sending.
// Compiled in one unit with the bridge's source (cimbridge_unit_test), whose
// internals it reaches.
#include "bridge_test_util.h"

using orvtest::JvmTest;

namespace {

using Pegasus::CIMName;
using Pegasus::CIMValue;

class Properties : public JvmTest {
protected:
    jobject call(jobject o, const char* name, const char* sig)
    {
        jmethodID m = env->GetMethodID(env->GetObjectClass(o), name, sig);
        jobject r = env->CallObjectMethod(o, m);
        noException();
        return r;
    }
    bool flag(jobject o, const char* name)
    {
        jmethodID m = env->GetMethodID(env->GetObjectClass(o), name, "()Z");
        const bool r = env->CallBooleanMethod(o, m) == JNI_TRUE;
        noException();
        return r;
    }
    jint size(jobject vector)
    {
        jmethodID m = env->GetMethodID(env->GetObjectClass(vector), "size", "()I");
        const jint r = env->CallIntMethod(vector, m);
        noException();
        return r;
    }
    jobject at(jobject vector, jint i)
    {
        jmethodID m = env->GetMethodID(env->GetObjectClass(vector), "get", "(I)Ljava/lang/Object;");
        jobject r = env->CallObjectMethod(vector, m, i);
        noException();
        return r;
    }
    jint typeOf(jobject property)
    {
        jobject type = call(property, "getType", "()Ljavax/wbem/cim/CIMDataType;");
        if (type == nullptr) return -1;
        jmethodID m = env->GetMethodID(env->GetObjectClass(type), "getType", "()I");
        const jint r = env->CallIntMethod(type, m);
        noException();
        return r;
    }

    static Pegasus::CIMProperty property(const char* name, const CIMValue& value)
    {
        return Pegasus::CIMProperty(CIMName(name), value);
    }
};

TEST_F(Properties, QualifiersOfAnotherTypeOrWithoutValueCallNoSetter)
{
    Pegasus::CIMClass cls(CIMName("T"));
    Pegasus::CIMProperty textRead = property("TextRead", CIMValue(Pegasus::String("x")));
    textRead.addQualifier(Pegasus::CIMQualifier(CIMName("Read"), CIMValue(Pegasus::String("false"))));
    Pegasus::CIMProperty nullRead = property("NullRead", CIMValue(Pegasus::String("x")));
    nullRead.addQualifier(Pegasus::CIMQualifier(CIMName("Read"), CIMValue(Pegasus::CIMTYPE_BOOLEAN, false)));
    Pegasus::CIMProperty nullWrite = property("NullWrite", CIMValue(Pegasus::String("x")));
    nullWrite.addQualifier(
        Pegasus::CIMQualifier(CIMName("Write"), CIMValue(Pegasus::CIMTYPE_BOOLEAN, false)));
    cls.addProperty(textRead).addProperty(nullRead).addProperty(nullWrite);

    Pegasus::CIMInstance inst(CIMName("T"));
    for (const char* name : {"NullRead", "NullWrite", "TextRead"}) {
        inst.addProperty(property(name, CIMValue(Pegasus::String("v"))));
    }
    java::Vector vector = java::Vector::construct(env);
    LoadProperties(env, vector, {"NullRead", "NullWrite", "TextRead"}, inst, cls, false);
    ASSERT_EQ(size(vector.m_object), 3);
    for (jint i = 0; i < 3; ++i) {
        jobject p = at(vector.m_object, i);
        EXPECT_TRUE(flag(p, "isReadable")) << i;  // the Java defaults stand
        EXPECT_FALSE(flag(p, "isWriteable")) << i;
    }
}

TEST_F(Properties, AReferenceArrayIsTypedButHasNoValue)
{
    Pegasus::Array<Pegasus::CIMObjectPath> paths;
    paths.append(Pegasus::CIMObjectPath(Pegasus::String("T.K=\"a\"")));
    paths.append(Pegasus::CIMObjectPath(Pegasus::String("T.K=\"b\"")));
    Pegasus::CIMClass cls(CIMName("T"));
    cls.addProperty(property("Refs", CIMValue(Pegasus::CIMTYPE_REFERENCE, true)));
    Pegasus::CIMInstance inst(CIMName("T"));
    inst.addProperty(property("Refs", CIMValue(paths)));

    java::Vector vector = java::Vector::construct(env);
    LoadProperties(env, vector, {"Refs"}, inst, cls, false);
    ASSERT_EQ(size(vector.m_object), 1);
    jobject p = at(vector.m_object, 0);
    EXPECT_EQ(typeOf(p), staticInt("javax/wbem/cim/CIMDataType", "REFERENCE"));
    EXPECT_EQ(call(p, "getValue", "()Ljavax/wbem/cim/CIMValue;"), nullptr);

    cim::CIMClass javaClass(env, newFromString("javax/wbem/cim/CIMClass", "T"));
    LoadProperties(env, javaClass, {"Refs"}, cls, false);
    jobject classProps = call(javaClass.m_object, "getProperties", "()Ljava/util/Vector;");
    ASSERT_EQ(size(classProps), 1);
    EXPECT_EQ(typeOf(at(classProps, 0)), staticInt("javax/wbem/cim/CIMDataType", "REFERENCE"));
}

TEST_F(Properties, MissingNamesAreSkippedAndAMismatchKeepsWhatWasAdded)
{
    Pegasus::CIMClass cls(CIMName("T"));
    cls.addProperty(property("A", CIMValue(Pegasus::CIMTYPE_UINT32, false)))
        .addProperty(property("B", CIMValue(Pegasus::CIMTYPE_UINT32, false)))
        .addProperty(property("OnlyInClass", CIMValue(Pegasus::CIMTYPE_STRING, false)));
    Pegasus::Array<Pegasus::Uint32> numbers;
    numbers.append(1);
    Pegasus::CIMInstance inst(CIMName("T"));
    inst.addProperty(property("A", CIMValue(Pegasus::Uint32(7))))
        .addProperty(property("B", CIMValue(numbers)))  // an array where the class has a scalar
        .addProperty(property("OnlyInInstance", CIMValue(Pegasus::Uint32(1))));

    java::Vector vector = java::Vector::construct(env);
    EXPECT_THROW(LoadProperties(env, vector, {"A", "B", "OnlyInClass", "OnlyInInstance"}, inst, cls, true),
                 Pegasus::Exception);
    ASSERT_EQ(size(vector.m_object), 2);  // A whole, B added before its value failed
    EXPECT_TRUE(flag(at(vector.m_object, 0), "isKey"));
    EXPECT_EQ(toString(call(at(vector.m_object, 0), "getValue", "()Ljavax/wbem/cim/CIMValue;")), "7");

    java::Vector again = java::Vector::construct(env);
    LoadProperties(env, again, {"A", "OnlyInClass", "OnlyInInstance"}, inst, cls, false);
    EXPECT_EQ(size(again.m_object), 1);
}

TEST_F(Properties, AnOperationStoppedByAJavaExceptionLeavesTheVectorsMonitorFree)
{
    Pegasus::CIMClass cls(CIMName("T"));
    cls.addProperty(property("A", CIMValue(Pegasus::CIMTYPE_UINT32, false)));
    Pegasus::CIMInstance inst(CIMName("T"));
    inst.addProperty(property("A", CIMValue(Pegasus::Uint32(7))));
    java::Vector vector = java::Vector::construct(env);
    env->ThrowNew(env->FindClass("java/lang/IllegalStateException"), "earlier");
    EXPECT_THROW(LoadProperties(env, vector, {"A"}, inst, cls, false), JavaExceptionPending);
    EXPECT_EQ(orvtest::TakeException(env).message, "earlier");
    jclass threadClass = env->FindClass("java/lang/Thread");
    jmethodID holdsLock = env->GetStaticMethodID(threadClass, "holdsLock", "(Ljava/lang/Object;)Z");
    const bool held = env->CallStaticBooleanMethod(threadClass, holdsLock, vector.m_object) == JNI_TRUE;
    noException();
    EXPECT_FALSE(held);
    EXPECT_EQ(size(vector.m_object), 0);
}

// Java type fields are compared in a fixed order, stopping at the match.
TEST_F(Properties, JavaValuesConvertByTheirTypeField)
{
    auto javaValue = [&](jobject object, jint typeNumber) {
        jclass tc = env->FindClass("javax/wbem/cim/CIMDataType");
        jobject t = env->NewObject(tc, env->GetMethodID(tc, "<init>", "(I)V"), typeNumber);
        jclass vc = env->FindClass("javax/wbem/cim/CIMValue");
        jobject v = env->NewObject(
            vc, env->GetMethodID(vc, "<init>", "(Ljava/lang/Object;Ljavax/wbem/cim/CIMDataType;)V"), object,
            t);
        noException();
        return cim::CIMValue(env, v);
    };
    auto field = [&](const char* name) { return staticInt("javax/wbem/cim/CIMDataType", name); };
    jclass byteClass = env->FindClass("java/lang/Byte");
    jobject minus56 =
        env->NewObject(byteClass, env->GetMethodID(byteClass, "<init>", "(B)V"), static_cast<jbyte>(-56));
    noException();

    const struct {
        cim::CIMValue value;
        int fieldsRead;
        std::string expected;  // the Pegasus value's text, "null" for a null one
        Pegasus::CIMType type;
    } cases[] = {
        {javaValue(minus56, field("SINT8")), 1, "-56", Pegasus::CIMTYPE_SINT8},
        {javaValue(minus56, field("UINT8")), 9, "200", Pegasus::CIMTYPE_UINT8},
        {javaValue(nullptr, field("UINT32")), 13, "null", Pegasus::CIMTYPE_UINT32},
        {javaValue(minus56, field("NULL")), 23, "null", Pegasus::CIMTYPE_BOOLEAN},
        {javaValue(nullptr, field("BOOLEAN_ARRAY")), 27, "null", Pegasus::CIMTYPE_BOOLEAN},
    };
    for (const auto& c : cases) {
        cim::CIMValue value = c.value;
        Pegasus::CIMValue out;
        orvtest::LookupCounter counter(env);
        CIMValueToCIMValue(value, out);
        EXPECT_FALSE(env->ExceptionCheck());
        EXPECT_EQ(counter.fieldLookups(), c.fieldsRead) << c.expected;
        EXPECT_EQ(out.isNull() ? std::string("null") : std::string(out.toString().getCString()), c.expected);
        EXPECT_EQ(out.getType(), c.type) << c.expected;
    }
    // A type number no field has: the value cannot be sent, and nothing is made of it.
    cim::CIMValue unknown = javaValue(minus56, 99);
    Pegasus::CIMValue out;
    orvtest::LookupCounter counter(env);
    EXPECT_THROW(CIMValueToCIMValue(unknown, out), UnsendableValue);
    EXPECT_FALSE(env->ExceptionCheck());
    EXPECT_EQ(counter.fieldLookups(), 31);
    EXPECT_TRUE(out.isNull());
}

TEST_F(Properties, AMissingOptionalTypeFieldClearsOnlyItsOwnError)
{
    cim::CIMDataTypeClass types = cim::CIMDataTypeClass::construct(env);
    EXPECT_EQ(optionalTypeField(types, "NO_SUCH_TYPE"), kNoTypeNumber);
    env->ThrowNew(env->FindClass("java/lang/IllegalStateException"), "earlier");
    EXPECT_THROW(optionalTypeField(types, "NO_SUCH_TYPE"), JavaExceptionPending);
    EXPECT_EQ(orvtest::TakeException(env).message, "earlier");
}

// Method results: the unsigned classes, arrays as Vectors, nulls keep their type.
TEST_F(Properties, CimValuesBecomeJavaValues)
{
    auto field = [&](const char* name) { return staticInt("javax/wbem/cim/CIMDataType", name); };
    Pegasus::Array<Pegasus::String> noStrings;
    Pegasus::Array<Pegasus::CIMObjectPath> paths;
    paths.append(Pegasus::CIMObjectPath(Pegasus::String("T.K=\"a\"")));
    auto utf16 = [](std::initializer_list<Pegasus::Uint16> units) {
        std::vector<Pegasus::Char16> text(units.begin(), units.end());
        return Pegasus::String(text.data(), static_cast<Pegasus::Uint32>(text.size()));
    };
    const struct {
        CIMValue value;
        const char* field;
        std::string text;  // toString of the Java value object, "<null>" for none
    } cases[] = {
        {CIMValue(Pegasus::Uint32(4294967295u)), "UINT32", "4294967295"},
        {CIMValue(Pegasus::Uint64(1) << 63), "UINT64", "9223372036854775808"},
        {CIMValue(Pegasus::Uint8(255)), "UINT8", "255"},
        {CIMValue(Pegasus::Char16(0x00E9)), "CHAR16", "\xC3\xA9"},
        // Text reads as the C string of the client's text would: a pair stays
        // a pair, a lone half becomes U+FFFD, a NUL ends it (modified UTF-8 here).
        {CIMValue(utf16({'a', 0xD83D, 0xDE00})), "STRING", "a\xED\xA0\xBD\xED\xB8\x80"},
        {CIMValue(utf16({0xDE00, 'a', 0xD83D})), "STRING",
         "\xEF\xBF\xBD"
         "a\xEF\xBF\xBD"},
        {CIMValue(utf16({'a', 'b', 0, 'c'})), "STRING", "ab"},
        {CIMValue(noStrings), "STRING_ARRAY", "[]"},
        {CIMValue(Pegasus::CIMTYPE_SINT32, false), "SINT32", "<null>"},
        {CIMValue(paths), "REFERENCE_ARRAY", "[T.K=\"a\"]"},
        {CIMValue(Pegasus::CIMDateTime(Pegasus::String("00000001020304.000005:000"))), "DATETIME",
         "00000001020304.000005:000"},
    };
    for (const auto& c : cases) {
        cim::CIMValue javaValue = CIMValueToJavaObject(env, c.value);
        jobject object = call(javaValue.m_object, "getValue", "()Ljava/lang/Object;");
        EXPECT_EQ(object == nullptr ? "<null>" : toString(object), c.text) << c.field;
        EXPECT_EQ(typeOf(javaValue.m_object), field(c.field)) << c.field;
    }

    // The return value handed to the listener goes through setArrayValues for an array.
    Pegasus::Array<Pegasus::Sint16> numbers;
    numbers.append(-1);
    cim::CIMValue returned = javaReturnValue(env, CIMValue(numbers));
    jobject object = call(returned.m_object, "getValue", "()Ljava/lang/Object;");
    EXPECT_TRUE(env->IsInstanceOf(object, env->FindClass("java/util/Vector")));
    EXPECT_EQ(toString(object), "[-1]");
    EXPECT_EQ(typeOf(returned.m_object), field("SINT16_ARRAY"));
}

}  // namespace
