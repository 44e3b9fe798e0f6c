// agentlauncher as its users meet it: a real child process, a real JVM, the sample
// agent (or one of its failure variants) reporting what it was given.

#include "launcher_harness.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <optional>
#include <thread>

namespace launchertest {
namespace {

using namespace std::chrono_literals;

constexpr const char* kMainClass = "com/zandor/retail/orv/mgmt/svc/GeneralAgentService";
constexpr std::chrono::milliseconds kPauseFloor{4500};  // the 5 s grace pause, with slack
// How long a signal that must change nothing is given to do harm.
constexpr std::chrono::milliseconds kSettle{1000};

const char* const kOrvHomeUnset = "Required environment variable: ORV_HOME not set\n";
const char* const kBrevinHomeUnset = "Required environment variable: BREVIN_HOME not set\n";
const char* const kExtWarning = "Warning: Error scanning ext directory for jar files\n";
const char* const kNoManager = "Warning: Cannot find service event manager class\n";
const char* const kNoManagerInstance =
    "Warning: Cannot find getInstance() method on service event manager class";
const char* const kNoManagerAtShutdown = "Warning: Service event manager class not found during shutdown\n";
const char* const kNoDispatch = "Warning: Cannot find dispatchEvent method on service event manager class\n";

std::string hostName()
{
    char name[256] = {};
    if (gethostname(name, sizeof(name) - 1) != 0) return "";
    return name;
}

class LauncherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A parameterised case's name holds a '/', which a folder name cannot.
        std::string tag = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        std::replace(tag.begin(), tag.end(), '/', '-');
        scratch_ = ScratchDir::create(tag);
        ASSERT_TRUE(scratch_);
        const fs::path top = scratch_->path();
        orvHome_ = (top / "orv").string();
        brevinHome_ = (top / "brevin").string();
        runDir_ = top / "run";
        fs::create_directories(fs::path(orvHome_) / "user" / "brevin" / "ext");
        fs::create_directories(brevinHome_);
        fs::create_directories(runDir_);
        reportFile_ = fs::path(brevinHome_) / "agent-report.txt";
    }

    void TearDown() override
    {
        if (HasFailure() && scratch_) {
            std::cerr << "---- launcher stderr:\n"
                      << stderrText() << "\n---- launcher stdout (tail):\n"
                      << tail(readFile(scratch_->path() / "stdout.txt")) << "\n---- agent report:\n"
                      << readFile(reportFile_) << "----\n";
        }
        process_.reset();
        scratch_.reset();
    }

    static std::string tail(const std::string& text)
    {
        constexpr size_t kTail = 2000;
        return text.size() > kTail ? text.substr(text.size() - kTail) : text;
    }

    // Puts an agent jar where the launcher's class path looks for orvmgmt.jar.
    void useAgent(const char* jar) { fs::create_symlink(jar, fs::path(brevinHome_) / "orvmgmt.jar"); }

    std::vector<std::string> environment(const std::optional<std::string>& orv,
                                         const std::optional<std::string>& brevin) const
    {
        // In a sanitizer build the launcher hosts a JVM, which handles SIGSEGV itself and
        // keeps its memory to the end; other builds ignore the variable.
        std::vector<std::string> env{"PATH=/usr/bin:/bin",
                                     "ASAN_OPTIONS=detect_leaks=0:handle_segv=0:"
                                     "allow_user_segv_handler=1"};
        if (*ORV_LAUNCHER_LD_LIBRARY_PATH != '\0') {
            env.push_back(std::string("LD_LIBRARY_PATH=") + ORV_LAUNCHER_LD_LIBRARY_PATH);
        }
        if (orv) env.push_back("ORV_HOME=" + *orv);
        if (brevin) env.push_back("BREVIN_HOME=" + *brevin);
        return env;
    }

