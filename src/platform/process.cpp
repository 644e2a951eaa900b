#include "platform/process.h"

#include "platform/event_loop.h"

#include <boost/asio/signal_set.hpp>

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace iplib {

// An abstract-namespace Unix socket name belongs to the whole computer (its network
// namespace), not to a folder, and the system releases it when the process ends however
// it ends: no stale lock file after a crash.
std::unique_ptr<SingleCopyLock> SingleCopyLock::acquire() {
    const char* configured = std::getenv("IPLIB_SINGLE_COPY_NAME");
    const std::string name = configured && *configured ? configured : "iplib-single-copy";
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (name.size() + 1 > sizeof address.sun_path) return nullptr;
    // sun_path[0] stays '\0': that is what makes the name abstract.
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), length) != 0) {
        ::close(fd);
        return nullptr;
    }
    return std::unique_ptr<SingleCopyLock>(new SingleCopyLock(fd));
}

SingleCopyLock::~SingleCopyLock() { ::close(fd_); }

struct ShutdownSignals::Impl {
    // Shared with the pending wait, which may complete after the Impl is gone.
    struct State {
        explicit State(boost::asio::io_context& io) : signals(io, SIGTERM, SIGINT) {}
        boost::asio::signal_set signals;
        std::function<void()> onSignal;
    };

    static void wait(const std::shared_ptr<State>& state) {
        state->signals.async_wait([weak = std::weak_ptr<State>(state)](const boost::system::error_code& ec, int) {
            const auto alive = weak.lock();
            if (!alive || ec) return;
            const auto onSignal = alive->onSignal;
            // Armed again first, so that a second signal during a slow shutdown is seen.
            wait(alive);
            if (onSignal) onSignal();
        });
    }

    std::shared_ptr<State> state;
};

ShutdownSignals::ShutdownSignals(EventLoop& loop, std::function<void()> onSignal) : impl_(std::make_unique<Impl>()) {
    impl_->state = std::make_shared<Impl::State>(loop.context());
    impl_->state->onSignal = std::move(onSignal);
    Impl::wait(impl_->state);
}

ShutdownSignals::~ShutdownSignals() {
    boost::system::error_code ignored;
    impl_->state->signals.cancel(ignored);
}

std::string programFolder() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) return "./";
    const std::string path(buffer, static_cast<std::size_t>(n));
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
}

long raiseOpenFilesLimit(long wanted) {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return -1;
    const rlim_t want = wanted > 0 ? static_cast<rlim_t>(wanted) : 0;
    if (limit.rlim_max != RLIM_INFINITY && limit.rlim_max < want) {
        // Only a privileged process may raise the hard limit; otherwise the hard limit is
        // the best there is.
        rlimit raised{want, want};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) return static_cast<long>(want);
    }
    rlim_t target = limit.rlim_max;
    if (target == RLIM_INFINITY) target = std::max(limit.rlim_cur, want);
    if (target > limit.rlim_cur) {
        rlimit raised{target, limit.rlim_max};
        if (::setrlimit(RLIMIT_NOFILE, &raised) == 0) limit.rlim_cur = target;
    }
    return static_cast<long>(limit.rlim_cur);
}

}  // namespace iplib
