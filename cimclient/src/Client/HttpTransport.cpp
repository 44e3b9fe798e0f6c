#include "Client/HttpTransport.h"

#include "Client/LocalAuth.h"

#include <curl/curl.h>

#include <sys/socket.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string_view>

namespace orv {
namespace http {

namespace {

// A recycled body larger than this is let go rather than kept for the next answer.
constexpr std::size_t kMaxRecycledBodyBytes = 16u * 1024u * 1024u;

// Why a connection could not be made, in words that stay the same from one try
// to the next: the system's reason where there is one, else curl's.  curl's own
// error text names "localhost port 80" for a Unix socket and counts milliseconds.
std::string connectFailureDetail(CURL* handle, CURLcode rc)
{
    long osErrno = 0;
    if (curl_easy_getinfo(handle, CURLINFO_OS_ERRNO, &osErrno) == CURLE_OK && osErrno != 0) {
        return std::strerror(static_cast<int>(osErrno));
    }
    return curl_easy_strerror(rc);
}

void globalInit()
{
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool equalNoCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

std::string trim(std::string_view s)
{
    std::size_t b = 0, e = s.size();
    while (b < e && (s[b] == ' ' || s[b] == '\t')) ++b;
    while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
    return std::string(s.substr(b, e - b));
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Judges a Unix socket before a byte is sent on it: the name when libcurl
// opens a socket for it (for a clear reason), then the peer of the connected
// descriptor just before each request, which settles it whatever happened to
// the name in between.
struct CheckedUnixSocket {
    std::string path;
    std::string failure;                   // why the last connection was refused
    curl_socket_t last = CURL_SOCKET_BAD;  // the connection libcurl opened last

    static curl_socket_t onOpen(void* ud, curlsocktype purpose, curl_sockaddr* address)
    {
        auto* self = static_cast<CheckedUnixSocket*>(ud);
        if (purpose == CURLSOCKTYPE_IPCXN) {
            self->failure = untrustedSocketPathReason(self->path);
            if (!self->failure.empty()) return CURL_SOCKET_BAD;
        }
        curl_socket_t fd = ::socket(address->family, address->socktype | SOCK_CLOEXEC, address->protocol);
        if (purpose == CURLSOCKTYPE_IPCXN) self->last = fd;
        return fd;
    }

    static int onClose(void* ud, curl_socket_t fd)
    {
        auto* self = static_cast<CheckedUnixSocket*>(ud);
        if (fd == self->last) self->last = CURL_SOCKET_BAD;
        return ::close(fd);
    }

    static int beforeRequest(void* ud, char*, char*, int, int)
    {
        auto* self = static_cast<CheckedUnixSocket*>(ud);
        return self->checkPeer() ? CURL_PREREQFUNC_OK : CURL_PREREQFUNC_ABORT;
    }

    bool checkPeer()
    {
        failure = last == CURL_SOCKET_BAD ? "the connection is not known" : untrustedSocketPeerReason(last);
        return failure.empty();
    }

    void install(CURL* handle)
    {
        curl_easy_setopt(handle, CURLOPT_UNIX_SOCKET_PATH, path.c_str());
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETFUNCTION, &CheckedUnixSocket::onOpen);
        curl_easy_setopt(handle, CURLOPT_OPENSOCKETDATA, this);
        curl_easy_setopt(handle, CURLOPT_CLOSESOCKETFUNCTION, &CheckedUnixSocket::onClose);
        curl_easy_setopt(handle, CURLOPT_CLOSESOCKETDATA, this);
        curl_easy_setopt(handle, CURLOPT_PREREQFUNCTION, &CheckedUnixSocket::beforeRequest);
        curl_easy_setopt(handle, CURLOPT_PREREQDATA, this);
    }
};

}  // namespace

const std::string* findHeader(const HeaderList& headers, const std::string& name)
{
    for (const auto& h : headers) {
        if (equalNoCase(h.first, name)) return &h.second;
    }
    return nullptr;
}

const std::string* HttpResponse::field(const std::string& name) const
{
    const std::string* v = findHeader(trailers, name);
    return v != nullptr ? v : findHeader(headers, name);
}

std::string uriEscape(const std::string& text)
{
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        bool keep = std::isalnum(c) != 0 || std::strchr("-_.~!*'()/:,=", c) != nullptr;
        if (keep && c != 0) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 0xF]);
        }
    }
    return out;
}

