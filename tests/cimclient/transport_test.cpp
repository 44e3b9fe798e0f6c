// The HTTP transport against a real socket server: recorded OpenPegasus
// answers replayed byte for byte, persistent connections, failures of every
// kind, and the Local authentication handshake.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>

#include "sample_files.h"
#include "Client/HttpTransport.h"
#include "Client/LocalAuth.h"
#include "scripted_http_server.h"

using orv::http::HttpConnection;
using orv::http::HttpResponse;
using orv::http::TransportError;
using orvtest::Reply;
using orvtest::ScriptedHttpServer;
using orvtest::TempDir;

namespace {

const unsigned long kTimeout = 20000;

std::vector<std::string> cimHeaders(const std::string& method)
{
    return {"Content-Type: application/xml; charset=\"utf-8\"", "CIMOperation: MethodCall",
            "CIMMethod: " + method, "CIMObject: root/test", "TE: trailers"};
}

std::string okReply(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/xml; charset=utf-8\r\nCIMOperation: "
           "MethodResponse\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

TransportError::Kind kindOf(const std::function<void()>& f)
{
    try {
        f();
    } catch (const TransportError& e) {
        return e.kind();
    }
    ADD_FAILURE() << "no TransportError thrown";
    return TransportError::Kind::Failed;
}

}  // namespace

TEST(CimClientTransport, ReplaysEveryRecordedWireAnswerWithBodyAndTrailers)
{
    TempDir dir;
    auto names = orvtest::sampleNames(".wire.txt");
    ASSERT_GE(names.size(), 15u);
    std::string current;
    auto server = ScriptedHttpServer::onUnixSocket(dir.path() + "/s", [&](const orvtest::ReceivedRequest&) {
        return Reply{orvtest::sample(current + ".wire.txt")};
    });
    auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
    for (const auto& name : names) {
        SCOPED_TRACE(name);
        current = name;
        HttpResponse r = conn->post("/cimom", cimHeaders("X"), "<x/>", kTimeout);
        auto wire = orvtest::splitWire(orvtest::sample(name + ".wire.txt"));
        EXPECT_EQ(r.status, 200);
        EXPECT_EQ(r.body, wire.body);
        EXPECT_EQ(r.trailers, wire.trailers);
        if (!orvtest::wireRecordsAnotherExchange(name)) {
            EXPECT_EQ(r.body, orvtest::sample(name + ".body.xml"));
            EXPECT_EQ(r.trailers, orvtest::recordedTrailers(orvtest::sample(name + ".headers.txt")));
        }
        ASSERT_NE(r.field("CIMOperation"), nullptr);
        EXPECT_EQ(*r.field("CIMOperation"), "MethodResponse");
        if (!wire.trailers.empty()) {
            ASSERT_NE(r.field("cimstatuscode"), nullptr);
            EXPECT_EQ(*r.field("cimstatuscode"), wire.trailers[0].second);
        }
    }
    // Chunked answers with trailers keep the connection open.
    EXPECT_EQ(server->connections(), 1);
}

TEST(CimClientTransport, SizedAnswerAndErrorElementWithoutTrailers)
{
    TempDir dir;
    std::string raw = orvtest::sample("GetInstance-missing-without-TE.headers.txt") +
                      orvtest::sample("GetInstance-missing-without-TE.body.xml");
    auto server = ScriptedHttpServer::onUnixSocket(
        dir.path() + "/s", [&](const orvtest::ReceivedRequest&) { return Reply{raw}; });
    auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
    HttpResponse r = conn->post("/cimom", cimHeaders("GetInstance"), "<x/>", kTimeout);
    EXPECT_EQ(r.status, 200);
    EXPECT_TRUE(r.trailers.empty());
    EXPECT_EQ(r.body, orvtest::sample("GetInstance-missing-without-TE.body.xml"));
}

TEST(CimClientTransport, SendsThePostWithCimHeadersOnOnePersistentConnection)
{
    TempDir dir;
    auto server = ScriptedHttpServer::onUnixSocket(
        dir.path() + "/s", [&](const orvtest::ReceivedRequest&) { return Reply{okReply("<ok/>")}; });
    auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
    std::string body(5000, 'b');  // large enough that a client might ask for 100-continue
    for (int i = 0; i < 3; ++i) {
        HttpResponse r = conn->post("/cimom", cimHeaders("GetClass"), body, kTimeout);
        EXPECT_EQ(r.body, "<ok/>");
    }
    auto reqs = server->requests();
    ASSERT_EQ(reqs.size(), 3u);
    EXPECT_EQ(server->connections(), 1);
    const auto& q = reqs[0];
    EXPECT_EQ(q.requestLine, "POST /cimom HTTP/1.1");
    EXPECT_EQ(q.header("cimoperation"), "MethodCall");
    EXPECT_EQ(q.header("cimmethod"), "GetClass");
    EXPECT_EQ(q.header("cimobject"), "root/test");
    EXPECT_EQ(q.header("content-type"), "application/xml; charset=\"utf-8\"");
    EXPECT_EQ(q.header("te"), "trailers");
    EXPECT_EQ(q.header("expect"), "");
    EXPECT_EQ(q.body, body);
}

TEST(CimClientTransport, BasicAuthenticationOverTcp)
{
    auto server = ScriptedHttpServer::onLoopbackTcp(
        [&](const orvtest::ReceivedRequest&) { return Reply{okReply("<ok/>")}; });
    auto conn = HttpConnection::overTcp("127.0.0.1", server->port(), "alice", "s3cret");
    HttpResponse r = conn->post("/cimom", cimHeaders("GetClass"), "<x/>", kTimeout);
    EXPECT_EQ(r.status, 200);
    auto reqs = server->requests();
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].header("authorization"), "Basic YWxpY2U6czNjcmV0");  // alice:s3cret
}

