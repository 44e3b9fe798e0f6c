// Status codes, the per-thread last error and the informational natives.
// Compiled in one unit with the bridge's source (cimbridge_unit_test), whose
// internals it reaches.
#include "bridge_test_util.h"

#include <thread>

using orvtest::JvmTest;

namespace {

class Errors : public JvmTest {};

TEST(ConvertToRC, MapsCimStatusCodesTwoToSeventeenAndNothingElse)
{
    for (unsigned code = 0; code <= 31; ++code) {
        Pegasus::CIMException e(static_cast<Pegasus::CIMStatusCode>(code), "message");
        jint expected = (code >= 2 && code <= 17) ? static_cast<jint>(0x30000005 + (code - 2)) : 0x30000004;
        EXPECT_EQ(ConvertToRC(e), expected) << "code " << code;
    }
    EXPECT_EQ(ConvertToRC(Pegasus::CIMException(Pegasus::CIM_ERR_NOT_FOUND)), 0x30000009);
    EXPECT_EQ(ConvertToRC(Pegasus::CIMException(Pegasus::CIM_ERR_METHOD_NOT_FOUND)), 0x30000014);
    EXPECT_EQ(ConvertToRC(Pegasus::CIMException(Pegasus::CIM_ERR_ACCESS_DENIED)), 0x30000005);
}

TEST(LastError, SecondTextReplacesTheFirst)
{
    AssignLastError("first failure");
    AssignLastError("second failure");
    EXPECT_EQ(LastErrorOfThisThread(), "second failure");
    AssignLastError("");
    EXPECT_EQ(LastErrorOfThisThread(), "");
}

TEST(LastError, EachThreadReadsOnlyItsOwn)
{
    AssignLastError("main thread's");
    std::string seenByOther = "unset";
    std::string afterOwn;
    std::thread other([&] {
        seenByOther = LastErrorOfThisThread();
        AssignLastError("other thread's");
        afterOwn = LastErrorOfThisThread();
        // Entries outlive their threads and a later thread may get the same
        // identifier; leave nothing behind for the next case.
        AssignLastError("");
    });
    other.join();
    EXPECT_EQ(seenByOther, "");
    EXPECT_EQ(afterOwn, "other thread's");
    EXPECT_EQ(LastErrorOfThisThread(), "main thread's");
}

TEST_F(Errors, GetLastErrorNativeGivesTheThreadsTextOrEmpty)
{
    AssignLastError("no such namespace \xC3\xA9");
    jstring text = Java_javax_wbem_client_CIMImpl_getLastError(env, nullptr);
    EXPECT_EQ(str(text), "no such namespace \xC3\xA9");
    // Reading does not clear it.
    EXPECT_EQ(str(Java_javax_wbem_client_CIMImpl_getLastError(env, nullptr)), "no such namespace \xC3\xA9");

    // A thread that never failed gets the empty string, not null.
    std::string fresh = "unset";
    std::thread t([&] {
        JNIEnv* tenv = nullptr;
        ASSERT_EQ(orvtest::Vm()->AttachCurrentThread(reinterpret_cast<void**>(&tenv), nullptr), JNI_OK);
        jstring s = Java_javax_wbem_client_CIMImpl_getLastError(tenv, nullptr);
        fresh = s == nullptr ? "<null>" : orvtest::ToStdString(tenv, s);
        orvtest::Vm()->DetachCurrentThread();
    });
    t.join();
    EXPECT_EQ(fresh, "");
}

TEST_F(Errors, VersionAndImplementationName)
{
    EXPECT_EQ(str(Java_javax_wbem_client_CIMImpl_getVersion(env, nullptr)), "2.4.6040");

    jclass impl = env->FindClass("javax/wbem/client/CIMImpl");
    ASSERT_NE(impl, nullptr);
    jfieldID field = env->GetStaticFieldID(impl, "IMPL_PEGASUS_TOVA", "Ljava/lang/String;");
    std::string expected = str(env->GetStaticObjectField(impl, field));
    EXPECT_EQ(str(Java_javax_wbem_client_CIMImpl_getImplName(env, impl)), expected);

    // The field is read on the class the native is called on, whatever it holds.
    jstring changed = jstr("changed");
    env->SetStaticObjectField(impl, field, changed);
    EXPECT_EQ(str(Java_javax_wbem_client_CIMImpl_getImplName(env, impl)), "changed");
    jstring original = jstr(expected.c_str());
    env->SetStaticObjectField(impl, field, original);

    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_getImplName(env, nullptr), nullptr);
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_getImplName(env, env->FindClass("java/lang/Object")), nullptr);
    EXPECT_EQ(orvtest::TakeException(env).className, "java.lang.NoSuchFieldError");
}

}  // namespace
