// CIMListener on a real loopback port: exports written by hand (and by the
// codec) reach the consumers; hostile and malformed requests get their HTTP
// status and leave the listener working; start, stop and throwing consumers.
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "CimXml/CimXml.h"
#include "indication_export.h"
#include "listener_attacks.h"
#include "raw_http.h"
#include "pegasus_text.h"
#include "recording_consumer.h"

PEGASUS_USING_PEGASUS;
using orvtest::exportHeaders;
using orvtest::exportMessage;
using orvtest::httpRequest;
using orvtest::RawConnection;
using orvtest::RawResponse;
using orvtest::Received;
using orvtest::RecordingConsumer;
using orvtest::str;

namespace {

// Takes only exports to its own path, as a consumer keeping a secret in it does.
struct PathConsumer : RecordingConsumer {
    explicit PathConsumer(const char* p) : path(p) {}
    Boolean acceptsDestination(const String& p) const override { return str(p) == path; }
    std::string path;
};

// Holds the dispatch thread in its first call until `open`.
struct GateConsumer : RecordingConsumer {
    void consumeIndication(const OperationContext& c, const String& p, const CIMInstance& i) override
    {
        while (!open) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        RecordingConsumer::consumeIndication(c, p, i);
    }
    std::atomic<bool> open{false};
};

class ThrowingConsumer : public CIMIndicationConsumer {
public:
    explicit ThrowingConsumer(bool pegasus) : pegasus_(pegasus) {}
    void consumeIndication(const OperationContext&, const String&, const CIMInstance&) override
    {
        if (pegasus_) throw Exception("consumer refuses");
        throw std::runtime_error("consumer refuses");
    }

private:
    bool pegasus_;
};

const std::string kIndication =
    "<EXPPARAMVALUE NAME=\"NewIndication\"><INSTANCE CLASSNAME=\"Test_Alert\">"
    "<PROPERTY NAME=\"Message\" TYPE=\"string\"><VALUE>disk &amp; fan</VALUE></PROPERTY>"
    "<PROPERTY NAME=\"Severity\" TYPE=\"uint16\"><VALUE>3</VALUE></PROPERTY>"
    "</INSTANCE></EXPPARAMVALUE>";

RawResponse send(int port, const std::string& raw)
{
    RawConnection c = RawConnection::tcp(port);
    c.send(raw);
    return c.read();
}

RawResponse postIndication(int port, const std::string& path = "/listener")
{
    return send(port,
                httpRequest("POST", path, exportHeaders(), exportMessage("ExportIndication", kIndication)));
}

class Listener : public ::testing::Test {
protected:
    void SetUp() override
    {
        listener_.addConsumer(&consumer_);
        listener_.start();
        port_ = static_cast<int>(listener_.getPortNumber());
    }
    // A valid export still arrives (after whatever a test did).
    void expectStillWorking()
    {
        size_t before = consumer_.count();
        RawResponse r = postIndication(port_);
        EXPECT_EQ(r.status, 200);
        EXPECT_TRUE(consumer_.waitFor(before + 1));
    }
    CIMListener listener_{0};
    RecordingConsumer consumer_;
    int port_ = 0;
};

}  // namespace

TEST_F(Listener, PortZeroPicksARealPort)
{
    EXPECT_GT(port_, 0);
    EXPECT_TRUE(listener_.isAlive());
}

TEST_F(Listener, ExportIndicationReachesTheConsumer)
{
    RawResponse r = postIndication(port_, "/orv/indications");
    ASSERT_TRUE(r.complete);
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("cimexport"), "MethodResponse");
    orv::cimxml::ExportResponse resp = orv::cimxml::readExportResponse(r.body);
    EXPECT_FALSE(resp.isError);
    EXPECT_EQ(resp.messageId, "77");
    EXPECT_EQ(resp.methodName, "ExportIndication");

    ASSERT_TRUE(consumer_.waitFor(1));
    Received got = consumer_.at(0);
    EXPECT_EQ(got.path, "/orv/indications");
    EXPECT_EQ(str(got.indication.getClassName().getString()), "Test_Alert");
    ASSERT_EQ(got.indication.getPropertyCount(), 2u);
    String message;
    got.indication.getProperty(got.indication.findProperty("Message")).getValue().get(message);
    EXPECT_EQ(str(message), "disk & fan");
    Uint16 severity = 0;
    got.indication.getProperty(got.indication.findProperty("Severity")).getValue().get(severity);
    EXPECT_EQ(severity, 3u);
}

