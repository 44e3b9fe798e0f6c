// The sysactions natives end to end: SystemActions.shutdown(), reboot() and reboot(int) called
// through the JVM (which loads libsysactions.so and binds the natives by its own lookup), inside
// a private mount namespace where /sbin and /usr/sbin are test directories.  Before every call
// the cover is checked; without the namespace these tests skip.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "orv_jvm_test.h"
#include "shutdown_testkit.h"

namespace fs = std::filesystem;

namespace {

std::unique_ptr<orvtest::ShutdownCover> g_cover;
std::string g_whyNoCover;

constexpr char kSystemActions[] = "com/zandor/retail/orv/mgmt/util/SystemActions";

struct CallResult {
    jint pid = 0;
    orvtest::PendingException exception;
};

class SysActionsTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!g_cover) GTEST_SKIP() << "SKIPPED, private mount namespace unavailable: " << g_whyNoCover;
        g_cover->Clear();
    }

    // Calls SystemActions.<method> through the JVM, after checking the cover once more.
    CallResult Call(const char* method, const char* signature, const jint* delay = nullptr)
    {
        CallResult r;
        std::string problem;
        if (!g_cover->Verify(&problem)) {
            ADD_FAILURE() << "not calling " << method << ": " << problem;
            r.pid = -2;
            return r;
        }
        JNIEnv* env = orvtest::Env();
        orvtest::LocalFrame frame(env);
        jclass cls = orvtest::FindClassOrFail(env, kSystemActions);
        if (cls == nullptr) return r;
        jmethodID mid = env->GetStaticMethodID(cls, method, signature);
        if (mid == nullptr) {
            r.exception = orvtest::TakeException(env);
            ADD_FAILURE() << "no method " << method << signature;
            return r;
        }
        r.pid = delay != nullptr ? env->CallStaticIntMethod(cls, mid, *delay)
                                 : env->CallStaticIntMethod(cls, mid);
        r.exception = orvtest::TakeException(env);
        env->DeleteLocalRef(cls);
        return r;
    }

    static void ExpectRanIn(const std::string& dir, const CallResult& r, const std::vector<std::string>& argv)
    {
        ASSERT_FALSE(r.exception.pending) << r.exception.className << ": " << r.exception.message;
        ASSERT_GT(r.pid, 0);
        EXPECT_EQ(orvtest::WaitChild(r.pid), 0);
        const orvtest::StandInRecord rec = orvtest::ReadRecord(dir, r.pid);
        ASSERT_TRUE(rec.found) << "the stand-in in " << dir << " did not run";
        EXPECT_EQ(rec.argv, argv);
        EXPECT_EQ(rec.fd0, "/dev/null");
        EXPECT_EQ(rec.fd1, "/dev/null");
        EXPECT_EQ(rec.fd2, "/dev/null");
        EXPECT_EQ(rec.fds, "0,1,2") << "the child inherited descriptors beyond its standard streams";
    }
};

TEST_F(SysActionsTest, EachNativeRunsShutdownWithItsOwnArguments)
{
    orvtest::PlaceStandIn(ORV_STANDIN, g_cover->sbin(), 0755);
    // reboot(int) must reach the one-argument native, not the no-argument one.
    const jint minus5 = -5;
    ExpectRanIn(g_cover->sbin(), Call("reboot", "(I)I", &minus5), {"shutdown", "-r", "-t", "-5", "now"});
    const jint thirty = 30;
    ExpectRanIn(g_cover->sbin(), Call("reboot", "(I)I", &thirty), {"shutdown", "-r", "-t", "30", "now"});
    ExpectRanIn(g_cover->sbin(), Call("reboot", "()I"), {"shutdown", "-r", "-t", "0", "now"});
    ExpectRanIn(g_cover->sbin(), Call("shutdown", "()I"), {"shutdown", "-h", "-t", "0", "now"});
}

