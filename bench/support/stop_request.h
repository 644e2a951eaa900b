// Ctrl-C or SIGTERM to a benchmark must end it the normal way, so that the library child
// is stopped and the temporary root removed. The signals are blocked in every thread and
// taken by one watcher thread, which only raises a flag that the waiting loops read.
#pragma once

#include <atomic>
#include <thread>

namespace bench {

class StopRequest {
public:
    // Call before any other thread starts: threads inherit the blocked signals.
    StopRequest();
    ~StopRequest();
    StopRequest(const StopRequest&) = delete;
    StopRequest& operator=(const StopRequest&) = delete;

    bool requested() const { return requested_.load(); }

private:
    std::atomic<bool> requested_{false};
    std::atomic<bool> closing_{false};
    std::thread watcher_;
};

}  // namespace bench
