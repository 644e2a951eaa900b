// The one event thread: an io_context run on the main thread, with periodic and one-shot
// timers whose handlers run on it. Timer-driven logic is a plain function of "now"; these
// timers only call it.
#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/steady_timer.hpp>

#include <chrono>
#include <functional>
#include <memory>

namespace iplib {

class EventLoop {
public:
    EventLoop() = default;
    EventLoop(const EventLoop&) = delete;
    EventLoop& operator=(const EventLoop&) = delete;

    boost::asio::io_context& context() { return io_; }
    // Runs until stop() is called, also while nothing is pending; run() may be called
    // again after it returned.
    void run();
    void stop();
    // Queues a function to run on the event thread after the current handler.
    void post(std::function<void()> fn);

private:
    boost::asio::io_context io_;
};

// A timer that calls its handler every period until stopped. Changing the period while
// it runs replaces the wait under way by one of the new period counted from now (setting
// the same period again changes nothing). A period of 0 runs it as often as the loop can,
// each call queued behind the other ready handlers. Missed periods are not caught up: one
// call per expiry, the next period counted from the end of the call.
//
// The handler may stop, restart or destroy its own timer.
class PeriodicTimer {
public:
    explicit PeriodicTimer(EventLoop& loop);
    ~PeriodicTimer();
    PeriodicTimer(const PeriodicTimer&) = delete;
    PeriodicTimer& operator=(const PeriodicTimer&) = delete;

    void start(std::chrono::milliseconds period, std::function<void()> handler);
    void setPeriod(std::chrono::milliseconds period);
    std::chrono::milliseconds period() const { return period_; }
    void stop();
    bool running() const { return running_; }

private:
    void arm();

    boost::asio::steady_timer timer_;
    std::chrono::milliseconds period_{1};
    std::function<void()> handler_;
    bool running_ = false;
    std::shared_ptr<int> generation_ = std::make_shared<int>(0);
};

// A timer that calls its handler once after a delay; starting it again restarts it. The
// handler may start it again or destroy it.
class OneShotTimer {
public:
    explicit OneShotTimer(EventLoop& loop);
    ~OneShotTimer();
    OneShotTimer(const OneShotTimer&) = delete;
    OneShotTimer& operator=(const OneShotTimer&) = delete;

    void start(std::chrono::milliseconds delay, std::function<void()> handler);
    void cancel();
    bool pending() const { return pending_; }

private:
    boost::asio::steady_timer timer_;
    std::function<void()> handler_;
    bool pending_ = false;
    std::shared_ptr<int> generation_ = std::make_shared<int>(0);
};

}  // namespace iplib