    void start(const std::vector<std::string>& env, const std::vector<std::string>& args = {},
               const std::string& host = "")
    {
        LaunchRequest request;
        request.hostName = host;
        request.environment = env;
        request.arguments = args;
        request.workingDirectory = runDir_;
        request.stdoutFile = scratch_->path() / "stdout.txt";
        request.stderrFile = scratch_->path() / "stderr.txt";
        process_ = LauncherProcess::start(ORV_LAUNCHER_PATH, request);
        ASSERT_TRUE(process_);
    }

    void startWithHomes(const std::vector<std::string>& args = {})
    {
        start(environment(orvHome_, brevinHome_), args);
    }

    // Waits until the agent's report holds the line; false if the launcher ended first.
    bool waitForReport(const std::string& line)
    {
        return waitUntil([&] { return report().has(line) || !process_->running(); }) && report().has(line);
    }

    AgentReport report() const { return AgentReport::read(reportFile_); }
    std::string stderrText() const { return readFile(scratch_->path() / "stderr.txt"); }
    std::string stdoutText() const { return readFile(scratch_->path() / "stdout.txt"); }

    struct Stopped {
        std::optional<ExitStatus> status;
        std::chrono::steady_clock::duration elapsed;
    };

    // Sends SIGTERM and waits for the launcher to end.
    Stopped terminate()
    {
        const auto sent = std::chrono::steady_clock::now();
        process_->signal(SIGTERM);
        Stopped stopped;
        stopped.status = process_->waitExit();
        stopped.elapsed = std::chrono::steady_clock::now() - sent;
        return stopped;
    }

    void expectExit(const std::optional<ExitStatus>& status, int code)
    {
        ASSERT_TRUE(status.has_value()) << "the launcher did not end";
        EXPECT_TRUE(status->exited && status->code == code)
            << "expected exit status " << code << ", got " << status->describe();
    }

    std::unique_ptr<ScratchDir> scratch_;
    std::string orvHome_;
    std::string brevinHome_;
    fs::path runDir_;
    fs::path reportFile_;
    std::unique_ptr<LauncherProcess> process_;
};

// ---------------------------------------------------------------- environment

TEST_F(LauncherTest, OrvHomeUnsetIsFatalWhateverBrevinHomeIs)
{
    useAgent(ORV_AGENT_SAMPLE_JAR);
    for (const auto& brevin : {std::optional<std::string>(brevinHome_), std::optional<std::string>()}) {
        start(environment(std::nullopt, brevin));
        auto status = process_->waitExit();
        expectExit(status, 255);
        EXPECT_EQ(kOrvHomeUnset, stderrText());
        EXPECT_EQ("", stdoutText());
        EXPECT_FALSE(fs::exists(reportFile_)) << "no JVM may be created";
    }
}

TEST_F(LauncherTest, BrevinHomeUnsetIsFatal)
{
    start(environment(orvHome_, std::nullopt));
    auto status = process_->waitExit();
    expectExit(status, 255);
    EXPECT_EQ(kBrevinHomeUnset, stderrText());
    EXPECT_EQ("", stdoutText());
}

// ---------------------------------------------------------------- JVM options

