// The real minicimd as a child process on a temporary socket (and optionally a
// loopback port).  The destructor always stops it with SIGTERM and reaps it,
// and removes the temporary directory.
#ifndef TESTS_MINICIMD_MINICIMDPROCESS_H
#define TESTS_MINICIMD_MINICIMDPROCESS_H

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <netinet/in.h>
#include <sstream>
#include <stdexcept>
#include <string>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace minicimd_test {

inline std::string testSchema()
{
    return MINICIMD_TEST_SCHEMA;
}
inline std::string dmtfDir()
{
    return ORV_DMTF_DIR;
}

// A port nobody listens on right now (the kernel picks it).
inline int freeTcpPort()
{
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
    socklen_t len = sizeof sa;
    getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len);
    close(fd);
    return ntohs(sa.sin_port);
}

inline bool canConnectUnix(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un sa{};
    sa.sun_family = AF_UNIX;
    strncpy(sa.sun_path, path.c_str(), sizeof sa.sun_path - 1);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

inline bool canConnectTcp(int port)
{
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bool ok = connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    close(fd);
    return ok;
}

class MinicimdProcess {
public:
    struct Options {
        bool tcp = false;
        bool localAuth = false;
        bool dmtf = false;               // DMTF subset in root/cimv2
        std::vector<std::string> extra;  // more arguments
    };

    explicit MinicimdProcess(const Options& o) : opts_(o)
    {
        char tmpl[] = "/tmp/minicimd-testXXXXXX";
        if (!mkdtemp(tmpl)) throw std::runtime_error("mkdtemp failed");
        dir_ = tmpl;
        socket_ = dir_ + "/cimxml.socket";
        if (o.tcp) port_ = freeTcpPort();
        start();
    }

    ~MinicimdProcess()
    {
        stop();
        std::string cmd = "rm -rf '" + dir_ + "'";
        int r = std::system(cmd.c_str());
        (void)r;
    }

    std::vector<std::string> args() const
    {
        std::vector<std::string> a = {MINICIMD_BINARY, "--socket", socket_,     "--namespace",
                                      "root/test",     "--mof",    testSchema()};
        if (opts_.dmtf) {
            a.insert(a.end(), {"--namespace", "root/cimv2", "--mof", dmtfDir()});
        }
        if (opts_.tcp) a.insert(a.end(), {"--port", std::to_string(port_)});
        if (opts_.localAuth) a.push_back("--local-auth");
        for (const auto& e : opts_.extra) a.push_back(e);
        return a;
    }

    void start()
    {
        if (pid_ > 0) return;
        std::vector<std::string> a = args();
        std::string log = logPath();
        pid_ = fork();
        if (pid_ == 0) {
            int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
            if (fd >= 0) dup2(fd, 2);
            std::vector<char*> argv;
            for (auto& s : a) argv.push_back(const_cast<char*>(s.c_str()));
            argv.push_back(nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (std::chrono::steady_clock::now() < deadline) {
            int status;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                throw std::runtime_error("minicimd exited at start: " + readLog());
            }
            if (canConnectUnix(socket_) && (!opts_.tcp || canConnectTcp(port_))) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        stop();
        throw std::runtime_error("minicimd did not start listening: " + readLog());
    }

    // SIGTERM, then wait; returns the exit status (or -1 when not running).
    int stop()
    {
        if (pid_ <= 0) return -1;
        kill(pid_, SIGTERM);
        int status = 0;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        for (;;) {
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) break;
            if (std::chrono::steady_clock::now() > deadline) {
                kill(pid_, SIGKILL);
                waitpid(pid_, &status, 0);
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return status;
    }

    pid_t pid() const { return pid_; }
    const std::string& socketPath() const { return socket_; }
    const std::string& dir() const { return dir_; }
    int port() const { return port_; }
    std::string logPath() const { return dir_ + "/minicimd.log"; }
    std::string readLog() const
    {
        std::ifstream in(logPath());
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }

private:
    Options opts_;
    std::string dir_;
    std::string socket_;
    int port_ = -1;
    pid_t pid_ = -1;
};

}  // namespace minicimd_test

#endif
