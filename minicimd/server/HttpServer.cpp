#include "server/HttpServer.h"

#include <microhttpd.h>

#include <algorithm>
#include <arpa/inet.h>
#include <condition_variable>
#include <set>
#include <thread>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace minicimd {

namespace {

// Clients that connect and close in quick succession (a probe per connection)
// must not find the queue full while the server thread catches up: a local
// socket refuses at once when it is.
constexpr int kUnixListenBacklog = SOMAXCONN;

// Bounds of the block a chunked answer is handed to the connection in.
constexpr size_t kMinStreamBlock = 4 * 1024;
constexpr size_t kMaxStreamBlock = 256 * 1024;

void logLine(const std::string& s)
{
    std::string line = "minicimd: " + s + "\n";
    ssize_t r = write(2, line.data(), line.size());
    (void)r;
}

struct RequestState {
    std::string body;
    bool tooBig = false;
    bool answered = false;
    size_t discarded = 0;
    // Refused on its headers (authentication) or for want of memory: the
    // body is read and dropped, then this is the answer.
    bool refused = false;
    HttpAnswer refusal;
    size_t held = 0;  // of the bodies' budget
};

struct ConnState {
    bool authenticated = false;
    unsigned long long id = 0;  // unique for the server's lifetime (addresses are reused)
    int fd = -1;
    std::string peer;  // "uid N" (Unix socket) or the address (TCP), for the per-peer limit
    // Who sends its requests: the peer's user on the Unix socket, the user
    // local authentication named, else nobody known (uid -1).
    std::string user;
    long uid = -1;
    // Guarded by the server's connection lock: by when the request under way
    // must be in whole, and whether one is still coming (not being answered).
    std::chrono::steady_clock::time_point deadline;
    bool receiving = true;
    bool refused = false;  // over its peer's limit: answered 503 and closed
};

struct Challenge {
    std::string user;
    uid_t uid = 0;
    std::string content;
    unsigned long long connection = 0;  // the one that asked; only it may answer
    std::chrono::steady_clock::time_point created;
};

// A user's name, or empty when the uid has none.
std::string userName(uid_t uid)
{
    std::vector<char> buf(16384);
    passwd pw{};
    passwd* found = nullptr;
    if (getpwuid_r(uid, &pw, buf.data(), buf.size(), &found) != 0 || !found) return "";
    return found->pw_name;
}

// The body of a chunked answer, handed out by the reader callback.
struct Streamed {
    std::string body;
    size_t pos = 0;
};

ssize_t readStreamed(void* cls, uint64_t pos, char* buf, size_t max)
{
    Streamed* s = static_cast<Streamed*>(cls);
    (void)pos;
    if (s->pos >= s->body.size()) return MHD_CONTENT_READER_END_OF_STREAM;
    size_t n = std::min(max, s->body.size() - s->pos);
    memcpy(buf, s->body.data() + s->pos, n);
    s->pos += n;
    return static_cast<ssize_t>(n);
}

void freeStreamed(void* cls)
{
    delete static_cast<Streamed*>(cls);
}

std::string header(MHD_Connection* c, const char* name)
{
    const char* v = MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
    return v ? v : "";
}

bool headerPresent(MHD_Connection* c, const char* name)
{
    return MHD_lookup_connection_value(c, MHD_HEADER_KIND, name) != nullptr;
}

}  // namespace

std::string uriDecode(const std::string& s)
{
    std::string r;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && isxdigit(static_cast<unsigned char>(s[i + 1])) &&
            isxdigit(static_cast<unsigned char>(s[i + 2]))) {
            r += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            r += s[i];
        }
    }
    return r;
}

