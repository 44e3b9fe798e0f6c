// The OpenPegasus client API (Pegasus::client: ours by default, an installed
// OpenPegasus when configured) against the real minicimd: every operation and
// the status codes it can end in, over the Unix socket and over TCP, with and
// without Local authentication; and a client that outlives a server restart.
#include "minicimd_process.h"

#include <Pegasus/Client/CIMClient.h>
#include <gtest/gtest.h>

#include <glob.h>
#include <cstdio>
#include <fstream>
#include <map>
#include <set>
#include "pegasus_text.h"

PEGASUS_USING_PEGASUS;
using namespace orvtest;

namespace {

const CIMNamespaceName kNs("root/test");

struct Mode {
    bool tcp;
    bool auth;
    const char* name;
};

void connectTo(CIMClient& c, const MinicimdProcess& s, bool tcp)
{
    if (tcp) {
        c.connect("localhost", static_cast<Uint32>(s.port()), "", "");
    } else {
        setenv("CIM_LOCAL_SOCKET", s.socketPath().c_str(), 1);
        c.connectLocal();
    }
}

// Runs `f` and returns the CIM status it failed with (0: it did not).
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

std::string valueText(const CIMValue& v)
{
    return v.isNull() ? "<null>" : str(v.toString());
}

class ClientOps : public ::testing::TestWithParam<Mode> {
protected:
    void SetUp() override
    {
        MinicimdProcess::Options o;
        o.tcp = GetParam().tcp;
        o.localAuth = GetParam().auth;
        // A TCP client without authentication is nobody known: it may change the model only when let.
        if (o.tcp && !o.localAuth) o.extra = {"--allow-model-changes", "*"};
        server_ = std::make_unique<MinicimdProcess>(o);
        connectTo(client_, *server_, GetParam().tcp);
    }
    std::unique_ptr<MinicimdProcess> server_;
    CIMClient client_;
};

}  // namespace

TEST_P(ClientOps, ClassOperations)
{
    CIMClass base = client_.getClass(kNs, "Test_Base", false, true, true);
    EXPECT_EQ(str(base.getClassName().getString()), "Test_Base");
    EXPECT_EQ(base.getPropertyCount(), 10u);
    Array<CIMName> keys;
    base.getKeyNames(keys);
    ASSERT_EQ(keys.size(), 1u);
    EXPECT_EQ(str(keys[0].getString()), "Name");
    Uint32 count = base.findProperty("Count");
    ASSERT_NE(count, PEG_NOT_FOUND);
    EXPECT_EQ(valueText(base.getProperty(count).getValue()), "7");
    EXPECT_EQ(str(base.getProperty(count).getClassOrigin().getString()), "Test_Base");
    EXPECT_EQ(base.getMethodCount(), 2u);
    EXPECT_NE(base.findQualifier("Description"), PEG_NOT_FOUND);

    // LocalOnly: only what Test_Special declares or overrides.
    CIMClass special = client_.getClass(kNs, "Test_Special", true, false, false);
    EXPECT_EQ(str(special.getSuperClassName().getString()), "Test_Child");
    EXPECT_EQ(special.getPropertyCount(), 2u);
    EXPECT_NE(special.findProperty("Count"), PEG_NOT_FOUND);
    EXPECT_NE(special.findProperty("Extra"), PEG_NOT_FOUND);
    EXPECT_EQ(special.getMethodCount(), 0u);
    CIMClass specialAll = client_.getClass(kNs, "Test_Special", false, false, false);
    EXPECT_EQ(specialAll.getPropertyCount(), 12u);
    EXPECT_EQ(specialAll.getMethodCount(), 2u);
    EXPECT_EQ(valueText(specialAll.getProperty(specialAll.findProperty("Count")).getValue()), "9");
    // PropertyList narrows the properties.
    Array<CIMName> only;
    only.append("Flag");
    CIMClass narrow = client_.getClass(kNs, "Test_Base", false, false, false, CIMPropertyList(only));
    EXPECT_EQ(narrow.getPropertyCount(), 1u);

    Array<CIMName> top = client_.enumerateClassNames(kNs);
    std::set<std::string> topNames;
    for (Uint32 i = 0; i < top.size(); ++i) topNames.insert(str(top[i].getString()));
    EXPECT_EQ(topNames, (std::set<std::string>{"Test_Base", "Test_Link", "Test_Methods"}));
    Array<CIMName> below = client_.enumerateClassNames(kNs, "Test_Base", true);
    EXPECT_EQ(below.size(), 2u);  // Test_Child, Test_Special
    Array<CIMName> direct = client_.enumerateClassNames(kNs, "Test_Base", false);
    ASSERT_EQ(direct.size(), 1u);
    EXPECT_EQ(str(direct[0].getString()), "Test_Child");

    EXPECT_EQ(cimStatus([&] { client_.getClass(kNs, "No_Such"); }), CIM_ERR_NOT_FOUND);
    EXPECT_EQ(cimStatus([&] { client_.getClass("root/nowhere", "Test_Base"); }), CIM_ERR_INVALID_NAMESPACE);
    EXPECT_EQ(cimStatus([&] { client_.enumerateClassNames(kNs, "No_Such"); }), CIM_ERR_INVALID_CLASS);
}

