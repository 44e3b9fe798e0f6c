// CIMClient end to end against a real socket server that answers with the
// recorded OpenPegasus exchanges: what the client sends is compared with the
// recorded requests, and what it returns or throws with what the server said.
#include <gtest/gtest.h>

#include <Pegasus/Client/CIMClient.h>
#include <Pegasus/Common/CIMDateTime.h>
#include <Pegasus/Common/CIMProperty.h>

#include <unistd.h>

#include <chrono>
#include <fstream>
#include <functional>

#include "sample_files.h"
#include "CimXml/CimXml.h"
#include "Client/LocalAuth.h"
#include "scripted_http_server.h"
#include "pegasus_text.h"

using namespace Pegasus;
using orv::cimxml::CimRequest;
using orv::cimxml::IParamValue;
using orvtest::Reply;
using orvtest::ScriptedHttpServer;
using orvtest::str;
using orvtest::TempDir;

namespace {

// The recorded answer of an exchange as bytes for the wire, with the
// client's message ID put in place of the recorded one.
std::string recordedAnswer(const std::string& name, const std::string& messageId)
{
    std::string headers = orvtest::sample(name + ".headers.txt");
    std::string body = orvtest::fileExists(orvtest::samplesDir() + "/" + name + ".body.xml")
                           ? orvtest::sample(name + ".body.xml")
                           : std::string();
    const std::string recordedId = "MESSAGE ID=\"1001\"";
    std::size_t at = body.find(recordedId);
    if (at != std::string::npos) body.replace(at, recordedId.size(), "MESSAGE ID=\"" + messageId + "\"");
    std::size_t end = headers.find("\r\n\r\n");
    std::string head = headers.substr(0, end + 2);
    auto trailers = orvtest::recordedTrailers(headers);
    if (head.find("chunked") != std::string::npos) {
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", body.size());
        std::string raw = head + "\r\n" + size + body + "\r\n0\r\n";
        for (const auto& t : trailers) raw += t.first + ": " + t.second + "\r\n";
        return raw + "\r\n";
    }
    std::size_t cl = head.find("content-length: ");
    if (cl != std::string::npos) {
        std::size_t eol = head.find("\r\n", cl);
        head.replace(cl, eol - cl, "content-length: " + std::to_string(body.size()));
    } else {
        head += "Content-Length: " + std::to_string(body.size()) + "\r\n";
    }
    return head + "\r\n" + body;
}

std::string messageIdOf(const std::string& requestBody)
{
    std::size_t at = requestBody.find("MESSAGE ID=\"");
    if (at == std::string::npos) return "0";
    at += 12;
    return requestBody.substr(at, requestBody.find('"', at) - at);
}

// Serves one recorded exchange per request on a Unix socket, set by `next`.
struct RecordedServer {
    TempDir dir;
    std::string next;
    std::unique_ptr<ScriptedHttpServer> server;

    RecordedServer()
    {
        server = ScriptedHttpServer::onUnixSocket(dir.path() + "/cimxml.socket",
                                                  [this](const orvtest::ReceivedRequest& r) {
                                                      return Reply{recordedAnswer(next, messageIdOf(r.body))};
                                                  });
        ::setenv("CIM_LOCAL_SOCKET", (dir.path() + "/cimxml.socket").c_str(), 1);
    }
    ~RecordedServer() { ::unsetenv("CIM_LOCAL_SOCKET"); }

