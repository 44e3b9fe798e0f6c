// CIMListener: an export listener.  It takes ExportIndication requests over
// HTTP on a loopback port (libmicrohttpd), reads them with the shared CIM-XML
// codec, answers at once and hands each indication to every consumer on a
// dispatch thread of its own, in the order they arrived.
//
// Connections are kept alive and served by a fixed pool of threads, each
// polling many of them, so that a sender pays for no new connection or thread
// per export.  No connection holds a thread while it is idle, trickles bytes
// or waits for room in the queue (it is suspended meanwhile).
//
// Anyone on the machine can reach the port, so what one sender can take is
// bounded: the markup of a request is counted as it arrives, the bodies held
// by all requests together stay within a budget, every request has a
// deadline, and a new connection may push out the one waiting longest.
// Indications waiting for the consumers are bounded in number and in bytes.
//
// Only the CIM server should reach the consumers.  A consumer may keep a
// secret in its destination path (acceptsDestination): a request for a path
// no consumer takes is answered 404 before its body is read, and an
// indication goes only to the consumers that take its path.
#include <Pegasus/Common/Exception.h>
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "CimXml/CimXml.h"

PEGASUS_NAMESPACE_BEGIN

namespace {

// Indications are small; anything near this is not one.
constexpr size_t kMaxRequestBytes = 4u * 1024 * 1024;
// How much of an oversized body is read (and dropped) so that the 413
// reaches the sender; beyond it the connection is closed.
constexpr size_t kMaxDiscardBytes = 16u * 1024 * 1024;
// An indication is a few hundred elements; the reader makes a token of each,
// so far fewer than a 4 MiB body could hold are taken.
constexpr size_t kMaxElementsPerRequest = 10000;
constexpr size_t kMaxAttributesPerRequest = 20000;
// Bodies held by all requests in flight together, each counted with what
// reading it takes: the reader's copy and tokens and the indication read,
// with its strings in UTF-16, come to about four times the body again.  Past
// it a request gets 503 and Retry-After; large requests leave the last part
// to small ones, so that indications still get through while big bodies arrive.
constexpr size_t kRequestMemoryBudgetBytes = 32u * 1024 * 1024;
constexpr size_t kReadCostFactor = 5;
constexpr size_t kLargeRequestBytes = 64u * 1024;
constexpr size_t kSmallRequestReserveBytes = 2u * 1024 * 1024;
constexpr unsigned kRetryAfterSeconds = 2;
// Threads serving the connections.  Each polls its share of them, so a slow
// sender costs a socket and its buffers, never a thread.
constexpr unsigned kIntakeThreads = 4;
// Connections being served; a new one past it (or past the share of one
// peer address) pushes out the one whose request has waited longest.
constexpr unsigned kMaxConnections = 64;
constexpr unsigned kMaxConnectionsPerAddress = 48;
// Accepted beyond the above while pushed-out connections are closing.
constexpr unsigned kSpareConnections = 16;
// A connection younger than this is not pushed out: a real sender is done by then.
constexpr auto kMinAgeBeforeEviction = std::chrono::milliseconds(250);
// From a connection's opening (or its previous request's end) to the end of
// its request, headers and body: a sender trickling bytes is cut off.
constexpr auto kRequestDeadline = std::chrono::seconds(5);
constexpr auto kDeadlineCheckInterval = std::chrono::milliseconds(200);
constexpr unsigned kConnectionTimeoutSeconds = 30;
// Indications received and not yet handed to the consumers.  When it is full
// an export waits up to kQueueWait for room (its sender slows down to the
// consumers' pace); after that it is refused as a temporary failure
// (CIM_ERR_FAILED), which a sender is expected to try again.  Its connection
// is suspended while it waits, so the intake threads serve the others.
constexpr size_t kMaxQueuedIndications = 1024;
constexpr auto kQueueWait = std::chrono::milliseconds(2000);
// The dispatch thread lets waiting exports in once this many places have
// come free (or the queue has emptied), not one a place: resuming one wakes
// an intake thread, which costs more than handing over an indication.  The
// first one resumed passes on what room it leaves to the next (see offer);
// when fewer places come free, the deadline watch lets them in on its next
// round.
constexpr size_t kResumeBatch = 16;
// The queue (and the indication in the consumers' hands) is charged by what
// each indication takes once read; past this it is full in the same way.
// Read indications take about twice their markup's text (strings are UTF-16).
constexpr size_t kQueuedIndicationBudgetBytes = 32u * 1024 * 1024;
// A server's indication is a few KiB; one larger than this once read is
// refused outright (413), so that a handful of them cannot fill the budget.
constexpr size_t kMaxIndicationBytes = 1u * 1024 * 1024;
// Refusals of requests for unknown paths are logged once a burst, with the
// count: when none came for kRefusalQuiet, or every kRefusalLogInterval while
// they keep coming.
constexpr auto kRefusalQuiet = std::chrono::seconds(2);
constexpr auto kRefusalLogInterval = std::chrono::seconds(60);

void logLine(const std::string& s)
{
    std::string line = "CIMListener: " + s + "\n";
    ssize_t r = write(2, line.data(), line.size());
    (void)r;
}

// Counts the elements and attributes of a body as it arrives.  Markup in
// comments and CDATA counts too (more than the reader would see, never less),
// and a quote inside `<!...>` is not followed, so that it cannot hide what comes next.
struct MarkupCounter {
    size_t elements = 0;
    size_t attributes = 0;
    bool inTag = false;
    bool afterOpen = false;
    bool declaration = false;  // <!...>
    char quote = 0;

