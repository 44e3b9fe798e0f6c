// The trace writer and its switch.  Each case runs in a forked child, since
// the trace file's place is fixed for the life of the process by its first
// entry; the parent reads what the child wrote.
#include "../../cimbridge/orvcim.cpp"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <new>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

// Makes every allocation of the process fail while set (failing_allocation.cpp).
extern bool g_failAllocations;

namespace {

class Trace : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/orv-trace-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir = pattern;
    }
    void TearDown() override
    {
        std::string cmd = "rm -rf '" + dir + "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0);
    }

    // Runs the body in a child process and waits for it.
    void inChild(const std::function<void()>& body)
    {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            body();
            _exit(0);
        }
        int status = 0;
        ASSERT_EQ(waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child status " << status;
    }

    static bool exists(const std::string& path)
    {
        struct stat st;
        return stat(path.c_str(), &st) == 0;
    }

    // The trace lines of a file with their time stamps checked and removed.
    static std::vector<std::string> messages(const std::string& path)
    {
        std::ifstream in(path);
        std::stringstream all;
        all << in.rdbuf();
        const std::string text = all.str();
        std::vector<std::string> out;
        const std::regex entry(R"((\d\d)-(\d\d)-(\d\d) (\d\d):(\d\d):(\d\d): ([^\n]*)\n)");
        auto begin = std::sregex_iterator(text.begin(), text.end(), entry);
        std::size_t consumed = 0;
        for (auto it = begin; it != std::sregex_iterator(); ++it) {
            EXPECT_EQ(static_cast<std::size_t>(it->position(0)), consumed) << "unexpected text in " << text;
            consumed += static_cast<std::size_t>(it->length(0));
            const int month = std::stoi((*it)[1]);
            const int day = std::stoi((*it)[2]);
            EXPECT_TRUE(month >= 1 && month <= 12 && day >= 1 && day <= 31) << it->str(0);
            out.push_back((*it)[7]);
        }
        EXPECT_EQ(consumed, text.size()) << "unexpected text in " << text;
        return out;
    }

    std::string logsDir() const { return dir + "/orvlogs"; }
    std::string traceFile() const { return dir + "/orvlogs/brevincimtrc.log"; }

    std::string dir;
};

using Lines = std::vector<std::string>;

TEST_F(Trace, EntriesGoToOrvHomeOrvlogsWithTimeStamps)
{
    ASSERT_EQ(mkdir(logsDir().c_str(), 0755), 0);
    inChild([&] {
        setenv("ORV_HOME", dir.c_str(), 1);
        setTraceMode(1);
        debugmsg("first %d\n", 1);
        debugmsg("XXX: Namespace %s identified by handle %d\n", "root/cimv2", 3);
    });
    EXPECT_EQ(messages(traceFile()), (Lines{"first 1", "XXX: Namespace root/cimv2 identified by handle 3"}));
    // Appended to, never truncated.
    inChild([&] {
        setenv("ORV_HOME", dir.c_str(), 1);
        setTraceMode(1);
        debugmsg("again\n");
    });
    EXPECT_EQ(messages(traceFile()).size(), 3u);
}

TEST_F(Trace, WithoutOrvHomeTheFileIsInTheWorkingDirectory)
{
    inChild([&] {
        unsetenv("ORV_HOME");
        if (chdir(dir.c_str()) != 0) _exit(3);
        setTraceMode(1);
        debugmsg("here\n");
    });
    EXPECT_EQ(messages(dir + "/brevincimtrc.log"), (Lines{"here"}));
}

TEST_F(Trace, OffWritesNothingAndThePlaceIsFixedByTheFirstEntry)
{
    char other[] = "/tmp/orv-trace-other-XXXXXX";
    ASSERT_NE(mkdtemp(other), nullptr);
    const std::string otherDir = other;
    ASSERT_EQ(mkdir((otherDir + "/orvlogs").c_str(), 0755), 0);
    ASSERT_EQ(mkdir(logsDir().c_str(), 0755), 0);
    inChild([&] {
        setenv("ORV_HOME", otherDir.c_str(), 1);
        debugmsg("not written\n");  // tracing off: no file, ORV_HOME not read
        setenv("ORV_HOME", dir.c_str(), 1);
        setTraceMode(1);
        debugmsg("one\n");
        setenv("ORV_HOME", otherDir.c_str(), 1);  // too late: the place is fixed
        debugmsg("two\n");
    });
    EXPECT_FALSE(exists(otherDir + "/orvlogs/brevincimtrc.log"));
    EXPECT_EQ(messages(traceFile()), (Lines{"one", "two"}));
    ASSERT_EQ(std::system(("rm -rf '" + otherDir + "'").c_str()), 0);
}

