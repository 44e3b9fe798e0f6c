#include "orv_jvm_test.h"
#include "orv_test_skip.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

// A binary that hosts a JVM gets no leak check under ASan: LeakSanitizer's
// end-of-process scan faults on the JVM's protected pages, and the JVM keeps
// its memory to the end anyway.
#if defined(__SANITIZE_ADDRESS__)
extern "C" int __lsan_is_turned_off()
{
    return 1;
}
#endif

namespace orvtest {
namespace {

constexpr char kClassPathFlag[] = "--orv-classpath=";
constexpr char kLibPathFlag[] = "--orv-libpath=";
constexpr char kOptionFlag[] = "--orv-jvm-option=";

JavaVM* g_vm = nullptr;
JNIEnv* g_env = nullptr;
JvmSettings g_settings;

bool TakeValue(const char* arg, const char* flag, std::string* out)
{
    const size_t n = std::strlen(flag);
    if (std::strncmp(arg, flag, n) != 0) return false;
    *out = arg + n;
    return true;
}

[[noreturn]] void Die(const char* what)
{
    std::fprintf(stderr, "orv_jvm_test: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

// Creates the JVM before the first test; a failure here fails every test of the binary.
class JvmEnvironment : public ::testing::Environment {
public:
    void SetUp() override
    {
        std::vector<std::string> texts;
        texts.push_back("-Djava.class.path=" + g_settings.classPath);
        texts.push_back("-Djava.library.path=" + g_settings.libraryPath);
        for (const auto& o : g_settings.options) texts.push_back(o);

        std::vector<JavaVMOption> options(texts.size());
        for (size_t i = 0; i < texts.size(); ++i) {
            options[i].optionString = const_cast<char*>(texts[i].c_str());
            options[i].extraInfo = nullptr;
        }
        JavaVMInitArgs args{};
        args.version = JNI_VERSION_10;
        args.nOptions = static_cast<jint>(options.size());
        args.options = options.data();
        args.ignoreUnrecognized = JNI_FALSE;

        void* env = nullptr;
        const jint rc = JNI_CreateJavaVM(&g_vm, &env, &args);
        ASSERT_EQ(rc, JNI_OK) << "JNI_CreateJavaVM failed with " << rc;
        g_env = static_cast<JNIEnv*>(env);
    }
    // The JVM is not destroyed: DestroyJavaVM waits for every non-daemon thread, and the
    // process ends right after the tests anyway.
};

}  // namespace

JvmSettings TakeJvmSettings(int* argc, char** argv)
{
    JvmSettings s;
    int out = 1;
    for (int i = 1; i < *argc; ++i) {
        std::string value;
        if (TakeValue(argv[i], kClassPathFlag, &value)) {
            s.classPath = value;
        } else if (TakeValue(argv[i], kLibPathFlag, &value)) {
            s.libraryPath = value;
        } else if (TakeValue(argv[i], kOptionFlag, &value)) {
            s.options.push_back(value);
        } else {
            argv[out++] = argv[i];
        }
    }
    *argc = out;
    argv[out] = nullptr;
    return s;
}

int RunJvmTests(int argc, char** argv)
{
    g_settings = TakeJvmSettings(&argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new JvmEnvironment);  // gtest owns it
    return SkipAwareExitCode(RUN_ALL_TESTS());
}

JavaVM* Vm()
{
    if (g_vm == nullptr) Die("the JVM does not exist (yet)");
    return g_vm;
}

JNIEnv* Env()
{
    if (g_env == nullptr) Die("the JVM does not exist (yet)");
    return g_env;
}

const JvmSettings& Settings()
{
    return g_settings;
}

std::string ToStdString(JNIEnv* env, jstring s)
{
    if (s == nullptr) return std::string();
    const char* chars = env->GetStringUTFChars(s, nullptr);
    // Checked, so that -Xcheck:jni sees the caller look; an OutOfMemoryError stays pending.
    if (env->ExceptionCheck() || chars == nullptr) return std::string();
    std::string out(chars);
    env->ReleaseStringUTFChars(s, chars);
    return out;
}

PendingException TakeException(JNIEnv* env)
{
    PendingException result;
    jthrowable t = env->ExceptionOccurred();
    if (t == nullptr) return result;
    env->ExceptionClear();
    result.pending = true;

    jclass throwableClass = env->GetObjectClass(t);
    jclass classClass = env->FindClass("java/lang/Class");
    jmethodID getName = env->GetMethodID(classClass, "getName", "()Ljava/lang/String;");
    jmethodID getMessage =
        env->GetMethodID(env->FindClass("java/lang/Throwable"), "getMessage", "()Ljava/lang/String;");
    // A throwing getName() or getMessage() is not the test's business: it just leaves a blank.
    auto name = static_cast<jstring>(env->CallObjectMethod(throwableClass, getName));
    if (env->ExceptionCheck()) env->ExceptionClear();
    result.className = ToStdString(env, name);
    auto message = static_cast<jstring>(env->CallObjectMethod(t, getMessage));
    if (env->ExceptionCheck()) env->ExceptionClear();
    result.message = ToStdString(env, message);
    env->DeleteLocalRef(name);
    env->DeleteLocalRef(message);
    env->DeleteLocalRef(classClass);
    env->DeleteLocalRef(throwableClass);
    env->DeleteLocalRef(t);
    return result;
}

jclass FindClassOrFail(JNIEnv* env, const char* name)
{
    jclass c = env->FindClass(name);
    if (c == nullptr) {
        PendingException e = TakeException(env);
        ADD_FAILURE() << "class " << name << " not found: " << e.className << ": " << e.message;
    }
    return c;
}

}  // namespace orvtest
