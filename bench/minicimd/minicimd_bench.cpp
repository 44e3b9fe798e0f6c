// The client library against minicimd over its Unix socket, with the Perf_Item
// data set (10,000 instances): EnumerateInstanceNames of all of them and
// GetInstance of one with 100 properties (qualifiers and class origins asked
// for).  Prints, per operation, the client's CPU time (the calling thread does
// all of the client's work) and the wall time, each next to the figures of the
// reference client and server measured on a machine like ours; then the
// server's request rate and latency with 1 and 8 clients, and its resident
// memory holding the 10,000 instances.  Prints figures; never fails on them.
#include "minicimd_process.h"
#include "PerfItems.h"

#include <Pegasus/Client/CIMClient.h>

#include <time.h>

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
using namespace orvtest;

namespace {

const CIMNamespaceName kNs("root/perf");
constexpr int kFullInstance = 3;
constexpr int kCpuRepetitions = 9;
constexpr int kCpuNameCalls = 5;        // per repetition
constexpr int kCpuInstanceCalls = 200;  // per repetition

// OpenPegasus 2.14.4, measured side by side with ours on a machine like this
// one against the same data: its client's CPU (against a real server), its
// server's wall time (our client on both), the low ends of their ranges; its
// server's resident memory after enumerating the 10,000 instances.
constexpr double kReferenceClientNamesMs = 19.5;
constexpr double kReferenceClientInstanceMs = 0.38;
constexpr double kReferenceServerNamesMs = 29.8;
constexpr double kReferenceServerInstanceMs = 1.1;
constexpr double kReferenceServerMiB = 311;

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

double nowMs()
{
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct PerCall {
    double cpuMs, wallMs;
};

// Medians over the repetitions of the client's CPU and the wall time per call.
PerCall measure(const std::function<void()>& call, int calls)
{
    call();  // warm the connection and the caches
    std::vector<double> cpu, wall;
    for (int r = 0; r < kCpuRepetitions; ++r) {
        const double c0 = threadCpuMs(), w0 = nowMs();
        for (int i = 0; i < calls; ++i) call();
        cpu.push_back((threadCpuMs() - c0) / calls);
        wall.push_back((nowMs() - w0) / calls);
    }
    std::sort(cpu.begin(), cpu.end());
    std::sort(wall.begin(), wall.end());
    return PerCall{cpu[cpu.size() / 2], wall[wall.size() / 2]};
}

struct Figures {
    double seconds;
    size_t requests;
    double p50us, p99us;
};

// `clients` threads, each with its own connection, each doing `perClient` calls of `op`.
Figures run(int clients, int perClient, const std::function<void(CIMClient&, int)>& op)
{
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
                mine.push_back(
                    std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count());
            }
            std::lock_guard<std::mutex> lock(mu);
            lat.insert(lat.end(), mine.begin(), mine.end());
        });
    }
    for (auto& t : ts) t.join();
    double secs = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (failures) fprintf(stderr, "warning: %d requests failed\n", failures.load());
    std::sort(lat.begin(), lat.end());
    auto pct = [&](double p) {
        return lat[std::min(lat.size() - 1, static_cast<size_t>(p * static_cast<double>(lat.size())))];
    };
    return Figures{secs, lat.size(), pct(0.50), pct(0.99)};
}

std::string figureLines;

// Machine-readable: name|value|unit|reference name|reference value.
void figure(const std::string& what, double value, const char* unit, const char* reference = "",
            double referenceValue = 0)
{
    char line[256];
    if (*reference) {
        snprintf(line, sizeof line, "FIGURE %s|%.3f|%s|%s|%.3f\n", what.c_str(), value, unit, reference,
                 referenceValue);
    } else {
        snprintf(line, sizeof line, "FIGURE %s|%.1f|%s||\n", what.c_str(), value, unit);
    }
    figureLines += line;
}

void print(const char* what, int clients, const Figures& f)
{
    const double perSecond = static_cast<double>(f.requests) / f.seconds;
    printf("%-32s clients=%d  requests=%6zu  %9.1f req/s  p50=%9.1f us  p99=%9.1f us\n", what, clients,
           f.requests, perSecond, f.p50us, f.p99us);
    figure(std::string("minicimd ") + what + ", " + std::to_string(clients) +
               (clients == 1 ? " client" : " clients"),
           perSecond, "req/s");
}