struct HttpServer::Impl {
    ServerConfig cfg;
    const CimHandler* handler = nullptr;
    MHD_Daemon* unixDaemon = nullptr;
    MHD_Daemon* tcpDaemon = nullptr;
    int unixFd = -1;
    std::mutex challengeMu;
    std::map<std::string, Challenge> challenges;  // by file path
    std::atomic<size_t> bodyBytes{0};
    std::atomic<unsigned long long> connections{0};  // started so far, for their ids
    // Open connections and how many each peer holds; the watchdog closes
    // those whose request is overdue.
    std::mutex connMu;
    std::condition_variable connWake;
    std::set<ConnState*> open;
    std::map<std::string, unsigned> perPeer;
    bool stopping = false;
    std::thread watchdog;

    std::chrono::steady_clock::time_point nextDeadline() const
    {
        return std::chrono::steady_clock::now() + std::chrono::seconds(cfg.requestDeadlineSeconds);
    }

    void watch()
    {
        std::unique_lock<std::mutex> lock(connMu);
        while (!stopping) {
            connWake.wait_for(lock, std::chrono::seconds(1));
            auto now = std::chrono::steady_clock::now();
            for (ConnState* conn : open) {
                if (conn->receiving && now > conn->deadline && conn->fd >= 0) {
                    // The connection's thread sees its socket end and closes it.
                    logLine("a request did not come whole within " +
                            std::to_string(cfg.requestDeadlineSeconds) + " s: its connection is closed");
                    shutdown(conn->fd, SHUT_RDWR);
                    conn->deadline = now + std::chrono::hours(24);  // once
                }
            }
        }
    }

    // A new connection: counted for its peer; one over the limit is answered and ended at once.
    void opened(MHD_Connection* c, ConnState* conn)
    {
        const MHD_ConnectionInfo* fi = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        conn->fd = fi ? fi->connect_fd : -1;
        sockaddr_storage sa{};
        socklen_t len = sizeof sa;
        unsigned limit = kMaxConnectionsPerAddress;
        if (conn->fd >= 0 && getsockname(conn->fd, reinterpret_cast<sockaddr*>(&sa), &len) == 0 &&
            sa.ss_family == AF_UNIX) {
            ucred cred{};
            socklen_t credLen = sizeof cred;
            if (getsockopt(conn->fd, SOL_SOCKET, SO_PEERCRED, &cred, &credLen) == 0) {
                conn->peer = "uid " + std::to_string(cred.uid);
                conn->uid = static_cast<long>(cred.uid);
                conn->user = userName(cred.uid);
            }
            limit = kMaxConnectionsPerUser;
        } else if (conn->fd >= 0 &&
                   getpeername(conn->fd, reinterpret_cast<sockaddr*>(&sa), &(len = sizeof sa)) == 0 &&
                   sa.ss_family == AF_INET) {
            char text[INET_ADDRSTRLEN] = "";
            inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(&sa)->sin_addr, text, sizeof text);
            conn->peer = text;
        }
        std::lock_guard<std::mutex> lock(connMu);
        conn->deadline = nextDeadline();
        open.insert(conn);
        if (conn->peer.empty()) return;
        if (++perPeer[conn->peer] > limit) {
            conn->refused = true;
            if (perPeer[conn->peer] == limit + 1)
                logLine(conn->peer + " holds " + std::to_string(limit) + " connections: more are refused");
            const std::string text = "too many connections from " + conn->peer + "; try again later\n";
            const std::string busy =
                "HTTP/1.1 503 Service Unavailable\r\nConnection: close\r\n"
                "Content-Type: text/plain; charset=utf-8\r\nContent-Length: " +
                std::to_string(text.size()) + "\r\n\r\n" + text;
            ssize_t r = send(conn->fd, busy.data(), busy.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
            (void)r;
            shutdown(conn->fd, SHUT_RDWR);
        }
    }

    void closed(ConnState* conn)
    {
        std::lock_guard<std::mutex> lock(connMu);
        open.erase(conn);
        auto it = perPeer.find(conn->peer);
        if (it != perPeer.end() && --it->second == 0) perPeer.erase(it);
    }