    orvtest::ReceivedRequest last() const { return server->requests().back(); }
};

// The DSP0200 defaults of the boolean parameters, for comparing requests
// that spell them out with requests that leave them to the server.
bool defaultOf(const std::string& method, const std::string& param)
{
    if (param == "LocalOnly") return true;
    if (param == "IncludeQualifiers") return method == "GetClass" || method == "ModifyInstance";
    if (param == "DeepInheritance") return method == "EnumerateInstances";
    return false;  // IncludeClassOrigin
}

std::string canonical(const IParamValue& p)
{
    using K = IParamValue::Kind;
    std::string out;
    switch (p.kind) {
        case K::Null:
            return "null";
        case K::Value:
            return "value:" + orv::cimxml::valueText(p.value);
        case K::ValueArray:
        case K::ValueReference:
            orv::cimxml::writeValueElement(out, p.kind == K::ValueArray ? p.value : CIMValue(p.path));
            return out;
        case K::ClassName:
            return "class:" + str(p.className.getString());
        case K::InstanceName:
            return "name:" + str(p.path.toString());
        case K::Class:
            orv::cimxml::writeClass(out, p.cimClass);
            return out;
        case K::Instance:
            orv::cimxml::writeInstance(out, p.instance);
            return out;
        case K::NamedInstance:
            orv::cimxml::writeInstance(out, p.instance);
            return out + str(p.instance.getPath().toString());
    }
    return out;
}

// What our client sent means what the recorded request means: same call,
// same namespace, same parameters (a boolean left out is its default).
void expectSameRequest(const std::string& sentBody, const std::string& recordedName)
{
    SCOPED_TRACE(recordedName);
    CimRequest ours = orv::cimxml::readRequest(sentBody);
    CimRequest rec = orv::cimxml::readRequest(orvtest::sample(recordedName + ".request.xml"));
    EXPECT_EQ(ours.intrinsic, rec.intrinsic);
    EXPECT_EQ(ours.methodName, rec.methodName);
    EXPECT_TRUE(ours.nameSpace == rec.nameSpace);
    if (!rec.intrinsic) {
        EXPECT_TRUE(ours.target == rec.target) << str(ours.target.toString());
        ASSERT_EQ(ours.params.size(), rec.params.size());
        for (Uint32 i = 0; i < rec.params.size(); ++i) {
            EXPECT_EQ(str(ours.params[i].getParameterName()), str(rec.params[i].getParameterName()));
            EXPECT_TRUE(ours.params[i].getValue() == rec.params[i].getValue());
        }
        return;
    }
    std::vector<std::string> names;
    for (const auto& p : rec.iparams) names.push_back(p.name);
    for (const auto& p : ours.iparams) {
        if (rec.findIParam(p.name) == nullptr) names.push_back(p.name);
    }
    for (const auto& n : names) {
        SCOPED_TRACE(n);
        const IParamValue* o = ours.findIParam(n);
        const IParamValue* r = rec.findIParam(n);
        bool isFlag = n == "LocalOnly" || n == "IncludeQualifiers" || n == "IncludeClassOrigin" ||
                      n == "DeepInheritance";
        if (isFlag) {
            EXPECT_EQ(orv::cimxml::iparamBoolean(ours, n, defaultOf(rec.methodName, n)),
                      orv::cimxml::iparamBoolean(rec, n, defaultOf(rec.methodName, n)));
            continue;
        }
        ASSERT_NE(o, nullptr) << "we did not send " << n;
        ASSERT_NE(r, nullptr) << "we sent " << n << " which the recording lacks";
        EXPECT_EQ(canonical(*o), canonical(*r));
    }
}

CIMObjectPath path(const char* text)
{
    return CIMObjectPath(String(text));
}

template <class E>
E thrown(const std::function<void()>& f)
{
    try {
        f();
    } catch (const E& e) {
        return e;
    } catch (...) {
        try {
            throw;
        } catch (const Exception& other) {
            ADD_FAILURE() << "other exception: " << str(other.getMessage());
        } catch (...) {
            ADD_FAILURE() << "other exception";
        }
        throw;
    }
    ADD_FAILURE() << "nothing thrown";
    throw std::runtime_error("nothing thrown");
}

}  // namespace

