#include "orv_jvm_test.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace orvtest {
namespace {
JavaVM* g_vm = nullptr;
JNIEnv* g_env = nullptr;

std::string callString(JNIEnv* env, jobject o, const char* cls, const char* m)
{
  jclass c = env->FindClass(cls);
  (void)env->ExceptionCheck();
  jmethodID id = env->GetMethodID(c, m, "()Ljava/lang/String;");
  (void)env->ExceptionCheck();
  auto s = static_cast<jstring>(env->CallObjectMethod(o, id));
  if (env->ExceptionCheck()) { env->ExceptionClear(); return ""; }
  if (s == nullptr) return "";
  const char* t = env->GetStringUTFChars(s, nullptr);
  std::string r(t);
  env->ReleaseStringUTFChars(s, t);
  return r;
}
}  // namespace

JavaVM* Vm() { return g_vm; }
JNIEnv* Env() { return g_env; }

PendingException TakeException(JNIEnv* env)
{
  PendingException p;
  jthrowable t = env->ExceptionOccurred();
  if (t == nullptr) return p;
  env->ExceptionClear();
  p.pending = true;
  jclass object = env->FindClass("java/lang/Object");
  (void)env->ExceptionCheck();
  jmethodID getClass = env->GetMethodID(object, "getClass", "()Ljava/lang/Class;");
  (void)env->ExceptionCheck();
  jobject cls = env->CallObjectMethod(t, getClass);
  (void)env->ExceptionCheck();
  p.className = callString(env, cls, "java/lang/Class", "getName");
  p.message = callString(env, t, "java/lang/Throwable", "getMessage");
  return p;
}

int RunJvmTests(int argc, char** argv)
{
  std::vector<std::string> texts;
  std::vector<char*> rest;
  for (int i = 0; i < argc; ++i) {
    if (std::strncmp(argv[i], "--orv-classpath=", 16) == 0) texts.push_back(std::string("-Djava.class.path=") + (argv[i] + 16));
    else if (std::strncmp(argv[i], "--orv-libpath=", 14) == 0) texts.push_back(std::string("-Djava.library.path=") + (argv[i] + 14));
    else if (std::strncmp(argv[i], "--orv-jvm-option=", 17) == 0) texts.push_back(argv[i] + 17);
    else rest.push_back(argv[i]);
  }
  int n = static_cast<int>(rest.size());
  ::testing::InitGoogleTest(&n, rest.data());
  std::vector<JavaVMOption> options(texts.size());
  for (size_t i = 0; i < texts.size(); ++i) {
    options[i].optionString = const_cast<char*>(texts[i].c_str());
    options[i].extraInfo = nullptr;
  }
  JavaVMInitArgs args{};
  args.version = JNI_VERSION_10;
  args.nOptions = static_cast<jint>(options.size());
  args.options = options.data();
  if (JNI_CreateJavaVM(&g_vm, reinterpret_cast<void**>(&g_env), &args) != JNI_OK) {
    std::fprintf(stderr, "cannot create the JVM\n");
    return 1;
  }
  return RUN_ALL_TESTS();
}

}  // namespace orvtest