    // The request is in whole (being answered), or answered (the next one may come).
    void requestIn(MHD_Connection* c, bool in)
    {
        const MHD_ConnectionInfo* ci = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
        ConnState* conn = ci ? static_cast<ConnState*>(ci->socket_context) : nullptr;
        if (!conn) return;
        std::lock_guard<std::mutex> lock(connMu);
        conn->receiving = !in;
        // Between requests a connection may idle as long as libmicrohttpd lets
        // it (kConnectionTimeoutSeconds); a new one must bring its first
        // request within the deadline.
        if (!in)
            conn->deadline =
                std::chrono::steady_clock::now() + std::chrono::seconds(kConnectionTimeoutSeconds);
    }  // held by all requests, at most kMaxBodyBytesInFlight

    // Takes `n` more bytes of the bodies' budget for `st`; false when there are not so many.
    bool holdBody(RequestState* st, size_t n)
    {
        size_t now = bodyBytes.load();
        do {
            if (now + n > kMaxBodyBytesInFlight) return false;
        } while (!bodyBytes.compare_exchange_weak(now, now + n));
        st->held += n;
        return true;
    }

    void releaseBody(RequestState* st)
    {
        bodyBytes -= st->held;
        st->held = 0;
    }

    ~Impl()
    {
        if (unixDaemon) MHD_stop_daemon(unixDaemon);
        if (tcpDaemon) MHD_stop_daemon(tcpDaemon);
        {
            std::lock_guard<std::mutex> lock(connMu);
            stopping = true;
            connWake.notify_all();
        }
        if (watchdog.joinable()) watchdog.join();
        if (unixFd >= 0) {
            close(unixFd);
            unlink(cfg.socketPath.c_str());
        }
        std::lock_guard<std::mutex> lock(challengeMu);
        for (const auto& kv : challenges) unlink(kv.first.c_str());
    }

    // Takes the body over (answers run to megabytes; copies cost real time).
    static MHD_Result queue(MHD_Connection* c, HttpAnswer&& a)
    {
        MHD_Response* r;
        Streamed* s = new Streamed{std::move(a.body), 0};
        if (a.chunked) {
            // The block is allocated and cleared for every answer: no larger than the body.
            const size_t block = std::clamp(s->body.size(), kMinStreamBlock, kMaxStreamBlock);
            r = MHD_create_response_from_callback(MHD_SIZE_UNKNOWN, block, readStreamed, s, freeStreamed);
        } else {
            r = MHD_create_response_from_buffer_with_free_callback_cls(s->body.size(), s->body.data(),
                                                                       freeStreamed, s);
        }
        if (!r) {
            delete s;
            return MHD_NO;
        }
        for (const auto& h : a.headers) MHD_add_response_header(r, h.first.c_str(), h.second.c_str());
        for (const auto& t : a.trailers) MHD_add_response_footer(r, t.first.c_str(), t.second.c_str());
        MHD_Result ret = MHD_queue_response(c, static_cast<unsigned>(a.status), r);
        MHD_destroy_response(r);
        return ret;
    }

    static HttpAnswer tooLarge()
    {
        HttpAnswer a = plain(413, "request body larger than " + std::to_string(kMaxRequestBytes) + " bytes");
        a.headers.push_back({"CIMError", "request-not-valid"});
        return a;
    }

    static HttpAnswer plain(int status, const std::string& text)
    {
        HttpAnswer a;
        a.status = status;
        a.body = text + "\n";
        a.headers.push_back({"Content-Type", "text/plain; charset=utf-8"});
        return a;
    }

    void expireChallenges()
    {
        auto now = std::chrono::steady_clock::now();
        for (auto it = challenges.begin(); it != challenges.end();) {
            if (now - it->second.created > std::chrono::seconds(kChallengeLifetimeSeconds)) {
                unlink(it->first.c_str());
                it = challenges.erase(it);
            } else {
                ++it;
            }
        }
    }

