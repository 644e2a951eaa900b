// The injectable clock: every piece of logic asks a Clock for "now", so tests can drive
// midnight, day changes and clock jumps with a ManualClock instead of waiting.
#pragma once

#include <cstdint>
#include <string>

namespace iplib {

// A local calendar date and time of day, to the millisecond.
struct DateTime {
    int year = 2000;
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;

    // Seconds since midnight, with the milliseconds as fraction.
    double secondsOfDay() const;
    // Whole days since 1970-01-01 of the date part.
    int64_t daysSinceEpoch() const;
    // Milliseconds since 1970-01-01 00:00:00 of this local time (no time zone involved).
    int64_t epochMilliseconds() const;
    static DateTime fromEpochMilliseconds(int64_t ms);

    DateTime plusMilliseconds(int64_t ms) const;
    DateTime plusSeconds(int64_t s) const { return plusMilliseconds(s * 1000); }
    DateTime plusMinutes(int64_t m) const { return plusMilliseconds(m * 60000); }
    DateTime plusHours(int64_t h) const { return plusMilliseconds(h * 3600000); }
    DateTime plusDays(int64_t d) const { return plusMilliseconds(d * 86400000); }

    int dayOfWeek() const;  // 1 Sunday .. 7 Saturday

    // Text forms used throughout the library's files and frames.
    std::string hhmmss() const;        // "14:05:09"
    std::string hhmmssCompact() const; // "140509"
    std::string ddmmyyyy() const;      // "09-12-2026" (file names, messages)
    std::string mmddyyyy() const;      // "12-09-2026" (state texts)
    std::string mmddyy() const;        // "120926" (frames)

    friend bool operator==(const DateTime&, const DateTime&) = default;
};

class Clock {
public:
    virtual ~Clock() = default;
    virtual DateTime now() const = 0;
};

// The computer's local time.
class SystemClock final : public Clock {
public:
    DateTime now() const override;
};

// A clock that only moves when told to.
class ManualClock final : public Clock {
public:
    explicit ManualClock(DateTime start = {2026, 12, 9, 10, 0, 0, 0}) : now_(start) {}
    DateTime now() const override { return now_; }
    void set(DateTime t) { now_ = t; }
    void advanceMilliseconds(int64_t ms) { now_ = now_.plusMilliseconds(ms); }
    void advanceSeconds(int64_t s) { advanceMilliseconds(s * 1000); }

private:
    DateTime now_;
};

}  // namespace iplib
