// minicimd over the wire, byte by byte: the recorded OpenPegasus exchanges
// replayed against it, hostile HTTP and XML, and the process life cycle.
#include "minicimd_process.h"
#include "raw_http.h"

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <sstream>
#include <sys/stat.h>
#include <sys/un.h>

using namespace orvtest;

namespace {

std::string readFile(const std::string& p)
{
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string samples()
{
    return std::string(ORV_SAMPLES_DIR) + "/";
}

// White space inside tags and runs of blanks differ between servers without meaning anything.
std::string normalize(const std::string& xml)
{
    std::string s = std::regex_replace(xml, std::regex("\\s+>"), ">");
    s = std::regex_replace(s, std::regex("[ \\t]+"), " ");
    return std::regex_replace(s, std::regex("\\n+$"), "");
}

struct Recorded {
    int status = 0;
    std::map<std::string, std::string> headers;   // lower-case
    std::map<std::string, std::string> trailers;  // lower-case
};

Recorded readRecorded(const std::string& name)
{
    Recorded r;
    std::istringstream in(readFile(samples() + name + ".headers.txt"));
    std::string line;
    std::getline(in, line);
    r.status = std::stoi(line.substr(9, 3));
    bool inTrailers = false;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) {
            inTrailers = true;
            continue;
        }
        size_t c = line.find(':');
        std::string n = line.substr(0, c);
        for (auto& ch : n) ch = static_cast<char>(tolower(ch));
        std::string v = line.substr(c + 1);
        while (!v.empty() && v[0] == ' ') v.erase(0, 1);
        (inTrailers ? r.trailers : r.headers)[n] = v;
    }
    return r;
}

RawResponse post(MinicimdProcess& s, const std::string& method, const std::string& body, bool trailers = true)
{
    RawConnection c = RawConnection::unixSocket(s.socketPath());
    c.send(cimPost(method, body, trailers));
    return c.read();
}

std::string methodOf(const std::string& body)
{
    std::smatch m;
    std::regex_search(body, m, std::regex("METHODCALL NAME=\"(\\w+)\""));
    return m[1];
}

class ServerProtocol : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        MinicimdProcess::Options o;
        o.dmtf = true;
        server_ = new MinicimdProcess(o);
    }
    static void TearDownTestSuite()
    {
        delete server_;
        server_ = nullptr;
    }
    static MinicimdProcess* server_;
};
MinicimdProcess* ServerProtocol::server_ = nullptr;

}  // namespace

