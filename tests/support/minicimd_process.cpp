#include "minicimd_process.h"

#include "loopback.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <system_error>
#include <thread>

namespace orvtest {
namespace {

// Generous: the machine running the tests may be busy.
constexpr auto kStartLimit = std::chrono::seconds(60);
constexpr auto kStopLimit = std::chrono::seconds(60);
constexpr auto kStartPoll = std::chrono::milliseconds(20);
constexpr auto kStopPoll = std::chrono::milliseconds(10);

}  // namespace

std::string minicimdBinary()
{
#ifdef ORV_TEST_MINICIMD_BINARY
    return ORV_TEST_MINICIMD_BINARY;
#else
    return "minicimd";
#endif
}

std::string testSchema()
{
    return ORV_TEST_MINICIMD_SCHEMA;
}

std::string dmtfDir()
{
    return ORV_TEST_DMTF_DIR;
}

MinicimdProcess::MinicimdProcess(const Options& o) : opts_(o)
{
    char pattern[] = "/tmp/minicimd-testXXXXXX";
    if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    socket_ = dir_ + "/cimxml.socket";
    if (o.tcp) port_ = freeTcpPort();
    try {
        start();
    } catch (...) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
        throw;
    }
}

MinicimdProcess::~MinicimdProcess()
{
    stop();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
}

std::vector<std::string> MinicimdProcess::args() const
{
    std::vector<std::string> a = {opts_.binary.empty() ? minicimdBinary() : opts_.binary, "--socket",
                                  socket_};
    if (!opts_.nameSpace.empty()) {
        a.insert(a.end(), {"--namespace", opts_.nameSpace});
        for (const auto& mof : opts_.mofs) a.insert(a.end(), {"--mof", mof});
    }
    if (opts_.dmtf) a.insert(a.end(), {"--namespace", "root/cimv2", "--mof", dmtfDir()});
    if (opts_.tcp) a.insert(a.end(), {"--port", std::to_string(port_)});
    if (opts_.localAuth) a.push_back("--local-auth");
    if (opts_.privateAuthDir) a.insert(a.end(), {"--auth-dir", dir_});
    for (const auto& e : opts_.extra) a.push_back(e);
    return a;
}

void MinicimdProcess::start()
{
    if (pid_ > 0) return;
    std::vector<std::string> a = args();
    std::vector<char*> argv;
    for (auto& s : a) argv.push_back(s.data());
    argv.push_back(nullptr);
    const std::string log = logPath();
    const pid_t parent = ::getpid();
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (::prctl(PR_SET_PDEATHSIG, SIGTERM) != 0 || ::getppid() != parent) _exit(127);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd >= 0) ::dup2(fd, 2);
        ::execv(argv[0], argv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + kStartLimit;
    while (std::chrono::steady_clock::now() < deadline) {
        int status;
        if (::waitpid(pid_, &status, WNOHANG) == pid_) {
            pid_ = -1;
            throw std::runtime_error("minicimd exited at start: " + readLog());
        }
        if (canConnectUnix(socket_) && (!opts_.tcp || canConnectLoopback(port_))) return;
        std::this_thread::sleep_for(kStartPoll);
    }
    stop();
    throw std::runtime_error("minicimd did not start listening: " + readLog());
}

int MinicimdProcess::stop()
{
    if (pid_ <= 0) return -1;
    ::kill(pid_, SIGTERM);
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + kStopLimit;
    for (;;) {
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) break;
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            break;
        }
        std::this_thread::sleep_for(kStopPoll);
    }
    pid_ = -1;
    return status;
}

std::string MinicimdProcess::readLog() const
{
    std::ifstream in(logPath());
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

}  // namespace orvtest
