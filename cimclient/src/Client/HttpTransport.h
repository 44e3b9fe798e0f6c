// HTTP/1.1 transport of the CIM client: one persistent connection through
// libcurl, over a Unix domain socket (connectLocal) or TCP (connect).
//
// Plain std::string in and out; the CIM layer above turns failures into the
// OpenPegasus exception classes.
#ifndef ORV_HTTP_HTTPTRANSPORT_H
#define ORV_HTTP_HTTPTRANSPORT_H

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace orv {
namespace http {

// Limits on what a server may send back.
constexpr std::size_t kMaxResponseBodyBytes = 64u * 1024u * 1024u;
constexpr std::size_t kMaxHeaderLineBytes = 16u * 1024u;
constexpr std::size_t kMaxHeaderLines = 200;

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Case-insensitive lookup; nullptr when absent.
const std::string* findHeader(const HeaderList& headers, const std::string& name);

struct HttpResponse {
    long status = 0;
    std::string statusLine;  // "HTTP/1.1 200 OK"
    HeaderList headers;      // before the body
    HeaderList trailers;     // after a chunked body
    std::string body;

    // Looks in the trailers first (where a chunked answer puts late news),
    // then in the headers.
    const std::string* field(const std::string& name) const;
};

class TransportError : public std::runtime_error {
public:
    enum class Kind {
        CannotConnect,  // nothing answers at the address
        Timeout,        // no complete answer within the timeout
        Malformed,      // the answer is not acceptable HTTP
        TooLarge,       // the answer exceeds a limit
        AuthRefused,    // a local authentication challenge we will not answer
        Failed          // anything else the transfer reported
    };
    TransportError(Kind kind, const std::string& message) : std::runtime_error(message), kind_(kind) {}
    Kind kind() const { return kind_; }

private:
    Kind kind_;
};

class HttpConnection {
public:
    // HTTP over the Unix domain socket at `socketPath`.
    static std::unique_ptr<HttpConnection> overUnixSocket(const std::string& socketPath);
    // HTTP over TCP; Basic authentication when userName is not empty.
    static std::unique_ptr<HttpConnection> overTcp(const std::string& host, unsigned port,
                                                   const std::string& userName, const std::string& password);
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // POSTs `body` to `path` with the given extra header lines ("Name: value").
    // The connection is kept open between calls and reopened when needed.
    // Throws TransportError.
    HttpResponse post(const std::string& path, std::vector<std::string> headerLines, const std::string& body,
                      unsigned long timeoutMilliseconds);

    // Takes back the body of an answer that has been read, to receive a later
    // answer in: a large answer then costs no fresh pages.
    void recycleBody(std::string&& body);

    // Answers OpenPegasus "Local" authentication on every post(): each request
    // names `user`; a 401 challenge naming a file in one of `allowedDirs` is
    // answered once with the file's content.  Unix socket connections only.
    void enableLocalAuthentication(const std::string& user, const std::vector<std::string>& allowedDirs);

    // Opens and closes a connection to the server, without a request, so that
    // an unreachable server is reported at once.  Throws TransportError.
    void checkReachable(unsigned long timeoutMilliseconds);

    bool isLocal() const;
    const std::string& hostHeader() const;

private:
    struct Impl;
    HttpResponse postOnce(const std::string& path, const std::vector<std::string>& headerLines,
                          const std::string& body, unsigned long timeoutMilliseconds);
    explicit HttpConnection(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// %XX-escapes everything but unreserved characters and the few that CIM
// object paths and namespaces use, as a CIMObject header value needs.
std::string uriEscape(const std::string& text);
// Undoes %XX escapes (a malformed escape is kept literally).
std::string uriUnescape(const std::string& text);

}  // namespace http
}  // namespace orv

#endif