TEST_F(Listener, ExportWrittenByTheCodecArrivesInOrder)
{
    const int kCount = 20;
    for (int i = 0; i < kCount; ++i) {
        orv::cimxml::ExportRequest req;
        req.messageId = std::to_string(i);
        orv::cimxml::ExportParamValue p;
        p.name = "NewIndication";
        p.hasInstance = true;
        p.instance = CIMInstance("Test_Alert");
        p.instance.addProperty(CIMProperty("Sequence", CIMValue(static_cast<Uint32>(i))));
        req.params.push_back(p);
        RawResponse r =
            send(port_, httpRequest("POST", "/", exportHeaders(), orv::cimxml::writeExportRequest(req)));
        ASSERT_EQ(r.status, 200) << r.body;
        EXPECT_EQ(orv::cimxml::readExportResponse(r.body).messageId, std::to_string(i));
    }
    ASSERT_TRUE(consumer_.waitFor(kCount));
    for (int i = 0; i < kCount; ++i) {
        CIMInstance inst = consumer_.at(static_cast<size_t>(i)).indication;
        Uint32 seq = 0;
        inst.getProperty(inst.findProperty("Sequence")).getValue().get(seq);
        EXPECT_EQ(seq, static_cast<Uint32>(i));
    }
}

std::string repeated(const std::string& s, size_t n)
{
    std::string out;
    out.reserve(s.size() * n);
    for (size_t i = 0; i < n; ++i) out += s;
    return out;
}

// Requests refused at the HTTP level.
struct Hostile {
    const char* name;
    std::string raw;
    int status;
    const char* cimError;  // expected CIMError header, or null
};

std::vector<Hostile> hostileRequests()
{
    const std::string valid = exportMessage("ExportIndication", kIndication);
    return {
        {"NotXml", httpRequest("POST", "/", exportHeaders(), "this is not XML"), 400, "request-not-valid"},
        {"Truncated", httpRequest("POST", "/", exportHeaders(), valid.substr(0, valid.size() / 2)), 400,
         "request-not-valid"},
        {"OperationNotExport",
         httpRequest(
             "POST", "/", exportHeaders(),
             "<?xml version=\"1.0\"?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE ID=\"1\" "
             "PROTOCOLVERSION=\"1.0\"><SIMPLEREQ><IMETHODCALL "
             "NAME=\"EnumerateInstances\"><LOCALNAMESPACEPATH>"
             "<NAMESPACE NAME=\"root\"/></LOCALNAMESPACEPATH></IMETHODCALL></SIMPLEREQ></MESSAGE></CIM>"),
         400, "request-not-valid"},
        {"WrongExportMethodHeader", httpRequest("POST", "/", exportHeaders("ExportSomethingElse"), valid),
         400, "header-mismatch"},
        {"MissingCimExport",
         httpRequest("POST", "/", "Content-Type: application/xml\r\nCIMExportMethod: ExportIndication\r\n",
                     valid),
         400, "unsupported-operation"},
        {"CimExportNotARequest",
         httpRequest("POST", "/",
                     "Content-Type: application/xml\r\nCIMExport: MethodResponse\r\nCIMExportMethod: "
                     "ExportIndication\r\n",
                     valid),
         400, "unsupported-operation"},
        {"MissingCimExportMethod",
         httpRequest("POST", "/", "Content-Type: application/xml\r\nCIMExport: MethodRequest\r\n", valid),
         400, "header-mismatch"},
        {"NotXmlContentType",
         httpRequest(
             "POST", "/",
             "Content-Type: text/plain\r\nCIMExport: MethodRequest\r\nCIMExportMethod: ExportIndication\r\n",
             valid),
         400, "request-not-valid"},
        {"PathNotUtf8", httpRequest("POST", "/caf\xe9", exportHeaders(), valid), 400, nullptr},
        {"Get", "GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", 405, nullptr},
        {"Put", httpRequest("PUT", "/", exportHeaders(), valid), 405, nullptr},
        {"MPost", httpRequest("M-POST", "/", exportHeaders(), valid), 501, nullptr},
        {"HugeDeclaredBody",
         "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + exportHeaders() + "Content-Length: 100000000000\r\n\r\n",
         413, "request-not-valid"},
        {"HugeBody", httpRequest("POST", "/", exportHeaders(), std::string(5u * 1024 * 1024, 'x')), 413,
         "request-not-valid"},
        {"TooManyElements",
         httpRequest("POST", "/", exportHeaders(),
                     exportMessage("ExportIndication",
                                   "<EXPPARAMVALUE NAME=\"NewIndication\"><INSTANCE CLASSNAME=\"X\">" +
                                       repeated("<QUALIFIER/>", 10001) + "</INSTANCE></EXPPARAMVALUE>")),
         413, "request-not-valid"},
        {"TooManyAttributes",
         httpRequest("POST", "/", exportHeaders(),
                     exportMessage("ExportIndication", "<X " + repeated("a=\"1\" ", 20001) + "/>")),
         413, "request-not-valid"},
        {"ElementsBehindAQuoteInAComment",
         httpRequest("POST", "/", exportHeaders(),
                     "<!-- don't count --><CIM>" + repeated("<a/>", 10001) + "</CIM>"),
         413, "request-not-valid"},
        {"HugeChunkedBody",
         "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + exportHeaders() + "Transfer-Encoding: chunked\r\n\r\n" +
             [] {
                 std::string chunks;
                 const std::string chunk(1024 * 1024, '<');
                 for (int i = 0; i < 6; ++i) chunks += "100000\r\n" + chunk + "\r\n";
                 return chunks + "0\r\n\r\n";
             }(),
         413, "request-not-valid"},
    };
}