TEST(CimClientTransport, UnreachableServersAreCannotConnect)
{
    TempDir dir;
    auto missing = HttpConnection::overUnixSocket(dir.path() + "/nobody-listens");
    EXPECT_EQ(kindOf([&] { missing->post("/cimom", {}, "x", kTimeout); }),
              TransportError::Kind::CannotConnect);

    // A Unix socket file whose server has gone.
    {
        auto gone = ScriptedHttpServer::onUnixSocket(
            dir.path() + "/gone", [](const orvtest::ReceivedRequest&) { return Reply{okReply("<ok/>")}; });
    }
    auto stale = HttpConnection::overUnixSocket(dir.path() + "/gone");
    EXPECT_EQ(kindOf([&] { stale->post("/cimom", {}, "x", kTimeout); }), TransportError::Kind::CannotConnect);

    // A loopback port nobody listens on: take one and release it.
    unsigned port;
    {
        auto tmp = ScriptedHttpServer::onLoopbackTcp([](const orvtest::ReceivedRequest&) { return Reply{}; });
        port = tmp->port();
    }
    auto tcp = HttpConnection::overTcp("127.0.0.1", port, "", "");
    EXPECT_EQ(kindOf([&] { tcp->post("/cimom", {}, "x", kTimeout); }), TransportError::Kind::CannotConnect);
}

TEST(CimClientTransport, StallingServerTimesOutAndTheConnectionRecovers)
{
    TempDir dir;
    std::atomic<int> calls{0};
    auto server = ScriptedHttpServer::onUnixSocket(dir.path() + "/s", [&](const orvtest::ReceivedRequest&) {
        if (calls++ == 0) return Reply{okReply("<late/>"), 10000, false};
        return Reply{okReply("<ok/>")};
    });
    auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
    const unsigned long timeout = 700;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(kindOf([&] { conn->post("/cimom", {}, "x", timeout); }), TransportError::Kind::Timeout);
    auto elapsed =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    // The timeout is the caller's bound: not much earlier, not much later.
    EXPECT_GE(elapsed.count(), static_cast<long>(timeout) - 50);
    EXPECT_LT(elapsed.count(), static_cast<long>(timeout) + 5000);
    HttpResponse r = conn->post("/cimom", {}, "x", kTimeout);
    EXPECT_EQ(r.body, "<ok/>");
}

