// with_minicimd: runs a test command against a real minicimd, then again after
// the server has gone.
//
//   with_minicimd --minicimd=PATH [--mof=FILE]... -- COMMAND [ARG...]
//
// Makes a temporary folder holding the server's Unix socket
// and an ORV_HOME with orvlogs/; starts minicimd there (Local authentication on)
// and waits for its socket; runs COMMAND ARG... --with-server with
// CIM_LOCAL_SOCKET and ORV_HOME pointing into the folder; stops the server
// (SIGTERM, which also removes its socket) and checks that it exited cleanly;
// runs COMMAND ARG... --server-gone with the same environment; removes the
// folder.  Exits 0 only when the server ran and stopped cleanly and both runs
// succeeded.  The server and the command die with this process (parent-death
// signal), so a killed fixture leaves no server behind.
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr auto kServerStartLimit = std::chrono::seconds(60);
constexpr auto kServerPoll = std::chrono::milliseconds(20);
constexpr const char* kSocketName = "cimxml.socket";
constexpr const char* kServerNamespace = "root/cimv2";

// Starts argv as a child that gets `deathSignal` when this process ends.
pid_t spawn(const std::vector<std::string>& args, int deathSignal)
{
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child != 0) return child;  // parent, or -1
    if (prctl(PR_SET_PDEATHSIG, deathSignal) != 0 || getppid() != parent) _exit(127);
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

// Removes a folder tree that this program made (no symbolic links are followed).
void removeTree(const std::string& path)
{
    if (DIR* dir = opendir(path.c_str())) {
        while (dirent* e = readdir(dir)) {
            const std::string name = e->d_name;
            if (name == "." || name == "..") continue;
            const std::string child = path + "/" + name;
            struct stat st;
            if (lstat(child.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
                removeTree(child);
            } else {
                unlink(child.c_str());
            }
        }
        closedir(dir);
    }
    if (rmdir(path.c_str()) != 0) std::fprintf(stderr, "with_minicimd: cannot remove %s\n", path.c_str());
}

int usage()
{
    std::fprintf(stderr, "usage: with_minicimd --minicimd=PATH [--mof=FILE]... -- COMMAND [ARG...]\n");
    return 2;
}

int run(const std::string& minicimd, const std::vector<std::string>& mofs,
        const std::vector<std::string>& command, const std::string& dir)
{
    const std::string socket = dir + "/" + kSocketName;
    const std::string home = dir + "/orv";
    if (mkdir(home.c_str(), 0700) != 0 || mkdir((home + "/orvlogs").c_str(), 0700) != 0) {
        std::fprintf(stderr, "with_minicimd: cannot make %s/orvlogs\n", home.c_str());
        return 2;
    }

    // Challenge files stay in the server's default folder: the client accepts
    // them only directly inside one of the system's local authentication folders.
    std::vector<std::string> serverArgs = {minicimd,       "--socket",    socket,
                                           "--local-auth", "--namespace", kServerNamespace};
    for (const std::string& mof : mofs) {
        serverArgs.push_back("--mof");
        serverArgs.push_back(mof);
    }
    const pid_t server = spawn(serverArgs, SIGTERM);
    if (server < 0) {
        std::fprintf(stderr, "with_minicimd: cannot start %s\n", minicimd.c_str());
        return 2;
    }
    const auto deadline = std::chrono::steady_clock::now() + kServerStartLimit;
    while (!exists(socket)) {
        int status = 0;
        if (waitpid(server, &status, WNOHANG) == server) {
            std::fprintf(stderr, "with_minicimd: minicimd ended before listening on %s\n", socket.c_str());
            return 2;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "with_minicimd: minicimd did not listen on %s in time\n", socket.c_str());
            kill(server, SIGKILL);
            waitFor(server);
            return 2;
        }
        std::this_thread::sleep_for(kServerPoll);
    }

    setenv("CIM_LOCAL_SOCKET", socket.c_str(), 1);
    setenv("ORV_HOME", home.c_str(), 1);

    std::vector<std::string> withServer = command;
    withServer.push_back("--with-server");
    std::fprintf(stderr, "with_minicimd: running against minicimd on %s\n", socket.c_str());
    std::fflush(stderr);
    const pid_t first = spawn(withServer, SIGKILL);
    const int firstStatus = first < 0 ? -1 : waitFor(first);

    kill(server, SIGTERM);
    const int serverStatus = waitFor(server);
    if (serverStatus != 0) {
        std::fprintf(stderr, "with_minicimd: minicimd ended with status %d\n", serverStatus);
    }
    if (exists(socket)) {
        std::fprintf(stderr, "with_minicimd: minicimd left its socket behind\n");
        unlink(socket.c_str());
    }

    std::vector<std::string> gone = command;
    gone.push_back("--server-gone");
    std::fprintf(stderr, "with_minicimd: running after minicimd has stopped\n");
    std::fflush(stderr);
    const pid_t second = spawn(gone, SIGKILL);
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

    char pattern[] = "/tmp/orv-bridge-java-XXXXXX";
    if (mkdtemp(pattern) == nullptr) {
        std::fprintf(stderr, "with_minicimd: cannot make a temporary folder: %s\n", std::strerror(errno));
        return 2;
    }
    const std::string dir = pattern;
    const int rc = run(minicimd, mofs, command, dir);
    removeTree(dir);
    return rc;
}
