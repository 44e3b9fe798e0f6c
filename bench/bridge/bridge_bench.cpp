// The CIM bridge's reads next to the bare client's, against one minicimd on
// its Unix socket (Local authentication): getInstance of a 100-property
// Perf_Item and enumerateInstanceNames of 10,000 of them.  The bridge side is
// BridgeBench.java calling CIMImpl in a JVM started from here against the same
// server; this program times the bare client, reads the JVM's figures and
// prints both with their ratio.  Then the indication consumer: 10,000
// indications from a plain sender here into the listener of a bridge
// connection in IndicationBench.java, their rate into Java and their delay.
// Prints figures; never fails on them.
#include "indication_export.h"
#include "minicimd_process.h"
#include "PerfItems.h"

#include <Pegasus/Client/CIMClient.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

PEGASUS_USING_PEGASUS;
using namespace orvtest;

namespace {

using perf_items::kClass;
using perf_items::kInstances;
using perf_items::kProperties;
constexpr int kFullInstance = 3;     // one of the instances with every value set
constexpr int kInstanceCalls = 500;  // per repetition
constexpr int kNameCalls = 5;
constexpr int kRepetitions = 7;
constexpr int kWarmupInstanceCalls = 200;
constexpr int kWarmupNameCalls = 3;
constexpr double kInstanceGoalRatio = 1.4;  // bridge / bare getInstance + getClass
constexpr double kNamesGoalRatio = 1.8;     // bridge / bare enumerateInstanceNames
constexpr size_t kLineSize = 256;
constexpr int kIndications = 10000;
constexpr int kSenders = 2;
constexpr double kIndicationGoalRate = 5000;   // per second, sustained
constexpr double kIndicationGoalMicros = 200;  // cost per indication
const char* const kAlertClass = "Bench_Alert";
constexpr int kSendTries = 1000;
constexpr auto kRefusedPause = std::chrono::milliseconds(2);
const char* const kNamespace = "root/cimv2";  // where the bridge's callers set up

double threadCpuMicros()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

// Medians over the repetitions of the time and of this thread's CPU time per
// call, in microseconds.
struct Times {
    double micros = 0;
    double cpuMicros = 0;
};

// One repetition: the time and this thread's CPU time per call.
Times sampleMicros(const std::function<void()>& call, int calls)
{
    const double cpu0 = threadCpuMicros();
    const auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < calls; ++i) call();
    const double micros =
        std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count();
    return Times{micros / calls, (threadCpuMicros() - cpu0) / calls};
}

// The medians, each on its own, of the repetitions' figures.
Times median(const std::vector<Times>& samples)
{
    std::vector<double> micros;
    std::vector<double> cpuMicros;
    for (const Times& t : samples) {
        micros.push_back(t.micros);
        cpuMicros.push_back(t.cpuMicros);
    }
    std::sort(micros.begin(), micros.end());
    std::sort(cpuMicros.begin(), cpuMicros.end());
    return Times{micros[micros.size() / 2], cpuMicros[cpuMicros.size() / 2]};
}

struct JavaFigure {
    double micros = 0;
    size_t count = 0;
    double cpuMicros = 0;
};