TEST_F(Trace, ToggleMessages)
{
    ASSERT_EQ(mkdir(logsDir().c_str(), 0755), 0);
    inChild([&] {
        setenv("ORV_HOME", dir.c_str(), 1);
        Java_javax_wbem_client_CIMImpl_toggleNativeTrace(nullptr, nullptr, JNI_FALSE);  // off, stays off
        Java_javax_wbem_client_CIMImpl_toggleNativeTrace(nullptr, nullptr, JNI_TRUE);   // off to on
        Java_javax_wbem_client_CIMImpl_toggleNativeTrace(nullptr, nullptr, JNI_TRUE);   // on, stays on
        Java_javax_wbem_client_CIMImpl_toggleNativeTrace(nullptr, nullptr, JNI_FALSE);  // on to off
        debugmsg("after off\n");
        if (traceMode() != 0) _exit(4);
    });
    EXPECT_EQ(messages(traceFile()),
              (Lines{"CIM Native Tracing Enabled", "toggleNativeTrace called", "CIM Native Tracing Enabled",
                     "toggleNativeTrace called", "CIM Native Tracing Disabled"}));
}

TEST_F(Trace, ToggleSwitchesEvenWhenNoEntryCanBeMade)
{
    ASSERT_EQ(mkdir(logsDir().c_str(), 0755), 0);
    inChild([&] {
        setenv("ORV_HOME", dir.c_str(), 1);  // a path too long for any small-string buffer
        g_failAllocations = true;
        try {
            Java_javax_wbem_client_CIMImpl_toggleNativeTrace(nullptr, nullptr, JNI_TRUE);
        } catch (...) {
            _exit(6);  // in the JVM this would have been the end of it
        }
        g_failAllocations = false;
        if (traceMode() != 1) _exit(7);
        Java_javax_wbem_client_CIMImpl_toggleNativeTrace(nullptr, nullptr, JNI_FALSE);
        if (traceMode() != 0) _exit(8);
    });
    EXPECT_EQ(messages(traceFile()), (Lines{"toggleNativeTrace called", "CIM Native Tracing Disabled"}));
}

TEST_F(Trace, OtherNonZeroValuesWriteToStandardError)
{
    const std::string errFile = dir + "/stderr.txt";
    ASSERT_EQ(mkdir(logsDir().c_str(), 0755), 0);
    inChild([&] {
        int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || dup2(fd, 2) < 0) _exit(5);
        setenv("ORV_HOME", dir.c_str(), 1);
        setTraceMode(2);
        debugmsg("to stderr %s\n", "ok");
    });
    EXPECT_EQ(messages(errFile), (Lines{"to stderr ok"}));
    EXPECT_FALSE(exists(traceFile()));
}

