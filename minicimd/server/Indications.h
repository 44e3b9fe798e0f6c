// Subscriptions and lifecycle indications.  Filters, listener destinations
// and subscriptions are ordinary instances in the interop namespace, checked
// when they are created; every instance change elsewhere becomes a
// CIM_InstCreation, CIM_InstDeletion or CIM_InstModification for each
// subscription whose filter selects it.  Deliveries (CIM-XML exports over
// HTTP, loopback only) run on a thread of their own from a bounded queue, so
// an operation never waits for a listener.
#ifndef MINICIMD_SERVER_INDICATIONS_H
#define MINICIMD_SERVER_INDICATIONS_H

#include "repo/Repository.h"

#include <atomic>
#include <condition_variable>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace minicimd {

class IndicationService {
public:
    static constexpr const char* kInteropNamespace = "root/interop";
    // Deliveries waiting for the delivery thread; when it is full the oldest
    // is dropped (and logged): a stalled listener costs old news, not memory.
    static constexpr size_t kMaxQueuedDeliveries = 1024;
    // The longest one delivery (connect, send, answer) may take.
    static constexpr long kDeliveryTimeoutMs = 3000;
    // After a failed delivery, what is queued for the same listener in this
    // time is dropped, so that one dead listener does not delay the others.
    static constexpr long kFailedListenerPauseMs = 10000;

    // The schema built into the binary (minicimd-interop.mof), for the interop namespace.
    static const char* interopSchema();

    IndicationService(Repository& repo, bool verbose) : repo_(&repo), verbose_(verbose) {}
    ~IndicationService() { stop(); }
    IndicationService(const IndicationService&) = delete;
    IndicationService& operator=(const IndicationService&) = delete;

    void start();
    void stop();  // drops what is queued, ends a delivery under way, joins

    // Checks an instance about to be created and fills in the keys a server
    // chooses (system and creation class names); throws CimError.
    void prepareCreate(const std::string& ns, const std::string& className, std::vector<GivenProperty>& props) const;
    // Filters, destinations and subscriptions are not changed in place
    // (delete and create instead); throws CimError for them.
    void prepareModify(const std::string& ns, const Pegasus::CIMObjectPath& path) const;

    // After a change: queues the indications it raises.
    void created(const std::string& ns, const Pegasus::CIMInstance& instance);
    void deleted(const std::string& ns, const Pegasus::CIMInstance& instance);
    void modified(const std::string& ns, const Pegasus::CIMInstance& previous, const Pegasus::CIMInstance& instance);

private:
    struct Delivery {
        int port = 0;
        std::string path;         // of the destination URL
        std::string destination;  // as the client gave it, for logs
        Pegasus::CIMInstance indication;
    };

    bool isSubscriptionClass(const std::string& ns, const std::string& className) const;
    void raise(const char* indicationClass, const std::string& ns, const Pegasus::CIMInstance& source,
               const Pegasus::CIMInstance* previous);
    void enqueue(Delivery d);
    void run();

    Repository* repo_;
    bool verbose_;
    std::mutex mu_;  // guards everything below
    std::condition_variable wake_;
    std::deque<Delivery> queue_;
    bool stopping_ = false;
    unsigned long long sequence_ = 0;
    std::thread thread_;
    std::atomic<bool> abort_{false};  // ends a delivery under way at stop
    // Delivery thread only: listener port -> until when it is skipped.
    std::map<int, std::chrono::steady_clock::time_point> failedUntil_;
};

}  // namespace minicimd

#endif