    // Writes a fresh challenge file only the named user can read; returns its path.
    bool makeChallenge(const std::string& user, unsigned long long connection, std::string& path)
    {
        errno = 0;
        struct passwd* pw = getpwnam(user.c_str());
        if (!pw) return false;
        uid_t uid = pw->pw_uid;
        gid_t gid = pw->pw_gid;
        unsigned char rnd[24];
        if (getrandom(rnd, sizeof rnd, 0) != static_cast<ssize_t>(sizeof rnd)) return false;
        static const char* hex = "0123456789abcdef";
        std::string content;
        for (unsigned char b : rnd) {
            content += hex[b >> 4];
            content += hex[b & 15];
        }
        std::string tmpl = cfg.authDir + "/minicimd-auth-XXXXXX";
        std::vector<char> name(tmpl.begin(), tmpl.end());
        name.push_back('\0');
        int fd = mkstemp(name.data());
        if (fd < 0) return false;
        bool ok = fchmod(fd, 0400) == 0;
        if (ok && geteuid() == 0 && uid != 0) ok = fchown(fd, uid, gid) == 0;
        ok = ok && write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
        close(fd);
        path = name.data();
        if (!ok) {
            unlink(path.c_str());
            return false;
        }
        std::lock_guard<std::mutex> lock(challengeMu);
        expireChallenges();
        if (challenges.size() >= kMaxPendingChallenges) {
            auto oldest = challenges.begin();
            for (auto it = challenges.begin(); it != challenges.end(); ++it)
                if (it->second.created < oldest->second.created) oldest = it;
            unlink(oldest->first.c_str());
            challenges.erase(oldest);
        }
        challenges[path] = Challenge{user, uid, content, connection, std::chrono::steady_clock::now()};
        return true;
    }

