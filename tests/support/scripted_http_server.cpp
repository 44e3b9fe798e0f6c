#include "scripted_http_server.h"

#include "loopback.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <system_error>

namespace orvtest {
namespace {

// How often a waiting server thread looks at the stop flag.
constexpr int kStopPollMs = 50;
constexpr size_t kReadChunk = 65536;

// Parses a request head (without its blank line) into *request.
void parseHead(const std::string& head, ReceivedRequest* request)
{
    const size_t lineEnd = head.find("\r\n");
    request->requestLine = head.substr(0, lineEnd);
    size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
    while (pos < head.size()) {
        size_t e = head.find("\r\n", pos);
        if (e == std::string::npos) e = head.size();
        const std::string line = head.substr(pos, e - pos);
        const size_t colon = line.find(':');
        if (colon != std::string::npos) {
            std::string name = line.substr(0, colon);
            for (auto& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
            std::string value = line.substr(colon + 1);
            while (!value.empty() && value[0] == ' ') value.erase(0, 1);
            request->headers[name] = value;
        }
        pos = e + 2;
    }
}

}  // namespace

std::unique_ptr<ScriptedHttpServer> ScriptedHttpServer::onUnixSocket(const std::string& path, Handler h)
{
    std::unique_ptr<ScriptedHttpServer> s(new ScriptedHttpServer(listenUnix(path), path, 0));
    ScriptedHttpServer* self = s.get();
    s->start([self, h](int fd, int connection) { self->answer(fd, connection, h); });
    return s;
}

std::unique_ptr<ScriptedHttpServer> ScriptedHttpServer::onLoopbackTcp(Handler h)
{
    int port = 0;
    const int fd = listenLoopback(&port);
    std::unique_ptr<ScriptedHttpServer> s(new ScriptedHttpServer(fd, "", port));
    ScriptedHttpServer* self = s.get();
    s->start([self, h](int fd, int connection) { self->answer(fd, connection, h); });
    return s;
}

std::unique_ptr<ScriptedHttpServer> ScriptedHttpServer::servingLoopbackTcp(Serve serve)
{
    int port = 0;
    const int fd = listenLoopback(&port);
    std::unique_ptr<ScriptedHttpServer> s(new ScriptedHttpServer(fd, "", port));
    ScriptedHttpServer* self = s.get();
    s->start([self, serve](int fd, int) { serve(fd, self->stopping_); });
    return s;
}

ScriptedHttpServer::ScriptedHttpServer(int fd, std::string path, int port)
    : listenFd_(fd), path_(std::move(path)), port_(port)
{}

void ScriptedHttpServer::start(std::function<void(int fd, int connection)> serve)
{
    serve_ = std::move(serve);
    acceptThread_ = std::thread([this] { acceptLoop(); });
}

ScriptedHttpServer::~ScriptedHttpServer()
{
    stopping_ = true;
    ::shutdown(listenFd_, SHUT_RDWR);
    if (acceptThread_.joinable()) acceptThread_.join();
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (auto& t : workers_) t.join();
    }
    ::close(listenFd_);
    if (!path_.empty()) ::unlink(path_.c_str());
}

std::vector<ReceivedRequest> ScriptedHttpServer::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void ScriptedHttpServer::acceptLoop()
{
    while (waitReadable(listenFd_, stopping_)) {
        const int c = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (c < 0) continue;
        const int connection = ++connections_;
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back([this, c, connection] {
            serve_(c, connection);
            ::close(c);
        });
    }
}

void ScriptedHttpServer::answer(int fd, int connection, const Handler& handler)
{
    std::string buffered;
    ReceivedRequest request;
    while (readRequest(fd, stopping_, buffered, &request)) {
        request.connection = connection;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            requests_.push_back(request);
        }
        const Reply reply = handler(request);
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(reply.stallMilliseconds);
        while (!stopping_ && std::chrono::steady_clock::now() < until) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (!sendAll(fd, reply.raw) || reply.close) return;
    }
}

bool ScriptedHttpServer::readRequest(int fd, const std::atomic<bool>& stopping, std::string& buffered,
                                     ReceivedRequest* request)
{
    ReceivedRequest parsed;
    size_t headEnd;
    while ((headEnd = buffered.find("\r\n\r\n")) == std::string::npos) {
        if (!waitReadable(fd, stopping)) return false;
        char chunk[kReadChunk];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffered.append(chunk, static_cast<size_t>(n));
    }
    parseHead(buffered.substr(0, headEnd), &parsed);
    buffered.erase(0, headEnd + 4);
    const size_t length = std::strtoul(parsed.header("content-length").c_str(), nullptr, 10);
    while (buffered.size() < length) {
        if (!waitReadable(fd, stopping)) return false;
        char chunk[kReadChunk];
        const ssize_t n = ::recv(fd, chunk, sizeof chunk, 0);
        if (n <= 0) return false;
        buffered.append(chunk, static_cast<size_t>(n));
    }
    parsed.body = buffered.substr(0, length);
    buffered.erase(0, length);
    if (request != nullptr) *request = std::move(parsed);
    return true;
}

bool ScriptedHttpServer::waitReadable(int fd, const std::atomic<bool>& stopping)
{
    while (!stopping) {
        if (orvtest::waitReadable(fd, kStopPollMs)) return true;
    }
    return false;
}

TempDir::TempDir(const char* prefix)
{
    std::string pattern = std::string("/tmp/") + prefix + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp " + pattern);
    path_ = pattern;
}

TempDir::~TempDir()
{
    std::error_code ignored;  // a test that left something unremovable has said so already
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace orvtest