TEST(CimClientRecorded, EveryRecordedOperationSendsTheSameRequestAndReadsTheAnswer)
{
    RecordedServer s;
    CIMClient c;
    c.connectLocal();
    const CIMNamespaceName test("root/test");

    s.next = "GetClass-Test_Base";
    CIMClass cls = c.getClass(test, CIMName("Test_Base"), false, true, true);
    EXPECT_EQ(cls.getPropertyCount(), 10u);
    expectSameRequest(s.last().body, "GetClass-Test_Base");

    s.next = "GetClass-Test_Child-localonly";
    EXPECT_EQ(
        str(c.getClass(test, CIMName("Test_Child"), true, false, false).getSuperClassName().getString()),
        "Test_Base");
    expectSameRequest(s.last().body, "GetClass-Test_Child-localonly");

    s.next = "GetClass-CIM_ComputerSystem";
    c.getClass(CIMNamespaceName("root/cimv2"), CIMName("CIM_ComputerSystem"), false, true, true);
    expectSameRequest(s.last().body, "GetClass-CIM_ComputerSystem");

    s.next = "GetInstance-Perf_Item-3";
    CIMInstance perf = c.getInstance(CIMNamespaceName("root/perf"), path("Perf_Item.Id=3"), false);
    EXPECT_EQ(perf.getPropertyCount(), 100u);
    EXPECT_EQ(str(perf.getPath().toString()), "Perf_Item.Id=3");
    expectSameRequest(s.last().body, "GetInstance-Perf_Item-3");

    s.next = "GetInstance-alpha";
    CIMInstance alpha = c.getInstance(test, path("Test_Base.Name=\"alpha\""));
    Uint64 big = 0;
    alpha.getProperty(alpha.findProperty("Big")).getValue().get(big);
    EXPECT_EQ(big, 18446744073709551615ull);

    s.next = "EnumerateClassNames-deep";
    Array<CIMName> classes = c.enumerateClassNames(test, CIMName(), true);
    ASSERT_EQ(classes.size(), 2u);
    expectSameRequest(s.last().body, "EnumerateClassNames-deep");

    s.next = "EnumerateInstanceNames-Test_Base";
    Array<CIMObjectPath> names = c.enumerateInstanceNames(test, CIMName("Test_Base"));
    ASSERT_EQ(names.size(), 2u);
    EXPECT_EQ(str(names[1].toString()), "Test_Child.Id=2,Name=\"beta\"");
    expectSameRequest(s.last().body, "EnumerateInstanceNames-Test_Base");

    s.next = "EnumerateInstanceNames-Perf_Item";
    EXPECT_EQ(c.enumerateInstanceNames(CIMNamespaceName("root/perf"), CIMName("Perf_Item")).size(), 9990u);
    expectSameRequest(s.last().body, "EnumerateInstanceNames-Perf_Item");

    s.next = "EnumerateInstances-Test_Base";
    Array<CIMInstance> insts = c.enumerateInstances(test, CIMName("Test_Base"), true, false, false, true);
    ASSERT_EQ(insts.size(), 2u);
    EXPECT_EQ(str(insts[0].getPath().toString()), "Test_Base.Name=\"alpha\"");
    expectSameRequest(s.last().body, "EnumerateInstances-Test_Base");

    s.next = "CreateInstance-gamma";
    CIMInstance gamma(CIMName("Test_Base"));
    gamma.addProperty(CIMProperty(CIMName("Name"), CIMValue(String("gamma"))));
    gamma.addProperty(CIMProperty(CIMName("Count"), CIMValue(Uint32(4294967295u))));
    gamma.addProperty(
        CIMProperty(CIMName("When"), CIMValue(CIMDateTime(String("20261207041311.000000+000")))));
    Array<String> tags;
    tags.append("x&y");
    tags.append("<z>");
    gamma.addProperty(CIMProperty(CIMName("Tags"), CIMValue(tags)));
    EXPECT_EQ(str(c.createInstance(test, gamma).toString()), "Test_Base.Name=\"gamma\"");
    expectSameRequest(s.last().body, "CreateInstance-gamma");

    s.next = "GetProperty-Label";
    CIMValue label = c.getProperty(test, path("Test_Base.Name=\"alpha\""), CIMName("Label"));
    String labelText;
    label.get(labelText);
    EXPECT_EQ(str(labelText), "changed");
    expectSameRequest(s.last().body, "GetProperty-Label");

    s.next = "SetProperty-Label";
    c.setProperty(test, path("Test_Base.Name=\"alpha\""), CIMName("Label"), CIMValue(String("changed")));
    expectSameRequest(s.last().body, "SetProperty-Label");

    s.next = "DeleteInstance-gamma";
    c.deleteInstance(test, path("Test_Base.Name=\"gamma\""));
    expectSameRequest(s.last().body, "DeleteInstance-gamma");

    // The HTTP side of a request.
    auto req = s.last();
    EXPECT_EQ(req.requestLine, "POST /cimom HTTP/1.1");
    EXPECT_EQ(req.header("cimoperation"), "MethodCall");
    EXPECT_EQ(req.header("cimmethod"), "DeleteInstance");
    EXPECT_EQ(req.header("cimobject"), "root/test");
    EXPECT_EQ(req.header("content-type"), "application/xml; charset=\"utf-8\"");
    EXPECT_EQ(req.header("te"), "trailers");
    EXPECT_EQ(req.header("pegasusauthorization"), "Local \"" + orv::http::currentUserName() + "\"");
    // One connection for all of them.
    EXPECT_EQ(s.server->connections(), 2);  // the reachability probe, then the persistent one
}

