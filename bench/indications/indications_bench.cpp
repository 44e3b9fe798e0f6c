// Indications under a burst: one client creates instances in root/test of a
// fresh minicimd as fast as it can, with 1 and with 4 subscriptions, and each
// indication is timed from the start of its creation to its arrival.  Two
// ends: our CIMListener with a C++ consumer in this process, and (when the
// bridge is built) a JVM started from here whose bridge connection's listener
// hands them to a Java target (IndicationsBench.java).  Prints changes per
// second at the server, indications per second received, how many were lost
// and the p50/p99 delay; never fails on the figures.
#include "minicimd_process.h"
#include "subscriptions.h"

#include <Pegasus/Client/CIMClient.h>
#include <Pegasus/Common/CIMProperty.h>
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

PEGASUS_USING_PEGASUS;
using namespace orvtest;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kChanges = 10000;
const int kSubscriptionCounts[] = {1, 4};
// An end that got nothing new for this long has got all it will.
constexpr auto kQuiet = std::chrono::seconds(30);
constexpr size_t kLineSize = 512;

std::string text(const CIMInstance& inst, const char* name)
{
    Uint32 i = inst.findProperty(name);
    if (i == PEG_NOT_FOUND || inst.getProperty(i).getValue().isNull()) return "-";
    String s;
    inst.getProperty(i).getValue().get(s);
    return std::string(static_cast<const char*>(s.getCString()));
}

// One arrival: "minicimd:<n>" (the n-th change of a fresh server), the filter's name, when.
struct Arrival {
    std::string identifier;
    std::string filter;
    Clock::time_point at;
};

class TimingConsumer : public CIMIndicationConsumer {
public:
    void consumeIndication(const OperationContext&, const String&, const CIMInstance& indication) override
    {
        Arrival a{text(indication, "IndicationIdentifier"), text(indication, "IndicationFilterName"),
                  Clock::now()};
        std::lock_guard<std::mutex> g(mu_);
        got_.push_back(std::move(a));
        cv_.notify_all();
    }
    std::vector<Arrival> awaitCount(size_t n)
    {
        std::unique_lock<std::mutex> g(mu_);
        size_t seen = got_.size();
        for (;;) {
            if (got_.size() >= n) break;
            if (!cv_.wait_for(g, kQuiet, [&] { return got_.size() != seen; })) break;
            seen = got_.size();
        }
        return got_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Arrival> got_;
};

// Subscribes `count` filters to creations, each with a destination of its own at `url`.
void subscribe(CIMClient& client, const std::string& url, int count)
{
    for (int i = 0; i < count; ++i) {
        const std::string name = "bench-" + std::to_string(i);
        orvtest::subscribe(client, name, "SELECT * FROM CIM_InstCreation", url);
    }
}

// Creates kChanges instances; gives when each creation started.
std::vector<Clock::time_point> createBurst(CIMClient& client)
{
    std::vector<Clock::time_point> started;
    started.reserve(kChanges);
    const CIMNamespaceName test("root/test");
    for (int i = 0; i < kChanges; ++i) {
        CIMInstance inst("Test_Base");
        inst.addProperty(CIMProperty("Name", String(("burst-" + std::to_string(i)).c_str())));
        started.push_back(Clock::now());
        client.createInstance(test, inst);
    }
    return started;
}

struct Figures {
    double changesPerSecond = 0;
    double receivedPerSecond = 0;
    long lost = 0;
    long duplicates = 0;
    double p50Ms = 0;
    double p99Ms = 0;
};

Figures measure(const std::vector<Clock::time_point>& started, Clock::time_point createdAll,
                const std::vector<Arrival>& arrivals, int subscriptions)
{
    Figures f;
    f.changesPerSecond = kChanges / std::chrono::duration<double>(createdAll - started.front()).count();
    std::set<std::pair<std::string, std::string>> distinct;
    std::vector<double> delays;
    Clock::time_point last = started.front();
    for (const Arrival& a : arrivals) {
        if (!distinct.insert({a.identifier, a.filter}).second) {
            ++f.duplicates;
            continue;
        }
        last = std::max(last, a.at);
        const std::string prefix = "minicimd:";
        if (a.identifier.compare(0, prefix.size(), prefix) != 0) continue;
        long n = std::stol(a.identifier.substr(prefix.size()));
        if (n < 1 || n > kChanges) continue;
        delays.push_back(
            std::chrono::duration<double, std::milli>(a.at - started[static_cast<size_t>(n - 1)]).count());
    }
    f.lost = static_cast<long>(kChanges) * subscriptions - static_cast<long>(distinct.size());
    f.receivedPerSecond = distinct.size() / std::chrono::duration<double>(last - started.front()).count();
    std::sort(delays.begin(), delays.end());
    if (!delays.empty()) {
        f.p50Ms = delays[delays.size() / 2];
        f.p99Ms = delays[std::min(delays.size() - 1, delays.size() * 99 / 100)];
    }
    return f;
}

void report(const std::string& end, int subscriptions, const Figures& f)
{
    std::string what = "indications, " + std::to_string(subscriptions) +
                       (subscriptions == 1 ? " subscription" : " subscriptions");
    std::printf(
        "  %-40s %-14s %8.0f changes/s %8.0f received/s %6ld lost %4ld duplicates  delay p50 %8.1f ms p99 "
        "%8.1f ms\n",
        what.c_str(), end.c_str(), f.changesPerSecond, f.receivedPerSecond, f.lost, f.duplicates, f.p50Ms,
        f.p99Ms);
    std::printf("FIGURE %s, to %s: changes at the server|%.0f|changes/s||\n", what.c_str(), end.c_str(),
                f.changesPerSecond);
    std::printf("FIGURE %s, to %s: received|%.0f|indications/s||\n", what.c_str(), end.c_str(),
                f.receivedPerSecond);
    std::printf("FIGURE %s, to %s: lost|%ld|indications||\n", what.c_str(), end.c_str(), f.lost);
    std::printf("FIGURE %s, to %s: delay p50|%.1f|ms||\n", what.c_str(), end.c_str(), f.p50Ms);
    std::printf("FIGURE %s, to %s: delay p99|%.1f|ms||\n", what.c_str(), end.c_str(), f.p99Ms);
    std::fflush(stdout);
}

Figures toCppListener(int subscriptions)
{
    MinicimdProcess server(MinicimdProcess::Options{});
    setenv("CIM_LOCAL_SOCKET", server.socketPath().c_str(), 1);
    TimingConsumer consumer;
    CIMListener listener(0);
    listener.addConsumer(&consumer);
    listener.start();
    CIMClient client;
    client.connectLocal();
    subscribe(client, "http://127.0.0.1:" + std::to_string(listener.getPortNumber()) + "/bench",
              subscriptions);
    std::vector<Clock::time_point> started = createBurst(client);
    Clock::time_point createdAll = Clock::now();
    std::vector<Arrival> arrivals = consumer.awaitCount(static_cast<size_t>(kChanges) * subscriptions);
    listener.stop();
    return measure(started, createdAll, arrivals, subscriptions);
}

#ifdef ORV_JAVA
// The JVM with its stdin and stdout on pipes of ours.
struct Jvm {
    pid_t pid = -1;
    FILE* in = nullptr;   // its stdout
    FILE* out = nullptr;  // its stdin

