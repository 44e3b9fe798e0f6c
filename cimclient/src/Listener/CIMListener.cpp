// CIMListener: an export listener.  It takes ExportIndication requests over
// HTTP on a loopback port (libmicrohttpd), reads them with the shared CIM-XML
// codec, answers at once and hands each indication to every consumer on a
// dispatch thread of its own, in the order they arrived.
#include <Pegasus/Common/Exception.h>
#include <Pegasus/Consumer/CIMIndicationConsumer.h>
#include <Pegasus/Listener/CIMListener.h>

#include <microhttpd.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
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
constexpr unsigned kMaxConnections = 64;
constexpr unsigned kConnectionTimeoutSeconds = 30;
// Indications received and not yet handed to the consumers.  When it is full
// an export waits up to kQueueWaitMs for room (its sender slows down to the
// consumers' pace); after that it is refused as a temporary failure
// (CIM_ERR_FAILED), which a sender is expected to try again.
constexpr size_t kMaxQueuedIndications = 1024;
constexpr long kQueueWaitMs = 2000;

void logLine(const std::string& s) {
    std::string line = "CIMListener: " + s + "\n";
    ssize_t r = write(2, line.data(), line.size());
    (void)r;
}

struct RequestState {
    std::string body;
    bool tooBig = false;
    bool answered = false;  // refused on its headers alone
    size_t discarded = 0;
};

struct Answer {
    unsigned status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
};

Answer plain(unsigned status, const std::string& text) {
    Answer a;
    a.status = status;
    a.body = text + "\n";
    a.headers.push_back({"Content-Type", "text/plain; charset=utf-8"});
    return a;
}

// A refused export: the status and the CIMError header of the export protocol.
Answer refused(unsigned status, const char* cimError, const std::string& detail) {
    Answer a = plain(status, detail);
    if (cimError) a.headers.push_back({"CIMError", cimError});
    return a;
}

std::string header(MHD_Connection* c, const char* name) {
    const char* v = MHD_lookup_connection_value(c, MHD_HEADER_KIND, name);
    return v ? v : "";
}

bool headerPresent(MHD_Connection* c, const char* name) {
    return MHD_lookup_connection_value(c, MHD_HEADER_KIND, name) != nullptr;
}

bool equalNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

struct Delivery {
    std::string destinationPath;
    CIMInstance indication;
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
    std::condition_variable room;  // the queue has room again, or stopping
    size_t refusedInBurst = 0;     // refusals since the queue last took one
    std::thread dispatcher;
    // Held while a consumer runs, so that removeConsumer can wait for it.
    std::mutex calling;

    ~CIMListenerRep() {
        stopAll();
        if (dispatcher.joinable()) {
            if (onDispatchThread()) dispatcher.detach();  // destroyed from within a consumer
            else dispatcher.join();
        }
    }

