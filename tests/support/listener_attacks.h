// What a hostile local user can do to an export listener on a loopback port,
// as real traffic on real sockets: bodies that amplify into parser tokens,
// connections that trickle a byte at a time, and a sender that keeps
// delivering real indications meanwhile, trying again as a CIM server would.
// Used by the listener suite and the listener benchmark.
#pragma once

#include "indication_export.h"
#include "loopback.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace orvtest {

// The status of the answer on `fd` (0 when none came within `timeoutMs`).
inline int readStatus(int fd, int timeoutMs)
{
    std::string got;
    char buf[4096];
    while (got.find("\r\n") == std::string::npos) {
        if (!waitReadable(fd, timeoutMs)) return 0;
        ssize_t r = ::recv(fd, buf, sizeof buf, 0);
        if (r <= 0) return 0;
        got.append(buf, static_cast<size_t>(r));
    }
    return got.size() > 12 && got.compare(0, 5, "HTTP/") == 0 ? std::atoi(got.c_str() + 9) : 0;
}

// Delivers one export, on a fresh connection each try, until it is answered
// 200 or `giveUp` passes; a refused or cut try is made again after `pause`.
inline bool deliverWithRetry(int port, const std::string& request,
                             std::chrono::steady_clock::time_point giveUp,
                             std::chrono::milliseconds pause = std::chrono::milliseconds(200))
{
    while (std::chrono::steady_clock::now() < giveUp) {
        int fd = connectLoopback(port);
        int status = 0;
        if (fd >= 0) {
            if (sendAll(fd, request.data(), request.size())) status = readStatus(fd, 10000);
            ::close(fd);
        }
        if (status == 200) return true;
        std::this_thread::sleep_for(pause);
    }
    return false;
}

// The largest body the listener takes.
constexpr size_t kAmplifyingBodyBytes = 4u * 1024 * 1024;

// Runs `connections` attacking threads until the object is destroyed.
class Attack {
public:
    enum class Kind {
        Amplifying,  // 4 MiB of <a/>, sent whole, again and again
        Trickling    // an export's headers, one byte a second, reconnecting when cut
    };
    Attack(Kind kind, int port, unsigned connections)
    {
        if (kind == Kind::Amplifying) {
            // One well-formed document, so that a reader takes all of it.
            const std::string open = "<?xml version=\"1.0\"?><CIM CIMVERSION=\"2.0\" DTDVERSION=\"2.0\">",
                              close = "</CIM>";
            std::string body = open;
            body.reserve(kAmplifyingBodyBytes);
            while (body.size() + 4 + close.size() <= kAmplifyingBodyBytes) body += "<a/>";
            request_ = std::make_shared<const std::string>(exportPost(body + close));
        } else {
            request_ = std::make_shared<const std::string>(exportPost(std::string(1000, ' ')));
        }
        for (unsigned i = 0; i < connections; ++i) {
            threads_.emplace_back(
                [this, kind, port] { kind == Kind::Amplifying ? amplify(port) : trickle(port); });
        }
    }
    ~Attack()
    {
        stop_ = true;
        for (auto& t : threads_) t.join();
    }
    Attack(const Attack&) = delete;
    Attack& operator=(const Attack&) = delete;

    unsigned long requests() const { return requests_; }

private:
    void amplify(int port)
    {
        while (!stop_) {
            int fd = connectLoopback(port);
            if (fd < 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                continue;
            }
            if (sendAll(fd, request_->data(), request_->size())) (void)readStatus(fd, 10000);
            ++requests_;
            ::close(fd);
        }
    }

    void trickle(int port)
    {
        while (!stop_) {
            int fd = connectLoopback(port);
            ++requests_;
            for (size_t i = 0; fd >= 0 && i < request_->size() && !stop_; ++i) {
                pollfd p{fd, POLLIN | POLLRDHUP, 0};
                if (::poll(&p, 1, 0) > 0 || !sendAll(fd, request_->data() + i, 1)) break;  // cut off
                for (int tick = 0; tick < 10 && !stop_; ++tick)
                    std::this_thread::sleep_for(std::chrono::milliseconds(100));
            }
            if (fd >= 0) ::close(fd);
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
    }

    std::shared_ptr<const std::string> request_;
    std::atomic<bool> stop_{false};
    std::atomic<unsigned long> requests_{0};
    std::vector<std::thread> threads_;
};

// Resident memory of this process, in bytes, from /proc/self/status ("VmRSS" or "VmHWM").
inline long long residentBytes(const char* field = "VmRSS")
{
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line)) {
        if (line.compare(0, key.size(), key) == 0) return std::atoll(line.c_str() + key.size()) * 1024;
    }
    return -1;
}

// Starts the peak (VmHWM) again from the present resident size.
inline void resetPeakResident()
{
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
}

}  // namespace orvtest
