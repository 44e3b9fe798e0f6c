// Subscriptions and lifecycle indications: the client library creates
// filters, destinations and subscriptions in minicimd's root/interop, our
// CIMListener on a free port receives what instance changes in root/test
// raise; listeners that are gone or never answer do not hold operations up.
#include "minicimd_process.h"
#include "indication_export.h"
#include "loopback.h"
#include "pegasus_text.h"
#include "recording_consumer.h"
#include "scripted_http_server.h"
#include "subscriptions.h"

#include <Pegasus/Client/CIMClient.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>
#include <gtest/gtest.h>

#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <atomic>
#include <condition_variable>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>

PEGASUS_USING_PEGASUS;
using namespace orvtest;

namespace {

constexpr auto kWait = std::chrono::seconds(60);
const CIMNamespaceName kInterop("root/interop");
const CIMNamespaceName kTest("root/test");

std::string stringProperty(const CIMInstance& inst, const char* name)
{
    Uint32 i = inst.findProperty(name);
    if (i == PEG_NOT_FOUND || inst.getProperty(i).getValue().isNull()) return "<none>";
    String s;
    inst.getProperty(i).getValue().get(s);
    return str(s);
}

template <typename F>
int cimStatus(F f)
{
    try {
        f();
    } catch (const CIMException& e) {
        return static_cast<int>(e.getCode());
    }
    return 0;
}

CIMInstance testInstance(const std::string& name, const std::string& label)
{
    CIMInstance i("Test_Base");
    i.addProperty(CIMProperty("Name", String(name.c_str())));
    i.addProperty(CIMProperty("Label", String(label.c_str())));
    return i;
}

class Subscriptions : public ::testing::Test {
protected:
    void SetUp() override
    {
        server_ = std::make_unique<MinicimdProcess>(MinicimdProcess::Options{});
        setenv("CIM_LOCAL_SOCKET", server_->socketPath().c_str(), 1);
        client_.connectLocal();
        listener_.addConsumer(&consumer_);
        listener_.start();
    }
    // A filter, a destination at `path` on a loopback port (our listener's by
    // default) and a subscription of the two.
    CIMObjectPath subscribe(const std::string& name, const std::string& query, const std::string& path,
                            int port = 0)
    {
        const unsigned to = port == 0 ? listener_.getPortNumber() : static_cast<unsigned>(port);
        return orvtest::subscribe(client_, name, query, loopbackUrl(to, path));
    }
    size_t count(const char* className) { return client_.enumerateInstanceNames(kInterop, className).size(); }

    std::unique_ptr<MinicimdProcess> server_;
    CIMClient client_;
    // The consumer outlives the listener, whose delivery thread may still call it.
    RecordingConsumer consumer_;
    CIMListener listener_{0};
};

struct Refusal {
    const char* name;
    CIMInstance instance;
    int status;
};

std::vector<Refusal> refusals()
{
    const char* creation = "SELECT * FROM CIM_InstCreation";
    return {
        {"FilterWithWhere",
         indicationFilter("f", "SELECT * FROM CIM_InstCreation WHERE SourceInstance ISA Test_Base"),
         CIM_ERR_NOT_SUPPORTED},
        {"FilterWithPropertyList", indicationFilter("f", "SELECT IndicationTime FROM CIM_InstCreation"),
         CIM_ERR_NOT_SUPPORTED},
        {"FilterOtherLanguage", indicationFilter("f", creation, "CQL-Extended"), CIM_ERR_NOT_SUPPORTED},
        {"FilterNotAnIndicationClass", indicationFilter("f", "SELECT * FROM CIM_ManagedElement"),
         CIM_ERR_INVALID_PARAMETER},
        {"FilterUnknownClass", indicationFilter("f", "SELECT * FROM Test_Nothing"),
         CIM_ERR_INVALID_PARAMETER},
        {"DestinationNotLoopback", listenerDestination("d", "http://192.0.2.1:5988/cimlistener"),
         CIM_ERR_NOT_SUPPORTED},
        {"DestinationOtherHost", listenerDestination("d", "http://example.com:5988/"), CIM_ERR_NOT_SUPPORTED},
        {"DestinationHttps", listenerDestination("d", "https://127.0.0.1:5989/"), CIM_ERR_NOT_SUPPORTED},
        {"DestinationNoPort", listenerDestination("d", "http://127.0.0.1/x"), CIM_ERR_INVALID_PARAMETER},
        {"DestinationBadPort", listenerDestination("d", "http://localhost:99999/x"),
         CIM_ERR_INVALID_PARAMETER},
        {"DestinationNotAUrl", listenerDestination("d", "127.0.0.1 5988"), CIM_ERR_INVALID_PARAMETER},
        {"SubscriptionToNothing",
         indicationSubscription(
             CIMObjectPath("CIM_IndicationFilter.CreationClassName=\"CIM_IndicationFilter\",Name=\"none\","
                           "SystemCreationClassName=\"CIM_ComputerSystem\",SystemName=\"localhost\""),
             CIMObjectPath(
                 "CIM_ListenerDestinationCIMXML.CreationClassName=\"CIM_ListenerDestinationCIMXML\","
                 "Name=\"none\",SystemCreationClassName=\"CIM_ComputerSystem\",SystemName=\"localhost\"")),
         CIM_ERR_INVALID_PARAMETER},
    };
}

class Refused : public Subscriptions, public ::testing::WithParamInterface<Refusal> {};

}  // namespace

