// Indications end to end: minicimd (started before the JVM) delivers a
// CIM_InstCreation to the listener a bridge connection attached, and the
// connection's consumer forwards it to a Java object, keys first.
#include "../../cimbridge/orvcim.cpp"

#include "bridge_test_util.h"

#include <Pegasus/Client/CIMClient.h>

#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

using bridgetest::JvmTest;

namespace {

constexpr auto kServerStartLimit = std::chrono::seconds(60);
constexpr auto kDeliveryLimit = std::chrono::seconds(60);

pid_t g_server = -1;
std::string g_dir;

class Indications : public JvmTest {
protected:
  jint setup(const char* ns)
  {
    jclass c = env->FindClass("javax/wbem/cim/CIMNameSpace");
    jmethodID ctor = env->GetMethodID(c, "<init>", "(Ljava/lang/String;Ljava/lang/String;)V");
    jobject o = env->NewObject(c, ctor, jstr(""), jstr(ns));
    noException();
    return Java_javax_wbem_client_CIMImpl_setup(env, nullptr, o);
  }

  jint count(jobject target)
  {
    jclass c = env->GetObjectClass(target);
    jint n = env->CallIntMethod(target, env->GetMethodID(c, "count", "()I"));
    noException();
    return n;
  }

  std::string received(jobject target, jint i)
  {
    jclass c = env->GetObjectClass(target);
    auto s = static_cast<jstring>(env->CallObjectMethod(target, env->GetMethodID(c, "describe", "(I)Ljava/lang/String;"), i));
    noException();
    const char* chars = env->GetStringUTFChars(s, nullptr);
    std::string r = chars;
    env->ReleaseStringUTFChars(s, chars);
    return r;
  }
};

TEST_F(Indications, ACreationReachesTheJavaTargetKeysFirst)
{
  // The consumer looks the indication's class up in the connection's namespace.
  const jint handle = setup("root/interop");
  ASSERT_GT(handle, 0) << LastErrorOfThisThread();
  jclass targetClass = env->FindClass("IndicationTarget");
  noException();
  ASSERT_NE(targetClass, nullptr);
  jobject target = env->NewObject(targetClass, env->GetMethodID(targetClass, "<init>", "()V"));
  noException();
  ASSERT_TRUE(attachIndicationListener(env, handle, target, 0));
  Pegasus::Uint32 port = 0;
  {
    PegasusLockGuard lock;
    WbemServices* services = getServices(env, nullptr, handle);
    ASSERT_NE(services, nullptr);
    ASSERT_NE(services->m_listener, nullptr);
    port = services->m_listener->getPortNumber();
  }
  ASSERT_GT(port, 0u);

  Pegasus::CIMClient client;
  client.connectLocal();
  const Pegasus::CIMNamespaceName interop("root/interop");
  Pegasus::CIMInstance filter("CIM_IndicationFilter");
  filter.addProperty(Pegasus::CIMProperty("Name", Pegasus::String("bridge")));
  filter.addProperty(Pegasus::CIMProperty("Query", Pegasus::String("SELECT * FROM CIM_InstCreation")));
  filter.addProperty(Pegasus::CIMProperty("QueryLanguage", Pegasus::String("WQL")));
  Pegasus::CIMObjectPath f = client.createInstance(interop, filter);
  Pegasus::CIMInstance dest("CIM_ListenerDestinationCIMXML");
  dest.addProperty(Pegasus::CIMProperty("Name", Pegasus::String("bridge")));
  std::string url = "http://localhost:" + std::to_string(port) + "/bridge";
  dest.addProperty(Pegasus::CIMProperty("Destination", Pegasus::String(url.c_str())));
  Pegasus::CIMObjectPath h = client.createInstance(interop, dest);
  Pegasus::CIMInstance sub("CIM_IndicationSubscription");
  sub.addProperty(Pegasus::CIMProperty("Filter", Pegasus::CIMValue(f), 0, "CIM_IndicationFilter"));
  sub.addProperty(Pegasus::CIMProperty("Handler", Pegasus::CIMValue(h), 0, "CIM_ListenerDestination"));
  client.createInstance(interop, sub);

  Pegasus::CIMInstance inst("Test_Base");
  inst.addProperty(Pegasus::CIMProperty("Name", Pegasus::String("from-the-bridge-test")));
  client.createInstance(Pegasus::CIMNamespaceName("root/test"), inst);

  const auto deadline = std::chrono::steady_clock::now() + kDeliveryLimit;
  while (count(target) == 0 && std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  ASSERT_EQ(count(target), 1) << LastErrorOfThisThread();
  std::string got = received(target, 0);
  EXPECT_EQ(got.substr(0, got.find(' ')), "CIM_InstCreation");
  // CIM_InstCreation has no keys: its properties come in the class's order.
  EXPECT_NE(got.find("IndicationTime"), std::string::npos) << got;
  EXPECT_NE(got.find("SourceInstance"), std::string::npos) << got;
  EXPECT_EQ(Java_javax_wbem_client_CIMImpl_tearDown(env, nullptr, handle), 0);
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

// Usage: cimbridge_indications_e2e_test --minicimd=PATH --mof=TEST_SCHEMA [JVM and GoogleTest options]
int main(int argc, char** argv)
{
  std::string minicimd, mof;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--minicimd=", 0) == 0) minicimd = a.substr(11);
    else if (a.rfind("--mof=", 0) == 0) mof = a.substr(6);
    else rest.push_back(argv[i]);
  }
  if (minicimd.empty() || mof.empty()) {
    std::fprintf(stderr, "give --minicimd=PATH and --mof=TEST_SCHEMA\n");
    return 2;
  }
  char pattern[] = "/tmp/orv-bridge-indications-XXXXXX";
  if (mkdtemp(pattern) == nullptr) return 2;
  g_dir = pattern;
  const std::string socket = g_dir + "/cimxml.socket";
  // The server starts before the JVM, while this process is single-threaded.
  std::vector<std::string> args = {minicimd, "--socket", socket, "--namespace", "root/test", "--mof", mof};
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