    // Returns true when the request may go on; otherwise fills `deny`.
    bool authenticate(MHD_Connection* c, ConnState* conn, HttpAnswer& deny)
    {
        if (!cfg.localAuth || (conn && conn->authenticated)) return true;
        deny = plain(401, "authentication required");
        std::string h = header(c, "PegasusAuthorization");
        const std::string scheme = "Local \"";
        if (h.compare(0, scheme.size(), scheme) != 0 || h.size() < scheme.size() + 1 || h.back() != '"') {
            deny.headers.push_back({"WWW-Authenticate", "Local \"\""});
            deny.headers.push_back(
                {"PGErrorDetail", CimHandler::uriEncode("Local authentication is required")});
            return false;
        }
        std::string inner = h.substr(scheme.size(), h.size() - scheme.size() - 1);
        size_t c1 = inner.find(':');
        if (c1 == std::string::npos) {
            std::string path;
            if (inner.empty() || !conn || !makeChallenge(inner, conn->id, path)) {
                deny.headers.push_back(
                    {"PGErrorDetail", CimHandler::uriEncode("unknown user '" + inner + "'")});
                deny.headers.push_back({"WWW-Authenticate", "Local \"\""});
                return false;
            }
            deny.headers.push_back({"WWW-Authenticate", "Local \"" + path + "\""});
            return false;
        }
        size_t c2 = inner.find(':', c1 + 1);
        if (c2 == std::string::npos) {
            deny.headers.push_back({"WWW-Authenticate", "Local \"\""});
            return false;
        }
        std::string user = inner.substr(0, c1);
        std::string path = inner.substr(c1 + 1, c2 - c1 - 1);
        std::string content = inner.substr(c2 + 1);
        std::lock_guard<std::mutex> lock(challengeMu);
        expireChallenges();
        auto it = challenges.find(path);
        // A challenge another connection asked for is not this one's to answer or use up.
        if (it != challenges.end() && (!conn || it->second.connection != conn->id)) it = challenges.end();
        bool ok = it != challenges.end() && it->second.user == user && it->second.content == content;
        uid_t uid = ok ? it->second.uid : 0;
        if (it != challenges.end()) {
            // One answer per challenge, right or wrong.
            unlink(it->first.c_str());
            challenges.erase(it);
        }
        if (!ok) {
            deny.headers.push_back({"WWW-Authenticate", "Local \"\""});
            deny.headers.push_back({"PGErrorDetail", CimHandler::uriEncode("Local authentication failed")});
            logLine("local authentication failed for user '" + user + "'");
            return false;
        }
        if (conn) {
            conn->authenticated = true;
            conn->user = user;
            conn->uid = static_cast<long>(uid);
        }
        return true;
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* c, const char* url, const char* method,
                                const char* version, const char* data, size_t* dataSize, void** reqCls)
    {
        Impl* self = static_cast<Impl*>(cls);
        RequestState* st = static_cast<RequestState*>(*reqCls);
        if (!st) {
            const MHD_ConnectionInfo* sc = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
            if (sc && sc->socket_context && static_cast<ConnState*>(sc->socket_context)->refused)
                return MHD_NO;
            st = new RequestState();
            *reqCls = st;
            std::string len = header(c, MHD_HTTP_HEADER_CONTENT_LENGTH);
            if (!len.empty() &&
                (len.size() > 12 ||
                 std::stoull("0" + len.substr(0, len.find_first_not_of("0123456789"))) > kMaxRequestBytes)) {
                // Answer at once rather than read a body we will not keep;
                // the connection closes after the answer.
                st->tooBig = true;
                st->answered = true;
                return queue(c, tooLarge());
            }
            // Authentication is decided on the headers: the body of a request
            // that is refused is never kept.  The answer waits for the body's end
            // so that the connection stays usable (a challenge is answered on it).
            const MHD_ConnectionInfo* ci = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
            ConnState* conn = ci ? static_cast<ConnState*>(ci->socket_context) : nullptr;
            // (Other methods and paths get their own answers, as before.)
            if (std::string(method) == "POST" && std::string(url) == "/cimom" &&
                !self->authenticate(c, conn, st->refusal))
                st->refused = true;
            return MHD_YES;
        }
        if (*dataSize) {
            if (st->tooBig) {
                // Read and drop the rest so the client gets its 413 (closing on
                // unread data would reset the connection and lose the answer),
                // but only so much: then the connection is simply dropped.
                st->discarded += *dataSize;
                *dataSize = 0;
                return st->discarded > kMaxDiscardBytes ? MHD_NO : MHD_YES;
            }
            if (st->refused) {
                *dataSize = 0;
                return MHD_YES;
            }
            if (st->body.size() + *dataSize > kMaxRequestBytes) {
                st->tooBig = true;
                st->body.clear();
                st->body.shrink_to_fit();
                self->releaseBody(st);
                *dataSize = 0;
                return MHD_YES;
            }
            // What the string may grow to, so the budget holds what is really allocated.
            size_t need = st->body.size() + *dataSize;
            if (need > st->held &&
                !self->holdBody(st, std::max(need, std::min(2 * st->held, kMaxRequestBytes)) - st->held)) {
                st->refused = true;
                st->refusal = plain(503, "the server holds too many request bodies; try again later");
                st->refusal.headers.push_back({"Retry-After", "1"});
                st->body.clear();
                st->body.shrink_to_fit();
                self->releaseBody(st);
                logLine("request bodies in flight reached " + std::to_string(kMaxBodyBytesInFlight) +
                        " bytes: a request was answered 503");
                *dataSize = 0;
                return MHD_YES;
            }
            if (st->body.capacity() < st->held) st->body.reserve(st->held);
            st->body.append(data, *dataSize);
            *dataSize = 0;
            return MHD_YES;
        }
        // The whole request is in.
        self->requestIn(c, true);
        try {
            HttpAnswer a;
            std::string m = method;
            if (st->tooBig) return st->answered ? MHD_YES : queue(c, tooLarge());
            if (st->refused) return queue(c, std::move(st->refusal));
            if (m != "POST") {
                a = plain(501, "only POST is supported");
                return queue(c, std::move(a));
            }
            if (std::string(url) != "/cimom") {
                a = plain(404, "no CIM service at " + std::string(url) + " (use /cimom)");
                return queue(c, std::move(a));
            }
            HttpRequestInfo req;
            req.hasCimOperation = headerPresent(c, "CIMOperation");
            req.cimOperation = header(c, "CIMOperation");
            req.cimMethod = uriDecode(header(c, "CIMMethod"));
            req.cimObject = uriDecode(header(c, "CIMObject"));
            req.contentType = header(c, MHD_HTTP_HEADER_CONTENT_TYPE);
            // Trailers need chunked encoding, which HTTP/1.0 does not have.
            req.wantsTrailers =
                header(c, "TE").find("trailers") != std::string::npos && std::string(version) != "HTTP/1.0";
            req.body = std::move(st->body);
            const MHD_ConnectionInfo* ci = MHD_get_connection_info(c, MHD_CONNECTION_INFO_SOCKET_CONTEXT);
            if (const ConnState* conn = ci ? static_cast<const ConnState*>(ci->socket_context) : nullptr) {
                if (conn->uid >= 0) {
                    // A peer whose uid has no name is still known by its number.
                    req.caller.user = conn->user.empty() ? std::to_string(conn->uid) : conn->user;
                    req.caller.privileged = conn->uid == 0 || static_cast<uid_t>(conn->uid) == geteuid();
                }
            }
            a = self->handler->handle(req);
            self->releaseBody(st);
            if (self->cfg.verbose) logLine(req.cimMethod + " -> " + std::to_string(a.status));
            return queue(c, std::move(a));
        } catch (const std::exception& e) {
            logLine(std::string("internal error: ") + e.what());
            return queue(c, plain(500, "internal error"));
        }
    }