// Every recorded exchange whose repository minicimd reproduces, in the order
// they were recorded (they change the repository as they go).
TEST_F(ServerProtocol, AnswersTheRecordedExchangesLikeTheRealServer)
{
    const char* sequence[] = {"GetClass-Test_Base",
                              "GetClass-Test_Child-localonly",
                              "GetClass-CIM_ComputerSystem",
                              "GetClass-bad-namespace",
                              "GetClass-no-such-class",
                              "EnumerateInstanceNames-Test_Base",
                              "EnumerateInstances-Test_Base",
                              "GetInstance-missing",
                              "InvokeMethod-DoIt",
                              "CreateInstance-gamma",
                              "CreateInstance-gamma-again",
                              "DeleteInstance-gamma",
                              "DeleteInstance-gamma-again",
                              "SetProperty-Label",
                              "GetProperty-Label",
                              "SetProperty-Label-restore"};
    // Bodies that must match the recording (after white-space normalisation).
    std::set<std::string> exactBodies = {"GetClass-Test_Base",
                                         "GetClass-Test_Child-localonly",
                                         "GetClass-CIM_ComputerSystem",
                                         "GetClass-bad-namespace",
                                         "GetClass-no-such-class",
                                         "EnumerateInstanceNames-Test_Base",
                                         "EnumerateInstances-Test_Base",
                                         "GetInstance-missing",
                                         "InvokeMethod-DoIt",
                                         "DeleteInstance-gamma",
                                         "SetProperty-Label",
                                         "GetProperty-Label"};
    for (const char* name : sequence) {
        SCOPED_TRACE(name);
        std::string req = readFile(samples() + name + ".request.xml");
        RawResponse r = post(*server_, methodOf(req), req);
        Recorded rec = readRecorded(name);
        ASSERT_TRUE(r.complete);
        EXPECT_EQ(r.status, rec.status);
        EXPECT_EQ(r.header("cimoperation"), "MethodResponse");
        EXPECT_EQ(r.header("content-type"), "application/xml; charset=utf-8");
        EXPECT_EQ(r.header("trailer"), rec.headers["trailer"]);
        EXPECT_EQ(r.trailers["cimstatuscode"], rec.trailers["cimstatuscode"]);
        EXPECT_EQ(r.trailers["cimstatuscodedescription"], rec.trailers["cimstatuscodedescription"]);
        if (exactBodies.count(name)) {
            EXPECT_EQ(normalize(r.body), normalize(readFile(samples() + name + ".body.xml")));
        }
    }
    // The recording of the first CreateInstance-gamma was taken on a rerun; ours
    // is a fresh repository, so check it created what it said.
    std::string again = readFile(samples() + "CreateInstance-gamma.request.xml");
    EXPECT_EQ(post(*server_, "CreateInstance", again).trailers.count("cimstatuscode"), 0u);
    RawResponse dup = post(*server_, "CreateInstance", again);
    EXPECT_EQ(dup.trailers["cimstatuscode"], "11");
    std::string del = readFile(samples() + "DeleteInstance-gamma.request.xml");
    EXPECT_EQ(post(*server_, "DeleteInstance", del).trailers.count("cimstatuscode"), 0u);
}

TEST_F(ServerProtocol, ErrorsWithoutTrailersComeAsErrorElements)
{
    std::string req = readFile(samples() + "GetInstance-missing-without-TE.request.xml");
    RawResponse r = post(*server_, "GetInstance", req, false);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("transfer-encoding"), "");
    EXPECT_EQ(normalize(r.body), normalize(readFile(samples() + "GetInstance-missing-without-TE.body.xml")));
}

