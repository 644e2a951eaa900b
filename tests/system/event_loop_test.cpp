#include "platform/event_loop.h"

#include "system/test_support.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace std::chrono_literals;
using iplib::EventLoop;
using iplib::OneShotTimer;
using iplib::PeriodicTimer;
using iplib::test::runUntil;

TEST(EventLoop, RunsWhileIdleUntilStoppedAndCanRunAgain) {
    EventLoop loop;
    std::vector<int> order;
    OneShotTimer later(loop);
    // Nothing is pending for a while: run() must keep going until the timer stops it.
    later.start(50ms, [&] {
        order.push_back(3);
        loop.stop();
    });
    loop.post([&] {
        order.push_back(1);
        loop.post([&] { order.push_back(2); });
    });
    loop.run();
    EXPECT_EQ(order, (std::vector<int>{1, 2, 3}));

    loop.post([&] { loop.stop(); });
    loop.run();  // returns again after the second stop
}

TEST(PeriodicTimer, RunsRepeatedlyAndStopsFromInsideItsHandler) {
    EventLoop loop;
    PeriodicTimer timer(loop);
    int calls = 0;
    timer.start(2ms, [&] {
        if (++calls == 5) timer.stop();
    });
    EXPECT_TRUE(timer.running());
    bool settled = false;
    OneShotTimer after(loop);
    ASSERT_TRUE(runUntil(loop, [&] { return calls >= 5; }));
    after.start(30ms, [&] { settled = true; });
    ASSERT_TRUE(runUntil(loop, [&] { return settled; }));
    EXPECT_EQ(calls, 5);
    EXPECT_FALSE(timer.running());
}

TEST(PeriodicTimer, MayBeDestroyedOrRestartedFromInsideItsHandler) {
    EventLoop loop;
    auto timer = std::make_unique<PeriodicTimer>(loop);
    int calls = 0;
    timer->start(1ms, [&] {
        ++calls;
        timer.reset();
    });
    ASSERT_TRUE(runUntil(loop, [&] { return timer == nullptr; }));

    PeriodicTimer restarted(loop);
    std::vector<char> seen;
    restarted.start(1ms, [&] {
        seen.push_back('a');
        restarted.start(1ms, [&] {
            seen.push_back('b');
            if (seen.size() == 3) restarted.stop();
        });
    });
    bool settled = false;
    ASSERT_TRUE(runUntil(loop, [&] { return !restarted.running(); }));
    OneShotTimer after(loop);
    after.start(20ms, [&] { settled = true; });
    ASSERT_TRUE(runUntil(loop, [&] { return settled; }));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, (std::vector<char>{'a', 'b', 'b'}));
}

TEST(PeriodicTimer, ZeroPeriodLetsOtherHandlersRun) {
    EventLoop loop;
    PeriodicTimer spinning(loop);
    int spins = 0;
    spinning.start(0ms, [&] { ++spins; });
    int posted = 0;
    OneShotTimer timed(loop);
    bool timedFired = false;
    timed.start(5ms, [&] { timedFired = true; });
    for (int i = 0; i < 3; ++i) loop.post([&] { ++posted; });
    ASSERT_TRUE(runUntil(loop, [&] { return posted == 3 && timedFired && spins > 3; }));
    spinning.stop();
}

TEST(PeriodicTimer, PeriodChangeTakesEffectWithoutWaitingForTheOldOne) {
    EventLoop loop;
    PeriodicTimer timer(loop);
    int calls = 0;
    timer.start(std::chrono::hours(1), [&] { ++calls; });
    timer.setPeriod(1ms);
    EXPECT_EQ(timer.period(), 1ms);
    ASSERT_TRUE(runUntil(loop, [&] { return calls >= 3; }));
    timer.setPeriod(std::chrono::hours(1));
    const int before = calls;
    bool settled = false;
    OneShotTimer after(loop);
    after.start(30ms, [&] { settled = true; });
    ASSERT_TRUE(runUntil(loop, [&] { return settled; }));
    EXPECT_EQ(calls, before);
}

TEST(OneShotTimer, FiresOnceAndRestartReplacesThePendingWait) {
    EventLoop loop;
    OneShotTimer timer(loop);
    std::vector<char> fired;
    timer.start(std::chrono::hours(1), [&] { fired.push_back('x'); });
    timer.start(1ms, [&] { fired.push_back('a'); });
    EXPECT_TRUE(timer.pending());
    ASSERT_TRUE(runUntil(loop, [&] { return !timer.pending(); }));
    // Restarted from inside its own handler.
    timer.start(1ms, [&] {
        fired.push_back('b');
        timer.start(1ms, [&] { fired.push_back('c'); });
    });
    ASSERT_TRUE(runUntil(loop, [&] { return fired.size() == 3 && !timer.pending(); }));
    bool settled = false;
    OneShotTimer after(loop);
    after.start(20ms, [&] { settled = true; });
    ASSERT_TRUE(runUntil(loop, [&] { return settled; }));
    EXPECT_EQ(fired, (std::vector<char>{'a', 'b', 'c'}));
}

TEST(OneShotTimer, CancelledOrDestroyedTimerNeverFires) {
    EventLoop loop;
    bool fired = false;
    OneShotTimer cancelled(loop);
    cancelled.start(1ms, [&] { fired = true; });
    cancelled.cancel();
    EXPECT_FALSE(cancelled.pending());
    {
        OneShotTimer destroyed(loop);
        destroyed.start(1ms, [&] { fired = true; });
    }
    auto selfDestroying = std::make_unique<OneShotTimer>(loop);
    selfDestroying->start(1ms, [&] { selfDestroying.reset(); });
    bool settled = false;
    OneShotTimer after(loop);
    after.start(30ms, [&] { settled = true; });
    ASSERT_TRUE(runUntil(loop, [&] { return settled; }));
    EXPECT_FALSE(fired);
    EXPECT_EQ(selfDestroying, nullptr);
}
