// agentlauncher: creates the management agent's JVM inside this process, runs the
// agent's main class on the main thread and relays SIGTERM to the agent's service
// event manager as a shutdown event.

#include <jni.h>

#include <dirent.h>
#include <semaphore.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr const char* kMainClass = "com/zandor/retail/orv/mgmt/svc/GeneralAgentService";
constexpr const char* kMainMethod = "main";
constexpr const char* kMainSignature = "([Ljava/lang/String;)V";
constexpr const char* kManagerClass = "com/zandor/retail/orv/mgmt/svc/SCMEventManager";
constexpr const char* kDispatchMethod = "dispatchSCMEvent";
constexpr const char* kDispatchSignature = "(I)V";

constexpr const char* kClassPathOption = "-Djava.class.path=";
constexpr const char* kLibraryPathOption = "-Djava.library.path=";
constexpr int kOptionSlots = 20;   // room in the option array
constexpr int kOptionCount = 12;   // options actually handed to the JVM
constexpr int kShutdownEvent = 1;  // event code of an orderly stop
constexpr int kGracePauseSeconds = 5;
constexpr size_t kHostBufferSize = 256;
constexpr int kExitFailure = -1;  // seen by the parent as 255
// Permission bits that let someone other than a file's owner change it.
constexpr mode_t kWritableByOthers = S_IWGRP | S_IWOTH;

}  // namespace

// The one JVM of the process, the agent's service event manager (a global
// reference, or null) and the semaphore the SIGTERM handler posts.
JavaVM* jvm = nullptr;
jobject callback_SCMEVM = nullptr;
sem_t sem;

// The launcher's only output channel: standard error, flushed at once, nothing added.
__attribute__((format(printf, 1, 2))) static void errmsg(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fflush(stderr);
}

// Appends one entry per name found in base + "/ext/", in descending byte order.
// Anything but "." and ".." counts: jars, other files, subdirectories.
static void appendExtEntries(std::string& out, const std::string& base)
{
    const std::string dir = base + "/ext/";
    struct dirent** names = nullptr;
    // The launcher never calls setlocale, so alphasort compares plain bytes.
    const int count = scandir(dir.c_str(), &names, nullptr, alphasort);
    if (count < 0) {
        errmsg("Warning: Error scanning ext directory for jar files\n");
        return;
    }
    for (int i = count - 1; i >= 0; --i) {
        const char* name = names[i]->d_name;
        if (std::strcmp(name, ".") != 0 && std::strcmp(name, "..") != 0) {
            out += dir;
            out += name;
            out += ':';
        }
        std::free(names[i]);
    }
    std::free(names);
}

static int buildClasspath(std::string& out, const char* /*orvHome: not consulted*/, const char* home,
                          const std::string& config)
{
    static const char* const kJars[] = {
        "/brevin.jar:",  "/orvmgmt.jar:", "/orvutil.jar:", "/commons-logging.jar:", "/wemble.jar:",
        "/orvbeep.jar:", "/orvwbem.jar:", "/drumet.jar:",  "/api5821.jar:",
    };
    out += kClassPathOption;
    out += config;
    out += "/classes:";
    out += home;
    out += ':';
    for (const char* jar : kJars) {
        out += home;
        out += jar;
    }
    appendExtEntries(out, config);
    return 0;
}

static int buildLibraryPath(std::string& out, const char* home)
{
    out += home;
    out += "/jre/bin/classic:";
    out += home;
    out += "/jre/bin:";
    out += home;
    out += "/lib";
    return 0;
}

static void appendHostname(std::string& out)
{
    char host[kHostBufferSize] = {};
    if (gethostname(host, sizeof(host) - 1) == 0) {
        // POSIX leaves a truncated name without its NUL: terminate it ourselves.
        host[sizeof(host) - 1] = '\0';
        out += host;
    }
}

// ---- Where the JVM may load code from
//
// The launcher runs as root, and everything on the class path and the library path
// becomes code in its process.  So an entry is used only if nobody but root or the
// launcher's user could have put anything there: the entry and every directory above
// it belong to one of them and are writable by no one else.  The one exception is a
// sticky directory above an existing part of the path (as /tmp): others may add names
// to it but cannot rename or remove ours.  It is no exception for the entry itself, nor
// for the directory a missing entry would be created in.

// Root, or the user the launcher runs as.
static bool trustedOwner(uid_t owner)
{
    return owner == 0 || owner == geteuid();
}