std::string uriUnescape(const std::string& text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            int hi = hexValue(text[i + 1]);
            int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 2;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

struct HttpConnection::Impl {
    CURL* easy = nullptr;
    std::string url;
    std::string socketPath;  // empty for TCP
    CheckedUnixSocket unixSocket;
    std::string host;
    std::string userName;
    std::string password;
    char errorBuffer[CURL_ERROR_SIZE] = {0};
    bool localAuth = false;
    std::string localUser;
    std::vector<std::string> localAuthDirs;

    // State of the transfer in progress.
    HttpResponse* response = nullptr;
    bool headersDone = false;
    bool tooLarge = false;
    bool malformedHeader = false;
    std::size_t headerLines = 0;
    // The size of the last answer on this connection, reserved for the next
    // one: answers to repeated requests are alike, and a large body that grew
    // piece by piece would be copied as often as it doubled.
    std::size_t lastBodyBytes = 0;
    std::string spareBody;  // from recycleBody
    // The request header list libcurl was last given, kept while the next
    // request's lines are the same (as they are for a repeated operation).
    curl_slist* headerList = nullptr;
    std::vector<std::string> listedLines;
    std::string lastUrl;

    ~Impl()
    {
        if (easy != nullptr) curl_easy_cleanup(easy);
        if (headerList != nullptr) curl_slist_free_all(headerList);
    }

    // Options that stay the same for every transfer on the handle (libcurl
    // keeps them between transfers, and the handle is kept so that libcurl
    // keeps the connection open).  Throws TransportError.
    void setUp()
    {
        easy = curl_easy_init();
        if (easy == nullptr)
            throw TransportError(TransportError::Kind::Failed, "cannot create an HTTP handle");
        CURL* c = easy;
        if (!socketPath.empty()) unixSocket.install(c);
        curl_easy_setopt(c, CURLOPT_PROXY, "");  // never route through an environment proxy
        curl_easy_setopt(c, CURLOPT_NOPROXY, "*");
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxResponseBodyBytes));
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, &Impl::onHeader);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, this);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &Impl::onBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, this);
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, errorBuffer);
        if (!userName.empty()) {
            curl_easy_setopt(c, CURLOPT_HTTPAUTH, static_cast<long>(CURLAUTH_BASIC));
            curl_easy_setopt(c, CURLOPT_USERNAME, userName.c_str());
            curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
        }
    }

    // The header list for `lines` and the "Expect:" that saves the 100-continue
    // round trip, made anew only when the lines differ from the last request's.
    curl_slist* headersFor(const std::vector<std::string>& lines)
    {
        if (headerList != nullptr && lines == listedLines) return headerList;
        curl_slist* list = nullptr;
        auto append = [&list](const std::string& line) {
            curl_slist* next = curl_slist_append(list, line.c_str());
            if (next == nullptr) {
                curl_slist_free_all(list);
                throw std::bad_alloc();
            }
            list = next;
        };
        for (const auto& line : lines) append(line);
        append("Expect:");
        // The handle must not point to the old list once it is gone.
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, static_cast<curl_slist*>(nullptr));
        if (headerList != nullptr) curl_slist_free_all(headerList);
        headerList = list;
        listedLines = lines;
        return headerList;
    }

    static std::size_t onHeader(char* data, std::size_t size, std::size_t n, void* ud)
    {
        auto* self = static_cast<Impl*>(ud);
        std::size_t len = size * n;
        if (len > kMaxHeaderLineBytes || ++self->headerLines > kMaxHeaderLines) {
            self->tooLarge = true;
            return 0;
        }
        std::string_view line(data, len);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
        HttpResponse& r = *self->response;
        if (line.substr(0, 5) == "HTTP/") {
            // A new response begins (after 100 Continue, for instance).
            r.statusLine = std::string(line);
            r.headers.clear();
            r.trailers.clear();
            self->headersDone = false;
            return len;
        }
        if (line.empty()) {
            self->headersDone = true;
            return len;
        }
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) {
            self->malformedHeader = true;
            return 0;
        }
        auto entry = std::make_pair(trim(line.substr(0, colon)), trim(line.substr(colon + 1)));
        // libcurl hands the chunked trailer to this callback too, after the body.
        if (self->headersDone)
            r.trailers.push_back(std::move(entry));
        else
            r.headers.push_back(std::move(entry));
        return len;
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t n, void* ud)
    {
        auto* self = static_cast<Impl*>(ud);
        std::size_t len = size * n;
        if (self->response->body.size() + len > kMaxResponseBodyBytes) {
            self->tooLarge = true;
            return 0;
        }
        self->response->body.append(data, len);
        return len;
    }
};

