// The client library's CPU on a production server's answers: the recorded
// EnumerateInstanceNames of Perf_Item (9,990 paths) and GetInstance of
// Perf_Item.Id=3 (100 properties), headers and chunked body as they crossed
// the socket, replayed by a small server on the Unix socket connectLocal
// uses.  The calling thread does all of the client's work and the server runs
// in threads of its own, so the calling thread's CPU time is the client's.
// Prints the median per call next to the reference client's CPU on the same
// answers, measured on a machine like ours.  Prints figures; never fails on them.
#include <Pegasus/Client/CIMClient.h>

#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "sample_files.h"
#include "scripted_http_server.h"

PEGASUS_USING_PEGASUS;
using namespace orvtest;

namespace {

const CIMNamespaceName kNs("root/perf");
const char* const kNamesSample = "EnumerateInstanceNames-Perf_Item";
const char* const kInstanceSample = "GetInstance-Perf_Item-3";
constexpr Uint32 kRecordedNames = 9990;
constexpr Uint32 kRecordedProperties = 100;
constexpr int kRepetitions = 21;
constexpr int kNameCalls = 5;        // per repetition
constexpr int kInstanceCalls = 200;  // per repetition

// The reference client's CPU per call on these same answers (OpenPegasus
// 2.14.4's client against its own server), measured on a machine like ours.
constexpr double kReferenceClientNamesMs = 11.76;
constexpr double kReferenceClientInstanceMs = 0.245;

// The value of the first MESSAGE ID="..." in a CIM-XML document, with where
// it starts; npos when there is none.
size_t messageId(const std::string& xml, std::string* id)
{
    static const std::string kAttribute = "<MESSAGE ID=\"";
    const size_t at = xml.find(kAttribute);
    if (at == std::string::npos) return at;
    const size_t start = at + kAttribute.size();
    const size_t end = xml.find('"', start);
    if (end == std::string::npos) return std::string::npos;
    *id = xml.substr(start, end - start);
    return start;
}

// One recorded answer, its body carrying the ID of the request it answers (the
// client checks it) and sent as the server sent it: the whole body in one
// chunk, then the last chunk and no trailer lines.
class RecordedAnswer {
public:
    explicit RecordedAnswer(const std::string& name)
        : headers_(orvtest::sample(name + ".headers.txt")), body_(orvtest::sample(name + ".body.xml"))
    {
        idAt_ = messageId(body_, &recordedId_);
        if (idAt_ == std::string::npos) throw std::runtime_error(name + ": no MESSAGE ID in the body");
    }

    std::string to(const std::string& requestId) const
    {
        std::string body = body_;
        body.replace(idAt_, recordedId_.size(), requestId);
        char size[32];
        snprintf(size, sizeof size, "%zx\r\n", body.size());
        return headers_ + size + body + "\r\n0\r\n\r\n";
    }

    const std::string& recordedId() const { return recordedId_; }

private:
    std::string headers_, body_, recordedId_;
    size_t idAt_;
};

double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) * 1e3 + static_cast<double>(ts.tv_nsec) / 1e6;
}

// The median over the repetitions of the calling thread's CPU per call.
double medianCpuMs(const std::function<void()>& call, int calls)
{
    // A round first warms the connection, the caches and the client's kept buffers, and lets
    // whatever ran just before (another benchmark's server going away) settle.
    for (int i = 0; i < calls; ++i) call();
    std::vector<double> cpu;
    for (int r = 0; r < kRepetitions; ++r) {
        const double c0 = threadCpuMs();
        for (int i = 0; i < calls; ++i) call();
        cpu.push_back((threadCpuMs() - c0) / calls);
    }
    std::sort(cpu.begin(), cpu.end());
    return cpu[cpu.size() / 2];
}

}  // namespace

int main()
{
    const RecordedAnswer names(kNamesSample);
    const RecordedAnswer instance(kInstanceSample);
    // The framing above is the server's own: with the recorded ID it gives the recorded bytes.
    if (instance.to(instance.recordedId()) != orvtest::sample(std::string(kInstanceSample) + ".wire.txt")) {
        fprintf(stderr, "the replayed GetInstance answer differs from the recorded one\n");
        return 1;
    }

    TempDir dir("client-replay");
    const std::string socketPath = dir.path() + "/cimxml.socket";
    auto server = ScriptedHttpServer::onUnixSocket(socketPath, [&](const ReceivedRequest& request) {
        std::string id;
        if (messageId(request.body, &id) == std::string::npos)
            return Reply{"HTTP/1.1 400 Bad Request\r\n\r\n"};
        const std::string method = request.header("cimmethod");
        if (method == "EnumerateInstanceNames") return Reply{names.to(id)};
        if (method == "GetInstance") return Reply{instance.to(id)};
        return Reply{"HTTP/1.1 501 Not Implemented\r\nContent-Length: 0\r\n\r\n"};
    });
    setenv("CIM_LOCAL_SOCKET", socketPath.c_str(), 1);

    try {
        CIMClient client;
        client.connectLocal();
        const CIMObjectPath path("Perf_Item.Id=3");
        auto enumNames = [&] {
            if (client.enumerateInstanceNames(kNs, "Perf_Item").size() != kRecordedNames) {
                throw std::runtime_error("wrong number of instance names");
            }
        };
        auto getInstance = [&] {
            if (client.getInstance(kNs, path, false, false, false, CIMPropertyList()).getPropertyCount() !=
                kRecordedProperties) {
                throw std::runtime_error("wrong number of properties");
            }
        };
        const double namesMs = medianCpuMs(enumNames, kNameCalls);
        const double instanceMs = medianCpuMs(getInstance, kInstanceCalls);
        printf("recorded answers over %s, median of %d repetitions\n", socketPath.c_str(), kRepetitions);
        printf("EnumerateInstanceNames (%u paths): client CPU %.3f ms, reference client %.2f ms\n",
               kRecordedNames, namesMs, kReferenceClientNamesMs);
        printf("GetInstance (%u properties):     client CPU %.3f ms, reference client %.3f ms\n",
               kRecordedProperties, instanceMs, kReferenceClientInstanceMs);
        printf(
            "FIGURE client CPU on recorded answers, EnumerateInstanceNames 9,990|%.3f|ms|reference "
            "client|%.3f\n",
            namesMs, kReferenceClientNamesMs);
        printf(
            "FIGURE client CPU on recorded answers, GetInstance 100 properties|%.3f|ms|reference "
            "client|%.3f\n",
            instanceMs, kReferenceClientInstanceMs);
    } catch (const Exception& e) {
        fprintf(stderr, "client failed: %s\n", static_cast<const char*>(e.getMessage().getCString()));
        return 1;
    } catch (const std::exception& e) {
        fprintf(stderr, "client failed: %s\n", e.what());
        return 1;
    }
    return 0;
}