// Runs BridgeBench in a JVM against the server CIM_LOCAL_SOCKET names.  Each
// time it says "ready" for a repetition, `bareTurn` runs the bare client's
// repetition first (its argument counts the turns from 0), so that the two
// sides alternate.
bool runBridge(JavaFigure& getInstance, JavaFigure& names, const std::function<void(int)>& bareTurn)
{
    int toJava[2];
    int fromJava[2];
    if (pipe2(toJava, O_CLOEXEC) != 0) return false;
    if (pipe2(fromJava, O_CLOEXEC) != 0) {
        close(toJava[0]);
        close(toJava[1]);
        return false;
    }
    const std::vector<std::string> args = {ORV_JAVA,
                                           std::string("-Djava.library.path=") + ORV_BENCH_LIBPATH,
                                           "-cp",
                                           ORV_BENCH_CLASSPATH,
                                           "BridgeBench",
                                           std::to_string(kFullInstance),
                                           std::to_string(kInstanceCalls),
                                           std::to_string(kNameCalls),
                                           std::to_string(kRepetitions)};
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toJava[0], STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fromJava[1], STDOUT_FILENO);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toJava[0]);
    close(fromJava[1]);
    std::FILE* turns = fdopen(toJava[1], "w");
    std::FILE* java = fdopen(fromJava[0], "r");
    if (spawned != 0 || turns == nullptr || java == nullptr) {
        if (turns != nullptr)
            std::fclose(turns);
        else
            close(toJava[1]);
        if (java != nullptr)
            std::fclose(java);
        else
            close(fromJava[0]);
        if (spawned == 0) waitpid(pid, nullptr, 0);
        return false;
    }
    char line[kLineSize];
    char what[kLineSize];
    JavaFigure figure;
    int turn = 0;
    while (std::fgets(line, sizeof line, java) != nullptr) {
        if (std::string(line) == "ready\n") {
            bareTurn(turn++);
            std::fputs("go\n", turns);
            std::fflush(turns);
            continue;
        }
        if (std::sscanf(line, "%255s %lf %zu %lf", what, &figure.micros, &figure.count, &figure.cpuMicros) !=
            4)
            continue;
        if (std::string(what) == "getInstance") getInstance = figure;
        if (std::string(what) == "enumerateInstanceNames") names = figure;
    }
    std::fclose(turns);
    std::fclose(java);
    int status = 0;
    return waitpid(pid, &status, 0) == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

struct IndicationFigures {
    double rate = 0;
    double p50 = 0;
    double p99 = 0;
    int count = 0;
    int sent = 0;
};

// Starts IndicationBench, sends it kIndications from kSenders threads (each
// stamped with the monotonic clock, as the JVM's nanoTime reads it) and reads
// what it measured.
bool runIndications(IndicationFigures& figures)
{
    const std::string command = std::string("'") + ORV_JAVA + "' '-Djava.library.path=" + ORV_BENCH_LIBPATH +
                                "' -cp '" + ORV_BENCH_CLASSPATH + "' IndicationBench " +
                                std::to_string(kIndications);
    std::FILE* java = popen(command.c_str(), "r");
    if (java == nullptr) return false;
    char line[kLineSize];
    int port = 0;
    char path[kLineSize] = "";
    while (port == 0 && std::fgets(line, sizeof line, java) != nullptr) {
        if (std::sscanf(line, "listening %d %255s", &port, path) != 2) port = 0;
    }
    std::atomic<int> next{0};
    std::atomic<int> sent{0};
    std::vector<std::thread> senders;
    for (int s = 0; s < kSenders && port != 0; ++s) {
        senders.emplace_back([&] {
            // One kept-alive connection each, as a server's sender keeps one.
            orvtest::ExportSender sender(port);
            for (int n = next++; n < kIndications; n = next++) {
                const auto now = std::chrono::steady_clock::now().time_since_epoch();
                const std::int64_t stamp = std::chrono::duration_cast<std::chrono::nanoseconds>(now).count();
                const std::string request = orvtest::indicationExport(kAlertClass, n, stamp, path);
                // A full listener queue refuses: sent again after a pause, as a server's handler does.
                bool refused = true;
                for (int tries = 0; refused && tries < kSendTries; ++tries) {
                    if (sender.send(request, &refused) != 200) refused = true;
                    if (refused) std::this_thread::sleep_for(kRefusedPause);
                }
                if (!refused) ++sent;
            }
        });
    }
    for (auto& t : senders) t.join();
    figures.sent = sent.load();
    while (std::fgets(line, sizeof line, java) != nullptr) {
        std::sscanf(line, "indications %lf %lf %lf %d", &figures.rate, &figures.p50, &figures.p99,
                    &figures.count);
    }
    return pclose(java) == 0 && port != 0;
}

