// A hand-made export listener on a free loopback port, for listeners that
// misbehave on purpose: each connection is served on a thread of its own by
// the test's function, which gets the socket and reads and writes what it likes.
#ifndef TESTS_MINICIMD_RAWLISTENER_H
#define TESTS_MINICIMD_RAWLISTENER_H

#include <atomic>
#include <functional>
#include <mutex>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace minicimd_test {

class RawListener {
public:
    using Serve = std::function<void(int fd, const std::atomic<bool>& stopping)>;

    explicit RawListener(Serve serve) : serve_(std::move(serve))
    {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa);
        listen(fd_, 64);
        socklen_t len = sizeof sa;
        getsockname(fd_, reinterpret_cast<sockaddr*>(&sa), &len);
        port_ = ntohs(sa.sin_port);
        acceptor_ = std::thread([this] { acceptLoop(); });
    }
    ~RawListener()
    {
        stopping_ = true;
        acceptor_.join();
        std::lock_guard<std::mutex> g(mu_);
        for (auto& t : served_) t.join();
        close(fd_);
    }
    RawListener(const RawListener&) = delete;
    RawListener& operator=(const RawListener&) = delete;

    int port() const { return port_; }
    int connections() const { return connections_; }

    // Reads one request's head and body (Content-Length only, as minicimd
    // sends); false when the peer closed or the listener stops.
    static bool readRequest(int fd, const std::atomic<bool>& stopping, std::string& buffered)
    {
        for (;;) {
            size_t head = buffered.find("\r\n\r\n");
            if (head != std::string::npos) {
                size_t lenAt = buffered.find("Content-Length: ");
                size_t length = lenAt < head ? std::stoul(buffered.substr(lenAt + 16)) : 0;
                if (buffered.size() >= head + 4 + length) {
                    buffered.erase(0, head + 4 + length);
                    return true;
                }
            }
            if (!waitReadable(fd, stopping)) return false;
            char chunk[65536];
            ssize_t n = recv(fd, chunk, sizeof chunk, 0);
            if (n <= 0) return false;
            buffered.append(chunk, static_cast<size_t>(n));
        }
    }

    static bool waitReadable(int fd, const std::atomic<bool>& stopping)
    {
        while (!stopping) {
            pollfd p{fd, POLLIN, 0};
            if (poll(&p, 1, 50) > 0) return true;
        }
        return false;
    }

    // A well-formed successful answer to an ExportIndication.
    static std::string exportAnswer()
    {
        std::string body =
            "<?xml version=\"1.0\" encoding=\"utf-8\"?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE "
            "ID=\"1\" "
            "PROTOCOLVERSION=\"1.0\"><SIMPLEEXPRSP><EXPMETHODRESPONSE "
            "NAME=\"ExportIndication\"/></SIMPLEEXPRSP>"
            "</MESSAGE></CIM>";
        return "HTTP/1.1 200 OK\r\nContent-Type: application/xml; charset=utf-8\r\nCIMExport: "
               "MethodResponse\r\n"
               "Content-Length: " +
               std::to_string(body.size()) + "\r\n\r\n" + body;
    }

private:
    void acceptLoop()
    {
        while (waitReadable(fd_, stopping_)) {
            int c = accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
            if (c < 0) continue;
            ++connections_;
            std::lock_guard<std::mutex> g(mu_);
            served_.emplace_back([this, c] {
                serve_(c, stopping_);
                close(c);
            });
        }
    }

    Serve serve_;
    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> connections_{0};
    std::thread acceptor_;
    std::mutex mu_;
    std::vector<std::thread> served_;
};

}  // namespace minicimd_test

#endif
