// The natives from many native threads attached to one JVM, against a real
// minicimd: each thread sets up its own connection, reads through it, tears
// it down and detaches.  Built under ThreadSanitizer (label tsan) to check the
// handle registry, the last errors, the operation lock and the client library.
#include "../../cimbridge/orvcim.cpp"

#include "MinicimdProcess.h"
#include "bridge_test_util.h"

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

using bridgetest::JvmTest;

namespace {

constexpr int kThreads = 4;
constexpr int kRounds = 5;

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
  if (orvtest::Vm()->AttachCurrentThread(reinterpret_cast<void**>(&e), nullptr) != JNI_OK) return "attach failed";
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
    jint rc = Java_javax_wbem_client_CIMImpl_enumerateInstanceNames(e, nullptr, handle, names,
                                                                   make(e, "javax/wbem/cim/CIMObjectPath", "Test_Base"));
    if (rc != kRcOk || size(e, names) == 0) {
      problem = "enumerateInstanceNames " + std::to_string(rc) + ": " + LastErrorOfThisThread();
    } else {
      jobject first = e->CallObjectMethod(names, e->GetMethodID(e->FindClass("java/util/Vector"), "get",
                                                                "(I)Ljava/lang/Object;"), 0);
      if (e->ExceptionCheck()) first = nullptr;
      rc = Java_javax_wbem_client_CIMImpl_getInstance(e, nullptr, handle, make(e, "javax/wbem/cim/CIMInstance"), first);
      if (rc != kRcOk) problem = "getInstance " + std::to_string(rc) + ": " + LastErrorOfThisThread();
    }
    jobject classes = make(e, "java/util/Vector");
    rc = Java_javax_wbem_client_CIMImpl_enumerateClassNames(e, nullptr, handle, classes,
                                                            make(e, "javax/wbem/cim/CIMObjectPath", ""), JNI_TRUE);
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

class Threads : public JvmTest {};

TEST_F(Threads, EachAttachedThreadReadsThroughItsOwnConnection)
{
  std::vector<std::string> problems(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) threads.emplace_back([i, &problems] { problems[static_cast<std::size_t>(i)] = work(); });
  for (auto& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) EXPECT_EQ(problems[static_cast<std::size_t>(i)], "") << "thread " << i;
  std::lock_guard<std::mutex> guard(g_wbemSvcLock);
  EXPECT_EQ(g_SvcMap.size(), 0u);
}

}  // namespace

int main(int argc, char** argv)
{
  // The server starts before the JVM, while this process is single-threaded.
  minicimd_test::MinicimdProcess::Options options;
  options.localAuth = true;
  minicimd_test::MinicimdProcess server(options);
  setenv("CIM_LOCAL_SOCKET", server.socketPath().c_str(), 1);
  return orvtest::RunJvmTests(argc, argv);
}
