// The real minicimd as a child process on a temporary socket (and optionally a
// loopback port).  The destructor always stops it with SIGTERM and reaps it,
// and removes the temporary directory; the server also gets SIGTERM when the
// test process dies, so a killed test leaves no server behind.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace orvtest {

// What this build's tests run: the minicimd binary, its test schema (for
// root/test) and the DMTF schema subset.
std::string minicimdBinary();
std::string testSchema();
std::string dmtfDir();

class MinicimdProcess {
public:
    struct Options {
        std::string binary;                              // empty: this build's minicimd
        std::string nameSpace = "root/test";             // empty: none named, the server's default
        std::vector<std::string> mofs = {testSchema()};  // loaded into nameSpace
        bool tcp = false;
        bool localAuth = false;
        bool privateAuthDir = false;     // challenge files in the temporary directory
        bool dmtf = false;               // DMTF subset in root/cimv2
        std::vector<std::string> extra;  // more arguments
    };

    // Starts the server and waits until it listens; throws std::runtime_error
    // (with the server's log) when it does not.
    explicit MinicimdProcess(const Options& o);
    ~MinicimdProcess();
    MinicimdProcess(const MinicimdProcess&) = delete;
    MinicimdProcess& operator=(const MinicimdProcess&) = delete;

    std::vector<std::string> args() const;
    // Starts it again after stop(); nothing when it runs.
    void start();
    // SIGTERM, then wait; returns the wait status (or -1 when not running).
    int stop();

    pid_t pid() const { return pid_; }
    const std::string& socketPath() const { return socket_; }
    const std::string& dir() const { return dir_; }
    int port() const { return port_; }
    std::string logPath() const { return dir_ + "/minicimd.log"; }
    std::string readLog() const;

private:
    Options opts_;
    std::string dir_;
    std::string socket_;
    int port_ = -1;
    pid_t pid_ = -1;
};

}  // namespace orvtest
