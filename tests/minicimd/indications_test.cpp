// Subscriptions and lifecycle indications: the client library creates
// filters, destinations and subscriptions in minicimd's root/interop, our
// CIMListener on a free port receives what instance changes in root/test
// raise; listeners that are gone or never answer do not hold operations up.
#include "MinicimdProcess.h"

#include <Pegasus/Client/CIMClient.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>

PEGASUS_USING_PEGASUS;
using namespace minicimd_test;

namespace {

constexpr auto kWait = std::chrono::seconds(60);
const CIMNamespaceName kInterop("root/interop");
const CIMNamespaceName kTest("root/test");

std::string str(const String& s) { return std::string(static_cast<const char*>(s.getCString())); }

std::string stringProperty(const CIMInstance& inst, const char* name) {
    Uint32 i = inst.findProperty(name);
    if (i == PEG_NOT_FOUND || inst.getProperty(i).getValue().isNull()) return "<none>";
    String s;
    inst.getProperty(i).getValue().get(s);
    return str(s);
}

struct Received {
    std::string path;
    CIMInstance indication;
    std::string className() const { return str(indication.getClassName().getString()); }
};

class RecordingConsumer : public CIMIndicationConsumer {
public:
    void consumeIndication(const OperationContext&, const String& path, const CIMInstance& indication) override {
        std::lock_guard<std::mutex> g(mu_);
        got_.push_back(Received{str(path), indication});
        cv_.notify_all();
    }
    bool waitFor(size_t n) {
        std::unique_lock<std::mutex> g(mu_);
        return cv_.wait_for(g, kWait, [&] { return got_.size() >= n; });
    }
    std::vector<Received> all() {
        std::lock_guard<std::mutex> g(mu_);
        return got_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Received> got_;
};

template <typename F>
int cimStatus(F f) {
    try {
        f();
    } catch (const CIMException& e) {
        return static_cast<int>(e.getCode());
    }
    return 0;
}

CIMInstance filter(const std::string& name, const std::string& query, const std::string& language = "WQL") {
    CIMInstance f("CIM_IndicationFilter");
    f.addProperty(CIMProperty("Name", String(name.c_str())));
    f.addProperty(CIMProperty("Query", String(query.c_str())));
    f.addProperty(CIMProperty("QueryLanguage", String(language.c_str())));
    return f;
}

CIMInstance destination(const std::string& name, const std::string& url) {
    CIMInstance d("CIM_ListenerDestinationCIMXML");
    d.addProperty(CIMProperty("Name", String(name.c_str())));
    d.addProperty(CIMProperty("Destination", String(url.c_str())));
    return d;
}

CIMInstance subscription(const CIMObjectPath& f, const CIMObjectPath& h) {
    CIMInstance s("CIM_IndicationSubscription");
    s.addProperty(CIMProperty("Filter", CIMValue(f), 0, "CIM_IndicationFilter"));
    s.addProperty(CIMProperty("Handler", CIMValue(h), 0, "CIM_ListenerDestination"));
    return s;
}

CIMInstance testInstance(const std::string& name, const std::string& label) {
    CIMInstance i("Test_Base");
    i.addProperty(CIMProperty("Name", String(name.c_str())));
    i.addProperty(CIMProperty("Label", String(label.c_str())));
    return i;
}

std::string url(Uint32 port, const std::string& path) { return "http://127.0.0.1:" + std::to_string(port) + path; }

class Subscriptions : public ::testing::Test {
protected:
    void SetUp() override {
        server_ = std::make_unique<MinicimdProcess>(MinicimdProcess::Options{});
        setenv("CIM_LOCAL_SOCKET", server_->socketPath().c_str(), 1);
        client_.connectLocal();
        listener_.addConsumer(&consumer_);
        listener_.start();
    }
    // A filter, a destination on our listener at `path` and a subscription of the two.
    CIMObjectPath subscribe(const std::string& name, const std::string& query, const std::string& path) {
        CIMObjectPath f = client_.createInstance(kInterop, filter(name, query));
        CIMObjectPath h = client_.createInstance(kInterop, destination(name, url(listener_.getPortNumber(), path)));
        return client_.createInstance(kInterop, subscription(f, h));
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

std::vector<Refusal> refusals() {
    const char* creation = "SELECT * FROM CIM_InstCreation";
    return {
        {"FilterWithWhere", filter("f", "SELECT * FROM CIM_InstCreation WHERE SourceInstance ISA Test_Base"),
         CIM_ERR_NOT_SUPPORTED},
        {"FilterWithPropertyList", filter("f", "SELECT IndicationTime FROM CIM_InstCreation"), CIM_ERR_NOT_SUPPORTED},
        {"FilterOtherLanguage", filter("f", creation, "CQL-Extended"), CIM_ERR_NOT_SUPPORTED},
        {"FilterNotAnIndicationClass", filter("f", "SELECT * FROM CIM_ManagedElement"), CIM_ERR_INVALID_PARAMETER},
        {"FilterUnknownClass", filter("f", "SELECT * FROM Test_Nothing"), CIM_ERR_INVALID_PARAMETER},
        {"DestinationNotLoopback", destination("d", "http://192.0.2.1:5988/cimlistener"), CIM_ERR_NOT_SUPPORTED},
        {"DestinationOtherHost", destination("d", "http://example.com:5988/"), CIM_ERR_NOT_SUPPORTED},
        {"DestinationHttps", destination("d", "https://127.0.0.1:5989/"), CIM_ERR_NOT_SUPPORTED},
        {"DestinationNoPort", destination("d", "http://127.0.0.1/x"), CIM_ERR_INVALID_PARAMETER},
        {"DestinationBadPort", destination("d", "http://localhost:99999/x"), CIM_ERR_INVALID_PARAMETER},
        {"DestinationNotAUrl", destination("d", "127.0.0.1 5988"), CIM_ERR_INVALID_PARAMETER},
        {"SubscriptionToNothing",
         subscription(CIMObjectPath("CIM_IndicationFilter.CreationClassName=\"CIM_IndicationFilter\",Name=\"none\","
                                    "SystemCreationClassName=\"CIM_ComputerSystem\",SystemName=\"localhost\""),
                      CIMObjectPath("CIM_ListenerDestinationCIMXML.CreationClassName=\"CIM_ListenerDestinationCIMXML\","
                                    "Name=\"none\",SystemCreationClassName=\"CIM_ComputerSystem\",SystemName=\"localhost\"")),
         CIM_ERR_INVALID_PARAMETER},
    };
}

class Refused : public Subscriptions, public ::testing::WithParamInterface<Refusal> {};

}  // namespace

TEST_P(Refused, IsNotStored) {
    const Refusal& r = GetParam();
    std::string className = str(r.instance.getClassName().getString());
    size_t before = count(className.c_str());
    EXPECT_EQ(cimStatus([&] { client_.createInstance(kInterop, r.instance); }), r.status);
    EXPECT_EQ(count(className.c_str()), before);
}

INSTANTIATE_TEST_SUITE_P(All, Refused, ::testing::ValuesIn(refusals()),
                         [](const ::testing::TestParamInfo<Refusal>& i) { return std::string(i.param.name); });

TEST_F(Subscriptions, AreInstancesLikeOthers) {
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
    changed.getProperty(changed.findProperty("Query")).setValue(CIMValue(String("SELECT * FROM CIM_InstDeletion")));
    EXPECT_EQ(cimStatus([&] { client_.modifyInstance(kInterop, changed); }), CIM_ERR_NOT_SUPPORTED);
    client_.deleteInstance(kInterop, sub);
    EXPECT_EQ(count("CIM_IndicationSubscription"), 0u);
    // The interop namespace's own instances raise no indications.
    EXPECT_EQ(consumer_.all().size(), 0u);
}

TEST_F(Subscriptions, LifecycleIndicationsReachTheListener) {
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
    const char* expected[] = {"CIM_InstCreation", "CIM_InstModification", "CIM_InstModification", "CIM_InstDeletion"};
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
    EXPECT_NE(stringProperty(got[1].indication, "PreviousInstance").find("<VALUE>first</VALUE>"), std::string::npos);
    EXPECT_NE(stringProperty(got[2].indication, "PreviousInstance").find("<VALUE>second</VALUE>"), std::string::npos);
    EXPECT_EQ(stringProperty(got[0].indication, "PreviousInstance"), "<none>");
}

TEST_F(Subscriptions, FiltersSelectByIndicationClass) {
    subscribe("creations", "SELECT * FROM CIM_InstCreation", "/creations");
    subscribe("deletions", "SELECT * FROM cim_instdeletion", "/deletions");
    subscribe("everything", "select * from CIM_Indication", "/everything");
    CIMObjectPath path = client_.createInstance(kTest, testInstance("sel", "x"));
    client_.setProperty(kTest, path, "Label", CIMValue(String("y")));
    client_.deleteInstance(kTest, path);
    ASSERT_TRUE(consumer_.waitFor(5));
    std::multiset<std::string> seen;
    for (const auto& r : consumer_.all()) seen.insert(r.path + " " + r.className());
    EXPECT_EQ(seen, (std::multiset<std::string>{"/creations CIM_InstCreation", "/deletions CIM_InstDeletion",
                                                "/everything CIM_InstCreation", "/everything CIM_InstModification",
                                                "/everything CIM_InstDeletion"}));
}

TEST_F(Subscriptions, DeletedSubscriptionDeliversNoMore) {
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

TEST_F(Subscriptions, ListenersThatAreGoneOrSilentDoNotHoldOperationsUp) {
    // Nobody listens on the first port; the second accepts connections (the
    // kernel does) and never answers.
    int gone = freeTcpPort();
    int silent = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in sa{};
    sa.sin_family = AF_INET;
    sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&sa), sizeof sa), 0);
    ASSERT_EQ(listen(silent, 64), 0);
    socklen_t len = sizeof sa;
    getsockname(silent, reinterpret_cast<sockaddr*>(&sa), &len);
    int silentPort = ntohs(sa.sin_port);
    for (auto [name, port] : {std::pair<const char*, int>{"gone", gone}, {"silent", silentPort}}) {
        CIMObjectPath f = client_.createInstance(kInterop, filter(name, "SELECT * FROM CIM_InstIndication"));
        CIMObjectPath h = client_.createInstance(kInterop, destination(name, url(static_cast<Uint32>(port), "/")));
        client_.createInstance(kInterop, subscription(f, h));
    }
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
    EXPECT_NE(stringProperty(consumer_.all()[0].indication, "SourceInstance").find("seen"), std::string::npos);
    // And SIGTERM stops it cleanly with deliveries pending.
    client_.createInstance(kTest, testInstance("pending", "x"));
    int status = server_->stop();
    EXPECT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    close(silent);
}