    bool start()
    {
        int toJava[2], fromJava[2];
        if (pipe(toJava) != 0) return false;
        if (pipe(fromJava) != 0) return false;
        pid = fork();
        if (pid == 0) {
            dup2(toJava[0], 0);
            dup2(fromJava[1], 1);
            close(toJava[1]);
            close(fromJava[0]);
            std::string lib = std::string("-Djava.library.path=") + ORV_BENCH_LIBPATH;
            execl(ORV_JAVA, ORV_JAVA, lib.c_str(), "-cp", ORV_BENCH_CLASSPATH, "IndicationsBench", nullptr);
            _exit(127);
        }
        close(toJava[0]);
        close(fromJava[1]);
        in = fdopen(fromJava[0], "r");
        out = fdopen(toJava[1], "w");
        return pid > 0 && in && out;
    }
    bool finish()
    {
        if (in) fclose(in);
        if (out) fclose(out);
        int status = 0;
        if (pid > 0) waitpid(pid, &status, 0);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
};

bool toJava(int subscriptions, Figures& figures)
{
    MinicimdProcess server(MinicimdProcess::Options{});
    setenv("CIM_LOCAL_SOCKET", server.socketPath().c_str(), 1);
    Jvm jvm;
    if (!jvm.start()) return false;
    char line[kLineSize];
    char url[kLineSize] = "";
    while (url[0] == '\0' && std::fgets(line, sizeof line, jvm.in) != nullptr)
        if (std::sscanf(line, "destination %511s", url) != 1) url[0] = '\0';
    if (url[0] == '\0') {
        jvm.finish();
        return false;
    }
    CIMClient client;
    client.connectLocal();
    subscribe(client, url, subscriptions);
    std::vector<Clock::time_point> started = createBurst(client);
    Clock::time_point createdAll = Clock::now();
    std::fprintf(jvm.out, "expect %d\n", kChanges * subscriptions);
    std::fflush(jvm.out);
    std::vector<Arrival> arrivals;
    char identifier[kLineSize], filter[kLineSize];
    long long nanos = 0;
    while (std::fgets(line, sizeof line, jvm.in) != nullptr && std::string(line) != "end\n") {
        if (std::sscanf(line, "%511s %511s %lld", identifier, filter, &nanos) != 3) continue;
        arrivals.push_back(Arrival{identifier, filter, Clock::time_point(std::chrono::nanoseconds(nanos))});
    }
    if (!jvm.finish()) return false;
    figures = measure(started, createdAll, arrivals, subscriptions);
    return true;
}
#endif

}  // namespace

int main()
{
    std::printf("indications: %d creations from one client, as fast as it goes\n", kChanges);
    bool ok = true;
    for (int subscriptions : kSubscriptionCounts) {
        report("C++ listener", subscriptions, toCppListener(subscriptions));
#ifdef ORV_JAVA
        Figures f;
        if (toJava(subscriptions, f)) {
            report("bridge to Java", subscriptions, f);
        } else {
            std::printf("  the Java end failed\n");
            ok = false;
        }
#endif
    }
    return ok ? 0 : 1;
}
