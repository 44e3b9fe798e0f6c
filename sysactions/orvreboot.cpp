// sysactions: halt or reboot the machine through the system's shutdown program, for
// com.zandor.retail.orv.mgmt.util.SystemActions.  The program is found in /sbin, /usr/sbin and
// then PATH, started in a child with its standard streams on /dev/null and no other descriptor
// of the JVM, and not waited for.

#include "orvreboot_internal.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#ifdef ORV_SYSACTIONS_TEST_BUILD
#include "shutdown_standin_guard.h"
#endif

extern char** environ;

namespace orv::sysactions {
namespace {

constexpr char kFixedSearchPrefix[] = "/sbin:/usr/sbin:";
constexpr char kProgramName[] = "shutdown";
constexpr char kNullDevice[] = "/dev/null";
constexpr size_t kMessageBufferSize = 512;
// Room for "%d" of any int and its terminator.
constexpr size_t kDelayTextSize = 16;

void ThrowRuntime(JNIEnv* env, const char* message)
{
    jclass cls = env->FindClass("java/lang/RuntimeException");
    if (cls == nullptr) return;  // FindClass left its own exception pending
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}

// The first usable "<element>/shutdown" of the search list, or "" when there is none.  Empty
// elements and relative ones are skipped: the current directory, or anything below it, is
// never searched, since whoever can write there could otherwise have the agent run a program.
std::string FindProgram(const std::string& searchList)
{
    size_t start = 0;
    while (start <= searchList.size()) {
        size_t end = searchList.find(':', start);
        if (end == std::string::npos) end = searchList.size();
        const std::string element = searchList.substr(start, end - start);
        start = end + 1;
        if (element.empty() || element[0] != '/') continue;

        const std::string candidate = element + "/" + kProgramName;
        struct stat st {};
        // stat follows symbolic links: a link to the program counts as the program.
        if (stat(candidate.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IXOTH) != 0)
            return candidate;
    }
    return std::string();
}

// posix_spawn reports a failed exec to the parent, so a program that cannot run is not taken
// for a started one.  The child only points its three standard streams at /dev/null, closes
// every other descriptor it inherited (the JVM's sockets and files that are not close-on-exec
// are none of the shutdown program's business) and execs.
int Spawn(const std::string& program, char* const argv[], pid_t* pid)
{
    posix_spawn_file_actions_t actions;
    int rc = posix_spawn_file_actions_init(&actions);
    if (rc != 0) return rc;
    rc = posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, kNullDevice, O_RDONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, kNullDevice, O_WRONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, kNullDevice, O_WRONLY, 0);
    if (rc == 0) rc = posix_spawn_file_actions_addclosefrom_np(&actions, STDERR_FILENO + 1);
    if (rc == 0) rc = posix_spawn(pid, program.c_str(), &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    return rc;
}

jint SystemShutdown(JNIEnv* env, bool reboot, jint delay)
{
    return SystemShutdownSearching(env, kFixedSearchPrefix, std::getenv("PATH"), reboot, delay);
}

// No C++ exception may reach the JVM.
jint GuardedSystemShutdown(JNIEnv* env, bool reboot, jint delay)
{
    try {
        return SystemShutdown(env, reboot, delay);
    } catch (...) {
        ThrowRuntime(env, "Failed to create shutdown process: out of native memory");
        return -1;
    }
}

}  // namespace

jint SystemShutdownSearching(JNIEnv* env, const char* fixedPrefix, const char* pathValue, bool reboot,
                             jint delay)
{
    std::string searchList = fixedPrefix != nullptr ? fixedPrefix : "";
    searchList += pathValue != nullptr ? pathValue : "";
    const std::string program = FindProgram(searchList);
    if (program.empty()) return 0;

#ifdef ORV_SYSACTIONS_TEST_BUILD
    // The test build starts nothing but the tests' stand-in program.
    orvtest::AbortUnlessStandIn(program.c_str());
#endif

    char delayText[kDelayTextSize];
    std::snprintf(delayText, sizeof delayText, "%d", static_cast<int>(delay));
    char name[] = "shutdown";
    char mode[] = "-h";
    if (reboot) mode[1] = 'r';
    char timeOption[] = "-t";
    char when[] = "now";
    char* const argv[] = {name, mode, timeOption, delayText, when, nullptr};

    pid_t pid = -1;
    const int error = Spawn(program, argv, &pid);
    if (error != 0) {
        char message[kMessageBufferSize];
        std::snprintf(message, sizeof message, "Failed to create shutdown process, error = %d", error);
        ThrowRuntime(env, message);
        return -1;
    }
    return static_cast<jint>(pid);
}

}  // namespace orv::sysactions

extern "C" {

JNIEXPORT jint JNICALL Java_com_zandor_retail_orv_mgmt_util_SystemActions_shutdown(JNIEnv* env,
                                                                                   jobject /*unused*/)
{
    return orv::sysactions::GuardedSystemShutdown(env, false, 0);
}

// Both reboot overloads carry their long JNI names.  The JVM tries a native's short name
// before its long one, so a short-named reboot() would also be bound to reboot(int) and
// reboot at once, whatever delay was asked.
JNIEXPORT jint JNICALL Java_com_zandor_retail_orv_mgmt_util_SystemActions_reboot__(JNIEnv* env,
                                                                                   jobject /*unused*/)
{
    return orv::sysactions::GuardedSystemShutdown(env, true, 0);
}

JNIEXPORT jint JNICALL Java_com_zandor_retail_orv_mgmt_util_SystemActions_reboot__I(JNIEnv* env,
                                                                                    jobject /*unused*/,
                                                                                    jint delay)
{
    return orv::sysactions::GuardedSystemShutdown(env, true, delay);
}

}  // extern "C"
