// The indication consumer against a real minicimd: called from native threads
// as a listener calls it, then end to end, from a subscription through the
// connection's listener to a Java object.
#include "../../cimbridge/orvcim.cpp"

#include "bridge_test_util.h"
#include "indication_export.h"
#include "subscriptions.h"

#include <Pegasus/Client/CIMClient.h>

#include <chrono>
#include <thread>

using orvtest::JvmTest;

namespace {

constexpr auto kDeliveryLimit = std::chrono::seconds(60);
constexpr const char* kPath = "/00112233445566778899aabbccddeeff";

class Indications : public JvmTest {
protected:
    void SetUp() override
    {
        JvmTest::SetUp();
        handle = setup("root/test");
        ASSERT_GT(handle, 0) << LastErrorOfThisThread();
        jclass tc = env->FindClass("IndicationTarget");
        ASSERT_NE(tc, nullptr);
        target = env->NewGlobalRef(env->NewObject(tc, env->GetMethodID(tc, "<init>", "()V")));
        noException();
    }
    void TearDown() override
    {
        Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, handle);
        env->DeleteGlobalRef(target);
        JvmTest::TearDown();
    }

    jint setup(const char* nameSpace)
    {
        jclass c = env->FindClass("javax/wbem/cim/CIMNameSpace");
        jstring host = jstr("");
        jstring ns = jstr(nameSpace);
        jobject o = env->NewObject(
            c, env->GetMethodID(c, "<init>", "(Ljava/lang/String;Ljava/lang/String;)V"), host, ns);
        noException();
        return Java_javax_wbem_client_CIMImpl_setup(env, nullptr, o);
    }

    // Delivers one indication from a thread of its own, as a listener does;
    // gives that thread's last error.
    static std::string deliver(WbemIndicationConsumer& consumer, const Pegasus::CIMInstance& indication,
                               const char* path = kPath)
    {
        std::string lastError;
        std::thread listenerThread([&] {
            AssignLastError("");  // a new thread may reuse a finished one's identifier
            consumer.consumeIndication(Pegasus::OperationContext(), Pegasus::String(path), indication);
            lastError = LastErrorOfThisThread();
        });
        listenerThread.join();
        return lastError;
    }

    // Attaches a listener to a new connection to root/interop and subscribes it
    // to creations; gives the connection's handle (0 on failure, with a test failure).
    jint subscribeTarget(Pegasus::CIMClient& client)
    {
        // The consumer looks the indication's class up in the connection's namespace.
        const jint interop = setup("root/interop");
        EXPECT_GT(interop, 0) << LastErrorOfThisThread();
        EXPECT_TRUE(attachIndicationListener(env, interop, target, 0));
        Pegasus::Uint32 port = 0;
        {
            PegasusLockGuard lock;
            WbemServices* services = getServices(env, nullptr, interop);
            EXPECT_NE(services, nullptr);
            if (services == nullptr || services->m_listener == nullptr) return 0;
            port = services->m_listener->getPortNumber();
        }
        EXPECT_GT(port, 0u);
        port_ = static_cast<int>(port);
        EXPECT_FALSE(attachIndicationListener(env, interop, target, 0)) << "one listener a connection";

        client.connectLocal();
        // The server is shared by the tests: each subscribes with names of its own.
        static int subscriptions = 0;
        const std::string url =
            str(Java_javax_wbem_client_CIMIndicationHook_destination(env, nullptr, interop));
        EXPECT_EQ(url.find("http://127.0.0.1:" + std::to_string(port) + "/"), 0u) << url;
        EXPECT_EQ(url.size() - url.rfind('/'), 33u) << url;
        EXPECT_EQ(str(Java_javax_wbem_client_CIMIndicationHook_destination(env, nullptr, handle)), "<null>");
        subscription_ = orvtest::subscribe(client, "bridge-" + std::to_string(++subscriptions),
                                           "SELECT * FROM CIM_InstCreation", url);
        return interop;
    }

    // Waits until `n` indications have reached the target or none came for a while.
    void awaitCount(jint n)
    {
        jint seen = count();
        auto quietSince = std::chrono::steady_clock::now();
        while (seen < n && std::chrono::steady_clock::now() - quietSince < kDeliveryLimit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const jint now = count();
            if (now != seen) quietSince = std::chrono::steady_clock::now();
            seen = now;
        }
    }

    Pegasus::CIMObjectPath subscription_;
    int port_ = 0;  // of the listener subscribed

    // Called in a poll loop on the main thread, which never returns to Java: the
    // references of each call go with its own frame, however often it polls.
    jint count()
    {
        orvtest::LocalFrame frame(env);
        jmethodID m = env->GetMethodID(env->GetObjectClass(target), "count", "()I");
        const jint n = env->CallIntMethod(target, m);
        noException();
        return n;
    }

