// The export listener's resident memory at its peak and its rate of valid
// indications while 64 connections attack it: none (the reference), bodies
// that amplify into parser tokens, and connections trickling a byte a second.
// One sender delivers indications one after another, trying again as a CIM
// server would; every figure is from the same process and run.
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "listener_attacks.h"

PEGASUS_USING_PEGASUS;

namespace {

constexpr unsigned kAttackConnections = 64;
constexpr auto kRunTime = std::chrono::seconds(15);

class CountingConsumer : public CIMIndicationConsumer {
public:
    void consumeIndication(const OperationContext&, const String&, const CIMInstance&) override { ++count; }
    std::atomic<unsigned long> count{0};
};

struct Figures {
    double peakMiB = 0;
    double perSecond = 0;
};

Figures measure(const char* name, int port, CountingConsumer& consumer, const orvtest::Attack::Kind* kind)
{
    long long before = orvtest::residentBytes();
    orvtest::resetPeakResident();
    unsigned long first = consumer.count;
    std::unique_ptr<orvtest::Attack> attack;
    if (kind != nullptr) attack = std::make_unique<orvtest::Attack>(*kind, port, kAttackConnections);
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
    std::printf("%-22s %8.1f indications/s  peak resident +%6.1f MiB  (%lu attacking connections made)\n",
                name, f.perSecond, f.peakMiB, attacks);
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
    Figures quiet = measure("no attack", port, consumer, nullptr);
    Figures amp = measure("amplifying bodies", port, consumer, &amplifying);
    Figures slow = measure("trickling connections", port, consumer, &trickling);
    listener.stop();

    auto figure = [](const char* what, double value, const char* unit, const char* ref, double refValue) {
        std::printf("FIGURE %s|%.1f|%s|%s|%.1f\n", what, value, unit, ref, refValue);
    };
    figure("listener indications, amplifying bodies", amp.perSecond, "1/s", "no attack", quiet.perSecond);
    figure("listener peak memory, amplifying bodies", amp.peakMiB, "MiB", "no attack", quiet.peakMiB);
    figure("listener indications, trickling connections", slow.perSecond, "1/s", "no attack",
           quiet.perSecond);
    figure("listener peak memory, trickling connections", slow.peakMiB, "MiB", "no attack", quiet.peakMiB);
    return 0;
}