TEST_P(Refused, IsNotStored)
{
    const Refusal& r = GetParam();
    std::string className = str(r.instance.getClassName().getString());
    size_t before = count(className.c_str());
    EXPECT_EQ(cimStatus([&] { client_.createInstance(kInterop, r.instance); }), r.status);
    EXPECT_EQ(count(className.c_str()), before);
}

INSTANTIATE_TEST_SUITE_P(All, Refused, ::testing::ValuesIn(refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& i) {
                             return std::string(i.param.name);
                         });

TEST_F(Subscriptions, AreInstancesLikeOthers)
{
    CIMObjectPath sub = subscribe("plain", "SELECT * FROM CIM_InstCreation", "/");
    EXPECT_EQ(count("CIM_IndicationFilter"), 1u);
    EXPECT_EQ(count("CIM_ListenerDestinationCIMXML"), 1u);
    ASSERT_EQ(count("CIM_IndicationSubscription"), 1u);
    CIMInstance got = client_.getInstance(kInterop, sub);
    EXPECT_NE(got.findProperty("Filter"), PEG_NOT_FOUND);
    // The keys a server chooses are filled in.
    CIMInstance f = client_.enumerateInstances(kInterop, "CIM_IndicationFilter")[0];
    EXPECT_EQ(stringProperty(f, "CreationClassName"), "CIM_IndicationFilter");
    EXPECT_EQ(stringProperty(f, "SystemCreationClassName"), "CIM_ComputerSystem");
    // Configuration changes in place are refused; delete works.
    CIMInstance changed = f.clone();
    changed.getProperty(changed.findProperty("Query"))
        .setValue(CIMValue(String("SELECT * FROM CIM_InstDeletion")));
    EXPECT_EQ(cimStatus([&] { client_.modifyInstance(kInterop, changed); }), CIM_ERR_NOT_SUPPORTED);
    client_.deleteInstance(kInterop, sub);
    EXPECT_EQ(count("CIM_IndicationSubscription"), 0u);
    // The interop namespace's own instances raise no indications.
    EXPECT_EQ(consumer_.all().size(), 0u);
}