TEST(CimClientRecorded, FailuresInTheTrailerAndInTheBodyBecomeCIMExceptions)
{
    RecordedServer s;
    CIMClient c;
    c.connectLocal();
    const CIMNamespaceName test("root/test");
    struct Case {
        const char* name;
        std::function<void()> call;
        CIMStatusCode code;
        const char* message;
    };
    std::vector<Case> cases = {
        {"GetInstance-missing", [&] { c.getInstance(test, path("Test_Base.Name=\"nope\"")); },
         CIM_ERR_NOT_FOUND, "CIM_ERR_NOT_FOUND: Test_Base.Name=\"nope\""},
        {"GetInstance-missing-without-TE", [&] { c.getInstance(test, path("Test_Base.Name=\"nope\"")); },
         CIM_ERR_NOT_FOUND, "CIM_ERR_NOT_FOUND: Test_Base.Name=\"nope\""},
        {"GetClass-bad-namespace", [&] { c.getClass(CIMNamespaceName("root/nosuch"), CIMName("Test_Base")); },
         CIM_ERR_INVALID_NAMESPACE, "CIM_ERR_INVALID_NAMESPACE: root/nosuch"},
        {"GetClass-no-such-class", [&] { c.getClass(test, CIMName("No_Such")); }, CIM_ERR_NOT_FOUND,
         "CIM_ERR_NOT_FOUND: No_Such"},
        {"DeleteInstance-gamma-again", [&] { c.deleteInstance(test, path("Test_Base.Name=\"gamma\"")); },
         CIM_ERR_NOT_FOUND, "CIM_ERR_NOT_FOUND: Test_Base.Name=\"gamma\""},
        {"CreateInstance-gamma-again",
         [&] {
             CIMInstance g(CIMName("Test_Base"));
             g.addProperty(CIMProperty(CIMName("Name"), CIMValue(String("gamma"))));
             c.createInstance(test, g);
         },
         CIM_ERR_ALREADY_EXISTS, "CIM_ERR_ALREADY_EXISTS: Test_Base.Name=\"gamma\""},
        {"InvokeMethod-DoIt",
         [&] {
             Array<CIMParamValue> in, out;
             in.append(CIMParamValue("Arg", CIMValue(String("hi"))));
             c.invokeMethod(test, path("Test_Base.Name=\"alpha\""), CIMName("DoIt"), in, out);
         },
         CIM_ERR_METHOD_NOT_AVAILABLE, "CIM_ERR_METHOD_NOT_AVAILABLE: DoIt"},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.name);
        s.next = k.name;
        CIMException e = thrown<CIMException>(k.call);
        EXPECT_EQ(e.getCode(), k.code);
        EXPECT_EQ(str(e.getMessage()), k.message);
        if (orvtest::fileExists(orvtest::samplesDir() + "/" + k.name + ".request.xml")) {
            expectSameRequest(s.last().body, k.name);
        }
    }
    EXPECT_EQ(s.last().header("cimobject"), "root/test:Test_Base.Name=%22alpha%22");

    // A body that is not XML: HTTP 400 with the server's CIMError and detail.
    s.next = "Malformed";
    CIMClientHTTPErrorException h =
        thrown<CIMClientHTTPErrorException>([&] { c.getClass(test, CIMName("X")); });
    EXPECT_EQ(h.getCode(), 400u);
    EXPECT_EQ(str(h.getReasonPhrase()), "Bad Request");
    EXPECT_EQ(str(h.getCIMError()), "request-not-valid");
    EXPECT_EQ(str(h.getCIMErrorDetail()),
              "Validation error: on line 1: Expected <?xml ... ?> style declaration");

    // And the client goes on working.
    s.next = "EnumerateClassNames-deep";
    EXPECT_EQ(c.enumerateClassNames(test, CIMName(), true).size(), 2u);
}

