// The export listener's resident memory at its peak and its rate of valid
// indications while 64 connections attack it: none (the reference), bodies
// that amplify into parser tokens, and connections trickling a byte a second;
// and while 8 connections storm it with indications of 2 MB (refused for
// their size) or of 400 KB (just under it, charged to the queue).
// One sender delivers indications one after another, trying again as a CIM
// server would; every figure is from the same process and run.
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "listener_attacks.h"

PEGASUS_USING_PEGASUS;

namespace {

constexpr unsigned kAttackConnections = 64;
constexpr unsigned kStormConnections = 8;
constexpr auto kRunTime = std::chrono::seconds(15);

// Counts the genuine indications (the sender's), not the storm's.
class CountingConsumer : public CIMIndicationConsumer {
public:
    void consumeIndication(const OperationContext&, const String&, const CIMInstance& i) override
    {
        if (i.getClassName().equal("Test_Alert")) ++count;
    }
    std::atomic<unsigned long> count{0};
};

// A well-formed export of one indication with `properties` strings of 1,000 bytes.
std::string largeIndicationExport(unsigned properties)
{
    std::string body =
        "<?xml version=\"1.0\" encoding=\"utf-8\" ?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\"><MESSAGE "
        "ID=\"1\" PROTOCOLVERSION=\"1.0\"><SIMPLEEXPREQ><EXPMETHODCALL NAME=\"ExportIndication\">"
        "<EXPPARAMVALUE NAME=\"NewIndication\"><INSTANCE CLASSNAME=\"Test_Storm\">";
    const std::string value(1000, 'x');
    for (unsigned i = 0; i < properties; ++i)
        body += "<PROPERTY NAME=\"P" + std::to_string(i) + "\" TYPE=\"string\"><VALUE>" + value +
                "</VALUE></PROPERTY>";
    return orvtest::exportPost(body +
                               "</INSTANCE></EXPPARAMVALUE></EXPMETHODCALL></SIMPLEEXPREQ></MESSAGE></CIM>");
}

// kStormConnections threads sending one large export again and again, a
// fresh connection each, as fast as the listener answers.
class Storm {
public:
    Storm(unsigned properties, int port) : request_(largeIndicationExport(properties))
    {
        for (unsigned i = 0; i < kStormConnections; ++i) threads_.emplace_back([this, port] { run(port); });
    }
    ~Storm()
    {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }
    unsigned long requests() const { return requests_; }

private:
    void run(int port)
    {
        while (!stop_) {
            int fd = orvtest::connectLoopback(port);
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            if (orvtest::sendAll(fd, request_.data(), request_.size())) (void)orvtest::readStatus(fd, 10000);
            ++requests_;
            ::close(fd);
        }
    }

    const std::string request_;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned long> requests_{0};
    std::vector<std::thread> threads_;
};

struct Figures {
    double peakMiB = 0;
    double perSecond = 0;
};

// `startLoad` gives the load (null for none) once the memory before is known.
template <class StartLoad>
Figures measure(const char* name, int port, CountingConsumer& consumer, StartLoad startLoad)
{
    long long before = orvtest::residentBytes();
    orvtest::resetPeakResident();
    unsigned long first = consumer.count;
    auto attack = startLoad();
    auto start = std::chrono::steady_clock::now();
    auto end = start + kRunTime;
    unsigned n = 0, lost = 0;
    while (std::chrono::steady_clock::now() < end) {
        if (!orvtest::deliverWithRetry(port, orvtest::indicationExport(n++), end)) ++lost;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    unsigned long attacks = attack ? attack->requests() : 0;
    attack.reset();
    Figures f;
    f.peakMiB = static_cast<double>(orvtest::residentBytes("VmHWM") - before) / (1024.0 * 1024.0);
    f.perSecond = static_cast<double>(consumer.count - first) / seconds;
    std::printf("%-24s %8.1f indications/s  peak resident +%6.1f MiB  (%lu attacking requests made)\n", name,
                f.perSecond, f.peakMiB, attacks);
    return f;
}

}  // namespace

int main()
{
    CountingConsumer consumer;
    CIMListener listener(0);
    listener.addConsumer(&consumer);
    listener.start();
    int port = static_cast<int>(listener.getPortNumber());
    std::printf("listener on 127.0.0.1:%d, %u attacking connections, %lld s each\n", port, kAttackConnections,
                static_cast<long long>(kRunTime.count()));

    const auto amplifying = orvtest::Attack::Kind::Amplifying;
    const auto trickling = orvtest::Attack::Kind::Trickling;
    auto attacking = [port](orvtest::Attack::Kind kind) {
        return [port, kind] { return std::make_unique<orvtest::Attack>(kind, port, kAttackConnections); };
    };
    auto storming = [port](unsigned properties) {
        return [port, properties] { return std::make_unique<Storm>(properties, port); };
    };
    Figures quiet = measure("no attack", port, consumer, [] { return std::unique_ptr<Storm>(); });
    Figures amp = measure("amplifying bodies", port, consumer, attacking(amplifying));
    Figures slow = measure("trickling connections", port, consumer, attacking(trickling));
    // 2,000 properties: 2 MB, refused for its size once read; 400: read and queued.
    Figures big = measure("storm, 2 MB indications", port, consumer, storming(2000));
    Figures under = measure("storm, 400 KB ones", port, consumer, storming(400));
    listener.stop();

    auto figure = [](const char* what, double value, const char* unit, const char* ref, double refValue) {
        std::printf("FIGURE %s|%.1f|%s|%s|%.1f\n", what, value, unit, ref, refValue);
    };
    figure("listener indications, amplifying bodies", amp.perSecond, "1/s", "no attack", quiet.perSecond);
    figure("listener peak memory, amplifying bodies", amp.peakMiB, "MiB", "no attack", quiet.peakMiB);
    figure("listener indications, trickling connections", slow.perSecond, "1/s", "no attack",
           quiet.perSecond);
    figure("listener peak memory, trickling connections", slow.peakMiB, "MiB", "no attack", quiet.peakMiB);
    figure("listener indications, storm of 2 MB indications", big.perSecond, "1/s", "no attack",
           quiet.perSecond);
    figure("listener peak memory, storm of 2 MB indications", big.peakMiB, "MiB", "no attack", quiet.peakMiB);
    figure("listener indications, storm of 400 KB indications", under.perSecond, "1/s", "no attack",
           quiet.perSecond);
    figure("listener peak memory, storm of 400 KB indications", under.peakMiB, "MiB", "no attack",
           quiet.peakMiB);
    return 0;
}
