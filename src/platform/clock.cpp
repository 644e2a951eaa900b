#include "platform/clock.h"

#include <chrono>
#include <cstdio>
#include <ctime>

namespace iplib {
namespace {

// Days from civil date (proleptic Gregorian), after H. Hinnant's public algorithm.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void civilFromDays(int64_t z, int& y, int& m, int& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t yy = static_cast<int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

std::string two(int v) {
    char b[8];
    std::snprintf(b, sizeof b, "%02d", v % 100 < 0 ? 0 : v % 100);
    return b;
}

}  // namespace

double DateTime::secondsOfDay() const {
    return hour * 3600.0 + minute * 60.0 + second + millisecond / 1000.0;
}

int64_t DateTime::daysSinceEpoch() const {
    return daysFromCivil(year, static_cast<unsigned>(month), static_cast<unsigned>(day));
}

int64_t DateTime::epochMilliseconds() const {
    return daysSinceEpoch() * 86400000 + ((hour * 60 + minute) * 60 + second) * int64_t{1000} + millisecond;
}

DateTime DateTime::fromEpochMilliseconds(int64_t ms) {
    int64_t days = ms >= 0 ? ms / 86400000 : -((-ms + 86399999) / 86400000);
    int64_t rest = ms - days * 86400000;
    DateTime t;
    civilFromDays(days, t.year, t.month, t.day);
    t.hour = static_cast<int>(rest / 3600000);
    t.minute = static_cast<int>(rest / 60000 % 60);
    t.second = static_cast<int>(rest / 1000 % 60);
    t.millisecond = static_cast<int>(rest % 1000);
    return t;
}

DateTime DateTime::plusMilliseconds(int64_t ms) const {
    return fromEpochMilliseconds(epochMilliseconds() + ms);
}

int DateTime::dayOfWeek() const {
    // 1970-01-01 was a Thursday (5 when Sunday is 1).
    int64_t d = daysSinceEpoch();
    int w = static_cast<int>(((d % 7) + 7 + 4) % 7);  // 0 Sunday
    return w + 1;
}

std::string DateTime::hhmmss() const { return two(hour) + ":" + two(minute) + ":" + two(second); }
std::string DateTime::hhmmssCompact() const { return two(hour) + two(minute) + two(second); }
std::string DateTime::ddmmyyyy() const { return two(day) + "-" + two(month) + "-" + std::to_string(year); }
std::string DateTime::mmddyyyy() const { return two(month) + "-" + two(day) + "-" + std::to_string(year); }
std::string DateTime::mmddyy() const { return two(month) + two(day) + two(year % 100); }

DateTime SystemClock::now() const {
    using namespace std::chrono;
    const auto tp = system_clock::now();
    const std::time_t secs = system_clock::to_time_t(tp);
    std::tm local{};
    localtime_r(&secs, &local);
    DateTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    t.second = local.tm_sec;
    t.millisecond = static_cast<int>(duration_cast<milliseconds>(tp.time_since_epoch()).count() % 1000);
    return t;
}

}  // namespace iplib
