// Fuzz target: the client's handling of a server's HTTP answer (status line,
// headers, chunked body, trailers, the CIM error headers), from the socket
// through libcurl to the CIM result, as CIMClient makes it.  The input is
// what a server on the local socket answers to every request; the first
// byte picks the operation.  Every failure must arrive as an exception of
// the client's own.
#include <Pegasus/Client/CIMClient.h>
#include <Pegasus/Common/Exception.h>

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

PEGASUS_USING_PEGASUS;

namespace {

// A server on a local socket that reads each request (headers and a sized
// body) and sends the current answer, then closes the connection.
class AnsweringServer {
public:
    AnsweringServer()
    {
        char tmpl[] = "/tmp/fuzz-client-http-XXXXXX";
        if (::mkdtemp(tmpl) == nullptr) std::abort();
        path_ = std::string(tmpl) + "/cimxml.socket";
        fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        std::strncpy(sa.sun_path, path_.c_str(), sizeof sa.sun_path - 1);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd_, 16) != 0)
            std::abort();
        std::thread([this] { serve(); }).detach();
    }
    const std::string& path() const { return path_; }
    void setAnswer(std::string a)
    {
        std::lock_guard<std::mutex> g(lock_);
        answer_ = std::move(a);
    }

private:
    void serve()
    {
        for (;;) {
            int c = ::accept(fd_, nullptr, nullptr);
            if (c < 0) continue;
            std::string got;
            char buf[8192];
            bool complete = false;
            while (!complete) {
                pollfd p{c, POLLIN, 0};
                if (::poll(&p, 1, 5000) <= 0) break;
                ssize_t r = ::recv(c, buf, sizeof buf, 0);
                if (r <= 0) break;
                got.append(buf, static_cast<std::size_t>(r));
                std::size_t end = got.find("\r\n\r\n");
                if (end == std::string::npos) continue;
                std::size_t len = 0;
                std::size_t at = got.find("Content-Length: ");
                if (at != std::string::npos && at < end)
                    len = std::strtoul(got.c_str() + at + 16, nullptr, 10);
                complete = got.size() >= end + 4 + len;
            }
            if (complete) {
                std::string a;
                {
                    std::lock_guard<std::mutex> g(lock_);
                    a = answer_;
                }
                std::size_t off = 0;
                while (off < a.size()) {
                    ssize_t w = ::send(c, a.data() + off, a.size() - off, MSG_NOSIGNAL);
                    if (w <= 0) break;
                    off += static_cast<std::size_t>(w);
                }
            }
            ::close(c);
        }
    }
    std::string path_;
    int fd_ = -1;
    std::mutex lock_;
    std::string answer_;
};

AnsweringServer& server()
{
    static AnsweringServer* s = [] {
        auto* made = new AnsweringServer();
        ::setenv("CIM_LOCAL_SOCKET", made->path().c_str(), 1);
        return made;
    }();
    return *s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    server().setAnswer(std::string(reinterpret_cast<const char*>(data) + 1, size - 1));
    CIMClient client;
    client.setTimeout(5000);
    const CIMNamespaceName ns("root/test");
    try {
        client.connectLocal();
        switch (data[0] % 4) {
            case 0:
                (void)client.getClass(ns, CIMName("Test_Base"));
                break;
            case 1:
                (void)client.enumerateInstanceNames(ns, CIMName("Test_Base"));
                break;
            case 2:
                (void)client.enumerateInstances(ns, CIMName("Test_Base"));
                break;
            default: {
                Array<CIMParamValue> in, out;
                (void)client.invokeMethod(ns, CIMObjectPath("Test_Base.Id=\"1\""), CIMName("DoIt"), in, out);
                break;
            }
        }
    } catch (const Exception&) {
        // CIMException, the HTTP error and connection classes: all reported as the client's own.
    }
    return 0;
}
