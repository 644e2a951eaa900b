// The 1 ms main cycle, one function of "now" with its sub-schedules, in this order:
//   1. the bells check;
//   2. up to 20 entries of the transmit list sent (clock commands refreshed at send time;
//      entries of a slot held by an abort wait, in order);
//   3. the tenth-second step: every slot's transmit countdown minus one;
//   4. once a second: seconds counter, hold countdowns, the window markers, the clock
//      checks, the automatic test, the operator's go-to search;
//   5. the transmit cycles of the slots whose countdown has run out, the priority slot
//      first when one is set.
#pragma once

#include "core/logs.h"
#include "core/operator.h"
#include "core/settings.h"
#include "core/terminal_registry.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "terminal_link/clock_sync.h"
#include "terminal_link/receive_path.h"
#include "terminal_link/transmit_cycle.h"
#include "terminal_link/transmit_list.h"

#include <functional>
#include <string>

namespace iplib {

class MainCycle {
public:
    static constexpr int SendsPerTick = 20;
    static constexpr int NoPriority = 9999;

    struct Hooks {
        std::function<void(const DateTime& now)> bells;
        std::function<void(int slot)> releaseCallIn;
        // Work of other subsystems that runs every tick (spool, status retries).
        std::function<void(const DateTime& now)> everyTick;
        std::function<void(const DateTime& now)> everySecond;
    };

    MainCycle(TerminalRegistry& registry, Logs& logs, Operator& op, FileSystem& files, TransmitList& transmitList,
              TransmitCycle& transmit, ReceivePath& receive, ClockSync& clockSync, const GeneralSettings& settings);

    void setHooks(Hooks hooks) { hooks_ = std::move(hooks); }
    void setConfigFolder(std::string folder) { configFolder_ = std::move(folder); }

    // The tenth-second reference (start-up).
    void startReference(const DateTime& now);
    void tick(const DateTime& now);

    int& prioritySlot() { return prioritySlot_; }
    int secondsCounter() const { return secondsCounter_; }

    // The operator's go-to search: the text typed so far, resolved once a second.
    void setSearchText(const std::string& textTyped) { searchText_ = textTyped; }
    // The go-to button: both copies set, then a tick at once.
    void goTo(const std::string& textTyped, const DateTime& now);
    // The slot the operator's view shows.
    int viewedSlot() const { return viewedSlot_; }
    // Resolves a search text to a slot, or NO_SLOT (addresses by their last parts).
    int findSlot(const std::string& searchText) const;

private:
    void sendTransmitList(const DateTime& now);
    void onceASecond(const DateTime& now);
    void goToSearch();

    TerminalRegistry& registry_;
    Logs& logs_;
    Operator& operator_;
    FileSystem& files_;
    TransmitList& transmitList_;
    TransmitCycle& transmit_;
    ReceivePath& receive_;
    ClockSync& clockSync_;
    const GeneralSettings& settings_;
    Hooks hooks_;
    std::string configFolder_;
    double tenthReference_ = 0;
    std::string lastSecond_;
    int secondsCounter_ = 0;
    int prioritySlot_ = NoPriority;
    std::string searchText_;
    std::string pendingSearch_;
    int viewedSlot_ = 0;
};

}  // namespace iplib