TEST_F(Subscriptions, LifecycleIndicationsReachTheListener)
{
    subscribe("all", "SELECT * FROM CIM_InstIndication", "/orv/all");
    CIMObjectPath path = client_.createInstance(kTest, testInstance("ind-1", "first"));
    CIMInstance modified = testInstance("ind-1", "second");
    modified.setPath(path);
    client_.modifyInstance(kTest, modified, false, CIMPropertyList());
    client_.setProperty(kTest, path, "Label", CIMValue(String("third")));
    client_.deleteInstance(kTest, path);

    ASSERT_TRUE(consumer_.waitFor(4));
    std::vector<Received> got = consumer_.all();
    ASSERT_EQ(got.size(), 4u);
    const char* expected[] = {"CIM_InstCreation", "CIM_InstModification", "CIM_InstModification",
                              "CIM_InstDeletion"};
    const char* labels[] = {"first", "second", "third", "third"};
    for (size_t i = 0; i < 4; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(got[i].className(), expected[i]);
        EXPECT_EQ(got[i].path, "/orv/all");
        std::string source = stringProperty(got[i].indication, "SourceInstance");
        EXPECT_NE(source.find("<INSTANCE CLASSNAME=\"Test_Base\""), std::string::npos) << source;
        EXPECT_NE(source.find("ind-1"), std::string::npos);
        EXPECT_NE(source.find(std::string("<VALUE>") + labels[i] + "</VALUE>"), std::string::npos) << source;
        Uint32 t = got[i].indication.findProperty("IndicationTime");
        ASSERT_NE(t, PEG_NOT_FOUND);
        EXPECT_FALSE(got[i].indication.getProperty(t).getValue().isNull());
        EXPECT_EQ(got[i].indication.getProperty(t).getValue().getType(), CIMTYPE_DATETIME);
        EXPECT_EQ(stringProperty(got[i].indication, "IndicationFilterName"), "all");
    }
    EXPECT_NE(stringProperty(got[1].indication, "PreviousInstance").find("<VALUE>first</VALUE>"),
              std::string::npos);
    EXPECT_NE(stringProperty(got[2].indication, "PreviousInstance").find("<VALUE>second</VALUE>"),
              std::string::npos);
    EXPECT_EQ(stringProperty(got[0].indication, "PreviousInstance"), "<none>");
}

TEST_F(Subscriptions, FiltersSelectByIndicationClass)
{
    subscribe("creations", "SELECT * FROM CIM_InstCreation", "/creations");
    subscribe("deletions", "SELECT * FROM cim_instdeletion", "/deletions");
    subscribe("everything", "select * from CIM_Indication", "/everything");
    CIMObjectPath path = client_.createInstance(kTest, testInstance("sel", "x"));
    client_.setProperty(kTest, path, "Label", CIMValue(String("y")));
    client_.deleteInstance(kTest, path);
    ASSERT_TRUE(consumer_.waitFor(5));
    std::multiset<std::string> seen;
    for (const auto& r : consumer_.all()) seen.insert(r.path + " " + r.className());
    EXPECT_EQ(seen,
              (std::multiset<std::string>{"/creations CIM_InstCreation", "/deletions CIM_InstDeletion",
                                          "/everything CIM_InstCreation", "/everything CIM_InstModification",
                                          "/everything CIM_InstDeletion"}));
}

TEST_F(Subscriptions, DeletedSubscriptionDeliversNoMore)
{
    CIMObjectPath first = subscribe("first", "SELECT * FROM CIM_InstCreation", "/first");
    subscribe("second", "SELECT * FROM CIM_InstCreation", "/second");
    client_.createInstance(kTest, testInstance("before", "x"));
    ASSERT_TRUE(consumer_.waitFor(2));
    client_.deleteInstance(kInterop, first);
    client_.createInstance(kTest, testInstance("after-1", "x"));
    client_.createInstance(kTest, testInstance("after-2", "x"));
    // Deliveries and the listener's consumers both keep their order: once the
    // second subscription has seen after-2, anything for after-1 has come.
    ASSERT_TRUE(consumer_.waitFor(4));
    for (const auto& r : consumer_.all()) {
        if (r.path == "/first") {
            EXPECT_NE(stringProperty(r.indication, "SourceInstance").find("before"), std::string::npos);
        }
    }
    EXPECT_EQ(consumer_.all().size(), 4u);
}