class HostileRequest : public Listener, public ::testing::WithParamInterface<Hostile> {};

TEST_P(HostileRequest, GetsItsStatusAndTheListenerKeepsWorking)
{
    const Hostile& h = GetParam();
    RawResponse r = send(port_, h.raw);
    EXPECT_EQ(r.status, h.status) << r.body;
    if (h.cimError) {
        EXPECT_EQ(r.header("cimerror"), h.cimError);
    }
    EXPECT_EQ(consumer_.count(), 0u);
    expectStillWorking();
}

INSTANTIATE_TEST_SUITE_P(All, HostileRequest, ::testing::ValuesIn(hostileRequests()),
                         [](const ::testing::TestParamInfo<Hostile>& i) {
                             return std::string(i.param.name);
                         });

// Well-formed exports the listener cannot take: an EXPMETHODRESPONSE with an ERROR.
struct Refused {
    const char* name;
    std::string method;
    std::string params;
    int cimStatus;
};

class RefusedExport : public Listener, public ::testing::WithParamInterface<Refused> {};

TEST_P(RefusedExport, AnswersWithACimError)
{
    const Refused& x = GetParam();
    RawResponse r =
        send(port_, httpRequest("POST", "/", exportHeaders(x.method), exportMessage(x.method, x.params)));
    EXPECT_EQ(r.status, 200);
    EXPECT_EQ(r.header("cimexport"), "MethodResponse");
    orv::cimxml::ExportResponse resp = orv::cimxml::readExportResponse(r.body);
    EXPECT_TRUE(resp.isError);
    EXPECT_EQ(static_cast<int>(resp.errorCode), x.cimStatus);
    EXPECT_EQ(consumer_.count(), 0u);
    expectStillWorking();
}

INSTANTIATE_TEST_SUITE_P(
    All, RefusedExport,
    ::testing::Values(Refused{"NoParameter", "ExportIndication", "", CIM_ERR_INVALID_PARAMETER},
                      Refused{"NoInstance", "ExportIndication", "<EXPPARAMVALUE NAME=\"NewIndication\"/>",
                              CIM_ERR_INVALID_PARAMETER},
                      Refused{"OtherParameter", "ExportIndication",
                              "<EXPPARAMVALUE NAME=\"Other\"><INSTANCE CLASSNAME=\"X\"/></EXPPARAMVALUE>",
                              CIM_ERR_INVALID_PARAMETER},
                      Refused{"OtherMethod", "ExportSomethingElse", kIndication, CIM_ERR_NOT_SUPPORTED}),
    [](const ::testing::TestParamInfo<Refused>& i) { return std::string(i.param.name); });

