// HTTP side of minicimd (libmicrohttpd): a Unix domain socket and optionally a
// loopback TCP port, POST /cimom only, bounded requests, and OpenPegasus-style
// "Local" authentication when asked for.
#ifndef MINICIMD_SERVER_HTTPSERVER_H
#define MINICIMD_SERVER_HTTPSERVER_H

#include "server/CimHandler.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>

struct MHD_Daemon;
struct MHD_Connection;

namespace minicimd {

// The CIMMethod and CIMObject headers as sent: %XX escapes decoded, anything
// else kept as it is.
std::string uriDecode(const std::string& s);

// How long a whole request may take to come (--request-deadline).
constexpr unsigned kDefaultRequestDeadlineSeconds = 60;

struct ServerConfig {
    std::string socketPath;  // empty: no Unix socket
    int port = -1;           // -1: no TCP; 0: any free port
    bool localAuth = false;
    std::string authDir = "/tmp";
    bool verbose = false;
    // A connection's first request (headers and body) must have come whole
    // this long after it opened, a later one within kConnectionTimeoutSeconds
    // of the previous answer (however slowly it trickles); else the
    // connection is closed.
    unsigned requestDeadlineSeconds = kDefaultRequestDeadlineSeconds;
};

class HttpServer {
public:
    // The largest request body accepted (HTTP 413 beyond).
    static constexpr size_t kMaxRequestBytes = 16u * 1024 * 1024;
    // How much of an oversized body is read (and dropped) so that the 413
    // reaches the client; beyond it the connection is closed.
    static constexpr size_t kMaxDiscardBytes = 64u * 1024 * 1024;
    // The request bodies of all connections together held at once; a body
    // that would go beyond is dropped as it comes and answered 503.
    static constexpr size_t kMaxBodyBytesInFlight = 64u * 1024 * 1024;
    static constexpr unsigned kMaxConnections = 256;
    // Connections one local user (Unix socket, by SO_PEERCRED) or one address
    // (TCP) may hold at once; beyond it a new one is answered 503 and closed.
    // Well below kMaxConnections, so that others always find a slot.
    static constexpr unsigned kMaxConnectionsPerUser = 48;
    static constexpr unsigned kMaxConnectionsPerAddress = 48;
    static constexpr unsigned kConnectionTimeoutSeconds = 300;
    // Unanswered challenges kept at once, and how long one stays valid.
    static constexpr size_t kMaxPendingChallenges = 1024;
    static constexpr int kChallengeLifetimeSeconds = 120;

    // Starts listening; on failure returns null and sets `error`.
    static std::unique_ptr<HttpServer> start(const ServerConfig& cfg, const CimHandler& handler,
                                             std::string& error);
    ~HttpServer();  // stops, removes the socket file and pending challenge files
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    int tcpPort() const { return tcpPort_; }

    // For libmicrohttpd's callbacks.
    struct Impl;

private:
    HttpServer() = default;
    std::unique_ptr<Impl> impl_;
    int tcpPort_ = -1;
};

}  // namespace minicimd

#endif
