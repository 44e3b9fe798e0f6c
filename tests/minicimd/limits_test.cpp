// What a hostile local client can make minicimd hold or do: bodies of
// requests it refuses, bodies beyond the budget of all requests together,
// documents of empty elements, and challenges of other connections.
#include "minicimd_process.h"
#include "raw_http.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <pwd.h>
#include <sys/stat.h>
#include <thread>

using namespace orvtest;

namespace {

// The most memory the process has held so far, in bytes.
size_t peakResident(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::stoul(line.substr(6)) * 1024;
    return 0;
}

constexpr size_t kMiB = 1024 * 1024;

std::string me()
{
    struct passwd* pw = getpwuid(getuid());
    return pw ? pw->pw_name : "";
}

std::string enumerateClassNames()
{
    return cimPost("EnumerateClassNames", imethodCall("EnumerateClassNames", ""));
}

// The request's head with an authorization header and a body of `size` bytes, sent in pieces.
void sendLarge(RawConnection& c, const std::string& authorization, size_t size, size_t upTo)
{
    std::string head =
        "POST /cimom HTTP/1.1\r\nHost: localhost\r\nContent-Type: application/xml\r\n"
        "CIMOperation: MethodCall\r\nCIMMethod: EnumerateClassNames\r\nCIMObject: root%2Ftest\r\n" +
        authorization + "Content-Length: " + std::to_string(size) + "\r\n\r\n";
    ASSERT_TRUE(c.send(head));
    std::string piece(kMiB, 'x');
    for (size_t sent = 0; sent < upTo; sent += piece.size())
        ASSERT_TRUE(c.send(piece.substr(0, std::min(piece.size(), upTo - sent))));
}

}  // namespace

TEST(Limits, UnauthenticatedBodiesAreNotKept)
{
    MinicimdProcess::Options o;
    o.localAuth = true;
    MinicimdProcess s(o);
    const size_t before = peakResident(s.pid());
    ASSERT_GT(before, 0u);
    // Several connections each send most of a 15 MiB body without authenticating.
    constexpr size_t kBody = 15 * kMiB;
    std::vector<RawConnection> conns;
    for (int i = 0; i < 6; ++i) {
        conns.push_back(RawConnection::unixSocket(s.socketPath()));
        sendLarge(conns.back(), i % 2 ? "PegasusAuthorization: Local \"" + me() + "\"\r\n" : "", kBody,
                  kBody - kMiB);
    }
    for (auto& c : conns) {
        ASSERT_TRUE(c.send(std::string(kMiB, 'x')));
        EXPECT_EQ(c.read().status, 401);
    }
    EXPECT_LT(peakResident(s.pid()), before + 16 * kMiB) << "bodies of refused requests were kept";
}

TEST(Limits, BodiesBeyondTheBudgetAreAnswered503)
{
    MinicimdProcess s(MinicimdProcess::Options{});
    constexpr size_t kBody = 15 * kMiB;
    // More bodies in flight at once than the budget holds (64 MiB).
    std::vector<RawConnection> conns;
    for (int i = 0; i < 6; ++i) {
        conns.push_back(RawConnection::unixSocket(s.socketPath()));
        sendLarge(conns.back(), "", kBody, kBody - kMiB);
    }
    int unavailable = 0;
    for (auto& c : conns) {
        ASSERT_TRUE(c.send(std::string(kMiB, 'x')));
        RawResponse r = c.read();
        // Within the budget: read, and then refused as the junk it is.
        EXPECT_TRUE(r.status == 400 || r.status == 503) << r.status;
        if (r.status == 503) ++unavailable;
    }
    EXPECT_GE(unavailable, 1);
    // And the budget is given back: an ordinary request is served.
    RawConnection c = RawConnection::unixSocket(s.socketPath());
    c.send(enumerateClassNames());
    EXPECT_EQ(c.read().status, 200);
}

TEST(Limits, ManyEmptyElementsAreRefusedBeforeParsing)
{
    MinicimdProcess s(MinicimdProcess::Options{});
    const size_t before = peakResident(s.pid());
    std::string body =
        "<?xml version=\"1.0\"?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"1\" "
        "PROTOCOLVERSION=\"1.0\"><SIMPLEREQ>";
    for (int i = 0; i < 1000000; ++i) body += "<a/>";
    body += "</SIMPLEREQ></MESSAGE></CIM>";
    RawConnection c = RawConnection::unixSocket(s.socketPath());
    c.send(cimPost("EnumerateClassNames", body));
    RawResponse r = c.read();
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.header("cimerror"), "request-not-valid");
    EXPECT_NE(r.header("pgerrordetail").find("tags"), std::string::npos) << r.header("pgerrordetail");
    // The body itself (4 MiB) is held; its tokens never were.
    EXPECT_LT(peakResident(s.pid()), before + 32 * kMiB);
}