TEST_F(Listener, ManyConnectionsThatSendNothingDoNotStopIt)
{
    std::vector<RawConnection> idle;
    for (int i = 0; i < 16; ++i) idle.push_back(RawConnection::tcp(port_));
    expectStillWorking();
}

TEST_F(Listener, ThrowingConsumersDoNotStopTheOthers)
{
    ThrowingConsumer std_thrower(false), pegasus_thrower(true);
    RecordingConsumer after;
    listener_.removeConsumer(&consumer_);
    ASSERT_TRUE(listener_.addConsumer(&std_thrower));
    ASSERT_TRUE(listener_.addConsumer(&pegasus_thrower));
    ASSERT_TRUE(listener_.addConsumer(&after));
    for (int i = 0; i < 3; ++i) EXPECT_EQ(postIndication(port_).status, 200);
    EXPECT_TRUE(after.waitFor(3));
    EXPECT_TRUE(listener_.isAlive());
    listener_.removeConsumer(&std_thrower);
    listener_.removeConsumer(&pegasus_thrower);
    listener_.removeConsumer(&after);
}

TEST_F(Listener, RemovedConsumerIsNotCalled)
{
    RecordingConsumer second;
    ASSERT_TRUE(listener_.addConsumer(&second));
    EXPECT_FALSE(listener_.addConsumer(&second));
    EXPECT_TRUE(listener_.removeConsumer(&second));
    EXPECT_FALSE(listener_.removeConsumer(&second));
    expectStillWorking();
    EXPECT_EQ(second.count(), 0u);
}

TEST(ListenerLifeCycle, StartAndStopTwice)
{
    RecordingConsumer consumer;
    CIMListener listener(0);
    EXPECT_FALSE(listener.isAlive());
    listener.addConsumer(&consumer);
    for (int round = 0; round < 2; ++round) {
        listener.start();
        listener.start();  // already started: nothing happens
        ASSERT_TRUE(listener.isAlive());
        int port = static_cast<int>(listener.getPortNumber());
        ASSERT_GT(port, 0);
        EXPECT_EQ(postIndication(port).status, 200);
        EXPECT_TRUE(consumer.waitFor(static_cast<size_t>(round + 1)));
        listener.stop();
        listener.stop();
        EXPECT_FALSE(listener.isAlive());
    }
}

TEST(ListenerLifeCycle, StoppedListenerRefusesConnections)
{
    CIMListener listener(0);
    listener.start();
    int port = static_cast<int>(listener.getPortNumber());
    listener.stop();
    EXPECT_THROW(RawConnection::tcp(port), std::runtime_error);
}

TEST(ListenerLifeCycle, BusyPortThrowsOnStart)
{
    CIMListener first(0);
    first.start();
    CIMListener second(first.getPortNumber());
    EXPECT_THROW(second.start(), Exception);
    EXPECT_FALSE(second.isAlive());
}

TEST(ListenerLifeCycle, DestructorStopsARunningListener)
{
    RecordingConsumer consumer;
    int port;
    {
        CIMListener listener(0);
        listener.addConsumer(&consumer);
        listener.start();
        port = static_cast<int>(listener.getPortNumber());
        EXPECT_EQ(postIndication(port).status, 200);
        EXPECT_TRUE(consumer.waitFor(1));
    }
    EXPECT_THROW(RawConnection::tcp(port), std::runtime_error);
}

// ---------------------------------------------------------------------------
// A hostile local user

namespace {

// What the attacks may add to this process's resident memory at their peak.
constexpr long long kAttackPeakGrowthBytes = 256ll * 1024 * 1024;
constexpr auto kDeliveryGiveUp = std::chrono::seconds(90);

}  // namespace