TEST(CimClientTransport, BrokenAnswersAreReportedAndTheConnectionRecovers)
{
    TempDir dir;
    std::string next;
    auto server = ScriptedHttpServer::onUnixSocket(dir.path() + "/s", [&](const orvtest::ReceivedRequest&) {
        if (next == "ok") return Reply{okReply("<ok/>")};
        return Reply{next, 0, true};
    });
    auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
    struct Case {
        const char* what;
        std::string raw;
        TransportError::Kind kind;
    };
    std::vector<Case> cases = {
        {"not HTTP at all", "this is not http\r\n\r\n", TransportError::Kind::Malformed},
        {"nothing", "", TransportError::Kind::Malformed},
        {"body cut short", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n<short",
         TransportError::Kind::Malformed},
        {"bad chunk size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\nabc\r\n0\r\n\r\n",
         TransportError::Kind::Malformed},
        {"chunked body cut short", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100\r\nabc",
         TransportError::Kind::Malformed},
        {"header line without colon", "HTTP/1.1 200 OK\r\nno colon here\r\nContent-Length: 0\r\n\r\n",
         TransportError::Kind::Malformed},
        {"announced body over the limit",
         "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(orv::http::kMaxResponseBodyBytes + 1) +
             "\r\n\r\n",
         TransportError::Kind::TooLarge},
    };
    std::string flood = "HTTP/1.1 200 OK\r\n";
    for (std::size_t i = 0; i <= orv::http::kMaxHeaderLines; ++i)
        flood += "X-H" + std::to_string(i) + ": v\r\n";
    cases.push_back(
        {"too many header lines", flood + "Content-Length: 0\r\n\r\n", TransportError::Kind::TooLarge});
    std::string longLine = "HTTP/1.1 200 OK\r\nX-Long: " + std::string(orv::http::kMaxHeaderLineBytes, 'a') +
                           "\r\nContent-Length: 0\r\n\r\n";
    cases.push_back({"header line over the limit", longLine, TransportError::Kind::TooLarge});

    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        next = c.raw;
        EXPECT_EQ(kindOf([&] { conn->post("/cimom", {}, "x", 5000); }), c.kind);
        next = "ok";
        EXPECT_EQ(conn->post("/cimom", {}, "x", kTimeout).body, "<ok/>");
    }
}

TEST(CimClientTransport, ChunkedBodyOverTheLimitIsCutOff)
{
    TempDir dir;
    // Announce chunks without end; the client must stop reading at its limit.
    std::string chunk = std::string(1 << 20, 'x');
    std::string raw = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", chunk.size());
    std::string one = std::string(size) + chunk + "\r\n";
    for (std::size_t sent = 0; sent <= orv::http::kMaxResponseBodyBytes; sent += chunk.size()) raw += one;
    raw += "0\r\n\r\n";
    auto server = ScriptedHttpServer::onUnixSocket(dir.path() + "/s", [&](const orvtest::ReceivedRequest&) {
        return Reply{raw, 0, true};
    });
    auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
    EXPECT_EQ(kindOf([&] { conn->post("/cimom", {}, "x", kTimeout); }), TransportError::Kind::TooLarge);
}

TEST(CimClientTransport, UriEscapingRoundTrips)
{
    using orv::http::uriEscape;
    using orv::http::uriUnescape;
    EXPECT_EQ(uriEscape("root/test"), "root/test");
    EXPECT_EQ(uriEscape("root/test:Test_Base.Name=\"a b\""), "root/test:Test_Base.Name=%22a%20b%22");
    EXPECT_EQ(uriEscape("100%\n\xC3\xA9"), "100%25%0A%C3%A9");
    EXPECT_EQ(uriUnescape("CIM_ERR_NOT_FOUND%3A%20Test_Base.Name%3D%22nope%22"),
              "CIM_ERR_NOT_FOUND: Test_Base.Name=\"nope\"");
    EXPECT_EQ(uriUnescape("bad %zz and %4"), "bad %zz and %4");
    std::string all;
    for (int i = 1; i < 256; ++i) all.push_back(static_cast<char>(i));
    EXPECT_EQ(uriUnescape(uriEscape(all)), all);
}

