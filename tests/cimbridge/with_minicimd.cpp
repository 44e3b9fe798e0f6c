// with_minicimd: runs a test command against a real minicimd, then again after
// the server has gone.
//
//   with_minicimd --minicimd=PATH [--mof=FILE]... -- COMMAND [ARG...]
//
// Starts minicimd on a socket in a temporary folder (Local authentication on),
// which also holds an ORV_HOME with orvlogs/; runs COMMAND ARG... --with-server with
// CIM_LOCAL_SOCKET and ORV_HOME pointing into the folder; stops the server
// (SIGTERM, which also removes its socket) and checks that it exited cleanly;
// runs COMMAND ARG... --server-gone with the same environment; removes the
// folder.  Exits 0 only when the server ran and stopped cleanly and both runs
// succeeded.  The server and the command die with this process (parent-death
// signal), so a killed fixture leaves no server behind.
#include "minicimd_process.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr const char* kServerNamespace = "root/cimv2";

// Starts argv as a child that gets SIGKILL when this process ends.
pid_t spawn(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child != 0) return child;  // parent, or -1
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != parent) _exit(127);
    execv(argv[0], argv.data());
    std::fprintf(stderr, "with_minicimd: cannot run %s: %s\n", argv[0], std::strerror(errno));
    _exit(127);
}

// Waits for a child; gives its exit status, or 128 + signal number.
int waitFor(pid_t child)
{
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) return -1;
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
    return -1;
}

bool exists(const std::string& path)
{
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

int usage()
{
    std::fprintf(stderr, "usage: with_minicimd --minicimd=PATH [--mof=FILE]... -- COMMAND [ARG...]\n");
    return 2;
}

int run(const std::string& minicimd, const std::vector<std::string>& mofs,
        const std::vector<std::string>& command)
{
    // Challenge files stay in the server's default folder: the client accepts
    // them only directly inside one of the system's local authentication folders.
    orvtest::MinicimdProcess::Options options;
    options.binary = minicimd;
    options.nameSpace = kServerNamespace;
    options.mofs = mofs;
    options.localAuth = true;
    std::unique_ptr<orvtest::MinicimdProcess> server;
    try {
        server = std::make_unique<orvtest::MinicimdProcess>(options);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "with_minicimd: %s\n", e.what());
        return 2;
    }
    const std::string socket = server->socketPath();
    const std::string home = server->dir() + "/orv";
    if (mkdir(home.c_str(), 0700) != 0 || mkdir((home + "/orvlogs").c_str(), 0700) != 0) {
        std::fprintf(stderr, "with_minicimd: cannot make %s/orvlogs\n", home.c_str());
        return 2;
    }

    setenv("CIM_LOCAL_SOCKET", socket.c_str(), 1);
    setenv("ORV_HOME", home.c_str(), 1);

    std::vector<std::string> withServer = command;
    withServer.push_back("--with-server");
    std::fprintf(stderr, "with_minicimd: running against minicimd on %s\n", socket.c_str());
    std::fflush(stderr);
    const pid_t first = spawn(withServer);
    const int firstStatus = first < 0 ? -1 : waitFor(first);

    const int stopped = server->stop();
    const int serverStatus = WIFEXITED(stopped) ? WEXITSTATUS(stopped) : 128 + WTERMSIG(stopped);
    if (serverStatus != 0) {
        std::fprintf(stderr, "with_minicimd: minicimd ended with status %d:\n%s\n", serverStatus,
                     server->readLog().c_str());
    }
    if (exists(socket)) {
        std::fprintf(stderr, "with_minicimd: minicimd left its socket behind\n");
        unlink(socket.c_str());
    }

    std::vector<std::string> gone = command;
    gone.push_back("--server-gone");
    std::fprintf(stderr, "with_minicimd: running after minicimd has stopped\n");
    std::fflush(stderr);
    const pid_t second = spawn(gone);
    const int secondStatus = second < 0 ? -1 : waitFor(second);

    if (firstStatus != 0)
        std::fprintf(stderr, "with_minicimd: the run with the server failed (%d)\n", firstStatus);
    if (secondStatus != 0)
        std::fprintf(stderr, "with_minicimd: the run without it failed (%d)\n", secondStatus);
    return firstStatus == 0 && secondStatus == 0 && serverStatus == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string minicimd;
    std::vector<std::string> mofs;
    std::vector<std::string> command;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--") {
            ++i;
            break;
        }
        if (a.rfind("--minicimd=", 0) == 0) {
            minicimd = a.substr(std::strlen("--minicimd="));
        } else if (a.rfind("--mof=", 0) == 0) {
            mofs.push_back(a.substr(std::strlen("--mof=")));
        } else {
            return usage();
        }
    }
    for (; i < argc; ++i) command.push_back(argv[i]);
    if (minicimd.empty() || command.empty()) return usage();

    return run(minicimd, mofs, command);
}