TEST_F(Listener, AmplifyingBodiesFromManyConnectionsKeepMemoryBoundedAndIndicationsFlowing)
{
    constexpr unsigned kIndications = 20;
    long long before = orvtest::residentBytes();
    orvtest::resetPeakResident();
    {
        orvtest::Attack attack(orvtest::Attack::Kind::Amplifying, port_, 64);
        auto giveUp = std::chrono::steady_clock::now() + kDeliveryGiveUp;
        for (unsigned i = 0; i < kIndications; ++i) {
            ASSERT_TRUE(orvtest::deliverWithRetry(port_, orvtest::indicationExport(i), giveUp))
                << "indication " << i;
        }
        // Every attacking connection has had its go.
        while (attack.requests() < 64 && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_GE(attack.requests(), 64u);
    }
    long long peak = orvtest::residentBytes("VmHWM");
    std::printf("resident memory %lld MiB before the attack, %lld MiB at its peak\n", before >> 20,
                peak >> 20);
#if !defined(__SANITIZE_ADDRESS__)  // whose quarantine holds freed memory
    EXPECT_LT(peak - before, kAttackPeakGrowthBytes) << "peak " << peak << " from " << before;
#endif
    EXPECT_TRUE(consumer_.waitFor(kIndications));
}

TEST_F(Listener, BodiesPastTheMemoryBudgetAreAskedToComeBackWhileSmallOnesPass)
{
    // Large declared bodies that do not come yet hold their share of the budget.
    const std::string head =
        "POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n" + exportHeaders() + "Content-Length: 4000000\r\n\r\n";
    std::vector<RawConnection> large;
    for (int i = 0; i < 12; ++i) {
        large.push_back(RawConnection::tcp(port_));
        large.back().send(head);
    }
    RawResponse busy;
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (busy.status == 0 && std::chrono::steady_clock::now() < until) {
        for (auto& c : large) {
            RawResponse r = c.read(50);
            if (r.status != 0) busy = r;
        }
    }
    EXPECT_EQ(busy.status, 503);
    EXPECT_EQ(busy.header("retry-after"), "2");
    expectStillWorking();
}

TEST_F(Listener, ASenderTricklingItsRequestIsCutOffAtTheDeadline)
{
    int fd = orvtest::connectLoopback(port_);
    ASSERT_GE(fd, 0);
    const std::string raw =
        httpRequest("POST", "/", exportHeaders(), exportMessage("ExportIndication", kIndication));
    auto started = std::chrono::steady_clock::now();
    bool cut = false;
    for (size_t i = 0;
         i < raw.size() && !cut && std::chrono::steady_clock::now() - started < std::chrono::seconds(60);
         ++i) {
        cut = !orvtest::sendAll(fd, raw.data() + i, 1);
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
        // The request is never complete, so anything to read means the listener closed it.
        pollfd p{fd, POLLIN | POLLRDHUP, 0};
        cut = cut || ::poll(&p, 1, 0) > 0;
    }
    ::close(fd);
    EXPECT_TRUE(cut);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(30));
    expectStillWorking();
}

TEST_F(Listener, TricklingConnectionsInEverySlotDoNotStopDelivery)
{
    constexpr unsigned kIndications = 60;
    orvtest::Attack attack(orvtest::Attack::Kind::Trickling, port_, 64);
    std::this_thread::sleep_for(std::chrono::seconds(2));  // every slot taken
    auto giveUp = std::chrono::steady_clock::now() + kDeliveryGiveUp;
    for (unsigned i = 0; i < kIndications; ++i) {
        ASSERT_TRUE(orvtest::deliverWithRetry(port_, orvtest::indicationExport(i), giveUp))
            << "indication " << i;
    }
    ASSERT_TRUE(consumer_.waitFor(kIndications));
    for (unsigned i = 0; i < kIndications; ++i) {
        CIMInstance inst = consumer_.at(i).indication;
        Uint32 seq = 0;
        inst.getProperty(inst.findProperty("Sequence")).getValue().get(seq);
        EXPECT_EQ(seq, i);
    }
}