TEST_P(ClientOps, InstanceReadsCarryEveryType)
{
    CIMInstance alpha = client_.getInstance(kNs, CIMObjectPath("Test_Base.Name=\"alpha\""), false);
    auto get = [&](const char* n) { return alpha.getProperty(alpha.findProperty(n)).getValue(); };
    Uint32 u32 = 0;
    get("Count").get(u32);
    EXPECT_EQ(u32, 4294967295u);
    Uint64 u64 = 0;
    get("Big").get(u64);
    EXPECT_EQ(u64, 18446744073709551615ull);
    Sint8 s8 = 0;
    get("Small").get(s8);
    EXPECT_EQ(s8, -5);
    Real64 r = 0;
    get("Ratio").get(r);
    EXPECT_EQ(r, 1.5);
    Boolean b = false;
    get("Flag").get(b);
    EXPECT_TRUE(b);
    Char16 ch;
    get("Letter").get(ch);
    EXPECT_EQ(Uint16(ch), Uint16('x'));
    CIMDateTime when;
    get("When").get(when);
    EXPECT_EQ(str(when.toString()), "20261207041311.000000+000");
    Array<String> tags;
    get("Tags").get(tags);
    ASSERT_EQ(tags.size(), 2u);
    EXPECT_EQ(str(tags[1]), "b");

    Array<CIMObjectPath> names = client_.enumerateInstanceNames(kNs, "Test_Base");
    std::set<std::string> got;
    for (Uint32 i = 0; i < names.size(); ++i) got.insert(str(names[i].toString()));
    EXPECT_EQ(got.size(), 2u);
    EXPECT_TRUE(got.count("Test_Base.Name=\"alpha\"") ||
                got.count("//localhost/root/test:Test_Base.Name=\"alpha\""))
        << *got.begin();

    Array<CIMInstance> deep = client_.enumerateInstances(kNs, "Test_Base", true, false);
    ASSERT_EQ(deep.size(), 2u);
    // Without DeepInheritance a Test_Child instance shows Test_Base's properties only.
    Array<CIMInstance> shallow = client_.enumerateInstances(kNs, "Test_Base", false, false);
    for (Uint32 i = 0; i < shallow.size(); ++i) EXPECT_EQ(shallow[i].findProperty("Id"), PEG_NOT_FOUND);
    Array<CIMName> only;
    only.append("Count");
    Array<CIMInstance> counts =
        client_.enumerateInstances(kNs, "Test_Base", true, false, false, false, CIMPropertyList(only));
    for (Uint32 i = 0; i < counts.size(); ++i) EXPECT_EQ(counts[i].getPropertyCount(), 1u);

    // The association's references come back as object paths.
    Array<CIMInstance> links = client_.enumerateInstances(kNs, "Test_Link");
    ASSERT_EQ(links.size(), 1u);
    CIMObjectPath left;
    links[0].getProperty(links[0].findProperty("Left")).getValue().get(left);
    EXPECT_EQ(str(left.getClassName().getString()), "Test_Base");

    EXPECT_EQ(cimStatus([&] { client_.getInstance(kNs, CIMObjectPath("Test_Base.Name=\"nope\"")); }),
              CIM_ERR_NOT_FOUND);
    EXPECT_EQ(cimStatus([&] { client_.getInstance(kNs, CIMObjectPath("No_Such.Name=\"x\"")); }),
              CIM_ERR_INVALID_CLASS);
    EXPECT_EQ(cimStatus([&] { client_.getInstance(kNs, CIMObjectPath("Test_Base.Wrong=\"x\"")); }),
              CIM_ERR_INVALID_PARAMETER);
    EXPECT_EQ(cimStatus([&] { client_.enumerateInstanceNames(kNs, "No_Such"); }), CIM_ERR_INVALID_CLASS);
    EXPECT_EQ(cimStatus([&] { client_.enumerateInstances("root/nowhere", "Test_Base"); }),
              CIM_ERR_INVALID_NAMESPACE);
}