    void feed(const char* p, size_t n)
    {
        for (size_t i = 0; i < n; ++i) {
            char ch = p[i];
            if (afterOpen) {
                afterOpen = false;
                declaration = ch == '!';
                if (ch != '/' && ch != '?' && ch != '!') ++elements;
            }
            if (!inTag) {
                if (ch == '<') inTag = afterOpen = true;
            } else if (quote != 0) {
                if (ch == quote) quote = 0;
            } else if (ch == '>') {
                inTag = false;
            } else if (declaration) {
            } else if (ch == '"' || ch == '\'') {
                quote = ch;
            } else if (ch == '=') {
                ++attributes;
            }
        }
    }
    bool tooMuch() const
    {
        return elements > kMaxElementsPerRequest || attributes > kMaxAttributesPerRequest;
    }
};

// What a read indication takes in memory, roughly: each string at two bytes a
// character plus its allocation, a fixed cost for every value, property and
// qualifier, and each array element's own size.
constexpr size_t kNodeBytes = 96;
constexpr size_t kAllocationBytes = 32;

size_t footprint(const String& s)
{
    return s.size() == 0 ? 0 : (s.size() + 1) * sizeof(Char16) + kAllocationBytes;
}

size_t footprint(const CIMName& n)
{
    return footprint(n.getString());
}

size_t footprint(const CIMObjectPath& p)
{
    return kNodeBytes + footprint(p.toString());
}

template <class Object>
size_t objectFootprint(const Object& o);

template <class T>
size_t arrayFootprint(const CIMValue& v)
{
    Array<T> a;
    v.get(a);
    return a.size() * sizeof(T);
}

template <class T, class Each>
size_t arrayFootprint(const CIMValue& v, Each each)
{
    Array<T> a;
    v.get(a);
    size_t n = a.size() * sizeof(T);
    for (Uint32 i = 0; i < a.size(); ++i) n += each(a[i]);
    return n;
}

size_t footprint(const CIMValue& v)
{
    if (v.isNull()) return kNodeBytes;
    if (v.isArray()) {
        size_t n = kNodeBytes;
        switch (v.getType()) {
            case CIMTYPE_BOOLEAN:
                return n + arrayFootprint<Boolean>(v);
            case CIMTYPE_UINT8:
                return n + arrayFootprint<Uint8>(v);
            case CIMTYPE_SINT8:
                return n + arrayFootprint<Sint8>(v);
            case CIMTYPE_UINT16:
                return n + arrayFootprint<Uint16>(v);
            case CIMTYPE_SINT16:
                return n + arrayFootprint<Sint16>(v);
            case CIMTYPE_UINT32:
                return n + arrayFootprint<Uint32>(v);
            case CIMTYPE_SINT32:
                return n + arrayFootprint<Sint32>(v);
            case CIMTYPE_UINT64:
                return n + arrayFootprint<Uint64>(v);
            case CIMTYPE_SINT64:
                return n + arrayFootprint<Sint64>(v);
            case CIMTYPE_REAL32:
                return n + arrayFootprint<Real32>(v);
            case CIMTYPE_REAL64:
                return n + arrayFootprint<Real64>(v);
            case CIMTYPE_CHAR16:
                return n + arrayFootprint<Char16>(v);
            case CIMTYPE_STRING:
                return n + arrayFootprint<String>(v, [](const String& s) { return footprint(s); });
            case CIMTYPE_DATETIME:
                return n + arrayFootprint<CIMDateTime>(v, [](const CIMDateTime&) { return kNodeBytes; });
            case CIMTYPE_REFERENCE:
                return n +
                       arrayFootprint<CIMObjectPath>(v, [](const CIMObjectPath& p) { return footprint(p); });
            case CIMTYPE_OBJECT:
                return n +
                       arrayFootprint<CIMObject>(v, [](const CIMObject& o) { return objectFootprint(o); });
            case CIMTYPE_INSTANCE:
                return n + arrayFootprint<CIMInstance>(
                               v, [](const CIMInstance& o) { return objectFootprint(o); });
        }
        return n;
    }
    switch (v.getType()) {
        case CIMTYPE_STRING: {
            String s;
            v.get(s);
            return kNodeBytes + footprint(s);
        }
        case CIMTYPE_REFERENCE: {
            CIMObjectPath p;
            v.get(p);
            return kNodeBytes + footprint(p);
        }
        case CIMTYPE_OBJECT: {
            CIMObject o;
            v.get(o);
            return kNodeBytes + objectFootprint(o);
        }
        case CIMTYPE_INSTANCE: {
            CIMInstance o;
            v.get(o);
            return kNodeBytes + objectFootprint(o);
        }
        default:
            return kNodeBytes;
    }
}

template <class Owner>
size_t qualifiersFootprint(const Owner& o)
{
    size_t n = 0;
    for (Uint32 i = 0; i < o.getQualifierCount(); ++i) {
        CIMConstQualifier q = o.getQualifier(i);
        n += kNodeBytes + footprint(q.getName()) + footprint(q.getValue());
    }
    return n;
}

// Embedded objects are as deep as the reader lets them be, which is bounded.
template <class Object>
size_t objectFootprint(const Object& o)
{
    if (o.isUninitialized()) return kNodeBytes;
    size_t n = kNodeBytes + footprint(o.getClassName()) + qualifiersFootprint(o);
    for (Uint32 i = 0; i < o.getPropertyCount(); ++i) {
        CIMConstProperty p = o.getProperty(i);
        n += kNodeBytes + footprint(p.getName()) + footprint(p.getReferenceClassName()) +
             footprint(p.getClassOrigin()) + qualifiersFootprint(p) + footprint(p.getValue());
    }
    return n;
}

size_t footprint(const CIMInstance& i)
{
    return objectFootprint(i) + (i.isUninitialized() ? 0 : footprint(i.getPath()));
}

enum class Refusal { None, TooLarge, TooMuchMarkup, OverBudget, UnknownPath };

struct Delivery {
    String destinationPath;
    CIMInstance indication;
    size_t bytes = 0;  // charged to the queue
};

struct RequestState {
    std::string body;
    Refusal refusal = Refusal::None;
    bool answered = false;  // refused on its headers alone
    size_t discarded = 0;
    size_t charged = 0;  // body bytes charged to the memory budget
    MarkupCounter markup;
    // An indication read and not yet queued: its connection waits, suspended,
    // for room in the queue until giveUpAt.
    bool read = false;
    bool waiting = false;
    bool suspended = false;
    std::chrono::steady_clock::time_point giveUpAt;
    Delivery delivery;
    orv::cimxml::ExportResponse response;
};

struct Answer {
    unsigned status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

Answer plain(unsigned status, const std::string& text)
{
    Answer a;
    a.status = status;
    a.body = text + "\n";
    a.headers.push_back({"Content-Type", "text/plain; charset=utf-8"});
    return a;
}

// A refused export: the status and the CIMError header of the export protocol.
Answer refused(unsigned status, const char* cimError, const std::string& detail)
{
    Answer a = plain(status, detail);
    if (cimError) a.headers.push_back({"CIMError", cimError});
    return a;
}

std::string header(MHD_Connection* c, const char* name)
{
    const char* v = MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
    return v ? v : "";
}

bool headerPresent(MHD_Connection* c, const char* name)
{
    return MHD_lookup_connection_value(c, MHD_HEADER_KIND, name) != nullptr;
}

bool equalNoCase(const std::string& a, const char* b)
{
    return strcasecmp(a.c_str(), b) == 0;
}

// A connection as the deadline and the slot keeping see it.  `fd` is our
// own duplicate of the connection's socket, so shutting it down can never
// touch a descriptor the daemon has closed and reused.
struct TrackedConnection {
    int fd = -1;
    in_addr_t peer = 0;
    std::chrono::steady_clock::time_point since;  // opened, or its last request ended
    bool cut = false;
};

}  // namespace

class CIMListenerRep {
public:
    Uint32 port = 0;       // as given; 0 picks a free one
    Uint32 boundPort = 0;  // the one listened on, once started
    bool alive = false;
    MHD_Daemon* daemon = nullptr;