TEST_F(Subscriptions, ListenersThatAreGoneOrSilentDoNotHoldOperationsUp)
{
    // Nobody listens on the first port; the second accepts connections (the
    // kernel does) and never answers.
    int gone = freeTcpPort();
    int silentPort = 0;
    int silent = listenLoopback(&silentPort);
    for (auto [name, port] : {std::pair<const char*, int>{"gone", gone}, {"silent", silentPort}})
        subscribe(name, "SELECT * FROM CIM_InstIndication", "/", port);
    // Every operation answers, and answers right, while deliveries fail.
    for (int i = 0; i < 5; ++i) {
        std::string name = "busy-" + std::to_string(i);
        CIMObjectPath p = client_.createInstance(kTest, testInstance(name, "x"));
        EXPECT_EQ(stringProperty(client_.getInstance(kTest, p), "Name"), name);
        client_.setProperty(kTest, p, "Label", CIMValue(String("y")));
    }
    EXPECT_EQ(client_.enumerateInstanceNames(kTest, "Test_Base").size() >= 5u, true);
    // A live listener subscribed now still gets its indication.
    subscribe("live", "SELECT * FROM CIM_InstCreation", "/live");
    client_.createInstance(kTest, testInstance("seen", "x"));
    ASSERT_TRUE(consumer_.waitFor(1));
    EXPECT_NE(stringProperty(consumer_.all()[0].indication, "SourceInstance").find("seen"),
              std::string::npos);
    // And SIGTERM stops it cleanly with deliveries pending.
    client_.createInstance(kTest, testInstance("pending", "x"));
    int status = server_->stop();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    close(silent);
}

