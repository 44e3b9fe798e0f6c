// The search and the spawn behind the sysactions natives, through the internal entry that takes
// the fixed part of the search list.  Every directory searched is a temporary one, and this build
// of the code refuses to start anything but the stand-in program.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "orv_jvm_test.h"
#include "orvreboot_internal.h"
#include "shutdown_testkit.h"

namespace fs = std::filesystem;
using orv::sysactions::SystemShutdownSearching;

namespace {

const std::vector<std::string> kRebootMinus5 = {"shutdown", "-r", "-t", "-5", "now"};

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        char tmpl[] = "/tmp/orv-shutdown-search-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        root_ = tmpl;
        first_ = root_ + "/first";
        second_ = root_ + "/second";
        pathA_ = root_ + "/path-a";
        pathB_ = root_ + "/path-b";
        for (const auto& d : {first_, second_, pathA_, pathB_}) fs::create_directories(d);
        prefix_ = first_ + ":" + second_ + ":";
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }

    // Runs the search and returns the pid, checking that no exception was left pending.
    jint Run(const std::string& pathValue, bool reboot, jint delay)
    {
        JNIEnv* env = orvtest::Env();
        const jint pid = SystemShutdownSearching(env, prefix_.c_str(), pathValue.c_str(), reboot, delay);
        const orvtest::PendingException e = orvtest::TakeException(env);
        EXPECT_FALSE(e.pending) << e.className << ": " << e.message;
        return pid;
    }

    // Checks that the stand-in in dir ran as pid with argv and /dev/null streams.
    static void ExpectRanIn(const std::string& dir, jint pid, const std::vector<std::string>& argv)
    {
        ASSERT_GT(pid, 0);
        EXPECT_EQ(orvtest::WaitChild(pid), 0);
        const orvtest::StandInRecord r = orvtest::ReadRecord(dir, pid);
        ASSERT_TRUE(r.found) << "the stand-in in " << dir << " did not run";
        EXPECT_EQ(r.argv, argv);
        EXPECT_EQ(r.fd0, "/dev/null");
        EXPECT_EQ(r.fd1, "/dev/null");
        EXPECT_EQ(r.fd2, "/dev/null");
        EXPECT_EQ(r.fds, "0,1,2") << "the child inherited descriptors beyond its standard streams";
    }

    std::string root_, first_, second_, pathA_, pathB_, prefix_;
};

TEST_F(SearchTest, SearchOrderAndWhatCountsAsAProgram)
{
    // The fixed directories come before PATH, the first of them first.
    orvtest::PlaceStandIn(ORV_STANDIN, first_, 0755);
    orvtest::PlaceStandIn(ORV_STANDIN, second_, 0755);
    orvtest::PlaceStandIn(ORV_STANDIN, pathA_, 0755);
    ExpectRanIn(first_, Run(pathA_, true, -5), kRebootMinus5);

    // Executable by owner and group only: passed over; the next one, 0755, taken.
    chmod((first_ + "/shutdown").c_str(), 0750);
    ExpectRanIn(second_, Run(pathA_, true, -5), kRebootMinus5);
    chmod((second_ + "/shutdown").c_str(), 0754);
    ExpectRanIn(pathA_, Run(pathA_, true, -5), kRebootMinus5);

    // A directory named shutdown is no program.
    fs::remove(pathA_ + "/shutdown");
    fs::create_directory(pathA_ + "/shutdown");
    orvtest::PlaceStandIn(ORV_STANDIN, pathB_, 0755);
    ExpectRanIn(pathB_, Run(pathA_ + ":" + pathB_, true, -5), kRebootMinus5);

    // A symbolic link to a program is followed.
    fs::remove(pathB_ + "/shutdown");
    const std::string real = root_ + "/real-shutdown";
    orvtest::PlaceStandIn(ORV_STANDIN, root_, 0755);
    fs::rename(root_ + "/shutdown", real);
    fs::create_symlink(real, pathB_ + "/shutdown");
    ExpectRanIn(root_, Run(pathA_ + ":" + pathB_, false, 0), {"shutdown", "-h", "-t", "0", "now"});
}

TEST_F(SearchTest, EmptyAndRelativeElementsAreNeverSearched)
{
    // A relative element would name a directory below the working directory: skipped.
    const std::string cwd = root_ + "/cwd";
    fs::create_directories(cwd + "/rel/bin");
    orvtest::PlaceStandIn(ORV_STANDIN, cwd + "/rel/bin", 0755);
    orvtest::PlaceStandIn(ORV_STANDIN, cwd, 0755);  // what "" or "." would find
    char saved[PATH_MAX];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(cwd.c_str()), 0);
    EXPECT_EQ(Run("rel/bin::.:./rel/bin:", true, 0), 0);
    // ... and the search goes on past it to the absolute elements.
    orvtest::PlaceStandIn(ORV_STANDIN, pathB_, 0755);
    ExpectRanIn(pathB_, Run("rel/bin::" + pathB_, true, 30), {"shutdown", "-r", "-t", "30", "now"});
    ASSERT_EQ(chdir(saved), 0);
}

TEST_F(SearchTest, NothingFoundStartsNothingAndThrowsNothing)
{
    EXPECT_EQ(Run(pathA_ + ":" + pathB_, true, 0), 0);
    EXPECT_EQ(Run("", false, 0), 0);
    // An unset PATH leaves only the fixed directories.
    JNIEnv* env = orvtest::Env();
    EXPECT_EQ(SystemShutdownSearching(env, prefix_.c_str(), nullptr, true, 0), 0);
    EXPECT_FALSE(env->ExceptionCheck());
    // Mode 0750 everywhere: still nothing usable.
    for (const auto& d : {first_, second_, pathA_}) orvtest::PlaceStandIn(ORV_STANDIN, d, 0750);
    EXPECT_EQ(Run(pathA_, true, 0), 0);
}

TEST_F(SearchTest, DelayIsPassedAsGivenInDecimal)
{
    orvtest::PlaceStandIn(ORV_STANDIN, first_, 0755);
    ExpectRanIn(first_, Run("", true, INT_MIN), {"shutdown", "-r", "-t", "-2147483648", "now"});
    ExpectRanIn(first_, Run("", true, INT_MAX), {"shutdown", "-r", "-t", "2147483647", "now"});
    ExpectRanIn(first_, Run("", false, 0), {"shutdown", "-h", "-t", "0", "now"});
}

TEST_F(SearchTest, ExecFailureIsReportedNotTakenForAStart)
{
    orvtest::PlaceNonProgram(first_, 0755);
    JNIEnv* env = orvtest::Env();
    const jint rc = SystemShutdownSearching(env, prefix_.c_str(), "", true, 0);
    const orvtest::PendingException e = orvtest::TakeException(env);
    EXPECT_EQ(rc, -1);
    ASSERT_TRUE(e.pending);
    EXPECT_EQ(e.className, "java.lang.RuntimeException");
    EXPECT_EQ(e.message, "Failed to create shutdown process, error = 8");  // ENOEXEC
    // The first usable candidate is final: a failing one does not fall through to the next.
    orvtest::PlaceStandIn(ORV_STANDIN, second_, 0755);
    EXPECT_EQ(SystemShutdownSearching(env, prefix_.c_str(), "", true, 0), -1);
    EXPECT_TRUE(orvtest::TakeException(env).pending);
}

}  // namespace
