#include "loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <stdexcept>

namespace orvtest {
namespace {

sockaddr_in loopbackAddress(int port)
{
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_port = htons(static_cast<uint16_t>(port));
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sa;
}

// False when the path does not fit a socket address.
bool unixAddress(const std::string& path, sockaddr_un* sa)
{
    *sa = sockaddr_un{};
    sa->sun_family = AF_UNIX;
    if (path.size() >= sizeof sa->sun_path) return false;
    std::memcpy(sa->sun_path, path.c_str(), path.size() + 1);
    return true;
}

}  // namespace

int listenLoopback(int* port, int backlog)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    sockaddr_in sa = loopbackAddress(0);
    socklen_t len = sizeof sa;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&sa), &len) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::runtime_error("cannot listen on a loopback port: " + std::string(std::strerror(err)));
    }
    *port = ntohs(sa.sin_port);
    return fd;
}

int listenUnix(const std::string& path, int backlog)
{
    sockaddr_un sa;
    if (!unixAddress(path, &sa)) throw std::runtime_error("socket path too long: " + path);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) throw std::runtime_error("socket: " + std::string(std::strerror(errno)));
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, backlog) != 0) {
        const int err = errno;
        ::close(fd);
        throw std::runtime_error("cannot listen on " + path + ": " + std::strerror(err));
    }
    return fd;
}

int freeTcpPort()
{
    int port = 0;
    ::close(listenLoopback(&port, 1));
    return port;
}

int connectLoopback(int port, int timeoutMs)
{
    const bool bounded = timeoutMs > 0;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (bounded ? SOCK_NONBLOCK : 0), 0);
    if (fd < 0) return -1;
    const sockaddr_in sa = loopbackAddress(port);
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr*>(&sa), sizeof sa) == 0;
    if (!ok && bounded && errno == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        int err = 0;
        socklen_t len = sizeof err;
        ok = ::poll(&p, 1, timeoutMs) == 1 && ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len) == 0 &&
             err == 0;
    }
    if (ok && bounded) {
        ok = ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK) == 0;
        // A send into a connection the listener gave up on ends too.
        timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
        if (ok) ok = ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv) == 0;
    }
    if (ok) return fd;
    ::close(fd);
    return -1;
}

int connectUnix(const std::string& path)
{
    sockaddr_un sa;
    if (!unixAddress(path, &sa)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0) return fd;
    ::close(fd);
    return -1;
}

bool canConnectLoopback(int port)
{
    const int fd = connectLoopback(port, 0);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

bool canConnectUnix(const std::string& path)
{
    const int fd = connectUnix(path);
    if (fd >= 0) ::close(fd);
    return fd >= 0;
}

bool sendAll(int fd, const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

bool waitReadable(int fd, int timeoutMs)
{
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) > 0;
}

}  // namespace orvtest