TEST_P(ClientOps, InstanceChanges)
{
    CIMInstance ni("Test_Base");
    ni.addProperty(CIMProperty("Name", CIMValue(String("gamma"))));
    ni.addProperty(CIMProperty("Count", CIMValue(Uint32(11))));
    Array<String> tags;
    tags.append("x&y");
    tags.append("<z>");
    ni.addProperty(CIMProperty("Tags", CIMValue(tags)));
    CIMObjectPath path = client_.createInstance(kNs, ni);
    EXPECT_EQ(str(path.getClassName().getString()), "Test_Base");
    CIMObjectPath gamma("Test_Base.Name=\"gamma\"");
    CIMInstance back = client_.getInstance(kNs, gamma, false);
    Array<String> t2;
    back.getProperty(back.findProperty("Tags")).getValue().get(t2);
    ASSERT_EQ(t2.size(), 2u);
    EXPECT_EQ(str(t2[0]), "x&y");
    EXPECT_EQ(str(t2[1]), "<z>");
    EXPECT_EQ(valueText(back.getProperty(back.findProperty("Count")).getValue()), "11");
    EXPECT_EQ(cimStatus([&] { client_.createInstance(kNs, ni); }), CIM_ERR_ALREADY_EXISTS);

    CIMInstance noKey("Test_Base");
    noKey.addProperty(CIMProperty("Count", CIMValue(Uint32(1))));
    EXPECT_EQ(cimStatus([&] { client_.createInstance(kNs, noKey); }), CIM_ERR_INVALID_PARAMETER);
    CIMInstance unknown("Test_Base");
    unknown.addProperty(CIMProperty("Name", CIMValue(String("u"))));
    unknown.addProperty(CIMProperty("Bogus", CIMValue(String("u"))));
    EXPECT_EQ(cimStatus([&] { client_.createInstance(kNs, unknown); }), CIM_ERR_NO_SUCH_PROPERTY);
    CIMInstance wrongType("Test_Base");
    wrongType.addProperty(CIMProperty("Name", CIMValue(String("w"))));
    wrongType.addProperty(CIMProperty("Count", CIMValue(String("many"))));
    EXPECT_EQ(cimStatus([&] { client_.createInstance(kNs, wrongType); }), CIM_ERR_TYPE_MISMATCH);
    CIMInstance noClass("No_Such");
    noClass.addProperty(CIMProperty("Name", CIMValue(String("n"))));
    EXPECT_EQ(cimStatus([&] { client_.createInstance(kNs, noClass); }), CIM_ERR_INVALID_CLASS);

    // Properties, one at a time.
    client_.setProperty(kNs, gamma, "Label", CIMValue(String("set")));
    EXPECT_EQ(valueText(client_.getProperty(kNs, gamma, "Label")), "set");
    client_.setProperty(kNs, gamma, "Label");  // null
    EXPECT_TRUE(client_.getProperty(kNs, gamma, "Label").isNull());
    EXPECT_EQ(cimStatus([&] { client_.getProperty(kNs, gamma, "Bogus"); }), CIM_ERR_NO_SUCH_PROPERTY);
    EXPECT_EQ(cimStatus([&] { client_.setProperty(kNs, gamma, "Bogus", CIMValue(String("x"))); }),
              CIM_ERR_NO_SUCH_PROPERTY);
    EXPECT_EQ(cimStatus([&] { client_.setProperty(kNs, gamma, "Count", CIMValue(String("x"))); }),
              CIM_ERR_TYPE_MISMATCH);
    EXPECT_EQ(cimStatus([&] { client_.getProperty(kNs, CIMObjectPath("Test_Base.Name=\"none\""), "Count"); }),
              CIM_ERR_NOT_FOUND);

    // ModifyInstance with and without a property list.
    CIMInstance mod("Test_Base");
    mod.setPath(gamma);
    mod.addProperty(CIMProperty("Name", CIMValue(String("gamma"))));
    mod.addProperty(CIMProperty("Label", CIMValue(String("modified"))));
    mod.addProperty(CIMProperty("Count", CIMValue(Uint32(12))));
    Array<CIMName> onlyLabel;
    onlyLabel.append("Label");
    client_.modifyInstance(kNs, mod, false, CIMPropertyList(onlyLabel));
    EXPECT_EQ(valueText(client_.getProperty(kNs, gamma, "Label")), "modified");
    EXPECT_EQ(valueText(client_.getProperty(kNs, gamma, "Count")), "11");
    client_.modifyInstance(kNs, mod);
    EXPECT_EQ(valueText(client_.getProperty(kNs, gamma, "Count")), "12");
    CIMInstance ghost("Test_Base");
    ghost.setPath(CIMObjectPath("Test_Base.Name=\"ghost\""));
    ghost.addProperty(CIMProperty("Name", CIMValue(String("ghost"))));
    EXPECT_EQ(cimStatus([&] { client_.modifyInstance(kNs, ghost); }), CIM_ERR_NOT_FOUND);

    client_.deleteInstance(kNs, gamma);
    EXPECT_EQ(cimStatus([&] { client_.deleteInstance(kNs, gamma); }), CIM_ERR_NOT_FOUND);
    EXPECT_EQ(cimStatus([&] { client_.getInstance(kNs, gamma); }), CIM_ERR_NOT_FOUND);
}

