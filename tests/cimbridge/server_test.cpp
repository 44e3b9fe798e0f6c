// Connections to a real server: minicimd on a temporary socket, reached by
// the client library's connectLocal through CIM_LOCAL_SOCKET.
#include "../../cimbridge/orvcim.cpp"

#include "bridge_test_util.h"

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <vector>
#include <cstdlib>
#include <string>
#include <thread>

extern char** environ;

using bridgetest::JvmTest;

namespace {

constexpr auto kServerStartLimit = std::chrono::seconds(60);

pid_t g_server = -1;
std::string g_dir;

class Server : public JvmTest {
protected:
    jobject nameSpace(const char* text)
    {
        jclass c = env->FindClass("javax/wbem/cim/CIMNameSpace");
        jmethodID ctor = env->GetMethodID(c, "<init>", "(Ljava/lang/String;Ljava/lang/String;)V");
        jstring host = jstr("");
        jstring ns = jstr(text);
        jobject o = env->NewObject(c, ctor, host, ns);
        noException();
        return o;
    }
    jint setup(const char* text)
    {
        return Java_javax_wbem_client_CIMImpl_setup(env, nullptr, nameSpace(text));
    }
    jint tearDown(jint handle) { return Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, handle); }

    static std::size_t registered()
    {
        std::lock_guard<std::mutex> guard(g_wbemSvcLock);
        return g_SvcMap.size();
    }
};

TEST_F(Server, HandlesCountFromOneAndFreedOnesComeBack)
{
    ASSERT_EQ(setup("root/cimv2"), 1) << LastErrorOfThisThread();
    ASSERT_EQ(setup("root/cimv2"), 2) << LastErrorOfThisThread();
    EXPECT_EQ(tearDown(1), 0);
    EXPECT_EQ(getServices(env, nullptr, 1), nullptr);
    EXPECT_NE(getServices(env, nullptr, 2), nullptr);
    EXPECT_EQ(setup("/root/cimv2"), 1);
    EXPECT_EQ(tearDown(1), 0);
    EXPECT_EQ(tearDown(1), 0);  // twice: nothing more happens
    EXPECT_EQ(tearDown(2), 0);
    EXPECT_EQ(registered(), 0u);
}

TEST_F(Server, TheHostPartIsStrippedFromTheNamespace)
{
    const jint handle = setup("//somehost/root/cimv2");
    ASSERT_EQ(handle, 1) << LastErrorOfThisThread();
    WbemServices* services = getServices(env, nullptr, handle);
    ASSERT_NE(services, nullptr);
    ASSERT_NE(services->m_client, nullptr);
    EXPECT_EQ(std::string(services->m_nameSpace->getString().getCString()), "root/cimv2");
    EXPECT_EQ(services->m_listener, nullptr);
    EXPECT_EQ(services->m_consumer, nullptr);
    EXPECT_EQ(tearDown(handle), 0);
}

TEST_F(Server, ConnectionsFromManyThreads)
{
    constexpr int kThreads = 4;
    std::vector<std::thread> threads;
    std::vector<jint> handles(kThreads, -1);
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([i, &handles] {
            JNIEnv* tenv = nullptr;
            if (orvtest::Vm()->AttachCurrentThread(reinterpret_cast<void**>(&tenv), nullptr) != JNI_OK)
                return;
            jclass c = tenv->FindClass("javax/wbem/cim/CIMNameSpace");
            jobject ns = tenv->NewObject(c, tenv->GetMethodID(c, "<init>", "()V"));
            (void)tenv->ExceptionCheck();
            handles[static_cast<std::size_t>(i)] = Java_javax_wbem_client_CIMImpl_setup(tenv, nullptr, ns);
            orvtest::Vm()->DetachCurrentThread();
        });
    }
    for (auto& t : threads) t.join();
    std::sort(handles.begin(), handles.end());
    EXPECT_EQ(handles, (std::vector<jint>{1, 2, 3, 4}));
    for (jint h : handles) EXPECT_EQ(tearDown(h), 0);
    EXPECT_EQ(registered(), 0u);
}

void stopServer()
{
    if (g_server > 0) {
        kill(g_server, SIGTERM);
        int status = 0;
        waitpid(g_server, &status, 0);
        g_server = -1;
    }
    if (!g_dir.empty()) {
        std::string cmd = "rm -rf '" + g_dir + "'";
        if (std::system(cmd.c_str()) != 0) std::fprintf(stderr, "could not remove %s\n", g_dir.c_str());
    }
}

}  // namespace

// Usage: cimbridge_server_test --minicimd=PATH [JVM and GoogleTest options]
int main(int argc, char** argv)
{
    std::string minicimd;
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a.rfind("--minicimd=", 0) == 0)
            minicimd = a.substr(11);
        else
            rest.push_back(argv[i]);
    }
    if (minicimd.empty()) {
        std::fprintf(stderr, "give --minicimd=PATH\n");
        return 2;
    }
    char pattern[] = "/tmp/orv-bridge-server-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 2;
    g_dir = pattern;
    const std::string socket = g_dir + "/cimxml.socket";
    // The server starts before the JVM, while this process is single-threaded.
    std::vector<std::string> args = {minicimd, "--socket", socket, "--local-auth", "--auth-dir", g_dir};
    std::vector<char*> cargs;
    for (auto& s : args) cargs.push_back(s.data());
    cargs.push_back(nullptr);
    if (posix_spawn(&g_server, minicimd.c_str(), nullptr, nullptr, cargs.data(), environ) != 0) {
        std::fprintf(stderr, "cannot start %s\n", minicimd.c_str());
        return 2;
    }
    const auto deadline = std::chrono::steady_clock::now() + kServerStartLimit;
    struct stat st;
    while (stat(socket.c_str(), &st) != 0) {
        if (std::chrono::steady_clock::now() > deadline || waitpid(g_server, nullptr, WNOHANG) == g_server) {
            std::fprintf(stderr, "minicimd did not come up on %s\n", socket.c_str());
            g_server = -1;
            stopServer();
            return 2;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    setenv("CIM_LOCAL_SOCKET", socket.c_str(), 1);
    int n = static_cast<int>(rest.size());
    const int rc = orvtest::RunJvmTests(n, rest.data());
    stopServer();
    return rc;
}