TEST_F(LauncherTest, TwelveOptionsInOrderWithExtEntriesDescending)
{
    useAgent(ORV_AGENT_SAMPLE_JAR);
    const fs::path ext = fs::path(orvHome_) / "user" / "brevin" / "ext";
    for (const char* name : {"a.jar", "B.jar", "notes.txt"}) std::ofstream(ext / name).put('x');
    fs::create_directory(ext / "lib");
    startWithHomes();
    ASSERT_TRUE(waitForReport("main.returned"));
    const AgentReport r = report();
    const std::string& h = brevinHome_;
    const std::string config = orvHome_ + "/user/brevin";

    // The JVM lists every option but the class path among its input arguments.
    const std::vector<std::string> expectedInput{
        "-client",
        "-Xmx128M",
        "-Djava.library.path=" + h + "/jre/bin/classic:" + h + "/jre/bin:" + h + "/lib",
        "-Dsun.rmi.transport.tcp.connectionPool=true",
        "-Djava.net.preferIPv4Stack=true",
        "-Djava.util.logging.config.file=" + h + "/mgmt_log.pro",
        "-Dorg.apache.commons.logging.Log=com.zandor.retail.orv.mgmt.logging.BREVINJdkLogger",
        "-D-Xrs",
        "-Dcom.zandor.retail.orv.mgmt.deviceId=" + hostName(),
        "-Dbrevin.home=" + h,
        "-Dcom.zandor.retail.orv.mgmt.config.dir=" + config,
    };
    EXPECT_EQ(expectedInput, r.values("input.arg"));

    const std::string expectedClassPath =
        config + "/classes:" + h + ":" + h + "/brevin.jar:" + h + "/orvmgmt.jar:" + h + "/orvutil.jar:" + h +
        "/commons-logging.jar:" + h + "/wemble.jar:" + h + "/orvbeep.jar:" + h + "/orvwbem.jar:" + h +
        "/drumet.jar:" + h + "/api5821.jar:" + config + "/ext/notes.txt:" + config + "/ext/lib:" + config +
        "/ext/a.jar:" + config + "/ext/B.jar:";
    EXPECT_EQ(expectedClassPath, r.property("java.class.path"));
    EXPECT_EQ(h + "/jre/bin/classic:" + h + "/jre/bin:" + h + "/lib", r.property("java.library.path"));
    // "-D-Xrs" is a system property named "-Xrs", not the JVM's -Xrs option.
    EXPECT_TRUE(r.hasProperty("-Xrs"));
    EXPECT_EQ("", r.property("-Xrs"));
    EXPECT_FALSE(hostName().empty());
    EXPECT_EQ(hostName(), r.property("com.zandor.retail.orv.mgmt.deviceId"));
    EXPECT_EQ(h, r.property("brevin.home"));
    EXPECT_EQ(config, r.property("com.zandor.retail.orv.mgmt.config.dir"));
    EXPECT_EQ("true", r.property("sun.rmi.transport.tcp.connectionPool"));
    EXPECT_EQ("true", r.property("java.net.preferIPv4Stack"));
    // The launcher works in BREVIN_HOME, and the JVM runs inside the launcher's process.
    EXPECT_EQ(h, r.property("user.dir"));
    EXPECT_EQ(std::to_string(process_->pid()), r.value("pid").value_or(""));
    EXPECT_EQ("", stderrText());
}

TEST_F(LauncherTest, DeviceIdIsTheWholeHostName)
{
    // The longest name Linux allows (64 bytes), in a UTS namespace of the launcher's own.
    const std::string host = "orv-device-" + std::string(53, 'x');
    ASSERT_EQ(64u, host.size());
    useAgent(ORV_AGENT_SAMPLE_JAR);
    start(environment(orvHome_, brevinHome_), {}, host);
    if (waitUntil([&] { return report().has("main.returned") || !process_->running(); }) &&
        !process_->running()) {
        auto status = process_->waitExit();
        if (status && status->exited && status->code == kNoUtsNamespace) {
            GTEST_SKIP() << "no permission to create a UTS namespace";
        }
    }
    ASSERT_TRUE(report().has("main.returned"));
    EXPECT_EQ(host, report().property("com.zandor.retail.orv.mgmt.deviceId"));
    EXPECT_EQ("-Dcom.zandor.retail.orv.mgmt.deviceId=" + host, report().values("input.arg").at(8));
}