TEST_P(ClientOps, MethodsThroughTheBuiltInProviders)
{
    CIMObjectPath m("Test_Methods.Name=\"m\"");
    Array<CIMParamValue> in, out;
    in.append(CIMParamValue("Text", CIMValue(String("hello"))));
    in.append(CIMParamValue("Number", CIMValue(Sint32(-42))));
    in.append(CIMParamValue("Flag", CIMValue(Boolean(true))));
    in.append(CIMParamValue("When", CIMValue(CIMDateTime(String("20200101000000.000000+060")))));
    Array<Uint16> nums;
    nums.append(1);
    nums.append(65535);
    in.append(CIMParamValue("Numbers", CIMValue(nums)));
    in.append(CIMParamValue("Target", CIMValue(CIMObjectPath("Test_Base.Name=\"alpha\""))));
    CIMValue ret = client_.invokeMethod(kNs, m, "Echo", in, out);
    EXPECT_EQ(ret.getType(), CIMTYPE_STRING);
    EXPECT_EQ(valueText(ret), "hello");
    ASSERT_EQ(out.size(), in.size());
    std::map<std::string, CIMValue> byName;
    for (Uint32 i = 0; i < out.size(); ++i) byName[str(out[i].getParameterName())] = out[i].getValue();
    Sint32 n = 0;
    byName["Number"].get(n);
    EXPECT_EQ(n, -42);
    Array<Uint16> nb;
    byName["Numbers"].get(nb);
    ASSERT_EQ(nb.size(), 2u);
    EXPECT_EQ(nb[1], 65535);
    CIMDateTime w;
    byName["When"].get(w);
    EXPECT_EQ(str(w.toString()), "20200101000000.000000+060");
    CIMObjectPath target;
    byName["Target"].get(target);
    EXPECT_EQ(str(target.getClassName().getString()), "Test_Base");

    // Array, datetime and reference outputs.
    Array<CIMParamValue> none, outs;
    ret = client_.invokeMethod(kNs, m, "Outputs", none, outs);
    EXPECT_EQ(valueText(ret), "0");
    std::map<std::string, CIMValue> o;
    for (Uint32 i = 0; i < outs.size(); ++i) o[str(outs[i].getParameterName())] = outs[i].getValue();
    Array<Uint32> numbers;
    o["Numbers"].get(numbers);
    ASSERT_EQ(numbers.size(), 3u);
    EXPECT_EQ(numbers[2], 4294967295u);
    Array<String> words;
    o["Words"].get(words);
    ASSERT_EQ(words.size(), 2u);
    EXPECT_EQ(str(words[1]), "two & <three>");
    CIMDateTime stamp, interval;
    o["Stamp"].get(stamp);
    o["Interval"].get(interval);
    EXPECT_EQ(str(stamp.toString()), "20240229235958.123456-300");
    EXPECT_TRUE(interval.isInterval());
    CIMObjectPath one;
    o["Target"].get(one);
    EXPECT_EQ(str(one.getClassName().getString()), "Test_Base");
    Array<CIMObjectPath> all;
    o["Targets"].get(all);
    EXPECT_EQ(all.size(), 2u);

    // Failures: as asked, no provider, no such method, no such target, bad parameters.
    for (int code : {1, 2, 4, 6, 7, 12, 27}) {
        Array<CIMParamValue> fin, fout;
        fin.append(CIMParamValue("Code", CIMValue(Uint32(code))));
        fin.append(CIMParamValue("Message", CIMValue(String("asked"))));
        EXPECT_EQ(cimStatus([&] { client_.invokeMethod(kNs, m, "Fail", fin, fout); }), code);
    }
    Array<CIMParamValue> e1, e2;
    EXPECT_EQ(cimStatus([&] { client_.invokeMethod(kNs, m, "Unserved", e1, e2); }),
              CIM_ERR_METHOD_NOT_AVAILABLE);
    EXPECT_EQ(cimStatus([&] {
                  client_.invokeMethod(kNs, CIMObjectPath("Test_Base.Name=\"alpha\""), "DoIt", e1, e2);
              }),
              CIM_ERR_METHOD_NOT_AVAILABLE);
    EXPECT_EQ(cimStatus([&] { client_.invokeMethod(kNs, m, "NoSuchMethod", e1, e2); }),
              CIM_ERR_METHOD_NOT_FOUND);
    EXPECT_EQ(cimStatus([&] {
                  client_.invokeMethod(kNs, CIMObjectPath("Test_Methods.Name=\"gone\""), "Echo", e1, e2);
              }),
              CIM_ERR_NOT_FOUND);
    Array<CIMParamValue> bad;
    bad.append(CIMParamValue("Nope", CIMValue(String("x"))));
    EXPECT_EQ(cimStatus([&] { client_.invokeMethod(kNs, m, "Echo", bad, e2); }), CIM_ERR_INVALID_PARAMETER);
    Array<CIMParamValue> wrong;
    wrong.append(CIMParamValue("Number", CIMValue(String("x"))));
    EXPECT_EQ(cimStatus([&] { client_.invokeMethod(kNs, m, "Echo", wrong, e2); }), CIM_ERR_TYPE_MISMATCH);
    EXPECT_EQ(cimStatus([&] { client_.invokeMethod("root/nowhere", m, "Echo", e1, e2); }),
              CIM_ERR_INVALID_NAMESPACE);
}

