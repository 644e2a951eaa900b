#include "platform/event_loop.h"

#include <boost/asio/executor_work_guard.hpp>
#include <boost/asio/post.hpp>

namespace iplib {

namespace asio = boost::asio;

void EventLoop::run() {
    // The guard keeps run() going while nothing is pending (a library with no links yet
    // still waits for its timers to be started and for stop()).
    auto guard = asio::make_work_guard(io_);
    io_.run();
    // Leaves the context ready for another run() after a stop().
    io_.restart();
}

void EventLoop::stop() { io_.stop(); }

void EventLoop::post(std::function<void()> fn) { asio::post(io_, std::move(fn)); }

// Both timers follow the same pattern: every wait captures the generation number it was
// started in, and a weak reference to the counter. stop(), cancel(), a restart and the
// destructor all move the generation on, so a stale completion (cancelled, superseded,
// or outliving its timer) finds a different number or no counter at all and does nothing.

PeriodicTimer::PeriodicTimer(EventLoop& loop) : timer_(loop.context()) {}

PeriodicTimer::~PeriodicTimer() {
    ++*generation_;
    timer_.cancel();
}

void PeriodicTimer::start(std::chrono::milliseconds period, std::function<void()> handler) {
    ++*generation_;
    timer_.cancel();
    period_ = period < std::chrono::milliseconds::zero() ? std::chrono::milliseconds::zero() : period;
    handler_ = std::move(handler);
    running_ = true;
    arm();
}

void PeriodicTimer::setPeriod(std::chrono::milliseconds period) {
    if (period < std::chrono::milliseconds::zero()) period = std::chrono::milliseconds::zero();
    if (period == period_) return;
    period_ = period;
    if (!running_) return;
    // The wait under way is replaced by one of the new period, counted from now.
    ++*generation_;
    timer_.cancel();
    arm();
}

void PeriodicTimer::stop() {
    ++*generation_;
    running_ = false;
    timer_.cancel();
}

void PeriodicTimer::arm() {
    const int generation = *generation_;
    auto fire = [this, weak = std::weak_ptr<int>(generation_), generation] {
        // Holding the counter keeps it readable even if the handler destroys this timer.
        const auto counter = weak.lock();
        if (!counter || *counter != generation) return;
        // A copy, so that the handler may replace itself through start().
        const auto handler = handler_;
        if (handler) handler();
        if (*counter != generation) return;  // stopped, restarted or destroyed meanwhile
        arm();
    };
    if (period_.count() == 0) {
        // Queued behind whatever else is ready, so "as fast as possible" never starves
        // the other handlers.
        asio::post(timer_.get_executor(), std::move(fire));
        return;
    }
    timer_.expires_after(period_);
    timer_.async_wait([fire = std::move(fire)](const boost::system::error_code&) { fire(); });
}

OneShotTimer::OneShotTimer(EventLoop& loop) : timer_(loop.context()) {}

OneShotTimer::~OneShotTimer() {
    ++*generation_;
    timer_.cancel();
}

void OneShotTimer::start(std::chrono::milliseconds delay, std::function<void()> handler) {
    const int generation = ++*generation_;
    handler_ = std::move(handler);
    pending_ = true;
    timer_.expires_after(delay < std::chrono::milliseconds::zero() ? std::chrono::milliseconds::zero() : delay);
    timer_.async_wait([this, weak = std::weak_ptr<int>(generation_), generation](const boost::system::error_code&) {
        const auto counter = weak.lock();
        if (!counter || *counter != generation) return;
        pending_ = false;
        // Moved out, so that the handler may start this timer again or destroy it.
        auto handler = std::move(handler_);
        handler_ = nullptr;
        if (handler) handler();
    });
}

void OneShotTimer::cancel() {
    ++*generation_;
    pending_ = false;
    timer_.cancel();
}

}  // namespace iplib