    void startAll() {
        std::thread old;
        {
            // A thread left by a stop() from within a consumer.
            std::lock_guard<std::mutex> g(lock);
            if (!alive) old = std::move(dispatcher);
        }
        if (old.joinable()) old.join();
        std::lock_guard<std::mutex> g(lock);
        if (alive) return;
        if (port > 65535) throw Exception(String(("CIMListener: port " + std::to_string(port) + " out of range").c_str()));
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(static_cast<uint16_t>(port));
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        unsigned flags = MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_THREAD_PER_CONNECTION | MHD_USE_ERROR_LOG;
        daemon = MHD_start_daemon(flags, 0, nullptr, nullptr, &CIMListenerRep::onRequest, this,
                                  MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&sa),
                                  MHD_OPTION_NOTIFY_COMPLETED, &CIMListenerRep::onCompleted, this,
                                  MHD_OPTION_CONNECTION_LIMIT, kMaxConnections,
                                  MHD_OPTION_CONNECTION_TIMEOUT, kConnectionTimeoutSeconds,
                                  MHD_OPTION_END);
        if (!daemon) throw Exception(String(("CIMListener: cannot listen on 127.0.0.1:" + std::to_string(port)).c_str()));
        const MHD_DaemonInfo* di = MHD_get_daemon_info(daemon, MHD_DAEMON_INFO_BIND_PORT);
        boundPort = di && di->port ? di->port : port;
        stopping = false;
        dispatcher = std::thread([this] { dispatch(); });
        alive = true;
    }

    void stopAll() {
        MHD_Daemon* d = nullptr;
        std::thread t;
        {
            std::lock_guard<std::mutex> g(lock);
            if (!alive) return;
            alive = false;
            d = daemon;
            daemon = nullptr;
        }
        // The daemon's threads may be queueing; stop them first, without the lock.
        MHD_stop_daemon(d);
        {
            std::lock_guard<std::mutex> g(lock);
            stopping = true;
            queue.clear();
            wake.notify_all();
            room.notify_all();
            // A consumer stopping its own listener cannot wait for itself;
            // the thread ends on its own and the next start or the destructor joins it.
            if (std::this_thread::get_id() != dispatcher.get_id()) t = std::move(dispatcher);
        }
        if (t.joinable()) t.join();
    }

    bool onDispatchThread() const {
        std::lock_guard<std::mutex> g(lock);
        return std::this_thread::get_id() == dispatcher.get_id();
    }

    void dispatch() {
        for (;;) {
            Delivery d;
            std::vector<CIMIndicationConsumer*> targets;
            {
                std::unique_lock<std::mutex> g(lock);
                wake.wait(g, [this] { return stopping || !queue.empty(); });
                if (stopping) return;
                d = std::move(queue.front());
                queue.pop_front();
                targets = consumers;
                room.notify_one();
            }
            String path(d.destinationPath.c_str());
            for (CIMIndicationConsumer* c : targets) {
                std::lock_guard<std::mutex> g(calling);
                {
                    // Removed while an earlier consumer ran: not called any more.
                    std::lock_guard<std::mutex> g2(lock);
                    if (std::find(consumers.begin(), consumers.end(), c) == consumers.end()) continue;
                }
                try {
                    c->consumeIndication(OperationContext(), path, d.indication);
                } catch (const Exception& e) {
                    logLine("a consumer failed: " + std::string(e.getMessage().getCString()));
                } catch (const std::exception& e) {
                    logLine(std::string("a consumer failed: ") + e.what());
                } catch (...) {
                    logLine("a consumer failed");
                }
            }
        }
    }

    // Reads the export and queues its indication; returns the answer.
    Answer handleExport(MHD_Connection* c, const std::string& url, std::string& body) {
        if (!headerPresent(c, "CIMExport")) return refused(400, "unsupported-operation", "the CIMExport header is missing");
        if (!equalNoCase(header(c, "CIMExport"), "MethodRequest"))
            return refused(400, "unsupported-operation", "CIMExport must be MethodRequest");
        if (!headerPresent(c, "CIMExportMethod"))
            return refused(400, "header-mismatch", "the CIMExportMethod header is missing");
        std::string contentType = header(c, MHD_HTTP_HEADER_CONTENT_TYPE);
        if (!contentType.empty() && contentType.find("xml") == std::string::npos)
            return refused(400, "request-not-valid", "Content-Type must be application/xml or text/xml");
        orv::cimxml::ExportRequest req;
        try {
            orv::cimxml::readExportRequest(body, req);
        } catch (const orv::cimxml::XmlError& e) {
            return refused(400, "request-not-valid", e.what());
        }
        if (header(c, "CIMExportMethod") != req.methodName)
            return refused(400, "header-mismatch", "CIMExportMethod header '" + header(c, "CIMExportMethod") +
                                                       "' does not match '" + req.methodName + "'");
        orv::cimxml::ExportResponse resp;
        resp.messageId = req.messageId;
        resp.methodName = req.methodName;
        auto fail = [&](CIMStatusCode code, const std::string& text) {
            resp.isError = true;
            resp.errorCode = code;
            resp.errorDescription = String(text.c_str());
        };
        const orv::cimxml::ExportParamValue* p = req.findParam("NewIndication");
        if (req.methodName != "ExportIndication") {
            fail(CIM_ERR_NOT_SUPPORTED, "export method " + req.methodName + " is not supported");
        } else if (req.params.size() != 1 || p == nullptr) {
            fail(CIM_ERR_INVALID_PARAMETER, "ExportIndication takes one parameter, NewIndication");
        } else if (!p->hasInstance) {
            fail(CIM_ERR_INVALID_PARAMETER, "NewIndication holds no INSTANCE");
        } else {
            std::unique_lock<std::mutex> g(lock);
            bool hasRoom = room.wait_for(g, std::chrono::milliseconds(kQueueWaitMs),
                                         [this] { return stopping || queue.size() < kMaxQueuedIndications; });
            if (!hasRoom || stopping) {
                fail(CIM_ERR_FAILED, "the listener's queue is full; try again later");
                // Logged once when a burst of refusals starts, and with its count when it ends.
                if (refusedInBurst++ == 0)
                    logLine("queue full (" + std::to_string(kMaxQueuedIndications) +
                            "): indications are refused for now");
            } else {
                if (refusedInBurst != 0) {
                    logLine("queue has room again; " + std::to_string(refusedInBurst) +
                            " indications were refused while it was full");
                    refusedInBurst = 0;
                }
                queue.push_back(Delivery{url, p->instance});
                wake.notify_one();
            }
        }
        Answer a;
        a.body = orv::cimxml::writeExportResponse(resp);
        a.headers.push_back({"Content-Type", "application/xml; charset=utf-8"});
        a.headers.push_back({"CIMExport", "MethodResponse"});
        return a;
    }

    static MHD_Result queueAnswer(MHD_Connection* c, const Answer& a) {
        MHD_Response* r = MHD_create_response_from_buffer(a.body.size(), const_cast<char*>(a.body.data()),
                                                          MHD_RESPMEM_MUST_COPY);
        if (!r) return MHD_NO;
        for (const auto& h : a.headers) MHD_add_response_header(r, h.first.c_str(), h.second.c_str());
        MHD_Result ret = MHD_queue_response(c, a.status, r);
        MHD_destroy_response(r);
        return ret;
    }

    static Answer tooLarge() {
        return refused(413, "request-not-valid", "request body larger than " + std::to_string(kMaxRequestBytes) + " bytes");
    }

    static MHD_Result onRequest(void* cls, MHD_Connection* c, const char* url, const char* method,
                                const char* /*version*/, const char* data, size_t* dataSize, void** reqCls) {
        CIMListenerRep* self = static_cast<CIMListenerRep*>(cls);
        RequestState* st = static_cast<RequestState*>(*reqCls);
        try {
            if (!st) {
                st = new RequestState();
                *reqCls = st;
                std::string m = method;
                st->answered = true;
                // Refuse before reading a body we would not use.
                if (m == "M-POST") return queueAnswer(c, plain(501, "M-POST is not supported; use POST"));
                if (m != "POST") {
                    Answer a = plain(405, "only POST is accepted");
                    a.headers.push_back({"Allow", "POST"});
                    return queueAnswer(c, a);
                }
                std::string len = header(c, MHD_HTTP_HEADER_CONTENT_LENGTH);
                if (!len.empty() && (len.size() > 12 || len.find_first_not_of("0123456789") != std::string::npos ||
                                     std::stoull(len) > kMaxRequestBytes)) {
                    st->tooBig = true;
                    return queueAnswer(c, tooLarge());
                }
                st->answered = false;
                return MHD_YES;
            }
            if (*dataSize) {
                if (st->tooBig) {
                    // Read and drop the rest so that the 413 reaches the client
                    // (closing on unread data resets the connection), but only so much.
                    st->discarded += *dataSize;
                    *dataSize = 0;
                    return st->discarded > kMaxDiscardBytes ? MHD_NO : MHD_YES;
                }
                if (st->body.size() + *dataSize > kMaxRequestBytes) {
                    st->tooBig = true;
                    st->body.clear();
                    st->body.shrink_to_fit();
                } else {
                    st->body.append(data, *dataSize);
                }
                *dataSize = 0;
                return MHD_YES;
            }
            if (st->answered) return MHD_YES;
            if (st->tooBig) return queueAnswer(c, tooLarge());
            return queueAnswer(c, self->handleExport(c, url, st->body));
        } catch (const std::exception& e) {
            logLine(std::string("internal error: ") + e.what());
            return queueAnswer(c, plain(500, "internal error"));
        } catch (const Exception& e) {
            logLine("internal error: " + std::string(e.getMessage().getCString()));
            return queueAnswer(c, plain(500, "internal error"));
        }
    }

    static void onCompleted(void* /*cls*/, MHD_Connection* /*c*/, void** reqCls, MHD_RequestTerminationCode /*toe*/) {
        delete static_cast<RequestState*>(*reqCls);
        *reqCls = nullptr;
    }
};

CIMListener::CIMListener(Uint32 portNumber, SSLContext* /*sslContext*/) : _rep(new CIMListenerRep) {
    _rep->port = portNumber;
}

CIMListener::~CIMListener() { delete _rep; }

Uint32 CIMListener::getPortNumber() const {
    std::lock_guard<std::mutex> g(_rep->lock);
    return _rep->boundPort != 0 ? _rep->boundPort : _rep->port;
}

void CIMListener::start() { _rep->startAll(); }

void CIMListener::stop() { _rep->stopAll(); }

Boolean CIMListener::isAlive() const {
    std::lock_guard<std::mutex> g(_rep->lock);
    return _rep->alive;
}

Boolean CIMListener::addConsumer(CIMIndicationConsumer* consumer) {
    if (consumer == nullptr) return false;
    std::lock_guard<std::mutex> g(_rep->lock);
    if (std::find(_rep->consumers.begin(), _rep->consumers.end(), consumer) != _rep->consumers.end()) return false;
    _rep->consumers.push_back(consumer);
    return true;
}

Boolean CIMListener::removeConsumer(CIMIndicationConsumer* consumer) {
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