// The directory that holds an absolute path ("/" for "/" itself).
static std::string parentOf(const std::string& path)
{
    const size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return "/";
    const size_t slash = path.rfind('/', end);
    if (slash == std::string::npos) return "/";
    const size_t keep = path.find_last_not_of('/', slash);
    return keep == std::string::npos ? "/" : path.substr(0, keep + 1);
}

// Why another user could change what lies at `start` (an existing absolute path),
// checking it and every directory above it; empty when no one could.  Links are not
// followed: a link is judged by its owner and the directory holding it, and the caller
// checks where it leads separately.
static std::string whyChangeable(const std::string& start)
{
    std::string path = start;
    for (;;) {
        struct stat st;
        if (lstat(path.c_str(), &st) != 0) {
            const int error = errno;
            return "cannot examine " + path + ": " + std::strerror(error);
        }
        if (!trustedOwner(st.st_uid)) {
            return path + " is owned by uid " + std::to_string(st.st_uid) +
                   ", not by root or the launcher's user";
        }
        const bool stickyAbove = path != start && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0;
        if (!S_ISLNK(st.st_mode) && (st.st_mode & kWritableByOthers) != 0 && !stickyAbove) {
            return path + " is writable by group or others";
        }
        if (path == "/") return "";
        path = parentOf(path);
    }
}

// Why an entry of the class path or the library path may hold code of another user;
// empty when it cannot.  The JVM reads a relative entry, and takes an empty one, in
// its working directory, so they are checked there (if that cannot be read, it has
// been removed, and nothing can be put in it any more).
static std::string whyUntrusted(const std::string& entry)
{
    std::string path = entry;
    if (path.empty() || path[0] != '/') {
        char* cwd = getcwd(nullptr, 0);
        if (cwd == nullptr) return "";
        path = entry.empty() ? std::string(cwd) : std::string(cwd) + "/" + entry;
        std::free(cwd);
    }
    // A missing entry is judged by the nearest directory above it that exists: whoever
    // may write there could create it.
    std::string existing = path;
    struct stat st;
    while (lstat(existing.c_str(), &st) != 0) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR) {
            return "cannot examine " + existing + ": " + std::strerror(error);
        }
        existing = parentOf(existing);
    }
    std::string why = whyChangeable(existing);
    if (!why.empty()) return why;
    // Then where its links lead, which has directories of its own.
    char* resolved = realpath(existing.c_str(), nullptr);
    if (resolved == nullptr) {
        const int error = errno;
        return "cannot resolve " + existing + ": " + std::strerror(error);
    }
    const std::string target = resolved;
    std::free(resolved);
    return target == existing ? "" : whyChangeable(target);
}

// The entries of a path list (split at ':' as the JVM splits it) that no other user
// could have put code in; each one left out is named on standard error with the
// reason.  False when nothing is left: an empty list would be the working directory.
static bool keepTrustedEntries(const std::string& list, const char* kind, std::string& kept)
{
    kept.clear();
    size_t count = 0;
    size_t begin = 0;
    for (;;) {
        const size_t end = list.find(':', begin);
        const std::string entry = list.substr(begin, end == std::string::npos ? end : end - begin);
        const std::string why = whyUntrusted(entry);
        if (why.empty()) {
            if (count++ > 0) kept += ':';
            kept += entry;
        } else if (entry.empty()) {
            errmsg("Warning: %s entry \"\" (the working directory) left out: %s\n", kind, why.c_str());
        } else {
            errmsg("Warning: %s entry %s left out: %s\n", kind, entry.c_str(), why.c_str());
        }
        if (end == std::string::npos) return count > 0;
        begin = end + 1;
    }
}

// A relative home made absolute against the directory the launcher was started in,
// before anything uses it: the launcher changes to BREVIN_HOME before the JVM reads
// its class path, so relative entries would otherwise be taken from there (while the
// ext folder is scanned from here).  The absolute form also replaces the variable in
// the environment, so that the agent and the native libraries (the CIM bridge's trace
// file lives under ORV_HOME) see the same directory.  An absolute or empty value is
// kept exactly as given; if the start directory cannot be read, so is a relative one.
static const char* absoluteHome(const char* name, const char* value, std::string& storage)
{
    if (value[0] == '\0' || value[0] == '/') return value;
    std::string cwd(256, '\0');
    while (getcwd(&cwd[0], cwd.size()) == nullptr) {
        if (errno != ERANGE) return value;
        cwd.resize(cwd.size() * 2);
    }
    cwd.resize(std::strlen(cwd.c_str()));
    storage = cwd;
    if (storage.back() != '/') storage += '/';
    storage += value;
    setenv(name, storage.c_str(), 1);
    return storage.c_str();
}

