// GetInstance and EnumerateInstanceNames through the client library against
// minicimd over its Unix socket, with 10,000 instances, for 1 and 8 clients:
// requests per second and p50/p99 latency.  Prints figures; never fails on them.
#include "MinicimdProcess.h"

#include <Pegasus/Client/CIMClient.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

PEGASUS_USING_PEGASUS;
using namespace minicimd_test;

namespace {

constexpr int kInstances = 10000;
const CIMNamespaceName kNs("root/perf");

std::string writePerfMof(const std::string& dir) {
    std::string path = dir + "/perf.mof";
    std::ofstream out(path);
    out << "Qualifier Key : boolean = false, Scope(property, reference), Flavor(DisableOverride, ToSubclass);\n"
           "class Perf_Item {\n  [Key] uint32 Id;\n  string Label;\n  uint64 Big;\n  real64 Ratio;\n"
           "  boolean Flag;\n  datetime When;\n  string Tags[];\n};\n";
    for (int i = 0; i < kInstances; ++i) {
        out << "instance of Perf_Item { Id = " << i << "; Label = \"item number " << i << "\"; Big = "
            << (18446744073709551615ull - static_cast<unsigned>(i)) << "; Ratio = " << i << ".5; Flag = "
            << (i % 2 ? "true" : "false") << "; When = \"20261207041311.000000+000\"; Tags = {\"a\", \"b\", \"c\"}; };\n";
    }
    return path;
}

struct Figures {
    double seconds;
    size_t requests;
    double p50us, p99us;
};

// `clients` threads, each with its own connection, each doing `perClient` calls of `op`.
Figures run(int clients, int perClient, const std::function<void(CIMClient&, int)>& op) {
    std::vector<double> lat;
    std::mutex mu;
    std::atomic<int> failures{0};
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> ts;
    for (int c = 0; c < clients; ++c) {
        ts.emplace_back([&, c] {
            CIMClient client;
            client.connectLocal();
            std::vector<double> mine;
            mine.reserve(static_cast<size_t>(perClient));
            for (int i = 0; i < perClient; ++i) {
                auto t0 = std::chrono::steady_clock::now();
                try {
                    op(client, c * perClient + i);
                } catch (const Exception&) {
                    ++failures;
                }
                mine.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
            }
            std::lock_guard<std::mutex> lock(mu);
            lat.insert(lat.end(), mine.begin(), mine.end());
        });
    }
    for (auto& t : ts) t.join();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failures) fprintf(stderr, "warning: %d requests failed\n", failures.load());
    std::sort(lat.begin(), lat.end());
    auto pct = [&](double p) { return lat[std::min(lat.size() - 1, static_cast<size_t>(p * static_cast<double>(lat.size())))]; };
    return Figures{secs, lat.size(), pct(0.50), pct(0.99)};
}

std::string figureLines;

// The human-readable line now, and a machine-readable one (name|value|unit|reference name|
// reference value) kept for the end; nothing in this run is a reference for these figures.
void print(const char* what, int clients, const Figures& f) {
    const double perSecond = static_cast<double>(f.requests) / f.seconds;
    printf("%-32s clients=%d  requests=%6zu  %9.1f req/s  p50=%9.1f us  p99=%9.1f us\n", what, clients, f.requests,
           perSecond, f.p50us, f.p99us);
    char line[160];
    snprintf(line, sizeof line, "FIGURE minicimd %s, %d client%s|%.1f|req/s||\n", what, clients,
             clients == 1 ? "" : "s", perSecond);
    figureLines += line;
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/minicimd-benchXXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string mof = writePerfMof(dir);
    MinicimdProcess::Options o;
    o.extra = {"--namespace", "root/perf", "--mof", mof};
    MinicimdProcess server(o);
    setenv("CIM_LOCAL_SOCKET", server.socketPath().c_str(), 1);

    {
        CIMClient check;
        check.connectLocal();
        size_t n = check.enumerateInstanceNames(kNs, "Perf_Item").size();
        printf("minicimd: %zu Perf_Item instances over %s\n", n, server.socketPath().c_str());
    }
    auto getInstance = [](CIMClient& c, int i) {
        char path[64];
        snprintf(path, sizeof path, "Perf_Item.Id=%d", (i * 7919) % kInstances);
        c.getInstance(kNs, CIMObjectPath(path), false);
    };
    auto enumNames = [](CIMClient& c, int) {
        if (c.enumerateInstanceNames(kNs, "Perf_Item").size() != static_cast<Uint32>(kInstances))
            throw Exception("wrong count");
    };
    print("GetInstance", 1, run(1, 4000, getInstance));
    print("GetInstance", 8, run(8, 1000, getInstance));
    print("EnumerateInstanceNames (10,000)", 1, run(1, 40, enumNames));
    print("EnumerateInstanceNames (10,000)", 8, run(8, 10, enumNames));
    fputs(figureLines.c_str(), stdout);
    server.stop();
    std::system(("rm -rf '" + dir + "'").c_str());
    return 0;
}