    static void onCompleted(void* cls, MHD_Connection* c, void** reqCls, MHD_RequestTerminationCode toe)
    {
        (void)toe;
        RequestState* st = static_cast<RequestState*>(*reqCls);
        if (st) static_cast<Impl*>(cls)->releaseBody(st);
        static_cast<Impl*>(cls)->requestIn(c, false);
        delete st;
        *reqCls = nullptr;
    }

    static void onConnection(void* cls, MHD_Connection* c, void** socketCtx,
                             MHD_ConnectionNotificationCode code)
    {
        Impl* self = static_cast<Impl*>(cls);
        if (code == MHD_CONNECTION_NOTIFY_STARTED) {
            ConnState* conn = new ConnState();
            conn->id = ++self->connections;
            *socketCtx = conn;
            self->opened(c, conn);
        } else if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            if (*socketCtx) self->closed(static_cast<ConnState*>(*socketCtx));
            delete static_cast<ConnState*>(*socketCtx);
            *socketCtx = nullptr;
        }
    }

    MHD_Daemon* startDaemon(int listenFd, const sockaddr* addr)
    {
        unsigned flags = MHD_USE_THREAD_PER_CONNECTION | MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_ERROR_LOG;
        if (listenFd >= 0) {
            return MHD_start_daemon(flags, 0, nullptr, nullptr, &Impl::onRequest, this,
                                    MHD_OPTION_LISTEN_SOCKET, listenFd, MHD_OPTION_NOTIFY_COMPLETED,
                                    &Impl::onCompleted, this, MHD_OPTION_NOTIFY_CONNECTION,
                                    &Impl::onConnection, this, MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
                                    MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_END);
        }
        return MHD_start_daemon(flags, 0, nullptr, nullptr, &Impl::onRequest, this, MHD_OPTION_SOCK_ADDR,
                                addr, MHD_OPTION_NOTIFY_COMPLETED, &Impl::onCompleted, this,
                                MHD_OPTION_NOTIFY_CONNECTION, &Impl::onConnection, this,
                                MHD_OPTION_CONNECTION_LIMIT, kMaxConnections, MHD_OPTION_CONNECTION_TIMEOUT,
                                kConnectionTimeoutSeconds, MHD_OPTION_END);
    }
};