TEST_F(LauncherTest, MissingExtDirectoryWarnsOnceAndClassPathEndsAtApi5821)
{
    useAgent(ORV_AGENT_SAMPLE_JAR);
    fs::remove(fs::path(orvHome_) / "user" / "brevin" / "ext");
    startWithHomes();
    ASSERT_TRUE(waitForReport("main.returned"));
    const std::string classPath = report().property("java.class.path");
    const std::string tailEntry = brevinHome_ + "/api5821.jar:";
    ASSERT_GE(classPath.size(), tailEntry.size());
    EXPECT_EQ(tailEntry, classPath.substr(classPath.size() - tailEntry.size())) << classPath;
    EXPECT_EQ(kExtWarning, stderrText());
}

TEST_F(LauncherTest, TrailingSlashHomesAreUsedVerbatim)
{
    useAgent(ORV_AGENT_SAMPLE_JAR);
    std::ofstream(fs::path(orvHome_) / "user" / "brevin" / "ext" / "x.jar").put('x');
    const std::string orv = orvHome_ + "/";
    const std::string h = brevinHome_ + "/";
    start(environment(orv, h));
    ASSERT_TRUE(waitForReport("main.returned"));
    const AgentReport r = report();
    const std::string config = orv + "/user/brevin";
    EXPECT_EQ(config + "/classes:" + h + ":" + h + "/brevin.jar:" + h + "/orvmgmt.jar:" + h +
                  "/orvutil.jar:" + h + "/commons-logging.jar:" + h + "/wemble.jar:" + h + "/orvbeep.jar:" +
                  h + "/orvwbem.jar:" + h + "/drumet.jar:" + h + "/api5821.jar:" + config + "/ext/x.jar:",
              r.property("java.class.path"));
    EXPECT_NE(std::string::npos, r.property("java.class.path").find("brevin//orvmgmt.jar"));
    EXPECT_EQ(h + "/jre/bin/classic:" + h + "/jre/bin:" + h + "/lib", r.property("java.library.path"));
    EXPECT_EQ(h, r.property("brevin.home"));
    EXPECT_EQ(orvHome_ + "//user/brevin", r.property("com.zandor.retail.orv.mgmt.config.dir"));
    EXPECT_EQ(h + "/mgmt_log.pro", r.property("java.util.logging.config.file"));
    EXPECT_EQ("", stderrText());
}

TEST_F(LauncherTest, RelativeHomesAreMadeAbsoluteAgainstTheStartDirectory)
{
    // ORV_HOME=orv/ BREVIN_HOME=brevin started from the folder that holds both: the
    // launcher changes to BREVIN_HOME, yet the class path, the ext entries and every
    // option name the homes below the start directory.
    useAgent(ORV_AGENT_SAMPLE_JAR);
    std::ofstream(fs::path(orvHome_) / "user" / "brevin" / "ext" / "x.jar").put('x');
    runDir_ = fs::canonical(scratch_->path());
    start(environment(std::string("orv/"), std::string("brevin")));
    ASSERT_TRUE(waitForReport("main.returned"));
    const AgentReport r = report();
    const std::string h = (runDir_ / "brevin").string();
    const std::string orv = (runDir_ / "orv").string() + "/";  // its trailing slash stays
    const std::string config = orv + "/user/brevin";
    EXPECT_EQ(config + "/classes:" + h + ":" + h + "/brevin.jar:" + h + "/orvmgmt.jar:" + h +
                  "/orvutil.jar:" + h + "/commons-logging.jar:" + h + "/wemble.jar:" + h + "/orvbeep.jar:" +
                  h + "/orvwbem.jar:" + h + "/drumet.jar:" + h + "/api5821.jar:" + config + "/ext/x.jar:",
              r.property("java.class.path"));
    EXPECT_EQ(h + "/jre/bin/classic:" + h + "/jre/bin:" + h + "/lib", r.property("java.library.path"));
    EXPECT_EQ(h, r.property("brevin.home"));
    EXPECT_EQ(config, r.property("com.zandor.retail.orv.mgmt.config.dir"));
    EXPECT_EQ(h + "/mgmt_log.pro", r.property("java.util.logging.config.file"));
    EXPECT_EQ(h, r.property("user.dir"));
    EXPECT_EQ("", stderrText());
}

