// One JVM per GoogleTest binary, for suites that call natives through a real JVM.
//
// A test binary either links orv_jvm_test_main (which supplies main()) or writes its own main()
// that does its process-wide preparation first (namespaces must be made while the process is
// still single-threaded, i.e. before the JVM exists) and then returns orvtest::RunJvmTests().
//
// The JVM is configured from the command line, which orv_add_jvm_test() fills in:
//   --orv-classpath=A:B       class path (-Djava.class.path)
//   --orv-libpath=A:B         native library path (-Djava.library.path)
//   --orv-jvm-option=OPT      any further JVM option, may repeat (for example -Xcheck:jni)
#pragma once

#include <jni.h>

#include <string>
#include <vector>

namespace orvtest {

struct JvmSettings {
    std::string classPath;
    std::string libraryPath;
    std::vector<std::string> options;  // further options, passed as given
};

// Strips the --orv-* arguments from argv (so GoogleTest never sees them) and returns them.
JvmSettings TakeJvmSettings(int* argc, char** argv);

// Initialises GoogleTest, creates the JVM before the first test and runs all tests.  Returns
// orvtest::kSkipReturnCode (orv_test_skip.h) when every case was skipped.
int RunJvmTests(int argc, char** argv);

// The test binary's JVM and the JNIEnv of the main thread (tests run on it).  Both abort the
// test binary with a message when called before the JVM exists.
JavaVM* Vm();
JNIEnv* Env();

// Settings the JVM was created with (for suites that start helper processes alike).
const JvmSettings& Settings();

// Returns the pending exception's class name and message ("" when none is pending) and clears
// it, so that a test can assert on what a native threw.
struct PendingException {
    bool pending = false;
    std::string className;  // binary name, e.g. "java.lang.RuntimeException"
    std::string message;    // getMessage(), "" when null
};
PendingException TakeException(JNIEnv* env);

// Java string to std::string (modified UTF-8); "" for null.
std::string ToStdString(JNIEnv* env, jstring s);

// Keeps the local references a test makes from piling up in the thread's top frame (where
// -Xcheck:jni counts them against the default capacity): everything made while it lives is
// released when it goes.
class LocalFrame {
public:
    explicit LocalFrame(JNIEnv* env, jint capacity = 32) : env_(env)
    {
        pushed_ = env_->PushLocalFrame(capacity) == 0;
    }
    ~LocalFrame()
    {
        if (pushed_) env_->PopLocalFrame(nullptr);
    }
    LocalFrame(const LocalFrame&) = delete;
    LocalFrame& operator=(const LocalFrame&) = delete;

private:
    JNIEnv* env_;
    bool pushed_ = false;
};

// Finds a class or fails the current test (and returns nullptr) with the pending exception.
jclass FindClassOrFail(JNIEnv* env, const char* name);

}  // namespace orvtest