namespace {

// Asks for a challenge on `c`; gives the file's path.
std::string askChallenge(RawConnection& c)
{
    c.send(cimPost("EnumerateClassNames", imethodCall("EnumerateClassNames", ""), true,
                   "PegasusAuthorization: Local \"" + me() + "\"\r\n"));
    RawResponse r = c.read();
    EXPECT_EQ(r.status, 401);
    std::string h = r.header("www-authenticate");  // Local "<path>"
    size_t q = h.find('"');
    return q == std::string::npos ? "" : h.substr(q + 1, h.size() - q - 2);
}

int answerChallenge(RawConnection& c, const std::string& path)
{
    std::ifstream in(path);
    std::string content;
    std::getline(in, content);
    c.send(cimPost("EnumerateClassNames", imethodCall("EnumerateClassNames", ""), true,
                   "PegasusAuthorization: Local \"" + me() + ":" + path + ":" + content + "\"\r\n"));
    return c.read().status;
}

}  // namespace

TEST(Limits, AChallengeIsAnsweredOnlyOnItsConnection)
{
    // A directory of the server's own for challenges: made unlistable to others.
    char tmpl[] = "/tmp/minicimd-authdir-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string dir = tmpl;
    ASSERT_EQ(chmod(dir.c_str(), 0755), 0);
    {
        MinicimdProcess::Options o;
        o.localAuth = true;
        o.extra = {"--auth-dir", dir};
        MinicimdProcess s(o);
        struct stat st;
        ASSERT_EQ(stat(dir.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0711u);
        RawConnection asked = RawConnection::unixSocket(s.socketPath());
        std::string path = askChallenge(asked);
        EXPECT_EQ(path.substr(0, dir.size() + 1), dir + "/");
        // Another connection with the right answer neither succeeds nor uses it up.
        RawConnection other = RawConnection::unixSocket(s.socketPath());
        EXPECT_EQ(answerChallenge(other, path), 401);
        EXPECT_EQ(answerChallenge(asked, path), 200);
        // Once in, the connection stays in.
        asked.send(enumerateClassNames());
        EXPECT_EQ(asked.read().status, 200);
    }
    rmdir(dir.c_str());
}

TEST(Limits, OneUserCannotTakeEveryConnection)
{
    MinicimdProcess s(MinicimdProcess::Options{});
    // Far more idle connections than one user may hold; the server's own
    // limit (256) is not reached, so others would still get in.
    std::vector<RawConnection> idle;
    for (int i = 0; i < 100; ++i) idle.push_back(RawConnection::unixSocket(s.socketPath()));
    int refused = 0;
    for (auto& c : idle) {
        RawResponse r = c.read(200);
        if (r.status == 503) ++refused;
    }
    EXPECT_GE(refused, 100 - 48) << "connections beyond the user's limit are answered and closed";
    EXPECT_LT(refused, 100);
    // Once the user lets go, it is served again.
    idle.clear();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    RawConnection c = RawConnection::unixSocket(s.socketPath());
    c.send(enumerateClassNames());
    EXPECT_EQ(c.read().status, 200);
}

TEST(Limits, ARequestThatTricklesInIsCutOff)
{
    MinicimdProcess::Options o;
    o.extra = {"--request-deadline", "2"};
    MinicimdProcess s(o);
    RawConnection c = RawConnection::unixSocket(s.socketPath());
    // One byte of the headers every 200 ms: never idle, never done.
    std::string request = enumerateClassNames();
    auto start = std::chrono::steady_clock::now();
    bool cut = false;
    for (size_t i = 0;
         i < request.size() && std::chrono::steady_clock::now() - start < std::chrono::seconds(60); ++i) {
        if (!c.send(request.substr(i, 1))) {
            cut = true;
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_TRUE(cut || c.closedByPeer(1000)) << "the trickling request was let run";
    EXPECT_NE(s.readLog().find("did not come whole"), std::string::npos) << s.readLog();
}
