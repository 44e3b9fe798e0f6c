// Socket basics of the tests: listening and connecting on the loopback
// interface and on Unix domain sockets, sending everything, waiting for input.
#pragma once

#include <string>

namespace orvtest {

// A listening socket on 127.0.0.1 with a port the kernel picked, written to
// *port; throws std::runtime_error when none can be made.
int listenLoopback(int* port, int backlog = 64);

// A listening Unix domain socket at `path` (an old file there is removed);
// throws std::runtime_error when none can be made.
int listenUnix(const std::string& path, int backlog = 8);

// A port nobody listens on right now (the kernel picks it).
int freeTcpPort();

// A connected loopback socket, or -1.  With a positive `timeoutMs` the connect
// gives up after that long (a listener not accepting leaves a connect waiting
// for minutes otherwise) and so does each send; with 0 both wait as long as
// the kernel lets them.
int connectLoopback(int port, int timeoutMs = 2000);

// A socket connected to the Unix domain socket at `path`, or -1.
int connectUnix(const std::string& path);

bool canConnectLoopback(int port);
bool canConnectUnix(const std::string& path);

// Sends all of it; false when the peer is gone (never raises SIGPIPE).
bool sendAll(int fd, const char* data, size_t size);
inline bool sendAll(int fd, const std::string& data)
{
    return sendAll(fd, data.data(), data.size());
}

// True when `fd` has input (or an end of file) within `timeoutMs`.
bool waitReadable(int fd, int timeoutMs);

}  // namespace orvtest
