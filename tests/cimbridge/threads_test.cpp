// The natives from many native threads attached to one JVM, against a real
// minicimd: each thread sets up its own connection, reads through it, tears
// it down and detaches; and connections with listeners torn down while
// indications arrive.  Built under ThreadSanitizer (label tsan) to check the
// handle registry, the last errors, the operation lock and the client library.
#include "../../cimbridge/orvcim.cpp"

#include "bridge_test_util.h"
#include "indication_export.h"

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using orvtest::JvmTest;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 5;
constexpr int kListenerCycles = 20;
constexpr int kOperationThreads = 2;
constexpr auto kListenerLife = std::chrono::milliseconds(20);

jobject make(JNIEnv* e, const char* cls, const char* text = nullptr)
{
    jclass c = e->FindClass(cls);
    jobject o = text == nullptr ? e->NewObject(c, e->GetMethodID(c, "<init>", "()V"))
                                : e->NewObject(c, e->GetMethodID(c, "<init>", "(Ljava/lang/String;)V"),
                                               e->NewStringUTF(text));
    return e->ExceptionCheck() ? nullptr : o;
}

jint size(JNIEnv* e, jobject vector)
{
    jclass c = e->FindClass("java/util/Vector");
    const jint n = e->CallIntMethod(vector, e->GetMethodID(c, "size", "()I"));
    return e->ExceptionCheck() ? -1 : n;
}

// One thread's work; returns what went wrong, empty when nothing did.
std::string work()
{
    JNIEnv* e = nullptr;
    if (orvtest::Vm()->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr) != JNI_OK)
        return "attach failed";
    std::string problem;
    e->PushLocalFrame(256);
    jobject ns = e->NewObject(e->FindClass("javax/wbem/cim/CIMNameSpace"),
                              e->GetMethodID(e->FindClass("javax/wbem/cim/CIMNameSpace"), "<init>",
                                             "(Ljava/lang/String;Ljava/lang/String;)V"),
                              e->NewStringUTF(""), e->NewStringUTF("root/test"));
    const jint handle = Java_javax_wbem_client_CIMImpl_setup(e, nullptr, ns);
    if (handle <= 0) problem = "setup: " + LastErrorOfThisThread();
    for (int round = 0; round < kRounds && problem.empty(); ++round) {
        e->PushLocalFrame(64);
        jobject names = make(e, "java/util/Vector");
        jint rc = Java_javax_wbem_client_CIMImpl_enumerateInstanceNames(
            e, nullptr, handle, names, make(e, "javax/wbem/cim/CIMObjectPath", "Test_Base"));
        if (rc != kRcOk || size(e, names) == 0) {
            problem = "enumerateInstanceNames " + std::to_string(rc) + ": " + LastErrorOfThisThread();
        } else {
            jobject first = e->CallObjectMethod(
                names, e->GetMethodID(e->FindClass("java/util/Vector"), "get", "(I)Ljava/lang/Object;"), 0);
            if (e->ExceptionCheck()) first = nullptr;
            rc = Java_javax_wbem_client_CIMImpl_getInstance(e, nullptr, handle,
                                                            make(e, "javax/wbem/cim/CIMInstance"), first);
            if (rc != kRcOk) problem = "getInstance " + std::to_string(rc) + ": " + LastErrorOfThisThread();
        }
        jobject classes = make(e, "java/util/Vector");
        rc = Java_javax_wbem_client_CIMImpl_enumerateClassNames(
            e, nullptr, handle, classes, make(e, "javax/wbem/cim/CIMObjectPath", ""), JNI_TRUE);
        if (problem.empty() && (rc != kRcOk || size(e, classes) == 0))
            problem = "enumerateClassNames " + std::to_string(rc) + ": " + LastErrorOfThisThread();
        if (e->ExceptionCheck()) {
            e->ExceptionClear();
            if (problem.empty()) problem = "a Java exception was left pending";
        }
        e->PopLocalFrame(nullptr);
    }
    if (handle > 0 && Java_javax_wbem_client_CIMImpl_tearDown(e, nullptr, handle) != kRcOk && problem.empty())
        problem = "tearDown failed";
    e->PopLocalFrame(nullptr);
    orvtest::Vm()->DetachCurrentThread();
    return problem;
}

jobject nameSpace(JNIEnv* e, const char* name)
{
    jclass c = e->FindClass("javax/wbem/cim/CIMNameSpace");
    return e->NewObject(c, e->GetMethodID(c, "<init>", "(Ljava/lang/String;Ljava/lang/String;)V"),
                        e->NewStringUTF(""), e->NewStringUTF(name));
}

// Enumerates through a connection of its own until `stop`; what went wrong, empty when nothing did.
std::string operateUntil(const std::atomic<bool>& stop)
{
    JNIEnv* e = nullptr;
    if (orvtest::Vm()->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr) != JNI_OK)
        return "attach failed";
    std::string problem;
    e->PushLocalFrame(16);
    const jint handle = Java_javax_wbem_client_CIMImpl_setup(e, nullptr, nameSpace(e, "root/test"));
    if (handle <= 0) problem = "setup: " + LastErrorOfThisThread();
    while (!stop.load() && problem.empty()) {
        e->PushLocalFrame(16);
        jobject names = make(e, "java/util/Vector");
        const jint rc = Java_javax_wbem_client_CIMImpl_enumerateInstanceNames(
            e, nullptr, handle, names, make(e, "javax/wbem/cim/CIMObjectPath", "Test_Base"));
        if (rc != kRcOk)
            problem = "enumerateInstanceNames " + std::to_string(rc) + ": " + LastErrorOfThisThread();
        e->PopLocalFrame(nullptr);
    }
    Java_javax_wbem_client_CIMImpl_tearDown(e, nullptr, handle);
    e->PopLocalFrame(nullptr);
    orvtest::Vm()->DetachCurrentThread();
    return problem;
}