// ---------------------------------------------------------------------------
// Local authentication

namespace {

// Plays an OpenPegasus server's side of the Local handshake: challenges a
// request naming only the user with `challengePath`, and accepts the answer
// when it carries `secret`.
struct LocalAuthServer {
    std::string challengePath;
    std::string secret;
    std::string user;

    Reply operator()(const orvtest::ReceivedRequest& req) const
    {
        std::string auth = req.header("pegasusauthorization");
        if (auth == "Local \"" + user + "\"") {
            return Reply{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Local \"" + challengePath +
                         "\"\r\nContent-Length: 0\r\n\r\n"};
        }
        if (auth == "Local \"" + user + ":" + challengePath + ":" + secret + "\"")
            return Reply{okReply("<ok/>")};
        return Reply{"HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n"};
    }
};

void writeFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
}

}  // namespace

TEST(CimClientLocalAuth, HandshakeSucceedsWithAChallengeFileInTmp)
{
    TempDir dir;
    // Challenge files live directly in an authentication directory.
    std::string file = "/tmp/cimclient-test-challenge-" + std::to_string(::getpid());
    writeFile(file, "0123456789abcdef\n");
    LocalAuthServer script{file, "0123456789abcdef", "tester"};
    auto server = ScriptedHttpServer::onUnixSocket(
        dir.path() + "/s", [&](const orvtest::ReceivedRequest& r) { return script(r); });
    auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
    conn->enableLocalAuthentication("tester", orv::http::localAuthDirectories());
    HttpResponse r = conn->post("/cimom", cimHeaders("GetClass"), "<x/>", kTimeout);
    ::unlink(file.c_str());
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.body, "<ok/>");
    auto reqs = server->requests();
    ASSERT_EQ(reqs.size(), 2u);
    EXPECT_EQ(reqs[0].header("pegasusauthorization"), "Local \"tester\"");
    EXPECT_EQ(reqs[1].header("pegasusauthorization"), "Local \"tester:" + file + ":0123456789abcdef\"");
}

TEST(CimClientLocalAuth, ChallengesOutsideTheAuthenticationDirectoriesAreRefused)
{
    TempDir dir;
    std::string secretFile = dir.path() + "/secret";  // in a subdirectory of /tmp, not directly in it
    writeFile(secretFile, "TOPSECRET");
    std::string inTmp = "/tmp/cimclient-test-link-" + std::to_string(::getpid());
    std::string plainInTmp = "/tmp/cimclient-test-plain-" + std::to_string(::getpid());
    writeFile(plainInTmp, "PLAIN");
    ASSERT_EQ(::symlink(plainInTmp.c_str(), inTmp.c_str()), 0);
    std::vector<std::string> refused = {
        secretFile,                   // below an allowed directory, not in it
        "/etc/hostname",              // elsewhere entirely
        "/tmp/../etc/hostname",       // climbing out
        "/tmp/./" + inTmp.substr(5),  // dot components
        inTmp,                        // a symbolic link, even to an allowed place
        "relative/path",              // not absolute
        "/tmp/does-not-exist-" + std::to_string(::getpid()),
    };
    for (const auto& path : refused) {
        SCOPED_TRACE(path);
        LocalAuthServer script{path, "whatever", "tester"};
        auto server = ScriptedHttpServer::onUnixSocket(
            dir.path() + "/s", [&](const orvtest::ReceivedRequest& r) { return script(r); });
        auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
        conn->enableLocalAuthentication("tester", orv::http::localAuthDirectories());
        EXPECT_EQ(kindOf([&] { conn->post("/cimom", {}, "x", kTimeout); }),
                  TransportError::Kind::AuthRefused);
        // The file's content never went out.
        auto reqs = server->requests();
        EXPECT_EQ(reqs.size(), 1u);
    }
    ::unlink(inTmp.c_str());
    ::unlink(plainInTmp.c_str());
}

