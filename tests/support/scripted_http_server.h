// A small real HTTP server for tests, on a Unix domain socket or a loopback
// port: an accept thread and a thread per connection.  Either each request
// (sized bodies, persistent connections) is answered with bytes the test
// scripts, or the test serves each connection itself from its socket, for
// peers that misbehave on purpose.
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvtest {

struct ReceivedRequest {
    std::string requestLine;
    std::map<std::string, std::string> headers;  // names lower-cased
    std::string body;
    int connection = 0;  // which accepted connection carried it (1-based)

    std::string header(const std::string& lowerName) const
    {
        auto it = headers.find(lowerName);
        return it == headers.end() ? std::string() : it->second;
    }
};

struct Reply {
    std::string raw;            // bytes written back as they are
    int stallMilliseconds = 0;  // wait this long before writing (and before closing)
    bool close = false;         // close the connection after writing
};

class ScriptedHttpServer {
public:
    using Handler = std::function<Reply(const ReceivedRequest&)>;
    // Serves one connection its own way; returns when done (the socket is then
    // closed) and soon after `stopping` turns true.
    using Serve = std::function<void(int fd, const std::atomic<bool>& stopping)>;

    static std::unique_ptr<ScriptedHttpServer> onUnixSocket(const std::string& path, Handler h);
    static std::unique_ptr<ScriptedHttpServer> onLoopbackTcp(Handler h);
    static std::unique_ptr<ScriptedHttpServer> servingLoopbackTcp(Serve serve);

    ~ScriptedHttpServer();
    ScriptedHttpServer(const ScriptedHttpServer&) = delete;
    ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

    int port() const { return port_; }
    int connections() const { return connections_.load(); }
    // What the scripted kind received (nothing for one serving its own way).
    std::vector<ReceivedRequest> requests() const;

    // Reads one request (its body sized by Content-Length) from `fd` into
    // *request, keeping what follows it in `buffered`; false when the peer
    // closed or the server stops.
    static bool readRequest(int fd, const std::atomic<bool>& stopping, std::string& buffered,
                            ReceivedRequest* request = nullptr);
    // Waits for input in short steps, so that a stop is seen; false once stopping.
    static bool waitReadable(int fd, const std::atomic<bool>& stopping);

private:
    ScriptedHttpServer(int fd, std::string path, int port);
    void start(std::function<void(int fd, int connection)> serve);
    void acceptLoop();
    void answer(int fd, int connection, const Handler& handler);

    int listenFd_;
    std::string path_;
    int port_;
    std::function<void(int fd, int connection)> serve_;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptThread_;
    mutable std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<ReceivedRequest> requests_;
};

// A fresh directory under /tmp, removed with everything in it at the end.
class TempDir {
public:
    explicit TempDir(const char* prefix = "orv-test");
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace orvtest
