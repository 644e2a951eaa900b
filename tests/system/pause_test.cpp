#include "platform/event_loop.h"
#include "platform/pause.h"

#include <boost/asio/co_spawn.hpp>
#include <boost/asio/detached.hpp>
#include <gtest/gtest.h>

using namespace iplib;

namespace {

// Runs pauseFor on a loop, posting another event while it waits.
struct PauseRun {
    bool otherEventRan = false;
    bool otherRanBeforeReturn = false;
    bool returned = false;

    void run(const Clock& clock, double seconds, std::function<void()> duringPause = {}) {
        EventLoop loop;
        boost::asio::co_spawn(
            loop.context(),
            [&]() -> boost::asio::awaitable<void> {
                co_await pauseFor(clock, seconds);
                returned = true;
                otherRanBeforeReturn = otherEventRan;
                loop.stop();
            },
            boost::asio::detached);
        loop.post([&] {
            otherEventRan = true;
            if (duringPause) duringPause();
        });
        loop.run();
    }
};

TEST(Pause, ZeroReturnsAtOnceAndAWaitLetsOtherEventsRun) {
    SystemClock clock;
    PauseRun zero;
    zero.run(clock, 0);
    EXPECT_TRUE(zero.returned);
    EXPECT_FALSE(zero.otherRanBeforeReturn);

    PauseRun wait;
    wait.run(clock, 0.05);
    EXPECT_TRUE(wait.returned);
    EXPECT_TRUE(wait.otherRanBeforeReturn);
}

TEST(Pause, EndsEarlyWhenTheClockPassesMidnight) {
    ManualClock clock({2026, 12, 9, 23, 59, 59, 900});
    PauseRun run;
    // An hour-long pause: midnight during the wait ends it.
    run.run(clock, 3600, [&] { clock.set({2026, 12, 10, 0, 0, 0, 100}); });
    EXPECT_TRUE(run.returned);
}

}  // namespace
