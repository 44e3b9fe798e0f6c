// Helpers shared by the CIM bridge suites: a JNI function table that counts
// identifier lookups, and short ways to make and read Java objects.
#pragma once

#include "orv_jvm_test.h"

#include <gtest/gtest.h>
#include <jni.h>

#include <string>

namespace orvtest {

// Counts GetMethodID and GetStaticFieldID made through this thread's JNIEnv
// while alive.  It swaps the env's function table for a copy whose two
// entries count and forward to the original table.
class LookupCounter {
public:
    explicit LookupCounter(JNIEnv* env) : m_env(env), m_saved(env->functions), m_table(*env->functions)
    {
        s_active = this;
        m_table.GetMethodID = &countMethod;
        m_table.GetStaticFieldID = &countField;
        m_env->functions = &m_table;
    }
    ~LookupCounter()
    {
        m_env->functions = m_saved;
        s_active = nullptr;
    }
    LookupCounter(const LookupCounter&) = delete;
    LookupCounter& operator=(const LookupCounter&) = delete;

    int methodLookups() const { return m_methods; }
    int fieldLookups() const { return m_fields; }

private:
    static jmethodID JNICALL countMethod(JNIEnv* env, jclass c, const char* n, const char* s)
    {
        ++s_active->m_methods;
        return s_active->m_saved->GetMethodID(env, c, n, s);
    }
    static jfieldID JNICALL countField(JNIEnv* env, jclass c, const char* n, const char* s)
    {
        ++s_active->m_fields;
        return s_active->m_saved->GetStaticFieldID(env, c, n, s);
    }

    static inline LookupCounter* s_active = nullptr;
    JNIEnv* m_env;
    const JNINativeInterface_* m_saved;
    JNINativeInterface_ m_table;
    int m_methods = 0;
    int m_fields = 0;
};

// Each test runs in its own local frame so that references do not pile up.
class JvmTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        env = orvtest::Env();
        ASSERT_EQ(env->PushLocalFrame(256), 0);
    }
    void TearDown() override
    {
        auto leftover = orvtest::TakeException(env);
        EXPECT_FALSE(leftover.pending)
            << "exception left pending: " << leftover.className << ": " << leftover.message;
        env->PopLocalFrame(nullptr);
    }

    // Every test-side JNI call that can raise is followed by this, so that
    // -Xcheck:jni sees the tests checking; nothing is expected to be pending.
    void noException()
    {
        if (env->ExceptionCheck()) {
            auto e = orvtest::TakeException(env);
            ADD_FAILURE() << "unexpected Java exception: " << e.className << ": " << e.message;
        }
    }

    jstring jstr(const char* modifiedUtf8)
    {
        jstring s = env->NewStringUTF(modifiedUtf8);
        (void)env->ExceptionCheck();
        return s;
    }

    std::string str(jobject s)
    {
        return s == nullptr ? "<null>" : orvtest::ToStdString(env, static_cast<jstring>(s));
    }

    // new ClassName(String)
    jobject newFromString(const char* cls, const char* text)
    {
        jclass c = env->FindClass(cls);
        EXPECT_NE(c, nullptr) << cls;
        jmethodID ctor = env->GetMethodID(c, "<init>", "(Ljava/lang/String;)V");
        jstring arg = jstr(text);
        jobject o = env->NewObject(c, ctor, arg);
        (void)env->ExceptionCheck();
        return o;
    }

    // o.toString()
    std::string toString(jobject o)
    {
        jclass c = env->FindClass("java/lang/Object");
        jmethodID m = env->GetMethodID(c, "toString", "()Ljava/lang/String;");
        jobject s = env->CallObjectMethod(o, m);
        (void)env->ExceptionCheck();
        return str(s);
    }

    jint staticInt(const char* cls, const char* field)
    {
        jclass c = env->FindClass(cls);
        return env->GetStaticIntField(c, env->GetStaticFieldID(c, field, "I"));
    }

    JNIEnv* env = nullptr;
};

}  // namespace orvtest
