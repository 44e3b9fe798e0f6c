// Stand-in for the team's JVM test support (tests/support), used only while
// that is not in the tree: the same calls, one JVM per test binary.
#pragma once

#include <jni.h>

#include <string>

namespace orvtest {

int RunJvmTests(int argc, char** argv);
JavaVM* Vm();
JNIEnv* Env();

struct PendingException {
  bool pending = false;
  std::string className;
  std::string message;
};
PendingException TakeException(JNIEnv* env);

}  // namespace orvtest
