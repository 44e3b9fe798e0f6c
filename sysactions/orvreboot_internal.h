// The operation behind the sysactions natives, with the fixed part of its search list as a
// parameter.  The natives pass "/sbin:/usr/sbin:" and the process's PATH; tests pass their own
// directories, so that the search and the spawn can be exercised without ever reaching the
// system's shutdown program.  Not exported from libsysactions.so.
#pragma once

#include <jni.h>

namespace orv::sysactions {

// Searches fixedPrefix followed by pathValue (null counts as empty), split at ':', for the
// first "<element>/shutdown" that is a regular file executable by others, and starts it as
// "shutdown -r|-h -t <delay> now" with its standard streams on /dev/null.  Elements that do
// not start with '/' are skipped.  Returns the child's pid; 0 when nothing was found; -1 with
// a RuntimeException pending when the child could not be started.
jint SystemShutdownSearching(JNIEnv* env, const char* fixedPrefix, const char* pathValue, bool reboot,
                             jint delay);

}  // namespace orv::sysactions
