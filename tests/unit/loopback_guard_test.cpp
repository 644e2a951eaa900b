#include "platform/loopback_guard.h"

#include <gtest/gtest.h>

#include <cstdlib>

using iplib::LoopbackGuard;

TEST(LoopbackGuard, OnAllowsOnlyDottedLoopbackAddresses) {
    struct Case { const char* address; bool allowedWhenOn; };
    const Case cases[] = {
        {"127.0.0.1", true},        {"127.0.0.42", true},      {"127.255.255.255", true},
        {"127.1.2.3", true},        {"10.1.2.3", false},       {"192.168.0.10", false},
        {"255.255.255.255", false}, {"0.0.0.0", false},        {"128.0.0.1", false},
        {"126.255.255.255", false}, {"localhost", false},      {"", false},
        {"127.0.0", false},         {"127.0.0.1.5", false},    {" 127.0.0.1", false},
        {"127.0.0.256", false},
    };
    const LoopbackGuard on(true), off(false);
    for (const auto& c : cases) {
        EXPECT_EQ(on.allows(c.address), c.allowedWhenOn) << c.address;
        EXPECT_TRUE(off.allows(c.address)) << c.address;
    }
}

TEST(LoopbackGuard, BroadcastMovesToLoopbackBroadcastOnlyWhenOn) {
    const LoopbackGuard on(true), off(false);
    EXPECT_EQ(on.destinationFor("255.255.255.255"), "127.255.255.255");
    EXPECT_TRUE(on.allows(on.destinationFor("255.255.255.255")));
    EXPECT_EQ(on.destinationFor("127.0.0.5"), "127.0.0.5");
    EXPECT_EQ(on.destinationFor("10.0.0.255"), "10.0.0.255");  // not moved; allows() refuses it
    EXPECT_EQ(off.destinationFor("255.255.255.255"), "255.255.255.255");
}

TEST(LoopbackGuard, EnvironmentTurnsItOnForAnyValueButEmptyOrZero) {
    struct Case { const char* value; bool on; };
    const Case cases[] = {{nullptr, false}, {"", false}, {"0", false}, {"1", true}, {"yes", true}};
    for (const auto& c : cases) {
        if (c.value) ::setenv("IPLIB_LOOPBACK_ONLY", c.value, 1);
        else ::unsetenv("IPLIB_LOOPBACK_ONLY");
        EXPECT_EQ(LoopbackGuard::fromEnvironment().on(), c.on) << (c.value ? c.value : "(unset)");
    }
    ::setenv("IPLIB_LOOPBACK_ONLY", "1", 1);
}