TEST(CimClientLocalAuth, DirectoryReachedThroughALinkIsJudgedByWhereItLeads)
{
    TempDir dir;
    // A link in /tmp pointing at a directory elsewhere must not make its files eligible.
    std::string linkDir = "/tmp/cimclient-test-dirlink-" + std::to_string(::getpid());
    ASSERT_EQ(::symlink(dir.path().c_str(), linkDir.c_str()), 0);
    writeFile(dir.path() + "/f", "X");
    EXPECT_THROW(orv::http::localAuthAnswerHeader("u", linkDir + "/f", {linkDir.substr(0, 4)}),
                 orv::http::LocalAuthError);
    // The same directory, named as allowed, is accepted (both sides resolved).
    EXPECT_NO_THROW(orv::http::localAuthAnswerHeader("u", linkDir + "/f", {linkDir}));
    ::unlink(linkDir.c_str());
}

TEST(CimClientLocalAuth, ChallengeHeaderParsing)
{
    using orv::http::parseLocalChallenge;
    EXPECT_EQ(parseLocalChallenge("Local \"/tmp/x\""), "/tmp/x");
    EXPECT_EQ(parseLocalChallenge("LOCAL  \"/tmp/y\""), "/tmp/y");
    EXPECT_THROW(parseLocalChallenge("Basic realm=\"x\""), orv::http::LocalAuthError);
    EXPECT_THROW(parseLocalChallenge("Local /tmp/x"), orv::http::LocalAuthError);
    EXPECT_THROW(parseLocalChallenge("Local \"/tmp/x"), orv::http::LocalAuthError);
    EXPECT_THROW(parseLocalChallenge("Local \"\""), orv::http::LocalAuthError);
}

TEST(CimClientLocalAuth, OversizedOrStrangeChallengeFilesAreRefused)
{
    std::string big = "/tmp/cimclient-test-big-" + std::to_string(::getpid());
    writeFile(big, std::string(orv::http::kMaxChallengeFileBytes + 10, 'a'));
    EXPECT_THROW(orv::http::localAuthAnswerHeader("u", big), orv::http::LocalAuthError);
    std::string quote = "/tmp/cimclient-test-quote-" + std::to_string(::getpid());
    writeFile(quote, "ab\"c");
    EXPECT_THROW(orv::http::localAuthAnswerHeader("u", quote), orv::http::LocalAuthError);
    ::unlink(big.c_str());
    ::unlink(quote.c_str());
}

TEST(CimClientLocalAuth, SocketPathFromTheEnvironment)
{
    ::setenv("CIM_LOCAL_SOCKET", "/some/where.socket", 1);
    EXPECT_EQ(orv::http::findLocalSocketPath(), "/some/where.socket");
    ::unsetenv("CIM_LOCAL_SOCKET");
    std::string found = orv::http::findLocalSocketPath();
    if (!found.empty()) {
        const auto& d = orv::http::defaultLocalSocketPaths();
        EXPECT_NE(std::find(d.begin(), d.end(), found), d.end());
    }
}

TEST(CimClientTransport, ServerClosingIdleConnectionsIsReconnectedTransparently)
{
    TempDir dir;
    // The server closes every connection after its answer without saying so,
    // as servers do with idle kept-alive connections.
    auto server = ScriptedHttpServer::onUnixSocket(dir.path() + "/s", [&](const orvtest::ReceivedRequest& r) {
        return Reply{okReply("<ok n=\"" + r.body + "\"/>"), 0, true};
    });
    auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(conn->post("/cimom", {}, std::to_string(i), kTimeout).body,
                  "<ok n=\"" + std::to_string(i) + "\"/>");
    }
    // Every request reached the server exactly once.
    auto reqs = server->requests();
    ASSERT_EQ(reqs.size(), 30u);
    for (int i = 0; i < 30; ++i) EXPECT_EQ(reqs[static_cast<std::size_t>(i)].body, std::to_string(i));
}

