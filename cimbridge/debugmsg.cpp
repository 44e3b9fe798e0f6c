#include "debugmsg.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

extern "C" {
int CIM_DEBUG_ENABLED = 0;
}

namespace {

constexpr std::size_t kTimeBufferSize = 80;
constexpr std::size_t kEntryBufferSize = 1024;  // most entries fit; longer ones go to the heap
constexpr std::size_t kReasonBufferSize = 512;
constexpr const char* kTraceFileName = "brevincimtrc.log";
constexpr const char* kOldTraceSuffix = ".1";

// The trace file's path and the name it is moved to when full, fixed by the
// first entry written to the file.  A function-local static is built once even
// when two threads race to it; it is never destroyed, since a listener thread
// may trace while the process exits.
struct TracePaths {
    std::string current;
    std::string old;
};

const TracePaths& cim_log_dir()
{
    static const TracePaths& paths = *new TracePaths([] {
        const char* home = std::getenv("ORV_HOME");
        TracePaths made;
        made.current = home == nullptr ? std::string("./") + kTraceFileName
                                       : std::string(home) + "/orvlogs/" + kTraceFileName;
        made.old = made.current + kOldTraceSuffix;
        return made;
    }());
    return paths;
}

// Serialises writers of the file, so that two threads never both move a full
// file aside (the second would throw away the first one's fresh file), and
// holds the text of the last refusal reported.  A leaf lock: nothing else is
// taken while it is held.
pthread_mutex_t g_traceLock = PTHREAD_MUTEX_INITIALIZER;
char g_lastRefusal[kReasonBufferSize] = "";

class TraceLock {
public:
    TraceLock() { pthread_mutex_lock(&g_traceLock); }
    ~TraceLock() { pthread_mutex_unlock(&g_traceLock); }
    TraceLock(const TraceLock&) = delete;
    TraceLock& operator=(const TraceLock&) = delete;
};

// One entry, time stamp included, formatted before anything is opened so that
// it goes out in a single write (lines of concurrent writers never interleave)
// and its size is known when deciding whether the file must be moved aside.
class Entry {
public:
    Entry(const char* stamp, const char* format, va_list args)
    {
        const int prefix = std::snprintf(local_, sizeof local_, "%s: ", stamp);
        size_ = prefix > 0 ? static_cast<std::size_t>(prefix) : 0;
        va_list copy;
        va_copy(copy, args);
        const int body = std::vsnprintf(local_ + size_, sizeof local_ - size_, format, copy);
        va_end(copy);
        if (body < 0) {
            return;  // an encoding error: only the time stamp
        }
        const std::size_t length = static_cast<std::size_t>(body);
        if (length < sizeof local_ - size_) {
            size_ += length;
            return;
        }
        // malloc rather than new: no exception may come out of a trace entry.
        heap_ = static_cast<char*>(std::malloc(size_ + length + 1));
        if (heap_ == nullptr) {
            size_ = sizeof local_ - 1;  // short of memory: the entry cut short
            return;
        }
        std::memcpy(heap_, local_, size_);
        std::vsnprintf(heap_ + size_, length + 1, format, args);
        data_ = heap_;
        size_ += length;
    }
    ~Entry() { std::free(heap_); }
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

    const char* data() const { return data_; }
    std::size_t size() const { return size_; }

private:
    char local_[kEntryBufferSize] = "";
    char* heap_ = nullptr;
    const char* data_ = local_;
    std::size_t size_ = 0;
};

void toStandardError(const Entry& entry)
{
    std::fwrite(entry.data(), 1, entry.size(), stderr);
    std::fflush(stderr);
}

bool writeAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// Why a path cannot be opened for the trace, told from what sits there.
void describeOpenFailure(const char* path, int error, char* why, std::size_t room)
{
    struct stat st;
    if (lstat(path, &st) == 0 && S_ISLNK(st.st_mode)) {
        std::snprintf(why, room, "it is a symbolic link");
    } else if (lstat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        std::snprintf(why, room, "it is not a regular file");
    } else {
        std::snprintf(why, room, "cannot open it: %s", std::strerror(error));
    }
}

// Opens the trace file for appending, or returns -1 with the reason in why.
// The checks that matter are made on the descriptor, so that nothing swapped in
// between a check and the open is written to.  Only a plain file of this
// process's user with no other name is accepted: anyone able to write the
// directory could otherwise point the trace (written as root) at another file.
int openTraceFile(const char* path, struct stat& st, char* why, std::size_t room)
{
    // O_NONBLOCK: a FIFO planted under the name fails at once instead of
    // blocking the caller until someone reads it.  It changes nothing for a
    // regular file.
    const int fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK,
                        S_IRUSR | S_IWUSR);
    if (fd < 0) {
        describeOpenFailure(path, errno, why, room);
        return -1;
    }
    if (fstat(fd, &st) != 0) {
        std::snprintf(why, room, "cannot examine it: %s", std::strerror(errno));
    } else if (!S_ISREG(st.st_mode)) {
        std::snprintf(why, room, "it is not a regular file");
    } else if (st.st_uid != geteuid()) {
        std::snprintf(why, room, "it is owned by uid %lu, not by this process's user (uid %lu)",
                      static_cast<unsigned long>(st.st_uid), static_cast<unsigned long>(geteuid()));
    } else if (st.st_nlink != 1) {
        std::snprintf(why, room, "it has %lu links, not one", static_cast<unsigned long>(st.st_nlink));
    } else {
        return fd;
    }
    close(fd);
    return -1;
}

// The trace file ready for an entry of the given size: moved aside to the old
// name first when the entry would take it past its limit.
int traceFileFor(const TracePaths& paths, std::size_t entrySize, char* why, std::size_t room)
{
    struct stat st;
    int fd = openTraceFile(paths.current.c_str(), st, why, room);
    if (fd < 0 || st.st_size == 0 ||
        static_cast<unsigned long long>(st.st_size) + entrySize <=
            static_cast<unsigned long long>(kTraceFileLimit)) {
        return fd;
    }
    close(fd);
    if (rename(paths.current.c_str(), paths.old.c_str()) != 0) {
        // Appending regardless would let the file grow without bound.
        std::snprintf(why, room, "it is full and cannot be moved to %s: %s", paths.old.c_str(),
                      std::strerror(errno));
        return -1;
    }
    return openTraceFile(paths.current.c_str(), st, why, room);
}

// Says once why the file is not written to (again when the reason changes, or
// after the file has been written to in between).  Called with the lock held.
void reportRefusal(const char* path, const char* why)
{
    if (std::strcmp(g_lastRefusal, why) == 0) {
        return;
    }
    std::snprintf(g_lastRefusal, sizeof g_lastRefusal, "%s", why);
    std::fprintf(stderr, "CIM trace: not writing to %s: %s; tracing to standard error instead\n", path, why);
    std::fflush(stderr);
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
    va_list args;
    va_start(args, format);
    const Entry entry(stamp, format, args);
    va_end(args);

    if (mode != 1) {
        toStandardError(entry);
        return;
    }
    const TracePaths& paths = cim_log_dir();
    TraceLock lock;
    char why[kReasonBufferSize] = "";
    const int fd = traceFileFor(paths, entry.size(), why, sizeof why);
    if (fd < 0) {
        reportRefusal(paths.current.c_str(), why);
        toStandardError(entry);  // the trace is not lost
        return;
    }
    g_lastRefusal[0] = '\0';
    writeAll(fd, entry.data(), entry.size());
    close(fd);
}