// ---------------------------------------------------------------------------

namespace {
std::string okAnswer(const std::string& body)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: application/xml; charset=utf-8\r\nCIMOperation: "
           "MethodResponse\r\n"
           "Content-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string classNamesBody(const std::string& id)
{
    return "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n<CIM CIMVERSION=\"2.0\" "
           "DTDVERSION=\"2.0\">\n<MESSAGE ID=\"" +
           id +
           "\" PROTOCOLVERSION=\"1.0\">\n<SIMPLERSP>\n<IMETHODRESPONSE "
           "NAME=\"EnumerateClassNames\">\n<IRETURNVALUE>\n"
           "<CLASSNAME NAME=\"A\"/>\n</IRETURNVALUE>\n</IMETHODRESPONSE>\n</SIMPLERSP>\n</MESSAGE>\n</CIM>\n";
}
}  // namespace

TEST(CimClientConnection, LocalAuthenticationHandshake)
{
    TempDir dir;
    std::string user = orv::http::currentUserName();
    std::string challenge = "/tmp/cimclient-test-localauth-" + std::to_string(::getpid());
    std::ofstream(challenge) << "s3cr3t-token";
    bool authenticated = false;
    auto server =
        ScriptedHttpServer::onUnixSocket(dir.path() + "/sock", [&](const orvtest::ReceivedRequest& r) {
            std::string auth = r.header("pegasusauthorization");
            if (auth == "Local \"" + user + ":" + challenge + ":s3cr3t-token\"") authenticated = true;
            if (!authenticated) {
                return Reply{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Local \"" + challenge +
                             "\"\r\nContent-Length: 0\r\n\r\n"};
            }
            return Reply{okAnswer(classNamesBody(messageIdOf(r.body)))};
        });
    ::setenv("CIM_LOCAL_SOCKET", (dir.path() + "/sock").c_str(), 1);
    CIMClient c;
    c.connectLocal();
    ::unsetenv("CIM_LOCAL_SOCKET");
    EXPECT_EQ(c.enumerateClassNames(CIMNamespaceName("root/test")).size(), 1u);
    ::unlink(challenge.c_str());
    EXPECT_TRUE(authenticated);
}

TEST(CimClientConnection, RefusedChallengeIsAnErrorAndNothingIsRevealed)
{
    TempDir dir;
    std::string secret = dir.path() + "/not-a-challenge";
    std::ofstream(secret) << "private";
    auto server =
        ScriptedHttpServer::onUnixSocket(dir.path() + "/sock", [&](const orvtest::ReceivedRequest&) {
            return Reply{"HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Local \"" + secret +
                         "\"\r\nContent-Length: 0\r\n\r\n"};
        });
    ::setenv("CIM_LOCAL_SOCKET", (dir.path() + "/sock").c_str(), 1);
    CIMClient c;
    c.connectLocal();
    ::unsetenv("CIM_LOCAL_SOCKET");
    Exception e = thrown<Exception>([&] { c.enumerateClassNames(CIMNamespaceName("root/test")); });
    EXPECT_NE(str(e.getMessage()).find("not in a local authentication directory"), std::string::npos);
    for (const auto& r : server->requests()) EXPECT_EQ(r.body.find("private"), std::string::npos);
    for (const auto& r : server->requests())
        EXPECT_EQ(r.header("pegasusauthorization").find("private"), std::string::npos);
}

