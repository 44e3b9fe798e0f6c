// Connections to a real server: minicimd on a temporary socket, reached by
// the client library's connectLocal through CIM_LOCAL_SOCKET.
#include "../../cimbridge/orvcim.cpp"

#include "bridge_test_util.h"
#include "minicimd_process.h"

#include <algorithm>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using orvtest::JvmTest;

namespace {

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

}  // namespace

int main(int argc, char** argv)
{
    // The server starts before the JVM, while this process is single-threaded.  It
    // loads no schema: these cases only connect, to its default namespace.
    orvtest::MinicimdProcess::Options options;
    options.nameSpace.clear();
    options.localAuth = true;
    options.privateAuthDir = true;
    orvtest::MinicimdProcess server(options);
    setenv("CIM_LOCAL_SOCKET", server.socketPath().c_str(), 1);
    return orvtest::RunJvmTests(argc, argv);
}