    // Guards consumers, the queue and the flags below.
    mutable std::mutex lock;
    std::vector<CIMIndicationConsumer*> consumers;
    std::deque<Delivery> queue;
    bool stopping = false;
    std::condition_variable wake;
    size_t queuedBytes = 0;     // of the queue and the delivery in hand
    size_t refusedInBurst = 0;  // refusals since the queue last took one
    // Connections suspended until the queue has room, first come first; each
    // is resumed exactly once, by whoever takes it off this list.
    std::deque<std::pair<MHD_Connection*, std::chrono::steady_clock::time_point>> waiters;
    size_t suspended = 0;        // suspended connections whose handler has not run again
    bool closingIntake = false;  // stopping: an export no longer waits for room
    std::condition_variable allResumed;
    std::thread dispatcher;
    // Held while a consumer runs, so that removeConsumer can wait for it.
    std::mutex calling;

    // Guards the budget, the connections and the flag below.
    std::mutex connectionLock;
    size_t budgetUsed = 0;
    std::map<MHD_Connection*, TrackedConnection> connections;
    bool watching = false;
    std::condition_variable watchWake;
    std::thread watchdog;
    // Requests for paths no consumer takes, in the burst not yet logged.
    size_t pathRefusals = 0;
    std::chrono::steady_clock::time_point firstPathRefusal;
    std::chrono::steady_clock::time_point lastPathRefusal;

