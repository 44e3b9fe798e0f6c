#include "debugmsg.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

extern "C" {
int CIM_DEBUG_ENABLED = 0;
}

namespace {

constexpr std::size_t kTimeBufferSize = 80;
constexpr const char* kTraceFileName = "brevincimtrc.log";

// The trace file's path, fixed by the first entry written to the file.  A
// function-local static is built once even when two threads race to it; it
// is never destroyed, since a listener thread may trace while the process exits.
const std::string& cim_log_dir()
{
    static const std::string& path = *new std::string([] {
        const char* home = std::getenv("ORV_HOME");
        if (home == nullptr) {
            return std::string("./") + kTraceFileName;
        }
        return std::string(home) + "/orvlogs/" + kTraceFileName;
    }());
    return path;
}

}  // namespace

void debugmsg(const char* format, ...)
{
    const int mode = traceMode();  // read once: toggling takes no lock
    if (mode == 0) {
        return;
    }
    char stamp[kTimeBufferSize] = "";
    std::time_t now = std::time(nullptr);
    std::tm local{};
    if (localtime_r(&now, &local) != nullptr) {
        std::strftime(stamp, sizeof stamp, "%m-%d-%y %H:%M:%S", &local);
    }

    std::FILE* stream = stderr;
    if (mode == 1) {
        stream = std::fopen(cim_log_dir().c_str(), "a+");
        if (stream == nullptr) {
            return;  // no place for the trace: the entry is dropped
        }
    }
    std::fprintf(stream, "%s: ", stamp);
    va_list args;
    va_start(args, format);
    std::vfprintf(stream, format, args);
    va_end(args);
    std::fflush(stream);
    if (mode == 1) {
        std::fclose(stream);
    }
}