TEST_F(LauncherTest, NonexistentBrevinHomeWarnsAndStillCreatesTheVm)
{
    // With no BREVIN_HOME on disk the agent can only come from the configuration
    // directory's classes folder, and it writes its report where the launcher was started.
    fs::create_directory_symlink(ORV_AGENT_CLASSES_DIR, fs::path(orvHome_) / "user" / "brevin" / "classes");
    const std::string missing = (scratch_->path() / "no-such-home").string();
    reportFile_ = runDir_ / "agent-report.txt";
    start(environment(orvHome_, missing));
    ASSERT_TRUE(waitForReport("main.returned"));
    EXPECT_EQ("Unable to chdir to BREVIN_HOME, errno: 2 msg:No such file or directory\n", stderrText());
    const AgentReport r = report();
    EXPECT_EQ(missing, r.property("brevin.home"));
    EXPECT_EQ(runDir_.string(), r.property("user.dir"));
    const std::string prefix = orvHome_ + "/user/brevin/classes:" + missing + ":" + missing + "/brevin.jar:";
    EXPECT_EQ(0u, r.property("java.class.path").rfind(prefix, 0)) << r.property("java.class.path");
}

TEST_F(LauncherTest, LauncherArgumentsNeverReachMainOrTheJvm)
{
    useAgent(ORV_AGENT_SAMPLE_JAR);
    startWithHomes({"-Dinjected=yes", "-Xmx1M", "alpha", "", "--", "beta gamma"});
    ASSERT_TRUE(waitForReport("main.returned"));
    const AgentReport r = report();
    EXPECT_EQ("0", r.value("main.args").value_or("?"));
    EXPECT_TRUE(r.values("main.arg").empty());
    EXPECT_EQ(11u, r.values("input.arg").size());
    EXPECT_FALSE(r.hasProperty("injected"));
    EXPECT_EQ("-Xmx128M", r.values("input.arg").at(1));
    // An empty ext directory adds no entries and no warning.
    const std::string classPath = r.property("java.class.path");
    EXPECT_EQ("/api5821.jar:", classPath.substr(classPath.size() - 13));
    EXPECT_EQ("", stderrText());
}

// ---------------------------------------------------------------- SIGTERM relay

TEST_F(LauncherTest, SigtermAfterMainReturnedRelaysOncePausesAndExitsZero)
{
    useAgent(ORV_AGENT_SAMPLE_JAR);
    startWithHomes();
    ASSERT_TRUE(waitForReport("main.returned"));
    EXPECT_TRUE(report().values("event").empty());
    const Stopped stopped = terminate();
    expectExit(stopped.status, 0);
    EXPECT_GE(stopped.elapsed, kPauseFloor) << "the grace pause did not happen";
    EXPECT_EQ(std::vector<std::string>{"1"}, report().values("event"));
    EXPECT_EQ("", stderrText());
}

TEST_F(LauncherTest, SigtermWhileMainRunsIsRelayedAsSoonAsMainReturns)
{
    useAgent(ORV_AGENT_WAITRELEASE_JAR);
    startWithHomes();
    ASSERT_TRUE(waitForReport("main.waiting"));
    const auto sent = std::chrono::steady_clock::now();
    process_->signal(SIGTERM);
    ASSERT_TRUE(waitUntil([&] { return !process_->signalPending(SIGTERM); }));
    std::this_thread::sleep_for(kSettle);
    EXPECT_TRUE(process_->running()) << "SIGTERM must not end the launcher while main runs";
    EXPECT_TRUE(report().values("event").empty());

    std::ofstream(fs::path(brevinHome_) / "release").put('x');
    // No second SIGTERM: the first one was remembered.
    auto status = process_->waitExit();
    expectExit(status, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, kPauseFloor);
    const AgentReport r = report();
    EXPECT_EQ(std::vector<std::string>{"1"}, r.values("event"));
    EXPECT_LT(r.indexOf("main.returned"), r.indexOf("event=1"));
    EXPECT_EQ("", stderrText());
}