TEST(CimClientConnection, ConnectionStatesAndUnreachableServers)
{
    TempDir dir;
    CIMClient c;
    EXPECT_EQ(c.getTimeout(), 20000u);
    c.disconnect();  // no-op when not connected
    thrown<NotConnectedException>([&] { c.enumerateClassNames(CIMNamespaceName("root/test")); });

    ::setenv("CIM_LOCAL_SOCKET", (dir.path() + "/nobody").c_str(), 1);
    CannotConnectException e = thrown<CannotConnectException>([&] { c.connectLocal(); });
    EXPECT_NE(str(e.getMessage()).find(dir.path() + "/nobody"), std::string::npos);
    thrown<CannotConnectException>([&] { c.connect("", 0, "", ""); });  // the local socket too
    ::unsetenv("CIM_LOCAL_SOCKET");
    thrown<InvalidLocatorException>([&] { c.connect("localhost", 70000, "", ""); });

    unsigned port;
    {
        auto tmp = ScriptedHttpServer::onLoopbackTcp([](const orvtest::ReceivedRequest&) { return Reply{}; });
        port = tmp->port();
    }
    thrown<CannotConnectException>([&] { c.connect("127.0.0.1", port, "u", "p"); });

    auto server = ScriptedHttpServer::onLoopbackTcp([&](const orvtest::ReceivedRequest& r) {
        return Reply{okAnswer(classNamesBody(messageIdOf(r.body)))};
    });
    c.connect("127.0.0.1", server->port(), "alice", "pw");
    thrown<AlreadyConnectedException>([&] { c.connect("127.0.0.1", server->port(), "alice", "pw"); });
    thrown<AlreadyConnectedException>([&] { c.connectLocal(); });
    EXPECT_EQ(c.enumerateClassNames(CIMNamespaceName("root/test")).size(), 1u);
    EXPECT_EQ(server->requests().back().header("authorization"), "Basic YWxpY2U6cHc=");
    c.disconnect();
    thrown<NotConnectedException>([&] { c.enumerateClassNames(CIMNamespaceName("root/test")); });
}

TEST(CimClientConnection, TimeoutThenRecovery)
{
    TempDir dir;
    std::atomic<int> calls{0};
    auto server =
        ScriptedHttpServer::onUnixSocket(dir.path() + "/sock", [&](const orvtest::ReceivedRequest& r) {
            Reply reply{okAnswer(classNamesBody(messageIdOf(r.body)))};
            if (calls++ == 0) reply.stallMilliseconds = 10000;
            return reply;
        });
    ::setenv("CIM_LOCAL_SOCKET", (dir.path() + "/sock").c_str(), 1);
    CIMClient c;
    c.connectLocal();
    ::unsetenv("CIM_LOCAL_SOCKET");
    c.setTimeout(800);
    EXPECT_EQ(c.getTimeout(), 800u);
    auto start = std::chrono::steady_clock::now();
    thrown<ConnectionTimeoutException>([&] { c.enumerateClassNames(CIMNamespaceName("root/test")); });
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start)
                  .count();
    EXPECT_GE(ms, 750);
    EXPECT_LT(ms, 800 + 5000);
    EXPECT_EQ(c.enumerateClassNames(CIMNamespaceName("root/test")).size(), 1u);
}