    // The names of the received instance's properties, keys marked with '*'.
    std::string propertiesOf(jint i)
    {
        jobject inst = env->CallObjectMethod(
            target, env->GetMethodID(env->GetObjectClass(target), "get", "(I)Ljavax/wbem/cim/CIMInstance;"),
            i);
        noException();
        jobject props = env->CallObjectMethod(
            inst, env->GetMethodID(env->GetObjectClass(inst), "getProperties", "()Ljava/util/Vector;"));
        noException();
        jmethodID className =
            env->GetMethodID(env->GetObjectClass(inst), "getClassName", "()Ljava/lang/String;");
        jobject name = env->CallObjectMethod(inst, className);
        noException();
        std::string out = str(name) + ":";
        jclass vc = env->GetObjectClass(props);
        const jint n = env->CallIntMethod(props, env->GetMethodID(vc, "size", "()I"));
        noException();
        for (jint k = 0; k < n; ++k) {
            jobject p = env->CallObjectMethod(props, env->GetMethodID(vc, "get", "(I)Ljava/lang/Object;"), k);
            noException();
            jclass pc = env->GetObjectClass(p);
            const bool key = env->CallBooleanMethod(p, env->GetMethodID(pc, "isKey", "()Z")) == JNI_TRUE;
            noException();
            jobject propertyName =
                env->CallObjectMethod(p, env->GetMethodID(pc, "getName", "()Ljava/lang/String;"));
            noException();
            out += " " + str(propertyName) + (key ? "*" : "");
        }
        noException();
        return out;
    }

    static Pegasus::CIMInstance indication(const char* className)
    {
        Pegasus::CIMInstance inst{Pegasus::CIMName(className)};
        inst.addProperty(
            Pegasus::CIMProperty(Pegasus::CIMName("Label"), Pegasus::CIMValue(Pegasus::String("l"))));
        inst.addProperty(
            Pegasus::CIMProperty(Pegasus::CIMName("Count"), Pegasus::CIMValue(Pegasus::Uint32(5))));
        inst.addProperty(
            Pegasus::CIMProperty(Pegasus::CIMName("Name"), Pegasus::CIMValue(Pegasus::String("n"))));
        return inst;
    }

    jint handle = 0;
    jobject target = nullptr;
};

TEST_F(Indications, ForwardedKeysFirstWithTheMethodLookedUpOnce)
{
    WbemIndicationConsumer consumer(orvtest::Vm(), target, handle, kPath);
    EXPECT_EQ(deliver(consumer, indication("Test_Base")), "");
    ASSERT_EQ(count(), 1);
    EXPECT_EQ(propertiesOf(0), "Test_Base: Name* Count Label");
    const jmethodID first = consumer.m_forwardIndicationID;
    EXPECT_NE(first, nullptr);

    // A key of the class that the instance does not carry (Name) is left out.
    Pegasus::CIMInstance child{Pegasus::CIMName("Test_Child")};
    child.addProperty(Pegasus::CIMProperty(Pegasus::CIMName("Flag"), Pegasus::CIMValue(true)));
    child.addProperty(Pegasus::CIMProperty(Pegasus::CIMName("Id"), Pegasus::CIMValue(Pegasus::Uint32(1))));
    EXPECT_EQ(deliver(consumer, child), "");
    ASSERT_EQ(count(), 2);
    EXPECT_EQ(propertiesOf(1), "Test_Child: Id* Flag");
    EXPECT_EQ(consumer.m_forwardIndicationID, first);
}

TEST_F(Indications, DroppedWhenTheServerHasNoClassOrTheHandleIsGone)
{
    WbemIndicationConsumer consumer(orvtest::Vm(), target, handle, kPath);
    const std::string error = deliver(consumer, indication("No_Such_Class"));
    EXPECT_NE(error.find("No_Such_Class"), std::string::npos) << error;
    EXPECT_EQ(count(), 0);

    WbemIndicationConsumer orphan(orvtest::Vm(), target, handle + 100, kPath);
    EXPECT_EQ(deliver(orphan, indication("Test_Base")), "");
    EXPECT_EQ(count(), 0);

    // Sent to another path (a listener that delivers whatever reaches it).
    for (const char* forged :
         {"", "/bridge", "/00112233445566778899aabbccddeefe", "/00112233445566778899aabbccddee"})
        EXPECT_EQ(deliver(consumer, indication("Test_Base"), forged), "") << forged;
    EXPECT_EQ(count(), 0);
}

TEST_F(Indications, AnExceptionOfTheTargetIsClearedAndDeliveryGoesOn)
{
    env->CallVoidMethod(target, env->GetMethodID(env->GetObjectClass(target), "refuseNext", "()V"));
    noException();
    WbemIndicationConsumer consumer(orvtest::Vm(), target, handle, kPath);
    EXPECT_EQ(deliver(consumer, indication("Test_Base")), "");
    EXPECT_EQ(deliver(consumer, indication("Test_Base")), "");
    EXPECT_EQ(count(), 2);
}

// What a listener thread looks like to the JVM after an indication.
struct ThreadState {
    bool attached = false;
    bool daemon = false;
};