// ---------------------------------------------------------------------------
// Trust in the local socket and the challenge file

namespace {

// An account that is neither root nor us.
constexpr uid_t kOtherUid = 65534;

std::string connectFailure(const std::string& socketPath)
{
    auto conn = HttpConnection::overUnixSocket(socketPath);
    try {
        conn->post("/cimom", cimHeaders("GetClass"), "<x/>", kTimeout);
    } catch (const TransportError& e) {
        EXPECT_EQ(e.kind(), TransportError::Kind::CannotConnect) << e.what();
        return e.what();
    }
    return "connected";
}

// A server run by another user: a child process that listens on `path` as
// kOtherUid and answers every request with 200, until it is killed.
class ForeignServer {
public:
    explicit ForeignServer(const std::string& dir) : path_(dir + "/s")
    {
        if (::chown(dir.c_str(), kOtherUid, kOtherUid) != 0) throw std::runtime_error("chown");
        int ready[2];
        if (::pipe(ready) != 0) throw std::runtime_error("pipe");
        pid_ = ::fork();
        if (pid_ == 0) {
            ::close(ready[0]);
            if (::setgid(kOtherUid) != 0 || ::setuid(kOtherUid) != 0) ::_exit(2);
            int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un sa{};
            sa.sun_family = AF_UNIX;
            std::strncpy(sa.sun_path, path_.c_str(), sizeof sa.sun_path - 1);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) != 0 || ::listen(fd, 8) != 0)
                ::_exit(3);
            (void)!::write(ready[1], "x", 1);
            static const char kOk[] = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\n<ok>";
            for (;;) {
                int c = ::accept(fd, nullptr, nullptr);
                char buf[4096];
                if (c >= 0 && ::read(c, buf, sizeof buf) > 0) (void)!::write(c, kOk, sizeof kOk - 1);
                if (c >= 0) ::close(c);
            }
        }
        ::close(ready[1]);
        char x;
        bool up = ::read(ready[0], &x, 1) == 1;
        ::close(ready[0]);
        if (!up) throw std::runtime_error("the foreign server did not start");
        // The name now looks like root's own, in root's own directory.
        if (::lchown(path_.c_str(), 0, 0) != 0 || ::chown(dir.c_str(), 0, 0) != 0)
            throw std::runtime_error("chown");
    }
    ~ForeignServer()
    {
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
    }
    const std::string& path() const { return path_; }

private:
    std::string path_;
    pid_t pid_ = -1;
};

}  // namespace

TEST(CimClientLocalSocket, SocketsOthersCouldHavePlantedAreRefusedBeforeAnythingIsSent)
{
    struct Case {
        const char* what;
        std::function<void(const std::string& dir, const std::string& socket)> plant;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"socket of another user",
         [](const std::string&, const std::string& s) {
             ASSERT_EQ(::lchown(s.c_str(), kOtherUid, kOtherUid), 0);
         },
         "the socket is owned by uid 65534"},
        {"directory anyone may write",
         [](const std::string& d, const std::string&) { ASSERT_EQ(::chmod(d.c_str(), 0777), 0); },
         "writable by other users and not sticky"},
        {"directory of another user",
         [](const std::string& d, const std::string&) {
             ASSERT_EQ(::chown(d.c_str(), kOtherUid, kOtherUid), 0);
         },
         "is owned by uid 65534"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        std::string path = dir.path() + "/s";
        auto server = ScriptedHttpServer::onUnixSocket(
            path, [](const orvtest::ReceivedRequest&) { return Reply{okReply("<ok/>")}; });
        c.plant(dir.path(), path);
        EXPECT_NE(connectFailure(path).find(c.reason), std::string::npos) << connectFailure(path);
        EXPECT_TRUE(server->requests().empty());
    }
    // Files that are neither sockets are refused too.
    TempDir dir;
    writeFile(dir.path() + "/plain", "x");
    EXPECT_NE(connectFailure(dir.path() + "/plain").find("not a socket"), std::string::npos);
}