namespace {

// The Name of an indication's SourceInstance, read back from its CIM-XML.
std::string sourceName(const CIMInstance& indication)
{
    std::string source = stringProperty(indication, "SourceInstance");
    size_t at = source.find("<PROPERTY NAME=\"Name\"");
    size_t v = source.find("<VALUE>", at);
    size_t end = source.find("</VALUE>", v);
    if (at == std::string::npos || v == std::string::npos || end == std::string::npos) return "<none>";
    return source.substr(v + 7, end - v - 7);
}

// A listener that answers every export right, but only after `delay`.
ScriptedHttpServer::Serve slowAnswers(std::chrono::milliseconds delay, std::atomic<int>& answered)
{
    return [delay, &answered](int fd, const std::atomic<bool>& stopping) {
        std::string buffered;
        while (ScriptedHttpServer::readRequest(fd, stopping, buffered)) {
            std::this_thread::sleep_for(delay);
            std::string a = exportAnswer();
            if (::send(fd, a.data(), a.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(a.size())) return;
            ++answered;
        }
    };
}

}  // namespace

TEST_F(Subscriptions, SlowAndDeadListenersDelayOnlyThemselves)
{
    std::atomic<int> slowAnswered{0};
    auto slow =
        ScriptedHttpServer::servingLoopbackTcp(slowAnswers(std::chrono::milliseconds(1000), slowAnswered));
    // Two ports nobody listens on and five listeners that never read.
    std::vector<int> ports = {slow->port(), freeTcpPort(), freeTcpPort()};
    std::vector<int> silent;
    for (int i = 0; i < 5; ++i) {
        int port = 0;
        silent.push_back(listenLoopback(&port));
        ports.push_back(port);
    }
    for (size_t i = 0; i < ports.size(); ++i)
        subscribe("other-" + std::to_string(i), "SELECT * FROM CIM_InstCreation", "/", ports[i]);
    subscribe("live", "SELECT * FROM CIM_InstCreation", "/live");
    const int kChanges = 20;
    for (int i = 0; i < kChanges; ++i)
        client_.createInstance(kTest, testInstance("n" + std::to_string(i), "x"));
    ASSERT_TRUE(consumer_.waitFor(kChanges));
    // The live listener has all of them, in order, while the slow one is still
    // working through its first few.
    EXPECT_LT(slowAnswered.load(), kChanges / 2);
    std::vector<Received> got = consumer_.all();
    ASSERT_EQ(got.size(), static_cast<size_t>(kChanges));
    for (int i = 0; i < kChanges; ++i) EXPECT_EQ(sourceName(got[i].indication), "n" + std::to_string(i));
    // The slow listener's exports all come on one kept-alive connection.
    EXPECT_EQ(slow->connections(), 1);
    server_->stop();
    for (int fd : silent) close(fd);
}

TEST_F(Subscriptions, ListenerThatComesUpLateGetsEverythingInOrder)
{
    int port = freeTcpPort();
    subscribe("late", "SELECT * FROM CIM_InstCreation", "/late", port);
    const int kChanges = 30;
    for (int i = 0; i < kChanges; ++i)
        client_.createInstance(kTest, testInstance("n" + std::to_string(i), "x"));
    // Nobody listened for a while; now somebody does.
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    RecordingConsumer late;
    CIMListener listener(static_cast<Uint32>(port));
    listener.addConsumer(&late);
    listener.start();
    ASSERT_TRUE(late.waitFor(kChanges));
    std::vector<Received> got = late.all();
    ASSERT_EQ(got.size(), static_cast<size_t>(kChanges));
    for (int i = 0; i < kChanges; ++i) EXPECT_EQ(sourceName(got[i].indication), "n" + std::to_string(i));
    listener.stop();
}

TEST_F(Subscriptions, EndlessAnswerIsReadOnlyToItsBound)
{
    // Answers every request with a 200 whose body never ends, as long as it is read.
    std::atomic<size_t> written{0};
    auto endless =
        ScriptedHttpServer::servingLoopbackTcp([&written](int fd, const std::atomic<bool>& stopping) {
            std::string buffered;
            if (!ScriptedHttpServer::readRequest(fd, stopping, buffered)) return;
            std::string head =
                "HTTP/1.1 200 OK\r\nContent-Type: application/xml\r\nContent-Length: 100000000000\r\n\r\n";
            if (::send(fd, head.data(), head.size(), MSG_NOSIGNAL) < 0) return;
            std::string chunk(65536, ' ');
            const size_t kGiveUp = 512u * 1024 * 1024;
            while (!stopping && written < kGiveUp) {
                pollfd p{fd, POLLOUT, 0};
                if (poll(&p, 1, 50) <= 0) continue;
                ssize_t n = ::send(fd, chunk.data(), chunk.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
                if (n < 0 && errno != EAGAIN) return;
                if (n > 0) written += static_cast<size_t>(n);
            }
        });
    subscribe("endless", "SELECT * FROM CIM_InstCreation", "/", endless->port());
    subscribe("live", "SELECT * FROM CIM_InstCreation", "/live");
    client_.createInstance(kTest, testInstance("one", "x"));
    ASSERT_TRUE(consumer_.waitFor(1));
    // The bad answer ends the connection: minicimd has read little of it.
    auto deadline = std::chrono::steady_clock::now() + kWait;
    while (server_->readLog().find("longer than") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_NE(server_->readLog().find("longer than"), std::string::npos) << server_->readLog();
    EXPECT_LT(written.load(), 32u * 1024 * 1024);
}

namespace {

// A consumer that takes each indication `delay` after it comes, and (when held)
// nothing at all until it is let go: either way the listener's queue fills.
class PacedConsumer : public RecordingConsumer {
public:
    PacedConsumer(std::chrono::microseconds delay, bool held) : delay_(delay), released_(!held) {}
    void consumeIndication(const OperationContext& ctx, const String& path,
                           const CIMInstance& indication) override
    {
        {
            std::unique_lock<std::mutex> g(mu_);
            cv_.wait(g, [this] { return released_; });
        }
        std::this_thread::sleep_for(delay_);
        RecordingConsumer::consumeIndication(ctx, path, indication);
    }
    void release()
    {
        std::lock_guard<std::mutex> g(mu_);
        released_ = true;
        cv_.notify_all();
    }

private:
    const std::chrono::microseconds delay_;
    std::mutex mu_;
    std::condition_variable cv_;
    bool released_;
};

struct FullQueue {
    const char* name;
    int changes;
    std::chrono::microseconds delay;
    bool held;  // let go once minicimd was refused for a full queue, which it then says
};

class QueueFills : public Subscriptions, public ::testing::WithParamInterface<FullQueue> {};

}  // namespace

TEST_P(QueueFills, NothingIsLostAndTheOrderStays)
{
    const FullQueue& q = GetParam();
    PacedConsumer consumer(q.delay, q.held);
    CIMListener listener(0);
    listener.addConsumer(&consumer);
    listener.start();
    // Let go whatever happens, before the listener is stopped (it waits for its consumer).
    struct Release {
        PacedConsumer& consumer;
        ~Release() { consumer.release(); }
    } releaseAtEnd{consumer};
    subscribe(q.name, "SELECT * FROM CIM_InstCreation", std::string("/") + q.name,
              static_cast<int>(listener.getPortNumber()));
    for (int i = 0; i < q.changes; ++i)
        client_.createInstance(kTest, testInstance("n" + std::to_string(i), "x"));
    if (q.held) {
        auto deadline = std::chrono::steady_clock::now() + kWait;
        while (server_->readLog().find("try again later") == std::string::npos &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        consumer.release();
    }
    ASSERT_TRUE(consumer.waitFor(static_cast<size_t>(q.changes)));
    std::vector<Received> got = consumer.all();
    ASSERT_EQ(got.size(), static_cast<size_t>(q.changes));
    for (int i = 0; i < q.changes; ++i)
        ASSERT_EQ(sourceName(got[i].indication), "n" + std::to_string(i)) << i;
    if (q.held) {
        // The refusal said it was temporary, and the export got through later.
        std::string log = server_->readLog();
        EXPECT_NE(log.find("the listener's queue is full; try again later; trying again"), std::string::npos)
            << log;
        EXPECT_NE(log.find("delivered after"), std::string::npos) << log;
    }
    listener.stop();
}

// Slow: far more than the listener's queue holds, faster than the consumer takes
// them.  Held: one in the consumer, the queue full (1024), and some more.
INSTANTIATE_TEST_SUITE_P(Subscriptions, QueueFills,
                         ::testing::Values(FullQueue{"slow", 3000, std::chrono::microseconds(4000), false},
                                           FullQueue{"held", 1100, std::chrono::microseconds(0), true}),
                         [](const ::testing::TestParamInfo<FullQueue>& i) {
                             return std::string(i.param.name);
                         });

namespace {

// What uid 65534 got from `f` (a CIM status, or what it counted) and the
// error's text, run in a child that drops to that user and authenticates
// with Local over the socket.
template <typename F>
std::pair<int, std::string> asNobody(F f)
{
    int fds[2];
    if (pipe(fds) != 0) return {-1, "pipe"};
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        std::string out = "-1 cannot become uid 65534";
        if (setgroups(0, nullptr) == 0 && setgid(65534) == 0 && setuid(65534) == 0) {
            try {
                CIMClient c;
                c.connectLocal();
                out = std::to_string(f(c));
            } catch (const CIMException& e) {
                out = std::to_string(static_cast<int>(e.getCode())) + " " + str(e.getMessage());
            } catch (const std::exception& e) {
                out = std::string("-1 ") + e.what();
            }
        }
        ssize_t w = write(fds[1], out.data(), out.size());
        (void)w;
        _exit(0);
    }
    close(fds[1]);
    std::string got;
    char buf[4096];
    for (ssize_t n; (n = read(fds[0], buf, sizeof buf)) > 0;) got.append(buf, static_cast<size_t>(n));
    close(fds[0]);
    waitpid(pid, nullptr, 0);
    size_t sp = got.find(' ');
    return {got.empty() ? -1 : std::atoi(got.c_str()), sp == std::string::npos ? "" : got.substr(sp + 1)};
}

struct Permission {
    const char* what;
    bool userSubscriptions;  // the server lets users keep their own
    std::function<int(CIMClient&, const std::vector<CIMObjectPath>& root)> run;
    int expected;
};

}  // namespace

TEST(Access, WhoMayDoWhat)
{
    const int kDenied = CIM_ERR_ACCESS_DENIED;
    const CIMObjectPath alpha("Test_Base.Name=\"alpha\"");
    auto names = [](CIMClient& c, const CIMNamespaceName& ns, const char* cls) {
        return static_cast<int>(c.enumerateInstanceNames(ns, cls).size());
    };
    // A filter, a destination and a subscription of the nobody user; returns the subscription.
    auto own = [](CIMClient& c, const std::string& name, const CIMObjectPath& ownFilter) {
        CIMObjectPath f =
            c.createInstance(kInterop, indicationFilter(name, "SELECT * FROM CIM_InstCreation"));
        CIMObjectPath h = c.createInstance(kInterop, listenerDestination(name, loopbackUrl(9, "/")));
        return c.createInstance(kInterop,
                                indicationSubscription(ownFilter.getKeyBindings().size() ? ownFilter : f, h));
    };
    const std::vector<Permission> rows = {
        // Subscriptions are the privileged users' ...
        {"enumerate destinations", false,
         [&](CIMClient& c, auto&) { return names(c, kInterop, "CIM_ListenerDestinationCIMXML"); }, kDenied},
        {"get root's destination", false,
         [](CIMClient& c, auto& r) { return c.getInstance(kInterop, r[1]), 0; }, kDenied},
        {"delete root's subscription", false,
         [](CIMClient& c, auto& r) { return c.deleteInstance(kInterop, r[2]), 0; }, kDenied},
        {"create a destination", false,
         [](CIMClient& c, auto&) {
             return c.createInstance(kInterop, listenerDestination("d", loopbackUrl(9, "/"))), 0;
         },
         kDenied},
        {"a superclass leaves them out", false,
         [&](CIMClient& c, auto&) { return names(c, kInterop, "CIM_ManagedElement"); }, 0},
        // ... the model is changed only by them, and read by all.
        {"create an instance", false,
         [](CIMClient& c, auto&) { return c.createInstance(kTest, testInstance("n", "x")), 0; }, kDenied},
        {"set a property", false,
         [&](CIMClient& c, auto&) { return c.setProperty(kTest, alpha, "Label", CIMValue(String("x"))), 0; },
         kDenied},
        {"delete an instance", false, [&](CIMClient& c, auto&) { return c.deleteInstance(kTest, alpha), 0; },
         kDenied},
        {"invoke a method", false,
         [](CIMClient& c, auto&) {
             Array<CIMParamValue> in, out;
             c.invokeMethod(kTest, CIMObjectPath("Test_Methods.Name=\"m\""), "Echo", in, out);
             return 0;
         },
         kDenied},
        {"read instances", false, [&](CIMClient& c, auto&) { return c.getInstance(kTest, alpha), 0; }, 0},
        // With --allow-user-subscriptions each user keeps its own, and sees only those.
        {"own subscription", true,
         [&](CIMClient& c, auto&) {
             own(c, "n", CIMObjectPath());
             return names(c, kInterop, "CIM_IndicationSubscription");
         },
         1},
        {"delete own subscription", true,
         [&](CIMClient& c, auto&) {
             return c.deleteInstance(kInterop,
                                     c.enumerateInstanceNames(kInterop, "CIM_IndicationSubscription")[0]),
                    0;
         },
         0},
        {"root's stays out of reach", true,
         [](CIMClient& c, auto& r) { return c.deleteInstance(kInterop, r[2]), 0; }, kDenied},
        {"a subscription to root's filter", true,
         [&](CIMClient& c, auto& r) { return own(c, "n2", r[0]), 0; }, kDenied},
        {"one filter past the cap", true,
         [](CIMClient& c, auto&) {
             for (int i = 0; i <= 32; ++i)
                 c.createInstance(
                     kInterop, indicationFilter("f" + std::to_string(i), "SELECT * FROM CIM_InstCreation"));
             return 0;
         },
         CIM_ERR_SERVER_LIMITS_EXCEEDED},
    };
    for (bool allow : {false, true}) {
        MinicimdProcess::Options o;
        o.localAuth = true;
        if (allow) o.extra = {"--allow-user-subscriptions"};
        MinicimdProcess s(o);
        chmod(s.dir().c_str(), 0711);  // the socket's directory, for the other user
        setenv("CIM_LOCAL_SOCKET", s.socketPath().c_str(), 1);
        CIMClient root;
        root.connectLocal();
        std::vector<CIMObjectPath> mine = {
            root.createInstance(kInterop, indicationFilter("r", "SELECT * FROM CIM_InstCreation")),
            root.createInstance(kInterop, listenerDestination("r", loopbackUrl(9, "/")))};
        mine.push_back(root.createInstance(kInterop, indicationSubscription(mine[0], mine[1])));
        for (const auto& row : rows) {
            if (row.userSubscriptions != allow) continue;
            auto got = asNobody([&](CIMClient& c) { return row.run(c, mine); });
            EXPECT_EQ(got.first, row.expected) << row.what << ": " << got.second;
            if (row.expected == kDenied) {
                EXPECT_NE(got.second.find("User (nobody) is not authorized to perform this operation."),
                          std::string::npos)
                    << row.what << ": " << got.second;
            }
        }
        EXPECT_EQ(root.enumerateInstanceNames(kInterop, "CIM_IndicationSubscription").size(), 1u);
        EXPECT_EQ(root.enumerateInstanceNames(kTest, "Test_Base").size(), 2u);
    }
}

namespace {

// What minicimd may hold with 8 MB exports queued for a listener that is down
// (unbounded queues held 384 MB of exports alone).  AddressSanitizer keeps up to
// 256 MB of freed memory in quarantine on top.
#if defined(__SANITIZE_ADDRESS__)
constexpr size_t kServerMemoryBoundKb = 512u * 1024;
#else
constexpr size_t kServerMemoryBoundKb = 256u * 1024;
#endif

size_t procStatus(pid_t pid, const char* field)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(in, line);)
        if (line.compare(0, strlen(field), field) == 0) return std::stoul(line.substr(strlen(field) + 1));
    return 0;
}

size_t occurrences(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

}  // namespace

TEST_F(Subscriptions, ListenersThatAreDownCostBoundedBytesAndOneThread)
{
    CIMObjectPath f =
        client_.createInstance(kInterop, indicationFilter("down", "SELECT * FROM CIM_InstIndication"));
    std::set<int> ports;
    auto addDestination = [&] {
        int port = freeTcpPort();
        if (!ports.insert(port).second) return;
        std::string name = "down" + std::to_string(port);
        CIMObjectPath h =
            client_.createInstance(kInterop, listenerDestination(name, loopbackUrl(Uint32(port), "/")));
        client_.createInstance(kInterop, indicationSubscription(f, h));
    };
    auto triedAll = [&] {
        auto deadline = std::chrono::steady_clock::now() + kWait;
        while (occurrences(server_->readLog(), "; trying again") < ports.size() &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return occurrences(server_->readLog(), "; trying again");
    };
    // Root's changes with 8 MB values, for a listener that is down: 48 exports of 8 MB.
    addDestination();
    const std::string big(8u << 20, 'x');
    for (int i = 0; i < 24; ++i)
        client_.deleteInstance(kTest, client_.createInstance(kTest, testInstance("big", big)));
    EXPECT_EQ(triedAll(), 1u);
    EXPECT_NE(server_->readLog().find("are being dropped"), std::string::npos);
    EXPECT_LT(procStatus(server_->pid(), "VmRSS:"), kServerMemoryBoundKb) << "kB";
    // The repository refuses what would take it past its budget, and stores nothing of it.
    int refused = 0;
    size_t made = 0;
    for (; made < 16 && !refused; ++made)
        refused = cimStatus(
            [&] { client_.createInstance(kTest, testInstance("big" + std::to_string(made), big)); });
    EXPECT_EQ(refused, CIM_ERR_SERVER_LIMITS_EXCEEDED);
    EXPECT_EQ(client_.enumerateInstanceNames(kTest, "Test_Base").size(), 2 + made - 1);
    // 300 listeners that are down, each tried again and again, share the one sender.
    while (ports.size() < 300) addDestination();
    client_.createInstance(kTest, testInstance("small", "x"));
    EXPECT_EQ(triedAll(), ports.size());
    EXPECT_LE(procStatus(server_->pid(), "Threads:"), 8u);
}