    ~CIMListenerRep()
    {
        stopAll();
        if (dispatcher.joinable()) {
            if (onDispatchThread())
                dispatcher.detach();  // destroyed from within a consumer
            else
                dispatcher.join();
        }
    }

    void startAll()
    {
        std::thread old;
        {
            // A thread left by a stop() from within a consumer.
            std::lock_guard<std::mutex> g(lock);
            if (!alive) old = std::move(dispatcher);
        }
        if (old.joinable()) old.join();
        std::lock_guard<std::mutex> g(lock);
        if (alive) return;
        if (port > 65535)
            throw Exception(String(("CIMListener: port " + std::to_string(port) + " out of range").c_str()));
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        unsigned flags =
            MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
        closingIntake = false;
        waiters.clear();
        suspended = 0;
        daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &CIMListenerRep::onRequest, this,
                                  MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&sa),
                                  MHD_OPTION_THREAD_POOL_SIZE, kIntakeThreads, MHD_OPTION_NOTIFY_COMPLETED,
                                  &CIMListenerRep::onCompleted, this, MHD_OPTION_NOTIFY_CONNECTION,
                                  &CIMListenerRep::onConnection, this, MHD_OPTION_CONNECTION_LIMIT,
                                  kMaxConnections + kSpareConnections, MHD_OPTION_PER_IP_CONNECTION_LIMIT,
                                  kMaxConnectionsPerAddress + kSpareConnections,
                                  MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds, MHD_OPTION_END);
        if (!daemon)
            throw Exception(
                String(("CIMListener: cannot listen on 127.0.0.1:" + std::to_string(port)).c_str()));
        const MHD_DaemonInfo* di = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
        boundPort = di && di->port ? di->port : port;
        stopping = false;
        dispatcher = std::thread([this] { dispatch(); });
        {
            std::lock_guard<std::mutex> w(connectionLock);
            watching = true;
        }
        watchdog = std::thread([this] { watchDeadlines(); });
        alive = true;
    }

    void stopAll()
    {
        MHD_Daemon* d = nullptr;
        std::thread t;
        {
            std::lock_guard<std::mutex> g(lock);
            if (!alive) return;
            alive = false;
            d = daemon;
            daemon = nullptr;
            // The daemon may not stop with a connection suspended: each waiting
            // one is resumed and answered (refused) before it goes.
            closingIntake = true;
            resumeWaiters(waiters.size());
        }
        {
            std::unique_lock<std::mutex> g(lock);
            allResumed.wait(g, [this] { return suspended == 0; });
        }
        // The daemon's threads may be queueing; stop them first, without the lock.
        MHD_stop_daemon(d);
        {
            std::lock_guard<std::mutex> w(connectionLock);
            watching = false;
            watchWake.notify_all();
        }
        if (watchdog.joinable()) watchdog.join();
        {
            std::lock_guard<std::mutex> w(connectionLock);
            logPathRefusals();
        }
        {
            std::lock_guard<std::mutex> g(lock);
            stopping = true;
            queue.clear();
            queuedBytes = 0;
            wake.notify_all();
            // A consumer stopping its own listener cannot wait for itself;
            // the thread ends on its own and the next start or the destructor joins it.
            if (std::this_thread::get_id() != dispatcher.get_id()) t = std::move(dispatcher);
        }
        if (t.joinable()) t.join();
    }

    // Takes the memory budget for `bytes` more of a request's body; false
    // when it is not there.
    bool charge(RequestState& st, size_t bytes)
    {
        std::lock_guard<std::mutex> g(connectionLock);
        bool large = st.charged + bytes > kLargeRequestBytes;
        size_t limit =
            large ? kRequestMemoryBudgetBytes - kSmallRequestReserveBytes : kRequestMemoryBudgetBytes;
        if (budgetUsed + bytes * kReadCostFactor > limit) return false;
        budgetUsed += bytes * kReadCostFactor;
        st.charged += bytes;
        return true;
    }

    void release(RequestState& st)
    {
        std::lock_guard<std::mutex> g(connectionLock);
        budgetUsed -= st.charged * kReadCostFactor;
        st.charged = 0;
    }

    // Called with connectionLock held.
    static void cut(TrackedConnection& t)
    {
        if (t.cut) return;
        t.cut = true;
        ::shutdown(t.fd, SHUT_RDWR);
    }

    // Keeps the connections being served within the limits by pushing out
    // the one that has waited longest (of the same peer when its share is
    // full); when every other is too young, the new one goes.
    void makeRoomFor(MHD_Connection* fresh)
    {
        const TrackedConnection& mine = connections[fresh];
        unsigned live = 0, fromPeer = 0;
        for (const auto& kv : connections) {
            if (kv.second.cut) continue;
            ++live;
            if (kv.second.peer == mine.peer) ++fromPeer;
        }
        bool peerFull = fromPeer > kMaxConnectionsPerAddress;
        if (live <= kMaxConnections && !peerFull) return;
        auto now = std::chrono::steady_clock::now();
        TrackedConnection* oldest = nullptr;
        for (auto& kv : connections) {
            TrackedConnection& t = kv.second;
            if (kv.first == fresh || t.cut || now - t.since < kMinAgeBeforeEviction) continue;
            if (peerFull && t.peer != mine.peer) continue;
            if (oldest == nullptr || t.since < oldest->since) oldest = &t;
        }
        cut(oldest != nullptr ? *oldest : connections[fresh]);
    }

    static void onConnection(void* cls, MHD_Connection* c, void** /*socketContext*/,
                             MHD_ConnectionNotificationCode code)
    {
        CIMListenerRep* self = static_cast<CIMListenerRep*>(cls);
        std::lock_guard<std::mutex> g(self->connectionLock);
        if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
            auto it = self->connections.find(c);
            if (it == self->connections.end()) return;
            if (it->second.fd >= 0) ::close(it->second.fd);
            self->connections.erase(it);
            return;
        }
        const MHD_ConnectionInfo* fdInfo = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CONNECTION_FD);
        const MHD_ConnectionInfo* addrInfo = MHD_get_connection_info(c, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
        TrackedConnection t;
        t.fd = fdInfo != nullptr ? ::fcntl(fdInfo->connect_fd, F_DUPFD_CLOEXEC, 0) : -1;
        if (t.fd < 0) return;  // not tracked: only the daemon's own timeout applies
        if (addrInfo != nullptr && addrInfo->client_addr != nullptr &&
            addrInfo->client_addr->sa_family == AF_INET) {
            t.peer = reinterpret_cast<const sockaddr_in*>(addrInfo->client_addr)->sin_addr.s_addr;
        }
        t.since = std::chrono::steady_clock::now();
        self->connections[c] = t;
        self->makeRoomFor(c);
    }

    // The next request on a kept-alive connection has a deadline of its own.
    void requestEnded(MHD_Connection* c)
    {
        std::lock_guard<std::mutex> g(connectionLock);
        auto it = connections.find(c);
        if (it != connections.end()) it->second.since = std::chrono::steady_clock::now();
    }

    // A suspended connection ended without its handler running again.
    void endedSuspended()
    {
        std::lock_guard<std::mutex> g(lock);
        if (--suspended == 0) allResumed.notify_all();
    }

    void watchDeadlines()
    {
        std::unique_lock<std::mutex> g(connectionLock);
        while (watching) {
            watchWake.wait_for(g, kDeadlineCheckInterval);
            // Not under connectionLock: the queue's lock is never taken inside it.
            g.unlock();
            resumeExpiredWaiters(std::chrono::steady_clock::now());
            g.lock();
            auto now = std::chrono::steady_clock::now();
            for (auto& kv : connections) {
                if (now - kv.second.since > kRequestDeadline) cut(kv.second);
            }
            if (pathRefusals != 0 &&
                (now - lastPathRefusal >= kRefusalQuiet || now - firstPathRefusal >= kRefusalLogInterval))
                logPathRefusals();
        }
    }

    // Called with connectionLock held.  The paths asked for are not logged:
    // they are the sender's text, and one may be a mistyped secret.
    void logPathRefusals()
    {
        if (pathRefusals == 0) return;
        logLine("refused " + std::to_string(pathRefusals) +
                " export requests for paths that are no destination of this listener");
        pathRefusals = 0;
    }

    void countPathRefusal()
    {
        std::lock_guard<std::mutex> g(connectionLock);
        auto now = std::chrono::steady_clock::now();
        if (pathRefusals++ == 0) firstPathRefusal = now;
        lastPathRefusal = now;
    }

    // Whether a consumer takes exports to `path`; one that throws takes none.
    static bool takes(const CIMIndicationConsumer* c, const String& path)
    {
        try {
            return c->acceptsDestination(path);
        } catch (...) {
            return false;
        }
    }

    // Whether some consumer takes exports to `path` (every path when there is none).
    bool pathTaken(const String& path) const
    {
        std::lock_guard<std::mutex> g(lock);
        if (consumers.empty()) return true;
        for (CIMIndicationConsumer* c : consumers) {
            if (takes(c, path)) return true;
        }
        return false;
    }

    bool onDispatchThread() const
    {
        std::lock_guard<std::mutex> g(lock);
        return std::this_thread::get_id() == dispatcher.get_id();
    }

    void dispatch()
    {
        for (;;) {
            Delivery d;
            std::vector<CIMIndicationConsumer*> targets;
            {
                std::unique_lock<std::mutex> g(lock);
                wake.wait(g, [this] { return stopping || !queue.empty(); });
                if (stopping) return;
                d = std::move(queue.front());
                queue.pop_front();
                for (CIMIndicationConsumer* c : consumers) {
                    if (takes(c, d.destinationPath)) targets.push_back(c);
                }
            }
            for (CIMIndicationConsumer* c : targets) {
                std::lock_guard<std::mutex> g(calling);
                {
                    // Removed while an earlier consumer ran: not called any more.
                    std::lock_guard<std::mutex> g2(lock);
                    if (std::find(consumers.begin(), consumers.end(), c) == consumers.end()) continue;
                }
                try {
                    c->consumeIndication(OperationContext(), d.destinationPath, d.indication);
                } catch (const Exception& e) {
                    logLine("a consumer failed: " + std::string(e.getMessage().getCString()));
                } catch (const std::exception& e) {
                    logLine(std::string("a consumer failed: ") + e.what());
                } catch (...) {
                    logLine("a consumer failed");
                }
            }
            d.indication = CIMInstance();  // before its bytes go back to the budget
            std::lock_guard<std::mutex> g(lock);
            if (!stopping) queuedBytes -= d.bytes;
            if (queue.empty() || queue.size() + kResumeBatch <= kMaxQueuedIndications) resumeWaiters(1);
        }
    }

    // Called with the lock held.  Lets the first `n` waiting connections run again.
    void resumeWaiters(size_t n)
    {
        for (; n != 0 && !waiters.empty(); --n) {
            MHD_resume_connection(waiters.front().first);
            waiters.pop_front();
        }
    }

    // Lets the connections whose wait for room is over run again, to be
    // refused, and the first waiting one when there is room.
    void resumeExpiredWaiters(std::chrono::steady_clock::time_point now)
    {
        std::lock_guard<std::mutex> g(lock);
        for (auto it = waiters.begin(); it != waiters.end();) {
            if (now < it->second) {
                ++it;
                continue;
            }
            MHD_resume_connection(it->first);
            it = waiters.erase(it);
        }
        if (queue.size() < kMaxQueuedIndications) resumeWaiters(1);
    }

    // Reads the export.  False with the answer when it is refused or is no
    // indication to queue; true when st.delivery holds the indication for offer().
    bool readExport(MHD_Connection* c, const std::string& url, RequestState& st, Answer& answer)
    {
        if (!headerPresent(c, "CIMExport")) {
            answer = refused(400, "unsupported-operation", "the CIMExport header is missing");
            return false;
        }
        if (!equalNoCase(header(c, "CIMExport"), "MethodRequest")) {
            answer = refused(400, "unsupported-operation", "CIMExport must be MethodRequest");
            return false;
        }
        if (!headerPresent(c, "CIMExportMethod")) {
            answer = refused(400, "header-mismatch", "the CIMExportMethod header is missing");
            return false;
        }
        std::string contentType = header(c, MHD_HTTP_HEADER_CONTENT_TYPE);
        if (!contentType.empty() && contentType.find("xml") == std::string::npos) {
            answer = refused(400, "request-not-valid", "Content-Type must be application/xml or text/xml");
            return false;
        }
        orv::cimxml::ExportRequest req;
        try {
            orv::cimxml::readExportRequest(st.body, req);
        } catch (const orv::cimxml::XmlError& e) {
            answer = refused(400, "request-not-valid", e.what());
            return false;
        }
        if (header(c, "CIMExportMethod") != req.methodName) {
            answer = refused(400, "header-mismatch",
                             "CIMExportMethod header '" + header(c, "CIMExportMethod") +
                                 "' does not match '" + req.methodName + "'");
            return false;
        }
        orv::cimxml::ExportResponse& resp = st.response;
        resp.messageId = req.messageId;
        resp.methodName = req.methodName;
        auto fail = [&](CIMStatusCode code, const std::string& text) {
            resp.isError = true;
            resp.errorCode = code;
            resp.errorDescription = String(text.c_str());
            answer = exportAnswer(resp);
            return false;
        };
        const orv::cimxml::ExportParamValue* p = req.findParam("NewIndication");
        const size_t bytes = p != nullptr && p->hasInstance ? footprint(p->instance) + url.size() : 0;
        if (req.methodName != "ExportIndication")
            return fail(CIM_ERR_NOT_SUPPORTED, "export method " + req.methodName + " is not supported");
        if (req.params.size() != 1 || p == nullptr)
            return fail(CIM_ERR_INVALID_PARAMETER, "ExportIndication takes one parameter, NewIndication");
        if (!p->hasInstance) return fail(CIM_ERR_INVALID_PARAMETER, "NewIndication holds no INSTANCE");
        if (bytes > kMaxIndicationBytes) {
            answer = refused(413, "request-not-valid",
                             "the indication takes " + std::to_string(bytes) +
                                 " bytes once read, more than the listener's limit of " +
                                 std::to_string(kMaxIndicationBytes));
            return false;
        }
        st.delivery = Delivery{String(url.c_str()), p->instance, bytes};
        // The body is read.  Its charge to the budget stays until the request
        // ends: it covers the indication while the connection waits for room.
        st.body.clear();
        st.body.shrink_to_fit();
        return true;
    }

    static Answer exportAnswer(const orv::cimxml::ExportResponse& resp)
    {
        Answer a;
        a.body = orv::cimxml::writeExportResponse(resp);
        a.headers.push_back({"Content-Type", "application/xml; charset=utf-8"});
        a.headers.push_back({"CIMExport", "MethodResponse"});
        return a;
    }

    // Queues the read indication and answers.  While the queue is full the
    // connection is suspended, holding no thread, until a place comes free or
    // its wait is over; then this runs again.
    MHD_Result offer(MHD_Connection* c, RequestState& st)
    {
        const auto now = std::chrono::steady_clock::now();
        {
            std::lock_guard<std::mutex> g(lock);
            if (st.suspended) {
                st.suspended = false;
                if (--suspended == 0) allResumed.notify_all();
            }
            const bool fits = queue.size() < kMaxQueuedIndications &&
                              queuedBytes + st.delivery.bytes <= kQueuedIndicationBudgetBytes;
            if (!st.waiting) st.giveUpAt = now + kQueueWait;
            if (!fits && !closingIntake && now < st.giveUpAt) {
                // Back at the front when it was woken for a place another took.
                if (st.waiting)
                    waiters.push_front({c, st.giveUpAt});
                else
                    waiters.push_back({c, st.giveUpAt});
                st.waiting = true;
                st.suspended = true;
                ++suspended;
                MHD_suspend_connection(c);
                return MHD_YES;
            }
            if (!fits || stopping) {
                st.response.isError = true;
                st.response.errorCode = CIM_ERR_FAILED;
                st.response.errorDescription = "the listener's queue is full; try again later";
                // Logged once when a burst of refusals starts, and with its count when it ends.
                if (refusedInBurst++ == 0)
                    logLine("queue full (" + std::to_string(queue.size()) + " indications, " +
                            std::to_string(queuedBytes) + " bytes; at most " +
                            std::to_string(kMaxQueuedIndications) + " and " +
                            std::to_string(kQueuedIndicationBudgetBytes) +
                            "): indications are refused for now");
            } else {
                if (refusedInBurst != 0) {
                    logLine("queue has room again; " + std::to_string(refusedInBurst) +
                            " indications were refused while it was full");
                    refusedInBurst = 0;
                }
                queuedBytes += st.delivery.bytes;
                queue.push_back(std::move(st.delivery));
                wake.notify_one();
            }
            // A place left over (another came free meanwhile) goes to the next waiting.
            if (!waiters.empty() && queue.size() < kMaxQueuedIndications) resumeWaiters(1);
        }
        st.delivery = Delivery();
        return queueAnswer(c, exportAnswer(st.response));
    }

    static MHD_Result queueAnswer(MHD_Connection* c, const Answer& a)
    {
        MHD_Response* r = MHD_create_response_from_buffer(a.body.size(), const_cast<char*>(a.body.data()),
                                                          MHD_RESPMEM_MUST_COPY);
        if (!r) return MHD_NO;
        for (const auto& h : a.headers) MHD_add_response_header(r, h.first.c_str(), h.second.c_str());
        MHD_Result ret = MHD_queue_response(c, a.status, r);
        MHD_destroy_response(r);
        return ret;
    }

    static Answer refusal(Refusal why)
    {
        switch (why) {
            case Refusal::TooMuchMarkup:
                return refused(413, "request-not-valid",
                               "request holds more than " + std::to_string(kMaxElementsPerRequest) +
                                   " elements or " + std::to_string(kMaxAttributesPerRequest) +
                                   " attributes");
            case Refusal::OverBudget: {
                Answer a = plain(503, "the listener is busy; try again later");
                a.headers.push_back({"Retry-After", std::to_string(kRetryAfterSeconds)});
                return a;
            }
            case Refusal::UnknownPath:
                return plain(404, "no export destination at this path");
            case Refusal::TooLarge:
            case Refusal::None:
                break;
        }
        return refused(413, "request-not-valid",
                       "request body larger than " + std::to_string(kMaxRequestBytes) + " bytes");
    }

    // Stops keeping the body of a request that is refused; the rest is read and dropped.
    void refuse(RequestState& st, Refusal why)
    {
        st.refusal = why;
        st.body.clear();
        st.body.shrink_to_fit();
        release(st);
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* c, const char* url, const char* method,
                                const char* /*version*/, const char* data, size_t* dataSize, void** reqCls)
    {
        CIMListenerRep* self = static_cast<CIMListenerRep*>(cls);
        RequestState* st = static_cast<RequestState*>(*reqCls);
        try {
            if (!st) {
                st = new RequestState();
                *reqCls = st;
                std::string m = method;
                st->answered = true;
                // Refuse before reading a body we would not use.  A path that
                // is not UTF-8 cannot be handed to a consumer as a String.
                String path;
                try {
                    path = String(url);
                } catch (const Exception&) {
                    return queueAnswer(c, plain(400, "the request path is not UTF-8 text"));
                }
                if (!self->pathTaken(path)) {
                    self->countPathRefusal();
                    st->refusal = Refusal::UnknownPath;
                    return queueAnswer(c, refusal(st->refusal));
                }
                if (m == "M-POST") return queueAnswer(c, plain(501, "M-POST is not supported; use POST"));
                if (m != "POST") {
                    Answer a = plain(405, "only POST is accepted");
                    a.headers.push_back({"Allow", "POST"});
                    return queueAnswer(c, a);
                }
                std::string len = header(c, MHD_HTTP_HEADER_CONTENT_LENGTH);
                if (!len.empty() &&
                    (len.size() > 12 || len.find_first_not_of("0123456789") != std::string::npos ||
                     std::stoull(len) > kMaxRequestBytes)) {
                    st->refusal = Refusal::TooLarge;
                    return queueAnswer(c, refusal(st->refusal));
                }
                // A declared body is charged at once, so that a refusal comes before it is sent.
                if (!len.empty() && !self->charge(*st, std::stoull(len))) {
                    st->refusal = Refusal::OverBudget;
                    return queueAnswer(c, refusal(st->refusal));
                }
                // Room for the whole of what was charged, not twice it as appending would make.
                if (!len.empty()) st->body.reserve(st->charged);
                st->answered = false;
                return MHD_YES;
            }
            if (*dataSize) {
                if (st->refusal != Refusal::None) {
                    // Read and drop the rest so that the refusal reaches the client
                    // (closing on unread data resets the connection), but only so much.
                    st->discarded += *dataSize;
                    *dataSize = 0;
                    return st->discarded > kMaxDiscardBytes ? MHD_NO : MHD_YES;
                }
                size_t size = *dataSize;
                *dataSize = 0;
                if (st->body.size() + size > kMaxRequestBytes) {
                    self->refuse(*st, Refusal::TooLarge);
                    return MHD_YES;
                }
                st->markup.feed(data, size);
                if (st->markup.tooMuch()) {
                    self->refuse(*st, Refusal::TooMuchMarkup);
                    return MHD_YES;
                }
                size_t needed = st->body.size() + size;
                if (needed > st->charged && !self->charge(*st, needed - st->charged)) {
                    self->refuse(*st, Refusal::OverBudget);
                    return MHD_YES;
                }
                st->body.append(data, size);
                return MHD_YES;
            }
            if (st->answered) return MHD_YES;
            if (st->refusal != Refusal::None) return queueAnswer(c, refusal(st->refusal));
            if (!st->read) {
                Answer a;
                if (!self->readExport(c, url, *st, a)) {
                    st->answered = true;
                    return queueAnswer(c, a);
                }
                st->read = true;
            }
            return self->offer(c, *st);
        } catch (const std::exception& e) {
            logLine(std::string("internal error: ") + e.what());
            return queueAnswer(c, plain(500, "internal error"));
        } catch (const Exception& e) {
            logLine("internal error: " + std::string(e.getMessage().getCString()));
            return queueAnswer(c, plain(500, "internal error"));
        }
    }

    static void onCompleted(void* cls, MHD_Connection* c, void** reqCls, MHD_RequestTerminationCode /*toe*/)
    {
        CIMListenerRep* self = static_cast<CIMListenerRep*>(cls);
        RequestState* st = static_cast<RequestState*>(*reqCls);
        if (st != nullptr) {
            self->release(*st);
            if (st->suspended) self->endedSuspended();
        }
        delete st;
        *reqCls = nullptr;
        self->requestEnded(c);
    }
};