// Whatever stands in the trace file's place that is not this process's own plain
// file is left untouched; the reason is said once and the trace goes to standard error.
TEST_F(Trace, AnythingButOurOwnFileIsRefusedAndTheTraceGoesToStandardError)
{
    const std::string target = dir + "/root-only";
    const std::string errFile = dir + "/stderr.txt";
    struct Case {
        const char* name;
        std::function<bool()> plant;  // false: not possible here
        const char* reason;
    };
    const Case cases[] = {
        {"symbolic link", [&] { return symlink(target.c_str(), traceFile().c_str()) == 0; }, "symbolic link"},
        {"hard link",
         [&] {
             std::ofstream(target).put('x');
             return link(target.c_str(), traceFile().c_str()) == 0;
         },
         "has 2 links"},
        {"fifo", [&] { return mkfifo(traceFile().c_str(), 0600) == 0; }, "not a regular file"},
        {"another user's file",
         [&] {
             std::ofstream(traceFile()).put('x');
             return geteuid() == 0 && chown(traceFile().c_str(), 65534, 65534) == 0;
         },
         "owned by uid 65534"},
        {"missing folder", [] { return true; }, "No such file or directory"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(std::system(("rm -rf '" + logsDir() + "' '" + target + "'").c_str()), 0);
        if (std::strcmp(c.name, "missing folder") != 0) {
            ASSERT_EQ(mkdir(logsDir().c_str(), 0755), 0);
        }
        if (!c.plant()) continue;
        inChild([&] {
            int fd = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd < 0 || dup2(fd, 2) < 0) _exit(5);
            setenv("ORV_HOME", dir.c_str(), 1);
            setTraceMode(1);
            debugmsg("one\n");
            debugmsg("two\n");
        });
        std::ifstream err(errFile);
        std::string why;
        std::getline(err, why);
        EXPECT_NE(why.find(traceFile()), std::string::npos) << why;
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
        std::stringstream rest;
        rest << err.rdbuf();
        EXPECT_EQ(rest.str().find("CIM trace"), std::string::npos) << "said more than once: " << rest.str();
        struct stat st;
        EXPECT_TRUE(stat(target.c_str(), &st) != 0 || st.st_size == 1) << "written through the plant";
    }
}

TEST_F(Trace, ANewFileIsPrivateAndAFullOneIsMovedAside)
{
    ASSERT_EQ(mkdir(logsDir().c_str(), 0755), 0);
    const std::string oldFile = traceFile() + ".1";
    std::ofstream(oldFile) << "older\n";
    inChild([&] {
        umask(0);
        setenv("ORV_HOME", dir.c_str(), 1);
        setTraceMode(1);
        debugmsg("first\n");
    });
    struct stat st;
    ASSERT_EQ(stat(traceFile().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    // Filled to just under the limit: one more entry goes to a fresh file, and the
    // full one replaces the older one.
    ASSERT_EQ(truncate(traceFile().c_str(), kTraceFileLimit - 8), 0);
    inChild([&] {
        setenv("ORV_HOME", dir.c_str(), 1);
        setTraceMode(1);
        debugmsg("next\n");
        debugmsg("last\n");
    });
    EXPECT_EQ(messages(traceFile()), (Lines{"next", "last"}));
    ASSERT_EQ(stat(oldFile.c_str(), &st), 0);
    EXPECT_EQ(st.st_size, kTraceFileLimit - 8);
}

TEST_F(Trace, ConvertToRCAndSetupWriteTheirLines)
{
    ASSERT_EQ(mkdir(logsDir().c_str(), 0755), 0);
    inChild([&] {
        setenv("ORV_HOME", dir.c_str(), 1);
        setTraceMode(1);
        ConvertToRC(Pegasus::CIMException(Pegasus::CIM_ERR_NOT_FOUND, "gone"));
        Java_javax_wbem_client_CIMImpl_tearDown(nullptr, nullptr, 99);
    });
    const std::string message(
        Pegasus::CIMException(Pegasus::CIM_ERR_NOT_FOUND, "gone").getMessage().getCString());
    EXPECT_EQ(messages(traceFile()), (Lines{"XXX: ConvertToRC: code = 6, message = " + message,
                                            "tearDown called", "Teardown complete"}));
}

// Run with the clock fixed past January 2038 (cimbridge.trace.after2038); skipped otherwise.
TEST_F(Trace, TimeStampsAfter2038)
{
    if (std::getenv("ORV_TEST_CLOCK") == nullptr) GTEST_SKIP() << "needs the fixed clock (ORV_TEST_CLOCK)";
    ASSERT_EQ(mkdir(logsDir().c_str(), 0755), 0);
    inChild([&] {
        setenv("ORV_HOME", dir.c_str(), 1);
        setTraceMode(1);
        debugmsg("late\n");
    });
    std::ifstream in(traceFile());
    std::string line;
    std::getline(in, line);
    EXPECT_EQ(line, "02-29-40 12:34:56: late");
}

}  // namespace