INSTANTIATE_TEST_SUITE_P(Transports, ClientOps,
                         ::testing::Values(Mode{false, false, "socket"},
                                           Mode{false, true, "socket_local_auth"}, Mode{true, false, "tcp"}),
                         [](const ::testing::TestParamInfo<Mode>& i) { return std::string(i.param.name); });

TEST(ClientAuth, LocalAuthenticationIsEnforced)
{
    MinicimdProcess::Options o;
    o.localAuth = true;
    o.tcp = true;
    // Challenge files in a place of this case's own among those the client accepts:
    // other suites running at the same time leave theirs in /tmp for a moment.
    o.extra = {"--auth-dir", "/var/tmp"};
    MinicimdProcess s(o);
    // The handshake works (ClientOps covers every operation with it), and no
    // challenge file is left behind once answered.
    CIMClient ok;
    connectTo(ok, s, false);
    EXPECT_EQ(ok.enumerateClassNames(kNs).size(), 3u);
    EXPECT_NE(s.readLog().find("Local authentication required"), std::string::npos);
    glob_t g{};
    EXPECT_EQ(glob("/var/tmp/minicimd-auth-*", 0, nullptr, &g), GLOB_NOMATCH) << "challenge files left";
    globfree(&g);
    // Over TCP a client has no Local scheme to offer: it is refused, not served.
    CIMClient tcp;
    connectTo(tcp, s, true);
    bool refused = false;
    try {
        tcp.enumerateClassNames(kNs);
    } catch (const CIMClientHTTPErrorException& e) {
        refused = e.getCode() == 401;
    } catch (const Exception&) {
        refused = true;
    }
    EXPECT_TRUE(refused);
}

