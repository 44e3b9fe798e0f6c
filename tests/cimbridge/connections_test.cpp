// Connections: setup failures, tearDown, the handle registry and the guard
// against re-entering g_pegasusLock.  Setups that reach a server are in the
// Java-driven suite that runs against minicimd.
// Compiled in one unit with the bridge's source (cimbridge_unit_test), whose
// internals it reaches.
#include "bridge_test_util.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>

using orvtest::JvmTest;

namespace {

class Connections : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        // No server answers here: connectLocal must fail.
        setenv("CIM_LOCAL_SOCKET", "/nonexistent/orv-bridge-test.socket", 1);
        AssignLastError("");
    }

    jobject nameSpace(const char* text)
    {
        jclass c = env->FindClass("javax/wbem/cim/CIMNameSpace");
        jmethodID ctor = env->GetMethodID(c, "<init>", "(Ljava/lang/String;Ljava/lang/String;)V");
        jstring host = jstr("");
        jstring ns = text == nullptr ? nullptr : jstr(text);
        jobject o = env->NewObject(c, ctor, host, ns);
        noException();
        return o;
    }

    static std::size_t registered()
    {
        std::lock_guard<std::mutex> guard(g_wbemSvcLock);
        return g_SvcMap.size();
    }
};

TEST(StripHost, LeadingHostAndSlashesGo)
{
    EXPECT_EQ(stripHost("root/cimv2"), "root/cimv2");
    EXPECT_EQ(stripHost("/root/cimv2"), "root/cimv2");
    EXPECT_EQ(stripHost("\\root/cimv2"), "root/cimv2");
    EXPECT_EQ(stripHost("//server/root/cimv2"), "root/cimv2");
    EXPECT_EQ(stripHost("\\\\server\\root/cimv2"), "root/cimv2");
    EXPECT_EQ(stripHost("//server"), "server");
    EXPECT_EQ(stripHost("//server/"), "server/");
    EXPECT_EQ(stripHost(""), "");
    EXPECT_EQ(stripHost("/"), "");
    EXPECT_EQ(stripHost("//"), "");
}

TEST_F(Connections, NullNamespaceTextGivesZeroAndSaysWhy)
{
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_setup(env, nullptr, nameSpace(nullptr)), 0);
    EXPECT_NE(LastErrorOfThisThread().find("getNameSpace"), std::string::npos) << LastErrorOfThisThread();
    AssignLastError("");
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_setup(env, nullptr, nullptr), 0);
    EXPECT_NE(LastErrorOfThisThread().find("getNameSpace"), std::string::npos);
    EXPECT_EQ(registered(), 0u);
}

TEST_F(Connections, RejectedNamespaceGivesZeroAndTheLibrarysMessage)
{
    const char* bad = "root/not a namespace!";
    std::string expected;
    try {
        Pegasus::CIMNamespaceName name(bad);
        FAIL() << "the client library accepted " << bad;
    } catch (const Pegasus::Exception& e) {
        expected = static_cast<const char*>(e.getMessage().getCString());
    }
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_setup(env, nullptr, nameSpace(bad)), 0);
    EXPECT_EQ(str(Java_javax_wbem_client_CIMImpl_getLastError(env, nullptr)), expected);
    EXPECT_EQ(registered(), 0u);
}

TEST_F(Connections, NoServerGivesZeroAndLeavesNothingConnected)
{
#ifdef ORV_TEST_OPENPEGASUS_INSTALLED
    GTEST_SKIP() << "built against an installed OpenPegasus: its connectLocal ignores CIM_LOCAL_SOCKET "
                    "and may reach the machine's own CIM server";
#endif
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_setup(env, nullptr, nameSpace("//somehost/root/cimv2")), 0);
    EXPECT_NE(LastErrorOfThisThread(), "");
    EXPECT_EQ(registered(), 0u);
    // The lock was released on the way out.
    ASSERT_TRUE(g_pegasusLock.try_lock());
    g_pegasusLock.unlock();
}

TEST_F(Connections, HandlesAreTheSmallestFreeOnes)
{
    WbemServices* a = new WbemServices{nullptr, nullptr, nullptr, nullptr};
    WbemServices* b = new WbemServices{nullptr, nullptr, nullptr, nullptr};
    WbemServices* c = new WbemServices{nullptr, new Pegasus::CIMNamespaceName("root/x"), nullptr, nullptr};
    EXPECT_EQ(registerServices(a), 1);
    EXPECT_EQ(registerServices(b), 2);
    EXPECT_EQ(getServices(env, nullptr, 1), a);
    EXPECT_EQ(getServices(env, nullptr, 2), b);
    EXPECT_EQ(getServices(env, nullptr, 0), nullptr);
    EXPECT_EQ(getServices(env, nullptr, 3), nullptr);

    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, 1), 0);
    EXPECT_EQ(getServices(env, nullptr, 1), nullptr);
    EXPECT_EQ(registerServices(c), 1);  // a freed handle is given out again
    EXPECT_EQ(getServices(env, nullptr, 1), c);

    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, 1), 0);
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, 1), 0);  // twice: nothing more
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, 2), 0);
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, -7), 0);
    EXPECT_EQ(registered(), 0u);
}

TEST_F(Connections, ReenteringOnTheSameThreadFailsInsteadOfHanging)
{
    {
        PegasusLockGuard outer;  // as inside a native making a Java callback
        ASSERT_TRUE(outer.locked());
        EXPECT_EQ(Java_javax_wbem_client_CIMImpl_setup(env, nullptr, nameSpace("root/cimv2")), 0);
        EXPECT_EQ(LastErrorOfThisThread(), kReentryMessage);
        AssignLastError("");
        EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, 1), 0x30000004);
        EXPECT_EQ(LastErrorOfThisThread(), kReentryMessage);
        // Still held by the outer native.
        EXPECT_FALSE(g_pegasusLock.try_lock());
    }
    ASSERT_TRUE(g_pegasusLock.try_lock());
    g_pegasusLock.unlock();
    // Natives that take no lock work inside a callback too.
    PegasusLockGuard outer;
    EXPECT_EQ(str(Java_javax_wbem_client_CIMImpl_getVersion(env, nullptr)), "2.4.6040");
}

TEST_F(Connections, AnotherThreadWaitsForTheLock)
{
    std::atomic<bool> done{false};
    std::thread other;
    {
        PegasusLockGuard held;
        other = std::thread([&] {
            PegasusLockGuard mine;
            EXPECT_TRUE(mine.locked());
            done = true;
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_FALSE(done.load());
    }
    other.join();
    EXPECT_TRUE(done.load());
}

}  // namespace