HttpConnection::HttpConnection(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HttpConnection::~HttpConnection() = default;

std::unique_ptr<HttpConnection> HttpConnection::overUnixSocket(const std::string& socketPath)
{
    globalInit();
    auto impl = std::make_unique<Impl>();
    impl->socketPath = socketPath;
    impl->unixSocket.path = socketPath;
    impl->host = "localhost";
    impl->url = "http://localhost/";
    impl->setUp();
    return std::unique_ptr<HttpConnection>(new HttpConnection(std::move(impl)));
}

std::unique_ptr<HttpConnection> HttpConnection::overTcp(const std::string& host, unsigned port,
                                                        const std::string& userName,
                                                        const std::string& password)
{
    globalInit();
    auto impl = std::make_unique<Impl>();
    bool ipv6 = host.find(':') != std::string::npos && host.front() != '[';
    std::string hostPart = ipv6 ? "[" + host + "]" : host;
    impl->host = hostPart + ":" + std::to_string(port);
    impl->url = "http://" + impl->host + "/";
    impl->userName = userName;
    impl->password = password;
    impl->setUp();
    return std::unique_ptr<HttpConnection>(new HttpConnection(std::move(impl)));
}

void HttpConnection::checkReachable(unsigned long timeoutMilliseconds)
{
    CURL* probe = curl_easy_init();
    if (probe == nullptr) throw TransportError(TransportError::Kind::Failed, "cannot create an HTTP handle");
    char error[CURL_ERROR_SIZE] = {0};
    curl_easy_setopt(probe, CURLOPT_URL, impl_->url.c_str());
    CheckedUnixSocket unixSocket{impl_->socketPath, std::string()};
    if (!impl_->socketPath.empty()) unixSocket.install(probe);
    curl_easy_setopt(probe, CURLOPT_PROXY, "");
    curl_easy_setopt(probe, CURLOPT_NOPROXY, "*");
    curl_easy_setopt(probe, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(probe, CURLOPT_CONNECT_ONLY, 1L);
    curl_easy_setopt(probe, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMilliseconds));
    curl_easy_setopt(probe, CURLOPT_ERRORBUFFER, error);
    CURLcode rc = curl_easy_perform(probe);
    // Nothing is requested on the probe, so its peer is judged here.
    if (rc == CURLE_OK && !impl_->socketPath.empty() && !unixSocket.checkPeer())
        rc = CURLE_ABORTED_BY_CALLBACK;
    const std::string detail = connectFailureDetail(probe, rc);
    curl_easy_cleanup(probe);
    if (rc == CURLE_OK) return;
    std::string where = impl_->socketPath.empty() ? impl_->host : impl_->socketPath;
    if (!unixSocket.failure.empty()) {
        throw TransportError(TransportError::Kind::CannotConnect,
                             "cannot connect to " + where + ": " + unixSocket.failure);
    }
    if (rc == CURLE_OPERATION_TIMEDOUT) {
        throw TransportError(TransportError::Kind::Timeout, "no connection to " + where + " within " +
                                                                std::to_string(timeoutMilliseconds) + " ms");
    }
    throw TransportError(TransportError::Kind::CannotConnect, "cannot connect to " + where + ": " + detail);
}

void HttpConnection::recycleBody(std::string&& body)
{
    if (body.capacity() <= kMaxRecycledBodyBytes) impl_->spareBody = std::move(body);
}

bool HttpConnection::isLocal() const
{
    return !impl_->socketPath.empty();
}
const std::string& HttpConnection::hostHeader() const
{
    return impl_->host;
}

void HttpConnection::enableLocalAuthentication(const std::string& user,
                                               const std::vector<std::string>& allowedDirs)
{
    impl_->localAuth = true;
    impl_->localUser = user;
    impl_->localAuthDirs = allowedDirs;
}

HttpResponse HttpConnection::post(const std::string& path, std::vector<std::string> headerLines,
                                  const std::string& body, unsigned long timeoutMilliseconds)
{
    if (!impl_->localAuth) return postOnce(path, headerLines, body, timeoutMilliseconds);
    std::vector<std::string>& lines = headerLines;
    lines.push_back(localAuthFirstHeader(impl_->localUser));
    HttpResponse first = postOnce(path, lines, body, timeoutMilliseconds);
    if (first.status != 401) return first;
    const std::string* challenge = first.field("WWW-Authenticate");
    if (challenge == nullptr) return first;
    std::string answer;
    try {
        answer =
            localAuthAnswerHeader(impl_->localUser, parseLocalChallenge(*challenge), impl_->localAuthDirs);
    } catch (const LocalAuthError& e) {
        throw TransportError(TransportError::Kind::AuthRefused, e.what());
    }
    lines.back() = answer;
    // Answered once only: a second 401 goes back to the caller as it is.
    return postOnce(path, lines, body, timeoutMilliseconds);
}

HttpResponse HttpConnection::postOnce(const std::string& path, const std::vector<std::string>& headerLines,
                                      const std::string& body, unsigned long timeoutMilliseconds)
{
    Impl& d = *impl_;
    CURL* c = d.easy;
    HttpResponse response;
    response.body.swap(d.spareBody);
    response.body.clear();
    response.body.reserve(d.lastBodyBytes);
    d.response = &response;
    d.headersDone = false;
    d.tooLarge = false;
    d.malformedHeader = false;
    d.headerLines = 0;
    d.errorBuffer[0] = '\0';

    curl_slist* headers = d.headersFor(headerLines);

    // What changes from one request to the next; setUp() set the rest.
    std::string url = d.url + (path.empty() || path[0] != '/' ? path : path.substr(1));
    if (url != d.lastUrl) {
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        d.lastUrl = url;
    }
    d.unixSocket.failure.clear();
    curl_easy_setopt(c, CURLOPT_POSTFIELDS, body.data());
    curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body.size()));
    curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
    curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, static_cast<long>(timeoutMilliseconds));
    curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(timeoutMilliseconds));

    CURLcode rc = curl_easy_perform(c);
    if (rc == CURLE_RECV_ERROR || rc == CURLE_SEND_ERROR || rc == CURLE_GOT_NOTHING) {
        // A kept-alive connection that the server closed meanwhile fails
        // before any answer arrives; that request was never read, so it is
        // sent once more on a fresh connection.
        long newConnections = 0;
        curl_easy_getinfo(c, CURLINFO_NUM_CONNECTS, &newConnections);
        if (newConnections == 0 && d.headerLines == 0 && response.body.empty()) {
            d.errorBuffer[0] = '\0';
            curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 1L);
            rc = curl_easy_perform(c);
            curl_easy_setopt(c, CURLOPT_FRESH_CONNECT, 0L);
        }
    }
    d.response = nullptr;
    d.lastBodyBytes = response.body.size();

    std::string where = d.socketPath.empty() ? d.host : d.socketPath;
    std::string detail = d.errorBuffer[0] != '\0' ? std::string(d.errorBuffer) : curl_easy_strerror(rc);
    if (rc != CURLE_OK && !d.unixSocket.failure.empty()) {
        throw TransportError(TransportError::Kind::CannotConnect,
                             "cannot connect to " + where + ": " + d.unixSocket.failure);
    }
    if (rc != CURLE_OK) {
        switch (rc) {
            case CURLE_COULDNT_CONNECT:
            case CURLE_COULDNT_RESOLVE_HOST:
                throw TransportError(TransportError::Kind::CannotConnect,
                                     "cannot connect to " + where + ": " + connectFailureDetail(c, rc));
            case CURLE_OPERATION_TIMEDOUT:
                throw TransportError(
                    TransportError::Kind::Timeout,
                    "no answer from " + where + " within " + std::to_string(timeoutMilliseconds) + " ms");
            case CURLE_FILESIZE_EXCEEDED:
                throw TransportError(TransportError::Kind::TooLarge,
                                     "the answer from " + where + " exceeds " +
                                         std::to_string(kMaxResponseBodyBytes) + " bytes");
            case CURLE_WRITE_ERROR:
                if (d.tooLarge) {
                    throw TransportError(TransportError::Kind::TooLarge,
                                         "the answer from " + where + " exceeds the size limits");
                }
                if (d.malformedHeader) {
                    throw TransportError(TransportError::Kind::Malformed,
                                         "malformed HTTP header line in the answer from " + where);
                }
                break;
            case CURLE_WEIRD_SERVER_REPLY:
            case CURLE_UNSUPPORTED_PROTOCOL:
            case CURLE_GOT_NOTHING:
            case CURLE_PARTIAL_FILE:
            case CURLE_RECV_ERROR:
            case CURLE_BAD_CONTENT_ENCODING:
            case CURLE_HTTP2:
                throw TransportError(TransportError::Kind::Malformed,
                                     "broken HTTP answer from " + where + ": " + detail);
            default:
                break;
        }
        throw TransportError(TransportError::Kind::Failed, "HTTP request to " + where + " failed: " + detail);
    }
    curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &response.status);
    if (response.status < 100 || response.status > 599) {
        throw TransportError(TransportError::Kind::Malformed,
                             "answer from " + where + " has no valid HTTP status");
    }
    return response;
}

}  // namespace http
}  // namespace orv
