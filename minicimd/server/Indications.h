// Subscriptions and lifecycle indications.  Filters, listener destinations
// and subscriptions are ordinary instances in the interop namespace, checked
// when they are created; every instance change elsewhere becomes a
// CIM_InstCreation, CIM_InstDeletion or CIM_InstModification for each
// subscription whose filter selects it.  Deliveries (CIM-XML exports over
// HTTP, loopback only) run from a bounded queue per destination, each with a
// sender thread and a kept-alive connection of its own, so an operation never
// waits for a listener and a slow or dead listener delays only itself.
#ifndef MINICIMD_SERVER_INDICATIONS_H
#define MINICIMD_SERVER_INDICATIONS_H

#include "repo/Repository.h"

#include <array>
#include <atomic>
#include <condition_variable>
#include <chrono>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace minicimd {

class IndicationService {
public:
    static constexpr const char* kInteropNamespace = "root/interop";
    // Deliveries waiting for one destination (beyond it new ones for that
    // destination are dropped, counted and logged once per burst) ...
    static constexpr size_t kMaxQueuedPerDestination = 65536;
    // ... and for all of them: past it the longest queue loses its newest.
    static constexpr size_t kMaxQueuedTotal = 131072;
    // The longest one attempt (connect, send, answer) may take; above the
    // time a listener may hold an export while its consumers catch up.
    static constexpr long kDeliveryTimeoutMs = 10000;
    // A failed attempt is tried again after a pause that starts here and
    // doubles up to the most; the deliveries behind it wait, keeping order.
    static constexpr long kRetryFirstDelayMs = 50;
    static constexpr long kRetryMostDelayMs = 5000;
    // A destination that has failed every attempt for this long is given
    // up: what is queued for it is dropped (counted and logged).
    static constexpr long kGiveUpAfterMs = 600000;
    // The most of a listener's answer that is read; a longer one fails
    // the delivery (a listener's answer to an export is a few hundred bytes).
    static constexpr size_t kMaxAnswerBytes = 64 * 1024;
    // A sender with nothing to do for this long ends (and starts again when
    // something comes for its destination).
    static constexpr long kSenderIdleMs = 30000;

    // Filters, listener destinations and subscriptions one unprivileged
    // user may hold at once, each kind counted on its own.
    static constexpr size_t kMaxOwnedPerUser = 32;

    enum class Kind { None, Filter, Destination, Subscription };

    // The schema built into the binary (minicimd-interop.mof), for the interop namespace.
    static const char* interopSchema();

    IndicationService(Repository& repo, bool verbose) : repo_(&repo), verbose_(verbose) {}
    ~IndicationService() { stop(); }
    IndicationService(const IndicationService&) = delete;
    IndicationService& operator=(const IndicationService&) = delete;

    void start();
    void stop();  // drops what is queued, ends deliveries under way, joins the senders

    // Checks an instance about to be created and fills in the keys a server
    // chooses (system and creation class names); throws CimError.
    void prepareCreate(const std::string& ns, const std::string& className,
                       std::vector<GivenProperty>& props) const;
    // Filters, destinations and subscriptions are not changed in place
    // (delete and create instead); throws CimError for them.
    void prepareModify(const std::string& ns, const Pegasus::CIMObjectPath& path) const;

    static bool isInteropNamespace(const std::string& ns);
    // Which of the subscription classes `className` in `ns` is, if any.
    Kind kindOf(const std::string& ns, const std::string& className) const;

    // Creators of the instances unprivileged users made (`path` keys only,
    // as the repository gives it).  Those of the privileged users and those
    // loaded from MOF have none.  `claim` counts one more for the user, or
    // throws CIM_ERR_SERVER_LIMITS_EXCEEDED when the user holds the most;
    // `recordCreator` then ties it to the instance made, or `unclaim` gives
    // it back when the creation failed.
    void claim(const std::string& user, Kind kind);
    void unclaim(const std::string& user, Kind kind);
    void recordCreator(const Pegasus::CIMObjectPath& path, const std::string& user, Kind kind);
    std::string creatorOf(const Pegasus::CIMObjectPath& path) const;  // empty: none
    void forgetCreator(const Pegasus::CIMObjectPath& path);           // after a deletion

    // After a change: queues the indications it raises.
    void created(const std::string& ns, const Pegasus::CIMInstance& instance);
    void deleted(const std::string& ns, const Pegasus::CIMInstance& instance);
    void modified(const std::string& ns, const Pegasus::CIMInstance& previous,
                  const Pegasus::CIMInstance& instance);

private:
    struct Delivery {
        std::string body;  // the export request, encoded
        std::string path;  // of the destination URL
        std::string what;  // identifier, class and destination, for logs
    };
    // One listener (by port: its paths share a connection).
    struct Destination {
        int port = 0;
        std::deque<Delivery> queue;
        std::thread sender;
        std::condition_variable wake;
        bool running = false;  // the sender is in its loop
        size_t dropped = 0;    // in the current burst of drops
    };

    bool isSubscriptionClass(const std::string& ns, const std::string& className) const;
    void raise(const char* indicationClass, const std::string& ns, const Pegasus::CIMInstance& source,
               const Pegasus::CIMInstance* previous);
    void enqueue(int port, Delivery d);
    void dropNewest(Destination& dest);  // mu_ held
    void send(Destination* dest);        // a sender thread

    struct Owned {
        std::string user;
        Kind kind = Kind::None;
    };

    Repository* repo_;
    bool verbose_;
    mutable std::mutex ownersMu_;                        // guards the two below
    std::map<std::string, Owned> creators_;              // by path
    std::map<std::string, std::array<size_t, 4>> held_;  // by user, then Kind

    std::mutex mu_;  // guards everything below
    std::map<int, std::unique_ptr<Destination>> destinations_;
    size_t queuedTotal_ = 0;  // in every queue and in flight
    bool started_ = false;
    bool stopping_ = false;
    unsigned long long sequence_ = 0;
    std::atomic<bool> abort_{false};  // ends deliveries under way at stop
};

}  // namespace minicimd

#endif