// Descriptors the JVM holds open without close-on-exec (a file, both ends of a pipe, a socket)
// never reach the shutdown program; the extreme delays pass through as text.
TEST_F(SysActionsTest, ChildGetsOnlyItsStandardStreams)
{
    orvtest::PlaceStandIn(ORV_STANDIN, g_cover->sbin(), 0755);
    const int file = open("/proc/self/status", O_RDONLY);
    int pipeEnds[2] = {-1, -1};
    ASSERT_EQ(pipe(pipeEnds), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(file, 0);
    ASSERT_GE(sock, 0);
    const jint lowest = std::numeric_limits<jint>::min();
    const jint highest = std::numeric_limits<jint>::max();
    ExpectRanIn(g_cover->sbin(), Call("reboot", "(I)I", &lowest),
                {"shutdown", "-r", "-t", std::to_string(lowest), "now"});
    ExpectRanIn(g_cover->sbin(), Call("reboot", "(I)I", &highest),
                {"shutdown", "-r", "-t", std::to_string(highest), "now"});
    ExpectRanIn(g_cover->sbin(), Call("shutdown", "()I"), {"shutdown", "-h", "-t", "0", "now"});
    for (int fd : {file, pipeEnds[0], pipeEnds[1], sock}) close(fd);
}

TEST_F(SysActionsTest, SbinComesBeforePathAndOnlyUsablePrograms)
{
    // Found in /sbin although PATH has one too.
    orvtest::PlaceStandIn(ORV_STANDIN, g_cover->sbin(), 0755);
    orvtest::PlaceStandIn(ORV_STANDIN, g_cover->localBin(), 0755);
    orvtest::PlaceStandIn(ORV_STANDIN, g_cover->bin(), 0755);
    ExpectRanIn(g_cover->sbin(), Call("reboot", "()I"), {"shutdown", "-r", "-t", "0", "now"});

    // Mode 0750 in /sbin (and so /usr/sbin on a merged system): passed over for PATH's 0755.
    chmod((g_cover->sbin() + "/shutdown").c_str(), 0750);
    if (!g_cover->sbinIsUsrSbin()) orvtest::PlaceStandIn(ORV_STANDIN, g_cover->usrSbin(), 0750);
    ExpectRanIn(g_cover->localBin(), Call("shutdown", "()I"), {"shutdown", "-h", "-t", "0", "now"});

    // A directory named shutdown is passed over too.
    fs::remove(g_cover->localBin() + "/shutdown");
    fs::create_directory(g_cover->localBin() + "/shutdown");
    ExpectRanIn(g_cover->bin(), Call("shutdown", "()I"), {"shutdown", "-h", "-t", "0", "now"});
}

TEST_F(SysActionsTest, RelativePathElementIsSkipped)
{
    // PATH is "<local-bin>:rel/bin:<bin>"; only the relative element's directory has a program.
    orvtest::PlaceStandIn(ORV_STANDIN, g_cover->relBin(), 0755);
    const CallResult r = Call("reboot", "()I");
    EXPECT_EQ(r.pid, 0);
    EXPECT_FALSE(r.exception.pending) << r.exception.message;
    orvtest::PlaceStandIn(ORV_STANDIN, g_cover->bin(), 0755);
    ExpectRanIn(g_cover->bin(), Call("reboot", "()I"), {"shutdown", "-r", "-t", "0", "now"});
}

TEST_F(SysActionsTest, NothingFoundGivesZeroAndNoException)
{
    const jint delay = 10;
    for (const CallResult& r :
         {Call("shutdown", "()I"), Call("reboot", "()I"), Call("reboot", "(I)I", &delay)}) {
        EXPECT_EQ(r.pid, 0);
        EXPECT_FALSE(r.exception.pending) << r.exception.className << ": " << r.exception.message;
    }
}

// Java sees only the exception (a throwing method has no result; the -1 under it is checked
// through the internal entry).
TEST_F(SysActionsTest, ExecFailureThrows)
{
    orvtest::PlaceNonProgram(g_cover->sbin(), 0755);
    const jint delay = 5;
    for (const CallResult& r :
         {Call("shutdown", "()I"), Call("reboot", "()I"), Call("reboot", "(I)I", &delay)}) {
        ASSERT_TRUE(r.exception.pending);
        EXPECT_EQ(r.exception.className, "java.lang.RuntimeException");
        EXPECT_EQ(r.exception.message, "Failed to create shutdown process, error = 8");  // ENOEXEC
    }
}

// The library's exported names decide which C function the JVM binds to which Java overload.
// This needs no namespace: nothing is called.
TEST(SysActionsExports, RebootOverloadsHaveOnlyTheirLongNames)
{
    void* lib = dlopen(ORV_SYSACTIONS_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(lib, nullptr) << dlerror();
    EXPECT_EQ(dlsym(lib, "Java_com_zandor_retail_orv_mgmt_util_SystemActions_reboot"), nullptr)
        << "a short-named reboot would also be bound to reboot(int)";
    EXPECT_NE(dlsym(lib, "Java_com_zandor_retail_orv_mgmt_util_SystemActions_reboot__"), nullptr);
    EXPECT_NE(dlsym(lib, "Java_com_zandor_retail_orv_mgmt_util_SystemActions_reboot__I"), nullptr);
    EXPECT_NE(dlsym(lib, "Java_com_zandor_retail_orv_mgmt_util_SystemActions_shutdown"), nullptr);
    EXPECT_EQ(dlsym(lib, "_ZN3orv10sysactions23SystemShutdownSearchingEP7JNIEnv_PKcS4_bi"), nullptr)
        << "the internal entry is not part of the library's interface";
    dlclose(lib);
}

}  // namespace

int main(int argc, char** argv)
{
    // The namespace must exist before the JVM starts its threads.
    g_cover = orvtest::ShutdownCover::Create(&g_whyNoCover);
    if (!g_cover) std::fprintf(stderr, "sysactions end-to-end tests will skip: %s\n", g_whyNoCover.c_str());
    const int rc = orvtest::RunJvmTests(argc, argv);
    g_cover.reset();
    return rc;
}
