#include "terminal_link/clock_sync.h"

#include "core/text.h"
#include "terminal_link/frames.h"

#include <cstdio>

namespace iplib {

TimeZone parseTimeZone(const std::string& field) {
    TimeZone z;
    const std::size_t colon = field.find(':');
    const std::string hoursText = colon == std::string::npos ? field : field.substr(0, colon);
    z.hours = static_cast<int>(text::numericValue(hoursText));
    if (colon != std::string::npos) z.minutes = static_cast<int>(text::numericValue(field.substr(colon + 1)));
    if (text::contains(hoursText, "-") && z.minutes > 0) z.minutes = -z.minutes;
    return z;
}

ClockSync::ClockSync(TerminalRegistry& registry, Logs& logs, Dispatcher& dispatcher)
    : registry_(registry), logs_(logs), dispatcher_(dispatcher) {}

void ClockSync::queueClockCommands(const std::string& target, const DateTime& now) {
    std::string prefix = "*";
    if (target != "*") {
        const int slot = static_cast<int>(text::numericValue(target));
        prefix = std::to_string(text::numericValue(registry_.field(slot, 1)));
    }
    dispatcher_.dispatch(prefix + "," + frames::SetTime + now.hhmmssCompact());
    dispatcher_.dispatch(prefix + "," + frames::SetDate + now.mmddyy());
}

std::string ClockSync::refreshAtSend(int slot, std::string s, const DateTime& now) {
    const std::size_t t = s.find(frames::SetTime);
    const std::size_t d = s.find(frames::SetDate);
    if (t == std::string::npos && d == std::string::npos) return s;
    const TimeZone zone = parseTimeZone(registry_.field(slot, 5));
    const DateTime adjusted = now.plusMinutes(zone.minutes).plusHours(zone.hours);
    const std::string number = registry_.field(slot, 1);
    auto finish = [](std::string& frame) {
        frame += frames::checksum(frame);
        frame += frames::ETX;
    };
    if (t != std::string::npos) {
        if (!zone.zero()) {
            s = s.substr(0, t + 1) + adjusted.hhmmssCompact();
            finish(s);
            logs_.activity("TIME ZONE ADJ:" + number + "," + registry_.field(slot, 5));
            logs_.activity("TIME ZONE ADJ::" + number + "," + s);
        } else if (s.compare(t + 1, 4, "9SEC") != 0) {
            s = std::string(1, frames::STX) + frames::SetTime + now.hhmmssCompact();
            finish(s);
            logs_.activity("TIME ADJ:" + number + "," + s);
        }
    }
    if (d != std::string::npos) {
        if (!zone.zero()) {
            s = s.substr(0, d + 1) + adjusted.mmddyy();
        } else {
            s = std::string(1, frames::STX) + frames::SetDate + now.mmddyy();
        }
        finish(s);
    }
    return s;
}

void ClockSync::fullSync(const DateTime& now, int& secondsCounter) {
    queueClockCommands("*", now);
    secondsCounter = 0;
    if (boardConfigOff_) boardConfigOff_();
}

void ClockSync::everySecond(const DateTime& now, int& secondsCounter) {
    const std::int64_t span = (now.epochMilliseconds() / 1000) - (reference_.epochMilliseconds() / 1000);
    if (span > 15 || span < -15) {
        std::string shown(span >= 0 ? " " : "");
        shown += std::to_string(span);
        logs_.activity("TIME PC ADJ DIF:" + shown + " seconds");
        resyncRunning_ = true;
    }
    reference_ = now;
    if (now.second % 10 != 5) return;
    char dd[4];
    std::snprintf(dd, sizeof dd, "%02d", now.day);
    if (recordedDay_ != dd) {
        fullSync(now, secondsCounter);
        recordedDay_ = dd;
    }
    if (secondsCounter > 1799) fullSync(now, secondsCounter);
}

void ClockSync::resyncTick(const DateTime& now, int& secondsCounter) {
    if (!resyncRunning_ || now.second % 10 != 5) return;
    char dd[4];
    std::snprintf(dd, sizeof dd, "%02d", now.day);
    fullSync(now, secondsCounter);
    recordedDay_ = dd;
    resyncRunning_ = false;
}

}  // namespace iplib