CIMListener::CIMListener(Uint32 portNumber, SSLContext* /*sslContext*/) : _rep(new CIMListenerRep)
{
    _rep->port = portNumber;
}

CIMListener::~CIMListener()
{
    delete _rep;
}

Uint32 CIMListener::getPortNumber() const
{
    std::lock_guard<std::mutex> g(_rep->lock);
    return _rep->boundPort != 0 ? _rep->boundPort : _rep->port;
}

void CIMListener::start()
{
    _rep->startAll();
}

void CIMListener::stop()
{
    _rep->stopAll();
}

Boolean CIMListener::isAlive() const
{
    std::lock_guard<std::mutex> g(_rep->lock);
    return _rep->alive;
}

Boolean CIMListener::addConsumer(CIMIndicationConsumer* consumer)
{
    if (consumer == nullptr) return false;
    std::lock_guard<std::mutex> g(_rep->lock);
    if (std::find(_rep->consumers.begin(), _rep->consumers.end(), consumer) != _rep->consumers.end())
        return false;
    _rep->consumers.push_back(consumer);
    return true;
}

Boolean CIMListener::removeConsumer(CIMIndicationConsumer* consumer)
{
    {
        std::lock_guard<std::mutex> g(_rep->lock);
        auto it = std::find(_rep->consumers.begin(), _rep->consumers.end(), consumer);
        if (it == _rep->consumers.end()) return false;
        _rep->consumers.erase(it);
    }
    // Once this returns the consumer is not being called and may be destroyed
    // (unless it removes itself from within its own call).
    if (!_rep->onDispatchThread()) std::lock_guard<std::mutex> g(_rep->calling);
    return true;
}

PEGASUS_NAMESPACE_END
