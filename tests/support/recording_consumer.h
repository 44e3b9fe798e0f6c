// An indication consumer that keeps what it gets, for a test to wait on and
// read.  Header-only: it compiles against whichever client library the suite uses.
#pragma once

#include "pegasus_text.h"

#include <Pegasus/Common/CIMInstance.h>
#include <Pegasus/Consumer/CIMIndicationConsumer.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace orvtest {

struct Received {
    std::string path;  // the destination path the indication came to
    Pegasus::CIMInstance indication;
    std::string className() const { return str(indication.getClassName().getString()); }
};

class RecordingConsumer : public Pegasus::CIMIndicationConsumer {
public:
    // Generous: the machine running the tests may be busy.
    static constexpr std::chrono::seconds kWait{60};

    void consumeIndication(const Pegasus::OperationContext&, const Pegasus::String& path,
                           const Pegasus::CIMInstance& indication) override
    {
        std::lock_guard<std::mutex> g(mu_);
        got_.push_back(Received{str(path), indication});
        cv_.notify_all();
    }
    // Waits until `n` indications came; false when they did not in time.
    bool waitFor(size_t n)
    {
        std::unique_lock<std::mutex> g(mu_);
        return cv_.wait_for(g, kWait, [&] { return got_.size() >= n; });
    }
    size_t count()
    {
        std::lock_guard<std::mutex> g(mu_);
        return got_.size();
    }
    Received at(size_t i)
    {
        std::lock_guard<std::mutex> g(mu_);
        return got_.at(i);
    }
    std::vector<Received> all()
    {
        std::lock_guard<std::mutex> g(mu_);
        return got_;
    }

private:
    std::mutex mu_;
    std::condition_variable cv_;
    std::vector<Received> got_;
};

}  // namespace orvtest