TEST(ClientRecovery, SameClientWorksAgainAfterServerRestart)
{
    MinicimdProcess::Options o;
    MinicimdProcess s(o);
    CIMClient c;
    connectTo(c, s, false);
    EXPECT_EQ(c.enumerateInstanceNames(kNs, "Test_Base").size(), 2u);
    s.stop();
    bool failed = false;
    try {
        c.enumerateInstanceNames(kNs, "Test_Base");
    } catch (const CIMException&) {
        ADD_FAILURE() << "a stopped server cannot answer with a CIM status";
    } catch (const Exception&) {
        failed = true;
    }
    EXPECT_TRUE(failed);
    s.start();
    // A fresh server holds the MOF state again.
    EXPECT_EQ(c.enumerateInstanceNames(kNs, "Test_Base").size(), 2u);
    EXPECT_EQ(c.getClass(kNs, "Test_Base").getPropertyCount(), 10u);
}

// A value CIM-XML cannot carry (a control character, from MOF) fails the
// answers that would hold it with CIM_ERR_FAILED naming it; the server and
// the other answers carry on.
TEST(ClientUnwritable, ValuesNoAnswerCanCarryFailTheirAnswersOnly)
{
    char tmpl[] = "/tmp/minicimd-oddXXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    const std::string mof = std::string(tmpl) + "/odd.mof";
    {
        std::ofstream out(mof);
        out << "class Test_Odd { [Key] string Name; string Text; };\n"
               "instance of Test_Odd { Name = \"ok\"; Text = \"bell\\x7\"; };\n"
               "class Test_OddKey { [Key] string Name; };\n"
               "instance of Test_OddKey { Name = \"bell\\x7\"; };\n";
    }
    MinicimdProcess::Options o;
    o.extra = {"--mof", mof};
    MinicimdProcess s(o);
    CIMClient c;
    connectTo(c, s, false);
    const CIMObjectPath odd(String("Test_Odd.Name=\"ok\""));
    auto failure = [](auto f) {
        try {
            f();
        } catch (const CIMException& e) {
            return std::to_string(e.getCode()) + " " + str(e.getMessage());
        }
        return std::string("no failure");
    };
    const std::string expected = "1 CIM_ERR_FAILED: text holds U+0007, which XML 1.0 cannot carry";
    EXPECT_EQ(failure([&] { c.getInstance(kNs, odd, false, false, false, CIMPropertyList()); }), expected);
    EXPECT_EQ(failure([&] { c.enumerateInstanceNames(kNs, "Test_OddKey"); }), expected);
    // What leaves the value out goes through.
    Array<CIMName> nameOnly;
    nameOnly.append(CIMName("Name"));
    EXPECT_EQ(c.getInstance(kNs, odd, false, false, false, CIMPropertyList(nameOnly)).getPropertyCount(), 1u);
    EXPECT_EQ(c.enumerateInstanceNames(kNs, "Test_Odd").size(), 1u);
    EXPECT_EQ(c.enumerateInstanceNames(kNs, "Test_Base").size(), 2u);
    s.stop();
    std::remove(mof.c_str());
    rmdir(tmpl);
}
