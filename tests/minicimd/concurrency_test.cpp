// 8 clients x 500 mixed operations against one minicimd at once: every answer
// is checked against what that client knows it did, and afterwards the
// repository holds exactly the union of what every client left behind.
#include "minicimd_process.h"

#include <Pegasus/Client/CIMClient.h>
#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <mutex>
#include <set>
#include <thread>
#include "pegasus_text.h"

PEGASUS_USING_PEGASUS;
using namespace orvtest;

namespace {

constexpr int kClients = 8;
constexpr int kOpsPerClient = 500;
const CIMNamespaceName kNs("root/test");

struct Expected {
    Uint32 count;
    std::string label;
};

}  // namespace

TEST(Concurrency, EightClientsFiveHundredMixedOperationsEach)
{
    MinicimdProcess::Options o;
    MinicimdProcess server(o);
    setenv("CIM_LOCAL_SOCKET", server.socketPath().c_str(), 1);

    std::mutex resultMu;
    std::map<std::string, Expected> survivors;  // by Name, from every client
    std::atomic<int> wrong{0};
    std::atomic<int> done{0};
    std::vector<std::string> problems;
    auto problem = [&](const std::string& p) {
        ++wrong;
        std::lock_guard<std::mutex> lock(resultMu);
        if (problems.size() < 20) problems.push_back(p);
    };

    auto client = [&](int id) {
        CIMClient c;
        try {
            c.connectLocal();
        } catch (const Exception& e) {
            problem("connect: " + str(e.getMessage()));
            return;
        }
        std::map<std::string, Expected> mine;
        int serial = 0;
        for (int op = 0; op < kOpsPerClient; ++op) {
            try {
                int kind = (op * 7 + id) % 8;
                if (kind == 0 || mine.empty()) {
                    std::string name = "c" + std::to_string(id) + "-" + std::to_string(serial++);
                    CIMInstance ni("Test_Base");
                    ni.addProperty(CIMProperty("Name", CIMValue(String(name.c_str()))));
                    ni.addProperty(CIMProperty("Count", CIMValue(Uint32(op))));
                    c.createInstance(kNs, ni);
                    mine[name] = Expected{Uint32(op), ""};
                    ++done;
                    continue;
                }
                auto it = mine.begin();
                std::advance(it, op % mine.size());
                const std::string name = it->first;
                CIMObjectPath path(String(("Test_Base.Name=\"" + name + "\"").c_str()));
                switch (kind) {
                    case 1: {
                        CIMInstance got = c.getInstance(kNs, path, false);
                        Uint32 v = 0;
                        got.getProperty(got.findProperty("Count")).getValue().get(v);
                        if (v != it->second.count) problem(name + ": Count " + std::to_string(v));
                        break;
                    }
                    case 2:
                        c.setProperty(kNs, path, "Count", CIMValue(Uint32(op * 3)));
                        it->second.count = Uint32(op * 3);
                        break;
                    case 3: {
                        CIMValue v = c.getProperty(kNs, path, "Label");
                        std::string label = v.isNull() ? "" : str(v.toString());
                        if (label != it->second.label) problem(name + ": Label '" + label + "'");
                        break;
                    }
                    case 4: {
                        CIMInstance mod("Test_Base");
                        mod.setPath(path);
                        std::string label = "L" + std::to_string(op);
                        mod.addProperty(CIMProperty("Label", CIMValue(String(label.c_str()))));
                        Array<CIMName> only;
                        only.append("Label");
                        c.modifyInstance(kNs, mod, false, CIMPropertyList(only));
                        it->second.label = label;
                        break;
                    }
                    case 5: {
                        // Others change the set all the time; every one of mine must be there.
                        Array<CIMObjectPath> names = c.enumerateInstanceNames(kNs, "Test_Base");
                        std::set<std::string> seen;
                        for (Uint32 i = 0; i < names.size(); ++i) {
                            const Array<CIMKeyBinding>& kb = names[i].getKeyBindings();
                            for (Uint32 k = 0; k < kb.size(); ++k)
                                if (kb[k].getName().equal("Name")) seen.insert(str(kb[k].getValue()));
                        }
                        for (const auto& m : mine)
                            if (!seen.count(m.first)) problem(m.first + " missing from the enumeration");
                        break;
                    }
                    case 6: {
                        c.deleteInstance(kNs, path);
                        mine.erase(it);
                        try {
                            c.getInstance(kNs, path);
                            problem(name + " still there after delete");
                        } catch (const CIMException& e) {
                            if (e.getCode() != CIM_ERR_NOT_FOUND)
                                problem(name + ": after delete " + std::to_string(e.getCode()));
                        }
                        break;
                    }
                    default: {
                        Array<CIMParamValue> in, out;
                        in.append(CIMParamValue("Text", CIMValue(String(name.c_str()))));
                        CIMValue r =
                            c.invokeMethod(kNs, CIMObjectPath("Test_Methods.Name=\"m\""), "Echo", in, out);
                        if (str(r.toString()) != name || out.size() != 1) problem(name + ": echo");
                        break;
                    }
                }
            } catch (const Exception& e) {
                problem("client " + std::to_string(id) + " op " + std::to_string(op) + ": " +
                        str(e.getMessage()));
            }
            ++done;
        }
        std::lock_guard<std::mutex> lock(resultMu);
        for (const auto& m : mine) survivors.insert(m);
    };

    std::vector<std::thread> threads;
    for (int i = 0; i < kClients; ++i) threads.emplace_back(client, i);
    for (auto& t : threads) t.join();

    EXPECT_EQ(done.load(), kClients * kOpsPerClient);
    EXPECT_EQ(wrong.load(), 0);
    for (const auto& p : problems) ADD_FAILURE() << p;

    // The repository afterwards: alpha, beta and exactly the survivors, with their last values.
    CIMClient c;
    c.connectLocal();
    Array<CIMInstance> all = c.enumerateInstances(kNs, "Test_Base", true, false);
    std::map<std::string, Expected> found;
    for (Uint32 i = 0; i < all.size(); ++i) {
        String name;
        all[i].getProperty(all[i].findProperty("Name")).getValue().get(name);
        Uint32 count = 0;
        all[i].getProperty(all[i].findProperty("Count")).getValue().get(count);
        CIMValue lv = all[i].getProperty(all[i].findProperty("Label")).getValue();
        found[str(name)] = Expected{count, lv.isNull() ? "" : str(lv.toString())};
    }
    EXPECT_EQ(found.size(), survivors.size() + 2);
    EXPECT_TRUE(found.count("alpha"));
    EXPECT_TRUE(found.count("beta"));
    for (const auto& s : survivors) {
        auto it = found.find(s.first);
        ASSERT_NE(it, found.end()) << s.first;
        EXPECT_EQ(it->second.count, s.second.count) << s.first;
        EXPECT_EQ(it->second.label, s.second.label) << s.first;
    }
    EXPECT_EQ(c.enumerateInstanceNames(kNs, "Test_Base").size(), found.size());
    // The server logged no internal error and is still up.
    EXPECT_EQ(server.readLog().find("internal error"), std::string::npos);
    EXPECT_EQ(server.stop(), 0);
}