// Runs on whatever thread the kernel picks, so it only posts.
static void sighandler(int signo)
{
    if (signo == SIGTERM) {
        const int savedErrno = errno;
        sem_post(&sem);
        errno = savedErrno;
    }
}

// A failed lookup or a throwing Java call leaves an exception pending; JNI allows no
// further call until it is cleared. A failed lookup has its own warning already.
static void clearPendingException(JNIEnv* env)
{
    if (env->ExceptionCheck()) {
        env->ExceptionClear();
    }
}

// An exception thrown by the agent's own code is shown (as the java launcher shows an
// uncaught one) before it is cleared, so the failure is not lost.
static void reportPendingException(JNIEnv* env)
{
    if (env->ExceptionCheck()) {
        env->ExceptionDescribe();
        env->ExceptionClear();
    }
}

static void passSCMEvent(JNIEnv* env, int event)
{
    if (callback_SCMEVM == nullptr) {
        return;
    }
    jclass managerClass = env->GetObjectClass(callback_SCMEVM);
    jmethodID dispatch = env->GetMethodID(managerClass, kDispatchMethod, kDispatchSignature);
    if (dispatch == nullptr) {
        clearPendingException(env);
        errmsg("Warning: Cannot find dispatchEvent method on service event manager class\n");
        return;
    }
    env->CallVoidMethod(callback_SCMEVM, dispatch, static_cast<jint>(event));
    reportPendingException(env);
}

// Finds the agent's service event manager and keeps it as a global reference.
// Every failure here is a warning: the agent then simply gets no shutdown event.
static void lookUpEventManager(JNIEnv* env)
{
    jclass managerClass = env->FindClass(kManagerClass);
    if (managerClass == nullptr) {
        clearPendingException(env);
        errmsg("Warning: Cannot find service event manager class\n");
        return;
    }
    const std::string accessorSignature = std::string("()L") + kManagerClass + ";";
    jmethodID getInstance = env->GetStaticMethodID(managerClass, "getInstance", accessorSignature.c_str());
    if (getInstance == nullptr) {
        clearPendingException(env);
        errmsg("Warning: Cannot find getInstance() method on service event manager class\n");
        return;
    }
    jobject manager = env->CallStaticObjectMethod(managerClass, getInstance);
    reportPendingException(env);
    callback_SCMEVM = env->NewGlobalRef(manager);
    if (callback_SCMEVM == nullptr) {
        // This warning has never had a line end; log watchers match it as it is.
        errmsg("Warning: Cannot find getInstance() method on service event manager class");
    }
}

static void armTerminationHandler()
{
    sem_init(&sem, 0, 0);
    struct sigaction action;
    std::memset(&action, 0, sizeof(action));
    action.sa_handler = sighandler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    sigaction(SIGTERM, &action, nullptr);
}

// Blocks until SIGTERM has posted the semaphore. Handlers without SA_RESTART (ours,
// or one a native library of the agent installs) make sem_wait fail with EINTR when
// they run on this thread; that is not a termination request, so wait again.
static void waitForTermination()
{
    while (sem_wait(&sem) != 0 && errno == EINTR) {
    }
}