std::unique_ptr<HttpServer> HttpServer::start(const ServerConfig& cfg, const CimHandler& handler,
                                              std::string& error)
{
    std::unique_ptr<HttpServer> s(new HttpServer());
    s->impl_.reset(new Impl());
    Impl& im = *s->impl_;
    im.cfg = cfg;
    im.handler = &handler;
    if (cfg.socketPath.empty() && cfg.port < 0) {
        error = "nothing to listen on: give --socket and/or --port";
        return nullptr;
    }
    im.watchdog = std::thread([&im] { im.watch(); });
    if (cfg.localAuth) {
        // Clients look for challenge files directly in the directory they are
        // told of.  One of our own is made unlistable to others, who may still
        // reach the file whose name they were given (0711); a shared one such
        // as /tmp stays as it is: names read there are of no use, since a
        // challenge is answered only on the connection that asked for it.
        struct stat st;
        if (stat(cfg.authDir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            error = "--auth-dir " + cfg.authDir + " is not a directory";
            return nullptr;
        }
        if (st.st_uid == geteuid() && !(st.st_mode & S_IWOTH) && (st.st_mode & 07777) != 0711 &&
            chmod(cfg.authDir.c_str(), 0711) != 0) {
            error = "cannot make " + cfg.authDir + " unlistable: " + strerror(errno);
            return nullptr;
        }
    }
    if (!cfg.socketPath.empty()) {
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        if (cfg.socketPath.size() >= sizeof sa.sun_path) {
            error = "socket path too long: " + cfg.socketPath;
            return nullptr;
        }
        memcpy(sa.sun_path, cfg.socketPath.c_str(), cfg.socketPath.size() + 1);
        struct stat st;
        if (lstat(cfg.socketPath.c_str(), &st) == 0) {
            if (!S_ISSOCK(st.st_mode)) {
                error = cfg.socketPath + " exists and is not a socket";
                return nullptr;
            }
            // A socket nobody answers on is left over from a server that died.
            int probe = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            bool live = probe >= 0 && connect(probe, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
            if (probe >= 0) close(probe);
            if (live) {
                error = "another server is listening on " + cfg.socketPath;
                return nullptr;
            }
            unlink(cfg.socketPath.c_str());
        }
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0) {
            error = "cannot bind " + cfg.socketPath + ": " + strerror(errno);
            if (fd >= 0) close(fd);
            return nullptr;
        }
        im.unixFd = fd;  // from here on the destructor removes the file
        if (chmod(cfg.socketPath.c_str(), 0666) != 0 || listen(fd, kUnixListenBacklog) != 0) {
            error = "cannot listen on " + cfg.socketPath + ": " + strerror(errno);
            return nullptr;
        }
        im.unixDaemon = im.startDaemon(fd, nullptr);
        if (!im.unixDaemon) {
            error = "cannot start the HTTP service on " + cfg.socketPath;
            return nullptr;
        }
    }
    if (cfg.port >= 0) {
        if (cfg.port > 65535) {
            error = "port out of range";
            return nullptr;
        }
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(cfg.port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        im.tcpDaemon = im.startDaemon(-1, reinterpret_cast<sockaddr*>(&sa));
        if (!im.tcpDaemon) {
            error = "cannot listen on 127.0.0.1:" + std::to_string(cfg.port);
            return nullptr;
        }
        const MHD_DaemonInfo* di = MHD_get_daemon_info(im.tcpDaemon, MHD_DAEMON_INFO_BIND_PORT);
        s->tcpPort_ = di ? di->port : cfg.port;
    }
    return s;
}

HttpServer::~HttpServer() = default;

}  // namespace minicimd