TEST_F(LauncherTest, TwoQuickSigtermsGiveOneRelayAndOneFullPause)
{
    useAgent(ORV_AGENT_SAMPLE_JAR);
    startWithHomes();
    ASSERT_TRUE(waitForReport("main.returned"));
    const auto sent = std::chrono::steady_clock::now();
    process_->signal(SIGTERM);
    process_->signal(SIGTERM);
    ASSERT_TRUE(waitForReport("event=1"));
    // One more during the grace pause: it lands on the sleeping main thread and must
    // neither cut the pause short nor cause another relay.
    process_->signal(SIGTERM);
    auto status = process_->waitExit();
    expectExit(status, 0);
    EXPECT_GE(std::chrono::steady_clock::now() - sent, kPauseFloor);
    EXPECT_EQ(std::vector<std::string>{"1"}, report().values("event"));
    EXPECT_EQ("", stderrText());
}

TEST_F(LauncherTest, SigquitWhileWaitingKeepsTheLauncherRunning)
{
    useAgent(ORV_AGENT_SAMPLE_JAR);
    startWithHomes();
    ASSERT_TRUE(waitForReport("main.returned"));
    constexpr size_t kQuits = 3;
    for (size_t i = 1; i <= kQuits; ++i) {
        process_->signal(SIGQUIT);
        // The JVM answers SIGQUIT with a thread dump on standard output.
        ASSERT_TRUE(waitUntil(
            [&] { return countOccurrences(stdoutText(), "Full thread dump") >= i || !process_->running(); }));
    }
    std::this_thread::sleep_for(kSettle);
    EXPECT_TRUE(process_->running());
    EXPECT_TRUE(report().values("event").empty());

    const Stopped stopped = terminate();
    expectExit(stopped.status, 0);
    EXPECT_GE(stopped.elapsed, kPauseFloor);
    EXPECT_EQ(std::vector<std::string>{"1"}, report().values("event"));
}

// A native library of the agent may install a handler without SA_RESTART; when it runs
// on the main thread, sem_wait fails with EINTR. That is no request to stop.
TEST_F(LauncherTest, InterruptedWaitIsNotATerminationRequest)
{
    useAgent(ORV_AGENT_USR1_JAR);
    fs::create_directory(fs::path(brevinHome_) / "lib");
    fs::create_symlink(ORV_USR1_LIBRARY, fs::path(brevinHome_) / "lib" / "liborvtestusr1.so");
    const fs::path marks = fs::path(brevinHome_) / "usr1-marks.txt";
    startWithHomes();
    ASSERT_TRUE(waitForReport("main.returned"));
    ASSERT_TRUE(report().has("usr1.handler.installed"));

    constexpr size_t kInterruptions = 3;
    for (size_t i = 1; i <= kInterruptions; ++i) {
        // Hit the main thread while it is blocked in the semaphore's futex wait.
        ASSERT_TRUE(waitUntil([&] {
            for (int seen = 0; seen < 3; ++seen) {
                if (!process_->mainThreadInSyscall(SYS_futex)) return !process_->running();
                std::this_thread::sleep_for(kPollInterval);
            }
            return true;
        }));
        process_->signalMainThread(SIGUSR1);
        ASSERT_TRUE(waitUntil([&] { return completeLines(marks).size() >= i || !process_->running(); }));
    }
    EXPECT_EQ(kInterruptions, completeLines(marks).size());
    std::this_thread::sleep_for(kSettle);
    EXPECT_TRUE(process_->running()) << "an interrupted wait was taken for SIGTERM";
    EXPECT_TRUE(report().values("event").empty());

    const Stopped stopped = terminate();
    expectExit(stopped.status, 0);
    EXPECT_GE(stopped.elapsed, kPauseFloor);
    EXPECT_EQ(std::vector<std::string>{"1"}, report().values("event"));
    EXPECT_EQ("", stderrText());
}