// The agent's grace period. A second SIGTERM landing on this thread would cut a plain
// sleep short, so the remaining time is slept out.
static void gracePause()
{
    struct timespec remaining = {kGracePauseSeconds, 0};
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

// Fatal start-up failures after creation: the message is already printed.
static int destroyVmAndFail()
{
    jvm->DestroyJavaVM();
    return kExitFailure;
}

int main(int /*argc*/, char** /*argv*/)
{
    // Command-line arguments are ignored: the agent's main always gets an empty String[].
    JNIEnv* env = nullptr;

    const char* orvHome = std::getenv("ORV_HOME");
    if (orvHome == nullptr) {
        errmsg("Required environment variable: ORV_HOME not set\n");
        return kExitFailure;
    }
    std::string orvHomeStorage;
    orvHome = absoluteHome("ORV_HOME", orvHome, orvHomeStorage);
    const std::string configDir = std::string(orvHome) + "/user/brevin";

    const char* brevinHome = std::getenv("BREVIN_HOME");
    if (brevinHome == nullptr) {
        errmsg("Required environment variable: BREVIN_HOME not set\n");
        return kExitFailure;
    }
    std::string brevinHomeStorage;
    brevinHome = absoluteHome("BREVIN_HOME", brevinHome, brevinHomeStorage);

    std::string classPath;
    buildClasspath(classPath, orvHome, brevinHome, configDir);

    std::string libraryPath = kLibraryPathOption;
    buildLibraryPath(libraryPath, brevinHome);

    const std::string homeOption = std::string("-Dbrevin.home=") + brevinHome;
    const std::string configOption = "-Dcom.zandor.retail.orv.mgmt.config.dir=" + configDir;
    const std::string loggingOption =
        std::string("-Djava.util.logging.config.file=") + brevinHome + "/mgmt_log.pro";
    std::string deviceOption = "-Dcom.zandor.retail.orv.mgmt.deviceId=";
    appendHostname(deviceOption);

    if (chdir(brevinHome) != 0) {
        const int error = errno;
        errmsg("Unable to chdir to BREVIN_HOME, errno: %d msg:%s\n", error, std::strerror(error));
    }

    // Checked once the working directory is final, since an empty entry stands for it.
    std::string trusted;
    if (!keepTrustedEntries(classPath.substr(std::strlen(kClassPathOption)), "class path", trusted)) {
        errmsg("Cannot start the agent: no class path entry is left\n");
        return kExitFailure;
    }
    classPath = kClassPathOption + trusted;
    if (!keepTrustedEntries(libraryPath.substr(std::strlen(kLibraryPathOption)), "library path", trusted)) {
        errmsg("Cannot start the agent: no library path entry is left\n");
        return kExitFailure;
    }
    libraryPath = kLibraryPathOption + trusted;

    const char* const composed[kOptionCount] = {
        "-client",
        "-Xmx128M",
        classPath.c_str(),
        libraryPath.c_str(),
        "-Dsun.rmi.transport.tcp.connectionPool=true",
        "-Djava.net.preferIPv4Stack=true",
        loggingOption.c_str(),
        "-Dorg.apache.commons.logging.Log=com.zandor.retail.orv.mgmt.logging.BREVINJdkLogger",
        "-D-Xrs",
        deviceOption.c_str(),
        homeOption.c_str(),
        configOption.c_str(),
    };

    JavaVMOption options[kOptionSlots];
    std::memset(options, 0, sizeof(options));
    for (int i = 0; i < kOptionCount; ++i) {
        options[i].optionString = strdup(composed[i]);
        options[i].extraInfo = nullptr;
    }
    JavaVMInitArgs initArgs;
    std::memset(&initArgs, 0, sizeof(initArgs));
    initArgs.version = JNI_VERSION_1_4;
    initArgs.nOptions = kOptionCount;
    initArgs.options = options;
    initArgs.ignoreUnrecognized = JNI_TRUE;

    const jint created = JNI_CreateJavaVM(&jvm, reinterpret_cast<void**>(&env), &initArgs);
    for (int i = 0; i < kOptionCount; ++i) {
        std::free(options[i].optionString);
    }
    std::memset(options, 0, sizeof(options));
    std::memset(&initArgs, 0, sizeof(initArgs));

    if (created < 0) {
        errmsg("Error creating BREVIN JVM, creation RC: %d\n", static_cast<int>(created));
        return kExitFailure;
    }

    jclass mainClass = env->FindClass(kMainClass);
    if (mainClass == nullptr) {
        errmsg("Cannot find main class: %s\n", kMainClass);
        return destroyVmAndFail();
    }
    jmethodID mainMethod = env->GetStaticMethodID(mainClass, kMainMethod, kMainSignature);
    if (mainMethod == nullptr) {
        errmsg("Cannot find main method from class: %s\n", kMainClass);
        return destroyVmAndFail();
    }
    jclass stringClass = env->FindClass("java/lang/String");
    jobjectArray mainArgs = stringClass != nullptr ? env->NewObjectArray(0, stringClass, nullptr) : nullptr;
    if (mainArgs == nullptr) {
        errmsg("Cannot allocate arguments for main method\n");
        return destroyVmAndFail();
    }

    lookUpEventManager(env);
    armTerminationHandler();

    env->CallStaticVoidMethod(mainClass, mainMethod, mainArgs);
    // main may end with an exception; the relay below still has to run.
    reportPendingException(env);

    waitForTermination();
    if (callback_SCMEVM == nullptr) {
        errmsg("Warning: Service event manager class not found during shutdown\n");
        return 0;
    }
    passSCMEvent(env, kShutdownEvent);
    gracePause();
    // The VM is left alive on purpose: the process ends with it.
    return 0;
}