TEST_F(ServerProtocol, HostileHttpGetsHttpErrorsAndTheServerStaysUp)
{
    auto send = [&](const std::string& raw) {
        RawConnection c = RawConnection::unixSocket(server_->socketPath());
        c.send(raw);
        return c.read();
    };
    // Not XML at all: the recorded 400 with CIMError and PGErrorDetail.
    RawResponse r = send(cimPost("GetClass", readFile(samples() + "Malformed.request.xml")));
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.header("cimerror"), "request-not-valid");
    EXPECT_NE(r.header("pgerrordetail"), "");

    // Truncated XML.
    std::string good = imethodCall(
        "GetClass", "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"Test_Base\"/></IPARAMVALUE>");
    r = send(cimPost("GetClass", good.substr(0, good.size() / 2)));
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.header("cimerror"), "request-not-valid");

    // XML that is not CIM.
    r = send(cimPost("GetClass", "<?xml version=\"1.0\"?><HTML/>"));
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.header("cimerror"), "request-not-valid");

    // A DOCTYPE (the way entity bombs come) is refused outright.
    r = send(cimPost("GetClass",
                     "<?xml version=\"1.0\"?><!DOCTYPE CIM [<!ENTITY a \"aaaaaaaa\"><!ENTITY b "
                     "\"&a;&a;&a;&a;\">]><CIM>&b;</CIM>"));
    EXPECT_EQ(r.status, 400);
    EXPECT_NE(r.header("pgerrordetail").find("DOCTYPE"), std::string::npos);

    // Nesting deeper than the limit.
    std::string deep = "<?xml version=\"1.0\"?><CIM>";
    for (int i = 0; i < 200; ++i) deep += "<X>";
    for (int i = 0; i < 200; ++i) deep += "</X>";
    deep += "</CIM>";
    r = send(cimPost("GetClass", deep));
    EXPECT_EQ(r.status, 400);
    EXPECT_NE(r.header("pgerrordetail").find("deeper"), std::string::npos);

    // Missing or wrong CIMOperation header; CIMMethod that disagrees with the body.
    r = send("POST /cimom HTTP/1.1\r\nHost: x\r\nContent-Type: application/xml\r\nContent-Length: " +
             std::to_string(good.size()) + "\r\n\r\n" + good);
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.header("cimerror"), "unsupported-operation");
    r = send(cimPost("DeleteInstance", good));
    EXPECT_EQ(r.status, 400);
    EXPECT_EQ(r.header("cimerror"), "header-mismatch");
    r = send(cimPost("GetClass", good, true, "").replace(0, 4, "PUT "));
    EXPECT_EQ(r.status, 501);
    r = send("GET /cimom HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(r.status, 501);
    r = send("POST /other HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\nContent-Length: 0\r\n\r\n");
    EXPECT_EQ(r.status, 404);
    // Wrong content type.
    r = send(
        "POST /cimom HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\nContent-Type: "
        "text/plain\r\nContent-Length: " +
        std::to_string(good.size()) + "\r\n\r\n" + good);
    EXPECT_EQ(r.status, 400);

    // Garbage request line.
    r = send("\x01\x02 nonsense\r\n\r\n");
    EXPECT_EQ(r.status, 400);

    // Announced and real bodies beyond the limit: 413, nothing buffered.
    r = send(
        "POST /cimom HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\nContent-Length: 99999999999\r\n\r\n");
    EXPECT_EQ(r.status, 413);
    {
        RawConnection c = RawConnection::unixSocket(server_->socketPath());
        c.send(
            "POST /cimom HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\nContent-Type: application/xml\r\n"
            "Transfer-Encoding: chunked\r\n\r\n");
        std::string chunk(1 << 20, 'a');
        char size[32];
        snprintf(size, sizeof size, "%zx\r\n", chunk.size());
        bool sent = true;
        for (int i = 0; i < 20 && sent; ++i) sent = c.send(size + chunk + "\r\n");
        if (sent) c.send("0\r\n\r\n");
        r = c.read();
        EXPECT_EQ(r.status, 413);
    }

    // A client that goes away in the middle of a request.
    {
        RawConnection c = RawConnection::unixSocket(server_->socketPath());
        c.send(
            "POST /cimom HTTP/1.1\r\nHost: x\r\nCIMOperation: MethodCall\r\nContent-Length: "
            "1000\r\n\r\n<?xml");
    }

    // Still serving, on the same connection for several requests.
    RawConnection c = RawConnection::unixSocket(server_->socketPath());
    for (int i = 0; i < 3; ++i) {
        c.send(cimPost("GetClass", good));
        r = c.read();
        EXPECT_EQ(r.status, 200);
        EXPECT_NE(r.body.find("<CLASS NAME=\"Test_Base\""), std::string::npos);
    }
}