// ---------------------------------------------------------------- failure paths

// An agent that goes wrong in one way, and how the launcher must meet it. The rows with
// checkJni run the JVM's own JNI checker over the launcher's calls on the paths that leave
// Java exceptions behind (failed lookups): it must find nothing to report.
struct FailurePath {
    const char* name;
    const char* jar;  // nullptr: nothing on the class path
    bool checkJni;
    // The report line once main has run; the launcher then waits for SIGTERM. nullptr: it
    // ends by itself.
    const char* ready;
    int exitCode;
    const char* reported;                     // a further report line, or nullptr
    const char* stderrShows;                  // text stderr comes to hold before SIGTERM, or nullptr
    std::optional<std::string> stderrBefore;  // all of stderr before SIGTERM
    std::optional<std::string> stderrAtEnd;   // all of stderr once the launcher ended
    bool pauses;                              // SIGTERM still brings the grace pause
    bool relayed;                             // SIGTERM reached the agent as its one event
    const char* absent;                       // a report line or key the agent must not write, or nullptr
};

std::vector<FailurePath> failurePaths()
{
    const std::string pickedUp = "Picked up JAVA_TOOL_OPTIONS: -Xcheck:jni\n";
    const std::string noManagerAtEnd = std::string(kNoManager) + kNoManagerAtShutdown;
    const std::string noInstanceAtEnd = std::string(kNoManagerInstance) + kNoManagerAtShutdown;
    // clang-format off
    return {
        {"ManagerClassMissingWarnsAndExitsWithoutRelay", ORV_AGENT_NOMANAGER_JAR, false, "main.returned", 0,
         nullptr, nullptr, kNoManager, noManagerAtEnd, false, false, nullptr},
        {"GetInstanceReturningNullWarnsWithoutLineEnd", ORV_AGENT_NULLINSTANCE_JAR, false, "main.returned", 0,
         "getInstance.null", nullptr, kNoManagerInstance, noInstanceAtEnd, false, false, nullptr},
        {"DispatchMethodMissingWarnsAndStillPauses", ORV_AGENT_NODISPATCH_JAR, false, "main.returned", 0,
         nullptr, nullptr, "", kNoDispatch, true, false, "wrong.event"},
        // The uncaught exception is shown once main has ended.
        {"MainThrowingStillGetsTheRelayAndExitsZero", ORV_AGENT_MAINTHROWS_JAR, false, "main.throwing", 0,
         nullptr, "java.lang.IllegalStateException: sample agent failure", std::nullopt, std::nullopt, true,
         true, nullptr},
        {"JniCheckerQuietWhenManagerClassMissing", ORV_AGENT_NOMANAGER_JAR, true, "main.returned", 0,
         nullptr, nullptr, std::nullopt, pickedUp + noManagerAtEnd, false, false, nullptr},
        {"JniCheckerQuietWhenGetInstanceReturnsNull", ORV_AGENT_NULLINSTANCE_JAR, true, "main.returned", 0,
         nullptr, nullptr, std::nullopt, pickedUp + noInstanceAtEnd, false, false, nullptr},
        {"JniCheckerQuietWhenDispatchMethodMissing", ORV_AGENT_NODISPATCH_JAR, true, "main.returned", 0,
         nullptr, nullptr, std::nullopt, pickedUp + kNoDispatch, false, false, "wrong.event"},
        {"MainClassMissingIsFatal", nullptr, false, nullptr, 255,
         nullptr, nullptr, std::nullopt, std::string("Cannot find main class: ") + kMainClass + "\n",
         false, false, nullptr},
        {"MainMethodMissingIsFatal", ORV_AGENT_NOMAIN_JAR, false, nullptr, 255,
         nullptr, nullptr, std::nullopt, std::string("Cannot find main method from class: ") + kMainClass + "\n",
         false, false, "wrong.main"},
    };
    // clang-format on
}

