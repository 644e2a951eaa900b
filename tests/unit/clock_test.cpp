#include "platform/clock.h"

#include <gtest/gtest.h>

using iplib::DateTime;

TEST(DateTime, ArithmeticCrossesMonthYearAndLeapDays) {
    struct Case { DateTime from; int64_t minutes; DateTime to; };
    const Case cases[] = {
        {{2024, 3, 10, 2, 0, 0, 0}, -300, {2024, 3, 9, 21, 0, 0, 0}},
        {{2026, 12, 31, 23, 30, 0, 0}, 90, {2027, 1, 1, 1, 0, 0, 0}},
        {{2024, 2, 28, 23, 0, 0, 0}, 60, {2024, 2, 29, 0, 0, 0, 0}},
        {{2023, 2, 28, 23, 0, 0, 0}, 60, {2023, 3, 1, 0, 0, 0, 0}},
        {{2026, 1, 1, 0, 0, 0, 0}, -1, {2025, 12, 31, 23, 59, 0, 0}},
    };
    for (const auto& c : cases) EXPECT_EQ(c.from.plusMinutes(c.minutes), c.to);
}

TEST(DateTime, TextForms) {
    DateTime t{2026, 12, 9, 15, 20, 33, 250};
    EXPECT_EQ(t.hhmmss(), "15:20:33");
    EXPECT_EQ(t.hhmmssCompact(), "152033");
    EXPECT_EQ(t.ddmmyyyy(), "09-12-2026");
    EXPECT_EQ(t.mmddyyyy(), "12-09-2026");
    EXPECT_EQ(t.mmddyy(), "120926");
    EXPECT_DOUBLE_EQ(t.secondsOfDay(), 15 * 3600 + 20 * 60 + 33.25);
    EXPECT_EQ(t.dayOfWeek(), 4);  // a Wednesday
}
