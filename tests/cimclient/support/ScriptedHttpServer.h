// A tiny real HTTP server for the client tests: listens on a Unix domain
// socket or a loopback TCP port, reads HTTP/1.1 requests (sized bodies) on
// persistent connections and answers each with bytes a test scripts.
#ifndef ORV_TESTS_SCRIPTEDHTTPSERVER_H
#define ORV_TESTS_SCRIPTEDHTTPSERVER_H

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
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

    static std::unique_ptr<ScriptedHttpServer> onUnixSocket(const std::string& path, Handler h)
    {
        int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) throw std::runtime_error("socket");
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        if (path.size() >= sizeof addr.sun_path) throw std::runtime_error("socket path too long");
        std::strcpy(addr.sun_path, path.c_str());
        ::unlink(path.c_str());
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
            ::close(fd);
            throw std::runtime_error("bind/listen on " + path);
        }
        return std::unique_ptr<ScriptedHttpServer>(new ScriptedHttpServer(fd, path, 0, std::move(h)));
    }

    static std::unique_ptr<ScriptedHttpServer> onLoopbackTcp(Handler h)
    {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) throw std::runtime_error("socket");
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        socklen_t len = sizeof addr;
        if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
            ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
            ::close(fd);
            throw std::runtime_error("bind/listen on loopback");
        }
        return std::unique_ptr<ScriptedHttpServer>(
            new ScriptedHttpServer(fd, "", ntohs(addr.sin_port), std::move(h)));
    }

    ~ScriptedHttpServer()
    {
        stopping_ = true;
        ::shutdown(listenFd_, SHUT_RDWR);
        if (acceptThread_.joinable()) acceptThread_.join();
        for (auto& t : workers_) {
            if (t.joinable()) t.join();
        }
        ::close(listenFd_);
        if (!path_.empty()) ::unlink(path_.c_str());
    }

    unsigned port() const { return port_; }
    std::vector<ReceivedRequest> requests() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return requests_;
    }
    int connections() const { return connections_.load(); }

private:
    ScriptedHttpServer(int fd, std::string path, unsigned port, Handler h)
        : listenFd_(fd), path_(std::move(path)), port_(port), handler_(std::move(h))
    {
        acceptThread_ = std::thread([this] { acceptLoop(); });
    }

    void acceptLoop()
    {
        while (!stopping_) {
            pollfd p{listenFd_, POLLIN, 0};
            int n = ::poll(&p, 1, 100);
            if (n <= 0) continue;
            int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            int id = ++connections_;
            std::lock_guard<std::mutex> lock(mutex_);
            workers_.emplace_back([this, c, id] { serve(c, id); });
        }
    }

    // Reads with a short poll so that the destructor never waits long.
    bool readSome(int fd, std::string& buf)
    {
        while (!stopping_) {
            pollfd p{fd, POLLIN, 0};
            int n = ::poll(&p, 1, 100);
            if (n < 0) return false;
            if (n == 0) continue;
            char tmp[65536];
            ssize_t r = ::read(fd, tmp, sizeof tmp);
            if (r <= 0) return false;
            buf.append(tmp, static_cast<std::size_t>(r));
            return true;
        }
        return false;
    }

    static void writeAll(int fd, const std::string& data)
    {
        std::size_t off = 0;
        while (off < data.size()) {
            ssize_t w = ::send(fd, data.data() + off, data.size() - off, MSG_NOSIGNAL);
            if (w <= 0) return;
            off += static_cast<std::size_t>(w);
        }
    }

    void serve(int fd, int id)
    {
        std::string buf;
        for (;;) {
            std::size_t end;
            while ((end = buf.find("\r\n\r\n")) == std::string::npos) {
                if (!readSome(fd, buf)) {
                    ::close(fd);
                    return;
                }
            }
            ReceivedRequest req;
            req.connection = id;
            std::string head = buf.substr(0, end);
            buf.erase(0, end + 4);
            std::size_t lineEnd = head.find("\r\n");
            req.requestLine = head.substr(0, lineEnd);
            std::size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
            while (pos < head.size()) {
                std::size_t e = head.find("\r\n", pos);
                if (e == std::string::npos) e = head.size();
                std::string line = head.substr(pos, e - pos);
                std::size_t colon = line.find(':');
                if (colon != std::string::npos) {
                    std::string name = line.substr(0, colon);
                    for (auto& ch : name)
                        ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
                    std::string value = line.substr(colon + 1);
                    while (!value.empty() && value[0] == ' ') value.erase(0, 1);
                    req.headers[name] = value;
                }
                pos = e + 2;
            }
            std::size_t length = std::strtoul(req.header("content-length").c_str(), nullptr, 10);
            while (buf.size() < length) {
                if (!readSome(fd, buf)) {
                    ::close(fd);
                    return;
                }
            }
            req.body = buf.substr(0, length);
            buf.erase(0, length);
            {
                std::lock_guard<std::mutex> lock(mutex_);
                requests_.push_back(req);
            }
            Reply reply = handler_(req);
            auto until =
                std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.stallMilliseconds);
            while (!stopping_ && std::chrono::steady_clock::now() < until) {
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
            writeAll(fd, reply.raw);
            if (reply.close) {
                ::close(fd);
                return;
            }
        }
    }

    int listenFd_;
    std::string path_;
    unsigned port_;
    Handler handler_;
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
    TempDir()
    {
        char tmpl[] = "/tmp/cimclient-test-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) throw std::runtime_error("mkdtemp");
        path_ = tmpl;
    }
    ~TempDir()
    {
        std::string cmd = "rm -rf '" + path_ + "'";
        int rc = std::system(cmd.c_str());
        (void)rc;
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

}  // namespace orvtest

#endif
