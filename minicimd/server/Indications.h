// Subscriptions and lifecycle indications.  Filters, listener destinations
// and subscriptions are ordinary instances in the interop namespace, checked
// when they are created; every instance change elsewhere becomes a
// CIM_InstCreation, CIM_InstDeletion or CIM_InstModification for each
// subscription whose filter selects it.  Deliveries (CIM-XML exports over
// HTTP, loopback only) run from a bounded queue per destination; one sender
// thread drives the exports of every destination at once (libcurl's multi
// interface, connections kept alive), so an operation never waits for a
// listener and a slow or dead listener delays only itself.
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
    // Deliveries waiting for one destination, by count and by the bytes of
    // their requests (beyond either, new ones for that destination are
    // dropped, counted and logged once per burst) ...
    static constexpr size_t kMaxQueuedPerDestination = 65536;
    static constexpr size_t kMaxQueuedBytesPerDestination = 64u * 1024 * 1024;
    // ... and for all of them: past either, the queue holding the most bytes
    // loses its newest.
    static constexpr size_t kMaxQueuedTotal = 131072;
    static constexpr size_t kMaxQueuedBytesTotal = 96u * 1024 * 1024;
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
    // A destination with nothing to send for this long is forgotten (its
    // connection closed); when none is left the sender thread ends, and
    // starts again when something comes.
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
    void stop();  // drops what is queued, ends deliveries under way, joins the sender

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
    using Clock = std::chrono::steady_clock;
    struct Delivery {
        std::string body;  // the export request, encoded
        std::string path;  // of the destination URL
        std::string what;  // identifier, class and destination, for logs
        size_t bytes() const { return body.size() + path.size() + what.size(); }
    };
    // The answer of one attempt, read up to its bound.
    struct Answer {
        std::string body;
    };
    // One listener (by port: its paths share a connection).  Its queue's
    // front is the export under way, if any: sent again until it is through,
    // so order is kept.
    struct Destination {
        int port = 0;
        std::deque<Delivery> queue;
        size_t bytes = 0;      // of what `queue` holds
        size_t dropped = 0;    // in the current burst of drops
        void* curl = nullptr;  // its easy handle, while it has one
        bool sending = false;  // the front is under way
        Answer answer;
        std::string url;
        Clock::time_point notBefore;  // of the next attempt, after a failure
        Clock::time_point idleSince;
        long delayMs = kRetryFirstDelayMs;
        unsigned failures = 0;
        Clock::time_point firstFailure;
        std::string lastError;
    };

    bool isSubscriptionClass(const std::string& ns, const std::string& className) const;
    void raise(const char* indicationClass, const std::string& ns, const Pegasus::CIMInstance& source,
               const Pegasus::CIMInstance* previous);
    void enqueue(int port, Delivery d);
    void dropped(Destination& dest);                   // mu_ held
    void dropNewest(Destination& dest);                // mu_ held
    void forget(Destination& dest, size_t count);      // the first `count` of its queue; mu_ held
    bool startExport(Destination& dest, void* multi);  // mu_ held
    void finishExport(Destination& dest, int rc);      // mu_ held
    void send();                                       // the sender thread

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
    size_t queuedTotal_ = 0;  // in every queue
    size_t queuedBytes_ = 0;
    std::thread sender_;
    bool sending_ = false;     // the sender is in its loop
    void* multi_ = nullptr;    // the sender's, while it runs: woken through it
    void* headers_ = nullptr;  // of every export
    bool started_ = false;
    bool stopping_ = false;
    unsigned long long sequence_ = 0;
};

}  // namespace minicimd

#endif
