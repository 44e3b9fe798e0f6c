// A deliberately dumb HTTP/1.1 client for talking to minicimd byte by byte:
// it sends exactly what a test writes (hostile requests included) and parses
// the answer itself (Content-Length or chunked, with trailers).
#pragma once

#include "loopback.h"

#include <map>
#include <stdexcept>
#include <string>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

namespace orvtest {

struct RawResponse {
    int status = 0;
    std::multimap<std::string, std::string> headers;  // lower-case names
    std::map<std::string, std::string> trailers;      // lower-case names
    std::string body;
    bool complete = false;
    std::string header(const std::string& n) const
    {
        auto it = headers.find(n);
        return it == headers.end() ? "" : it->second;
    }
};

class RawConnection {
public:
    static RawConnection unixSocket(const std::string& path)
    {
        RawConnection c;
        c.fd_ = connectUnix(path);
        if (c.fd_ < 0) throw std::runtime_error("connect " + path);
        return c;
    }
    static RawConnection tcp(int port)
    {
        RawConnection c;
        c.fd_ = connectLoopback(port, 0);
        if (c.fd_ < 0) throw std::runtime_error("connect tcp");
        return c;
    }
    RawConnection(RawConnection&& o) noexcept : fd_(o.fd_), buf_(std::move(o.buf_)) { o.fd_ = -1; }
    ~RawConnection()
    {
        if (fd_ >= 0) close(fd_);
    }

    bool send(const std::string& data) { return sendAll(fd_, data); }

    // Reads one response; gives up after `timeoutMs` of silence.
    RawResponse read(int timeoutMs = 60000)
    {
        RawResponse r;
        size_t headerEnd;
        while ((headerEnd = buf_.find("\r\n\r\n")) == std::string::npos)
            if (!fill(timeoutMs)) return r;
        std::string head = buf_.substr(0, headerEnd);
        buf_.erase(0, headerEnd + 4);
        size_t lineEnd = head.find("\r\n");
        std::string statusLine = head.substr(0, lineEnd);
        if (statusLine.size() < 12) return r;
        r.status = std::stoi(statusLine.substr(9, 3));
        size_t pos = lineEnd == std::string::npos ? head.size() : lineEnd + 2;
        while (pos < head.size()) {
            size_t e = head.find("\r\n", pos);
            if (e == std::string::npos) e = head.size();
            std::string line = head.substr(pos, e - pos);
            size_t colon = line.find(':');
            if (colon != std::string::npos) {
                std::string name = line.substr(0, colon);
                for (auto& ch : name) ch = static_cast<char>(tolower(ch));
                std::string value = line.substr(colon + 1);
                while (!value.empty() && value[0] == ' ') value.erase(0, 1);
                r.headers.insert({name, value});
            }
            pos = e + 2;
        }
        if (strcasecmp(r.header("transfer-encoding").c_str(), "chunked") == 0) {
            for (;;) {
                size_t e;
                while ((e = buf_.find("\r\n")) == std::string::npos)
                    if (!fill(timeoutMs)) return r;
                size_t size = std::stoul(buf_.substr(0, e), nullptr, 16);
                buf_.erase(0, e + 2);
                if (size == 0) break;
                while (buf_.size() < size + 2)
                    if (!fill(timeoutMs)) return r;
                r.body += buf_.substr(0, size);
                buf_.erase(0, size + 2);
            }
            for (;;) {
                size_t e;
                while ((e = buf_.find("\r\n")) == std::string::npos)
                    if (!fill(timeoutMs)) return r;
                std::string line = buf_.substr(0, e);
                buf_.erase(0, e + 2);
                if (line.empty()) break;
                size_t colon = line.find(':');
                std::string name = line.substr(0, colon);
                for (auto& ch : name) ch = static_cast<char>(tolower(ch));
                std::string value = colon == std::string::npos ? "" : line.substr(colon + 1);
                while (!value.empty() && value[0] == ' ') value.erase(0, 1);
                r.trailers[name] = value;
            }
        } else if (!r.header("content-length").empty()) {
            size_t len = std::stoul(r.header("content-length"));
            while (buf_.size() < len)
                if (!fill(timeoutMs)) return r;
            r.body = buf_.substr(0, len);
            buf_.erase(0, len);
        } else {
            while (fill(timeoutMs)) {
            }
            r.body = buf_;
            buf_.clear();
        }
        r.complete = true;
        return r;
    }

    // True when the server has closed its side (nothing more to read).
    bool closedByPeer(int timeoutMs = 60000)
    {
        while (fill(timeoutMs)) {
        }
        return true;
    }

private:
    RawConnection() = default;
    bool fill(int timeoutMs)
    {
        if (!waitReadable(fd_, timeoutMs)) return false;
        char tmp[65536];
        ssize_t n = recv(fd_, tmp, sizeof tmp, 0);
        if (n <= 0) return false;
        buf_.append(tmp, static_cast<size_t>(n));
        return true;
    }
    int fd_ = -1;
    std::string buf_;
};

// A CIM-XML POST with the usual headers around `body`.
inline std::string cimPost(const std::string& method, const std::string& body, bool trailers = true,
                           const std::string& extraHeaders = "")
{
    return "POST /cimom HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/xml; charset=utf-8\r\n"
           "CIMOperation: MethodCall\r\nCIMMethod: " +
           method + "\r\nCIMObject: root%2Ftest\r\n" + (trailers ? "TE: trailers\r\n" : "") + extraHeaders +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

inline std::string imethodCall(const std::string& method, const std::string& params,
                               const std::string& ns = "root/test")
{
    std::string nsXml;
    size_t i = 0;
    while (i <= ns.size()) {
        size_t s = ns.find('/', i);
        nsXml +=
            "<NAMESPACE NAME=\"" + ns.substr(i, s == std::string::npos ? std::string::npos : s - i) + "\"/>";
        if (s == std::string::npos) break;
        i = s + 1;
    }
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">"
           "<MESSAGE ID=\"42\" PROTOCOLVERSION=\"1.0\"><SIMPLEREQ><IMETHODCALL NAME=\"" +
           method + "\"><LOCALNAMESPACEPATH>" + nsXml + "</LOCALNAMESPACEPATH>" + params +
           "</IMETHODCALL></SIMPLEREQ></MESSAGE></CIM>";
}

}  // namespace orvtest
