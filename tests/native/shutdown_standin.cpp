// Stand-in for the shutdown program in the sysactions tests and benchmark.  It does nothing but
// record how it was started: into "record.<pid>" in its own directory it writes its argument
// vector, where its three standard streams point and which descriptors it was started with.
#include <dirent.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "shutdown_standin_marker.h"

namespace {

// Descriptors below this are listed in order; any above follow as found.
constexpr int kMaxListedFd = 1024;

std::string ReadLink(const char* path)
{
    char buffer[PATH_MAX];
    const ssize_t n = readlink(path, buffer, sizeof buffer - 1);
    if (n < 0) return std::string("<unreadable: errno ") + std::to_string(errno) + ">";
    return std::string(buffer, static_cast<size_t>(n));
}

// The open descriptors, ascending and comma-separated, without the one that lists them.
std::string OpenDescriptors()
{
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return "<unreadable: errno " + std::to_string(errno) + ">";
    std::string list;
    bool seen[kMaxListedFd] = {};
    std::string beyond;
    while (const dirent* e = readdir(dir)) {
        if (e->d_name[0] == '.') continue;
        const int fd = std::atoi(e->d_name);
        if (fd == dirfd(dir)) continue;
        if (fd >= 0 && fd < kMaxListedFd)
            seen[fd] = true;
        else
            beyond += "," + std::to_string(fd);
    }
    closedir(dir);
    for (int fd = 0; fd < kMaxListedFd; ++fd)
        if (seen[fd]) list += (list.empty() ? "" : ",") + std::to_string(fd);
    return list + beyond;
}

}  // namespace

int main(int argc, char** argv)
{
    const std::string self = ReadLink("/proc/self/exe");
    const std::string dir = self.substr(0, self.rfind('/'));
    const std::string pid = std::to_string(getpid());

    std::string text = std::string("marker=") + orvtest::kStandInMarker + "\n";
    text += "exe=" + self + "\n";
    text += "argc=" + std::to_string(argc) + "\n";
    for (int i = 0; i < argc; ++i) text += "argv=" + std::string(argv[i]) + "\n";
    text += "fd0=" + ReadLink("/proc/self/fd/0") + "\n";
    text += "fd1=" + ReadLink("/proc/self/fd/1") + "\n";
    text += "fd2=" + ReadLink("/proc/self/fd/2") + "\n";
    text += "fds=" + OpenDescriptors() + "\n";

    // Written under a temporary name and renamed, so a reader never sees half a record.
    const std::string partial = dir + "/.record." + pid;
    const std::string record = dir + "/record." + pid;
    FILE* f = std::fopen(partial.c_str(), "w");
    if (f == nullptr) return 2;
    const bool written = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    if (std::fclose(f) != 0 || !written) return 3;
    if (std::rename(partial.c_str(), record.c_str()) != 0) return 4;
    return 0;
}