void print(const char* what, const char* side, double micros)
{
    std::printf("  %-34s %-6s %10.1f us/call\n", what, side, micros);
}

}  // namespace

int main()
{
    char tmpl[] = "/tmp/bridge-benchXXXXXX";
    const std::string dir = mkdtemp(tmpl);
    const std::string mof = perf_items::writeMof(dir);
    const std::string alertMof = dir + "/alert.mof";
    std::ofstream(alertMof) << "class " << kAlertClass
                            << " {\n  string Message;\n  uint32 Sequence;\n  sint64 SentAt;\n};\n";
    MinicimdProcess::Options o;
    o.localAuth = true;
    o.extra = {"--namespace", kNamespace, "--mof", mof, "--mof", alertMof};
    MinicimdProcess server(o);
    const std::string home = server.dir() + "/orv";
    mkdir(home.c_str(), 0700);
    mkdir((home + "/orvlogs").c_str(), 0700);
    setenv("CIM_LOCAL_SOCKET", server.socketPath().c_str(), 1);
    setenv("ORV_HOME", home.c_str(), 1);

    const CIMNamespaceName ns(kNamespace);
    const CIMName className(kClass);
    const CIMObjectPath path(String(("Perf_Item.Id=" + std::to_string(kFullInstance)).c_str()));
    CIMClient client;
    client.connectLocal();
    // The bridge's flags: not local only, qualifiers and class origins, every property.
    auto getInstance = [&] { return client.getInstance(ns, path, false, true, true, CIMPropertyList()); };
    auto getClass = [&] { client.getClass(ns, className, false, true, true, CIMPropertyList()); };
    auto enumerate = [&] { return client.enumerateInstanceNames(ns, className); };

    const Uint32 properties = getInstance().getPropertyCount();
    const Uint32 paths = enumerate().size();
    std::printf("bridge benchmark: minicimd on %s, %s in %s (%u names; Id=%d has %u properties)\n",
                server.socketPath().c_str(), kClass, kNamespace, paths, kFullInstance, properties);
    if (properties != kProperties || paths != static_cast<Uint32>(kInstances)) {
        std::fprintf(stderr, "warning: expected %d names and %u properties\n", kInstances, kProperties);
    }
    for (int i = 0; i < kWarmupInstanceCalls; ++i) {
        getInstance();
        getClass();
    }
    for (int i = 0; i < kWarmupNameCalls; ++i) enumerate();
    // The bare client's repetitions, each run just before the bridge's of the same turn.
    std::vector<Times> bareInstanceSamples, bareWithClassSamples, bareNamesSamples;
    const auto bareTurn = [&](int turn) {
        if (turn < kRepetitions) {
            bareInstanceSamples.push_back(sampleMicros(getInstance, kInstanceCalls));
            bareWithClassSamples.push_back(sampleMicros(
                [&] {
                    getInstance();
                    getClass();
                },
                kInstanceCalls));
        } else {
            bareNamesSamples.push_back(sampleMicros(enumerate, kNameCalls));
        }
    };
    JavaFigure bridgeInstance, bridgeNames;
    const bool ran = runBridge(bridgeInstance, bridgeNames, bareTurn);
    client.disconnect();
    if (!ran || bareWithClassSamples.empty() || bareNamesSamples.empty()) {
        std::fprintf(stderr, "bridge benchmark: the Java side failed\n");
        return 1;
    }
    const Times bareInstance = median(bareInstanceSamples);
    const Times bareWithClass = median(bareWithClassSamples);
    const Times bareNames = median(bareNamesSamples);
    if (bridgeInstance.count != kProperties || bridgeNames.count != static_cast<size_t>(kInstances)) {
        std::fprintf(stderr, "warning: the bridge gave %zu properties and %zu names\n", bridgeInstance.count,
                     bridgeNames.count);
    }

    std::printf(
        "  median of %d repetitions (bare and bridge taking turns) of %d getInstance / %d "
        "enumerateInstanceNames calls; goals bridge/bare "
        "<= %.1f "
        "(getInstance + getClass), <= %.1f (enumerateInstanceNames)\n",
        kRepetitions, kInstanceCalls, kNameCalls, kInstanceGoalRatio, kNamesGoalRatio);
    print("getInstance", "bare", bareInstance.micros);
    print("getInstance + getClass", "bare", bareWithClass.micros);
    print("getInstance (CIMImpl)", "bridge", bridgeInstance.micros);
    std::printf(
        "  ratio bridge / bare getInstance + getClass: %.2f   bridge / bare getInstance alone: %.2f\n",
        bridgeInstance.micros / bareWithClass.micros, bridgeInstance.micros / bareInstance.micros);
    print("enumerateInstanceNames (10,000)", "bare", bareNames.micros);
    print("enumerateInstanceNames (CIMImpl)", "bridge", bridgeNames.micros);
    std::printf("  ratio bridge / bare enumerateInstanceNames: %.2f\n",
                bridgeNames.micros / bareNames.micros);
    // The calling thread's CPU time (client library, and the bridge on its side;
    // the server's is not in it): steadier than the time on a busy machine.
    std::printf(
        "  thread CPU per call: getInstance + getClass bare %.1f us, bridge %.1f us; "
        "enumerateInstanceNames bare %.1f us, bridge %.1f us\n",
        bareWithClass.cpuMicros, bridgeInstance.cpuMicros, bareNames.cpuMicros, bridgeNames.cpuMicros);
    // Machine-readable: name|value|unit|reference name|reference value.
    std::printf("FIGURE bridge getInstance (100 properties)|%.1f|us/call|bare getInstance + getClass|%.1f\n",
                bridgeInstance.micros, bareWithClass.micros);
    std::printf("FIGURE bridge getInstance (100 properties)|%.1f|us/call|bare getInstance alone|%.1f\n",
                bridgeInstance.micros, bareInstance.micros);
    std::printf(
        "FIGURE bridge enumerateInstanceNames (10,000)|%.1f|us/call|bare enumerateInstanceNames|%.1f\n",
        bridgeNames.micros, bareNames.micros);
    std::printf(
        "FIGURE bridge thread CPU, getInstance (100 properties)|%.1f|us/call|bare, with getClass|%.1f\n",
        bridgeInstance.cpuMicros, bareWithClass.cpuMicros);
    std::printf("FIGURE bridge thread CPU, enumerateInstanceNames (10,000)|%.1f|us/call|bare|%.1f\n",
                bridgeNames.cpuMicros, bareNames.cpuMicros);

    IndicationFigures indications;
    if (!runIndications(indications)) {
        std::fprintf(stderr, "bridge benchmark: the indication side failed\n");
    }
    std::printf(
        "  indications: %d accepted from %d plain senders, %d reached Java: %.0f/s, delay p50 %.1f us, p99 "
        "%.1f us\n",
        indications.sent, kSenders, indications.count, indications.rate, indications.p50, indications.p99);
    std::printf("FIGURE bridge indications into Java (10,000)|%.0f|indications/s|goal, sustained|%.0f\n",
                indications.rate, kIndicationGoalRate);
    std::printf("FIGURE bridge indication cost (1 / rate)|%.1f|us|goal|%.1f\n",
                indications.rate > 0 ? 1e6 / indications.rate : 0.0, kIndicationGoalMicros);
    // A delay has no goal of its own: it grows with the backlog the senders build.
    std::printf("FIGURE bridge indication delay p50|%.1f|us||\n", indications.p50);
    std::printf("FIGURE bridge indication delay p99|%.1f|us||\n", indications.p99);
    server.stop();
    const int removed = std::system(("rm -rf '" + dir + "'").c_str());
    (void)removed;
    return 0;
}