TEST_F(ServerProtocol, BadCimParametersGetCimStatusCodes)
{
    auto status = [&](const std::string& method, const std::string& params,
                      const std::string& ns = "root/test") {
        return post(*server_, method, imethodCall(method, params, ns)).trailers["cimstatuscode"];
    };
    const std::string alpha =
        "<IPARAMVALUE NAME=\"InstanceName\"><INSTANCENAME CLASSNAME=\"Test_Base\"><KEYBINDING NAME=\"Name\">"
        "<KEYVALUE VALUETYPE=\"string\">alpha</KEYVALUE></KEYBINDING></INSTANCENAME></IPARAMVALUE>";
    EXPECT_EQ(status("GetClass", ""), "4");  // ClassName missing
    EXPECT_EQ(status("GetClass", "<IPARAMVALUE NAME=\"Bogus\"/>"), "4");
    EXPECT_EQ(status("GetClass",
                     "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"Test_Base\"/></IPARAMVALUE>"
                     "<IPARAMVALUE NAME=\"LocalOnly\"><VALUE>maybe</VALUE></IPARAMVALUE>"),
              "4");
    EXPECT_EQ(status("EnumerateClassNames",
                     "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"Nope\"/></IPARAMVALUE>"),
              "5");
    EXPECT_EQ(status("EnumerateInstanceNames",
                     "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"Nope\"/></IPARAMVALUE>"),
              "5");
    EXPECT_EQ(status("GetInstance", alpha, "root/nowhere"), "3");
    EXPECT_EQ(
        status("GetProperty", alpha + "<IPARAMVALUE NAME=\"PropertyName\"><VALUE>Nope</VALUE></IPARAMVALUE>"),
        "12");
    EXPECT_EQ(
        status("SetProperty", alpha + "<IPARAMVALUE NAME=\"PropertyName\"><VALUE>Count</VALUE></IPARAMVALUE>"
                                      "<IPARAMVALUE NAME=\"NewValue\"><VALUE>-1</VALUE></IPARAMVALUE>"),
        "13");
    EXPECT_EQ(
        status("SetProperty", alpha + "<IPARAMVALUE NAME=\"PropertyName\"><VALUE>Name</VALUE></IPARAMVALUE>"
                                      "<IPARAMVALUE NAME=\"NewValue\"><VALUE>renamed</VALUE></IPARAMVALUE>"),
        "4");
    EXPECT_EQ(status("ExecQuery", ""), "7");
    EXPECT_EQ(status("Associators", ""), "7");
    EXPECT_EQ(status("GetInstance",
                     "<IPARAMVALUE NAME=\"InstanceName\"><INSTANCENAME CLASSNAME=\"Test_Base\"><KEYBINDING "
                     "NAME=\"Wrong\">"
                     "<KEYVALUE>alpha</KEYVALUE></KEYBINDING></INSTANCENAME></IPARAMVALUE>"),
              "4");
    EXPECT_EQ(
        status(
            "CreateInstance",
            "<IPARAMVALUE NAME=\"NewInstance\"><INSTANCE CLASSNAME=\"Test_Base\">"
            "<PROPERTY NAME=\"Count\" TYPE=\"uint32\"><VALUE>1</VALUE></PROPERTY></INSTANCE></IPARAMVALUE>"),
        "4");
    EXPECT_EQ(
        status(
            "CreateInstance",
            "<IPARAMVALUE NAME=\"NewInstance\"><INSTANCE CLASSNAME=\"Test_Base\">"
            "<PROPERTY NAME=\"Name\" TYPE=\"string\"><VALUE>z</VALUE></PROPERTY>"
            "<PROPERTY NAME=\"Bogus\" TYPE=\"string\"><VALUE>1</VALUE></PROPERTY></INSTANCE></IPARAMVALUE>"),
        "12");
    EXPECT_EQ(
        status(
            "CreateInstance",
            "<IPARAMVALUE NAME=\"NewInstance\"><INSTANCE CLASSNAME=\"Test_Base\">"
            "<PROPERTY NAME=\"Name\" TYPE=\"string\"><VALUE>z</VALUE></PROPERTY>"
            "<PROPERTY NAME=\"Count\" TYPE=\"string\"><VALUE>1</VALUE></PROPERTY></INSTANCE></IPARAMVALUE>"),
        "13");
    EXPECT_EQ(
        status(
            "CreateInstance",
            "<IPARAMVALUE NAME=\"NewInstance\"><INSTANCE CLASSNAME=\"Test_Base\">"
            "<PROPERTY NAME=\"Name\" TYPE=\"string\"><VALUE>z</VALUE></PROPERTY>"
            "<PROPERTY NAME=\"Small\" TYPE=\"sint8\"><VALUE>200</VALUE></PROPERTY></INSTANCE></IPARAMVALUE>"),
        "13");
    EXPECT_EQ(status("CreateInstance",
                     "<IPARAMVALUE NAME=\"NewInstance\"><INSTANCE CLASSNAME=\"Nope\"/></IPARAMVALUE>"),
              "5");
}