class LauncherFailureTest : public LauncherTest, public ::testing::WithParamInterface<FailurePath> {};

TEST_P(LauncherFailureTest, EndsAsTheRowSays)
{
    const FailurePath& row = GetParam();
    if (row.jar != nullptr) useAgent(row.jar);
    auto env = environment(orvHome_, brevinHome_);
    if (row.checkJni) env.push_back("JAVA_TOOL_OPTIONS=-Xcheck:jni");
    start(env);
    if (row.ready == nullptr) {
        expectExit(process_->waitExit(), row.exitCode);
    } else {
        ASSERT_TRUE(waitForReport(row.ready));
        if (row.reported != nullptr) {
            EXPECT_TRUE(report().has(row.reported)) << row.reported;
        }
        if (row.stderrShows != nullptr) {
            ASSERT_TRUE(waitUntil([&] {
                return stderrText().find(row.stderrShows) != std::string::npos || !process_->running();
            }));
            EXPECT_NE(std::string::npos, stderrText().find(row.stderrShows)) << stderrText();
        }
        if (row.stderrBefore) {
            EXPECT_EQ(*row.stderrBefore, stderrText());
        }
        const Stopped stopped = terminate();
        expectExit(stopped.status, row.exitCode);
        if (row.pauses) {
            EXPECT_GE(stopped.elapsed, kPauseFloor) << "the grace pause did not happen";
        }
    }
    if (row.stderrAtEnd) {
        EXPECT_EQ(*row.stderrAtEnd, stderrText());
    }
    const AgentReport r = report();
    EXPECT_EQ(row.relayed ? std::vector<std::string>{"1"} : std::vector<std::string>{}, r.values("event"));
    if (row.absent != nullptr) {
        EXPECT_FALSE(r.has(row.absent)) << row.absent;
        EXPECT_TRUE(r.values(row.absent).empty()) << row.absent;
    }
    // The checker's findings about JNI calls ("WARNING in native method: ...") would go to
    // stdout. Its periodic signal-handler notes are about the JVM, not the launcher.
    if (row.checkJni) {
        EXPECT_EQ(std::string::npos, stdoutText().find("in native method")) << stdoutText();
    }
}

INSTANTIATE_TEST_SUITE_P(Agents, LauncherFailureTest, ::testing::ValuesIn(failurePaths()),
                         [](const ::testing::TestParamInfo<FailurePath>& info) { return info.param.name; });

// ---------------------------------------------------------------- planted code

// A main class planted where another user can write is never run, whether the folder
// is the configuration directory's classes/ or BREVIN_HOME itself (also the working
// directory, which the class path's closing ':' names).
TEST_F(LauncherTest, ClassesInAFolderOthersCanWriteAreNotRun)
{
    for (const std::string& folder : {orvHome_ + "/user/brevin/classes", brevinHome_}) {
        SCOPED_TRACE(folder);
        fs::copy(ORV_AGENT_CLASSES_DIR, folder, fs::copy_options::recursive);
        fs::permissions(folder, fs::perms::all);
        start(environment(orvHome_, brevinHome_));
        expectExit(process_->waitExit(), 255);
        EXPECT_FALSE(fs::exists(reportFile_)) << "the planted agent ran";
        const std::string err = stderrText();
        EXPECT_EQ(0u, err.find("Warning: class path entry " + folder + " left out: " + folder +
                               " is writable by group or others\n"))
            << err;
        fs::remove_all(fs::path(orvHome_) / "user" / "brevin" / "classes");
        fs::remove_all(reportFile_);
        fs::permissions(brevinHome_, fs::perms::owner_all);
    }
}

}  // namespace
}  // namespace launchertest