class Threads : public JvmTest {};

// Connections with a listener are set up and torn down in a loop while a
// sender keeps exporting indications to the current listener and other
// threads run operations: the client goes under the lock, the handle only
// after its listener has stopped.
TEST_F(Threads, TearDownWhileIndicationsArriveAndOperationsRun)
{
    jclass targetClass = env->FindClass("IndicationTarget");
    ASSERT_NE(targetClass, nullptr);
    jobject target =
        env->NewGlobalRef(env->NewObject(targetClass, env->GetMethodID(targetClass, "<init>", "()V")));
    noException();

    // One cycle alone first: the classes every thread uses are loaded before
    // any other thread runs (the JVM's class loading is no part of what is checked).
    {
        const jint handle = Java_javax_wbem_client_CIMImpl_setup(env, nullptr, nameSpace(env, "root/test"));
        ASSERT_GT(handle, 0) << LastErrorOfThisThread();
        ASSERT_GT(Java_javax_wbem_client_CIMIndicationHook_attachListener(env, nullptr, handle, target, 0),
                  0);
        jobject names = make(env, "java/util/Vector");
        EXPECT_EQ(Java_javax_wbem_client_CIMImpl_enumerateInstanceNames(
                      env, nullptr, handle, names, make(env, "javax/wbem/cim/CIMObjectPath", "Test_Base")),
                  kRcOk);
        EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, handle), kRcOk);
        make(env, "javax/wbem/cim/CIMInstance");
    }
    std::atomic<bool> stop{false};
    std::mutex destinationLock;
    int port = 0;  // and the path, of the current listener
    std::string path;
    std::atomic<int> sent{0};
    std::thread sender([&] {
        for (std::uint32_t n = 0; !stop.load(); ++n) {
            int p = 0;
            std::string request;
            {
                std::lock_guard<std::mutex> guard(destinationLock);
                p = port;
                request = orvtest::indicationExport("Test_Base", n, 0, path);
            }
            if (p == 0 || orvtest::sendIndication(p, request) == 0) {
                std::this_thread::yield();
            } else {
                ++sent;
            }
        }
    });
    std::vector<std::string> problems(kOperationThreads);
    std::vector<std::thread> operators;
    for (int i = 0; i < kOperationThreads; ++i) {
        operators.emplace_back(
            [i, &problems, &stop] { problems[static_cast<std::size_t>(i)] = operateUntil(stop); });
    }
    for (int cycle = 0; cycle < kListenerCycles; ++cycle) {
        const jint handle = Java_javax_wbem_client_CIMImpl_setup(env, nullptr, nameSpace(env, "root/test"));
        ASSERT_GT(handle, 0) << LastErrorOfThisThread();
        const jint listening =
            Java_javax_wbem_client_CIMIndicationHook_attachListener(env, nullptr, handle, target, 0);
        ASSERT_GT(listening, 0) << "cycle " << cycle;
        {
            jstring url = Java_javax_wbem_client_CIMIndicationHook_destination(env, nullptr, handle);
            ASSERT_NE(url, nullptr);
            const std::string text = str(url);
            std::lock_guard<std::mutex> guard(destinationLock);
            path = text.substr(text.find('/', std::strlen("http://")));
            port = listening;
        }
        std::this_thread::sleep_for(kListenerLife);
        // The sender keeps going: indications are in flight while the connection goes.
        EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, handle), kRcOk);
        EXPECT_EQ(getServices(env, nullptr, handle), nullptr);
    }
    {
        std::lock_guard<std::mutex> guard(destinationLock);
        port = 0;
    }
    stop.store(true);
    sender.join();
    for (auto& t : operators) t.join();
    for (int i = 0; i < kOperationThreads; ++i)
        EXPECT_EQ(problems[static_cast<std::size_t>(i)], "") << "thread " << i;
    EXPECT_GT(sent.load(), 0);
    jmethodID count = env->GetMethodID(targetClass, "count", "()I");
    const jint received = env->CallIntMethod(target, count);
    noException();
    EXPECT_GT(received, 0);
    EXPECT_LE(received, sent.load());
    env->DeleteGlobalRef(target);
    std::lock_guard<std::mutex> guard(g_wbemSvcLock);
    EXPECT_EQ(g_SvcMap.size(), 0u);
    EXPECT_TRUE(g_closingHandles.empty());
}

TEST_F(Threads, EachAttachedThreadReadsThroughItsOwnConnection)
{
    std::vector<std::string> problems(kThreads);
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([i, &problems] { problems[static_cast<std::size_t>(i)] = work(); });
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(problems[static_cast<std::size_t>(i)], "") << "thread " << i;
    std::lock_guard<std::mutex> guard(g_wbemSvcLock);
    EXPECT_EQ(g_SvcMap.size(), 0u);
}

}  // namespace