TEST(ServerLifecycle, SocketModeCleanStopStaleSocketAndHelp)
{
    MinicimdProcess::Options o;
    auto s = std::make_unique<MinicimdProcess>(o);
    struct stat st;
    ASSERT_EQ(stat(s->socketPath().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0666u);

    // A second server on a live socket refuses to start and leaves it alone.
    std::string out = s->dir() + "/second.log";
    std::string cmd = std::string(MINICIMD_BINARY) + " --socket " + s->socketPath() + " 2>" + out;
    EXPECT_NE(std::system(cmd.c_str()), 0);
    EXPECT_NE(readFile(out).find("another server is listening"), std::string::npos);
    EXPECT_TRUE(canConnectUnix(s->socketPath()));

    // SIGTERM: exit 0, socket file gone.
    int status = s->stop();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_NE(stat(s->socketPath().c_str(), &st), 0);
    EXPECT_NE(s->readLog().find("minicimd: stopped"), std::string::npos);

    // A stale socket file left by a dead server is replaced.
    {
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un sa{};
        sa.sun_family = AF_UNIX;
        strncpy(sa.sun_path, s->socketPath().c_str(), sizeof sa.sun_path - 1);
        ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
        close(fd);
    }
    s->start();
    EXPECT_TRUE(canConnectUnix(s->socketPath()));
    // SIGINT stops it too.
    kill(s->pid(), SIGINT);
    for (int i = 0; i < 6000 && canConnectUnix(s->socketPath()); ++i) usleep(10000);
    EXPECT_FALSE(canConnectUnix(s->socketPath()));
    s->stop();

    EXPECT_EQ(std::system((std::string(MINICIMD_BINARY) + " --help >/dev/null").c_str()), 0);
    EXPECT_NE(std::system((std::string(MINICIMD_BINARY) + " --bogus 2>/dev/null").c_str()), 0);
}

TEST(ServerLifecycle, BadMofStopsStartupWithThePosition)
{
    char tmpl[] = "/tmp/minicimd-mofXXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::ofstream(dir + "/bad.mof") << "class A {\n  [Key] string K;\n};\n";
    std::string cmd =
        std::string(MINICIMD_BINARY) + " --socket " + dir + "/s --mof " + dir + "/bad.mof 2>" + dir + "/err";
    int rc = std::system(cmd.c_str());
    EXPECT_NE(rc, 0);
    EXPECT_NE(
        readFile(dir + "/err").find(dir + "/bad.mof:2:4: qualifier 'Key' on property 'A.K' is not declared"),
        std::string::npos)
        << readFile(dir + "/err");
    struct stat st;
    EXPECT_NE(stat((dir + "/s").c_str(), &st), 0);
    std::system(("rm -rf " + dir).c_str());
}

TEST_F(ServerProtocol, EnumerateClassesAndInstanceOptions)
{
    // EnumerateClasses: deep under Test_Base, local features only.
    RawResponse r =
        post(*server_, "EnumerateClasses",
             imethodCall("EnumerateClasses",
                         "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"Test_Base\"/></IPARAMVALUE>"
                         "<IPARAMVALUE NAME=\"DeepInheritance\"><VALUE>TRUE</VALUE></IPARAMVALUE>"
                         "<IPARAMVALUE NAME=\"LocalOnly\"><VALUE>TRUE</VALUE></IPARAMVALUE>"
                         "<IPARAMVALUE NAME=\"IncludeQualifiers\"><VALUE>FALSE</VALUE></IPARAMVALUE>"));
    EXPECT_EQ(r.trailers.count("cimstatuscode"), 0u);
    EXPECT_NE(r.body.find("<CLASS NAME=\"Test_Child\" SUPERCLASS=\"Test_Base\">\n<PROPERTY NAME=\"Id\" "
                          "TYPE=\"uint32\">\n</PROPERTY>\n</CLASS>"),
              std::string::npos)
        << r.body;
    EXPECT_NE(
        r.body.find(
            "<CLASS NAME=\"Test_Special\" SUPERCLASS=\"Test_Child\">\n<PROPERTY NAME=\"Count\" "
            "TYPE=\"uint32\">\n"
            "<VALUE>9</VALUE>\n</PROPERTY>\n<PROPERTY NAME=\"Extra\" TYPE=\"string\">\n<VALUE>more</VALUE>\n"
            "</PROPERTY>\n</CLASS>"),
        std::string::npos)
        << r.body;
    EXPECT_EQ(r.body.find("QUALIFIER"), std::string::npos);
    // Not deep: direct subclasses only.
    r = post(*server_, "EnumerateClasses",
             imethodCall("EnumerateClasses",
                         "<IPARAMVALUE NAME=\"ClassName\"><CLASSNAME NAME=\"Test_Base\"/></IPARAMVALUE>"));
    EXPECT_NE(r.body.find("<CLASS NAME=\"Test_Child\""), std::string::npos);
    EXPECT_EQ(r.body.find("<CLASS NAME=\"Test_Special\""), std::string::npos);

    // GetInstance with qualifiers, class origin and a property list.
    r = post(*server_, "GetInstance",
             imethodCall(
                 "GetInstance",
                 "<IPARAMVALUE NAME=\"InstanceName\"><INSTANCENAME CLASSNAME=\"Test_Base\"><KEYBINDING "
                 "NAME=\"Name\">"
                 "<KEYVALUE VALUETYPE=\"string\">alpha</KEYVALUE></KEYBINDING></INSTANCENAME></IPARAMVALUE>"
                 "<IPARAMVALUE NAME=\"IncludeQualifiers\"><VALUE>TRUE</VALUE></IPARAMVALUE>"
                 "<IPARAMVALUE NAME=\"IncludeClassOrigin\"><VALUE>TRUE</VALUE></IPARAMVALUE>"
                 "<IPARAMVALUE NAME=\"PropertyList\"><VALUE.ARRAY><VALUE>Name</VALUE><VALUE>label</VALUE>"
                 "</VALUE.ARRAY></IPARAMVALUE>"));
    EXPECT_NE(r.body.find("<INSTANCE CLASSNAME=\"Test_Base\">\n<PROPERTY NAME=\"Name\" "
                          "CLASSORIGIN=\"Test_Base\" TYPE=\"string\">\n"
                          "<QUALIFIER NAME=\"Key\" TYPE=\"boolean\" "
                          "OVERRIDABLE=\"false\">\n<VALUE>TRUE</VALUE>\n</QUALIFIER>\n"
                          "<VALUE>alpha</VALUE>\n</PROPERTY>\n<PROPERTY NAME=\"Label\" "
                          "CLASSORIGIN=\"Test_Base\" TYPE=\"string\">"),
              std::string::npos)
        << r.body;
    EXPECT_EQ(r.body.find("NAME=\"Count\""), std::string::npos);
    // An empty property list means no properties at all.
    r = post(*server_, "GetInstance",
             imethodCall(
                 "GetInstance",
                 "<IPARAMVALUE NAME=\"InstanceName\"><INSTANCENAME CLASSNAME=\"Test_Base\"><KEYBINDING "
                 "NAME=\"Name\">"
                 "<KEYVALUE VALUETYPE=\"string\">alpha</KEYVALUE></KEYBINDING></INSTANCENAME></IPARAMVALUE>"
                 "<IPARAMVALUE NAME=\"PropertyList\"><VALUE.ARRAY></VALUE.ARRAY></IPARAMVALUE>"));
    EXPECT_NE(r.body.find("<INSTANCE CLASSNAME=\"Test_Base\">\n</INSTANCE>"), std::string::npos) << r.body;
}

TEST_F(ServerProtocol, Http10ClientsGetErrorElementsInsteadOfTrailers)
{
    std::string req = readFile(samples() + "GetInstance-missing.request.xml");
    std::string raw = cimPost("GetInstance", req, true);
    raw.replace(raw.find("HTTP/1.1"), 8, "HTTP/1.0");
    RawConnection c = RawConnection::unixSocket(server_->socketPath());
    c.send(raw);
    RawResponse r = c.read();
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("content-length"), "303");  // the recorded answer's length
    EXPECT_EQ(normalize(r.body), normalize(readFile(samples() + "GetInstance-missing-without-TE.body.xml")));
}