ThreadState stateOfThisThread(JavaVM* jvm)
{
    ThreadState state;
    JNIEnv* env = nullptr;
    state.attached = jvm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) == JNI_OK;
    if (state.attached) {
        jclass threadClass = env->FindClass("java/lang/Thread");
        jobject self = env->CallStaticObjectMethod(
            threadClass, env->GetStaticMethodID(threadClass, "currentThread", "()Ljava/lang/Thread;"));
        env->ExceptionClear();
        state.daemon =
            env->CallBooleanMethod(self, env->GetMethodID(threadClass, "isDaemon", "()Z")) == JNI_TRUE;
        env->ExceptionClear();
        env->DeleteLocalRef(self);
        env->DeleteLocalRef(threadClass);
    }
    return state;
}

TEST_F(Indications, AListenerThreadStaysAttachedAsADaemonForItsLife)
{
    WbemIndicationConsumer consumer(orvtest::Vm(), target, handle, kPath);
    ThreadState after;
    std::thread listenerThread([&] {
        consumer.consumeIndication(Pegasus::OperationContext(), Pegasus::String(kPath),
                                   indication("Test_Base"));
        consumer.consumeIndication(Pegasus::OperationContext(), Pegasus::String(kPath),
                                   indication("Test_Base"));
        after = stateOfThisThread(orvtest::Vm());
    });
    listenerThread.join();  // detached as it ends
    EXPECT_EQ(count(), 2);
    EXPECT_TRUE(after.attached);
    EXPECT_TRUE(after.daemon);
}

TEST_F(Indications, AThreadItsOwnerAttachedIsNeverDetachedHere)
{
    WbemIndicationConsumer consumer(orvtest::Vm(), target, handle, kPath);
    ThreadState after;
    std::thread ownedThread([&] {
        JNIEnv* own = nullptr;
        if (orvtest::Vm()->AttachCurrentThread(reinterpret_cast<void**>(&own), nullptr) != JNI_OK) return;
        consumer.consumeIndication(Pegasus::OperationContext(), Pegasus::String(kPath),
                                   indication("Test_Base"));
        after = stateOfThisThread(orvtest::Vm());
        orvtest::Vm()->DetachCurrentThread();
    });
    ownedThread.join();
    EXPECT_EQ(count(), 1);
    EXPECT_TRUE(after.attached) << "the owner's attachment was taken away";
    EXPECT_FALSE(after.daemon);
}

TEST_F(Indications, TheIndicationClassNativesDoNothing)
{
    jstring name = jstr("CIM_InstCreation");
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_addLifecycleIndicationClass(env, nullptr, handle, name), 0);
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_addExtrinsicIndicationClass(env, nullptr, -1, nullptr), 0);
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_removeIndicationClass(env, nullptr, handle, name), 0);
}

TEST_F(Indications, ACreationTravelsFromASubscriptionToTheJavaTarget)
{
    Pegasus::CIMClient client;
    const jint interop = subscribeTarget(client);
    ASSERT_GT(interop, 0);

    Pegasus::CIMInstance inst("Test_Base");
    inst.addProperty(Pegasus::CIMProperty("Name", Pegasus::String("from-the-bridge-test")));
    client.createInstance(Pegasus::CIMNamespaceName("root/test"), inst);

    // Another user on the machine, guessing at the listener's paths.
    for (const char* guess : {"/", "/bridge", "/00112233445566778899aabbccddeeff"})
        EXPECT_EQ(orvtest::sendIndication(port_, orvtest::indicationExport("Test_Base", 1, 0, guess)), 404);

    awaitCount(1);
    ASSERT_EQ(count(), 1) << LastErrorOfThisThread();
    // CIM_InstCreation has no keys: its properties come in byte order.
    EXPECT_EQ(propertiesOf(0),
              "CIM_InstCreation: IndicationFilterName IndicationIdentifier IndicationTime SourceInstance "
              "SourceInstanceModelPath");
    client.deleteInstance(Pegasus::CIMNamespaceName("root/interop"), subscription_);
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, interop), 0);
}

TEST_F(Indications, ABurstIntoASlowTargetLosesNothing)
{
    // The target takes about a millisecond an indication, far slower than one
    // client creates: the listener's queue fills and stays full.
    env->CallVoidMethod(target, env->GetMethodID(env->GetObjectClass(target), "setDelayMicros", "(J)V"),
                        static_cast<jlong>(1000));
    noException();
    Pegasus::CIMClient client;
    const jint interop = subscribeTarget(client);
    ASSERT_GT(interop, 0);
    // About twice the listener's queue (1,024): enough to fill it and keep it full.
    constexpr jint kBurst = 2048;
    const Pegasus::CIMNamespaceName test("root/test");
    for (jint i = 0; i < kBurst; ++i) {
        Pegasus::CIMInstance inst("Test_Base");
        inst.addProperty(
            Pegasus::CIMProperty("Name", Pegasus::String(("burst-" + std::to_string(i)).c_str())));
        client.createInstance(test, inst);
    }
    awaitCount(kBurst);
    EXPECT_EQ(count(), kBurst);
    client.deleteInstance(Pegasus::CIMNamespaceName("root/interop"), subscription_);
    EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, interop), 0);
}

}  // namespace
