#include "support/stop_request.h"

#include <csignal>
#include <ctime>
#include <pthread.h>

namespace bench {

namespace {
sigset_t stopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}
}  // namespace

StopRequest::StopRequest() {
    sigset_t set = stopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    watcher_ = std::thread([this, set] {
        // A short timeout rather than a wake-up signal: the watcher only has to notice
        // that the benchmark is closing.
        const timespec slice{0, 100'000'000};
        while (!closing_.load()) {
            if (sigtimedwait(&set, nullptr, &slice) > 0) requested_.store(true);
        }
    });
}

StopRequest::~StopRequest() {
    closing_.store(true);
    watcher_.join();
}

}  // namespace bench
