// Terminal clocks: the time and date written at send time, shifted by the terminal's
// zone, and the once-a-second checks that resynchronise every terminal.
#include "support/library_fixture.h"
#include "terminal_link/clock_sync.h"

#include <gtest/gtest.h>

using namespace iplib;
using iplib::testing::LibraryFixture;

namespace {

std::string framed(const std::string& body) {
    std::string f = "\x02" + body;
    return f + frames::checksum(f) + "\x03";
}

TEST(TimeZone, HoursMinutesAndSign) {
    struct Case { const char* field; int hours; int minutes; };
    const Case cases[] = {{"0", 0, 0}, {"02:00", 2, 0}, {"-05:00", -5, 0}, {"01:30", 1, 30},
                          {"-01:30", -1, -30}, {"3", 3, 0}, {"", 0, 0}, {"-00:30", 0, -30}};
    for (const auto& c : cases) {
        const TimeZone z = parseTimeZone(c.field);
        EXPECT_EQ(z.hours, c.hours) << c.field;
        EXPECT_EQ(z.minutes, c.minutes) << c.field;
    }
}

class ClockSyncTest : public ::testing::Test {
protected:
    std::string refresh(const std::string& zone, const DateTime& at, const std::string& bytes) {
        f.startWith({"0001,127.0.0.5,1024,=X," + zone + ",Ethernet"});
        return f.library->clockSync().refreshAtSend(0, bytes, at);
    }
    LibraryFixture f;
};

TEST_F(ClockSyncTest, ZoneZeroWritesThePresentTimeWhateverThePlaceholder) {
    const std::string queued = frames::commandFrame("\xB1" "999999", 1);
    EXPECT_EQ(refresh("0", {2026, 12, 9, 14, 5, 9, 0}, queued), framed("\xB1" "140509"));
}

TEST_F(ClockSyncTest, ANegativeZoneShiftsTimeAndDateBackOverMidnight) {
    const DateTime at{2024, 3, 10, 2, 0, 0, 0};
    EXPECT_EQ(refresh("-05:00", at, frames::commandFrame("\xB1" "000000", 1)), framed("\xB1" "210000"));
    EXPECT_EQ(f.library->clockSync().refreshAtSend(0, frames::commandFrame("\xBD" "031024", 1), at),
              framed("\xBD" "030924"));
}

TEST_F(ClockSyncTest, HalfHourZonesAddOrSubtractNinetyMinutes) {
    const DateTime at{2026, 12, 9, 12, 0, 0, 0};
    EXPECT_EQ(refresh("01:30", at, frames::commandFrame("\xB1" "000000", 1)), framed("\xB1" "133000"));
    f.library->registry().replaceTerminal(0, "0001,127.0.0.5,1024,=X,-01:30,Ethernet");
    EXPECT_EQ(f.library->clockSync().refreshAtSend(0, frames::commandFrame("\xB1" "000000", 1), at),
              framed("\xB1" "103000"));
}

TEST_F(ClockSyncTest, NineSecondsTextIsKeptOnlyForZoneZero) {
    const DateTime at{2026, 12, 9, 12, 0, 0, 0};
    const std::string queued = frames::commandFrame("\xB1" "9SEC00", 1);
    EXPECT_EQ(refresh("0", at, queued), queued);
    f.library->registry().replaceTerminal(0, "0001,127.0.0.5,1024,=X,02:00,Ethernet");
    EXPECT_EQ(f.library->clockSync().refreshAtSend(0, queued, at), framed("\xB1" "140000"));
}

TEST_F(ClockSyncTest, OtherBytesGoOutUnchanged) {
    const DateTime at{2026, 12, 9, 12, 0, 0, 0};
    EXPECT_EQ(refresh("02:00", at, frames::Poll), frames::Poll);
    EXPECT_EQ(f.library->clockSync().refreshAtSend(0, frames::commandFrame("HELLO", 1), at),
              frames::commandFrame("HELLO", 1));
}

// The schedule tests hold slot 0's transmit cycle so that the queued "*" entries stay
// where they can be counted.
void holdSlotZero(LibraryFixture& f) { f.library->registry().state(0).holdSeconds = 1e9; }

TEST(ClockSyncSchedule, FirstSecondEndingInFiveThenEveryDayAtFiveSecondsPastMidnight) {
    LibraryFixture f({2026, 12, 9, 23, 59, 50, 0});
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    holdSlotZero(f);
    auto& queue = f.library->registry().state(0).commandQueue;
    f.run(5 * 1000);  // 23:59:55: first full synchronisation after start-up
    EXPECT_EQ(queue.size(), 2u);  // time and date, "*" entries waiting on slot 0
    queue.clear();
    f.run(9 * 1000);  // 00:00:04
    EXPECT_EQ(queue.size(), 0u);
    f.run(1000);      // 00:00:05 of the new day
    EXPECT_EQ(queue.size(), 2u);
    EXPECT_EQ(text::getField(queue[0], "\xFA", 1), "*");
}

TEST(ClockSyncSchedule, AClockJumpIsLoggedAndResynchronisesWithinTenSeconds) {
    LibraryFixture f({2026, 12, 9, 10, 0, 0, 0});
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    f.library->logs().setAll(true);
    holdSlotZero(f);
    auto& queue = f.library->registry().state(0).commandQueue;
    f.run(6000);  // past 10:00:05, the start-up synchronisation
    queue.clear();
    f.clock.advanceSeconds(20);
    f.tick();
    const auto log = f.files.readAll(f.library->logs().activityPath(), 1 << 20).value_or("");
    EXPECT_NE(log.find("TIME PC ADJ DIF: 20 seconds"), std::string::npos);
    int waited = 0;
    while (queue.empty() && waited < 11000) {
        f.tick();
        ++waited;
    }
    EXPECT_FALSE(queue.empty());
    EXPECT_LE(waited, 10000);
}

TEST(ClockSyncSchedule, EveryThirtyMinutesAFullSynchronisation) {
    LibraryFixture f({2026, 12, 9, 10, 0, 0, 0});
    f.startWith({"0001,127.0.0.5,1024,=X,0,Ethernet"});
    holdSlotZero(f);
    auto& queue = f.library->registry().state(0).commandQueue;
    f.run(6000);
    queue.clear();
    int syncs = 0;
    for (int s = 0; s < 3700; ++s) {
        f.tick(1000);
        if (!queue.empty()) {
            ++syncs;
            queue.clear();
        }
    }
    EXPECT_EQ(syncs, 2);
}

}  // namespace
