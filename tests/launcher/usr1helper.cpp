// Test-only JNI library loaded by the "usr1" agent variant: it installs a SIGUSR1
// handler without SA_RESTART, as a native library of the agent might, so a test can
// interrupt the launcher's main thread while it waits for SIGTERM.

#include <jni.h>

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

namespace {

int g_markerFd = -1;

void onUsr1(int /*signo*/)
{
    static const char kMark[] = "SIGUSR1\n";
    const int savedErrno = errno;
    if (g_markerFd >= 0 && write(g_markerFd, kMark, sizeof(kMark) - 1) < 0) {
        // Nothing can be reported from a handler; the test then sees no mark.
    }
    errno = savedErrno;
}

// Holds the modified UTF-8 bytes of a Java string for as long as it lives.
class Utf8Chars {
public:
    Utf8Chars(JNIEnv* env, jstring text)
        : env_(env), text_(text), chars_(text ? env->GetStringUTFChars(text, nullptr) : nullptr)
    {}
    ~Utf8Chars()
    {
        if (chars_ != nullptr) {
            env_->ReleaseStringUTFChars(text_, chars_);
        }
    }
    Utf8Chars(const Utf8Chars&) = delete;
    Utf8Chars& operator=(const Utf8Chars&) = delete;
    const char* get() const { return chars_; }

private:
    JNIEnv* env_;
    jstring text_;
    const char* chars_;
};

void throwRuntime(JNIEnv* env, const std::string& message)
{
    jclass runtime = env->FindClass("java/lang/RuntimeException");
    if (runtime != nullptr) {
        env->ThrowNew(runtime, message.c_str());
    }
}

}  // namespace

extern "C" JNIEXPORT void JNICALL
Java_com_zandor_retail_orv_mgmt_svc_TestSignals_installUsr1Handler(JNIEnv* env, jclass, jstring markerFile)
{
    Utf8Chars path(env, markerFile);
    if (path.get() == nullptr) {
        if (!env->ExceptionCheck()) {
            throwRuntime(env, "installUsr1Handler: no marker file name");
        }
        return;
    }
    const int fd = open(path.get(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        throwRuntime(env,
                     std::string("installUsr1Handler: open ") + path.get() + ": " + std::strerror(errno));
        return;
    }
    g_markerFd = fd;

    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = onUsr1;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: interrupted waits fail with EINTR
    if (sigaction(SIGUSR1, &action, nullptr) != 0) {
        throwRuntime(env, std::string("installUsr1Handler: sigaction: ") + std::strerror(errno));
    }
}
