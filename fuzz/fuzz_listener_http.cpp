// Fuzz target: the export listener's handling of what libmicrohttpd hands it
// (method, path, headers, body), on a real listener over a real connection.
// Input: a flags byte, the method line, the path line, header lines, an empty
// line, then the body.  The framing (Content-Length or chunks of the sizes the
// flags pick) is added here so that the input reaches the listener's code
// rather than stopping in the HTTP parser.  Whatever comes in, the listener
// answers with one of its statuses (never 500) and goes on working.
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "CimXml/CimXml.h"
#include "listener_attacks.h"

PEGASUS_USING_PEGASUS;

namespace {

class IgnoringConsumer : public CIMIndicationConsumer {
public:
    void consumeIndication(const OperationContext&, const String&, const CIMInstance&) override {}
};

int listenerPort()
{
    static IgnoringConsumer consumer;
    static CIMListener* listener = [] {
        auto* l = new CIMListener(0);
        l->addConsumer(&consumer);
        l->start();
        return l;
    }();
    return static_cast<int>(listener->getPortNumber());
}

std::string nextLine(const std::string& in, std::size_t& pos)
{
    std::size_t eol = in.find('\n', pos);
    std::string line = in.substr(pos, eol == std::string::npos ? std::string::npos : eol - pos);
    pos = eol == std::string::npos ? in.size() : eol + 1;
    std::string clean;
    for (char c : line) {
        if (c != '\r' && c != '\0') clean += c;
    }
    return clean;
}

bool framingHeader(const std::string& line)
{
    std::size_t colon = line.find(':');
    std::string name = line.substr(0, colon);
    for (auto& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return name == "content-length" || name == "transfer-encoding" || name == "connection" ||
           name == "expect";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0) return 0;
    const unsigned flags = data[0];
    std::string in(reinterpret_cast<const char*>(data) + 1, size - 1);
    std::size_t pos = 0;
    std::string method = nextLine(in, pos);
    std::string path = nextLine(in, pos);
    if (method.empty() || method.find(' ') != std::string::npos) method = "POST";
    if (path.empty() || path[0] != '/' || path.find(' ') != std::string::npos) path = "/";
    std::string head = method + " " + path + " HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n";
    for (;;) {
        if (pos >= in.size()) break;
        std::string line = nextLine(in, pos);
        if (line.empty()) break;
        if (!framingHeader(line)) head += line + "\r\n";
    }
    std::string body = pos < in.size() ? in.substr(pos) : std::string();
    std::string request;
    if (flags & 1) {
        // Chunks of 1 to 16 bytes, as the flags choose.
        request = head + "Transfer-Encoding: chunked\r\n\r\n";
        std::size_t chunk = ((flags >> 1) & 15) + 1;
        char hex[16];
        for (std::size_t off = 0; off < body.size(); off += chunk) {
            std::string piece = body.substr(off, chunk);
            std::snprintf(hex, sizeof hex, "%zx\r\n", piece.size());
            request += hex + piece + "\r\n";
        }
        request += "0\r\n\r\n";
    } else {
        request = head + "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
    }

    int fd = orvtest::connectLoopback(listenerPort(), 10000);
    if (fd < 0) std::abort();
    std::string answer;
    if (orvtest::sendAll(fd, request.data(), request.size())) {
        char buf[8192];
        for (;;) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 20000) <= 0) break;
            ssize_t r = ::recv(fd, buf, sizeof buf, 0);
            if (r <= 0) break;
            answer.append(buf, static_cast<std::size_t>(r));
        }
    }
    ::close(fd);
    // No answer only when libmicrohttpd itself gave up on the request.
    if (answer.size() < 12) return 0;
    int status = std::atoi(answer.c_str() + 9);
    if (status == 500) std::abort();
    if (status == 200) {
        std::size_t start = answer.find("\r\n\r\n");
        if (start == std::string::npos) std::abort();
        try {
            (void)orv::cimxml::readExportResponse(answer.substr(start + 4));
        } catch (const orv::cimxml::XmlError&) {
            std::abort();  // our answers are always readable
        }
    }
    return 0;
}