TEST(CimClientConnection, BrokenAnswersGiveClearExceptionsAndTheClientRecovers)
{
    TempDir dir;
    std::function<std::string(const std::string&)> next;
    auto server =
        ScriptedHttpServer::onUnixSocket(dir.path() + "/sock", [&](const orvtest::ReceivedRequest& r) {
            return Reply{next(messageIdOf(r.body)), 0, true};
        });
    ::setenv("CIM_LOCAL_SOCKET", (dir.path() + "/sock").c_str(), 1);
    CIMClient c;
    c.connectLocal();
    ::unsetenv("CIM_LOCAL_SOCKET");
    const CIMNamespaceName ns("root/test");
    auto good = [&] {
        next = [](const std::string& id) { return okAnswer(classNamesBody(id)); };
        try {
            EXPECT_EQ(c.enumerateClassNames(ns).size(), 1u);
        } catch (const Exception& e) {
            ADD_FAILURE() << "after a broken answer: " << str(e.getMessage());
        }
    };

    next = [](const std::string&) { return std::string("garbage\r\n\r\n"); };
    thrown<CIMClientMalformedHTTPException>([&] { c.enumerateClassNames(ns); });
    good();

    next = [](const std::string& id) {
        std::string b = classNamesBody(id);
        return okAnswer(b.substr(0, b.size() / 2));
    };
    CIMClientXmlException x = thrown<CIMClientXmlException>([&] { c.enumerateClassNames(ns); });
    EXPECT_NE(str(x.getMessage()).find("line "), std::string::npos);
    good();

    next = [](const std::string&) { return okAnswer(classNamesBody("99999")); };
    thrown<CIMClientResponseException>([&] { c.enumerateClassNames(ns); });
    good();

    next = [](const std::string& id) {
        std::string b = classNamesBody(id);
        return "HTTP/1.1 200 OK\r\nCIMOperation: MethodResponse\r\nTransfer-Encoding: chunked\r\n\r\n" +
               [&] {
                   char s[16];
                   std::snprintf(s, sizeof s, "%zx\r\n", b.size());
                   return std::string(s);
               }() +
               b + "\r\n0\r\nCIMStatusCode: banana\r\n\r\n";
    };
    thrown<CIMClientResponseException>([&] { c.enumerateClassNames(ns); });
    good();

    // Status codes past the defined ones, in the trailer and in the body, are failures that keep the number.
    next = [](const std::string& id) {
        std::string b = classNamesBody(id);
        return "HTTP/1.1 200 OK\r\nCIMOperation: MethodResponse\r\nTransfer-Encoding: chunked\r\n\r\n" +
               [&] {
                   char s[16];
                   std::snprintf(s, sizeof s, "%zx\r\n", b.size());
                   return std::string(s);
               }() +
               b + "\r\n0\r\nCIMStatusCode: 96\r\nCIMStatusCodeDescription: odd\r\n\r\n";
    };
    CIMException odd = thrown<CIMException>([&] { c.enumerateClassNames(ns); });
    EXPECT_EQ(odd.getCode(), CIM_ERR_FAILED);
    EXPECT_EQ(str(odd.getMessage()), "CIM status 96: odd");
    next = [](const std::string& id) {
        return okAnswer(
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">"
            "<MESSAGE ID=\"" +
            id +
            "\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP><IMETHODRESPONSE NAME=\"EnumerateClassNames\">"
            "<ERROR CODE=\"4000000000\"/></IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>");
    };
    odd = thrown<CIMException>([&] { c.enumerateClassNames(ns); });
    EXPECT_EQ(odd.getCode(), CIM_ERR_FAILED);
    EXPECT_EQ(str(odd.getMessage()), "CIM status 4000000000");
    good();

    next = [](const std::string& id) {
        std::string b = classNamesBody(id);
        return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(b.size()) + "\r\n\r\n" + b;
    };
    thrown<CIMClientResponseException>([&] { c.enumerateClassNames(ns); });  // not a MethodResponse
    good();

    // A GetInstance answer without an instance is an error, not an empty instance.
    next = [](const std::string& id) {
        return okAnswer(
            "<?xml version=\"1.0\" encoding=\"utf-8\" ?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">"
            "<MESSAGE ID=\"" +
            id +
            "\" PROTOCOLVERSION=\"1.0\"><SIMPLERSP><IMETHODRESPONSE NAME=\"GetInstance\">"
            "</IMETHODRESPONSE></SIMPLERSP></MESSAGE></CIM>");
    };
    thrown<CIMClientResponseException>([&] { c.getInstance(ns, path("Test_Base.Name=\"a\"")); });
    good();

    // A string that XML cannot carry is refused before anything is sent.
    std::size_t before = server->requests().size();
    Exception e = thrown<Exception>([&] {
        c.setProperty(ns, path("Test_Base.Name=\"a\""), CIMName("Label"), CIMValue(String("bell\x07")));
    });
    EXPECT_NE(str(e.getMessage()).find("U+0007"), std::string::npos);
    EXPECT_EQ(server->requests().size(), before);
}
