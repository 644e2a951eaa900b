// Keeping the terminals' clocks right, each shifted by its time zone (field 5 of its
// line, "hh:mm" with an optional "-", which makes the minutes negative too). Clock
// commands are queued like any other, but the time or date they carry is written when
// the frame leaves the transmit list, so a command that waited still sets the right time.
// Every terminal is synchronised at the first second ending in 5 after start-up, at each
// change of day, every 1800 seconds, and shortly after the computer's clock jumps.
#pragma once

#include "core/logs.h"
#include "core/terminal_registry.h"
#include "exchange/dispatcher.h"
#include "platform/clock.h"

#include <functional>
#include <string>

namespace iplib {

struct TimeZone {
    int hours = 0;
    int minutes = 0;
    bool zero() const { return hours == 0 && minutes == 0; }
};
TimeZone parseTimeZone(const std::string& field);

class ClockSync {
public:
    ClockSync(TerminalRegistry& registry, Logs& logs, Dispatcher& dispatcher);

    // Switches "BoardConfig ENABLE" off (the UDP port is taken back).
    void setBoardConfigOff(std::function<void()> f) { boardConfigOff_ = std::move(f); }

    // INIT_DAT_HEU: "*" for every terminal, otherwise the text of a slot index.
    void queueClockCommands(const std::string& target, const DateTime& now);
    void queueClockCommandsForSlot(int slot, const DateTime& now) { queueClockCommands(std::to_string(slot), now); }

    // The bytes that really go out for an entry of the transmit list.
    std::string refreshAtSend(int slot, std::string bytes, const DateTime& now);

    // The clock reference of the jump check (start-up).
    void setReference(const DateTime& now) { reference_ = now; }
    // Once a second from the main cycle.
    void everySecond(const DateTime& now, int& secondsCounter);
    // The resynchronisation timer's tick (every second while it runs).
    void resyncTick(const DateTime& now, int& secondsCounter);
    bool resyncRunning() const { return resyncRunning_; }

private:
    void fullSync(const DateTime& now, int& secondsCounter);

    TerminalRegistry& registry_;
    Logs& logs_;
    Dispatcher& dispatcher_;
    std::function<void()> boardConfigOff_;
    DateTime reference_;
    std::string recordedDay_;
    bool resyncRunning_ = false;
};

}  // namespace iplib