TEST_F(Listener, PathsNoConsumerTakesAreRefusedBeforeTheBodyAndOthersGoToTheirConsumerOnly)
{
    PathConsumer mine("/0123456789abcdef0123456789abcdef"), other("/other");
    listener_.removeConsumer(&consumer_);
    listener_.addConsumer(&mine);
    listener_.addConsumer(&other);
    for (const char* guess : {"/", "/0123456789abcdef0123456789abcdee", "/other/"}) {
        EXPECT_EQ(postIndication(port_, guess).status, 404) << guess;
        // A body announced and never sent: the answer comes all the same.
        const std::string head = "POST " + std::string(guess) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
        EXPECT_EQ(send(port_, head + exportHeaders() + "Content-Length: 4000000\r\n\r\n").status, 404);
    }
    EXPECT_EQ(postIndication(port_, mine.path).status, 200);
    EXPECT_EQ(postIndication(port_, other.path).status, 200);
    ASSERT_TRUE(mine.waitFor(1) && other.waitFor(1));
    listener_.removeConsumer(&mine);
    listener_.removeConsumer(&other);
    EXPECT_EQ(mine.at(0).path + " " + other.at(0).path + " " + std::to_string(mine.count() + other.count()),
              mine.path + " /other 2");
}

TEST_F(Listener, QueuedIndicationsAreBoundedInBytesAndAHugeOneIsRefused)
{
    // Once read, each property (100,000 characters) takes about 200 KB.
    auto big = [](size_t properties) {
        std::string props;
        for (size_t i = 0; i < properties; ++i)
            props += "<PROPERTY NAME=\"P" + std::to_string(i) + "\" TYPE=\"string\"><VALUE>" +
                     std::string(100000, 'x') + "</VALUE></PROPERTY>";
        return orvtest::exportPost(exportMessage("ExportIndication", orvtest::newIndication("Big", props)),
                                   "/");
    };
    RawResponse huge = send(port_, big(6));
    EXPECT_EQ(huge.status, 413) << huge.body;
    EXPECT_EQ(huge.header("cimerror"), "request-not-valid");

    GateConsumer held;
    listener_.removeConsumer(&consumer_);
    listener_.addConsumer(&held);
    // Far fewer than the 1,024 the queue counts fill its bytes; the next waits, then is refused.
    size_t accepted = 0;
    while (accepted < 1024 && !orv::cimxml::readExportResponse(send(port_, big(4)).body).isError) ++accepted;
    EXPECT_GT(accepted, 10u);
    EXPECT_LT(accepted, 64u);
    held.open = true;
    EXPECT_TRUE(held.waitFor(accepted));
    EXPECT_FALSE(orv::cimxml::readExportResponse(send(port_, big(4)).body).isError);  // room again
    EXPECT_TRUE(held.waitFor(accepted + 1));
    listener_.removeConsumer(&held);
}

TEST_F(Listener, ExportsWaitingForRoomHoldNoIntakeThreadAndAreRefusedWhenItStops)
{
    GateConsumer held;
    listener_.removeConsumer(&consumer_);
    listener_.addConsumer(&held);
    // One kept-alive connection fills the queue; its last export waits for room and is refused.
    RawConnection filler = RawConnection::tcp(port_);
    RawResponse r;
    for (unsigned n = 0; filler.send(orvtest::indicationExport(n)); ++n) {
        r = filler.read();
        ASSERT_TRUE(r.complete) << "export " << n;
        if (orv::cimxml::readExportResponse(r.body).isError) break;
    }
    // More exports wait than the intake has threads; another connection is served meanwhile.
    std::vector<RawConnection> waiting;
    for (unsigned n = 0; n < 8; ++n) {
        waiting.push_back(RawConnection::tcp(port_));
        waiting.back().send(orvtest::indicationExport(5000 + n));
    }
    EXPECT_EQ(send(port_, httpRequest("GET", "/", "", "")).status, 405);
    std::thread stopper([&] { listener_.stop(); });
    for (RawConnection& c : waiting) {
        RawResponse w = c.read();
        EXPECT_TRUE(w.status != 200 || orv::cimxml::readExportResponse(w.body).isError);
    }
    held.open = true;
    stopper.join();
    EXPECT_FALSE(listener_.isAlive());
}
