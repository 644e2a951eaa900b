#include "platform/pause.h"

#include <boost/asio/steady_timer.hpp>
#include <boost/asio/this_coro.hpp>
#include <boost/asio/use_awaitable.hpp>

#include <algorithm>
#include <chrono>

namespace iplib {

boost::asio::awaitable<void> pauseFor(const Clock& clock, double seconds) {
    const double start = clock.now().secondsOfDay();
    boost::asio::steady_timer timer(co_await boost::asio::this_coro::executor);
    for (;;) {
        const double now = clock.now().secondsOfDay();
        const double elapsed = now - start;
        if (elapsed >= seconds || now < start) co_return;
        // Short steps, so that a clock moved by hand (or midnight) is noticed promptly.
        const double step = std::min(seconds - elapsed, 0.01);
        timer.expires_after(std::chrono::microseconds(static_cast<long long>(step * 1e6) + 1));
        co_await timer.async_wait(boost::asio::use_awaitable);
    }
}

}  // namespace iplib
