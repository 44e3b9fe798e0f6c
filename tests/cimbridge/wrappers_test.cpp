// The JNI wrappers and the proxies, against a real JVM.
#include "IndirectJObj.h"
#include "bridge_test_util.h"

#include <cstdint>
#include <cstring>

using orvtest::JvmTest;
using orvtest::LookupCounter;

namespace {

class Wrappers : public JvmTest {};
class Proxies : public JvmTest {};

// ------------------------------------------------------------ lookup caching

TEST_F(Wrappers, MethodIdentifierIsLookedUpOncePerWrapper)
{
    // Wrapped over its own class, as the caller's objects are: no shared members.
    java::Vector v(env, java::Vector::construct(env).m_object);
    ASSERT_NE(v.m_object, nullptr);
    LookupCounter counter(env);
    for (int i = 0; i < 5; ++i) {
        v.CallBooleanMethod("add", "(Ljava/lang/Object;)Z", jstr("x"));
        EXPECT_EQ(v.CallIntMethod("size", "()I"), i + 1);
    }
    EXPECT_EQ(counter.methodLookups(), 2);
    // Both overloads of findMethodID share the cache.
    EXPECT_NE(v.findMethodID(std::string("size"), std::string("()I")), nullptr);
    EXPECT_EQ(counter.methodLookups(), 2);
}

TEST_F(Wrappers, ObjectOfTheExpectedKnownClassSharesItsMembers)
{
    java::Vector known = java::Vector::construct(env);
    known.CallIntMethod("size", "()I");  // now in the shared table
    LookupCounter counter(env);
    java::Vector v(env, known.m_object, KnownClass::Vector);
    EXPECT_EQ(v.CallIntMethod("size", "()I"), 0);
    EXPECT_EQ(counter.methodLookups(), 0);
    // Not of the expected class: looked up on its own class, as any object.
    IndirectJObj text(env, jstr("abc"), KnownClass::Vector);
    EXPECT_EQ(text.CallIntMethod("length", "()I"), 3);
    EXPECT_EQ(counter.methodLookups(), 1);
    noException();
}

TEST_F(Wrappers, MissingMethodIsNullCachedAndLeavesOneErrorPending)
{
    IndirectJObj o(env, jstr("abc"));
    LookupCounter counter(env);
    EXPECT_EQ(o.findMethodID("noSuchMethod", "()V"), nullptr);
    const int lookups = counter.methodLookups();
    auto first = orvtest::TakeException(env);
    EXPECT_EQ(lookups, 1);
    EXPECT_TRUE(first.pending);
    EXPECT_EQ(first.className, "java.lang.NoSuchMethodError");

    const int before = counter.methodLookups();
    EXPECT_EQ(o.findMethodID("noSuchMethod", "()V"), nullptr);
    EXPECT_EQ(counter.methodLookups(), before);
    EXPECT_FALSE(orvtest::TakeException(env).pending);
}

TEST_F(Wrappers, CallsOnMissingMethodGiveZeroAndCallNothing)
{
    IndirectJObj o(env, jstr("abc"));
    EXPECT_EQ(o.CallIntMethod("missing", "()I"), 0);
    EXPECT_TRUE(orvtest::TakeException(env).pending);
    EXPECT_EQ(o.CallObjectMethod("missing", "()Ljava/lang/Object;"), nullptr);
    EXPECT_TRUE(orvtest::TakeException(env).pending);
    EXPECT_EQ(o.CallLongMethod("missing", "()J"), 0);
    EXPECT_TRUE(orvtest::TakeException(env).pending);
    EXPECT_EQ(o.CallDoubleMethod("missing", "()D"), 0.0);
    EXPECT_TRUE(orvtest::TakeException(env).pending);
    o.CallVoidMethod("missing", "()V");
    EXPECT_TRUE(orvtest::TakeException(env).pending);
    // Cached as missing: no new lookup, no new error.
    EXPECT_EQ(o.CallIntMethod("missing", "()I"), 0);
    EXPECT_FALSE(orvtest::TakeException(env).pending);
}

TEST_F(Wrappers, ObjectWrapperMadeFromClassWrapperKeepsItsIdentifiers)
{
    IndirectJClass cls(env, env->FindClass("java/util/Vector"));
    ASSERT_NE(cls.findMethodID("size", "()I"), nullptr);
    jobject vector = env->NewObject(cls.m_class, cls.findMethodID("<init>", "()V"));
    noException();
    LookupCounter counter(env);
    IndirectJObj o(cls, vector);
    EXPECT_EQ(o.CallIntMethod("size", "()I"), 0);
    EXPECT_EQ(counter.methodLookups(), 0);
    IndirectJObj copy(o);
    EXPECT_EQ(copy.CallIntMethod("size", "()I"), 0);
    EXPECT_EQ(counter.methodLookups(), 0);
}

TEST_F(Wrappers, StaticIntFieldsAreLookedUpOncePerWrapper)
{
    IndirectJClass types(env, env->FindClass("javax/wbem/cim/CIMDataType"));
    noException();
    LookupCounter counter(env);
    const char* names[] = {"SINT8", "UINT32_ARRAY", "STRING", "NULL", "REFERENCE"};
    for (int round = 0; round < 3; ++round) {
        for (const char* n : names) {
            EXPECT_EQ(types.GetStaticIntField(n, "I"), staticInt("javax/wbem/cim/CIMDataType", n)) << n;
        }
    }
    // staticInt above looks fields up directly; the wrapper did it five times in all.
    EXPECT_EQ(counter.fieldLookups(), 5 + 15);
}

TEST_F(Wrappers, MissingStaticFieldGivesANumberNoTypeHas)
{
    cim::CIMDataTypeClass types = cim::CIMDataTypeClass::construct(env);
    jint missing = types.GetStaticIntField("NO_SUCH_TYPE", "I");
    EXPECT_EQ(orvtest::TakeException(env).className, "java.lang.NoSuchFieldError");
    EXPECT_EQ(missing, kNoTypeNumber);
    for (const char* n :
         {"UINT8",        "SINT8",        "UINT16",        "SINT16",       "UINT32",
          "SINT32",       "UINT64",       "SINT64",        "REAL32",       "REAL64",
          "CHAR16",       "BOOLEAN",      "STRING",        "DATETIME",     "REFERENCE",
          "NULL",         "UINT8_ARRAY",  "SINT8_ARRAY",   "UINT16_ARRAY", "SINT16_ARRAY",
          "UINT32_ARRAY", "SINT32_ARRAY", "UINT64_ARRAY",  "SINT64_ARRAY", "REAL32_ARRAY",
          "REAL64_ARRAY", "CHAR16_ARRAY", "BOOLEAN_ARRAY", "STRING_ARRAY", "DATETIME_ARRAY"}) {
        EXPECT_NE(types.GetStaticIntField(n, "I"), missing) << n;
    }
}

TEST_F(Wrappers, WrapperOverNullNeverReachesJni)
{
    IndirectJObj none(env, nullptr);
    EXPECT_EQ(none.m_class, nullptr);
    EXPECT_EQ(none.CallObjectMethod("toString", "()Ljava/lang/String;"), nullptr);
    EXPECT_EQ(none.CallIntMethod("hashCode", "()I"), 0);
    none.CallVoidMethod("notify", "()V");
    EXPECT_EQ(none.findMethodID("toString", "()Ljava/lang/String;"), nullptr);
    IndirectJClass noClass(env, nullptr);
    EXPECT_EQ(noClass.GetStaticIntField("STRING", "I"), kNoTypeNumber);
    EXPECT_FALSE(orvtest::TakeException(env).pending);

    java::String nothing(env, nullptr);
    EXPECT_EQ(nothing.getStringA(), "");
    EXPECT_EQ(nothing.getStringW(), L"");
}

TEST_F(Wrappers, ByteShortAndCharResultsKeepTheirSignRules)
{
    IndirectJObj minusOne(env, java::Byte::construct(env, -1).m_object);
    EXPECT_EQ(minusOne.CallByteMethod("byteValue", "()B"), -1);
    EXPECT_EQ(minusOne.CallShortMethod("shortValue", "()S"), -1);
    EXPECT_EQ(minusOne.CallIntMethod("intValue", "()I"), -1);

    java::Character maxChar = java::Character::construct(env, 0xFFFF);
    EXPECT_EQ(maxChar.CallCharMethod("charValue", "()C"), 65535);

    java::Boolean yes = java::Boolean::construct(env, 1);
    EXPECT_EQ(yes.CallBooleanMethod("booleanValue", "()Z"), JNI_TRUE);
}

TEST_F(Wrappers, JavaExceptionOfTheCalledMethodStaysPending)
{
    java::Vector v = java::Vector::construct(env);
    EXPECT_EQ(v.CallObjectMethod("get", "(I)Ljava/lang/Object;", 3), nullptr);
    EXPECT_EQ(orvtest::TakeException(env).className, "java.lang.ArrayIndexOutOfBoundsException");
}

// ------------------------------------------------------------ proxies

TEST_F(Proxies, UnsignedInt64IsBuiltMostSignificantByteFirst)
{
    cim::UnsignedInt64 a = cim::UnsignedInt64::construct(env, 0x0102030405060708ULL);
    EXPECT_EQ(a.CallLongMethod("longValue", "()J"), 0x0102030405060708LL);
    EXPECT_EQ(toString(a.m_object), "72623859790382856");
    EXPECT_EQ(toString(cim::UnsignedInt64::construct(env, UINT64_MAX).m_object), "18446744073709551615");
    EXPECT_EQ(toString(cim::UnsignedInt64::construct(env, 1ULL << 63).m_object), "9223372036854775808");
    EXPECT_EQ(toString(cim::UnsignedInt64::construct(env, 0).m_object), "0");
}

TEST_F(Proxies, UnsignedFactoriesWidenWithoutSign)
{
    EXPECT_EQ(toString(cim::UnsignedInt8::construct(env, 255).m_object), "255");
    EXPECT_EQ(toString(cim::UnsignedInt16::construct(env, 65535).m_object), "65535");
    EXPECT_EQ(toString(cim::UnsignedInt32::construct(env, 4294967295U).m_object), "4294967295");
    EXPECT_EQ(toString(java::Byte::construct(env, -1).m_object), "-1");
    EXPECT_EQ(toString(java::Short::construct(env, -32768).m_object), "-32768");
    EXPECT_EQ(toString(java::Integer::construct(env, INT32_MIN).m_object), "-2147483648");
    EXPECT_EQ(toString(java::Long::construct(env, INT64_MIN).m_object), "-9223372036854775808");
    EXPECT_EQ(toString(java::Float::construct(env, 1.5f).m_object), "1.5");
    EXPECT_EQ(toString(java::Double::construct(env, -0.25).m_object), "-0.25");
    EXPECT_EQ(toString(java::Character::construct(env, 0x41).m_object), "A");
}

TEST_F(Proxies, FactoryProxiesAlreadyKnowTheirConstructor)
{
    java::Vector first = java::Vector::construct(env);
    first.CallIntMethod("size", "()I");
    // The class and its members are looked up once per JVM, not per proxy.
    LookupCounter counter(env);
    java::Vector v = java::Vector::construct(env);
    EXPECT_NE(v.findMethodID("<init>", "()V"), nullptr);
    EXPECT_EQ(v.CallIntMethod("size", "()I"), 0);
    EXPECT_EQ(counter.methodLookups(), 0);
    EXPECT_EQ(first.m_class, v.m_class);
}

TEST_F(Proxies, StringConstructDecodesUtf8)
{
    EXPECT_EQ(env->GetStringLength(static_cast<jstring>(java::String::construct(env, "").m_object)), 0);
    EXPECT_EQ(str(java::String::construct(env, "root/cimv2").m_object), "root/cimv2");

    // e-acute and U+1D11E, whatever the JVM's default character set.
    const char bytes[] = "caf\xC3\xA9\xF0\x9D\x84\x9E";
    const jchar units[] = {'c', 'a', 'f', 0x00E9, 0xD834, 0xDD1E};
    jclass stringClass = env->FindClass("java/lang/String");
    noException();
    jobject expected = env->NewString(units, 6);
    noException();
    jobject made = java::String::construct(env, bytes).m_object;
    jmethodID equals = env->GetMethodID(stringClass, "equals", "(Ljava/lang/Object;)Z");
    const jboolean same = env->CallBooleanMethod(made, equals, expected);
    noException();
    EXPECT_TRUE(same);
}

TEST_F(Proxies, GetStringAGivesUtf8)
{
    // e-acute, euro sign, U+1D11E (a surrogate pair) and U+0000.
    const jchar units[] = {0x00E9, 0x20AC, 0xD834, 0xDD1E, 0x0000, 0x41};
    jstring text = env->NewString(units, 6);
    noException();
    java::String s(env, text);
    const std::string expected =
        "\xC3\xA9"
        "\xE2\x82\xAC"
        "\xF0\x9D\x84\x9E"
        "\xC0\x80"
        "A";
    EXPECT_EQ(s.getStringA(), expected);
    const std::wstring wide = s.getStringW();
    ASSERT_EQ(wide.size(), 6u);
    for (size_t i = 0; i < 6; ++i) EXPECT_EQ(static_cast<jchar>(wide[i]), units[i]) << i;
    EXPECT_EQ(java::String(env, jstr("java.util.Vector")).getStringW(), L"java.util.Vector");
}

TEST_F(Proxies, TextIsEmptyWhileAnExceptionIsPendingAndTheExceptionStays)
{
    java::String s(env, jstr("abc"));
    env->ThrowNew(env->FindClass("java/lang/IllegalStateException"), "before");
    EXPECT_EQ(s.getStringA(), "");
    EXPECT_EQ(s.getStringW(), L"");
    auto pending = orvtest::TakeException(env);
    EXPECT_EQ(pending.className, "java.lang.IllegalStateException");
    EXPECT_EQ(pending.message, "before");
    EXPECT_EQ(s.getStringA(), "abc");
}

TEST_F(Proxies, NothingIsMadeOrCalledWhileAnExceptionIsPending)
{
    java::Vector before = java::Vector::construct(env);
    env->ThrowNew(env->FindClass("java/lang/IllegalStateException"), "pending");
    EXPECT_EQ(java::Vector::construct(env).m_object, nullptr);
    EXPECT_EQ(java::String::construct(env, "text").m_object, nullptr);
    EXPECT_EQ(cim::CIMValue::construct(env).m_object, nullptr);
    EXPECT_EQ(before.CallIntMethod("size", "()I"), 0);
    EXPECT_EQ(IndirectJObj(env, before.m_object).m_class, nullptr);
    auto pending = orvtest::TakeException(env);
    EXPECT_EQ(pending.message, "pending");
    EXPECT_EQ(java::String(env, java::String::construct(env, "text").m_object).getStringA(), "text");
}

TEST_F(Proxies, DataTypeClassHasNoObject)
{
    cim::CIMDataTypeClass types = cim::CIMDataTypeClass::construct(env);
    EXPECT_EQ(types.m_object, nullptr);
    EXPECT_NE(types.m_class, nullptr);
    cim::CIMDataType t = cim::CIMDataType::construct(env, types.GetStaticIntField("UINT16_ARRAY", "I"));
    EXPECT_EQ(t.CallIntMethod("getType", "()I"), staticInt("javax/wbem/cim/CIMDataType", "UINT16_ARRAY"));
}

TEST_F(Proxies, ValuesAndTheirText)
{
    cim::CIMDataType type =
        cim::CIMDataType::construct(env, staticInt("javax/wbem/cim/CIMDataType", "SINT32"));
    cim::CIMValue v = cim::CIMValue::construct(env, java::Integer::construct(env, 42).m_object, type);
    EXPECT_EQ(v.getValueAsString().getStringA(), "42");

    java::Vector list = java::Vector::construct(env);
    list.CallBooleanMethod("add", "(Ljava/lang/Object;)Z", jstr("a"));
    cim::CIMValue array = cim::CIMValue::construct(env, list, type);
    EXPECT_EQ(array.getValueAsString().getStringA(), "[a]");

    cim::CIMValue empty = cim::CIMValue::construct(env);
    ASSERT_NE(empty.m_object, nullptr);
    EXPECT_EQ(empty.getValueAsString().getStringA(), "");  // no value object: no text

    java::Collection c(env, list.m_object);
    java::Iterator it = c.iterator();
    EXPECT_TRUE(it.CallBooleanMethod("hasNext", "()Z"));
    EXPECT_EQ(java::String(env, it.CallObjectMethod("next", "()Ljava/lang/Object;")).getStringA(), "a");
    EXPECT_FALSE(it.CallBooleanMethod("hasNext", "()Z"));
}

TEST_F(Proxies, ObjectModelFactories)
{
    cim::CIMObjectPath p = cim::CIMObjectPath::construct(env, "root/cimv2:CIM_Foo.Name=\"x\"");
    EXPECT_EQ(java::String(env, p.CallObjectMethod("getObjectName", "()Ljava/lang/String;")).getStringA(),
              "CIM_Foo");
    EXPECT_EQ(java::String(env, p.CallObjectMethod("getNameSpace", "()Ljava/lang/String;")).getStringA(),
              "root/cimv2");

    cim::CIMProperty prop = cim::CIMProperty::construct(env, java::String::construct(env, "Name"));
    EXPECT_EQ(java::String(env, prop.CallObjectMethod("getName", "()Ljava/lang/String;")).getStringA(),
              "Name");
    cim::CIMInstance inst = cim::CIMInstance::construct(env);
    EXPECT_NE(inst.m_object, nullptr);
    cim::CIMMethod m = cim::CIMMethod::construct(env, java::String::construct(env, "Reset"));
    EXPECT_EQ(java::String(env, m.CallObjectMethod("getName", "()Ljava/lang/String;")).getStringA(), "Reset");
    cim::CIMParameter par = cim::CIMParameter::construct(env, java::String::construct(env, "Force"));
    EXPECT_EQ(java::String(env, par.CallObjectMethod("getName", "()Ljava/lang/String;")).getStringA(),
              "Force");
    cim::CIMArgument none = cim::CIMArgument::construct(env);
    EXPECT_NE(none.m_object, nullptr);
    cim::CIMArgument arg =
        cim::CIMArgument::construct(env, java::String::construct(env, "In"), cim::CIMValue::construct(env));
    EXPECT_EQ(java::String(env, arg.CallObjectMethod("getName", "()Ljava/lang/String;")).getStringA(), "In");
    cim::CIMDateTime dt =
        cim::CIMDateTime::construct(env, java::String::construct(env, "00000001020304.000005:000"));
    EXPECT_EQ(toString(dt.m_object), "00000001020304.000005:000");
}

}  // namespace