TEST(CimClientLocalSocket, ASocketInAStickyDirectoryOwnedByRootIsUsed)
{
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 01777), 0);  // as /var/tmp
    auto server = ScriptedHttpServer::onUnixSocket(
        dir.path() + "/s", [](const orvtest::ReceivedRequest&) { return Reply{okReply("<ok/>")}; });
    auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
    EXPECT_NO_THROW(conn->checkReachable(kTimeout));
    EXPECT_EQ(conn->post("/cimom", cimHeaders("GetClass"), "<x/>", kTimeout).status, 200);
}

TEST(CimClientLocalSocket, AServerOfAnotherUserBehindATrustedNameIsRefused)
{
    TempDir dir;
    ForeignServer server(dir.path());
    // The name passes every check; the listening process does not.
    EXPECT_EQ(orv::http::untrustedSocketPathReason(server.path()), "");
    std::string why = connectFailure(server.path());
    EXPECT_NE(why.find("the process listening on it runs as uid 65534"), std::string::npos) << why;
    auto conn = HttpConnection::overUnixSocket(server.path());
    EXPECT_EQ(kindOf([&] { conn->checkReachable(kTimeout); }), TransportError::Kind::CannotConnect);
}

// A connection's peer is judged once, when it is made: a server of another
// user that takes the name over is judged anew on the next connection.
TEST(CimClientLocalSocket, AServerOfAnotherUserThatTakesTheNameOverIsRefusedOnTheNextConnection)
{
    TempDir dir;
    const std::string path = dir.path() + "/s";
    auto conn = HttpConnection::overUnixSocket(path);
    {
        auto trusted = ScriptedHttpServer::onUnixSocket(
            path, [](const orvtest::ReceivedRequest&) { return Reply{okReply("<ok/>")}; });
        ASSERT_EQ(conn->post("/cimom", cimHeaders("GetClass"), "<x/>", kTimeout).status, 200);
        ASSERT_EQ(conn->post("/cimom", cimHeaders("GetClass"), "<x/>", kTimeout).status, 200);
    }
    ::unlink(path.c_str());
    ForeignServer foreign(dir.path());
    try {
        conn->post("/cimom", cimHeaders("GetClass"), "<x/>", kTimeout);
        ADD_FAILURE() << "the foreign server was used";
    } catch (const TransportError& e) {
        EXPECT_EQ(e.kind(), TransportError::Kind::CannotConnect) << e.what();
        EXPECT_NE(std::string(e.what()).find("runs as uid 65534"), std::string::npos) << e.what();
    }
}

TEST(CimClientLocalAuth, ChallengeFilesThatAreNotTheCallersOwnAreNeitherReadNorSent)
{
    struct Case {
        const char* what;
        uid_t owner;
        mode_t mode;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {"another user's secret", kOtherUid, 0600, "owned by uid 65534"},
        {"group may write", 0, 0620, "writable by group or others"},
        {"anyone may write", 0, 0602, "writable by group or others"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::string file = "/tmp/cimclient-test-foreign-" + std::to_string(::getpid());
        writeFile(file, "THEIRSECRET\n");
        ASSERT_EQ(::chown(file.c_str(), c.owner, c.owner), 0);
        ASSERT_EQ(::chmod(file.c_str(), c.mode), 0);
        TempDir dir;
        LocalAuthServer script{file, "THEIRSECRET", "tester"};
        auto server = ScriptedHttpServer::onUnixSocket(
            dir.path() + "/s", [&](const orvtest::ReceivedRequest& r) { return script(r); });
        auto conn = HttpConnection::overUnixSocket(dir.path() + "/s");
        conn->enableLocalAuthentication("tester", orv::http::localAuthDirectories());
        try {
            conn->post("/cimom", {}, "x", kTimeout);
            ADD_FAILURE() << "the challenge was answered";
        } catch (const TransportError& e) {
            EXPECT_EQ(e.kind(), TransportError::Kind::AuthRefused);
            EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
        }
        EXPECT_EQ(server->requests().size(), 1u);
        ::unlink(file.c_str());
    }
}