// The server's resident set, from /proc.
long residentKiB(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long kib = -1;
    while (in >> key) {
        if (key == "VmRSS:") {
            in >> kib;
            break;
        }
        in.ignore(4096, '\n');
    }
    return kib;
}

}  // namespace

int main()
{
    char tmpl[] = "/tmp/minicimd-benchXXXXXX";
    std::string dir = mkdtemp(tmpl);
    std::string mof = perf_items::writeMof(dir);
    MinicimdProcess::Options o;
    o.extra = {"--namespace", "root/perf", "--mof", mof};
    MinicimdProcess server(o);
    setenv("CIM_LOCAL_SOCKET", server.socketPath().c_str(), 1);
    const long idleKiB = residentKiB(server.pid());

    const CIMObjectPath fullPath(String(("Perf_Item.Id=" + std::to_string(kFullInstance)).c_str()));
    auto getInstance = [&](CIMClient& c, int i) {
        char path[64];
        snprintf(path, sizeof path, "Perf_Item.Id=%d", (i * 7919) % perf_items::kInstances);
        c.getInstance(kNs, CIMObjectPath(path), false, true, true, CIMPropertyList());
    };
    auto enumNames = [](CIMClient& c, int) {
        if (c.enumerateInstanceNames(kNs, perf_items::kClass).size() !=
            static_cast<Uint32>(perf_items::kInstances))
            throw Exception("wrong count");
    };

    {
        CIMClient client;
        client.connectLocal();
        const Uint32 names = client.enumerateInstanceNames(kNs, perf_items::kClass).size();
        const Uint32 properties =
            client.getInstance(kNs, fullPath, false, true, true, CIMPropertyList()).getPropertyCount();
        printf("minicimd: %u Perf_Item instances over %s, Id=%d has %u properties\n", names,
               server.socketPath().c_str(), kFullInstance, properties);
        const PerCall n = measure([&] { enumNames(client, 0); }, kCpuNameCalls);
        const PerCall g =
            measure([&] { client.getInstance(kNs, fullPath, false, true, true, CIMPropertyList()); },
                    kCpuInstanceCalls);
        printf("EnumerateInstanceNames (10,000): client CPU %.3f ms, wall %.3f ms\n", n.cpuMs, n.wallMs);
        printf("GetInstance (100 properties):    client CPU %.3f ms, wall %.3f ms\n", g.cpuMs, g.wallMs);
        printf(
            "reference client CPU %.1f ms and %.2f ms, reference server wall %.1f ms and %.2f ms "
            "(goals: at most half of each)\n",
            kReferenceClientNamesMs, kReferenceClientInstanceMs, kReferenceServerNamesMs,
            kReferenceServerInstanceMs);
        figure("client CPU, EnumerateInstanceNames 10,000", n.cpuMs, "ms", "reference client",
               kReferenceClientNamesMs);
        figure("client CPU, GetInstance 100 properties", g.cpuMs, "ms", "reference client",
               kReferenceClientInstanceMs);
        figure("server wall, EnumerateInstanceNames 10,000, minicimd + client", n.wallMs, "ms",
               "reference server", kReferenceServerNamesMs);
        figure("server wall, GetInstance 100 properties, minicimd + client", g.wallMs, "ms",
               "reference server", kReferenceServerInstanceMs);
    }
    print("GetInstance", 1, run(1, 4000, getInstance));
    print("GetInstance", 8, run(8, 1000, getInstance));
    print("EnumerateInstanceNames (10,000)", 1, run(1, 40, enumNames));
    print("EnumerateInstanceNames (10,000)", 8, run(8, 10, enumNames));
    const long busyKiB = residentKiB(server.pid());
    printf("minicimd resident memory: %ld KiB with the 10,000 instances loaded, %ld KiB after the runs\n",
           idleKiB, busyKiB);
    figure("minicimd resident memory, 10,000 instances", static_cast<double>(busyKiB) / 1024.0, "MiB",
           "reference server after enumerating them", kReferenceServerMiB);
    fputs(figureLines.c_str(), stdout);
    server.stop();
    int removed = std::system(("rm -rf '" + dir + "'").c_str());
    (void)removed;
    return 0;
}
